// MoveFileA and MoveFileExA on the simulated drives, as Windows 98 has them.
//
// MoveFileA renames a file or folder, to another folder of the same drive
// too; it refuses a target that exists (ERROR_ALREADY_EXISTS) and a file
// that another program holds, as a loaded module or open, or that the
// program's own streams hold (ERROR_ACCESS_DENIED). The machine's attribute
// marks go with the file.
//
// Windows 9x has no deletion or move at the next start through MoveFileExA
// (that is WININIT.INI's job): its MoveFileExA fails with
// ERROR_CALL_NOT_IMPLEMENTED whatever it is asked, and so does this one.
#include <cstdio>

#include "core/core.h"
#include "drives/drives.h"

namespace {

long MoveOne(const char *from, const char *to)
{
    SimPath source, target;
    long error = SimResolve(from, &source);
    if (error == ERROR_SUCCESS && !source.exists)
        error = ERROR_FILE_NOT_FOUND;
    if (error == ERROR_SUCCESS)
        error = SimResolve(to, &target);
    if (error != ERROR_SUCCESS)
        return error;
    if (target.exists)
        return ERROR_ALREADY_EXISTS;
    if (source.isRoot || target.host.compare(0, source.host.size() + 1, source.host + "/") == 0)
        return ERROR_ACCESS_DENIED;
    if (SimIsBusy(source) || SimIoIsOpen(source.host))
        return ERROR_ACCESS_DENIED;  // Windows 9x and Me: a file open and mapped (Wine's file.c)
    if (std::rename(source.host.c_str(), target.host.c_str()) != 0)
        return ERROR_ACCESS_DENIED;
    SimForgetListings();
    std::map<std::string, std::string> &attributes = SimMachine().attributes;
    auto marks = attributes.find(source.key);
    if (marks != attributes.end()) {
        attributes[target.key] = marks->second;
        attributes.erase(source.key);
    }
    return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName)
{
    long error;
    if (!SimFault("MoveFileA", &error))
        error = MoveOne(lpExistingFileName, lpNewFileName);
    return SimBooleanResult("MoveFileA", {SimArgText(lpExistingFileName), SimArgText(lpNewFileName)},
                            error);
}

BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName, DWORD dwFlags)
{
    long error;
    if (!SimFault("MoveFileExA", &error))
        error = ERROR_CALL_NOT_IMPLEMENTED;
    return SimBooleanResult("MoveFileExA", {SimArgText(lpExistingFileName), SimArgText(lpNewFileName),
                                            SimNumberText(dwFlags)},
                            error);
}

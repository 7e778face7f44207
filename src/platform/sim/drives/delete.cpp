// Deleting files and folders on the simulated drives.
//
// Windows 95 and 98 delete a file that another program holds open for its
// reads and writes; they refuse a module that a running program has
// loaded, a file that the program's own streams hold, a read-only file and
// a folder that is not empty, and report each of these, and a directory
// passed to DeleteFileA, as ERROR_ACCESS_DENIED, as DOS did. A folder is
// also kept while it is the current directory.
#include <unistd.h>

#include "core/core.h"
#include "drives/drives.h"

namespace {

// Resolves name to something that exists on the drives.
long ResolveExisting(const char *name, SimPath *path)
{
    long error = SimResolve(name, path);
    if (error != ERROR_SUCCESS)
        return error;
    return path->exists ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
}

long DeleteOneFile(const char *name)
{
    SimPath path;
    long error = ResolveExisting(name, &path);
    if (error != ERROR_SUCCESS)
        return error;
    if (path.isDir)
        return ERROR_ACCESS_DENIED;
    // Windows 9x answers a file in use with "access denied", as NT does a
    // read-only one; NT says "sharing violation".
    if (SimIsLoadedModule(path) || SimIoIsOpen(path.host))
        return ERROR_ACCESS_DENIED;
    if (SimIsReadOnly(path) || unlink(path.host.c_str()) != 0)
        return ERROR_ACCESS_DENIED;
    SimFolderChanged(path.host);
    // A file open elsewhere goes all the same: its holder's handle no
    // longer names anything on the drive.
    SimMachine().busy.erase(path.key);
    return ERROR_SUCCESS;
}

long RemoveOneDirectory(const char *name)
{
    SimPath path;
    long error = ResolveExisting(name, &path);
    if (error != ERROR_SUCCESS)
        return error;
    if (!path.isDir || path.isRoot || SimIsReadOnly(path) || SimIsBusy(path))
        return ERROR_ACCESS_DENIED;
    SimPath current;
    if (SimResolve(SimMachine().currentDir.c_str(), &current) == ERROR_SUCCESS &&
        current.key == path.key)
        return ERROR_ACCESS_DENIED;
    if (rmdir(path.host.c_str()) != 0)
        return ERROR_ACCESS_DENIED;  // not empty, on the host's word
    SimFolderChanged(path.host);
    return ERROR_SUCCESS;
}

}  // namespace

BOOL WINAPI DeleteFileA(LPCSTR lpFileName)
{
    long error;
    if (!SimFault("DeleteFileA", &error))
        error = DeleteOneFile(lpFileName);
    return SimBooleanResult("DeleteFileA", {SimArgText(lpFileName)}, error);
}

BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName)
{
    long error;
    if (!SimFault("RemoveDirectoryA", &error))
        error = RemoveOneDirectory(lpPathName);
    return SimBooleanResult("RemoveDirectoryA", {SimArgText(lpPathName)}, error);
}

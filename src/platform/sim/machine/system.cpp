// The version query and the two directory queries of the simulated
// machine, from machine.ini.
//
// The directory queries behave as the real ones: the length copied (no NUL)
// when the path fits the buffer, else the size needed with its NUL and the
// buffer untouched. GetVersionExA takes only the 148-byte record, as
// Windows 98 does (it has no OSVERSIONINFOEX), and names the Windows 95
// family 4.0 and everything later 4.10; dwBuildNumber is machine.ini's
// Build whole, high word included.
#include <cstring>

#include "core/core.h"

namespace {

// Windows 95 builds end at 4.03.1216; later builds are Windows 98.
const DWORD LAST_WINDOWS_95_BUILD = 1216;
const DWORD WINDOWS_98_SE_BUILD = 2222;

UINT CopyDirectory(const char *service, bool fails, const std::string &dir, LPSTR buffer,
                   UINT size)
{
    long error;
    UINT result = 0;
    bool stored = false;
    if (SimFault(service, &error) || fails) {
        SimSetLastError(fails ? ERROR_PATH_NOT_FOUND : error);
    } else if (buffer && dir.size() < size) {
        std::memcpy(buffer, dir.c_str(), dir.size() + 1);
        result = (UINT)dir.size();
        stored = true;
    } else {
        result = (UINT)dir.size() + 1;
    }
    SimRecord(service, {stored ? std::string(buffer) : std::string(), SimNumberText(size)},
              (long)result);
    return result;
}

}  // namespace

// The structure's size decides: OSVERSIONINFOA's 148 bytes on both, and
// OSVERSIONINFOEXA's 156 on Windows 98 (its service-pack fields zero), not
// on Windows 95. A size refused leaves the last error as it was, as 9x does
// (Wine's version.c).
BOOL WINAPI GetVersionExA(OSVERSIONINFOA *lpVersionInformation)
{
    const SimSettings &machine = SimMachine();
    long error = ERROR_SUCCESS;
    std::string size = "NULL";
    DWORD given = lpVersionInformation ? lpVersionInformation->dwOSVersionInfoSize : 0;
    if (lpVersionInformation)
        size = SimNumberText(given);
    if (SimFault("GetVersionExA", &error)) {
    } else if (!lpVersionInformation || (given != 148 && (given != 156 || SimIsWindows95()))) {
        SimRecord("GetVersionExA", {size}, FALSE);
        return FALSE;
    } else if (machine.versionFails) {
        error = ERROR_INVALID_PARAMETER;
    } else {
        DWORD low = machine.build & 0xFFFF;
        OSVERSIONINFOA &info = *lpVersionInformation;
        info.dwMajorVersion = 4;
        info.dwMinorVersion = low <= LAST_WINDOWS_95_BUILD ? 0 : 10;
        info.dwBuildNumber = machine.build;
        info.dwPlatformId = 1;  // VER_PLATFORM_WIN32_WINDOWS
        std::string csd = machine.csdSet ? machine.csdVersion
                          : low == WINDOWS_98_SE_BUILD ? " A " : "";
        std::memset(info.szCSDVersion, 0, sizeof info.szCSDVersion);
        std::strncpy(info.szCSDVersion, csd.c_str(), sizeof info.szCSDVersion - 1);
        if (given == 156)
            std::memset((char *)lpVersionInformation + 148, 0, 8);
    }
    return SimBooleanResult("GetVersionExA", {size}, error);
}

UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return CopyDirectory("GetSystemDirectoryA", SimMachine().systemDirFails,
                         SimMachine().systemDir, lpBuffer, uSize);
}

UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize)
{
    return CopyDirectory("GetWindowsDirectoryA", SimMachine().windowsDirFails,
                         SimMachine().windowsDir, lpBuffer, uSize);
}

// What the restart relies on, on both families.
//
// ExitWindowsEx as the completion prompt relies on it: Yes restarts the
// machine. Windows 95 and 98 restart for any process; NT restarts only for
// a process holding the shutdown privilege, which is off by default, so it
// is switched on first. The token functions are looked up at run time: the
// program must load on Windows 95 whatever its advapi32 exports.
//
// MoveFileExA as the restart list relies on it: NT deletes at its next
// start what MoveFileExA registered, and never reads WININIT.INI. On
// Windows 9x, which has no such registration, it calls nothing and fails,
// whatever a compatibility layer's kernel32 would do.
#include <windows.h>

namespace {

typedef BOOL(WINAPI *OpenProcessTokenFn)(HANDLE, DWORD, PHANDLE);
typedef BOOL(WINAPI *LookupPrivilegeValueFn)(LPCSTR, LPCSTR, PLUID);
typedef BOOL(WINAPI *AdjustTokenPrivilegesFn)(HANDLE, BOOL, PTOKEN_PRIVILEGES, DWORD,
                                              PTOKEN_PRIVILEGES, PDWORD);
typedef BOOL(WINAPI *MoveFileExFn)(LPCSTR, LPCSTR, DWORD);

BOOL RunsOnNt()
{
    OSVERSIONINFOA version;
    version.dwOSVersionInfoSize = sizeof version;
    return GetVersionExA(&version) && version.dwPlatformId == VER_PLATFORM_WIN32_NT;
}

// Through void *: the function types differ from FARPROC's on purpose.
void *Find(HMODULE module, LPCSTR name)
{
    return (void *)GetProcAddress(module, name);
}

void EnableShutdownPrivilege()
{
    HMODULE advapi = GetModuleHandleA("advapi32.dll");
    if (!advapi)
        return;
    OpenProcessTokenFn openToken = (OpenProcessTokenFn)Find(advapi, "OpenProcessToken");
    LookupPrivilegeValueFn lookup = (LookupPrivilegeValueFn)Find(advapi, "LookupPrivilegeValueA");
    AdjustTokenPrivilegesFn adjust = (AdjustTokenPrivilegesFn)Find(advapi, "AdjustTokenPrivileges");
    if (!openToken || !lookup || !adjust)
        return;

    HANDLE token;
    if (!openToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &token))
        return;
    TOKEN_PRIVILEGES privileges;
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (lookup(0, SE_SHUTDOWN_NAME, &privileges.Privileges[0].Luid))
        adjust(token, FALSE, &privileges, 0, 0, 0);
    CloseHandle(token);
}

}  // namespace

extern "C" BOOL WINAPI PlatformMoveFileExA(LPCSTR from, LPCSTR to, DWORD flags)
{
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    MoveFileExFn moveFileEx = kernel && RunsOnNt() ? (MoveFileExFn)Find(kernel, "MoveFileExA") : 0;
    return moveFileEx && moveFileEx(from, to, flags);
}

extern "C" BOOL WINAPI PlatformExitWindowsEx(UINT flags, DWORD reason)
{
    if (RunsOnNt())
        EnableShutdownPrivilege();
    return ExitWindowsEx(flags, reason);
}

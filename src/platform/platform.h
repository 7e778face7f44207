// The seam between this program and the operating system.
//
// The engine (src/engine) and the dialogs (src/ui) include this header and
// nothing else of the platform. It names every operating-system service the
// program uses, under its Win32 name and with its Win32 arguments, plus the
// few C-library-style services that we implement ourselves (crt.h).
//
// Two folders implement it, and the build picks one:
//   win32/  the real API (kernel32, user32, advapi32, comctl32), with the
//           callers' contract kept on NT-family systems too;
//   sim/    a simulated Windows 98 machine held in a folder, for Linux.
// Each folder supplies platform_abi.h: the integer types, the calling
// convention and how a declaration below is linked.
#ifndef PLATFORM_PLATFORM_H
#define PLATFORM_PLATFORM_H

#include "platform_abi.h"

// ---------------------------------------------------------------- types

typedef int BOOL;
typedef unsigned char BYTE;
typedef unsigned short WORD;
typedef unsigned int UINT;
typedef char CHAR;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef BYTE *LPBYTE;
typedef DWORD *LPDWORD;
typedef DWORD REGSAM;

struct HKEY__;
typedef HKEY__ *HKEY;
typedef HKEY *PHKEY;
struct HWND__;
typedef HWND__ *HWND;
struct HINSTANCE__;
typedef HINSTANCE__ *HINSTANCE;
typedef void *HANDLE;

typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK *TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);

struct OSVERSIONINFOA {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    CHAR szCSDVersion[128];
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[260];
    CHAR cAlternateFileName[14];
};

// ------------------------------------------------------------ constants

#define MAX_PATH 260
#define FALSE 0
#define TRUE 1

// The predefined keys are sign-extended 32-bit values, as the API defines them.
#define HKEY_CLASSES_ROOT ((HKEY)(INT_PTR)(LONG)0x80000000)
#define HKEY_CURRENT_USER ((HKEY)(INT_PTR)(LONG)0x80000001)
#define HKEY_LOCAL_MACHINE ((HKEY)(INT_PTR)(LONG)0x80000002)
#define HKEY_USERS ((HKEY)(INT_PTR)(LONG)0x80000003)
#define HKEY_CURRENT_CONFIG ((HKEY)(INT_PTR)(LONG)0x80000005)

#define KEY_QUERY_VALUE 0x0001
#define KEY_SET_VALUE 0x0002
#define KEY_ENUMERATE_SUB_KEYS 0x0008

#define REG_NONE 0
#define REG_SZ 1
#define REG_EXPAND_SZ 2
#define REG_BINARY 3
#define REG_DWORD 4
#define REG_MULTI_SZ 7

#define ERROR_SUCCESS 0L
#define ERROR_FILE_NOT_FOUND 2L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_NOT_ENOUGH_MEMORY 8L
#define ERROR_NO_MORE_FILES 18L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_MORE_DATA 234L
#define ERROR_DIR_NOT_EMPTY 145L
#define ERROR_CALL_NOT_IMPLEMENTED 120L
#define ERROR_ALREADY_EXISTS 183L
#define ERROR_BADKEY 1010L
#define ERROR_CANTWRITE 1013L

#define INVALID_HANDLE_VALUE ((HANDLE)(INT_PTR)-1)
#define INVALID_FILE_ATTRIBUTES ((DWORD)-1)
#define MOVEFILE_DELAY_UNTIL_REBOOT 0x00000004

#define FILE_ATTRIBUTE_READONLY 0x01
#define FILE_ATTRIBUTE_HIDDEN 0x02
#define FILE_ATTRIBUTE_SYSTEM 0x04
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_ARCHIVE 0x20

#define WM_SETTEXT 0x000C
#define WM_CLOSE 0x0010
#define WM_WININICHANGE 0x001A
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_TIMER 0x0113
#define WM_USER 0x0400
#define PBM_SETRANGE (WM_USER + 1)
#define PBM_SETPOS (WM_USER + 2)
#define PBM_DELTAPOS (WM_USER + 3)
#define PBM_SETSTEP (WM_USER + 4)
#define PBM_STEPIT (WM_USER + 5)

#define IDOK 1
#define IDCANCEL 2
#define IDYES 6
#define IDNO 7

#define MB_OK 0x00000000L
#define MB_YESNO 0x00000004L
#define MB_ICONWARNING 0x00000030L
#define MB_SYSTEMMODAL 0x00001000L

#define EWX_REBOOT 2

#define HWND_BROADCAST ((HWND)(INT_PTR)0xFFFF)
#define SMTO_ABORTIFHUNG 0x0002

#define LOWORD(l) ((WORD)(((DWORD)(l)) & 0xFFFF))
#define HIWORD(l) ((WORD)((((DWORD)(l)) >> 16) & 0xFFFF))
#define MAKELONG(a, b) ((LONG)(((WORD)(a)) | (((DWORD)((WORD)(b))) << 16)))
#define MAKELPARAM(l, h) ((LPARAM)(DWORD)MAKELONG(l, h))

// ------------------------------------------------------------- services
// PLATFORM_API: the platform's own function (imported from its DLL on
// Windows). PLATFORM_OWN: ours on every platform, because the plain call
// does not keep the callers' contract everywhere.

// Registry (advapi32)
PLATFORM_OWN LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey);
PLATFORM_API LONG WINAPI RegFlushKey(HKEY hKey);
PLATFORM_API LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions,
                                       REGSAM samDesired, PHKEY phkResult);
PLATFORM_API LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved,
                                          LPDWORD lpType, LPBYTE lpData, LPDWORD lpcbData);
PLATFORM_API LONG WINAPI RegCloseKey(HKEY hKey);
PLATFORM_API LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType,
                                        const BYTE *lpData, DWORD cbData);
PLATFORM_API LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName);
PLATFORM_API LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName);

// Profiles: WIN.INI and other .ini files (kernel32)
PLATFORM_API DWORD WINAPI GetProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                                            LPSTR lpReturnedString, DWORD nSize);
PLATFORM_API BOOL WINAPI WriteProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString);
// Any other .ini file; with section, key and value NULL, Windows 9x writes
// out the copy of the file that it keeps in memory.
PLATFORM_API BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                                    LPCSTR lpFileName);

// Directories, files, version, strings (kernel32)
PLATFORM_API UINT WINAPI GetSystemDirectoryA(LPSTR lpBuffer, UINT uSize);
PLATFORM_API UINT WINAPI GetWindowsDirectoryA(LPSTR lpBuffer, UINT uSize);
PLATFORM_API BOOL WINAPI DeleteFileA(LPCSTR lpFileName);
PLATFORM_API DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName);
// The error of the last call that failed (of those that set one).
PLATFORM_API DWORD WINAPI GetLastError(void);
PLATFORM_API BOOL WINAPI MoveFileA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName);
// Deletion at the next start of the NT family, which never reads
// WININIT.INI: fails, calling nothing, on Windows 9x (as 9x's own does).
PLATFORM_OWN BOOL WINAPI MoveFileExA(LPCSTR lpExistingFileName, LPCSTR lpNewFileName,
                                     DWORD dwFlags);
PLATFORM_API BOOL WINAPI RemoveDirectoryA(LPCSTR lpPathName);
PLATFORM_API BOOL WINAPI GetVersionExA(OSVERSIONINFOA *lpVersionInformation);
PLATFORM_API LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2);
PLATFORM_API LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2);
PLATFORM_API int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2);
PLATFORM_API int WINAPI lstrlenA(LPCSTR lpString);

// File search over a wildcard pattern in one directory (kernel32)
PLATFORM_API HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA *lpFindFileData);
PLATFORM_API BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData);
PLATFORM_API BOOL WINAPI FindClose(HANDLE hFindFile);

// Dialogs, timer, messages, restart (user32, comctl32)
PLATFORM_API void WINAPI InitCommonControls(void);
PLATFORM_API INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName,
                                            HWND hWndParent, DLGPROC lpDialogFunc,
                                            LPARAM dwInitParam);
PLATFORM_API BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult);
PLATFORM_API HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem);
PLATFORM_API BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString);
PLATFORM_API LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
PLATFORM_API BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam);
PLATFORM_API LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam,
                                                UINT fuFlags, UINT uTimeout, UINT_PTR *lpdwResult);
PLATFORM_API UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse,
                                      TIMERPROC lpTimerFunc);
PLATFORM_API BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent);
PLATFORM_API int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType);
PLATFORM_OWN BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason);

#include "crt.h"

#endif

// Win32: the real API's integer types and calling convention. Every
// service is imported from its system DLL, except the ones this layer
// wraps, which the renames below send to our own functions. The shipped
// program is i686; the x86_64 build (for the Wine suite where no 32-bit
// code runs) gives the pointer-sized types their 64 bits.
#ifndef PLATFORM_ABI_H
#define PLATFORM_ABI_H

typedef long LONG;
typedef unsigned long DWORD;
#ifdef _WIN64
typedef long long INT_PTR;
typedef unsigned long long UINT_PTR;
typedef long long LPARAM;
typedef long long LRESULT;
#else
typedef int INT_PTR;
typedef unsigned int UINT_PTR;
typedef long LPARAM;
typedef long LRESULT;
#endif
typedef UINT_PTR WPARAM;

#define WINAPI __stdcall
#define CALLBACK __stdcall
#define PLATFORM_API extern "C" __declspec(dllimport)
#define PLATFORM_OWN extern "C"

#define RegDeleteKeyA PlatformRegDeleteKeyA
#define ExitWindowsEx PlatformExitWindowsEx
#define MoveFileExA PlatformMoveFileExA

#endif

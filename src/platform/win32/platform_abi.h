// Win32 (i686): the real API's integer types and calling convention. Every
// service is imported from its system DLL, except the ones this layer
// wraps, which the renames below send to our own functions.
#ifndef PLATFORM_ABI_H
#define PLATFORM_ABI_H

typedef long LONG;
typedef unsigned long DWORD;
typedef int INT_PTR;
typedef unsigned int UINT_PTR;
typedef UINT_PTR WPARAM;
typedef long LPARAM;
typedef long LRESULT;

#define WINAPI __stdcall
#define CALLBACK __stdcall
#define PLATFORM_API extern "C" __declspec(dllimport)
#define PLATFORM_OWN extern "C"

#define RegDeleteKeyA PlatformRegDeleteKeyA
#define ExitWindowsEx PlatformExitWindowsEx

#endif

// Simulated machine (Linux, any word size): 32-bit DWORD and LONG as on
// Windows, pointer-sized message parameters, no calling convention.
#ifndef PLATFORM_ABI_H
#define PLATFORM_ABI_H

#include <stdint.h>

typedef int32_t LONG;
typedef uint32_t DWORD;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef UINT_PTR WPARAM;
typedef INT_PTR LPARAM;
typedef INT_PTR LRESULT;

#define WINAPI
#define CALLBACK
#define PLATFORM_API
#define PLATFORM_OWN

#endif

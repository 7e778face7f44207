// What the compiler and the shared services expect from a C library: the
// block copy and fill that gcc emits for structure copies and zeroing, and
// the heap under BlockAlloc. Without a run-time library they are ours.
#include <windows.h>

#include "platform_io.h"

// gcc must not turn these loops back into calls of themselves.
extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void *
memset(void *dst, int value, size_t size)
{
    unsigned char *d = (unsigned char *)dst;
    while (size--)
        *d++ = (unsigned char)value;
    return dst;
}

extern "C" __attribute__((optimize("no-tree-loop-distribute-patterns"))) void *
memcpy(void *dst, const void *src, size_t size)
{
    unsigned char *d = (unsigned char *)dst;
    const unsigned char *s = (const unsigned char *)src;
    while (size--)
        *d++ = *s++;
    return dst;
}

void *PlatformAlloc(unsigned long size)
{
    return HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, size);
}

void PlatformFree(void *block)
{
    if (block)
        HeapFree(GetProcessHeap(), 0, block);
}

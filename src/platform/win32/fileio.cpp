// The byte-level file interface under the shared text streams, over
// CreateFileA and its kin. One file pointer serves reads and writes: a
// write moves it to the end, which no caller reads past (platform_io.h).
#include <windows.h>

#include "platform_io.h"

namespace {

HANDLE HandleOf(FILEIO *file)
{
    return (HANDLE)file;
}

}  // namespace

FILEIO *FileIoOpen(const char *path, FileIoMode mode)
{
    DWORD access = GENERIC_READ;
    DWORD disposition = OPEN_EXISTING;
    if (mode == FILEIO_APPEND) {
        access |= GENERIC_WRITE;
        disposition = OPEN_ALWAYS;
    }
    // Others may go on reading and writing the file while it is open.
    HANDLE h = CreateFileA(path, access, FILE_SHARE_READ | FILE_SHARE_WRITE, 0, disposition,
                           FILE_ATTRIBUTE_NORMAL, 0);
    if (h == INVALID_HANDLE_VALUE || h == 0)
        return 0;
    return (FILEIO *)h;
}

long FileIoRead(FILEIO *file, void *buffer, unsigned long size)
{
    DWORD got = 0;
    if (!ReadFile(HandleOf(file), buffer, size, &got, 0))
        return -1;
    return (long)got;
}

long FileIoWriteAtEnd(FILEIO *file, const void *buffer, unsigned long size)
{
    HANDLE h = HandleOf(file);
    if (SetFilePointer(h, 0, 0, FILE_END) == INVALID_SET_FILE_POINTER)
        return -1;
    DWORD written = 0;
    if (!WriteFile(h, buffer, size, &written, 0))
        return -1;
    return (long)written;
}

long FileIoSize(FILEIO *file)
{
    DWORD size = GetFileSize(HandleOf(file), 0);
    if (size == INVALID_FILE_SIZE || size > 0x7FFFFFFF)
        return -1;
    return (long)size;
}

int FileIoSeek(FILEIO *file, unsigned long offset)
{
    if (SetFilePointer(HandleOf(file), (LONG)offset, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return -1;
    return 0;
}

// Leaves the read position at the new end: the one caller seeks after it.
int FileIoTruncate(FILEIO *file, unsigned long size)
{
    HANDLE h = HandleOf(file);
    if (SetFilePointer(h, (LONG)size, 0, FILE_BEGIN) == INVALID_SET_FILE_POINTER)
        return -1;
    return SetEndOfFile(h) ? 0 : -1;
}

int FileIoFlush(FILEIO *file)
{
    return FlushFileBuffers(HandleOf(file)) ? 0 : -1;
}

int FileIoClose(FILEIO *file)
{
    return CloseHandle(HandleOf(file)) ? 0 : -1;
}

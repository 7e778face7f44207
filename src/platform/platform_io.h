// The byte-level file and heap interface under the services of crt.h. Each
// platform implements it: win32/ with CreateFileA and its kin, sim/ over the
// simulated machine's drives. Paths are the program's Windows paths.
#ifndef PLATFORM_IO_H
#define PLATFORM_IO_H

struct FILEIO;

enum FileIoMode {
    FILEIO_READ = 0,   // an existing file, for reading
    FILEIO_APPEND = 1  // read and write, created when absent
};

// Opens with sharing that lets other processes read and write the file.
// Returns 0 on failure (missing, a directory, locked, out of handles).
FILEIO *FileIoOpen(const char *path, FileIoMode mode);

// Reads up to size bytes at the current position; returns the number read
// (0 at the end) or -1 on error.
long FileIoRead(FILEIO *file, void *buffer, unsigned long size);

// Writes size bytes at the end of the file; returns the number written or -1.
// The read position is then undefined: the streams read a file before they
// write to it, never after.
long FileIoWriteAtEnd(FILEIO *file, const void *buffer, unsigned long size);

// The file's size in bytes, or -1.
long FileIoSize(FILEIO *file);

// Moves the read position to offset from the start; returns 0 on success.
int FileIoSeek(FILEIO *file, unsigned long offset);

// Cuts the file to size bytes; returns 0 on success. The read position is
// then undefined: seek before reading again.
int FileIoTruncate(FILEIO *file, unsigned long size);

// Writes the file's cached data to the disk; returns 0 on success.
int FileIoFlush(FILEIO *file);

// Returns 0 on success.
int FileIoClose(FILEIO *file);

// Block memory from the platform's heap, every byte 0 (0 on failure).
void *PlatformAlloc(unsigned long size);
void PlatformFree(void *block);

#endif

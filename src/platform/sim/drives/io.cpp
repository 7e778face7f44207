// The byte-level file interface under the text streams, over the simulated
// drives, and the heap.
//
// A file opened here shares reading and writing with other openers, as the
// streams ask, but DeleteFileA and MoveFileA refuse it while it is open. A
// file that another program holds (busy in machine.ini, a loaded module or
// open) cannot be opened at all: its holder is taken to share nothing,
// the worse case for a reader. A read-only file opens only for reading. Every open file and block is listed by SimOpenHandles until it
// is closed or freed, so a test can see a leak.
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "core/core.h"
#include "drives/drives.h"
#include "platform_io.h"

struct FILEIO {
    int fd;
    UINT_PTR number;
    unsigned long readPosition;
    std::string host;
    std::string canonical;
};

namespace {

std::map<UINT_PTR, FILEIO *> g_files;
UINT_PTR g_nextFile = 1;
std::map<void *, std::pair<UINT_PTR, unsigned long>> g_blocks;
UINT_PTR g_nextBlock = 1;

// Only handles that this file gave out are used: a stale or foreign
// pointer is answered with an error instead of being followed.
FILEIO *Known(FILEIO *file)
{
    for (const auto &open : g_files) {
        if (open.second == file)
            return file;
    }
    return nullptr;
}

std::string FileText(FILEIO *file)
{
    if (!file)
        return "NULL";
    FILEIO *known = Known(file);
    return known ? "file#" + std::to_string((unsigned long long)known->number) : "file#?";
}

long OpenFile(const char *name, FileIoMode mode, FILEIO **opened)
{
    SimPath path;
    long error = SimResolve(name, &path);
    if (error != ERROR_SUCCESS)
        return error;
    if (path.exists && path.isDir)
        return ERROR_ACCESS_DENIED;
    if (mode != FILEIO_READ && mode != FILEIO_APPEND)
        return ERROR_INVALID_PARAMETER;
    if (path.exists && SimIsBusy(path))
        return ERROR_SHARING_VIOLATION;
    int fd;
    if (mode == FILEIO_READ) {
        if (!path.exists)
            return ERROR_FILE_NOT_FOUND;
        fd = open(path.host.c_str(), O_RDONLY | O_NOFOLLOW);
    } else if (path.exists) {
        if (SimIsReadOnly(path))
            return ERROR_ACCESS_DENIED;
        fd = open(path.host.c_str(), O_RDWR | O_NOFOLLOW);
    } else {
        // Never over whatever a refused name (a link) left on the host.
        fd = open(path.host.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW, 0644);
        SimFolderChanged(path.host);
    }
    if (fd < 0)
        return ERROR_ACCESS_DENIED;
    FILEIO *file = new FILEIO{fd, g_nextFile++, 0, path.host, path.canonical};
    if (!path.exists) {
        SimPath made;
        if (SimResolve(name, &made) == ERROR_SUCCESS)
            file->canonical = made.canonical;
    }
    g_files[file->number] = file;
    *opened = file;
    return ERROR_SUCCESS;
}

}  // namespace

FILEIO *FileIoOpen(const char *path, FileIoMode mode)
{
    long error;
    FILEIO *file = nullptr;
    if (!SimFault("FileIoOpen", &error))
        error = OpenFile(path, mode, &file);
    if (!file)
        SimSetLastError(error);
    SimRecord("FileIoOpen", {SimArgText(path), SimNumberText(mode)},
              file ? (long)file->number : 0);
    return file;
}

long FileIoRead(FILEIO *file, void *buffer, unsigned long size)
{
    long error;
    long result = -1;
    if (!SimFault("FileIoRead", &error) && Known(file) && (buffer || !size)) {
        unsigned long done = 0;
        while (done < size) {
            ssize_t n = pread(file->fd, (char *)buffer + done, size - done,
                              (off_t)(file->readPosition + done));
            if (n <= 0) {
                if (n < 0)
                    done = (unsigned long)-1;
                break;
            }
            done += (unsigned long)n;
        }
        if (done != (unsigned long)-1) {
            file->readPosition += done;
            result = (long)done;
        }
    }
    SimRecord("FileIoRead", {FileText(file), SimNumberText(size)}, result);
    return result;
}

long FileIoWriteAtEnd(FILEIO *file, const void *buffer, unsigned long size)
{
    long error;
    long result = -1;
    if (!SimFault("FileIoWriteAtEnd", &error) && Known(file) && (buffer || !size)) {
        unsigned long done = 0;
        struct stat st;
        if (fstat(file->fd, &st) == 0) {
            off_t end = st.st_size;
            while (done < size) {
                ssize_t n = pwrite(file->fd, (const char *)buffer + done, size - done,
                                   end + (off_t)done);
                if (n <= 0)
                    break;
                done += (unsigned long)n;
            }
            if (done == size)
                result = (long)size;
        }
    }
    std::string bytes = buffer ? std::string((const char *)buffer, size) : "NULL";
    SimRecord("FileIoWriteAtEnd", {FileText(file), bytes, SimNumberText(size)}, result);
    return result;
}

long FileIoSize(FILEIO *file)
{
    long error;
    long result = -1;
    struct stat st;
    if (!SimFault("FileIoSize", &error) && Known(file) && fstat(file->fd, &st) == 0)
        result = (long)st.st_size;
    SimRecord("FileIoSize", {FileText(file)}, result);
    return result;
}

int FileIoSeek(FILEIO *file, unsigned long offset)
{
    long error;
    int result = -1;
    if (!SimFault("FileIoSeek", &error) && Known(file)) {
        file->readPosition = offset;
        result = 0;
    }
    SimRecord("FileIoSeek", {FileText(file), SimNumberText(offset)}, result);
    return result;
}

int FileIoTruncate(FILEIO *file, unsigned long size)
{
    long error;
    int result = -1;
    if (!SimFault("FileIoTruncate", &error) && Known(file) &&
        ftruncate(file->fd, (off_t)size) == 0)
        result = 0;
    SimRecord("FileIoTruncate", {FileText(file), SimNumberText(size)}, result);
    return result;
}

// The drives are host files written at once: the flush only says whether
// the file is one this machine gave out.
int FileIoFlush(FILEIO *file)
{
    long error;
    int result = !SimFault("FileIoFlush", &error) && Known(file) ? 0 : -1;
    SimRecord("FileIoFlush", {FileText(file)}, result);
    return result;
}

// A failed close still releases the file, as fclose does.
int FileIoClose(FILEIO *file)
{
    long error;
    bool fault = SimFault("FileIoClose", &error);
    std::string text = FileText(file);
    int result = -1;
    if (Known(file)) {
        g_files.erase(file->number);
        result = close(file->fd) == 0 && !fault ? 0 : -1;
        delete file;
    }
    SimRecord("FileIoClose", {text}, result);
    return result;
}

void *PlatformAlloc(unsigned long size)
{
    long error;
    void *block = nullptr;
    if (!SimFault("PlatformAlloc", &error)) {
        block = std::calloc(size ? size : 1, 1);
        if (block)
            g_blocks[block] = {g_nextBlock++, size};
    }
    SimRecord("PlatformAlloc", {SimNumberText(size)},
              block ? (long)g_blocks[block].first : 0);
    return block;
}

// Freeing what this heap did not give out is recorded with result 0 and
// otherwise ignored, so that a test sees it instead of a crash.
void PlatformFree(void *block)
{
    long error;
    SimFault("PlatformFree", &error);
    auto found = g_blocks.find(block);
    long result = block ? 0 : 1;
    std::string text = block ? "block#?" : "NULL";
    if (found != g_blocks.end()) {
        text = "block#" + std::to_string((unsigned long long)found->second.first);
        std::free(block);
        g_blocks.erase(found);
        result = 1;
    }
    SimRecord("PlatformFree", {text}, result);
}

void SimIoCloseAll()
{
    for (auto &open : g_files) {
        close(open.second->fd);
        delete open.second;
    }
    g_files.clear();
    g_nextFile = 1;
    for (auto &block : g_blocks)
        std::free(block.first);
    g_blocks.clear();
    g_nextBlock = 1;
}

std::vector<std::string> SimIoOpenHandles()
{
    std::vector<std::string> open;
    for (const auto &file : g_files)
        open.push_back("file#" + std::to_string((unsigned long long)file.first) + " " +
                       file.second->canonical);
    for (const auto &block : g_blocks)
        open.push_back("block#" + std::to_string((unsigned long long)block.second.first) + " " +
                       std::to_string(block.second.second) + " bytes");
    return open;
}

bool SimIoIsOpen(const std::string &hostPath)
{
    for (const auto &file : g_files) {
        if (file.second->host == hostPath)
            return true;
    }
    return false;
}

// The text helpers of the whole machine: the one case folding that every
// case-insensitive comparison uses, trimming, and host files read and written whole.
#include <cerrno>
#include <fcntl.h>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

#include "core/core.h"

std::string SimTrim(const std::string &text, const char *blanks)
{
    size_t begin = text.find_first_not_of(blanks);
    if (begin == std::string::npos)
        return "";
    size_t end = text.find_last_not_of(blanks);
    return text.substr(begin, end - begin + 1);
}

std::string SimFold(const std::string &text)
{
    std::string folded(text);
    for (char &c : folded)
        c = (char)SimFoldByte((unsigned char)c);
    return folded;
}

bool SimSameText(const std::string &a, const std::string &b)
{
    if (a.size() != b.size())
        return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (SimFoldByte((unsigned char)a[i]) != SimFoldByte((unsigned char)b[i]))
            return false;
    }
    return true;
}

// Read with plain system calls: snapshots and the sweeps read every file
// of a machine after every run.
bool SimReadHostFile(const std::string &hostPath, std::string *bytes)
{
    int fd = open(hostPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat st;
    std::string text;
    bool ok = fstat(fd, &st) == 0;
    if (ok && st.st_size > 0)
        text.reserve((size_t)st.st_size);
    char block[65536];
    for (ssize_t got; ok && (got = read(fd, block, sizeof block)) != 0;) {
        if (got < 0 && errno == EINTR)
            continue;
        ok = got > 0;
        if (ok)
            text.append(block, (size_t)got);
    }
    close(fd);
    if (ok)
        *bytes = std::move(text);
    return ok;
}

// Written beside the file and renamed over it, with the file's permissions:
// a file is never found half-written, whatever stops the write.
bool SimWriteHostFile(const std::string &hostPath, const std::string &bytes)
{
    std::string beside = hostPath + ".br32unin-new";
    std::ofstream out(beside, std::ios::binary | std::ios::trunc);
    if (!out)
        return false;
    out.write(bytes.data(), (std::streamsize)bytes.size());
    out.close();
    struct stat st;
    bool ok = !out.fail() && (stat(hostPath.c_str(), &st) != 0 || chmod(beside.c_str(), st.st_mode & 07777) == 0) &&
              std::rename(beside.c_str(), hostPath.c_str()) == 0;
    if (!ok)
        std::remove(beside.c_str());
    return ok;
}

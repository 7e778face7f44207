// FindFirstFileA, FindNextFileA and FindClose over one folder of the
// simulated drives, and GetFileAttributesA of one path.
//
// As on a Windows 9x FAT drive: the pattern's * and ? match the long name
// or the 8.3 alias, case-insensitively ("*.inf" also finds a long name
// "oem1.info" through its alias OEM1~1.INF); folders and hidden files are
// found; a folder other than a root first yields "." and "..". The order
// is the folder's listing order (the host's names sorted byte by byte),
// and the matches are taken when the search starts, so files deleted
// during a search are still reported.
#include <cstring>

#include "core/core.h"
#include "drives/drives.h"

namespace {

struct Search {
    std::vector<WIN32_FIND_DATAA> matches;
    size_t next = 0;
    std::string pattern;
};

std::map<UINT_PTR, Search> g_searches;
UINT_PTR g_nextSearch = 1;

// Seconds since 1970 as a FILETIME (100 ns since 1601).
FILETIME FileTime(long long seconds)
{
    unsigned long long ticks = (unsigned long long)(seconds + 11644473600LL) * 10000000ULL;
    return FILETIME{(DWORD)(ticks & 0xFFFFFFFF), (DWORD)(ticks >> 32)};
}

WIN32_FIND_DATAA FindData(const std::string &name, const std::string &shortName, DWORD attributes,
                          unsigned long long size, long long mtime)
{
    WIN32_FIND_DATAA data;
    std::memset(&data, 0, sizeof data);
    data.dwFileAttributes = attributes;
    data.ftCreationTime = data.ftLastAccessTime = data.ftLastWriteTime = FileTime(mtime);
    data.nFileSizeHigh = (DWORD)(size >> 32);
    data.nFileSizeLow = (DWORD)(size & 0xFFFFFFFF);
    std::strncpy(data.cFileName, name.c_str(), sizeof data.cFileName - 1);
    std::strncpy(data.cAlternateFileName, shortName.c_str(), sizeof data.cAlternateFileName - 1);
    return data;
}

// The folder part and the pattern part of a search path.
void SplitPattern(const std::string &path, std::string *folder, std::string *pattern)
{
    size_t slash = path.find_last_of("\\/");
    if (slash != std::string::npos) {
        *folder = path.substr(0, slash + 1);
        *pattern = path.substr(slash + 1);
    } else if (path.size() >= 2 && path[1] == ':') {
        *folder = path.substr(0, 2);
        *pattern = path.substr(2);
    } else {
        folder->clear();
        *pattern = path;
    }
    // The folder itself: "." names the current one on its drive.
    *folder += ".";
}

long StartSearch(const char *path, Search *search)
{
    std::string folder, pattern;
    SplitPattern(path, &folder, &pattern);
    SimPath dir;
    long error = SimResolve(folder.c_str(), &dir);
    if (error != ERROR_SUCCESS)
        return error;
    if (!dir.exists || !dir.isDir)
        return ERROR_PATH_NOT_FOUND;
    if (pattern.empty() || SimIsDeviceName(pattern))
        return ERROR_FILE_NOT_FOUND;
    for (char c : pattern) {
        if ((unsigned char)c < 0x20 || std::strchr("<>:\"|/\\", c))
            return SIM_ERROR_INVALID_NAME;
    }
    if (!dir.isRoot) {
        for (const char *dots : {".", ".."}) {
            if (SimMatchPattern(pattern, dots))
                search->matches.push_back(FindData(dots, "", FILE_ATTRIBUTE_DIRECTORY, 0, 0));
        }
    }
    std::string prefix = dir.isRoot ? dir.canonical : dir.canonical + "\\";
    for (const SimDirEntry &entry : SimListDir(dir.host)) {
        if (SimMatchPattern(pattern, entry.name) ||
            (!entry.shortName.empty() && SimMatchPattern(pattern, entry.shortName))) {
            DWORD attributes =
                SimAttributesOf(SimFold(prefix + entry.name), entry.isDir, entry.hostReadOnly);
            search->matches.push_back(
                FindData(entry.name, entry.shortName, attributes, entry.size, entry.mtime));
        }
    }
    return search->matches.empty() ? ERROR_FILE_NOT_FOUND : ERROR_SUCCESS;
}

std::string SearchText(HANDLE handle)
{
    if (handle == INVALID_HANDLE_VALUE)
        return "INVALID_HANDLE_VALUE";
    return "find#" + std::to_string((unsigned long long)(UINT_PTR)handle);
}

}  // namespace

HANDLE WINAPI FindFirstFileA(LPCSTR lpFileName, WIN32_FIND_DATAA *lpFindFileData)
{
    long error;
    HANDLE result = INVALID_HANDLE_VALUE;
    std::string found;
    if (!SimFault("FindFirstFileA", &error)) {
        Search search;
        if (!lpFileName || !lpFindFileData)
            error = ERROR_INVALID_PARAMETER;
        else
            error = StartSearch(lpFileName, &search);
        if (error == ERROR_SUCCESS) {
            UINT_PTR number = g_nextSearch++;
            search.pattern = lpFileName;
            *lpFindFileData = search.matches[0];
            found = search.matches[0].cFileName;
            search.next = 1;
            g_searches[number] = search;
            result = (HANDLE)number;
        }
    }
    if (result == INVALID_HANDLE_VALUE)
        SimSetLastError(error);
    SimRecord("FindFirstFileA", {SimArgText(lpFileName), found},
              result == INVALID_HANDLE_VALUE ? -1 : (long)(UINT_PTR)result);
    return result;
}

BOOL WINAPI FindNextFileA(HANDLE hFindFile, WIN32_FIND_DATAA *lpFindFileData)
{
    long error;
    std::string found;
    if (!SimFault("FindNextFileA", &error)) {
        auto search = g_searches.find((UINT_PTR)hFindFile);
        if (search == g_searches.end())
            error = ERROR_INVALID_HANDLE;
        else if (!lpFindFileData)
            error = ERROR_INVALID_PARAMETER;
        else if (search->second.next >= search->second.matches.size())
            error = ERROR_NO_MORE_FILES;
        else {
            *lpFindFileData = search->second.matches[search->second.next++];
            found = lpFindFileData->cFileName;
            error = ERROR_SUCCESS;
        }
    }
    return SimBooleanResult("FindNextFileA", {SearchText(hFindFile), found}, error);
}

BOOL WINAPI FindClose(HANDLE hFindFile)
{
    long error;
    if (!SimFault("FindClose", &error))
        error = g_searches.erase((UINT_PTR)hFindFile) ? ERROR_SUCCESS : ERROR_INVALID_HANDLE;
    return SimBooleanResult("FindClose", {SearchText(hFindFile)}, error);
}

void SimFindCloseAll()
{
    g_searches.clear();
    g_nextSearch = 1;
}

std::vector<std::string> SimFindOpenHandles()
{
    std::vector<std::string> open;
    for (const auto &search : g_searches)
        open.push_back("find#" + std::to_string((unsigned long long)search.first) + " " +
                       search.second.pattern);
    return open;
}

// The attributes that a search would report for the one path, busy or not.
DWORD WINAPI GetFileAttributesA(LPCSTR lpFileName)
{
    long error;
    DWORD result = INVALID_FILE_ATTRIBUTES;
    if (!SimFault("GetFileAttributesA", &error)) {
        SimPath path;
        error = lpFileName ? SimResolve(lpFileName, &path) : ERROR_INVALID_PARAMETER;
        if (error == ERROR_SUCCESS && !path.exists)
            error = ERROR_FILE_NOT_FOUND;
        if (error == ERROR_SUCCESS)
            result = SimAttributesOf(path.key, path.isDir, path.hostReadOnly);
    }
    if (result == INVALID_FILE_ATTRIBUTES)
        SimSetLastError(error);
    SimRecord("GetFileAttributesA", {SimArgText(lpFileName)}, (long)result);
    return result;
}

// Program paths on the simulated machine's drives.
//
// The drives are host folders (drives/C, ...), and a path must never reach
// outside them, whatever the program composes or the machine holds: ".."
// and every other all-dots name are refused rather than followed, and so
// are symbolic links (a link could point anywhere on the host) and the DOS
// device names, which on Windows name a device in any folder. A refused
// name behaves as a missing file.
//
// Names are matched as VFAT does: case-insensitively, the stored case
// kept; a name's trailing dots and spaces are dropped; an 8.3 alias
// (LONGNA~1.TXT) is made for every long name, in the order of the folder's
// listing (the order of creation is not kept on the host, so the host's
// names sorted byte by byte stand for it), and opens the file as well.
#include <algorithm>
#include <cstring>
#include <dirent.h>
#include <sys/stat.h>
#include <time.h>

#include "core/core.h"
#include "drives/drives.h"

namespace {

bool IsSeparator(char c)
{
    return c == '\\' || c == '/';
}

bool InvalidNameChar(unsigned char c)
{
    return c < 0x20 || std::strchr("<>:\"|*?/\\", c) != nullptr;
}

bool ShortNameChar(unsigned char c)
{
    return c >= 0x80 || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
           std::strchr("!#$%&'()-@^_`{}~", c) != nullptr;
}

// True when the folded name is itself a valid 8.3 name.
bool IsShortName(const std::string &folded)
{
    size_t dot = folded.find('.');
    std::string base = folded.substr(0, dot);
    std::string ext = dot == std::string::npos ? "" : folded.substr(dot + 1);
    if (base.empty() || base.size() > 8 || ext.size() > 3)
        return false;
    if (dot != std::string::npos && (ext.empty() || ext.find('.') != std::string::npos))
        return false;
    for (char c : base + ext) {
        if (!ShortNameChar((unsigned char)c))
            return false;
    }
    return true;
}

std::string ShortPart(const std::string &text, size_t limit)
{
    std::string out;
    for (char c : text) {
        if (out.size() == limit)
            break;
        if (c == ' ' || c == '.')
            continue;
        out += ShortNameChar((unsigned char)c) ? c : '_';
    }
    return out;
}

void AssignShortNames(std::vector<SimDirEntry> *entries)
{
    std::set<std::string> taken;
    for (const SimDirEntry &entry : *entries) {
        if (IsShortName(SimFold(entry.name)))
            taken.insert(SimFold(entry.name));
    }
    for (SimDirEntry &entry : *entries) {
        std::string folded = SimFold(entry.name);
        if (IsShortName(folded))
            continue;
        size_t dot = folded.find_last_of('.');
        if (dot == 0)
            dot = std::string::npos;
        std::string base = ShortPart(folded.substr(0, dot), 8);
        std::string ext = dot == std::string::npos ? "" : ShortPart(folded.substr(dot + 1), 3);
        if (base.empty())
            base = "_";
        for (int n = 1; n < 1000000; n++) {
            std::string tail = "~" + std::to_string(n);
            std::string alias = base.substr(0, 8 - tail.size()) + tail;
            if (!ext.empty())
                alias += "." + ext;
            if (taken.insert(alias).second) {
                entry.shortName = alias;
                break;
            }
        }
    }
}

bool Stat(const std::string &hostPath, SimDirEntry *entry)
{
    struct stat st;
    if (lstat(hostPath.c_str(), &st) != 0)
        return false;
    if (!S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode))
        return false;  // symbolic links and special files are not shown
    entry->isDir = S_ISDIR(st.st_mode);
    entry->hostReadOnly = (st.st_mode & S_IWUSR) == 0;
    entry->size = entry->isDir ? 0 : (unsigned long long)st.st_size;
    entry->mtime = (long long)st.st_mtime;
    return true;
}

// A host name that Windows could hold as a file name; the others (device
// names included) are not shown at all.
bool UsableName(const std::string &name)
{
    if (name.empty() || name.size() > 255 || name.find_first_not_of('.') == std::string::npos)
        return false;
    if (name.back() == ' ' || name.back() == '.' || SimIsDeviceName(name))
        return false;
    for (char c : name) {
        if (InvalidNameChar((unsigned char)c))
            return false;
    }
    return true;
}

// One component as Windows reads it: "." is skipped (empty result), any
// other all-dots name is refused, trailing dots and spaces are dropped.
long CleanComponent(const std::string &raw, std::string *clean)
{
    clean->clear();
    if (raw.empty() || raw == ".")
        return ERROR_SUCCESS;
    if (raw.find_first_not_of('.') == std::string::npos)
        return ERROR_FILE_NOT_FOUND;
    std::string name = raw;
    while (!name.empty() && (name.back() == '.' || name.back() == ' '))
        name.pop_back();
    if (name.empty())
        return ERROR_FILE_NOT_FOUND;
    // A wildcard where a name must be is "not found" on Windows 98, as in
    // CreateFileA("c:\\*.*") and MoveFileA to "wild?.*" (Wine's file.c).
    for (char c : name) {
        if (c == '*' || c == '?')
            return ERROR_FILE_NOT_FOUND;
        if (InvalidNameChar((unsigned char)c))
            return SIM_ERROR_INVALID_NAME;
    }
    if (name.size() > 255)
        return SIM_ERROR_FILENAME_EXCED_RANGE;
    if (SimIsDeviceName(name))
        return ERROR_FILE_NOT_FOUND;
    *clean = name;
    return ERROR_SUCCESS;
}

long AddComponents(const std::string &text, std::vector<std::string> *parts)
{
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = start;
        while (end < text.size() && !IsSeparator(text[end]))
            end++;
        std::string clean;
        long error = CleanComponent(text.substr(start, end - start), &clean);
        if (error != ERROR_SUCCESS)
            return error;
        if (!clean.empty())
            parts->push_back(clean);
        start = end + 1;
    }
    return ERROR_SUCCESS;
}

bool DriveLetter(const std::string &path, char *letter)
{
    if (path.size() < 2 || path[1] != ':')
        return false;
    char c = (char)SimFoldByte((unsigned char)path[0]);
    if (c < 'A' || c > 'Z')
        return false;
    *letter = c;
    return true;
}

// The drive and the components of a program path, the current directory
// applied.
long SplitProgramPath(const std::string &path, char *drive, std::vector<std::string> *parts)
{
    const std::string &current = SimMachine().currentDir;
    char currentDrive = 'C';
    DriveLetter(current, &currentDrive);
    std::vector<std::string> currentParts;
    if (current.size() > 2)
        AddComponents(current.substr(2), &currentParts);

    std::string rest = path;
    *drive = currentDrive;
    char letter;
    if (DriveLetter(path, &letter)) {
        *drive = letter;
        rest = path.substr(2);
        if (letter != currentDrive)
            currentParts.clear();
    }
    if (rest.empty() || !IsSeparator(rest[0]))
        *parts = currentParts;
    return AddComponents(rest, parts);
}

std::string JoinCanonical(char drive, const std::vector<std::string> &parts)
{
    std::string text = std::string(1, drive) + ":\\";
    for (size_t i = 0; i < parts.size(); i++)
        text += (i ? "\\" : "") + parts[i];
    return text;
}

// The host names of a folder that a name could open (equal to it but for
// case), by folded name. A folder of thousands of files takes milliseconds
// to list, and every path is resolved afresh, so a listing is kept while
// nothing can have changed the folder: the machine forgets a folder's
// listing whenever it adds, removes or renames an entry in it
// (SimFolderChanged), and all of them when it is loaded or unloaded. The
// folder's modification time is compared too, but it moves on only with
// the clock's tick (whole ticks of milliseconds on most file systems before
// Linux 6.13): a writer from outside while the machine is loaded (the
// tests' MachineBuilder) calls SimForgetListings.
struct Listing {
    struct timespec mtime;
    std::map<std::string, std::vector<std::string>> names;  // folded -> host names
};

std::map<std::string, Listing> g_listings;

bool SameTime(const struct timespec &a, const struct timespec &b)
{
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The host names of hostDir equal to name but for case, in byte order.
std::vector<std::string> CaseVariants(const std::string &hostDir, const std::string &name)
{
    struct stat st;
    if (stat(hostDir.c_str(), &st) != 0)
        return {};
    auto found = g_listings.find(hostDir);
    if (found == g_listings.end() || !SameTime(found->second.mtime, st.st_mtim)) {
        Listing listing;
        if (DIR *dir = opendir(hostDir.c_str())) {
            while (struct dirent *entry = readdir(dir))
                listing.names[SimFold(entry->d_name)].push_back(entry->d_name);
            closedir(dir);
        }
        for (auto &names : listing.names)
            std::sort(names.second.begin(), names.second.end());
        listing.mtime = st.st_mtim;
        found = g_listings.insert_or_assign(hostDir, std::move(listing)).first;
    }
    auto names = found->second.names.find(SimFold(name));
    return names == found->second.names.end() ? std::vector<std::string>() : names->second;
}

// The entry of hostDir that a name opens: its long name, else its alias.
// Of two host names equal but for case, the first in byte order wins, so
// that the same one always does.
bool FindEntry(const std::string &hostDir, const std::string &name, SimDirEntry *found)
{
    for (const std::string &candidate : CaseVariants(hostDir, name)) {
        if (UsableName(candidate) && Stat(hostDir + "/" + candidate, found)) {
            found->name = candidate;
            return true;
        }
    }
    // Every alias has a tilde (LONGNA~1.TXT): a name without one is no
    // alias, and the folder need not be listed for it.
    if (name.find('~') == std::string::npos)
        return false;
    for (const SimDirEntry &entry : SimListDir(hostDir)) {
        if (!entry.shortName.empty() && SimSameText(entry.shortName, name)) {
            *found = entry;
            return true;
        }
    }
    return false;
}

}  // namespace

void SimForgetListings()
{
    g_listings.clear();
}

void SimFolderChanged(const std::string &hostPath)
{
    g_listings.erase(hostPath.substr(0, hostPath.find_last_of('/')));
}

bool SimIsDeviceName(const std::string &name)
{
    static const char *const devices[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1", "COM2",
                                          "COM3", "COM4", "LPT1", "LPT2", "LPT3"};
    std::string base = name.substr(0, name.find('.'));
    while (!base.empty() && base.back() == ' ')
        base.pop_back();
    for (const char *device : devices) {
        if (SimSameText(base, device))
            return true;
    }
    return false;
}

std::vector<SimDirEntry> SimListDir(const std::string &hostDir)
{
    std::vector<SimDirEntry> entries;
    DIR *dir = opendir(hostDir.c_str());
    if (!dir)
        return entries;
    while (struct dirent *found = readdir(dir)) {
        SimDirEntry entry;
        entry.name = found->d_name;
        if (UsableName(entry.name) && Stat(hostDir + "/" + entry.name, &entry))
            entries.push_back(entry);
    }
    closedir(dir);
    std::sort(entries.begin(), entries.end(),
              [](const SimDirEntry &a, const SimDirEntry &b) { return a.name < b.name; });
    AssignShortNames(&entries);
    return entries;
}

long SimResolve(const char *path, SimPath *out)
{
    *out = SimPath();
    if (!path)
        return ERROR_INVALID_PARAMETER;
    std::string text(path);
    if (text.empty())
        return ERROR_PATH_NOT_FOUND;
    if (text.size() >= 2 && IsSeparator(text[0]) && IsSeparator(text[1]))
        return SIM_ERROR_BAD_NETPATH;
    char drive;
    std::vector<std::string> parts;
    long error = SplitProgramPath(text, &drive, &parts);
    if (error != ERROR_SUCCESS)
        return error;
    if (JoinCanonical(drive, parts).size() >= MAX_PATH)
        return SIM_ERROR_FILENAME_EXCED_RANGE;
    if (!SimMachine().loaded)
        return ERROR_PATH_NOT_FOUND;

    std::string drives = SimMachine().dir + "/drives";
    SimDirEntry entry;
    if (!FindEntry(drives, std::string(1, drive), &entry) || !entry.isDir)
        return ERROR_PATH_NOT_FOUND;
    std::string host = drives + "/" + entry.name;
    std::vector<std::string> stored;
    out->isRoot = parts.empty();
    out->exists = true;
    out->isDir = true;
    for (size_t i = 0; i < parts.size(); i++) {
        bool last = i + 1 == parts.size();
        if (!FindEntry(host, parts[i], &entry)) {
            if (!last)
                return ERROR_PATH_NOT_FOUND;
            out->exists = false;
            out->isDir = false;
            stored.push_back(parts[i]);
            host += "/" + parts[i];
            break;
        }
        if (!last && !entry.isDir)
            return ERROR_PATH_NOT_FOUND;
        stored.push_back(entry.name);
        host += "/" + entry.name;
        out->isDir = entry.isDir;
        out->hostReadOnly = entry.hostReadOnly;
    }
    out->canonical = JoinCanonical(drive, stored);
    out->key = SimFold(out->canonical);
    out->host = host;
    return ERROR_SUCCESS;
}

bool SimPathKey(const std::string &fullPath, std::string *key)
{
    char drive;
    if (!DriveLetter(fullPath, &drive) || fullPath.size() < 3 || !IsSeparator(fullPath[2]))
        return false;
    std::vector<std::string> parts;
    if (AddComponents(fullPath.substr(2), &parts) != ERROR_SUCCESS)
        return false;
    *key = SimFold(JoinCanonical(drive, parts));
    return true;
}

bool SimMatchPattern(const std::string &pattern, const std::string &name)
{
    if (pattern == "*" || pattern == "*.*")
        return true;
    // "name.*" also finds a name without an extension, and "name." finds
    // only names without one, as DOS patterns do.
    if (pattern.size() > 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0 &&
        name.find('.') == std::string::npos &&
        SimMatchPattern(pattern.substr(0, pattern.size() - 2), name))
        return true;
    if (pattern.size() > 1 && pattern.back() == '.' && pattern != "." && pattern != "..") {
        return name.find('.') == std::string::npos &&
               SimMatchPattern(pattern.substr(0, pattern.size() - 1), name);
    }
    // Plain glob: the last star's position is kept for backtracking.
    size_t p = 0, n = 0, star = std::string::npos, resume = 0;
    while (n < name.size()) {
        if (p < pattern.size() &&
            (pattern[p] == '?' ||
             SimFoldByte((unsigned char)pattern[p]) == SimFoldByte((unsigned char)name[n]))) {
            p++;
            n++;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = n;
        } else if (star != std::string::npos) {
            p = star + 1;
            n = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        p++;
    return p == pattern.size();
}

bool SimIsReadOnly(const SimPath &path)
{
    if (path.hostReadOnly)
        return true;
    auto found = SimMachine().attributes.find(path.key);
    return found != SimMachine().attributes.end() &&
           found->second.find('R') != std::string::npos;
}

bool SimIsBusy(const SimPath &path)
{
    return SimMachine().busy.count(path.key) != 0;
}

bool SimIsLoadedModule(const SimPath &path)
{
    auto found = SimMachine().busy.find(path.key);
    return found != SimMachine().busy.end() && found->second == SimBusyKind::Module;
}

DWORD SimAttributesOf(const std::string &key, bool isDir, bool hostReadOnly)
{
    DWORD attributes = isDir ? FILE_ATTRIBUTE_DIRECTORY : FILE_ATTRIBUTE_ARCHIVE;
    if (hostReadOnly)
        attributes |= FILE_ATTRIBUTE_READONLY;
    auto found = SimMachine().attributes.find(key);
    if (found != SimMachine().attributes.end()) {
        for (char mark : found->second) {
            if (mark == 'R')
                attributes |= FILE_ATTRIBUTE_READONLY;
            else if (mark == 'H')
                attributes |= FILE_ATTRIBUTE_HIDDEN;
            else if (mark == 'S')
                attributes |= 0x04;  // FILE_ATTRIBUTE_SYSTEM
        }
    }
    return attributes;
}

// The simulated drives: program paths resolved onto the host folders, the
// file I/O under the text streams and the heap, searches, and deletion.
#ifndef PLATFORM_SIM_DRIVES_DRIVES_H
#define PLATFORM_SIM_DRIVES_DRIVES_H

#include <string>
#include <vector>

#include "platform.h"

// Errors the seam has no name for.
#define SIM_ERROR_BAD_NETPATH 53L
#define SIM_ERROR_INVALID_NAME 123L
#define SIM_ERROR_FILENAME_EXCED_RANGE 206L

// ---------------------------------------------------------------- paths

// One entry of a directory on the host, as the machine shows it.
struct SimDirEntry {
    std::string name;       // the long name, as stored on the host
    std::string shortName;  // its 8.3 alias, "" when the long name is one
    bool isDir;
    bool hostReadOnly;      // the host file lacks u+w
    unsigned long long size;
    long long mtime;        // seconds since 1970
};

// The directory's entries in the machine's order: the host's names sorted
// byte by byte. Symbolic links, special files and names that Windows
// cannot hold are left out.
std::vector<SimDirEntry> SimListDir(const std::string &hostDir);

struct SimPath {
    std::string canonical;   // "C:\WINDOWS\WIN.INI", stored case where known
    std::string key;         // canonical folded: attributes and busy marks
    std::string host;        // the host path (where it would be made if absent)
    bool exists = false;
    bool isDir = false;
    bool isRoot = false;
    bool hostReadOnly = false;
};

// Resolves a program path against the drives. Returns 0 with *out filled
// (exists false when only the last component is missing), or the error of
// a path that cannot name anything: ERROR_PATH_NOT_FOUND for a missing
// directory on the way, ERROR_FILE_NOT_FOUND for a refused name ("..",
// a device name, a symbolic link), SIM_ERROR_INVALID_NAME, ...
long SimResolve(const char *path, SimPath *out);

// A full path's folded canonical form without touching the host, for the
// paths listed in machine.ini. False when it is not a full path.
bool SimPathKey(const std::string &fullPath, std::string *key);

// True when name is a device (CON, NUL, COM1, LPT1.TXT, ...).
bool SimIsDeviceName(const std::string &name);

// Forgets the folder listings kept to resolve paths quickly.
void SimForgetListings();
// Forgets the listing of the folder that holds hostPath: called by every
// service that adds, removes or renames an entry of a folder.
void SimFolderChanged(const std::string &hostPath);

// Wildcard match as Windows 9x does it, case-insensitively.
bool SimMatchPattern(const std::string &pattern, const std::string &name);

// The machine's attribute marks of a resolved path. Busy: another program
// holds the file, as a module it has loaded or open for its I/O (either
// way nothing else may open it); a loaded module cannot be deleted either.
bool SimIsReadOnly(const SimPath &path);
bool SimIsBusy(const SimPath &path);
bool SimIsLoadedModule(const SimPath &path);
// The attributes that a search reports for the entry with this key.
DWORD SimAttributesOf(const std::string &key, bool isDir, bool hostReadOnly);

// ------------------------------------------------------------- handles

// Open searches, files and heap blocks, listed for the leak report and
// released when a machine is unloaded.
void SimFindCloseAll();
std::vector<std::string> SimFindOpenHandles();
void SimIoCloseAll();
std::vector<std::string> SimIoOpenHandles();
bool SimIoIsOpen(const std::string &hostPath);

#endif

// What the files of the simulated machine share beyond the call record: the
// loaded machine's settings, the registry tree, the path resolver over the
// drives, the open-handle lists, and the one case folding that every
// case-insensitive comparison of the machine uses.
#ifndef PLATFORM_SIM_SIM_MACHINE_H
#define PLATFORM_SIM_SIM_MACHINE_H

#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

// Errors the seam has no name for.
#define SIM_ERROR_BAD_NETPATH 53L
#define SIM_ERROR_INVALID_NAME 123L
#define SIM_ERROR_FILENAME_EXCED_RANGE 206L

// ------------------------------------------------------------- settings

struct SimSettings {
    bool loaded = false;
    std::string dir;                       // the machine folder
    DWORD build = 0x040A08AE;              // Windows 98 SE, 4.10.2222
    bool csdSet = false;
    std::string csdVersion;
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\SYSTEM";
    std::string currentDir = "C:\\";
    bool versionFails = false;
    bool systemDirFails = false;
    bool windowsDirFails = false;
    bool moreDataPartial = false;          // see RegQueryValueExA
    std::map<std::string, std::string> attributes;  // folded path -> "RHS"
    std::set<std::string> busy;                     // folded paths
};

SimSettings &SimMachine();

// Parses machine.ini text into settings (defaults kept for absent keys).
bool SimParseMachineIni(const std::string &text, SimSettings *settings, std::string *error);

// ------------------------------------------------------------- folding

// Upper case of a code page 1252 byte, as the registry, VFAT and the
// profile compare names.
inline unsigned char SimFoldByte(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return (unsigned char)(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return (unsigned char)(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E)
        return (unsigned char)(c - 16);
    if (c == 0xFF)
        return 0x9F;
    return c;
}

std::string SimFold(const std::string &text);
bool SimSameText(const std::string &a, const std::string &b);

// The text without the blanks at either end.
std::string SimTrim(const std::string &text, const char *blanks = " \t\r");

// Raw host file access for the machine's own files.
bool SimReadHostFile(const std::string &hostPath, std::string *bytes);
bool SimWriteHostFile(const std::string &hostPath, const std::string &bytes);

// ------------------------------------------------------------- registry

struct SimRegValue {
    std::string name;  // "" is the default value
    DWORD type;
    std::string data;  // the stored bytes, exactly
};

struct SimRegKey : std::enable_shared_from_this<SimRegKey> {
    std::string name;  // case kept
    SimRegKey *parent = nullptr;
    std::vector<std::shared_ptr<SimRegKey>> subkeys;  // stored order
    std::map<std::string, SimRegKey *> index;          // folded name -> subkey
    std::vector<SimRegValue> values;                   // stored order
    bool deleted = false;  // set on a whole subtree when it is deleted
    std::string deletedPath;
};

// Longest key name the Windows 98 registry stores.
#define SIM_MAX_KEY_NAME 255

void SimRegReset();
// The stored roots: "HKEY_LOCAL_MACHINE" and "HKEY_USERS", in export order.
SimRegKey *SimRegRoot(int index);
const char *SimRegRootName(int index);
int SimRegRootCount();

// A full path under any root name (aliases and HKLM-style short names
// accepted) rewritten under its stored root: "HKEY_CLASSES_ROOT\x" gives
// "HKEY_LOCAL_MACHINE\SOFTWARE\Classes\x". False for an unknown root.
bool SimRegCanonicalPath(const std::string &fullPath, std::string *canonical);

// The key at a canonical path, or null. create: missing keys are added.
SimRegKey *SimRegFindPath(const std::string &canonical, bool create, std::string *error);

SimRegValue *SimRegFindValue(SimRegKey *key, const std::string &name);

// The full path of a key under its stored root.
std::string SimRegKeyPath(const SimRegKey *key);

// REGEDIT4 text of the whole registry, and its reading. The text read is
// kept, with the blocks of it that each key owns, until the next reading or
// reset.
std::string SimRegExport();
bool SimRegImport(const std::string &text, std::string *error);
void SimRegForgetText();
// The text read less the blocks of every key deleted since (see
// regedit.cpp); false, with nothing filled, when no key was deleted.
bool SimRegEditedText(std::string *text);

// Open key handles, for the leak report.
void SimRegCloseAll();
std::vector<std::string> SimRegOpenHandles();

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

// Wildcard match as Windows 9x does it, case-insensitively.
bool SimMatchPattern(const std::string &pattern, const std::string &name);

// The machine's attribute marks of a resolved path.
bool SimIsReadOnly(const SimPath &path);
bool SimIsBusy(const SimPath &path);
// The attributes that a search reports for the entry with this key.
DWORD SimAttributesOf(const std::string &key, bool isDir, bool hostReadOnly);

// ------------------------------------------------------------- handles

// Forgets the call record, the call counts, the faults, the last error and
// the restart requests.
void SimResetRecord();

// Ends a Boolean service: TRUE when error is ERROR_SUCCESS, else FALSE with
// error left as the last error; the call is recorded either way.
BOOL SimBooleanResult(const char *name, const std::vector<std::string> &args, long error);

// Open files and heap blocks are both listed and released by the io part.

void SimFindCloseAll();
std::vector<std::string> SimFindOpenHandles();
void SimIoCloseAll();
std::vector<std::string> SimIoOpenHandles();
bool SimIoIsOpen(const std::string &hostPath);

// The machine's WIN.INI, parsed as the profile functions read it: sections
// in file order, the first of each name, each with its keys.
struct SimProfileSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
};
std::vector<SimProfileSection> SimParseProfile(const std::string &text);
// The canonical path of WIN.INI ("C:\WINDOWS\WIN.INI").
std::string SimProfilePath();

#endif

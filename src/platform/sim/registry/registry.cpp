// The simulated registry: one tree per stored root, the aliases over them,
// and the registry services of the seam.
//
// Windows 98 behaviour kept here:
//  - HKEY_CLASSES_ROOT, HKEY_CURRENT_USER and HKEY_CURRENT_CONFIG are views
//    of HKEY_LOCAL_MACHINE\SOFTWARE\Classes, HKEY_USERS\.DEFAULT and
//    HKEY_LOCAL_MACHINE\Config\0001, so a deletion through one name is seen
//    through the other;
//  - RegDeleteKeyA removes the whole subtree (NT refuses a key with
//    subkeys); an empty or null subkey is refused here, so that no call can
//    delete a root or the key a handle holds;
//  - a handle stays valid after its key is deleted, and every read through
//    it fails with ERROR_BADKEY; a handle never given out, or NULL, is
//    ERROR_BADKEY too; Windows 98 gives an open key's handle again when the
//    key is opened again (one close closes it for both); Windows 95 takes a
//    second close of a handle without complaint;
//  - a subkey path that starts with a backslash is not found;
//  - RegQueryValueExA returns a REG_SZ value as a string, up to its first
//    NUL and with one NUL (none stored, or several: the string Windows 9x
//    kept), other types' stored bytes exactly; on ERROR_MORE_DATA it leaves
//    the caller's buffer untouched (machine.ini MoreData=partial copies the
//    bytes that fit instead, without a NUL, for tests of the other case); a
//    missing value sets the type to 0 and leaves the size alone;
//  - RegSetValueExA keeps a REG_SZ value as the caller's text up to its
//    NUL, with the NUL, whatever size it is given, and refuses one with no
//    data at all (ERROR_INVALID_PARAMETER); other types as given.
// docs/machine-format.md holds each rule with its record of Windows 9x.
#include <cstring>

#include "core/core.h"
#include "registry/registry.h"
#include "sim.h"

namespace {

const char *const g_rootNames[] = {"HKEY_LOCAL_MACHINE", "HKEY_USERS"};
const int ROOT_COUNT = 2;
std::shared_ptr<SimRegKey> g_roots[ROOT_COUNT];

// Every root name that the program or a machine file may use, with the
// stored path it stands for.
const struct {
    const char *name;
    const char *shortName;
    HKEY key;
    const char *stored;
} g_rootAliases[] = {
    {"HKEY_LOCAL_MACHINE", "HKLM", HKEY_LOCAL_MACHINE, "HKEY_LOCAL_MACHINE"},
    {"HKEY_USERS", "HKU", HKEY_USERS, "HKEY_USERS"},
    {"HKEY_CLASSES_ROOT", "HKCR", HKEY_CLASSES_ROOT, "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes"},
    {"HKEY_CURRENT_USER", "HKCU", HKEY_CURRENT_USER, "HKEY_USERS\\.DEFAULT"},
    {"HKEY_CURRENT_CONFIG", "HKCC", HKEY_CURRENT_CONFIG, "HKEY_LOCAL_MACHINE\\Config\\0001"},
};

std::map<UINT_PTR, std::shared_ptr<SimRegKey>> g_handles;
UINT_PTR g_nextHandle = 1;

void EnsureRoots()
{
    for (int i = 0; i < ROOT_COUNT; i++) {
        if (!g_roots[i]) {
            g_roots[i] = std::make_shared<SimRegKey>();
            g_roots[i]->name = g_rootNames[i];
        }
    }
}

std::vector<std::string> SplitPath(const std::string &path)
{
    std::vector<std::string> parts;
    size_t start = 0;
    while (true) {
        size_t slash = path.find('\\', start);
        parts.push_back(path.substr(start, slash == std::string::npos ? std::string::npos
                                                                       : slash - start));
        if (slash == std::string::npos)
            break;
        start = slash + 1;
    }
    return parts;
}

SimRegKey *FindChild(SimRegKey *key, const std::string &name)
{
    auto found = key->index.find(SimFold(name));
    return found == key->index.end() ? nullptr : found->second;
}

SimRegKey *AddChild(SimRegKey *key, const std::string &name)
{
    auto child = std::make_shared<SimRegKey>();
    child->name = name;
    child->parent = key;
    key->subkeys.push_back(child);
    key->index[SimFold(name)] = child.get();
    return child.get();
}

// A handle may outlive the parents of its deleted key, so every key of the
// subtree keeps its path as text and forgets its parent.
void MarkDeleted(SimRegKey *key, const std::string &path)
{
    for (auto &child : key->subkeys)
        MarkDeleted(child.get(), path + "\\" + child->name);
    key->deleted = true;
    key->deletedPath = path;
    key->parent = nullptr;
}

// Walks a relative subkey path. One trailing backslash is tolerated; an
// empty component or one longer than a key name can be is a bad key.
long WalkSubkey(SimRegKey *start, const char *subkey, SimRegKey **target)
{
    *target = start;
    if (!subkey || !*subkey)
        return ERROR_SUCCESS;
    std::string path(subkey);
    if (path[0] == '\\')
        return ERROR_FILE_NOT_FOUND;
    if (path.back() == '\\')
        path.pop_back();
    SimRegKey *key = start;
    for (const std::string &part : SplitPath(path)) {
        if (part.empty() || part.size() > SIM_MAX_KEY_NAME)
            return ERROR_BADKEY;
        key = FindChild(key, part);
        if (!key)
            return ERROR_FILE_NOT_FOUND;
    }
    *target = key;
    return ERROR_SUCCESS;
}

// The key a handle stands for.
long HandleKey(HKEY hKey, SimRegKey **key)
{
    *key = nullptr;
    for (const auto &alias : g_rootAliases) {
        if (alias.key == hKey) {
            EnsureRoots();
            *key = SimRegFindPath(alias.stored, false, nullptr);
            return *key ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
        }
    }
    auto found = g_handles.find((UINT_PTR)hKey);
    if (found == g_handles.end())
        return ERROR_BADKEY;
    if (found->second->deleted)
        return ERROR_BADKEY;
    *key = found->second.get();
    return ERROR_SUCCESS;
}

// Recorded data of a value read: the bytes stored, up to a NUL.
std::string DataText(const BYTE *data, DWORD size)
{
    const char *text = (const char *)data;
    size_t length = 0;
    while (length < size && text[length])
        length++;
    return std::string(text, length);
}

}  // namespace

void SimRegReset()
{
    g_roots[0].reset();
    g_roots[1].reset();
    EnsureRoots();
    SimRegForgetText();
}

SimRegKey *SimRegRoot(int index)
{
    EnsureRoots();
    return g_roots[index].get();
}

const char *SimRegRootName(int index)
{
    return g_rootNames[index];
}

int SimRegRootCount()
{
    return ROOT_COUNT;
}

bool SimRegCanonicalPath(const std::string &fullPath, std::string *canonical)
{
    size_t slash = fullPath.find('\\');
    std::string root = fullPath.substr(0, slash);
    for (const auto &alias : g_rootAliases) {
        if (SimSameText(root, alias.name) || SimSameText(root, alias.shortName)) {
            *canonical = alias.stored;
            if (slash != std::string::npos)
                *canonical += fullPath.substr(slash);
            return true;
        }
    }
    return false;
}

SimRegKey *SimRegFindPath(const std::string &canonical, bool create, std::string *error)
{
    EnsureRoots();
    std::vector<std::string> parts = SplitPath(canonical);
    SimRegKey *key = nullptr;
    for (int i = 0; i < ROOT_COUNT; i++) {
        if (SimSameText(parts[0], g_rootNames[i]))
            key = g_roots[i].get();
    }
    if (!key) {
        if (error)
            *error = "unknown root " + parts[0];
        return nullptr;
    }
    for (size_t i = 1; i < parts.size(); i++) {
        if (parts[i].empty() || parts[i].size() > SIM_MAX_KEY_NAME) {
            if (error)
                *error = parts[i].empty() ? "empty key name" : "key name longer than 255";
            return nullptr;
        }
        SimRegKey *child = FindChild(key, parts[i]);
        if (!child) {
            if (!create)
                return nullptr;
            child = AddChild(key, parts[i]);
        }
        key = child;
    }
    return key;
}

SimRegValue *SimRegFindValue(SimRegKey *key, const std::string &name)
{
    for (SimRegValue &value : key->values) {
        if (SimSameText(value.name, name))
            return &value;
    }
    return nullptr;
}

std::string SimRegKeyPath(const SimRegKey *key)
{
    if (key->deleted)
        return key->deletedPath;
    std::string path = key->name;
    for (const SimRegKey *up = key->parent; up; up = up->parent)
        path = up->name + "\\" + path;
    return path;
}

void SimRegCloseAll()
{
    g_handles.clear();
    g_nextHandle = 1;
}

std::vector<std::string> SimRegOpenHandles()
{
    std::vector<std::string> open;
    for (const auto &handle : g_handles) {
        std::string text = "hkey#" + std::to_string((unsigned long long)handle.first) + " " +
                           SimRegKeyPath(handle.second.get());
        if (handle.second->deleted)
            text += " (deleted)";
        open.push_back(text);
    }
    return open;
}

bool SimKeyExists(const std::string &fullPath)
{
    std::string canonical;
    if (!SimRegCanonicalPath(fullPath, &canonical))
        return false;
    return SimRegFindPath(canonical, false, nullptr) != nullptr;
}

// ------------------------------------------------------------- services

LONG WINAPI RegOpenKeyExA(HKEY hKey, LPCSTR lpSubKey, DWORD ulOptions, REGSAM samDesired,
                          PHKEY phkResult)
{
    long result;
    if (!SimFault("RegOpenKeyExA", &result)) {
        SimRegKey *start;
        SimRegKey *target = nullptr;
        if (!phkResult)
            result = ERROR_INVALID_PARAMETER;
        else if ((result = HandleKey(hKey, &start)) == ERROR_SUCCESS)
            result = WalkSubkey(start, lpSubKey, &target);
        if (result == ERROR_SUCCESS) {
            UINT_PTR handle = 0;
            for (const auto &open : g_handles)
                if (!SimIsWindows95() && open.second.get() == target)
                    handle = open.first;
            if (!handle) {
                handle = g_nextHandle++;
                g_handles[handle] = target->shared_from_this();
            }
            *phkResult = (HKEY)handle;
        }
    }
    if (result != ERROR_SUCCESS && phkResult)
        *phkResult = nullptr;
    SimRecord("RegOpenKeyExA",
              {SimKeyText(hKey), SimArgText(lpSubKey), SimNumberText(ulOptions),
               SimNumberText(samDesired), phkResult ? SimKeyText(*phkResult) : "NULL"},
              result);
    return result;
}

LONG WINAPI RegQueryValueExA(HKEY hKey, LPCSTR lpValueName, LPDWORD lpReserved, LPDWORD lpType,
                             LPBYTE lpData, LPDWORD lpcbData)
{
    std::string sizeIn = lpcbData ? SimNumberText(*lpcbData) : "NULL";
    std::string stored;
    long result;
    if (!SimFault("RegQueryValueExA", &result)) {
        SimRegKey *key;
        SimRegValue *value = nullptr;
        if ((result = HandleKey(hKey, &key)) != ERROR_SUCCESS) {
        } else if (lpReserved || (lpData && !lpcbData)) {
            result = ERROR_INVALID_PARAMETER;
        } else if (!(value = SimRegFindValue(key, lpValueName ? lpValueName : ""))) {
            result = ERROR_FILE_NOT_FOUND;
            if (lpType)
                *lpType = REG_NONE;
        } else {
            std::string data = value->data;
            if (value->type == REG_SZ)
                data = data.substr(0, data.find('\0')) + std::string(1, '\0');
            DWORD size = (DWORD)data.size();
            if (lpType)
                *lpType = value->type;
            if (lpData && *lpcbData >= size) {
                std::memcpy(lpData, data.data(), size);
                stored = DataText(lpData, size);
            } else if (lpData) {
                result = ERROR_MORE_DATA;
                if (SimMachine().moreDataPartial) {
                    std::memcpy(lpData, data.data(), *lpcbData);
                    stored = DataText(lpData, *lpcbData);
                }
            }
            if (lpcbData)
                *lpcbData = size;
        }
    }
    SimRecord("RegQueryValueExA",
              {SimKeyText(hKey), SimArgText(lpValueName), lpReserved ? "non-NULL" : "NULL",
               lpType ? SimNumberText(*lpType) : "NULL", lpData ? stored : "NULL", sizeIn},
              result);
    return result;
}

// A value set or deleted through an open key; Windows 9x keeps no access
// rights, so any handle may write.
LONG WINAPI RegSetValueExA(HKEY hKey, LPCSTR lpValueName, DWORD Reserved, DWORD dwType, const BYTE *lpData,
                           DWORD cbData)
{
    long result;
    std::string data = lpData ? std::string((const char *)lpData, cbData) : "";
    if (!SimFault("RegSetValueExA", &result)) {
        SimRegKey *key;
        if ((result = HandleKey(hKey, &key)) != ERROR_SUCCESS) {
        } else if (Reserved || (!lpData && (cbData || dwType == REG_SZ))) {
            result = ERROR_INVALID_PARAMETER;
        } else {
            // A string is kept as the caller's text up to its NUL, whatever
            // size the call gives (cut short, none, or past the NUL).
            std::string kept = dwType == REG_SZ ? std::string((const char *)lpData) + '\0' : data;
            SimRegValue value{lpValueName ? lpValueName : "", dwType, kept};
            if (SimRegValue *existing = SimRegFindValue(key, value.name))
                *existing = value;
            else
                key->values.push_back(value);
            key->valuesEdited = true;
        }
    }
    SimRecord("RegSetValueExA",
              {SimKeyText(hKey), SimArgText(lpValueName), SimNumberText(dwType), DataText((const BYTE *)data.data(), (DWORD)data.size()),
               SimNumberText(cbData)},
              result);
    return result;
}

LONG WINAPI RegDeleteValueA(HKEY hKey, LPCSTR lpValueName)
{
    long result;
    if (!SimFault("RegDeleteValueA", &result)) {
        SimRegKey *key;
        if ((result = HandleKey(hKey, &key)) == ERROR_SUCCESS) {
            std::string name = lpValueName ? lpValueName : "";
            result = ERROR_FILE_NOT_FOUND;
            for (size_t i = 0; i < key->values.size(); i++)
                if (SimSameText(key->values[i].name, name)) {
                    key->values.erase(key->values.begin() + (long)i);
                    key->valuesEdited = true;
                    result = ERROR_SUCCESS;
                    break;
                }
        }
    }
    SimRecord("RegDeleteValueA", {SimKeyText(hKey), SimArgText(lpValueName)}, result);
    return result;
}

// The profile phase lists the printers' keys; the Win32 layer enumerates a
// key left behind by an NT-style deletion, which the shipped program run on
// this machine (--exe) reaches.
LONG WINAPI RegEnumKeyA(HKEY hKey, DWORD dwIndex, LPSTR lpName, DWORD cchName)
{
    long result;
    if (!SimFault("RegEnumKeyA", &result)) {
        SimRegKey *key;
        result = HandleKey(hKey, &key);
        std::vector<SimRegKey *> live;
        for (size_t i = 0; result == ERROR_SUCCESS && i < key->subkeys.size(); i++)
            if (!key->subkeys[i]->deleted)
                live.push_back(key->subkeys[i].get());
        if (result == ERROR_SUCCESS && dwIndex >= live.size())
            result = 259L;  // ERROR_NO_MORE_ITEMS
        else if (result == ERROR_SUCCESS && (!lpName || live[dwIndex]->name.size() >= cchName))
            result = ERROR_MORE_DATA;
        else if (result == ERROR_SUCCESS)
            std::memcpy(lpName, live[dwIndex]->name.c_str(), live[dwIndex]->name.size() + 1);
    }
    SimRecord("RegEnumKeyA", {SimKeyText(hKey), SimNumberText(dwIndex)}, result);
    return result;
}

LONG WINAPI RegCloseKey(HKEY hKey)
{
    long result;
    if (!SimFault("RegCloseKey", &result)) {
        result = ERROR_SUCCESS;
        bool predefined = false;
        for (const auto &alias : g_rootAliases)
            predefined = predefined || alias.key == hKey;
        // A handle closed before: Windows 95 does not mind; anything else
        // unknown is a bad key.
        bool givenOut = hKey && (UINT_PTR)hKey < g_nextHandle;
        if (!predefined && !g_handles.erase((UINT_PTR)hKey) && !(SimIsWindows95() && givenOut))
            result = ERROR_BADKEY;
    }
    SimRecord("RegCloseKey", {SimKeyText(hKey)}, result);
    return result;
}

LONG WINAPI RegDeleteKeyA(HKEY hKey, LPCSTR lpSubKey)
{
    long result;
    if (!SimFault("RegDeleteKeyA", &result)) {
        SimRegKey *start;
        SimRegKey *target;
        // NULL: ERROR_BADKEY on Windows 95 (Wine's registry.c); an empty
        // subkey is refused on purpose, so that no call deletes a root or
        // the key a handle holds.
        if (!lpSubKey)
            result = SimIsWindows95() ? ERROR_BADKEY : ERROR_INVALID_PARAMETER;
        else if (!*lpSubKey)
            result = ERROR_INVALID_PARAMETER;
        else if ((result = HandleKey(hKey, &start)) == ERROR_SUCCESS)
            result = WalkSubkey(start, lpSubKey, &target);
        if (result == ERROR_SUCCESS) {
            SimRegKey *parent = target->parent;
            // Held until the subtree is marked, whatever the handles hold.
            std::shared_ptr<SimRegKey> keep = target->shared_from_this();
            parent->index.erase(SimFold(target->name));
            for (size_t i = 0; i < parent->subkeys.size(); i++) {
                if (parent->subkeys[i].get() == target) {
                    parent->subkeys.erase(parent->subkeys.begin() + i);
                    break;
                }
            }
            target->parent = parent;
            MarkDeleted(target, SimRegKeyPath(target));
        }
    }
    SimRecord("RegDeleteKeyA", {SimKeyText(hKey), SimArgText(lpSubKey)}, result);
    return result;
}

LONG WINAPI RegFlushKey(HKEY hKey)
{
    long result;
    if (!SimFault("RegFlushKey", &result)) {
        SimRegKey *key;
        result = HandleKey(hKey, &key);
    }
    SimRecord("RegFlushKey", {SimKeyText(hKey)}, result);
    return result;
}

// RegDeleteKeyA as the removal engine relies on it: the key goes with its
// whole subtree. Windows 95 and 98 do that themselves; NT refuses a key that
// has subkeys, and Wine in Windows 98 mode can stop part-way through several
// subkeys. When the key is still there afterwards, its remaining subkeys are
// deleted here, deepest first, and then the key again.
#include <windows.h>

namespace {

// Deeper than this the rest is left in place (and so is the key). Each level
// holds one key name on the stack.
const int MAX_DEPTH = 32;
// A key name is at most 255 characters.
const DWORD NAME_SIZE = 256;
// Enumeration steps per key: ends the loop even when a deletion reports
// success and leaves the subkey in place.
const int MAX_STEPS = 4096;

BOOL KeyExists(HKEY root, LPCSTR subKey)
{
    HKEY key;
    if (RegOpenKeyExA(root, subKey, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return FALSE;
    RegCloseKey(key);
    return TRUE;
}

LONG DeleteTree(HKEY parent, LPCSTR name, int depth);

// Deletes every subkey of key. A subkey that stays is stepped over, so that
// the enumeration still ends.
void DeleteSubkeys(HKEY key, int depth)
{
    char child[NAME_SIZE];
    DWORD index = 0;
    for (int step = 0; step < MAX_STEPS; step++) {
        if (RegEnumKeyA(key, index, child, NAME_SIZE) != ERROR_SUCCESS)
            return;
        // An empty name would be the key itself.
        if (child[0] == 0 || DeleteTree(key, child, depth + 1) != ERROR_SUCCESS)
            index++;
    }
}

LONG DeleteTree(HKEY parent, LPCSTR name, int depth)
{
    if (depth > MAX_DEPTH)
        return ERROR_BADKEY;
    HKEY key;
    LONG result = RegOpenKeyExA(parent, name, 0, KEY_ENUMERATE_SUB_KEYS, &key);
    if (result != ERROR_SUCCESS)
        return result;
    DeleteSubkeys(key, depth);
    RegCloseKey(key);
    return RegDeleteKeyA(parent, name);
}

}  // namespace

extern "C" LONG WINAPI PlatformRegDeleteKeyA(HKEY root, LPCSTR subKey)
{
    // An empty or missing path names the root itself.
    if (subKey == 0 || subKey[0] == 0)
        return ERROR_BADKEY;

    LONG result = RegDeleteKeyA(root, subKey);
    if (!KeyExists(root, subKey))
        return result;
    return DeleteTree(root, subKey, 0);
}

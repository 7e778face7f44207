// RemoveProgramGroup: the five shortcuts of the printer's Start-menu group,
// then the group folder, which goes only once it is empty (another file in
// it keeps it). The folder lies under the user's "Programs" shell folder.
#include "engine.h"

namespace {

const char SHELL_FOLDERS_KEY[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const char GROUP_FOLDER[] = "\\" PRODUCT_NAME;

// In the order they are deleted; each brings its own backslash.
const int SHORTCUT_WIDTH = 40;
const char g_shortcuts[][SHORTCUT_WIDTH] = {
    "\\Guida Duneva 10.LNK",
    "\\Problemi e soluzioni Duneva 10.LNK",
    "\\Monitor Stampante Duneva 10.LNK",
    "\\Disinstallazione Duneva 10.LNK",
    "\\Manuale Stampante Duneva 10.LNK",
    "",
};

BOOL ComposeShortcutPath(char *path, const char *folder, const char *shortcut)
{
    return JoinText(path, TEXT_SIZE, folder, shortcut, "");
}

}  // namespace

void RemoveProgramGroup()
{
    char folder[TEXT_SIZE];
    char path[TEXT_SIZE];
    HKEY key = 0;

    folder[0] = 0;
    int read = VALUE_TEXT_MISSING;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, SHELL_FOLDERS_KEY, 0, KEY_QUERY_VALUE, &key) ==
        ERROR_SUCCESS) {
        read = ReadValueText(key, "Programs", folder, TEXT_SIZE);
        RegCloseKey(key);
    }
    // A folder that did not fit is unknown: deleting by a cut path could hit
    // another program's files. One that is missing or empty is unknown too:
    // the group would be looked for at the root of the current drive.
    if (read != VALUE_TEXT_READ || !folder[0] || !AppendText(folder, TEXT_SIZE, GROUP_FOLDER))
        return;
    // All six steps or none: a group half removed is no better than one
    // left whole.
    for (int i = 0; lstrcmpA(g_shortcuts[i], "") != 0; i++) {
        if (!ComposeShortcutPath(path, folder, g_shortcuts[i]))
            return;
    }

    for (int i = 0; lstrcmpA(g_shortcuts[i], "") != 0; i++) {
        ComposeShortcutPath(path, folder, g_shortcuts[i]);
        DeleteFileA(path);
    }
    RemoveDirectoryA(folder);
}

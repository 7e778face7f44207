// Bounded composition over lstrcpyA/lstrcatA: the platform's calls take no
// size, and the machine decides how long a directory or a registry value
// is, so every join is measured first and a path that would not fit is not
// composed at all.
#include "engine.h"

BOOL CopyText(char *dst, int size, const char *text)
{
    if (lstrlenA(text) >= size)
        return FALSE;
    lstrcpyA(dst, text);
    return TRUE;
}

BOOL AppendText(char *dst, int size, const char *text)
{
    if (lstrlenA(dst) + lstrlenA(text) >= size)
        return FALSE;
    lstrcatA(dst, text);
    return TRUE;
}

BOOL ComposePath(char *path, const char *directory, const char *name)
{
    return CopyText(path, TEXT_SIZE, directory) && AppendText(path, TEXT_SIZE, "\\") &&
           AppendText(path, TEXT_SIZE, name);
}

BOOL SameName(const char *text, const char *name)
{
    for (; *name; text++, name++) {
        if (LowerAscii(*text) != LowerAscii(*name))
            return FALSE;
    }
    return *text == 0;
}

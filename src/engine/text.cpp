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

BOOL JoinText(char *dst, int size, const char *first, const char *between, const char *last)
{
    return CopyText(dst, size, first) && AppendText(dst, size, between) && AppendText(dst, size, last);
}

BOOL ComposePath(char *path, const char *directory, const char *name)
{
    // An empty directory is a failed query's: "\\name" would be at the root
    // of whatever drive is current.
    return directory[0] && JoinText(path, TEXT_SIZE, directory, "\\", name);
}

BOOL SameName(const char *text, const char *name)
{
    for (; *name; text++, name++) {
        if (LowerAscii(*text) != LowerAscii(*name))
            return FALSE;
    }
    return *text == 0;
}

// RemoveSetupInformation: the driver's INF file. Windows 95 (build 950 and
// before) copies it to INF under an OEMn.INF name of its choosing, so those
// files are searched for one of the driver's file names, and the printer's
// name: another maker's INF may name the file (to have it closed before it
// installs) but never our printer. Later builds keep it in INF\OTHER under
// its own name.
#include "engine.h"

namespace {

const char INF_SEARCH_PATTERN[] = "oem*.inf";
const char INF_MARKER_WORD[] = "BR32STAT.EXE";
const char INF_OTHER_FILE[] = "\\OTHER\\BRASCORABRDUNE10.INF";  // in INF

// The name list starts with room for this many names and doubles when full,
// up to a size whose byte count still fits a 32-bit number.
const int FIRST_NAME_SLOTS = 200;
const int MOST_NAME_SLOTS = 200 * 4096;
// A word of up to 199 bytes is compared; a longer one is read past.
const int WORD_SIZE = 200;

struct NameList {
    char *slots;  // slotCount slots of MAX_PATH characters
    int slotCount;
    int used;
};

void CopyBytes(char *dst, const char *src, unsigned long size)
{
    for (unsigned long i = 0; i < size; i++)
        dst[i] = src[i];
}

// Returns FALSE when the list is full and cannot grow.
BOOL AddName(NameList &list, char *name)
{
    if (list.used == list.slotCount) {
        if (list.slotCount >= MOST_NAME_SLOTS)
            return FALSE;
        unsigned long oldSize = (unsigned long)list.slotCount * MAX_PATH;
        char *grown = (char *)BlockAlloc(oldSize * 2);
        if (!grown)
            return FALSE;
        CopyBytes(grown, list.slots, oldSize);
        BlockFree(list.slots);
        list.slots = grown;
        list.slotCount *= 2;
    }
    // The search fills a fixed array; make sure its name ends inside it.
    name[MAX_PATH - 1] = 0;
    CopyText(list.slots + (unsigned long)list.used * MAX_PATH, MAX_PATH, name);
    list.used++;
    return TRUE;
}

// Only a word as long as the marker, and starting as it does, can equal it.
// A file holds tens of thousands of words: the others are passed over here
// rather than with a call each.
BOOL MayBeWord(const char *read, const char *word, int length)
{
    if (read[0] != word[0])
        return FALSE;
    for (int i = 0; i < length; i++) {
        if (read[i] == 0)
            return FALSE;
    }
    return read[length] == 0;
}

BOOL FileHoldsWord(const char *path, const char *word, int length)
{
    char read[WORD_SIZE];
    TEXTSTREAM *stream = TextOpen(path, "r");
    if (!stream)
        return FALSE;  // a directory of that name, or a file locked against reading
    BOOL match = FALSE;
    int result;
    while (!match && (result = TextReadWord(stream, read, WORD_SIZE)) != TEXT_NO_WORD) {
        if (result == TEXT_WORD && MayBeWord(read, word, length) && lstrcmpA(read, word) == 0)
            match = TRUE;
    }
    TextClose(stream);
    return match;
}

// Whether the text of path holds text anywhere, in its bytes up to a 0x1A.
BOOL FileHoldsText(const char *path, const char *text, int length)
{
    TEXTSTREAM *stream = TextOpen(path, "r");
    if (!stream)
        return FALSE;
    char window[WORD_SIZE];  // the last length bytes read
    int held = 0;
    BOOL match = FALSE;
    for (int c; !match && (c = TextReadByte(stream)) >= 0 && c != 0x1A;) {
        if (held == length) {
            for (int i = 1; i < length; i++)
                window[i - 1] = window[i];
            held--;
        }
        window[held++] = (char)c;
        match = held == length;
        for (int i = 0; match && i < length; i++)
            match = window[i] == text[i];
    }
    TextClose(stream);
    return match;
}

}  // namespace

void DeleteFilesContaining(const char *directory, const char *pattern, const char *word, const char *text)
{
    char path[TEXT_SIZE];
    WIN32_FIND_DATAA found;

    int length = lstrlenA(word), textLength = lstrlenA(text);
    if (length <= 0 || length >= WORD_SIZE || textLength <= 0 || textLength >= WORD_SIZE ||
        !ComposePath(path, directory, pattern))
        return;
    NameList list;
    list.slotCount = FIRST_NAME_SLOTS;
    list.used = 0;
    list.slots = (char *)BlockAlloc((unsigned long)FIRST_NAME_SLOTS * MAX_PATH);
    if (!list.slots)
        return;

    // Every name is collected, and the search closed, before any file is
    // opened or deleted, so the deletions cannot disturb the enumeration.
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE) {
        BlockFree(list.slots);
        return;
    }
    BOOL room = AddName(list, found.cFileName);
    while (room && FindNextFileA(search, &found))
        room = AddName(list, found.cFileName);
    FindClose(search);

    for (int i = 0; i < list.used; i++) {
        if (ComposePath(path, directory, list.slots + (unsigned long)i * MAX_PATH) &&
            FileHoldsWord(path, word, length) && FileHoldsText(path, text, textLength))
            DeleteFileA(path);
    }
    BlockFree(list.slots);
}

void RemoveSetupInformation(const UninstallRun &run)
{
    char infPath[TEXT_SIZE];

    // An empty Windows directory is a failed query's: nothing is looked for.
    if (!ComposePath(infPath, run.windowsDir, "INF"))
        return;
    if (!BuildGateOpen(run.version))
        DeleteFilesContaining(infPath, INF_SEARCH_PATTERN, INF_MARKER_WORD, DRIVER_NAME);
    else if (AppendText(infPath, TEXT_SIZE, INF_OTHER_FILE))
        DeleteFileA(infPath);
}

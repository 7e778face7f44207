// ScheduleRestartDeletions: five driver files stay loaded until Windows
// restarts, so they are listed in WININIT.INI, whose [rename] section
// Windows 9x works through once at its next start, before it loads them.
// There "dest=src" moves src onto dest, and only the destination NUL (the
// DOS null device) deletes: so each file gets a line "NUL=path". Driver
// files that were in use when DeleteDriverFiles tried them follow the five.
//
// Our lines go into the first [rename] section: a start-up that reads only
// one (Wine's does; nothing says Windows 9x reads a second) acts on them
// however many sections follow. When another section follows it, the file
// is rewritten beside itself and swapped in, so that a failure at any step
// leaves WININIT.INI as it was. Otherwise the lines are appended.
//
// The NT family never reads WININIT.INI: every listed path also goes to
// MoveFileExA, which registers it there and does nothing on Windows 9x.
#include "engine.h"

const char g_restartFiles[][FILE_NAME_WIDTH] = {
    "BR32TN16.DLL",
    "BR32TN32.DLL",
    "BR32LANG.DLL",
    "BR32PRIN.DLL",
    "BR32UNIN.EXE",
    "",
};

namespace {

const unsigned char CONTROL_Z = 0x1A;

// What the existing text is, as far as our lines are concerned.
struct IniState {
    BOOL endsInLineEnd;  // empty, or its last byte is LF (a final 0x1A aside)
    BOOL inRename;       // its last section header is [rename]
    long insertAt;       // start of the header line that ends the first
                         // [rename] section; -1: none follows it
    long size;           // bytes read
};

// Reads the text once, a byte at a time, keeping only the state of the line
// being read: a file of any size needs no more memory. A section header is
// a line whose first byte after blanks (space, tab, CR) is '['; it is
// [rename] when "rename]" follows in any case. Read as stored (cut FALSE),
// a final 0x1A does not count: "a+" cuts it off before it appends; read
// through "a+" (cut TRUE), a 0x1A still at the end is text.
IniState ReadIniState(TEXTSTREAM *ini, BOOL cut)
{
    static const char RENAME[] = "[rename]";
    IniState state;
    state.endsInLineEnd = TRUE;
    state.inRename = FALSE;
    state.insertAt = -1;
    BOOL lineStart = TRUE;
    BOOL seenRename = FALSE;
    BOOL endedBefore = TRUE;  // endsInLineEnd before the last byte
    int last = -1;
    int matched = -1;  // bytes of RENAME matched on a header line; -1: none
    long lineOffset = 0;
    long offset = 0;
    for (int c = TextReadByte(ini); c >= 0; c = TextReadByte(ini), offset++) {
        endedBefore = state.endsInLineEnd;
        last = c;
        state.endsInLineEnd = c == '\n';
        if (c == '\n') {
            lineStart = TRUE;
            matched = -1;
            lineOffset = offset + 1;
        } else if (lineStart) {
            // A lone CR starts no line: a reader that splits lines at LF
            // skips it with the blanks.
            if (c == ' ' || c == '\t' || c == '\r')
                continue;
            lineStart = FALSE;
            if (c == '[') {
                if (seenRename && state.insertAt < 0)
                    state.insertAt = lineOffset;
                state.inRename = FALSE;
                matched = 1;
            }
        } else if (matched > 0) {
            if (LowerAscii(c) != RENAME[matched]) {
                matched = -1;
            } else if (RENAME[++matched] == 0) {
                seenRename = TRUE;
                state.inRename = TRUE;
                matched = -1;
            }
        }
    }
    state.size = offset;
    if (last == CONTROL_Z && !cut)
        state.endsInLineEnd = endedBefore;
    // Unread text may end in anything: appended, a line end and a header of
    // our own are harmless where they turn out not to be needed.
    if (TextFailed(ini)) {
        state.endsInLineEnd = FALSE;
        state.inRename = FALSE;
        state.insertAt = -1;
    }
    return state;
}

// Each listed file's line "NUL=path", in order: the restart table's, then
// the kept driver files in their table's order. A line too long for the
// buffer is left out. Written to ini when there is one; each path handed to
// MoveFileExA when registerNt.
void ListFiles(const UninstallRun &run, TEXTSTREAM *ini, BOOL registerNt)
{
    char line[TEXT_SIZE];
    // A bit is set only for a row of the driver-file table.
    const int restartFiles = CountFileTable(g_restartFiles);
    for (int i = 0; i < restartFiles + 32; i++) {
        int row = i - restartFiles;
        if (row >= 0 && (run.keptDriverFiles & ((DWORD)1 << row)) == 0)
            continue;
        const char *name = row < 0 ? g_restartFiles[i] : g_driverFiles[row];
        if (!CopyText(line, TEXT_SIZE, "NUL=") || !AppendText(line, TEXT_SIZE, run.systemDir) ||
            !AppendText(line, TEXT_SIZE, "\\") || !AppendText(line, TEXT_SIZE, name))
            continue;
        if (ini)
            TextWriteLine(ini, line);
        if (registerNt)
            MoveFileExA(line + 4, 0, MOVEFILE_DELAY_UNTIL_REBOOT);
    }
}

// The lines at the end, after a line end when the text ends inside a line
// and under a header of our own when its last section is another. The
// state is read through the stream that appends, so that it is the text
// the lines follow.
void Append(const char *iniPath, const UninstallRun &run)
{
    // Appending keeps whatever the file holds, and its marks; a file that
    // cannot be opened (read-only, no handle left) gets nothing.
    TEXTSTREAM *ini = TextOpen(iniPath, "a+");
    if (!ini)
        return;
    IniState state = ReadIniState(ini, TRUE);
    if (!state.endsInLineEnd)
        TextWriteLine(ini, "");
    if (!state.inRename)
        TextWriteLine(ini, "[rename]");
    ListFiles(run, ini, FALSE);
    TextClose(ini);
}

// The text again with the lines before insertAt, byte for byte, in newPath,
// and on the disk. FALSE when the copy is not exactly the size bytes the
// state was read from: a writer in between may have changed the file.
BOOL WriteWithLines(const char *iniPath, const char *newPath, const IniState &state,
                    const UninstallRun &run)
{
    // Created afresh: a file left there by anyone else is not written into.
    DeleteFileA(newPath);
    TEXTSTREAM *out = TextOpen(newPath, "a+");
    if (!out)
        return FALSE;
    BOOL ok = TextReadByte(out) < 0 && !TextFailed(out);
    TEXTSTREAM *in = ok ? TextOpen(iniPath, "r") : 0;
    if (in) {
        long offset = 0;
        for (int c = TextReadByte(in); c >= 0; c = TextReadByte(in), offset++) {
            if (offset == state.insertAt)
                ListFiles(run, out, FALSE);
            TextWriteByte(out, c);
        }
        ok = offset == state.size && !TextFailed(in);
        TextClose(in);
    }
    return TextClose(out) == 0 && in && ok;
}

// Our two names beside WININIT.INI, each of the same length as its name so
// that they fit where it does.
struct SwapPaths {
    char ini[TEXT_SIZE];
    char newFile[TEXT_SIZE];  // the new text, before it is moved in
    char oldFile[TEXT_SIZE];  // the old text, while the new is moved in
};

// WININIT.INI rewritten with the lines in place, in three moves because
// Windows 9x has no MoveFileEx and MoveFileA refuses an existing target.
// FALSE when it was put back as it was, for the caller to append instead.
// A failed move back keeps both of our files beside whatever is there, so
// that the next run can tell what happened (SettleLeftovers).
BOOL Rewrite(const SwapPaths &paths, const UninstallRun &run, const IniState &state)
{
    if (WriteWithLines(paths.ini, paths.newFile, state, run) && MoveFileA(paths.ini, paths.oldFile)) {
        if (!MoveFileA(paths.newFile, paths.ini)) {
            if (!MoveFileA(paths.oldFile, paths.ini))
                return TRUE;
            DeleteFileA(paths.newFile);
            return FALSE;
        }
        DeleteFileA(paths.oldFile);
        return TRUE;
    }
    DeleteFileA(paths.newFile);
    return FALSE;
}

inline BOOL Exists(const char *path)
{
    return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES;
}

// Results of SettleLeftovers.
enum { SETTLED = 0, APPEND_ONLY = 1, LEAVE_ALONE = 2 };

// What an earlier run that stopped part-way left, told by which of the
// three files are there; each state is put right before this run writes.
int SettleLeftovers(const SwapPaths &paths)
{
    BOOL ini = Exists(paths.ini), oldFile = Exists(paths.oldFile), newFile = Exists(paths.newFile);
    if (oldFile) {
        // All three: a move back failed, and someone made WININIT.INI since.
        // Which text is whose cannot be told: none of them is touched.
        if (ini && newFile)
            return APPEND_ONLY;
        if (ini) {
            // The swap was made: the old text is ours to delete.
            DeleteFileA(paths.oldFile);
        } else if (!MoveFileA(paths.oldFile, paths.ini)) {
            // Stopped between the moves: the old text is WININIT.INI. Until
            // it is back, a new one would pass it for ours.
            return LEAVE_ALONE;
        }
    }
    // An unfinished copy.
    if (newFile)
        DeleteFileA(paths.newFile);
    return SETTLED;
}

}  // namespace

void ScheduleRestartDeletions(const UninstallRun &run)
{
    SwapPaths paths;
    if (ComposePath(paths.ini, run.windowsDir, "wininit.ini") &&
        ComposePath(paths.newFile, run.windowsDir, "BR32WIN.NEW") &&
        ComposePath(paths.oldFile, run.windowsDir, "BR32WIN.OLD")) {
        int settled = SettleLeftovers(paths);
        // Only a plain file is moved: a move would not keep a read-only,
        // hidden or system mark where the file's owner set it.
        DWORD marks = GetFileAttributesA(paths.ini);
        IniState state;
        state.insertAt = -1;
        // Read as it is stored: "a+" would cut a final 0x1A before the
        // phase knows whether it appends.
        TEXTSTREAM *read = settled == SETTLED && marks != INVALID_FILE_ATTRIBUTES &&
                                   (marks & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN |
                                             FILE_ATTRIBUTE_SYSTEM)) == 0
                               ? TextOpen(paths.ini, "r")
                               : 0;
        if (read) {
            state = ReadIniState(read, FALSE);
            TextClose(read);
        }
        if (settled != LEAVE_ALONE && (state.insertAt < 0 || !Rewrite(paths, run, state)))
            Append(paths.ini, run);
    }
    ListFiles(run, 0, TRUE);
}

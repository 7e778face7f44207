// ScheduleRestartDeletions: five driver files stay loaded until Windows
// restarts, so they are listed in WININIT.INI, whose [rename] section
// Windows 9x works through once at its next start, before it loads them,
// and then renames WININIT.BAK. There "dest=src" moves src onto dest, and
// only the destination NUL (the DOS null device) deletes: so each file gets
// a line "NUL=path". Driver files that were in use when DeleteDriverFiles
// tried them follow the five.
//
// Our lines go into the first [rename] section: a start-up that reads only
// one (Wine's does; nothing says Windows 9x reads a second) acts on them
// however many sections follow. When another section follows it, the file
// is rewritten beside itself and moved in; otherwise the lines are appended.
// Other programs' lines must each be acted upon exactly once: never lost,
// never seen again by a start that already acted on them. How that holds
// through power cuts, starts and other installers in between is the table
// above Settle, checked by tests/unit/crash_sequences.cpp.
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

// WININIT.INI and our three names beside it, each as long as its name so
// that they fit wherever it does.
enum { INI, OLD_TEXT, NEW_TEXT, WAITING, NAME_COUNT };
const char g_names[NAME_COUNT][12] = {
    "wininit.ini",
    "BR32WIN.OLD",  // WININIT.INI set aside while the new text is moved in
    "BR32WIN.NEW",  // the new text, complete once BR32WIN.OLD is there
    "BR32WIN.PND",  // a new text that found another WININIT.INI in its place
};

struct Paths {
    char at[NAME_COUNT][TEXT_SIZE];
};

// What a text is, as far as our lines are concerned.
struct IniState {
    BOOL endsInLineEnd;  // empty, or its last byte is LF (a final 0x1A aside)
    BOOL inRename;       // its last section header is [rename]
    long insertAt;       // start of the header line that ends the first
                         // [rename] section; -1: none follows it
    long size;           // bytes read; -1: not read
};

// "[rename]" at a line's start, a byte at a time: a header is a line whose
// first byte after blanks (space, tab, CR) is '['; it is [rename] when
// "rename]" follows in any case. A lone CR starts no line: a reader that
// splits lines at LF skips it with the blanks.
struct HeaderMatch {
    BOOL lineStart;
    int matched;  // bytes of "[rename]" matched on a header line; -1: none
};

enum { HEADER_NONE, HEADER_BLANK, HEADER_OTHER, HEADER_PART, HEADER_RENAME };

int MatchHeader(HeaderMatch &m, int c)
{
    static const char RENAME[] = "[rename]";
    if (c == '\n') {
        m.lineStart = TRUE;
        m.matched = -1;
        return HEADER_NONE;
    }
    if (m.lineStart) {
        if (c == ' ' || c == '\t' || c == '\r')
            return HEADER_BLANK;
        m.lineStart = FALSE;
        if (c != '[')
            return HEADER_NONE;
        m.matched = 1;
        return HEADER_PART;
    }
    if (m.matched < 0)
        return HEADER_NONE;
    if (LowerAscii(c) != RENAME[m.matched]) {
        m.matched = -1;
        return HEADER_OTHER;
    }
    if (RENAME[++m.matched] != 0)
        return HEADER_PART;
    m.matched = -1;
    return HEADER_RENAME;
}

// Reads the text once, a byte at a time, keeping only the state of the line
// being read: a file of any size needs no more memory. Read as stored (cut
// FALSE), a final 0x1A does not count: "a+" cuts it off before it appends;
// read through "a+" (cut TRUE), a 0x1A still at the end is text.
IniState ReadIniState(TEXTSTREAM *ini, BOOL cut)
{
    IniState state;
    state.endsInLineEnd = TRUE;
    state.inRename = FALSE;
    state.insertAt = -1;
    HeaderMatch m = {TRUE, -1};
    BOOL seenRename = FALSE;
    BOOL endedBefore = TRUE;  // endsInLineEnd before the last byte
    int last = -1;
    long lineOffset = 0;
    long offset = 0;
    for (int c = TextReadByte(ini); c >= 0; c = TextReadByte(ini), offset++) {
        endedBefore = state.endsInLineEnd;
        last = c;
        state.endsInLineEnd = c == '\n';
        int header = MatchHeader(m, c);
        if (c == '\n')
            lineOffset = offset + 1;
        if (header == HEADER_PART && m.matched == 1) {
            if (seenRename && state.insertAt < 0)
                state.insertAt = lineOffset;
            state.inRename = FALSE;
        } else if (header == HEADER_RENAME) {
            seenRename = TRUE;
            state.inRename = TRUE;
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
        state.size = -1;
    }
    return state;
}

IniState ReadFileState(const char *path)
{
    IniState state;
    state.insertAt = -1;
    state.size = -1;
    TEXTSTREAM *file = TextOpen(path, "r");
    if (file) {
        state = ReadIniState(file, FALSE);
        TextClose(file);
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
        if (!JoinText(line, TEXT_SIZE, "NUL=", run.systemDir, "\\") || !AppendText(line, TEXT_SIZE, name))
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

// Writes c to out, holding back a 0x1A until more follows: a 0x1A that
// ends a text copied into another would end that text for its readers.
struct JoinedWriter {
    TEXTSTREAM *out;
    int last;     // the last byte written
    BOOL heldZ;
};

void WriteJoined(JoinedWriter &w, int c)
{
    if (w.heldZ)
        TextWriteByte(w.out, CONTROL_Z);
    w.heldZ = c == CONTROL_Z;
    if (!w.heldZ)
        TextWriteByte(w.out, w.last = c);
}

// One pass over the WININIT.INI another program made while a text of ours
// waited, into that text's first [rename] section: the lines of all its
// [rename] sections, without their headers (renameLines), or its other
// sections, headers and all. Lines before its first header, which no start
// reads, go nowhere, and so do blanks past the 16th at a line's start. A
// final 0x1A is left out, and a line end follows when the part ends inside
// a line. FALSE when it does not read as size bytes.
BOOL CopyPart(const char *path, long size, TEXTSTREAM *out, int renameLines)
{
    TEXTSTREAM *in = TextOpen(path, "r");
    if (!in)
        return FALSE;
    JoinedWriter w = {out, '\n', FALSE};
    HeaderMatch m = {TRUE, -1};
    int section = -1;  // of the line read: -1 none yet, 1 [rename], 0 another
    int copy = -1;     // the line read is copied: -1 not known yet
    unsigned char held[24];  // the line's start, while it may be a header
    int heldCount = 0;
    long offset = 0;
    for (int c = TextReadByte(in); c >= 0; c = TextReadByte(in), offset++) {
        int header = MatchHeader(m, c);
        if (copy < 0) {
            if (header == HEADER_PART && m.matched == 1)
                section = 0;  // a header: another section's, unless "rename]" follows
            if (header == HEADER_RENAME) {
                section = 1;
            } else if (header == HEADER_BLANK || header == HEADER_PART) {
                // Blanks past the 16th are left out: no reader counts them.
                if (header == HEADER_PART || heldCount < 16)
                    held[heldCount++] = (unsigned char)c;
                continue;
            }
            copy = section == renameLines && header != HEADER_RENAME;
            for (int i = 0; copy && i < heldCount; i++)
                WriteJoined(w, held[i]);
            heldCount = 0;
        }
        if (copy)
            WriteJoined(w, c);
        if (c == '\n')
            copy = -1;
    }
    for (int i = 0; section == renameLines && i < heldCount; i++)  // a last line cut short
        WriteJoined(w, held[i]);
    if (w.last != '\n')
        TextWriteLine(out, "");
    BOOL ok = offset == size && !TextFailed(in);
    TextClose(in);
    return ok;
}

// base's text again with, before its insertAt, our lines and the text of
// joined (a path, or 0), byte for byte, in newPath, and on the disk. Ours
// come first: whatever joined holds, they are in the first section. FALSE when a
// copy is not exactly the bytes its state was read from: a writer in between
// may have changed the file.
BOOL WriteWithLines(const char *basePath, const IniState &base, const char *joined, long joinedSize,
                    const char *newPath, const UninstallRun &run)
{
    // Created afresh: a file left there by anyone else is not written into.
    DeleteFileA(newPath);
    TEXTSTREAM *out = TextOpen(newPath, "a+");
    if (!out)
        return FALSE;
    BOOL ok = TextReadByte(out) < 0 && !TextFailed(out);
    TEXTSTREAM *in = ok ? TextOpen(basePath, "r") : 0;
    if (in) {
        long offset = 0;
        for (int c = TextReadByte(in); c >= 0; c = TextReadByte(in), offset++) {
            if (offset == base.insertAt) {
                ListFiles(run, out, FALSE);
                if (joined && !(CopyPart(joined, joinedSize, out, TRUE) && CopyPart(joined, joinedSize, out, FALSE)))
                    ok = FALSE;
            }
            TextWriteByte(out, c);
        }
        ok = ok && offset == base.size && !TextFailed(in);
        TextClose(in);
    }
    return TextClose(out) == 0 && in && ok;
}

// Whether a file is there: 1 yes, 0 no, -1 the question failed (a network
// drive that did not answer): nothing is deleted or moved on a guess.
int Presence(const char *path)
{
    if (GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES)
        return 1;
    DWORD error = GetLastError();
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? 0 : -1;
}

// Whether a text of ours waits where no start reads it.
BOOL TextWaits(const Paths &paths)
{
    return Presence(paths.at[WAITING]) != 0 || (Presence(paths.at[OLD_TEXT]) != 0 && Presence(paths.at[NEW_TEXT]) != 0);
}

// WININIT.INI rewritten: the new text written beside it, WININIT.INI set
// aside, the new text moved in. Windows 9x has no MoveFileEx, and MoveFileA
// refuses an existing target, so there is a moment without WININIT.INI:
// BR32WIN.OLD and BR32WIN.NEW together say that the new text is complete
// and holds everything. The new text is made from base (WININIT.INI, or a
// waiting text with WININIT.INI's lines joined in). FALSE when the lines
// must be appended instead.
BOOL Rewrite(const Paths &paths, int base, const IniState &state, long joinedSize, const UninstallRun &run)
{
    const BOOL merge = base == WAITING;
    if (!WriteWithLines(paths.at[base], state, merge ? paths.at[INI] : 0, joinedSize, paths.at[NEW_TEXT], run) ||
        !MoveFileA(paths.at[INI], paths.at[OLD_TEXT])) {
        DeleteFileA(paths.at[NEW_TEXT]);
        return FALSE;
    }
    // The waiting text is in the new one: it goes before the new text is
    // moved in, so that a waiting text beside BR32WIN.OLD alone is never one
    // that was moved in.
    BOOL waitingGone = !merge || DeleteFileA(paths.at[WAITING]);
    if (waitingGone && MoveFileA(paths.at[NEW_TEXT], paths.at[INI])) {
        DeleteFileA(paths.at[OLD_TEXT]);
        return TRUE;
    }
    // Not moved in: the old text goes back where a start reads it, unless
    // the new text alone holds the waiting one; what stays is settled by the
    // next run.
    if (!(merge && waitingGone) && MoveFileA(paths.at[OLD_TEXT], paths.at[INI]))
        DeleteFileA(paths.at[NEW_TEXT]);
    return FALSE;
}

// What an earlier run left, by which of our files are there (- absent,
// . either way), each put right before this run writes. Every row follows
// from the steps above: BR32WIN.OLD appears only once the new text is
// complete, BR32WIN.NEW goes only by being moved in (or as a copy never
// used), BR32WIN.PND only once merged into a text set to be moved in.
//
//  OLD NEW PND INI  history                                 done
//   -   x   .   .   a new text never moved in               NEW deleted
//   x   x   x   .   a merge stopped after INI was set aside PND deleted: it is in NEW
//   x   x   -   -   stopped between the two moves (and any  NEW moved in
//                   starts since, which found no INI)
//   x   x   -   x   the same, then another program made INI NEW renamed PND
//   x   -   .   .   NEW was moved in; OLD was not deleted   OLD deleted
//   -   -   x   -   a waiting text, and a start took INI    PND moved in
//   -   -   x   x   a waiting text                          merged with INI
//
// TRUE when neither BR32WIN.OLD nor BR32WIN.NEW is left, so that a new text
// may be made; FALSE when a step failed and only appending is safe.
BOOL Settle(const Paths &paths)
{
    int oldText = Presence(paths.at[OLD_TEXT]), newText = Presence(paths.at[NEW_TEXT]);
    int waiting = Presence(paths.at[WAITING]);
    if (oldText < 0 || newText < 0 || waiting < 0)
        return FALSE;
    if (newText) {
        if (!oldText) {
            if (!DeleteFileA(paths.at[NEW_TEXT]))
                return FALSE;
        } else if ((waiting && !DeleteFileA(paths.at[WAITING])) ||
                   !MoveFileA(paths.at[NEW_TEXT], paths.at[Presence(paths.at[INI]) ? WAITING : INI])) {
            return FALSE;
        }
    }
    if (oldText && !DeleteFileA(paths.at[OLD_TEXT]))
        return FALSE;
    if (Presence(paths.at[WAITING]) && !Presence(paths.at[INI]))
        MoveFileA(paths.at[WAITING], paths.at[INI]);
    return TRUE;
}

}  // namespace

void ScheduleRestartDeletions(const UninstallRun &run)
{
    // An empty system directory is a failed query's: no line of ours can be
    // made, and nothing is written.
    if (!run.systemDir[0])
        return;
    Paths paths;
    BOOL named = TRUE;
    for (int i = 0; i < NAME_COUNT; i++)
        named = named && ComposePath(paths.at[i], run.windowsDir, g_names[i]);
    if (named) {
        // Windows 9x may still hold another installer's lines in its profile
        // cache: written out first, so that the file read is the file the
        // next start reads, and no cached copy replaces ours later.
        WritePrivateProfileStringA(0, 0, 0, paths.at[INI]);
        BOOL clear = Settle(paths);
        // Only a plain file is moved: a move would not keep a read-only,
        // hidden or system mark where the file's owner set it. A waiting
        // text is merged with a hidden or system one all the same: the mark
        // goes, where keeping it would leave another program's lines where
        // no start reads them.
        DWORD marks = GetFileAttributesA(paths.at[INI]);
        BOOL waiting = Presence(paths.at[WAITING]) != 0;
        IniState state;
        state.insertAt = -1;
        int base = INI;
        long joinedSize = -1;
        if (clear && marks != INVALID_FILE_ATTRIBUTES && (marks & FILE_ATTRIBUTE_READONLY) == 0 &&
            (waiting || (marks & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)) == 0)) {
            // Read as stored: "a+" would cut a final 0x1A before the phase
            // knows whether it appends.
            state = ReadFileState(paths.at[INI]);
            if (waiting) {
                joinedSize = state.size;
                base = WAITING;
                state = joinedSize < 0 ? state : ReadFileState(paths.at[WAITING]);
            }
        }
        // While a text of ours waits hidden, our lines stay out too: the
        // start would delete this program with them, and nothing would be
        // left to bring that text back.
        if ((state.insertAt < 0 || !Rewrite(paths, base, state, joinedSize, run)) && !TextWaits(paths))
            Append(paths.at[INI], run);
    }
    ListFiles(run, 0, TRUE);
}

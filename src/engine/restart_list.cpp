// ScheduleRestartDeletions: five driver files stay loaded until Windows
// restarts, so they are listed in WININIT.INI, whose [rename] sections
// Windows 9x works through once at its next start, before it loads them.
// There "dest=src" moves src onto dest, and only the destination NUL (the
// DOS null device) deletes: so each file gets a line "NUL=path".
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

// What the lines we append must follow, so that they land in a [rename]
// section and on lines of their own.
struct IniEnding {
    BOOL endsInLineEnd;  // empty, or its last byte is LF
    BOOL inRename;       // its last section header is [rename], in any case
};

inline char LowerAscii(int c)
{
    return (char)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Reads the existing text once, a byte at a time, keeping only the state of
// the line being read: a file of any size needs no more memory. A section
// header is a line whose first byte after blanks is '['.
IniEnding ReadIniEnding(TEXTSTREAM *ini)
{
    static const char RENAME[] = "[rename]";
    IniEnding ending = {TRUE, FALSE};
    BOOL lineStart = TRUE;
    int matched = -1;  // bytes of RENAME matched on a header line; -1: none
    for (int c = TextReadByte(ini); c >= 0; c = TextReadByte(ini)) {
        ending.endsInLineEnd = c == '\n';
        if (c == '\n') {
            lineStart = TRUE;
            matched = -1;
        } else if (lineStart) {
            if (c == ' ' || c == '\t')
                continue;
            lineStart = FALSE;
            if (c == '[') {
                ending.inRename = FALSE;
                matched = 1;
            }
        } else if (matched > 0) {
            if (LowerAscii(c) != RENAME[matched]) {
                matched = -1;
            } else if (RENAME[++matched] == 0) {
                ending.inRename = TRUE;
                matched = -1;
            }
        }
    }
    // Unread text may end in anything: a line end and a header of our own
    // are harmless where they turn out not to be needed.
    if (TextFailed(ini)) {
        ending.endsInLineEnd = FALSE;
        ending.inRename = FALSE;
    }
    return ending;
}

}  // namespace

void ScheduleRestartDeletions(const UninstallRun &run)
{
    char iniPath[TEXT_SIZE];
    char line[TEXT_SIZE];

    if (!CopyText(iniPath, TEXT_SIZE, run.windowsDir) || !AppendText(iniPath, TEXT_SIZE, "\\") ||
        !AppendText(iniPath, TEXT_SIZE, "wininit.ini"))
        return;
    int files = CountFileTable(g_restartFiles);

    // Appending keeps whatever the file holds; a file that cannot be opened
    // (read-only, no handle left) gets nothing.
    TEXTSTREAM *ini = TextOpen(iniPath, "a+");
    if (!ini)
        return;
    IniEnding ending = ReadIniEnding(ini);
    // Another program's last entry without its line end would run into our
    // first line, and lines under another section are never acted upon.
    if (!ending.endsInLineEnd)
        TextWriteLine(ini, "");
    if (!ending.inRename)
        TextWriteLine(ini, "[rename]");
    for (int i = 0; i < files; i++) {
        if (CopyText(line, TEXT_SIZE, "NUL=") && AppendText(line, TEXT_SIZE, run.systemDir) &&
            AppendText(line, TEXT_SIZE, "\\") && AppendText(line, TEXT_SIZE, g_restartFiles[i]))
            TextWriteLine(ini, line);
    }
    TextClose(ini);
}

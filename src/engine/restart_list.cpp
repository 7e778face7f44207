// ScheduleRestartDeletions: five driver files stay loaded until Windows
// restarts, so they are listed in WININIT.INI, whose [rename] section the
// system works through once at its next start: one "NULL=" line per file.
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

// The file is searched for rather than opened: the open below creates it.
BOOL FileExists(const char *path)
{
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(search);
    return TRUE;
}

}  // namespace

void ScheduleRestartDeletions(const UninstallRun &run)
{
    char iniPath[TEXT_SIZE];
    char line[TEXT_SIZE];

    if (!CopyText(iniPath, TEXT_SIZE, run.windowsDir) || !AppendText(iniPath, TEXT_SIZE, "\\") ||
        !AppendText(iniPath, TEXT_SIZE, "wininit.ini"))
        return;
    BOOL existed = FileExists(iniPath);
    int files = CountFileTable(g_restartFiles);

    // Appending keeps whatever the file holds; a file that cannot be opened
    // (read-only, no handle left) gets nothing.
    TEXTSTREAM *ini = TextOpen(iniPath, "a+");
    if (!ini)
        return;
    // An existing file is taken to have its section already.
    if (!existed)
        TextWriteLine(ini, "[rename]");
    for (int i = 0; i < files; i++) {
        if (CopyText(line, TEXT_SIZE, "NULL=") && AppendText(line, TEXT_SIZE, run.systemDir) &&
            AppendText(line, TEXT_SIZE, "\\") && AppendText(line, TEXT_SIZE, g_restartFiles[i]))
            TextWriteLine(ini, line);
    }
    TextClose(ini);
}

// DeleteDriverFiles: the driver's files in the system directory, deleted at
// once. Files still in use until Windows restarts are not here but in the
// restart list (g_restartFiles).
//
// A file of this table may be in use too: Explorer keeps the shell
// extension loaded once the printer's menu has been opened, the status
// monitor may be running, a program may hold a printing context. Windows
// refuses to delete a loaded module; such a file is kept for the restart
// list, so that the restart the user is promised removes it. A missing file,
// a folder and a read-only file are passed over: read-only is the owner's
// choice, and DOS refuses to delete such a file at the start anyway.
#include "engine.h"

const char g_driverFiles[][FILE_NAME_WIDTH] = {
    "BR3232.DLL",
    "BR32CT.DLL",
    "BR32HLP.HLP",
    "BR32HLP.GID",
    "BR32TRB.HLP",
    "BR32TRB.GID",
    "BR32JNLI.DLL",
    "BR32JP.DRV",
    "BR32JPLN.DLL",
    "BR32LN98.DLL",
    "BR32RAST.DLL",
    "BR32RS.DLL",
    "BR32SHEL.DLL",
    "BR32STAT.EXE",
    "BR32FIRM.BIN",
    "brlaunch.exe",
    "brlaunch.ini",
    "brman32.pdf",
    "",
};

namespace {

// Still there after a failed deletion, and a file the next start may delete.
BOOL StillInUse(const char *path)
{
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0;
}

}  // namespace

void DeleteDriverFiles(UninstallRun &run)
{
    char path[TEXT_SIZE];
    int files = CountFileTable(g_driverFiles);
    for (int i = 0; i < files; i++) {
        // A system directory too long for a name is passed over, name by name.
        if (ComposePath(path, run.systemDir, g_driverFiles[i]) && !DeleteFileA(path) && i < 32 &&
            StillInUse(path))
            run.keptDriverFiles |= (DWORD)1 << i;
    }
}

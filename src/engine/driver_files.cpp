// DeleteDriverFiles: the driver's files in the system directory, deleted at
// once. Files still in use until Windows restarts are not here but in the
// restart list (g_restartFiles).
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

void DeleteDriverFiles(const UninstallRun &run)
{
    char path[TEXT_SIZE];
    int files = CountFileTable(g_driverFiles);
    for (int i = 0; i < files; i++) {
        // A system directory too long for a name is passed over, name by name.
        if (CopyText(path, TEXT_SIZE, run.systemDir) && AppendText(path, TEXT_SIZE, "\\") &&
            AppendText(path, TEXT_SIZE, g_driverFiles[i]))
            DeleteFileA(path);
    }
}

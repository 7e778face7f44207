// RunUninstall: the fixed order of the removal phases, and the first phase,
// the driver's fixed registry keys.
#include "engine.h"

namespace {

struct FixedKey {
    HKEY root;
    const char *path;
    BOOL gated;  // deleted only when the build gate is open
};

// Paths that end another entry's path point into it, so that the program
// carries each text once. Entries 3 and 11, 1 and 6, 2 and 7 reach the same
// keys through the registry's aliases; every entry is deleted all the same.
const char CONFIG_PRINTERS[] = "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\" DRIVER_NAME;
const char CLASSES_CLSID[] = "SOFTWARE\\Classes\\CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}";
const char CLASSES_SHELLEX[] =
    "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\" PRODUCT_NAME " Shell Extension";
const char DEFAULT_MENU_ORDER[] =
    ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\" PRODUCT_NAME;
const int CLASSES = 17;       // "SOFTWARE\\Classes\\"
const int CONFIG = 12;        // "Config\\0001\\"
const int DEFAULT_USER = 9;   // ".DEFAULT\\"

const FixedKey g_fixedKeys[] = {
    {HKEY_CLASSES_ROOT, CLASSES_CLSID + CLASSES, FALSE},
    {HKEY_CLASSES_ROOT, CLASSES_SHELLEX + CLASSES, FALSE},
    {HKEY_CURRENT_CONFIG, CONFIG_PRINTERS + CONFIG, FALSE},
    {HKEY_LOCAL_MACHINE, CONFIG_PRINTERS, FALSE},
    {HKEY_LOCAL_MACHINE, "Enum\\LPTENUM\\BRASCORADUNEVA_10F262", FALSE},
    {HKEY_LOCAL_MACHINE, CLASSES_CLSID, FALSE},
    {HKEY_LOCAL_MACHINE, CLASSES_SHELLEX, FALSE},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\" DRIVER_NAME, FALSE},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\" PRODUCT_NAME " PrintProcessor", FALSE},
    {HKEY_LOCAL_MACHINE, "System\\CurrentControlSet\\control\\Print\\Monitors\\" PRODUCT_NAME " LanguageMonitor", FALSE},
    {HKEY_LOCAL_MACHINE, CONFIG_PRINTERS + CONFIG, FALSE},
    {HKEY_USERS, DEFAULT_MENU_ORDER, TRUE},
    {HKEY_LOCAL_MACHINE, "Security\\Access\\PRINT\\" DRIVER_NAME, TRUE},
    {HKEY_CURRENT_USER, DEFAULT_MENU_ORDER + DEFAULT_USER, TRUE},
};

const int FIXED_KEY_COUNT = sizeof(g_fixedKeys) / sizeof(g_fixedKeys[0]);

void DeleteFixedKeys(BOOL gateOpen)
{
    for (int i = 0; i < FIXED_KEY_COUNT; i++) {
        if (!g_fixedKeys[i].gated)
            RegDeleteKeyA(g_fixedKeys[i].root, g_fixedKeys[i].path);
    }
    if (gateOpen) {
        for (int i = 0; i < FIXED_KEY_COUNT; i++) {
            if (g_fixedKeys[i].gated)
                RegDeleteKeyA(g_fixedKeys[i].root, g_fixedKeys[i].path);
        }
        RegFlushKey(HKEY_USERS);
        RegFlushKey(HKEY_CURRENT_USER);
    }
    RegFlushKey(HKEY_LOCAL_MACHINE);
}

void ClearBytes(void *block, unsigned long size)
{
    char *bytes = (char *)block;
    for (unsigned long i = 0; i < size; i++)
        bytes[i] = 0;
}

}  // namespace

BOOL BuildGateOpen(const OSVERSIONINFOA &version)
{
    return (version.dwBuildNumber & 0xFFFF) > 950;
}

void RunUninstall()
{
    // Zeroed before the query, so that a failed query reads as build 0 and
    // keeps the gate closed.
    UninstallRun run;
    ClearBytes(&run, sizeof run);
    run.version.dwOSVersionInfoSize = sizeof run.version;
    GetVersionExA(&run.version);
    BOOL gateOpen = BuildGateOpen(run.version);

    DeleteFixedKeys(gateOpen);
    ScanDeviceInstances();
    RemoveProfileEntries();
    RemoveProgramGroup();

    GetSystemDirectoryA(run.systemDir, TEXT_SIZE);
    GetWindowsDirectoryA(run.windowsDir, TEXT_SIZE);
    // A query that reported a longer path than it could store may leave
    // anything behind; the buffers end inside themselves whatever it did.
    run.systemDir[TEXT_SIZE - 1] = 0;
    run.windowsDir[TEXT_SIZE - 1] = 0;

    DeleteDriverFiles(run);
    RemoveSetupInformation(run);
    ScheduleRestartDeletions(run);
}

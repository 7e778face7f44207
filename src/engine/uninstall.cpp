// RunUninstall: the fixed order of the removal phases, and the first phase,
// the driver's fixed registry keys.
#include "engine.h"

namespace {

// The root by the low byte of its predefined handle (0x80000000 and up).
struct FixedKey {
    BYTE root;
    BYTE gated;  // deleted only when the build gate is open
    const char *path;
};

#define ROOT(key) ((BYTE)(DWORD)(UINT_PTR)(key))

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
    {ROOT(HKEY_CLASSES_ROOT), FALSE, CLASSES_CLSID + CLASSES},
    {ROOT(HKEY_CLASSES_ROOT), FALSE, CLASSES_SHELLEX + CLASSES},
    {ROOT(HKEY_CURRENT_CONFIG), FALSE, CONFIG_PRINTERS + CONFIG},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, CONFIG_PRINTERS},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, "Enum\\LPTENUM\\BRASCORADUNEVA_10F262"},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, CLASSES_CLSID},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, CLASSES_SHELLEX},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\" DRIVER_NAME},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\" PRODUCT_NAME " PrintProcessor"},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, "System\\CurrentControlSet\\control\\Print\\Monitors\\" PRODUCT_NAME " LanguageMonitor"},
    {ROOT(HKEY_LOCAL_MACHINE), FALSE, CONFIG_PRINTERS + CONFIG},
    {ROOT(HKEY_USERS), TRUE, DEFAULT_MENU_ORDER},
    {ROOT(HKEY_LOCAL_MACHINE), TRUE, "Security\\Access\\PRINT\\" DRIVER_NAME},
    {ROOT(HKEY_CURRENT_USER), TRUE, DEFAULT_MENU_ORDER + DEFAULT_USER},
};

const int FIXED_KEY_COUNT = sizeof(g_fixedKeys) / sizeof(g_fixedKeys[0]);

inline HKEY RootKey(BYTE root)
{
    return (HKEY)(INT_PTR)(LONG)(0x80000000UL | root);
}

void DeleteFixedKeys(BOOL gateOpen)
{
    for (int i = 0; i < FIXED_KEY_COUNT; i++) {
        if (!g_fixedKeys[i].gated)
            RegDeleteKeyA(RootKey(g_fixedKeys[i].root), g_fixedKeys[i].path);
    }
    if (gateOpen) {
        for (int i = 0; i < FIXED_KEY_COUNT; i++) {
            if (g_fixedKeys[i].gated)
                RegDeleteKeyA(RootKey(g_fixedKeys[i].root), g_fixedKeys[i].path);
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

// RemoveProfileEntries: the printer's keys in WIN.INI's "Devices" and
// "PrinterPorts" and its sections named after the printer and a port. A
// network port (a value with a backslash) has a section of its own name;
// any other port means the three fixed ones.
//
// Then the default printer: Windows 9x keeps it in WIN.INI's [windows]
// device=name,driver,port, and again as the Default value of the printers'
// key. Where either named the printer, it names the first printer left in
// [Devices], or nothing when none is left, as the system's own printer
// deletion does: programs that print must not be pointed at a printer
// that is gone.
#include "engine.h"

namespace {

const char g_portSuffixes[][FILE_NAME_WIDTH] = {
    "-LPT1",
    "-FILE",
    "-LPT2",
    "",
};

// Used when "Devices" has no key for the printer.
const char DEFAULT_DEVICE[] = "BR32jp,lpt1:";

// 149 characters and the NUL: GetProfileStringA cuts a longer value.
const int PROFILE_VALUE_SIZE = 150;

void RemovePortSection(const char *suffix)
{
    char section[TEXT_SIZE];
    if (CopyText(section, TEXT_SIZE, DRIVER_NAME) && AppendText(section, TEXT_SIZE, suffix))
        WriteProfileStringA(section, 0, 0);
}

const char PRINTERS_KEY[] = "System\\CurrentControlSet\\control\\Print\\Printers";

// The registry's default printer, where it is ours: newName, or none.
void ReplaceRegistryDefault(const char *newName)
{
    HKEY key;
    char value[PROFILE_VALUE_SIZE];
    if (RegOpenKeyExA(HKEY_CURRENT_CONFIG, PRINTERS_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return;
    if (ReadValueText(key, "Default", value, PROFILE_VALUE_SIZE) == VALUE_TEXT_READ &&
        SameName(value, DRIVER_NAME)) {
        if (newName)
            RegSetValueExA(key, "Default", 0, REG_SZ, (const BYTE *)newName, lstrlenA(newName) + 1);
        else
            RegDeleteValueA(key, "Default");
    }
    RegCloseKey(key);
}

// device= in [windows], where it names our printer: the first printer left
// in [Devices] as "name,driver,port", or no device= when none is left. A
// list or value cut by its buffer counts as none, never as half a name.
void ReplaceDefaultPrinter(char *value)
{
    GetProfileStringA("windows", "device", "", value, PROFILE_VALUE_SIZE);
    value[PROFILE_VALUE_SIZE - 1] = 0;
    char *comma = (char *)TextFindChar(value, ',');
    if (comma)
        *comma = 0;
    if (!SameName(value, DRIVER_NAME))
        return;
    char names[TEXT_SIZE];  // [Devices]' key names; the first one is used
    char device[TEXT_SIZE];
    const char *newName = 0;
    DWORD listed = GetProfileStringA("Devices", 0, "", names, TEXT_SIZE);
    if (listed > 0 && listed < TEXT_SIZE - 2) {
        DWORD length = GetProfileStringA("Devices", names, "", value, PROFILE_VALUE_SIZE);
        if (length > 0 && length < PROFILE_VALUE_SIZE - 1 && CopyText(device, TEXT_SIZE, names) &&
            AppendText(device, TEXT_SIZE, ",") && AppendText(device, TEXT_SIZE, value))
            newName = names;
    }
    BOOL changed = WriteProfileStringA("windows", "device", newName ? device : 0);
    ReplaceRegistryDefault(newName);
    // Running programs read the default again; a hung one does not hold
    // up the removal.
    UINT_PTR ignored;
    if (changed)
        SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, (LPARAM) "windows", SMTO_ABORTIFHUNG,
                            2000, &ignored);
}

}  // namespace

void RemoveProfileEntries()
{
    char value[PROFILE_VALUE_SIZE];
    char suffix[TEXT_SIZE];  // "-" and the port text

    value[0] = 0;
    // A longer value arrives cut to 149 characters, and its port with it.
    GetProfileStringA("Devices", DRIVER_NAME, DEFAULT_DEVICE, value, PROFILE_VALUE_SIZE);
    value[PROFILE_VALUE_SIZE - 1] = 0;

    if (TextFindChar(value, '\\')) {
        // The port is everything after the first comma. Without a comma the
        // value names no port, and no section is removed.
        const char *comma = TextFindChar(value, ',');
        if (comma && CopyText(suffix, TEXT_SIZE, "-") && AppendText(suffix, TEXT_SIZE, comma + 1))
            RemovePortSection(suffix);
    } else {
        for (int i = 0; lstrcmpA(g_portSuffixes[i], "") != 0; i++)
            RemovePortSection(g_portSuffixes[i]);
    }

    WriteProfileStringA("Devices", DRIVER_NAME, 0);
    WriteProfileStringA("PrinterPorts", DRIVER_NAME, 0);
    ReplaceDefaultPrinter(value);
}

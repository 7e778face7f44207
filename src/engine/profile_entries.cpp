// RemoveProfileEntries: the printer's keys in WIN.INI's "Devices" and
// "PrinterPorts" and its sections named after the printer and a port. A
// network port (a value with a backslash) has a section of its own name;
// any other port means the three fixed ones.
//
// Then every other key of ours in those sections (the profile finds a name
// without regard to case, and one deletion takes only the first), and the
// default printer: Windows 9x keeps it in WIN.INI's [windows]
// device=name,driver,port, and again as the Default value of the printers'
// key. Where either named the printer, it names a printer left that can be
// used, or nothing when none is, as the system's own printer deletion does:
// programs that print must not be pointed at a printer that is gone.
//
// Last, WIN.INI's copy in Windows 9x's profile cache goes to the disk: the
// registry and the files are gone by then, and a power cut must not bring
// the printer's entries back.
#include "engine.h"

namespace {

const char g_portSuffixes[][6] = {
    "-LPT1",
    "-FILE",
    "-LPT2",
    "",
};

const char DEVICES[] = "Devices";
const char PRINTER_PORTS[] = "PrinterPorts";

// Used when "Devices" has no key for the printer.
const char DEFAULT_DEVICE[] = "BR32jp,lpt1:";

// 149 characters and the NUL: GetProfileStringA cuts a longer value.
const int PROFILE_VALUE_SIZE = 150;

// A name list of every size WIN.INI can hold: Windows 9x reads at most
// 64 KiB of it.
const unsigned long NAME_LIST_SIZE = 65536;

void RemovePortSection(const char *suffix)
{
    char section[TEXT_SIZE];
    if (CopyText(section, TEXT_SIZE, DRIVER_NAME) && AppendText(section, TEXT_SIZE, suffix))
        WriteProfileStringA(section, 0, 0);
}

// The printer that text names, in place: up to its first comma, without
// the blanks around it.
char *PrinterName(char *text)
{
    while (*text == ' ' || *text == '\t')
        text++;
    char *end = text;
    while (*end && *end != ',')
        end++;
    while (end > text && (end[-1] == ' ' || end[-1] == '\t'))
        end--;
    *end = 0;
    return text;
}

// Whether a device= or Default text names our printer.
BOOL NamesOurs(const char *text)
{
    char name[TEXT_SIZE];
    return CopyText(name, TEXT_SIZE, text) && SameName(PrinterName(name), DRIVER_NAME);
}

// "name,value" of the printer name in [Devices] into device, when it is a
// printer left that can be used: not ours, with a value, all of it fitting.
BOOL UsablePrinter(const char *name, char *device)
{
    char value[TEXT_SIZE];
    DWORD length = GetProfileStringA(DEVICES, name, "", value, TEXT_SIZE);
    // A value cut by the buffer does not fit either.
    if (SameName(name, DRIVER_NAME) || length == 0 || lstrlenA(name) + 1 + (int)length >= TEXT_SIZE)
        return FALSE;
    lstrcpyA(device, name);
    lstrcatA(device, ",");
    lstrcatA(device, value);
    return TRUE;
}

const char PRINTERS_KEY[] = "System\\CurrentControlSet\\control\\Print\\Printers";

// The registry's default printer, where it is ours: the printer device=
// names when it can be used, else the first that can (first: "name,value"
// or ""), else none. TRUE when it was changed. Cuts both texts.
BOOL ReplaceRegistryDefault(char *device, char *first)
{
    HKEY key;
    char value[TEXT_SIZE];
    BOOL changed = FALSE;
    if (RegOpenKeyExA(HKEY_CURRENT_CONFIG, PRINTERS_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return FALSE;
    if (ReadValueText(key, "Default", value, TEXT_SIZE) == VALUE_TEXT_READ && NamesOurs(value)) {
        const char *name = PrinterName(device);
        if (!UsablePrinter(name, value))
            name = PrinterName(first);
        changed = (*name ? RegSetValueExA(key, "Default", 0, REG_SZ, (const BYTE *)name, lstrlenA(name) + 1)
                         : RegDeleteValueA(key, "Default")) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return changed;
}

// Every key of ours left in section, by the names listed into names, whose
// length it returns.
DWORD RemoveOurKeys(const char *section, char *names)
{
    DWORD listed = GetProfileStringA(section, 0, "", names, NAME_LIST_SIZE);
    for (const char *name = names; listed && *name; name += lstrlenA(name) + 1) {
        if (SameName(name, DRIVER_NAME))
            WriteProfileStringA(section, name, 0);
    }
    return listed;
}

// device= in [windows], and the registry's Default, where they name our
// printer. names: [Devices]' names as listed before ours went (listed
// bytes), or 0 when none could be had: then no printer is known to be left.
void ReplaceDefaultPrinter(const char *names, DWORD listed)
{
    char first[TEXT_SIZE];   // "name,value" of the first printer that can be used
    char device[TEXT_SIZE];  // device= as it is once changed
    first[0] = 0;
    // A name cut at the end of a list too long names no printer: not usable.
    for (const char *name = names; names && listed && *name; name += lstrlenA(name) + 1) {
        if (UsablePrinter(name, first))
            break;
    }
    GetProfileStringA("windows", "device", "", device, TEXT_SIZE);
    BOOL changed = FALSE;
    if (NamesOurs(device)) {
        changed = WriteProfileStringA("windows", "device", first[0] ? first : 0);
        // Unchanged, it still names ours, which Default does not take.
        if (changed)
            lstrcpyA(device, first);
    }
    // Running programs read the default again; a hung one does not hold
    // up the removal.
    UINT_PTR ignored;
    if (ReplaceRegistryDefault(device, first) || changed)
        SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, (LPARAM) "windows", SMTO_ABORTIFHUNG, 2000,
                            &ignored);
}

}  // namespace

void RemoveProfileEntries()
{
    char value[PROFILE_VALUE_SIZE];
    char suffix[TEXT_SIZE];  // "-" and the port text

    value[0] = 0;
    // A longer value arrives cut to 149 characters, and its port with it.
    GetProfileStringA(DEVICES, DRIVER_NAME, DEFAULT_DEVICE, value, PROFILE_VALUE_SIZE);
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

    WriteProfileStringA(DEVICES, DRIVER_NAME, 0);
    WriteProfileStringA(PRINTER_PORTS, DRIVER_NAME, 0);

    char *names = (char *)BlockAlloc(NAME_LIST_SIZE);
    DWORD listed = 0;
    if (names) {
        RemoveOurKeys(PRINTER_PORTS, names);
        listed = RemoveOurKeys(DEVICES, names);
    }
    ReplaceDefaultPrinter(names, listed);
    BlockFree(names);
    WriteProfileStringA(0, 0, 0);
}

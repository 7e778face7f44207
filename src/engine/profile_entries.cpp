// RemoveProfileEntries: the printer's keys in WIN.INI's "Devices" and
// "PrinterPorts" and its sections named after the printer and a port: the
// three fixed ports' always, and a network port's (a value with a
// backslash) too.
//
// Then every other printer of ours: a key of those sections named as ours
// in any letters (the profile finds a name without regard to case, and one
// deletion takes only the first), one whose value's driver is ours (a
// second printer of the model, or one the user renamed), and a printer of
// the machine's or the current configuration's list whose driver is ours:
// each goes as ours does, keys, sections and its printers' keys.
//
// Then the default printer: Windows 9x keeps it in WIN.INI's [windows]
// device=name,driver,port, and again as the Default value of the printers'
// key. Where either named a printer of ours, it names a printer left that
// can be used, or nothing when none is, as the system's own printer
// deletion does: programs that print must not be pointed at a printer that
// is gone.
//
// WIN.INI's copy in Windows 9x's profile cache and the registry go to the
// disk in the order that lets a second run, after a power cut anywhere,
// still find every printer of ours that has something left.
#include "engine.h"

namespace {

// The fixed ports that name a printer's sections, after a '-'.
const char g_ports[][5] = {
    "LPT1",
    "FILE",
    "LPT2",
    "",
};

const char DEVICES[] = "Devices";
const char PRINTER_PORTS[] = "PrinterPorts";

// Used when "Devices" has no key for the printer.
const char DEFAULT_DEVICE[] = "BR32jp,lpt1:";
// The driver our printers' values name, before their first comma.
const char DRIVER_ID[] = "BR32jp";

// 149 characters and the NUL: GetProfileStringA cuts a longer value.
const int PROFILE_VALUE_SIZE = 150;

// A name list of every size WIN.INI's sections can have: Windows 9x keeps
// a section to 32,767 characters, and its profile calls take no larger
// size.
const unsigned long NAME_LIST_SIZE = 32767;

// The three fixed ports' sections of the printer name, and a network
// port's (everything after the first comma of a value with a backslash).
void RemovePortSections(const char *name, const char *value)
{
    char section[TEXT_SIZE];
    const char *comma = TextFindChar(value, ',');
    for (int i = 0; i < 4; i++) {
        const char *port = i < 3 ? g_ports[i] : TextFindChar(value, '\\') && comma ? comma + 1 : 0;
        if (port && JoinText(section, TEXT_SIZE, name, "-", port))
            WriteProfileStringA(section, 0, 0);
    }
}

// The printer that text names, in place: up to its first stop (a comma
// for device= and a WIN.INI value; none for the registry's Default, a name
// alone), without the blanks around it.
char *PrinterName(char *text, char stop = ',')
{
    while (*text == ' ' || *text == '\t')
        text++;
    char *end = text;
    while (*end && *end != stop)
        end++;
    while (end > text && (end[-1] == ' ' || end[-1] == '\t'))
        end--;
    *end = 0;
    return text;
}

// The list of our printers' names: NAME_LIST_SIZE bytes of names, each
// ended by a NUL, the list by an empty one; the printer's own name first.
// Without the memory for one, the list of that name alone.
const char g_ownName[sizeof DRIVER_NAME + 1] = DRIVER_NAME;

// The list's entry of name, or its end (the empty name) when it has none:
// ListEntry(list, "") is the end.
const char *ListEntry(const char *list, const char *name)
{
    while (*list && !SameName(list, name))
        list += lstrlenA(list) + 1;
    return list;
}

// Whether name is in the list.
BOOL Listed(const char *ours, const char *name)
{
    return *ListEntry(ours, name) != 0;
}

// Adds name to ours once. A full list takes no more: those printers stay.
void AddName(char *ours, const char *name)
{
    char *end = (char *)ListEntry(ours, name);
    // The list's end follows a name put there: the block came zeroed.
    if (!*end && end + lstrlenA(name) + 2 <= ours + NAME_LIST_SIZE)
        lstrcpyA(end, name);
}

// Whether the printer name, whose [Devices] or [PrinterPorts] value is
// value, is one of ours: listed, or with our driver.
BOOL IsOurPrinter(const char *ours, const char *name, const char *value)
{
    char driver[TEXT_SIZE];
    return Listed(ours, name) || (CopyText(driver, TEXT_SIZE, value) && SameName(PrinterName(driver), DRIVER_ID));
}

// Whether a device= (stop ',') or Default (stop 0) text names one of ours.
BOOL NamesOurs(const char *ours, const char *text, char stop)
{
    char name[TEXT_SIZE];
    return CopyText(name, TEXT_SIZE, text) && Listed(ours, PrinterName(name, stop));
}

// "name,value" of the printer name in [Devices] into device, when it is a
// printer left that can be used: not ours, with a value, all of it fitting,
// and a name without a comma, which device= could not tell from its driver.
BOOL UsablePrinter(const char *ours, const char *name, char *device)
{
    char value[TEXT_SIZE];
    DWORD length = GetProfileStringA(DEVICES, name, "", value, TEXT_SIZE);
    // A value cut by the buffer does not fit either.
    if (IsOurPrinter(ours, name, value) || length == 0 || lstrlenA(name) + 1 + (int)length >= TEXT_SIZE ||
        TextFindChar(name, ','))
        return FALSE;
    lstrcpyA(device, name);
    lstrcatA(device, ",");
    lstrcatA(device, value);
    return TRUE;
}

const char PRINTERS_KEY[] = "System\\CurrentControlSet\\control\\Print\\Printers";

// Adds to ours the printers of section whose value names our driver, by
// the names listed into names, whose length it returns.
DWORD ListOurKeys(char *ours, const char *section, char *names)
{
    char value[TEXT_SIZE];
    DWORD listed = GetProfileStringA(section, 0, "", names, NAME_LIST_SIZE);
    for (const char *name = names; listed && *name; name += lstrlenA(name) + 1) {
        GetProfileStringA(section, name, "", value, TEXT_SIZE);
        if (IsOurPrinter(ours, name, value))
            AddName(ours, name);
    }
    return listed;
}

// Adds to ours the printers of the list under root whose "Printer Driver"
// is ours.
void ListOurPrinters(char *ours, HKEY root)
{
    HKEY list, printer;
    char name[TEXT_SIZE], text[TEXT_SIZE];
    if (RegOpenKeyExA(root, PRINTERS_KEY, 0, KEY_ENUMERATE_SUB_KEYS, &list) != ERROR_SUCCESS)
        return;
    for (DWORD index = 0; RegEnumKeyA(list, index, name, TEXT_SIZE) == ERROR_SUCCESS; index++) {
        if (name[0] && RegOpenKeyExA(list, name, 0, KEY_QUERY_VALUE, &printer) == ERROR_SUCCESS) {
            if (ReadValueText(printer, "Printer Driver", text, TEXT_SIZE) == VALUE_TEXT_READ &&
                SameName(text, DRIVER_NAME))
                AddName(ours, name);
            RegCloseKey(printer);
        }
    }
    RegCloseKey(list);
}

// Every key of name in section, and with each [Devices] key its sections:
// the profile deletes the first key of a name a call. (A value is never a
// line end, so that default tells a missing key.)
void DeleteKeys(const char *section, const char *name)
{
    char value[TEXT_SIZE];
    for (int i = 0; i < 256; i++) {
        GetProfileStringA(section, name, "\n", value, TEXT_SIZE);
        if (value[0] == '\n')
            return;
        if (section == DEVICES)
            RemovePortSections(name, value);
        WriteProfileStringA(section, name, 0);
    }
}

// The printers' keys of the names from first up to end, in the current
// configuration's and the machine's lists; then the registry to the disk.
// Each is deleted under its list, so that a name of any length goes.
void DeletePrinterKeys(const char *first, const char *end)
{
    HKEY list;
    for (int i = 0; i < 2; i++) {
        if (RegOpenKeyExA(i ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_CONFIG, PRINTERS_KEY, 0, KEY_ENUMERATE_SUB_KEYS,
                          &list) == ERROR_SUCCESS) {
            // A key's name holds no backslash: a WIN.INI name with one
            // would be a path to another printer's key.
            for (const char *name = first; name < end; name += lstrlenA(name) + 1) {
                if (!TextFindChar(name, '\\'))
                    RegDeleteKeyA(list, name);
            }
            RegCloseKey(list);
        }
    }
    RegFlushKey(HKEY_LOCAL_MACHINE);
}

// The registry's default printer, where it is ours: the printer device=
// names when it can be used, else the first that can (first: "name,value"
// or ""), else none. TRUE when it was changed. Cuts both texts.
BOOL ReplaceRegistryDefault(const char *ours, char *device, char *first)
{
    HKEY key;
    char value[TEXT_SIZE];
    BOOL changed = FALSE;
    if (RegOpenKeyExA(HKEY_CURRENT_CONFIG, PRINTERS_KEY, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, &key) !=
        ERROR_SUCCESS)
        return FALSE;
    if (ReadValueText(key, "Default", value, TEXT_SIZE) == VALUE_TEXT_READ && NamesOurs(ours, value, 0)) {
        const char *name = PrinterName(device);
        if (!UsablePrinter(ours, name, value))
            name = PrinterName(first);
        changed = (*name ? RegSetValueExA(key, "Default", 0, REG_SZ, (const BYTE *)name, lstrlenA(name) + 1)
                         : RegDeleteValueA(key, "Default")) == ERROR_SUCCESS;
    }
    RegCloseKey(key);
    return changed;
}

// device= in [windows], and the registry's Default, where they name one of
// ours. names: [Devices]' names as listed before ours went (listed bytes),
// or 0 when none could be had: then no printer is known to be left.
void ReplaceDefaultPrinter(const char *ours, const char *names, DWORD listed)
{
    char first[TEXT_SIZE];   // "name,value" of the first printer that can be used
    char device[TEXT_SIZE];  // device= as it is once changed
    first[0] = 0;
    // A list cut by its buffer ends in a name cut short: only whole names
    // count (Windows 9x keeps a section to 32,767 characters, so none is).
    for (const char *name = names; names && listed && *name; name += lstrlenA(name) + 1) {
        if ((listed < NAME_LIST_SIZE - 2 || name + lstrlenA(name) + 1 < names + listed) &&
            UsablePrinter(ours, name, first))
            break;
    }
    GetProfileStringA("windows", "device", "", device, TEXT_SIZE);
    BOOL changed = FALSE;
    if (NamesOurs(ours, device, ',')) {
        changed = WriteProfileStringA("windows", "device", first[0] ? first : 0);
        // Unchanged, it still names ours, which Default does not take.
        if (changed)
            lstrcpyA(device, first);
    }
    // Running programs read the default again; a hung one does not hold
    // up the removal.
    UINT_PTR ignored;
    if (ReplaceRegistryDefault(ours, device, first) || changed)
        SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, (LPARAM) "windows", SMTO_ABORTIFHUNG, 2000,
                            &ignored);
}

}  // namespace

void RemoveProfileEntries()
{
    char value[PROFILE_VALUE_SIZE];

    value[0] = 0;
    // A longer value arrives cut to 149 characters, and its port with it.
    GetProfileStringA(DEVICES, DRIVER_NAME, DEFAULT_DEVICE, value, PROFILE_VALUE_SIZE);
    value[PROFILE_VALUE_SIZE - 1] = 0;
    RemovePortSections(DRIVER_NAME, value);
    WriteProfileStringA(DEVICES, DRIVER_NAME, 0);
    WriteProfileStringA(PRINTER_PORTS, DRIVER_NAME, 0);

    // Every printer of ours, by the names listed (ours) while all that
    // tells one is there: first those the registry tells (up to told),
    // then those only WIN.INI does. A list that cannot be had leaves the
    // printer's own name alone.
    char *names = (char *)BlockAlloc(2 * NAME_LIST_SIZE);
    const char *ours = g_ownName;
    const char *told = ListEntry(ours, "");
    DWORD listed = 0;
    if (names) {
        char *list = names + NAME_LIST_SIZE;
        lstrcpyA(list, DRIVER_NAME);
        ListOurPrinters(list, HKEY_LOCAL_MACHINE);
        ListOurPrinters(list, HKEY_CURRENT_CONFIG);
        told = ListEntry(list, "");
        ListOurKeys(list, PRINTER_PORTS, names);
        listed = ListOurKeys(list, DEVICES, names);
        ours = list;
        for (const char *name = ours; *name; name += lstrlenA(name) + 1) {
            RemovePortSections(name, "");
            DeleteKeys(DEVICES, name);
            DeleteKeys(PRINTER_PORTS, name);
        }
    }
    ReplaceDefaultPrinter(ours, names, listed);
    // At a power cut anywhere a second run must still know every printer
    // of ours with something left: what tells it goes last. The printers'
    // keys of those only WIN.INI tells, and the new Default, reach the disk
    // before WIN.INI does; the keys that tell the others go after it. (The
    // printer's own keys went with the fixed keys.)
    DeletePrinterKeys(told, ListEntry(ours, ""));
    WriteProfileStringA(0, 0, 0);
    DeletePrinterKeys(ours + sizeof DRIVER_NAME, told);
    BlockFree(names);
}

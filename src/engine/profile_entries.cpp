// RemoveProfileEntries: the printer's keys in WIN.INI's "Devices" and
// "PrinterPorts" and its sections named after the printer and a port. A
// network port (a value with a backslash) has a section of its own name;
// any other port means the three fixed ones.
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
}

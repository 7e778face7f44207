// ScanDeviceInstances: the numbered instance keys that describe the printer,
// among the root-enumerated printers and in the printer class. The numbers
// differ from machine to machine, so names are probed in turn, and a pass
// ends after a fixed budget of misses.
#include "engine.h"

namespace {

struct InstancePass {
    const char *basePath;   // under HKEY_LOCAL_MACHINE
    const char *valueName;  // holds DRIVER_NAME in a key of the printer's
};

const InstancePass g_instancePasses[] = {
    {"Enum\\Root\\printer", "DeviceDesc"},
    {"System\\CurrentControlSet\\Services\\Class\\Printer", "DriverDesc"},
    {0, 0},
};

// A pass goes on while its miss counter is at most this.
const int MISS_BUDGET = 100;

BOOL OpenInstanceKey(const char *name, HKEY *key)
{
    return RegOpenKeyExA(HKEY_LOCAL_MACHINE, name, 0, KEY_QUERY_VALUE, key) == ERROR_SUCCESS;
}

// Builds the name of number and opens it. A name that could not be built is
// never opened: an empty path would open the root itself.
BOOL OpenNumberedKey(char *name, const char *basePath, int number, HKEY *key)
{
    return BuildInstanceKeyName(name, TEXT_SIZE, basePath, number) && OpenInstanceKey(name, key);
}

void ScanPass(const InstancePass &pass)
{
    char name[TEXT_SIZE];
    char description[TEXT_SIZE];
    HKEY key = 0;
    int nextNumber = 1;
    int misses = 0;

    BOOL open = OpenNumberedKey(name, pass.basePath, 0, &key);
    while (misses <= MISS_BUDGET) {
        if (!open) {
            // Search forward: each attempt costs one miss.
            while (misses <= MISS_BUDGET) {
                open = OpenNumberedKey(name, pass.basePath, nextNumber, &key);
                nextNumber++;
                misses++;
                if (open)
                    break;
            }
        } else {
            // Examine an unbroken run of keys; it ends at the first name
            // that does not open.
            while (open) {
                BOOL match = ReadValueText(key, pass.valueName, description, TEXT_SIZE) ==
                                 VALUE_TEXT_READ &&
                             lstrcmpA(description, DRIVER_NAME) == 0;
                RegCloseKey(key);
                if (match) {
                    RegDeleteKeyA(HKEY_LOCAL_MACHINE, name);
                    open = OpenInstanceKey(name, &key);
                    if (open) {
                        // The deletion failed. Examining the key again would
                        // find the same text for ever: end the run as a
                        // deletion does, and go on with the next number.
                        RegCloseKey(key);
                        open = FALSE;
                    }
                } else {
                    open = OpenNumberedKey(name, pass.basePath, nextNumber, &key);
                    nextNumber++;
                }
            }
        }
        misses++;
    }
    // The budget's last attempt may have opened a key it never examines.
    if (open)
        RegCloseKey(key);
}

}  // namespace

BOOL BuildInstanceKeyName(char *name, int size, const char *basePath, int number)
{
    char digits[20];
    const char *separator;
    if (number < 10)
        separator = "\\000";
    else if (number < 100)
        separator = "\\00";
    else if (number < 1000)
        separator = "\\0";
    else if (number < 10000)
        separator = "\\";
    else
        separator = "";  // five digits and more follow the base path directly
    DecimalText(number, digits);
    if (JoinText(name, size, basePath, separator, digits))
        return TRUE;
    if (size > 0)
        name[0] = 0;
    return FALSE;
}

void ScanDeviceInstances()
{
    for (int i = 0; g_instancePasses[i].basePath; i++)
        ScanPass(g_instancePasses[i]);
}

// The WIN.INI entries: which sections the printer's "Devices" value leads
// to, and the order of the removals; then the default printer. A value cut
// at 149 characters is among the hostile machines.
#include "phase_support.h"

using namespace phase_support;

namespace {

TEST(ProfileEntries, SectionsByTheDevicesValueThenTheTwoKeys)
{
    const std::vector<std::string> FIXED = {"-LPT1", "-FILE", "-LPT2"};
    const struct {
        const char *what;
        std::string value;  // "": no key for the printer in "Devices"
        std::vector<std::string> suffixes;
    } cases[] = {
        {"no key: the default BR32jp,lpt1:", "", FIXED},
        {"LPT1:", "BR32jp,LPT1:", FIXED},
        {"any other port without a backslash", "BR32jp,COM1:", FIXED},
        {"a network port", "BR32jp,\\\\server\\stampante", {"-\\\\server\\stampante"}},
        {"commas in the port", "BR32jp,\\\\srv\\p,15,45", {"-\\\\srv\\p,15,45"}},
        {"a backslash before the comma", "BR\\32jp,lpt1:", {"-lpt1:"}},
        {"the comma last", "BR32jp\\x,", {"-"}},
        {"a backslash and no comma: no port, no section", "BR32jp\\lpt1:", {}},
    };
    for (const auto &c : cases) {
        Machine machine;
        ASSERT_TRUE(machine.File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n" + (c.value.empty() ? "" : DRIVER + "=" + c.value + "\r\n")).Load());
        RemoveProfileEntries();
        std::vector<std::string> expected = {"GetProfileStringA(Devices, " + DRIVER + ", BR32jp,lpt1:, " +
                                             (c.value.empty() ? "BR32jp,lpt1:" : c.value.substr(0, 149)) + ", 150)"};
        for (const std::string &suffix : c.suffixes)
            expected.push_back("WriteProfileStringA(" + DRIVER + suffix + ", NULL, NULL)");
        expected.push_back("WriteProfileStringA(Devices, " + DRIVER + ", NULL)");
        expected.push_back("WriteProfileStringA(PrinterPorts, " + DRIVER + ", NULL)");
        expected.push_back("GetProfileStringA(windows, device, , , 150)");  // no default printer here
        EXPECT_EQ(expected, Calls({"GetProfileStringA", "WriteProfileStringA"})) << c.what;
    }
}

}  // namespace

namespace {

// The default printer, in WIN.INI's [windows] device= and in the registry's
// Default value: where it named the removed printer, it names the first
// printer left in [Devices], or nothing; anything else stays as it was.
TEST(ProfileEntries, TheDefaultPrinterNamesThePrinterLeft)
{
    const std::string OTHER = "OSTRALIS Jet 400", OURS = DRIVER + ",BR32jp,LPT1:", NONE = "<none>";
    const std::string OTHERS = OTHER + "=OSJET4,LPT2:\r\nGeneric=TTY,FILE:\r\n";
    std::string manyPrinters;  // a name list longer than its 260-byte buffer
    for (int i = 0; i < 12; i++)
        manyPrinters += "Stampante di rete numero " + std::to_string(i) + "=WINSPOOL,\\\\srv\\p" + std::to_string(i) + "\r\n";
    const struct {
        const char *what;
        std::string device;   // [windows] device=, NONE: no such line
        std::string devices;  // [Devices] before ours is removed, ours first
        std::string regDefault;
        std::string deviceAfter, defaultAfter;
    } cases[] = {
        {"ours, another printer left", OURS, OTHERS, DRIVER, OTHER + ",OSJET4,LPT2:", OTHER},
        {"ours, the only printer: none left", OURS, "", DRIVER, NONE, NONE},
        {"ours in other letters", "tintavera BRASCORA duneva 10,BR32jp,LPT1:", OTHERS, "TINTAVERA BRASCORA DUNEVA 10",
         OTHER + ",OSJET4,LPT2:", OTHER},
        {"a name that begins with ours stays", DRIVER + " Plus,BR32jp,LPT1:", OTHERS, DRIVER + " Plus",
         DRIVER + " Plus,BR32jp,LPT1:", DRIVER + " Plus"},
        {"ours without a comma", DRIVER, OTHERS, DRIVER, OTHER + ",OSJET4,LPT2:", OTHER},
        {"no device=: nothing changes", NONE, OTHERS, DRIVER, NONE, DRIVER},
        {"an empty device=: nothing changes", "", OTHERS, DRIVER, "", DRIVER},
        {"a name list too long for its buffer: none left", OURS, manyPrinters, DRIVER, NONE, NONE},
        {"a first printer's value too long: none left", OURS, OTHER + "=" + std::string(160, 'v') + "\r\n", DRIVER,
         NONE, NONE},
        {"a registry default of another printer stays", OURS, OTHERS, OTHER, OTHER + ",OSJET4,LPT2:", OTHER},
        {"no registry default: none is made", OURS, OTHERS, NONE, OTHER + ",OSJET4,LPT2:", NONE},
    };
    const std::string printers = "HKEY_LOCAL_MACHINE\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers";
    for (const auto &c : cases) {
        Machine machine;
        std::string ini = "[windows]\r\nload=\r\n" + (c.device == NONE ? "" : "device=" + c.device + "\r\n") +
                          "[Devices]\r\n" + DRIVER + "=BR32jp,LPT1:\r\n" + c.devices;
        machine.File("C:\\WINDOWS\\WIN.INI", ini).Key(printers, {c.regDefault == NONE ? "" : RegString("Default", c.regDefault)});
        ASSERT_TRUE(machine.Load()) << c.what;
        RemoveProfileEntries();
        char text[300] = "";
        GetProfileStringA("windows", "device", NONE.c_str(), text, sizeof text);
        EXPECT_EQ(c.deviceAfter, text) << c.what;
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet\\control\\Print\\Printers", 0,
                                               KEY_QUERY_VALUE, &key)) << c.what;
        EXPECT_EQ(c.defaultAfter, ReadValueText(key, "Default", text, sizeof text) == VALUE_TEXT_READ ? text : NONE)
            << c.what;
        RegCloseKey(key);
        // Running programs are told when device= changed, and only then.
        std::vector<std::string> told = Calls({"SendMessageTimeoutA"});
        std::vector<std::string> tell = {"SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, windows, 2, 2000)"};
        EXPECT_EQ(c.deviceAfter == c.device ? std::vector<std::string>() : tell, told) << c.what;
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

}  // namespace

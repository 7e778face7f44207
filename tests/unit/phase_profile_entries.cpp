// The WIN.INI entries: which sections the printer's "Devices" value leads
// to, and the order of the removals; then the default printer, and WIN.INI
// on the disk. A value cut at 149 characters is among the hostile machines;
// the default printer on thousands of generated printer sets is
// ProfileEntries.GeneratedPrinterSets (phase_printer_sets.cpp).
#include "phase_support.h"

using namespace phase_support;

namespace {

TEST(ProfileEntries, SectionsByTheDevicesValueThenTheTwoKeys)
{
    // The three fixed ports' sections always go (a printer moved to a
    // network port keeps those of its first set-up), a network port's too.
    const struct {
        const char *what;
        std::string value;  // "": no key for the printer in "Devices"
        std::vector<std::string> suffixes;
    } cases[] = {
        {"no key: the default BR32jp,lpt1:", "", {}},
        {"LPT1:", "BR32jp,LPT1:", {}},
        {"any other port without a backslash", "BR32jp,COM1:", {}},
        {"a network port", "BR32jp,\\\\server\\stampante", {"-\\\\server\\stampante"}},
        {"commas in the port", "BR32jp,\\\\srv\\p,15,45", {"-\\\\srv\\p,15,45"}},
        {"a backslash before the comma", "BR\\32jp,lpt1:", {"-lpt1:"}},
        {"the comma last", "BR32jp\\x,", {"-"}},
        {"a backslash and no comma: no port, no section of its own", "BR32jp\\lpt1:", {}},
    };
    for (const auto &c : cases) {
        Machine machine;
        ASSERT_TRUE(machine.File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n" + (c.value.empty() ? "" : DRIVER + "=" + c.value + "\r\n")).Load());
        RemoveProfileEntries();
        std::vector<std::string> expected = {"GetProfileStringA(Devices, " + DRIVER + ", BR32jp,lpt1:, " +
                                             (c.value.empty() ? "BR32jp,lpt1:" : c.value.substr(0, 149)) + ", 150)"};
        for (const char *fixed : {"-LPT1", "-FILE", "-LPT2"})
            expected.push_back("WriteProfileStringA(" + DRIVER + fixed + ", NULL, NULL)");
        for (const std::string &suffix : c.suffixes)
            expected.push_back("WriteProfileStringA(" + DRIVER + suffix + ", NULL, NULL)");
        expected.push_back("WriteProfileStringA(Devices, " + DRIVER + ", NULL)");
        expected.push_back("WriteProfileStringA(PrinterPorts, " + DRIVER + ", NULL)");
        // No other printer of ours: its own name looked for again, in
        // other letters; no default printer here; WIN.INI flushed.
        expected.push_back("GetProfileStringA(PrinterPorts, NULL, , , 32767)");
        expected.push_back("GetProfileStringA(Devices, NULL, , , 32767)");
        for (const char *fixed : {"-LPT1", "-FILE", "-LPT2"})
            expected.push_back("WriteProfileStringA(" + DRIVER + fixed + ", NULL, NULL)");
        expected.push_back("GetProfileStringA(Devices, " + DRIVER + ", \n, \n, 260)");
        expected.push_back("GetProfileStringA(PrinterPorts, " + DRIVER + ", \n, \n, 260)");
        expected.push_back("GetProfileStringA(windows, device, , , 260)");
        expected.push_back("WriteProfileStringA(NULL, NULL, NULL)");
        EXPECT_EQ(expected, Calls({"GetProfileStringA", "WriteProfileStringA"})) << c.what;
    }
}

}  // namespace

namespace {

// The default printer, in WIN.INI's [windows] device= and in the registry's
// Default value: where either named the removed printer (in any letters,
// blanks around the name aside), it names a printer left that can be used:
// device= the first of [Devices], Default the one device= names, else the
// first; or nothing when none can be. Anything else stays as it was, and
// any change is told to running programs.
TEST(ProfileEntries, TheDefaultPrinterNamesAPrinterLeft)
{
    const std::string OTHER = "OSTRALIS Jet 400", OURS = DRIVER + ",BR32jp,LPT1:", NONE = "<none>";
    const std::string GENERIC = "Generic=TTY,FILE:\r\n", OTHERS = OTHER + "=OSJET4,LPT2:\r\n" + GENERIC;
    const std::string FIRST = OTHER + ",OSJET4,LPT2:";
    std::string thirteen;  // 264 bytes of names: longer than an old 260-byte list
    for (int i = 0; i < 13; i++)
        thirteen += "Stampante di rete n. " + std::to_string(10 + i) + "=WINSPOOL,\\\\srv\\p" + std::to_string(i) + "\r\n";
    std::string exact;  // names of 257 bytes and the final NUL: 258
    for (int i = 0; i < 9; i++)
        exact += "Stampante di rete " + std::to_string(100 + i) + "x=WINSPOOL,\\\\srv\\p\r\n";
    const std::string longValue = std::string(200, 'v');
    const struct {
        const char *what;
        std::string device;   // [windows] device=, NONE: no such line
        std::string devices;  // [Devices] after ours
        std::string regDefault;
        std::string deviceAfter, defaultAfter;
        const char *failWrite;  // a WriteProfileStringA that fails (its key)
    } cases[] = {
        {"ours, another printer left", OURS, OTHERS, DRIVER, FIRST, OTHER, nullptr},
        {"ours, the only printer: none left", OURS, "", DRIVER, NONE, NONE, nullptr},
        {"ours in other letters", "tintavera BRASCORA duneva 10,BR32jp,LPT1:", OTHERS, "TINTAVERA BRASCORA DUNEVA 10",
         FIRST, OTHER, nullptr},
        {"blanks around the name before the comma", " " + DRIVER + " \t,BR32jp,LPT1:", OTHERS, " " + DRIVER + " ", FIRST,
         OTHER, nullptr},
        {"a name that begins with ours stays", DRIVER + " Plus,BR32jp,LPT1:", OTHERS, DRIVER + " Plus",
         DRIVER + " Plus,BR32jp,LPT1:", DRIVER + " Plus", nullptr},
        {"ours without a comma", DRIVER, OTHERS, DRIVER, FIRST, OTHER, nullptr},
        {"device= another printer, Default ours: Default names it", "Generic,TTY,FILE:", OTHERS, DRIVER,
         "Generic,TTY,FILE:", "Generic", nullptr},
        {"device= a printer that is gone, Default ours: the first left", "Vecchia,X,LPT3:", OTHERS, DRIVER,
         "Vecchia,X,LPT3:", OTHER, nullptr},
        {"no device=, Default ours: the first left", NONE, OTHERS, DRIVER, NONE, OTHER, nullptr},
        {"an empty device=, Default ours: the first left", "", OTHERS, DRIVER, "", OTHER, nullptr},
        {"13 printers left: the first named in both", OURS, thirteen, DRIVER, "Stampante di rete n. 10,WINSPOOL,\\\\srv\\p0",
         "Stampante di rete n. 10", nullptr},
        {"a list of exactly 258 bytes", OURS, exact, DRIVER, "Stampante di rete 100x,WINSPOOL,\\\\srv\\p",
         "Stampante di rete 100x", nullptr},
        {"a second key of ours in other letters goes, never the default", OURS,
         "tintavera brascora DUNEVA 10=BR32jp,LPT2:\r\n" + OTHERS, DRIVER, FIRST, OTHER, nullptr},
        {"a first printer with an empty value is passed over", OURS, "Vecchia Stampante=\r\n" + OTHERS, DRIVER, FIRST,
         OTHER, nullptr},
        {"a first printer too long to compose is passed over", OURS, "Lunga=" + std::string(254, 'v') + "\r\n" + OTHERS,
         DRIVER, FIRST, OTHER, nullptr},
        {"a first printer that just fits is chosen", OURS, "Lunga=" + std::string(253, 'v') + "\r\n" + OTHERS, DRIVER,
         "Lunga," + std::string(253, 'v'), "Lunga", nullptr},
        {"a default longer than 150 bytes is written whole", OURS, "Lunga=" + longValue + "\r\n", DRIVER,
         "Lunga," + longValue, "Lunga", nullptr},
        {"a registry default of another printer stays", OURS, OTHERS, OTHER, FIRST, OTHER, nullptr},
        {"no registry default: none is made", OURS, OTHERS, NONE, FIRST, NONE, nullptr},
        {"device= cannot be written: Default still changes, and is told", OURS, OTHERS, DRIVER, OURS, OTHER, "device"},
    };
    const std::string printers = "HKEY_LOCAL_MACHINE\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers";
    for (const auto &c : cases) {
        Machine machine;
        std::string ini = "[windows]\r\nload=\r\n" + (c.device == NONE ? "" : "device=" + c.device + "\r\n") +
                          "[Devices]\r\n" + DRIVER + "=BR32jp,LPT1:\r\n" + c.devices;
        machine.File("C:\\WINDOWS\\WIN.INI", ini).Key(printers, {c.regDefault == NONE ? "" : RegString("Default", c.regDefault)});
        ASSERT_TRUE(machine.Load()) << c.what;
        if (c.failWrite)  // the ninth write of the phase is device='s
            SimFailCall("WriteProfileStringA", 9, ERROR_ACCESS_DENIED);
        RemoveProfileEntries();
        char text[300] = "";
        GetProfileStringA("windows", "device", NONE.c_str(), text, sizeof text);
        EXPECT_EQ(c.deviceAfter, text) << c.what;
        char listed[4096];
        DWORD n = GetProfileStringA("Devices", nullptr, "", listed, sizeof listed);
        for (const char *name = listed; name < listed + n; name += strlen(name) + 1)
            EXPECT_FALSE(SimSameText(name, DRIVER)) << c.what << ": a key of ours left";
        HKEY key;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CURRENT_CONFIG, "System\\CurrentControlSet\\control\\Print\\Printers", 0,
                                               KEY_QUERY_VALUE, &key)) << c.what;
        EXPECT_EQ(c.defaultAfter, ReadValueText(key, "Default", text, sizeof text) == VALUE_TEXT_READ ? text : NONE)
            << c.what;
        RegCloseKey(key);
        // Running programs are told when either changed, and only then.
        std::vector<std::string> told = Calls({"SendMessageTimeoutA"});
        std::vector<std::string> tell = {"SendMessageTimeoutA(HWND_BROADCAST, WM_WININICHANGE, 0, windows, 2, 2000)"};
        EXPECT_EQ(c.deviceAfter == c.device && c.defaultAfter == c.regDefault ? std::vector<std::string>() : tell, told)
            << c.what;
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

// Every printer of our driver goes as the printer of our name does, and none
// becomes the default: a second one of the model ("(Copia 2)", listed
// first), one the user renamed, one moved to a network port, one known as
// ours only by its printers' key. Another maker's printers stay, with their
// sections and keys, a name that only begins with ours among them. (The
// printers' key of our own name goes with the fixed keys.)
TEST(ProfileEntries, EveryPrinterOfOurDriverGoesAndNoneBecomesTheDefault)
{
    const std::string COPY = DRIVER + " (Copia 2)", OTHER = "OSTRALIS Jet 400", PLUS = DRIVER + " Plus";
    const std::string LONG_NAME = "Stampante " + std::string(240, 'x');  // a key name is at most 255 characters
    const std::string LIST = "System\\CurrentControlSet\\control\\Print\\Printers";
    const std::string MACHINE = HKLM + LIST, CONFIG = HKLM + "Config\\0001\\" + LIST;
    const struct {
        const char *what;
        std::string devices, sections;  // [Devices] lines (the same in [PrinterPorts]), more sections
        std::vector<std::pair<std::string, std::string>> listed;  // printers' keys: name, "Printer Driver"
        std::string device, regDefault;                           // before
        std::string devicesAfter, sectionsAfter;
        std::vector<std::string> listedAfter;
        std::string deviceAfter, defaultAfter;
    } cases[] = {
        {"a second one of the model, listed first and the default",
         COPY + "=BR32jp,LPT2:\r\n" + DRIVER + "=BR32jp,LPT1:\r\n" + OTHER + "=OSJET4,LPT1:\r\n",
         "[" + COPY + "-LPT2]\r\n[" + COPY + "-LPT1]\r\n[" + OTHER + "-LPT1]\r\n",
         {{COPY, DRIVER}, {OTHER, "OSTRALIS Jet"}}, COPY + ",BR32jp,LPT2:", COPY,
         OTHER + "=OSJET4,LPT1:\r\n", "[" + OTHER + "-LPT1]\r\n", {OTHER}, OTHER + ",OSJET4,LPT1:", OTHER},
        {"renamed by the user, our driver in other letters",
         OTHER + "=OSJET4,LPT1:\r\nStampante ufficio= br32JP ,LPT1:\r\n", "[Stampante ufficio-FILE]\r\n",
         {{"Stampante ufficio", DRIVER}, {OTHER, "OSTRALIS Jet"}}, "Stampante ufficio,BR32jp,LPT1:",
         "Stampante ufficio", OTHER + "=OSJET4,LPT1:\r\n", "", {OTHER}, OTHER + ",OSJET4,LPT1:", OTHER},
        {"moved to a network port: its first set-up's sections go too",
         DRIVER + "=BR32jp,\\\\UFFICIO\\DUNEVA\r\n" + OTHER + "=OSJET4,LPT1:\r\n",
         "[" + DRIVER + "-LPT1]\r\n[" + DRIVER + "-FILE]\r\n[" + DRIVER + "-LPT2]\r\n[" + DRIVER +
             "-\\\\UFFICIO\\DUNEVA]\r\n",
         {{OTHER, "OSTRALIS Jet"}}, DRIVER + ",BR32jp,\\\\UFFICIO\\DUNEVA", DRIVER, OTHER + "=OSJET4,LPT1:\r\n", "", {OTHER},
         OTHER + ",OSJET4,LPT1:", OTHER},
        {"ours only by its printers' key, under a name and driver field of another",
         "Ufficio=WINSPOOL,LPT1:\r\n" + OTHER + "=OSJET4,LPT1:\r\n", "[Ufficio-LPT1]\r\n",
         {{"Ufficio", DRIVER}, {OTHER, "OSTRALIS Jet"}}, "Ufficio,WINSPOOL,LPT1:", OTHER,
         OTHER + "=OSJET4,LPT1:\r\n", "", {OTHER}, OTHER + ",OSJET4,LPT1:", OTHER},
        {"another maker's printers stay, one whose name begins with ours too",
         PLUS + "=OSJET4,LPT1:\r\n" + OTHER + "=BR32jpx,LPT2:\r\n", "[" + PLUS + "-LPT1]\r\n[" + OTHER + "-LPT2]\r\n",
         {{PLUS, "OSTRALIS Jet"}, {OTHER, DRIVER + " II"}}, OTHER + ",BR32jpx,LPT2:", PLUS,
         PLUS + "=OSJET4,LPT1:\r\n" + OTHER + "=BR32jpx,LPT2:\r\n", "[" + PLUS + "-LPT1]\r\n[" + OTHER + "-LPT2]\r\n",
         {PLUS, OTHER}, OTHER + ",BR32jpx,LPT2:", PLUS},
        {"a name too long for the list's path and the name together",
         OTHER + "=OSJET4,LPT1:\r\n" + LONG_NAME + "=BR32jp,LPT2:\r\n", "[" + LONG_NAME + "-LPT1]\r\n",
         {{OTHER, "OSTRALIS Jet"}, {LONG_NAME, DRIVER}}, OTHER + ",OSJET4,LPT1:", LONG_NAME, OTHER + "=OSJET4,LPT1:\r\n", "",
         {OTHER}, OTHER + ",OSJET4,LPT1:", OTHER},
        {"Default names another maker's printer whose name begins with one of ours and a comma",
         "Ufficio=BR32jp,LPT2:\r\nUfficio, piano 2=OSJET4,LPT2:\r\n" + OTHER + "=OSJET4,LPT1:\r\n", "",
         {{"Ufficio", DRIVER}, {"Ufficio, piano 2", "OSTRALIS Jet"}, {OTHER, "OSTRALIS Jet"}}, OTHER + ",OSJET4,LPT1:",
         "Ufficio, piano 2", "Ufficio, piano 2=OSJET4,LPT2:\r\n" + OTHER + "=OSJET4,LPT1:\r\n", "",
         {"Ufficio, piano 2", OTHER}, OTHER + ",OSJET4,LPT1:", "Ufficio, piano 2"},
        {"ours under a name with a comma, the Default; ours under another's name and a backslash",
         "Duneva, ufficio=BR32jp,LPT2:\r\n" + OTHER + "\\=BR32jp,LPT1:\r\n" + OTHER + "=OSJET4,LPT1:\r\n", "",
         {{"Duneva, ufficio", DRIVER}, {OTHER, "OSTRALIS Jet"}}, OTHER + ",OSJET4,LPT1:", "Duneva, ufficio",
         OTHER + "=OSJET4,LPT1:\r\n", "", {OTHER}, OTHER + ",OSJET4,LPT1:", OTHER},
        {"every printer is ours: no default is left", COPY + "=BR32jp,LPT2:\r\n", "", {{COPY, DRIVER}},
         COPY + ",BR32jp,LPT2:", COPY, "", "", {}, "<none>", "<none>"},
    };
    // [Devices] and [PrinterPorts] with the same printers.
    auto printers = [](const std::string &devices) {
        std::string ports;
        for (size_t at = 0; at < devices.size(); at = devices.find("\r\n", at) + 2)
            ports += devices.substr(at, devices.find("\r\n", at) - at) + ",15,45\r\n";
        return "[Devices]\r\n" + devices + "[PrinterPorts]\r\n" + ports;
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.File("C:\\WINDOWS\\WIN.INI", "[windows]\r\ndevice=" + c.device + "\r\n" + printers(c.devices) + c.sections);
        machine.Key(CONFIG, {RegString("Default", c.regDefault)});
        for (const auto &[name, driver] : c.listed)
            machine.Key(MACHINE + "\\" + name, {RegString("Printer Driver", driver)}).Key(CONFIG + "\\" + name, {"\"Port\"=\"LPT1:\""});
        ASSERT_TRUE(machine.Load()) << c.what;
        RemoveProfileEntries();
        EXPECT_EQ((c.deviceAfter == "<none>" ? "[windows]\r\n" : "[windows]\r\ndevice=" + c.deviceAfter + "\r\n") +
                      printers(c.devicesAfter) + c.sectionsAfter,
                  machine.Read("C:\\WINDOWS\\WIN.INI"))
            << c.what;
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG}) {
            HKEY key;
            char text[300];
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(root, LIST.c_str(), 0, KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE, &key));
            std::vector<std::string> listed;
            for (DWORD i = 0; RegEnumKeyA(key, i, text, sizeof text) == ERROR_SUCCESS; i++)
                listed.push_back(text);
            EXPECT_EQ(c.listedAfter, listed) << c.what << (root == HKEY_LOCAL_MACHINE ? ": the machine's" : ": the configuration's");
            if (root == HKEY_CURRENT_CONFIG) {
                EXPECT_EQ(c.defaultAfter, ReadValueText(key, "Default", text, sizeof text) == VALUE_TEXT_READ ? text : "<none>")
                    << c.what;
            }
            RegCloseKey(key);
        }
    }
}

// Windows 9x holds WIN.INI's changes in its profile cache: the phase writes
// them out, so that a power cut right after it (the cache lost) leaves the
// printer's entries and the default gone from the disk too.
TEST(ProfileEntries, APowerCutAfterThePhaseFindsWinIniChanged)
{
    Machine machine("win98");
    ASSERT_TRUE(machine.Load());
    const std::string before = machine.Read("C:\\WINDOWS\\WIN.INI");
    RemoveProfileEntries();
    SimLoseProfiles();
    std::string after = machine.Read("C:\\WINDOWS\\WIN.INI");
    EXPECT_NE(before, after);
    for (const std::string &gone : {"device=" + DRIVER, "\n" + DRIVER + "=", "[" + DRIVER + "-LPT1]"})
        EXPECT_EQ(std::string::npos, after.find(gone)) << after;
    EXPECT_NE(std::string::npos, after.find("device=OSTRALIS Jet 400,")) << after;
}

}  // namespace

// registry.reg: the REGEDIT4 text of the Windows 98 registry editor, read
// and written back byte for byte.
#include <cstring>

#include "machine_builder.h"
#include "platform.h"

namespace {

std::string Fixture()
{
    return MachineBuilder::ReadHost(std::string(BR_SOURCE_DIR) + "/tests/unit/data/win98-export.reg");
}

std::string SavedRegistry(const MachineBuilder &m)
{
    EXPECT_TRUE(SimSaveMachine());
    return MachineBuilder::ReadHost(m.dir() + "/registry.reg");
}

std::string Query(const char *path, const char *name)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS &&
        RegOpenKeyExA(HKEY_USERS, path, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS)
        return "<no key>";
    BYTE data[400];
    DWORD size = sizeof data;
    LONG result = RegQueryValueExA(key, name, nullptr, nullptr, data, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string((const char *)data, size) : "<no value>";
}

TEST(SimRegedit, AnExportReadsAndWritesBackByteForByte)
{
    std::string fixture = Fixture();
    ASSERT_GT(fixture.size(), 1000u);
    MachineBuilder m;
    m.Registry(fixture);
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(fixture, SavedRegistry(m));

    // What the text forms stand for.
    EXPECT_EQ(std::string("percorso \\\\SERVER\\stampa \"LPT1\"", 31) + '\0',
              Query(".DEFAULT\\Software\\TINTAVERA\\Duneva 10", "Nota \"speciale\""));
    EXPECT_EQ(std::string("Ufficio Contabilit\xE0") + '\0',
              Query("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "RegisteredOwner"));
    EXPECT_EQ(164u, Query("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "DigitalProductId").size());
    EXPECT_EQ("", Query("SOFTWARE\\Microsoft\\Windows\\CurrentVersion", "LicensingInfo"));
    EXPECT_EQ(std::string("\x00\x04\x00\x00", 4),
              Query("System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\"
                    "Drivers\\TINTAVERA Brascora Duneva 10", "Version"));
    std::string dependent =
        Query("System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\"
              "Drivers\\TINTAVERA Brascora Duneva 10", "Dependent Files");
    EXPECT_EQ(0, dependent.compare(0, 13, std::string("BR32RAST.DLL\0", 13)));
    EXPECT_EQ(std::string("\0\0", 2), dependent.substr(dependent.size() - 2));
}

TEST(SimRegedit, ValuesTheStringFormCannotHoldGoBackAsTypedHex)
{
    MachineBuilder m;
    m.Registry("[HKEY_LOCAL_MACHINE\\K]\n"
               "\"NoNul\"=hex(1):41,42\n"
               "\"Empty\"=hex(1):\n"
               "\"Lines\"=hex(1):61,0d,0a,62,00\n"
               "\"Short\"=hex(4):01,02,03\n"
               "\"Expand\"=hex(2):25,41,25,00\n"
               "\"Text\"=\"a\\\\b\"\n");
    ASSERT_TRUE(m.Load());
    const std::string expected =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
        "\"NoNul\"=hex(1):41,42\r\n"
        "\"Empty\"=hex(1):\r\n"
        "\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
        "\"Short\"=hex(4):01,02,03\r\n"
        "\"Expand\"=hex(2):25,41,25,00\r\n"
        "\"Text\"=\"a\\\\b\"\r\n\r\n[HKEY_USERS]\r\n\r\n";
    EXPECT_EQ(expected, SavedRegistry(m));
    EXPECT_EQ("AB", Query("K", "NoNul"));
    EXPECT_EQ(std::string("a\\b") + '\0', Query("K", "Text"));
}

TEST(SimRegedit, LongHexValuesWrapAfterTheCommaThatReachesColumn77)
{
    MachineBuilder m;
    std::string name(70, 'n');
    m.Registry("[HKEY_LOCAL_MACHINE\\K]\n\"Flags\"=hex:00,00,00,00,00,00,00,00,00,00,00,00,00,"
               "00,00,00,00,00,00,00,00,00,00\n\"" + name + "\"=hex:01,02\n");
    ASSERT_TRUE(m.Load());
    std::string saved = SavedRegistry(m);
    EXPECT_NE(std::string::npos,
              saved.find("\"Flags\"=hex:00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,00,"
                         "00,00,00,00,\\\r\n  00\r\n"))
        << saved;
    EXPECT_NE(std::string::npos, saved.find("\"" + name + "\"=hex:01,\\\r\n  02\r\n")) << saved;
}

TEST(SimRegedit, ReadsLfLinesCommentsAliasesAndRepeatedNames)
{
    MachineBuilder m;
    m.Registry("REGEDIT4\n\n; a comment\n[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n"
               "\"Bin\"=hex:01,\\\n      02,\\\n\t03\n"
               "[hkey_local_machine\\software\\CLASSES\\.TXT]\n@=\"again\"\n");
    ASSERT_TRUE(m.Load());
    EXPECT_TRUE(SimKeyExists("HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt"));
    EXPECT_EQ(std::string("again") + '\0', Query("SOFTWARE\\Classes\\.txt", nullptr));
    EXPECT_EQ("\x01\x02\x03", Query("SOFTWARE\\Classes\\.txt", "Bin"));
}

TEST(SimRegedit, RejectsWhatIsNotARegistryFileWithItsLine)
{
    const struct {
        const char *text;
        const char *error;
    } cases[] = {
        {"REGEDIT5\r\n", "registry.reg line 1: the file starts with REGEDIT4"},
        {"REGEDIT4\r\n\r\n\"x\"=\"y\"\r\n", "registry.reg line 3: a value before the first key"},
        {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"x\"=dword:123456789\r\n",
         "registry.reg line 3: dword: takes 1 to 8 hex digits"},
        {"REGEDIT4\r\n[HKEY_DYN_DATA\\K]\r\n", "registry.reg line 2: unknown root in [HKEY_DYN_DATA\\K]"},
        {"REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\K]\r\n",
         "registry.reg line 2: key deletion lines are not part of a registry file"},
        {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\A\\\\B]\r\n", "registry.reg line 2: empty key name"},
        {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"x\"=hex:1g\r\n",
         "registry.reg line 3: hex data is bytes in hex, separated by commas"},
        {"REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\nx=1\r\n", "registry.reg line 3: unknown line"},
    };
    for (const auto &c : cases) {
        MachineBuilder m;
        std::ofstream(m.dir() + "/registry.reg", std::ios::binary) << c.text;
        std::string error;
        EXPECT_FALSE(SimLoadMachine(m.dir(), &error)) << c.text;
        EXPECT_EQ(c.error, error);
        EXPECT_FALSE(SimKeyExists("HKEY_LOCAL_MACHINE\\K")) << "a refused file leaves no keys";
    }
}

}  // namespace

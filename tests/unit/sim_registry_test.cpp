// The simulated registry's contract: Windows 98 subtree deletion, the root
// aliases, case rules, handles that outlive their keys and the value read;
// and registry.reg, the REGEDIT4 text of the Windows 98 registry editor,
// read and written back byte for byte (fuzz_regedit holds the reader
// against random text).
#include <cstring>

#include "machine_builder.h"
#include "platform.h"

namespace {

const char *const CLASSES_AND_USERS =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a}\\InProcServer32]\n@=\"BR32SHEL.DLL\"\n"
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Duneva\\Sub]\n"
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Other]\n"
    "[HKEY_USERS\\.DEFAULT\\Software\\MenuOrder\\Duneva\\Sub]\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000]\n"
    "\"DeviceDesc\"=\"TINTAVERA Brascora Duneva 10\"\n\"NoNul\"=hex(1):41,42\n"
    "\"Flags\"=dword:0000000a\n@=\"default\"\n";

std::string SavedRegistry(const MachineBuilder &m)
{
    EXPECT_TRUE(SimSaveMachine());
    return MachineBuilder::ReadHost(m.dir() + "/registry.reg");
}

// The bytes of a value of a key under HKEY_LOCAL_MACHINE or HKEY_USERS.
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

TEST(SimRegistry, DeletesWholeSubtreesThroughEveryRootName)
{
    const struct {
        HKEY root;
        const char *subkey;
        long result;
        const char *gone;  // a key of the deleted subtree, through another name
        const char *kept;  // its parent, which stays
    } cases[] = {
        {HKEY_CLASSES_ROOT, "CLSID\\{5c3a}", 0,
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a}\\InProcServer32",
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"},
        {HKEY_LOCAL_MACHINE, "software\\CLASSES\\clsid\\{5C3A}", 0, "HKCR\\CLSID\\{5c3a}", "HKCR\\CLSID"},
        {HKEY_CURRENT_CONFIG, "System\\Print\\Duneva", 0,
         "HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Duneva\\Sub", "HKCC\\System\\Print\\Other"},
        {HKEY_CURRENT_USER, "Software\\MenuOrder\\Duneva", 0,
         "HKEY_USERS\\.DEFAULT\\Software\\MenuOrder\\Duneva\\Sub", "HKU\\.DEFAULT\\Software\\MenuOrder"},
        {HKEY_USERS, ".default\\software\\menuorder\\duneva", 0, "HKCU\\Software\\MenuOrder\\Duneva",
         "HKU\\.DEFAULT\\Software"},
        // No call can delete a root or the key a handle holds.
        {HKEY_LOCAL_MACHINE, "", ERROR_INVALID_PARAMETER, "", "HKLM\\Enum\\Root\\Printer\\0000"},
        {HKEY_CLASSES_ROOT, nullptr, ERROR_INVALID_PARAMETER, "", "HKCR\\CLSID\\{5c3a}"},
        {HKEY_LOCAL_MACHINE, "Enum\\\\Root", ERROR_BADKEY, "", "HKLM\\Enum\\Root\\Printer\\0000"},
        {HKEY_LOCAL_MACHINE, "Enum\\Missing\\0000", ERROR_FILE_NOT_FOUND, "", "HKLM\\Enum"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.subkey ? c.subkey : "NULL");
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS);
        ASSERT_TRUE(m.Load());
        EXPECT_EQ(c.result, RegDeleteKeyA(c.root, c.subkey));
        EXPECT_FALSE(*c.gone && SimKeyExists(c.gone));
        EXPECT_TRUE(SimKeyExists(c.kept));
        if (c.result == ERROR_SUCCESS)
            EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(c.root, c.subkey));
    }
    EXPECT_EQ(ERROR_BADKEY, RegDeleteKeyA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str()));
}

TEST(SimRegistry, HandleToADeletedKeyFailsItsReadsButCloses)
{
    MachineBuilder m;
    m.Registry(CLASSES_AND_USERS);
    ASSERT_TRUE(m.Load());
    HKEY key = nullptr, child = nullptr, again = HKEY_USERS;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root", 0, 1, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, "Printer\\0000", 0, 1, &child));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum"));
    DWORD size = 8;
    EXPECT_EQ(ERROR_BADKEY, RegQueryValueExA(child, "DeviceDesc", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_BADKEY, RegOpenKeyExA(key, "Printer", 0, 1, &again));
    EXPECT_EQ(nullptr, again) << "a failed open leaves no handle behind";
    EXPECT_EQ("hkey#1 HKEY_LOCAL_MACHINE\\Enum\\Root (deleted), "
              "hkey#2 HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000 (deleted)",
              SimOpenHandles());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ("", SimOpenHandles());
}

TEST(SimRegistry, QueryValueReturnsTheStoredBytesAsWindows98Does)
{
    const struct {
        const char *value;  // name, or null for the default value
        DWORD size;         // passed in *lpcbData
        bool partial;       // machine.ini MoreData=partial
        LONG result;
        DWORD type, sizeOut;
        const char *buffer;  // its first 8 bytes afterwards (it starts as "########")
    } cases[] = {
        {"devicedesc", 29, false, ERROR_SUCCESS, REG_SZ, 29, "TINTAVER"},
        {"DeviceDesc", 28, false, ERROR_MORE_DATA, REG_SZ, 29, "########"},
        {"DeviceDesc", 4, true, ERROR_MORE_DATA, REG_SZ, 29, "TINT####"},
        {"NoNul", 8, false, ERROR_SUCCESS, REG_SZ, 2, "AB######"},
        {"Flags", 8, false, ERROR_SUCCESS, REG_DWORD, 4, "\x0a\0\0\0####"},
        {nullptr, 8, false, ERROR_SUCCESS, REG_SZ, 8, "default"},
        {"", 8, false, ERROR_SUCCESS, REG_SZ, 8, "default"},
        {"Missing", 8, false, ERROR_FILE_NOT_FOUND, 77, 8, "########"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.value ? c.value : "(default)");
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS).Ini(c.partial ? "[Machine]\nMoreData=partial\n" : "");
        ASSERT_TRUE(m.Load());
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\root\\PRINTER\\0000", 0,
                                               KEY_QUERY_VALUE, &key));
        char buffer[40];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 77, size = c.size;
        EXPECT_EQ(c.result, RegQueryValueExA(key, c.value, nullptr, &type, (LPBYTE)buffer, &size))
            << SimFormatCalls(SimCalls());
        EXPECT_EQ(c.type, type);
        EXPECT_EQ(c.sizeOut, size);
        EXPECT_EQ(std::string(c.buffer, 8), std::string(buffer, 8));
        EXPECT_EQ('#', buffer[c.size]) << "written past the size given";
        if (c.result == ERROR_SUCCESS && c.size == 29)
            EXPECT_STREQ("TINTAVERA Brascora Duneva 10", buffer);
        RegCloseKey(key);
    }
}

TEST(SimRegedit, AnExportReadsAndWritesBackByteForByte)
{
    std::string fixture =
        MachineBuilder::ReadHost(std::string(BR_SOURCE_DIR) + "/tests/unit/data/win98-export.reg");
    ASSERT_GT(fixture.size(), 1000u);
    MachineBuilder m;
    m.Registry(fixture);
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(fixture, SavedRegistry(m));

    // What the text forms stand for.
    const char *const DRIVERS = "System\\CurrentControlSet\\control\\Print\\Environments\\"
                                "Windows 4.0\\Drivers\\TINTAVERA Brascora Duneva 10";
    const char *const VERSION = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    EXPECT_EQ(std::string("percorso \\\\SERVER\\stampa \"LPT1\"\0", 32),
              Query(".DEFAULT\\Software\\TINTAVERA\\Duneva 10", "Nota \"speciale\""));
    EXPECT_EQ(std::string("Ufficio Contabilit\xE0\0", 20), Query(VERSION, "RegisteredOwner"));
    EXPECT_EQ(164u, Query(VERSION, "DigitalProductId").size()) << "a wrapped hex list";
    EXPECT_EQ("", Query(VERSION, "LicensingInfo"));
    EXPECT_EQ(std::string("\x00\x04\x00\x00", 4), Query(DRIVERS, "Version"));
    EXPECT_EQ(0u, Query(DRIVERS, "Dependent Files").find(std::string("BR32RAST.DLL\0", 13)));
}

TEST(SimRegedit, ReadsLfLinesCommentsContinuationsAndAliases)
{
    MachineBuilder m;
    std::string name(70, 'n');
    m.Registry("REGEDIT4\n\n; a comment\n[HKEY_CLASSES_ROOT\\.txt]\n@=\"txtfile\"\n"
               "\"Bin\"=hex:01,\\\n      02,\\\n\t03\n"
               "[hkey_local_machine\\software\\CLASSES\\.TXT]\n@=\"again\"\n"
               "[HKEY_LOCAL_MACHINE\\K]\n\"NoNul\"=hex(1):41,42\n\"Empty\"=hex(1):\n"
               "\"Lines\"=hex(1):61,0d,0a,62,00\n\"Short\"=hex(4):01,02,03\n"
               "\"Text\"=\"a\\\\b\"\n\"" + name + "\"=hex:01,02\n");
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(std::string("again\0", 6), Query("SOFTWARE\\Classes\\.txt", nullptr));
    EXPECT_EQ("\x01\x02\x03", Query("SOFTWARE\\Classes\\.txt", "Bin"));
    EXPECT_EQ("AB", Query("K", "NoNul"));
    EXPECT_EQ(std::string("a\\b\0", 4), Query("K", "Text"));
    // Strings the "..." form cannot hold go back as typed hex; a hex list
    // wraps after the comma that reaches column 77.
    const std::string expected =
        "REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE]\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes]\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\r\n"
        "@=\"again\"\r\n\"Bin\"=hex:01,02,03\r\n\r\n[HKEY_LOCAL_MACHINE\\K]\r\n"
        "\"NoNul\"=hex(1):41,42\r\n\"Empty\"=hex(1):\r\n\"Lines\"=hex(1):61,0d,0a,62,00\r\n"
        "\"Short\"=hex(4):01,02,03\r\n\"Text\"=\"a\\\\b\"\r\n\"" + name + "\"=hex:01,\\\r\n  02\r\n"
        "\r\n[HKEY_USERS]\r\n\r\n";
    EXPECT_EQ(expected, SavedRegistry(m));
}

TEST(SimRegedit, RejectsWhatIsNotARegistryFileWithItsLine)
{
    const struct {
        const char *text, *error;
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

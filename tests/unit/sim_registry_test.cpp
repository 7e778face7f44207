// What the simulated registry does as Windows 98 alone does: subtree
// deletion, handles that outlive their keys, ERROR_MORE_DATA;
// and registry.reg, the REGEDIT4 text of the Windows 98 registry editor:
// read, exported in the editor's form, and saved as the text read less the
// deleted keys.
#include <cstring>

#include "machine_builder.h"
#include "platform.h"
#include "registry/registry.h"  // SimRegExport: the registry in one canonical text

namespace {

const char *const CLASSES_AND_USERS =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a}\\InProcServer32]\n@=\"BR32SHEL.DLL\"\n"
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Duneva\\Sub]\n"
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Other]\n"
    "[HKEY_USERS\\.DEFAULT\\Software\\MenuOrder\\Duneva\\Sub]\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000]\n"
    "\"DeviceDesc\"=\"TINTAVERA Brascora Duneva 10\"\n\"NoNul\"=hex(1):41,42\n@=\"default\"\n"
    "\"Inner\"=hex(1):54,68,69,73,00,42,72,00\n\"Empty\"=hex(1):\n\"Binary\"=hex:61,00,62\n";

TEST(SimRegistry, DeletesWholeSubtreesThroughEveryRootName)
{
    // The deletion's result, a key of the subtree through another root name
    // (gone afterwards), and its parent (kept).
    const std::string tooLong(256, 'k');  // a key name has at most 255 characters
    const std::tuple<HKEY, const char *, long, const char *, const char *> cases[] = {
        {HKEY_CLASSES_ROOT, "CLSID\\{5c3a}", 0, "HKLM\\SOFTWARE\\Classes\\CLSID\\{5c3a}\\InProcServer32",
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"},
        {HKEY_CURRENT_CONFIG, "System\\Print\\Duneva", 0, "HKLM\\Config\\0001\\System\\Print\\Duneva\\Sub",
         "HKCC\\System\\Print\\Other"},
        {HKEY_CURRENT_USER, "Software\\MenuOrder\\Duneva", 0,
         "HKEY_USERS\\.DEFAULT\\Software\\MenuOrder\\Duneva\\Sub", "HKU\\.DEFAULT\\Software\\MenuOrder"},
        {HKEY_USERS, ".default\\software\\menuorder\\duneva", 0, "HKCU\\Software\\MenuOrder\\Duneva",
         "HKU\\.DEFAULT\\Software"},
        // No call can delete a root or the key a handle holds.
        {HKEY_LOCAL_MACHINE, "", ERROR_INVALID_PARAMETER, "", "HKLM\\Enum\\Root\\Printer\\0000"},
        {HKEY_CLASSES_ROOT, nullptr, ERROR_INVALID_PARAMETER, "", "HKCR\\CLSID\\{5c3a}"},
        {HKEY_LOCAL_MACHINE, "Enum\\\\Root", ERROR_BADKEY, "", "HKLM\\Enum\\Root\\Printer\\0000"},
        {HKEY_LOCAL_MACHINE, "Enum\\Missing\\0000", ERROR_FILE_NOT_FOUND, "", "HKLM\\Enum"},
        {HKEY_LOCAL_MACHINE, tooLong.c_str(), ERROR_BADKEY, "", "HKLM\\Enum"},
    };
    for (const auto &[root, subkey, result, gone, kept] : cases) {
        SCOPED_TRACE(subkey ? subkey : "NULL");
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS);
        ASSERT_TRUE(m.Load());
        EXPECT_EQ(result, RegDeleteKeyA(root, subkey));
        EXPECT_FALSE(SimKeyExists(gone));
        EXPECT_TRUE(SimKeyExists(kept));
        EXPECT_EQ(result ? result : ERROR_FILE_NOT_FOUND, RegDeleteKeyA(root, subkey)) << "again";
    }
}

TEST(SimRegistry, HandleToADeletedKeyFailsItsReadsButCloses)
{
    MachineBuilder m;
    m.Registry(CLASSES_AND_USERS);
    ASSERT_TRUE(m.Load());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Printer\\0000", 0, 1, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum"));
    DWORD size = 8;
    EXPECT_EQ(ERROR_BADKEY, RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ("hkey#1 HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000 (deleted)", SimOpenHandles());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_BADKEY, RegCloseKey(key)) << "closed twice on 98";
    EXPECT_EQ(ERROR_BADKEY, RegCloseKey(nullptr));
    EXPECT_EQ(ERROR_BADKEY, RegQueryValueExA((HKEY)(UINT_PTR)0xcafe, "x", nullptr, nullptr, nullptr, &size));
}

// Handles as each release gives them: Windows 98 gives an open key's handle
// again, so one close closes it for both; Windows 95 a new one, and takes a
// second close without complaint (Wine's registry.c, test_reg_close_key).
TEST(SimRegistry, HandlesAsEachReleaseGivesThem)
{
    for (const char *build : {"2222", "950"}) {
        SCOPED_TRACE(build);
        bool win95 = std::string(build) == "950";
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS).Set("Build", build);
        ASSERT_TRUE(m.Load());
        HKEY first = nullptr, second = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Printer\\0000", 0, 1, &first));
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\root\\printer\\0000", 0, 1, &second));
        EXPECT_EQ(!win95, first == second);
        EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(first));
        DWORD size = 8;
        EXPECT_EQ(win95 ? ERROR_SUCCESS : ERROR_BADKEY,
                  RegQueryValueExA(second, "Missing", nullptr, nullptr, nullptr, &size) == ERROR_FILE_NOT_FOUND
                      ? ERROR_SUCCESS : ERROR_BADKEY);
        EXPECT_EQ(win95 ? ERROR_SUCCESS : ERROR_BADKEY, RegCloseKey(second));
        EXPECT_EQ(win95 ? ERROR_SUCCESS : ERROR_BADKEY, RegCloseKey(first)) << "closed again";
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "\\Enum", 0, 1, &first))
            << "a leading backslash";
        EXPECT_EQ(win95 ? ERROR_BADKEY : ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_LOCAL_MACHINE, nullptr));
        EXPECT_EQ("", SimOpenHandles());
    }
}

TEST(SimRegistry, QueryValueReturnsWhatWindows9xReturns)
{
    // Value name (null: the default value), the size passed, MoreData=partial
    // in machine.ini, the result, the type and size returned, and the first
    // 8 bytes of the buffer afterwards (it starts as "########").
    const std::tuple<const char *, DWORD, bool, LONG, DWORD, DWORD, const char *> cases[] = {
        {"devicedesc", 29, false, ERROR_SUCCESS, REG_SZ, 29, "TINTAVER"},
        {"DeviceDesc", 28, false, ERROR_MORE_DATA, REG_SZ, 29, "########"},
        {"DeviceDesc", 4, true, ERROR_MORE_DATA, REG_SZ, 29, "TINT####"},
        {nullptr, 8, false, ERROR_SUCCESS, REG_SZ, 8, "default"},
        // A missing value: the type 0, the size as it was.
        {"Missing", 8, false, ERROR_FILE_NOT_FOUND, 0, 8, "########"},
        // REG_SZ read back as the string 9x keeps: up to its first NUL, with
        // one; none stored gets one, and no bytes read as one NUL (Wine's
        // registry.c, its Win9x cases).
        {"Inner", 30, false, ERROR_SUCCESS, REG_SZ, 5, "This\0###"},
        {"Inner", 5, false, ERROR_SUCCESS, REG_SZ, 5, "This\0###"},
        {"NoNul", 8, false, ERROR_SUCCESS, REG_SZ, 3, "AB\0#####"},
        {"Empty", 8, false, ERROR_SUCCESS, REG_SZ, 1, "\0#######"},
        {"Binary", 8, false, ERROR_SUCCESS, REG_BINARY, 3, "a\0b#####"},
    };
    for (const auto &[value, sizeIn, partial, result, typeOut, sizeOut, bytes] : cases) {
        SCOPED_TRACE(value ? value : "(default)");
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS).Ini(partial ? "[Machine]\nMoreData=partial\n" : "");
        ASSERT_TRUE(m.Load());
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\root\\PRINTER\\0000", 0, 1, &key));
        char buffer[40];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 77, size = sizeIn;
        EXPECT_EQ(result, RegQueryValueExA(key, value, nullptr, &type, (LPBYTE)buffer, &size))
            << SimFormatCalls(SimCalls());
        EXPECT_EQ(typeOut, type);
        EXPECT_EQ(sizeOut, size);
        EXPECT_EQ(std::string(bytes, 8), std::string(buffer, 8));
        EXPECT_EQ('#', buffer[sizeIn]) << "written past the size given";
        RegCloseKey(key);
    }
}

std::string SavedRegistry(const MachineBuilder &m)
{
    EXPECT_TRUE(SimSaveMachine());
    return MachineBuilder::ReadHost(m.dir() + "/registry.reg");
}

// The bytes of a value, or "<missing>".
std::string Query(HKEY root, const char *path, const char *name)
{
    HKEY key = nullptr;
    BYTE data[400];
    DWORD size = sizeof data;
    LONG result = RegOpenKeyExA(root, path, 0, 1, &key) ? 1 : RegQueryValueExA(key, name, nullptr, nullptr, data, &size);
    RegCloseKey(key);
    return result == ERROR_SUCCESS ? std::string((const char *)data, size) : "<missing>";
}

// The bytes read back after RegSetValueExA (Query's "<missing>" when
// none), as Windows 9x keeps them: a REG_SZ value is the caller's text up
// to its NUL, with the NUL, whatever the size (Wine's registry.c: cut two
// short, test_string_termination's Win9x case; set with no bytes,
// test_set_value's); none at all is refused (test_enum_value).
TEST(SimRegistry, SetValueKeepsAStringUpToItsNulWhateverTheSize)
{
    const char *const TEXT = "FullString\0Tail";
    const struct {
        DWORD type;
        const char *data;
        DWORD size;
        LONG result;
        std::string read;
    } cases[] = {
        {REG_SZ, TEXT, 11, ERROR_SUCCESS, std::string("FullString\0", 11)},
        {REG_SZ, TEXT, 10, ERROR_SUCCESS, std::string("FullString\0", 11)},
        {REG_SZ, TEXT, 9, ERROR_SUCCESS, std::string("FullString\0", 11)},
        {REG_SZ, TEXT, 0, ERROR_SUCCESS, std::string("FullString\0", 11)},
        {REG_SZ, TEXT, 16, ERROR_SUCCESS, std::string("FullString\0", 11)},
        {REG_SZ, "", 0, ERROR_SUCCESS, std::string("\0", 1)},
        {REG_SZ, nullptr, 0, ERROR_INVALID_PARAMETER, "<missing>"},
        {REG_BINARY, TEXT, 13, ERROR_SUCCESS, std::string("FullString\0Ta", 13)},
        {REG_BINARY, nullptr, 0, ERROR_SUCCESS, ""},
        {REG_BINARY, nullptr, 4, ERROR_INVALID_PARAMETER, "<missing>"},
    };
    for (const char *build : {"950", "2222"}) {
        for (const auto &c : cases) {
            SCOPED_TRACE(std::string(build) + " type " + std::to_string(c.type) + " size " + std::to_string(c.size));
            MachineBuilder m;
            m.Registry(CLASSES_AND_USERS).Set("Build", build);
            ASSERT_TRUE(m.Load());
            HKEY key = nullptr;
            ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Printer\\0000", 0, 2, &key));
            EXPECT_EQ(c.result, RegSetValueExA(key, "V", 0, c.type, (const BYTE *)c.data, c.size));
            RegCloseKey(key);
            EXPECT_EQ(c.read, Query(HKEY_LOCAL_MACHINE, "Enum\\Root\\Printer\\0000", "V"));
        }
    }
}

TEST(SimRegedit, AnExportReadsAndExportsBackByteForByte)
{
    std::string fixture = MachineBuilder::ReadHost(BR_SOURCE_DIR "/tests/unit/data/win98-export.reg");
    ASSERT_GT(fixture.size(), 1000u);
    MachineBuilder m;
    m.Registry(fixture);
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(fixture, SimRegExport());
    // What the text forms stand for.
    const char *const VERSION = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion";
    EXPECT_EQ(std::string("percorso \\\\SERVER\\stampa \"LPT1\"\0", 32),
              Query(HKEY_USERS, ".DEFAULT\\Software\\TINTAVERA\\Duneva 10", "Nota \"speciale\""));
    EXPECT_EQ(std::string("Ufficio Contabilit\xE0\0", 20), Query(HKEY_LOCAL_MACHINE, VERSION, "RegisteredOwner"));
    EXPECT_EQ(164u, Query(HKEY_LOCAL_MACHINE, VERSION, "DigitalProductId").size()) << "a wrapped hex list";
}

// A registry file as a user writes one, block by block: each key's line
// with the comments just above it and everything after it up to the next.
const char *const HAND_BLOCKS[] = {
    "REGEDIT4\n\n",
    "; the shell extension\n[HKEY_CLASSES_ROOT\\CLSID\\{5c3a}]\n@=\"Shell\"\n",
    "[hkcr\\clsid\\{5C3A}\\InProcServer32]\r\n@=\"BR32SHEL.DLL\"\r\n\r\n",
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\n@=\"txtfile\"\n\n",
    ("; the printer, given twice\n;\n[HKLM\\Enum\\Root\\printer\\0000]\n\"DeviceDesc\"=\"Duneva\"\n"
     "\"Flags\"=dword:1\n\"Bin\"=hex:01, 02,\\\n      03\n"),
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001]\n",
    "[HKEY_LOCAL_MACHINE\\enum\\root\\PRINTER\\0000]\n\"DeviceDesc\"=\"again\"\n\n",
    "[HKEY_CURRENT_USER\\Software\\Duneva]\n\"x\"=\"y\"\n; the end",
};

TEST(SimRegedit, SavingTakesOutTheBlocksOfTheDeletedKeysAndNothingElse)
{
    // The keys deleted; the blocks kept (+), taken out (-), and taken out
    // for the bare line of a key left without one (*).
    const std::tuple<std::vector<std::pair<HKEY, const char *>>, const char *, const char *> cases[] = {
        {{}, "++++++++", ""},
        {{{HKEY_CLASSES_ROOT, "CLSID\\{5c3a}\\InProcServer32"}}, "++-+++++", ""},
        {{{HKEY_LOCAL_MACHINE, "enum\\root\\printer\\0000"}}, "++++-+-+", ""},
        {{{HKEY_LOCAL_MACHINE, "Enum"}}, "++++---+", ""},
        // A parent named only by its children's lines keeps a line of its own.
        {{{HKEY_LOCAL_MACHINE, "SOFTWARE\\Classes\\CLSID\\{5C3A}"}}, "+*-+++++",
         "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID]\n\n"},
        {{{HKEY_CURRENT_USER, "Software"}, {HKEY_CLASSES_ROOT, ".TXT"}}, "+++-+++*", "[HKEY_USERS\\.DEFAULT]\n\n"},
    };
    for (const auto &[deletions, kept, bare] : cases) {
        SCOPED_TRACE(kept);
        std::string original, expected;
        for (size_t i = 0; i < std::size(HAND_BLOCKS); i++) {
            original += HAND_BLOCKS[i];
            expected += kept[i] == '+' ? HAND_BLOCKS[i] : kept[i] == '*' ? bare : "";
        }
        MachineBuilder m;
        m.Registry(original);
        ASSERT_TRUE(m.Load());
        for (const auto &[root, subkey] : deletions)
            ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(root, subkey)) << subkey;
        std::string left = SimRegExport();
        EXPECT_EQ(expected, SavedRegistry(m));
        ASSERT_TRUE(m.Load());
        EXPECT_EQ(left, SimRegExport()) << "the file reads back as the registry the deletions left";
    }
}

// A value set or deleted: only the changed key's value lines are written
// anew, in its first block (a key given twice keeps its second header);
// every other byte stays, and the file reads back as the registry.
TEST(SimRegedit, SavingWritesAChangedKeysValuesAnew)
{
    std::string original;
    for (const char *block : HAND_BLOCKS)
        original += block;
    MachineBuilder m;
    m.Registry(original);
    ASSERT_TRUE(m.Load());
    HKEY txt, printer;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_CLASSES_ROOT, ".txt", 0, KEY_SET_VALUE, &txt));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0000", 0, KEY_SET_VALUE, &printer));
    EXPECT_EQ(ERROR_SUCCESS, RegSetValueExA(txt, "New", 0, REG_SZ, (const BYTE *)"v", 2));
    EXPECT_EQ(ERROR_SUCCESS, RegDeleteValueA(printer, "flags"));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteValueA(printer, "Flags")) << "deleted once";
    RegCloseKey(txt);
    RegCloseKey(printer);
    std::string left = SimRegExport();
    std::string expected = std::string(HAND_BLOCKS[0]) + HAND_BLOCKS[1] + HAND_BLOCKS[2] +
                           "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\.txt]\n@=\"txtfile\"\n\"New\"=\"v\"\n\n" +
                           "; the printer, given twice\n;\n[HKLM\\Enum\\Root\\printer\\0000]\n\"DeviceDesc\"=\"again\"\n"
                           "\"Bin\"=hex:01,02,03\n\n" + HAND_BLOCKS[5] + "[HKEY_LOCAL_MACHINE\\enum\\root\\PRINTER\\0000]\n" +
                           HAND_BLOCKS[7];
    EXPECT_EQ(expected, SavedRegistry(m));
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(left, SimRegExport()) << "the file reads back as the registry the changes left";
}

}  // namespace

// The program group: the five shortcuts and the folder, under the user's
// "Programs" folder, and what happens when that value is missing or odd.
#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string SHELL_FOLDERS =
    "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::string PROGRAMS = "C:\\WINDOWS\\Start Menu\\Programs";
const char *const SHORTCUTS[] = {
    "Guida Duneva 10.LNK", "Problemi e soluzioni Duneva 10.LNK",
    "Monitor Stampante Duneva 10.LNK", "Disinstallazione Duneva 10.LNK",
    "Manuale Stampante Duneva 10.LNK",
};

// The six calls for a program folder, in order.
std::vector<std::string> SixCalls(const std::string &programs)
{
    std::string group = programs + "\\TINTAVERA Duneva 10";
    std::vector<std::string> calls;
    for (const char *name : SHORTCUTS)
        calls.push_back("DeleteFileA(" + group + "\\" + name + ")");
    calls.push_back("RemoveDirectoryA(" + group + ")");
    return calls;
}

std::vector<std::string> GroupCalls()
{
    return CallLines(CallsNamed({"DeleteFileA", "RemoveDirectoryA"}));
}

TestMachine &WithGroup(TestMachine &machine, const std::string &group, bool sixth)
{
    for (const char *name : SHORTCUTS)
        machine.File(group + "\\" + name, "L\1");
    if (sixth)
        machine.File(group + "\\Leggimi.txt", "x");
    return machine;
}

TEST(ProgramGroup, SixPathsInOrderAndTheFolderGoes)
{
    TestMachine machine;
    machine.Key(SHELL_FOLDERS, {RegString("Programs", PROGRAMS)});
    WithGroup(machine, PROGRAMS + "\\TINTAVERA Duneva 10", false)
        .File(PROGRAMS + "\\Accessori\\Guida Duneva 10.LNK", "L\1")
        .Load();
    RemoveProgramGroup();
    EXPECT_EQ(SixCalls(PROGRAMS), GroupCalls()) << AllCallsText();
    std::vector<SimCall> open = SimCallsNamed("RegOpenKeyExA");
    ASSERT_EQ(1u, open.size());
    EXPECT_EQ("HKEY_CURRENT_USER", open[0].args[0]);
    EXPECT_EQ(SHELL_FOLDERS.substr(SHELL_FOLDERS.find("Software")), open[0].args[1]);
    EXPECT_EQ(1u, SimCallsNamed("RegCloseKey").size());
    SimUnloadMachine();
    EXPECT_FALSE(machine.Exists(PROGRAMS + "\\TINTAVERA Duneva 10"));
    EXPECT_TRUE(machine.Exists(PROGRAMS + "\\Accessori\\Guida Duneva 10.LNK"));
}

TEST(ProgramGroup, ASixthFileKeepsTheFolder)
{
    TestMachine machine;
    machine.Key(SHELL_FOLDERS, {RegString("Programs", PROGRAMS)});
    WithGroup(machine, PROGRAMS + "\\TINTAVERA Duneva 10", true).Load();
    RemoveProgramGroup();
    EXPECT_EQ(SixCalls(PROGRAMS), GroupCalls()) << AllCallsText();
    SimUnloadMachine();
    for (const char *name : SHORTCUTS)
        EXPECT_FALSE(machine.Exists(PROGRAMS + "\\TINTAVERA Duneva 10\\" + name)) << name;
    EXPECT_TRUE(machine.Exists(PROGRAMS + "\\TINTAVERA Duneva 10\\Leggimi.txt"));
}

TEST(ProgramGroup, AnEmptyFolderIsRemovedAndBusyShortcutsPassedOver)
{
    TestMachine machine;
    machine.Key(SHELL_FOLDERS, {RegString("Programs", PROGRAMS)})
        .File(PROGRAMS + "\\TINTAVERA Duneva 10\\")
        .Load();
    SimFailCall("DeleteFileA", 2, ERROR_SHARING_VIOLATION);
    RemoveProgramGroup();
    EXPECT_EQ(SixCalls(PROGRAMS), GroupCalls()) << AllCallsText();
    SimUnloadMachine();
    EXPECT_FALSE(machine.Exists(PROGRAMS + "\\TINTAVERA Duneva 10"));
}

// The "Programs" value decides the paths; these cases only look at them.
struct ProgramsCase {
    const char *what;
    bool key;                     // the Shell Folders key exists
    std::string valueLine;        // "" for no "Programs" value
    std::string programs;         // the folder the six calls use; "-" for no calls
};

TEST(ProgramGroup, WhatTheProgramsValueLeadsTo)
{
    const std::string longest(204, 'p');  // 204 + 20 + 35 = 259 characters
    const ProgramsCase cases[] = {
        {"a trailing backslash is kept", true, RegString("Programs", PROGRAMS + "\\"), PROGRAMS + "\\"},
        {"no Shell Folders key: the root of the drive", false, "", ""},
        {"no Programs value: the root of the drive", true, "", ""},
        {"stored without a NUL", true, RegBinary("Programs", PROGRAMS), PROGRAMS},
        {"the longest path that fits", true, RegString("Programs", longest), longest},
        {"one character more: no call", true, RegString("Programs", longest + "p"), "-"},
        {"300 bytes without a NUL: no call", true, RegBinary("Programs", std::string(300, 'C')), "-"},
        {"260 bytes without a NUL: no call", true, RegBinary("Programs", std::string(260, 'C')), "-"},
    };
    for (const ProgramsCase &c : cases) {
        TestMachine machine;
        if (c.key)
            machine.Key(SHELL_FOLDERS, c.valueLine.empty() ? std::vector<std::string>{}
                                                            : std::vector<std::string>{c.valueLine});
        machine.Load();
        RemoveProgramGroup();
        std::vector<std::string> expected;
        if (c.programs != "-")
            expected = SixCalls(c.programs);
        EXPECT_EQ(expected, GroupCalls()) << c.what << "\n" << AllCallsText();
        EXPECT_EQ(c.key ? 1u : 0u, SimCallsNamed("RegQueryValueExA").size()) << c.what;
        EXPECT_EQ(c.key ? 1u : 0u, SimCallsNamed("RegCloseKey").size()) << c.what;
    }
}

// Without the key the group is looked for at the root of the current drive.
TEST(ProgramGroup, MissingKeyRemovesTheGroupAtTheDriveRoot)
{
    TestMachine machine;
    WithGroup(machine, "C:\\TINTAVERA Duneva 10", false).Load();
    RemoveProgramGroup();
    EXPECT_EQ(SixCalls(""), GroupCalls()) << AllCallsText();
    SimUnloadMachine();
    EXPECT_FALSE(machine.Exists("C:\\TINTAVERA Duneva 10"));
}

// The helper under both registry reads: the text ends inside the buffer,
// and nothing is written past it.
TEST(ReadValueText, TerminatesInsideTheBufferOrRefuses)
{
    const int SIZE = 16;
    const struct {
        const char *what;
        std::string valueLine;
        int result;
        const char *text;
    } cases[] = {
        {"a string that fits", RegString("V", "fifteen chars!!"), VALUE_TEXT_READ, "fifteen chars!!"},
        {"a string one too long", RegString("V", "sixteen chars!!!"), VALUE_TEXT_TOO_LONG, ""},
        {"bytes without a NUL that fit", RegBinary("V", "fifteen bytes!!"), VALUE_TEXT_READ, "fifteen bytes!!"},
        {"16 bytes without a NUL", RegBinary("V", "sixteen bytes!!!"), VALUE_TEXT_TOO_LONG, ""},
        {"16 bytes ending in a NUL", RegBinary("V", std::string("fifteen bytes!!") + '\0'), VALUE_TEXT_READ, "fifteen bytes!!"},
        {"a NUL inside", RegBinary("V", std::string("ab\0cdefghijklmn", 15)), VALUE_TEXT_READ, "ab"},
        {"a number", "\"V\"=dword:00434241", VALUE_TEXT_READ, "ABC"},
        {"empty", RegString("V", ""), VALUE_TEXT_READ, ""},
        {"no such value", RegString("W", "x"), VALUE_TEXT_MISSING, ""},
    };
    for (const auto &c : cases) {
        TestMachine machine;
        machine.Key("HKEY_LOCAL_MACHINE\\Test", {c.valueLine}).Load();
        HKEY key = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Test", 0, KEY_QUERY_VALUE, &key));
        char text[SIZE + 1];
        memset(text, 'x', sizeof text);
        text[SIZE] = '#';
        EXPECT_EQ(c.result, ReadValueText(key, "V", text, SIZE)) << c.what;
        EXPECT_STREQ(c.text, text) << c.what;
        EXPECT_EQ('#', text[SIZE]) << c.what;
        RegCloseKey(key);
    }
}

}  // namespace

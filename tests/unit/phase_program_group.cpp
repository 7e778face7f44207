// The program group: five shortcuts and the folder under the user's
// "Programs" folder, by what that value holds; and the value reader under
// both registry reads.
#include <cstring>

#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string SHELL_FOLDERS =
    "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
const std::string PROGRAMS = "C:\\WINDOWS\\Start Menu\\Programs";

// The six paths of a group under the folder programs ("-": no call at all):
// a path that cannot be read whole, or leaves no room for the longest
// shortcut, is not used at all. More shapes are among the hostile machines.
TEST(ProgramGroup, TheSixPathsByTheProgramsValue)
{
    const std::string longest(204, 'p');  // 204 + 20 + 35 = 259 characters
    const struct {
        const char *what;
        bool key;               // the Shell Folders key exists
        std::string valueLine;  // "": no "Programs" value
        std::string programs;
    } cases[] = {
        {"the sample's value", true, RegString("Programs", PROGRAMS), PROGRAMS},
        {"a trailing backslash is kept", true, RegString("Programs", PROGRAMS + "\\"), PROGRAMS + "\\"},
        {"no Shell Folders key: the root of the drive", false, "", ""},
        {"no Programs value: the root of the drive", true, "", ""},
        {"the longest path that fits", true, RegString("Programs", longest), longest},
        {"one character more", true, RegString("Programs", longest + "p"), "-"},
        {"300 bytes without a NUL", true, RegBinary("Programs", std::string(300, 'C')), "-"},
        {"260 bytes without a NUL", true, RegBinary("Programs", std::string(260, 'C')), "-"},
    };
    for (const auto &c : cases) {
        Machine machine;
        if (c.key)
            machine.Key(SHELL_FOLDERS, {c.valueLine});
        machine.Load();
        RemoveProgramGroup();
        std::vector<std::string> expected;
        std::string group = c.programs + "\\" PRODUCT_NAME;
        for (const char *name : SHORTCUTS)
            expected.push_back("DeleteFileA(" + group + "\\" + name + ")");
        expected.push_back("RemoveDirectoryA(" + group + ")");
        if (c.programs == "-")
            expected.clear();
        EXPECT_EQ(expected, Calls({"DeleteFileA", "RemoveDirectoryA"})) << c.what << "\n" << SimFormatCalls(SimCalls());
        EXPECT_EQ(c.key ? 1u : 0u, SimCallsNamed("RegQueryValueExA").size()) << c.what;
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

// The text ends inside the buffer, or is refused; nothing is written past it.
TEST(ProgramGroup, ReadValueText)
{
    const int SIZE = 16;
    const struct {
        std::string valueLine;
        int result;
        const char *text;
    } cases[] = {
        {RegString("V", "fifteen chars!!"), VALUE_TEXT_READ, "fifteen chars!!"},
        {RegString("V", "sixteen chars!!!"), VALUE_TEXT_TOO_LONG, ""},
        {RegBinary("V", "fifteen bytes!!"), VALUE_TEXT_READ, "fifteen bytes!!"},
        {RegBinary("V", "sixteen bytes!!!"), VALUE_TEXT_TOO_LONG, ""},
        {RegBinary("V", std::string("fifteen bytes!!") + '\0'), VALUE_TEXT_READ, "fifteen bytes!!"},
        {RegBinary("V", std::string("ab\0cdefghijklmn", 15)), VALUE_TEXT_READ, "ab"},
        {RegString("W", "x"), VALUE_TEXT_MISSING, ""},
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.Key(HKLM + "Test", {c.valueLine}).Load();
        HKEY key = 0;
        ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Test", 0, KEY_QUERY_VALUE, &key));
        char text[SIZE + 1];
        memset(text, 'x', sizeof text);
        text[SIZE] = '#';
        EXPECT_EQ(c.result, ReadValueText(key, "V", text, SIZE)) << c.valueLine;
        EXPECT_STREQ(c.text, text) << c.valueLine;
        EXPECT_EQ('#', text[SIZE]) << c.valueLine;
        RegCloseKey(key);
    }
}

}  // namespace

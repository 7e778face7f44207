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

// The six paths of a group under the folder programs ("-": no call at all),
// by what "Programs" holds: a path that cannot be read whole (partial: the
// machine copies what fits, as Windows 98 does), or leaves no room for the
// longest shortcut, is not used at all, nor is a missing or empty one; a
// number is read as its bytes.
TEST(ProgramGroup, TheSixPathsByTheProgramsValue)
{
    const std::string longest(204, 'p');  // 204 + 20 + 35 = 259 characters
    const struct {
        const char *what;
        bool key;               // the Shell Folders key exists
        std::string valueLine;  // "": no "Programs" value
        std::string programs;
        bool partial = false;
    } cases[] = {
        {"the sample's value", true, RegString("Programs", PROGRAMS), PROGRAMS},
        {"a trailing backslash is kept", true, RegString("Programs", PROGRAMS + "\\"), PROGRAMS + "\\"},
        {"the path as binary bytes", true, RegBinary("Programs", PROGRAMS), PROGRAMS},
        {"the path without its NUL", true, "\"Programs\"=hex(1):" + RegBinary("", PROGRAMS).substr(7), PROGRAMS},
        {"a number", true, "\"Programs\"=dword:00000001", "\x01"},
        {"no Shell Folders key: nothing at the root of the drive", false, "", "-"},
        {"no Programs value: nothing at the root of the drive", true, "", "-"},
        {"an empty Programs value: nothing at the root of the drive", true, RegString("Programs", ""), "-"},
        {"the longest path that fits", true, RegString("Programs", longest), longest},
        {"one character more", true, RegString("Programs", longest + "p"), "-"},
        {"300 bytes, the part that fits copied", true, RegString("Programs", std::string(299, 'p')), "-", true},
        {"300 bytes without a NUL", true, RegBinary("Programs", std::string(300, 'C')), "-"},
        {"260 bytes without a NUL", true, RegBinary("Programs", std::string(260, 'C')), "-"},
    };
    for (const auto &c : cases) {
        Machine machine;
        if (c.key)
            machine.Key(SHELL_FOLDERS, {c.valueLine});
        if (c.partial)
            machine.Set("MoreData", "partial");
        ASSERT_TRUE(machine.Load());
        RemoveProgramGroup();
        // The shortcuts' names are the whole run's to check (WholeRun).
        std::vector<std::string> expected(5, "DeleteFileA(" + c.programs + "\\" PRODUCT_NAME "\\*)"), calls;
        expected.push_back("RemoveDirectoryA(" + c.programs + "\\" PRODUCT_NAME ")");
        if (c.programs == "-")
            expected.clear();
        for (std::string call : Calls({"DeleteFileA", "RemoveDirectoryA"}))
            calls.push_back(call[0] == 'D' ? call.substr(0, call.rfind('\\') + 1) + "*)" : call);
        EXPECT_EQ(expected, calls) << c.what << "\n" << SimFormatCalls(SimCalls());
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
        ASSERT_TRUE(machine.Key(HKLM + "Test", {c.valueLine}).Load());
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

// The device-instance scan: which numbered names it tries within its miss
// budget, which keys it deletes, and the names it builds.
#include <cstring>

#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string ROOT_PRINTER = "Enum\\Root\\printer";
const std::string CLASS_PRINTER = "System\\CurrentControlSet\\Services\\Class\\Printer";

std::string Name(const std::string &base, int number)
{
    char digits[16];
    snprintf(digits, sizeof digits, "\\%04d", number);
    return base + digits;
}

struct ScanCase {
    const char *what;
    std::vector<std::pair<int, std::string>> keys;  // pass 1's, with a value line
    int lastTried;                                  // the last number the pass tries
    std::vector<int> deleted;                       // deletions attempted, in order
    bool firstDeletionFails = false;
};

// Pass 1 tries 0000 up to lastTried, each name once, and the name of each
// deletion again; pass 2, on an empty class, tries 0000 to 0101 afresh.
TEST(DeviceInstances, TriesWithinTheBudgetAndDeletesTheMatches)
{
    auto Desc = [](const std::string &text) { return RegString("DeviceDesc", text); };
    const std::string D = Desc(DRIVER);
    const ScanCase cases[] = {
        {"no keys: 0000 to 0101, 102 attempts", {}, 101, {}},
        {"a run of non-matching keys is examined to its end",
         {{0, Desc("A")}, {1, Desc("B")}, {2, Desc("C")}, {3, Desc("D")}, {4, Desc("E")}}, 105, {}},
        {"deletion in the middle", {{0, Desc("A")}, {1, D}, {2, Desc("C")}}, 100, {1}},
        {"ten matching keys",
         {{0, D}, {1, D}, {2, D}, {3, D}, {4, D}, {5, D}, {6, D}, {7, D}, {8, D}, {9, D}}, 82,
         {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
        {"the worked pass", {{0, Desc("OSTRALIS Jet 400")}, {1, D}, {3, D}}, 99, {1, 3}},
        {"a key lacking the value after a match", {{0, D}, {1, RegString("Class", "Printer")}}, 99, {0}},
        {"a value longer than the buffer after a match", {{0, D}, {1, Desc(DRIVER + std::string(300, 'x'))}}, 99, {0}},
        {"260 bytes without a NUL after a match", {{0, D}, {1, RegBinary("DeviceDesc", DRIVER + std::string(232, 'x'))}}, 99, {0}},
        {"the only key at 0099 matches", {{99, D}}, 99, {99}},
        {"the only key at 0100 is opened, not examined", {{100, D}}, 100, {}},
        {"the only key at 0101 is opened, not examined", {{101, D}}, 101, {}},
        {"the only key at 0102 is never tried", {{102, D}}, 101, {}},
        {"letter case differs", {{0, Desc("TINTAVERA BRASCORA DUNEVA 10")}}, 101, {}},
        {"a trailing blank", {{0, Desc(DRIVER + " ")}}, 101, {}},
        {"a soft hyphen, which the locale's sort passes over", {{0, Desc("TINTAVERA Bras\xad" "cora Duneva 10")}}, 100, {0}},
        {"a control byte counts", {{0, Desc(DRIVER + "\x01")}}, 101, {}},
        {"a deletion that fails: a miss, and on with the next number", {{0, D}, {1, D}}, 98, {0, 1}, true},
    };
    for (const ScanCase &c : cases) {
        Machine machine;
        machine.Key(HKLM + ROOT_PRINTER);
        for (const auto &[number, value] : c.keys)
            machine.Key(HKLM + Name(ROOT_PRINTER, number), {value});
        ASSERT_TRUE(machine.Load());
        if (c.firstDeletionFails)
            SimFailCall("RegDeleteKeyA", 1, ERROR_ACCESS_DENIED);
        ScanDeviceInstances();

        std::vector<std::string> expected, tried;
        for (int n = 0; n <= c.lastTried; n++) {
            expected.push_back(Name(ROOT_PRINTER, n));
            if (std::count(c.deleted.begin(), c.deleted.end(), n))
                expected.push_back(Name(ROOT_PRINTER, n));
        }
        for (int n = 0; n <= 101; n++)
            expected.push_back(Name(CLASS_PRINTER, n));
        for (const SimCall &open : SimCallsNamed("RegOpenKeyExA"))
            tried.push_back(open.args[1]);
        EXPECT_EQ(expected, tried) << c.what << "\n" << SimFormatCalls(SimCalls());
        for (const auto &[number, value] : c.keys) {
            bool gone = std::count(c.deleted.begin(), c.deleted.end(), number) &&
                        !(c.firstDeletionFails && number == c.deleted[0]);
            EXPECT_NE(gone, SimKeyExists(HKLM + Name(ROOT_PRINTER, number))) << c.what << ": " << number;
        }
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

// Four digits with leading zeros up to 9999, the digits alone after it; a
// name that does not fit is not built, and nothing is written past the size.
TEST(DeviceInstances, BuildInstanceKeyName)
{
    const std::pair<int, const char *> cases[] = {
        {0, "Base\\0000"},    {7, "Base\\0007"},    {42, "Base\\0042"},    {999, "Base\\0999"},
        {1000, "Base\\1000"}, {9999, "Base\\9999"}, {10000, "Base10000"}, {2147483647, "Base2147483647"},
    };
    for (const auto &[number, text] : cases) {
        char name[TEXT_SIZE + 1];
        int size = (int)strlen(text) + 1;
        memset(name, '#', sizeof name);
        EXPECT_TRUE(BuildInstanceKeyName(name, size, "Base", number)) << number;
        EXPECT_STREQ(text, name);
        EXPECT_EQ('#', name[size]) << number;
        memset(name, '#', sizeof name);
        EXPECT_FALSE(BuildInstanceKeyName(name, size - 1, "Base", number)) << number;
        EXPECT_EQ(0, name[0]) << number;
        EXPECT_EQ('#', name[size - 1]) << number;
        memset(name, '#', sizeof name);  // a base path that alone fills the size
        EXPECT_FALSE(BuildInstanceKeyName(name, 4, "Base", number));
        EXPECT_EQ('#', name[4]) << number;
    }
}

}  // namespace

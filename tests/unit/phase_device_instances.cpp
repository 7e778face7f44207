// The device-instance scan: which numbered names it tries, within its miss
// budget, which keys it examines and which it deletes.
#include <cstring>

#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string ROOT_PRINTER = "Enum\\Root\\printer";
const std::string CLASS_PRINTER = "System\\CurrentControlSet\\Services\\Class\\Printer";

std::string Name(const std::string &base, int number)
{
    char digits[8];
    snprintf(digits, sizeof digits, "%04d", number);
    return base + "\\" + digits;
}

std::string Stored(const std::string &subkey)
{
    return "HKEY_LOCAL_MACHINE\\" + subkey;
}

// One instance key: its number and the description it holds (null: none).
struct Instance {
    int number;
    const char *description;
};

struct ScanCase {
    const char *what;
    std::vector<Instance> keys;       // in pass 1; pass 2 stays empty
    int lastTried;                    // the last number the pass tries
    std::vector<int> deleted;         // in order
    std::vector<int> examined;        // keys whose value is read, in order
};

const char *const DRIVER = DRIVER_NAME;

const ScanCase g_scanCases[] = {
    {"no keys: 0000 to 0101, 102 attempts", {}, 101, {}, {}},
    {"a run of non-matching keys is examined to its end",
     {{0, "A"}, {1, "B"}, {2, "C"}, {3, "D"}, {4, "E"}}, 105, {}, {0, 1, 2, 3, 4}},
    {"deletion in the middle", {{0, "A"}, {1, DRIVER}, {2, "C"}}, 100, {1}, {0, 1, 2}},
    {"ten matching keys",
     {{0, DRIVER}, {1, DRIVER}, {2, DRIVER}, {3, DRIVER}, {4, DRIVER},
      {5, DRIVER}, {6, DRIVER}, {7, DRIVER}, {8, DRIVER}, {9, DRIVER}},
     82, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}},
    {"a key lacking the value after a match", {{0, DRIVER}, {1, nullptr}}, 99, {0}, {0, 1}},
    {"the only key at 0099 matches", {{99, DRIVER}}, 99, {99}, {99}},
    {"the only key at 0100 is opened, not examined", {{100, DRIVER}}, 100, {}, {}},
    {"the only key at 0101 is opened, not examined", {{101, DRIVER}}, 101, {}, {}},
    {"the only key at 0102 is never tried", {{102, DRIVER}}, 101, {}, {}},
    {"letter case differs", {{0, "TINTAVERA BRASCORA DUNEVA 10"}}, 101, {}, {0}},
    {"a trailing blank", {{0, DRIVER_NAME " "}}, 101, {}, {0}},
    {"a leading blank", {{0, " " DRIVER_NAME}}, 101, {}, {0}},
};

// Names the case in gtest's messages instead of its bytes.
void PrintTo(const ScanCase &c, std::ostream *os)
{
    *os << c.what;
}

class ScanTest : public ::testing::TestWithParam<ScanCase> {};

TEST_P(ScanTest, TriesExaminesAndDeletes)
{
    const ScanCase &c = GetParam();
    TestMachine machine;
    machine.Key(Stored(ROOT_PRINTER));
    for (const Instance &key : c.keys) {
        std::vector<std::string> values = {RegString("Class", "Printer")};
        if (key.description)
            values.push_back(RegString("DeviceDesc", key.description));
        machine.Key(Stored(Name(ROOT_PRINTER, key.number)), values);
    }
    machine.Load();
    ScanDeviceInstances();

    std::vector<SimCall> opens = SimCallsNamed("RegOpenKeyExA");
    std::vector<std::string> tried;
    for (const SimCall &open : opens) {
        if (open.args[1].rfind(ROOT_PRINTER, 0) == 0)
            tried.push_back(open.args[1]);
    }
    // Apart from the re-open after a deletion, no name is tried twice.
    std::vector<std::string> expectedTried;
    for (int n = 0; n <= c.lastTried; n++) {
        expectedTried.push_back(Name(ROOT_PRINTER, n));
        if (std::find(c.deleted.begin(), c.deleted.end(), n) != c.deleted.end())
            expectedTried.push_back(Name(ROOT_PRINTER, n));
    }
    EXPECT_EQ(expectedTried, tried) << AllCallsText();

    std::vector<std::string> deleted, expectedDeleted;
    for (const SimCall &del : SimCallsNamed("RegDeleteKeyA"))
        deleted.push_back(del.args[1]);
    for (int n : c.deleted)
        expectedDeleted.push_back(Name(ROOT_PRINTER, n));
    EXPECT_EQ(expectedDeleted, deleted) << AllCallsText();

    // The value is read once per examined key, always "DeviceDesc" in pass 1.
    int reads = 0;
    for (const SimCall &query : SimCallsNamed("RegQueryValueExA")) {
        if (query.args[1] == "DeviceDesc")
            reads++;
    }
    EXPECT_EQ((int)c.examined.size(), reads) << AllCallsText();

    for (const Instance &key : c.keys) {
        bool gone = std::find(c.deleted.begin(), c.deleted.end(), key.number) != c.deleted.end();
        EXPECT_NE(gone, SimKeyExists(Stored(Name(ROOT_PRINTER, key.number)))) << key.number;
    }
    // Every key opened was closed: at most one is ever open.
    EXPECT_EQ(SimCallsNamed("RegCloseKey").size(),
              (size_t)std::count_if(opens.begin(), opens.end(),
                                    [](const SimCall &o) { return o.result == 0; }))
        << AllCallsText();
    // Pass 2 runs on its own from 0000, whatever pass 1 ended with.
    EXPECT_EQ(102, std::count_if(opens.begin(), opens.end(), [](const SimCall &o) {
                  return o.args[1].rfind(CLASS_PRINTER, 0) == 0;
              }));
}

INSTANTIATE_TEST_SUITE_P(DeviceInstances, ScanTest, ::testing::ValuesIn(g_scanCases),
                         [](const auto &info) { return "case" + std::to_string(info.index); });

// The worked pass: 0000 another printer's, 0001 and 0003 the driver's.
TEST(ScanWorkedPass, OpensInThisOrder)
{
    TestMachine machine;
    machine.Key(Stored(CLASS_PRINTER + "\\0000"), {RegString("DriverDesc", "OSTRALIS Jet 400")})
        .Key(Stored(CLASS_PRINTER + "\\0001"), {RegString("DriverDesc", DRIVER_NAME)})
        .Key(Stored(CLASS_PRINTER + "\\0001\\Default"), {RegString("Port", "LPT1:")})
        .Key(Stored(CLASS_PRINTER + "\\0003"), {RegString("DriverDesc", DRIVER_NAME)})
        .Load();
    ScanDeviceInstances();

    std::vector<std::string> opened;
    for (const SimCall &open : SimCallsNamed("RegOpenKeyExA")) {
        if (open.args[1].rfind(CLASS_PRINTER, 0) == 0)
            opened.push_back(open.args[1].substr(CLASS_PRINTER.size() + 1) +
                             (open.result == 0 ? " opens" : " fails"));
    }
    std::vector<std::string> expected = {"0000 opens", "0001 opens", "0001 fails",
                                         "0002 fails", "0003 opens", "0003 fails"};
    for (int n = 4; n <= 99; n++)
        expected.push_back(Name("", n).substr(1) + " fails");
    EXPECT_EQ(expected, opened) << AllCallsText();
    EXPECT_TRUE(SimKeyExists(Stored(CLASS_PRINTER + "\\0000")));
    EXPECT_FALSE(SimKeyExists(Stored(CLASS_PRINTER + "\\0001")));
    EXPECT_FALSE(SimKeyExists(Stored(CLASS_PRINTER + "\\0003")));
    // Pass 2 reads "DriverDesc", never pass 1's value name.
    for (const SimCall &query : SimCallsNamed("RegQueryValueExA"))
        EXPECT_EQ("DriverDesc", query.args[1]);
}

// A matching key that cannot be deleted: the pass goes on with the next
// number, as after a deletion, and ends within its budget.
TEST(ScanFailedDeletion, CountsAMissAndGoesOn)
{
    TestMachine machine;
    machine.Key(Stored(ROOT_PRINTER + "\\0000"), {RegString("DeviceDesc", DRIVER_NAME)})
        .Key(Stored(ROOT_PRINTER + "\\0001"), {RegString("DeviceDesc", DRIVER_NAME)})
        .Load();
    SimFailCall("RegDeleteKeyA", 1, ERROR_ACCESS_DENIED);
    ScanDeviceInstances();

    std::vector<std::string> tried;
    for (const SimCall &open : SimCallsNamed("RegOpenKeyExA")) {
        if (open.args[1].rfind(ROOT_PRINTER, 0) == 0)
            tried.push_back(open.args[1].substr(ROOT_PRINTER.size() + 1));
    }
    // 0000 (stuck, re-opened once), then the search: 0001 opens at a cost
    // of 2, is deleted (1), and 0002 to 0098 fail.
    std::vector<std::string> expected = {"0000", "0000", "0001", "0001"};
    for (int n = 2; n <= 98; n++)
        expected.push_back(Name("", n).substr(1));
    EXPECT_EQ(expected, tried) << AllCallsText();
    EXPECT_TRUE(SimKeyExists(Stored(ROOT_PRINTER + "\\0000")));
    EXPECT_FALSE(SimKeyExists(Stored(ROOT_PRINTER + "\\0001")));
}

// What a description can be besides text: raw bytes, too long a value.
struct DescriptionCase {
    const char *what;
    std::string valueLine;
    bool deleted;
};

TEST(ScanDescriptions, ReadAfreshAndTerminatedInsideTheBuffer)
{
    const std::string longText = std::string(DRIVER_NAME) + std::string(300, 'x');
    const DescriptionCase cases[] = {
        {"the name as bytes without a NUL", RegBinary("DeviceDesc", DRIVER_NAME), true},
        {"the name and a NUL", RegBinary("DeviceDesc", std::string(DRIVER_NAME) + '\0'), true},
        {"the name, a NUL and more bytes",
         RegBinary("DeviceDesc", std::string(DRIVER_NAME) + '\0' + "junk"), true},
        {"longer than the buffer, starting with the name", RegString("DeviceDesc", longText), false},
        {"300 bytes, no NUL, starting with the name",
         RegBinary("DeviceDesc", longText.substr(0, 300)), false},
        {"260 bytes, no NUL", RegBinary("DeviceDesc", longText.substr(0, 260)), false},
        {"empty", RegString("DeviceDesc", ""), false},
    };
    for (const DescriptionCase &c : cases) {
        TestMachine machine;
        // 0000 matches and is deleted first, so that a stale buffer would
        // still hold the driver's name when 0001 is read.
        machine.Key(Stored(ROOT_PRINTER + "\\0000"), {RegString("DeviceDesc", DRIVER_NAME)})
            .Key(Stored(ROOT_PRINTER + "\\0001"), {c.valueLine})
            .Key(Stored(ROOT_PRINTER + "\\0002"), {RegString("DeviceDesc", "OSTRALIS")})
            .Load();
        ScanDeviceInstances();
        EXPECT_EQ(c.deleted, !SimKeyExists(Stored(ROOT_PRINTER + "\\0001")))
            << c.what << "\n" << AllCallsText();
        EXPECT_TRUE(SimKeyExists(Stored(ROOT_PRINTER + "\\0002"))) << c.what;
    }
}

// Names by magnitude, and a buffer that is never written past.
TEST(BuildInstanceKeyName, FourDigitsUpTo9999ThenTheDigitsAlone)
{
    const struct {
        int number;
        const char *name;
    } cases[] = {
        {0, "Base\\0000"},     {7, "Base\\0007"},     {9, "Base\\0009"},
        {10, "Base\\0010"},    {42, "Base\\0042"},    {99, "Base\\0099"},
        {100, "Base\\0100"},   {999, "Base\\0999"},   {1000, "Base\\1000"},
        {9999, "Base\\9999"},  {10000, "Base10000"},  {123456, "Base123456"},
        {2147483647, "Base2147483647"},
    };
    for (const auto &c : cases) {
        char name[TEXT_SIZE + 1];
        memset(name, '#', sizeof name);
        EXPECT_TRUE(BuildInstanceKeyName(name, TEXT_SIZE, "Base", c.number)) << c.number;
        EXPECT_STREQ(c.name, name);
        EXPECT_EQ('#', name[TEXT_SIZE]);

        // Exactly its length and the NUL fit; one byte less does not.
        int size = (int)strlen(c.name) + 1;
        memset(name, '#', sizeof name);
        EXPECT_TRUE(BuildInstanceKeyName(name, size, "Base", c.number)) << c.number;
        EXPECT_EQ('#', name[size]);
        memset(name, '#', sizeof name);
        EXPECT_FALSE(BuildInstanceKeyName(name, size - 1, "Base", c.number)) << c.number;
        EXPECT_EQ(0, name[0]);
        EXPECT_EQ('#', name[size - 1]);
    }
}

}  // namespace

// The WIN.INI entries: which sections the printer's "Devices" value leads
// to, and the order of the removals.
#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string DRIVER = DRIVER_NAME;
const std::vector<std::string> FIXED = {"[" + DRIVER + "-LPT1]", "[" + DRIVER + "-FILE]",
                                        "[" + DRIVER + "-LPT2]"};

struct ProfileCase {
    const char *what;
    const char *devicesValue;  // null: no key for the printer in "Devices"
    std::vector<std::string> sections;  // removed, in order, as "[name]"
};

const ProfileCase g_profileCases[] = {
    {"no key: the default BR32jp,lpt1:", nullptr, FIXED},
    {"LPT1:", "BR32jp,LPT1:", FIXED},
    {"LPT2: still the fixed three", "BR32jp,LPT2:", FIXED},
    {"FILE:", "BR32jp,FILE:", FIXED},
    {"another port", "BR32jp,COM1:", FIXED},
    {"a network port", "BR32jp,\\\\server\\stampante", {"[" + DRIVER + "-\\\\server\\stampante]"}},
    {"a port text with commas", "BR32jp,\\\\srv\\p,15,45", {"[" + DRIVER + "-\\\\srv\\p,15,45]"}},
    {"a backslash in the driver part", "BR\\32jp,lpt1:", {"[" + DRIVER + "-lpt1:]"}},
    {"the comma last", "BR32jp\\x,", {"[" + DRIVER + "-]"}},
    {"a backslash and no comma: no section", "BR32jp\\lpt1:", {}},
};

// Names the case in gtest's messages instead of its bytes.
void PrintTo(const ProfileCase &c, std::ostream *os)
{
    *os << c.what;
}

class ProfileTest : public ::testing::TestWithParam<ProfileCase> {};

TEST_P(ProfileTest, RemovesSectionsThenTheTwoKeys)
{
    const ProfileCase &c = GetParam();
    std::string ini = "[windows]\r\ndevice=" + DRIVER + ",BR32jp,LPT1:\r\n\r\n[Devices]\r\n";
    if (c.devicesValue)
        ini += DRIVER + "=" + c.devicesValue + "\r\n";
    ini += "OSTRALIS Jet 400=OSJET4,LPT2:\r\n\r\n[PrinterPorts]\r\n" + DRIVER +
           "=BR32jp,LPT1:,15,45\r\nOSTRALIS Jet 400=OSJET4,LPT2:,15,45\r\n\r\n";
    // Every section a value could lead to, and the other printer's.
    std::vector<std::string> present = FIXED;
    for (const ProfileCase &other : g_profileCases)
        present.insert(present.end(), other.sections.begin(), other.sections.end());
    present.push_back("[OSTRALIS Jet 400-LPT2]");
    present.push_back("[" + DRIVER + "-COM1:]");
    std::sort(present.begin(), present.end());
    present.erase(std::unique(present.begin(), present.end()), present.end());
    for (const std::string &section : present)
        ini += section + "\r\nOrientation=1\r\n\r\n";

    TestMachine machine;
    machine.File("C:\\WINDOWS\\WIN.INI", ini).Load();
    RemoveProfileEntries();

    std::vector<SimCall> reads = SimCallsNamed("GetProfileStringA");
    ASSERT_EQ(1u, reads.size()) << AllCallsText();
    EXPECT_EQ("Devices", reads[0].args[0]);
    EXPECT_EQ(DRIVER, reads[0].args[1]);
    EXPECT_EQ("BR32jp,lpt1:", reads[0].args[2]);
    EXPECT_EQ("150", reads[0].args.back());

    std::vector<std::string> expected;
    for (const std::string &section : c.sections)
        expected.push_back("WriteProfileStringA(" + section.substr(1, section.size() - 2) +
                           ", NULL, NULL)");
    expected.push_back("WriteProfileStringA(Devices, " + DRIVER + ", NULL)");
    expected.push_back("WriteProfileStringA(PrinterPorts, " + DRIVER + ", NULL)");
    EXPECT_EQ(expected, CallLines(SimCallsNamed("WriteProfileStringA"))) << AllCallsText();

    // What is left in WIN.INI: every other section, the other printer's
    // keys, and the default-printer line, which is not this phase's.
    std::set<std::string> sections;
    std::map<std::string, std::set<std::string>> keys;
    for (auto &[folded, section] : SimTakeSnapshot().profile) {
        sections.insert("[" + section.name + "]");
        for (auto &[k, entry] : section.keys)
            keys[section.name].insert(entry.first);
    }
    for (const std::string &section : present) {
        bool removed = std::find(c.sections.begin(), c.sections.end(), section) != c.sections.end();
        EXPECT_NE(removed, sections.count(section) == 1) << section;
    }
    EXPECT_EQ(std::set<std::string>{"OSTRALIS Jet 400"}, keys["Devices"]);
    EXPECT_EQ(std::set<std::string>{"OSTRALIS Jet 400"}, keys["PrinterPorts"]);
    EXPECT_EQ(std::set<std::string>{"device"}, keys["windows"]);
}

INSTANTIATE_TEST_SUITE_P(ProfileEntries, ProfileTest, ::testing::ValuesIn(g_profileCases),
                         [](const auto &info) { return "case" + std::to_string(info.index); });

// GetProfileStringA cuts a long value at 149 characters; the port text is
// cut with it, and the section named after the cut port is the one removed.
TEST(ProfileLongValue, CutAt149Characters)
{
    const std::string port = "\\\\server\\";
    for (size_t length : {148u, 149u, 150u, 300u}) {
        std::string value = "BR32jp," + port + std::string(length - 7 - port.size(), 'p');
        std::string cut = value.substr(0, 149);
        TestMachine machine;
        machine.File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n" + DRIVER + "=" + value + "\r\n").Load();
        RemoveProfileEntries();
        std::vector<std::string> expected = {
            "WriteProfileStringA(" + DRIVER + "-" + cut.substr(7) + ", NULL, NULL)",
            "WriteProfileStringA(Devices, " + DRIVER + ", NULL)",
            "WriteProfileStringA(PrinterPorts, " + DRIVER + ", NULL)",
        };
        EXPECT_EQ(expected, CallLines(SimCallsNamed("WriteProfileStringA")))
            << length << " characters\n" << AllCallsText();
    }
}

}  // namespace

// The WIN.INI entries: which sections the printer's "Devices" value leads
// to, and the order of the removals. A value cut at 149 characters is among
// the hostile machines.
#include "phase_support.h"

using namespace phase_support;

namespace {

TEST(ProfileEntries, SectionsByTheDevicesValueThenTheTwoKeys)
{
    const std::vector<std::string> FIXED = {"-LPT1", "-FILE", "-LPT2"};
    const struct {
        const char *what;
        std::string value;  // "": no key for the printer in "Devices"
        std::vector<std::string> suffixes;
    } cases[] = {
        {"no key: the default BR32jp,lpt1:", "", FIXED},
        {"LPT1:", "BR32jp,LPT1:", FIXED},
        {"any other port without a backslash", "BR32jp,COM1:", FIXED},
        {"a network port", "BR32jp,\\\\server\\stampante", {"-\\\\server\\stampante"}},
        {"commas in the port", "BR32jp,\\\\srv\\p,15,45", {"-\\\\srv\\p,15,45"}},
        {"a backslash before the comma", "BR\\32jp,lpt1:", {"-lpt1:"}},
        {"the comma last", "BR32jp\\x,", {"-"}},
        {"a backslash and no comma: no port, no section", "BR32jp\\lpt1:", {}},
    };
    for (const auto &c : cases) {
        Machine machine;
        ASSERT_TRUE(machine.File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n" + (c.value.empty() ? "" : DRIVER + "=" + c.value + "\r\n")).Load());
        RemoveProfileEntries();
        std::vector<std::string> expected = {"GetProfileStringA(Devices, " + DRIVER + ", BR32jp,lpt1:, " +
                                             (c.value.empty() ? "BR32jp,lpt1:" : c.value.substr(0, 149)) + ", 150)"};
        for (const std::string &suffix : c.suffixes)
            expected.push_back("WriteProfileStringA(" + DRIVER + suffix + ", NULL, NULL)");
        expected.push_back("WriteProfileStringA(Devices, " + DRIVER + ", NULL)");
        expected.push_back("WriteProfileStringA(PrinterPorts, " + DRIVER + ", NULL)");
        EXPECT_EQ(expected, Calls({"GetProfileStringA", "WriteProfileStringA"})) << c.what;
    }
}

}  // namespace

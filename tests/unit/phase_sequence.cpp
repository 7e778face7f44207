// RunUninstall: the fixed keys, the build gate and the flushes. The order
// of the phases is the fault sweep's to check, on every run it makes.
#include "phase_support.h"

using namespace phase_support;

namespace {

// The deletions of the fixed keys, by service only (WholeRun checks which
// keys go), and the flushes after them: three keys of the table and two of
// the flushes only above build 950; then the WIN.INI phase's.
std::vector<std::string> FixedKeyCalls(bool gateOpen)
{
    std::vector<std::string> calls(gateOpen ? 14 : 11, "RegDeleteKeyA");
    if (gateOpen) {
        calls.push_back("RegFlushKey(HKEY_USERS)");
        calls.push_back("RegFlushKey(HKEY_CURRENT_USER)");
    }
    calls.push_back("RegFlushKey(HKEY_LOCAL_MACHINE)");
    // The WIN.INI phase's: before WIN.INI's flush and after it.
    calls.push_back("RegFlushKey(HKEY_LOCAL_MACHINE)");
    calls.push_back("RegFlushKey(HKEY_LOCAL_MACHINE)");
    return calls;
}

std::vector<std::string> KeyCalls()
{
    std::vector<std::string> calls = Calls({"RegDeleteKeyA", "RegFlushKey"});
    for (std::string &call : calls)
        call = call.rfind("RegDeleteKeyA(", 0) == 0 ? "RegDeleteKeyA" : call;
    return calls;
}

// On a machine without any of the keys, by the low word of the build only;
// a failed version query reads as build 0. The INF phase reads the same
// gate: closed, it searches oem*.inf before it searches for WININIT.INI.
TEST(Sequence, FixedKeysAndFlushesByTheGate)
{
    const struct {
        DWORD build;
        bool queryFails, open;
    } cases[] = {
        {0x040003B6, false, false}, {0xFFFF03B6, false, false}, {0x000003B7, false, true},
        {0x040003B7, false, true},  {0x0000FFFF, false, true},  {0xFFFF0001, false, false},
        {0x040A08AE, true, false},
    };
    for (const auto &c : cases) {
        Machine machine;
        ASSERT_TRUE(machine.Set("Build", std::to_string(c.build)).Load());
        if (c.queryFails)
            SimFailCall("GetVersionExA", 1, ERROR_INVALID_PARAMETER);
        RunUninstall();
        std::string what = "build " + std::to_string(c.build) + "\n" + SimFormatCalls(SimCalls());
        EXPECT_EQ(FixedKeyCalls(c.open), KeyCalls()) << what;
        EXPECT_EQ(c.open ? 0u : 1u, SimCallsNamed("FindFirstFileA").size()) << what;
    }
}

}  // namespace

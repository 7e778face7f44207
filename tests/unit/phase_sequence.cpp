// RunUninstall: the fixed keys, the build gate, the flushes and the order
// in which the phases run.
#include "phase_support.h"

using namespace phase_support;

namespace {

// The deletions of the fixed keys, by service only (WholeRun checks which
// keys go), and the flushes after them: three keys of the table and two of
// the flushes only above build 950.
std::vector<std::string> FixedKeyCalls(bool gateOpen)
{
    std::vector<std::string> calls(gateOpen ? 14 : 11, "RegDeleteKeyA");
    if (gateOpen) {
        calls.push_back("RegFlushKey(HKEY_USERS)");
        calls.push_back("RegFlushKey(HKEY_CURRENT_USER)");
    }
    calls.push_back("RegFlushKey(HKEY_LOCAL_MACHINE)");
    return calls;
}

std::vector<std::string> KeyCalls(const std::vector<SimCall> &record = SimCalls())
{
    std::vector<std::string> calls = Calls({"RegDeleteKeyA", "RegFlushKey"}, record);
    for (std::string &call : calls)
        call = call.rfind("RegDeleteKeyA(HKEY_LOCAL_MACHINE, Enum\\Root", 0) == 0 || call[3] == 'F' ? call : "RegDeleteKeyA";
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
        EXPECT_EQ(c.open ? 1u : 2u, SimCallsNamed("FindFirstFileA").size()) << what;
    }
}

// On the sample machine, where everything is installed: the phases come in
// order, the directory queries between the group and the files; every fixed
// entry is attempted though its alias removed the key already, and the
// scan's two deletions follow the flushes with none after them.
TEST(Sequence, PhaseOrderOnTheSampleMachine)
{
    Machine machine("win98");
    RunResult run = RunOn(machine.dir());
    std::string calls = SimFormatCalls(run.calls);
    EXPECT_EQ(-1, MissingPhase(run.calls)) << calls;
    for (const char *once : {"GetVersionExA", "GetProfileStringA", "GetSystemDirectoryA", "GetWindowsDirectoryA"})
        EXPECT_EQ(1, std::count_if(run.calls.begin(), run.calls.end(), [&](const SimCall &c) { return c.name == once; }))
            << once;
    std::vector<std::string> keyCalls = FixedKeyCalls(true);
    keyCalls.push_back("RegDeleteKeyA(HKEY_LOCAL_MACHINE, Enum\\Root\\printer\\0000)");
    keyCalls.push_back("RegDeleteKeyA");
    EXPECT_EQ(keyCalls, KeyCalls(run.calls)) << calls;
    EXPECT_EQ("", run.openHandles);
}

}  // namespace

// RunUninstall: the fixed keys, the build gate, the flushes and the order
// in which the phases run.
#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const char *const FIXED_KEYS[][2] = {
    {"HKEY_CLASSES_ROOT", "CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}"},
    {"HKEY_CLASSES_ROOT", "Printers\\shellex\\ContextMenuHandlers\\TINTAVERA Duneva 10 Shell Extension"},
    {"HKEY_CURRENT_CONFIG", "System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "Enum\\LPTENUM\\BRASCORADUNEVA_10F262"},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}"},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\TINTAVERA Duneva 10 Shell Extension"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\TINTAVERA Duneva 10 PrintProcessor"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Monitors\\TINTAVERA Duneva 10 LanguageMonitor"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_USERS", ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\TINTAVERA Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "Security\\Access\\PRINT\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_CURRENT_USER", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\TINTAVERA Duneva 10"},
};

std::vector<std::string> FixedDeletions(int count)
{
    std::vector<std::string> calls;
    for (int i = 0; i < count; i++)
        calls.push_back(std::string("RegDeleteKeyA(") + FIXED_KEYS[i][0] + ", " + FIXED_KEYS[i][1] + ")");
    return calls;
}

// Index of the first call named name whose first or second argument is arg.
long IndexOf(const std::string &name, const std::string &arg = "")
{
    const std::vector<SimCall> &calls = SimCalls();
    for (size_t i = 0; i < calls.size(); i++) {
        if (calls[i].name != name)
            continue;
        if (arg.empty() || (calls[i].args.size() > 0 && calls[i].args[0] == arg) ||
            (calls[i].args.size() > 1 && calls[i].args[1] == arg))
            return (long)i;
    }
    return -1;
}

long LastIndexOf(const std::string &name)
{
    const std::vector<SimCall> &calls = SimCalls();
    for (size_t i = calls.size(); i > 0; i--) {
        if (calls[i - 1].name == name)
            return (long)i - 1;
    }
    return -1;
}

struct GateCase {
    DWORD build;
    bool open;
};

// On a machine without any of the keys: 11 deletions and one flush with
// the gate closed, 14 and three flushes (after all deletions) with it open.
TEST(Sequence, FixedKeysAndFlushesByTheGate)
{
    const GateCase cases[] = {
        {0x040003B6, false}, {0x000003B6, false}, {0xFFFF03B6, false}, {0x0A0003B6, false},
        {0x00000000, false}, {0x000003B7, true},  {0x040003B7, true},  {0x040A08AE, true},
        {0x0000FFFF, true},  {0xFFFF0001, false},
    };
    for (const GateCase &c : cases) {
        TestMachine machine;
        machine.Build(c.build).Load();
        RunUninstall();
        std::string what = "build " + std::to_string(c.build) + "\n" + AllCallsText();
        std::vector<SimCall> keyCalls = CallsNamed({"RegDeleteKeyA", "RegFlushKey"});
        std::vector<std::string> expected = FixedDeletions(c.open ? 14 : 11);
        if (c.open) {
            expected.push_back("RegFlushKey(HKEY_USERS)");
            expected.push_back("RegFlushKey(HKEY_CURRENT_USER)");
        }
        expected.push_back("RegFlushKey(HKEY_LOCAL_MACHINE)");
        EXPECT_EQ(expected, CallLines(keyCalls)) << what;
        // The INF phase reads the same gate: the oem*.inf search, then the
        // WININIT.INI search.
        EXPECT_EQ(c.open ? 1u : 2u, SimCallsNamed("FindFirstFileA").size()) << what;

        OSVERSIONINFOA version = {};
        version.dwBuildNumber = c.build;
        EXPECT_EQ(c.open, (bool)BuildGateOpen(version)) << c.build;
    }
}

// A failed version query leaves the record zeroed: build 0, gate closed.
TEST(Sequence, AFailedVersionQueryClosesTheGate)
{
    TestMachine machine;
    machine.Build(0x040A08AE).Load();
    SimFailCall("GetVersionExA", 1, ERROR_INVALID_PARAMETER);
    RunUninstall();
    EXPECT_EQ(11u, SimCallsNamed("RegDeleteKeyA").size()) << AllCallsText();
    EXPECT_EQ(1u, SimCallsNamed("RegFlushKey").size());
    EXPECT_EQ(0, IndexOf("DeleteFileA", "C:\\WINDOWS\\INF\\OTHER\\BRASCORABRDUNE10.INF") + 1);
}

// On the sample machine, where everything is installed: every fixed entry
// is attempted even after its alias removed the key, no flush follows the
// fixed-key phase, and the phases come in their order.
TEST(Sequence, PhaseOrderOnTheSampleMachine)
{
    fs::path dir = CopyOfSample("win98");
    std::string error;
    ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
    RunUninstall();
    std::string calls = AllCallsText();

    std::vector<std::string> deletions = CallLines(SimCallsNamed("RegDeleteKeyA"));
    ASSERT_GE(deletions.size(), 14u) << calls;
    EXPECT_EQ(FixedDeletions(14), std::vector<std::string>(deletions.begin(), deletions.begin() + 14));
    // Entries 4, 6, 7 and 14 come after their aliases 3, 1, 2 and 12
    // removed the same keys; they are attempted all the same.
    std::vector<SimCall> fixed = SimCallsNamed("RegDeleteKeyA");
    for (int alias : {3, 5, 6, 13})
        EXPECT_NE(ERROR_SUCCESS, fixed[alias].result) << "entry " << alias + 1;
    // The scan deleted its two keys, and no flush follows them.
    EXPECT_EQ(16u, deletions.size()) << calls;
    EXPECT_LT(LastIndexOf("RegFlushKey"), IndexOf("RegOpenKeyExA")) << calls;

    const long order[] = {
        IndexOf("GetVersionExA"),
        IndexOf("RegDeleteKeyA"),
        IndexOf("RegFlushKey", "HKEY_LOCAL_MACHINE"),
        IndexOf("RegOpenKeyExA", "Enum\\Root\\printer\\0000"),
        IndexOf("RegOpenKeyExA", "System\\CurrentControlSet\\Services\\Class\\Printer\\0000"),
        IndexOf("GetProfileStringA"),
        IndexOf("RegOpenKeyExA", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders"),
        IndexOf("RemoveDirectoryA"),
        IndexOf("GetSystemDirectoryA"),
        IndexOf("GetWindowsDirectoryA"),
        IndexOf("DeleteFileA", "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"),
        IndexOf("DeleteFileA", "C:\\WINDOWS\\SYSTEM\\brman32.pdf"),
        IndexOf("DeleteFileA", "C:\\WINDOWS\\INF\\OTHER\\BRASCORABRDUNE10.INF"),
        IndexOf("FindFirstFileA", "C:\\WINDOWS\\wininit.ini"),
        IndexOf("FileIoOpen", "C:\\WINDOWS\\wininit.ini"),
    };
    for (size_t i = 0; i < sizeof order / sizeof order[0]; i++) {
        EXPECT_GE(order[i], 0) << "step " << i << " missing\n" << calls;
        if (i > 0) {
            EXPECT_LT(order[i - 1], order[i]) << "step " << i << " out of order\n" << calls;
        }
    }
    EXPECT_EQ(1u, SimCallsNamed("GetSystemDirectoryA").size());
    EXPECT_EQ(1u, SimCallsNamed("GetWindowsDirectoryA").size());
    EXPECT_EQ(1u, SimCallsNamed("GetVersionExA").size());
    EXPECT_EQ("", SimOpenHandles());
    SimUnloadMachine();
    fs::remove_all(dir);
}

}  // namespace

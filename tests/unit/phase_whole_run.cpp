// Whole runs of RunUninstall on the sample machines: the machine folder is
// compared before and after. Exactly the driver's things go, every decoy
// and every other file, key, value and WIN.INI line stays as it was.
#include <cstdlib>

#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string HKLM = "HKEY_LOCAL_MACHINE\\";
const std::string PRINT = HKLM + "System\\CurrentControlSet\\control\\Print\\";
const std::string DRIVER = DRIVER_NAME;
const std::string PRODUCT = PRODUCT_NAME;

// Where the removed keys are stored on a Windows 9x machine, with the case
// the sample stores them in; each stands for its whole subtree.
const std::vector<std::string> g_keysGoneAlways = {
    HKLM + "SOFTWARE\\Classes\\CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}",
    HKLM + "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\" + PRODUCT + " Shell Extension",
    HKLM + "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\" + DRIVER,
    HKLM + "Enum\\LPTENUM\\BRASCORADUNEVA_10F262",
    PRINT + "Environments\\Windows 4.0\\Drivers\\" + DRIVER,
    PRINT + "Environments\\Windows 4.0\\Print Processors\\" + PRODUCT + " PrintProcessor",
    PRINT + "Monitors\\" + PRODUCT + " LanguageMonitor",
    PRINT + "Printers\\" + DRIVER,
    HKLM + "Enum\\Root\\printer\\0000",
    HKLM + "System\\CurrentControlSet\\Services\\Class\\Printer\\0001",
};
// Left in place up to build 950.
const std::vector<std::string> g_keysGoneAboveBuild950 = {
    "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\"
    "Start Menu\\&Programs\\" + PRODUCT,
    HKLM + "Security\\Access\\PRINT\\" + DRIVER,
};

const char *const g_driverFileNames[] = {
    "BR3232.DLL", "BR32CT.DLL", "BR32HLP.HLP", "BR32HLP.GID", "BR32TRB.HLP", "BR32TRB.GID",
    "BR32JNLI.DLL", "BR32JP.DRV", "BR32JPLN.DLL", "BR32LN98.DLL", "BR32RAST.DLL", "BR32RS.DLL",
    "BR32SHEL.DLL", "BR32STAT.EXE", "BR32FIRM.BIN", "brlaunch.exe", "brlaunch.ini", "brman32.pdf",
};
const char *const g_restartFileNames[] = {
    "BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL", "BR32UNIN.EXE",
};
const char *const g_shortcutNames[] = {
    "Guida Duneva 10.LNK", "Problemi e soluzioni Duneva 10.LNK",
    "Monitor Stampante Duneva 10.LNK", "Disinstallazione Duneva 10.LNK",
    "Manuale Stampante Duneva 10.LNK",
};

const std::string GROUP = "C:\\WINDOWS\\Start Menu\\Programs\\" + PRODUCT;

struct SampleRun {
    const char *machine;
    bool gateOpen;
    const char *infGone;
};

const SampleRun g_sampleRuns[] = {
    {"win98", true, "C:\\WINDOWS\\INF\\OTHER\\BRASCORABRDUNE10.INF"},
    {"win95", false, "C:\\WINDOWS\\INF\\OEM3.INF"},
};

// In the snapshot's order: by path, letter case aside.
std::vector<std::string> Sorted(std::vector<std::string> list)
{
    std::sort(list.begin(), list.end(),
              [](const std::string &a, const std::string &b) { return Lower(a) < Lower(b); });
    return list;
}

// Names the case in gtest's messages instead of its bytes.
void PrintTo(const SampleRun &c, std::ostream *os)
{
    *os << c.machine;
}

class WholeRunTest : public ::testing::TestWithParam<SampleRun> {};

TEST_P(WholeRunTest, RemovesTheDriverAndNothingElse)
{
    const SampleRun &run = GetParam();
    fs::path dir = CopyOfSample(run.machine);
    std::string error;
    ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
    SimSnapshot before = SimTakeSnapshot();
    RunUninstall();
    SimChanges changes = SimCompareSnapshots(before, SimTakeSnapshot());
    std::string report = SimFormatChanges(changes);
    EXPECT_EQ("", SimOpenHandles());
    SimUnloadMachine();
    fs::remove_all(dir);

    std::vector<std::string> keys = g_keysGoneAlways;
    if (run.gateOpen)
        keys.insert(keys.end(), g_keysGoneAboveBuild950.begin(), g_keysGoneAboveBuild950.end());
    EXPECT_EQ(Sorted(keys), changes.keysRemoved) << report;

    EXPECT_EQ(Sorted({"[" + DRIVER + "-FILE]", "[" + DRIVER + "-LPT1]", "[" + DRIVER + "-LPT2]"}),
              changes.sectionsRemoved) << report;
    EXPECT_EQ(Sorted({"[Devices] " + DRIVER, "[PrinterPorts] " + DRIVER}), changes.profileKeysRemoved)
        << report;

    std::vector<std::string> files = {run.infGone};
    for (const char *name : g_driverFileNames)
        files.push_back(std::string("C:\\WINDOWS\\SYSTEM\\") + name);
    for (const char *name : g_shortcutNames)
        files.push_back(GROUP + "\\" + name);
    EXPECT_EQ(Sorted(files), changes.filesRemoved) << report;
    EXPECT_EQ(std::vector<std::string>{GROUP}, changes.foldersRemoved) << report;
    EXPECT_EQ(std::vector<std::string>{"C:\\WINDOWS\\wininit.ini"}, changes.filesAdded) << report;
    EXPECT_EQ(std::vector<std::string>{"C:\\WINDOWS\\WIN.INI"}, changes.filesChanged) << report;

    std::vector<std::string> lines = {"[rename]"};
    for (const char *name : g_restartFileNames)
        lines.push_back(std::string("NULL=C:\\WINDOWS\\SYSTEM\\") + name);
    ASSERT_EQ(1u, changes.linesAppended.size()) << report;
    EXPECT_EQ(lines, changes.linesAppended[0].second) << report;

    // Nothing else went, came or changed.
    for (const auto *list : {&changes.keysAdded, &changes.valuesRemoved, &changes.valuesAdded,
                             &changes.valuesChanged, &changes.sectionsAdded,
                             &changes.profileKeysAdded, &changes.profileKeysChanged,
                             &changes.foldersAdded})
        EXPECT_TRUE(list->empty()) << report;
}

INSTANTIATE_TEST_SUITE_P(SampleMachines, WholeRunTest, ::testing::ValuesIn(g_sampleRuns),
                         [](const auto &info) { return std::string(info.param.machine); });

// The sample folders are generated; a change to the script must be followed
// by regenerating them, and a hand edit of a sample by a change to the script.
TEST(SampleMachinesTest, ScriptReproducesTheCheckedInFolders)
{
    fs::path out = FreshFolder("machines");
    std::string command = "python3 '" + std::string(BR_SOURCE_DIR) +
                          "/tools/make_machines.py' --out '" + out.string() + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    for (const char *name : {"win98", "win95"}) {
        FolderContents made = ReadFolder(out / name);
        FolderContents stored = ReadFolder(SampleMachine(name));
        EXPECT_EQ(made.folders, stored.folders) << name;
        for (auto &[file, bytes] : made.files)
            EXPECT_TRUE(stored.files.count(file) && stored.files[file] == bytes)
                << name << ": differs from the script's output: " << file;
        for (auto &[file, bytes] : stored.files)
            EXPECT_TRUE(made.files.count(file)) << name << ": not made by the script: " << file;
    }
    fs::remove_all(out);
}

// The samples are written as the machine itself writes them, so that a
// comparison after a run shows only what the run changed.
TEST(SampleMachinesTest, LoadAndSaveKeepTheRegistryFile)
{
    for (const char *name : {"win98", "win95"}) {
        fs::path dir = CopyOfSample(name);
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
        ASSERT_TRUE(SimSaveMachine());
        SimUnloadMachine();
        EXPECT_TRUE(ReadBytes(dir / "registry.reg") == ReadBytes(SampleMachine(name) / "registry.reg"))
            << name;
        fs::remove_all(dir);
    }
}

}  // namespace

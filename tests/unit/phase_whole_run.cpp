// Whole runs of RunUninstall on the sample machines: the machine folder is
// compared before and after. Exactly the driver's things go, every decoy
// and every other file, key, value and WIN.INI line stays as it was.
#include <cstdlib>

#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string HKLM = "hkey_local_machine\\";
const std::string PRINT = HKLM + "system\\currentcontrolset\\control\\print\\";
const std::string MENU_ORDER =
    "hkey_users\\.default\\software\\microsoft\\windows\\currentversion\\explorer\\menuorder\\"
    "start menu\\&programs\\tintavera duneva 10";
const std::string SECURITY = HKLM + "security\\access\\print\\tintavera brascora duneva 10";

// Where the keys that every run removes are stored on a Windows 9x machine.
const std::vector<std::string> g_keysGoneAlways = {
    HKLM + "software\\classes\\clsid\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}",
    HKLM + "software\\classes\\printers\\shellex\\contextmenuhandlers\\tintavera duneva 10 shell extension",
    HKLM + "config\\0001\\system\\currentcontrolset\\control\\print\\printers\\tintavera brascora duneva 10",
    HKLM + "enum\\lptenum\\brascoraduneva_10f262",
    PRINT + "environments\\windows 4.0\\drivers\\tintavera brascora duneva 10",
    PRINT + "environments\\windows 4.0\\print processors\\tintavera duneva 10 printprocessor",
    PRINT + "monitors\\tintavera duneva 10 languagemonitor",
    PRINT + "printers\\tintavera brascora duneva 10",
    HKLM + "enum\\root\\printer\\0000",
    HKLM + "system\\currentcontrolset\\services\\class\\printer\\0001",
};

const char *const g_driverFileNames[] = {
    "BR3232.DLL", "BR32CT.DLL", "BR32HLP.HLP", "BR32HLP.GID", "BR32TRB.HLP", "BR32TRB.GID",
    "BR32JNLI.DLL", "BR32JP.DRV", "BR32JPLN.DLL", "BR32LN98.DLL", "BR32RAST.DLL", "BR32RS.DLL",
    "BR32SHEL.DLL", "BR32STAT.EXE", "BR32FIRM.BIN", "brlaunch.exe", "brlaunch.ini", "brman32.pdf",
};

const char *const g_shortcutNames[] = {
    "Guida Duneva 10.LNK", "Problemi e soluzioni Duneva 10.LNK",
    "Monitor Stampante Duneva 10.LNK", "Disinstallazione Duneva 10.LNK",
    "Manuale Stampante Duneva 10.LNK",
};

const std::string DRIVE = "drives/c/windows/";
const std::string GROUP = DRIVE + "start menu/programs/tintavera duneva 10";

struct SampleRun {
    const char *machine;
    bool gateOpen;
    const char *infGone;  // relative to the machine folder, lower case
};

const SampleRun g_sampleRuns[] = {
    {"win98", true, "drives/c/windows/inf/other/brascorabrdune10.inf"},
    {"win95", false, "drives/c/windows/inf/oem3.inf"},
};

std::string ExpectedWininit()
{
    std::string text = "[rename]\r\n";
    for (const char *name : {"BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL", "BR32UNIN.EXE"})
        text += std::string("NULL=C:\\WINDOWS\\SYSTEM\\") + name + "\r\n";
    return text;
}

bool UnderAny(const std::string &key, const std::vector<std::string> &prefixes)
{
    for (const std::string &p : prefixes) {
        std::string lp = Lower(p);
        if (key == lp || key.compare(0, lp.size() + 1, lp + "\\") == 0)
            return true;
    }
    return false;
}

class WholeRunTest : public ::testing::TestWithParam<SampleRun> {
protected:
    void TearDown() override { SimUnloadMachine(); }
};

TEST_P(WholeRunTest, RemovesTheDriverAndNothingElse)
{
    const SampleRun &run = GetParam();
    fs::path dir = CopyOfSample(run.machine);
    std::string error;
    ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
    // Saved once first, so that both sides are in the machine's own format.
    ASSERT_TRUE(SimSaveMachine());
    FolderContents before = ReadFolder(dir);
    auto keysBefore = ReadRegistryFile(dir / "registry.reg");
    auto iniBefore = ReadIniFile(dir / "drives/C/WINDOWS/WIN.INI");

    RunUninstall();
    ASSERT_TRUE(SimSaveMachine());
    std::string calls = AllCallsText();
    SimUnloadMachine();
    FolderContents after = ReadFolder(dir);
    auto keysAfter = ReadRegistryFile(dir / "registry.reg");

    // Registry: the removed subtrees are gone, every other key keeps its values.
    std::vector<std::string> gone = g_keysGoneAlways;
    if (run.gateOpen) {
        gone.push_back(MENU_ORDER);
        gone.push_back(SECURITY);
    }
    for (const std::string &key : gone)
        EXPECT_EQ(1u, keysBefore.count(Lower(key))) << "sample lacks " << key;
    for (auto &[key, values] : keysBefore) {
        if (UnderAny(key, gone)) {
            EXPECT_EQ(0u, keysAfter.count(key)) << "still there: " << key << "\n" << calls;
        } else {
            ASSERT_EQ(1u, keysAfter.count(key)) << "removed: " << key << "\n" << calls;
            EXPECT_EQ(values, keysAfter[key]) << "values changed: " << key;
        }
    }
    EXPECT_EQ(keysBefore.size() - std::count_if(keysBefore.begin(), keysBefore.end(),
                                                [&](auto &k) { return UnderAny(k.first, gone); }),
              keysAfter.size());
    if (!run.gateOpen) {
        EXPECT_EQ(1u, keysAfter.count(Lower(MENU_ORDER)));
        EXPECT_EQ(1u, keysAfter.count(Lower(SECURITY)));
    }

    // Files: the driver's go, WININIT.INI appears, WIN.INI loses its
    // entries; everything else is byte for byte as it was.
    std::set<std::string> filesGone = {run.infGone};
    for (const char *name : g_driverFileNames)
        filesGone.insert(Lower(DRIVE + "system/" + name));
    for (const char *name : g_shortcutNames)
        filesGone.insert(Lower(GROUP + "/" + name));
    for (const std::string &file : filesGone)
        EXPECT_EQ(1u, before.files.count(file)) << "sample lacks " << file;
    for (auto &[file, bytes] : before.files) {
        if (file == "registry.reg" || file == DRIVE + "win.ini")
            continue;
        if (filesGone.count(file))
            EXPECT_EQ(0u, after.files.count(file)) << "still there: " << file << "\n" << calls;
        else
            EXPECT_TRUE(after.files.count(file) && after.files[file] == bytes)
                << "removed or changed: " << file << "\n" << calls;
    }
    EXPECT_EQ(0u, before.files.count(DRIVE + "wininit.ini"));
    EXPECT_EQ(ExpectedWininit(), after.files[DRIVE + "wininit.ini"]);
    EXPECT_EQ(before.files.size() - filesGone.size() + 1, after.files.size());
    EXPECT_EQ(1u, before.folders.count(GROUP));
    EXPECT_EQ(0u, after.folders.count(GROUP));
    EXPECT_EQ(before.folders.size() - 1, after.folders.size());

    // WIN.INI: three sections and two keys fewer.
    std::vector<IniSection> iniExpected;
    for (IniSection section : iniBefore) {
        if (section.name == "[TINTAVERA Brascora Duneva 10-LPT1]" ||
            section.name == "[TINTAVERA Brascora Duneva 10-FILE]" ||
            section.name == "[TINTAVERA Brascora Duneva 10-LPT2]")
            continue;
        if (section.name == "[Devices]" || section.name == "[PrinterPorts]") {
            auto &lines = section.lines;
            size_t count = lines.size();
            lines.erase(std::remove_if(lines.begin(), lines.end(),
                                       [](const std::string &l) {
                                           return l.rfind("TINTAVERA Brascora Duneva 10=", 0) == 0;
                                       }),
                        lines.end());
            EXPECT_EQ(count - 1, lines.size()) << section.name;
        }
        iniExpected.push_back(section);
    }
    EXPECT_EQ(iniBefore.size() - 3, iniExpected.size());
    auto iniAfter = ReadIniFile(dir / "drives/C/WINDOWS/WIN.INI");
    ASSERT_EQ(iniExpected.size(), iniAfter.size());
    for (size_t i = 0; i < iniAfter.size(); i++)
        EXPECT_EQ(iniExpected[i], iniAfter[i]) << "section " << iniExpected[i].name;

    fs::remove_all(dir);
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

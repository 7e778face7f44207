// Whole runs of RunUninstall on the sample machines: exactly the driver's
// things go, and every decoy and every other key, value, WIN.INI line and
// file stays as it was.
#include <cstdlib>

#include "phase_support.h"

using namespace phase_support;

namespace {

// Where a key given under an alias root is stored on a Windows 9x machine.
std::string Stored(const std::string &root, const std::string &path)
{
    if (root == "HKEY_CLASSES_ROOT")
        return HKLM + "SOFTWARE\\Classes\\" + path;
    if (root == "HKEY_CURRENT_CONFIG")
        return HKLM + "Config\\0001\\" + path;
    if (root == "HKEY_CURRENT_USER")
        return "HKEY_USERS\\.DEFAULT\\" + path;
    return root + "\\" + path;
}

TEST(WholeRun, RemovesTheDriverAndNothingElse)
{
    const struct {
        const char *sample;
        bool gateOpen;
        std::string inf;
    } runs[] = {
        {"win98", true, "C:\\WINDOWS\\INF\\OTHER\\BRASCORABRDUNE10.INF"},
        {"win95", false, "C:\\WINDOWS\\INF\\OEM3.INF"},
    };
    const std::string WININIT = "line+ C:\\WINDOWS\\wininit.ini ";
    for (const auto &r : runs) {
        Machine machine(r.sample);
        RunResult run = RunOn(machine.dir());
        std::set<std::string> expected = {
            "key- " + HKLM + "Enum\\Root\\printer\\0000",
            "key- " + HKLM + "System\\CurrentControlSet\\Services\\Class\\Printer\\0001",
            "section- [" + DRIVER + "-LPT1]", "section- [" + DRIVER + "-FILE]", "section- [" + DRIVER + "-LPT2]",
            "inikey- [Devices] " + DRIVER, "inikey- [PrinterPorts] " + DRIVER,
            "file- " + r.inf, "folder- " + GROUP, "file~ C:\\WINDOWS\\WIN.INI",
            "file+ C:\\WINDOWS\\wininit.ini", WININIT + "[rename]",
        };
        for (int i = 0; i < (r.gateOpen ? 14 : 11); i++)
            expected.insert("key- " + Stored(FIXED_KEYS[i][0], FIXED_KEYS[i][1]));
        for (const char *name : DRIVER_FILES)
            expected.insert("file- C:\\WINDOWS\\SYSTEM\\" + std::string(name));
        for (const char *name : SHORTCUTS)
            expected.insert("file- " + GROUP + "\\" + name);
        for (const char *name : RESTART_FILES)
            expected.insert(WININIT + "NUL=C:\\WINDOWS\\SYSTEM\\" + name);
        EXPECT_EQ(std::vector<std::string>(expected.begin(), expected.end()), run.items)
            << r.sample << ":\n" << run.report;
        EXPECT_EQ("", run.openHandles) << r.sample;
    }
}

// After Yes, the machine's next start deletes the five files and nothing
// else: no line moves a file anywhere.
TEST(WholeRun, TheNextStartDeletesTheFiveFiles)
{
    Machine machine("win98");
    machine.Load();
    RunUninstall();
    std::vector<std::string> expected;
    for (const char *name : RESTART_FILES)
        expected.push_back("deleted C:\\WINDOWS\\SYSTEM\\" + std::string(name));
    expected.push_back("renamed C:\\WINDOWS\\wininit.ini to C:\\WINDOWS\\WININIT.BAK");
    EXPECT_EQ(Lines(expected), Lines(SimNextStart()));
}

// The sample folders are generated: a change to the script must be followed
// by regenerating them, and a hand edit of a sample by a change to the script.
TEST(WholeRun, TheScriptReproducesTheSampleMachines)
{
    MachineBuilder out;
    std::string command = "python3 '" BR_SOURCE_DIR "/tools/make_machines.py' --out '" + out.dir() + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    for (const char *name : {"win98", "win95"})
        EXPECT_TRUE(ReadFolder(out.dir() + "/" + name) == ReadFolder(BR_SOURCE_DIR "/machines/" + std::string(name)))
            << "machines/" << name << " is not what tools/make_machines.py makes";
}

}  // namespace

// Whole runs of RunUninstall on the sample machines: exactly the driver's
// things go, and every decoy and every other key, value, WIN.INI line and
// file stays as it was.
#include <cstdlib>

#include "phase_support.h"
#include "registry/registry.h"

using namespace phase_support;

namespace {

const std::string WININIT = "line+ C:\\WINDOWS\\wininit.ini ";

// What a run on the sample changes, from what tools/make_machines.py lists
// of it: the keys listed as gone where Windows 9x stores them, each subtree
// by its top; a section all of whose entries go, as a whole; the driver
// files that stay, in WININIT.INI; the default printer's values, changed.
std::vector<std::string> ListedChanges(const std::string &sample)
{
    Machine scratch;
    std::string listing = scratch.dir() + "/listing.txt", command = "python3 '" BR_SOURCE_DIR
        "/tools/make_machines.py' --machine " + sample + " --emit-listing '" + listing + "'";
    EXPECT_EQ(0, std::system(command.c_str())) << command;
    std::set<std::string> items = {"file~ C:\\WINDOWS\\WIN.INI", "file+ C:\\WINDOWS\\wininit.ini", WININIT + "[rename]"},
                          keys, entries;
    std::map<std::string, bool> sectionGoes;
    std::ifstream in(listing);
    for (std::string kind, role, after, item; in >> kind >> role >> after && std::getline(in >> std::ws, item);) {
        std::string section = item.substr(0, item.find(']') + 1), stored;
        if (kind == "win_ini")
            sectionGoes[section] = (!sectionGoes.count(section) || sectionGoes[section]) && after == "gone";
        if (after == "gone" && kind == "registry" && SimRegCanonicalPath(item, &stored))
            keys.insert(stored);
        else if (after == "gone" && kind == "win_ini")
            entries.insert(item);
        else if (after == "gone")
            items.insert(kind + "- " + item);
        else if (after == "changed" && kind == "win_ini")
            items.insert("inikey~ " + item);
        else if (after == "changed" && SimRegCanonicalPath(item.substr(0, item.rfind(" \"")), &stored))
            items.insert("value~ " + stored + item.substr(item.rfind(" \"")));
        else if (kind == "file" && role == "driver")
            items.insert(WININIT + "NUL=" + item);
    }
    for (const std::string &key : keys)
        if (std::none_of(keys.begin(), keys.end(), [&](const std::string &top) { return key.rfind(top + "\\", 0) == 0; }))
            items.insert("key- " + key);
    for (const std::string &entry : entries) {
        std::string section = entry.substr(0, entry.find(']') + 1);
        items.insert(sectionGoes[section] ? "section- " + section : "inikey- " + entry);
    }
    return std::vector<std::string>(items.begin(), items.end());
}

TEST(WholeRun, RemovesTheDriverAndNothingElse)
{
    for (const char *sample : {"win98", "win95"}) {
        Machine machine(sample);
        RunResult run = RunOn(machine.dir());
        EXPECT_EQ(ListedChanges(sample), run.items) << sample << ":\n" << run.report;
        EXPECT_EQ("", run.openHandles) << sample;
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
    Machine out;
    std::string command = "python3 '" BR_SOURCE_DIR "/tools/make_machines.py' --out '" + out.dir() + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
    for (const char *name : {"win98", "win95"})
        EXPECT_TRUE(ReadFolder(out.dir() + "/" + name) == ReadFolder(BR_SOURCE_DIR "/machines/" + std::string(name)))
            << "machines/" << name << " is not what tools/make_machines.py makes";
}

}  // namespace

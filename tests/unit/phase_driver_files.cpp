// The driver files: 18 deletions from the system directory, in table order,
// and the tables' shape.
#include <cstring>

#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const char *const DRIVER_FILES[] = {
    "BR3232.DLL", "BR32CT.DLL", "BR32HLP.HLP", "BR32HLP.GID", "BR32TRB.HLP", "BR32TRB.GID",
    "BR32JNLI.DLL", "BR32JP.DRV", "BR32JPLN.DLL", "BR32LN98.DLL", "BR32RAST.DLL", "BR32RS.DLL",
    "BR32SHEL.DLL", "BR32STAT.EXE", "BR32FIRM.BIN", "brlaunch.exe", "brlaunch.ini", "brman32.pdf",
};
const char *const RESTART_FILES[] = {
    "BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL", "BR32UNIN.EXE",
};

UninstallRun RunWith(const std::string &systemDir)
{
    UninstallRun run;
    memset(&run, 0, sizeof run);
    snprintf(run.systemDir, sizeof run.systemDir, "%s", systemDir.c_str());
    snprintf(run.windowsDir, sizeof run.windowsDir, "C:\\WINDOWS");
    return run;
}

// Each table: its names in order, 20 bytes each padded with NUL bytes, one
// empty entry after them, and no name in both.
TEST(FileTables, NamesWidthsAndEnds)
{
    const struct {
        const char (*table)[FILE_NAME_WIDTH];
        std::vector<const char *> names;
    } tables[] = {
        {g_driverFiles, {std::begin(DRIVER_FILES), std::end(DRIVER_FILES)}},
        {g_restartFiles, {std::begin(RESTART_FILES), std::end(RESTART_FILES)}},
    };
    TestMachine machine;
    machine.Load();
    for (const auto &t : tables) {
        // Counting compares each entry up to and with the first empty one.
        SimClearCalls();
        EXPECT_EQ((int)t.names.size(), CountFileTable(t.table));
        EXPECT_EQ(t.names.size() + 1, SimCallsNamed("lstrcmpA").size());
        for (size_t i = 0; i <= t.names.size(); i++) {
            const char *name = i < t.names.size() ? t.names[i] : "";
            EXPECT_STREQ(name, t.table[i]);
            for (size_t b = strlen(name); b < FILE_NAME_WIDTH; b++)
                EXPECT_EQ(0, t.table[i][b]) << name << " byte " << b;
        }
    }
    for (const char *restart : RESTART_FILES)
        for (const char *driver : DRIVER_FILES)
            EXPECT_STRCASENE(restart, driver);
}

TEST(FileTables, CountingStopsAtTheFirstEmptyEntry)
{
    const char table[][FILE_NAME_WIDTH] = {"", "A.DLL", ""};
    const char one[][FILE_NAME_WIDTH] = {"A.DLL", "", "B.DLL", ""};
    EXPECT_EQ(0, CountFileTable(table));
    EXPECT_EQ(1, CountFileTable(one));
}

TEST(DriverFiles, EighteenDeletionsInTableOrder)
{
    TestMachine machine;
    for (const char *name : DRIVER_FILES)
        machine.File(std::string("C:\\WINDOWS\\SYSTEM\\") + name, name);
    for (const char *name : RESTART_FILES)
        machine.File(std::string("C:\\WINDOWS\\SYSTEM\\") + name, name);
    machine.File("C:\\WINDOWS\\SYSTEM\\BR32JP.DRV.BAK", "x").File("C:\\WINDOWS\\BR3232.DLL", "x").Load();
    // The third is busy; the others go all the same.
    SimFailCall("DeleteFileA", 3, ERROR_SHARING_VIOLATION);
    DeleteDriverFiles(RunWith("C:\\WINDOWS\\SYSTEM"));

    std::vector<std::string> expected;
    for (const char *name : DRIVER_FILES)
        expected.push_back(std::string("C:\\WINDOWS\\SYSTEM\\") + name);
    EXPECT_EQ(expected, FirstArgs(SimCallsNamed("DeleteFileA"))) << AllCallsText();
    SimUnloadMachine();
    for (const char *name : DRIVER_FILES)
        EXPECT_EQ(strcmp(name, "BR32HLP.HLP") == 0,
                  machine.Exists(std::string("C:\\WINDOWS\\SYSTEM\\") + name)) << name;
    for (const char *name : RESTART_FILES)
        EXPECT_TRUE(machine.Exists(std::string("C:\\WINDOWS\\SYSTEM\\") + name)) << name;
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\SYSTEM\\BR32JP.DRV.BAK"));
    EXPECT_TRUE(machine.Exists("C:\\WINDOWS\\BR3232.DLL"));
}

// Missing files are attempted and passed over; an empty system directory
// (a failed query) sends the names to the root of the drive; a directory
// too long for a name skips that name, and only that one.
TEST(DriverFiles, PathsForOddSystemDirectories)
{
    const std::string long247 = "C:\\" + std::string(244, 'S');  // 247 + "\" + 11 = 259
    const struct {
        const char *what;
        std::string systemDir;
        size_t longestName;
    } cases[] = {
        {"nothing there", "C:\\WINDOWS\\SYSTEM", 19},
        {"empty", "", 19},
        {"247 characters: names up to 11 fit", long247, 11},
        {"259 characters: nothing fits", "C:\\" + std::string(256, 'S'), 0},
    };
    for (const auto &c : cases) {
        TestMachine machine;
        machine.Load();
        DeleteDriverFiles(RunWith(c.systemDir));
        std::vector<std::string> expected;
        for (const char *name : DRIVER_FILES)
            if (strlen(name) <= c.longestName)
                expected.push_back(c.systemDir + "\\" + name);
        EXPECT_EQ(expected, FirstArgs(SimCallsNamed("DeleteFileA"))) << c.what << "\n" << AllCallsText();
    }
}

}  // namespace

// The driver files: every name of the table deleted from the system
// directory, in table order (WholeRun checks that they are the driver's).
#include <cstring>

#include "phase_support.h"

using namespace phase_support;

namespace {

// Missing files are attempted and passed over (busy ones are among the
// hostile machines); an empty system directory (a failed query) names
// nothing, and nothing is deleted; a directory too long for a name skips
// that name, and only that one.
TEST(DriverFiles, EighteenDeletionsInTableOrder)
{
    const struct {
        const char *what;
        std::string systemDir;
        size_t longestName;
    } cases[] = {
        {"nothing there", "C:\\WINDOWS\\SYSTEM", 19},
        {"empty: nothing at the root of the drive", "", 0},
        {"247 characters: names up to 11 fit", "C:\\" + std::string(244, 'S'), 11},
        {"259 characters: nothing fits", "C:\\" + std::string(256, 'S'), 0},
    };
    for (const auto &c : cases) {
        Machine machine;
        ASSERT_TRUE(machine.Load());
        UninstallRun run = {};
        strcpy(run.systemDir, c.systemDir.c_str());
        DeleteDriverFiles(run);
        std::vector<std::string> expected;
        for (const char *name : TableNames(g_driverFiles))
            if (strlen(name) <= c.longestName)
                expected.push_back("DeleteFileA(" + c.systemDir + "\\" + name + ")");
        EXPECT_EQ(expected, Calls({"DeleteFileA"})) << c.what;
    }
    // A table is counted up to its first empty entry, whatever follows.
    const char table[][FILE_NAME_WIDTH] = {"", "A.DLL", ""};
    EXPECT_EQ(0, CountFileTable(table));
}

}  // namespace

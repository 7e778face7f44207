// WININIT.INI: the "[rename]" header for a new file and the five "NULL="
// lines, appended byte for byte.
#include <cstring>

#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string WININIT = "C:\\WINDOWS\\wininit.ini";

UninstallRun RunWith(const std::string &windowsDir, const std::string &systemDir)
{
    UninstallRun run;
    memset(&run, 0, sizeof run);
    snprintf(run.windowsDir, sizeof run.windowsDir, "%s", windowsDir.c_str());
    snprintf(run.systemDir, sizeof run.systemDir, "%s", systemDir.c_str());
    return run;
}

std::string FiveLines(const std::string &systemDir)
{
    std::string lines;
    for (const char *name : {"BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL", "BR32UNIN.EXE"})
        lines += "NULL=" + systemDir + "\\" + name + "\r\n";
    return lines;
}

const std::string SYSTEM = "C:\\WINDOWS\\SYSTEM";

struct WininitCase {
    const char *what;
    const char *before;  // null: no file
    std::string after;
};

TEST(RestartList, AppendsToWhatIsThere)
{
    const std::string lines = FiveLines(SYSTEM);
    const WininitCase cases[] = {
        {"no file: header and five lines", nullptr, "[rename]\r\n" + lines},
        {"an empty file: no header", "", lines},
        {"a last line without its end", "[rename]\r\nNUL=C:\\X.TMP", "[rename]\r\nNUL=C:\\X.TMP" + lines},
        {"a trailing 0x1A is cut off", "[rename]\r\n\x1A", "[rename]\r\n" + lines},
        {"only the last 0x1A", "[rename]\r\n\x1A\x1A", "[rename]\r\n\x1A" + lines},
        {"another last section", "[rename]\r\nA=B\r\n[other]\r\n", "[rename]\r\nA=B\r\n[other]\r\n" + lines},
        {"a second run: five more, no header", nullptr, ""},
    };
    for (const WininitCase &c : cases) {
        TestMachine machine;
        if (c.before)
            machine.File(WININIT, c.before);
        machine.File("C:\\WINDOWS\\WIN.INI", "[windows]\r\n").Load();
        ScheduleRestartDeletions(RunWith("C:\\WINDOWS", SYSTEM));
        std::string expected = c.after;
        if (c.after.empty()) {
            ScheduleRestartDeletions(RunWith("C:\\WINDOWS", SYSTEM));
            expected = "[rename]\r\n" + lines + lines;
        }
        EXPECT_EQ("", SimOpenHandles()) << c.what;
        SimUnloadMachine();
        EXPECT_EQ(expected, machine.Read(WININIT)) << c.what;
    }
    // 10 bytes of header and 5 lines of 37 bytes.
    EXPECT_EQ(195u, ("[rename]\r\n" + lines).size());
}

// The existence test is a search for the file; a search that fails counts
// as no file, and the header is written.
TEST(RestartList, AFailedSearchWritesTheHeader)
{
    TestMachine machine;
    machine.File(WININIT, "[rename]\r\n").Load();
    SimFailCall("FindFirstFileA", 1, ERROR_NOT_ENOUGH_MEMORY);
    ScheduleRestartDeletions(RunWith("C:\\WINDOWS", SYSTEM));
    EXPECT_EQ(std::vector<std::string>{WININIT}, FirstArgs(SimCallsNamed("FindFirstFileA")));
    SimUnloadMachine();
    EXPECT_EQ("[rename]\r\n[rename]\r\n" + FiveLines(SYSTEM), machine.Read(WININIT));
}

// A file that cannot be opened for appending gets nothing, and nothing else
// is written anywhere.
TEST(RestartList, AFileThatCannotBeOpenedGetsNothing)
{
    TestMachine machine;
    machine.File(WININIT, "[rename]\r\n").Load();
    SimFailCall("FileIoOpen", 0, ERROR_ACCESS_DENIED);
    ScheduleRestartDeletions(RunWith("C:\\WINDOWS", SYSTEM));
    EXPECT_TRUE(SimCallsNamed("FileIoWriteAtEnd").empty()) << AllCallsText();
    EXPECT_EQ("", SimOpenHandles());
    SimUnloadMachine();
    EXPECT_EQ("[rename]\r\n", machine.Read(WININIT));
}

// The path is composed in a full path buffer: a Windows directory longer
// than 17 characters works; lines that would not fit are left out whole.
TEST(RestartList, LongDirectories)
{
    const std::string longWindows = "C:\\Sistemi operativi\\WINDOWS 98 SE";  // 34 characters
    const std::string system241 = "C:\\" + std::string(238, 'S');  // 5 + 241 + 1 + 12 = 259
    const std::string system242 = "C:\\" + std::string(239, 'S');
    const struct {
        std::string windowsDir, systemDir, after;
    } cases[] = {
        {longWindows, SYSTEM, "[rename]\r\n" + FiveLines(SYSTEM)},
        {"C:\\WINDOWS", system241, "[rename]\r\n" + FiveLines(system241)},
        {"C:\\WINDOWS", system242, "[rename]\r\n"},
        {"C:\\WINDOWS", "", "[rename]\r\n" + FiveLines("")},
    };
    for (const auto &c : cases) {
        TestMachine machine;
        machine.File(c.windowsDir + "\\WIN.INI", "[windows]\r\n").Load();
        ScheduleRestartDeletions(RunWith(c.windowsDir, c.systemDir));
        SimUnloadMachine();
        EXPECT_EQ(c.after, machine.Read(c.windowsDir + "\\wininit.ini")) << c.windowsDir << " " << c.systemDir.size();
    }
    // A Windows directory that leaves no room for the name: no file at all.
    TestMachine machine;
    machine.Load();
    ScheduleRestartDeletions(RunWith("C:\\" + std::string(246, 'W'), SYSTEM));
    EXPECT_TRUE(SimCallsNamed("FindFirstFileA").empty());
    EXPECT_TRUE(SimCallsNamed("FileIoOpen").empty());
}

}  // namespace

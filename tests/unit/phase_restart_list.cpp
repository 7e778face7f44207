// WININIT.INI: the "[rename]" header for a new file and the five "NULL="
// lines, appended byte for byte.
#include <cstring>

#include "phase_support.h"

using namespace phase_support;

namespace {

std::string FiveLines(const std::string &systemDir)
{
    std::string lines;
    for (const char *name : RESTART_FILES)
        lines += "NULL=" + systemDir + "\\" + name + "\r\n";
    return lines;
}

TEST(RestartList, AppendsToWhatIsThere)
{
    const std::string W = "C:\\WINDOWS", S = "C:\\WINDOWS\\SYSTEM", lines = FiveLines(S);
    const std::string longWindows = "C:\\Sistemi operativi\\WINDOWS 98 SE";  // 34 characters
    const std::string system241 = "C:\\" + std::string(238, 'S');        // 5 + 241 + 1 + 12 = 259
    const struct {
        const char *what;
        std::string windowsDir, systemDir;
        const char *before;  // null: no file
        bool searchFails;    // the existence test
        int runs;
        std::string after;
    } cases[] = {
        {"no file: 195 bytes, header and five lines", W, S, nullptr, false, 1, "[rename]\r\n" + lines},
        {"an empty file: no header", W, S, "", false, 1, lines},
        {"a last line without its end", W, S, "[rename]\r\nNUL=C:\\X.TMP", false, 1, "[rename]\r\nNUL=C:\\X.TMP" + lines},
        {"a trailing 0x1A is cut off", W, S, "[rename]\r\n\x1A", false, 1, "[rename]\r\n" + lines},
        {"a second run: five more, no header", W, S, nullptr, false, 2, "[rename]\r\n" + lines + lines},
        {"a failed search counts as no file", W, S, "[rename]\r\n", true, 1, "[rename]\r\n[rename]\r\n" + lines},
        {"a Windows directory of 34 characters", longWindows, S, nullptr, false, 1, "[rename]\r\n" + lines},
        {"lines of 259 characters", W, system241, nullptr, false, 1, "[rename]\r\n" + FiveLines(system241)},
        {"lines of 260 characters are left out", W, system241 + "S", nullptr, false, 1, "[rename]\r\n"},
        {"no room for the file's name", "C:\\" + std::string(246, 'W'), S, nullptr, false, 1, "<missing>"},
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.Dir(c.windowsDir);
        if (c.before)
            machine.File(c.windowsDir + "\\wininit.ini", c.before);
        machine.Load();
        if (c.searchFails)
            SimFailCall("FindFirstFileA", 1, ERROR_NOT_ENOUGH_MEMORY);
        UninstallRun run = {};
        strcpy(run.windowsDir, c.windowsDir.c_str());
        strcpy(run.systemDir, c.systemDir.c_str());
        for (int i = 0; i < c.runs; i++)
            ScheduleRestartDeletions(run);
        EXPECT_EQ(c.after, machine.Read(c.windowsDir + "\\wininit.ini")) << c.what << "\n" << SimFormatCalls(SimCalls());
        EXPECT_EQ(c.after == "<missing>", SimCallsNamed("FileIoOpen").empty()) << c.what;
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

}  // namespace

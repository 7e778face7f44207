// WININIT.INI: the five "NUL=" lines appended byte for byte, on lines of
// their own and under a [rename] header, whatever the file held before
// (fuzz_wininit_append's seeds hold an empty file, an open last line and 0x1A).
#include <cstring>

#include "phase_support.h"

using namespace phase_support;

namespace {

std::string FiveLines(const std::string &systemDir)
{
    std::string lines;
    for (const char *name : RESTART_FILES)
        lines += "NUL=" + systemDir + "\\" + name + "\r\n";
    return lines;
}

TEST(RestartList, AppendsToWhatIsThere)
{
    const std::string W = "C:\\WINDOWS", S = "C:\\WINDOWS\\SYSTEM", lines = FiveLines(S);
    const std::string R = "[rename]\r\n", other = "NUL=C:\\OLD.TMP";
    const std::string longWindows = "C:\\Sistemi operativi\\WINDOWS 98 SE";  // 34 characters
    const std::string system242 = "C:\\" + std::string(239, 'S');        // 4 + 242 + 1 + 12 = 259
    // Megabytes of another program's entries, then its [rename] section.
    std::string large;
    for (int i = 0; i < 60000; i++)
        large += "[Sezione" + std::to_string(i) + "]\r\nVoce=C:\\TEMP\\FILE" + std::to_string(i) + ".TMP\r\n";
    large += "  [RENAME]  ; pending\r\n" + other;
    const struct {
        const char *what;
        std::string windowsDir, systemDir;
        const char *before;  // null: no file
        const char *failRead;  // a service that fails while the file is read
        int runs;
        std::string after;
    } cases[] = {
        {"no file: 190 bytes, header and five lines", W, S, nullptr, nullptr, 1, R + lines},
        {"a last line with its end", W, S, "[rename]\r\nNUL=C:\\OLD.TMP\r\n", nullptr, 1, R + other + "\r\n" + lines},
        {"a lone CR at the end", W, S, "[rename]\r", nullptr, 1, "[rename]\r\r\n" + lines},
        {"0x1A after a line without its end", W, S, "[rename]\r\nNUL=C:\\OLD.TMP\x1A", nullptr, 1, R + other + "\r\n" + lines},
        {"[Rename] in another case", W, S, "[ReNaMe]\r\n", nullptr, 1, "[ReNaMe]\r\n" + lines},
        {"the last section another one", W, S, "[rename]\r\nNUL=C:\\A\r\n[Altro]\r\n", nullptr, 1,
         "[rename]\r\nNUL=C:\\A\r\n[Altro]\r\n" + R + lines},
        {"a longer name is another section", W, S, "[renamed]\r\n", nullptr, 1, "[renamed]\r\n" + R + lines},
        {"a bracket inside a line is no header", W, S, "[rename]\r\nA=[B]\r\n", nullptr, 1, "[rename]\r\nA=[B]\r\n" + lines},
        {"no section at all", W, S, "; nothing yet\r\n", nullptr, 1, "; nothing yet\r\n" + R + lines},
        {"megabytes, read in bounded memory", W, S, large.c_str(), nullptr, 1, large + "\r\n" + lines},
        {"a failed read: a line end and a header", W, S, "[rename]\r\n", "FileIoRead", 1, R + "\r\n" + R + lines},
        {"a second run: five more, no header", W, S, nullptr, nullptr, 2, R + lines + lines},
        {"a Windows directory of 34 characters", longWindows, S, nullptr, nullptr, 1, R + lines},
        {"lines of 259 characters", W, system242, nullptr, nullptr, 1, R + FiveLines(system242)},
        {"lines of 260 characters are left out", W, system242 + "S", nullptr, nullptr, 1, R},
        {"no room for the file's name", "C:\\" + std::string(246, 'W'), S, nullptr, nullptr, 1, "<missing>"},
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.Dir(c.windowsDir);
        if (c.before)
            machine.File(c.windowsDir + "\\wininit.ini", c.before);
        machine.Load();
        if (c.failRead)
            SimFailCall(c.failRead, 2, ERROR_SHARING_VIOLATION);  // the first read is the open's
        UninstallRun run = {};
        strcpy(run.windowsDir, c.windowsDir.c_str());
        strcpy(run.systemDir, c.systemDir.c_str());
        for (int i = 0; i < c.runs; i++)
            ScheduleRestartDeletions(run);
        std::string after = machine.Read(c.windowsDir + "\\wininit.ini");
        EXPECT_EQ(c.after.size(), after.size()) << c.what;
        EXPECT_TRUE(c.after == after) << c.what << "\n" << (after.size() < 2000 ? after : "") << "\n"
                                      << SimFormatCalls(SimCalls());
        EXPECT_EQ(c.after == "<missing>" ? 0u : (size_t)c.runs, SimCallsNamed("PlatformAlloc").size())
            << c.what << ": the stream's own buffer and nothing more";
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

}  // namespace

// WININIT.INI: the five "NUL=" lines and the kept driver files' byte for
// byte, on lines of their own in the first [rename] section, whatever the
// file held before (fuzz_wininit_append's seeds hold an empty file, an open
// last line and 0x1A); every listed path handed to MoveFileExA too.
#include <cstring>
#include <fstream>

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

TEST(RestartList, PlacesItsLinesInTheFirstRenameSection)
{
    const std::string W = "C:\\WINDOWS", S = "C:\\WINDOWS\\SYSTEM", lines = FiveLines(S);
    const std::string R = "[rename]\r\n", other = "NUL=C:\\OLD.TMP", vxd = "[CombineVxDs]\r\nA=B\r\n";
    const std::string longWindows = "C:\\Sistemi operativi\\WINDOWS 98 SE";  // 34 characters
    const std::string system242 = "C:\\" + std::string(239, 'S');        // 4 + 242 + 1 + 12 = 259
    const std::string system243 = system242 + "S";
    // Megabytes of another program's entries.
    std::string large;
    for (int i = 0; i < 60000; i++)
        large += "[Sezione" + std::to_string(i) + "]\r\nVoce=C:\\TEMP\\FILE" + std::to_string(i) + ".TMP\r\n";
    const std::string largeLast = large + "  [RENAME]  ; pending\r\n" + other;
    const std::string largeFirst = R + other + "\r\n" + large;
    // Kept driver files: rows 1 (BR3232.DLL), 13 (BR32SHEL.DLL) and 14.
    const DWORD one = 1u << 12, several = 1u | 1u << 12 | 1u << 13;
    const std::string shel = "NUL=" + S + "\\BR32SHEL.DLL\r\n";
    const std::string keptLines = "NUL=" + S + "\\BR3232.DLL\r\n" + shel + "NUL=" + S + "\\BR32STAT.EXE\r\n";
    const struct {
        const char *what;
        std::string windowsDir, systemDir;
        std::string before;  // "<missing>": no file
        DWORD kept;
        const char *failRead;  // a service that fails while the file is read
        int runs;
        std::string after;
    } cases[] = {
        {"no file: 190 bytes, header and five lines", W, S, "<missing>", 0, nullptr, 1, R + lines},
        {"a last line with its end", W, S, R + other + "\r\n", 0, nullptr, 1, R + other + "\r\n" + lines},
        {"a lone CR at the end", W, S, "[rename]\r", 0, nullptr, 1, "[rename]\r\r\n" + lines},
        {"0x1A after a line without its end", W, S, R + other + "\x1A", 0, nullptr, 1, R + other + "\r\n" + lines},
        {"two 0x1A: one cut, the other text", W, S, R + other + "\r\n\x1A\x1A", 0, nullptr, 1,
         R + other + "\r\n\x1A\r\n" + lines},
        {"a NUL byte after a line end, the last line open", W, S, R + std::string("\0B", 2), 0, nullptr, 1,
         R + std::string("\0B\r\n", 4) + lines},
        {"[Rename] in another case", W, S, "[ReNaMe]\r\n", 0, nullptr, 1, "[ReNaMe]\r\n" + lines},
        {"the first section followed by another", W, S, R + "NUL=C:\\A\r\n" + vxd, 0, nullptr, 1, R + "NUL=C:\\A\r\n" + lines + vxd},
        {"[Rename] in another case, then a section", W, S, " [RENAME]\nA=B\n" + vxd, 0, nullptr, 1, " [RENAME]\nA=B\n" + lines + vxd},
        {"two [rename] sections: the first", W, S, R + "A=1\r\n" + vxd + R + "B=2\r\n", 0, nullptr, 1,
         R + "A=1\r\n" + lines + vxd + R + "B=2\r\n"},
        {"blank lines at the end of the first section", W, S, R + "A=1\r\n\r\n  \r\n" + vxd, 0, nullptr, 1,
         R + "A=1\r\n\r\n  \r\n" + lines + vxd},
        {"NUL and 0x1A copied through", W, S, R + std::string("A=\0\x1A\n", 5) + vxd + "\x1A", 0, nullptr, 1,
         R + std::string("A=\0\x1A\n", 5) + lines + vxd + "\x1A"},
        {"the last section another one", W, S, vxd, 0, nullptr, 1, vxd + R + lines},
        {"a longer name is another section", W, S, "[renamed]\r\n", 0, nullptr, 1, "[renamed]\r\n" + R + lines},
        {"a bracket inside a line is no header", W, S, "[rename]\r\nA=[B]\r\n", 0, nullptr, 1, "[rename]\r\nA=[B]\r\n" + lines},
        {"no section at all", W, S, "; nothing yet\r\n", 0, nullptr, 1, "; nothing yet\r\n" + R + lines},
        {"megabytes, the last section ours", W, S, largeLast, 0, nullptr, 1, largeLast + "\r\n" + lines},
        {"megabytes after the first section", W, S, largeFirst, 0, nullptr, 1, R + other + "\r\n" + lines + large},
        // Reads 1 and 2 take the file as stored, 3 its last byte for "a+", 4 its text.
        {"a failed read: a line end and a header", W, S, R, 0, "FileIoRead", 1, R + "\r\n" + R + lines},
        {"a second run: five more, no header", W, S, "<missing>", 0, nullptr, 2, R + lines + lines},
        {"a kept file after the five", W, S, "<missing>", one, nullptr, 1, R + lines + shel},
        {"kept files in their table's order", W, S, R + vxd, several, nullptr, 1, R + lines + keptLines + vxd},
        {"a Windows directory of 34 characters", longWindows, S, "<missing>", 0, nullptr, 1, R + lines},
        {"lines of 259 characters", W, system242, "<missing>", 0, nullptr, 1, R + FiveLines(system242)},
        {"lines of 260 characters are left out, a shorter kept one not", W, system243, "<missing>", several, nullptr, 1,
         R + "NUL=" + system243 + "\\BR3232.DLL\r\n"},
        {"no room for the file's name", "C:\\" + std::string(246, 'W'), S, "<missing>", one, nullptr, 1, "<missing>"},
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.Dir(c.windowsDir);
        if (c.before != "<missing>")
            machine.File(c.windowsDir + "\\wininit.ini", c.before);
        machine.Load();
        if (c.failRead)
            SimFailCall(c.failRead, 4, ERROR_SHARING_VIOLATION);
        UninstallRun run = {};
        strcpy(run.windowsDir, c.windowsDir.c_str());
        strcpy(run.systemDir, c.systemDir.c_str());
        run.keptDriverFiles = c.kept;
        for (int i = 0; i < c.runs; i++)
            ScheduleRestartDeletions(run);
        std::string after = machine.Read(c.windowsDir + "\\wininit.ini");
        EXPECT_EQ(c.after.size(), after.size()) << c.what;
        EXPECT_TRUE(c.after == after) << c.what << "\n" << (after.size() < 2000 ? after : "") << "\n"
                                      << SimFormatCalls(SimCalls());
        // The NT family gets every listed path, whether or not the file was written.
        std::vector<std::string> registered, listed;
        for (const std::string &call : Calls({"MoveFileExA"}))
            registered.push_back(call);
        for (int i = 0; i < c.runs; i++)
            for (size_t at = 0; (at = c.after.find("NUL=" + c.systemDir, at)) != std::string::npos; at++) {
                size_t end = c.after.find('\r', at);
                listed.push_back("MoveFileExA(" + c.after.substr(at + 4, end - at - 4) + ", NULL, 4)");
            }
        if (c.after == "<missing>")
            listed = {"MoveFileExA(" + S + "\\BR32TN16.DLL, NULL, 4)"};
        if (c.runs == 1 && c.after != "<missing>")
            EXPECT_EQ(listed, registered) << c.what;
        else
            EXPECT_EQ(listed[0], registered[0]) << c.what;
        // Bounded memory: a stream's own buffer per open stream, three at most.
        std::vector<SimCall> blocks = SimCallsNamed("PlatformAlloc");
        EXPECT_LE(blocks.size(), 3u * c.runs) << c.what;
        for (const SimCall &block : blocks)
            EXPECT_EQ(blocks[0].args, block.args) << c.what;
        EXPECT_EQ("", SimOpenHandles()) << c.what;
        EXPECT_TRUE(machine.Read(c.windowsDir + "\\BR32WIN.NEW") == "<missing>" &&
                    machine.Read(c.windowsDir + "\\BR32WIN.OLD") == "<missing>") << c.what;
    }
}

}  // namespace

namespace {

// Lines placed before another program's later section are acted upon at the
// next start, as is that program's own line.
TEST(RestartList, TheNextStartActsOnLinesBeforeAnotherSection)
{
    const std::string S = "C:\\WINDOWS\\SYSTEM";
    Machine machine;
    machine.File("C:\\WINDOWS\\wininit.ini", "[rename]\r\nNUL=C:\\OLD.TMP\r\n[CombineVxDs]\r\nA=B\r\n").File("C:\\OLD.TMP", "x");
    for (const char *name : RESTART_FILES)
        machine.File(S + "\\" + name, "dll");
    machine.Load();
    UninstallRun run = {};
    strcpy(run.windowsDir, "C:\\WINDOWS");
    strcpy(run.systemDir, S.c_str());
    ScheduleRestartDeletions(run);
    std::vector<std::string> done = SimNextStart();
    std::vector<std::string> expected = {"deleted C:\\OLD.TMP"};
    for (const char *name : RESTART_FILES)
        expected.push_back("deleted " + S + "\\" + name);
    expected.push_back("renamed C:\\WINDOWS\\wininit.ini to C:\\WINDOWS\\WININIT.BAK");
    EXPECT_EQ(expected, done);
}

}  // namespace

namespace {

// A read that fails part-way through the copy of a large file: the copy is
// not swapped in, whatever it already holds; the lines are appended.
TEST(RestartList, ACopyThatFailsPartWayLeavesTheFileAsItWas)
{
    std::string before = "[rename]\r\nNUL=C:\\OLD.TMP\r\n";
    while (before.size() < 100000)
        before += "[Sezione]\r\nVoce=C:\\TEMP\\FILE.TMP\r\n";
    // The first reading takes every 16 KiB block and one more at the end,
    // the look into our new file one; the copy's second block fails.
    const int reads = (int)(before.size() + 16383) / 16384 + 1;
    Machine machine;
    machine.File("C:\\WINDOWS\\wininit.ini", before);
    machine.Load();
    SimFailCall("FileIoRead", reads + 3, ERROR_ACCESS_DENIED);
    UninstallRun run = {};
    strcpy(run.windowsDir, "C:\\WINDOWS");
    strcpy(run.systemDir, "C:\\WINDOWS\\SYSTEM");
    ScheduleRestartDeletions(run);
    EXPECT_TRUE(machine.Read("C:\\WINDOWS\\wininit.ini") == before + "[rename]\r\n" + FiveLines(run.systemDir))
        << SimFormatCalls(SimCallsNamed("FileIoRead"));
    EXPECT_EQ("<missing>", machine.Read("C:\\WINDOWS\\BR32WIN.NEW"));
    EXPECT_EQ(0u, SimCallsNamed("MoveFileA").size()) << "no move after the failed copy";
}

}  // namespace

namespace {

// Grows WININIT.INI between the reading of its state and its copy.
std::string g_growing;
void GrowTheFile()
{
    std::ofstream(g_growing, std::ios::binary | std::ios::app) << "NUL=C:\\NEW.TMP\r\n";
}

// What an earlier run, an interruption or the user left beside WININIT.INI,
// and its marks: settled first, and never a reason for our lines to be
// nowhere or another program's to be lost.
TEST(RestartList, SettlesWhatItFindsBesideTheFile)
{
    const std::string W = "C:\\WINDOWS", lines = FiveLines("C:\\WINDOWS\\SYSTEM"), none = "<missing>";
    const std::string R = "[rename]\r\n", P = R + "NUL=C:\\OLD.TMP\r\n", V = "[CombineVxDs]\r\nA=B\r\n";
    const struct {
        const char *what;
        std::string ini, oldFile, newFile;  // before
        const char *marks;                   // WININIT.INI's [Attributes]
        bool grows;                          // between the two reads
        std::string iniAfter, oldAfter, newAfter;
    } cases[] = {
        {"a stale BR32WIN.OLD beside it: the swap was made, ours goes", P + V, "stale", none, "", false,
         P + lines + V, none, none},
        {"no WININIT.INI, BR32WIN.OLD: moved back first", none, P + V, none, "", false, P + lines + V, none, none},
        {"no WININIT.INI, both of ours: moved back, the copy deleted", none, P + V, P + lines + V, "", false,
         P + lines + V, none, none},
        {"all three: a move back failed, none is touched, ours appended", R + "NUL=C:\\X\r\n", P + V, "junk", "",
         false, R + "NUL=C:\\X\r\n" + lines, P + V, "junk"},
        {"a stale BR32WIN.NEW: an unfinished copy, deleted", P + V, none, "[rename]\r\nNUL", "", false,
         P + lines + V, none, none},
        {"read-only: never moved, nothing written", P + V, none, none, "R", false, P + V, none, none},
        {"hidden: never moved, appended under a header", P + V, none, none, "H", false, P + V + R + lines, none, none},
        {"system: never moved, appended under a header", P + V, none, none, "S", false, P + V + R + lines, none, none},
        {"a lone CR before a header starts no line", P + "\r\n\r" + V, none, none, "", false,
         P + "\r\n" + lines + "\r" + V, none, none},
        {"a file that grows between the reads: appended instead", P + V, none, none, "", true,
         P + V + "NUL=C:\\NEW.TMP\r\n" + R + lines, none, none},
    };
    for (const auto &c : cases) {
        Machine machine;
        const std::pair<std::string, std::string> files[] = {
            {W + "\\wininit.ini", c.ini}, {W + "\\BR32WIN.OLD", c.oldFile}, {W + "\\BR32WIN.NEW", c.newFile}};
        for (const auto &[path, bytes] : files)
            if (bytes != none)
                machine.File(path, bytes);
        if (*c.marks)
            machine.Append("machine.ini", "[Attributes]\r\n" + W + "\\wininit.ini=" + c.marks + "\r\n");
        ASSERT_TRUE(machine.Load()) << c.what;
        UninstallRun run = {};
        strcpy(run.windowsDir, W.c_str());
        strcpy(run.systemDir, "C:\\WINDOWS\\SYSTEM");
        if (c.grows) {
            // Right after the first reading's stream is closed.
            g_growing = machine.Host(W + "\\wininit.ini");
            ScheduleRestartDeletions(run);
            for (size_t i = 0; i < SimCalls().size(); i++)
                if (SimCalls()[i].name == "FileIoClose") {
                    SimUnloadMachine();
                    machine.File(W + "\\wininit.ini", c.ini);
                    ASSERT_TRUE(machine.Load());
                    SimAfterCall((long)i + 1, GrowTheFile);
                    break;
                }
        }
        ScheduleRestartDeletions(run);
        EXPECT_EQ(c.iniAfter, machine.Read(W + "\\wininit.ini")) << c.what;
        EXPECT_EQ(c.oldAfter, machine.Read(W + "\\BR32WIN.OLD")) << c.what;
        EXPECT_EQ(c.newAfter, machine.Read(W + "\\BR32WIN.NEW")) << c.what;
        if (*c.marks) {  // the marks stay with the file
            EXPECT_EQ(c.marks[0] == 'R' ? 0x01u : c.marks[0] == 'H' ? 0x02u : 0x04u,
                      GetFileAttributesA((W + "\\wininit.ini").c_str()) & 0x07u) << c.what;
        }
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

}  // namespace

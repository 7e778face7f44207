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

// What an earlier run, an interruption or the user left beside WININIT.INI:
// a row for each row of the table above Settle, and the text another
// program made joined into a waiting one. The marks and a file that grows
// between its reads, which the crash sequences do not draw, too.
TEST(RestartList, SettlesWhatItFindsBesideTheFile)
{
    const std::string W = "C:\\WINDOWS", lines = FiveLines("C:\\WINDOWS\\SYSTEM"), none = "<missing>";
    const std::string R = "[rename]\r\n", P = R + "NUL=C:\\OLD.TMP\r\n", V = "[CombineVxDs]\r\nA=B\r\n";
    const std::string X = "NUL=C:\\X.TMP\r\n", NEW = P + lines + V;  // a complete new text
    const struct {
        const char *what;
        std::string ini, oldFile, newFile, waiting;  // before
        const char *marks;                            // WININIT.INI's [Attributes]
        bool grows;                                   // between the two reads
        std::string iniAfter, waitingAfter;           // none of ours is left but the waiting text
        unsigned marksAfter = 0;                      // WININIT.INI's attributes' RHS bits
        const char *fail = nullptr;                   // a service that fails, from its first call
        std::string oldAfter = "<missing>", newAfter = "<missing>";
    } cases[] = {
        {"- x . .: a new text never moved in is deleted", P + V, none, "[rename]\r\nNUL", none, "", false,
         P + lines + V, none},
        {"x x x -: the waiting text is in the new one, which is moved in", none, R + X, P + lines + X + lines + V,
         P + lines + V, "", false, P + lines + X + lines + lines + V, none},
        {"x x - -: stopped between the moves, the new text is moved in", none, P + V, NEW, none, "", false,
         P + lines + lines + V, none},
        {"x x - x: another program made WININIT.INI, the new text waits and is merged", R + X, P + V, NEW, none, "",
         false, P + lines + lines + X + V, none},
        {"x - - x: a stale BR32WIN.OLD is deleted", P + V, "stale", none, none, "", false, P + lines + V, none},
        {"x - - -: a stale BR32WIN.OLD alone is deleted, nothing moved back", none, P + V, none, none, "", false,
         R + lines, none},
        {"- - x -: a waiting text is moved in", none, none, none, NEW, "", false, P + lines + lines + V, none},
        {"- - x x: a waiting text is merged", R + X, none, none, NEW, "", false, P + lines + lines + X + V, none},
        {"- - x x, WININIT.INI hidden: merged all the same, the mark gone", R + X, none, none, NEW, "H", false,
         P + lines + lines + X + V, none},
        {"- - x x, WININIT.INI read-only: nothing written, ours neither, the text waits", R + X, none, none, NEW, "R",
         false, R + X, NEW, 1},
        {"read-only: never moved, nothing written", P + V, none, none, none, "R", false, P + V, none, 1},
        {"system: never moved, appended under a header", P + V, none, none, none, "S", false, P + V + R + lines, none, 4},
        {"x x - -, the new text held: ours stay out while it waits", none, P + V, NEW, none, "", false, none, none, 0,
         "MoveFileA", P + V, NEW},
        {"x x - -, a question of presence that fails: nothing moved, ours stay out", none, P + V, NEW, none, "", false,
         none, none, 0, "GetFileAttributesA", P + V, NEW},
        {"a file that grows between the reads: appended instead", P + V, none, none, none, "", true,
         P + V + "NUL=C:\\NEW.TMP\r\n" + R + lines, none},
    };
    for (const auto &c : cases) {
        Machine machine;
        const std::pair<std::string, std::string> files[] = {{W + "\\wininit.ini", c.ini},
                                                             {W + "\\BR32WIN.OLD", c.oldFile},
                                                             {W + "\\BR32WIN.NEW", c.newFile},
                                                             {W + "\\BR32WIN.PND", c.waiting}};
        for (const auto &[path, bytes] : files)
            if (bytes != none)
                machine.File(path, bytes);
        if (*c.marks)
            machine.Append("machine.ini", "[Attributes]\r\n" + W + "\\wininit.ini=" + c.marks + "\r\n");
        ASSERT_TRUE(machine.Load()) << c.what;
        UninstallRun run = {};
        strcpy(run.windowsDir, W.c_str());
        strcpy(run.systemDir, "C:\\WINDOWS\\SYSTEM");
        if (c.fail)  // a held file; an answer that is not "not found"
            SimFailCall(c.fail, 0, ERROR_ACCESS_DENIED);
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
        EXPECT_EQ(c.waitingAfter, machine.Read(W + "\\BR32WIN.PND")) << c.what;
        EXPECT_EQ(c.oldAfter, machine.Read(W + "\\BR32WIN.OLD")) << c.what;
        EXPECT_EQ(c.newAfter, machine.Read(W + "\\BR32WIN.NEW")) << c.what;
        SimClearFaults();
        if (c.iniAfter != none) {  // the marks stay with the file, unless merged
            EXPECT_EQ(c.marksAfter, GetFileAttributesA((W + "\\wininit.ini").c_str()) & 0x07u) << c.what;
        }
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

// Another program's WININIT.INI joined into a waiting text's first [rename]
// section, after our lines: the lines of all its [rename] sections, then its
// other sections, byte for byte but for its [rename] headers, a final 0x1A
// and what comes before its first header; a line end after each part.
TEST(RestartList, AnotherProgramsTextJoinsTheFirstSection)
{
    const std::string W = "C:\\WINDOWS", lines = FiveLines("C:\\WINDOWS\\SYSTEM");
    const std::string P = "[rename]\r\nNUL=C:\\OLD.TMP\r\n", V = "[CombineVxDs]\r\nA=B\r\n";
    const struct {
        const char *what;
        std::string ini, joined;  // WININIT.INI, and what of it joins
    } cases[] = {
        {"a line of its own", "[rename]\r\nNUL=C:\\X\r\n", "NUL=C:\\X\r\n"},
        {"headers in other letters and blanks, two of them", " [ReName] ;x\r\nA=1\r\n\t[RENAME]\r\nB=2\r\n", "A=1\r\nB=2\r\n"},
        {"every [rename] section's lines first, then the other sections", "[rename]\r\nA=1\r\n[Foo]\r\nF=1\r\n[rename]\r\nB=2\r\n",
         "A=1\r\nB=2\r\n[Foo]\r\nF=1\r\n"},
        {"[rename] after another section", "[CombineVxDs]\r\nX=1\r\n[rename]\r\nNUL=C:\\Q00.TMP\r\n",
         "NUL=C:\\Q00.TMP\r\n[CombineVxDs]\r\nX=1\r\n"},
        {"no line end at its end, a final 0x1A", "[rename]\r\nA=1\x1A", "A=1\r\n"},
        {"a 0x1A inside stays", "[rename]\r\nA=\x1A" "1\r\n", "A=\x1A" "1\r\n"},
        {"lines before any header, which no start reads, stay out", "NUL=C:\\KEEP.DAT\r\n; x\r\n[rename]\r\nA=1\r\n", "A=1\r\n"},
        {"blanks past the 16th at a line's start are left out", std::string(20, ' ') + "[rename]\r\n" +
         std::string(20, '\t') + "A=1\r\n", std::string(16, '\t') + "A=1\r\n"},
        {"only a header", "[rename]\r\n", ""},
        {"empty", "", ""},
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.File(W + "\\wininit.ini", c.ini).File(W + "\\BR32WIN.PND", P + V);
        ASSERT_TRUE(machine.Load()) << c.what;
        UninstallRun run = {};
        strcpy(run.windowsDir, W.c_str());
        strcpy(run.systemDir, "C:\\WINDOWS\\SYSTEM");
        ScheduleRestartDeletions(run);
        EXPECT_EQ(P + lines + c.joined + V, machine.Read(W + "\\wininit.ini")) << c.what;
        EXPECT_EQ("<missing>", machine.Read(W + "\\BR32WIN.PND")) << c.what;
    }
}

}  // namespace

// The INF files: the scan of oem*.inf up to build 950 for the marker word
// and the printer's name (the gate itself is in the sequence's tests), the
// fixed name in INF\OTHER above it.
#include <cstring>

#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string INF = "C:\\WINDOWS\\INF\\";
// Our printer's name, which every file of the word table holds too.
const std::string NAMED = "\"" + DRIVER + "\" = BR32JP.DRV\r\n";

// One directory, one scan: each file is judged by its own words, in the
// order of the search (the names' order), and is closed before it goes.
// Every file names the printer: the word decides.
TEST(SetupInformation, EveryFileJudgedByItsOwnWords)
{
    const std::string big(10 << 20, 'W');
    const struct {
        const char *what;
        std::string text;  // "<dir>": a folder of that name; "<busy>": held open elsewhere
        bool deleted;
    } cases[] = {
        {"alone", "BR32STAT.EXE", true},
        {"empty, after a matching file", "", false},
        {"at the end without a line break", "[BR32STAT]\r\nbrlaunch.exe\r\nBR32STAT.EXE", true},
        {"between a tab and a VT", "[x]\tBR32STAT.EXE\vx", true},
        {"between an FF and a lone CR", "x\fBR32STAT.EXE\rx", true},
        {"after a no-break space", "x\xA0" "BR32STAT.EXE", false},
        {"across the stream's 16 KiB buffer", std::string(16380 - NAMED.size(), ' ') + "BR32STAT.EXE", true},
        {"followed by commas", "BR32STAT.EXE,,,\r\n", false},
        {"in quotation marks", "\"BR32STAT.EXE\"\r\n", false},
        {"in lower case", "br32stat.exe\r\n", false},
        {"after 0x1A", "[x]\r\n\x1A\r\nBR32STAT.EXE\r\n", false},
        {"after 0x1A that ends a word", "[x]\x1A" "BR32STAT.EXE\r\n", false},
        {"a folder", "<dir>", false},
        {"held open by another program", "<busy>", false},
        {"after a word of 200 bytes", std::string(200, 'W') + " BR32STAT.EXE", true},
        {"glued to the end of a word of 199 bytes", std::string(199, 'W') + "BR32STAT.EXE", false},
        {"after a word of 10 MB", big + "\r\nBR32STAT.EXE\r\n", true},
        {"at the start of a word of 10 MB", "BR32STAT.EXE" + big, false},
    };
    Machine machine;
    machine.File(INF + "OEM.PNF", "BR32STAT.EXE").File(INF + "OTHER.INF", "BR32STAT.EXE");
    std::vector<std::string> expected, deletions;
    for (size_t i = 0; i < std::size(cases); i++) {
        std::string path = INF + "OEM" + std::to_string(10 + i) + ".INF";
        if (cases[i].text == "<dir>")
            machine.Dir(path);
        else
            machine.File(path, NAMED + (cases[i].text == "<busy>" ? "BR32STAT.EXE" : cases[i].text));
        if (cases[i].text == "<busy>")
            machine.Append("machine.ini", "[Busy]\r\n" + path + "\r\n");
        expected.push_back(path + " (" + cases[i].what + (cases[i].deleted ? "): deleted" : "): kept"));
        if (cases[i].deleted)
            deletions.push_back("DeleteFileA(" + path + ")");
    }
    ASSERT_TRUE(machine.Load());
    DeleteFilesContaining("C:\\WINDOWS\\INF", "oem*.inf", "BR32STAT.EXE", DRIVER_NAME);
    std::vector<std::string> got;
    for (size_t i = 0; i < std::size(cases); i++) {
        std::string path = INF + "OEM" + std::to_string(10 + i) + ".INF";
        got.push_back(path + " (" + cases[i].what + (machine.Exists(path) ? "): kept" : "): deleted"));
    }
    EXPECT_EQ(expected, got) << Lines(Calls({"FileIoOpen", "FileIoClose", "DeleteFileA"}));
    EXPECT_EQ(deletions, Calls({"DeleteFileA"}));
    EXPECT_TRUE(machine.Exists(INF + "OEM.PNF") && machine.Exists(INF + "OTHER.INF"));
    // Every name is collected, and the search closed, before the first open.
    std::vector<std::string> calls = Calls({"FindClose", "FileIoOpen"});
    EXPECT_TRUE(!calls.empty() && calls[0].rfind("FindClose(", 0) == 0) << Lines(calls);
    EXPECT_EQ("", SimOpenHandles());
}

// Other makers' INF files may name our status monitor, to have it closed
// before they install: only a file that also names our printer goes.
TEST(SetupInformation, OnlyAnInfThatNamesThePrinterGoes)
{
    const std::string MARKER = "BR32STAT.EXE";
    const struct {
        const char *what;
        std::string text;
        bool deleted;
    } cases[] = {
        {"ours", "[Strings]\r\n" + NAMED + "[Copy]\r\n" + MARKER + "\r\n", true},
        {"another maker's, the marker in [Strings]", "[Strings]\r\nMsgBusy=\"Chiudere " + MARKER + " prima di installare\"\r\n", false},
        {"another maker's, the marker in a comment", "; " + MARKER + " must not run\r\n[Version]\r\n", false},
        {"another maker's, the marker in a copy list", "[Copy]\r\n" + MARKER + "\r\nOSJET4.DRV\r\n", false},
        {"a sibling INF that names our printer too", "[Models]\r\nModello = " + DRIVER + " (Copia)\r\n[C]\r\n" + MARKER + "\r\n", true},
        {"the name in quotes, the marker after it", "Desc=\"" + DRIVER + "\"\r\n" + MARKER + "\r\n", true},
        {"the name across the stream's 16 KiB buffer", std::string(16370, ' ') + DRIVER + " " + MARKER, true},
        {"the name in other letters", "tintavera brascora duneva 10\r\n" + MARKER + "\r\n", false},
        {"the name with one blank more", "TINTAVERA  Brascora Duneva 10\r\n" + MARKER + "\r\n", false},
        {"the name only after 0x1A", MARKER + "\r\n\x1A" + DRIVER + "\r\n", false},
        {"the name but no marker", NAMED, false},
    };
    Machine machine;
    for (size_t i = 0; i < std::size(cases); i++)
        machine.File(INF + "OEM" + std::to_string(10 + i) + ".INF", cases[i].text);
    ASSERT_TRUE(machine.Load());
    UninstallRun run = {};
    run.version.dwBuildNumber = 950;
    strcpy(run.windowsDir, "C:\\WINDOWS");
    RemoveSetupInformation(run);
    for (size_t i = 0; i < std::size(cases); i++)
        EXPECT_EQ(!cases[i].deleted, machine.Exists(INF + "OEM" + std::to_string(10 + i) + ".INF")) << cases[i].what;
    EXPECT_EQ("", SimOpenHandles());
}

// The list of names starts with room for 200 and grows; when it cannot, the
// names it holds are judged and the rest left alone.
TEST(SetupInformation, ANameListThatCannotGrowIsJudgedAsFarAsItGoes)
{
    Machine machine;
    for (int n = 100; n < 302; n++)
        machine.File(INF + "OEM" + std::to_string(n) + ".INF", NAMED + "BR32STAT.EXE");
    ASSERT_TRUE(machine.Load());
    SimFailCall("PlatformAlloc", 2, ERROR_NOT_ENOUGH_MEMORY);
    DeleteFilesContaining("C:\\WINDOWS\\INF", "oem*.inf", "BR32STAT.EXE", DRIVER_NAME);
    EXPECT_EQ(200u, SimCallsNamed("DeleteFileA").size());
    EXPECT_TRUE(machine.Exists(INF + "OEM300.INF") && machine.Exists(INF + "OEM301.INF"));
    EXPECT_EQ("", SimOpenHandles());
}

// A Windows directory too long for a composed path: nothing is done with a
// cut path, and what fits is still done.
TEST(SetupInformation, OverLongPathsAreSkipped)
{
    const std::string dir246 = "C:\\" + std::string(243, 'W'), dir228 = "C:\\" + std::string(225, 'W');
    const struct {
        DWORD build;
        std::string windowsDir;
        std::vector<std::string> calls;
    } cases[] = {
        // 246 + "\INF" + "\" + 8 = 259: OEM1.INF fits, OEM10.INF does not.
        {950, dir246, {"FindFirstFileA(" + dir246 + "\\INF\\oem*.inf, OEM1.INF)", "DeleteFileA(" + dir246 + "\\INF\\OEM1.INF)"}},
        {950, "C:\\" + std::string(244, 'W'), {}},  // 247 + 4 + 9 for the pattern
        {951, dir228, {"DeleteFileA(" + dir228 + "\\INF\\OTHER\\BRASCORABRDUNE10.INF)"}},
        {951, "C:\\" + std::string(226, 'W'), {}},  // 229 + 11 + 20
    };
    for (const auto &c : cases) {
        Machine machine;
        machine.File(dir246 + "\\INF\\OEM1.INF", NAMED + "BR32STAT.EXE").File(dir246 + "\\INF\\OEM10.INF", NAMED + "BR32STAT.EXE");
        ASSERT_TRUE(machine.Load());
        UninstallRun run = {};
        run.version.dwBuildNumber = c.build;
        strcpy(run.windowsDir, c.windowsDir.c_str());
        RemoveSetupInformation(run);
        EXPECT_EQ(c.calls, Calls({"FindFirstFileA", "DeleteFileA"})) << c.windowsDir.size() << " characters";
    }
}

}  // namespace

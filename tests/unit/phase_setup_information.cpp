// The INF files: the word scan of oem*.inf up to build 950, the fixed name
// in INF\OTHER above it.
#include <cstring>

#include "engine.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string INF = "C:\\WINDOWS\\INF";
const std::string OTHER_INF = "C:\\WINDOWS\\INF\\OTHER\\BRASCORABRDUNE10.INF";

UninstallRun RunWith(DWORD build, const std::string &windowsDir = "C:\\WINDOWS")
{
    UninstallRun run;
    memset(&run, 0, sizeof run);
    run.version.dwOSVersionInfoSize = sizeof run.version;
    run.version.dwBuildNumber = build;
    snprintf(run.windowsDir, sizeof run.windowsDir, "%s", windowsDir.c_str());
    snprintf(run.systemDir, sizeof run.systemDir, "C:\\WINDOWS\\SYSTEM");
    return run;
}

void ScanInf()
{
    DeleteFilesContaining(INF.c_str(), "oem*.inf", "BR32STAT.EXE");
}

std::vector<std::string> Deleted()
{
    return FirstArgs(SimCallsNamed("DeleteFileA"));
}

// What counts as the marker word, one file at a time.
TEST(InfWords, TheMarkerAsAWordOfItsOwn)
{
    const std::string big(10 * 1024 * 1024, 'W');
    const struct {
        const char *what;
        std::string text;
        bool deleted;
    } cases[] = {
        {"alone", "BR32STAT.EXE", true},
        {"on a line of a list", "[BR32STAT]\r\nBR32STAT.EXE\r\nbrlaunch.exe\r\n", true},
        {"at the end without a line break", "[BR32STAT]\r\nbrlaunch.exe\r\nBR32STAT.EXE", true},
        {"between tabs and form feeds", "x\tBR32STAT.EXE\f\vy", true},
        {"after a lone CR", "x\rBR32STAT.EXE", true},
        {"followed by commas", "BR32STAT.EXE,,,\r\n", false},
        {"with a value", "BR32STAT.EXE=1\r\n", false},
        {"in quotation marks", "\"BR32STAT.EXE\"\r\n", false},
        {"in lower case", "br32stat.exe\r\n", false},
        {"after a code page byte", "\xE8" "BR32STAT.EXE\r\n", false},
        {"after 0x1A", "[x]\r\n\x1A\r\nBR32STAT.EXE\r\n", false},
        {"after a NUL byte", std::string("\0BR32STAT.EXE", 13), false},
        {"empty", "", false},
        {"white space only", " \t\r\n\r\n ", false},
        {"after a word of 199 bytes", std::string(199, 'W') + " BR32STAT.EXE", true},
        {"after a word of 200 bytes", std::string(200, 'W') + " BR32STAT.EXE", true},
        {"after a word of 10 MB", big + "\r\nBR32STAT.EXE\r\n", true},
        {"at the start of a word of 10 MB", "BR32STAT.EXE" + big, false},
        {"at the end of a word of 10 MB", big + "BR32STAT.EXE", false},
    };
    for (const auto &c : cases) {
        TestMachine machine;
        machine.File(INF + "\\OEM1.INF", c.text).Load();
        ScanInf();
        std::vector<std::string> expected;
        if (c.deleted)
            expected.push_back(INF + "\\OEM1.INF");
        EXPECT_EQ(expected, Deleted()) << c.what << "\n" << AllCallsText();
        EXPECT_EQ("", SimOpenHandles()) << c.what;
    }
}

// Each file is judged by its own words, and is closed before it is deleted;
// every matching file goes, in the order of the search.
TEST(InfFiles, EveryMatchingFileInSearchOrder)
{
    TestMachine machine;
    machine.File(INF + "\\oem0.inf", "[x]\r\nBR32STAT.EXE\r\n")
        .File(INF + "\\OEM1.INF", "")
        .File(INF + "\\Oem2.INF", "BR32STAT.EXE")
        .File(INF + "\\oem3.INF", "  \r\n")
        .File(INF + "\\OEM4.PNF", "BR32STAT.EXE")
        .File(INF + "\\OTHER.INF", "BR32STAT.EXE")
        .Load();
    ScanInf();
    std::vector<std::string> opened = FirstArgs(SimCallsNamed("FileIoOpen"));
    ASSERT_EQ(4u, opened.size()) << AllCallsText();
    std::vector<std::string> matching;
    for (const std::string &path : opened) {
        if (Lower(path) == Lower(INF + "\\oem0.inf") || Lower(path) == Lower(INF + "\\Oem2.INF"))
            matching.push_back(path);
    }
    EXPECT_EQ(matching, Deleted()) << AllCallsText();

    // Every name is collected before the first file is opened, and each
    // deletion follows the close of its own file.
    const std::vector<SimCall> &calls = SimCalls();
    size_t lastFind = 0, firstOpen = calls.size();
    for (size_t i = 0; i < calls.size(); i++) {
        if (calls[i].name == "FindClose")
            lastFind = i;
        if (calls[i].name == "FileIoOpen" && firstOpen == calls.size())
            firstOpen = i;
        if (calls[i].name == "DeleteFileA") {
            size_t close = i, open = i;
            while (close > 0 && calls[close].name != "FileIoClose")
                close--;
            while (open > 0 && calls[open].name != "FileIoOpen")
                open--;
            EXPECT_LT(open, close) << AllCallsText();
            EXPECT_EQ(calls[i].args[0], calls[open].args[0]) << AllCallsText();
        }
    }
    EXPECT_LT(lastFind, firstOpen) << AllCallsText();
    EXPECT_EQ("", SimOpenHandles());
    SimUnloadMachine();
    EXPECT_TRUE(machine.Exists(INF + "\\OEM1.INF"));
    EXPECT_TRUE(machine.Exists(INF + "\\oem3.INF"));
    EXPECT_TRUE(machine.Exists(INF + "\\OEM4.PNF"));
    EXPECT_TRUE(machine.Exists(INF + "\\OTHER.INF"));
    EXPECT_FALSE(machine.Exists(INF + "\\oem0.inf"));
}

// More names than the first list holds: the list grows, none is ignored.
TEST(InfFiles, MoreThan200Names)
{
    TestMachine machine;
    std::vector<std::string> marked;
    for (int i = 0; i < 450; i++) {
        std::string path = INF + "\\OEM" + std::to_string(1000 + i) + ".INF";
        bool marker = i % 97 == 0 || i == 449;
        machine.File(path, marker ? "BR32STAT.EXE" : "x");
        if (marker)
            marked.push_back(path);
    }
    machine.Load();
    ScanInf();
    EXPECT_EQ(450u, SimCallsNamed("FileIoOpen").size());
    EXPECT_EQ(marked, Deleted());
    EXPECT_EQ("", SimOpenHandles());
}

// What cannot be read is passed over, and the scan goes on.
TEST(InfFiles, UnreadableNamesArePassedOver)
{
    {
        TestMachine machine;
        machine.File(INF + "\\OEM0.INF\\").File(INF + "\\OEM1.INF", "BR32STAT.EXE").Load();
        ScanInf();
        EXPECT_EQ(std::vector<std::string>{INF + "\\OEM1.INF"}, Deleted()) << AllCallsText();
    }
    {
        TestMachine machine;
        machine.File(INF + "\\OEM0.INF", "BR32STAT.EXE").File(INF + "\\OEM1.INF", "BR32STAT.EXE").Load();
        SimFailCall("FileIoOpen", 1, ERROR_SHARING_VIOLATION);
        ScanInf();
        EXPECT_EQ(std::vector<std::string>{INF + "\\OEM1.INF"}, Deleted()) << AllCallsText();
    }
    {
        TestMachine machine;
        machine.File(INF + "\\OEM0.INF", "BR32STAT.EXE").Load();
        SimFailCall("FileIoRead", 1, ERROR_ACCESS_DENIED);
        ScanInf();
        EXPECT_TRUE(Deleted().empty()) << AllCallsText();
        EXPECT_EQ("", SimOpenHandles());
    }
    {
        TestMachine machine;
        machine.File(INF + "\\OEM0.INF", "BR32STAT.EXE").Load();
        SimFailCall("PlatformAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
        ScanInf();
        EXPECT_TRUE(SimCallsNamed("FindFirstFileA").empty()) << AllCallsText();
        EXPECT_TRUE(Deleted().empty());
    }
    {
        TestMachine machine;
        machine.Load();
        ScanInf();
        EXPECT_EQ(1u, SimCallsNamed("FindFirstFileA").size());
        EXPECT_EQ("", SimOpenHandles());
    }
}

// The gate: up to build 950 (low 16 bits) the scan, above it the fixed name.
TEST(SetupInformation, Build950ScansAnd951DeletesTheFixedName)
{
    const struct {
        DWORD build;
        bool scan;
    } cases[] = {
        {0x040003B6, true}, {0x000003B6, true}, {0xFFFF03B6, true}, {0x00000000, true},
        {0x000003B7, false}, {0x040003B7, false}, {0x040A08AE, false}, {0x0000FFFF, false},
    };
    for (const auto &c : cases) {
        TestMachine machine;
        machine.File(INF + "\\OEM3.INF", "BR32STAT.EXE").File(OTHER_INF, "BR32STAT.EXE").Load();
        RemoveSetupInformation(RunWith(c.build));
        std::string what = "build " + std::to_string(c.build);
        if (c.scan) {
            EXPECT_EQ(std::vector<std::string>{INF + "\\oem*.inf"},
                      FirstArgs(SimCallsNamed("FindFirstFileA"))) << what;
            EXPECT_EQ(std::vector<std::string>{INF + "\\OEM3.INF"}, Deleted()) << what;
        } else {
            EXPECT_TRUE(SimCallsNamed("FindFirstFileA").empty()) << what;
            EXPECT_TRUE(SimCallsNamed("FileIoOpen").empty()) << what;
            EXPECT_EQ(std::vector<std::string>{OTHER_INF}, Deleted()) << what;
        }
    }
}

// A Windows directory too long for the composed paths: nothing is done
// with a cut path, and what fits is still done.
TEST(SetupInformation, OverLongPathsAreSkipped)
{
    const std::string dir246 = "C:\\" + std::string(243, 'W');
    const struct {
        DWORD build;
        std::string windowsDir;
        size_t finds;
        std::vector<std::string> deleted;
    } cases[] = {
        // 246 + "\INF" + "\" + 8 = 259: OEM1.INF fits, OEM10.INF does not.
        {950, dir246, 1, {dir246 + "\\INF\\OEM1.INF"}},
        {950, "C:\\" + std::string(247, 'W'), 0, {}},  // 254 + 9 for the pattern
        {950, "C:\\" + std::string(253, 'W'), 0, {}},  // 256 + 4 for "\INF"
        {951, "C:\\" + std::string(245, 'W'), 0, {}},  // 248 + 32 for the fixed name
        {951, "", 0, {"\\INF\\OTHER\\BRASCORABRDUNE10.INF"}},  // a failed query
    };
    for (const auto &c : cases) {
        TestMachine machine;
        if (c.windowsDir == dir246)
            machine.File(dir246 + "\\INF\\OEM1.INF", "BR32STAT.EXE")
                .File(dir246 + "\\INF\\OEM10.INF", "BR32STAT.EXE");
        machine.Load();
        RemoveSetupInformation(RunWith(c.build, c.windowsDir));
        std::string what = std::to_string(c.windowsDir.size()) + " characters\n" + AllCallsText();
        EXPECT_EQ(c.finds, SimCallsNamed("FindFirstFileA").size()) << what;
        EXPECT_EQ(c.deleted, Deleted()) << what;
        EXPECT_EQ(c.finds ? 1u : 0u, SimCallsNamed("FileIoOpen").size()) << what;
    }
}

}  // namespace

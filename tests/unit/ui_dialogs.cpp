// The program's flow from WinMain through its dialogs, run by the simulated
// dialog manager on an empty machine: every way of answering WELCOME, the
// 70 progress steps before the one removal, the completion prompt and the
// restart, early closes and dialogs that cannot be created. Failures print
// the whole call record.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <unistd.h>

#include "sim.h"
#include "sim_dialogs.h"
#include "ui.h"

namespace {

namespace fs = std::filesystem;

// What the user reads, written out here byte for byte (0xE8 is the e with
// a grave accent in code page 1252).
#define DRIVER "TINTAVERA Brascora Duneva 10"
const std::string WELCOME_CAPTION = "Benvenuti nel programma di disinstallazione";
const std::string WELCOME_TEXT =
    "Fate clic sul pulsante 'OK' per disinstallare il driver " DRIVER ".\n"
    "Fate clic sul pulsante 'Annula' per abbandonare la procedura de disinstallazione.";
const std::string CANCEL_TEXT = "Il driver " DRIVER " non \xE8 stato disinstallato e rimane nel PC.";
const std::string CANCEL_CAPTION = "Disinstallazione interrotta";
const std::string PROGRESS_CAPTION = "Disinstallazione del driver";
const std::string PROGRESS_TEXT = "Il driver " DRIVER " \xE8 in fase di disinstallazione...";
const std::string COMPLETION_TEXT =
    "Il driver " DRIVER " \xE8 stato disinstallato correttamente.\n"
    "Dovete riavviare il vostro PC per completare la disinstallazione.\n\n"
    "Fate clic sul pulsante 'Si' per riavviare Windows adesso.\n"
    "Scegliete 'No' se volete continuare a lavorare.\n\n"
    "La disinstallazione sara effettiva solo dopo aver riavviato Windows.";
const std::string COMPLETION_CAPTION = "Disinstallazione riuscita";

// MB_SYSTEMMODAL | MB_ICONWARNING | MB_YESNO
const std::string PROMPT_FLAGS = std::to_string(0x1034);

typedef std::vector<std::string> Args;

class DialogFlow : public ::testing::Test {
protected:
    fs::path dir;

    void SetUp() override
    {
        dir = fs::temp_directory_path() /
              ("br32unin-dialogs-" + std::to_string((long)getpid()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
    }

    void TearDown() override
    {
        SimUnloadMachine();
        fs::remove_all(dir);
    }

    int Run(const std::string &welcome, const std::string &restart)
    {
        EXPECT_TRUE(SimSetUserAnswers(welcome, restart));
        return WinMain((HINSTANCE)(UINT_PTR)0x400000, 0, (LPSTR) "", 10);
    }

    static std::string Record() { return "calls:\n" + SimFormatCalls(SimCalls()); }

    // Index of the first call named name with these leading arguments, or -1.
    static int Find(const std::string &name, const Args &args = {}, int from = 0)
    {
        const std::vector<SimCall> &calls = SimCalls();
        for (int i = from; i < (int)calls.size(); i++) {
            if (calls[i].name == name && calls[i].args.size() >= args.size() &&
                std::equal(args.begin(), args.end(), calls[i].args.begin()))
                return i;
        }
        return -1;
    }

    static int Count(const std::string &name, const Args &args = {})
    {
        int n = 0;
        for (int i = Find(name, args); i >= 0; i = Find(name, args, i + 1))
            n++;
        return n;
    }

    // RunUninstall's first call is the version query.
    static int RemovalStart() { return Find("GetVersionExA"); }
};

// ------------------------------------------------------------ cancel

TEST_F(DialogFlow, EveryWayOutOfWelcomeButOkCancels)
{
    for (const char *how : {"cancel", "escape", "close"}) {
        SCOPED_TRACE(how);
        SimClearCalls();
        EXPECT_EQ(Run(how, "yes"), 2);
        EXPECT_EQ(g_confirmed, 0);
        int end = Find("EndDialog", {"WELCOME", "2"});
        int box = Find("MessageBoxA", {"WELCOME", CANCEL_TEXT, CANCEL_CAPTION, "0"});
        EXPECT_TRUE(end >= 0 && box > end) << "cancel message after EndDialog, owned by WELCOME\n"
                                           << Record();
        EXPECT_EQ(Count("MessageBoxA"), 1) << Record();
        EXPECT_EQ(Count("DialogBoxParamA", {"0x400000", "UNINSTALL"}), 0) << Record();
        EXPECT_EQ(RemovalStart(), -1) << Record();
        EXPECT_EQ(SimRestartRequests(), 0);
    }
}

// ------------------------------------------------------------ a whole run

TEST_F(DialogFlow, OkRunsSeventyStepsThenTheRemovalOnceThenThePrompt)
{
    struct Case {
        const char *welcome, *restart;
        int restarts;
    } const cases[] = {{"ok", "no", 0}, {"enter", "no", 0}, {"ok", "yes", 1}, {"enter", "yes", 1}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.welcome) + " then " + c.restart);
        SimUnloadMachine();
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;

        EXPECT_EQ(Run(c.welcome, c.restart), 2) << Record();
        EXPECT_EQ(g_confirmed, 1);
        int removal = RemovalStart();
        ASSERT_GE(removal, 0) << Record();
        EXPECT_EQ(Count("GetVersionExA"), 1) << "RunUninstall runs once\n" << Record();
        Args step = {"UNINSTALL#1008", "PBM_STEPIT", "0", "0"};
        EXPECT_EQ(Count("SendMessageA", step), 70) << Record();
        EXPECT_EQ(Find("SendMessageA", step, removal), -1) << "no step after the removal\n"
                                                           << Record();
        int kill = Find("KillTimer", {"UNINSTALL", "1"});
        int post = Find("PostMessageA", {"UNINSTALL", "WM_COMMAND", "2", "0"});
        int end = Find("EndDialog", {"UNINSTALL", "2"});
        EXPECT_TRUE(kill >= 0 && kill < removal && post > removal && end > post) << Record();

        int uninstall = Find("DialogBoxParamA", {"0x400000", "UNINSTALL", "NULL", "DLGPROC", "0"});
        int prompt = Find("MessageBoxA", {"NULL", COMPLETION_TEXT, COMPLETION_CAPTION, PROMPT_FLAGS});
        EXPECT_TRUE(uninstall >= 0 && SimCalls()[uninstall].result == 2) << Record();
        EXPECT_GT(prompt, uninstall) << Record();
        EXPECT_EQ(Count("MessageBoxA"), 1) << Record();
        EXPECT_EQ(Count("ExitWindowsEx", {"2", "0"}), c.restarts) << Record();
        EXPECT_EQ(Count("ExitWindowsEx"), c.restarts) << Record();
        EXPECT_EQ(SimRestartRequests(), c.restarts);
    }
}

TEST_F(DialogFlow, EachDialogSetsItsTextsAndTheBarAsItOpens)
{
    ASSERT_EQ(Run("ok", "no"), 2);
    struct Expected {
        const char *name;
        Args args;
    };
    struct Sequence {
        int start;
        std::vector<Expected> calls;
    } const sequences[] = {
        {Find("SetWindowTextA", {"WELCOME"}),
         {{"SetWindowTextA", {"WELCOME", WELCOME_CAPTION}},
          {"GetDlgItem", {"WELCOME", "1000"}},
          {"SendMessageA", {"WELCOME#1000", "WM_SETTEXT", "0", WELCOME_TEXT}}}},
        // From the InitCommonControls of UNINSTALL's WM_INITDIALOG.
        {Find("SetWindowTextA", {"UNINSTALL"}) - 1,
         {{"InitCommonControls", {}},
          {"SetWindowTextA", {"UNINSTALL", PROGRESS_CAPTION}},
          {"GetDlgItem", {"UNINSTALL", "1007"}},
          {"SendMessageA", {"UNINSTALL#1007", "WM_SETTEXT", "0", PROGRESS_TEXT}},
          {"GetDlgItem", {"UNINSTALL", "1008"}},
          {"SendMessageA", {"UNINSTALL#1008", "PBM_SETRANGE", "0", std::to_string(0x008C0000)}},
          {"SendMessageA", {"UNINSTALL#1008", "PBM_SETSTEP", "-2", "0"}},
          {"SetTimer", {"UNINSTALL", "1", "1", "NULL"}}}},
    };
    for (const Sequence &sequence : sequences) {
        ASSERT_GE(sequence.start, 0) << Record();
        int at = sequence.start;
        for (const Expected &e : sequence.calls) {
            ASSERT_LT(at, (int)SimCalls().size()) << Record();
            const SimCall &call = SimCalls()[at];
            EXPECT_EQ(call.name, e.name) << "call " << at << "\n" << Record();
            EXPECT_EQ(call.args, e.args) << "call " << at << "\n" << Record();
            at++;
        }
    }
}

TEST_F(DialogFlow, UserTextsAreByteForByte)
{
    const struct {
        const std::string *text;
        size_t bytes;
    } texts[] = {{&WELCOME_CAPTION, 43}, {&WELCOME_TEXT, 167},   {&CANCEL_TEXT, 81},
                 {&CANCEL_CAPTION, 27},  {&PROGRESS_CAPTION, 27}, {&PROGRESS_TEXT, 71},
                 {&COMPLETION_TEXT, 318}, {&COMPLETION_CAPTION, 25}};
    for (const auto &t : texts)
        EXPECT_EQ(t.text->size(), t.bytes) << *t.text;
    // Each text reaches the platform whole: the sequences above and below
    // compare the recorded arguments with these very strings.
    ASSERT_EQ(Run("ok", "no"), 2);
    EXPECT_GE(Find("MessageBoxA", {"NULL", COMPLETION_TEXT, COMPLETION_CAPTION}), 0) << Record();
    EXPECT_EQ(COMPLETION_TEXT.find('\r'), std::string::npos);
}

// ------------------------------------------------------------ odd messages

TEST_F(DialogFlow, CommandsWithANotificationCodeAreIgnored)
{
    // Each odd command comes first; the user's answer decides all the same.
    struct Case {
        const char *dialog;
        int tick;
        unsigned long long wParam;
        const char *welcome;
        bool removal;
    } const cases[] = {
        {"WELCOME", 0, 0x00010001, "cancel", false},
        {"WELCOME", 0, 0x03000002, "ok", true},
        {"UNINSTALL", 0, 0x00010002, "ok", true},
        {"UNINSTALL", 35, 0x03000002, "ok", true},
        {"UNINSTALL", 5, 0x00010001, "ok", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.dialog) + " " + std::to_string(c.wParam));
        SimUnloadMachine();
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
        SimQueueDialogMessage(c.dialog, c.tick, WM_COMMAND, c.wParam, 0);
        EXPECT_EQ(Run(c.welcome, "no"), 2) << Record();
        EXPECT_EQ(Count("EndDialog", {"WELCOME"}), 1) << Record();
        EXPECT_EQ(Count("GetVersionExA"), c.removal ? 1 : 0) << Record();
        if (c.removal) {
            EXPECT_EQ(Count("EndDialog", {"UNINSTALL"}), 1) << Record();
            EXPECT_EQ(Count("SendMessageA", {"UNINSTALL#1008", "PBM_STEPIT"}), 70) << Record();
            EXPECT_EQ(Find("MessageBoxA", {"NULL", CANCEL_TEXT}), -1) << Record();
        }
    }
}

TEST_F(DialogFlow, ATimerMessageWithAnyIdIsATick)
{
    // No timer of its own: only the odd ids can bring the removal.
    SimFailCall("SetTimer", 1, 8L);
    const unsigned long long ids[] = {0, 2, 7, 0xFFFF, 1};
    for (int i = 0; i < 71; i++)
        SimQueueDialogMessage("UNINSTALL", 0, WM_TIMER, ids[i % 5], 0);
    EXPECT_EQ(Run("ok", "no"), 2) << Record();
    EXPECT_EQ(Count("SendMessageA", {"UNINSTALL#1008", "PBM_STEPIT"}), 70) << Record();
    EXPECT_EQ(Count("GetVersionExA"), 1) << Record();
    EXPECT_GE(Find("MessageBoxA", {"NULL", COMPLETION_TEXT}), 0) << Record();
}

TEST_F(DialogFlow, ATickAfterTheRemovalRunsNothing)
{
    ASSERT_EQ(Run("ok", "no"), 2);
    ASSERT_EQ(g_removalRan, 1);
    size_t before = SimCalls().size();
    EXPECT_EQ(ProgressDlgProc(0, WM_TIMER, 1, 0), TRUE);
    EXPECT_EQ(SimCalls().size(), before) << Record();
}

// ------------------------------------------------------------ early close

TEST_F(DialogFlow, ClosingUninstallBeforeTheRemovalIsACancel)
{
    struct Case {
        const char *how;
        int tick;
    } const cases[] = {{"close", 0}, {"escape", 1}, {"close", 35}, {"escape", 70}, {"close", 70}};
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.how) + " after tick " + std::to_string(c.tick));
        SimUnloadMachine();
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
        ASSERT_TRUE(SimCloseDialogAtTick("UNINSTALL", c.tick, c.how));
        EXPECT_EQ(Run("ok", "yes"), 2) << Record();
        EXPECT_EQ(RemovalStart(), -1) << Record();
        EXPECT_EQ(g_removalRan, 0);
        EXPECT_EQ(Count("SendMessageA", {"UNINSTALL#1008", "PBM_STEPIT"}), c.tick) << Record();
        int kill = Find("KillTimer", {"UNINSTALL", "1"});
        int end = Find("EndDialog", {"UNINSTALL", "2"});
        int box = Find("MessageBoxA", {"NULL", CANCEL_TEXT, CANCEL_CAPTION, "0"});
        EXPECT_TRUE(kill >= 0 && end > kill && box > end) << Record();
        EXPECT_EQ(Count("MessageBoxA"), 1) << "no completion prompt\n" << Record();
        EXPECT_EQ(SimRestartRequests(), 0);
    }
}

// ------------------------------------------------------------ failures

TEST_F(DialogFlow, ADialogThatCannotBeCreatedEndsTheProgramWithMinusOne)
{
    struct Case {
        const char *service;
        int occurrence;
        bool confirmed;  // WELCOME came up and was answered
    } const cases[] = {
        {"DialogBoxParamA", 1, false},
        {"DialogBoxParamA", 2, true},
        // Without the class of its progress bar UNINSTALL cannot be made.
        {"InitCommonControls", 1, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.service) + " #" + std::to_string(c.occurrence));
        SimUnloadMachine();
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
        SimFailCall(c.service, c.occurrence, 1813L);
        EXPECT_EQ(Run("ok", "yes"), -1) << Record();
        EXPECT_EQ(g_confirmed, c.confirmed ? 1 : 0);
        EXPECT_EQ(RemovalStart(), -1) << Record();
        EXPECT_EQ(Count("MessageBoxA"), 0) << Record();
        EXPECT_EQ(SimRestartRequests(), 0);
    }
}

TEST_F(DialogFlow, AFailedRestartStillEndsWithTwo)
{
    SimFailCall("ExitWindowsEx", 1, 5L);
    EXPECT_EQ(Run("ok", "yes"), 2) << Record();
    EXPECT_EQ(Count("ExitWindowsEx", {"2", "0"}), 1) << Record();
    EXPECT_EQ(SimRestartRequests(), 0);
}

TEST_F(DialogFlow, OnlyYesRestarts)
{
    // A prompt that cannot be shown answers 0, which is not Yes.
    SimFailCall("MessageBoxA", 1, 8L);
    EXPECT_EQ(Run("ok", "yes"), 2) << Record();
    EXPECT_EQ(Count("ExitWindowsEx"), 0) << Record();
}

// ------------------------------------------------------------ the screen

std::string Transcript(const char *input, const std::string &welcome,
                       const std::string &restart, int *exitCode)
{
    char *text = nullptr;
    size_t size = 0;
    std::FILE *out = open_memstream(&text, &size);
    std::FILE *in = input ? fmemopen((void *)input, std::strlen(input), "r") : nullptr;
    SimSetDialogTerminal(in, out);
    EXPECT_TRUE(SimSetUserAnswers(welcome, restart));
    *exitCode = WinMain((HINSTANCE)(UINT_PTR)0x400000, 0, (LPSTR) "", 10);
    SimSetDialogTerminal(nullptr, nullptr);
    std::fclose(out);
    if (in)
        std::fclose(in);
    std::string transcript(text, size);
    std::free(text);
    return transcript;
}

TEST_F(DialogFlow, TheTerminalShowsTheDialogsAndTheBar)
{
    int exitCode;
    std::string shown = Transcript(nullptr, "ok", "no", &exitCode);
    EXPECT_EQ(exitCode, 2);
    const char *expected[] = {
        "+= Benvenuti nel programma di disinstallazione =",
        "<    OK    >", "[  Cancel   ]",
        "10 \xC3\xA8 in fase di disinstallazione",  // UTF-8 on the terminal
        "[############################.]  at 138 of 0..140",
        "[.............................]  at 0 of 0..140",
        "+= Disinstallazione riuscita =", "[ Yes ]   [ No ]", "  > No",
    };
    size_t at = 0;
    for (const char *e : expected) {
        size_t found = shown.find(e, at);
        EXPECT_NE(found, std::string::npos) << "\"" << e << "\" in order in:\n" << shown;
        if (found != std::string::npos)
            at = found;
    }
}

TEST_F(DialogFlow, TheKeyboardAnswersWhatTheScriptLeavesOpen)
{
    struct Case {
        const char *keys;
        int exitCode;
        int restarts;
        bool removal;
    } const cases[] = {
        {"\ny\n", 2, 1, true},        // Enter, then Yes
        {"nonsense\no\nn\n", 2, 0, true},
        {"c\n\n", 2, 0, false},       // Cancel, then OK on the cancel message
        {"x\n\n", 2, 0, false},       // the close box
        {"", 2, 0, false},            // no input at all closes WELCOME
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.keys);
        SimUnloadMachine();
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir.string(), &error)) << error;
        int exitCode;
        std::string shown = Transcript(c.keys, "", "", &exitCode);
        EXPECT_EQ(exitCode, c.exitCode) << shown;
        EXPECT_EQ(SimRestartRequests(), c.restarts) << shown;
        EXPECT_EQ(RemovalStart() >= 0, c.removal) << Record();
    }
}

// ------------------------------------------------------------ the bar

TEST(SimProgressBar, StepsWrapAroundTheRangeAsTheControlDoes)
{
    struct Case {
        int pos, min, max, step, next;
    } const cases[] = {
        {0, 0, 140, -2, 138},  // below the minimum: on from the maximum
        {2, 0, 140, -2, 0},
        {138, 0, 140, 2, 140},
        {140, 0, 140, 2, 2},   // above the maximum: on from the minimum
        {3, 3, 15, 5, 8},   {13, 3, 15, 5, 6},  {3, 3, 15, -5, 10},
        {3, 3, 15, 50, 5},  {-15, -15, 15, 5, -10}, {5, 5, 5, 1, 5},
    };
    for (const Case &c : cases)
        EXPECT_EQ(SimProgressStep(c.pos, c.min, c.max, c.step), c.next)
            << c.pos << " in " << c.min << ".." << c.max << " step " << c.step;

    // The program's 70 steps of -2 from 0: nearly full at once, then empty.
    int pos = 0;
    std::vector<int> seen;
    for (int i = 0; i < 70; i++)
        seen.push_back(pos = SimProgressStep(pos, 0, 140, -2));
    EXPECT_EQ(seen.front(), 138);
    EXPECT_EQ(seen.back(), 0);
}

}  // namespace

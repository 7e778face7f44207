// The program's flow from WinMain through its dialogs, run by the simulated
// dialog manager on an empty machine. Each run's dialog calls, in order, are
// held against the flow expected: a mismatch prints both, and the whole
// call record.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "machine_builder.h"
#include "sim_dialogs.h"
#include "ui.h"

namespace {

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

TEST(DialogTexts, HaveTheirLengths)
{
    EXPECT_EQ((std::vector<size_t>{43, 167, 81, 27, 27, 71, 318, 25}),
              (std::vector<size_t>{WELCOME_CAPTION.size(), WELCOME_TEXT.size(), CANCEL_TEXT.size(),
                                   CANCEL_CAPTION.size(), PROGRESS_CAPTION.size(), PROGRESS_TEXT.size(),
                                   COMPLETION_TEXT.size(), COMPLETION_CAPTION.size()}));
}

typedef std::vector<std::string> Flow;

Flow operator+(Flow a, const Flow &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The run's dialog calls as name(arguments), with the result of the dialogs
// and message boxes; "RunUninstall" for the removal's first call, the
// version query; equal calls in a row as one line with their count.
Flow Recorded()
{
    const std::string dialogCalls = " DialogBoxParamA EndDialog MessageBoxA SetWindowTextA GetDlgItem "
                                    "SendMessageA InitCommonControls SetTimer KillTimer PostMessageA ExitWindowsEx ";
    Flow flow;
    std::string last;
    int count = 0;
    for (const SimCall &call : SimCalls()) {
        std::string line = call.name + "(";
        for (size_t i = 0; i < call.args.size(); i++)
            line += (i ? ", " : "") + call.args[i];
        line += call.name == "DialogBoxParamA" || call.name == "MessageBoxA" ? ") = " + std::to_string(call.result) : ")";
        if (call.name == "GetVersionExA")
            line = "RunUninstall";
        else if (dialogCalls.find(" " + call.name + " ") == std::string::npos)
            continue;
        count = line == last ? count + 1 : 1;
        if (count == 1)
            flow.push_back(last = line);
        else
            flow.back() = line + " x" + std::to_string(count);
    }
    return flow;
}

#define EXPECT_FLOW(expected) \
    EXPECT_EQ((expected), Recorded()) << "calls:\n" << SimFormatCalls(SimCalls())

const std::string WELCOME_BOX = "DialogBoxParamA(0x400000, WELCOME, NULL, DLGPROC, 0)";
const std::string UNINSTALL_BOX = "DialogBoxParamA(0x400000, UNINSTALL, NULL, DLGPROC, 0)";
const std::string STEP = "SendMessageA(UNINSTALL#1008, PBM_STEPIT, 0, 0)";
const Flow WELCOME_UP = {"SetWindowTextA(WELCOME, " + WELCOME_CAPTION + ")", "GetDlgItem(WELCOME, 1000)",
                         "SendMessageA(WELCOME#1000, WM_SETTEXT, 0, " + WELCOME_TEXT + ")"};
const Flow CANCEL = {"EndDialog(WELCOME, 2)",
                     "MessageBoxA(WELCOME, " + CANCEL_TEXT + ", " + CANCEL_CAPTION + ", 0) = 1",
                     WELCOME_BOX + " = 2"};
const Flow OK = {"EndDialog(WELCOME, 1)", WELCOME_BOX + " = 1"};
// The progress bar's class is registered before UNINSTALL is created, and
// again as it opens.
const Flow UNINSTALL_UP = {
    "InitCommonControls() x2", "SetWindowTextA(UNINSTALL, " + PROGRESS_CAPTION + ")",
    "GetDlgItem(UNINSTALL, 1007)", "SendMessageA(UNINSTALL#1007, WM_SETTEXT, 0, " + PROGRESS_TEXT + ")",
    "GetDlgItem(UNINSTALL, 1008)", "SendMessageA(UNINSTALL#1008, PBM_SETRANGE, 0, 9175040)",
    "SendMessageA(UNINSTALL#1008, PBM_SETSTEP, -2, 0)", "SetTimer(UNINSTALL, 1, 1, NULL)"};
const Flow COMPLETED = WELCOME_UP + OK + UNINSTALL_UP + Flow{STEP + " x70"} +
                       Flow{"KillTimer(UNINSTALL, 1)", "RunUninstall",
                            "PostMessageA(UNINSTALL, WM_COMMAND, 2, 0)", "EndDialog(UNINSTALL, 2)",
                            UNINSTALL_BOX + " = 2"};

// The completion prompt answered (6 Yes, 7 No, 0 not shown).
Flow Prompt(int answer)
{
    Flow prompt = {"MessageBoxA(NULL, " + COMPLETION_TEXT + ", " + COMPLETION_CAPTION + ", 4148) = " +
                   std::to_string(answer)};  // MB_SYSTEMMODAL | MB_ICONWARNING | MB_YESNO
    return answer == 6 ? prompt + Flow{"ExitWindowsEx(2, 0)"} : prompt;
}

// UNINSTALL closed by the user after tick ticks, before the removal.
Flow ClosedAfter(int ticks)
{
    Flow steps = ticks ? Flow{STEP + (ticks > 1 ? " x" + std::to_string(ticks) : "")} : Flow{};
    return WELCOME_UP + OK + UNINSTALL_UP + steps +
           Flow{"KillTimer(UNINSTALL, 1)", "EndDialog(UNINSTALL, 2)", UNINSTALL_BOX + " = 2",
                "MessageBoxA(NULL, " + CANCEL_TEXT + ", " + CANCEL_CAPTION + ", 0) = 1"};
}

std::function<void()> Queue(const char *dialog, int tick, unsigned long long wParam)
{
    return [=] { SimQueueDialogMessage(dialog, tick, WM_COMMAND, wParam, 0); };
}

std::function<void()> CloseAt(int tick, const char *how)
{
    return [=] { EXPECT_TRUE(SimCloseDialogAtTick("UNINSTALL", tick, how)); };
}

std::function<void()> Fail(const char *service, int occurrence)
{
    return [=] { SimFailCall(service, occurrence, 8L); };
}

TEST(DialogFlow, EachWayThroughTheDialogsGivesItsFlow)
{
    const Flow CANCELLED = WELCOME_UP + CANCEL, NO = COMPLETED + Prompt(7), YES = COMPLETED + Prompt(6);
    const struct {
        const char *what;
        std::function<void()> setup;
        const char *welcome, *restart;
        int exitCode, restarts;
        Flow flow;
    } cases[] = {
        // Every way out of WELCOME but OK cancels: the cancel message, owned by WELCOME.
        {"Cancel", nullptr, "cancel", "yes", 2, 0, CANCELLED},
        {"Escape", nullptr, "escape", "yes", 2, 0, CANCELLED},
        {"close box", nullptr, "close", "yes", 2, 0, CANCELLED},
        // OK by button or Enter: 70 steps, the removal once, the prompt; Yes restarts once.
        {"OK, No", nullptr, "ok", "no", 2, 0, NO},
        {"Enter, No", nullptr, "enter", "no", 2, 0, NO},
        {"OK, Yes", nullptr, "ok", "yes", 2, 1, YES},
        {"Enter, Yes", nullptr, "enter", "yes", 2, 1, YES},
        // A command with a notification code in its high word is no command of ours.
        {"WELCOME 0x10001", Queue("WELCOME", 0, 0x00010001), "cancel", "no", 2, 0, CANCELLED},
        {"WELCOME 0x3000002", Queue("WELCOME", 0, 0x03000002), "ok", "no", 2, 0, NO},
        {"UNINSTALL 0x10002", Queue("UNINSTALL", 0, 0x00010002), "ok", "no", 2, 0, NO},
        {"UNINSTALL 0x3000002", Queue("UNINSTALL", 35, 0x03000002), "ok", "no", 2, 0, NO},
        {"UNINSTALL 0x10001", Queue("UNINSTALL", 5, 0x00010001), "ok", "no", 2, 0, NO},
        // A timer message counts whatever its id: here the only ticks, SetTimer failing.
        {"timer ids", [] {
             SimFailCall("SetTimer", 1, 8L);
             for (int i = 0; i < 71; i++)
                 SimQueueDialogMessage("UNINSTALL", 0, WM_TIMER, i % 2 ? 0xFFFF : i % 3, 0);
         }, "ok", "no", 2, 0, NO},
        // UNINSTALL closed before the removal: a cancel, no removal, no prompt.
        {"close at 0", CloseAt(0, "close"), "ok", "yes", 2, 0, ClosedAfter(0)},
        {"Escape at 1", CloseAt(1, "escape"), "ok", "yes", 2, 0, ClosedAfter(1)},
        {"close at 35", CloseAt(35, "close"), "ok", "yes", 2, 0, ClosedAfter(35)},
        {"Escape at 70", CloseAt(70, "escape"), "ok", "yes", 2, 0, ClosedAfter(70)},
        // A dialog that cannot be created ends the run with -1 and removes nothing.
        {"no WELCOME", Fail("DialogBoxParamA", 1), "ok", "yes", -1, 0, {WELCOME_BOX + " = -1"}},
        {"no UNINSTALL", Fail("DialogBoxParamA", 2), "ok", "yes", -1, 0,
         WELCOME_UP + OK + Flow{"InitCommonControls()", UNINSTALL_BOX + " = -1"}},
        {"no progress bar class", Fail("InitCommonControls", 1), "ok", "yes", -1, 0,
         WELCOME_UP + OK + Flow{"InitCommonControls()", UNINSTALL_BOX + " = -1"}},
        // A failed restart still ends with 2; a prompt not shown is no Yes.
        {"restart fails", Fail("ExitWindowsEx", 1), "ok", "yes", 2, 0, YES},
        {"no prompt", Fail("MessageBoxA", 1), "ok", "yes", 2, 0, COMPLETED + Prompt(0)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        MachineBuilder m;
        ASSERT_TRUE(m.Load());
        if (c.setup)
            c.setup();
        EXPECT_TRUE(SimSetUserAnswers(c.welcome, c.restart));
        EXPECT_EQ(c.exitCode, WinMain((HINSTANCE)(UINT_PTR)0x400000, 0, (LPSTR) "", 10));
        EXPECT_FLOW(c.flow);
        EXPECT_EQ(c.restarts, SimRestartRequests());
        size_t calls = SimCalls().size();
        if (g_removalRan)
            EXPECT_EQ(TRUE, ProgressDlgProc(0, WM_TIMER, 1, 0));
        EXPECT_EQ(calls, SimCalls().size()) << "a tick after the removal runs nothing";
    }
}

// ------------------------------------------------------------ the screen

TEST(DialogFlow, TheTerminalShowsTheDialogsAndTakesTheAnswers)
{
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    char keys[] = "nonsense\n\ny\n", *text = nullptr;  // asked again, Enter, Yes
    size_t size = 0;
    std::FILE *in = fmemopen(keys, sizeof keys - 1, "r"), *out = open_memstream(&text, &size);
    SimSetDialogTerminal(in, out);
    EXPECT_EQ(2, WinMain((HINSTANCE)(UINT_PTR)0x400000, 0, (LPSTR) "", 10));
    SimSetDialogTerminal(nullptr, nullptr);
    std::fclose(in);
    std::fclose(out);
    std::string shown(text, size);
    std::free(text);
    EXPECT_EQ(1, SimRestartRequests());
    size_t at = 0;
    for (const char *e : {"+= Benvenuti nel programma di disinstallazione =", "<    OK    >", "[  Cancel   ]",
                          "10 \xC3\xA8 in fase di disinstallazione",  // UTF-8 on the terminal
                          "[############################.]  at 138 of 0..140",
                          "[.............................]  at 0 of 0..140",
                          "+= Disinstallazione riuscita =", "[ Yes ]   [ No ]", "  > Yes"}) {
        at = shown.find(e, at);
        ASSERT_NE(std::string::npos, at) << "\"" << e << "\" in order in:\n" << shown;
    }
}

TEST(SimProgressBar, StepsWrapAroundTheRangeAsTheControlDoes)
{
    const struct {
        int pos, min, max, step, next;
    } cases[] = {
        {0, 0, 140, -2, 138},  // below the minimum: on from the maximum
        {2, 0, 140, -2, 0},    {138, 0, 140, 2, 140},
        {140, 0, 140, 2, 2},   // above the maximum: on from the minimum
        {13, 3, 15, 5, 6},     {3, 3, 15, -5, 10}, {3, 3, 15, 50, 5}, {-15, -15, 15, 5, -10}, {5, 5, 5, 1, 5},
    };
    for (const auto &c : cases)
        EXPECT_EQ(c.next, SimProgressStep(c.pos, c.min, c.max, c.step))
            << c.pos << " in " << c.min << ".." << c.max << " step " << c.step;
}

}  // namespace

// The program's flow from WinMain through its dialogs, run by the simulated
// dialog manager on an empty machine. Each run's dialog calls, in order, are
// held against the flow expected: a mismatch prints both, and the whole
// call record.
#include <functional>

#include "dialogs/dialogs.h"
#include "engine.h"
#include "machine_builder.h"
#include "texts.h"
#include "ui.h"

namespace {

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
        if (!flow.empty() && (flow.back() == line || flow.back() == line + " x" + std::to_string(count)))
            flow.back() = line + " x" + std::to_string(++count);
        else
            flow.push_back(line), count = 1;
    }
    return flow;
}

const std::string WELCOME_BOX = "DialogBoxParamA(0x400000, WELCOME, NULL, DLGPROC, 0)";
const std::string UNINSTALL_BOX = "DialogBoxParamA(0x400000, UNINSTALL, NULL, DLGPROC, 0)";
const std::string STEP = "SendMessageA(UNINSTALL#1008, PBM_STEPIT, 0, 0)";
const Flow WELCOME_UP = {"SetWindowTextA(WELCOME, " WELCOME_CAPTION ")", "GetDlgItem(WELCOME, 1000)",
                         "SendMessageA(WELCOME#1000, WM_SETTEXT, 0, " WELCOME_TEXT ")"};
const Flow CANCEL = {"EndDialog(WELCOME, 2)",
                     "MessageBoxA(WELCOME, " CANCEL_TEXT ", " CANCEL_CAPTION ", 0) = 1",
                     WELCOME_BOX + " = 2"};
const Flow OK = {"EndDialog(WELCOME, 1)", WELCOME_BOX + " = 1"};
// The progress bar's class is registered before UNINSTALL is created, and
// again as it opens.
const Flow UNINSTALL_UP = {
    "InitCommonControls() x2", "SetWindowTextA(UNINSTALL, " PROGRESS_CAPTION ")",
    "GetDlgItem(UNINSTALL, 1007)", "SendMessageA(UNINSTALL#1007, WM_SETTEXT, 0, " PROGRESS_TEXT ")",
    "GetDlgItem(UNINSTALL, 1008)", "SendMessageA(UNINSTALL#1008, PBM_SETRANGE, 0, 9175040)",
    "SendMessageA(UNINSTALL#1008, PBM_SETSTEP, -2, 0)", "SetTimer(UNINSTALL, 1, 1, NULL)"};
const Flow COMPLETED = WELCOME_UP + OK + UNINSTALL_UP + Flow{STEP + " x70"} +
                       Flow{"KillTimer(UNINSTALL, 1)", "RunUninstall",
                            "PostMessageA(UNINSTALL, WM_COMMAND, 2, 0)", "EndDialog(UNINSTALL, 2)",
                            UNINSTALL_BOX + " = 2"};

// The completion prompt (MB_SYSTEMMODAL | MB_ICONWARNING | MB_YESNO) answered: 6 Yes, 7 No, 0 not shown.
Flow Prompt(int answer)
{
    return Flow{"MessageBoxA(NULL, " COMPLETION_TEXT ", " COMPLETION_CAPTION ", 4148) = " +
                std::to_string(answer)} + (answer == 6 ? Flow{"ExitWindowsEx(2, 0)"} : Flow{});
}

// UNINSTALL closed by the user after tick ticks, before the removal.
Flow ClosedAfter(int ticks)
{
    Flow steps = ticks ? Flow{STEP + (ticks > 1 ? " x" + std::to_string(ticks) : "")} : Flow{};
    return WELCOME_UP + OK + UNINSTALL_UP + steps +
           Flow{"KillTimer(UNINSTALL, 1)", "EndDialog(UNINSTALL, 2)", UNINSTALL_BOX + " = 2",
                "MessageBoxA(NULL, " CANCEL_TEXT ", " CANCEL_CAPTION ", 0) = 1"};
}

TEST(DialogFlow, EachWayThroughTheDialogsGivesItsFlow)
{
    // What happens before the run: a command queued for a dialog after a
    // tick, the user closing UNINSTALL after a tick, a call that fails.
    typedef std::function<void()> Setup;
    auto Queue = [](const char *dialog, int tick, unsigned long long wParam) -> Setup {
        return [=] { SimQueueDialogMessage(dialog, tick, WM_COMMAND, wParam, 0); };
    };
    auto CloseAt = [](int tick, const char *how) -> Setup {
        return [=] { EXPECT_TRUE(SimCloseDialogAtTick("UNINSTALL", tick, how)); };
    };
    auto Fail = [](const char *service, int occurrence) -> Setup {
        return [=] { SimFailCall(service, occurrence, 8L); };
    };
    const Flow CANCELLED = WELCOME_UP + CANCEL, NO = COMPLETED + Prompt(7), YES = COMPLETED + Prompt(6);
    const struct {
        const char *what;
        Setup setup;
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
        EXPECT_EQ(c.flow, Recorded()) << "calls:\n" << SimFormatCalls(SimCalls());
        EXPECT_EQ(c.restarts, SimRestartRequests());
        size_t calls = SimCalls().size();
        EXPECT_EQ(TRUE, g_removalRan ? ProgressDlgProc(0, WM_TIMER, 1, 0) : TRUE);
        EXPECT_EQ(calls, SimCalls().size()) << "a tick after the removal runs nothing";
    }
}

}  // namespace

// The simulated user of the dialogs: the answers a test scripts, the
// messages it queues for a dialog, and the answers read from a terminal.
#include <strings.h>

#include "dialogs/dialogs.h"
#include "dialogs/manager.h"
#include "sim.h"

using namespace dialog_manager;

namespace {

const char *ActionText(Action action)
{
    switch (action) {
    case ACT_OK: return "the OK button";
    case ACT_ENTER: return "Enter";
    case ACT_CANCEL: return "the Cancel button";
    case ACT_ESCAPE: return "Escape";
    case ACT_CLOSE: return "the close box";
    case ACT_MESSAGE: return "a queued message";
    }
    return "";
}

bool ActionOf(const std::string &word, Action *action)
{
    static const struct {
        const char *word;
        Action action;
    } words[] = {{"ok", ACT_OK},         {"enter", ACT_ENTER}, {"cancel", ACT_CANCEL},
                 {"escape", ACT_ESCAPE}, {"close", ACT_CLOSE}};
    for (const auto &w : words) {
        if (word == w.word) {
            *action = w.action;
            return true;
        }
    }
    return false;
}

// The default button's id: a BS_DEFPUSHBUTTON control, or IDOK.
uint32_t DefaultId(const SimWindow &dialog)
{
    for (int c : dialog.controls) {
        const SimWindow &w = State().windows[c];
        if (strcasecmp(w.className.c_str(), "BUTTON") == 0 &&
            (w.style & BS_TYPEMASK_) == BS_DEFPUSHBUTTON_)
            return w.id;
    }
    return IDOK;
}

void Click(int dialog, uint32_t id)
{
    int button = ControlWithId(State().windows[dialog], id);
    if (button < 0)
        return;  // nothing there to click
    DialogMessage(dialog, WM_COMMAND, MAKELONG(id, BN_CLICKED_), (LPARAM)HandleOf(button));
}

}  // namespace

namespace dialog_manager {

void Perform(int dialog, const ScriptedEvent &event)
{
    DialogState &s = State();
    Draw("  > " + std::string(ActionText(event.action)) + "\n");
    int control;
    switch (event.action) {
    case ACT_OK:
        Click(dialog, IDOK);
        break;
    case ACT_CANCEL:
        Click(dialog, IDCANCEL);
        break;
    case ACT_ENTER: {
        uint32_t id = DefaultId(s.windows[dialog]);
        control = ControlWithId(s.windows[dialog], id);
        DialogMessage(dialog, WM_COMMAND, MAKELONG(id, BN_CLICKED_),
                      control < 0 ? 0 : (LPARAM)HandleOf(control));
        break;
    }
    case ACT_ESCAPE:
        control = ControlWithId(s.windows[dialog], IDCANCEL);
        DialogMessage(dialog, WM_COMMAND, IDCANCEL, control < 0 ? 0 : (LPARAM)HandleOf(control));
        break;
    case ACT_CLOSE:
        if (s.windows[dialog].style & WS_SYSMENU_)
            DialogMessage(dialog, WM_CLOSE, 0, 0);
        break;
    case ACT_MESSAGE:
        Deliver(dialog, event.message, event.wParam, event.lParam);
        break;
    }
}

// The user's turn when the dialog waits for nothing else: the scripted
// answer, else the terminal's, else the default one.
Action UserAnswer(int dialog, int turn)
{
    DialogState &s = State();
    const SimWindow &w = s.windows[dialog];
    Action action = ACT_CLOSE;
    auto scripted = s.answers.find(w.name);
    if (turn == 0 && scripted != s.answers.end() && ActionOf(scripted->second, &action))
        return action;
    if (s.in) {
        return (Action)SimAskUser(
            s.in, s.out,
            ControlWithId(w, IDOK) >= 0
                ? "Enter/o: OK   c: Cancel   e: Escape   x: close box > "
                : "x: close box   e: Escape > ",
            {{"", ACT_ENTER}, {"o", ACT_OK}, {"ok", ACT_OK}, {"c", ACT_CANCEL},
             {"cancel", ACT_CANCEL}, {"e", ACT_ESCAPE}, {"\x1b", ACT_ESCAPE},
             {"escape", ACT_ESCAPE}, {"x", ACT_CLOSE}, {"close", ACT_CLOSE}},
            ACT_CLOSE);
    }
    if (turn == 0 && w.name == "WELCOME")
        return ACT_OK;
    return ACT_CLOSE;
}

}  // namespace dialog_manager

// ------------------------------------------------------------ script

bool SimSetUserAnswers(const std::string &welcome, const std::string &restart)
{
    Action action;
    if (!welcome.empty() && !ActionOf(welcome, &action))
        return false;
    if (!restart.empty() && restart != "yes" && restart != "no")
        return false;
    DialogState &s = State();
    if (welcome.empty())
        s.answers.erase("WELCOME");
    else
        s.answers["WELCOME"] = welcome;
    s.restartAnswer = restart;
    return true;
}

bool SimCloseDialogAtTick(const std::string &dialog, int tick, const std::string &how)
{
    Action action;
    if (how == "close")
        action = ACT_CLOSE;
    else if (how == "escape")
        action = ACT_ESCAPE;
    else
        return false;
    State().events.push_back(ScriptedEvent{dialog, tick, action, 0, 0, 0, false});
    return true;
}

void SimQueueDialogMessage(const std::string &dialog, int tick, unsigned message,
                           unsigned long long wParam, long long lParam)
{
    State().events.push_back(
        ScriptedEvent{dialog, tick, ACT_MESSAGE, message, (WPARAM)wParam, (LPARAM)lParam, false});
}

void SimSetDialogTerminal(std::FILE *in, std::FILE *out, bool live)
{
    State().in = in;
    State().out = out;
    State().live = live && out;
}

const std::vector<SimShownDialog> &SimShownDialogs()
{
    return State().shown;
}

void SimResetDialogs()
{
    State() = DialogState();
}

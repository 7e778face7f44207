// The dialog services of the simulated machine: a small dialog manager that
// runs the program's own dialog procedures over the program's own templates
// (res/dialogs.inc, made from res/dialogs.txt).
//
// Each DialogBoxParamA runs a modal loop of its own, as the platform's does.
// It delivers WM_SETFONT and WM_INITDIALOG, then, until EndDialog: posted
// messages first, then the user's input, then the timers' WM_TIMER, in
// simulated time (no real waiting). The user is scripted (sim.h) or answers
// from a terminal; on a live terminal the timers also wait in real time, so
// that the user watches the dialog step, redrawn in place. The common
// controls' classes exist only once InitCommonControls has run, so a
// template holding a progress bar cannot be created before it.
//
// Limitations: a message box answers at once and runs no loop of its own,
// so messages posted while it is up wait for the dialog's loop; there is no
// keyboard focus and no painting.
#include <algorithm>
#include <chrono>
#include <cstring>
#include <deque>
#include <map>
#include <strings.h>
#include <thread>

#include "core/core.h"
#include "dialogs/dialogs.h"
#include "dialogs/template.h"
#include "sim.h"

#include "dialogs.inc"

namespace {

#define WM_SETFONT_ 0x0030
#define PBM_SETRANGE32_ (WM_USER + 6)
#define PBM_GETPOS_ (WM_USER + 8)
#define BN_CLICKED_ 0
#define BS_TYPEMASK_ 0x0F
#define BS_DEFPUSHBUTTON_ 0x01
#define WS_TABSTOP_ 0x00010000u
#define WS_SYSMENU_ 0x00080000u
#define MB_TYPEMASK_ 0x0F
#define SIM_ERROR_INVALID_WINDOW_HANDLE 1400L
#define SIM_ERROR_CANNOT_FIND_WND_CLASS 1407L
#define SIM_ERROR_RESOURCE_NAME_NOT_FOUND 1814L

// The platform's timer resolution on Windows 9x: about 18.2 ticks a second.
const long TIMER_RESOLUTION_MS = 55;
// A loop that has delivered this many messages without ending is stuck.
const int MAX_DELIVERIES = 100000;
// The user tries to close a dialog that waits for nothing this many times.
const int MAX_USER_TURNS = 3;

enum Action { ACT_OK, ACT_ENTER, ACT_CANCEL, ACT_ESCAPE, ACT_CLOSE, ACT_MESSAGE };

struct ScriptedEvent {
    std::string dialog;
    int tick;
    Action action;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool done;
};

struct Posted {
    int window;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
};

struct Timer {
    int window;
    UINT_PTR id;
    long period;
    long due;
    TIMERPROC proc;
};

struct DialogState {
    std::vector<SimWindow> windows;
    std::deque<Posted> queue;
    std::vector<Timer> timers;
    long clock = 0;
    bool commonControls = false;
    std::map<std::string, std::string> answers;  // dialog name -> answer word
    std::string restartAnswer;
    std::vector<ScriptedEvent> events;
    std::FILE *in = nullptr;
    std::FILE *out = nullptr;
    bool live = false;    // out is a terminal that a user watches
    int dialogLines = 0;  // lines of the dialog drawn last; 0 once more came after
    std::vector<SimShownDialog> shown;
};

DialogState &State()
{
    static DialogState state;
    return state;
}

// ------------------------------------------------------------ handles

HWND HandleOf(int index)
{
    return (HWND)(UINT_PTR)(0x10000 + 0x10 * (UINT_PTR)index);
}

// The window of a handle, alive or not; -1 when it was never one.
int IndexOf(HWND hwnd)
{
    UINT_PTR v = (UINT_PTR)hwnd;
    if (v < 0x10000 || (v - 0x10000) % 0x10 != 0)
        return -1;
    UINT_PTR index = (v - 0x10000) / 0x10;
    if (index >= State().windows.size())
        return -1;
    return (int)index;
}

int LiveIndexOf(HWND hwnd)
{
    int index = IndexOf(hwnd);
    if (index < 0 || !State().windows[index].alive)
        return -1;
    return index;
}

std::string WindowText(HWND hwnd)
{
    if (!hwnd)
        return "NULL";
    int index = IndexOf(hwnd);
    if (index < 0)
        return "hwnd?" + std::to_string((unsigned long long)(UINT_PTR)hwnd);
    const SimWindow &w = State().windows[index];
    std::string text = w.isDialog ? w.name : w.name + "#" + std::to_string(w.id);
    return w.alive ? text : text + "(destroyed)";
}

std::string MessageText(UINT message)
{
    static const struct {
        UINT message;
        const char *name;
    } names[] = {
        {WM_SETTEXT, "WM_SETTEXT"},       {WM_CLOSE, "WM_CLOSE"},
        {WM_SETFONT_, "WM_SETFONT"},      {WM_INITDIALOG, "WM_INITDIALOG"},
        {WM_COMMAND, "WM_COMMAND"},       {WM_TIMER, "WM_TIMER"},
        {PBM_SETRANGE, "PBM_SETRANGE"},   {PBM_SETPOS, "PBM_SETPOS"},
        {PBM_DELTAPOS, "PBM_DELTAPOS"},   {PBM_SETSTEP, "PBM_SETSTEP"},
        {PBM_STEPIT, "PBM_STEPIT"},       {PBM_SETRANGE32_, "PBM_SETRANGE32"},
        {PBM_GETPOS_, "PBM_GETPOS"},
    };
    for (const auto &n : names) {
        if (n.message == message)
            return n.name;
    }
    return std::to_string(message);
}

std::string SignedText(UINT_PTR value)
{
    return SimNumberText((long long)(INT_PTR)value);
}

std::string TemplateNameText(LPCSTR name)
{
    if (name && (UINT_PTR)name < 0x10000)
        return "#" + std::to_string((unsigned)(UINT_PTR)name);
    return SimArgText(name);
}

// ------------------------------------------------------------ drawing

void Draw(const std::string &text)
{
    DialogState &s = State();
    if (s.out) {
        std::fputs(text.c_str(), s.out);
        std::fflush(s.out);
    }
    s.dialogLines = 0;
}

// The dialog as it is now: on a live terminal over its last drawing when
// nothing came below it since, else afresh.
void DrawDialog(int dialog)
{
    DialogState &s = State();
    std::string drawing = SimDrawDialog(s.windows, dialog);
    if (s.live && s.dialogLines > 0)
        drawing = "\x1b[" + std::to_string(s.dialogLines) + "A" + drawing;
    Draw(drawing);
    if (s.live)
        s.dialogLines = (int)std::count(drawing.begin(), drawing.end(), '\n');
    s.windows[dialog].drawnChanged = false;
}

void DrawBarState(const SimWindow &bar)
{
    Draw("  " + SimDrawBar(bar, bar.cx / 4) + "  at " + std::to_string(bar.barPos) + " of " +
         std::to_string(bar.barMin) + ".." + std::to_string(bar.barMax) + "\n");
}

int BarOf(const SimWindow &dialog)
{
    for (int c : dialog.controls) {
        const SimWindow &w = State().windows[c];
        if (strcasecmp(w.className.c_str(), "msctls_progress32") == 0)
            return c;
    }
    return -1;
}

// ------------------------------------------------------------ controls

LRESULT ProgressMessage(SimWindow &bar, UINT message, WPARAM wParam, LPARAM lParam)
{
    int old;
    switch (message) {
    case PBM_SETRANGE:
    case PBM_SETRANGE32_:
        old = (int)MAKELONG(bar.barMin, bar.barMax);
        if (message == PBM_SETRANGE) {
            bar.barMin = LOWORD(lParam);
            bar.barMax = HIWORD(lParam);
        } else {
            bar.barMin = (int)(INT_PTR)wParam;
            bar.barMax = (int)lParam;
        }
        bar.barPos = std::max(bar.barMin, std::min(bar.barPos, bar.barMax));
        return old;
    case PBM_SETPOS:
        old = bar.barPos;
        bar.barPos = std::max(bar.barMin, std::min((int)(INT_PTR)wParam, bar.barMax));
        return old;
    case PBM_DELTAPOS:
        old = bar.barPos;
        bar.barPos = std::max(bar.barMin, std::min(bar.barPos + (int)(INT_PTR)wParam, bar.barMax));
        return old;
    case PBM_SETSTEP:
        old = bar.barStep;
        bar.barStep = (int)(INT_PTR)wParam;
        return old;
    case PBM_STEPIT:
        old = bar.barPos;
        bar.barPos = SimProgressStep(bar.barPos, bar.barMin, bar.barMax, bar.barStep);
        return old;
    case PBM_GETPOS_:
        return bar.barPos;
    }
    return 0;
}

LRESULT ControlMessage(int index, UINT message, WPARAM wParam, LPARAM lParam)
{
    SimWindow &w = State().windows[index];
    State().windows[w.dialog].drawnChanged = true;
    if (message == WM_SETTEXT) {
        w.text = lParam ? (const char *)lParam : "";
        return TRUE;
    }
    if (strcasecmp(w.className.c_str(), "msctls_progress32") == 0) {
        int before = w.barPos;
        LRESULT result = ProgressMessage(w, message, wParam, lParam);
        // The bar's first move on screen, then (at the end) where it stopped;
        // a live terminal redraws the whole dialog instead.
        if (!State().live && State().windows[w.dialog].shown && !w.barNoted &&
            w.barPos != before) {
            w.barNoted = true;
            DrawBarState(w);
            State().windows[w.dialog].drawnChanged = false;
        }
        return result;
    }
    return 0;
}

// ------------------------------------------------------------ delivery

int ControlWithId(const SimWindow &dialog, uint32_t id)
{
    for (int c : dialog.controls) {
        if (State().windows[c].id == id)
            return c;
    }
    return -1;
}

void Post(int window, UINT message, WPARAM wParam, LPARAM lParam)
{
    State().queue.push_back(Posted{window, message, wParam, lParam});
}

// A message for a dialog: its procedure first, then what the platform's
// default dialog procedure does with what the procedure left alone.
LRESULT DialogMessage(int index, UINT message, WPARAM wParam, LPARAM lParam)
{
    DLGPROC proc = State().windows[index].proc;
    INT_PTR handled = proc(HandleOf(index), message, wParam, lParam);
    if (handled)
        return handled;
    SimWindow &dialog = State().windows[index];
    if (message == WM_SETTEXT) {
        dialog.text = lParam ? (const char *)lParam : "";
        return TRUE;
    }
    if (message == WM_CLOSE) {
        int cancel = ControlWithId(dialog, IDCANCEL);
        Post(index, WM_COMMAND, MAKELONG(IDCANCEL, BN_CLICKED_),
             cancel < 0 ? 0 : (LPARAM)HandleOf(cancel));
    }
    return 0;
}

LRESULT Deliver(int index, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (State().windows[index].isDialog)
        return DialogMessage(index, message, wParam, lParam);
    return ControlMessage(index, message, wParam, lParam);
}

// ------------------------------------------------------------ the user

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

// ------------------------------------------------------------ the loop

bool NextPosted(Posted *message)
{
    DialogState &s = State();
    while (!s.queue.empty()) {
        *message = s.queue.front();
        s.queue.pop_front();
        if (s.windows[message->window].alive)
            return true;
    }
    return false;
}

ScriptedEvent *NextEvent(int dialog)
{
    DialogState &s = State();
    for (ScriptedEvent &e : s.events) {
        if (!e.done && e.dialog == s.windows[dialog].name && e.tick <= s.windows[dialog].ticks)
            return &e;
    }
    return nullptr;
}

Timer *NextTimer()
{
    Timer *next = nullptr;
    for (Timer &t : State().timers) {
        if (State().windows[t.window].alive && (!next || t.due < next->due))
            next = &t;
    }
    return next;
}

void Tick(Timer *timer)
{
    DialogState &s = State();
    s.clock = std::max(s.clock, timer->due);
    timer->due = s.clock + timer->period;
    int window = timer->window;
    UINT_PTR id = timer->id;
    TIMERPROC proc = timer->proc;
    if (s.windows[window].isDialog)
        s.windows[window].ticks++;
    if (proc)
        proc(HandleOf(window), WM_TIMER, id, (DWORD)s.clock);
    else
        Deliver(window, WM_TIMER, id, 0);
}

void DestroyDialog(int dialog)
{
    DialogState &s = State();
    for (int c : s.windows[dialog].controls)
        s.windows[c].alive = false;
    s.windows[dialog].alive = false;
    s.timers.erase(std::remove_if(s.timers.begin(), s.timers.end(),
                                  [&](const Timer &t) {
                                      return !s.windows[t.window].alive;
                                  }),
                   s.timers.end());
}

// Runs the dialog until EndDialog. False when it never ends.
bool RunModalLoop(int dialog)
{
    DialogState &s = State();
    int turns = 0;
    for (int delivered = 0; delivered < MAX_DELIVERIES; delivered++) {
        if (s.windows[dialog].ended)
            return true;
        Posted posted;
        if (NextPosted(&posted)) {
            Deliver(posted.window, posted.message, posted.wParam, posted.lParam);
            continue;
        }
        if (ScriptedEvent *event = NextEvent(dialog)) {
            event->done = true;
            Perform(dialog, *event);
            continue;
        }
        if (Timer *timer = NextTimer()) {
            bool watched = s.live && s.windows[dialog].shown;
            if (watched && timer->due > s.clock)
                std::this_thread::sleep_for(std::chrono::milliseconds(timer->due - s.clock));
            Tick(timer);
            if (watched && s.windows[dialog].drawnChanged)
                DrawDialog(dialog);
            continue;
        }
        if (turns == MAX_USER_TURNS)
            break;
        ScriptedEvent answer{s.windows[dialog].name, 0, UserAnswer(dialog, turns++), 0, 0, 0, true};
        Perform(dialog, answer);
    }
    std::fprintf(stderr, "simulated dialog %s does not end; the user gives up\n",
                 s.windows[dialog].name.c_str());
    return false;
}

const DialogTemplateBytes *FindTemplate(LPCSTR name)
{
    if (!name || (UINT_PTR)name < 0x10000)
        return nullptr;
    for (const DialogTemplateBytes *t = g_dialogTemplates; t->name; t++) {
        if (strcasecmp(t->name, name) == 0)
            return t;
    }
    return nullptr;
}

bool ClassRegistered(const std::string &name)
{
    static const char *const predefined[] = {"BUTTON", "EDIT", "STATIC", "LISTBOX", "SCROLLBAR",
                                             "COMBOBOX"};
    for (const char *p : predefined) {
        if (strcasecmp(p, name.c_str()) == 0)
            return true;
    }
    return State().commonControls && strcasecmp(name.c_str(), "msctls_progress32") == 0;
}

// Creates the dialog and its controls; -1 with *error when it cannot.
int CreateDialogWindows(const DialogTemplateBytes &bytes, DLGPROC proc, long *error)
{
    DialogState &s = State();
    SimDialogTemplate t;
    if (!SimParseDialogTemplate(bytes.bytes, bytes.size, &t, nullptr)) {
        *error = SIM_ERROR_RESOURCE_NAME_NOT_FOUND;
        return -1;
    }
    for (const SimTemplateControl &c : t.controls) {
        if (!ClassRegistered(SimControlClass(c))) {
            *error = SIM_ERROR_CANNOT_FIND_WND_CLASS;
            return -1;
        }
    }
    int index = (int)s.windows.size();
    SimWindow dialog;
    dialog.isDialog = true;
    dialog.dialog = index;
    dialog.name = bytes.name;
    dialog.text = t.caption;
    dialog.style = t.style;
    dialog.exStyle = t.exStyle;
    dialog.x = t.x, dialog.y = t.y, dialog.cx = t.cx, dialog.cy = t.cy;
    dialog.proc = proc;
    s.windows.push_back(dialog);
    for (const SimTemplateControl &c : t.controls) {
        SimWindow w;
        w.dialog = index;
        w.name = bytes.name;
        w.id = c.id;
        w.className = SimControlClass(c);
        w.text = c.text.isOrdinal ? "" : c.text.text;
        w.style = c.style;
        w.exStyle = c.exStyle;
        w.x = c.x, w.y = c.y, w.cx = c.cx, w.cy = c.cy;
        s.windows[index].controls.push_back((int)s.windows.size());
        s.windows.push_back(w);
    }
    return index;
}

int FirstTabStop(const SimWindow &dialog)
{
    for (int c : dialog.controls) {
        if (State().windows[c].style & WS_TABSTOP_)
            return c;
    }
    return -1;
}

}  // namespace

// ------------------------------------------------------------ the rule

int SimProgressStep(int pos, int min, int max, int step)
{
    if (min == max)
        return min;
    pos += step;
    if (pos > max)
        pos = (pos - min) % (max - min) + min;
    if (pos < min)
        pos = (pos - min) % (max - min) + max;
    return pos;
}

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

// ------------------------------------------------------------ services

void WINAPI InitCommonControls(void)
{
    long error;
    if (!SimFault("InitCommonControls", &error))
        State().commonControls = true;
    SimRecord("InitCommonControls", {}, 0);
}

INT_PTR WINAPI DialogBoxParamA(HINSTANCE hInstance, LPCSTR lpTemplateName, HWND hWndParent,
                               DLGPROC lpDialogFunc, LPARAM dwInitParam)
{
    DialogState &s = State();
    long error = 0;
    INT_PTR result = -1;
    char instance[32];
    std::snprintf(instance, sizeof instance, "0x%llX", (unsigned long long)(UINT_PTR)hInstance);
    std::vector<std::string> args = {instance, TemplateNameText(lpTemplateName),
                                     WindowText(hWndParent), lpDialogFunc ? "DLGPROC" : "NULL",
                                     SimNumberText(dwInitParam)};
    const DialogTemplateBytes *bytes = FindTemplate(lpTemplateName);
    int dialog = -1;
    if (SimFault("DialogBoxParamA", &error)) {
        SimSetLastError(error);
    } else if (hWndParent && LiveIndexOf(hWndParent) < 0) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
        result = 0;
    } else if (!bytes || !lpDialogFunc) {
        SimSetLastError(bytes ? ERROR_INVALID_PARAMETER : SIM_ERROR_RESOURCE_NAME_NOT_FOUND);
    } else if ((dialog = CreateDialogWindows(*bytes, lpDialogFunc, &error)) < 0) {
        SimSetLastError(error);
    }
    if (dialog < 0) {
        Draw("[" + std::string(bytes ? bytes->name : "dialog") +
             " cannot be created: DialogBoxParamA returns " + std::to_string((long)result) +
             "]\n");
        SimRecord("DialogBoxParamA", args, (long)result);
        return result;
    }

    int focus = FirstTabStop(s.windows[dialog]);
    DialogMessage(dialog, WM_SETFONT_, 0, FALSE);
    DialogMessage(dialog, WM_INITDIALOG, focus < 0 ? 0 : (WPARAM)HandleOf(focus), dwInitParam);
    // The dialog shows once WM_INITDIALOG has set it up, unless it ended there.
    size_t shown = s.shown.size();
    s.shown.push_back(SimShownDialog{s.windows[dialog].name, s.windows[dialog].text, 0});
    if (!s.windows[dialog].ended) {
        DrawDialog(dialog);
        s.windows[dialog].shown = true;
    }
    result = RunModalLoop(dialog) ? s.windows[dialog].result : -1;
    int bar = BarOf(s.windows[dialog]);
    if (s.live && s.windows[dialog].drawnChanged)
        DrawDialog(dialog);
    else if (bar >= 0 && s.windows[dialog].drawnChanged)
        DrawBarState(s.windows[bar]);
    Draw("  = " + s.windows[dialog].name + " ends with " + std::to_string((long)result) + "\n");
    s.shown[shown].result = (long)result;
    DestroyDialog(dialog);
    SimRecord("DialogBoxParamA", args, (long)result);
    return result;
}

BOOL WINAPI EndDialog(HWND hDlg, INT_PTR nResult)
{
    long error;
    BOOL ok = FALSE;
    int index = LiveIndexOf(hDlg);
    if (SimFault("EndDialog", &error)) {
        SimSetLastError(error);
    } else if (index < 0 || !State().windows[index].isDialog) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        State().windows[index].ended = true;
        State().windows[index].result = nResult;
        ok = TRUE;
    }
    SimRecord("EndDialog", {WindowText(hDlg), SimNumberText(nResult)}, ok);
    return ok;
}

HWND WINAPI GetDlgItem(HWND hDlg, int nIDDlgItem)
{
    long error;
    HWND item = 0;
    int index = LiveIndexOf(hDlg);
    if (SimFault("GetDlgItem", &error)) {
        SimSetLastError(error);
    } else if (index < 0 || !State().windows[index].isDialog) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        int control = ControlWithId(State().windows[index], (uint32_t)nIDDlgItem);
        if (control >= 0)
            item = HandleOf(control);
        else
            SimSetLastError(1421L);  // ERROR_CONTROL_ID_NOT_FOUND
    }
    SimRecord("GetDlgItem", {WindowText(hDlg), SimNumberText(nIDDlgItem)}, item ? 1 : 0);
    return item;
}

BOOL WINAPI SetWindowTextA(HWND hWnd, LPCSTR lpString)
{
    long error;
    BOOL ok = FALSE;
    int index = LiveIndexOf(hWnd);
    if (SimFault("SetWindowTextA", &error)) {
        SimSetLastError(error);
    } else if (index < 0) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        ok = Deliver(index, WM_SETTEXT, 0, (LPARAM)lpString) ? TRUE : FALSE;
    }
    SimRecord("SetWindowTextA", {WindowText(hWnd), SimArgText(lpString)}, ok);
    return ok;
}

LRESULT WINAPI SendMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    long error;
    LRESULT result = 0;
    int index = LiveIndexOf(hWnd);
    // Text goes by pointer; record what it points to.
    std::string lParamText =
        Msg == WM_SETTEXT ? SimArgText((const char *)lParam) : SimNumberText(lParam);
    if (SimFault("SendMessageA", &error)) {
        SimSetLastError(error);
    } else if (index < 0) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        result = Deliver(index, Msg, wParam, lParam);
    }
    SimRecord("SendMessageA", {WindowText(hWnd), MessageText(Msg), SignedText(wParam), lParamText},
              (long)result);
    return result;
}

BOOL WINAPI PostMessageA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam)
{
    long error;
    BOOL ok = FALSE;
    int index = LiveIndexOf(hWnd);
    if (SimFault("PostMessageA", &error)) {
        SimSetLastError(error);
    } else if (index < 0) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        Post(index, Msg, wParam, lParam);
        ok = TRUE;
    }
    SimRecord("PostMessageA",
              {WindowText(hWnd), MessageText(Msg), SignedText(wParam), SimNumberText(lParam)}, ok);
    return ok;
}

UINT_PTR WINAPI SetTimer(HWND hWnd, UINT_PTR nIDEvent, UINT uElapse, TIMERPROC lpTimerFunc)
{
    DialogState &s = State();
    long error;
    UINT_PTR result = 0;
    int index = LiveIndexOf(hWnd);
    if (SimFault("SetTimer", &error)) {
        SimSetLastError(error);
    } else if (index < 0) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        // The platform cannot tick faster than its timer resolution.
        long period = std::max<long>((long)uElapse, TIMER_RESOLUTION_MS);
        Timer timer{index, nIDEvent, period, s.clock + period, lpTimerFunc};
        auto same = std::find_if(s.timers.begin(), s.timers.end(), [&](const Timer &t) {
            return t.window == index && t.id == nIDEvent;
        });
        if (same != s.timers.end())
            *same = timer;
        else
            s.timers.push_back(timer);
        result = nIDEvent ? nIDEvent : 1;
    }
    SimRecord("SetTimer",
              {WindowText(hWnd), SimNumberText((long long)nIDEvent), SimNumberText(uElapse),
               lpTimerFunc ? "TIMERPROC" : "NULL"},
              (long)result);
    return result;
}

BOOL WINAPI KillTimer(HWND hWnd, UINT_PTR uIDEvent)
{
    DialogState &s = State();
    long error;
    BOOL ok = FALSE;
    int index = LiveIndexOf(hWnd);
    if (SimFault("KillTimer", &error)) {
        SimSetLastError(error);
    } else {
        auto same = std::find_if(s.timers.begin(), s.timers.end(), [&](const Timer &t) {
            return t.window == index && t.id == uIDEvent;
        });
        if (index >= 0 && same != s.timers.end()) {
            s.timers.erase(same);
            ok = TRUE;
        } else {
            SimSetLastError(index < 0 ? SIM_ERROR_INVALID_WINDOW_HANDLE : ERROR_INVALID_PARAMETER);
        }
    }
    SimRecord("KillTimer", {WindowText(hWnd), SimNumberText((long long)uIDEvent)}, ok);
    return ok;
}

int WINAPI MessageBoxA(HWND hWnd, LPCSTR lpText, LPCSTR lpCaption, UINT uType)
{
    DialogState &s = State();
    long error;
    int answer = 0;
    std::vector<std::string> args = {WindowText(hWnd), SimArgText(lpText), SimArgText(lpCaption),
                                     SimNumberText(uType)};
    if (SimFault("MessageBoxA", &error)) {
        SimSetLastError(error);
        SimRecord("MessageBoxA", args, 0);
        return 0;
    }
    std::string text = lpText ? lpText : "";
    std::string caption = lpCaption ? lpCaption : "Error";
    Draw(SimDrawMessageBox(text, caption, uType));
    if ((uType & MB_TYPEMASK_) == MB_YESNO) {
        if (!s.restartAnswer.empty())
            answer = s.restartAnswer == "yes" ? IDYES : IDNO;
        else if (s.in)
            answer = SimAskUser(s.in, s.out, "y: Yes   n: No > ",
                                {{"y", IDYES}, {"yes", IDYES}, {"n", IDNO}, {"no", IDNO}}, IDNO);
        else
            answer = IDNO;
        Draw(std::string("  > ") + (answer == IDYES ? "Yes" : "No") + "\n");
    } else {
        if (s.in && (uType & MB_TYPEMASK_) == MB_OK)
            SimAskUser(s.in, s.out, "Enter: OK > ", {{"", IDOK}, {"o", IDOK}, {"ok", IDOK}}, IDOK);
        answer = IDOK;
        Draw("  > OK\n");
    }
    s.shown.push_back(SimShownDialog{"MessageBox", caption, answer});
    SimRecord("MessageBoxA", args, answer);
    return answer;
}

BOOL WINAPI ExitWindowsEx(UINT uFlags, DWORD dwReason)
{
    long error;
    BOOL ok = FALSE;
    if (SimFault("ExitWindowsEx", &error)) {
        SimSetLastError(error);
    } else {
        SimNoteRestart();
        Draw("[restart of Windows requested]\n");
        ok = TRUE;
    }
    SimRecord("ExitWindowsEx", {SimNumberText(uFlags), SimNumberText(dwReason)}, ok);
    return ok;
}

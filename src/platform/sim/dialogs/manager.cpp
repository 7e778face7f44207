// The simulated dialog manager: it runs the program's own dialog procedures
// over the program's own templates (res/dialogs.inc, made from
// res/dialogs.txt), answers the window services they call, and draws the
// dialogs on the terminal.
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
#include <strings.h>
#include <thread>

#include "core/core.h"
#include "dialogs/dialogs.h"
#include "dialogs/manager.h"
#include "dialogs/template.h"

#include "dialogs.inc"

using namespace dialog_manager;

namespace dialog_manager {

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

// Which way the bar goes, said in words: a bar that steps down from its
// top (Windows' bar wraps from 0 to the top at a negative step) empties.
void DrawBarState(const SimWindow &bar)
{
    std::string where = bar.barPos == bar.barMin ? "empty" : bar.barPos == bar.barMax ? "full"
                        : bar.barStep < 0        ? "emptying" : "filling";
    Draw("  " + SimDrawBar(bar, bar.cx / 4) + "  " + where + ", at " + std::to_string(bar.barPos) + " of " +
         std::to_string(bar.barMin) + ".." + std::to_string(bar.barMax) + "\n");
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

}  // namespace dialog_manager

namespace {

// The platform's timer resolution on Windows 9x: about 18.2 ticks a second.
const long TIMER_RESOLUTION_MS = 55;
// A loop that has delivered this many messages without ending is stuck.
const int MAX_DELIVERIES = 100000;
// The user tries to close a dialog that waits for nothing this many times.
const int MAX_USER_TURNS = 3;

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
        {PBM_GETPOS_, "PBM_GETPOS"},      {WM_WININICHANGE, "WM_WININICHANGE"},
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

int BarOf(const SimWindow &dialog)
{
    for (int c : dialog.controls) {
        const SimWindow &w = State().windows[c];
        if (strcasecmp(w.className.c_str(), "msctls_progress32") == 0)
            return c;
    }
    return -1;
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

// ------------------------------------------------------------ templates

const DialogTemplateBytes *FindTemplate(LPCSTR name)
{
    if (!name || (UINT_PTR)name < 0x10000)
        return nullptr;
    static DialogTemplateBytes found;
    const auto &program = State().programTemplates;
    for (const auto &t : program) {
        if (strcasecmp(t.first.c_str(), name) == 0) {
            found = {t.first.c_str(), (const unsigned char *)t.second.data(), (unsigned)t.second.size()};
            return &found;
        }
    }
    for (const DialogTemplateBytes *t = program.empty() ? g_dialogTemplates : nullptr; t && t->name; t++) {
        if (strcasecmp(t->name, name) == 0)
            return t;
    }
    return nullptr;
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

// ------------------------------------------------------------ services

void SimUseProgramDialogs(const std::vector<std::pair<std::string, std::string>> &templates)
{
    State().programTemplates = templates;
}

namespace {
void (*g_dialogHook)(const std::string &, bool) = nullptr;
}  // namespace

void SimSetDialogHook(void (*hook)(const std::string &dialog, bool opening))
{
    g_dialogHook = hook;
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

    const std::string name = s.windows[dialog].name;
    if (g_dialogHook)
        g_dialogHook(name, true);
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
    if (g_dialogHook)
        g_dialogHook(name, false);
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

// A broadcast reaches no other window: the machine runs no other program.
// It is recorded, with the section a WM_WININICHANGE names, and answered
// as a broadcast that no window held up. To one of the dialogs' windows it
// is SendMessageA.
LRESULT WINAPI SendMessageTimeoutA(HWND hWnd, UINT Msg, WPARAM wParam, LPARAM lParam, UINT fuFlags,
                                   UINT uTimeout, UINT_PTR *lpdwResult)
{
    long error;
    LRESULT result = 0;
    UINT_PTR answer = 0;
    bool broadcast = hWnd == HWND_BROADCAST;
    if (SimFault("SendMessageTimeoutA", &error)) {
        SimSetLastError(error);
    } else if (broadcast) {
        result = 1;
    } else if (LiveIndexOf(hWnd) < 0) {
        SimSetLastError(SIM_ERROR_INVALID_WINDOW_HANDLE);
    } else {
        answer = (UINT_PTR)Deliver(LiveIndexOf(hWnd), Msg, wParam, lParam);
        result = 1;
    }
    if (lpdwResult)
        *lpdwResult = answer;
    std::string lParamText =
        Msg == WM_WININICHANGE || Msg == WM_SETTEXT ? SimArgText((const char *)lParam) : SimNumberText(lParam);
    SimRecord("SendMessageTimeoutA",
              {broadcast ? "HWND_BROADCAST" : WindowText(hWnd), MessageText(Msg), SignedText(wParam), lParamText,
               SimNumberText(fuFlags), SimNumberText(uTimeout)},
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

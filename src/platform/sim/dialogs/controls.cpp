// The controls of the simulated dialogs: which classes exist (the common
// controls' only once InitCommonControls has run), and what a control does
// with its messages: a text keeps what it is given, a progress bar moves.
#include <algorithm>
#include <strings.h>

#include "core/core.h"
#include "dialogs/dialogs.h"
#include "dialogs/manager.h"

using namespace dialog_manager;

namespace {

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

}  // namespace

namespace dialog_manager {

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

}  // namespace dialog_manager

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

// ------------------------------------------------------------ services

void WINAPI InitCommonControls(void)
{
    long error;
    if (!SimFault("InitCommonControls", &error))
        State().commonControls = true;
    SimRecord("InitCommonControls", {}, 0);
}

// UNINSTALL: the progress dialog. A 1 ms timer steps the bar 70 times, the
// 71st tick runs the removal, and a posted command 2 closes the dialog once
// the timer handler has returned. The removal runs inside that handler, so
// the dialog neither repaints nor reacts while it runs.
#include "engine.h"
#include "resource.h"
#include "texts.h"
#include "ui.h"

namespace {

void InitProgress(HWND hDlg)
{
    InitCommonControls();
    SetWindowTextA(hDlg, PROGRESS_CAPTION);
    SendMessageA(GetDlgItem(hDlg, IDC_PROGRESS_TEXT), WM_SETTEXT, 0, (LPARAM)PROGRESS_TEXT);
    g_hProgress = GetDlgItem(hDlg, IDC_PROGRESS_BAR);
    SendMessageA(g_hProgress, PBM_SETRANGE, 0, MAKELPARAM(0, 140));
    // A step of -2 from the control's start position: the bar wraps to
    // nearly full at the first step and empties over the 70.
    SendMessageA(g_hProgress, PBM_SETSTEP, (WPARAM)-2, 0);
    g_tickCount = 1;
    g_progressEnded = 0;
    SetTimer(hDlg, PROGRESS_TIMER_ID, 1, 0);
}

void OnTick(HWND hDlg)
{
    // A tick that was already queued, or one sent from elsewhere, must not
    // run the removal twice or after the dialog was told to end.
    if (g_removalRan || g_progressEnded)
        return;
    g_tickCount = g_tickCount + 1;
    if (g_tickCount < REMOVAL_TICK_COUNT) {
        SendMessageA(g_hProgress, PBM_STEPIT, 0, 0);
        return;
    }
    KillTimer(hDlg, PROGRESS_TIMER_ID);
    RunUninstall();
    g_removalRan = 1;
    PostMessageA(hDlg, WM_COMMAND, IDCANCEL, 0);
}

void OnClose(HWND hDlg)
{
    // Before the removal this is the user's close box or Escape: stop the
    // ticks so that the removal cannot start behind the user's back.
    if (!g_removalRan)
        KillTimer(hDlg, PROGRESS_TIMER_ID);
    g_progressEnded = 1;
    EndDialog(hDlg, IDCANCEL);
}

}  // namespace

INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitProgress(hDlg);
        return FALSE;  // nothing in this dialog takes the focus
    case WM_TIMER:
        OnTick(hDlg);  // whatever timer id wParam names
        return TRUE;
    case WM_COMMAND:
        if (wParam == IDCANCEL)
            OnClose(hDlg);
        return TRUE;
    }
    return FALSE;
}

// WELCOME: the confirmation dialog. Its OK button and the Enter key give
// command 1; the Cancel button, Escape and the close box give command 2.
#include "engine.h"
#include "resource.h"
#include "texts.h"
#include "ui.h"

namespace {

void InitWelcome(HWND hDlg)
{
    SetWindowTextA(hDlg, WELCOME_CAPTION);
    SendMessageA(GetDlgItem(hDlg, IDC_WELCOME_TEXT), WM_SETTEXT, 0, (LPARAM)WELCOME_TEXT);
}

}  // namespace

INT_PTR CALLBACK WelcomeDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM)
{
    switch (message) {
    case WM_INITDIALOG:
        InitWelcome(hDlg);
        return TRUE;  // the focus goes to the first tab stop, OK
    case WM_COMMAND:
        // The whole wParam: a notification code in the high word is not a
        // command of ours.
        if (wParam == IDOK) {
            EndDialog(hDlg, IDOK);
            g_confirmed = 1;
        } else if (wParam == IDCANCEL) {
            EndDialog(hDlg, IDCANCEL);
            ShowCancelMessage(hDlg);
            g_confirmed = 0;
        }
        return FALSE;
    }
    return FALSE;
}

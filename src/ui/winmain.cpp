// The program's entry: WELCOME, then UNINSTALL, then the completion prompt.
// There is no main window and no message loop of our own; everything runs in
// the platform's modal dialog and message-box loops on the one thread.
#include "engine.h"
#include "texts.h"
#include "ui.h"

int g_confirmed = 0;
int g_tickCount = 0;
HWND g_hProgress = 0;
int g_removalRan = 0;
int g_progressEnded = 0;

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR, int)
{
    // Only the user's OK confirms; a WELCOME that never came up does not.
    g_confirmed = 0;
    g_removalRan = 0;

    INT_PTR result = DialogBoxParamA(hInstance, "WELCOME", 0, WelcomeDlgProc, 0);
    if (result == -1 || g_confirmed != 1 || result == 0)
        return (int)result;

    // The progress bar is a control of the template, so its class must be
    // registered before the dialog is created, not only at WM_INITDIALOG.
    InitCommonControls();
    result = DialogBoxParamA(hInstance, "UNINSTALL", 0, ProgressDlgProc, 0);
    if (result == -1 || result == 0)
        return (int)result;

    // Closed before the removal ran: that is a cancel, not a success.
    if (g_removalRan)
        ShowCompletionPrompt(0, COMPLETION_TEXT);
    else
        ShowCancelMessage(0);
    return (int)result;
}

void ShowCompletionPrompt(HWND owner, const char *text)
{
    int answer = MessageBoxA(owner, text, COMPLETION_CAPTION,
                             MB_SYSTEMMODAL | MB_ICONWARNING | MB_YESNO);
    if (answer == IDYES)
        ExitWindowsEx(EWX_REBOOT, 0);
}

void ShowCancelMessage(HWND owner)
{
    MessageBoxA(owner, CANCEL_TEXT, CANCEL_CAPTION, MB_OK);
}

// The program's entry and its dialogs: WELCOME asks for confirmation,
// UNINSTALL counts 70 timer ticks on its progress bar and runs the removal
// on the 71st, and the completion prompt offers the restart.
#ifndef UI_UI_H
#define UI_UI_H

#include "platform.h"

// The timer of UNINSTALL, the only one.
#define PROGRESS_TIMER_ID 1
// Ticks 1 to 70 step the bar; the tick that raises the count to this value
// runs the removal.
#define REMOVAL_TICK_COUNT 72

// Shared by the entry and the dialog procedures, for the one run.
extern int g_confirmed;    // 1 once the user chose OK in WELCOME
extern int g_tickCount;    // timer ticks of UNINSTALL, from 1
extern HWND g_hProgress;   // the progress bar of UNINSTALL
extern int g_removalRan;   // 1 once RunUninstall has returned
extern int g_progressEnded;  // 1 once UNINSTALL has been told to end

extern "C" int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR lpCmdLine,
                              int nCmdShow);
INT_PTR CALLBACK WelcomeDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ProgressDlgProc(HWND hDlg, UINT message, WPARAM wParam, LPARAM lParam);
void ShowCompletionPrompt(HWND owner, const char *text);
void ShowCancelMessage(HWND owner);

#endif

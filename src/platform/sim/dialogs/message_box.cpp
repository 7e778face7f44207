// The message box, which answers at once (the script's answer, the
// terminal's or the default one), and ExitWindowsEx, which notes the restart.
#include "core/core.h"
#include "dialogs/dialogs.h"
#include "dialogs/manager.h"
#include "sim.h"

using namespace dialog_manager;

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
            // Enter picks the default button, Yes, as on Windows.
            answer = SimAskUser(s.in, s.out, "Enter/y: Yes   n: No > ",
                                {{"", IDYES}, {"y", IDYES}, {"yes", IDYES}, {"n", IDNO}, {"no", IDNO}}, IDNO);
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

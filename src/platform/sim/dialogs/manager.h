// The dialog manager's state and the helpers its files share (manager.cpp,
// controls.cpp, user.cpp, message_box.cpp); nothing outside dialogs/
// includes it.
#ifndef PLATFORM_SIM_DIALOGS_MANAGER_H
#define PLATFORM_SIM_DIALOGS_MANAGER_H

#include <cstdio>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "dialogs/dialogs.h"
#include "platform.h"
#include "sim.h"

namespace dialog_manager {

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
    // The templates of the program being run (br32unin-sim --exe), which
    // take the place of the built-in copy while they are set.
    std::vector<std::pair<std::string, std::string>> programTemplates;
};

DialogState &State();

// Window handles: a window's index in State().windows, and back; -1 for a
// handle that was never a window (IndexOf) or is no longer alive.
HWND HandleOf(int index);
int IndexOf(HWND hwnd);
int LiveIndexOf(HWND hwnd);
std::string WindowText(HWND hwnd);

// The terminal (manager.cpp).
void Draw(const std::string &text);
void DrawDialog(int dialog);
void DrawBarState(const SimWindow &bar);

// Delivery (manager.cpp).
int ControlWithId(const SimWindow &dialog, uint32_t id);
void Post(int window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DialogMessage(int index, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT Deliver(int index, UINT message, WPARAM wParam, LPARAM lParam);

// The controls (controls.cpp).
bool ClassRegistered(const std::string &name);
LRESULT ControlMessage(int index, UINT message, WPARAM wParam, LPARAM lParam);

// The user (user.cpp).
void Perform(int dialog, const ScriptedEvent &event);
Action UserAnswer(int dialog, int turn);

}  // namespace dialog_manager

#endif

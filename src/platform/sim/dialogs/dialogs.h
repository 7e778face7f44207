// The simulated dialogs: a dialog manager over the program's own templates,
// its controls, the message box, and their drawing on a text terminal.
//
// The manager's windows, shared by its loop (manager.cpp) and its text
// drawing (terminal.cpp), and the progress bar's rule, which the tests
// check on their own.
#ifndef PLATFORM_SIM_DIALOGS_DIALOGS_H
#define PLATFORM_SIM_DIALOGS_DIALOGS_H

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "platform.h"

struct SimWindow {
    bool isDialog = false;
    bool alive = true;
    int dialog = -1;           // the dialog of a control; a dialog's own index
    std::string name;          // the dialog's template name
    uint32_t id = 0;           // a control's id
    std::string className;     // as the template names it
    std::string text;          // caption or control text, code page 1252
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int x = 0, y = 0, cx = 0, cy = 0;  // dialog units
    // A progress bar's state, as the control starts.
    int barMin = 0, barMax = 100, barPos = 0, barStep = 10;
    bool barNoted = false;      // its first move on screen was drawn
    // A dialog's state.
    DLGPROC proc = nullptr;
    std::vector<int> controls;  // window indices, in template order
    bool ended = false;
    INT_PTR result = 0;
    int ticks = 0;              // WM_TIMER messages delivered to it
    bool shown = false;         // drawn on the screen
    bool drawnChanged = false;  // a control changed after the drawing
};

// PBM_STEPIT: the position moves by the step; past either end of the range
// it wraps around into the range, as the common control does: above the
// maximum it goes on from the minimum, below the minimum from the maximum.
int SimProgressStep(int pos, int min, int max, int step);

// Text drawings, in UTF-8, of a dialog (its frame, caption and controls
// laid out on a grid of 4 by 8 dialog units per character), of a progress
// bar's line, and of a message box.
std::string SimDrawDialog(const std::vector<SimWindow> &windows, int dialog);
std::string SimDrawBar(const SimWindow &bar, int width);
std::string SimDrawMessageBox(const std::string &text, const std::string &caption, UINT type);
std::string SimUtf8(const std::string &cp1252);

// One answer from the user's terminal: shows prompt and reads a line; the
// line's first word (or "" for an empty line) is looked up in choices, and
// asked again when it is not there. End of input gives onEnd.
struct SimChoice {
    const char *word;
    int value;
};
int SimAskUser(std::FILE *in, std::FILE *out, const std::string &prompt,
               const std::vector<SimChoice> &choices, int onEnd);

// Forgets the dialog script; called when a machine is unloaded.
void SimResetDialogs();

#endif

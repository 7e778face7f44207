// The simulated Windows 98 machine: what the host program and the tests see
// of it beyond the services of platform.h.
//
// A machine is a folder:
//   machine.ini    [Machine] Build, WindowsDir, SystemDir, CurrentDir, and
//                  the failure switches used by tests; [Attributes] and
//                  [Busy] marks on files (docs/machine-format.md)
//   registry.reg   the whole registry, REGEDIT4 text; read at load, and
//                  by SimSaveMachine less the keys deleted since
//   drives/C/...   the drives' files (any letter); WIN.INI and WININIT.INI
//                  are real files there, read and written at once
// Only one machine is loaded at a time: the services of platform.h act on it.
#ifndef PLATFORM_SIM_SIM_H
#define PLATFORM_SIM_SIM_H

#include <cstdio>
#include <string>
#include <vector>

// Loads the machine in dir. On failure returns false and says why in *error.
bool SimLoadMachine(const std::string &dir, std::string *error);

// Takes the keys deleted since the load out of registry.reg, leaving every
// other byte as it was; without a deletion the file is not written.
// Returns false on a write error.
bool SimSaveMachine();

// Forgets the loaded machine (without saving), its call record, its faults,
// its dialog script and its restart requests.
void SimUnloadMachine();

// The folder of the loaded machine ("" when none).
const std::string &SimMachineDir();

// ------------------------------------------------------------ call record
// Every service of platform.h and platform_io.h called while a machine is
// loaded, in order, with its arguments as text: strings as they were passed
// (a null pointer as "NULL"), predefined keys by name (HKEY_LOCAL_MACHINE),
// numbers in decimal, and the result.
struct SimCall {
    std::string name;               // "RegDeleteKeyA"
    std::vector<std::string> args;  // {"HKEY_LOCAL_MACHINE", "Enum\\LPTENUM\\..."}
    long result;
};

const std::vector<SimCall> &SimCalls();
std::vector<SimCall> SimTakeCalls();  // the record, moved out: a long sweep's runs need no copy
void SimClearCalls();

// The calls named name, in order.
std::vector<SimCall> SimCallsNamed(const std::string &name);

// One call per line: name(arg, arg) = result. For failure messages.
std::string SimFormatCalls(const std::vector<SimCall> &calls);

// ---------------------------------------------------------------- faults
// Makes the occurrence-th call (1-based, counted from the last
// SimClearCalls/SimLoadMachine) of the service name fail with error, as that
// service really fails: the registry calls return error; the Boolean calls
// return FALSE with error as the last error; FindFirstFileA returns
// INVALID_HANDLE_VALUE; FileIoOpen returns 0; FileIoRead, FileIoWriteAtEnd
// return -1; the directory queries return 0 and fill nothing. occurrence 0
// fails every call of that name. A name "A|B" counts the calls of A and B
// together: "MoveFileA|DeleteFileA", 3 fails the third move or deletion.
void SimFailCall(const std::string &name, int occurrence, long error);
void SimClearFaults();

// ---------------------------------------------------------- interruptions
// Runs action right after the n-th recorded call (1-based, counted as the
// faults count), once; until the machine is unloaded. With
// SimStopProcess, the run ends there as at a power cut: the process exits
// with SIM_STOPPED, the drives' files as the calls left them, nothing
// saved. machine.ini's StopAfterCall=N does the same for a whole run.
const int SIM_STOPPED = 86;
void SimAfterCall(long n, void (*action)());
void SimStopProcess();

// Runs observer right after every recorded call, with that call, until the
// machine is unloaded (null: none): for a test that looks at the drives
// after each call, as a power cut there would leave them.
void SimObserveCalls(void (*observer)(const SimCall &call));

// ------------------------------------------------------ registry for tests
// Full key paths under a root name, e.g.
// "HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0000"; aliases resolve.
bool SimKeyExists(const std::string &fullPath);

// ------------------------------------------------------------ open handles
// What is still open: registry keys (with their paths), searches, files and
// heap blocks, as "hkey#3 HKEY_LOCAL_MACHINE\Enum, find#1, file#2
// C:\WINDOWS\wininit.ini, block#1 52000 bytes"; "" when nothing is.
std::string SimOpenHandles();

// ---------------------------------------------------------- profile cache
// The profile services keep the text of WIN.INI, and of the one other .ini
// file used last, in memory, as Windows 9x does (sim/profile). A finished
// run and a restart request write the copies out (SimSaveMachine does);
// a power cut loses them.
void SimWriteOutProfiles();
void SimLoseProfiles();
// What the cache holds that the disk may not: each changed copy's path, a
// line end and its text; "" when no copy changed.
std::string SimCachedProfile();
// Puts text in the cache as the changed copy of file (a program path), as
// another program's profile writes would have left it: for tests.
void SimSetCachedProfile(const std::string &file, const std::string &text);

// ---------------------------------------------------------------- restart
// ExitWindowsEx on the simulated machine records the request and writes
// out the profile cache, as the shutdown does.
int SimRestartRequests();

// The machine's next start, run once the program has ended, as Windows 9x
// starts before it loads: the [rename] lines of WININIT.INI in the Windows
// directory worked through in order, then the file renamed WININIT.BAK
// (docs/machine-format.md). Returns what it did, a line each:
//   deleted C:\WINDOWS\SYSTEM\X.DLL
//   moved C:\WINDOWS\SYSTEM\X.DLL to C:\WINDOWS\NULL
//   passed over NUL=C:\MISSING.DLL        (no such file, or refused)
//   renamed C:\WINDOWS\wininit.ini to C:\WINDOWS\WININIT.BAK
// and nothing when there is no WININIT.INI. Calls no service.
std::vector<std::string> SimNextStart();

// ---------------------------------------------------------------- dialogs
// The simulated user. The dialog procedures run in a modal loop of the
// simulated machine: posted messages first, then the user's input, then the
// timers, in simulated time. Each answer below is taken from the script when
// it is set; otherwise from the terminal when one is set for input; else
// the default (OK in WELCOME, No to the restart question).

// welcome: how WELCOME is answered: "ok" (the OK button), "enter" (the
// default button), "cancel" (the Cancel button), "escape", "close" (the
// close box); "" leaves it unscripted. restart: "yes", "no" or "". Returns
// false, and changes nothing, for an unknown answer.
bool SimSetUserAnswers(const std::string &welcome, const std::string &restart);

// The user closes the dialog named dialog ("UNINSTALL") right after its
// tick-th timer tick (0: as soon as it is up), by "close" (the close box)
// or "escape". Returns false for an unknown way.
bool SimCloseDialogAtTick(const std::string &dialog, int tick, const std::string &how);

// Hands a message to the procedure of the dialog named dialog after its
// tick-th timer tick, as the dialog's queue would: for tests of what the
// procedures do with messages the user cannot easily produce.
void SimQueueDialogMessage(const std::string &dialog, int tick, unsigned message,
                           unsigned long long wParam, long long lParam);

// Draws each dialog and message box as text on out as it comes up, with the
// answer it got (null: nothing is drawn). With in set, an unscripted answer
// is read from it, one line per answer. live: out is a terminal that a user
// watches; a dialog's timers then tick in real time (the timer resolution
// of Windows 9x, 55 ms at the fastest) and the dialog is redrawn in place,
// with ANSI cursor movement, after each tick that changed it.
void SimSetDialogTerminal(std::FILE *in, std::FILE *out, bool live = false);

// hook(name, true) when the dialog named name ("UNINSTALL") is created,
// before its WM_INITDIALOG; hook(name, false) once it has ended. Kept
// across loads; null for none. The host program guards the removal by it.
void SimSetDialogHook(void (*hook)(const std::string &dialog, bool opening));

// The dialog templates (name, bytes) of the program being run, in place of
// the built-in copy until the machine is unloaded (br32unin-sim --exe).
void SimUseProgramDialogs(const std::vector<std::pair<std::string, std::string>> &templates);

// The dialogs that came up, in order, by name ("WELCOME", "UNINSTALL",
// "MessageBox"), each with its result: for the host program's summary.
struct SimShownDialog {
    std::string name;
    std::string caption;
    long result;
};
const std::vector<SimShownDialog> &SimShownDialogs();

#endif

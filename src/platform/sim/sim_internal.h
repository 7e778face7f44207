// Shared by the files of the simulated machine: the call record and the
// fault switches, and the machine's paths.
#ifndef PLATFORM_SIM_SIM_INTERNAL_H
#define PLATFORM_SIM_SIM_INTERNAL_H

#include <string>
#include <vector>

#include "platform.h"

// Every service starts with SimFault: it counts the call and says whether
// this occurrence must fail (then *error holds the error to report).
bool SimFault(const char *name, long *error);

// Every service ends with SimRecord, with its arguments as text.
void SimRecord(const char *name, const std::vector<std::string> &args, long result);

// Argument text helpers for SimRecord: a string or "NULL"; a predefined key
// by name, any other handle as "hkey#N"; a number in decimal.
std::string SimArgText(const char *text);
std::string SimKeyText(HKEY key);
std::string SimNumberText(long long n);

// Sets the error that a failed Boolean call leaves for the caller.
void SimSetLastError(long error);
long SimLastError();

// ExitWindowsEx on the simulated machine counts a restart request here.
void SimNoteRestart();

// Forgets the dialog script; called when a machine is unloaded. Defined by
// the dialog manager (an empty stand-in is linked while it is absent).
void SimResetDialogs();

#endif

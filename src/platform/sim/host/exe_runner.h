// br32unin-sim --exe: the shipped Windows program itself, BR32UNIN.EXE, run
// on the loaded simulated machine in an emulated 32-bit x86 (Unicorn).
#ifndef PLATFORM_SIM_HOST_EXE_RUNNER_H
#define PLATFORM_SIM_HOST_EXE_RUNNER_H

#include <string>

// Whether this build has the emulator; without it *error says which
// package to install.
bool SimExeRunnerAvailable(std::string *error);

// Runs the PE file at path from its entry point until ExitProcess. True
// with its exit code; false with *error when the file or one of its imports
// is refused (then no instruction ran), or when the program misbehaved: a
// pointer outside its memory handed to a service, a dialog procedure that
// left the stack unbalanced, an unmapped access, a runaway loop. trace:
// each import call is printed with its arguments as the program passed them.
bool SimRunExe(const std::string &path, bool trace, int *exitCode, std::string *error);

#endif

// The machine itself, above its services: loading and saving its folder,
// snapshots, the next start, its version, directories and string services.
#ifndef PLATFORM_SIM_MACHINE_MACHINE_H
#define PLATFORM_SIM_MACHINE_MACHINE_H

#include <string>

#include "core/core.h"

// Parses machine.ini text into settings (defaults kept for absent keys).
bool SimParseMachineIni(const std::string &text, SimSettings *settings, std::string *error);

#endif

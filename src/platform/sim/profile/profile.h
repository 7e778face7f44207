// The system profile: WIN.INI in the Windows directory, read and written at
// once by GetProfileStringA and WriteProfileStringA.
#ifndef PLATFORM_SIM_PROFILE_PROFILE_H
#define PLATFORM_SIM_PROFILE_PROFILE_H

#include <string>
#include <utility>
#include <vector>

// The machine's WIN.INI, parsed as the profile functions read it: sections
// in file order, the first of each name, each with its keys.
struct SimProfileSection {
    std::string name;
    std::vector<std::pair<std::string, std::string>> keys;
};
std::vector<SimProfileSection> SimParseProfile(const std::string &text);
// The canonical path of WIN.INI ("C:\WINDOWS\WIN.INI").
std::string SimProfilePath();

#endif

// The simulated registry: the key tree under its stored roots, the registry
// services, and registry.reg read and written as REGEDIT4 text.
#ifndef PLATFORM_SIM_REGISTRY_REGISTRY_H
#define PLATFORM_SIM_REGISTRY_REGISTRY_H

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform.h"

struct SimRegValue {
    std::string name;  // "" is the default value
    DWORD type;
    std::string data;  // the stored bytes, exactly
};

struct SimRegKey : std::enable_shared_from_this<SimRegKey> {
    std::string name;  // case kept
    SimRegKey *parent = nullptr;
    std::vector<std::shared_ptr<SimRegKey>> subkeys;  // stored order
    std::map<std::string, SimRegKey *> index;          // folded name -> subkey
    std::vector<SimRegValue> values;                   // stored order
    bool valuesEdited = false;  // a value was set or deleted since the load
    bool deleted = false;  // set on a whole subtree when it is deleted
    std::string deletedPath;
};

// Longest key name the Windows 98 registry stores.
#define SIM_MAX_KEY_NAME 255

void SimRegReset();
// The stored roots: "HKEY_LOCAL_MACHINE" and "HKEY_USERS", in export order.
SimRegKey *SimRegRoot(int index);
const char *SimRegRootName(int index);
int SimRegRootCount();

// A full path under any root name (aliases and HKLM-style short names
// accepted) rewritten under its stored root: "HKEY_CLASSES_ROOT\x" gives
// "HKEY_LOCAL_MACHINE\SOFTWARE\Classes\x". False for an unknown root.
bool SimRegCanonicalPath(const std::string &fullPath, std::string *canonical);

// The key at a canonical path, or null. create: missing keys are added.
SimRegKey *SimRegFindPath(const std::string &canonical, bool create, std::string *error);

SimRegValue *SimRegFindValue(SimRegKey *key, const std::string &name);

// The full path of a key under its stored root.
std::string SimRegKeyPath(const SimRegKey *key);

// REGEDIT4 text of the whole registry, and its reading. The text read is
// kept, with the blocks of it that each key owns, until the next reading or
// reset.
std::string SimRegExport();
bool SimRegImport(const std::string &text, std::string *error);
void SimRegForgetText();
// The text read less the blocks of every key deleted since, and with the
// value lines of every key whose values changed written anew (see
// regedit.cpp); false, with nothing filled, when nothing changed.
bool SimRegEditedText(std::string *text);

// Open key handles, for the leak report.
void SimRegCloseAll();
std::vector<std::string> SimRegOpenHandles();

#endif

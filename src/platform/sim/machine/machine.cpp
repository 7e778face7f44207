// Loading, saving and forgetting the simulated machine, its settings file
// machine.ini, and the report of what is still open on it.
//
// A machine.ini key that this file does not know is an error, not a
// default: a misspelt failure switch in a test would otherwise pass
// silently as a machine that does not fail.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "core/core.h"
#include "dialogs/dialogs.h"
#include "drives/drives.h"
#include "machine/machine.h"
#include "registry/registry.h"
#include "sim.h"

namespace {

bool ParseNumber(const std::string &text, DWORD *value)
{
    if (text.empty())
        return false;
    unsigned long long n = 0;
    size_t i = 0;
    int base = 10;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        i = 2;
    }
    for (; i < text.size(); i++) {
        char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return false;
        n = n * base + digit;
        if (n > 0xFFFFFFFFull)
            return false;
    }
    *value = (DWORD)n;
    return true;
}

bool ParseSwitch(const std::string &text, bool *value)
{
    std::string folded = SimFold(text);
    if (folded == "1" || folded == "YES" || folded == "TRUE") {
        *value = true;
        return true;
    }
    if (folded == "0" || folded == "NO" || folded == "FALSE") {
        *value = false;
        return true;
    }
    return false;
}

bool SetMachineKey(const std::string &key, const std::string &value, SimSettings *s,
                   std::string *why)
{
    std::string k = SimFold(key);
    if (k == "BUILD") {
        if (!ParseNumber(value, &s->build)) {
            *why = "Build is not a 32-bit number: " + value;
            return false;
        }
        return true;
    }
    if (k == "WINDOWSDIR") {
        s->windowsDir = value;
        return true;
    }
    if (k == "SYSTEMDIR") {
        s->systemDir = value;
        return true;
    }
    if (k == "CURRENTDIR") {
        std::string ignored;
        if (!SimPathKey(value, &ignored)) {
            *why = "CurrentDir is not a full path such as C:\\: " + value;
            return false;
        }
        s->currentDir = value;
        return true;
    }
    if (k == "CSDVERSION") {
        s->csdSet = true;
        s->csdVersion = value;
        return true;
    }
    if (k == "MOREDATA") {
        std::string v = SimFold(value);
        if (v != "UNTOUCHED" && v != "PARTIAL") {
            *why = "MoreData is untouched or partial: " + value;
            return false;
        }
        s->moreDataPartial = (v == "PARTIAL");
        return true;
    }
    if (k == "STOPAFTERCALL") {
        char *end = nullptr;
        s->stopAfterCall = std::strtol(value.c_str(), &end, 10);
        if (value.empty() || *end || s->stopAfterCall < 0) {
            *why = "StopAfterCall is a call number, 0 for none: " + value;
            return false;
        }
        return true;
    }
    bool *flag = nullptr;
    if (k == "VERSIONFAILS")
        flag = &s->versionFails;
    else if (k == "SYSTEMDIRFAILS")
        flag = &s->systemDirFails;
    else if (k == "WINDOWSDIRFAILS")
        flag = &s->windowsDirFails;
    if (!flag) {
        *why = "unknown key " + key;
        return false;
    }
    if (!ParseSwitch(value, flag)) {
        *why = key + " is 0 or 1: " + value;
        return false;
    }
    return true;
}

bool SetAttributes(const std::string &path, const std::string &letters, SimSettings *s,
                   std::string *why)
{
    std::string key;
    if (!SimPathKey(path, &key)) {
        *why = "not a full path: " + path;
        return false;
    }
    std::string marks = SimFold(letters);
    for (char c : marks) {
        if (c != 'R' && c != 'H' && c != 'S') {
            *why = "attributes are letters R, H and S: " + letters;
            return false;
        }
    }
    s->attributes[key] = marks;
    return true;
}

// A [Busy] line: the path alone (or with "=module") is a module that a
// running program has loaded, as every such line meant before the kinds
// were told apart; "=open" a file that a program holds open for its I/O.
bool SetBusy(const std::string &path, const std::string &kind, SimSettings *s, std::string *why)
{
    std::string key;
    if (!SimPathKey(path, &key)) {
        *why = "not a full path: " + path;
        return false;
    }
    std::string k = SimFold(kind);
    if (k.empty() || k == "MODULE") {
        s->busy[key] = SimBusyKind::Module;
    } else if (k == "OPEN") {
        s->busy[key] = SimBusyKind::Open;
    } else {
        *why = "a busy file is held as a module or open: " + kind;
        return false;
    }
    return true;
}

}  // namespace

bool SimParseMachineIni(const std::string &text, SimSettings *settings, std::string *error)
{
    std::istringstream lines(text);
    std::string line;
    std::string section;
    int number = 0;
    while (std::getline(lines, line)) {
        number++;
        line = SimTrim(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        std::string why;
        if (line[0] == '[') {
            if (line.back() != ']') {
                why = "a section line ends with ]";
            } else {
                section = SimFold(SimTrim(line.substr(1, line.size() - 2)));
                if (section != "MACHINE" && section != "ATTRIBUTES" && section != "BUSY")
                    why = "unknown section " + line;
            }
        } else {
            size_t eq = line.find('=');
            std::string key = SimTrim(line.substr(0, eq));
            std::string value = eq == std::string::npos ? "" : SimTrim(line.substr(eq + 1));
            if (section == "MACHINE") {
                if (eq == std::string::npos)
                    why = "expected Key=Value";
                else
                    SetMachineKey(key, value, settings, &why);
            } else if (section == "ATTRIBUTES") {
                SetAttributes(key, value, settings, &why);
            } else if (section == "BUSY") {
                SetBusy(key, value, settings, &why);
            } else {
                why = "a line before the first section";
            }
        }
        if (!why.empty()) {
            *error = "machine.ini line " + std::to_string(number) + ": " + why;
            return false;
        }
    }
    return true;
}

bool SimLoadMachine(const std::string &dir, std::string *error)
{
    SimUnloadMachine();
    std::error_code ec;
    std::filesystem::path folder = std::filesystem::absolute(dir, ec);
    if (ec || !std::filesystem::is_directory(folder, ec)) {
        *error = "no machine folder at " + dir;
        return false;
    }
    SimSettings settings;
    settings.dir = folder.lexically_normal().string();
    while (settings.dir.size() > 1 && settings.dir.back() == '/')
        settings.dir.pop_back();

    std::string text;
    if (std::filesystem::exists(folder / "machine.ini", ec)) {
        if (!SimReadHostFile((folder / "machine.ini").string(), &text)) {
            *error = "cannot read machine.ini";
            return false;
        }
        if (!SimParseMachineIni(text, &settings, error))
            return false;
    }
    if (std::filesystem::exists(folder / "registry.reg", ec)) {
        if (!SimReadHostFile((folder / "registry.reg").string(), &text)) {
            *error = "cannot read registry.reg";
            return false;
        }
        if (!SimRegImport(text, error)) {
            SimRegReset();
            return false;
        }
    }
    SimMachine() = settings;
    SimMachine().loaded = true;
    SimForgetListings();  // the folders may have changed while no machine was loaded
    SimResetRecord();
    if (settings.stopAfterCall > 0)
        SimAfterCall(settings.stopAfterCall, SimStopProcess);
    return true;
}

bool SimSaveMachine()
{
    if (!SimMachine().loaded)
        return false;
    // The run is over: what the profile cache held goes to the disk.
    SimWriteOutProfiles();
    // Only a deletion or a changed value changes the registry; without one
    // the file stays as it is, byte for byte and untouched. It is written
    // beside itself and renamed over, keeping its mode (SimWriteHostFile).
    std::string text;
    if (!SimRegEditedText(&text))
        return true;
    return SimWriteHostFile(SimMachine().dir + "/registry.reg", text);
}

void SimUnloadMachine()
{
    SimLoseProfiles();
    SimRegCloseAll();
    SimFindCloseAll();
    SimIoCloseAll();
    SimForgetListings();
    SimRegReset();
    SimMachine() = SimSettings();
    SimResetRecord();
    SimResetDialogs();
}

const std::string &SimMachineDir()
{
    return SimMachine().dir;
}

std::string SimOpenHandles()
{
    std::vector<std::string> open = SimRegOpenHandles();
    for (const std::string &handle : SimFindOpenHandles())
        open.push_back(handle);
    for (const std::string &handle : SimIoOpenHandles())
        open.push_back(handle);
    std::string text;
    for (const std::string &handle : open) {
        if (!text.empty())
            text += ", ";
        text += handle;
    }
    return text;
}

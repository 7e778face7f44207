// Helpers for the engine's tests: the driver's names, the call record cut
// down to what a test compares, and whole runs compared with the machine
// before them as one sorted list of changes ("key- HKEY_...").
#ifndef TESTS_UNIT_PHASE_SUPPORT_H
#define TESTS_UNIT_PHASE_SUPPORT_H

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <set>

#include "engine.h"
#include "machine/snapshot.h"
#include "machine_builder.h"

namespace phase_support {

namespace fs = std::filesystem;

// A machine folder for one test (machine_builder.h).
using Machine = MachineBuilder;

// The names of a file table of the engine, up to its empty entry.
inline std::vector<const char *> TableNames(const char (*table)[FILE_NAME_WIDTH])
{
    std::vector<const char *> names;
    for (; (*table)[0]; table++)
        names.push_back(*table);
    return names;
}

const std::vector<const char *> RESTART_FILES = TableNames(g_restartFiles);
const std::string DRIVER = DRIVER_NAME;
const std::string HKLM = "HKEY_LOCAL_MACHINE\\";
const std::string GROUP = "C:\\WINDOWS\\Start Menu\\Programs\\" PRODUCT_NAME;

// The files under a folder by relative path, each with its bytes; folders
// as "<folder>".
inline std::map<std::string, std::string> ReadFolder(const std::string &root)
{
    std::map<std::string, std::string> contents;
    for (auto &entry : fs::recursive_directory_iterator(root))
        contents[fs::relative(entry.path(), root).generic_string()] =
            entry.is_directory() ? "<folder>" : MachineBuilder::ReadHost(entry.path().string());
    return contents;
}

// REGEDIT4 value lines: RegString("V", "x") is "V"="x"; RegBinary holds
// exactly the bytes, no NUL added.
inline std::string RegString(const std::string &name, const std::string &text)
{
    std::string line = "\"" + name + "\"=\"";
    for (char c : text)
        line += c == '\\' || c == '"' ? std::string("\\") + c : std::string(1, c);
    return line + "\"";
}

inline std::string RegBinary(const std::string &name, const std::string &bytes)
{
    std::string line = "\"" + name + "\"=hex:";
    char hex[4];
    for (size_t i = 0; i < bytes.size(); i++) {
        snprintf(hex, sizeof hex, "%s%02x", i ? "," : "", (unsigned char)bytes[i]);
        line += hex;
    }
    return line;
}

// "name(arg, arg)" for each call of the services named, in order.
inline std::vector<std::string> Calls(const std::set<std::string> &names,
                                      const std::vector<SimCall> &record = SimCalls())
{
    std::vector<std::string> lines;
    for (const SimCall &call : record) {
        if (!names.count(call.name))
            continue;
        std::string line = call.name + "(";
        for (size_t i = 0; i < call.args.size(); i++)
            line += (i ? ", " : "") + call.args[i];
        lines.push_back(line + ")");
    }
    return lines;
}

inline std::string Lines(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += "  " + item + "\n";
    return text;
}

// What a whole run changed, as sorted lines "kind item".
inline std::vector<std::string> Flatten(const SimChanges &c)
{
    std::vector<std::string> items;
    const std::pair<const char *, const std::vector<std::string> *> lists[] = {
        {"key-", &c.keysRemoved}, {"key+", &c.keysAdded}, {"value-", &c.valuesRemoved},
        {"value+", &c.valuesAdded}, {"value~", &c.valuesChanged}, {"section-", &c.sectionsRemoved},
        {"section+", &c.sectionsAdded}, {"inikey-", &c.profileKeysRemoved}, {"inikey+", &c.profileKeysAdded},
        {"inikey~", &c.profileKeysChanged}, {"file-", &c.filesRemoved}, {"folder-", &c.foldersRemoved},
        {"file+", &c.filesAdded}, {"folder+", &c.foldersAdded}, {"file~", &c.filesChanged},
    };
    for (const auto &list : lists)
        for (const std::string &item : *list.second)
            items.push_back(std::string(list.first) + " " + item);
    for (const auto &added : c.linesAdded)
        for (const std::string &line : added.lines)
            items.push_back("line+ " + added.file + " " + line);
    std::sort(items.begin(), items.end());
    return items;
}

struct RunResult {
    std::vector<std::string> items;  // Flatten of the changes
    std::string report;              // SimFormatChanges
    std::vector<SimCall> calls;
    std::string openHandles;         // after the run
    std::string defaultProblem;      // DefaultPrinterProblem
};

// A default printer, WIN.INI's device= or the registry's Default value,
// that the run set to name a printer [Devices] does not list; "" when each
// is as it was, gone, or names a listed printer.
inline std::string DefaultPrinterProblem(const SimSnapshot &before, const SimSnapshot &after)
{
    auto device = [](const SimSnapshot &s) {
        auto windows = s.profile.find("WINDOWS");
        auto key = windows == s.profile.end() ? decltype(windows->second.keys.end())() : windows->second.keys.find("DEVICE");
        return windows == s.profile.end() || key == windows->second.keys.end() ? std::string("<none>") : key->second.second;
    };
    auto regDefault = [](const SimSnapshot &s) {
        auto key = s.keys.find(SimFold("HKEY_LOCAL_MACHINE\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers"));
        auto value = key == s.keys.end() ? decltype(key->second.values.end())() : key->second.values.find("DEFAULT");
        return key == s.keys.end() || value == key->second.values.end() ? std::string("<none>")
                                                                          : std::string(value->second.data.c_str());
    };
    auto listed = [&](const std::string &name) {
        auto devices = after.profile.find("DEVICES");
        return devices != after.profile.end() && devices->second.keys.count(SimFold(name));
    };
    std::string problem, was = device(before), now = device(after);
    if (now != was && now != "<none>" && !listed(now.substr(0, now.find(','))))
        problem += "device=" + now + " names no printer of [Devices]\n";
    was = regDefault(before), now = regDefault(after);
    if (now != was && now != "<none>" && !listed(now))
        problem += "the registry's Default " + now + " names no printer of [Devices]\n";
    return problem;
}

// Loads dir, lets prepare set faults, runs RunUninstall and compares the
// machine with before (by default, with itself before the run).
inline RunResult RunOn(const std::string &dir, const std::function<void()> &prepare = {},
                       const SimSnapshot *before = nullptr)
{
    RunResult result;
    std::string error;
    if (!SimLoadMachine(dir, &error)) {
        ADD_FAILURE() << "SimLoadMachine: " << error;
        return result;
    }
    SimSnapshot taken = before ? SimSnapshot() : SimTakeSnapshot();
    if (prepare)
        prepare();
    RunUninstall();
    SimWriteOutProfiles();  // the run is over
    SimSnapshot after = SimTakeSnapshot();
    SimChanges changes = SimCompareSnapshots(before ? *before : taken, after);
    result = {Flatten(changes), SimFormatChanges(changes), SimTakeCalls(), SimOpenHandles(),
              DefaultPrinterProblem(before ? *before : taken, after)};
    SimUnloadMachine();
    return result;
}

// A call that shows a phase has run (service, and the end of its subkey or
// first argument); the phases must come in this order.
const std::vector<std::vector<std::pair<const char *, const char *>>> PHASE_MARKS = {
    {{"GetVersionExA", ""}}, {{"RegFlushKey", "HKEY_LOCAL_MACHINE"}},
    {{"RegOpenKeyExA", "Enum\\Root\\printer\\0000"}}, {{"RegOpenKeyExA", "Services\\Class\\Printer\\0000"}},
    {{"GetProfileStringA", ""}}, {{"RegOpenKeyExA", "Explorer\\Shell Folders"}},
    {{"GetSystemDirectoryA", ""}}, {{"GetWindowsDirectoryA", ""}}, {{"DeleteFileA", "\\BR3232.DLL"}},
    {{"DeleteFileA", "\\BRASCORABRDUNE10.INF"}, {"FindFirstFileA", "\\oem*.inf"}, {"PlatformAlloc", "52000"}},
    {{"FileIoOpen", "\\wininit.ini"}},
};

// The first phase mark not found after the one before it, or -1.
inline int MissingPhase(const std::vector<SimCall> &calls)
{
    size_t from = 0;
    for (size_t phase = 0; phase < PHASE_MARKS.size(); phase++) {
        for (; from < calls.size(); from++) {
            const SimCall &call = calls[from];
            std::string arg = call.args.empty() ? "" : call.args[call.name == "RegOpenKeyExA" ? 1 : 0];
            bool marks = false;
            for (const auto &[service, end] : PHASE_MARKS[phase])
                marks = marks || (call.name == service && arg.size() >= strlen(end) &&
                                  arg.compare(arg.size() - strlen(end), strlen(end), end) == 0);
            if (marks)
                break;
        }
        if (from++ >= calls.size())
            return (int)phase;
    }
    return -1;
}

}  // namespace phase_support

#endif

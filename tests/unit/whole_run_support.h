// Whole runs of RunUninstall on a machine folder, and what a run changed as
// one flat, sorted list of lines ("key- HKEY_...", "file- C:\...",
// "line+ C:\WINDOWS\wininit.ini NULL=..."), so that runs can be compared
// with each other and with what a machine is expected to lose.
#ifndef TESTS_UNIT_WHOLE_RUN_SUPPORT_H
#define TESTS_UNIT_WHOLE_RUN_SUPPORT_H

#include <functional>

#include "engine.h"
#include "phase_support.h"

namespace whole_run {

namespace fs = std::filesystem;

inline std::vector<std::string> Flatten(const SimChanges &c)
{
    std::vector<std::string> items;
    const std::pair<const char *, const std::vector<std::string> *> lists[] = {
        {"key-", &c.keysRemoved},         {"key+", &c.keysAdded},
        {"value-", &c.valuesRemoved},     {"value+", &c.valuesAdded},
        {"value~", &c.valuesChanged},     {"section-", &c.sectionsRemoved},
        {"section+", &c.sectionsAdded},   {"inikey-", &c.profileKeysRemoved},
        {"inikey+", &c.profileKeysAdded}, {"inikey~", &c.profileKeysChanged},
        {"file-", &c.filesRemoved},       {"folder-", &c.foldersRemoved},
        {"file+", &c.filesAdded},         {"folder+", &c.foldersAdded},
        {"file~", &c.filesChanged},
    };
    for (const auto &list : lists)
        for (const std::string &item : *list.second)
            items.push_back(std::string(list.first) + " " + item);
    for (const auto &file : c.linesAppended)
        for (const std::string &line : file.second)
            items.push_back("line+ " + file.first + " " + line);
    std::sort(items.begin(), items.end());
    return items;
}

inline std::string Lines(const std::vector<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += "  " + item + "\n";
    return text;
}

// The items that allowed does not cover. A key removed under a key that
// allowed removes is covered (its top went in the other run).
inline std::vector<std::string> NotCovered(const std::vector<std::string> &items,
                                           const std::vector<std::string> &allowed)
{
    std::vector<std::string> extra;
    for (const std::string &item : items) {
        bool covered = std::binary_search(allowed.begin(), allowed.end(), item);
        for (size_t i = 0; !covered && i < allowed.size(); i++) {
            const std::string &a = allowed[i];
            covered = a.compare(0, 5, "key- ") == 0 && item.compare(0, 5, "key- ") == 0 &&
                      item.size() > a.size() && item[a.size()] == '\\' &&
                      phase_support::Lower(item.substr(0, a.size())) == phase_support::Lower(a);
        }
        if (!covered)
            extra.push_back(item);
    }
    return extra;
}

struct RunResult {
    std::vector<std::string> items;  // Flatten of the changes
    std::string report;              // SimFormatChanges
    std::vector<SimCall> calls;
    std::string openHandles;         // after the run
};

// Loads dir, lets prepare set faults, runs RunUninstall and compares the
// machine with before. The machine is unloaded afterwards.
inline RunResult RunOn(const fs::path &dir, const std::function<void()> &prepare = {},
                       const SimSnapshot *before = nullptr)
{
    RunResult result;
    std::string error;
    if (!SimLoadMachine(dir.string(), &error)) {
        ADD_FAILURE() << "SimLoadMachine: " << error;
        return result;
    }
    SimSnapshot taken;
    if (!before) {
        taken = SimTakeSnapshot();
        before = &taken;
    }
    if (prepare)
        prepare();
    RunUninstall();
    SimChanges changes = SimCompareSnapshots(*before, SimTakeSnapshot());
    result.items = Flatten(changes);
    result.report = SimFormatChanges(changes);
    result.calls = SimCalls();
    result.openHandles = SimOpenHandles();
    SimUnloadMachine();
    return result;
}

// The calls other than the string services, which make most of a record
// and say little about a failure.
inline std::string ServiceCallsText(const std::vector<SimCall> &calls, size_t from = 0)
{
    std::vector<SimCall> kept;
    for (size_t i = from; i < calls.size(); i++) {
        const std::string &name = calls[i].name;
        if (name != "lstrcpyA" && name != "lstrcatA" && name != "lstrcmpA" && name != "lstrlenA")
            kept.push_back(calls[i]);
    }
    return SimFormatCalls(kept);
}

}  // namespace whole_run

#endif

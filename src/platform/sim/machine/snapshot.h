// A picture of the whole simulated machine, and what changed between two.
//
// The host program prints what a run changed with it; tests use it to say
// that a run changed exactly this and nothing else:
//
//     SimSnapshot before = SimTakeSnapshot();
//     RunUninstall();
//     SimChanges changes = SimCompareSnapshots(before, SimTakeSnapshot());
//     EXPECT_EQ(expectedFiles, changes.filesRemoved) << SimFormatChanges(changes);
//
// Every list is in the order of its folded path (so a parent comes before
// its children); names and paths are shown in their stored case.
#ifndef PLATFORM_SIM_SNAPSHOT_H
#define PLATFORM_SIM_SNAPSHOT_H

#include <map>
#include <string>
#include <utility>
#include <vector>

struct SimSnapshot {
    struct Value {
        std::string name;
        unsigned long type;
        std::string data;
    };
    struct Key {
        std::string path;                    // "HKEY_LOCAL_MACHINE\Enum\Root"
        std::map<std::string, Value> values;  // by folded name
    };
    struct Section {
        std::string name;
        std::map<std::string, std::pair<std::string, std::string>> keys;  // folded -> name, value
    };
    struct File {
        std::string path;  // "C:\WINDOWS\WIN.INI"
        bool isDir;
        std::string bytes;
    };
    std::map<std::string, Key> keys;          // by folded path
    std::map<std::string, Section> profile;   // WIN.INI, by folded section name
    std::map<std::string, File> files;        // every file and folder of every drive
};

// The loaded machine as it is now (empty when none is loaded). Calls no
// service, so the call record is not touched.
SimSnapshot SimTakeSnapshot();

struct SimChanges {
    // Registry. A removed key is listed once, at the top of what went: its
    // subkeys and values are not listed again.
    std::vector<std::string> keysRemoved;
    std::vector<std::string> keysAdded;
    std::vector<std::string> valuesRemoved;  // "HKEY_...\Key "Name"" ("@" for the default)
    std::vector<std::string> valuesAdded;
    std::vector<std::string> valuesChanged;
    // WIN.INI. A removed section's keys are not listed again.
    std::vector<std::string> sectionsRemoved;  // "[Name]"
    std::vector<std::string> sectionsAdded;
    std::vector<std::string> profileKeysRemoved;  // "[Section] Key"
    std::vector<std::string> profileKeysAdded;
    std::vector<std::string> profileKeysChanged;
    // Drives. WIN.INI is listed among the changed files too when its bytes
    // changed.
    std::vector<std::string> filesRemoved;
    std::vector<std::string> foldersRemoved;
    std::vector<std::string> filesAdded;
    std::vector<std::string> foldersAdded;
    std::vector<std::string> filesChanged;
    std::vector<std::string> filesRenamed;  // "C:\WINDOWS\wininit.ini to C:\WINDOWS\WININIT.BAK"
    // The lines of text that a run added to a file, CR LF taken off: at its
    // end (or to a new file; a first line that continues the file's last
    // line is shown as it was appended), or all together before one of its
    // lines, every other line staying as it was. A renamed file's are
    // listed under its new name. Lines that were there are never listed.
    struct LinesAdded {
        std::string file;
        std::string before;  // the line they went before; "" at the end
        std::vector<std::string> lines;
    };
    std::vector<LinesAdded> linesAdded;
    // What a changed or added WIN.INI key or string value now holds, by its
    // item above ("[windows] device" -> "=OSTRALIS Jet 400,OSJET4,LPT2:"):
    // shown in the report after the item.
    std::map<std::string, std::string> nowHolds;

    bool Empty() const;
};

// renamed: files known to have been renamed (from, to), as the next start
// reports them: each is one file that changed its name, not one removed
// and one added.
SimChanges SimCompareSnapshots(const SimSnapshot &before, const SimSnapshot &after,
                               const std::vector<std::pair<std::string, std::string>> &renamed = {});

// The changes as a report, one heading per non-empty list; "No changes."
// when there are none.
std::string SimFormatChanges(const SimChanges &changes);

#endif

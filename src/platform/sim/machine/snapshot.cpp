// Whole-machine snapshots and their comparison.
#include "machine/snapshot.h"

#include "core/core.h"
#include "drives/drives.h"
#include "profile/profile.h"
#include "registry/registry.h"

namespace {

void AddKeys(const SimRegKey *key, const std::string &path, SimSnapshot *snapshot)
{
    SimSnapshot::Key &entry = snapshot->keys[SimFold(path)];
    entry.path = path;
    for (const SimRegValue &value : key->values)
        entry.values[SimFold(value.name)] = SimSnapshot::Value{value.name, value.type, value.data};
    for (const auto &child : key->subkeys)
        AddKeys(child.get(), path + "\\" + child->name, snapshot);
}

void AddFiles(const std::string &host, const std::string &path, SimSnapshot *snapshot)
{
    for (const SimDirEntry &entry : SimListDir(host)) {
        std::string child = path + entry.name;
        SimSnapshot::File &file = snapshot->files[SimFold(child)];
        file.path = child;
        file.isDir = entry.isDir;
        if (entry.isDir)
            AddFiles(host + "/" + entry.name, child + "\\", snapshot);
        else
            SimReadHostFile(host + "/" + entry.name, &file.bytes);
    }
}

std::string ValueText(const std::string &keyPath, const std::string &name)
{
    return keyPath + " " + (name.empty() ? std::string("@") : "\"" + name + "\"");
}

// item, noting what a string value that ends in its NUL now holds.
std::string Holding(const std::string &item, const SimSnapshot::Value &value, SimChanges *changes)
{
    const std::string &data = value.data;
    if (value.type == REG_SZ && !data.empty() && data.find('\0') == data.size() - 1)
        changes->nowHolds[item] = "=\"" + data.substr(0, data.size() - 1) + "\"";
    return item;
}

// The key's parent path in folded form ("" for a root).
std::string ParentOf(const std::string &folded)
{
    size_t slash = folded.rfind('\\');
    return slash == std::string::npos ? "" : folded.substr(0, slash);
}

bool StartsWith(const std::string &text, const std::string &prefix)
{
    return text.size() >= prefix.size() && text.compare(0, prefix.size(), prefix) == 0;
}

// The bytes a file gained at its end, when its old content (less one
// trailing 0x1A, which an append cuts) is still its beginning.
bool Appended(const std::string &before, const std::string &after, std::string *added)
{
    std::string kept = before;
    if (!StartsWith(after, kept)) {
        if (kept.empty() || kept.back() != '\x1A')
            return false;
        kept.pop_back();
        if (!StartsWith(after, kept))
            return false;
    }
    *added = after.substr(kept.size());
    return !added->empty() && added->find('\0') == std::string::npos;
}

std::vector<std::string> Lines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos
                                                                       : end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

void CompareRegistry(const SimSnapshot &before, const SimSnapshot &after, SimChanges *changes)
{
    for (const auto &key : before.keys) {
        auto now = after.keys.find(key.first);
        if (now == after.keys.end()) {
            std::string parent = ParentOf(key.first);
            if (parent.empty() || after.keys.count(parent))
                changes->keysRemoved.push_back(key.second.path);
            continue;
        }
        for (const auto &value : key.second.values) {
            auto current = now->second.values.find(value.first);
            if (current == now->second.values.end())
                changes->valuesRemoved.push_back(ValueText(key.second.path, value.second.name));
            else if (current->second.type != value.second.type ||
                     current->second.data != value.second.data)
                changes->valuesChanged.push_back(Holding(ValueText(key.second.path, value.second.name),
                                                         current->second, changes));
        }
        for (const auto &value : now->second.values) {
            if (!key.second.values.count(value.first))
                changes->valuesAdded.push_back(
                    Holding(ValueText(key.second.path, value.second.name), value.second, changes));
        }
    }
    for (const auto &key : after.keys) {
        if (!before.keys.count(key.first))
            changes->keysAdded.push_back(key.second.path);
    }
}

void CompareProfile(const SimSnapshot &before, const SimSnapshot &after, SimChanges *changes)
{
    for (const auto &section : before.profile) {
        auto now = after.profile.find(section.first);
        if (now == after.profile.end()) {
            changes->sectionsRemoved.push_back("[" + section.second.name + "]");
            continue;
        }
        std::string prefix = "[" + section.second.name + "] ";
        for (const auto &key : section.second.keys) {
            auto current = now->second.keys.find(key.first);
            if (current == now->second.keys.end()) {
                changes->profileKeysRemoved.push_back(prefix + key.second.first);
            } else if (current->second.second != key.second.second) {
                changes->profileKeysChanged.push_back(prefix + key.second.first);
                changes->nowHolds[prefix + key.second.first] = "=" + current->second.second;
            }
        }
        for (const auto &key : now->second.keys) {
            if (!section.second.keys.count(key.first)) {
                changes->profileKeysAdded.push_back(prefix + key.second.first);
                changes->nowHolds[prefix + key.second.first] = "=" + key.second.second;
            }
        }
    }
    for (const auto &section : after.profile) {
        if (!before.profile.count(section.first))
            changes->sectionsAdded.push_back("[" + section.second.name + "]");
    }
}

// Lines with their ends, as the file holds them.
std::vector<std::string> RawLines(const std::string &text)
{
    std::vector<std::string> lines;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

// What a run added to a file that was before and is after: at its end, or
// a run of whole lines before one of its lines. False when it changed
// otherwise.
bool Added(const std::string &path, const std::string &before, const std::string &after,
           SimChanges *changes)
{
    std::string added;
    if (Appended(before, after, &added)) {
        changes->linesAdded.push_back({path, "", Lines(added)});
        return true;
    }
    std::vector<std::string> old = RawLines(before), now = RawLines(after);
    size_t head = 0, tail = 0;
    while (head < old.size() && head < now.size() && old[head] == now[head])
        head++;
    while (tail < old.size() - head && tail < now.size() - head &&
           old[old.size() - 1 - tail] == now[now.size() - 1 - tail])
        tail++;
    if (head + tail != old.size() || now.size() <= old.size())
        return false;
    std::string lines;
    for (size_t i = head; i < now.size() - tail; i++)
        lines += now[i];
    if (lines.find('\0') != std::string::npos)
        return false;
    std::vector<std::string> next = head < old.size() ? Lines(old[head]) : std::vector<std::string>();
    changes->linesAdded.push_back({path, next.empty() ? "" : next[0], Lines(lines)});
    return true;
}

void CompareFiles(const SimSnapshot &before, const SimSnapshot &after,
                  const std::vector<std::pair<std::string, std::string>> &renamed, SimChanges *changes)
{
    // A renamed file is compared with itself under its new name.
    std::map<std::string, std::string> newName, oldName;  // folded
    for (const auto &[from, to] : renamed) {
        auto was = before.files.find(SimFold(from)), is = after.files.find(SimFold(to));
        if (was != before.files.end() && !was->second.isDir && is != after.files.end() &&
            !after.files.count(SimFold(from))) {
            newName[was->first] = is->first;
            oldName[is->first] = was->first;
            changes->filesRenamed.push_back(was->second.path + " to " + is->second.path);
        }
    }
    for (const auto &file : before.files) {
        auto renamedTo = newName.find(file.first);
        auto now = after.files.find(renamedTo == newName.end() ? file.first : renamedTo->second);
        if (now == after.files.end()) {
            (file.second.isDir ? changes->foldersRemoved : changes->filesRemoved)
                .push_back(file.second.path);
        } else if (now->second.isDir != file.second.isDir ||
                   now->second.bytes != file.second.bytes) {
            if (renamedTo == newName.end())
                changes->filesChanged.push_back(file.second.path);
            if (!now->second.isDir && !file.second.isDir)
                Added(now->second.path, file.second.bytes, now->second.bytes, changes);
        }
    }
    for (const auto &file : after.files) {
        if (before.files.count(file.first) || oldName.count(file.first))
            continue;
        (file.second.isDir ? changes->foldersAdded : changes->filesAdded)
            .push_back(file.second.path);
        std::string added;
        if (!file.second.isDir && Appended("", file.second.bytes, &added))
            changes->linesAdded.push_back({file.second.path, "", Lines(added)});
    }
}

void FormatList(std::string *out, const std::string &heading,
                const std::vector<std::string> &items, const std::map<std::string, std::string> &holds = {})
{
    if (items.empty())
        return;
    *out += heading + " (" + std::to_string(items.size()) + "):\n";
    for (const std::string &item : items) {
        auto now = holds.find(item);
        *out += "  " + item + (now == holds.end() ? "" : now->second) + "\n";
    }
}

}  // namespace

SimSnapshot SimTakeSnapshot()
{
    SimSnapshot snapshot;
    if (!SimMachine().loaded)
        return snapshot;
    for (int i = 0; i < SimRegRootCount(); i++)
        AddKeys(SimRegRoot(i), SimRegRootName(i), &snapshot);

    SimPath path;
    std::string text;
    if (SimResolve(SimProfilePath().c_str(), &path) == ERROR_SUCCESS && path.exists &&
        !path.isDir && SimReadHostFile(path.host, &text)) {
        for (const SimProfileSection &section : SimParseProfile(text)) {
            SimSnapshot::Section &entry = snapshot.profile[SimFold(section.name)];
            entry.name = section.name;
            for (const auto &key : section.keys)
                entry.keys[SimFold(key.first)] = key;
        }
    }

    std::string drives = SimMachine().dir + "/drives";
    for (const SimDirEntry &drive : SimListDir(drives)) {
        if (drive.isDir && drive.name.size() == 1)
            AddFiles(drives + "/" + drive.name, SimFold(drive.name) + ":\\", &snapshot);
    }
    return snapshot;
}

bool SimChanges::Empty() const
{
    return keysRemoved.empty() && keysAdded.empty() && valuesRemoved.empty() &&
           valuesAdded.empty() && valuesChanged.empty() && sectionsRemoved.empty() &&
           sectionsAdded.empty() && profileKeysRemoved.empty() && profileKeysAdded.empty() &&
           profileKeysChanged.empty() && filesRemoved.empty() && foldersRemoved.empty() &&
           filesAdded.empty() && foldersAdded.empty() && filesChanged.empty() && filesRenamed.empty();
}

SimChanges SimCompareSnapshots(const SimSnapshot &before, const SimSnapshot &after,
                               const std::vector<std::pair<std::string, std::string>> &renamed)
{
    SimChanges changes;
    CompareRegistry(before, after, &changes);
    CompareProfile(before, after, &changes);
    CompareFiles(before, after, renamed, &changes);
    return changes;
}

std::string SimFormatChanges(const SimChanges &changes)
{
    if (changes.Empty())
        return "No changes.\n";
    std::string out;
    FormatList(&out, "Registry keys removed", changes.keysRemoved);
    FormatList(&out, "Registry keys added", changes.keysAdded);
    FormatList(&out, "Registry values removed", changes.valuesRemoved);
    FormatList(&out, "Registry values added", changes.valuesAdded, changes.nowHolds);
    FormatList(&out, "Registry values changed", changes.valuesChanged, changes.nowHolds);
    FormatList(&out, "WIN.INI sections removed", changes.sectionsRemoved);
    FormatList(&out, "WIN.INI sections added", changes.sectionsAdded);
    FormatList(&out, "WIN.INI keys removed", changes.profileKeysRemoved);
    FormatList(&out, "WIN.INI keys added", changes.profileKeysAdded, changes.nowHolds);
    FormatList(&out, "WIN.INI keys changed", changes.profileKeysChanged, changes.nowHolds);
    FormatList(&out, "Files deleted", changes.filesRemoved);
    FormatList(&out, "Folders deleted", changes.foldersRemoved);
    FormatList(&out, "Files added", changes.filesAdded);
    FormatList(&out, "Folders added", changes.foldersAdded);
    FormatList(&out, "Files changed", changes.filesChanged);
    FormatList(&out, "Files renamed", changes.filesRenamed);
    for (const auto &added : changes.linesAdded) {
        std::string heading = "Lines added to " + added.file + " (" + std::to_string(added.lines.size()) + ")";
        out += heading + (added.before.empty() ? "" : ", before " + added.before) + ":\n";
        for (const std::string &line : added.lines)
            out += "  " + line + "\n";
    }
    return out;
}

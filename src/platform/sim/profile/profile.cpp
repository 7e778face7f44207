// The profile services: WIN.INI in the Windows directory
// (GetProfileStringA, WriteProfileStringA) and any other .ini file
// (WritePrivateProfileStringA), through the cache Windows 9x keeps.
//
// The cache (docs/machine-format.md, with its anchors): the text of WIN.INI,
// and of the one other file used last, held in memory. A write changes only
// the copy; the copy goes to the disk when a flush call (all of section,
// key and value NULL) names it, when a profile call uses another file in
// its place, at a restart request, and when a run ends; a power cut loses
// it. A flush also empties the slot, so the next call reads the disk again.
// Nothing says Windows 9x looks at the file's time before it uses or
// writes out its copy, so it does not: the worse case, where a copy
// written out replaces whatever the disk holds.
//
// The profile rules kept: section and key names compare case-insensitively;
// blanks around a name or a value are not part of it, and a value enclosed
// in quotes loses them; the first section of a name, and its first key of
// a name, are the ones read and changed; a missing key gives the default,
// without its trailing blanks; a value longer than the buffer is cut to
// nSize-1 characters and still ends in a NUL; a missing file is an empty
// profile, and a deletion from it creates nothing.
//
// A deletion takes out exactly the lines it removes: a key's line, or a
// section's header and every line up to the next header. Every other byte
// of the file, line ends included, stays as it was.
#include <cstring>

#include "core/core.h"
#include "drives/drives.h"
#include "profile/profile.h"
#include "sim.h"

namespace {

struct Line {
    size_t start;    // first byte
    size_t end;      // end of the content, before CR LF or LF
    size_t next;     // first byte of the next line
    bool isSection;
    bool isKey;
    std::string name;   // section or key name
    std::string value;  // a key's value, as read
};

std::vector<Line> SplitLines(const std::string &text)
{
    std::vector<Line> lines;
    size_t start = 0;
    while (start < text.size()) {
        Line line{start, text.size(), text.size(), false, false, "", ""};
        size_t newline = text.find('\n', start);
        if (newline != std::string::npos) {
            line.end = newline;
            line.next = newline + 1;
        }
        if (line.end > start && text[line.end - 1] == '\r')
            line.end--;
        std::string content = SimTrim(text.substr(start, line.end - start));
        if (!content.empty() && content[0] == '[') {
            line.isSection = true;
            size_t close = content.find(']');
            line.name = SimTrim(content.substr(1, close == std::string::npos ? std::string::npos
                                                                                 : close - 1));
        } else if (!content.empty() && content[0] != ';') {
            size_t equals = content.find('=');
            if (equals != std::string::npos && equals > 0) {
                line.isKey = true;
                line.name = SimTrim(content.substr(0, equals));
                line.value = SimTrim(content.substr(equals + 1));
                size_t n = line.value.size();
                if (n >= 2 && (line.value[0] == '"' || line.value[0] == '\'') &&
                    line.value[n - 1] == line.value[0])
                    line.value = line.value.substr(1, n - 2);
            }
        }
        lines.push_back(line);
        start = line.next;
    }
    return lines;
}

// The first section of the name: its header line, and the line after its
// last line.
bool FindSection(const std::vector<Line> &lines, const std::string &name, size_t *header,
                 size_t *after)
{
    for (size_t i = 0; i < lines.size(); i++) {
        if (lines[i].isSection && SimSameText(lines[i].name, name)) {
            size_t j = i + 1;
            while (j < lines.size() && !lines[j].isSection)
                j++;
            *header = i;
            *after = j;
            return true;
        }
    }
    return false;
}

bool FindKey(const std::vector<Line> &lines, size_t header, size_t after, const std::string &name,
             size_t *found)
{
    for (size_t i = header + 1; i < after; i++) {
        if (lines[i].isKey && SimSameText(lines[i].name, name)) {
            *found = i;
            return true;
        }
    }
    return false;
}

// One slot of the cache: a file's text as the profile calls see it.
struct Cached {
    std::string key;   // the file's folded path; "" when the slot is empty
    std::string file;  // its path as first named
    std::string text;
    bool dirty = false;
    std::vector<Line> lines;  // text split, once split is set
    bool split = false;
};

// The copy's lines: split once for each text it holds (the tests make
// hundreds of thousands of calls on one text).
const std::vector<Line> &LinesOf(Cached &slot)
{
    if (!slot.split) {
        slot.lines = SplitLines(slot.text);
        slot.split = true;
    }
    return slot.lines;
}

void SetText(Cached &slot, const std::string &text)
{
    slot.text = text;
    slot.split = false;
}

Cached g_winIni;   // WIN.INI
Cached g_private;  // the other file used last

// The copy to the disk, if it changed, and the slot emptied. A file that
// became a folder, busy or read-only meanwhile keeps what it holds.
void WriteOut(Cached &slot)
{
    SimPath path;
    if (slot.dirty && SimResolve(slot.file.c_str(), &path) == ERROR_SUCCESS &&
        !(path.exists && (path.isDir || SimIsBusy(path) || SimIsReadOnly(path)))) {
        SimWriteHostFile(path.host, slot.text);
        SimFolderChanged(path.host);
    }
    slot = Cached();
}

// The slot that holds file (a program path) once loaded, its copy read
// from the disk when the slot held another file; null when the path names
// nothing a file can be.
Cached *Load(const std::string &file, long *error)
{
    // A file the cache holds is not looked for on the disk again.
    std::string key;
    bool keyed = SimPathKey(file, &key);
    for (Cached *slot : {&g_winIni, &g_private})
        if (keyed && !slot->key.empty() && slot->key == key) {
            *error = ERROR_SUCCESS;
            return slot;
        }
    SimPath path, winIni;
    *error = SimResolve(file.c_str(), &path);
    if (*error != ERROR_SUCCESS)
        return nullptr;
    bool system = SimResolve(SimProfilePath().c_str(), &winIni) == ERROR_SUCCESS && winIni.key == path.key;
    Cached &slot = system ? g_winIni : g_private;
    if (slot.key != path.key) {
        WriteOut(slot);
        if (path.exists && !path.isDir)
            SimReadHostFile(path.host, &slot.text);
        slot.split = false;
        slot.key = path.key;
        slot.file = file;
    }
    return &slot;
}

// Copies a double-NUL list of names into the caller's buffer (size is not
// 0). A list that does not fit comes back as Windows 9x cuts it (Wine's
// profile.c, its Win9x cases), with the count nSize-2 all the same: a list
// of sections without the name that would not fit whole, a list of keys
// with its last name cut to end two bytes before the buffer does.
DWORD CopyList(const std::string &list, LPSTR buffer, DWORD size, bool sections)
{
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = 0;
        return (DWORD)list.size();
    }
    // No room for a name: only the NULs, as many as fit.
    if (size < 3) {
        std::memset(buffer, 0, size);
        return 0;
    }
    size_t kept = size - 3;
    if (sections) {
        size_t end = list.rfind('\0', size - 3);
        kept = end == std::string::npos ? 0 : end + 1;
    }
    std::memcpy(buffer, list.data(), kept);
    buffer[kept] = 0;
    if (kept + 1 < size)
        buffer[kept + 1] = 0;
    return size - 2;
}

DWORD ReadString(const std::vector<Line> &lines, LPCSTR app, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size)
{
    size_t header = 0, after = 0, found = 0;
    if (!app) {
        std::string list;
        for (const Line &line : lines) {
            if (line.isSection)
                list += line.name + '\0';
        }
        return CopyList(list, buffer, size, true);
    }
    bool hasSection = FindSection(lines, app, &header, &after);
    if (!key) {
        std::string list;
        for (size_t i = header + 1; hasSection && i < after; i++) {
            if (lines[i].isKey)
                list += lines[i].name + '\0';
        }
        return CopyList(list, buffer, size, false);
    }
    std::string value;
    if (hasSection && FindKey(lines, header, after, key, &found)) {
        value = lines[found].value;
    } else {
        value = def ? def : "";
        while (!value.empty() && (value.back() == ' ' || value.back() == '\t'))
            value.pop_back();
    }
    size_t length = value.size() < size - 1 ? value.size() : size - 1;
    std::memcpy(buffer, value.data(), length);
    buffer[length] = 0;
    return (DWORD)length;
}

// The write on the cached copy of file.
long WriteString(const std::string &file, LPCSTR app, LPCSTR key, LPCSTR string)
{
    long error;
    Cached *slot = Load(file, &error);
    if (!slot)
        return key && string ? error : ERROR_SUCCESS;  // nothing to delete
    const std::string &text = slot->text;
    const std::vector<Line> &lines = LinesOf(*slot);
    size_t header = 0, after = 0, found = 0;
    bool hasSection = FindSection(lines, app, &header, &after);
    std::string changed = text;
    if (!key) {
        if (!hasSection)
            return ERROR_SUCCESS;
        size_t end = after < lines.size() ? lines[after].start : text.size();
        changed.erase(lines[header].start, end - lines[header].start);
    } else if (!string) {
        if (!hasSection || !FindKey(lines, header, after, key, &found))
            return ERROR_SUCCESS;
        changed.erase(lines[found].start, lines[found].next - lines[found].start);
    } else {
        std::string entry = std::string(key) + "=" + string;
        if (hasSection && FindKey(lines, header, after, key, &found)) {
            changed.replace(lines[found].start, lines[found].end - lines[found].start, entry);
        } else if (hasSection) {
            size_t last = header;
            for (size_t i = header + 1; i < after; i++) {
                if (lines[i].isKey)
                    last = i;
            }
            std::string insert = entry + "\r\n";
            if (lines[last].next == lines[last].end)
                insert = "\r\n" + insert;  // the file's last line had no line end
            changed.insert(lines[last].next, insert);
        } else {
            if (!changed.empty() && changed.back() != '\n')
                changed += "\r\n";
            changed += "[" + std::string(app) + "]\r\n" + entry + "\r\n";
        }
    }
    // What cannot be written to the file is not taken into its copy.
    SimPath path;
    SimResolve(file.c_str(), &path);
    if (path.exists && path.isDir)
        return ERROR_ACCESS_DENIED;
    if (path.exists && SimIsBusy(path))
        return ERROR_SHARING_VIOLATION;
    if (path.exists && SimIsReadOnly(path))
        return ERROR_ACCESS_DENIED;
    SetText(*slot, changed);
    slot->dirty = true;
    return ERROR_SUCCESS;
}

// A flush of file: its copy written out, and its slot emptied. It reports
// FALSE, as Windows 95's does after flushing.
long Flush(const std::string &file)
{
    SimPath path;
    if (SimResolve(file.c_str(), &path) == ERROR_SUCCESS) {
        for (Cached *slot : {&g_winIni, &g_private})
            if (slot->key == path.key)
                WriteOut(*slot);
    }
    return ERROR_INVALID_PARAMETER;
}

// A restart request writes out the cache, as the shutdown does.
const bool g_shutdownWrites = (SimOnRestart(SimWriteOutProfiles), true);

// A private profile's path: a name without a folder is in the Windows
// directory.
std::string PrivatePath(LPCSTR file)
{
    std::string path = file;
    return path.find('\\') == std::string::npos && path.find(':') == std::string::npos
               ? SimMachine().windowsDir + "\\" + path
               : path;
}

}  // namespace

std::string SimProfilePath()
{
    return SimMachine().windowsDir + "\\WIN.INI";
}

std::vector<SimProfileSection> SimParseProfile(const std::string &text)
{
    std::vector<SimProfileSection> sections;
    std::vector<Line> lines = SplitLines(text);
    for (size_t i = 0; i < lines.size(); i++) {
        if (!lines[i].isSection)
            continue;
        bool seen = false;
        for (const SimProfileSection &section : sections)
            seen = seen || SimSameText(section.name, lines[i].name);
        if (seen)
            continue;
        SimProfileSection section{lines[i].name, {}};
        for (size_t j = i + 1; j < lines.size() && !lines[j].isSection; j++) {
            if (!lines[j].isKey)
                continue;
            bool known = false;
            for (const auto &key : section.keys)
                known = known || SimSameText(key.first, lines[j].name);
            if (!known)
                section.keys.push_back({lines[j].name, lines[j].value});
        }
        sections.push_back(section);
    }
    return sections;
}

DWORD WINAPI GetProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize)
{
    long error;
    DWORD result = 0;
    std::string returned;
    if (SimFault("GetProfileStringA", &error)) {
        if (lpReturnedString && nSize)
            lpReturnedString[0] = 0;
    } else if (lpReturnedString && nSize) {
        Cached *slot = Load(SimProfilePath(), &error);
        // Both sides lvalues: a temporary on one side would copy the lines.
        static const std::vector<Line> none;
        result = ReadString(slot ? LinesOf(*slot) : none, lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize);
        // A list keeps its inner NULs in the record.
        returned.assign(lpReturnedString, result);
    }
    SimRecord("GetProfileStringA",
              {SimArgText(lpAppName), SimArgText(lpKeyName), SimArgText(lpDefault),
               lpReturnedString ? returned : "NULL", SimNumberText(nSize)},
              (long)result);
    return result;
}

BOOL WINAPI WriteProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString)
{
    long error;
    if (!SimFault("WriteProfileStringA", &error)) {
        if (!lpAppName)
            error = lpKeyName || lpString ? ERROR_INVALID_PARAMETER : Flush(SimProfilePath());
        else
            error = WriteString(SimProfilePath(), lpAppName, lpKeyName, lpString);
    }
    return SimBooleanResult("WriteProfileStringA",
                            {SimArgText(lpAppName), SimArgText(lpKeyName), SimArgText(lpString)},
                            error);
}

BOOL WINAPI WritePrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpString,
                                       LPCSTR lpFileName)
{
    long error;
    if (!SimFault("WritePrivateProfileStringA", &error)) {
        if (!lpFileName || !*lpFileName)
            error = ERROR_INVALID_PARAMETER;
        else if (!lpAppName)
            error = lpKeyName || lpString ? ERROR_INVALID_PARAMETER : Flush(PrivatePath(lpFileName));
        else
            error = WriteString(PrivatePath(lpFileName), lpAppName, lpKeyName, lpString);
    }
    return SimBooleanResult("WritePrivateProfileStringA",
                            {SimArgText(lpAppName), SimArgText(lpKeyName), SimArgText(lpString),
                             SimArgText(lpFileName)},
                            error);
}

void SimWriteOutProfiles()
{
    WriteOut(g_winIni);
    WriteOut(g_private);
}

void SimLoseProfiles()
{
    g_winIni = Cached();
    g_private = Cached();
}

std::string SimCachedProfile()
{
    std::string held;
    for (const Cached *slot : {&g_winIni, &g_private})
        if (slot->dirty)
            held += slot->file + "\n" + slot->text;
    return held;
}

void SimSetCachedProfile(const std::string &file, const std::string &text)
{
    long error;
    if (Cached *slot = Load(file, &error)) {
        SetText(*slot, text);
        slot->dirty = true;
    }
}

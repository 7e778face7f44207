// The system profile: WIN.INI in the Windows directory, read and written
// at once by GetProfileStringA and WriteProfileStringA.
//
// The profile rules kept: section and key names compare case-insensitively;
// blanks around a name or a value are not part of it, and a value enclosed
// in quotes loses them; the first section of a name, and its first key of
// a name, are the ones read and changed; a missing key gives the default,
// without its trailing blanks; a value longer than the buffer is cut to
// nSize-1 characters and still ends in a NUL; a missing WIN.INI is an empty
// profile, and a deletion from it creates nothing.
//
// A deletion takes out exactly the lines it removes: a key's line, or a
// section's header and every line up to the next header. Every other byte
// of the file, line ends included, stays as it was.
#include <cstring>

#include "core/core.h"
#include "drives/drives.h"
#include "profile/profile.h"

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

bool ReadProfile(SimPath *path, std::string *text)
{
    text->clear();
    if (SimResolve(SimProfilePath().c_str(), path) != ERROR_SUCCESS)
        return false;
    if (path->exists && !path->isDir)
        SimReadHostFile(path->host, text);
    return true;
}

// Copies a double-NUL list of names into the caller's buffer. A list that
// does not fit comes back as Windows 9x cuts it (Wine's profile.c, its
// Win9x cases), with the count nSize-2 all the same: a list of sections
// without the name that would not fit whole, a list of keys with its last
// name cut to end two bytes before the buffer does.
DWORD CopyList(const std::string &list, LPSTR buffer, DWORD size, bool sections)
{
    if (size == 1) {
        buffer[0] = 0;
        return 0;
    }
    if (list.size() + 1 <= size) {
        std::memcpy(buffer, list.data(), list.size());
        buffer[list.size()] = 0;
        return (DWORD)list.size();
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

DWORD ReadString(LPCSTR app, LPCSTR key, LPCSTR def, LPSTR buffer, DWORD size)
{
    SimPath path;
    std::string text;
    ReadProfile(&path, &text);
    std::vector<Line> lines = SplitLines(text);
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

long WriteString(LPCSTR app, LPCSTR key, LPCSTR string)
{
    if (!app)
        return key || string ? ERROR_INVALID_PARAMETER : ERROR_SUCCESS;  // a flush
    SimPath path;
    std::string text;
    if (!ReadProfile(&path, &text))
        return key && string ? ERROR_PATH_NOT_FOUND : ERROR_SUCCESS;  // nothing to delete
    std::vector<Line> lines = SplitLines(text);
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
    if (path.exists && path.isDir)
        return ERROR_ACCESS_DENIED;
    if (path.exists && SimIsBusy(path))
        return ERROR_SHARING_VIOLATION;
    if (path.exists && SimIsReadOnly(path))
        return ERROR_ACCESS_DENIED;
    return SimWriteHostFile(path.host, changed) ? ERROR_SUCCESS : ERROR_ACCESS_DENIED;
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
        result = ReadString(lpAppName, lpKeyName, lpDefault, lpReturnedString, nSize);
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
    if (!SimFault("WriteProfileStringA", &error))
        error = WriteString(lpAppName, lpKeyName, lpString);
    return SimBooleanResult("WriteProfileStringA",
                            {SimArgText(lpAppName), SimArgText(lpKeyName), SimArgText(lpString)},
                            error);
}

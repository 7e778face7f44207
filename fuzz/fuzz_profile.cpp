// The simulated machine's WIN.INI on arbitrary bytes. Deleting a key takes
// out the key's one line, or nothing when GetProfileStringA did not find
// the key; deleting a section takes out its header and the lines up to the
// next header, or nothing when there is no header of that name. Every other
// byte stays. A read, of a value or of a list of names, stays inside its
// buffer whatever its size, 0 included, and ends in a NUL when it has room.
//
// Input: operation (0 delete a key, 1 delete a section, 2 read a value,
// 3 read a list of names), buffer size, section and key as counted texts,
// then WIN.INI's bytes.
#include <vector>

#include "core/core.h"
#include "fuzz_machine.h"

namespace {

// Lines with their line ends, as the profile splits them.
std::vector<std::string> SplitLines(const std::string &text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        end = end == std::string::npos ? text.size() : end + 1;
        lines.push_back(text.substr(start, end - start));
        start = end;
    }
    return lines;
}

std::string Trimmed(const std::string &line)
{
    return SimTrim(line, " \t\r\n");
}

bool IsHeader(const std::string &line)
{
    std::string t = Trimmed(line);
    return !t.empty() && t[0] == '[';
}

std::string HeaderName(const std::string &line)
{
    std::string t = Trimmed(line);
    size_t close = t.find(']');
    return SimTrim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MachineBuilder &machine = FuzzMachine();
    FuzzInput input(data, size);
    unsigned op = input.Byte() % 4;
    unsigned bufferSize = input.Byte();
    std::string section = NoNul(input.Counted());
    std::string key = NoNul(input.Counted());
    std::string before = input.Rest();
    machine.File("C:\\WINDOWS\\WIN.INI", before);
    SimClearCalls();

    if (op >= 2) {
        // Every size from 0 up, the small ones most often: sentinel bytes
        // after the buffer show a write past it, and ASan one far past it.
        unsigned n = bufferSize < 128 ? bufferSize % 8 : bufferSize;
        std::vector<char> buffer(n + 8, '\xA5');
        const char *app = section.empty() && op == 3 ? nullptr : section.c_str();
        const char *name = op == 3 && app ? nullptr : key.c_str();
        DWORD got = GetProfileStringA(app, name, "default", buffer.data(), n);
        for (unsigned i = n; i < n + 8; i++)
            FUZZ_CHECK(buffer[i] == '\xA5', "written past a buffer of %u", n);
        // A value ends at its count; a list, cut or not, at an empty name,
        // each name before it ending in the buffer.
        std::string held(buffer.data(), n);
        size_t end = 0;
        while (end < n && held[end] && held.find('\0', end) != std::string::npos)
            end = held.find('\0', end) + 1;
        bool ended = app && name ? got < n && buffer[got] == 0 : end < n && buffer[end] == 0;
        FUZZ_CHECK(n ? ended && got < n : got == 0, "%lu characters, not ended, in a buffer of %u", (unsigned long)got,
                   n);
        return 0;
    }

    // Whether the key is there, as the reader sees it: LF is never part of
    // a value, so this default cannot be one.
    char value[256];
    bool keyFound = false;
    if (op == 0) {
        GetProfileStringA(section.c_str(), key.c_str(), "\n", value, sizeof value);
        keyFound = std::string(value) != "\n";
    }
    FUZZ_CHECK(WriteProfileStringA(section.c_str(), op == 0 ? key.c_str() : nullptr, nullptr),
               "a deletion from a writable WIN.INI failed");
    WriteProfileStringA(nullptr, nullptr, nullptr);  // the cache's copy to the disk
    std::string after = machine.Read("C:\\WINDOWS\\WIN.INI");

    std::vector<std::string> was = SplitLines(before), now = SplitLines(after);
    FUZZ_CHECK(now.size() <= was.size(), "lines were added");
    size_t removed = was.size() - now.size();
    // Where the removed lines can have been: after a common beginning of
    // head lines, before a common end. Repeated lines allow more than one
    // place; one of them must be the key's line or the section.
    size_t prefix = 0, suffix = 0;
    while (prefix < now.size() && was[prefix] == now[prefix])
        prefix++;
    while (suffix < now.size() && was[was.size() - 1 - suffix] == now[now.size() - 1 - suffix])
        suffix++;
    FUZZ_CHECK(prefix + suffix >= now.size(), "bytes other than whole lines changed:\n%s\n---\n%s",
               Shown(before).c_str(), Shown(after).c_str());

    bool sectionFound = false;
    for (const std::string &line : was)
        sectionFound = sectionFound || (IsHeader(line) && SimSameText(HeaderName(line), section));
    if (op == 0)
        FUZZ_CHECK(removed == (keyFound ? 1u : 0u), "%zu lines removed for a key %s", removed,
                   keyFound ? "found" : "not found");
    else
        FUZZ_CHECK((removed > 0) == sectionFound, "%zu lines removed, section %s", removed,
                   sectionFound ? "there" : "missing");
    if (!removed)
        return 0;
    bool fits = false;
    for (size_t head = now.size() - std::min(suffix, now.size()); head <= prefix && !fits; head++) {
        if (op == 0) {
            std::string line = Trimmed(was[head]);
            size_t equals = line.find('=');
            fits = !line.empty() && !IsHeader(line) && line[0] != ';' && equals != std::string::npos &&
                   equals > 0 && SimSameText(SimTrim(line.substr(0, equals)), key);
        } else {
            fits = IsHeader(was[head]) && SimSameText(HeaderName(was[head]), section) &&
                   (head + removed == was.size() || IsHeader(was[head + removed]));
            for (size_t i = head + 1; fits && i < head + removed; i++)
                fits = !IsHeader(was[i]);
        }
    }
    FUZZ_CHECK(fits, "the lines removed are not the %s:\n%s\n---\n%s", op == 0 ? "key's" : "section",
               Shown(before).c_str(), Shown(after).c_str());
    return 0;
}

// ScheduleRestartDeletions on whatever WININIT.INI holds: when its first
// [rename] section is followed by another section, the new lines stand just
// before that section's header and every other byte is as it was;
// otherwise the file is its old content, less one 0x1A that ended it, then
// a line end when that content ends inside a line, a "[rename]" header when
// its last section is not [rename] (or it has none), then exactly the new
// lines, each LF of a line written as CR LF; a line too long for the
// program's buffer is left out whole. An empty system directory writes
// nothing. Nothing stays open.
//
// Input: flags (bit 0: the file exists), the system directory as a counted
// text, then the file's old bytes.
#include <cctype>

#include "engine.h"
#include "fuzz_machine.h"

namespace {

std::string LineBytes(const std::string &line)
{
    std::string out;
    for (char c : line)
        out += c == '\n' ? std::string("\r\n") : std::string(1, c);
    return out + "\r\n";
}

// Whether the last line that starts, after blanks (CR among them), with '[' starts with
// "[rename]" in any case; false when there is no such line. *insertAt: the
// start of the first header line after the first [rename] one, or npos.
bool LastSectionIsRename(const std::string &text, size_t *insertAt)
{
    bool rename = false, seen = false;
    *insertAt = std::string::npos;
    for (size_t start = 0; start <= text.size();) {
        size_t end = text.find('\n', start);
        std::string line = text.substr(start, end == std::string::npos ? std::string::npos : end - start);
        size_t first = line.find_first_not_of(" \t\r");
        if (first != std::string::npos && line[first] == '[') {
            std::string name = line.substr(first, 8);
            for (char &c : name)
                c = (char)std::tolower((unsigned char)c);
            if (seen && *insertAt == std::string::npos)
                *insertAt = start;
            rename = name == "[rename]";
            seen = seen || rename;
        }
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return rename;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MachineBuilder &machine = FuzzMachine();
    FuzzInput input(data, size);
    bool exists = input.Byte() & 1;
    std::string systemDir = NoNul(input.Counted());
    std::string old = input.Rest();

    machine.Remove("C:\\WINDOWS\\wininit.ini");
    if (exists)
        machine.File("C:\\WINDOWS\\wininit.ini", old);
    UninstallRun run = {};
    lstrcpyA(run.windowsDir, "C:\\WINDOWS");
    lstrcpyA(run.systemDir, systemDir.c_str());
    SimClearCalls();
    ScheduleRestartDeletions(run);

    std::string lines;
    for (int i = 0; g_restartFiles[i][0]; i++) {
        std::string line = "NUL=" + systemDir + "\\" + g_restartFiles[i];
        if (line.size() < TEXT_SIZE)
            lines += LineBytes(line);
    }
    size_t insertAt;
    bool lastIsRename = LastSectionIsRename(exists ? old : "", &insertAt);
    std::string expected;
    if (systemDir.empty()) {  // a failed query's: nothing is written
        expected = exists ? old : "<missing>";
    } else if (exists && insertAt != std::string::npos) {
        expected = old.substr(0, insertAt) + lines + old.substr(insertAt);
    } else {
        if (exists)
            expected = !old.empty() && old.back() == '\x1A' ? old.substr(0, old.size() - 1) : old;
        if (!expected.empty() && expected.back() != '\n')
            expected += "\r\n";
        if (!lastIsRename)
            expected += LineBytes("[rename]");
        expected += lines;
    }
    std::string after = machine.Read("C:\\WINDOWS\\wininit.ini");
    FUZZ_CHECK(after == expected, "WININIT.INI holds\n%s\nexpected\n%s", Shown(after).c_str(),
               Shown(expected).c_str());
    FUZZ_CHECK(SimOpenHandles().empty(), "left open: %s", SimOpenHandles().c_str());
    return 0;
}

// ScheduleRestartDeletions on whatever WININIT.INI holds: afterwards the
// file is its old content, less one 0x1A that ended it, then exactly the
// new lines (the "[rename]" header only when there was no file), each LF
// of a line written as CR LF; a line too long for the program's buffer is
// left out whole. Nothing stays open.
//
// Input: flags (bit 0: the file exists), the system directory as a counted
// text, then the file's old bytes.
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    MachineBuilder &machine = FuzzMachine();
    FuzzInput input(data, size);
    bool exists = input.Byte() & 1;
    std::string systemDir = NoNul(input.Counted());
    std::string old = input.Rest();

    std::remove(machine.Host("C:\\WINDOWS\\wininit.ini").c_str());
    if (exists)
        machine.File("C:\\WINDOWS\\wininit.ini", old);
    UninstallRun run = {};
    lstrcpyA(run.windowsDir, "C:\\WINDOWS");
    lstrcpyA(run.systemDir, systemDir.c_str());
    SimClearCalls();
    ScheduleRestartDeletions(run);

    std::string expected;
    if (exists)
        expected = !old.empty() && old.back() == '\x1A' ? old.substr(0, old.size() - 1) : old;
    else
        expected = LineBytes("[rename]");
    for (int i = 0; g_restartFiles[i][0]; i++) {
        std::string line = "NULL=" + systemDir + "\\" + g_restartFiles[i];
        if (line.size() < TEXT_SIZE)
            expected += LineBytes(line);
    }
    std::string after = machine.Read("C:\\WINDOWS\\wininit.ini");
    FUZZ_CHECK(after == expected, "WININIT.INI holds\n%s\nexpected\n%s", Shown(after).c_str(),
               Shown(expected).c_str());
    FUZZ_CHECK(SimOpenHandles().empty(), "left open: %s", SimOpenHandles().c_str());
    return 0;
}

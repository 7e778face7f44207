// Helpers for the engine's tests: the driver's names as the tests expect
// them, a machine made for one test (empty, or a copy of a sample), the call
// record cut down to what a test compares, and whole runs compared with the
// machine before them as one sorted list of changes ("key- HKEY_...").
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

// The fixed keys as RegDeleteKeyA is given them; the last three are gated.
const char *const FIXED_KEYS[][2] = {
    {"HKEY_CLASSES_ROOT", "CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}"},
    {"HKEY_CLASSES_ROOT", "Printers\\shellex\\ContextMenuHandlers\\TINTAVERA Duneva 10 Shell Extension"},
    {"HKEY_CURRENT_CONFIG", "System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "Enum\\LPTENUM\\BRASCORADUNEVA_10F262"},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}"},
    {"HKEY_LOCAL_MACHINE", "SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\TINTAVERA Duneva 10 Shell Extension"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\TINTAVERA Duneva 10 PrintProcessor"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Monitors\\TINTAVERA Duneva 10 LanguageMonitor"},
    {"HKEY_LOCAL_MACHINE", "System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_USERS", ".DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\TINTAVERA Duneva 10"},
    {"HKEY_LOCAL_MACHINE", "Security\\Access\\PRINT\\TINTAVERA Brascora Duneva 10"},
    {"HKEY_CURRENT_USER", "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\TINTAVERA Duneva 10"},
};
const char *const DRIVER_FILES[] = {
    "BR3232.DLL", "BR32CT.DLL", "BR32HLP.HLP", "BR32HLP.GID", "BR32TRB.HLP", "BR32TRB.GID",
    "BR32JNLI.DLL", "BR32JP.DRV", "BR32JPLN.DLL", "BR32LN98.DLL", "BR32RAST.DLL", "BR32RS.DLL",
    "BR32SHEL.DLL", "BR32STAT.EXE", "BR32FIRM.BIN", "brlaunch.exe", "brlaunch.ini", "brman32.pdf",
};
const char *const RESTART_FILES[] = {"BR32TN16.DLL", "BR32TN32.DLL", "BR32LANG.DLL", "BR32PRIN.DLL", "BR32UNIN.EXE"};
const char *const SHORTCUTS[] = {
    "Guida Duneva 10.LNK", "Problemi e soluzioni Duneva 10.LNK", "Monitor Stampante Duneva 10.LNK",
    "Disinstallazione Duneva 10.LNK", "Manuale Stampante Duneva 10.LNK",
};
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

// A machine folder for one test: empty, or a copy of a sample machine.
// Registry keys and machine.ini lines are appended to its files; Load()
// loads it. The destructor unloads it and removes the folder.
class Machine : public MachineBuilder {
public:
    explicit Machine(const std::string &sample = "")
    {
        if (!sample.empty())
            fs::copy(fs::path(BR_SOURCE_DIR) / "machines" / sample, dir(),
                     fs::copy_options::recursive | fs::copy_options::overwrite_existing);
    }
    // machine.ini text; a [Machine] section again overrides the sample's.
    Machine &Set(const std::string &name, const std::string &value)
    {
        return Append("machine.ini", "[Machine]\r\n" + name + "=" + value + "\r\n");
    }
    Machine &Key(const std::string &path, const std::vector<std::string> &values = {})
    {
        if (!fs::exists(dir() + "/registry.reg"))
            Append("registry.reg", "REGEDIT4\r\n\r\n");
        std::string text = "[" + path + "]\r\n";
        for (const std::string &value : values)
            text += value.empty() ? "" : value + "\r\n";
        return Append("registry.reg", text + "\r\n");
    }
    Machine &File(const std::string &path, const std::string &bytes = "")
    {
        MachineBuilder::File(path, bytes);
        return *this;
    }
    Machine &Append(const std::string &file, const std::string &text)
    {
        std::ofstream(dir() + "/" + file, std::ios::binary | std::ios::app) << text;
        return *this;
    }
    // Replaces every from in one of the folder's files (a host path under it).
    Machine &Replace(const std::string &file, const std::string &from, const std::string &to)
    {
        std::string bytes = ReadHost(dir() + "/" + file);
        for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
        std::ofstream(dir() + "/" + file, std::ios::binary | std::ios::trunc) << bytes;
        return *this;
    }
    void Load() { ASSERT_TRUE(MachineBuilder::Load()); }
};

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
    for (const auto &file : c.linesAppended)
        for (const std::string &line : file.second)
            items.push_back("line+ " + file.first + " " + line);
    std::sort(items.begin(), items.end());
    return items;
}

struct RunResult {
    std::vector<std::string> items;  // Flatten of the changes
    std::string report;              // SimFormatChanges
    std::vector<SimCall> calls;
    std::string openHandles;         // after the run
};

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
    SimChanges changes = SimCompareSnapshots(before ? *before : taken, SimTakeSnapshot());
    result = {Flatten(changes), SimFormatChanges(changes), SimCalls(), SimOpenHandles()};
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

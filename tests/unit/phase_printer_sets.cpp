// The printers on thousands of generated printer sets, against an oracle
// that reads WIN.INI and the registry as the profile and the registry read
// them, and knows nothing else of the phase. A printer is ours when it is
// named as ours in any letters, when its [Devices] or [PrinterPorts] value
// names our driver (BR32jp, in any letters, before the first comma), or when
// the machine's printers' key of it says "Printer Driver" is ours. Then:
//   - nothing is left of a printer of ours: no key in [Devices] or
//     [PrinterPorts], no section for the three fixed ports or its network
//     port, no key among the machine's or the current configuration's
//     printers; every other printer's key, section and printers' key stays;
//   - device= (up to its first comma) and Default (a name, commas and all)
//     do not name ours, blanks trimmed;
//   - where device= named ours: the first printer of [Devices] that can be
//     used (not ours, a value, "name,value" within 259 characters, no comma
//     in its name), or no device= when none can;
//   - where Default named ours: the printer device= names when that one can
//     be used, else the first that can, else no Default;
//   - a device= or Default of another printer stays;
//   - running programs are told exactly when either changed.
// Then the same after a power cut at each call of the phase (the cache and
// the registry's unsaved changes lost) and a second run. Since WIN.INI
// reaches the disk only at the phase's flush, that is one more state a set.
//
// BR_PRINTER_SETS sets how many (5,000 by default).
#include <cstdlib>
#include <random>

#include "phase_support.h"
#include "registry/registry.h"

using namespace phase_support;

namespace {

const std::string PRINTERS = "System\\CurrentControlSet\\control\\Print\\Printers";
const std::string MACHINE_PRINTERS = "HKEY_LOCAL_MACHINE\\" + PRINTERS;
const std::string CONFIG_PRINTERS = "HKEY_LOCAL_MACHINE\\Config\\0001\\" + PRINTERS;
const std::string NONE = "<none>";
const std::string FIXED_PORTS[] = {"-LPT1", "-FILE", "-LPT2"};

struct PrinterSet {
    std::vector<std::pair<std::string, std::string>> devices, ports;  // as written, in order
    struct Registered {
        std::string name, driver;  // driver "": none
        bool config;               // the driver given in the configuration's key, not the machine's
    };
    std::vector<Registered> registered;  // printers' keys
    std::vector<std::string> sections;                                 // [name-port] sections
    std::string device = NONE;                                         // [windows] device=
    std::string regDefault = NONE;

    std::string WinIni() const
    {
        std::string ini = "[windows]\r\nload=\r\n";
        if (device != NONE)
            ini += "device=" + device + "\r\n";
        ini += "[Devices]\r\n";
        for (const auto &[name, value] : devices)
            ini += name + "=" + value + "\r\n";
        ini += "[PrinterPorts]\r\n";
        for (const auto &[name, value] : ports)
            ini += name + "=" + value + "\r\n";
        for (const std::string &section : sections)
            ini += "[" + section + "]\r\nOrientation=1\r\n";
        return ini;
    }

    std::string Registry() const
    {
        std::string reg = "REGEDIT4\r\n\r\n[" + CONFIG_PRINTERS + "]\r\n" +
                          (regDefault == NONE ? "" : RegString("Default", regDefault) + "\r\n") + "\r\n";
        for (const auto &[name, driver, config] : registered) {
            std::string value = driver.empty() ? "" : RegString("Printer Driver", driver) + "\r\n";
            reg += "[" + MACHINE_PRINTERS + "\\" + name + "]\r\n" + (config ? "" : value) + "\r\n";
            reg += "[" + CONFIG_PRINTERS + "\\" + name + "]\r\n\"Port\"=\"LPT1:\"\r\n" + (config ? value : "") + "\r\n";
        }
        return reg;
    }
};

std::string Trim(const std::string &text)
{
    return SimTrim(text, " \t");
}

// The name a device= text gives, or the driver a value gives: before its
// first comma, trimmed.
std::string NameOf(const std::string &text)
{
    return Trim(text.substr(0, text.find(',')));
}

std::string Letters(std::mt19937 &rng, const std::string &text)
{
    std::string out = text;
    for (char &c : out)
        if (rng() % 2)
            c = (char)(islower((unsigned char)c) ? toupper((unsigned char)c) : tolower((unsigned char)c));
    return out;
}

// A printer set drawn from seed: 0 to 40 printers with names up to 100
// characters (longer than Windows 9x's own), local and network ports,
// empty, blank, comma-less and over-long values, names with a comma, the
// same name twice; printers of ours by their name in other letters and
// repeated, by our driver under another name (a copy, a renamed one), by
// the registry alone; printers' keys and port sections for some; device=
// and Default each ours, another's, a missing printer's, empty or none,
// with blanks.
PrinterSet Draw(unsigned seed)
{
    std::mt19937 rng(seed);
    auto pick = [&](int n) { return (int)(rng() % (unsigned)n); };
    static const char *const words[] = {"Stampante", "Ufficio", "Laser", "Getto", "Piano", "Rete", "Colori", "A3"};
    static const char *const ports[] = {"LPT1:", "LPT2:", "COM1:", "FILE:", "\\\\UFFICIO\\LASER", "\\\\SRV\\Q2,15,45"};
    PrinterSet set;
    std::vector<std::string> names;
    int printers = pick(41);
    for (int i = 0; i < printers; i++) {
        std::string name = words[pick(8)];
        while (pick(3) == 0 && name.size() < 80)
            name += std::string(pick(4) ? " " : "") + words[pick(8)];
        name += (pick(25) ? " " : ", ") + std::to_string(pick(100));
        if (pick(10) == 0)
            name += std::string(pick(100 - (int)std::min<size_t>(name.size(), 99)), 'x');
        if (pick(15) == 0 && !names.empty())
            name = Letters(rng, names[pick((int)names.size())]);  // the same name again
        std::string driver = pick(8) ? "DRV" + std::to_string(pick(9)) : Letters(rng, "BR32jp");
        std::string value;
        switch (pick(12)) {
        case 0: value = ""; break;
        case 1: value = "   "; break;
        case 2: value = driver; break;
        case 3: value = driver + "," + std::string(150 + pick(120), 'v'); break;
        default: value = (pick(6) ? driver : " " + driver + " ") + "," + ports[pick(6)];
        }
        names.push_back(name);
        set.devices.push_back({name, value});
    }
    // Ours by name, in other letters and more than once, anywhere.
    for (int i = pick(4); i > 0; i--) {
        auto at = set.devices.begin() + pick((int)set.devices.size() + 1);
        set.devices.insert(at, {Letters(rng, DRIVER), pick(2) ? "BR32jp,LPT1:" : "BR32jp," + std::string(ports[pick(6)])});
    }
    for (const auto &[name, value] : set.devices) {
        if (pick(5))
            set.ports.push_back({name, value + ",15,45"});
        // The printers' keys: the driver the value names (ours as the
        // registry names it), now and then ours under another's value.
        std::string driver = NameOf(value);
        if (pick(3) && Trim(name).size() <= 200) {
            bool ours = SimSameText(driver, "BR32jp") || pick(30) == 0;
            set.registered.push_back({Trim(name), ours ? Letters(rng, DRIVER) : pick(4) ? driver : "", pick(8) == 0});
        }
        // A section once: the profile never writes one twice, and reads
        // only the first.
        std::string section = Trim(Trim(name) + (pick(2) ? FIXED_PORTS[pick(3)] : "-" + value.substr(value.find(',') + 1)));
        bool seen = false;
        for (const std::string &drawn : set.sections)
            seen = seen || SimSameText(drawn, section);
        if (pick(4) == 0 && !seen)
            set.sections.push_back(section);
    }
    // device=: name,driver,port; the registry's Default (bare): a name alone.
    auto text = [&](bool bare) -> std::string {
        std::string blank = pick(4) ? "" : " ";
        switch (pick(6)) {
        case 0: return NONE;
        case 1: return "";
        case 2: return bare ? "Sparita" : "Sparita,X,LPT3:";
        case 3:
            if (!set.devices.empty()) {
                const auto &printer = set.devices[pick((int)set.devices.size())];
                return blank + printer.first + blank + (bare ? "" : "," + printer.second);
            }
            return NONE;
        default: return blank + Letters(rng, DRIVER) + blank + (pick(3) && !bare ? ",BR32jp,LPT1:" : "");
        }
    };
    set.device = text(false);
    set.regDefault = text(true);
    return set;
}

// A section's keys as the profile reads them: the first key of each name,
// trimmed, in the order of the file.
std::vector<std::pair<std::string, std::string>> ProfileKeys(const std::vector<std::pair<std::string, std::string>> &keys)
{
    std::vector<std::pair<std::string, std::string>> read;
    for (const auto &[name, value] : keys) {
        bool seen = false;
        for (const auto &key : read)
            seen = seen || SimSameText(key.first, Trim(name));
        if (!seen)
            read.push_back({Trim(name), Trim(value)});
    }
    return read;
}

// Our printers' names, folded, as the oracle knows them.
std::set<std::string> OurPrinters(const PrinterSet &set)
{
    std::set<std::string> ours = {SimFold(DRIVER)};
    for (const auto *keys : {&set.devices, &set.ports})
        for (const auto &[name, value] : ProfileKeys(*keys))
            if (SimSameText(NameOf(value), "BR32jp"))
                ours.insert(SimFold(name));
    // A name's key in a list given twice is one key: the last driver given
    // stands. Either list's may say ours.
    std::map<std::pair<std::string, bool>, std::string> drivers;
    for (const auto &[name, driver, config] : set.registered)
        if (!driver.empty() || !drivers.count({SimFold(name), config}))
            drivers[{SimFold(name), config}] = driver;
    for (const auto &[key, driver] : drivers)
        if (SimSameText(driver, DRIVER))
            ours.insert(key.first);
    return ours;
}

struct Expected {
    std::string device, regDefault;
    bool told;
};

Expected Oracle(const PrinterSet &set, const std::set<std::string> &ours)
{
    auto keys = ProfileKeys(set.devices);
    auto usable = [&](const std::string &name) {
        for (const auto &key : keys)
            if (SimSameText(key.first, name))
                return !ours.count(SimFold(name)) && !key.second.empty() && name.size() + 1 + key.second.size() <= 259 &&
                       name.find(',') == std::string::npos;
        return false;
    };
    std::string first = NONE;
    for (const auto &key : keys)
        if (first == NONE && usable(key.first))
            first = key.first + "," + key.second;
    // device= names the printer before its first comma; Default is a name,
    // commas and all.
    auto oursNamed = [&](const std::string &name) { return ours.count(SimFold(Trim(name))) > 0; };
    // device= as the profile reads it: without the blanks around it.
    std::string deviceBefore = set.device == NONE ? NONE : Trim(set.device);
    Expected want{deviceBefore, set.regDefault, false};
    if (set.device != NONE && oursNamed(NameOf(set.device)))
        want.device = first;
    if (set.regDefault != NONE && oursNamed(set.regDefault)) {
        std::string named = want.device == NONE ? "" : NameOf(want.device);
        want.regDefault = !named.empty() && usable(named) ? named : first == NONE ? NONE : NameOf(first);
    }
    want.told = want.device != deviceBefore || want.regDefault != set.regDefault;
    return want;
}

// What a run left.
struct Found {
    std::string device, regDefault;
    std::vector<std::string> devices, ports, sections, registered;  // names, as listed
};

Found Look()
{
    Found found;
    char text[512];
    GetProfileStringA("windows", "device", "\n", text, sizeof text);
    found.device = std::string(text) == "\n" ? NONE : text;
    HKEY key;
    if (RegOpenKeyExA(HKEY_CURRENT_CONFIG, PRINTERS.c_str(), 0, KEY_QUERY_VALUE, &key) == ERROR_SUCCESS) {
        found.regDefault = ReadValueText(key, "Default", text, sizeof text) == VALUE_TEXT_READ ? text : NONE;
        RegCloseKey(key);
    }
    static char list[65536];
    for (auto [section, names] : {std::make_pair("Devices", &found.devices), std::make_pair("PrinterPorts", &found.ports),
                                  std::make_pair((const char *)nullptr, &found.sections)}) {
        DWORD n = GetProfileStringA(section, nullptr, "", list, sizeof list);
        for (const char *name = list; name < list + n; name += strlen(name) + 1)
            names->push_back(name);
    }
    for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG})
        if (RegOpenKeyExA(root, PRINTERS.c_str(), 0, KEY_ENUMERATE_SUB_KEYS, &key) == ERROR_SUCCESS) {
            for (DWORD i = 0; RegEnumKeyA(key, i, text, sizeof text) == ERROR_SUCCESS; i++)
                found.registered.push_back(std::string(root == HKEY_LOCAL_MACHINE ? "m " : "c ") + text);
            RegCloseKey(key);
        }
    return found;
}

// What must be left of the set's printers: every key, section and
// printers' key that is not one of ours.
Found Left(const PrinterSet &set, const std::set<std::string> &ours)
{
    Found left;
    auto keep = [&](const std::string &name) { return !ours.count(SimFold(Trim(name))); };
    // Every key of a name of ours, whatever each holds.
    for (const auto &[name, value] : set.devices)
        if (keep(name))
            left.devices.push_back(Trim(name));
    for (const auto &[name, value] : set.ports)
        if (keep(name))
            left.ports.push_back(Trim(name));
    left.sections = {"windows", "Devices", "PrinterPorts"};
    for (const std::string &section : set.sections) {
        bool gone = false;
        for (const std::string &name : ours)
            for (const std::string &port : FIXED_PORTS)
                gone = gone || SimSameText(section, name + port);
        // A network port's section of ours: named after the port a
        // [Devices] value of that name gives.
        for (const auto &[name, value] : set.devices)
            if (ours.count(SimFold(Trim(name))) && value.find('\\') != std::string::npos &&
                value.find(',') != std::string::npos)
                gone = gone || SimSameText(section, Trim(Trim(name) + "-" + Trim(value).substr(Trim(value).find(',') + 1)));
        if (!gone)
            left.sections.push_back(section);
    }
    for (const char *list : {"m ", "c "})
        for (const auto &[name, driver, config] : set.registered) {
            bool seen = false;
            for (const std::string &kept : left.registered)
                seen = seen || SimSameText(kept, list + name);
            if (keep(name) && !seen)
                left.registered.push_back(list + name);
        }
    return left;
}

// WIN.INI as this file writes it, read back into a printer set.
PrinterSet Parse(const std::string &ini, const PrinterSet &before)
{
    PrinterSet set;
    set.regDefault = before.regDefault;
    set.registered = before.registered;
    std::string section;
    for (size_t at = 0; at < ini.size();) {
        size_t end = ini.find("\r\n", at);
        std::string line = ini.substr(at, end - at);
        at = end + 2;
        size_t equals = line.find('=');
        if (!line.empty() && line[0] == '[') {
            section = line;
            if (section != "[windows]" && section != "[Devices]" && section != "[PrinterPorts]")
                set.sections.push_back(section.substr(1, section.size() - 2));
        } else if (section == "[windows]" && line.compare(0, 7, "device=") == 0) {
            set.device = line.substr(7);
        } else if (equals != std::string::npos && (section == "[Devices]" || section == "[PrinterPorts]")) {
            (section == "[Devices]" ? set.devices : set.ports).push_back({line.substr(0, equals), line.substr(equals + 1)});
        }
    }
    return set;
}

// A REGEDIT4 string value's text, its escapes undone.
std::string Unquoted(const std::string &quoted)
{
    std::string text;
    for (size_t i = 1; i + 1 < quoted.size(); i++)
        text += quoted[i] == '\\' ? quoted[++i] : quoted[i];
    return text;
}

// A cut: WIN.INI on the disk, and the registry as last flushed.
struct Cut {
    std::string ini, registry;
    bool operator!=(const Cut &other) const { return ini != other.ini || registry != other.registry; }
};

// The registry's printers and Default, read back from its text.
void ReadRegistry(const std::string &text, PrinterSet *set)
{
    set->registered.clear();
    set->regDefault = NONE;
    std::string key;
    PrinterSet::Registered *printer = nullptr;  // the key the lines are in
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find("\r\n", at);
        std::string line = text.substr(at, end - at);
        at = end + 2;
        if (!line.empty() && line[0] == '[') {
            key = line.substr(1, line.size() - 2);
            printer = nullptr;
            for (const std::string &list : {MACHINE_PRINTERS, CONFIG_PRINTERS}) {
                if (!SimSameText(key.substr(0, list.size() + 1), list + "\\") ||
                    key.find('\\', list.size() + 1) != std::string::npos)
                    continue;
                // Each list's key of a name on its own, as the generator
                // gives them.
                set->registered.push_back({key.substr(list.size() + 1), "", list == CONFIG_PRINTERS});
                printer = &set->registered.back();
            }
        } else if (line.compare(0, 17, "\"Printer Driver\"=") == 0 && printer) {
            printer->driver = Unquoted(line.substr(17));
        } else if (line.compare(0, 10, "\"Default\"=") == 0 && SimSameText(key, CONFIG_PRINTERS)) {
            set->regDefault = Unquoted(line.substr(10));
        }
    }
}

class Bench {
public:
    // Runs the phase on set (with registry's text, the set's own when
    // empty), the cache written out as a run's end does; "" or what broke the
    // oracle. cuts: what a power cut after each call that can reach the disk
    // would leave.
    std::string Run(const PrinterSet &set, std::vector<Cut> *cuts = nullptr, std::string registry = "",
                    const PrinterSet *first = nullptr)
    {
        // One machine for every set: WIN.INI written anew, the registry
        // read anew from text, the cache and the call record emptied.
        if (!loaded_) {
            if (!machine_.Load())
                return "the machine does not load\n";
            loaded_ = true;
        }
        machine_.File("C:\\WINDOWS\\WIN.INI", set.WinIni());
        SimLoseProfiles();
        std::string error;
        SimRegReset();
        if (!SimRegImport(registry.empty() ? set.Registry() : registry, &error))
            return "the registry does not load: " + error + "\n";
        // The printer's own printers' keys went with the fixed keys.
        for (HKEY root : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_CONFIG})
            RegDeleteKeyA(root, (PRINTERS + "\\" + DRIVER).c_str());
        SimClearCalls();
        g_cuts = cuts;
        g_host = machine_.Host("C:\\WINDOWS\\WIN.INI");
        g_flushed = SimRegExport();
        if (cuts)
            SimObserveCalls([](const SimCall &call) {
                // Only a flush reaches the disk: the registry's, or the
                // profile cache's (a write with no section).
                if (call.name == "RegFlushKey")
                    g_flushed = SimRegExport();
                else if (call.name != "WriteProfileStringA" || call.args[0] != "NULL")
                    return;
                Cut now{MachineBuilder::ReadHost(g_host), g_flushed};
                if (g_cuts->empty() || g_cuts->back() != now)
                    g_cuts->push_back(now);
            });
        RemoveProfileEntries();
        SimObserveCalls(nullptr);
        SimWriteOutProfiles();
        bool told = !SimCallsNamed("SendMessageTimeoutA").empty();
        // A second run answers for every printer that was ours before the
        // first began, whatever the cut left of what told it.
        std::set<std::string> ours = OurPrinters(set);
        if (first)
            ours.merge(OurPrinters(*first));
        return Judge(set, ours, Look(), told);
    }

private:
    static std::string Judge(const PrinterSet &set, const std::set<std::string> &ours, const Found &found, bool told)
    {
        Expected want = Oracle(set, ours);
        Found left = Left(set, ours);
        std::string problems;
        if (found.device != want.device)
            problems += "device=" + found.device + ", wanted " + want.device + "\n";
        if (found.regDefault != want.regDefault)
            problems += "Default " + found.regDefault + ", wanted " + want.regDefault + "\n";
        if (told != want.told)
            problems += told ? "told when nothing changed\n" : "not told of a change\n";
        const std::pair<const char *, std::pair<const std::vector<std::string> *, const std::vector<std::string> *>> lists[] = {
            {"[Devices]", {&found.devices, &left.devices}}, {"[PrinterPorts]", {&found.ports, &left.ports}},
            {"sections", {&found.sections, &left.sections}}, {"printers' keys", {&found.registered, &left.registered}}};
        for (const auto &[what, pair] : lists)
            if (*pair.first != *pair.second)
                problems += std::string(what) + " left: " + Lines(*pair.first) + "wanted: " + Lines(*pair.second);
        return problems;
    }

    static std::vector<Cut> *g_cuts;
    static std::string g_host, g_flushed;
    Machine machine_;
    bool loaded_ = false;
};

std::vector<Cut> *Bench::g_cuts;
std::string Bench::g_host, Bench::g_flushed;

// The sets whose seeds are part modulo 4: four tests, which run beside
// each other, make the whole.
void PrinterSets(unsigned part)
{
    const char *count = std::getenv("BR_PRINTER_SETS");
    const unsigned sets = count && *count ? (unsigned)std::atoi(count) : 5000;
    Bench bench;
    int failures = 0, reruns = 0;
    std::string firstFailures;
    for (unsigned seed = 1 + part; seed <= sets; seed += 4) {
        PrinterSet set = Draw(seed);
        std::vector<Cut> cuts;
        std::string problems = bench.Run(set, &cuts);
        // A power cut after any call: WIN.INI as the disk held it, the
        // registry as last flushed; a second run from there.
        for (const Cut &cut : cuts) {
            if (cut.ini == set.WinIni() && cut.registry == cuts.front().registry)
                continue;
            reruns++;
            PrinterSet again = Parse(cut.ini, set);
            ReadRegistry(cut.registry, &again);
            std::string second = bench.Run(again, nullptr, cut.registry, &set);
            if (!second.empty())
                problems += "after a power cut and a second run:\n" + second;
        }
        if (!problems.empty() && ++failures <= 3)
            firstFailures += "seed " + std::to_string(seed) + ":\n" + set.WinIni() + set.Registry() + problems + "\n";
    }
    EXPECT_EQ(0, failures) << firstFailures;
    std::printf("printer sets, part %u of 4 of %u generated: %d second runs after a power cut in the phase\n",
                part + 1, sets, reruns);
}

TEST(ProfileEntries, GeneratedPrinterSetsLeaveNothingOfOursAndTheDefaultRightPart1)
{
    PrinterSets(0);
}

TEST(ProfileEntries, GeneratedPrinterSetsLeaveNothingOfOursAndTheDefaultRightPart2)
{
    PrinterSets(1);
}

TEST(ProfileEntries, GeneratedPrinterSetsLeaveNothingOfOursAndTheDefaultRightPart3)
{
    PrinterSets(2);
}

TEST(ProfileEntries, GeneratedPrinterSetsLeaveNothingOfOursAndTheDefaultRightPart4)
{
    PrinterSets(3);
}

}  // namespace

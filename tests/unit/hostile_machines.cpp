// Whole runs on the sample machines made hostile: decoys that look like the
// driver's things, odd values, long directories, thousands of files and
// keys. After each run the machine's difference from before must be exactly
// the sample's own removal set (which WholeRun pins), changed only where the
// case says.
//
// Letter case alone never makes a different key, section or file name on
// Windows; the case decoys are the texts compared byte for byte: device
// descriptions and the INF marker. Blanks around a WIN.INI name are not part
// of it, so the blank decoys there stand inside the name.
#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string ROOT_PRINTER = HKLM + "Enum\\Root\\printer\\";
const std::string CLASS_PRINTER = HKLM + "System\\CurrentControlSet\\Services\\Class\\Printer\\";
const std::string WINDOWS = "C:\\WINDOWS", INF = "C:\\WINDOWS\\INF\\", WIN_INI = "drives/C/WINDOWS/WIN.INI";

const std::vector<std::string> &SampleRemovals(const std::string &sample)
{
    static std::map<std::string, std::vector<std::string>> runs;
    if (!runs.count(sample)) {
        Machine clean(sample);
        runs[sample] = RunOn(clean.dir()).items;
    }
    return runs[sample];
}

// How a case changes the sample's removal set: items added, the items that
// hold a text of drop left out, and from rewritten to to.
struct Change {
    std::vector<std::string> add{}, drop{};
    std::string from{}, to{};
};

// What is missing, what is extra, and the removal calls the run made.
void CheckRun(const std::string &what, const char *sample, const std::function<void(Machine &)> &make,
              const Change &change = {})
{
    Machine machine(sample);
    make(machine);
    std::vector<std::string> expected = change.add;
    for (std::string item : SampleRemovals(sample)) {
        for (size_t at = change.from.empty() ? std::string::npos : item.find(change.from); at != std::string::npos;
             at = item.find(change.from, at + change.to.size()))
            item.replace(at, change.from.size(), change.to);
        if (std::none_of(change.drop.begin(), change.drop.end(),
                         [&](const std::string &text) { return item.find(text) != std::string::npos; }))
            expected.push_back(item);
    }
    std::sort(expected.begin(), expected.end());
    RunResult run = RunOn(machine.dir());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.begin(), expected.end(), run.items.begin(), run.items.end(), std::back_inserter(missing));
    std::set_difference(run.items.begin(), run.items.end(), expected.begin(), expected.end(), std::back_inserter(extra));
    if (!missing.empty() || !extra.empty() || !run.openHandles.empty())
        ADD_FAILURE() << what << " (" << sample << ")\nexpected but not changed:\n" << Lines(missing)
                      << "changed but not expected:\n" << Lines(extra) << "left open: " << run.openHandles
                      << "\nremoval calls:\n"
                      << Lines(Calls({"RegDeleteKeyA", "DeleteFileA", "RemoveDirectoryA", "WriteProfileStringA"}, run.calls));
}

// A path of exactly length characters under C:\, in parts a host can hold.
std::string LongDir(size_t length, char fill)
{
    std::string dir = "C:";
    while (dir.size() < length)
        dir += "\\" + std::string(std::min<size_t>(60, length - dir.size() - 1), fill);
    return dir;
}

// Decoys named like the driver's things, but not them.
TEST(HostileMachines, NamesThatDifferByABlankOrASuffixStay)
{
    for (const char *sample : {"win98", "win95"}) {
        CheckRun("blank and suffix decoys", sample, [&](Machine &m) {
            for (const std::string &item : SampleRemovals(sample))
                if (item.rfind("key- ", 0) == 0)
                    m.Key(item.substr(5) + " ", {RegString("Decoy", "blank")}).Key(item.substr(5) + "0", {RegString("Decoy", "suffix")});
            m.Key(ROOT_PRINTER + "0003", {RegString("DeviceDesc", DRIVER + "0")})
                .Key(ROOT_PRINTER + "0004", {RegString("DeviceDesc", "TINTAVERA BRASCORA DUNEVA 10")})
                .Key(CLASS_PRINTER + "0003", {RegString("DriverDesc", DRIVER + "0")})
                .Key(CLASS_PRINTER + "0004", {RegString("DriverDesc", " " + DRIVER)})
                // Another maker's driver: a name alone that looks like ours.
                .Replace(WIN_INI, "[Devices]\r\n", "[Devices]\r\n" + DRIVER + "0=OSJET4,LPT1:\r\n" + DRIVER + " X=OSJET4,LPT1:\r\n")
                .Replace(WIN_INI, "[PrinterPorts]\r\n", "[PrinterPorts]\r\n" + DRIVER + "0=OSJET4,LPT1:,15,45\r\n")
                .Append(WIN_INI, "[" + DRIVER + "0-LPT1]\r\nA=1\r\n[" + DRIVER + " -LPT1]\r\nA=1\r\n[" + DRIVER +
                                     "-LPT10]\r\nA=1\r\n[" + DRIVER + "-FILE:]\r\nA=1\r\n")
                .File(GROUP + "0\\Guida Duneva 10.LNK", "L")
                .File(INF + "OTHER\\BRASCORABRDUNE100.INF", "BR32STAT.EXE\r\n");
            for (const char *name : {"BR3232.DLL0", "BR32CT.DL", "BR32STAT.EXE.OLD", "brman32.pdf.txt"})
                m.File(WINDOWS + "\\SYSTEM\\" + name, name);
        });
    }
}

// The printer's instance keys scattered among another printer's, with gaps.
TEST(HostileMachines, InstanceKeysAmongAnotherPrintersKeys)
{
    CheckRun("mixed instance keys", "win98",
             [](Machine &m) {
                 for (const char *n : {"0003", "0005", "0008"})
                     m.Key(ROOT_PRINTER + n, {RegString("DeviceDesc", DRIVER)});
                 m.Key(ROOT_PRINTER + "0005\\LogConfig", {RegString("x", "y")});
                 for (const char *n : {"0004", "0007"})
                     m.Key(ROOT_PRINTER + n, {RegString("DeviceDesc", "OSTRALIS Jet 400")});
                 for (const char *n : {"0004", "0006"})
                     m.Key(CLASS_PRINTER + n, {RegString("DriverDesc", DRIVER)});
                 m.Key(CLASS_PRINTER + "0003", {RegString("DriverDesc", "OSTRALIS Jet 400")});
             },
             {{"key- " + ROOT_PRINTER + "0003", "key- " + ROOT_PRINTER + "0005", "key- " + ROOT_PRINTER + "0008",
               "key- " + CLASS_PRINTER + "0004", "key- " + CLASS_PRINTER + "0006"}});
}

// The folder that holds a file of the user's stays with it; read-only and
// busy files are passed over, and the rest go.
TEST(HostileMachines, TheUsersFilesAndLockedDriverFilesStay)
{
    CheckRun("the user's files", "win98",
             [](Machine &m) { m.File(GROUP + "\\Note mie.txt", "mie").File(WINDOWS + "\\SYSTEM\\BR32NOTE.TXT", "x"); },
             {{}, {"folder- " + GROUP}});
    // A file in use is named for the next start, after the five; a
    // read-only one is the owner's and stays unnamed.
    const auto lockedFiles = [](Machine &m) {
        m.Append("machine.ini", "[Attributes]\r\n" + WINDOWS + "\\SYSTEM\\BR32CT.DLL=R\r\n" + GROUP +
                                    "\\Guida Duneva 10.LNK=RH\r\n[Busy]\r\n" + WINDOWS + "\\SYSTEM\\BR32RS.DLL\r\n");
    };
    CheckRun("read-only and busy driver files", "win95", lockedFiles,
             {{"line+ " + WINDOWS + "\\wininit.ini NUL=" + WINDOWS + "\\SYSTEM\\BR32RS.DLL"},
              {"\\BR32CT.DLL", "\\BR32RS.DLL", "Guida Duneva 10.LNK", "folder- " + GROUP}});
    Machine machine("win95");
    lockedFiles(machine);
    RunOn(machine.dir());
    std::string error;
    ASSERT_TRUE(SimLoadMachine(machine.dir(), &error)) << error;
    std::vector<std::string> done = SimNextStart();
    SimUnloadMachine();
    EXPECT_EQ("<missing>", machine.Read(WINDOWS + "\\SYSTEM\\BR32RS.DLL")) << Lines(done);
    EXPECT_NE("<missing>", machine.Read(WINDOWS + "\\SYSTEM\\BR32CT.DLL")) << Lines(done);
}

// OEM INF files that hold the marker only in ways that do not count, a
// folder named like one, and a second INF of the driver's, which goes too.
TEST(HostileMachines, OemInfFilesThatOnlyLookLikeTheDrivers)
{
    CheckRun("INF decoys", "win95",
             [](Machine &m) {
                 m.File(INF + "OEM7.INF", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\x1A\r\nBR32STAT.EXE\r\n")
                     .File(INF + "OEM8.INF", "XBR32STAT.EXE BR32STAT.EXEX BR32STAT.EX BR32STAT.EXE.\r\n")
                     .File(INF + "OEM10.INF", "Br32Stat.Exe\tbr32stat.exe BR32STAT.exe\r\n")
                     .File(INF + "OEM12.INF", "BR32STAT.EXE" + std::string(300, 'x') + "\r\n")
                     .File(INF + "oem9.inf\\BR32STAT.EXE", "BR32STAT.EXE")
                     .File(INF + "OEM11.INF", "; another copy\r\n[BR32STAT]\r\nBR32STAT.EXE\r\n" + DRIVER + "\r\n")
                     .File(INF + "OEM13.INF", "; another maker's\r\nMsg=\"Chiudere BR32STAT.EXE\"\r\n");
             },
             {{"file- " + INF + "OEM11.INF"}});
}

// A "Devices" value longer than the profile buffer arrives cut, and so does
// its port: the section named after the cut port goes, and the three fixed
// ones, and the one named after the whole port stays.
TEST(HostileMachines, AProfileValueOf149CharactersAndMore)
{
    const std::string port = "\\\\SERVER\\" + std::string(170, 'S');
    const std::string cutSection = "[" + DRIVER + "-" + port.substr(0, 149 - 7) + "]";
    CheckRun("a long Devices value", "win98",
             [&](Machine &m) {
                 m.Replace(WIN_INI, DRIVER + "=BR32jp,LPT1:\r\n", DRIVER + "=BR32jp," + port + "\r\n")
                     .Append(WIN_INI, "[" + DRIVER + "-" + port + "]\r\nA=1\r\n" + cutSection + "\r\nA=1\r\n");
             },
             {{"section- " + cutSection}});
}

// Windows and system directories of 100 characters: everything is where they
// say, and goes as on the sample. Of 250: no path under them fits, so only
// the registry and WIN.INI entries go, and WININIT.INI is not written.
TEST(HostileMachines, LongWindowsAndSystemDirectories)
{
    const std::string windows100 = LongDir(100, 'W');
    std::string escaped;
    for (char c : windows100 + "\\")
        escaped += c == '\\' ? "\\\\" : std::string(1, c);
    CheckRun("100 characters", "win95",
             [&](Machine &m) {
                 fs::create_directories(fs::path(m.Host(windows100)).parent_path());
                 fs::rename(m.Host(WINDOWS), m.Host(windows100));
                 m.Replace("registry.reg", "C:\\\\WINDOWS\\\\", escaped)
                     .Set("WindowsDir", windows100).Set("SystemDir", windows100 + "\\SYSTEM");
             },
             {{}, {}, WINDOWS + "\\", windows100 + "\\"});

    const std::string windows250 = LongDir(250, 'W'), system250 = LongDir(250, 'S');
    CheckRun("250 characters", "win95",
             [&](Machine &m) {
                 m.Set("WindowsDir", windows250).Set("SystemDir", system250).Dir(system250).Dir(windows250);
                 fs::rename(m.Host(WINDOWS + "\\WIN.INI"), m.Host(windows250 + "\\WIN.INI"));
             },
             {{}, {"\\SYSTEM\\", "\\INF\\", "wininit.ini"}, WINDOWS + "\\WIN.INI", windows250 + "\\WIN.INI"});
}

// 5,000 OEM INF files: every one is read, none but the driver's goes, and
// the last one named, which holds the marker and the printer's name, goes too.
TEST(HostileMachines, FiveThousandOemInfFiles)
{
    CheckRun("5,000 OEM INF files", "win95",
             [](Machine &m) {
                 for (int n = 1000; n < 6000; n++)
                     m.File(INF + "OEM" + std::to_string(n) + ".INF",
                            "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[F" + std::to_string(n) + "]\r\nOSJ" +
                                std::to_string(n) + ".DLL\r\n" + (n == 5999 ? "BR32STAT.EXE\r\n" + DRIVER + "\r\n" : ""));
             },
             {{"file- " + INF + "OEM5999.INF"}});
}

// 20,000 instance keys, 0003 to 9999 in each pass and all reached by the
// scan, then 10000, named without a backslash: the driver's among them go.
TEST(HostileMachines, TwentyThousandInstanceKeys)
{
    const std::vector<std::string> driverKeys = {"key- " + ROOT_PRINTER + "0100", "key- " + ROOT_PRINTER + "5000",
                                                 "key- " + ROOT_PRINTER + "9999", "key- " + HKLM + "Enum\\Root\\printer10000",
                                                 "key- " + CLASS_PRINTER + "0777", "key- " + CLASS_PRINTER + "9998"};
    CheckRun("20,000 instance keys", "win98",
             [&](Machine &m) {
                 std::string reg;
                 for (const std::string &base : {ROOT_PRINTER, CLASS_PRINTER})
                     for (int n = 3; n <= 10000; n++) {
                         std::string digits = std::to_string(n);
                         std::string key = n < 10000 ? base + std::string(4 - digits.size(), '0') + digits
                                                     : base.substr(0, base.size() - 1) + digits;
                         bool driver = std::count(driverKeys.begin(), driverKeys.end(), "key- " + key) > 0;
                         reg += "[" + key + "]\r\n" + RegString(base == ROOT_PRINTER ? "DeviceDesc" : "DriverDesc",
                                                                 driver ? DRIVER : "OSTRALIS " + digits) + "\r\n\r\n";
                     }
                 m.Append("registry.reg", reg);
             },
             {driverKeys});
}

}  // namespace

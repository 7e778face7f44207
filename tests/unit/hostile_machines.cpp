// Whole runs on the sample machines made hostile: decoys that look like the
// driver's things, odd values, long directories, thousands of files and
// keys. After each run the machine's difference from before must be exactly
// the set expected for it: the sample's own removal set (the run on the
// clean sample, which WholeRunTest pins), changed only where the case says.
//
// Letter case alone never makes a different key, section, key of a section
// or file name on Windows; the case decoys are the texts compared byte for
// byte: device descriptions and the INF marker. Blanks around a WIN.INI name
// are not part of it, so the blank decoys there stand inside the name.
#include <cstdio>

#include "whole_run_support.h"

using namespace phase_support;
using namespace whole_run;

namespace {

const std::string DRIVER = DRIVER_NAME;
const std::string PRODUCT = PRODUCT_NAME;
const std::string HKLM = "HKEY_LOCAL_MACHINE\\";
const std::string ROOT_PRINTER = "Enum\\Root\\printer\\";
const std::string CLASS_PRINTER = "System\\CurrentControlSet\\Services\\Class\\Printer\\";
const std::string WINDOWS = "C:\\WINDOWS";
const std::string PROGRAMS = "C:\\WINDOWS\\Start Menu\\Programs";
const std::string GROUP = PROGRAMS + "\\" + PRODUCT;

// Where the 14 fixed keys are stored on a Windows 9x machine.
const char *const g_fixedKeys[] = {
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a7e10-4b21-11d2-8f3a-0061b0d4e2c7}",
    "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\Printers\\shellex\\ContextMenuHandlers\\TINTAVERA Duneva 10 Shell Extension",
    "HKEY_LOCAL_MACHINE\\Config\\0001\\System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10",
    "HKEY_LOCAL_MACHINE\\Enum\\LPTENUM\\BRASCORADUNEVA_10F262",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Drivers\\TINTAVERA Brascora Duneva 10",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Environments\\Windows 4.0\\Print Processors\\TINTAVERA Duneva 10 PrintProcessor",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Monitors\\TINTAVERA Duneva 10 LanguageMonitor",
    "HKEY_LOCAL_MACHINE\\System\\CurrentControlSet\\control\\Print\\Printers\\TINTAVERA Brascora Duneva 10",
    "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\MenuOrder\\Start Menu\\&Programs\\TINTAVERA Duneva 10",
    "HKEY_LOCAL_MACHINE\\Security\\Access\\PRINT\\TINTAVERA Brascora Duneva 10",
};

// A sample machine copied to a temporary folder, with more put on it.
class Hostile {
public:
    explicit Hostile(const std::string &sample) : dir_(CopyOfSample(sample)) {}
    ~Hostile() { fs::remove_all(dir_); }

    Hostile &Key(const std::string &path, const std::vector<std::string> &values)
    {
        std::string text = "[" + path + "]\r\n";
        for (const std::string &value : values)
            text += value + "\r\n";
        return Append("registry.reg", text + "\r\n");
    }
    // Text added to machine.ini (a [Machine] section again overrides).
    Hostile &Ini(const std::string &text) { return Append("machine.ini", text); }
    Hostile &WinIni(const std::string &text) { return Append("drives/C/WINDOWS/WIN.INI", text); }
    Hostile &File(const std::string &path, const std::string &bytes)
    {
        fs::create_directories(fs::path(Host(path)).parent_path());
        std::ofstream(Host(path), std::ios::binary) << bytes;
        return *this;
    }
    Hostile &Dir(const std::string &path)
    {
        fs::create_directories(Host(path));
        return *this;
    }
    // Replaces text in one of the machine's files (a relative host path).
    Hostile &Replace(const std::string &file, const std::string &from, const std::string &to)
    {
        std::string bytes = ReadBytes(dir_ / file);
        for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
        std::ofstream(dir_ / file, std::ios::binary | std::ios::trunc) << bytes;
        return *this;
    }
    std::string Host(const std::string &path) const
    {
        std::string host = (dir_ / "drives").string() + "/" + path.substr(0, 1);
        for (size_t i = 2; i < path.size(); i++)
            host += path[i] == '\\' ? '/' : path[i];
        return host;
    }
    const fs::path &dir() const { return dir_; }

private:
    Hostile &Append(const std::string &file, const std::string &text)
    {
        std::ofstream(dir_ / file, std::ios::binary | std::ios::app) << text;
        return *this;
    }
    fs::path dir_;
};

// The removal set of the clean sample, once per sample.
const std::vector<std::string> &SampleRemovals(const std::string &sample)
{
    static std::map<std::string, std::vector<std::string>> runs;
    if (!runs.count(sample)) {
        fs::path dir = CopyOfSample(sample);
        runs[sample] = RunOn(dir).items;
        fs::remove_all(dir);
    }
    return runs[sample];
}

// Changes to an expected list.
struct Expected {
    std::vector<std::string> items;

    Expected &Add(const std::string &item)
    {
        items.push_back(item);
        return *this;
    }
    // Drops every item that holds text.
    Expected &Drop(const std::string &text)
    {
        items.erase(std::remove_if(items.begin(), items.end(),
                                   [&](const std::string &i) { return i.find(text) != std::string::npos; }),
                    items.end());
        return *this;
    }
    Expected &Rewrite(const std::string &from, const std::string &to)
    {
        for (std::string &item : items)
            for (size_t at = item.find(from); at != std::string::npos; at = item.find(from, at + to.size()))
                item.replace(at, from.size(), to);
        return *this;
    }
};

struct HostileCase {
    const char *what;
    const char *sample;
    std::function<void(Hostile &)> make;
    std::function<void(Expected &)> expect;
};

std::string Desc(const char *value, const std::string &text)
{
    return RegString(value, text);
}

// The run's changes against the expected ones: what is missing, what is
// extra, and the removal calls the run made.
void CheckRun(const HostileCase &c)
{
    Hostile machine(c.sample);
    c.make(machine);
    Expected expected{SampleRemovals(c.sample)};
    if (c.expect)
        c.expect(expected);
    std::sort(expected.items.begin(), expected.items.end());

    RunResult run = RunOn(machine.dir());
    std::vector<std::string> missing, extra;
    std::set_difference(expected.items.begin(), expected.items.end(), run.items.begin(),
                        run.items.end(), std::back_inserter(missing));
    std::set_difference(run.items.begin(), run.items.end(), expected.items.begin(),
                        expected.items.end(), std::back_inserter(extra));
    if (missing.empty() && extra.empty() && run.openHandles.empty())
        return;
    std::vector<SimCall> removals;
    for (const SimCall &call : run.calls)
        if ((call.name == "RegDeleteKeyA" || call.name == "DeleteFileA" ||
             call.name == "RemoveDirectoryA" || call.name == "WriteProfileStringA" ||
             call.name == "FileIoWriteAtEnd") && (call.result == 0 || call.result == 1))
            removals.push_back(call);
    ADD_FAILURE() << c.what << " (" << c.sample << ")\nexpected but not changed:\n" << Lines(missing)
                  << "changed but not expected:\n" << Lines(extra) << "left open: " << run.openHandles
                  << "\nremoval calls:\n" << SimFormatCalls(removals);
}

// A path of exactly length characters under C:\, in parts a host can hold.
std::string LongDir(size_t length, char fill)
{
    std::string dir = "C:";
    while (dir.size() < length) {
        size_t part = std::min<size_t>(60, length - dir.size() - 1);
        dir += "\\" + std::string(part, fill);
    }
    return dir;
}

// Decoys named like the driver's things, but not them.
TEST(HostileMachines, NamesThatDifferByABlankOrASuffixStay)
{
    auto make = [](Hostile &m) {
        for (const char *key : g_fixedKeys) {
            m.Key(std::string(key) + " ", {Desc("Decoy", "trailing blank")});
            m.Key(std::string(key) + "0", {Desc("Decoy", "suffix")});
        }
        m.Key(HKLM + ROOT_PRINTER + "0003", {Desc("DeviceDesc", DRIVER + "0")})
            .Key(HKLM + ROOT_PRINTER + "0004", {Desc("DeviceDesc", "TINTAVERA BRASCORA DUNEVA 10")})
            .Key(HKLM + CLASS_PRINTER + "0003", {Desc("DriverDesc", DRIVER + "0")})
            .Key(HKLM + CLASS_PRINTER + "0004", {Desc("DriverDesc", " " + DRIVER)})
            .Replace("drives/C/WINDOWS/WIN.INI", "[Devices]\r\n",
                     "[Devices]\r\n" + DRIVER + "0=BR32jp,LPT1:\r\n" + DRIVER + " X=BR32jp,LPT1:\r\n")
            .Replace("drives/C/WINDOWS/WIN.INI", "[PrinterPorts]\r\n",
                     "[PrinterPorts]\r\n" + DRIVER + "0=BR32jp,LPT1:,15,45\r\n")
            .WinIni("[" + DRIVER + "0-LPT1]\r\nA=1\r\n[" + DRIVER + " -LPT1]\r\nA=1\r\n"
                    "[" + DRIVER + "-LPT10]\r\nA=1\r\n[" + DRIVER + "-FILE:]\r\nA=1\r\n");
        for (const char *name : {"Guida Duneva 10.LNK", "Manuale Stampante Duneva 10.LNK"})
            m.File(GROUP + "0\\" + name, "L");
        for (const char *name : {"BR3232.DLL0", "BR32CT.DL", "BR32STAT.EXE.OLD", "brman32.pdf.txt"})
            m.File(WINDOWS + "\\SYSTEM\\" + name, name);
        m.File(WINDOWS + "\\INF\\OTHER\\BRASCORABRDUNE100.INF", "BR32STAT.EXE\r\n");
    };
    CheckRun({"blank and suffix decoys", "win98", make, nullptr});
    CheckRun({"blank and suffix decoys", "win95", make, nullptr});
}

// The printer's instance keys scattered among another printer's, with gaps:
// every one of the driver's goes, every other stays.
TEST(HostileMachines, InstanceKeysAmongAnotherPrintersKeys)
{
    CheckRun({"mixed instance keys", "win98",
              [](Hostile &m) {
                  for (int n : {3, 5, 8})
                      m.Key(HKLM + ROOT_PRINTER + "000" + std::to_string(n), {Desc("DeviceDesc", DRIVER)});
                  m.Key(HKLM + ROOT_PRINTER + "0005\\LogConfig", {Desc("x", "y")});
                  for (int n : {4, 7})
                      m.Key(HKLM + ROOT_PRINTER + "000" + std::to_string(n), {Desc("DeviceDesc", "OSTRALIS Jet 400")});
                  for (int n : {4, 6})
                      m.Key(HKLM + CLASS_PRINTER + "000" + std::to_string(n), {Desc("DriverDesc", DRIVER)});
                  m.Key(HKLM + CLASS_PRINTER + "0003", {Desc("DriverDesc", "OSTRALIS Jet 400")});
              },
              [](Expected &e) {
                  for (const char *n : {"0003", "0005", "0008"})
                      e.Add("key- " + HKLM + ROOT_PRINTER + n);
                  for (const char *n : {"0004", "0006"})
                      e.Add("key- " + HKLM + CLASS_PRINTER + n);
              }});
}

// What the user keeps beside the driver's files: the folder that holds a
// file of theirs stays with it, read-only and busy files are passed over.
TEST(HostileMachines, TheUsersFilesAndLockedDriverFilesStay)
{
    CheckRun({"the user's files", "win98",
              [](Hostile &m) {
                  m.File(GROUP + "\\Note mie.txt", "mie")
                      .File(WINDOWS + "\\SYSTEM\\MIEI.TXT", "x")
                      .File(WINDOWS + "\\SYSTEM\\BR32NOTE.TXT", "x");
              },
              [](Expected &e) { e.Drop("folder- " + GROUP); }});
    CheckRun({"read-only and busy driver files", "win95",
              [](Hostile &m) {
                  m.Ini("[Attributes]\r\n" + WINDOWS + "\\SYSTEM\\BR32CT.DLL=R\r\n" + GROUP +
                        "\\Guida Duneva 10.LNK=RH\r\n[Busy]\r\n" + WINDOWS + "\\SYSTEM\\BR32RS.DLL\r\n");
              },
              [](Expected &e) {
                  e.Drop("\\BR32CT.DLL").Drop("\\BR32RS.DLL").Drop("Guida Duneva 10.LNK").Drop("folder- " + GROUP);
              }});
}

// OEM INF files that hold the marker only in ways that do not count (after
// 0x1A, inside a longer word, in other letter case), a folder named like
// one, and a second INF of the driver's, which goes too.
TEST(HostileMachines, OemInfFilesThatOnlyLookLikeTheDrivers)
{
    const std::string inf = WINDOWS + "\\INF\\";
    CheckRun({"INF decoys", "win95",
              [&](Hostile &m) {
                  m.File(inf + "OEM7.INF", "[Version]\r\nSignature=\"$CHICAGO$\"\r\n\x1A\r\nBR32STAT.EXE\r\n")
                      .File(inf + "OEM8.INF", "XBR32STAT.EXE BR32STAT.EXEX BR32STAT.EX BR32STAT.EXE.\r\n")
                      .File(inf + "OEM10.INF", "Br32Stat.Exe\tbr32stat.exe BR32STAT.exe\r\n")
                      .File(inf + "OEM12.INF", "BR32STAT.EXE" + std::string(300, 'x') + "\r\n")
                      .File(inf + "oem9.inf\\BR32STAT.EXE", "BR32STAT.EXE")
                      .File(inf + "OEM11.INF", "; another copy\r\n[BR32STAT]\r\nBR32STAT.EXE\r\n");
              },
              [&](Expected &e) { e.Add("file- " + inf + "OEM11.INF"); }});
}

// A "Devices" value longer than the profile buffer arrives cut, and so does
// its port: the section named after the cut port goes, the one named after
// the whole port stays, and so do the three fixed ones.
TEST(HostileMachines, AProfileValueOf149CharactersAndMore)
{
    const std::string port = "\\\\SERVER\\" + std::string(170, 'S');
    const std::string value = "BR32jp," + port;
    const std::string cutSection = "[" + DRIVER + "-" + value.substr(7, 149 - 7) + "]";
    CheckRun({"a long Devices value", "win98",
              [&](Hostile &m) {
                  m.Replace("drives/C/WINDOWS/WIN.INI", DRIVER + "=BR32jp,LPT1:\r\n", DRIVER + "=" + value + "\r\n")
                      .WinIni("[" + DRIVER + "-" + port + "]\r\nA=1\r\n" + cutSection + "\r\nA=1\r\n");
              },
              [&](Expected &e) {
                  e.Drop("section- ");
                  e.Add("section- " + cutSection);
              }});
}

// "Programs" as the registry may hold it: not a string, too long, without
// its NUL. A path that cannot be read whole is not used at all.
TEST(HostileMachines, ProgramsValuesOfEveryShape)
{
    const std::string shellFolders =
        "HKEY_USERS\\.DEFAULT\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
    const std::string keyLine = "[" + shellFolders + "]\r\n";
    struct Shape {
        const char *what;
        std::string value;
        std::string ini;
        bool groupGoes;
    };
    const Shape shapes[] = {
        {"a number", "\"Programs\"=dword:00000001", "", false},
        {"the path as binary bytes", RegBinary("Programs", PROGRAMS), "", true},
        {"the path without its NUL", "\"Programs\"=hex(1):" + RegBinary("", PROGRAMS).substr(7), "", true},
        {"300 bytes", RegString("Programs", PROGRAMS + "\\" + std::string(268, 'p')), "", false},
        {"300 bytes, the cut part left in the buffer",
         RegString("Programs", PROGRAMS + "\\" + std::string(268, 'p')), "[Machine]\r\nMoreData=partial\r\n", false},
        {"260 bytes without a NUL", RegBinary("Programs", PROGRAMS + std::string(230, '\\')), "", false},
    };
    for (const Shape &shape : shapes) {
        CheckRun({shape.what, "win98",
                  [&](Hostile &m) { m.Key(shellFolders, {shape.value}).Ini(shape.ini); },
                  [&](Expected &e) {
                      if (!shape.groupGoes)
                          e.Drop(GROUP);
                  }});
    }
}

// Windows and system directories of 100 characters: everything is where
// the directories say, and goes as on the sample. Of 250: no path under
// them fits, so only the registry and WIN.INI entries go, and WININIT.INI
// is not written.
TEST(HostileMachines, LongWindowsAndSystemDirectories)
{
    const std::string windows100 = LongDir(100, 'W');
    auto escaped = [](const std::string &path) {
        std::string text;
        for (char c : path)
            text += c == '\\' ? std::string("\\\\") : std::string(1, c);
        return text;
    };
    CheckRun({"100 characters", "win95",
              [&](Hostile &m) {
                  fs::create_directories(fs::path(m.Host(windows100)).parent_path());
                  fs::rename(m.Host(WINDOWS), m.Host(windows100));
                  m.Replace("registry.reg", escaped(WINDOWS + "\\"), escaped(windows100 + "\\"))
                      .Ini("[Machine]\r\nWindowsDir=" + windows100 + "\r\nSystemDir=" + windows100 + "\\SYSTEM\r\n");
              },
              [&](Expected &e) { e.Rewrite(WINDOWS + "\\", windows100 + "\\"); }});

    const std::string windows250 = LongDir(250, 'W');
    const std::string system250 = LongDir(250, 'S');
    CheckRun({"250 characters", "win95",
              [&](Hostile &m) {
                  m.Dir(system250).Ini("[Machine]\r\nWindowsDir=" + windows250 + "\r\nSystemDir=" + system250 + "\r\n");
                  fs::create_directories(m.Host(windows250));
                  fs::rename(m.Host(WINDOWS + "\\WIN.INI"), m.Host(windows250 + "\\WIN.INI"));
              },
              [&](Expected &e) {
                  e.Drop("\\SYSTEM\\").Drop("\\INF\\").Drop("wininit.ini");
                  e.Rewrite(WINDOWS + "\\WIN.INI", windows250 + "\\WIN.INI");
              }});
}

// 5,000 OEM INF files: every one is read, none but the driver's goes, and
// the last one named, which holds the marker, goes too.
TEST(HostileMachines, FiveThousandOemInfFiles)
{
    const std::string inf = WINDOWS + "\\INF\\";
    CheckRun({"5,000 OEM INF files", "win95",
              [&](Hostile &m) {
                  for (int n = 1000; n < 6000; n++)
                      m.File(inf + "OEM" + std::to_string(n) + ".INF",
                             "[Version]\r\nSignature=\"$CHICAGO$\"\r\n[F" + std::to_string(n) +
                                 "]\r\nOSJ" + std::to_string(n) + ".DLL\r\n" + (n == 5999 ? "BR32STAT.EXE\r\n" : ""));
              },
              [&](Expected &e) { e.Add("file- " + inf + "OEM5999.INF"); }});
}

// 20,000 instance keys, 10,000 in each pass, all reached by the scan: the
// driver's five among them go, none of the others.
TEST(HostileMachines, TwentyThousandInstanceKeys)
{
    const int driverKeys[2][3] = {{100, 5000, 9999}, {777, 9998, -1}};
    CheckRun({"20,000 instance keys", "win98",
              [&](Hostile &m) {
                  std::string reg;
                  for (int pass = 0; pass < 2; pass++) {
                      for (int n = 3; n < 10000; n++) {
                          char name[12];
                          snprintf(name, sizeof name, "%04d", n);
                          bool driver = std::count(driverKeys[pass], driverKeys[pass] + 3, n) > 0;
                          reg += "[" + HKLM + (pass ? CLASS_PRINTER : ROOT_PRINTER) +
                                 name + "]\r\n" +
                                 Desc(pass ? "DriverDesc" : "DeviceDesc", driver ? DRIVER : "OSTRALIS " + std::string(name)) +
                                 "\r\n\r\n";
                      }
                  }
                  std::ofstream(m.dir() / "registry.reg", std::ios::binary | std::ios::app) << reg;
              },
              [&](Expected &e) {
                  for (int pass = 0; pass < 2; pass++)
                      for (int n : driverKeys[pass])
                          if (n >= 0) {
                              char name[12];
                              snprintf(name, sizeof name, "%04d", n);
                              e.Add("key- " + HKLM + (pass ? CLASS_PRINTER : ROOT_PRINTER) + name);
                          }
              }});
}

}  // namespace

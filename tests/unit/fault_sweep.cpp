// Every service call of a whole removal, failed in turn. A fault-free run
// on a sample machine counts the calls; then the removal runs again once for
// each call k, on a fresh copy, with call k failing as that service really
// fails. Every run must end, reach every later phase in order, leave nothing
// open, and change nothing that the fault-free run did not: a fault may make
// a run remove less, never more (a driver file that a fault kept from its
// deletion may be named in WININIT.INI instead). Then each service fails at
// every call. Besides the samples, a machine with a driver file in use and a
// WININIT.INI that must be rewritten: whatever step fails, that file ends as
// it was, with our lines in place, or with them appended. After each run the
// program runs again, to its end, and the next start must act on our lines
// and on another program's. Last, the same machine's run is interrupted
// after each call of the restart list, as by a power cut, and run again.
#include <cstdio>

#include "core/core.h"
#include "phase_support.h"

using namespace phase_support;

namespace {

// The failures each service can return; two where the engine could tell
// them apart. The string services cannot fail on the engine's own buffers,
// and PlatformFree has no result: those are counted, not failed.
const std::pair<const char *, long> g_faults[] = {
    {"RegOpenKeyExA", ERROR_ACCESS_DENIED}, {"RegQueryValueExA", ERROR_FILE_NOT_FOUND},
    {"RegQueryValueExA", ERROR_MORE_DATA}, {"RegCloseKey", ERROR_INVALID_HANDLE}, {"RegDeleteKeyA", ERROR_ACCESS_DENIED},
    {"RegFlushKey", ERROR_CANTWRITE}, {"GetVersionExA", ERROR_INVALID_PARAMETER}, {"GetProfileStringA", ERROR_FILE_NOT_FOUND},
    {"WriteProfileStringA", ERROR_SHARING_VIOLATION}, {"GetSystemDirectoryA", ERROR_PATH_NOT_FOUND},
    {"GetWindowsDirectoryA", ERROR_PATH_NOT_FOUND}, {"DeleteFileA", ERROR_SHARING_VIOLATION},
    {"RemoveDirectoryA", ERROR_ACCESS_DENIED}, {"FindFirstFileA", ERROR_FILE_NOT_FOUND},
    {"FindNextFileA", ERROR_NO_MORE_FILES}, {"FindClose", ERROR_INVALID_HANDLE}, {"FileIoOpen", ERROR_SHARING_VIOLATION},
    {"FileIoRead", ERROR_ACCESS_DENIED}, {"FileIoWriteAtEnd", ERROR_ACCESS_DENIED}, {"FileIoSize", ERROR_ACCESS_DENIED},
    {"FileIoSeek", ERROR_ACCESS_DENIED}, {"FileIoTruncate", ERROR_ACCESS_DENIED}, {"FileIoClose", ERROR_ACCESS_DENIED},
    {"FileIoFlush", ERROR_ACCESS_DENIED},
    {"PlatformAlloc", ERROR_NOT_ENOUGH_MEMORY}, {"GetFileAttributesA", ERROR_FILE_NOT_FOUND},
    {"MoveFileA", ERROR_ACCESS_DENIED}, {"MoveFileExA", ERROR_ACCESS_DENIED}, {"WritePrivateProfileStringA", ERROR_SHARING_VIOLATION},
    {"RegSetValueExA", ERROR_ACCESS_DENIED}, {"RegDeleteValueA", ERROR_ACCESS_DENIED}, {"RegEnumKeyA", ERROR_ACCESS_DENIED},
    {"SendMessageTimeoutA", 1460L /* ERROR_TIMEOUT */},
};
const std::set<std::string> g_neverFail = {"lstrcpyA", "lstrcatA", "lstrcmpA", "lstrlenA", "PlatformFree",
                                           "GetLastError"};

// The items that allowed does not cover. A key removed under a key that
// allowed removes is covered: its top went in the other run.
std::vector<std::string> NotCovered(std::vector<std::string> items, const std::vector<std::string> &allowed,
                                    const std::string &service)
{
    std::vector<std::string> extra;
    for (std::string item : items) {
        // WININIT.INI that cannot be read may end in anything: a line end and
        // a header of our own go first, harmless where not needed.
        // A driver file kept by a fault: named for the next start instead.
        const std::string kept = "line+ C:\\WINDOWS\\wininit.ini NUL=";
        bool covered = std::binary_search(allowed.begin(), allowed.end(), item) ||
                       (service == "FileIoRead" && (item == "line+ C:\\WINDOWS\\wininit.ini " ||
                                                    item == "line+ C:\\WINDOWS\\wininit.ini [rename]")) ||
                       (item.rfind(kept, 0) == 0 &&
                        std::binary_search(allowed.begin(), allowed.end(), "file- " + item.substr(kept.size())));
        // A default printer that the fault-free run pointed at the printer
        // left may go instead (DefaultPrinterProblem: never at a printer
        // that is not there).
        for (const char *kind : {"inikey", "value"})
            covered = covered || (item.rfind(std::string(kind) + "- ", 0) == 0 &&
                                  std::binary_search(allowed.begin(), allowed.end(),
                                                     std::string(kind) + "~ " + item.substr(strlen(kind) + 2)));
        for (size_t i = 0; !covered && i < allowed.size(); i++)
            covered = allowed[i].rfind("key- ", 0) == 0 && item.rfind("key- ", 0) == 0 &&
                      item.size() > allowed[i].size() && item[allowed[i].size()] == '\\' &&
                      SimSameText(item.substr(0, allowed[i].size()), allowed[i]);
        if (!covered)
            extra.push_back(item);
    }
    return extra;
}

// A copy made of hard links, which a run's deletions cannot reach through;
// WIN.INI and WININIT.INI, which a run writes in place, are copied. The
// sweep checks at its end that the linked files never changed.
const std::string &FreshCopy(const std::string &from, const std::string &to)
{
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::create_hard_links);
    for (const char *file : {"/drives/C/WINDOWS/WIN.INI", "/drives/C/WINDOWS/wininit.ini"}) {
        if (fs::exists(from + file)) {
            fs::remove(to + file);
            fs::copy_file(from + file, to + file);
        }
    }
    return to;
}

// The machine of the third sweep: BR32SHEL.DLL in use, and another
// program's [rename] section followed by another section.
const std::string PENDING = "[rename]\r\nNUL=C:\\OLD.TMP\r\n", VXDS = "[CombineVxDs]\r\nA=B\r\n";
void BusyAndRewritten(Machine &m)
{
    m.Append("machine.ini", "[Busy]\r\nC:\\WINDOWS\\SYSTEM\\BR32SHEL.DLL\r\n");
    m.File("C:\\WINDOWS\\wininit.ini", PENDING + VXDS).File("C:\\OLD.TMP", "old");
}

// WININIT.INI's text without our lines (every NUL= line but the other
// program's) and our headers (a [rename] line right before one of them):
// what it held before, if nothing of it was lost. *first: where our first
// line was (npos: none).
std::string WithoutOurs(const std::string &text, size_t *first = nullptr)
{
    auto ours = [&](size_t at) {
        return text.compare(at, 4, "NUL=") == 0 && text.compare(at, PENDING.size() - 10, PENDING.substr(10)) != 0;
    };
    std::string rest;
    if (first)
        *first = std::string::npos;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        end = end == std::string::npos ? text.size() : end + 1;
        if (ours(at) && first && *first == std::string::npos)
            *first = at;
        if (!ours(at) && !(text.compare(at, end - at, "[rename]\r\n") == 0 && ours(end)))
            rest += text.substr(at, end - at);
        at = end;
    }
    return rest;
}

// WININIT.INI with every line it held, byte for byte, and ours, if any,
// in its first section or at its end under a header of their own (a failed
// read may add a line end before that header); nothing of ours left beside
// it, but for the old text where its deletion failed (service: the one
// failed).
std::string RewriteProblem(const std::string &dir, const std::string &service = "")
{
    const std::string windows = dir + "/drives/C/WINDOWS/", R = "[rename]\r\n";
    std::string ini = MachineBuilder::ReadHost(windows + "wininit.ini");
    bool oldStays = service == "DeleteFileA" && MachineBuilder::ReadHost(windows + "BR32WIN.OLD") == PENDING + VXDS;
    if (fs::exists(windows + "BR32WIN.NEW") || (fs::exists(windows + "BR32WIN.OLD") && !oldStays))
        return "BR32WIN.NEW or BR32WIN.OLD left\n";
    size_t at;
    std::string rest = WithoutOurs(ini, &at);
    std::string before = at == std::string::npos ? "" : ini.substr(0, at);
    bool kept = rest == PENDING + VXDS || rest == PENDING + VXDS + "\r\n";
    bool placed = at == std::string::npos || before == PENDING || before == rest + R;
    return kept && placed ? "" : "WININIT.INI lost a line, or our lines are out of place:\n" + ini + "\n";
}

// The program run again, to its end, on what a first run left, and then the
// next start: every [rename] line another program had pending is acted
// upon, and so are our five. pending: the machine held PENDING.
std::string SecondRunProblem(const std::string &dir, bool pending)
{
    RunOn(dir);
    std::string error;
    if (!SimLoadMachine(dir, &error))
        return "the machine does not load after the second run: " + error + "\n";
    std::vector<std::string> done = SimNextStart();
    SimUnloadMachine();
    std::vector<std::string> wanted;
    if (pending)
        wanted.push_back("deleted C:\\OLD.TMP");
    for (const char *name : RESTART_FILES)
        wanted.push_back(std::string("deleted C:\\WINDOWS\\SYSTEM\\") + name);
    std::string problems;
    for (const std::string &line : wanted)
        if (std::find(done.begin(), done.end(), line) == done.end())
            problems += "after a second run, the next start did not do: " + line + "\n";
    return problems.empty() ? "" : problems + "it did:\n" + Lines(done);
}

struct Sweep {
    std::string sample;
    Machine pristine;
    std::string work;
    SimSnapshot before;
    RunResult plain, gateClosed;  // no fault; no fault at build 0, which a failed version query reads
    int runs = 0, failures = 0;  // each run is followed by a second, fault-free one
    std::string firstFailures;

    std::function<void(Machine &)> make;
    std::string plainProblem;  // RewriteProblem after the fault-free run

    Sweep(const char *name, const std::function<void(Machine &)> &setUp = {})
        : sample(name), pristine(name), work(pristine.dir() + "-run"), make(setUp)
    {
        if (make)
            make(pristine);
        if (SimLoadMachine(pristine.dir(), nullptr))
            before = SimTakeSnapshot();
        SimUnloadMachine();
        plain = RunOn(FreshCopy(pristine.dir(), work), {}, &before);
        if (make)
            plainProblem = RewriteProblem(work);
        Machine closed(name);
        closed.Set("Build", "0");
        if (make)
            make(closed);
        gateClosed = RunOn(closed.dir(), {}, &before);
    }
    ~Sweep() { fs::remove_all(work); }

    // One run with service failing at occurrence (0: every call); the fault-free
    // run made the failed call at faultIndex.
    void Run(const std::string &service, int occurrence, long error, const std::string &what, size_t faultIndex)
    {
        runs++;
        RunResult run = RunOn(FreshCopy(pristine.dir(), work), [&] { SimFailCall(service, occurrence, error); }, &before);
        // A failed directory query leaves its directory empty: no path is
        // made from it, so nothing outside the Windows, system and program
        // folders (all under C:\WINDOWS here) is touched.
        std::string problems;
        for (const std::string &item : run.items) {
            size_t at = item.find(' ');
            bool file = item.rfind("file", 0) == 0 || item.rfind("folder", 0) == 0 || item.rfind("line+", 0) == 0;
            if (file && item.compare(at + 1, 11, "C:\\WINDOWS\\") != 0)
                problems += "touched outside the Windows, system and program folders: " + item + "\n";
        }
        // Where the fault-free run rewrote WININIT.INI, RewriteProblem judges
        // the file.
        if (make)
            run.items.erase(std::remove_if(run.items.begin(), run.items.end(), [](const std::string &item) {
                                return item.find("wininit.ini") != std::string::npos ||
                                       item.find("BR32WIN.OLD") != std::string::npos;
                            }), run.items.end());
        std::vector<std::string> extra =
            NotCovered(run.items, service == "GetVersionExA" ? gateClosed.items : plain.items, service);
        if (!extra.empty())
            problems += "changed what the fault-free run did not:\n" + Lines(extra);
        // The phases after a failed directory query make no call to show
        // that they ran: they have no directory to work in.
        int missing = MissingPhase(run.calls);
        if (missing >= 8 && service.find("DirectoryA") != std::string::npos)
            missing = -1;
        if (missing >= 0)
            problems += "phase " + std::to_string(missing + 1) + " not reached after the one before\n";
        if (service != "RegCloseKey" && service != "FindClose" && !run.openHandles.empty())
            problems += "left open: " + run.openHandles + "\n";
        if (make)
            problems += RewriteProblem(work, service);
        problems += run.defaultProblem;
        problems += SecondRunProblem(work, make != nullptr);
        if (!problems.empty() && ++failures <= 3) {
            std::vector<SimCall> services;
            for (size_t i = faultIndex; i < run.calls.size(); i++)
                if (!g_neverFail.count(run.calls[i].name))
                    services.push_back(run.calls[i]);
            firstFailures += sample + ", " + what + ":\n" + problems + "changes:\n" + run.report +
                             "service calls from the failed one on:\n" + SimFormatCalls(services) + "\n";
        }
    }
};

// One machine's sweep; each is a test of its own, so that they run beside
// each other.
void SweepEveryCall(const char *name, const char *sample, void (*make)(Machine &))
{
    Sweep sweep(sample, make ? make : std::function<void(Machine &)>());
    ASSERT_FALSE(sweep.plain.items.empty()) << name;
    ASSERT_EQ(-1, MissingPhase(sweep.plain.calls)) << name;
    std::map<std::string, int> seen;
    int covered = 0;
    for (size_t k = 0; k < sweep.plain.calls.size(); k++) {
        const SimCall &call = sweep.plain.calls[k];
        int occurrence = ++seen[call.name];
        bool failed = false;
        for (const auto &[service, error] : g_faults) {
            if (call.name != service)
                continue;
            failed = true;
            sweep.Run(service, occurrence, error, "call " + std::to_string(k + 1) + " " +
                      SimFormatCalls({call}).substr(0, 200) + "   failing as #" +
                      std::to_string(occurrence) + " with error " + std::to_string(error), k);
        }
        covered += failed;
        ASSERT_TRUE(failed || g_neverFail.count(call.name)) << "a service the sweep has no failure for: " << call.name;
    }
    for (const auto &[service, count] : seen)  // and each service down for the whole run
        for (const auto &[faulted, error] : g_faults)
            if (service == faulted && (service != "RegQueryValueExA" || error == ERROR_FILE_NOT_FOUND))
                sweep.Run(service, 0, error, service + " failing at every call", 0);
    EXPECT_EQ(0, sweep.failures) << sweep.firstFailures;
    if (!make)
        EXPECT_TRUE(ReadFolder(sweep.pristine.dir()) == ReadFolder(std::string(BR_SOURCE_DIR "/machines/") + name))
            << name << ": a run wrote through a linked file";
    else
        EXPECT_EQ("", sweep.plainProblem) << "the fault-free run";
    std::printf("fault sweep, %s: %zu calls, %d failed in turn (the rest are string services "
                "and PlatformFree), %d runs\n",
                name, sweep.plain.calls.size(), covered, sweep.runs);
}

TEST(FaultSweep, EveryCallFailedInTurnRemovesNoMoreOnWin98)
{
    SweepEveryCall("win98", "win98", nullptr);
}

TEST(FaultSweep, EveryCallFailedInTurnRemovesNoMoreOnWin95)
{
    SweepEveryCall("win95", "win95", nullptr);
}

TEST(FaultSweep, EveryCallFailedInTurnRemovesNoMoreInUseAndRewritten)
{
    SweepEveryCall("win98, in use and rewritten", "win98", BusyAndRewritten);
}

}  // namespace

namespace {

// A power cut: the run ends where it is thrown, the files as the calls left
// them; unloading the machine then loses what a dead process loses (the
// profile copies, the open handles, the registry in memory). Thrown from
// the call record, it unwinds through the engine, where a destructor could
// still write what no dead process writes: the machine folder, read at the
// cut, must be the same once the run has unwound. A child process per cut
// costs an instrumented build far more.
struct PowerCut {};
std::string g_cutFolder;
std::map<std::string, std::string> g_atCut;
void CutPower()
{
    g_atCut = ReadFolder(g_cutFolder);
    throw PowerCut();
}

// The machine that needs the rewrite, its run stopped right after each call
// of the restart list in turn, then the program run again to its end and
// the next start.
TEST(FaultSweep, AnInterruptionAnywhereInTheRestartListIsMadeGoodByTheNextRun)
{
    Machine pristine("win98");
    BusyAndRewritten(pristine);
    const std::string work = pristine.dir() + "-run";
    RunResult plain = RunOn(FreshCopy(pristine.dir(), work));
    size_t first = 0;
    while (first < plain.calls.size() && !(plain.calls[first].name == "GetFileAttributesA" &&
                                           plain.calls[first].args[0] == "C:\\WINDOWS\\wininit.ini"))
        first++;
    ASSERT_LT(first, plain.calls.size()) << "no restart list in the run";
    int stops = 0, failures = 0;
    std::string firstFailures;
    for (size_t n = first + 1; n <= plain.calls.size(); n++) {
        ASSERT_TRUE(SimLoadMachine(FreshCopy(pristine.dir(), work), nullptr));
        g_cutFolder = work;
        SimAfterCall((long)n, CutPower);
        bool cut = false;
        try {
            RunUninstall();
        } catch (const PowerCut &) {
            cut = true;
        }
        SimUnloadMachine();
        ASSERT_TRUE(cut) << "call " << n << " was not reached";
        stops++;
        std::string problems;
        if (ReadFolder(work) != g_atCut)
            problems += "the machine folder changed after the cut, as the run unwound\n";
        problems += SecondRunProblem(work, true);
        std::string bak = MachineBuilder::ReadHost(work + "/drives/C/WINDOWS/WININIT.BAK");
        if (WithoutOurs(bak) != PENDING + VXDS)
            problems += "WININIT.BAK does not hold what WININIT.INI held, with only our lines added:\n" + bak + "\n";
        if (!problems.empty() && ++failures <= 3)
            firstFailures += "stopped after " + SimFormatCalls({plain.calls[n - 1]}) + problems + "\n";
    }
    fs::remove_all(work);
    EXPECT_EQ(0, failures) << firstFailures;
    std::printf("interruption sweep: %d runs stopped after a call of the restart list, each run again\n", stops);
}

}  // namespace

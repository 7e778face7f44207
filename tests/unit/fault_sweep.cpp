// Every service call of a whole removal, failed in turn. A fault-free run
// on a sample machine counts the calls; then the removal runs again once for
// each call k, on a fresh copy, with call k failing as that service really
// fails. Every run must end, reach every later phase in order, leave nothing
// open, and change nothing that the fault-free run did not: a fault may make
// a run remove less, never more. Then each service fails at every call.
#include <cstdio>

#include "whole_run_support.h"

using namespace phase_support;
using namespace whole_run;

namespace {

// The failure each service can return; a second error where the engine
// could tell them apart.
struct ServiceFault {
    const char *service;
    std::vector<long> errors;
};

const ServiceFault g_serviceFaults[] = {
    {"RegOpenKeyExA", {ERROR_ACCESS_DENIED}},
    {"RegQueryValueExA", {ERROR_FILE_NOT_FOUND, ERROR_MORE_DATA}},
    {"RegCloseKey", {ERROR_INVALID_HANDLE}},
    {"RegDeleteKeyA", {ERROR_ACCESS_DENIED}},
    {"RegFlushKey", {ERROR_CANTWRITE}},
    {"GetVersionExA", {ERROR_INVALID_PARAMETER}},
    {"GetProfileStringA", {ERROR_FILE_NOT_FOUND}},  // an empty answer
    {"WriteProfileStringA", {ERROR_SHARING_VIOLATION}},
    {"GetSystemDirectoryA", {ERROR_PATH_NOT_FOUND}},  // 0, nothing stored
    {"GetWindowsDirectoryA", {ERROR_PATH_NOT_FOUND}},
    {"DeleteFileA", {ERROR_SHARING_VIOLATION}},
    {"RemoveDirectoryA", {ERROR_ACCESS_DENIED}},
    {"FindFirstFileA", {ERROR_FILE_NOT_FOUND}},
    {"FindNextFileA", {ERROR_NO_MORE_FILES}},  // a listing cut short
    {"FindClose", {ERROR_INVALID_HANDLE}},
    {"FileIoOpen", {ERROR_SHARING_VIOLATION}},  // a stream that does not open
    {"FileIoRead", {ERROR_ACCESS_DENIED}},      // a word read that fails
    {"FileIoWriteAtEnd", {ERROR_ACCESS_DENIED}},
    {"FileIoSize", {ERROR_ACCESS_DENIED}},
    {"FileIoSeek", {ERROR_ACCESS_DENIED}},
    {"FileIoTruncate", {ERROR_ACCESS_DENIED}},
    {"FileIoClose", {ERROR_ACCESS_DENIED}},
    {"PlatformAlloc", {ERROR_NOT_ENOUGH_MEMORY}},
};

// Calls that cannot fail on the engine's own buffers (the string services)
// or have no result (PlatformFree); they are counted, not failed.
const char *const g_neverFail[] = {"lstrcpyA", "lstrcatA", "lstrcmpA", "lstrlenA", "PlatformFree"};

const ServiceFault *FaultOf(const std::string &service)
{
    for (const ServiceFault &fault : g_serviceFaults)
        if (service == fault.service)
            return &fault;
    return nullptr;
}

// A call that shows a phase has run; the phases must come in this order.
struct PhaseMark {
    const char *phase;
    std::vector<std::pair<const char *, std::string>> calls;  // service, argument ending
};

const PhaseMark g_phaseMarks[] = {
    {"version query", {{"GetVersionExA", ""}}},
    {"fixed keys", {{"RegFlushKey", "HKEY_LOCAL_MACHINE"}}},
    {"instance scan, pass 1", {{"RegOpenKeyExA", "Enum\\Root\\printer\\0000"}}},
    {"instance scan, pass 2", {{"RegOpenKeyExA", "Services\\Class\\Printer\\0000"}}},
    {"WIN.INI entries", {{"GetProfileStringA", ""}}},
    {"program group", {{"RegOpenKeyExA", "Explorer\\Shell Folders"}}},
    {"system directory", {{"GetSystemDirectoryA", ""}}},
    {"Windows directory", {{"GetWindowsDirectoryA", ""}}},
    {"driver files", {{"DeleteFileA", "\\BR3232.DLL"}}},
    {"INF files",
     {{"DeleteFileA", "\\BRASCORABRDUNE10.INF"}, {"FindFirstFileA", "\\oem*.inf"}, {"PlatformAlloc", "52000"}}},
    {"WININIT.INI", {{"FindFirstFileA", "\\wininit.ini"}}},
};

bool EndsWith(const std::string &text, const std::string &end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// The index of the first call that marks the phase after from, or -1.
long FindMark(const std::vector<SimCall> &calls, const PhaseMark &mark, long from)
{
    for (size_t i = (size_t)(from + 1); i < calls.size(); i++) {
        for (const auto &[service, ending] : mark.calls) {
            if (calls[i].name != service)
                continue;
            // The argument that names the phase: the subkey of an open, else
            // the first one.
            size_t arg = calls[i].name == "RegOpenKeyExA" ? 1 : 0;
            if (ending.empty() || (calls[i].args.size() > arg && EndsWith(calls[i].args[arg], ending)))
                return (long)i;
        }
    }
    return -1;
}

// What a failed directory query changes about where things go: the empty
// path puts WININIT.INI, and the files its lines name, at the root of the
// current drive (C:). Rewritten to where the fault-free run put them, the
// items must then be covered like any other.
std::vector<std::string> AsFaultFree(std::vector<std::string> items, const std::string &service)
{
    for (std::string &item : items) {
        if (service == "GetWindowsDirectoryA") {
            for (const char *kind : {"file+ ", "line+ "}) {
                std::string root = std::string(kind) + "C:\\wininit.ini";
                if (item.compare(0, root.size(), root) == 0)
                    item = kind + std::string("C:\\WINDOWS\\wininit.ini") + item.substr(root.size());
            }
        }
        std::string rootLine = "C:\\WINDOWS\\wininit.ini NULL=\\";
        size_t at = item.find(rootLine);
        if (service == "GetSystemDirectoryA" && at != std::string::npos)
            item.replace(at + rootLine.size() - 1, 1, "C:\\WINDOWS\\SYSTEM\\");
    }
    std::sort(items.begin(), items.end());
    return items;
}

// A copy made of hard links, which a run's deletions cannot reach through;
// WIN.INI, the one file a run rewrites in place, is copied. The sweep checks
// at its end that the linked files never changed.
fs::path FreshCopy(const fs::path &from, const fs::path &to)
{
    fs::remove_all(to);
    fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::create_hard_links);
    fs::path winIni = to / "drives/C/WINDOWS/WIN.INI";
    fs::remove(winIni);
    fs::copy_file(from / "drives/C/WINDOWS/WIN.INI", winIni);
    return to;
}

struct Sweep {
    std::string machine;
    fs::path pristine, work;
    SimSnapshot before;
    RunResult plain;       // no fault
    RunResult gateClosed;  // no fault, build 0: what a failed version query reads
    int runs = 0;
    int failures = 0;
    std::string firstFailures;

    explicit Sweep(const std::string &name) : machine(name)
    {
        pristine = CopyOfSample(name);
        work = FreshFolder(name + "-run");
        std::string error;
        if (SimLoadMachine(pristine.string(), &error))
            before = SimTakeSnapshot();
        SimUnloadMachine();
        plain = RunOn(FreshCopy(pristine, work), {}, &before);
        FreshCopy(pristine, work);
        std::string ini = ReadBytes(work / "machine.ini");
        size_t build = ini.find("Build=");
        ini.replace(build, ini.find('\r', build) - build, "Build=0");
        fs::remove(work / "machine.ini");  // a link to the pristine copy's
        std::ofstream(work / "machine.ini", std::ios::binary) << ini;
        gateClosed = RunOn(work, {}, &before);
    }
    ~Sweep()
    {
        fs::remove_all(pristine);
        fs::remove_all(work);
    }

    // One run with service failing at occurrence (0: every call). what
    // names the fault in a failure message; faultIndex is where the
    // fault-free run made the failed call.
    void Run(const std::string &service, int occurrence, long error, const std::string &what,
             size_t faultIndex)
    {
        runs++;
        RunResult run = RunOn(FreshCopy(pristine, work),
                              [&] { SimFailCall(service, occurrence, error); }, &before);
        const RunResult &allowed = service == "GetVersionExA" ? gateClosed : plain;
        std::vector<std::string> extra = NotCovered(AsFaultFree(run.items, service), allowed.items);

        std::string problems;
        if (!extra.empty())
            problems += "changed what the fault-free run did not:\n" + Lines(extra);
        long at = -1;
        for (const PhaseMark &mark : g_phaseMarks) {
            long found = FindMark(run.calls, mark, at);
            if (found < 0) {
                problems += std::string("phase not reached after the one before: ") + mark.phase + "\n";
                break;
            }
            at = found;
        }
        bool closeFailed = service == "RegCloseKey" || service == "FindClose";
        if (!closeFailed && !run.openHandles.empty())
            problems += "left open: " + run.openHandles + "\n";
        if (problems.empty())
            return;
        if (++failures <= 3)
            firstFailures += machine + ", " + what + ":\n" + problems + "changes:\n" + run.report +
                             "service calls from the failed one on:\n" +
                             ServiceCallsText(run.calls, faultIndex) + "\n";
    }
};

TEST(FaultSweep, EveryCallFailedInTurnRemovesNoMore)
{
    int totalRuns = 0, totalCalls = 0, totalCovered = 0;
    for (const char *name : {"win98", "win95"}) {
        Sweep sweep(name);
        ASSERT_FALSE(sweep.plain.items.empty()) << name;

        std::map<std::string, int> seen;
        int covered = 0;
        for (size_t k = 0; k < sweep.plain.calls.size(); k++) {
            const SimCall &call = sweep.plain.calls[k];
            int occurrence = ++seen[call.name];
            const ServiceFault *fault = FaultOf(call.name);
            if (!fault) {
                bool known = std::find(std::begin(g_neverFail), std::end(g_neverFail), call.name) !=
                             std::end(g_neverFail);
                ASSERT_TRUE(known) << "a service the sweep has no failure for: " << call.name;
                continue;
            }
            covered++;
            for (long error : fault->errors) {
                std::string what = "call " + std::to_string(k + 1) + " " +
                                   SimFormatCalls({call}).substr(0, 200) + "   failing as #" +
                                   std::to_string(occurrence) + " with error " + std::to_string(error);
                sweep.Run(call.name, occurrence, error, what, k);
            }
        }
        // And each service down for the whole run.
        for (const auto &[service, count] : seen) {
            if (const ServiceFault *fault = FaultOf(service))
                sweep.Run(service, 0, fault->errors[0], service + " failing at every call", 0);
        }
        EXPECT_EQ(0, sweep.failures) << sweep.firstFailures;
        FolderContents sample = ReadFolder(SampleMachine(name));
        FolderContents kept = ReadFolder(sweep.pristine);
        EXPECT_TRUE(sample.files == kept.files && sample.folders == kept.folders)
            << name << ": a run wrote through a linked file";
        std::printf("fault sweep, %s: %zu calls, %d failed in turn (the rest are string services "
                    "and PlatformFree), %d runs\n",
                    name, sweep.plain.calls.size(), covered, sweep.runs);
        totalRuns += sweep.runs;
        totalCalls += (int)sweep.plain.calls.size();
        totalCovered += covered;
    }
    std::printf("fault sweep: %d runs, %d of %d calls failed in turn\n", totalRuns, totalCovered,
                totalCalls);
}

}  // namespace

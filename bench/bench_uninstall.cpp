// br_bench: how long a removal takes on the simulated machine, and how that
// compares with merely touching the same data.
//
//   build/host/br_bench [--benchmark_filter=REGEX] [google benchmark flags]
//   BR_BENCH_INF_FILES=50 build/host/br_bench     (a lighter heavy machine)
//
// Two machines:
//   sample  a fresh copy of machines/win98 (and win95) for every iteration:
//           the whole removal, as a user's run makes it;
//   heavy   20,000 instance keys per pass, every one reached by the scan and
//           none the driver's, and 500 oem*.inf files of 1 MiB of INF text
//           without the marker word; build 950, so the INF scan runs.
// Beside the heavy phases, in the same run, the baselines: plain read() of
// the same INF files (16 KiB at a time, the size the text streams read),
// and RegOpenKeyExA/RegCloseKey on the names the scan probes, without the
// engine. The ratios are printed at the end (docs/benchmarks.md).
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine.h"
#include "machine_builder.h"

namespace {

namespace fs = std::filesystem;

const int INSTANCE_KEYS_PER_PASS = 20000;
const int DEFAULT_INF_FILES = 500;
const size_t INF_FILE_SIZE = 1 << 20;
const size_t PLAIN_READ_SIZE = 16384;

const char *const PASS_BASES[] = {
    "Enum\\Root\\printer",
    "System\\CurrentControlSet\\Services\\Class\\Printer",
};
const char *const PASS_VALUES[] = {"DeviceDesc", "DriverDesc"};

// Writes the file out to the disk, so that its pages can later be dropped
// from the cache.
void SyncFile(const std::string &path)
{
    int fd = open(path.c_str(), O_RDONLY);
    fdatasync(fd);
    close(fd);
}

// Drops the files' pages from the cache: the next read comes from the disk,
// as on a machine where the INF files were not read just before.
void DropFromCache(const std::vector<std::string> &paths)
{
    for (const std::string &path : paths) {
        int fd = open(path.c_str(), O_RDONLY);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
    }
}

// The key name the scan builds for number, as BuildInstanceKeyName does.
std::string InstanceName(const char *base, int number)
{
    char name[TEXT_SIZE];
    BuildInstanceKeyName(name, TEXT_SIZE, base, number);
    return name;
}

// One MiB of INF text of another printer's: sections, file lists, registry
// lines, strings; "BR32STAT.EXE" never stands as a word of its own.
std::string InfText(int file)
{
    std::string text;
    char line[160];
    for (int n = 0; text.size() < INF_FILE_SIZE; n++) {
        switch (n % 6) {
        case 0:
            snprintf(line, sizeof line, "\r\n[OSJET%d.Files.%d]\r\n", file, n);
            break;
        case 1:
            snprintf(line, sizeof line, "OSJ%05d.DLL,,,0x00000020\r\n", n);
            break;
        case 2:
            snprintf(line, sizeof line, "HKR,\"Settings\\%d\",\"Value\",0x00010001,%d\r\n", n, file);
            break;
        case 3:
            snprintf(line, sizeof line, "\"OSTRALIS Jet %d\" = OSJET%d.DRV, LPTENUM\\OSTRALISJET_%04X\r\n",
                     n, file, n & 0xFFFF);
            break;
        case 4:
            snprintf(line, sizeof line, "; nota %d: la stampante \xE8 pronta, BR32STAT.EXE=%d\r\n", n, n);
            break;
        default:
            snprintf(line, sizeof line, "CopyFiles=@OSJET%d.DRV,OSJ_CORE,OSJ_%d\tDataFile=OSJET.DRV\r\n",
                     file, n);
            break;
        }
        text += line;
    }
    text.resize(INF_FILE_SIZE);
    return text;
}

int InfFileCount()
{
    const char *count = std::getenv("BR_BENCH_INF_FILES");
    return count && std::atoi(count) > 0 ? std::atoi(count) : DEFAULT_INF_FILES;
}

// The heavy machine, made once for the whole run.
struct HeavyMachine {
    MachineBuilder machine;
    std::vector<std::string> infHostPaths;
    std::vector<std::string> probedNames[2];  // per pass, in the order the scan tries them

    HeavyMachine()
    {
        machine.Set("Build", "950").File("C:\\WINDOWS\\WIN.INI", "[windows]\r\n\r\n[Devices]\r\n\r\n");
        std::string reg;
        for (int pass = 0; pass < 2; pass++) {
            for (int n = 0; n < INSTANCE_KEYS_PER_PASS; n++) {
                std::string name = InstanceName(PASS_BASES[pass], n);
                reg += "[HKEY_LOCAL_MACHINE\\" + name + "]\r\n\"" + PASS_VALUES[pass] +
                       "\"=\"OSTRALIS Jet " + std::to_string(n) + "\"\r\n\"Class\"=\"Printer\"\r\n\r\n";
                probedNames[pass].push_back(name);
            }
            // The budget's misses after the last key.
            for (int n = INSTANCE_KEYS_PER_PASS; n <= INSTANCE_KEYS_PER_PASS + 100; n++)
                probedNames[pass].push_back(InstanceName(PASS_BASES[pass], n));
        }
        machine.Registry(reg).Dir("C:\\WINDOWS\\SYSTEM");
        int files = InfFileCount();
        for (int i = 0; i < files; i++) {
            std::string path = "C:\\WINDOWS\\INF\\OEM" + std::to_string(i) + ".INF";
            machine.File(path, InfText(i));
            SyncFile(machine.Host(path));
            infHostPaths.push_back(machine.Host(path));
        }
    }

    void Load()
    {
        if (!machine.Load())
            std::exit(1);
    }
};

HeavyMachine &Heavy()
{
    static HeavyMachine machine;
    return machine;
}

// What RunUninstall fills before the phases that read the directories.
UninstallRun RunState()
{
    UninstallRun run = {};
    run.version.dwOSVersionInfoSize = sizeof run.version;
    GetVersionExA(&run.version);
    GetSystemDirectoryA(run.systemDir, TEXT_SIZE);
    GetWindowsDirectoryA(run.windowsDir, TEXT_SIZE);
    return run;
}

// Between iterations, out of the timing: the record is emptied and the
// WININIT.INI a run appended to goes, so that every iteration does the same.
void Reset(benchmark::State &state)
{
    state.PauseTiming();
    SimClearCalls();
    fs::remove(Heavy().machine.Host("C:\\WINDOWS\\wininit.ini"));
    state.ResumeTiming();
}

// ------------------------------------------------------------ sample runs

void BM_SampleRun(benchmark::State &state, const char *sample)
{
    std::unique_ptr<MachineBuilder> copy;
    for (auto _ : state) {
        state.PauseTiming();
        copy.reset();  // unloads and removes the last one
        copy = std::make_unique<MachineBuilder>(sample);
        if (!copy->Load())
            state.SkipWithError("the sample does not load");
        state.ResumeTiming();
        RunUninstall();
    }
}
BENCHMARK_CAPTURE(BM_SampleRun, win98, "win98")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SampleRun, win95, "win95")->Unit(benchmark::kMillisecond);

// ----------------------------------------------------- the heavy machine

void BM_HeavyRunUninstall(benchmark::State &state)
{
    Heavy().Load();
    for (auto _ : state) {
        Reset(state);
        RunUninstall();
    }
}
BENCHMARK(BM_HeavyRunUninstall)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_HeavyScanDeviceInstances(benchmark::State &state)
{
    Heavy().Load();
    for (auto _ : state) {
        Reset(state);
        ScanDeviceInstances();
    }
}
BENCHMARK(BM_HeavyScanDeviceInstances)->Unit(benchmark::kMillisecond);

void BM_BaselineProbeKeys(benchmark::State &state)
{
    Heavy().Load();
    for (auto _ : state) {
        Reset(state);
        for (const auto &names : Heavy().probedNames) {
            for (const std::string &name : names) {
                HKEY key;
                if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, KEY_QUERY_VALUE, &key) == 0)
                    RegCloseKey(key);
            }
        }
    }
}
BENCHMARK(BM_BaselineProbeKeys)->Unit(benchmark::kMillisecond);

void BM_HeavyRemoveProfileEntries(benchmark::State &state)
{
    Heavy().Load();
    for (auto _ : state) {
        Reset(state);
        RemoveProfileEntries();
    }
}
BENCHMARK(BM_HeavyRemoveProfileEntries)->Unit(benchmark::kMicrosecond);

void BM_HeavyRemoveProgramGroup(benchmark::State &state)
{
    Heavy().Load();
    for (auto _ : state) {
        Reset(state);
        RemoveProgramGroup();
    }
}
BENCHMARK(BM_HeavyRemoveProgramGroup)->Unit(benchmark::kMicrosecond);

void BM_HeavyDeleteDriverFiles(benchmark::State &state)
{
    Heavy().Load();
    UninstallRun run = RunState();
    for (auto _ : state) {
        Reset(state);
        DeleteDriverFiles(run);
    }
}
BENCHMARK(BM_HeavyDeleteDriverFiles)->Unit(benchmark::kMicrosecond);

// cold: the INF files' pages are dropped from the cache before each
// iteration, so that both the scan and the plain read fetch them from disk.
void BM_HeavyInfScan(benchmark::State &state, bool cold)
{
    Heavy().Load();
    UninstallRun run = RunState();
    for (auto _ : state) {
        Reset(state);
        if (cold) {
            state.PauseTiming();
            DropFromCache(Heavy().infHostPaths);
            state.ResumeTiming();
        }
        RemoveSetupInformation(run);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)Heavy().infHostPaths.size() *
                            (int64_t)INF_FILE_SIZE);
}
BENCHMARK_CAPTURE(BM_HeavyInfScan, cached, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_HeavyInfScan, cold, true)->Unit(benchmark::kMillisecond);

void BM_BaselinePlainRead(benchmark::State &state, bool cold)
{
    std::vector<char> buffer(PLAIN_READ_SIZE);
    for (auto _ : state) {
        if (cold) {
            state.PauseTiming();
            DropFromCache(Heavy().infHostPaths);
            state.ResumeTiming();
        }
        size_t total = 0;
        for (const std::string &path : Heavy().infHostPaths) {
            int fd = open(path.c_str(), O_RDONLY);
            ssize_t n;
            while ((n = read(fd, buffer.data(), buffer.size())) > 0)
                total += (size_t)n;
            close(fd);
        }
        benchmark::DoNotOptimize(total);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)Heavy().infHostPaths.size() *
                            (int64_t)INF_FILE_SIZE);
}
BENCHMARK_CAPTURE(BM_BaselinePlainRead, cached, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_BaselinePlainRead, cold, true)->Unit(benchmark::kMillisecond);

// The least any word scan must do: read() the same bytes and split them
// into words, with nothing else (no stream, no machine, no comparison).
void BM_BaselineReadWords(benchmark::State &state)
{
    std::vector<unsigned char> buffer(PLAIN_READ_SIZE);
    for (auto _ : state) {
        size_t words = 0;
        for (const std::string &path : Heavy().infHostPaths) {
            int fd = open(path.c_str(), O_RDONLY);
            ssize_t n;
            bool inWord = false;
            while ((n = read(fd, buffer.data(), buffer.size())) > 0) {
                for (ssize_t i = 0; i < n; i++) {
                    unsigned char c = buffer[i];
                    bool space = c == ' ' || (c >= 0x09 && c <= 0x0D);
                    words += !space && !inWord;
                    inWord = !space;
                }
            }
            close(fd);
        }
        benchmark::DoNotOptimize(words);
    }
    state.SetBytesProcessed((int64_t)state.iterations() * (int64_t)Heavy().infHostPaths.size() *
                            (int64_t)INF_FILE_SIZE);
}
BENCHMARK(BM_BaselineReadWords)->Unit(benchmark::kMillisecond);

void BM_HeavyScheduleRestartDeletions(benchmark::State &state)
{
    Heavy().Load();
    UninstallRun run = RunState();
    for (auto _ : state) {
        Reset(state);
        ScheduleRestartDeletions(run);
    }
}
BENCHMARK(BM_HeavyScheduleRestartDeletions)->Unit(benchmark::kMicrosecond);

// Keeps each benchmark's time per iteration, for the ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run> &runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run &run : runs) {
            double scale = 1;
            switch (run.time_unit) {
            case benchmark::kNanosecond: scale = 1e-6; break;
            case benchmark::kMicrosecond: scale = 1e-3; break;
            case benchmark::kMillisecond: scale = 1; break;
            case benchmark::kSecond: scale = 1e3; break;
            }
            milliseconds[run.benchmark_name()] = run.GetAdjustedRealTime() * scale;
        }
    }
    std::map<std::string, double> milliseconds;
};

void PrintRatio(const RatioReporter &r, const char *what, const char *a, const char *b, double target)
{
    auto x = r.milliseconds.find(a), y = r.milliseconds.find(b);
    if (x == r.milliseconds.end() || y == r.milliseconds.end() || y->second <= 0)
        return;
    double ratio = x->second / y->second;
    printf("%-44s %8.1f ms / %8.1f ms = %5.2fx", what, x->second, y->second, ratio);
    if (target > 0)
        printf("   (target %.1fx: %s)", target, ratio <= target ? "met" : "MISSED");
    printf("\n");
}

void PrintTime(const RatioReporter &r, const char *what, const char *name, double target)
{
    auto x = r.milliseconds.find(name);
    if (x == r.milliseconds.end())
        return;
    printf("%-44s %8.2f ms   (target under %.0f ms: %s)\n", what, x->second, target,
           x->second < target ? "met" : "MISSED");
}

}  // namespace

int main(int argc, char **argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    printf("\nRatios (%d INF files of 1 MiB, %d instance keys per pass):\n", InfFileCount(),
           INSTANCE_KEYS_PER_PASS);
    PrintRatio(reporter, "INF scan / plain read, from the disk", "BM_HeavyInfScan/cold",
               "BM_BaselinePlainRead/cold", 1.5);
    PrintRatio(reporter, "INF scan / plain read, from the cache", "BM_HeavyInfScan/cached",
               "BM_BaselinePlainRead/cached", 1.5);
    PrintRatio(reporter, "INF scan / read() and split into words", "BM_HeavyInfScan/cached",
               "BM_BaselineReadWords", 0);
    PrintRatio(reporter, "instance scan / RegOpenKeyExA probes", "BM_HeavyScanDeviceInstances",
               "BM_BaselineProbeKeys", 0);
    PrintTime(reporter, "whole removal, sample win98", "BM_SampleRun/win98", 50);
    PrintTime(reporter, "whole removal, sample win95", "BM_SampleRun/win95", 50);
    benchmark::Shutdown();
    return 0;
}

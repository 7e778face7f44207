// br32unin-sim: the program run on a simulated Windows 98 machine.
//
//   br32unin-sim [MACHINE_DIR] [--sample NAME] [--keep] [--calls] [--exe PATH]
//                [--welcome ok|enter|cancel|escape|close] [--restart yes|no]
//   br32unin-sim --next-start [MACHINE_DIR] [--sample NAME] [--keep]
//
// The program runs from WinMain, through its dialogs: the user's answers
// come from --welcome and --restart (OK and No when not given), or, when
// neither is given and standard input is a terminal, from the keyboard.
// Each dialog and message box is drawn as text as it comes up; when the
// user answers from the keyboard and watches a terminal, the progress
// dialog steps in place at the pace of the Windows 9x timer. When the
// program asked for a restart, the machine then goes through its next
// start (WININIT.INI), and what that did is printed; --next-start runs only
// that start, for a machine whose user answered No. --exe runs the Windows
// program itself, the file at PATH, in an emulated 32-bit x86 on the same
// machine (host/exe_runner.h); --calls then prints its import calls too.
//
// Without MACHINE_DIR the program runs on a fresh temporary copy of the
// sample machine machines/NAME (win98 unless --sample says otherwise), so
// the sample itself never changes; with it, on that machine in place. The
// machine's registry is saved after the run, and what the run (and the
// start) changed is printed: registry keys, WIN.INI sections and keys,
// files and folders, lines appended to files. The exit code is the
// program's (0 for --next-start); 125 means the run could not be made.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <unistd.h>

#include "host/exe_runner.h"
#include "machine/snapshot.h"
#include "sim.h"
#include "ui.h"

namespace {

const int CANNOT_RUN = 125;

struct Options {
    std::string machineDir;  // in place; "" for a copy of the sample
    std::string sample = "win98";
    bool keep = false;       // keep the temporary copy
    bool calls = false;      // print the call record
    std::string welcome;     // "" when not given
    std::string restart;
    bool nextStartOnly = false;  // --next-start: no program, only the start
    std::string exe;             // --exe: the Windows program to run instead
};

void Usage(FILE *out)
{
    std::fprintf(out,
                 "usage: br32unin-sim [MACHINE_DIR] [--sample NAME] [--keep] [--calls] [--exe PATH]\n"
                 "                    [--welcome ok|enter|cancel|escape|close] [--restart yes|no]\n"
                 "       br32unin-sim --next-start [MACHINE_DIR] [--sample NAME] [--keep]\n"
                 "  MACHINE_DIR    run on this machine folder in place\n"
                 "  --sample NAME  run on a temporary copy of machines/NAME (default win98)\n"
                 "  --keep         keep the temporary copy and print where it is\n"
                 "  --calls        print every service call the program made\n"
                 "  --exe PATH     run the Windows program PATH (BR32UNIN.EXE) itself, its\n"
                 "                 code in an emulated 32-bit x86, on the same machine\n"
                 "  --welcome HOW  how the user answers WELCOME (default ok)\n"
                 "  --restart ANS  the answer to the restart question (default no); with yes\n"
                 "                 the machine goes through its next start (WININIT.INI)\n"
                 "  --next-start   run only the machine's next start, no program\n"
                 "  Without --welcome and --restart, on a terminal, the user answers\n"
                 "  from the keyboard.\n");
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        if (arg == "--sample" && i + 1 < argc) {
            options->sample = argv[++i];
        } else if (arg == "--keep") {
            options->keep = true;
        } else if (arg == "--calls") {
            options->calls = true;
        } else if (arg == "--welcome" && i + 1 < argc) {
            options->welcome = argv[++i];
        } else if (arg == "--restart" && i + 1 < argc) {
            options->restart = argv[++i];
        } else if (arg == "--exe" && i + 1 < argc) {
            options->exe = argv[++i];
        } else if (arg == "--next-start") {
            options->nextStartOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] != '-' && options->machineDir.empty()) {
            options->machineDir = arg;
        } else {
            std::fprintf(stderr, "br32unin-sim: unknown argument %s\n", arg.c_str());
            Usage(stderr);
            return false;
        }
    }
    std::string missing;
    if (!options->exe.empty() && !SimExeRunnerAvailable(&missing)) {
        std::fprintf(stderr, "br32unin-sim: %s\n", missing.c_str());
        return false;
    }
    if (options->nextStartOnly && (options->calls || !options->welcome.empty() || !options->restart.empty() ||
                                   !options->exe.empty())) {
        std::fprintf(stderr, "br32unin-sim: --next-start runs no program: no --calls, --welcome, --restart\n");
        Usage(stderr);
        return false;
    }
    return true;
}

// The user's answers: from the options, else from the keyboard when there
// is one, else the defaults. False for an unknown answer.
bool SetUser(const Options &options)
{
    bool keyboard = options.welcome.empty() && options.restart.empty() && isatty(0);
    SimSetDialogTerminal(keyboard ? stdin : nullptr, stdout, keyboard && isatty(1));
    if (keyboard)
        return true;
    return SimSetUserAnswers(options.welcome.empty() ? "ok" : options.welcome,
                             options.restart.empty() ? "no" : options.restart);
}

// The program itself, as the machine's user starts it, from its entry.
// Returns its exit code.
int RunProgram()
{
    return WinMain((HINSTANCE)(UINT_PTR)0x00400000, 0, (LPSTR) "", 10 /* SW_SHOWDEFAULT */);
}

void PrintDialogs()
{
    std::printf("Dialogs shown:\n");
    for (const SimShownDialog &d : SimShownDialogs())
        std::printf("  %-10s %-45s -> %ld\n", d.name.c_str(), ("\"" + d.caption + "\"").c_str(),
                    d.result);
    if (SimRestartRequests() > 0)
        std::printf("Restart requested: ExitWindowsEx(EWX_REBOOT) x%d\n", SimRestartRequests());
}

// The machine's next start, and what it did.
void NextStart()
{
    std::vector<std::string> done = SimNextStart();
    if (done.empty()) {
        std::printf("Next start: no WININIT.INI\n");
        return;
    }
    std::printf("Next start:\n");
    for (const std::string &line : done)
        std::printf("  %s\n", line.c_str());
}

// A fresh copy of the sample machine in a new temporary folder.
bool CopySample(const std::string &sample, std::string *copy)
{
    namespace fs = std::filesystem;
    fs::path source = fs::path(BR_SOURCE_DIR) / "machines" / sample;
    std::error_code ec;
    if (!fs::is_directory(source, ec)) {
        std::fprintf(stderr, "br32unin-sim: no sample machine %s\n", source.c_str());
        return false;
    }
    std::string pattern = (fs::temp_directory_path(ec) / "br32unin-XXXXXX").string();
    if (!mkdtemp(&pattern[0])) {
        std::fprintf(stderr, "br32unin-sim: cannot make a temporary folder\n");
        return false;
    }
    fs::copy(source, pattern, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (ec) {
        std::fprintf(stderr, "br32unin-sim: cannot copy %s: %s\n", source.c_str(),
                     ec.message().c_str());
        fs::remove_all(pattern, ec);
        return false;
    }
    *copy = pattern;
    return true;
}

}  // namespace

int main(int argc, char **argv)
{
    Options options;
    if (!ParseOptions(argc, argv, &options))
        return CANNOT_RUN;
    // Checked before a copy is made; set again once the machine is loaded,
    // since loading forgets any earlier script.
    if (!SetUser(options)) {
        std::fprintf(stderr, "br32unin-sim: unknown answer: --welcome %s --restart %s\n",
                     options.welcome.c_str(), options.restart.c_str());
        Usage(stderr);
        return CANNOT_RUN;
    }
    std::string dir = options.machineDir;
    bool temporary = dir.empty();
    if (temporary && !CopySample(options.sample, &dir))
        return CANNOT_RUN;

    std::string error;
    if (!SimLoadMachine(dir, &error)) {
        std::fprintf(stderr, "br32unin-sim: %s\n", error.c_str());
        return CANNOT_RUN;
    }
    std::printf("Machine: %s%s\n", dir.c_str(),
                temporary ? (" (a copy of machines/" + options.sample + ")").c_str() : "");
    SetUser(options);
    SimSnapshot before = SimTakeSnapshot();
    int exitCode = 0;
    bool saved = true;
    if (options.nextStartOnly) {
        NextStart();
    } else if (!options.exe.empty() && !SimRunExe(options.exe, options.calls, &exitCode, &error)) {
        // Nothing is saved: what the program did before it misbehaved
        // is left on the drives, and the registry as it was.
        std::fprintf(stderr, "br32unin-sim: %s\n", error.c_str());
        SimUnloadMachine();
        if (temporary)
            std::filesystem::remove_all(dir);
        return CANNOT_RUN;
    } else {
        if (options.exe.empty())
            exitCode = RunProgram();
        PrintDialogs();
        saved = SimSaveMachine();
        // The start changes files only, so the registry is saved already.
        if (SimRestartRequests() > 0)
            NextStart();
    }
    SimChanges changes = SimCompareSnapshots(before, SimTakeSnapshot());
    std::vector<SimCall> calls = SimCalls();
    std::string open = SimOpenHandles();
    SimUnloadMachine();

    std::printf("%s", SimFormatChanges(changes).c_str());
    if (!open.empty())
        std::printf("Left open: %s\n", open.c_str());
    if (options.calls)
        std::printf("Calls (%zu):\n%s", calls.size(), SimFormatCalls(calls).c_str());
    std::printf("Exit code: %d\n", exitCode);
    if (!saved)
        std::fprintf(stderr, "br32unin-sim: cannot write %s/registry.reg\n", dir.c_str());

    std::error_code ec;
    if (temporary && options.keep)
        std::printf("Kept: %s\n", dir.c_str());
    else if (temporary)
        std::filesystem::remove_all(dir, ec);
    return saved ? exitCode : CANNOT_RUN;
}

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
// Without MACHINE_DIR, or with one of the samples under machines/, the
// program runs on a fresh temporary copy of the sample machine (win98
// unless --sample says otherwise), so the samples never change. With any
// other MACHINE_DIR it runs on a working copy made beside the folder, and
// the copy takes the folder's place in one step (an exchange of the two
// names) once the run is over: whatever ends the run, the folder is as it
// was, or, once the removal has begun, as a finished run leaves it after
// No. The run itself is a child process; this process waits for it,
// settles the folder, and removes its copies however the run ended.
//
// The report of what changed (registry keys and values, WIN.INI sections
// and keys, files and folders, lines added to files, files renamed by the
// next start) compares the folder before with the folder after. The exit
// code is the program's (0 for --next-start; 128 and the signal's number
// when a signal ended the run); 125 means the run could not be made.
#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <clocale>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <langinfo.h>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

#include "dialogs/dialogs.h"
#include "host/exe_runner.h"
#include "machine/snapshot.h"
#include "sim.h"
#include "ui.h"

namespace fs = std::filesystem;

namespace {

const int CANNOT_RUN = 125;

struct Options {
    std::string machineDir;  // "" for a copy of the sample
    std::string sample = "win98";
    bool keep = false;       // keep the temporary copy
    bool calls = false;      // print the call record
    std::string welcome;     // "" when not given
    std::string restart;
    bool nextStartOnly = false;  // --next-start: no program, only the start
    std::string exe;             // --exe: the Windows program to run instead
};

// How the user called us: ./run sets the name it is known by.
std::string Me()
{
    const char *name = std::getenv("BR32UNIN_RUN_NAME");
    return name && *name ? name : "br32unin-sim";
}

bool Fail(const std::string &message)
{
    std::fprintf(stderr, "%s: %s (see %s --help)\n", Me().c_str(), message.c_str(), Me().c_str());
    return false;
}

void Usage(FILE *out)
{
    std::string me = Me(), pad(me.size(), ' ');
    bool script = me != "br32unin-sim";
    std::fprintf(out,
                 "usage: %s [MACHINE_DIR] [--sample NAME] [--keep] [--calls] [--exe %s]\n"
                 "       %s [--welcome ok|enter|cancel|escape|close] [--restart yes|no]\n"
                 "       %s --next-start [MACHINE_DIR] [--sample NAME] [--keep]\n"
                 "  MACHINE_DIR    a machine folder (machine.ini, registry.reg, drives/):\n"
                 "                 it ends as it was, or as a finished run leaves it; a\n"
                 "                 sample under machines/ runs on a copy, as --sample does\n"
                 "  --sample NAME  run on a temporary copy of machines/NAME (default win98)\n"
                 "  --keep         keep the temporary copy and print where it is\n"
                 "  --calls        print every service call the program made\n"
                 "  --exe %s  run the Windows program itself, its code in an emulated\n"
                 "                 32-bit x86, on the same machine; PATH is any file%s\n"
                 "  --welcome HOW  how the user answers WELCOME (default ok)\n"
                 "  --restart ANS  the answer to the restart question (default no); with yes\n"
                 "                 the machine goes through its next start (WININIT.INI)\n"
                 "  --next-start   run only the machine's next start, no program\n"
                 "  Without --welcome and --restart, on a terminal, the user answers\n"
                 "  from the keyboard.\n",
                 me.c_str(), script ? "[PATH]" : "PATH", pad.c_str(), me.c_str(),
                 script ? "[PATH]" : "PATH  ",
                 script ? ";\n                 without it build/win32/BR32UNIN.EXE, brought up to date" : "");
}

bool OneOf(const std::string &value, const std::vector<std::string> &values)
{
    return std::find(values.begin(), values.end(), value) != values.end();
}

std::string Listed(const std::vector<std::string> &values)
{
    std::string text;
    for (size_t i = 0; i < values.size(); i++)
        text += (i == 0 ? "" : i + 1 == values.size() ? " or " : ", ") + values[i];
    return text;
}

bool ParseOptions(int argc, char **argv, Options *options)
{
    const std::vector<std::string> welcomes = {"ok", "enter", "cancel", "escape", "close"}, restarts = {"yes", "no"};
    for (int i = 1; i < argc; i++) {
        std::string arg = argv[i];
        bool hasValue = i + 1 < argc && std::strncmp(argv[i + 1], "--", 2) != 0;
        if (arg == "--sample" || arg == "--welcome" || arg == "--restart") {
            const std::vector<std::string> *values = arg == "--welcome" ? &welcomes : arg == "--restart" ? &restarts : nullptr;
            if (!hasValue)
                return Fail(arg + " needs " + (values ? "an answer: " + Listed(*values) : "a sample's name, such as win98"));
            std::string value = argv[++i];
            if (values && !OneOf(value, *values))
                return Fail(arg + " " + value + ": the answers are " + Listed(*values));
            (arg == "--sample" ? options->sample : arg == "--welcome" ? options->welcome : options->restart) = value;
        } else if (arg == "--exe") {
            // The program is a file, whatever its name; a folder is a machine.
            std::error_code ec;
            if (!hasValue || !fs::is_regular_file(argv[i + 1], ec))
                return Fail("--exe needs the Windows program's file" +
                            std::string(hasValue ? ": " + std::string(argv[i + 1]) + " is not a file" : ""));
            options->exe = argv[++i];
        } else if (arg == "--keep") {
            options->keep = true;
        } else if (arg == "--calls") {
            options->calls = true;
        } else if (arg == "--next-start") {
            options->nextStartOnly = true;
        } else if (arg == "--help" || arg == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (!arg.empty() && arg[0] == '-') {
            return Fail("unknown option " + arg);
        } else if (!options->machineDir.empty()) {
            return Fail("one machine folder only: " + options->machineDir + " and " + arg);
        } else {
            options->machineDir = arg;
        }
    }
    std::string missing;
    if (!options->exe.empty() && !SimExeRunnerAvailable(&missing))
        return Fail(missing);
    if (options->nextStartOnly && (options->calls || !options->welcome.empty() || !options->restart.empty() ||
                                   !options->exe.empty()))
        return Fail("--next-start runs no program: no --calls, --exe, --welcome or --restart with it");
    return true;
}

// A folder that the machine can be loaded from, or why not.
bool IsMachineFolder(const std::string &dir)
{
    std::error_code ec;
    if (!fs::is_directory(dir, ec))
        return Fail(dir + " is not a folder");
    if (!fs::exists(fs::path(dir) / "machine.ini", ec))
        return Fail(dir + " is not a machine folder: it has no machine.ini");
    if (!fs::exists(fs::path(dir) / "registry.reg", ec) && !fs::is_directory(fs::path(dir) / "drives", ec))
        return Fail(dir + " is not a machine folder: it has neither registry.reg nor drives/");
    return true;
}

// The sample's name when dir is one of the samples under machines/.
std::string SampleAt(const std::string &dir)
{
    std::error_code ec;
    fs::path samples = fs::weakly_canonical(fs::path(BR_SOURCE_DIR) / "machines", ec);
    fs::path real = fs::weakly_canonical(dir, ec);
    return !ec && real.parent_path() == samples ? real.filename().string() : "";
}

// A new folder named after pattern ("…XXXXXX") with a copy of source in it.
bool CopyFolder(const fs::path &source, std::string pattern, std::string *copy)
{
    std::error_code ec;
    if (!mkdtemp(&pattern[0]))
        return Fail("cannot make a folder " + pattern + ": " + std::strerror(errno));
    fs::copy(source, pattern, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ec);
    if (!ec)
        fs::permissions(pattern, fs::status(source, ec).permissions(), ec);
    if (ec) {
        fs::remove_all(pattern, ec);
        return Fail("cannot copy " + source.string() + ": " + ec.message());
    }
    *copy = pattern;
    return true;
}

// ------------------------------------------------------------ the run

// The child's reports to the waiting parent, a line each:
//   R                     the removal is over and its registry saved
//   N FROM\tTO            the next start renamed FROM to TO
//   O TEXT                what was left open
//   C LINE                a line of the call record
int g_report = -1;

void Report(const std::string &line)
{
    std::string text = line + "\n";
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(g_report, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        done += (size_t)n;
    }
}

void BlockSignals(bool block)
{
    sigset_t set;
    sigemptyset(&set);
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
        sigaddset(&set, sig);
    sigprocmask(block ? SIG_BLOCK : SIG_UNBLOCK, &set, nullptr);
}

// While UNINSTALL is up, the removal runs: a signal waits until it is over
// and the registry saved, so that it ends the run after the removal.
void GuardRemoval(const std::string &dialog, bool opening)
{
    if (dialog != "UNINSTALL")
        return;
    if (opening) {
        BlockSignals(true);
        return;
    }
    SimSaveMachine();
    Report("R");
    BlockSignals(false);
}

// The user's answers: from the options, else from the keyboard when there
// is one, else the defaults.
void SetUser(const Options &options)
{
    bool keyboard = options.welcome.empty() && options.restart.empty() && isatty(0);
    SimSetDialogTerminal(keyboard ? stdin : nullptr, stdout, keyboard && isatty(1));
    if (!keyboard)
        SimSetUserAnswers(options.welcome.empty() ? "ok" : options.welcome,
                          options.restart.empty() ? "no" : options.restart);
}

// The machine's next start, and what it did; each rename reported.
void NextStart()
{
    std::vector<std::string> done = SimNextStart();
    std::printf(done.empty() ? "Next start: no WININIT.INI\n" : "Next start:\n");
    for (const std::string &line : done) {
        std::printf("  %s\n", line.c_str());
        size_t to = line.find(" to ");
        if (line.rfind("renamed ", 0) == 0 && to != std::string::npos)
            Report("N " + line.substr(8, to - 8) + "\t" + line.substr(to + 4));
    }
}

// The run, in the child, on the folder dir; returns the exit code.
int RunChild(const Options &options, const std::string &dir)
{
    std::string error;
    if (!SimLoadMachine(dir, &error)) {
        std::fprintf(stderr, "%s: %s\n", Me().c_str(), error.c_str());
        return CANNOT_RUN;
    }
    SetUser(options);
    int exitCode = 0;
    if (options.nextStartOnly) {
        BlockSignals(true);
        NextStart();
        Report("R");
    } else {
        SimSetDialogHook(GuardRemoval);
        if (!options.exe.empty() && !SimRunExe(options.exe, options.calls, &exitCode, &error)) {
            std::fprintf(stderr, "%s: %s\n", Me().c_str(), error.c_str());
            return CANNOT_RUN;
        }
        if (options.exe.empty())
            exitCode = WinMain((HINSTANCE)(UINT_PTR)0x00400000, 0, (LPSTR) "", 10 /* SW_SHOWDEFAULT */);
        // What follows the program completes, whatever arrives meanwhile.
        BlockSignals(true);
        std::printf("Dialogs shown:\n");
        for (const SimShownDialog &d : SimShownDialogs())
            std::printf("  %-10s %-45s -> %ld\n", d.name.c_str(), ("\"" + d.caption + "\"").c_str(), d.result);
        if (SimRestartRequests() > 0)
            std::printf("Restart requested: ExitWindowsEx(EWX_REBOOT) x%d\n", SimRestartRequests());
        if (!SimSaveMachine()) {
            std::fprintf(stderr, "%s: cannot write %s/registry.reg\n", Me().c_str(), dir.c_str());
            return CANNOT_RUN;
        }
        // The start changes files only, so the registry is saved already.
        if (SimRestartRequests() > 0)
            NextStart();
    }
    std::string open = SimOpenHandles();
    if (!open.empty())
        Report("O " + open);
    if (options.calls) {
        std::string calls = SimFormatCalls(SimCalls());
        for (size_t at = 0, end; at < calls.size(); at = end + 1) {
            end = calls.find('\n', at);
            end = end == std::string::npos ? calls.size() : end;
            Report("C " + calls.substr(at, end - at));
        }
    }
    SimUnloadMachine();
    std::fflush(stdout);
    return exitCode;
}

// ------------------------------------------------------------ the parent

pid_t g_child = 0;
volatile sig_atomic_t g_signal = 0;

// A signal reaches this process: the run, if one is going, gets it too
// (a terminal's Ctrl-C reaches both); this process settles what it left.
void Forward(int sig)
{
    g_signal = sig;
    if (g_child > 0)
        kill(g_child, sig);
}

struct ChildResult {
    int exitCode = CANNOT_RUN;
    bool removalOver = false;
    std::vector<std::pair<std::string, std::string>> renamed;
    std::string open;
    std::vector<std::string> calls;
};

// Runs RunChild in a child process and reads its reports until it ends.
ChildResult RunAndWait(const Options &options, const std::string &dir)
{
    ChildResult result;
    int fds[2];
    if (pipe(fds) != 0) {
        Fail(std::string("cannot run: ") + std::strerror(errno));
        return result;
    }
    std::fflush(nullptr);
    g_child = fork();
    if (g_child == 0) {
        close(fds[0]);
        g_report = fds[1];
        for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT, SIGPIPE})
            std::signal(sig, SIG_DFL);
        // A signal that came before the run is the run's.
        if (g_signal)
            raise(g_signal);
        _exit(RunChild(options, dir));
    }
    close(fds[1]);
    if (g_child < 0) {
        close(fds[0]);
        Fail(std::string("cannot run: ") + std::strerror(errno));
        return result;
    }
    std::string text;
    char buffer[65536];
    for (;;) {
        ssize_t n = read(fds[0], buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        text.append(buffer, (size_t)n);
    }
    close(fds[0]);
    int status = 0;
    while (waitpid(g_child, &status, 0) < 0 && errno == EINTR) {
    }
    g_child = 0;
    result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    for (size_t at = 0, end; at < text.size(); at = end + 1) {
        end = text.find('\n', at);
        std::string line = text.substr(at, end - at);
        if (line == "R")
            result.removalOver = true;
        else if (line.rfind("N ", 0) == 0 && line.find('\t') != std::string::npos)
            result.renamed.push_back({line.substr(2, line.find('\t') - 2), line.substr(line.find('\t') + 1)});
        else if (line.rfind("O ", 0) == 0)
            result.open = line.substr(2);
        else if (line.rfind("C ", 0) == 0)
            result.calls.push_back(line.substr(2));
    }
    return result;
}

// The working copy takes the folder's place: both names exchanged at once,
// then the old text removed from under the copy's name.
bool Commit(const std::string &work, const std::string &dir)
{
    std::error_code ec;
    if (renameat2(AT_FDCWD, work.c_str(), AT_FDCWD, dir.c_str(), RENAME_EXCHANGE) != 0) {
        // A file system without the exchange: two renames, the old folder
        // kept under a name of its own until the new one is in place.
        std::string old = work + ".old";
        if (std::rename(dir.c_str(), old.c_str()) != 0)
            return Fail("cannot replace " + dir + ": " + std::strerror(errno));
        if (std::rename(work.c_str(), dir.c_str()) != 0) {
            std::rename(old.c_str(), dir.c_str());
            return Fail("cannot replace " + dir + ": " + std::strerror(errno));
        }
        fs::remove_all(old, ec);
        return true;
    }
    fs::remove_all(work, ec);
    return true;
}

SimSnapshot SnapshotOf(const std::string &dir)
{
    SimSnapshot snapshot;
    std::string error;
    if (SimLoadMachine(dir, &error))
        snapshot = SimTakeSnapshot();
    SimUnloadMachine();
    return snapshot;
}

// Code page 1252 text as this terminal's locale shows it.
std::string Shown(const std::string &text)
{
    static const bool utf8 = std::strcmp(nl_langinfo(CODESET), "UTF-8") == 0;
    return utf8 ? SimUtf8(text) : text;
}

}  // namespace

int main(int argc, char **argv)
{
    std::setlocale(LC_CTYPE, "");
    Options options;
    if (!ParseOptions(argc, argv, &options))
        return CANNOT_RUN;
    // From here on this process ends only once its copies are settled; a
    // closed output does not stop it either.
    for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGQUIT})
        std::signal(sig, Forward);
    std::signal(SIGPIPE, SIG_IGN);
    std::string sample = options.machineDir.empty() ? options.sample : SampleAt(options.machineDir);
    std::error_code ec;
    std::string dir, work, note;
    if (sample.empty()) {
        // The user's folder: the run is made on a copy beside it.
        if (!IsMachineFolder(options.machineDir))
            return CANNOT_RUN;
        dir = fs::canonical(options.machineDir, ec).string();
        fs::path path(dir);
        if (ec || !CopyFolder(path, (path.parent_path() / ("." + path.filename().string() + ".br32unin-XXXXXX")).string(),
                              &work))
            return CANNOT_RUN;
    } else {
        fs::path source = fs::path(BR_SOURCE_DIR) / "machines" / sample;
        if (!fs::is_directory(source, ec)) {
            Fail("no sample machine " + sample + " in " + source.parent_path().string());
            return CANNOT_RUN;
        }
        if (!CopyFolder(source, (fs::temp_directory_path(ec) / "br32unin-XXXXXX").string(), &dir))
            return CANNOT_RUN;
        work = dir;
        note = " (a copy of machines/" + sample +
               (options.machineDir.empty() ? ")" : ": the samples stay as committed)");
    }
    bool temporary = work == dir;
    std::string error;
    SimSnapshot before;
    bool loaded = SimLoadMachine(work, &error);
    if (loaded)
        before = SimTakeSnapshot();
    else
        std::fprintf(stderr, "%s: %s\n", Me().c_str(), error.c_str());
    SimUnloadMachine();
    if (!loaded || g_signal) {  // refused, or stopped before the run
        fs::remove_all(work, ec);
        return loaded ? 128 + g_signal : CANNOT_RUN;
    }
    std::printf("Machine: %s%s\n", dir.c_str(), note.c_str());

    ChildResult run = RunAndWait(options, work);
    BlockSignals(true);
    SimSnapshot after = run.removalOver ? SnapshotOf(work) : before;
    if (!temporary) {
        if (run.removalOver && !Commit(work, dir))
            run.exitCode = CANNOT_RUN;
        fs::remove_all(work, ec);
    }
    std::printf("%s", Shown(SimFormatChanges(SimCompareSnapshots(before, after, run.renamed))).c_str());
    if (!run.open.empty())
        std::printf("Left open: %s\n", run.open.c_str());
    if (options.calls) {
        std::printf("Calls (%zu):\n", run.calls.size());
        for (const std::string &line : run.calls)
            std::printf("%s\n", Shown(line).c_str());
    }
    std::printf("Exit code: %d\n", run.exitCode);
    if (temporary && options.keep)
        std::printf("Kept: %s\n", dir.c_str());
    else if (temporary)
        fs::remove_all(dir, ec);
    std::fflush(stdout);
    return run.exitCode;
}

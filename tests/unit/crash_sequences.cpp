// Every history of power cuts, starts, failures and other installers around
// WININIT.INI, up to a bound, held against an oracle that knows nothing of
// how the restart list writes the file: bounded black-box crash testing.
//
// The world is the Windows directory of a simulated machine and its profile
// cache; a history is a sequence of events, from one of a few WININIT.INI
// shapes, ended by a run of ours and a start:
//   P     our restart list runs to its end (the run over, the cache written out)
//   P(k)  it runs and the power fails right after its k-th call: the drives as
//         the calls left them, the cache lost; a start always follows
//   H     a file of ours held for a moment: from the j-th move or deletion of
//         the run on, one or two fail (with P or P(k))
//   S     a start: the cache written out at the shutdown (not after a power
//         cut), WININIT.INI worked through and renamed WININIT.BAK
//   Ia    another installer appends [rename] and its line (making the file)
//   Ii    another installer puts its line at the top of the first [rename]
//         section, rewriting the file
//   Ih, Iv  where there is no WININIT.INI, one makes it hidden; another
//         writes a line no start reads, then another section, then its own
//   C     another installer queues its line with WritePrivateProfileStringA:
//         held in the cache until a flush, another file's use or a shutdown
// No Ia or Ii while the cache holds a changed WININIT.INI: two installers
// that write the file two ways lose each other's lines whatever we do.
//
// The oracle, for every history, counting what each start did:
//   - every line another program queued is acted upon exactly once by the
//     end: never lost, never again once a start acted on it;
//   - a start acts only on such lines and ours, each byte for byte as queued;
//   - our lines are acted upon at the last start;
//   - no file of ours (BR32WIN.*) is left once a run without a fault ended;
//   - a last run with files held (there is none after the start that acts
//     on our lines: it deletes this program) leaves no other line behind.
//
// Histories that lead to the same world (files, marks, cache, what was
// queued and acted upon) go on as one. BR_CRASH_EVENTS sets the bound (the
// events before the last run); docs/hardening.md says how deep ./test goes.
#include <cstdlib>
#include <sys/wait.h>
#include <unistd.h>

#include "phase_support.h"

using namespace phase_support;

namespace {

const std::string WINDOWS = "C:\\WINDOWS", SYSTEM = "C:\\WINDOWS\\SYSTEM", INI = "WININIT.INI";

// The shapes a history starts from: WININIT.INI's bytes ("<none>": no file)
// and whether it is marked hidden.
const std::string RENAME = "[rename]\r\nNUL=C:\\OLD.TMP\r\nC:\\OTHER.DLL=C:\\OTHER.NEW\r\n";
const std::string VXDS = "[CombineVxDs]\r\nC:\\WINDOWS\\SYSTEM\\VMM32.VXD=1\r\n";
const struct Shape {
    const char *name;
    std::string text;
    bool hidden;
} SHAPES[] = {
    {"no WININIT.INI", "<none>", false},
    {"an empty one", "", false},
    {"[rename] last", RENAME, false},
    {"[rename], then another section", RENAME + VXDS, false},
    {"a lone CR before a header", RENAME + "\r" + VXDS, false},
    {"a hidden one", RENAME + VXDS, true},
    {"two [rename] sections", RENAME + VXDS + "[rename]\r\nC:\\THIRD.DLL=C:\\THIRD.NEW\r\n", false},
};

struct World {
    std::map<std::string, std::string> files;  // the Windows directory's, by upper-case name
    bool hidden = false;                       // WININIT.INI's mark
    bool cached = false;                       // the cache holds a changed WININIT.INI
    std::string cache;
    std::vector<std::string> lines;  // other programs' lines, as queued
    std::vector<int> acted;          // how often a start acted on each

    std::string Key() const
    {
        std::string key = hidden ? "H" : "-";
        key += cached ? "C" + std::to_string(cache.size()) + ":" + cache : "-";
        for (const auto &[name, bytes] : files)
            key += "|" + name + ":" + std::to_string(bytes.size()) + ":" + bytes;
        for (size_t i = 0; i < lines.size(); i++)
            key += "|" + lines[i] + "#" + std::to_string(acted[i]);
        return key;
    }
};

// Our lines, as the oracle knows them: the five files the program lists.
std::set<std::string> OurLines()
{
    std::set<std::string> ours;
    for (const char *name : RESTART_FILES)
        ours.insert("NUL=" + SYSTEM + "\\" + name);
    return ours;
}

bool IsOurs(const std::string &name)
{
    return name.compare(0, 8, "BR32WIN.") == 0;
}

// The machine the worlds are put on: a Windows directory and nothing else.
class Bench {
public:
    Bench() { machine_.Dir(SYSTEM); }

    // Loads world onto the machine, its cache restored.
    void Load(const World &world)
    {
        std::string dir = machine_.Host(WINDOWS);
        for (auto &entry : fs::directory_iterator(dir))
            if (entry.is_regular_file())
                fs::remove(entry.path());
        for (const auto &[name, bytes] : world.files)
            machine_.File(WINDOWS + "\\" + name, bytes);
        machine_.Ini(world.hidden ? "[Attributes]\r\n" + WINDOWS + "\\" + INI + "=H\r\n" : "");
        ASSERT_TRUE(machine_.Load());
        if (world.cached)
            SimSetCachedProfile(WINDOWS + "\\" + INI, world.cache);
    }

    // The Windows directory's files as the drives hold them now.
    std::map<std::string, std::string> Files() const
    {
        std::map<std::string, std::string> files;
        for (auto &entry : fs::directory_iterator(machine_.Host(WINDOWS)))
            if (entry.is_regular_file())
                files[SimFold(entry.path().filename().string())] = MachineBuilder::ReadHost(entry.path().string());
        files.erase("WININIT.BAK");
        return files;
    }

    bool Hidden() const
    {
        auto mark = SimMachine().attributes.find(SimFold(WINDOWS + "\\" + INI));
        return mark != SimMachine().attributes.end() && mark->second.find('H') != std::string::npos;
    }

    // The changed copy of WININIT.INI the cache holds, if any.
    bool Cache(std::string *text) const
    {
        std::string held = SimCachedProfile();
        size_t at = held.find('\n');
        if (at == std::string::npos || !SimSameText(held.substr(0, at), WINDOWS + "\\" + INI))
            return false;
        *text = held.substr(at + 1);
        return true;
    }

    MachineBuilder machine_;
};

// One run of the restart list on a world: the drives after each call that can
// change them (the states a power cut may leave), and the world at its end.
struct RunOutcome {
    std::vector<std::map<std::string, std::string>> cuts;  // distinct, in order
    std::vector<bool> cutHidden;
    World end;
    int changes = 0;  // moves and deletions the run made
};

Bench *g_bench;
RunOutcome *g_outcome;

void ObserveCall(const SimCall &call)
{
    static const std::set<std::string> changing = {"FileIoOpen", "FileIoWriteAtEnd", "FileIoTruncate",
                                                   "FileIoClose", "MoveFileA", "DeleteFileA",
                                                   "WritePrivateProfileStringA"};
    if (call.name == "MoveFileA" || call.name == "DeleteFileA")
        g_outcome->changes++;
    if (!changing.count(call.name))
        return;
    std::map<std::string, std::string> files = g_bench->Files();
    bool hidden = g_bench->Hidden();
    if (g_outcome->cuts.empty() || g_outcome->cuts.back() != files || g_outcome->cutHidden.back() != hidden) {
        g_outcome->cuts.push_back(files);
        g_outcome->cutHidden.push_back(hidden);
    }
}

// failFrom, failCount: the moves and deletions that fail (1-based; 0 none).
RunOutcome RunPhase(Bench &bench, const World &world, int failFrom, int failCount)
{
    RunOutcome outcome;
    bench.Load(world);
    for (int i = 0; i < failCount; i++)
        SimFailCall("MoveFileA|DeleteFileA", failFrom + i, ERROR_ACCESS_DENIED);
    g_bench = &bench;
    g_outcome = &outcome;
    SimObserveCalls(ObserveCall);
    UninstallRun run = {};
    strcpy(run.windowsDir, WINDOWS.c_str());
    strcpy(run.systemDir, SYSTEM.c_str());
    ScheduleRestartDeletions(run);
    SimObserveCalls(nullptr);
    SimWriteOutProfiles();  // the run is over
    outcome.end = world;
    outcome.end.files = bench.Files();
    outcome.end.hidden = bench.Hidden();
    outcome.end.cached = bench.Cache(&outcome.end.cache);
    SimUnloadMachine();
    return outcome;
}

// What a start does with a WININIT.INI: the lines it acts on, each once per
// time, as the simulated machine's next start reports them. Kept by text:
// histories meet the same files again and again.
std::vector<std::string> StartActsOn(Bench &bench, const std::string &text)
{
    static std::map<std::string, std::vector<std::string>> known;
    auto found = known.find(text);
    if (found != known.end())
        return found->second;
    World alone;
    alone.files[INI] = text;
    bench.Load(alone);
    std::vector<std::string> acted;
    for (const std::string &done : SimNextStart()) {
        // No file any line names exists: each is "passed over" as it is acted upon.
        if (done.compare(0, 12, "passed over ") == 0)
            acted.push_back(done.substr(12));
        else if (done.compare(0, 8, "renamed ") != 0)
            acted.push_back("?" + done);
    }
    SimUnloadMachine();
    return known[text] = acted;
}

// The checker: worlds by key, each reached first by the history kept for it.
class Checker {
public:
    explicit Checker(Bench &bench) : bench_(bench) {}

    int problems = 0;
    long long histories = 0, ends = 0, runs = 0;
    std::string firstProblems;

    // Explores every history of up to bound events from the shape.
    void Explore(const Shape &shape, int bound)
    {
        World start;
        if (shape.text != "<none>") {
            start.files[INI] = shape.text;
            for (const char *line : {"NUL=C:\\OLD.TMP", "C:\\OTHER.DLL=C:\\OTHER.NEW", "C:\\THIRD.DLL=C:\\THIRD.NEW"})
                if (shape.text.find(line + std::string("\r\n")) != std::string::npos) {
                    start.lines.push_back(line);
                    start.acted.push_back(0);
                }
        }
        start.hidden = shape.hidden;
        std::map<std::string, std::pair<World, long long>> level = {{start.Key(), {start, 1}}};
        std::set<std::string> seen = {start.Key()};
        std::map<std::string, std::string> history = {{start.Key(), shape.name}};
        for (int depth = 0; !level.empty(); depth++) {
            std::map<std::string, std::pair<World, long long>> next;
            for (auto &[key, entry] : level) {
                const World &world = entry.first;
                histories += entry.second;
                ends++;
                End(world, history[key]);
                EndHeld(world, history[key]);
                if (depth == bound)
                    continue;
                for (auto &[event, after] : Successors(world, history[key])) {
                    std::string afterKey = after.Key();
                    if (seen.count(afterKey)) {
                        if (next.count(afterKey))
                            next[afterKey].second += entry.second;
                        continue;
                    }
                    seen.insert(afterKey);
                    history[afterKey] = history[key] + ", " + event;
                    next[afterKey] = {after, entry.second};
                }
            }
            level.swap(next);
        }
    }

private:
    void Problem(const std::string &what, const std::string &history)
    {
        if (++problems <= 3)
            firstProblems += what + "\n  history: " + history + "\n";
    }

    // A start on world: the oracle's count, then WININIT.INI gone.
    World Start(World world, bool afterCut, const std::string &history, bool *oursActed = nullptr)
    {
        if (world.cached && !afterCut)
            world.files[INI] = world.cache;  // the shutdown writes it out
        world.cached = false;
        world.cache.clear();
        auto ini = world.files.find(INI);
        if (ini == world.files.end())
            return world;
        std::set<std::string> ours = OurLines(), oursSeen;
        for (const std::string &line : StartActsOn(bench_, ini->second)) {
            if (ours.count(line)) {
                oursSeen.insert(line);
                continue;
            }
            size_t i = std::find(world.lines.begin(), world.lines.end(), line) - world.lines.begin();
            if (i == world.lines.size()) {
                Problem("a start acted on a line no program queued: " + line, history);
                continue;
            }
            if (++world.acted[i] > 1)
                Problem("a start acted again on " + line, history);
            const std::string &text = ini->second;
            size_t at = text.find(line + "\r\n");
            while (at != std::string::npos && at > 0 && text[at - 1] != '\n')
                at = text.find(line + "\r\n", at + 1);
            if (at == std::string::npos)
                Problem("a start acted on " + line + " but not on its bytes as queued", history);
        }
        if (oursActed)
            *oursActed = oursSeen.size() == ours.size();
        world.files.erase(ini);
        world.hidden = false;  // the mark went with the file, now WININIT.BAK
        return world;
    }

    const RunOutcome &Run(const World &world, int failFrom, int failCount)
    {
        World key = world;
        key.lines.clear();
        key.acted.clear();
        std::string id = key.Key() + "/" + std::to_string(failFrom) + "/" + std::to_string(failCount);
        auto found = runs_.find(id);
        if (found != runs_.end())
            return found->second;
        runs++;
        return runs_[id] = RunPhase(bench_, world, failFrom, failCount);
    }

    // The last run, without a fault, and the last start.
    void End(const World &world, const std::string &history)
    {
        World after = world;
        after.files = Run(world, 0, 0).end.files;
        after.hidden = Run(world, 0, 0).end.hidden;
        after.cached = Run(world, 0, 0).end.cached;
        after.cache = Run(world, 0, 0).end.cache;
        for (const auto &[name, bytes] : after.files)
            if (IsOurs(name))
                Problem("a run without a fault left " + name, history + ", P");
        bool oursActed = false;
        after = Start(after, false, history + ", P, S", &oursActed);
        if (!oursActed)
            Problem("the last start did not act on all our lines", history + ", P, S");
        for (size_t i = 0; i < after.lines.size(); i++)
            if (after.acted[i] != 1)
                Problem(after.lines[i] + " acted upon " + std::to_string(after.acted[i]) + " times", history + ", P, S");
    }

    // The last run may be the last indeed: once a start acts on our lines
    // it deletes this program. So a last run with one or two files held,
    // and its start: if that start acted on our lines, it must have left no
    // other program's line behind (files of ours may stay).
    void EndHeld(const World &world, const std::string &history)
    {
        int changes = Run(world, 0, 0).changes;
        for (int from = 1; from <= changes; from++)
            for (int count = 1; count <= 2; count++) {
                World after = world;
                const RunOutcome &run = Run(world, from, count);
                after.files = run.end.files;
                after.hidden = run.end.hidden;
                after.cached = run.end.cached;
                after.cache = run.end.cache;
                std::string held = history + ", H" + std::to_string(from) + (count > 1 ? "+" : "") + " P, S";
                bool oursActed = false;
                after = Start(after, false, held, &oursActed);
                for (size_t i = 0; oursActed && i < after.lines.size(); i++)
                    if (after.acted[i] != 1)
                        Problem("this program gone, " + after.lines[i] + " acted upon " + std::to_string(after.acted[i]) +
                                    " times", held);
            }
    }

    std::vector<std::pair<std::string, World>> Successors(const World &world, const std::string &history)
    {
        std::vector<std::pair<std::string, World>> out;
        // Our runs: whole, or cut at each state the drives passed through;
        // without a fault, or with one or two moves or deletions failing.
        int changes = Run(world, 0, 0).changes;
        for (int from = 0; from <= changes; from++) {
            for (int count = from ? 1 : 0; count <= (from ? 2 : 0); count++) {
                const RunOutcome &run = Run(world, from, count);
                std::string held = from ? "H" + std::to_string(from) + (count > 1 ? "+" : "") + " " : "";
                World whole = run.end;
                out.push_back({held + "P", whole});
                for (size_t k = 0; k < run.cuts.size(); k++) {
                    World cut = world;
                    cut.files = run.cuts[k];
                    cut.hidden = run.cutHidden[k];
                    cut.cached = false;
                    cut.cache.clear();
                    std::string event = held + "P(" + std::to_string(k + 1) + ")";
                    out.push_back({event + ", S", Start(cut, true, history + ", " + event + ", S")});
                }
            }
        }
        out.push_back({"S", Start(world, false, history + ", S")});
        // Other installers, each with a line of its own.
        char name[8];
        snprintf(name, sizeof name, "Q%02d", (int)world.lines.size());
        std::string line = "NUL=C:\\" + std::string(name) + ".TMP";
        if (!world.cached) {
            World appended = world;
            std::string &text = appended.files[INI];
            if (!text.empty() && text.back() != '\n')
                text += "\r\n";
            text += "[rename]\r\n" + line + "\r\n";
            appended.lines.push_back(line);
            appended.acted.push_back(0);
            out.push_back({"Ia", appended});
            World inserted = world;
            std::string &ini = inserted.files[INI];
            size_t at = FirstRenameHeaderEnd(ini);
            if (at == std::string::npos) {
                if (!ini.empty() && ini.back() != '\n')
                    ini += "\r\n";
                ini += "[rename]\r\n" + line + "\r\n";
            } else {
                ini.insert(at, line + "\r\n");
            }
            inserted.lines.push_back(line);
            inserted.acted.push_back(0);
            out.push_back({"Ii", inserted});
            // Where there is no WININIT.INI: an installer that makes it hidden,
            // and one that writes a line no start reads and another section
            // before its [rename].
            if (!world.files.count(INI)) {
                World hidden = appended;
                hidden.hidden = true;
                out.push_back({"Ih", hidden});
                World other = appended;
                other.files[INI] = "NUL=C:\\KEEP.DAT\r\n" + VXDS + "[rename]\r\n" + line + "\r\n";
                out.push_back({"Iv", other});
            }
        }
        out.push_back({"C", Cached(world, name)});
        return out;
    }

    // Where a line put at the top of the first [rename] section goes: after
    // that header line (a line end added when it has none); npos: no section.
    static size_t FirstRenameHeaderEnd(std::string &text)
    {
        for (size_t at = 0; at < text.size();) {
            size_t end = text.find('\n', at);
            std::string line = SimTrim(text.substr(at, end == std::string::npos ? std::string::npos : end - at));
            if (!line.empty() && line[0] == '[' && SimSameText(line.substr(0, 8), "[rename]")) {
                if (end == std::string::npos) {
                    text += "\r\n";
                    return text.size();
                }
                return end + 1;
            }
            if (end == std::string::npos)
                break;
            at = end + 1;
        }
        return std::string::npos;
    }

    World Cached(const World &world, const char *name)
    {
        World after = world;
        bench_.Load(world);
        std::string key = "C:\\" + std::string(name) + ".DLL", value = "C:\\" + std::string(name) + ".NEW";
        WritePrivateProfileStringA("rename", key.c_str(), value.c_str(), (WINDOWS + "\\" + INI).c_str());
        after.cached = bench_.Cache(&after.cache);
        SimLoseProfiles();  // the drives stay as they were
        SimUnloadMachine();
        after.lines.push_back(key + "=" + value);
        after.acted.push_back(0);
        return after;
    }

    Bench &bench_;
    std::map<std::string, RunOutcome> runs_;
};

int Bound()
{
    const char *events = std::getenv("BR_CRASH_EVENTS");
    return events && *events ? std::atoi(events) : 3;
}

TEST(CrashSequences, EveryHistoryActsOnEveryLineExactlyOnce)
{
    const int bound = Bound();
    long long histories = 0, ends = 0, runs = 0;
    int problems = 0;
    std::string firstProblems;
    // Two workers, each with every other shape.
    int pipes[2][2];
    pid_t children[2];
    for (int w = 0; w < 2; w++) {
        ASSERT_EQ(0, pipe(pipes[w]));
        std::fflush(nullptr);
        children[w] = fork();
        if (children[w] == 0) {
            close(pipes[w][0]);
            Bench bench;
            Checker checker(bench);
            for (size_t s = w; s < sizeof SHAPES / sizeof SHAPES[0]; s += 2)
                checker.Explore(SHAPES[s], bound);
            std::string report = std::to_string(checker.histories) + " " + std::to_string(checker.ends) + " " +
                                 std::to_string(checker.runs) + " " + std::to_string(checker.problems) + "\n" +
                                 checker.firstProblems;
            ssize_t written = write(pipes[w][1], report.data(), report.size());
            _exit(written == (ssize_t)report.size() ? 0 : 1);
        }
        close(pipes[w][1]);
    }
    for (int w = 0; w < 2; w++) {
        std::string report;
        char buffer[4096];
        for (ssize_t n; (n = read(pipes[w][0], buffer, sizeof buffer)) > 0;)
            report.append(buffer, n);
        close(pipes[w][0]);
        int status = 0;
        ASSERT_EQ(children[w], waitpid(children[w], &status, 0));
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "worker " << w << " did not finish";
        long long h = 0, e = 0, r = 0;
        int p = 0, used = 0;
        ASSERT_EQ(4, sscanf(report.c_str(), "%lld %lld %lld %d%n", &h, &e, &r, &p, &used)) << report;
        histories += h;
        ends += e;
        runs += r;
        problems += p;
        firstProblems += report.substr(used);
    }
    EXPECT_EQ(0, problems) << firstProblems;
    std::printf("crash sequences: up to %d events from %zu shapes: %lld histories, %lld final states checked, "
                "%lld runs of the restart list\n",
                bound, sizeof SHAPES / sizeof SHAPES[0], histories, ends, runs);
}

}  // namespace

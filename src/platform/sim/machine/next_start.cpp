// The machine's next start after a restart request: what Windows 9x does
// with WININIT.INI's [rename] lines before it loads, then WININIT.BAK.
#include <cstdio>
#include <unistd.h>

#include "core/core.h"
#include "drives/drives.h"
#include "sim.h"

namespace {

// Paths resolve as every path on the drives does, so they never leave the
// machine folder; a relative one is taken in the Windows directory, where
// the start runs: the current directory is set there meanwhile.
class InWindowsDirectory {
public:
    InWindowsDirectory() : saved_(SimMachine().currentDir) { SimMachine().currentDir = SimMachine().windowsDir; }
    ~InWindowsDirectory() { SimMachine().currentDir = saved_; }

private:
    std::string saved_;
};

// Before Windows loads no program holds a file, so busy marks are not
// looked at; a read-only file still cannot be deleted, as under DOS.
bool ExistingFile(const std::string &path, SimPath *out)
{
    return SimResolve(path.c_str(), out) == ERROR_SUCCESS && out->exists && !out->isDir;
}

bool DeleteFile(const SimPath &file)
{
    if (SimIsReadOnly(file) || unlink(file.host.c_str()) != 0)
        return false;
    SimFolderChanged(file.host);
    return true;
}

// NUL=path
void Delete(const std::string &path, std::vector<std::string> *done)
{
    SimPath file;
    if (ExistingFile(path, &file) && DeleteFile(file))
        done->push_back("deleted " + file.canonical);
    else
        done->push_back("passed over NUL=" + path);
}

// dest=src: dest deleted when it exists, then src moved there.
void Move(const std::string &dest, const std::string &src, std::vector<std::string> *done)
{
    SimPath from, to;
    bool possible = ExistingFile(src, &from) && SimResolve(dest.c_str(), &to) == ERROR_SUCCESS && !to.isDir;
    if (possible && to.exists) {
        possible = DeleteFile(to);
        if (possible)
            done->push_back("deleted " + to.canonical);
    }
    if (possible && std::rename(from.host.c_str(), to.host.c_str()) == 0) {
        SimFolderChanged(from.host);
        SimFolderChanged(to.host);
        done->push_back("moved " + from.canonical + " to " + to.canonical);
    } else {
        done->push_back("passed over " + dest + "=" + src);
    }
}

}  // namespace

std::vector<std::string> SimNextStart()
{
    std::vector<std::string> done;
    std::string ignored;
    if (!SimMachine().loaded || !SimPathKey(SimMachine().windowsDir, &ignored))
        return done;
    InWindowsDirectory inWindows;
    SimPath ini;
    std::string text;
    if (!ExistingFile("WININIT.INI", &ini) || !SimReadHostFile(ini.host, &text))
        return done;

    bool renaming = false;
    for (size_t start = 0; start < text.size();) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = SimTrim(text.substr(start, end - start));
        start = end + 1;
        // The program's own rule: a header's first byte after blanks is '[',
        // and it is [rename] when "rename]" follows, in any case.
        if (!line.empty() && line[0] == '[') {
            renaming = SimSameText(line.substr(0, 8), "[rename]");
            continue;
        }
        size_t eq = line.find('=');
        if (!renaming || line[0] == ';' || eq == std::string::npos)
            continue;
        std::string dest = SimTrim(line.substr(0, eq)), src = SimTrim(line.substr(eq + 1));
        if (SimSameText(dest, "NUL"))
            Delete(src, &done);
        else
            Move(dest, src, &done);
    }

    // An earlier WININIT.BAK, in whatever case, is replaced. Finding it
    // lists the folder again, so the listing is forgotten after the rename.
    SimPath bak;
    if (SimResolve("WININIT.BAK", &bak) == ERROR_SUCCESS && std::rename(ini.host.c_str(), bak.host.c_str()) == 0) {
        SimFolderChanged(ini.host);
        done.push_back("renamed " + ini.canonical + " to " + bak.canonical);
    } else {
        done.push_back("kept " + ini.canonical + ": WININIT.BAK cannot be replaced");
    }
    return done;
}

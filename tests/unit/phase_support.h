// Helpers shared by the removal phases' tests: machine folders on disk and
// what they hold, and the call record filtered for failure messages.
#ifndef TESTS_UNIT_PHASE_SUPPORT_H
#define TESTS_UNIT_PHASE_SUPPORT_H

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <unistd.h>

#include "sim.h"

namespace phase_support {

namespace fs = std::filesystem;

inline std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return (char)std::tolower(c); });
    return text;
}

inline std::string ReadBytes(const fs::path &path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

inline void WriteBytes(const fs::path &path, const std::string &bytes)
{
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

// A fresh, empty folder under the system's temporary directory.
inline fs::path FreshFolder(const std::string &name)
{
    static int made = 0;
    fs::path dir = fs::temp_directory_path() /
                   ("br32unin-" + name + "-" + std::to_string((long)getpid()) + "-" +
                    std::to_string(++made));
    fs::remove_all(dir);
    fs::create_directories(dir);
    return dir;
}

inline fs::path SampleMachine(const std::string &name)
{
    return fs::path(BR_SOURCE_DIR) / "machines" / name;
}

// Copies a sample machine, so that a run cannot change the sample.
inline fs::path CopyOfSample(const std::string &name)
{
    fs::path copy = FreshFolder(name);
    fs::copy(SampleMachine(name), copy, fs::copy_options::recursive);
    return copy;
}

// Files and folders under a folder, by lower-case relative path (Windows
// names do not differ in letter case alone): files to their bytes.
struct FolderContents {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
};

inline FolderContents ReadFolder(const fs::path &root)
{
    FolderContents contents;
    for (auto &entry : fs::recursive_directory_iterator(root)) {
        std::string rel = Lower(fs::relative(entry.path(), root).generic_string());
        if (entry.is_directory())
            contents.folders.insert(rel);
        else
            contents.files[rel] = ReadBytes(entry.path());
    }
    return contents;
}

// A REGEDIT4 file as key path (lower case) to its value lines, in order.
inline std::map<std::string, std::vector<std::string>> ReadRegistryFile(const fs::path &path)
{
    std::map<std::string, std::vector<std::string>> keys;
    std::istringstream in(ReadBytes(path));
    std::string line, current, value;
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (!value.empty() || (!line.empty() && line[0] != '[' && !current.empty())) {
            value += line;
            // A hex list goes on in the next line after ",\".
            if (value.size() >= 2 && value.compare(value.size() - 2, 2, ",\\") == 0) {
                value.pop_back();
                continue;
            }
            if (!value.empty())
                keys[current].push_back(value);
            value.clear();
        } else if (!line.empty() && line[0] == '[' && line.back() == ']') {
            current = Lower(line.substr(1, line.size() - 2));
            keys[current];
        }
    }
    return keys;
}

// An INI file as its sections, in order, each with its lines.
struct IniSection {
    std::string name;
    std::vector<std::string> lines;
    bool operator==(const IniSection &o) const { return name == o.name && lines == o.lines; }
};

inline std::vector<IniSection> ReadIniFile(const fs::path &path)
{
    std::vector<IniSection> sections;
    std::istringstream in(ReadBytes(path));
    std::string line;
    sections.push_back(IniSection{"", {}});
    while (std::getline(in, line)) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (line.empty())
            continue;
        if (line[0] == '[')
            sections.push_back(IniSection{line, {}});
        else
            sections.back().lines.push_back(line);
    }
    return sections;
}

// The calls of the given services, in order, for comparisons and messages.
inline std::vector<SimCall> CallsNamed(const std::set<std::string> &names)
{
    std::vector<SimCall> calls;
    for (const SimCall &call : SimCalls()) {
        if (names.count(call.name))
            calls.push_back(call);
    }
    return calls;
}

// "name(arg, arg)" for each call, without results, for exact comparisons.
inline std::vector<std::string> CallLines(const std::vector<SimCall> &calls)
{
    std::vector<std::string> lines;
    for (const SimCall &call : calls) {
        std::string line = call.name + "(";
        for (size_t i = 0; i < call.args.size(); i++)
            line += (i ? ", " : "") + call.args[i];
        lines.push_back(line + ")");
    }
    return lines;
}

// The first argument of each call: the path or key a service was given.
inline std::vector<std::string> FirstArgs(const std::vector<SimCall> &calls)
{
    std::vector<std::string> args;
    for (const SimCall &call : calls)
        args.push_back(call.args.empty() ? "" : call.args[0]);
    return args;
}

inline std::string AllCallsText()
{
    return "calls:\n" + SimFormatCalls(SimCalls());
}

// A machine folder made for one test: settings, registry text, files.
// Load() writes it and loads it; the destructor unloads and removes it.
class TestMachine {
public:
    explicit TestMachine(const std::string &name = "machine") : dir_(FreshFolder(name)) {}
    ~TestMachine()
    {
        SimUnloadMachine();
        std::error_code ignored;
        fs::remove_all(dir_, ignored);
    }

    // A [Machine] setting of machine.ini: Build, WindowsDir, SystemDir, ...
    TestMachine &Setting(const std::string &name, const std::string &value)
    {
        settings_ += name + "=" + value + "\r\n";
        return *this;
    }
    TestMachine &Build(unsigned long build)
    {
        char text[16];
        snprintf(text, sizeof text, "0x%08lX", build);
        return Setting("Build", text);
    }

    // A key under its stored root, with value lines in REGEDIT4 form:
    // Key("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0000", {"\"DeviceDesc\"=\"x\""}).
    TestMachine &Key(const std::string &path, const std::vector<std::string> &values = {})
    {
        registry_ += "[" + path + "]\r\n";
        for (const std::string &value : values)
            registry_ += value + "\r\n";
        registry_ += "\r\n";
        return *this;
    }

    // A file by its Windows path ("C:\\WINDOWS\\WIN.INI"); a path ending in
    // a backslash makes a folder.
    TestMachine &File(const std::string &windowsPath, const std::string &bytes = "")
    {
        files_.push_back({windowsPath, bytes});
        return *this;
    }

    fs::path HostPath(const std::string &windowsPath) const
    {
        std::string rest = windowsPath.substr(3);
        std::replace(rest.begin(), rest.end(), '\\', '/');
        return dir_ / "drives" / std::string(1, (char)std::toupper((unsigned char)windowsPath[0])) / rest;
    }

    void Load()
    {
        WriteBytes(dir_ / "machine.ini", "[Machine]\r\n" + settings_);
        WriteBytes(dir_ / "registry.reg", "REGEDIT4\r\n\r\n" + registry_);
        fs::create_directories(dir_ / "drives" / "C");
        for (auto &[path, bytes] : files_) {
            if (!path.empty() && path.back() == '\\')
                fs::create_directories(HostPath(path));
            else
                WriteBytes(HostPath(path), bytes);
        }
        std::string error;
        ASSERT_TRUE(SimLoadMachine(dir_.string(), &error)) << error;
    }

    bool Exists(const std::string &windowsPath) const { return fs::exists(HostPath(windowsPath)); }
    std::string Read(const std::string &windowsPath) const { return ReadBytes(HostPath(windowsPath)); }
    const fs::path &Dir() const { return dir_; }

private:
    fs::path dir_;
    std::string settings_;
    std::string registry_;
    std::vector<std::pair<std::string, std::string>> files_;
};

// A REGEDIT4 string value line: RegString("DeviceDesc", "x") is "DeviceDesc"="x".
inline std::string RegString(const std::string &name, const std::string &text)
{
    std::string line = "\"" + name + "\"=\"";
    for (char c : text) {
        if (c == '\\' || c == '"')
            line += '\\';
        line += c;
    }
    return line + "\"";
}

// A REGEDIT4 binary value line: the bytes exactly, no NUL added.
inline std::string RegBinary(const std::string &name, const std::string &bytes)
{
    std::string line = "\"" + name + "\"=hex:";
    char hex[4];
    for (size_t i = 0; i < bytes.size(); i++) {
        snprintf(hex, sizeof hex, "%02x", (unsigned char)bytes[i]);
        line += (i ? "," : "") + std::string(hex);
    }
    return line;
}

}  // namespace phase_support

#endif

// Helpers shared by the removal phases' tests: a test machine over the
// shared MachineBuilder, copies of the sample machines, registry value
// lines, and the call record cut down to what a test compares.
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

#include "machine_builder.h"
#include "sim.h"
#include "snapshot.h"

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

// Files and folders under a folder, by relative path: files to their bytes.
struct FolderContents {
    std::map<std::string, std::string> files;
    std::set<std::string> folders;
};

inline FolderContents ReadFolder(const fs::path &root)
{
    FolderContents contents;
    for (auto &entry : fs::recursive_directory_iterator(root)) {
        std::string rel = fs::relative(entry.path(), root).generic_string();
        if (entry.is_directory())
            contents.folders.insert(rel);
        else
            contents.files[rel] = ReadBytes(entry.path());
    }
    return contents;
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

// A machine for one test, over the shared MachineBuilder: settings and
// registry keys are gathered and written at Load(); files are written at
// once. The machine is unloaded and its folder removed at the end.
class TestMachine {
public:
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

    // A key by its full path, with value lines in REGEDIT4 form:
    // Key("HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0000", {RegString("DeviceDesc", "x")}).
    TestMachine &Key(const std::string &path, const std::vector<std::string> &values = {})
    {
        registry_ += "[" + path + "]\r\n";
        for (const std::string &value : values)
            registry_ += value + "\r\n";
        registry_ += "\r\n";
        return *this;
    }

    // A file by its Windows path; a path ending in a backslash is a folder.
    TestMachine &File(const std::string &windowsPath, const std::string &bytes = "")
    {
        if (!windowsPath.empty() && windowsPath.back() == '\\')
            builder_.Dir(windowsPath.substr(0, windowsPath.size() - 1));
        else
            builder_.File(windowsPath, bytes);
        return *this;
    }

    void Load()
    {
        if (!settings_.empty())
            builder_.Ini("[Machine]\r\n" + settings_);
        builder_.Registry("REGEDIT4\r\n\r\n" + registry_);
        ASSERT_TRUE(builder_.Load());
    }

    bool Exists(const std::string &windowsPath) const { return builder_.Exists(windowsPath); }
    std::string Read(const std::string &windowsPath) const { return builder_.Read(windowsPath); }

private:
    MachineBuilder builder_;
    std::string settings_;
    std::string registry_;
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

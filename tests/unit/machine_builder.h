// A simulated machine folder in a temporary directory, empty or a copy of a
// sample machine, for the unit tests, the fuzz targets and the benchmarks:
//
//     MachineBuilder m("win98");
//     m.Set("Build", "950").Key("HKEY_LOCAL_MACHINE\\K", {"\"V\"=\"x\""})
//         .File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n").Dir("C:\\WINDOWS\\INF");
//     ASSERT_TRUE(m.Load());
//     EXPECT_EQ("...", m.Read("C:\\WINDOWS\\wininit.ini"));
//
// Windows paths are stored under drives/<letter>/ exactly as spelt, so a
// test chooses the letter case. Ini() and Registry() write their file anew
// (Registry() adds the "REGEDIT4" line when it is missing); Set(), Key() and
// Append() add to what is there. A file or folder made or removed while the
// machine is loaded is seen at once: the machine forgets its folder listings.
// The destructor unloads the machine and deletes the folder.
#ifndef TESTS_UNIT_MACHINE_BUILDER_H
#define TESTS_UNIT_MACHINE_BUILDER_H

#include <gtest/gtest.h>  // for the sim tests, which take it from here; nothing below uses it
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "core/core.h"      // SimLastError: what a failed Boolean call left
#include "drives/drives.h"  // SimForgetListings
#include "sim.h"

class MachineBuilder {
public:
    explicit MachineBuilder(const std::string &sample = "")
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "br-machine-XXXXXX").string();
        dir_ = mkdtemp(&pattern[0]) ? pattern : "br-machine";
        std::filesystem::create_directories(dir_ + "/drives/C");
        if (!sample.empty())
            std::filesystem::copy(std::string(BR_SOURCE_DIR "/machines/") + sample, dir_,
                                  std::filesystem::copy_options::recursive |
                                      std::filesystem::copy_options::overwrite_existing);
    }
    ~MachineBuilder()
    {
        SimUnloadMachine();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    MachineBuilder(const MachineBuilder &) = delete;

    MachineBuilder &Ini(const std::string &text) { return Write(dir_ + "/machine.ini", text); }
    MachineBuilder &Registry(const std::string &text)
    {
        return Write(dir_ + "/registry.reg", text.compare(0, 8, "REGEDIT4") ? "REGEDIT4\r\n\r\n" + text : text);
    }
    // A [Machine] line; a later one overrides a sample's.
    MachineBuilder &Set(const std::string &name, const std::string &value)
    {
        return Append("machine.ini", "[Machine]\r\n" + name + "=" + value + "\r\n");
    }
    // A key with its REGEDIT4 value lines ("" lines are left out).
    MachineBuilder &Key(const std::string &path, const std::vector<std::string> &values = {})
    {
        if (!std::filesystem::exists(dir_ + "/registry.reg"))
            Append("registry.reg", "REGEDIT4\r\n\r\n");
        std::string text = "[" + path + "]\r\n";
        for (const std::string &value : values)
            text += value.empty() ? "" : value + "\r\n";
        return Append("registry.reg", text + "\r\n");
    }
    MachineBuilder &File(const std::string &path, const std::string &bytes = "")
    {
        std::filesystem::create_directories(std::filesystem::path(Host(path)).parent_path());
        return Write(Host(path), bytes);
    }
    MachineBuilder &Dir(const std::string &path)
    {
        std::filesystem::create_directories(Host(path));
        SimForgetListings();
        return *this;
    }
    MachineBuilder &Remove(const std::string &path)
    {
        std::remove(Host(path).c_str());
        SimForgetListings();
        return *this;
    }
    // Adds text to the end of a file of the folder (a path under it).
    MachineBuilder &Append(const std::string &file, const std::string &text)
    {
        std::ofstream(dir_ + "/" + file, std::ios::binary | std::ios::app) << text;
        return *this;
    }
    // Replaces every from in a file of the folder.
    MachineBuilder &Replace(const std::string &file, const std::string &from, const std::string &to)
    {
        std::string bytes = ReadHost(dir_ + "/" + file);
        for (size_t at = bytes.find(from); at != std::string::npos; at = bytes.find(from, at + to.size()))
            bytes.replace(at, from.size(), to);
        return Write(dir_ + "/" + file, bytes);
    }
    // Loads the folder as the machine; a failure is reported with its reason.
    bool Load()
    {
        std::string error;
        bool loaded = SimLoadMachine(dir_, &error);
        if (!loaded)
            std::fprintf(stderr, "SimLoadMachine: %s\n", error.c_str());
        return loaded;
    }
    // The host path of a Windows path, spelt as given.
    std::string Host(const std::string &path) const
    {
        std::string host = dir_ + "/drives/" + path.substr(0, 1);
        for (size_t i = 2; i < path.size(); i++)
            host += path[i] == '\\' ? '/' : path[i];
        return host;
    }
    bool Exists(const std::string &path) const { return std::filesystem::exists(Host(path)); }
    // The file's bytes, or "<missing>".
    std::string Read(const std::string &path) const { return ReadHost(Host(path)); }
    static std::string ReadHost(const std::string &host)
    {
        std::string bytes;
        return SimReadHostFile(host, &bytes) ? bytes : "<missing>";
    }
    const std::string &dir() const { return dir_; }

private:
    MachineBuilder &Write(const std::string &host, const std::string &bytes)
    {
        std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
        SimForgetListings();
        return *this;
    }
    std::string dir_;
};

// The recorded calls of one service, one per line: a mismatch shows them all.
inline std::string CallsOf(const std::string &name)
{
    return SimFormatCalls(SimCallsNamed(name));
}

#endif

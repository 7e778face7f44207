// A simulated machine folder in a temporary directory, for tests:
//
//     MachineBuilder m;
//     m.Ini("[Machine]\nBuild=950\n").Registry("[HKEY_LOCAL_MACHINE\\K]\n")
//         .File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n").Dir("C:\\WINDOWS\\INF");
//     ASSERT_TRUE(m.Load());
//     EXPECT_EQ("...", m.Read("C:\\WINDOWS\\wininit.ini"));
//
// Windows paths are stored under drives/<letter>/ exactly as spelt, so a
// test chooses the letter case. Registry() adds the "REGEDIT4" line when it
// is missing. The destructor unloads the machine and deletes the folder.
#ifndef TESTS_UNIT_MACHINE_BUILDER_H
#define TESTS_UNIT_MACHINE_BUILDER_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/core.h"  // SimLastError: what a failed Boolean call left
#include "sim.h"

class MachineBuilder {
public:
    MachineBuilder()
    {
        std::string pattern = (std::filesystem::temp_directory_path() / "br-machine-XXXXXX").string();
        dir_ = mkdtemp(&pattern[0]) ? pattern : "br-machine";
        std::filesystem::create_directories(dir_ + "/drives/C");
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
    MachineBuilder &File(const std::string &path, const std::string &bytes)
    {
        std::filesystem::create_directories(std::filesystem::path(Host(path)).parent_path());
        return Write(Host(path), bytes);
    }
    MachineBuilder &Dir(const std::string &path)
    {
        std::filesystem::create_directories(Host(path));
        return *this;
    }
    // Loads the folder as the machine; a failure is reported with its reason.
    bool Load()
    {
        std::string error;
        return SimLoadMachine(dir_, &error) || (ADD_FAILURE() << "SimLoadMachine: " << error, false);
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
        std::ifstream in(host, std::ios::binary);
        return in ? std::string(std::istreambuf_iterator<char>(in), {}) : "<missing>";
    }
    const std::string &dir() const { return dir_; }

private:
    MachineBuilder &Write(const std::string &host, const std::string &bytes)
    {
        std::ofstream(host, std::ios::binary | std::ios::trunc) << bytes;
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

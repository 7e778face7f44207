// A simulated machine folder in a temporary directory, for tests.
//
//     MachineBuilder m;
//     m.Ini("[Machine]\nBuild=950\n")
//         .Registry("[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0000]\n"
//                   "\"DeviceDesc\"=\"TINTAVERA Brascora Duneva 10\"\n")
//         .File("C:\\WINDOWS\\WIN.INI", "[Devices]\r\n")
//         .Dir("C:\\WINDOWS\\INF");
//     ASSERT_TRUE(m.Load());          // SimLoadMachine on the folder
//     ...
//     EXPECT_EQ("...", m.Read("C:\\WINDOWS\\wininit.ini"));
//     EXPECT_EQ(expected, CallsOf("DeleteFileA"));   // one call per line
//
// Paths are full Windows paths with a drive letter; they are written to
// drives/<letter>/... exactly as spelt (no case folding here, so a test can
// store the case it wants). Registry() takes REGEDIT4 text and adds the
// "REGEDIT4" line when it is missing. Without Ini() and Registry() the
// machine has the defaults and an empty registry. The destructor unloads
// the machine and deletes the folder.
#ifndef TESTS_UNIT_MACHINE_BUILDER_H
#define TESTS_UNIT_MACHINE_BUILDER_H

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "sim.h"
#include "sim_internal.h"  // SimLastError: what a failed Boolean call left

class MachineBuilder {
public:
    MachineBuilder()
    {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "br-machine-XXXXXX").string();
        if (mkdtemp(&pattern[0]))
            dir_ = pattern;
        std::filesystem::create_directories(dir_ + "/drives/C");
    }

    ~MachineBuilder()
    {
        SimUnloadMachine();
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }

    MachineBuilder(const MachineBuilder &) = delete;
    MachineBuilder &operator=(const MachineBuilder &) = delete;

    MachineBuilder &Ini(const std::string &text)
    {
        WriteBytes(dir_ + "/machine.ini", text);
        return *this;
    }

    MachineBuilder &Registry(const std::string &text)
    {
        bool headed = text.compare(0, 8, "REGEDIT4") == 0;
        WriteBytes(dir_ + "/registry.reg", headed ? text : "REGEDIT4\r\n\r\n" + text);
        return *this;
    }

    MachineBuilder &File(const std::string &path, const std::string &bytes)
    {
        std::string host = Host(path);
        std::filesystem::create_directories(std::filesystem::path(host).parent_path());
        WriteBytes(host, bytes);
        return *this;
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
        bool loaded = SimLoadMachine(dir_, &error);
        if (!loaded)
            ADD_FAILURE() << "SimLoadMachine: " << error;
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

    bool Exists(const std::string &path) const
    {
        return std::filesystem::exists(Host(path));
    }

    // The file's bytes, or "<missing>".
    std::string Read(const std::string &path) const
    {
        return ReadHost(Host(path));
    }

    static std::string ReadHost(const std::string &host)
    {
        std::ifstream in(host, std::ios::binary);
        if (!in)
            return "<missing>";
        std::ostringstream bytes;
        bytes << in.rdbuf();
        return bytes.str();
    }

    const std::string &dir() const { return dir_; }

private:
    static void WriteBytes(const std::string &host, const std::string &bytes)
    {
        std::ofstream out(host, std::ios::binary | std::ios::trunc);
        out.write(bytes.data(), (std::streamsize)bytes.size());
    }

    std::string dir_;
};

// The recorded calls of one service, one per line, for comparing with an
// expected text: a mismatch shows the whole sequence.
inline std::string CallsOf(const std::string &name)
{
    return SimFormatCalls(SimCallsNamed(name));
}

#endif

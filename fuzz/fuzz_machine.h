// A simulated machine for the fuzz targets that go through the machine's
// own services: an empty machine in a temporary folder, loaded once for the
// whole run, with C:\WINDOWS and C:\WINDOWS\SYSTEM.
#ifndef FUZZ_FUZZ_MACHINE_H
#define FUZZ_FUZZ_MACHINE_H

#include <filesystem>
#include <fstream>
#include <sstream>
#include <unistd.h>

#include "fuzz_check.h"
#include "sim.h"

inline const std::string &FuzzMachineDir()
{
    // Never destroyed: the clean-up at exit still needs it.
    static const std::string *dir = [] {
        std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     ("br-fuzz-" + std::to_string((long)getpid()));
        std::filesystem::remove_all(path);
        std::filesystem::create_directories(path / "drives/C/WINDOWS/SYSTEM");
        std::string error;
        FUZZ_CHECK(SimLoadMachine(path.string(), &error), "%s", error.c_str());
        std::atexit([] {
            SimUnloadMachine();
            std::error_code ec;
            std::filesystem::remove_all(FuzzMachineDir(), ec);
        });
        return new std::string(path.string());
    }();
    return *dir;
}

// A file of the machine's drive C, by its path under C:\ with slashes.
inline std::string FuzzHostPath(const std::string &path)
{
    return FuzzMachineDir() + "/drives/C/" + path;
}

inline void FuzzWrite(const std::string &path, const std::string &bytes)
{
    std::ofstream(FuzzHostPath(path), std::ios::binary | std::ios::trunc)
        .write(bytes.data(), (std::streamsize)bytes.size());
}

// The file's bytes, or "<missing>".
inline std::string FuzzRead(const std::string &path)
{
    std::ifstream in(FuzzHostPath(path), std::ios::binary);
    if (!in)
        return "<missing>";
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// Text without NUL bytes, as a C string of the program would hold it.
inline std::string NoNul(std::string text)
{
    for (char &c : text)
        if (!c)
            c = 'x';
    return text;
}

#endif

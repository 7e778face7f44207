// The machine of the fuzz targets that go through the machine's own
// services: an empty one with C:\WINDOWS\SYSTEM, loaded once for the whole
// run; each input starts with nothing in its profile cache.
#ifndef FUZZ_FUZZ_MACHINE_H
#define FUZZ_FUZZ_MACHINE_H

#include "fuzz_check.h"
#include "machine_builder.h"

inline MachineBuilder &FuzzMachine()
{
    // Never destroyed before the clean-up at exit, which still needs it.
    static MachineBuilder *machine = [] {
        MachineBuilder *m = new MachineBuilder;
        FUZZ_CHECK(m->Dir("C:\\WINDOWS\\SYSTEM").Load(), "no machine");
        std::atexit([] { delete &FuzzMachine(); });
        return m;
    }();
    SimLoseProfiles();
    return *machine;
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

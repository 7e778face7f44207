// The program's start without a C run-time library: the loader jumps here
// (the linker's entry point), and the process ends with WinMain's result.
// Nothing needs constructing first: the program has no static constructors.
#include <windows.h>

namespace {

// The command line without the program's own name, as a run-time library
// would hand it to WinMain. The name may be quoted and hold spaces.
LPSTR ArgumentsOf(LPSTR line)
{
    if (*line == '"') {
        line++;
        while (*line && *line != '"')
            line++;
        if (*line == '"')
            line++;
    } else {
        while (*line && *line != ' ' && *line != '\t')
            line++;
    }
    while (*line == ' ' || *line == '\t')
        line++;
    return line;
}

}  // namespace

// The loader calls with a stack aligned to 4 bytes only, which is all that
// the build assumes (-mpreferred-stack-boundary=2).
extern "C" void WinMainCRTStartup(void)
{
    int result = WinMain(GetModuleHandleA(0), 0, ArgumentsOf(GetCommandLineA()), SW_SHOWDEFAULT);
    ExitProcess((UINT)result);
}

// The program's start without a C run-time library: the loader jumps here
// (the linker's entry point), and the process ends with WinMain's result.
// Nothing needs constructing first: the program has no static constructors.
// WinMain reads no command line, so it is handed an empty one.
#include <windows.h>

// The loader calls with a stack aligned to 4 bytes only, which is all that
// the build assumes (-mpreferred-stack-boundary=2).
extern "C" void WinMainCRTStartup(void)
{
    static char noArguments[] = "";
    ExitProcess((UINT)WinMain(GetModuleHandleA(0), 0, noArguments, SW_SHOWDEFAULT));
}

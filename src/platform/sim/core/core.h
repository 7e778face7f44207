// The simulated machine's core, beneath every service: the loaded machine's
// settings, the call record and the faults, and the text helpers they share.
#ifndef PLATFORM_SIM_CORE_CORE_H
#define PLATFORM_SIM_CORE_CORE_H

#include <map>
#include <set>
#include <string>
#include <vector>

#include "platform.h"

// ------------------------------------------------------------- settings

// How another program holds a file marked busy in machine.ini: as a module
// it has loaded (an EXE or DLL, Explorer's shell extension), or open for
// its reads and writes.
enum class SimBusyKind { Module, Open };

struct SimSettings {
    bool loaded = false;
    std::string dir;                       // the machine folder
    DWORD build = 0x040A08AE;              // Windows 98 SE, 4.10.2222
    bool csdSet = false;
    std::string csdVersion;
    std::string windowsDir = "C:\\WINDOWS";
    std::string systemDir = "C:\\WINDOWS\\SYSTEM";
    std::string currentDir = "C:\\";
    bool versionFails = false;
    bool systemDirFails = false;
    bool windowsDirFails = false;
    bool moreDataPartial = false;          // see RegQueryValueExA
    long stopAfterCall = 0;                // the run ends after this call (0: never)
    std::map<std::string, std::string> attributes;  // folded path -> "RHS"
    std::map<std::string, SimBusyKind> busy;        // folded path -> how it is held
};

SimSettings &SimMachine();

// The release the build reports: Windows 95 (4.0) up to build 1216 of the
// low word, Windows 98 (4.10) above; where their recorded results differ,
// the simulated machine follows the build.
inline bool SimIsWindows95()
{
    return (SimMachine().build & 0xFFFF) <= 1216;
}

// ------------------------------------------------------------- folding

// Upper case of a code page 1252 byte, as the registry, VFAT and the
// profile compare names.
inline unsigned char SimFoldByte(unsigned char c)
{
    if (c >= 'a' && c <= 'z')
        return (unsigned char)(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7)
        return (unsigned char)(c - 32);
    if (c == 0x9A || c == 0x9C || c == 0x9E)
        return (unsigned char)(c - 16);
    if (c == 0xFF)
        return 0x9F;
    return c;
}

std::string SimFold(const std::string &text);
bool SimSameText(const std::string &a, const std::string &b);

// The text without the blanks at either end.
std::string SimTrim(const std::string &text, const char *blanks = " \t\r");

// Raw host file access for the machine's own files.
bool SimReadHostFile(const std::string &hostPath, std::string *bytes);
bool SimWriteHostFile(const std::string &hostPath, const std::string &bytes);

// ---------------------------------------------------------- call record

// Every service starts with SimFault: it counts the call and says whether
// this occurrence must fail (then *error holds the error to report).
bool SimFault(const char *name, long *error);

// Every service ends with SimRecord, with its arguments as text.
void SimRecord(const char *name, std::vector<std::string> args, long result);

// Argument text helpers for SimRecord: a string or "NULL"; a predefined key
// by name, any other handle as "hkey#N"; a number in decimal.
std::string SimArgText(const char *text);
std::string SimKeyText(HKEY key);
std::string SimNumberText(long long n);

// Sets the error that a failed Boolean call leaves for the caller.
void SimSetLastError(long error);
long SimLastError();

// Ends a Boolean service: TRUE when error is ERROR_SUCCESS, else FALSE with
// error left as the last error; the call is recorded either way.
BOOL SimBooleanResult(const char *name, const std::vector<std::string> &args, long error);

// ExitWindowsEx on the simulated machine counts a restart request here,
// and runs what a layer above asked to run at a shutdown (the profile
// cache's write-out).
void SimNoteRestart();
void SimOnRestart(void (*action)());

// Forgets the call record, the call counts, the faults, the last error and
// the restart requests.
void SimResetRecord();

#endif

// The removal engine: RunUninstall and its phases, one file each.
#ifndef ENGINE_ENGINE_H
#define ENGINE_ENGINE_H

#include "platform.h"

#define DRIVER_NAME "TINTAVERA Brascora Duneva 10"
#define PRODUCT_NAME "TINTAVERA Duneva 10"

// Paths, registry names and registry values.
#define TEXT_SIZE 260
// Width of an entry of the file-name tables: a name of up to 19 characters,
// padded with NUL bytes; an empty entry ends the table.
#define FILE_NAME_WIDTH 20

// What the sequence shares with its later phases. Filled by RunUninstall;
// the directory buffers hold the empty string when a query failed.
struct UninstallRun {
    OSVERSIONINFOA version;
    char systemDir[TEXT_SIZE];
    char windowsDir[TEXT_SIZE];
    // Bit i: g_driverFiles[i] could not be deleted and is still there, in
    // use: the restart list names it too.
    DWORD keptDriverFiles;
};

// The whole removal, once per program run.
void RunUninstall();

// Open above build 950: the low 16 bits of the build number decide.
BOOL BuildGateOpen(const OSVERSIONINFOA &version);

// Appends text to dst, which holds size bytes, only when all of it fits
// with its NUL; returns FALSE (and leaves dst alone) when it would not.
BOOL AppendText(char *dst, int size, const char *text);

// Whether text equals name, letters compared without regard to case as
// the profile and the registry compare names (name is ASCII).
BOOL SameName(const char *text, const char *name);

inline char LowerAscii(int c)
{
    return (char)(c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c);
}

// Copies text into dst when it fits; returns FALSE otherwise.
BOOL CopyText(char *dst, int size, const char *text);

// first, between and last into dst when all of it fits; FALSE otherwise.
BOOL JoinText(char *dst, int size, const char *first, const char *between, const char *last);

// directory, "\" and name into path (TEXT_SIZE bytes); FALSE when they
// would not fit, or directory is empty.
BOOL ComposePath(char *path, const char *directory, const char *name);

// Results of ReadValueText.
enum {
    VALUE_TEXT_READ = 0,     // the value's text, terminated inside the buffer
    VALUE_TEXT_MISSING = 1,  // not read (no such value, or refused): empty text
    VALUE_TEXT_TOO_LONG = 2  // larger than the buffer: empty text
};

// Reads a registry value of any type as text into text[0..size-1].
int ReadValueText(HKEY key, LPCSTR valueName, char *text, int size);

// The number of names before the first empty entry of a file table.
int CountFileTable(const char (*table)[FILE_NAME_WIDTH]);

// ---------------------------------------------------------- the phases
// In the order RunUninstall runs them, after the fixed keys.

// Deletes the numbered instance keys that describe the printer.
void ScanDeviceInstances();

// Writes basePath and the key name of number ("\0007", "\0042", "\1234",
// "12345") into name, which holds size bytes; FALSE (and name empty) when it
// would not fit.
BOOL BuildInstanceKeyName(char *name, int size, const char *basePath, int number);

// Removes the printer's WIN.INI keys and per-port sections; a default
// printer that named it names the first printer left, or none.
void RemoveProfileEntries();

// Deletes the Start-menu shortcuts and their folder.
void RemoveProgramGroup();

// Deletes the driver files at once from the system directory; keeps those
// still in use for the restart list.
extern const char g_driverFiles[][FILE_NAME_WIDTH];
void DeleteDriverFiles(UninstallRun &run);

// Deletes the driver's INF file: by its contents up to build 950 (the marker
// word and the printer's name), by its name above.
void RemoveSetupInformation(const UninstallRun &run);

// Deletes every file of directory matching pattern whose text holds word as
// a whole word, and also text anywhere (both case-sensitive).
void DeleteFilesContaining(const char *directory, const char *pattern, const char *word, const char *text);

// Lists the remaining driver files, and those kept, for deletion at the next
// start: in WININIT.INI, and for the NT family through MoveFileExA.
extern const char g_restartFiles[][FILE_NAME_WIDTH];
void ScheduleRestartDeletions(const UninstallRun &run);

#endif

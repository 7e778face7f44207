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
};

// The whole removal, once per program run.
void RunUninstall();

// Open above build 950: the low 16 bits of the build number decide.
BOOL BuildGateOpen(const OSVERSIONINFOA &version);

// Appends text to dst, which holds size bytes, only when all of it fits
// with its NUL; returns FALSE (and leaves dst alone) when it would not.
BOOL AppendText(char *dst, int size, const char *text);

// Copies text into dst when it fits; returns FALSE otherwise.
BOOL CopyText(char *dst, int size, const char *text);

#endif

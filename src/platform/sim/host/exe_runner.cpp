// br32unin-sim --exe: BR32UNIN.EXE itself on the simulated machine, its
// 80386 code run by the Unicorn CPU emulator inside this process. What only
// the shipped file can get wrong shows here on every host: the stdcall
// convention (each service pops its own arguments, and so must the dialog
// procedures that the dialog manager calls back), the entry point, the
// import table as a loader binds it, the templates as the file carries them.
//
// The file is loaded at its image base, as Windows 95 loads an executable;
// it carries no relocations, so one that would have to move is refused.
// Every import is bound by DLL and name to a service of the simulated
// machine before any instruction runs: to the services of platform.h, and
// for the calls that only our Win32 layer makes (the file calls beneath the
// text streams, the heap, the module and command-line queries, RegEnumKeyA,
// ExitProcess) to a thin Win32 face over the machine's own services here.
// A call of an import lands on a thunk whose "ret n" pops the arguments the
// service takes; a hook on the thunk runs the service first, with strings,
// buffers and structures copied in and out within the sizes the call
// states. A guest pointer outside the image, the stack or the heap is an
// error that names the call. Machine handles reach the program as 32-bit
// values; the predefined keys are sign-extended again on their way back.
// DialogBoxParamA takes the program's own templates, and calls its dialog
// procedure back in a nested emulation, which must return with its 16 bytes
// of arguments popped. A run is bounded by a count of basic blocks.
//
// Known limits: GetProcAddress finds nothing (Windows 9x's NT-only
// functions are never looked up on this machine, a 9x one); a timer
// procedure is refused; the emulator runs instructions newer than the 80386
// too, so the processor floor rests on tests/pe/check_exe.py.
#include "host/exe_runner.h"

#ifndef BR_HAVE_UNICORN

bool SimExeRunnerAvailable(std::string *error)
{
    *error = "--exe needs the CPU emulator: install the Debian package libunicorn-dev and build again";
    return false;
}

bool SimRunExe(const std::string &, bool, int *, std::string *error)
{
    return SimExeRunnerAvailable(error);
}

#else

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <unicorn/unicorn.h>
#include <vector>

#include "core/core.h"
#include "platform.h"
#include "platform_io.h"
#include "registry/registry.h"
#include "sim.h"

namespace {

// The guest's memory besides its image.
const uint32_t STACK_TOP = 0x08000000;
const uint32_t HEAP_BASE = 0x10000000, HEAP_SIZE = 64u << 20;
const uint32_t THUNK_BASE = 0x7FFE0000, THUNK_SIZE = 0x10000, THUNK_STRIDE = 4;
const uint32_t RETURN_SENTINEL = THUNK_BASE + THUNK_SIZE - 16;
const uint32_t MODULE_BASE = 0x7FF00000;  // handles of the system DLLs
const uint64_t MAX_BLOCKS = 200000000;    // a runaway program stops here
const uint32_t MAX_STRING = 1u << 20;

struct Runner;

// A service of the simulated machine as the program imports it.
struct Service {
    const char *dll;
    const char *name;
    int args;  // 4-byte arguments it pops
    uint32_t (*serve)(Runner &, const uint32_t *);
};

struct Region {
    uint32_t base, size;
};

struct GuestFile {
    FILEIO *file;
    uint32_t position;
};

struct Runner {
    uc_engine *uc = nullptr;
    std::vector<Region> regions;
    std::vector<const Service *> thunks;
    std::string error;
    bool exited = false;
    int exitCode = 0;
    bool trace = false;
    uint64_t blocks = 0;
    uint32_t imageBase = 0, commandLine = 0;
    std::map<uint32_t, uint32_t> heapBlocks;  // address -> size
    std::map<uint32_t, GuestFile> files;
    uint32_t nextFile = 0x100;
    std::vector<uint32_t> dialogProcs;  // the guest procedure of each open dialog
    const char *call = "";              // the service being served, for errors

    bool Failed() const { return !error.empty(); }

    // Keeps the first error, and stops the emulation that is running.
    __attribute__((format(printf, 2, 3))) void Fail(const char *format, ...)
    {
        if (error.empty()) {
            char text[256];
            va_list args;
            va_start(args, format);
            std::vsnprintf(text, sizeof text, format, args);
            va_end(args);
            error = text;
        }
        uc_emu_stop(uc);
    }

    bool Inside(uint32_t p, uint32_t n) const
    {
        for (const Region &r : regions)
            if (p >= r.base && p - r.base <= r.size && n <= r.size - (p - r.base))
                return true;
        return false;
    }

    bool Check(uint32_t p, uint32_t n, int arg)
    {
        if (Inside(p, n))
            return true;
        Fail("%s: argument %d, 0x%08X (%u bytes), is outside the program's memory", call, arg, p, n);
        return false;
    }

    bool Read(uint32_t p, void *out, uint32_t n, int arg)
    {
        return Check(p, n, arg) && uc_mem_read(uc, p, out, n) == UC_ERR_OK;
    }

    bool Write(uint32_t p, const void *data, uint32_t n, int arg)
    {
        return Check(p, n, arg) && uc_mem_write(uc, p, data, n) == UC_ERR_OK;
    }

    bool Write32(uint32_t p, uint32_t value, int arg) { return Write(p, &value, 4, arg); }

    // A NUL-terminated string; a null pointer is "no string" when nullable.
    bool Str(uint32_t p, std::string *out, int arg, bool nullable = false)
    {
        out->clear();
        if (p == 0 && nullable)
            return true;
        for (uint32_t i = 0; i < MAX_STRING; i++) {
            char c;
            if (!Read(p + i, &c, 1, arg))
                return false;
            if (c == 0)
                return true;
            out->push_back(c);
        }
        Fail("%s: argument %d is not a string that ends", call, arg);
        return false;
    }

    // An out-buffer: the guest's bytes in, the service's back out.
    bool In(uint32_t p, std::vector<char> *buffer, uint32_t n, int arg)
    {
        buffer->assign(n + 1, 0);
        return Read(p, buffer->data(), n, arg);
    }

    GuestFile *File(uint32_t handle)
    {
        auto found = files.find(handle);
        return found == files.end() ? nullptr : &found->second;
    }

    uint32_t CallGuest(uint32_t proc, const uint32_t args[4]);
};

Runner *g_runner;

HKEY Key(uint32_t guest) { return (HKEY)(intptr_t)(int32_t)guest; }
HWND Window(uint32_t guest) { return (HWND)(uintptr_t)guest; }
HANDLE Search(uint32_t guest) { return guest == 0xFFFFFFFFu ? INVALID_HANDLE_VALUE : (HANDLE)(uintptr_t)guest; }
uint32_t Guest(const void *handle) { return (uint32_t)(uintptr_t)handle; }
const char *OrNull(const std::string &text, uint32_t pointer) { return pointer ? text.c_str() : nullptr; }

// The dialog manager's call of a dialog procedure, into the emulator.
INT_PTR CALLBACK GuestDialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
{
    Runner &r = *g_runner;
    if (r.Failed() || r.exited || r.dialogProcs.empty()) {
        EndDialog(hwnd, -1);
        return 0;
    }
    const uint32_t args[4] = {Guest(hwnd), message, (uint32_t)wParam, (uint32_t)lParam};
    uint32_t result = r.CallGuest(r.dialogProcs.back(), args);
    if (r.Failed() || r.exited)
        EndDialog(hwnd, -1);
    return (INT_PTR)(int32_t)result;
}

uint32_t Runner::CallGuest(uint32_t proc, const uint32_t args[4])
{
    uc_context *saved = nullptr;
    uc_context_alloc(uc, &saved);
    uc_context_save(uc, saved);
    uint32_t esp, eax = 0;
    uc_reg_read(uc, UC_X86_REG_ESP, &esp);
    const uint32_t frame[5] = {RETURN_SENTINEL, args[0], args[1], args[2], args[3]};
    uint32_t top = esp - sizeof frame;
    uc_mem_write(uc, top, frame, sizeof frame);
    uc_reg_write(uc, UC_X86_REG_ESP, &top);
    uc_err e = uc_emu_start(uc, proc, RETURN_SENTINEL, 0, 0);
    uint32_t after, eip;
    uc_reg_read(uc, UC_X86_REG_ESP, &after);
    uc_reg_read(uc, UC_X86_REG_EIP, &eip);
    uc_reg_read(uc, UC_X86_REG_EAX, &eax);
    if (e != UC_ERR_OK && !Failed())
        Fail("the dialog procedure at 0x%08X stopped at 0x%08X: %s", proc, eip, uc_strerror(e));
    else if (!Failed() && !exited && after != esp)
        Fail("the dialog procedure at 0x%08X left the stack unbalanced: after message 0x%04X "
             "it returned with ESP off by %d bytes (it must pop its 16 bytes of arguments)",
             proc, args[1], (int)(after - esp));
    uc_context_restore(uc, saved);
    uc_context_free(saved);
    return eax;
}

// ---------------------------------------------------------- the services

uint32_t Bool(BOOL value) { return value ? 1 : 0; }

uint32_t DirectoryQuery(Runner &r, const uint32_t *a, UINT (*query)(LPSTR, UINT))
{
    std::vector<char> out;
    if (!r.In(a[0], &out, a[1], 1))
        return 0;
    UINT n = query(out.data(), a[1]);
    r.Write(a[0], out.data(), a[1], 1);
    return n;
}

const Service g_services[] = {
    // advapi32
    {"advapi32.dll", "RegCloseKey", 1, [](Runner &, const uint32_t *a) { return (uint32_t)RegCloseKey(Key(a[0])); }},
    {"advapi32.dll", "RegDeleteKeyA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string sub;
         return r.Str(a[1], &sub, 2, true) ? (uint32_t)RegDeleteKeyA(Key(a[0]), OrNull(sub, a[1])) : 0;
     }},
    {"advapi32.dll", "RegEnumKeyA", 4, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::vector<char> name;
         if (!r.In(a[2], &name, a[3], 3))
             return ERROR_INVALID_PARAMETER;
         LONG result = RegEnumKeyA(Key(a[0]), a[1], name.data(), a[3]);
         r.Write(a[2], name.data(), a[3], 3);
         return (uint32_t)result;
     }},
    {"advapi32.dll", "RegFlushKey", 1, [](Runner &, const uint32_t *a) { return (uint32_t)RegFlushKey(Key(a[0])); }},
    {"advapi32.dll", "RegOpenKeyExA", 5, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string sub;
         if (!r.Str(a[1], &sub, 2, true) || !r.Check(a[4], 4, 5))
             return ERROR_INVALID_PARAMETER;
         HKEY key = nullptr;
         LONG result = RegOpenKeyExA(Key(a[0]), OrNull(sub, a[1]), a[2], a[3], &key);
         r.Write32(a[4], Guest(key), 5);
         return (uint32_t)result;
     }},
    {"advapi32.dll", "RegQueryValueExA", 6, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string name;
         DWORD type = 0, size = 0;
         if (!r.Str(a[1], &name, 2, true) || (a[3] && !r.Read(a[3], &type, 4, 4)) ||
             (a[5] && !r.Read(a[5], &size, 4, 6)))
             return ERROR_INVALID_PARAMETER;
         std::vector<char> data;
         if (a[4] && !r.In(a[4], &data, size, 5))
             return ERROR_INVALID_PARAMETER;
         LONG result = RegQueryValueExA(Key(a[0]), OrNull(name, a[1]), nullptr, a[3] ? &type : nullptr,
                                        a[4] ? (LPBYTE)data.data() : nullptr, a[5] ? &size : nullptr);
         if (a[4])
             r.Write(a[4], data.data(), (uint32_t)data.size() - 1, 5);
         if (a[3])
             r.Write32(a[3], type, 4);
         if (a[5])
             r.Write32(a[5], size, 6);
         return (uint32_t)result;
     }},
    {"advapi32.dll", "RegSetValueExA", 6, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string name, text;
         std::vector<char> data;
         if (!r.Str(a[1], &name, 2, true) || (a[4] && !r.In(a[4], &data, a[5], 5)))
             return ERROR_INVALID_PARAMETER;
         // A string is read up to its NUL, past the size given if need be,
         // as the service reads it.
         if (a[4] && a[3] == REG_SZ && std::memchr(data.data(), 0, a[5]) == nullptr) {
             if (!r.Str(a[4], &text, 5))
                 return ERROR_INVALID_PARAMETER;
             data.assign(text.begin(), text.end());
             data.push_back(0);
         }
         return (uint32_t)RegSetValueExA(Key(a[0]), OrNull(name, a[1]), a[2], a[3],
                                         a[4] ? (const BYTE *)data.data() : nullptr, a[5]);
     }},
    {"advapi32.dll", "RegDeleteValueA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string name;
         if (!r.Str(a[1], &name, 2, true))
             return ERROR_INVALID_PARAMETER;
         return (uint32_t)RegDeleteValueA(Key(a[0]), OrNull(name, a[1]));
     }},
    // comctl32
    {"comctl32.dll", "InitCommonControls", 0, [](Runner &, const uint32_t *) -> uint32_t {
         InitCommonControls();
         return 0;
     }},
    // kernel32: the file calls beneath the text streams, over the drives
    {"kernel32.dll", "CreateFileA", 7, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string path;
         if (!r.Str(a[0], &path, 1))
             return 0xFFFFFFFF;
         // OPEN_EXISTING for reading, OPEN_ALWAYS for "a+": what the streams ask.
         FILEIO *file = a[4] == 4 ? FileIoOpen(path.c_str(), FILEIO_APPEND)
                        : a[4] == 3 && (a[1] & 0x40000000) == 0 ? FileIoOpen(path.c_str(), FILEIO_READ)
                                                                : nullptr;
         if (!file)
             return 0xFFFFFFFF;
         uint32_t handle = r.nextFile;
         r.nextFile += 4;
         r.files[handle] = GuestFile{file, 0};
         return handle;
     }},
    {"kernel32.dll", "ReadFile", 5, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         if (!f || !r.Check(a[1], a[2], 2) || (a[3] && !r.Check(a[3], 4, 4)) ||
             FileIoSeek(f->file, f->position) != 0)
             return 0;
         std::vector<char> data(a[2] + 1);
         long got = FileIoRead(f->file, data.data(), a[2]);
         if (got < 0)
             return 0;
         r.Write(a[1], data.data(), (uint32_t)got, 2);
         f->position += (uint32_t)got;
         if (a[3])
             r.Write32(a[3], (uint32_t)got, 4);
         return 1;
     }},
    {"kernel32.dll", "WriteFile", 5, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         std::vector<char> data;
         if (!f || !r.In(a[1], &data, a[2], 2) || (a[3] && !r.Check(a[3], 4, 4)))
             return 0;
         long written = FileIoWriteAtEnd(f->file, data.data(), a[2]);
         if (written < 0)
             return 0;
         long size = FileIoSize(f->file);
         f->position = size < 0 ? f->position : (uint32_t)size;
         if (a[3])
             r.Write32(a[3], (uint32_t)written, 4);
         return 1;
     }},
    {"kernel32.dll", "SetFilePointer", 4, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         if (!f || a[2] != 0 || a[3] > 2)
             return 0xFFFFFFFF;
         long size = a[3] == 2 ? FileIoSize(f->file) : 0;
         if (size < 0)
             return 0xFFFFFFFF;
         uint32_t from = a[3] == 0 ? 0 : a[3] == 1 ? f->position : (uint32_t)size;
         f->position = from + a[1];
         return f->position;
     }},
    {"kernel32.dll", "SetEndOfFile", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         return Bool(f && FileIoTruncate(f->file, f->position) == 0);
     }},
    {"kernel32.dll", "GetFileSize", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         long size = f ? FileIoSize(f->file) : -1;
         if (a[1] && !r.Write32(a[1], 0, 2))
             return 0xFFFFFFFF;
         return size < 0 ? 0xFFFFFFFF : (uint32_t)size;
     }},
    {"kernel32.dll", "FlushFileBuffers", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         return Bool(f && FileIoFlush(f->file) == 0);
     }},
    {"kernel32.dll", "CloseHandle", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         GuestFile *f = r.File(a[0]);
         if (!f)
             return 0;
         int closed = FileIoClose(f->file);
         r.files.erase(a[0]);
         return Bool(closed == 0);
     }},
    // kernel32: the heap, inside the guest's memory
    {"kernel32.dll", "GetProcessHeap", 0, [](Runner &, const uint32_t *) { return HEAP_BASE; }},
    {"kernel32.dll", "HeapAlloc", 3, [](Runner &r, const uint32_t *a) -> uint32_t {
         if (a[0] != HEAP_BASE || a[2] > HEAP_SIZE - 16)
             return 0;
         uint32_t size = (a[2] + 15) & ~15u, at = HEAP_BASE;
         for (const auto &block : r.heapBlocks) {  // first fit, in address order
             if (block.first >= at && block.first - at >= size)
                 break;
             at = std::max(at, block.first + ((block.second + 15) & ~15u));
         }
         if (at - HEAP_BASE > HEAP_SIZE - size)
             return 0;
         r.heapBlocks[at] = a[2];
         if (a[1] & 8) {  // HEAP_ZERO_MEMORY
             std::vector<char> zero(a[2]);
             uc_mem_write(r.uc, at, zero.data(), a[2]);
         }
         return at;
     }},
    {"kernel32.dll", "HeapFree", 3, [](Runner &r, const uint32_t *a) -> uint32_t {
         return Bool(a[0] == HEAP_BASE && r.heapBlocks.erase(a[2]) == 1);
     }},
    // kernel32: the process
    {"kernel32.dll", "GetModuleHandleA", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         static const char *const dlls[] = {"kernel32.dll", "user32.dll", "advapi32.dll", "comctl32.dll"};
         std::string name;
         if (!r.Str(a[0], &name, 1, true))
             return 0;
         if (a[0] == 0)
             return r.imageBase;
         for (uint32_t i = 0; i < 4; i++)
             if (SimSameText(name, dlls[i]))
                 return MODULE_BASE + 0x10000 * i;
         return 0;
     }},
    {"kernel32.dll", "GetProcAddress", 2, [](Runner &, const uint32_t *) -> uint32_t { return 0; }},
    {"kernel32.dll", "GetCommandLineA", 0, [](Runner &r, const uint32_t *) { return r.commandLine; }},
    {"kernel32.dll", "GetCurrentProcess", 0, [](Runner &, const uint32_t *) -> uint32_t { return 0xFFFFFFFF; }},
    {"kernel32.dll", "ExitProcess", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         r.exited = true;
         r.exitCode = (int)a[0];
         uc_emu_stop(r.uc);
         return 0;
     }},
    // kernel32: the machine's services
    {"kernel32.dll", "GetProfileStringA", 5, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string section, key, fallback;
         std::vector<char> out;
         if (!r.Str(a[0], &section, 1, true) || !r.Str(a[1], &key, 2, true) || !r.Str(a[2], &fallback, 3, true) ||
             !r.In(a[3], &out, a[4], 4))
             return 0;
         DWORD n = GetProfileStringA(OrNull(section, a[0]), OrNull(key, a[1]), OrNull(fallback, a[2]), out.data(), a[4]);
         r.Write(a[3], out.data(), a[4], 4);
         return n;
     }},
    {"kernel32.dll", "WriteProfileStringA", 3, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string section, key, value;
         if (!r.Str(a[0], &section, 1, true) || !r.Str(a[1], &key, 2, true) || !r.Str(a[2], &value, 3, true))
             return 0;
         return Bool(WriteProfileStringA(OrNull(section, a[0]), OrNull(key, a[1]), OrNull(value, a[2])));
     }},
    {"kernel32.dll", "GetLastError", 0, [](Runner &, const uint32_t *) -> uint32_t { return GetLastError(); }},
    {"kernel32.dll", "WritePrivateProfileStringA", 4, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string section, key, value, file;
         if (!r.Str(a[0], &section, 1, true) || !r.Str(a[1], &key, 2, true) || !r.Str(a[2], &value, 3, true) ||
             !r.Str(a[3], &file, 4, true))
             return 0;
         return Bool(WritePrivateProfileStringA(OrNull(section, a[0]), OrNull(key, a[1]), OrNull(value, a[2]),
                                                OrNull(file, a[3])));
     }},
    {"kernel32.dll", "GetSystemDirectoryA", 2, [](Runner &r, const uint32_t *a) {
         return DirectoryQuery(r, a, GetSystemDirectoryA);
     }},
    {"kernel32.dll", "GetWindowsDirectoryA", 2, [](Runner &r, const uint32_t *a) {
         return DirectoryQuery(r, a, GetWindowsDirectoryA);
     }},
    {"kernel32.dll", "GetVersionExA", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         OSVERSIONINFOA info;
         static_assert(sizeof info == 148, "OSVERSIONINFOA as Win32 lays it out");
         if (!r.Read(a[0], &info, sizeof info, 1))
             return 0;
         BOOL ok = GetVersionExA(&info);
         r.Write(a[0], &info, sizeof info, 1);
         return Bool(ok);
     }},
    {"kernel32.dll", "DeleteFileA", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string path;
         return r.Str(a[0], &path, 1) ? Bool(DeleteFileA(path.c_str())) : 0;
     }},
    {"kernel32.dll", "RemoveDirectoryA", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string path;
         return r.Str(a[0], &path, 1) ? Bool(RemoveDirectoryA(path.c_str())) : 0;
     }},
    {"kernel32.dll", "GetFileAttributesA", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string path;
         return r.Str(a[0], &path, 1) ? GetFileAttributesA(path.c_str()) : INVALID_FILE_ATTRIBUTES;
     }},
    {"kernel32.dll", "MoveFileA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string from, to;
         return r.Str(a[0], &from, 1) && r.Str(a[1], &to, 2) ? Bool(MoveFileA(from.c_str(), to.c_str())) : 0;
     }},
    {"kernel32.dll", "FindFirstFileA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string pattern;
         WIN32_FIND_DATAA data;
         static_assert(sizeof data == 320, "WIN32_FIND_DATAA as Win32 lays it out");
         if (!r.Str(a[0], &pattern, 1) || !r.Read(a[1], &data, sizeof data, 2))
             return 0xFFFFFFFF;
         HANDLE search = FindFirstFileA(pattern.c_str(), &data);
         r.Write(a[1], &data, sizeof data, 2);
         return search == INVALID_HANDLE_VALUE ? 0xFFFFFFFF : Guest(search);
     }},
    {"kernel32.dll", "FindNextFileA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         WIN32_FIND_DATAA data;
         if (!r.Read(a[1], &data, sizeof data, 2))
             return 0;
         BOOL found = FindNextFileA(Search(a[0]), &data);
         r.Write(a[1], &data, sizeof data, 2);
         return Bool(found);
     }},
    {"kernel32.dll", "FindClose", 1, [](Runner &, const uint32_t *a) { return Bool(FindClose(Search(a[0]))); }},
    {"kernel32.dll", "lstrcpyA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string source;
         if (!r.Str(a[1], &source, 2))
             return 0;
         std::vector<char> copy(source.size() + 1);
         lstrcpyA(copy.data(), source.c_str());
         return r.Write(a[0], copy.data(), (uint32_t)copy.size(), 1) ? a[0] : 0;
     }},
    {"kernel32.dll", "lstrcatA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string text, tail;
         if (!r.Str(a[0], &text, 1) || !r.Str(a[1], &tail, 2))
             return 0;
         std::vector<char> joined(text.begin(), text.end());
         joined.resize(text.size() + tail.size() + 1);
         lstrcatA(joined.data(), tail.c_str());
         return r.Write(a[0], joined.data(), (uint32_t)joined.size(), 1) ? a[0] : 0;
     }},
    {"kernel32.dll", "lstrcmpA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string one, two;
         return r.Str(a[0], &one, 1) && r.Str(a[1], &two, 2) ? (uint32_t)lstrcmpA(one.c_str(), two.c_str()) : 0;
     }},
    {"kernel32.dll", "lstrlenA", 1, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string text;
         return r.Str(a[0], &text, 1) ? (uint32_t)lstrlenA(text.c_str()) : 0;
     }},
    // user32
    {"user32.dll", "DialogBoxParamA", 5, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string name;
         if (a[1] >= 0x10000 && !r.Str(a[1], &name, 2))
             return 0xFFFFFFFF;
         if (!r.Inside(a[3], 1)) {
             r.Check(a[3], 1, 4);
             return 0xFFFFFFFF;
         }
         r.dialogProcs.push_back(a[3]);
         INT_PTR result = DialogBoxParamA((HINSTANCE)(uintptr_t)a[0], a[1] >= 0x10000 ? name.c_str() : (LPCSTR)(uintptr_t)a[1],
                                          Window(a[2]), a[3] ? GuestDialogProc : nullptr, (LPARAM)(int32_t)a[4]);
         r.dialogProcs.pop_back();
         if (r.Failed())
             uc_emu_stop(r.uc);
         return (uint32_t)result;
     }},
    {"user32.dll", "EndDialog", 2, [](Runner &, const uint32_t *a) { return Bool(EndDialog(Window(a[0]), (INT_PTR)(int32_t)a[1])); }},
    {"user32.dll", "GetDlgItem", 2, [](Runner &, const uint32_t *a) { return Guest(GetDlgItem(Window(a[0]), (int)a[1])); }},
    {"user32.dll", "SetWindowTextA", 2, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string text;
         return r.Str(a[1], &text, 2) ? Bool(SetWindowTextA(Window(a[0]), text.c_str())) : 0;
     }},
    {"user32.dll", "SendMessageA", 4, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string text;
         if (a[1] == WM_SETTEXT) {  // the one message whose lParam is a pointer
             if (!r.Str(a[3], &text, 4))
                 return 0;
             return (uint32_t)SendMessageA(Window(a[0]), a[1], a[2], (LPARAM)text.c_str());
         }
         return (uint32_t)SendMessageA(Window(a[0]), a[1], (WPARAM)(int32_t)a[2], (LPARAM)(int32_t)a[3]);
     }},
    {"user32.dll", "SendMessageTimeoutA", 7, [](Runner &r, const uint32_t *a) -> uint32_t {
         // Only the broadcast of a changed profile section: its lParam names it.
         std::string section;
         if (a[1] != WM_WININICHANGE || !r.Str(a[3], &section, 4) || (a[6] && !r.Check(a[6], 4, 7)))
             return 0;
         UINT_PTR answer = 0;
         LRESULT result = SendMessageTimeoutA(a[0] == 0xFFFF ? HWND_BROADCAST : Window(a[0]), a[1],
                                              (WPARAM)(int32_t)a[2], (LPARAM)section.c_str(), a[4], a[5], &answer);
         if (a[6])
             r.Write32(a[6], (uint32_t)answer, 7);
         return (uint32_t)result;
     }},
    {"user32.dll", "PostMessageA", 4, [](Runner &, const uint32_t *a) {
         return Bool(PostMessageA(Window(a[0]), a[1], (WPARAM)(int32_t)a[2], (LPARAM)(int32_t)a[3]));
     }},
    {"user32.dll", "SetTimer", 4, [](Runner &r, const uint32_t *a) -> uint32_t {
         if (a[3]) {
             r.Fail("SetTimer: a timer procedure (0x%08X) is not served", a[3]);
             return 0;
         }
         return (uint32_t)SetTimer(Window(a[0]), a[1], a[2], nullptr);
     }},
    {"user32.dll", "KillTimer", 2, [](Runner &, const uint32_t *a) { return Bool(KillTimer(Window(a[0]), a[1])); }},
    {"user32.dll", "MessageBoxA", 4, [](Runner &r, const uint32_t *a) -> uint32_t {
         std::string text, caption;
         if (!r.Str(a[1], &text, 2, true) || !r.Str(a[2], &caption, 3, true))
             return 0;
         return (uint32_t)MessageBoxA(Window(a[0]), OrNull(text, a[1]), OrNull(caption, a[2]), a[3]);
     }},
    {"user32.dll", "ExitWindowsEx", 2, [](Runner &, const uint32_t *a) { return Bool(ExitWindowsEx(a[0], a[1])); }},
};

// ------------------------------------------------------------ the hooks

void OnThunk(uc_engine *uc, uint64_t address, uint32_t, void *data)
{
    Runner &r = *(Runner *)data;
    if (address == RETURN_SENTINEL)
        return;
    uint32_t index = (uint32_t)(address - THUNK_BASE) / THUNK_STRIDE;
    if ((address - THUNK_BASE) % THUNK_STRIDE != 0 || index >= r.thunks.size()) {
        r.Fail("a jump into the import thunks at 0x%08X", (uint32_t)address);
        return;
    }
    const Service &service = *r.thunks[index];
    uint32_t esp, args[8] = {0};
    uc_reg_read(uc, UC_X86_REG_ESP, &esp);
    r.call = service.name;
    if (!r.Read(esp + 4, args, 4 * service.args, 0))
        return;
    if (r.trace) {
        std::printf("  [exe] %s(", service.name);
        for (int i = 0; i < service.args; i++)
            std::printf("%s0x%X", i ? ", " : "", args[i]);
        std::printf(")\n");
    }
    uint32_t result = service.serve(r, args);
    uc_reg_write(uc, UC_X86_REG_EAX, &result);
    if (r.Failed())
        uc_emu_stop(uc);
}

void OnBlock(uc_engine *uc, uint64_t, uint32_t, void *data)
{
    Runner &r = *(Runner *)data;
    if (++r.blocks > MAX_BLOCKS) {
        uint32_t eip;
        uc_reg_read(uc, UC_X86_REG_EIP, &eip);
        r.Fail("a runaway program: more than %llu blocks run, the last at 0x%08X",
               (unsigned long long)MAX_BLOCKS, eip);
    }
}

bool OnInvalid(uc_engine *uc, uc_mem_type type, uint64_t address, int size, int64_t, void *data)
{
    Runner &r = *(Runner *)data;
    uint32_t eip;
    uc_reg_read(uc, UC_X86_REG_EIP, &eip);
    const char *what = type == UC_MEM_FETCH_UNMAPPED || type == UC_MEM_FETCH_PROT ? "ran"
                       : type == UC_MEM_WRITE_UNMAPPED || type == UC_MEM_WRITE_PROT ? "wrote"
                                                                                    : "read";
    char text[128];
    std::snprintf(text, sizeof text, "the program %s outside its memory: %d bytes at 0x%08X, at 0x%08X", what, size,
                  (uint32_t)address, eip);
    if (r.error.empty())
        r.error = text;
    return false;
}

// ------------------------------------------------------------- the file

uint32_t U16(const std::string &b, size_t at) { return at + 2 <= b.size() ? (uint8_t)b[at] | (uint8_t)b[at + 1] << 8 : 0; }
uint32_t U32(const std::string &b, size_t at) { return U16(b, at) | U16(b, at + 2) << 16; }

struct Image {
    uint32_t base = 0, size = 0, entry = 0, stack = 0;
    std::string bytes;  // the image as mapped, SizeOfImage bytes
    uint32_t imports = 0, resources = 0, relocations = 0;
};

bool Load(const std::string &file, Image *image, std::string *error)
{
    uint32_t pe = U32(file, 0x3C);
    if (file.compare(0, 2, "MZ") != 0 || pe + 0x78 > file.size() || file.compare(pe, 4, std::string("PE\0\0", 4)) != 0 ||
        U16(file, pe + 4) != 0x14C || U16(file, pe + 0x18) != 0x10B) {
        *error = "not a 32-bit x86 PE executable";
        return false;
    }
    uint32_t sections = U16(file, pe + 6), optional = pe + 0x18, table = optional + U16(file, pe + 0x14);
    image->entry = U32(file, optional + 0x10);
    image->base = U32(file, optional + 0x1C);
    image->size = (U32(file, optional + 0x38) + 0xFFF) & ~0xFFFu;
    uint32_t headers = U32(file, optional + 0x3C);
    image->stack = (U32(file, optional + 0x48) + 0xFFF) & ~0xFFFu;
    image->imports = U32(file, optional + 0x68);
    image->resources = U32(file, optional + 0x70);
    image->relocations = U32(file, optional + 0x88) ? U32(file, optional + 0x8C) : 0;
    if (image->size == 0 || image->size > 0x01000000 || image->stack == 0 || image->stack > 0x01000000 ||
        image->base < 0x10000 || image->base + image->size > STACK_TOP - image->stack || image->base % 0x10000) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "the image (0x%08X, 0x%X bytes, a stack of 0x%X) cannot be loaded at its base, and it carries no "
                      "relocations to move it", image->base, image->size, image->stack);
        *error = text;
        return false;
    }
    if (image->relocations) {
        *error = "the file carries relocations: a file that may need moving is not what Windows 95 loads at its base";
        return false;
    }
    image->bytes.assign(image->size, '\0');
    image->bytes.replace(0, std::min<size_t>(headers, file.size()), file, 0, std::min<size_t>(headers, file.size()));
    for (uint32_t i = 0; i < sections; i++) {
        size_t at = table + 40 * i;
        uint32_t virtualSize = U32(file, at + 8), address = U32(file, at + 12);
        uint32_t rawSize = std::min(U32(file, at + 16), virtualSize ? virtualSize : U32(file, at + 16));
        uint32_t raw = U32(file, at + 20);
        if (at + 40 > file.size() || address > image->size || rawSize > image->size - address || raw > file.size() ||
            rawSize > file.size() - raw) {
            *error = "section " + std::to_string(i + 1) + " lies outside the file or the image";
            return false;
        }
        image->bytes.replace(address, rawSize, file, raw, rawSize);
    }
    return true;
}

std::string CString(const std::string &b, uint32_t at)
{
    size_t end = at < b.size() ? b.find('\0', at) : std::string::npos;
    return end == std::string::npos ? "" : b.substr(at, end - at);
}

// Each import's thunk, bound before any instruction runs; the image's
// import address table then points at them.
bool Bind(Image *image, Runner *r, std::string *error)
{
    for (uint32_t d = image->imports; d && d + 20 <= image->size && U32(image->bytes, d + 12); d += 20) {
        std::string dll = CString(image->bytes, U32(image->bytes, d + 12));
        uint32_t names = U32(image->bytes, d) ? U32(image->bytes, d) : U32(image->bytes, d + 16);
        uint32_t slots = U32(image->bytes, d + 16);
        for (uint32_t i = 0;; i++) {
            uint32_t entry = U32(image->bytes, names + 4 * i);
            if (entry == 0)
                break;
            if (entry & 0x80000000u) {
                *error = "an import by ordinal from " + dll + " (" + std::to_string(entry & 0xFFFF) + "): not served";
                return false;
            }
            std::string name = CString(image->bytes, entry + 2);
            const Service *found = nullptr;
            for (const Service &s : g_services)
                if (SimSameText(dll, s.dll) && name == s.name)
                    found = &s;
            if (!found) {
                *error = "the import " + dll + "!" + name + " has no service on the simulated machine";
                return false;
            }
            uint32_t thunk = THUNK_BASE + THUNK_STRIDE * (uint32_t)r->thunks.size();
            r->thunks.push_back(found);
            if (slots + 4 * i + 4 > image->size) {
                *error = "the import table of " + dll + " lies outside the image";
                return false;
            }
            std::memcpy(&image->bytes[slots + 4 * i], &thunk, 4);
        }
    }
    return true;
}

// The named dialog templates of the resource section (RT_DIALOG).
std::vector<std::pair<std::string, std::string>> Dialogs(const Image &image)
{
    std::vector<std::pair<std::string, std::string>> found;
    const std::string &b = image.bytes;
    uint32_t root = image.resources;
    auto entries = [&](uint32_t dir) { return U16(b, root + dir + 12) + U16(b, root + dir + 14); };
    for (uint32_t i = 0; root && i < entries(0); i++) {
        uint32_t entry = root + 16 + 8 * i;
        if (U32(b, entry) != 5 || !(U32(b, entry + 4) & 0x80000000u))
            continue;
        uint32_t names = U32(b, entry + 4) & 0x7FFFFFFF;
        for (uint32_t j = 0; j < entries(names); j++) {
            uint32_t named = root + names + 16 + 8 * j;
            if (!(U32(b, named) & 0x80000000u) || !(U32(b, named + 4) & 0x80000000u))
                continue;
            uint32_t text = root + (U32(b, named) & 0x7FFFFFFF);
            std::string name;
            for (uint32_t k = 0; k < U16(b, text); k++)
                name += (char)U16(b, text + 2 + 2 * k);
            uint32_t languages = U32(b, named + 4) & 0x7FFFFFFF;
            if (entries(languages) == 0)
                continue;
            uint32_t data = root + U32(b, root + languages + 16 + 4);
            uint32_t rva = U32(b, data), size = U32(b, data + 4);
            if (rva <= b.size() && size <= b.size() - rva)
                found.push_back({name, b.substr(rva, size)});
        }
    }
    return found;
}

}  // namespace

bool SimExeRunnerAvailable(std::string *)
{
    return true;
}

bool SimRunExe(const std::string &path, bool trace, int *exitCode, std::string *error)
{
    std::ifstream in(path, std::ios::binary);
    std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!in.good() && !in.eof()) {
        *error = "cannot read " + path;
        return false;
    }
    Image image;
    Runner r;
    r.trace = trace;
    if (!Load(file, &image, error) || !Bind(&image, &r, error)) {
        *error = path + ": " + *error;
        return false;
    }
    if (uc_open(UC_ARCH_X86, UC_MODE_32, &r.uc) != UC_ERR_OK) {
        *error = "the CPU emulator cannot start";
        return false;
    }
    r.imageBase = image.base;
    r.regions = {{image.base, image.size}, {STACK_TOP - image.stack, image.stack}, {HEAP_BASE, HEAP_SIZE}};
    std::vector<char> thunks(THUNK_SIZE, (char)0xCC);
    for (size_t i = 0; i < r.thunks.size(); i++) {  // ret n: the callee pops
        uint16_t pop = (uint16_t)(4 * r.thunks[i]->args);
        thunks[THUNK_STRIDE * i] = (char)0xC2;
        std::memcpy(&thunks[THUNK_STRIDE * i + 1], &pop, 2);
    }
    uc_hook thunkHook, blockHook, invalidHook;
    bool mapped = uc_mem_map(r.uc, image.base, image.size, UC_PROT_ALL) == UC_ERR_OK &&
                  uc_mem_write(r.uc, image.base, image.bytes.data(), image.size) == UC_ERR_OK &&
                  uc_mem_map(r.uc, STACK_TOP - image.stack, image.stack, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
                  uc_mem_map(r.uc, HEAP_BASE, HEAP_SIZE, UC_PROT_READ | UC_PROT_WRITE) == UC_ERR_OK &&
                  uc_mem_map(r.uc, THUNK_BASE, THUNK_SIZE, UC_PROT_READ | UC_PROT_EXEC) == UC_ERR_OK &&
                  uc_mem_write(r.uc, THUNK_BASE, thunks.data(), THUNK_SIZE) == UC_ERR_OK &&
                  uc_hook_add(r.uc, &thunkHook, UC_HOOK_CODE, (void *)OnThunk, &r, THUNK_BASE,
                              THUNK_BASE + THUNK_SIZE - 1) == UC_ERR_OK &&
                  uc_hook_add(r.uc, &blockHook, UC_HOOK_BLOCK, (void *)OnBlock, &r, 1, 0) == UC_ERR_OK &&
                  uc_hook_add(r.uc, &invalidHook, UC_HOOK_MEM_INVALID, (void *)OnInvalid, &r, 1, 0) == UC_ERR_OK;
    // The command line, at the heap's start; the stack as the loader leaves
    // it, the entry point's return address our sentinel.
    const char commandLine[] = "BR32UNIN.EXE";
    r.commandLine = HEAP_BASE;
    r.heapBlocks[HEAP_BASE] = sizeof commandLine;
    uint32_t esp = STACK_TOP - 16;
    mapped = mapped && uc_mem_write(r.uc, HEAP_BASE, commandLine, sizeof commandLine) == UC_ERR_OK &&
             uc_mem_write(r.uc, esp, &RETURN_SENTINEL, 4) == UC_ERR_OK &&
             uc_reg_write(r.uc, UC_X86_REG_ESP, &esp) == UC_ERR_OK;
    if (!mapped) {
        uc_close(r.uc);
        *error = "the CPU emulator cannot map the program's memory";
        return false;
    }
    SimUseProgramDialogs(Dialogs(image));
    g_runner = &r;
    uc_err e = uc_emu_start(r.uc, image.base + image.entry, RETURN_SENTINEL, 0, 0);
    g_runner = nullptr;
    uint32_t eip = 0, eax = 0;
    uc_reg_read(r.uc, UC_X86_REG_EIP, &eip);
    uc_reg_read(r.uc, UC_X86_REG_EAX, &eax);
    uc_close(r.uc);
    for (auto &open : r.files)
        FileIoClose(open.second.file);
    if (!r.Failed() && e != UC_ERR_OK) {
        char text[128];
        std::snprintf(text, sizeof text, "the program stopped at 0x%08X: %s", eip, uc_strerror(e));
        r.error = text;
    }
    if (r.Failed()) {
        *error = path + ": " + r.error;
        return false;
    }
    if (trace)
        std::printf("  [exe] ExitProcess after %llu blocks of instructions\n", (unsigned long long)r.blocks);
    *exitCode = r.exited ? r.exitCode : (int)eax;
    return true;
}

#endif

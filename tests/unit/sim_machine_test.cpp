// machine.ini, the version and directory queries, the call record with its
// faults, and the snapshots that name what a run changed. (That a run changes
// the folder by exactly that is held byte for byte by the save's own tests
// and, on every cancelled machine, by tests/wine/differential.py.)
#include <cstdio>
#include <cstring>

#include "machine/snapshot.h"
#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"

namespace {

// The version record and the two directories as "build minor [csd] system
// windows", a failed query as "-".
std::string Queries()
{
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = 148;
    bool known = GetVersionExA(&info) && info.dwMajorVersion == 4 && info.dwPlatformId == 1;
    char version[32];
    std::snprintf(version, sizeof version, "%#lx %lu [", (unsigned long)info.dwBuildNumber,
                  (unsigned long)info.dwMinorVersion);
    std::string text = known ? version + std::string(info.szCSDVersion) + "]" : "-";
    for (UINT (*query)(LPSTR, UINT) : {GetSystemDirectoryA, GetWindowsDirectoryA}) {
        char dir[MAX_PATH + 1];
        std::memset(dir, '#', sizeof dir);
        UINT length = query(dir, MAX_PATH);
        text += " " + (length ? std::string(dir, length) + (dir[length] ? "<no NUL>" : "") : dir[0] == '#' ? "-" : "-<filled>");
        EXPECT_EQ('#', dir[MAX_PATH]) << "written past the size";
    }
    return text;
}

// The file written, its text, and the queries' answers or why the folder is
// refused (fuzz_regedit holds registry.reg's reader against random text).
TEST(SimMachine, QueriesFollowMachineIniAndAFolderItCannotReadIsRefused)
{
    const std::tuple<const char *, const char *, const char *> cases[] = {
        {"machine.ini", "", "0x40a08ae 10 [ A ] C:\\WINDOWS\\SYSTEM C:\\WINDOWS"},  // 98 SE, 4.10.2222
        {"machine.ini", "[Machine]\nBuild=1998\nWindowsDir=D:\\W98\n", "0x7ce 10 [] C:\\WINDOWS\\SYSTEM D:\\W98"},
        {"machine.ini", "[Machine]\nVersionFails=1\nSystemDirFails=yes\nSystemDir=C:\\S\n", "- - C:\\WINDOWS"},
        {"machine.ini", "[Machine]\nWindowsDirFails=true\nSystemDir=C:\\S\n", "0x40a08ae 10 [ A ] C:\\S -"},
        // A misspelt failure switch must not pass as a machine that does not fail.
        {"machine.ini", "[Machine]\nBulid=950\n", "machine.ini line 2: unknown key Bulid"},
        {"machine.ini", "[Machine]\nBuild=0x1FFFFFFFF\n", "machine.ini line 2: Build is not a 32-bit number: 0x1FFFFFFFF"},
        {"machine.ini", "[Machine]\nVersionFails=maybe\n", "machine.ini line 2: VersionFails is 0 or 1: maybe"},
        {"machine.ini", "; x\n[Drives]\n", "machine.ini line 2: unknown section [Drives]"},
        {"machine.ini", "[Busy]\nC:\\X.DLL\nC:\\Y.DLL=opne\n", "machine.ini line 3: a busy file is held as a module or open: opne"},
        {"registry.reg", "REGEDIT5\r\n", "registry.reg line 1: the file starts with REGEDIT4"},
        {"registry.reg", "REGEDIT4\r\n\r\n\"x\"=\"y\"\r\n", "registry.reg line 3: a value before the first key"},
        {"registry.reg", "REGEDIT4\r\n[HKEY_DYN_DATA\\K]\r\n", "registry.reg line 2: unknown root in [HKEY_DYN_DATA\\K]"},
        {"registry.reg", "REGEDIT4\r\n[-HKEY_LOCAL_MACHINE\\K]\r\n",
         "registry.reg line 2: key deletion lines are not part of a registry file"},
        {"registry.reg", "REGEDIT4\r\n[HKEY_LOCAL_MACHINE\\K]\r\n\"x\"=hex:1g\r\n",
         "registry.reg line 3: hex data is bytes in hex, separated by commas"},
    };
    for (const auto &[file, text, queries] : cases) {
        MachineBuilder m;
        std::ofstream(m.dir() + "/" + file, std::ios::binary) << text;
        std::string error;
        EXPECT_EQ(queries, SimLoadMachine(m.dir(), &error) ? Queries() : error) << text;
        EXPECT_FALSE(SimKeyExists("HKEY_LOCAL_MACHINE\\K")) << "a refused file leaves no keys";
    }
    // The record's size: 148 bytes on both releases, OSVERSIONINFOEXA's 156
    // on Windows 98 only; a refused size leaves the last error alone.
    const struct {
        const char *build;
        DWORD size;
        bool accepted;
        DWORD minor;
    } sizes[] = {{"2222", 148, true, 10}, {"2222", 156, true, 10}, {"2222", 152, false, 0},
                 {"950", 148, true, 0},   {"950", 156, false, 0},  {"1212", 156, false, 0}};
    for (const auto &v : sizes) {
        MachineBuilder m;
        ASSERT_TRUE(m.Set("Build", v.build).Load());
        struct {
            OSVERSIONINFOA info;
            char ex[8];
        } record;
        std::memset(&record, 0x55, sizeof record);
        record.info.dwOSVersionInfoSize = v.size;
        SimSetLastError(12345);
        EXPECT_EQ(v.accepted, GetVersionExA(&record.info) != 0) << v.build << " " << v.size;
        EXPECT_EQ(v.accepted ? v.minor : 0x55555555u, record.info.dwMinorVersion) << v.build << " " << v.size;
        EXPECT_EQ(v.accepted && v.size == 156 ? 0 : 0x55, record.ex[0]) << "the service-pack fields";
        EXPECT_EQ(12345, SimLastError()) << "the last error stays";
    }
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    char buffer[11] = "##########";
    EXPECT_EQ(11u, GetWindowsDirectoryA(buffer, 10)) << "the size needed";
    EXPECT_STREQ("##########", buffer) << "a short buffer stays untouched";
}

TEST(SimRecord, FaultsHitTheirServiceAndOccurrenceAndFailAsTheServiceDoes)
{
    MachineBuilder m;
    m.File("C:\\A.TXT", "a").File("C:\\B.TXT", "b").Registry("[HKEY_LOCAL_MACHINE\\K]\n");
    ASSERT_TRUE(m.Load());
    SimFailCall("DeleteFileA", 2, ERROR_SHARING_VIOLATION);
    SimFailCall("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
    SimFailCall("FindFirstFileA", 1, ERROR_NOT_ENOUGH_MEMORY);
    SimFailCall("FileIoOpen", 1, ERROR_ACCESS_DENIED);
    SimFailCall("PlatformAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_TRUE(DeleteFileA("C:\\A.TXT"));
    EXPECT_FALSE(DeleteFileA("C:\\B.TXT"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, SimLastError());
    EXPECT_TRUE(m.Exists("C:\\B.TXT")) << "a failed call changes nothing";
    HKEY key;
    for (int i = 0; i < 2; i++)
        EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, 1, &key)) << i;
    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\*", &data));
    EXPECT_EQ(nullptr, FileIoOpen("C:\\new.txt", FILEIO_APPEND));
    EXPECT_EQ(nullptr, PlatformAlloc(52000));
    EXPECT_EQ("DeleteFileA(C:\\A.TXT) = 1\nDeleteFileA(C:\\B.TXT) = 0\n", CallsOf("DeleteFileA"));

    // Counts start again with the record; faults stay until cleared.
    SimClearCalls();
    EXPECT_FALSE(DeleteFileA("C:\\A.TXT"));  // gone already
    EXPECT_FALSE(DeleteFileA("C:\\B.TXT"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, SimLastError()) << "the second call since the clear";
    SimClearFaults();
    EXPECT_TRUE(DeleteFileA("C:\\B.TXT"));
}

TEST(SimRecord, RecordsOnlyWhileAMachineIsLoaded)
{
    {
        MachineBuilder m;
        ASSERT_TRUE(m.Load());
        SimFailCall("lstrlenA", 0, 7);
        EXPECT_EQ(7, lstrlenA("abc")) << "a fault answers with the error given";
        EXPECT_EQ(1u, SimCalls().size());
    }
    EXPECT_EQ(3, lstrlenA("abc")) << "unloading forgets the faults";
    EXPECT_EQ(0u, SimCalls().size()) << "and the record, and records nothing more";
}

// The phase tests see what a run removes; here what only an edit behind the
// machine's back does, and lines appended after a 0x1A.
TEST(SimSnapshot, NamesEachChangeOnceAtTheTopOfWhatWent)
{
    MachineBuilder m;
    m.Registry("[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001\\Sub]\n"
               "[HKEY_USERS\\.DEFAULT\\Shell Folders]\n\"Programs\"=\"C:\\\\P\"\n\"Keep\"=\"k\"\n")
        .File("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nNUL=C:\\X\r\n\x1A");
    ASSERT_TRUE(m.Load());
    SimSnapshot before = SimTakeSnapshot();
    EXPECT_TRUE(SimCompareSnapshots(before, SimTakeSnapshot()).Empty());
    EXPECT_EQ(0u, SimCalls().size()) << "a snapshot calls no service";
    m.Registry("[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001\\Sub]\n"
               "[HKEY_USERS\\.DEFAULT\\Shell Folders]\n\"Keep\"=\"K\"\n\"New\"=dword:1\n");
    ASSERT_TRUE(m.Load());
    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0001");
    FILEIO *file = FileIoOpen("C:\\WINDOWS\\WININIT.INI", FILEIO_APPEND);
    ASSERT_NE(nullptr, file);
    FileIoWriteAtEnd(file, "NULL=C:\\A\r\nNULL=C:\\B\r\n", 22);
    FileIoClose(file);
    EXPECT_EQ("Registry keys removed (1):\n  HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001\n"
              "Registry values removed (1):\n  HKEY_USERS\\.DEFAULT\\Shell Folders \"Programs\"\n"
              "Registry values added (1):\n  HKEY_USERS\\.DEFAULT\\Shell Folders \"New\"\n"
              "Registry values changed (1):\n  HKEY_USERS\\.DEFAULT\\Shell Folders \"Keep\"=\"K\"\n"
              "Files changed (1):\n  C:\\WINDOWS\\WININIT.INI\n"
              "Lines added to C:\\WINDOWS\\WININIT.INI (2):\n  NULL=C:\\A\n  NULL=C:\\B\n",
              SimFormatChanges(SimCompareSnapshots(before, SimTakeSnapshot())));
}

}  // namespace

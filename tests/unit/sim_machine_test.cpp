// machine.ini, the version and directory queries, the string services, and
// the call record with its faults.
#include <cstring>

#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"

namespace {

TEST(SimMachine, DefaultsAreAWindows98SecondEditionMachine)
{
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    OSVERSIONINFOA info;
    std::memset(&info, 0x5A, sizeof info);
    info.dwOSVersionInfoSize = 148;
    ASSERT_TRUE(GetVersionExA(&info));
    EXPECT_EQ(4u, info.dwMajorVersion);
    EXPECT_EQ(10u, info.dwMinorVersion);
    EXPECT_EQ(0x040A08AEu, info.dwBuildNumber);
    EXPECT_EQ(1u, info.dwPlatformId);
    EXPECT_STREQ(" A ", info.szCSDVersion);
    char dir[MAX_PATH + 1];
    dir[MAX_PATH] = '#';
    EXPECT_EQ(17u, GetSystemDirectoryA(dir, MAX_PATH));
    EXPECT_STREQ("C:\\WINDOWS\\SYSTEM", dir);
    EXPECT_EQ(10u, GetWindowsDirectoryA(dir, MAX_PATH));
    EXPECT_STREQ("C:\\WINDOWS", dir);
    EXPECT_EQ('#', dir[MAX_PATH]);
}

TEST(SimMachine, BuildSetsTheVersionRecord)
{
    const struct {
        const char *build;
        DWORD number;
        DWORD minor;
    } cases[] = {
        {"950", 950, 0}, {"0x040003B6", 0x040003B6, 0}, {"0x000003B7", 951, 0}, {"0x040A03B7", 0x040A03B7, 0},
        {"1998", 1998, 10}, {"0xFFFF03B6", 0xFFFF03B6, 0},
    };
    for (const auto &c : cases) {
        MachineBuilder m;
        m.Ini(std::string("[Machine]\nBuild=") + c.build + "\n");
        ASSERT_TRUE(m.Load());
        OSVERSIONINFOA info;
        info.dwOSVersionInfoSize = 148;
        ASSERT_TRUE(GetVersionExA(&info)) << c.build;
        EXPECT_EQ(c.number, info.dwBuildNumber) << c.build;
        EXPECT_EQ(c.minor, info.dwMinorVersion) << c.build;
        info.dwOSVersionInfoSize = 156;
        EXPECT_FALSE(GetVersionExA(&info)) << "only the 148-byte record is known";
    }
}

TEST(SimMachine, DirectoryQueriesReturnTheNeededSizeAndLeaveAShortBufferAlone)
{
    const struct {
        const char *ini;
        UINT size;
        UINT result;
        const char *buffer;
    } cases[] = {
        {"WindowsDir=C:\\WINDOWS", 11, 10, "C:\\WINDOWS"},
        {"WindowsDir=C:\\WINDOWS", 10, 11, "##########"},
        {"WindowsDir=C:\\WINDOWS", 0, 11, "#"},
        {"WindowsDirFails=1", 260, 0, "########"},
        {"WindowsDir=", 260, 0, ""},
    };
    for (const auto &c : cases) {
        MachineBuilder m;
        m.Ini(std::string("[Machine]\n") + c.ini + "\n");
        ASSERT_TRUE(m.Load());
        char buffer[300];
        std::memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(c.result, GetWindowsDirectoryA(buffer, c.size)) << c.ini << " " << c.size;
        EXPECT_EQ(std::string(c.buffer), std::string(buffer, std::strlen(c.buffer))) << c.ini;
        EXPECT_EQ('#', buffer[c.size]) << c.ini;
    }
}

TEST(SimMachine, FailureSwitchesFailTheirQueriesOnly)
{
    MachineBuilder m;
    m.Ini("[Machine]\nVersionFails=1\nSystemDirFails=yes\nSystemDir=C:\\S\n");
    ASSERT_TRUE(m.Load());
    OSVERSIONINFOA info;
    std::memset(&info, 0, sizeof info);
    info.dwOSVersionInfoSize = 148;
    EXPECT_FALSE(GetVersionExA(&info));
    EXPECT_EQ(0u, info.dwBuildNumber);
    char dir[8] = "#######";
    EXPECT_EQ(0u, GetSystemDirectoryA(dir, sizeof dir));
    EXPECT_STREQ("#######", dir);
    EXPECT_EQ(11u, GetWindowsDirectoryA(nullptr, 0));
}

TEST(SimMachine, RejectsAMachineIniItDoesNotUnderstand)
{
    const struct {
        const char *ini;
        const char *error;
    } cases[] = {
        {"[Machine]\nBulid=950\n", "machine.ini line 2: unknown key Bulid"},
        {"[Machine]\nBuild=0x1FFFFFFFF\n", "machine.ini line 2: Build is not a 32-bit number: 0x1FFFFFFFF"},
        {"[Machine]\nVersionFails=maybe\n", "machine.ini line 2: VersionFails is 0 or 1: maybe"},
        {"[Machine]\nCurrentDir=WORK\n",
         "machine.ini line 2: CurrentDir is not a full path such as C:\\: WORK"},
        {"; x\n[Drives]\n", "machine.ini line 2: unknown section [Drives]"},
        {"[Attributes]\nC:\\X=Q\n", "machine.ini line 2: attributes are letters R, H and S: Q"},
        {"[Busy]\nX.DLL\n", "machine.ini line 2: not a full path: X.DLL"},
        {"Build=950\n", "machine.ini line 1: a line before the first section"},
    };
    for (const auto &c : cases) {
        MachineBuilder m;
        m.Ini(c.ini);
        std::string error;
        EXPECT_FALSE(SimLoadMachine(m.dir(), &error)) << c.ini;
        EXPECT_EQ(c.error, error);
    }
    std::string error;
    EXPECT_FALSE(SimLoadMachine("/nonexistent/machine", &error));
    EXPECT_EQ("", SimMachineDir());
}

TEST(SimMachine, StringServicesUseBytesAndRecordWhatTheyComposed)
{
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    char path[32] = "";
    EXPECT_EQ(path, lstrcpyA(path, "C:\\WINDOWS"));
    EXPECT_EQ(path, lstrcatA(path, "\\wininit.ini"));
    EXPECT_EQ(nullptr, lstrcatA(nullptr, "x"));
    EXPECT_EQ(22, lstrlenA(path));
    EXPECT_EQ(0, lstrlenA(nullptr));
    EXPECT_NE(0, lstrcmpA("BR32STAT.EXE", "br32stat.exe"));
    EXPECT_EQ(1, lstrcmpA("\xE8", "z")) << "bytes compare unsigned";
    EXPECT_EQ(-1, lstrcmpA(nullptr, ""));
    EXPECT_EQ(0, lstrcmpA("", ""));
    EXPECT_EQ("lstrcpyA(C:\\WINDOWS, C:\\WINDOWS) = 1\n"
              "lstrcatA(C:\\WINDOWS\\wininit.ini, \\wininit.ini) = 1\n"
              "lstrcatA(NULL, x) = 0\n",
              CallsOf("lstrcpyA") + CallsOf("lstrcatA"));
}

TEST(SimRecord, FaultsHitTheirOccurrenceAndFailAsTheServiceDoes)
{
    MachineBuilder m;
    m.File("C:\\A.TXT", "a").File("C:\\B.TXT", "b").File("C:\\C.TXT", "c");
    m.Registry("[HKEY_LOCAL_MACHINE\\K]\n");
    ASSERT_TRUE(m.Load());
    SimFailCall("DeleteFileA", 2, ERROR_SHARING_VIOLATION);
    SimFailCall("RegOpenKeyExA", 0, ERROR_ACCESS_DENIED);
    SimFailCall("FindFirstFileA", 1, ERROR_NOT_ENOUGH_MEMORY);
    SimFailCall("FileIoOpen", 1, ERROR_ACCESS_DENIED);
    SimFailCall("PlatformAlloc", 1, ERROR_NOT_ENOUGH_MEMORY);
    SimFailCall("lstrcmpA", 1, 0);
    SimFailCall("GetWindowsDirectoryA", 1, ERROR_PATH_NOT_FOUND);

    EXPECT_TRUE(DeleteFileA("C:\\A.TXT"));
    EXPECT_FALSE(DeleteFileA("C:\\B.TXT"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, SimLastError());
    EXPECT_TRUE(DeleteFileA("C:\\C.TXT"));
    EXPECT_TRUE(m.Exists("C:\\B.TXT")) << "a failed call changes nothing";
    HKEY key = HKEY_USERS;
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, 1, &key));
    EXPECT_EQ(nullptr, key);
    EXPECT_EQ(ERROR_ACCESS_DENIED, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "K", 0, 1, &key));
    WIN32_FIND_DATAA data;
    EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA("C:\\*", &data));
    EXPECT_EQ(nullptr, FileIoOpen("C:\\new.txt", FILEIO_APPEND));
    EXPECT_FALSE(m.Exists("C:\\new.txt"));
    EXPECT_EQ(nullptr, PlatformAlloc(52000));
    EXPECT_EQ(0, lstrcmpA("a", "b")) << "a fault answers with the error given";
    char dir[16] = "#";
    EXPECT_EQ(0u, GetWindowsDirectoryA(dir, sizeof dir));
    EXPECT_STREQ("#", dir);
    EXPECT_EQ("DeleteFileA(C:\\A.TXT) = 1\nDeleteFileA(C:\\B.TXT) = 0\nDeleteFileA(C:\\C.TXT) = 1\n",
              CallsOf("DeleteFileA"));

    // Counts start again with the record; faults stay until cleared.
    SimClearCalls();
    EXPECT_TRUE(DeleteFileA("C:\\B.TXT"));
    EXPECT_FALSE(DeleteFileA("C:\\A.TXT"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, SimLastError()) << "the second call since the clear";
    SimClearFaults();
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Nope", 0, 1, &key));
    void *block = PlatformAlloc(52000);
    EXPECT_EQ("block#1 52000 bytes", SimOpenHandles());
    PlatformFree(block);
    EXPECT_EQ("", SimOpenHandles());
}

TEST(SimRecord, RecordsOnlyWhileAMachineIsLoaded)
{
    {
        MachineBuilder m;
        ASSERT_TRUE(m.Load());
        SimFailCall("lstrlenA", 0, 7);
        EXPECT_EQ(7, lstrlenA("abc"));
        EXPECT_EQ(1u, SimCalls().size());
    }
    EXPECT_EQ(0u, SimCalls().size()) << "unloading forgets the record";
    EXPECT_EQ(3, lstrlenA("abc")) << "and the faults";
    EXPECT_EQ(0u, SimCalls().size());
    EXPECT_EQ(0, SimRestartRequests());
}

}  // namespace

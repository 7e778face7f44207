// Paths, deletions, searches and file I/O on the simulated drives: VFAT's
// case rules, and a machine folder that no path can leave.
#include <cstring>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"

namespace {

const char *const SYSTEM_DIR = "C:\\WINDOWS\\SYSTEM\\";

// A machine whose current directory is D:\WORK, with one read-only and one
// busy file, device names and links on the host, and a file beside the
// drives that no path may reach.
void BuildDrives(MachineBuilder &m)
{
    m.Ini("[Machine]\nCurrentDir=D:\\WORK\n"
          "[Attributes]\nc:\\windows\\system\\br32rs.dll=R\nC:\\WINDOWS\\INF\\Oem3.Inf=H\n"
          "[Busy]\nC:\\WINDOWS\\SYSTEM\\BR32TN16.DLL\n");
    for (const char *name : {"BR3232.DLL", "BR32CT.DLL", "BR32RS.DLL", "BR32TN16.DLL"})
        m.File(std::string(SYSTEM_DIR) + name, name);
    m.Dir("C:\\WINDOWS\\SYSTEM\\EMPTY")
        .File("C:\\secret.txt", "s")
        .File("C:\\WINDOWS\\NUL", "n")
        .File("C:\\WINDOWS\\con.txt", "c")
        .File("C:\\WINDOWS\\WININIT.INI", "[rename]\r\n")
        .File("C:\\Program Files\\x.txt", "x")
        .File("D:\\WORK\\Guida.LNK", "g")
        .File("D:\\TINTAVERA Duneva 10\\Guida Duneva 10.LNK", "g");
    for (const char *name : {"OEM0.INF", "oem1.inf", "oem2.info", "oemsetup.inf", "Oem3.Inf",
                             "readme.txt", "Long Name File.inf"})
        m.File(std::string("C:\\WINDOWS\\INF\\") + name, name);
    m.Dir("C:\\WINDOWS\\INF\\OTHER").File("C:\\outside\\f", "outside");
    std::filesystem::rename(m.Host("C:\\outside"), m.dir() + "/outside");
    std::filesystem::create_directory_symlink(m.dir() + "/outside", m.Host("C:\\link"));
    std::filesystem::create_symlink(m.dir() + "/outside/f", m.Host("C:\\WINDOWS\\linked.ini"));
}

struct DeleteCase {
    std::string path;
    long error;        // ERROR_SUCCESS when the deletion succeeds
    const char *file;  // the file that must be gone (success) or still there
};

TEST(SimFiles, DeleteFileResolvesPathsAsWindowsAndStaysInsideTheMachine)
{
    const DeleteCase cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\br3232.dll", ERROR_SUCCESS, "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"},
        {"c:/windows/system//BR32CT.DLL. ", ERROR_SUCCESS, "C:\\WINDOWS\\SYSTEM\\BR32CT.DLL"},
        {"\\TINTAVERA Duneva 10\\Guida Duneva 10.LNK", ERROR_SUCCESS,
         "D:\\TINTAVERA Duneva 10\\Guida Duneva 10.LNK"},
        {"Guida.LNK", ERROR_SUCCESS, "D:\\WORK\\Guida.LNK"},
        {"C:\\PROGRA~1\\X.TXT", ERROR_SUCCESS, "C:\\Program Files\\x.txt"},
        {"C:\\WINDOWS\\..\\secret.txt", ERROR_FILE_NOT_FOUND, "C:\\secret.txt"},
        {"C:\\WINDOWS\\...\\secret.txt", ERROR_FILE_NOT_FOUND, "C:\\secret.txt"},
        {"C:\\..\\..\\registry.reg", ERROR_FILE_NOT_FOUND, "C:\\secret.txt"},
        {"C:\\WINDOWS\\NUL", ERROR_FILE_NOT_FOUND, "C:\\WINDOWS\\NUL"},
        {"C:\\WINDOWS\\con.txt", ERROR_FILE_NOT_FOUND, "C:\\WINDOWS\\con.txt"},
        {"C:\\link\\f", ERROR_PATH_NOT_FOUND, "C:\\WINDOWS\\NUL"},
        {"C:\\WINDOWS\\linked.ini", ERROR_FILE_NOT_FOUND, "C:\\WINDOWS\\linked.ini"},
        {"\\\\server\\share\\x", 53, "C:\\secret.txt"},
        {"C:\\" + std::string(257, 'x'), 206, "C:\\secret.txt"},
        {"C:\\WINDOWS\\bad|name", 123, "C:\\secret.txt"},
        {"C:\\WINDOWS\\SYSTEM\\BR32RS.DLL", ERROR_ACCESS_DENIED, "C:\\WINDOWS\\SYSTEM\\BR32RS.DLL"},
        {"C:\\WINDOWS\\SYSTEM\\br32tn16.dll", ERROR_SHARING_VIOLATION,
         "C:\\WINDOWS\\SYSTEM\\BR32TN16.DLL"},
        {"C:\\WINDOWS\\SYSTEM\\EMPTY", ERROR_ACCESS_DENIED, "C:\\WINDOWS\\SYSTEM\\EMPTY"},
        {"C:\\WINDOWS\\SYSTEM\\MISSING.DLL", ERROR_FILE_NOT_FOUND, "C:\\secret.txt"},
        {"C:\\MISSING\\X.DLL", ERROR_PATH_NOT_FOUND, "C:\\secret.txt"},
        {"Z:\\X.DLL", ERROR_PATH_NOT_FOUND, "C:\\secret.txt"},
    };
    for (const DeleteCase &c : cases) {
        MachineBuilder m;
        BuildDrives(m);
        ASSERT_TRUE(m.Load());
        SimSetLastError(0);
        BOOL deleted = DeleteFileA(c.path.c_str());
        EXPECT_EQ(c.error == ERROR_SUCCESS, deleted) << c.path;
        EXPECT_EQ(c.error, SimLastError()) << c.path;
        EXPECT_EQ(c.error != ERROR_SUCCESS, m.Exists(c.file)) << c.path << " / " << c.file;
        EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
    }
}

TEST(SimFiles, RemoveDirectoryRemovesOnlyAnEmptyFolder)
{
    const DeleteCase cases[] = {
        {"C:\\WINDOWS\\SYSTEM\\empty", ERROR_SUCCESS, "C:\\WINDOWS\\SYSTEM\\EMPTY"},
        {"C:\\WINDOWS\\SYSTEM", ERROR_ACCESS_DENIED, "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"},
        {"C:\\WINDOWS\\SYSTEM\\BR3232.DLL", ERROR_ACCESS_DENIED, "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"},
        {"C:\\", ERROR_ACCESS_DENIED, "C:\\secret.txt"},
        {"C:\\NOPE", ERROR_FILE_NOT_FOUND, "C:\\secret.txt"},
        {"C:\\link", ERROR_FILE_NOT_FOUND, "C:\\link"},
    };
    for (const DeleteCase &c : cases) {
        MachineBuilder m;
        BuildDrives(m);
        ASSERT_TRUE(m.Load());
        SimSetLastError(0);
        EXPECT_EQ(c.error == ERROR_SUCCESS, RemoveDirectoryA(c.path.c_str())) << c.path;
        EXPECT_EQ(c.error, SimLastError()) << c.path;
        EXPECT_EQ(c.error != ERROR_SUCCESS, m.Exists(c.file)) << c.path;
    }
    MachineBuilder m;
    m.Ini("[Machine]\nCurrentDir=C:\\HERE\n").Dir("C:\\HERE");
    ASSERT_TRUE(m.Load());
    EXPECT_FALSE(RemoveDirectoryA("C:\\HERE")) << "the current directory stays";
}

std::string FindAll(const char *pattern, long *error)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    *error = SimLastError();
    if (search == INVALID_HANDLE_VALUE)
        return "";
    std::string names = data.cFileName;
    while (FindNextFileA(search, &data))
        names += std::string(",") + data.cFileName;
    *error = SimLastError();
    EXPECT_TRUE(FindClose(search));
    EXPECT_FALSE(FindClose(search));
    return names;
}

TEST(SimFiles, FindListsOneFolderInItsOrderWithDosPatternRules)
{
    const struct {
        const char *pattern;
        const char *names;
        long error;
    } cases[] = {
        {"C:\\WINDOWS\\INF\\oem*.inf", "OEM0.INF,Oem3.Inf,oem1.inf,oem2.info,oemsetup.inf",
         ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\*", ".,..,Long Name File.inf,OEM0.INF,OTHER,Oem3.Inf,oem1.inf,"
                               "oem2.info,oemsetup.inf,readme.txt", ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\OEM?.INF", "OEM0.INF,Oem3.Inf,oem1.inf", ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\longna~1.inf", "Long Name File.inf", ERROR_NO_MORE_FILES},
        {"c:\\windows\\wininit.ini", "WININIT.INI", ERROR_NO_MORE_FILES},
        {"C:\\*.", "Program Files,WINDOWS", ERROR_NO_MORE_FILES},
        {"\\WORK\\*.*", ".,..,Guida.LNK", ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\*.pnf", "", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\*.txt", "", ERROR_FILE_NOT_FOUND},  // con.txt is a device
        {"C:\\WINDOWS\\INF\\", "", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\NOPE\\*", "", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\..\\*", "", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\linked.ini", "", ERROR_FILE_NOT_FOUND},
    };
    MachineBuilder m;
    BuildDrives(m);
    m.Ini("[Machine]\nCurrentDir=D:\\\n[Attributes]\nC:\\WINDOWS\\INF\\Oem3.Inf=H\n");
    ASSERT_TRUE(m.Load());
    for (const auto &c : cases) {
        long error = 0;
        EXPECT_EQ(c.names, FindAll(c.pattern, &error)) << c.pattern;
        EXPECT_EQ(c.error, error) << c.pattern;
    }
    EXPECT_EQ("", SimOpenHandles());
}

TEST(SimFiles, FindReportsAttributesSizesAndShortNames)
{
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    WIN32_FIND_DATAA data;
    std::map<std::string, WIN32_FIND_DATAA> found;
    HANDLE search = FindFirstFileA("C:\\WINDOWS\\INF\\*", &data);
    ASSERT_NE(INVALID_HANDLE_VALUE, search);
    do
        found[data.cFileName] = data;
    while (FindNextFileA(search, &data));
    FindClose(search);
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_DIRECTORY, found[".."].dwFileAttributes);
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_DIRECTORY, found["OTHER"].dwFileAttributes);
    EXPECT_EQ((DWORD)(FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN),
              found["Oem3.Inf"].dwFileAttributes);
    EXPECT_EQ(8u, found["Oem3.Inf"].nFileSizeLow);
    EXPECT_STREQ("LONGNA~1.INF", found["Long Name File.inf"].cAlternateFileName);
    EXPECT_STREQ("OEM2~1.INF", found["oem2.info"].cAlternateFileName);
    EXPECT_STREQ("", found["oemsetup.inf"].cAlternateFileName);
}

TEST(SimFiles, FileIoAppendsReadsAndHoldsTheFileAgainstDeletion)
{
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    const char *path = "C:\\WINDOWS\\wininit.new";
    EXPECT_EQ(nullptr, FileIoOpen(path, FILEIO_READ));
    FILEIO *file = FileIoOpen(path, FILEIO_APPEND);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(10, FileIoWriteAtEnd(file, "[rename]\r\n", 10));
    EXPECT_EQ(4, FileIoWriteAtEnd(file, "NULL", 4));
    EXPECT_EQ(14, FileIoSize(file));
    char bytes[20];
    std::memset(bytes, '#', sizeof bytes);
    EXPECT_EQ(0, FileIoSeek(file, 8));
    EXPECT_EQ(6, FileIoRead(file, bytes, sizeof bytes));
    EXPECT_EQ(std::string("\r\nNULL#"), std::string(bytes, 7));
    EXPECT_EQ(0, FileIoRead(file, bytes, sizeof bytes));
    EXPECT_EQ(0, FileIoTruncate(file, 8));
    EXPECT_FALSE(DeleteFileA(path));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, SimLastError());
    EXPECT_EQ("file#1 C:\\WINDOWS\\wininit.new", SimOpenHandles());
    EXPECT_EQ(0, FileIoClose(file));
    EXPECT_EQ("[rename]", m.Read(path));
    EXPECT_EQ("FileIoOpen(C:\\WINDOWS\\wininit.new, 0) = 0\n"
              "FileIoOpen(C:\\WINDOWS\\wininit.new, 1) = 1\n",
              CallsOf("FileIoOpen"));
    EXPECT_EQ("FileIoWriteAtEnd(file#1, [rename]\\r\\n, 10) = 10\n"
              "FileIoWriteAtEnd(file#1, NULL, 4) = 4\n",
              CallsOf("FileIoWriteAtEnd"));
    EXPECT_TRUE(DeleteFileA(path));
}

TEST(SimFiles, FileIoRefusesWhatWindowsWouldNotOpen)
{
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    chmod(m.Host("C:\\WINDOWS\\WININIT.INI").c_str(), 0444);
    const struct {
        const char *path;
        FileIoMode mode;
    } refused[] = {
        {"C:\\WINDOWS\\WININIT.INI", FILEIO_APPEND},   // read-only on the host
        {"C:\\WINDOWS\\SYSTEM\\BR32RS.DLL", FILEIO_APPEND},  // read-only mark
        {"C:\\WINDOWS\\SYSTEM\\BR32TN16.DLL", FILEIO_READ},  // busy
        {"C:\\WINDOWS\\SYSTEM", FILEIO_READ},
        {"C:\\WINDOWS\\linked.ini", FILEIO_APPEND},
        {"C:\\WINDOWS\\NUL", FILEIO_APPEND},
        {"C:\\NOPE\\wininit.ini", FILEIO_APPEND},
    };
    for (const auto &c : refused)
        EXPECT_EQ(nullptr, FileIoOpen(c.path, c.mode)) << c.path;
    EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
    FILEIO *file = FileIoOpen("C:\\WINDOWS\\WININIT.INI", FILEIO_READ);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(-1, FileIoWriteAtEnd(file, "x", 1));
    EXPECT_EQ(0, FileIoClose(file));
    EXPECT_EQ(-1, FileIoClose(file)) << "a closed handle is not followed";
    EXPECT_EQ("", SimOpenHandles());
}

}  // namespace

// Paths, deletions, searches and file I/O on the simulated drives: VFAT's
// case rules, and a machine folder that no path can leave.
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"
#include "snapshot.h"

namespace {

// Current directory D:\WORK; a read-only, a hidden and a busy file; device
// names and links on the host, and a file beside the drives that no path
// may reach.
void BuildDrives(MachineBuilder &m)
{
    m.Ini("[Machine]\nCurrentDir=D:\\WORK\n"
          "[Attributes]\nc:\\windows\\system\\br32rs.dll=R\nC:\\WINDOWS\\INF\\Oem3.Inf=H\n"
          "[Busy]\nC:\\WINDOWS\\SYSTEM\\BR32TN16.DLL\n");
    for (const char *name : {"BR3232.DLL", "BR32CT.DLL", "BR32RS.DLL", "BR32TN16.DLL"})
        m.File(std::string("C:\\WINDOWS\\SYSTEM\\") + name, name);
    for (const char *name : {"OEM0.INF", "oem1.inf", "oem2.info", "oemsetup.inf", "Oem3.Inf",
                             "readme.txt", "Long Name File.inf"})
        m.File(std::string("C:\\WINDOWS\\INF\\") + name, name);
    m.Dir("C:\\WINDOWS\\SYSTEM\\EMPTY").Dir("C:\\WINDOWS\\INF\\OTHER")
        .File("C:\\secret.txt", "s").File("C:\\WINDOWS\\NUL", "n").File("C:\\WINDOWS\\con.txt", "c")
        .File("C:\\WINDOWS\\WININIT.INI", "[rename]\r\n").File("C:\\Program Files\\x.txt", "x")
        .File("D:\\WORK\\Guida.LNK", "g").File("D:\\TINTAVERA Duneva 10\\Guida Duneva 10.LNK", "g");
    std::filesystem::create_directory(m.dir() + "/outside");
    std::ofstream(m.dir() + "/outside/f") << "outside";
    std::filesystem::create_directory_symlink(m.dir() + "/outside", m.Host("C:\\link"));
    std::filesystem::create_symlink(m.dir() + "/outside/f", m.Host("C:\\WINDOWS\\linked.ini"));
}

TEST(SimFiles, DeletionsResolvePathsAsWindowsAndStayInsideTheMachine)
{
    const struct {
        bool folder;  // RemoveDirectoryA, else DeleteFileA
        std::string path;
        long error;
        const char *removed;  // what is gone afterwards
    } cases[] = {
        {false, "C:\\WINDOWS\\SYSTEM\\br3232.dll", 0, "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"},
        {false, "c:/windows/system//BR32CT.DLL. ", 0, "C:\\WINDOWS\\SYSTEM\\BR32CT.DLL"},
        {false, "\\TINTAVERA Duneva 10\\Guida Duneva 10.LNK", 0, "D:\\TINTAVERA Duneva 10\\Guida Duneva 10.LNK"},
        {false, "Guida.LNK", 0, "D:\\WORK\\Guida.LNK"},
        {false, "C:\\PROGRA~1\\X.TXT", 0, "C:\\Program Files\\x.txt"},
        {false, "C:\\WINDOWS\\..\\secret.txt", ERROR_FILE_NOT_FOUND, ""},
        {false, "C:\\..\\..\\outside\\f", ERROR_FILE_NOT_FOUND, ""},
        {false, "C:\\WINDOWS\\NUL", ERROR_FILE_NOT_FOUND, ""},
        {false, "C:\\WINDOWS\\con.txt", ERROR_FILE_NOT_FOUND, ""},
        {false, "C:\\link\\f", ERROR_PATH_NOT_FOUND, ""},
        {false, "C:\\WINDOWS\\linked.ini", ERROR_FILE_NOT_FOUND, ""},
        {false, "\\\\server\\share\\x", 53, ""},                 // ERROR_BAD_NETPATH
        {false, "C:\\" + std::string(257, 'x'), 206, ""},        // ERROR_FILENAME_EXCED_RANGE
        {false, "C:\\WINDOWS\\bad|name", 123, ""},               // ERROR_INVALID_NAME
        {false, "C:\\WINDOWS\\SYSTEM\\BR32RS.DLL", ERROR_ACCESS_DENIED, ""},
        {false, "C:\\WINDOWS\\SYSTEM\\br32tn16.dll", ERROR_SHARING_VIOLATION, ""},
        {false, "C:\\WINDOWS\\SYSTEM\\EMPTY", ERROR_ACCESS_DENIED, ""},
        {false, "C:\\WINDOWS\\SYSTEM\\MISSING.DLL", ERROR_FILE_NOT_FOUND, ""},
        {false, "C:\\MISSING\\X.DLL", ERROR_PATH_NOT_FOUND, ""},
        {false, "Z:\\X.DLL", ERROR_PATH_NOT_FOUND, ""},
        {true, "C:\\WINDOWS\\SYSTEM\\empty", 0, "C:\\WINDOWS\\SYSTEM\\EMPTY"},
        {true, "C:\\WINDOWS\\SYSTEM", ERROR_ACCESS_DENIED, ""},
        {true, "C:\\WINDOWS\\SYSTEM\\BR3232.DLL", ERROR_ACCESS_DENIED, ""},
        {true, "C:\\", ERROR_ACCESS_DENIED, ""},
        {true, "C:\\link", ERROR_FILE_NOT_FOUND, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.path);
        MachineBuilder m;
        BuildDrives(m);
        ASSERT_TRUE(m.Load());
        SimSnapshot before = SimTakeSnapshot();
        SimSetLastError(0);
        BOOL done = c.folder ? RemoveDirectoryA(c.path.c_str()) : DeleteFileA(c.path.c_str());
        EXPECT_EQ(c.error == 0, done);
        EXPECT_EQ(c.error, SimLastError());
        SimChanges changes = SimCompareSnapshots(before, SimTakeSnapshot());
        std::vector<std::string> gone = changes.filesRemoved;
        gone.insert(gone.end(), changes.foldersRemoved.begin(), changes.foldersRemoved.end());
        EXPECT_EQ(*c.removed ? std::vector<std::string>{c.removed} : std::vector<std::string>(), gone);
        EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
    }
}

// The names a search yields, "\" after a folder, "(H)" after a hidden file.
std::string FindAll(const char *pattern, long *error)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    *error = SimLastError();
    if (search == INVALID_HANDLE_VALUE)
        return "";
    std::string names;
    do {
        names += std::string(names.empty() ? "" : ",") + data.cFileName +
                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "\\" : "") +
                 (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN ? "(H)" : "");
    } while (FindNextFileA(search, &data));
    *error = SimLastError();
    EXPECT_TRUE(FindClose(search));
    return names;
}

TEST(SimFiles, FindListsOneFolderInItsOrderWithDosPatternRules)
{
    const struct {
        const char *pattern, *names;
        long error;
    } cases[] = {
        {"C:\\WINDOWS\\INF\\oem*.inf", "OEM0.INF,Oem3.Inf(H),oem1.inf,oem2.info,oemsetup.inf",
         ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\*", ".\\,..\\,Long Name File.inf,OEM0.INF,OTHER\\,Oem3.Inf(H),oem1.inf,"
                               "oem2.info,oemsetup.inf,readme.txt", ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\OEM?.INF", "OEM0.INF,Oem3.Inf(H),oem1.inf", ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\longna~1.inf", "Long Name File.inf", ERROR_NO_MORE_FILES},
        {"c:\\windows\\wininit.ini", "WININIT.INI", ERROR_NO_MORE_FILES},
        {"C:\\*.", "Program Files\\,WINDOWS\\", ERROR_NO_MORE_FILES},
        {"\\WORK\\*.*", ".\\,..\\,Guida.LNK", ERROR_NO_MORE_FILES},
        {"C:\\WINDOWS\\INF\\*.pnf", "", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\*.txt", "", ERROR_FILE_NOT_FOUND},  // con.txt is a device
        {"C:\\WINDOWS\\NOPE\\*", "", ERROR_PATH_NOT_FOUND},
        {"C:\\WINDOWS\\..\\*", "", ERROR_FILE_NOT_FOUND},
        {"C:\\WINDOWS\\linked.ini", "", ERROR_FILE_NOT_FOUND},
    };
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    for (const auto &c : cases) {
        long error = 0;
        EXPECT_EQ(c.names, FindAll(c.pattern, &error)) << c.pattern;
        EXPECT_EQ(c.error, error) << c.pattern;
    }
    EXPECT_EQ("", SimOpenHandles());
}

TEST(SimFiles, FileIoRefusesWhatWindowsWouldNotOpenAndHoldsWhatItOpened)
{
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    chmod(m.Host("C:\\WINDOWS\\WININIT.INI").c_str(), 0444);
    const struct {
        const char *path;
        FileIoMode mode;
    } refused[] = {
        {"C:\\WINDOWS\\WININIT.INI", FILEIO_APPEND},         // read-only on the host
        {"C:\\WINDOWS\\SYSTEM\\BR32RS.DLL", FILEIO_APPEND},  // read-only mark
        {"C:\\WINDOWS\\SYSTEM\\BR32TN16.DLL", FILEIO_READ},  // busy
        {"C:\\WINDOWS\\SYSTEM", FILEIO_READ},
        {"C:\\WINDOWS\\linked.ini", FILEIO_APPEND},
        {"C:\\WINDOWS\\NUL", FILEIO_APPEND},
        {"C:\\NOPE\\wininit.ini", FILEIO_APPEND},
        {"C:\\WINDOWS\\wininit.new", FILEIO_READ},
    };
    for (const auto &c : refused)
        EXPECT_EQ(nullptr, FileIoOpen(c.path, c.mode)) << c.path;
    EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
    EXPECT_FALSE(m.Exists("C:\\WINDOWS\\wininit.new"));
    FILEIO *file = FileIoOpen("C:\\WINDOWS\\WININIT.INI", FILEIO_READ);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(-1, FileIoWriteAtEnd(file, "x", 1)) << "a stream opened to read";
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\WININIT.INI"));
    EXPECT_EQ(ERROR_SHARING_VIOLATION, SimLastError()) << "an open file is busy";
    EXPECT_EQ("file#1 C:\\WINDOWS\\WININIT.INI", SimOpenHandles());
    EXPECT_EQ(0, FileIoClose(file));
    EXPECT_EQ(-1, FileIoClose(file)) << "a closed handle is not followed";
    EXPECT_EQ("", SimOpenHandles());
}

}  // namespace

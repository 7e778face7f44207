// Paths, deletions, searches and file I/O on the simulated drives: VFAT's
// case rules, and a machine folder that no path can leave; the machine's
// next start, which works through WININIT.INI.
#include <cstring>
#include <filesystem>
#include <sys/stat.h>

#include "machine/snapshot.h"
#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"

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
    // RemoveDirectoryA or DeleteFileA, the path, the error (0: done) and
    // what is gone afterwards.
    const std::tuple<bool, std::string, long, const char *> cases[] = {
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
        {false, "\\\\server\\share\\x", 53, ""},           // ERROR_BAD_NETPATH
        {false, "C:\\" + std::string(257, 'x'), 206, ""},  // ERROR_FILENAME_EXCED_RANGE
        {false, "C:\\WINDOWS\\bad|name", 123, ""},         // ERROR_INVALID_NAME
        {false, "C:\\WINDOWS\\SYSTEM\\BR32RS.DLL", ERROR_ACCESS_DENIED, ""},
        {false, "C:\\WINDOWS\\SYSTEM\\br32tn16.dll", ERROR_SHARING_VIOLATION, ""},
        {false, "C:\\WINDOWS\\SYSTEM\\EMPTY", ERROR_ACCESS_DENIED, ""},
        {false, "C:\\WINDOWS\\SYSTEM\\MISSING.DLL", ERROR_FILE_NOT_FOUND, ""},
        {false, "C:\\MISSING\\X.DLL", ERROR_PATH_NOT_FOUND, ""},
        {true, "C:\\WINDOWS\\SYSTEM\\empty", 0, "C:\\WINDOWS\\SYSTEM\\EMPTY"},
        {true, "C:\\WINDOWS\\SYSTEM", ERROR_ACCESS_DENIED, ""},
        {true, "C:\\link", ERROR_FILE_NOT_FOUND, ""},
    };
    for (const auto &[folder, path, error, removed] : cases) {
        SCOPED_TRACE(path);
        MachineBuilder m;
        BuildDrives(m);
        ASSERT_TRUE(m.Load());
        SimSnapshot before = SimTakeSnapshot();
        SimSetLastError(0);
        EXPECT_EQ(error == 0, folder ? RemoveDirectoryA(path.c_str()) : DeleteFileA(path.c_str()));
        EXPECT_EQ(error, SimLastError());
        EXPECT_EQ(*removed ? std::string(folder ? "Folders" : "Files") + " deleted (1):\n  " + removed + "\n"
                           : "No changes.\n",
                  SimFormatChanges(SimCompareSnapshots(before, SimTakeSnapshot())));
        EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
    }
}

// The names a search yields, "\" after a folder, "(H)" after a hidden file;
// or the error of a search that finds nothing: 2 no match, 3 no folder.
std::string FindAll(const char *pattern)
{
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE)
        return "error " + std::to_string(SimLastError());
    std::string names;
    do {
        names += std::string(names.empty() ? "" : ",") + data.cFileName +
                 (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY ? "\\" : "") +
                 (data.dwFileAttributes & FILE_ATTRIBUTE_HIDDEN ? "(H)" : "");
    } while (FindNextFileA(search, &data));
    EXPECT_EQ(ERROR_NO_MORE_FILES, SimLastError()) << pattern;
    EXPECT_TRUE(FindClose(search));
    return names;
}

TEST(SimFiles, FindListsOneFolderInItsOrderWithDosPatternRules)
{
    const std::pair<const char *, const char *> cases[] = {
        {"C:\\WINDOWS\\INF\\oem*.inf", "OEM0.INF,Oem3.Inf(H),oem1.inf,oem2.info,oemsetup.inf"},
        {"C:\\WINDOWS\\INF\\*", ".\\,..\\,Long Name File.inf,OEM0.INF,OTHER\\,Oem3.Inf(H),oem1.inf,oem2.info,"
                               "oemsetup.inf,readme.txt"},
        {"C:\\WINDOWS\\INF\\OEM?.INF", "OEM0.INF,Oem3.Inf(H),oem1.inf"},
        {"C:\\WINDOWS\\INF\\longna~1.inf", "Long Name File.inf"},
        {"c:\\windows\\wininit.ini", "WININIT.INI"},
        {"C:\\*.", "Program Files\\,WINDOWS\\"},
        {"\\WORK\\*.*", ".\\,..\\,Guida.LNK"},
        {"C:\\WINDOWS\\INF\\*.pnf", "error 2"},
        {"C:\\WINDOWS\\*.txt", "error 2"},  // con.txt is a device
        {"C:\\WINDOWS\\NOPE\\*", "error 3"},
        {"C:\\WINDOWS\\..\\*", "error 2"},
        {"C:\\WINDOWS\\linked.ini", "error 2"},
    };
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    for (const auto &[pattern, found] : cases)
        EXPECT_EQ(found, FindAll(pattern)) << pattern;
    EXPECT_EQ("", SimOpenHandles());
}

TEST(SimFiles, FileIoRefusesWhatWindowsWouldNotOpenAndHoldsWhatItOpened)
{
    MachineBuilder m;
    BuildDrives(m);
    ASSERT_TRUE(m.Load());
    chmod(m.Host("C:\\WINDOWS\\WININIT.INI").c_str(), 0444);
    // Read-only on the host, read-only mark, busy, a folder, a link, a device, no folder.
    const std::pair<const char *, FileIoMode> refused[] = {
        {"C:\\WINDOWS\\WININIT.INI", FILEIO_APPEND}, {"C:\\WINDOWS\\SYSTEM\\BR32RS.DLL", FILEIO_APPEND},
        {"C:\\WINDOWS\\SYSTEM\\BR32TN16.DLL", FILEIO_READ}, {"C:\\WINDOWS\\SYSTEM", FILEIO_READ},
        {"C:\\WINDOWS\\linked.ini", FILEIO_APPEND}, {"C:\\WINDOWS\\NUL", FILEIO_APPEND},
        {"C:\\NOPE\\wininit.ini", FILEIO_APPEND}};
    SimSnapshot before = SimTakeSnapshot();
    for (const auto &[path, mode] : refused)
        EXPECT_EQ(nullptr, FileIoOpen(path, mode)) << path;
    EXPECT_TRUE(SimCompareSnapshots(before, SimTakeSnapshot()).Empty());
    EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
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

// The files under C:\WINDOWS after a next start, "SYSTEM\A.DLL=a ...", with
// "<ini>" for the bytes of the WININIT.INI that was there.
std::string WindowsFiles(const std::string &ini)
{
    std::string text;
    for (const auto &entry : SimTakeSnapshot().files) {
        const SimSnapshot::File &file = entry.second;
        if (!file.isDir && file.path.compare(0, 11, "C:\\WINDOWS\\") == 0)
            text += (text.empty() ? "" : " ") + file.path.substr(11) + "=" + (file.bytes == ini ? "<ini>" : file.bytes);
    }
    return text;
}

TEST(SimNextStart, WorksThroughEveryRenameSectionAndKeepsInsideTheMachine)
{
    const std::string S = "C:\\WINDOWS\\SYSTEM\\", N = "C:\\WINDOWS\\NULL", OUT = "..\\..\\..\\outside\\";
    const std::string R = "|renamed C:\\WINDOWS\\WININIT.INI to C:\\WINDOWS\\wininit.bak";
    const std::string ALL = "SYSTEM\\A.DLL=a SYSTEM\\B.DLL=b SYSTEM\\C.DLL=c wininit.bak=<ini>";
    const struct {
        const char *what;
        std::string ini;   // "" for no WININIT.INI
        std::string done;  // what the start did, "|" between lines
        std::string files;
        const char *readOnly = "";  // a file marked read-only
    } cases[] = {
        {"a deletion; comments and lines without = are not operations",
         "[rename]\r\n;NUL=" + S + "B.DLL\r\nNUL " + S + "C.DLL\r\nNUL=" + S + "A.DLL\r\n",
         "deleted " + S + "A.DLL" + R, "SYSTEM\\B.DLL=b SYSTEM\\C.DLL=c wininit.bak=<ini>"},
        {"a move replacing its destination; nul in lower case, a relative source",
         "[rename]\r\nc:\\windows\\system\\b.dll=" + S + "A.DLL\r\nnul = system\\c.dll",
         "deleted " + S + "B.DLL|moved " + S + "A.DLL to " + S + "B.DLL|deleted " + S + "C.DLL" + R,
         "SYSTEM\\B.DLL=a wininit.bak=<ini>"},
        {"a relative destination is in the Windows directory (an older engine's NULL= lines)",
         "[rename]\r\nNULL=" + S + "A.DLL\r\nNULL=" + S + "B.DLL\r\n",
         "moved " + S + "A.DLL to " + N + "|deleted " + N + "|moved " + S + "B.DLL to " + N + R,
         "NULL=b SYSTEM\\C.DLL=c wininit.bak=<ini>"},
        {"every [rename] section in any case, no other section",
         "NUL=" + S + "A.DLL\r\n[Rename]\r\nNUL=" + S + "B.DLL\r\n[renamed]\r\nNUL=" + S + "A.DLL\r\n"
         "[RENAME]\r\nNUL=" + S + "C.DLL\r\n",
         "deleted " + S + "B.DLL|deleted " + S + "C.DLL" + R, "SYSTEM\\A.DLL=a wininit.bak=<ini>"},
        {"missing files and folders are passed over",
         "[rename]\r\nNUL=" + S + "GONE.DLL\r\nX.DLL=SYSTEM\\GONE.DLL\r\nC:\\NOPE\\A.DLL=" + S + "A.DLL\r\n",
         "passed over NUL=" + S + "GONE.DLL|passed over X.DLL=SYSTEM\\GONE.DLL|passed over C:\\NOPE\\A.DLL=" + S +
             "A.DLL" + R,
         ALL},
        {"no path leaves the machine folder",
         "[rename]\r\nNUL=" + OUT + "f\r\n" + OUT + "g=" + S + "A.DLL\r\n" + S + "B.DLL=C:\\" + OUT + "f\r\n",
         "passed over NUL=" + OUT + "f|passed over " + OUT + "g=" + S + "A.DLL|passed over " + S + "B.DLL=C:\\" +
             OUT + "f" + R,
         ALL},
        {"a read-only file stays, as DOS refuses it, whether named to go or to be replaced",
         "[rename]\r\nNUL=" + S + "A.DLL\r\n" + S + "A.DLL=" + S + "B.DLL\r\n",
         "passed over NUL=" + S + "A.DLL|passed over " + S + "A.DLL=" + S + "B.DLL" + R, ALL,
         "SYSTEM\\A.DLL"},
        {"no WININIT.INI: nothing happens", "", "", "SYSTEM\\A.DLL=a SYSTEM\\B.DLL=b SYSTEM\\C.DLL=c wininit.bak=old"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        MachineBuilder m;
        m.File(S + "A.DLL", "a").File(S + "B.DLL", "b").File(S + "C.DLL", "c")
            .File("C:\\WINDOWS\\wininit.bak", "old");
        if (!c.ini.empty())
            m.File("C:\\WINDOWS\\WININIT.INI", c.ini);
        if (*c.readOnly)
            m.Ini(std::string("[Attributes]\nC:\\WINDOWS\\") + c.readOnly + "=R\n");
        std::filesystem::create_directory(m.dir() + "/outside");
        std::ofstream(m.dir() + "/outside/f") << "outside";
        ASSERT_TRUE(m.Load());
        std::string done;
        for (const std::string &line : SimNextStart())
            done += (done.empty() ? "" : "|") + line;
        EXPECT_EQ(c.done, done);
        EXPECT_EQ(c.files, WindowsFiles(c.ini));
        EXPECT_EQ("outside", MachineBuilder::ReadHost(m.dir() + "/outside/f"));
        EXPECT_FALSE(std::filesystem::exists(m.dir() + "/outside/g"));
        EXPECT_EQ(0u, SimCalls().size()) << "the start is the machine's, not the program's";
    }
}

}  // namespace

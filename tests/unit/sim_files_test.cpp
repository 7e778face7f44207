// Deletions and file I/O on the simulated drives with Windows 9x's error
// codes, and a machine folder that no path can leave; the machine's next
// start, which works through every [rename] section of WININIT.INI.
// (tests/wine/differential.py holds searches, case and path rules to Wine.)
#include <array>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <functional>
#include <sys/stat.h>

#include "machine/snapshot.h"
#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"

namespace {

// A read-only and a busy file; device names and links on the host, and a
// file beside the drives that no path may reach.
void BuildDrives(MachineBuilder &m)
{
    m.Ini("[Attributes]\nc:\\windows\\system\\br32rs.dll=R\n[Busy]\nC:\\WINDOWS\\SYSTEM\\BR32TN16.DLL\n");
    for (const char *name : {"BR3232.DLL", "BR32CT.DLL", "BR32RS.DLL", "BR32TN16.DLL"})
        m.File(std::string("C:\\WINDOWS\\SYSTEM\\") + name, name);
    m.Dir("C:\\WINDOWS\\SYSTEM\\EMPTY").File("C:\\secret.txt", "s").File("C:\\WINDOWS\\NUL", "n")
        .File("C:\\WINDOWS\\con.txt", "c").File("C:\\WINDOWS\\WININIT.INI", "[rename]\r\n");
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
        // Windows 98 drops them in a folder's name on the way too (NT: not found).
        {false, "C:\\WINDOWS..\\SYSTEM \\BR3232.DLL", 0, "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"},
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
        {false, "C:\\WINDOWS\\SYSTEM\\br32tn16.dll", ERROR_ACCESS_DENIED, ""},  // busy, as 9x says it
        {false, "C:\\WINDOWS\\SYSTEM\\BR32*.DLL", ERROR_FILE_NOT_FOUND, ""},       // a wildcard, as 98 says it
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

TEST(SimFiles, FileIoAndSearchesRefuseWhatWindowsWouldNotOpen)
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
    // A search sees no device, link or path above a drive: 2 no match, 3 no folder.
    const std::pair<const char *, DWORD> unseen[] = {
        {"C:\\WINDOWS\\*.txt", 2}, {"C:\\WINDOWS\\..\\*", 2}, {"C:\\WINDOWS\\linked.ini", 2}, {"C:\\link\\*", 3}};
    for (const auto &[pattern, error] : unseen) {
        WIN32_FIND_DATAA data;
        EXPECT_EQ(INVALID_HANDLE_VALUE, FindFirstFileA(pattern, &data)) << pattern;
        EXPECT_EQ(error, SimLastError()) << pattern;
    }
    FILEIO *file = FileIoOpen("C:\\WINDOWS\\WININIT.INI", FILEIO_READ);
    ASSERT_NE(nullptr, file);
    EXPECT_EQ(-1, FileIoWriteAtEnd(file, "x", 1)) << "a stream opened to read";
    EXPECT_FALSE(DeleteFileA("C:\\WINDOWS\\WININIT.INI"));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SimLastError()) << "an open file is busy: access denied on 9x";
    EXPECT_EQ("file#1 C:\\WINDOWS\\WININIT.INI", SimOpenHandles());
    EXPECT_EQ(0, FileIoClose(file));
    EXPECT_EQ(-1, FileIoClose(file)) << "a closed handle is not followed";
    EXPECT_EQ("", SimOpenHandles());
}

// A file that another program holds, by the [Busy] line after its path and
// by release: a loaded module is neither deleted nor moved; a file held open
// is deleted (the Platform SDK, for 95 and 98) but not moved (Wine's file.c,
// test_MoveFileA); neither opens; both are seen, and go at the next start.
TEST(SimFiles, ABusyFileIsRefusedAsItIsHeld)
{
    const std::string DLL = "C:\\WINDOWS\\SYSTEM\\BR32SHEL.DLL";
    // DeleteFileA, MoveFileA, FileIoOpen to read and to append, the
    // attributes, the next start: the error of each (0: done; 32 is
    // ERROR_SHARING_VIOLATION).
    const std::pair<const char *, std::array<long, 6>> kinds[] = {
        {"", {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 32, 32, 0, 0}},
        {"=Module", {ERROR_ACCESS_DENIED, ERROR_ACCESS_DENIED, 32, 32, 0, 0}},
        {"=open", {0, ERROR_ACCESS_DENIED, 32, 32, 0, 0}},
    };
    for (const char *build : {"950", "2222"}) {
        for (const auto &[line, errors] : kinds) {
            for (size_t service = 0; service < errors.size(); service++) {
                SCOPED_TRACE(std::string(build) + " " + DLL + line + ", service " + std::to_string(service));
                MachineBuilder m;
                m.Ini("[Machine]\nBuild=" + std::string(build) + "\n[Busy]\n" + DLL + line + "\n")
                    .File(DLL, "shell").File("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nNUL=" + DLL + "\r\n");
                ASSERT_TRUE(m.Load());
                FILEIO *file = nullptr;
                bool done = service == 0   ? DeleteFileA(DLL.c_str())
                            : service == 1 ? MoveFileA(DLL.c_str(), "C:\\WINDOWS\\SYSTEM\\BR32SHEL.OLD")
                            : service < 4  ? (file = FileIoOpen(DLL.c_str(), service == 2 ? FILEIO_READ : FILEIO_APPEND)) != nullptr
                            : service == 4 ? GetFileAttributesA(DLL.c_str()) == FILE_ATTRIBUTE_ARCHIVE
                                           : SimNextStart().at(0) == "deleted " + DLL;
                EXPECT_EQ(errors[service], done ? 0 : SimLastError());
                if (file)
                    FileIoClose(file);
                EXPECT_EQ(done && (service == 0 || service == 5), !m.Exists(DLL)) << "gone";
                if (done && service == 0) {
                    EXPECT_NE(nullptr, file = FileIoOpen(DLL.c_str(), FILEIO_APPEND)) << "a file made there is nobody's";
                    FileIoClose(file);
                }
            }
        }
    }
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

// Only what Wine's restart steps cannot show: every [rename] section (Wine
// reads the first), read-only files, paths out of the machine folder.
TEST(SimNextStart, WorksThroughEveryRenameSectionAndKeepsInsideTheMachine)
{
    const std::string S = "C:\\WINDOWS\\SYSTEM\\", OUT = "..\\..\\..\\outside\\";
    const std::string R = "|renamed C:\\WINDOWS\\WININIT.INI to C:\\WINDOWS\\wininit.bak";
    const std::string ALL = "SYSTEM\\A.DLL=a SYSTEM\\B.DLL=b SYSTEM\\C.DLL=c wininit.bak=<ini>";
    const struct {
        const char *what;
        std::string ini;
        std::string done;  // what the start did, "|" between lines
        std::string files;
        const char *readOnly = "";  // a file marked read-only
    } cases[] = {
        {"every [rename] section in any case, no other section",
         "NUL=" + S + "A.DLL\r\n[Rename]\r\nNUL=" + S + "B.DLL\r\n[renamed]\r\nNUL=" + S + "A.DLL\r\n"
         "[RENAME]\r\nNUL=" + S + "C.DLL\r\n",
         "deleted " + S + "B.DLL|deleted " + S + "C.DLL" + R, "SYSTEM\\A.DLL=a wininit.bak=<ini>"},
        {"no path leaves the machine folder",
         "[rename]\r\nNUL=" + OUT + "f\r\n" + OUT + "g=" + S + "A.DLL\r\n" + S + "B.DLL=C:\\" + OUT + "f\r\n",
         "passed over NUL=" + OUT + "f|passed over " + OUT + "g=" + S + "A.DLL|passed over " + S + "B.DLL=C:\\" +
             OUT + "f" + R,
         ALL},
        {"a read-only file stays, as DOS refuses it, whether named to go or to be replaced",
         "[rename]\r\nNUL=" + S + "A.DLL\r\n" + S + "A.DLL=" + S + "B.DLL\r\n",
         "passed over NUL=" + S + "A.DLL|passed over " + S + "A.DLL=" + S + "B.DLL" + R, ALL,
         "SYSTEM\\A.DLL"},
        {"a file moved over another, and one to a new name in the Windows directory",
         "[rename]\r\n" + S + "A.DLL=" + S + "B.DLL\r\nD.DLL=" + S + "C.DLL\r\n",
         "deleted " + S + "A.DLL|moved " + S + "B.DLL to " + S + "A.DLL|moved " + S + "C.DLL to C:\\WINDOWS\\D.DLL" + R,
         "D.DLL=c SYSTEM\\A.DLL=b wininit.bak=<ini>"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        MachineBuilder m;
        m.File(S + "A.DLL", "a").File(S + "B.DLL", "b").File(S + "C.DLL", "c")
            .File("C:\\WINDOWS\\wininit.bak", "old").File("C:\\WINDOWS\\WININIT.INI", c.ini);
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

// The machine keeps folder listings while it is loaded, and a folder's time
// moves only with the clock's tick (whole ticks of some milliseconds on
// most file systems, before Linux 6.13): a change within the tick of the
// folder's last one is seen all the same. Here the tick is held still by
// putting the folder's time back: from outside, a file the test writes
// while the machine is loaded; inside, the rename of WININIT.INI that ends
// a next start.
TEST(SimFiles, AChangeWithinOneClockTickIsSeen)
{
    const std::string D = "C:\\WINDOWS\\D", W = "C:\\WINDOWS";
    MachineBuilder m;
    m.Dir(D).File(W + "\\WININIT.INI", "[rename]\r\n");
    ASSERT_TRUE(m.Load());
    auto heldStill = [&](const std::string &folder, const std::function<void()> &change) {
        struct stat before;
        ASSERT_EQ(0, stat(m.Host(folder).c_str(), &before));
        change();
        const struct timespec times[2] = {before.st_atim, before.st_mtim};
        ASSERT_EQ(0, utimensat(AT_FDCWD, m.Host(folder).c_str(), times, 0));
    };
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((D + "\\A.TXT").c_str()));
    heldStill(D, [&] { m.File(D + "\\A.TXT", "a"); });
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA((D + "\\A.TXT").c_str())) << "written from outside";
    heldStill(W, [] { ASSERT_EQ(1u, SimNextStart().size()); });
    EXPECT_EQ((DWORD)FILE_ATTRIBUTE_ARCHIVE, GetFileAttributesA((W + "\\WININIT.BAK").c_str())) << "the start's rename";
    EXPECT_EQ(INVALID_FILE_ATTRIBUTES, GetFileAttributesA((W + "\\WININIT.INI").c_str()));
}

}  // namespace

// Whole-machine snapshots: a comparison names every change a run made, at
// the top of what went, and nothing else.
#include "machine_builder.h"
#include "platform.h"
#include "platform_io.h"
#include "snapshot.h"

namespace {

using Lines = std::vector<std::string>;

void BuildMachine(MachineBuilder &m)
{
    m.Registry("[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001]\n\"DeviceDesc\"=\"D\"\n"
               "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001\\Sub]\n"
               "[HKEY_USERS\\.DEFAULT\\Shell Folders]\n\"Programs\"=\"C:\\\\P\"\n\"Keep\"=\"k\"\n")
        .File("C:\\WINDOWS\\WIN.INI",
              "[Devices]\r\nDuneva=BR32jp,LPT1:\r\nOther=x\r\n[Duneva-LPT1]\r\nA=1\r\n")
        .File("C:\\WINDOWS\\WININIT.INI", "[rename]\r\nNUL=C:\\X\r\n\x1A")
        .File("C:\\P\\Duneva\\Guida.LNK", "lnk")
        .File("C:\\WINDOWS\\SYSTEM\\BR3232.DLL", "dll");
}

TEST(SimSnapshot, NamesEachChangeOnceAndNothingElse)
{
    MachineBuilder m;
    BuildMachine(m);
    ASSERT_TRUE(m.Load());
    SimSnapshot before = SimTakeSnapshot();
    EXPECT_TRUE(SimCompareSnapshots(before, SimTakeSnapshot()).Empty());
    EXPECT_EQ(0u, SimCalls().size()) << "a snapshot calls no service";

    RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Root\\printer\\0001");
    WriteProfileStringA("Duneva-LPT1", nullptr, nullptr);
    WriteProfileStringA("Devices", "Duneva", nullptr);
    DeleteFileA("C:\\P\\Duneva\\Guida.LNK");
    RemoveDirectoryA("C:\\P\\Duneva");
    DeleteFileA("C:\\WINDOWS\\SYSTEM\\BR3232.DLL");
    FILEIO *file = FileIoOpen("C:\\WINDOWS\\WININIT.INI", FILEIO_APPEND);
    ASSERT_NE(nullptr, file);
    FileIoTruncate(file, 20);  // the 0x1A goes, as "a+" cuts it
    FileIoWriteAtEnd(file, "NULL=C:\\A\r\nNULL=C:\\B\r\n", 22);
    FileIoClose(file);
    file = FileIoOpen("C:\\WINDOWS\\NEW.INI", FILEIO_APPEND);
    FileIoWriteAtEnd(file, "[rename]\r\n", 10);
    FileIoClose(file);

    SimChanges changes = SimCompareSnapshots(before, SimTakeSnapshot());
    std::string report = SimFormatChanges(changes);
    EXPECT_EQ(Lines{"HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001"}, changes.keysRemoved) << report;
    EXPECT_EQ(Lines{"[Duneva-LPT1]"}, changes.sectionsRemoved) << report;
    EXPECT_EQ(Lines{"[Devices] Duneva"}, changes.profileKeysRemoved) << report;
    EXPECT_EQ((Lines{"C:\\P\\Duneva\\Guida.LNK", "C:\\WINDOWS\\SYSTEM\\BR3232.DLL"}),
              changes.filesRemoved) << report;
    EXPECT_EQ(Lines{"C:\\P\\Duneva"}, changes.foldersRemoved) << report;
    EXPECT_EQ((Lines{"C:\\WINDOWS\\WIN.INI", "C:\\WINDOWS\\WININIT.INI"}), changes.filesChanged)
        << report;
    EXPECT_EQ(Lines{"C:\\WINDOWS\\NEW.INI"}, changes.filesAdded) << report;
    ASSERT_EQ(2u, changes.linesAppended.size()) << report;
    EXPECT_EQ("C:\\WINDOWS\\WININIT.INI", changes.linesAppended[0].first);
    EXPECT_EQ((Lines{"NULL=C:\\A", "NULL=C:\\B"}), changes.linesAppended[0].second);
    EXPECT_EQ(Lines{"[rename]"}, changes.linesAppended[1].second);
    EXPECT_TRUE(changes.valuesRemoved.empty() && changes.keysAdded.empty() &&
                changes.valuesChanged.empty() && changes.profileKeysChanged.empty())
        << report;
    EXPECT_NE(std::string::npos, report.find("Registry keys removed (1):\n"
                                             "  HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001\n"));
}

TEST(SimSnapshot, SeesValueAndProfileEditsInsideSurvivingKeys)
{
    MachineBuilder m;
    BuildMachine(m);
    ASSERT_TRUE(m.Load());
    SimSnapshot before = SimTakeSnapshot();
    m.Registry("[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001]\n\"DeviceDesc\"=\"E\"\n"
               "[HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001\\Sub]\n"
               "[HKEY_USERS\\.DEFAULT\\Shell Folders]\n\"Keep\"=\"k\"\n\"New\"=dword:1\n");
    ASSERT_TRUE(m.Load());
    WriteProfileStringA("Devices", "Other", "y");
    SimChanges changes = SimCompareSnapshots(before, SimTakeSnapshot());
    EXPECT_EQ(Lines{"HKEY_LOCAL_MACHINE\\Enum\\Root\\printer\\0001 \"DeviceDesc\""},
              changes.valuesChanged);
    EXPECT_EQ(Lines{"HKEY_USERS\\.DEFAULT\\Shell Folders \"Programs\""}, changes.valuesRemoved);
    EXPECT_EQ(Lines{"HKEY_USERS\\.DEFAULT\\Shell Folders \"New\""}, changes.valuesAdded);
    EXPECT_EQ(Lines{"[Devices] Other"}, changes.profileKeysChanged);
    EXPECT_TRUE(changes.linesAppended.empty()) << "an edit is not an append";
}

}  // namespace

// WIN.INI through GetProfileStringA and WriteProfileStringA: the profile's
// reading rules, and deletions that leave every other byte in place.
#include <cstring>

#include "machine_builder.h"
#include "platform.h"

namespace {

const char *const WIN_INI = "C:\\WINDOWS\\WIN.INI";

// Odd spacing, an LF-only line, a comment, a repeated section and a last
// line without a line end, all of which must survive an unrelated deletion.
const std::string PROFILE =
    "[windows]\r\n"
    "load=\r\n"
    "; TINTAVERA Brascora Duneva 10=comment\r\n"
    "[Devices]\r\n"
    "  TINTAVERA Brascora Duneva 10 =  BR32jp,LPT1:  \r\n"
    "Generico / solo testo=TTY,FILE:\n"
    "Quoted=\"  spaced  \"\r\n"
    "\r\n"
    "[TINTAVERA Brascora Duneva 10-LPT1]\r\n"
    "Timeout=15\r\n"
    "\r\n"
    "[devices]\r\n"
    "Hidden=by the first section\r\n"
    "[PrinterPorts]\r\n"
    "TINTAVERA Brascora Duneva 10=BR32jp,LPT1:,15,45";

struct ReadCase {
    const char *app;
    const char *key;
    const char *def;
    DWORD size;
    const char *expected;
};

TEST(SimProfile, ReadsValuesByTheProfileRules)
{
    const ReadCase cases[] = {
        {"devices", "tintavera brascora duneva 10", "x", 150, "BR32jp,LPT1:"},
        {"Devices", "Generico / solo testo", "x", 150, "TTY,FILE:"},
        {"Devices", "Quoted", "x", 150, "  spaced  "},
        {"Devices", "Hidden", "default  ", 150, "default"},
        {"Devices", "Missing", nullptr, 150, ""},
        {"Nowhere", "Missing", "BR32jp,lpt1:", 150, "BR32jp,lpt1:"},
        {"Devices", "TINTAVERA Brascora Duneva 10", "x", 7, "BR32jp"},
        {"Devices", "TINTAVERA Brascora Duneva 10", "x", 1, ""},
        {"PrinterPorts", "TINTAVERA Brascora Duneva 10", "x", 150, "BR32jp,LPT1:,15,45"},
        {"windows", "; TINTAVERA Brascora Duneva 10", "none", 150, "none"},
    };
    MachineBuilder m;
    m.File(WIN_INI, PROFILE);
    ASSERT_TRUE(m.Load());
    for (const ReadCase &c : cases) {
        char buffer[160];
        std::memset(buffer, '#', sizeof buffer);
        DWORD length = GetProfileStringA(c.app, c.key, c.def, buffer, c.size);
        EXPECT_STREQ(c.expected, buffer) << c.app << " / " << c.key;
        EXPECT_EQ(std::strlen(c.expected), length) << c.key;
        EXPECT_EQ('#', buffer[c.size]) << c.key << ": written past nSize";
    }
    EXPECT_EQ(PROFILE, m.Read(WIN_INI)) << "reading changed the file";
}

TEST(SimProfile, ListsSectionAndKeyNamesAsDoubleNulLists)
{
    MachineBuilder m;
    m.File(WIN_INI, PROFILE);
    ASSERT_TRUE(m.Load());
    char buffer[64];
    DWORD length = GetProfileStringA("Devices", nullptr, "", buffer, sizeof buffer);
    EXPECT_EQ(std::string("TINTAVERA Brascora Duneva 10\0Generico / solo testo\0Quoted\0\0", 59),
              std::string(buffer, length + 1));
    std::memset(buffer, '#', sizeof buffer);
    length = GetProfileStringA(nullptr, nullptr, "", buffer, 12);
    EXPECT_EQ(10u, length);
    EXPECT_EQ(std::string("windows\0De\0\0#", 13), std::string(buffer, 13));
}

struct DeleteCase {
    const char *app;
    const char *key;
    std::string expected;  // the file afterwards
};

TEST(SimProfile, DeletionsRemoveOnlyTheirOwnLines)
{
    const DeleteCase cases[] = {
        {"DEVICES", "TINTAVERA BRASCORA DUNEVA 10",
         "[windows]\r\nload=\r\n; TINTAVERA Brascora Duneva 10=comment\r\n[Devices]\r\n"
         "Generico / solo testo=TTY,FILE:\n"
         "Quoted=\"  spaced  \"\r\n\r\n[TINTAVERA Brascora Duneva 10-LPT1]\r\nTimeout=15\r\n\r\n"
         "[devices]\r\nHidden=by the first section\r\n[PrinterPorts]\r\n"
         "TINTAVERA Brascora Duneva 10=BR32jp,LPT1:,15,45"},
        {"tintavera brascora duneva 10-lpt1", nullptr,
         PROFILE.substr(0, PROFILE.find("[TINTAVERA")) + PROFILE.substr(PROFILE.find("[devices]"))},
        {"PrinterPorts", "TINTAVERA Brascora Duneva 10",
         PROFILE.substr(0, PROFILE.find("TINTAVERA Brascora Duneva 10=BR32jp,LPT1:,15"))},
        {"PrinterPorts", nullptr, PROFILE.substr(0, PROFILE.find("[PrinterPorts]"))},
        {"Devices", nullptr, PROFILE.substr(0, PROFILE.find("[Devices]")) +
                                 PROFILE.substr(PROFILE.find("[TINTAVERA"))},
        {"TINTAVERA Brascora Duneva 10-FILE", nullptr, PROFILE},
        {"Devices", "Missing", PROFILE},
        {"windows", "; TINTAVERA Brascora Duneva 10", PROFILE},
    };
    for (const DeleteCase &c : cases) {
        MachineBuilder m;
        m.File(WIN_INI, PROFILE);
        ASSERT_TRUE(m.Load());
        EXPECT_TRUE(WriteProfileStringA(c.app, c.key, nullptr)) << c.app;
        EXPECT_EQ(c.expected, m.Read(WIN_INI)) << c.app << " / " << (c.key ? c.key : "NULL");
    }
}

TEST(SimProfile, AMissingWinIniIsAnEmptyProfileThatDeletionsDoNotCreate)
{
    MachineBuilder m;
    m.Dir("C:\\WINDOWS");
    ASSERT_TRUE(m.Load());
    char buffer[150];
    EXPECT_EQ(12u, GetProfileStringA("Devices", "x", "BR32jp,lpt1:", buffer, 150));
    EXPECT_TRUE(WriteProfileStringA("Devices", "x", nullptr));
    EXPECT_TRUE(WriteProfileStringA("Devices", nullptr, nullptr));
    EXPECT_FALSE(m.Exists(WIN_INI));
    EXPECT_EQ("GetProfileStringA(Devices, x, BR32jp,lpt1:, BR32jp,lpt1:, 150) = 12\n",
              CallsOf("GetProfileStringA"));
}

TEST(SimProfile, WritesReplaceAddOrAppendAndRespectReadOnly)
{
    MachineBuilder m;
    m.File(WIN_INI, "[Devices]\r\nA=1\r\n\r\n[Other]\r\nB=2")
        .Ini("[Attributes]\nC:\\WINDOWS\\win.ini=R\n");
    ASSERT_TRUE(m.Load());
    EXPECT_FALSE(WriteProfileStringA("Devices", "A", nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SimLastError());
    SimUnloadMachine();
    m.Ini("");
    ASSERT_TRUE(m.Load());
    EXPECT_TRUE(WriteProfileStringA("devices", "a", "one"));
    EXPECT_TRUE(WriteProfileStringA("Devices", "C", "3"));
    EXPECT_TRUE(WriteProfileStringA("Other", "D", "4"));
    EXPECT_TRUE(WriteProfileStringA("New", "E", "5"));
    EXPECT_EQ("[Devices]\r\na=one\r\nC=3\r\n\r\n[Other]\r\nB=2\r\nD=4\r\n[New]\r\nE=5\r\n",
              m.Read(WIN_INI));
}

}  // namespace

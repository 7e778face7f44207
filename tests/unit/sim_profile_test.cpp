// WIN.INI deletions through WriteProfileStringA leave every other byte in
// place, which Wine's comparison, line by line, cannot see. (The reading
// rules are held to Wine by tests/wine/differential.py.)
#include <cstring>

#include "machine_builder.h"
#include "platform.h"

namespace {

const char *const WIN_INI = "C:\\WINDOWS\\WIN.INI";

// Odd spacing, an LF-only line, a comment, a repeated section and a last
// line without a line end, all of which must survive an unrelated deletion.
const std::string PROFILE =
    "[windows]\r\nload=\r\n; TINTAVERA Brascora Duneva 10=comment\r\n"
    "[Devices]\r\n  TINTAVERA Brascora Duneva 10 =  BR32jp,LPT1:  \r\n"
    "Generico / solo testo=TTY,FILE:\nQuoted=\"  spaced  \"\r\nquoted=again\r\n\r\n"
    "[TINTAVERA Brascora Duneva 10-LPT1]\r\nTimeout=15\r\n\r\n"
    "[devices]\r\nHidden=by the first section\r\n"
    "[PrinterPorts]\r\nTINTAVERA Brascora Duneva 10=BR32jp,LPT1:,15,45";

// PROFILE without the bytes from the first from up to to (the end when null).
std::string Without(const char *from, const char *to = nullptr)
{
    size_t at = PROFILE.find(from), end = to ? PROFILE.find(to, at) : std::string::npos;
    return PROFILE.substr(0, at) + (end == std::string::npos ? "" : PROFILE.substr(end));
}

TEST(SimProfile, DeletionsRemoveOnlyTheirOwnLines)
{
    // Section, key (null: the whole section), the file afterwards.
    const std::tuple<const char *, const char *, std::string> cases[] = {
        {"DEVICES", "TINTAVERA BRASCORA DUNEVA 10", Without("  TINTAVERA Brascora Duneva 10 =", "Generico")},
        {"PrinterPorts", "TINTAVERA Brascora Duneva 10", Without("TINTAVERA Brascora Duneva 10=BR32jp,LPT1:,15")},
        {"tintavera brascora duneva 10-lpt1", nullptr, Without("[TINTAVERA", "[devices]")},
        {"Devices", nullptr, Without("[Devices]", "[TINTAVERA")},
        {"PrinterPorts", nullptr, Without("[PrinterPorts]")},
        {"TINTAVERA Brascora Duneva 10-FILE", nullptr, PROFILE},
        {"Devices", "Missing", PROFILE},
        {"windows", "; TINTAVERA Brascora Duneva 10", PROFILE},
    };
    for (const auto &[app, key, expected] : cases) {
        MachineBuilder m;
        m.File(WIN_INI, PROFILE);
        ASSERT_TRUE(m.Load());
        EXPECT_TRUE(WriteProfileStringA(app, key, nullptr)) << app;
        EXPECT_EQ(expected, m.Read(WIN_INI)) << app << " / " << (key ? key : "NULL");
    }
}

TEST(SimProfile, AMissingWinIniIsEmptyAndAReadOnlyOneStays)
{
    MachineBuilder m;
    m.Dir("C:\\WINDOWS");
    ASSERT_TRUE(m.Load());
    char buffer[150];
    EXPECT_EQ(12u, GetProfileStringA("Devices", "x", "BR32jp,lpt1:", buffer, 150));
    EXPECT_TRUE(WriteProfileStringA("Devices", "x", nullptr) && WriteProfileStringA("Devices", nullptr, nullptr));
    EXPECT_FALSE(m.Exists(WIN_INI)) << "a deletion creates nothing";
    m.File(WIN_INI, PROFILE).Ini("[Attributes]\nC:\\WINDOWS\\win.ini=R\n");
    ASSERT_TRUE(m.Load());
    EXPECT_FALSE(WriteProfileStringA("Devices", nullptr, nullptr));
    EXPECT_EQ(ERROR_ACCESS_DENIED, SimLastError());
    EXPECT_EQ(PROFILE, m.Read(WIN_INI));
}

}  // namespace

// WIN.INI where Windows 9x alone decides: a missing file and a read-only
// one. (fuzz_profile holds deletions to whole lines, every other byte in
// place; tests/wine/differential.py holds the reading rules to Wine.)
#include <cstring>

#include "machine_builder.h"
#include "platform.h"

namespace {

const char *const WIN_INI = "C:\\WINDOWS\\WIN.INI";

const std::string PROFILE = "[Devices]\r\nTINTAVERA Brascora Duneva 10=BR32jp,LPT1:\r\n";

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

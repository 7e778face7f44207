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

namespace {

// Every read stays inside its buffer, whatever its size: a value cut to
// nSize-1 characters, a list of names cut as Windows 9x cuts it (count
// nSize-2), nothing at all in none. The bytes after the buffer stay.
TEST(SimProfile, ReadsStayInsideBuffersOfEverySize)
{
    MachineBuilder m;
    m.File(WIN_INI, "[Devices]\r\nStampante A=X,LPT1:\r\nStampante B=Y,LPT2:\r\n[windows]\r\ndevice=Stampante A\r\n");
    ASSERT_TRUE(m.Load());
    const struct {
        const char *section, *key;
    } reads[] = {{nullptr, nullptr}, {"Devices", nullptr}, {"windows", "device"}};
    for (const auto &read : reads) {
        for (DWORD size = 0; size < 40; size++) {
            std::string buffer(size + 8, '\xA5');
            DWORD got = GetProfileStringA(read.section, read.key, "", &buffer[0], size);
            EXPECT_EQ(std::string(8, '\xA5'), buffer.substr(size)) << size;
            // A value ends at its count; a list, cut or not, at an empty
            // name, each name before it ending in the buffer.
            size_t end = 0;
            while (end < size && buffer[end] && buffer.find('\0', end) < size)
                end = buffer.find('\0', end) + 1;
            bool ended = read.key ? got < size && buffer[got] == 0 : end < size && buffer[end] == 0;
            EXPECT_TRUE(size ? ended && got < size : got == 0) << size << " " << got;
        }
    }
}

}  // namespace

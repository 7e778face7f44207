// The simulated registry's contract: Windows 98 subtree deletion, the root
// aliases, case rules, handles that outlive their keys, and the value read.
#include <cstring>

#include "machine_builder.h"
#include "platform.h"

namespace {

const char *const CLASSES_AND_USERS =
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a}]\n@=\"ext\"\n"
    "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a}\\InProcServer32]\n@=\"BR32SHEL.DLL\"\n"
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Duneva]\n"
    "[HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Other]\n"
    "[HKEY_USERS\\.DEFAULT\\Software\\MenuOrder\\Duneva\\Sub]\n"
    "[HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000]\n"
    "\"DeviceDesc\"=\"TINTAVERA Brascora Duneva 10\"\n"
    "\"NoNul\"=hex(1):41,42\n"
    "\"Flags\"=dword:0000000a\n"
    "@=\"default\"\n";

struct DeleteCase {
    HKEY root;
    const char *subkey;
    const char *gone;   // a key of the deleted subtree, by its stored path
    const char *kept;   // its sibling, which stays
};

TEST(SimRegistry, DeletesWholeSubtreesThroughEveryRootName)
{
    const DeleteCase cases[] = {
        {HKEY_CLASSES_ROOT, "CLSID\\{5c3a}",
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID\\{5c3a}\\InProcServer32",
         "HKEY_LOCAL_MACHINE\\SOFTWARE\\Classes\\CLSID"},
        {HKEY_LOCAL_MACHINE, "software\\CLASSES\\clsid\\{5C3A}",
         "HKEY_CLASSES_ROOT\\CLSID\\{5c3a}", "HKEY_CLASSES_ROOT\\CLSID"},
        {HKEY_CURRENT_CONFIG, "System\\Print\\Duneva",
         "HKEY_LOCAL_MACHINE\\Config\\0001\\System\\Print\\Duneva",
         "HKEY_CURRENT_CONFIG\\System\\Print\\Other"},
        {HKEY_CURRENT_USER, "Software\\MenuOrder\\Duneva",
         "HKEY_USERS\\.DEFAULT\\Software\\MenuOrder\\Duneva\\Sub",
         "HKEY_USERS\\.DEFAULT\\Software\\MenuOrder"},
        {HKEY_USERS, ".default\\software\\menuorder\\duneva", "HKCU\\Software\\MenuOrder\\Duneva",
         "HKU\\.DEFAULT\\Software"},
    };
    for (const DeleteCase &c : cases) {
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS);
        ASSERT_TRUE(m.Load());
        EXPECT_EQ(ERROR_SUCCESS, RegDeleteKeyA(c.root, c.subkey)) << c.subkey;
        EXPECT_FALSE(SimKeyExists(c.gone)) << c.subkey;
        EXPECT_TRUE(SimKeyExists(c.kept)) << c.subkey;
        EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(c.root, c.subkey)) << c.subkey;
    }
}

TEST(SimRegistry, RefusesDeletionsThatNameNoSubkey)
{
    MachineBuilder m;
    m.Registry(CLASSES_AND_USERS);
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_LOCAL_MACHINE, ""));
    EXPECT_EQ(ERROR_INVALID_PARAMETER, RegDeleteKeyA(HKEY_CLASSES_ROOT, nullptr));
    EXPECT_EQ(ERROR_BADKEY, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\\\Root"));
    EXPECT_EQ(ERROR_BADKEY, RegDeleteKeyA(HKEY_LOCAL_MACHINE, std::string(256, 'k').c_str()));
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum\\Missing\\0000"));
    EXPECT_TRUE(SimKeyExists("HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000"));
    EXPECT_TRUE(SimKeyExists("HKEY_CLASSES_ROOT\\CLSID\\{5c3a}"));
}

TEST(SimRegistry, NamesMatchInAnyCaseAndKeepTheirStoredCase)
{
    MachineBuilder m;
    m.Registry(CLASSES_AND_USERS);
    ASSERT_TRUE(m.Load());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "ENUM\\root\\PRINTER\\0000", 0,
                                           KEY_QUERY_VALUE, &key));
    char text[260];
    DWORD size = sizeof text;
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "devicedesc", nullptr, nullptr,
                                              (LPBYTE)text, &size));
    EXPECT_STREQ("TINTAVERA Brascora Duneva 10", text);
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_TRUE(SimSaveMachine());
    EXPECT_NE(std::string::npos,
              MachineBuilder::ReadHost(m.dir() + "/registry.reg")
                  .find("[HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000]\r\n"));
}

TEST(SimRegistry, HandleToADeletedKeyFailsItsReadsButCloses)
{
    MachineBuilder m;
    m.Registry(CLASSES_AND_USERS);
    ASSERT_TRUE(m.Load());
    HKEY key = nullptr;
    HKEY child = nullptr;
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root", 0, 1, &key));
    ASSERT_EQ(ERROR_SUCCESS, RegOpenKeyExA(key, "Printer\\0000", 0, 1, &child));
    ASSERT_EQ(ERROR_SUCCESS, RegDeleteKeyA(HKEY_LOCAL_MACHINE, "Enum"));
    char text[260];
    DWORD size = sizeof text;
    EXPECT_EQ(ERROR_BADKEY, RegQueryValueExA(child, "DeviceDesc", nullptr, nullptr,
                                             (LPBYTE)text, &size));
    HKEY again = HKEY_USERS;
    EXPECT_EQ(ERROR_BADKEY, RegOpenKeyExA(key, "Printer", 0, 1, &again));
    EXPECT_EQ(nullptr, again) << "a failed open leaves no handle behind";
    EXPECT_EQ("hkey#1 HKEY_LOCAL_MACHINE\\Enum\\Root (deleted), "
              "hkey#2 HKEY_LOCAL_MACHINE\\Enum\\Root\\Printer\\0000 (deleted)",
              SimOpenHandles());
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(child));
    EXPECT_EQ(ERROR_SUCCESS, RegCloseKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegCloseKey(key));
    EXPECT_EQ("", SimOpenHandles());
}

struct QueryCase {
    const char *value;     // name, or null for the default value
    DWORD size;            // passed in *lpcbData
    bool partial;          // machine.ini MoreData=partial
    LONG result;
    DWORD type;
    DWORD sizeOut;
    const char *buffer;    // the buffer afterwards (it starts as "########")
    size_t compared;       // bytes of it compared
};

TEST(SimRegistry, QueryValueReturnsTheStoredBytesAsWindows98Does)
{
    const QueryCase cases[] = {
        {"DeviceDesc", 29, false, ERROR_SUCCESS, REG_SZ, 29, "TINTAVERA Brascora Duneva 10", 29},
        {"DeviceDesc", 28, false, ERROR_MORE_DATA, REG_SZ, 29, "########", 8},
        {"DeviceDesc", 4, true, ERROR_MORE_DATA, REG_SZ, 29, "TINT####", 8},
        {"NoNul", 8, false, ERROR_SUCCESS, REG_SZ, 2, "AB######", 8},
        {"Flags", 8, false, ERROR_SUCCESS, REG_DWORD, 4, "\x0a\0\0\0####", 8},
        {nullptr, 8, false, ERROR_SUCCESS, REG_SZ, 8, "default", 8},
        {"", 8, false, ERROR_SUCCESS, REG_SZ, 8, "default", 8},
        {"Missing", 8, false, ERROR_FILE_NOT_FOUND, 77, 8, "########", 8},
    };
    for (const QueryCase &c : cases) {
        MachineBuilder m;
        m.Registry(CLASSES_AND_USERS).Ini(c.partial ? "[Machine]\nMoreData=partial\n" : "");
        ASSERT_TRUE(m.Load());
        HKEY key = nullptr;
        ASSERT_EQ(ERROR_SUCCESS,
                  RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Printer\\0000", 0, 1, &key));
        char buffer[40];
        std::memset(buffer, '#', sizeof buffer);
        DWORD type = 77;
        DWORD size = c.size;
        LONG result = RegQueryValueExA(key, c.value, nullptr, &type, (LPBYTE)buffer, &size);
        std::string label = c.value ? c.value : "(default)";
        EXPECT_EQ(c.result, result) << label << "\n" << SimFormatCalls(SimCalls());
        EXPECT_EQ(c.type, type) << label;
        EXPECT_EQ(c.sizeOut, size) << label;
        EXPECT_EQ(std::string(c.buffer, c.compared), std::string(buffer, c.compared)) << label;
        EXPECT_EQ('#', buffer[c.size]) << label << ": written past the size given";
        RegCloseKey(key);
    }
}

TEST(SimRegistry, QueryValueChecksItsArgumentsAndReportsSizes)
{
    MachineBuilder m;
    m.Registry(CLASSES_AND_USERS);
    ASSERT_TRUE(m.Load());
    HKEY key = nullptr;
    ASSERT_EQ(ERROR_SUCCESS,
              RegOpenKeyExA(HKEY_LOCAL_MACHINE, "Enum\\Root\\Printer\\0000", 0, 1, &key));
    DWORD size = 0;
    DWORD reserved = 0;
    char buffer[8];
    EXPECT_EQ(ERROR_SUCCESS, RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(29u, size);
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "DeviceDesc", &reserved, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_INVALID_PARAMETER,
              RegQueryValueExA(key, "DeviceDesc", nullptr, nullptr, (LPBYTE)buffer, nullptr));
    EXPECT_EQ(ERROR_INVALID_HANDLE,
              RegQueryValueExA((HKEY)(UINT_PTR)999, "DeviceDesc", nullptr, nullptr, nullptr, &size));
    EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(HKEY_LOCAL_MACHINE));
    EXPECT_EQ(ERROR_SUCCESS, RegFlushKey(key));
    EXPECT_EQ(ERROR_INVALID_HANDLE, RegFlushKey((HKEY)(UINT_PTR)999));
    RegCloseKey(key);
    EXPECT_EQ("RegOpenKeyExA(HKEY_LOCAL_MACHINE, Enum\\Root\\Printer\\0000, 0, 1, hkey#1) = 0\n",
              CallsOf("RegOpenKeyExA"));
    EXPECT_EQ("RegFlushKey(HKEY_LOCAL_MACHINE) = 0\nRegFlushKey(hkey#1) = 0\n"
              "RegFlushKey(hkey#999) = 6\n",
              CallsOf("RegFlushKey"));
}

}  // namespace

// The built Windows program, read back from its file: what Windows 95 needs
// to load it, what it imports, and its four resources, each the bytes that
// res/ made (make_dialogs.py and make_icon.py check those against their
// descriptions).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <sstream>

#include "dialogs/template.h"
#include "pe_file.h"

#include "dialogs.inc"

namespace {

std::string ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

class BuiltProgram : public ::testing::Test {
protected:
    PeFile pe;

    void SetUp() override
    {
        if (!std::filesystem::exists(BR_WIN32_EXE))
            GTEST_SKIP() << BR_WIN32_EXE << " is not built: cmake --build --preset win32";
        std::string error;
        ASSERT_TRUE(ReadPeFile(BR_WIN32_EXE, &pe, &error)) << error;
    }

    const PeResource *Find(const std::string &type, const std::string &name)
    {
        auto found = std::find_if(pe.resources.begin(), pe.resources.end(),
                                  [&](const PeResource &r) { return r.type == type && r.name == name; });
        return found == pe.resources.end() ? nullptr : &*found;
    }
};

TEST_F(BuiltProgram, IsAVersion4GuiProgramForI386WithinItsSize)
{
    std::printf("BR32UNIN.EXE: %zu bytes (limit 16384)\n", pe.fileSize);
    char header[80];
    std::snprintf(header, sizeof header, "machine %#x, subsystem %u %u.%u, OS %u.%u, flags %#x",
                  pe.machine, pe.subsystem, pe.majorSubsystem, pe.minorSubsystem, pe.majorOs, pe.minorOs,
                  pe.characteristics & 0x2002);  // executable image, DLL
    EXPECT_STREQ("machine 0x14c, subsystem 2 4.0, OS 4.0, flags 0x2", header) << "i386, Windows GUI";
    EXPECT_LE(pe.fileSize, 16384u);
}

TEST_F(BuiltProgram, RunsNothingBeforeItsEntryPoint)
{
    // Static constructors and thread-local data would need a run-time
    // library to run them. The linker folds constructor tables into .text,
    // so the objects are where their sections show, by name.
    EXPECT_EQ(0u, pe.tlsSize);
    int objects = 0;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(
             std::filesystem::path(BR_WIN32_EXE).parent_path() / "CMakeFiles/br32unin.dir")) {
        if (entry.path().extension() != ".obj")
            continue;
        objects++;
        std::string object = ReadFile(entry.path().string());
        for (const char *section : {".ctors", ".dtors", ".init_array", ".CRT", ".tls", ".eh_frame"})
            EXPECT_EQ(std::string::npos, object.find(section)) << entry.path() << ": " << section;
    }
    EXPECT_GT(objects, 0) << "no objects of the Windows build";
}

TEST_F(BuiltProgram, ImportsOnlyTheAllowedFunctions)
{
    std::ifstream list(BR_SOURCE_DIR "/tests/pe/imports.allow");
    std::set<std::string> allowed;
    for (std::string line, dll, function; std::getline(list, line);) {
        if (line[0] != '#' && std::istringstream(line) >> dll >> function)
            allowed.insert(dll + ".dll " + function);
    }
    ASSERT_FALSE(allowed.empty() || pe.imports.empty()) << "tests/pe/imports.allow, or no imports";
    for (auto [dll, function] : pe.imports) {
        for (char &c : dll)
            c = (char)std::tolower((unsigned char)c);
        EXPECT_TRUE(allowed.count(dll + " " + function))
            << dll << " " << (function.empty() ? "by ordinal" : function) << " is not in tests/pe/imports.allow";
    }
}

TEST_F(BuiltProgram, HoldsExactlyTheFourNeutralResources)
{
    // Type (RT_ICON, RT_DIALOG, RT_GROUP_ICON), name, language/code page, size.
    std::string inventory;
    for (const PeResource &r : pe.resources)
        inventory += r.type + " " + r.name + " " + std::to_string(r.language) + "/" + std::to_string(r.codePage) +
                     " " + std::to_string(r.data.size()) + "\n";
    EXPECT_EQ("#3 #1 0/0 744\n#5 UNINSTALL 0/0 214\n#5 WELCOME 0/0 176\n#14 IDI_UNINICON 0/0 20\n", inventory);
    for (const DialogTemplateBytes *t = g_dialogTemplates; t->name; t++) {
        const PeResource *r = Find("#5", t->name);
        ASSERT_TRUE(r) << t->name;
        EXPECT_EQ(std::vector<unsigned char>(t->bytes, t->bytes + t->size), r->data)
            << t->name << " differs from res/dialogs.inc (run res/make_dialogs.py; for WELCOME, "
            << "compare res/br32unin.rc with res/dialogs.txt)";
    }
}

TEST_F(BuiltProgram, CarriesOne32By32SixteenColourIcon)
{
    const PeResource *group = Find("#14", "IDI_UNINICON"), *image = Find("#3", "#1");
    ASSERT_TRUE(group && image && image->data.size() == 744);
    // Reserved, type icon, one image: 32x32, 16 colours, 1 plane, 4 bits, 744 bytes, icon 1.
    EXPECT_EQ((std::vector<unsigned char>{0, 0, 1, 0, 1, 0, 32, 32, 16, 0, 1, 0, 4, 0, 0xE8, 2, 0, 0, 1, 0}), group->data);
    EXPECT_EQ(ReadFile(BR_SOURCE_DIR "/res/uninicon.ico").substr(22), std::string(image->data.begin(), image->data.end()))
        << "the icon image differs from res/uninicon.ico";
}

}  // namespace

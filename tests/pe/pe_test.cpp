// The built Windows program, read back from its file: what Windows 95 needs
// to load it, what it imports, and its four resources. The templates are
// also decoded from the bytes that make_dialogs.py made, so that a change to
// dialogs.txt that breaks the layout fails here even before a Windows build.
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
    // BITMAPINFOHEADER: 40 bytes, 32 by 64 (bitmap and mask), 1 plane, 4
    // bits, BI_RGB, 512 bytes of bitmap, the rest 0; then the standard 16
    // colours as blue, green, red, 0.
    std::vector<unsigned char> header = {40, 0, 0, 0, 32, 0, 0, 0, 64, 0, 0, 0, 1, 0, 4, 0, 0, 0, 0, 0, 0, 2};
    header.resize(40);
    for (uint32_t rgb : {0x000000, 0x800000, 0x008000, 0x808000, 0x000080, 0x800080, 0x008080, 0xC0C0C0,
                         0x808080, 0xFF0000, 0x00FF00, 0xFFFF00, 0x0000FF, 0xFF00FF, 0x00FFFF, 0xFFFFFF})
        header.insert(header.end(), {(unsigned char)rgb, (unsigned char)(rgb >> 8), (unsigned char)(rgb >> 16), 0});
    EXPECT_EQ(header, std::vector<unsigned char>(image->data.begin(), image->data.begin() + 104));
    // The mask's rows start bottom first; a set bit is a transparent pixel.
    const unsigned char *mask = image->data.data() + 104 + 512;
    auto transparent = [&](int x, int y) { return (mask[(31 - y) * 4 + x / 8] >> (7 - x % 8)) & 1; };
    EXPECT_TRUE(transparent(0, 0) && transparent(31, 0) && transparent(0, 31) && transparent(31, 31) &&
                !transparent(16, 16)) << "transparent corners, the middle drawn";
}

// ------------------------------------------------ the described templates

// A template of res/dialogs.inc as text: its header and font, then a line
// for each control (its class by ordinal or by name, with its letter case).
std::string Described(const std::string &name)
{
    auto Shown = [](const SimTemplateName &n) { return n.isOrdinal ? "#" + std::to_string(n.ordinal) : '"' + n.text + '"'; };
    for (const DialogTemplateBytes *b = g_dialogTemplates; b->name; b++) {
        SimDialogTemplate t;
        std::string error;
        if (name != b->name || !SimParseDialogTemplate(b->bytes, b->size, &t, &error))
            continue;
        char line[300];
        std::snprintf(line, sizeof line, "%s help %u style %08X ex %X at %d,%d size %d,%d menu %s class %s \"%s\"\n"
                      "font %u %u %u %u \"%s\"%s\n", t.extended ? "extended" : "classic", t.helpId, t.style,
                      t.exStyle, t.x, t.y, t.cx, t.cy, Shown(t.menu).c_str(), Shown(t.windowClass).c_str(),
                      t.caption.c_str(), t.pointSize, t.weight, t.italic, t.charset, t.face.c_str(),
                      t.parsedBytes == b->size ? "" : ", bytes after the last control");
        std::string text = line;
        for (const SimTemplateControl &c : t.controls) {
            std::snprintf(line, sizeof line, "%u %s %s %s style %08X ex %X at %d,%d size %d,%d help %u data %u\n",
                          c.id, c.className.isOrdinal ? "ordinal" : "named", SimControlClass(c).c_str(),
                          Shown(c.text).c_str(), c.style, c.exStyle, c.x, c.y, c.cx, c.cy, c.helpId, c.extraBytes);
            text += line;
        }
        return text;
    }
    return "no template " + name + " in res/dialogs.inc";
}

TEST(DescribedTemplates, AreTheProgramsTwoDialogs)
{
    EXPECT_EQ("classic help 0 style 80C808C0 ex 0 at 0,0 size 273,95 menu \"\" class \"\" \"Welcoming\"\n"
              "font 8 0 0 0 \"MS Sans Serif\"\n"
              "1 ordinal BUTTON \"OK\" style 50010001 ex 0 at 42,68 size 50,14 help 0 data 0\n"
              "2 ordinal BUTTON \"Cancel\" style 50010000 ex 0 at 165,68 size 53,14 help 0 data 0\n"
              "1000 ordinal STATIC \"???\" style 50020000 ex 0 at 23,17 size 226,37 help 0 data 0\n",
              Described("WELCOME"));
    EXPECT_EQ("extended help 0 style 90C808C0 ex 0 at 0,0 size 186,89 menu \"\" class \"\" \"Uninstalling\"\n"
              "font 8 0 0 1 \"MS Sans Serif\"\n"
              "1007 ordinal STATIC \"!!!\" style 50020000 ex 0 at 21,13 size 148,34 help 0 data 0\n"
              "1008 named msctls_progress32 \"Progress1\" style 50800000 ex 2000 at 28,60 size 126,9 help 0 data 0\n",
              Described("UNINSTALL"));
}

}  // namespace

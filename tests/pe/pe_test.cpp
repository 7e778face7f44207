// The built Windows program, read back from its file: what Windows 95 needs
// to load it, what it imports, and its four resources. The templates are
// also decoded from the bytes that make_dialogs.py made, so that a change to
// dialogs.txt that breaks the layout fails here even before a Windows build.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <sys/stat.h>

#include "dialog_template.h"
#include "pe_file.h"

#include "dialogs.inc"

namespace {

const char *const EXE_PATH = BR_WIN32_EXE;
const size_t SIZE_LIMIT = 16 * 1024;

class BuiltProgram : public ::testing::Test {
protected:
    PeFile pe;

    void SetUp() override
    {
        struct stat st;
        if (stat(EXE_PATH, &st) != 0)
            GTEST_SKIP() << EXE_PATH << " is not built: cmake --build --preset win32";
        std::string error;
        ASSERT_TRUE(ReadPeFile(EXE_PATH, &pe, &error)) << EXE_PATH << ": " << error;
    }

    const PeResource *Find(uint32_t type, const std::string &name)
    {
        for (const PeResource &r : pe.resources) {
            if (r.type == type && r.name == name)
                return &r;
        }
        return nullptr;
    }
};

std::string Lower(std::string text)
{
    for (char &c : text)
        c = (char)std::tolower((unsigned char)c);
    return text;
}

std::vector<unsigned char> ReadFile(const std::string &path)
{
    std::ifstream file(path, std::ios::binary);
    return std::vector<unsigned char>(std::istreambuf_iterator<char>(file),
                                      std::istreambuf_iterator<char>());
}

TEST_F(BuiltProgram, IsAVersion4GuiProgramForI386WithinItsSize)
{
    std::printf("BR32UNIN.EXE: %zu bytes (limit %zu)\n", pe.fileSize, SIZE_LIMIT);
    EXPECT_EQ(pe.machine, 0x014C) << "i386";
    EXPECT_EQ(pe.magic, 0x010B) << "PE32";
    EXPECT_EQ(pe.subsystem, 2) << "Windows GUI";
    EXPECT_EQ(pe.majorSubsystem, 4);
    EXPECT_EQ(pe.minorSubsystem, 0);
    EXPECT_EQ(pe.majorOs, 4);
    EXPECT_EQ(pe.minorOs, 0);
    EXPECT_TRUE(pe.characteristics & 0x0002) << "executable image";
    EXPECT_FALSE(pe.characteristics & 0x2000) << "not a DLL";
    EXPECT_LE(pe.fileSize, SIZE_LIMIT);
}

// The section names of a COFF object file; long names through its string
// table.
std::vector<std::string> ObjectSections(const std::vector<unsigned char> &o)
{
    std::vector<std::string> names;
    auto u16 = [&](size_t at) { return at + 2 <= o.size() ? o[at] | o[at + 1] << 8 : 0; };
    auto u32 = [&](size_t at) { return (size_t)(u16(at) | u16(at + 2) << 16); };
    size_t count = u16(2), symbols = u32(8), strings = symbols + 18 * u32(12);
    for (size_t i = 0; i < count; i++) {
        size_t at = 20 + u16(16) + 40 * i;
        if (at + 8 > o.size())
            break;
        std::string name(o.begin() + at, o.begin() + at + 8);
        name = name.substr(0, name.find('\0'));
        if (!name.empty() && name[0] == '/') {
            size_t offset = strings + std::strtoul(name.c_str() + 1, nullptr, 10);
            name.clear();
            while (offset < o.size() && o[offset])
                name += (char)o[offset++];
        }
        names.push_back(name);
    }
    return names;
}

TEST_F(BuiltProgram, RunsNothingBeforeItsEntryPoint)
{
    // Static constructors and thread-local data would need a run-time
    // library to run them. The linker folds constructor tables into .text,
    // so the objects are where they show.
    EXPECT_EQ(pe.tlsSize, 0u);
    int objects = 0;
    std::string dir = std::string(EXE_PATH).substr(0, std::string(EXE_PATH).rfind('/'));
    for (const auto &entry : std::filesystem::recursive_directory_iterator(
             dir + "/CMakeFiles/br32unin.dir")) {
        if (entry.path().extension() != ".obj")
            continue;
        objects++;
        for (const std::string &name : ObjectSections(ReadFile(entry.path().string()))) {
            EXPECT_TRUE(name.rfind(".ctors", 0) != 0 && name.rfind(".dtors", 0) != 0 &&
                        name.rfind(".init_array", 0) != 0 && name.rfind(".CRT", 0) != 0 &&
                        name.rfind(".tls", 0) != 0 && name.rfind(".eh_frame", 0) != 0)
                << entry.path() << ": section " << name;
        }
    }
    EXPECT_GT(objects, 0) << "no objects of the Windows build";
}

TEST_F(BuiltProgram, ImportsOnlyTheAllowedFunctions)
{
    std::ifstream list(BR_SOURCE_DIR "/tests/pe/imports.allow");
    ASSERT_TRUE(list) << "tests/pe/imports.allow";
    std::set<std::string> allowed;
    std::string line;
    while (std::getline(list, line)) {
        std::istringstream words(line);
        std::string dll, function;
        if (line.empty() || line[0] == '#' || !(words >> dll >> function))
            continue;
        allowed.insert(Lower(dll) + "!" + function);
    }
    ASSERT_FALSE(allowed.empty());

    std::string listing;
    for (const PeImport &import : pe.imports) {
        std::string dll = Lower(import.dll);
        if (dll.size() > 4 && dll.compare(dll.size() - 4, 4, ".dll") == 0)
            dll.erase(dll.size() - 4);
        listing += "  " + import.dll + " " + import.function + "\n";
        EXPECT_FALSE(import.function.empty())
            << import.dll << " ordinal " << import.ordinal << ": imports go by name";
        EXPECT_TRUE(allowed.count(dll + "!" + import.function))
            << import.dll << " " << import.function << " is not in tests/pe/imports.allow";
    }
    std::printf("imports:\n%s", listing.c_str());
    EXPECT_FALSE(pe.imports.empty());
}

TEST_F(BuiltProgram, HoldsExactlyTheFourNeutralResources)
{
    struct Expected {
        uint32_t type;
        const char *name;
        size_t size;
    } const expected[] = {
        {3, "#1", 744},             // RT_ICON
        {5, "UNINSTALL", 214},      // RT_DIALOG
        {5, "WELCOME", 176},        // RT_DIALOG
        {14, "IDI_UNINICON", 20},   // RT_GROUP_ICON
    };
    std::string inventory;
    for (const PeResource &r : pe.resources)
        inventory += "  type " + std::to_string(r.type) + r.typeName + " " + r.name + " lang " +
                     std::to_string(r.language) + " size " + std::to_string(r.data.size()) + "\n";
    ASSERT_EQ(pe.resources.size(), 4u) << inventory;
    for (size_t i = 0; i < 4; i++) {
        const PeResource &r = pe.resources[i];
        EXPECT_EQ(r.type, expected[i].type) << inventory;
        EXPECT_EQ(r.name, expected[i].name) << inventory;
        EXPECT_EQ(r.data.size(), expected[i].size) << r.name;
        EXPECT_EQ(r.language, 0u) << r.name << ": neutral language";
        EXPECT_EQ(r.codePage, 0u) << r.name;
    }
}

TEST_F(BuiltProgram, CarriesTheDescribedTemplatesByteForByte)
{
    for (const DialogTemplateBytes *t = g_dialogTemplates; t->name; t++) {
        const PeResource *r = Find(5, t->name);
        ASSERT_TRUE(r) << t->name;
        EXPECT_EQ(r->data, std::vector<unsigned char>(t->bytes, t->bytes + t->size))
            << t->name << " differs from res/dialogs.inc (run res/make_dialogs.py; for WELCOME, "
            << "compare res/br32unin.rc with res/dialogs.txt)";
    }
}

TEST_F(BuiltProgram, CarriesOne32By32SixteenColourIcon)
{
    const PeResource *group = Find(14, "IDI_UNINICON");
    const PeResource *image = Find(3, "#1");
    ASSERT_TRUE(group && image);
    const std::vector<unsigned char> directory = {
        0, 0, 1, 0, 1, 0,                  // reserved, type icon, one image
        32, 32, 16, 0, 1, 0, 4, 0,         // 32x32, 16 colours, 1 plane, 4 bits
        0xE8, 0x02, 0, 0, 1, 0,            // 744 bytes, icon resource 1
    };
    EXPECT_EQ(group->data, directory);

    std::vector<unsigned char> ico = ReadFile(BR_SOURCE_DIR "/res/uninicon.ico");
    ASSERT_EQ(ico.size(), 22u + 744u);
    EXPECT_TRUE(std::equal(image->data.begin(), image->data.end(), ico.begin() + 22))
        << "the icon image differs from res/uninicon.ico";

    const unsigned char *d = image->data.data();
    auto u32 = [&](size_t at) { return d[at] | d[at + 1] << 8 | d[at + 2] << 16 | d[at + 3] << 24; };
    EXPECT_EQ(u32(0), 40) << "BITMAPINFOHEADER";
    EXPECT_EQ(u32(4), 32);
    EXPECT_EQ(u32(8), 64) << "colour bitmap and mask";
    EXPECT_EQ(d[12] | d[13] << 8, 1) << "planes";
    EXPECT_EQ(d[14] | d[15] << 8, 4) << "bits per pixel";
    EXPECT_EQ(u32(16), 0) << "BI_RGB";
    EXPECT_EQ(u32(20), 512) << "image size";
    for (size_t at = 24; at < 40; at += 4)
        EXPECT_EQ(u32(at), 0) << "header byte " << at;
    static const unsigned char palette[16][3] = {
        {0, 0, 0},       {0x80, 0, 0},    {0, 0x80, 0},       {0x80, 0x80, 0},
        {0, 0, 0x80},    {0x80, 0, 0x80}, {0, 0x80, 0x80},    {0xC0, 0xC0, 0xC0},
        {0x80, 0x80, 0x80}, {0xFF, 0, 0}, {0, 0xFF, 0},       {0xFF, 0xFF, 0},
        {0, 0, 0xFF},    {0xFF, 0, 0xFF}, {0, 0xFF, 0xFF},    {0xFF, 0xFF, 0xFF},
    };
    for (int i = 0; i < 16; i++) {
        const unsigned char *q = d + 40 + 4 * i;  // blue, green, red, 0
        EXPECT_TRUE(q[2] == palette[i][0] && q[1] == palette[i][1] && q[0] == palette[i][2] &&
                    q[3] == 0)
            << "palette entry " << i;
    }
    // The mask's rows start bottom first; a set bit is a transparent pixel.
    const unsigned char *mask = d + 40 + 64 + 512;
    auto transparent = [&](int x, int y) {
        return (mask[(31 - y) * 4 + x / 8] >> (7 - x % 8)) & 1;
    };
    EXPECT_TRUE(transparent(0, 0) && transparent(31, 0) && transparent(0, 31) &&
                transparent(31, 31))
        << "corners";
    EXPECT_FALSE(transparent(16, 16)) << "the middle";
}

// ------------------------------------------------ the described templates

struct ExpectedControl {
    uint32_t id;
    const char *className;  // exact letter case for a class stored by name
    bool byOrdinal;
    const char *text;
    uint32_t style, exStyle;
    int x, y, cx, cy;
};

void ExpectControls(const SimDialogTemplate &t, const std::vector<ExpectedControl> &expected)
{
    ASSERT_EQ(t.controls.size(), expected.size());
    for (size_t i = 0; i < expected.size(); i++) {
        const SimTemplateControl &c = t.controls[i];
        const ExpectedControl &e = expected[i];
        SCOPED_TRACE("control " + std::to_string(e.id));
        EXPECT_EQ(c.id, e.id);
        EXPECT_EQ(c.className.isOrdinal, e.byOrdinal);
        EXPECT_EQ(SimControlClass(c), e.className);
        EXPECT_FALSE(c.text.isOrdinal);
        EXPECT_EQ(c.text.text, e.text);
        EXPECT_EQ(c.style, e.style);
        EXPECT_EQ(c.exStyle, e.exStyle);
        EXPECT_EQ(c.helpId, 0u);
        EXPECT_EQ(c.extraBytes, 0u);
        EXPECT_EQ(c.x, e.x);
        EXPECT_EQ(c.y, e.y);
        EXPECT_EQ(c.cx, e.cx);
        EXPECT_EQ(c.cy, e.cy);
    }
}

SimDialogTemplate Described(const char *name)
{
    SimDialogTemplate t;
    for (const DialogTemplateBytes *b = g_dialogTemplates; b->name; b++) {
        if (std::string(b->name) == name) {
            std::string error;
            EXPECT_TRUE(SimParseDialogTemplate(b->bytes, b->size, &t, &error)) << error;
            EXPECT_EQ(t.parsedBytes, b->size) << name << ": bytes after the last control";
        }
    }
    return t;
}

TEST(DescribedTemplates, WelcomeIsAClassicTemplateWithThreeControls)
{
    SimDialogTemplate t = Described("WELCOME");
    EXPECT_FALSE(t.extended);
    EXPECT_EQ(t.style, 0x80C808C0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.x, 0);
    EXPECT_EQ(t.y, 0);
    EXPECT_EQ(t.cx, 273);
    EXPECT_EQ(t.cy, 95);
    EXPECT_TRUE(!t.menu.isOrdinal && t.menu.text.empty());
    EXPECT_TRUE(!t.windowClass.isOrdinal && t.windowClass.text.empty());
    EXPECT_EQ(t.caption, "Welcoming");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.face, "MS Sans Serif");
    ExpectControls(t, {
        {1, "BUTTON", true, "OK", 0x50010001, 0, 42, 68, 50, 14},
        {2, "BUTTON", true, "Cancel", 0x50010000, 0, 165, 68, 53, 14},
        {1000, "STATIC", true, "???", 0x50020000, 0, 23, 17, 226, 37},
    });
}

TEST(DescribedTemplates, UninstallIsAnExtendedTemplateWithAProgressBar)
{
    SimDialogTemplate t = Described("UNINSTALL");
    EXPECT_TRUE(t.extended);
    EXPECT_EQ(t.helpId, 0u);
    EXPECT_EQ(t.style, 0x90C808C0u);
    EXPECT_EQ(t.exStyle, 0u);
    EXPECT_EQ(t.cx, 186);
    EXPECT_EQ(t.cy, 89);
    EXPECT_EQ(t.caption, "Uninstalling");
    EXPECT_EQ(t.pointSize, 8);
    EXPECT_EQ(t.weight, 0);
    EXPECT_EQ(t.italic, 0);
    EXPECT_EQ(t.charset, 1);
    EXPECT_EQ(t.face, "MS Sans Serif");
    ExpectControls(t, {
        {1007, "STATIC", true, "!!!", 0x50020000, 0, 21, 13, 148, 34},
        {1008, "msctls_progress32", false, "Progress1", 0x50800000, 0x2000, 28, 60, 126, 9},
    });
}

}  // namespace

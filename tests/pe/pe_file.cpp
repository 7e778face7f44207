// A PE32 reader for the tests: every offset is checked against the file's
// size, so a damaged file fails the read instead of the test program.
#include "pe_file.h"

#include <fstream>
#include <iterator>

namespace {

struct Image {
    std::vector<unsigned char> bytes;
    std::vector<PeSection> sections;
    std::string error;

    bool Has(size_t at, size_t n) const { return at <= bytes.size() && n <= bytes.size() - at; }
    uint32_t U16(size_t at)
    {
        if (!Has(at, 2)) {
            Fail("read past the end at " + std::to_string(at));
            return 0;
        }
        return bytes[at] | bytes[at + 1] << 8;
    }
    uint32_t U32(size_t at) { return U16(at) | U16(at + 2) << 16; }
    void Fail(const std::string &what)
    {
        if (error.empty())
            error = what;
    }
    // The file offset of a virtual address, or 0 when no section holds it.
    size_t Offset(uint32_t rva)
    {
        for (const PeSection &s : sections) {
            if (rva >= s.virtualAddress && rva < s.virtualAddress + s.rawSize)
                return s.rawOffset + (rva - s.virtualAddress);
        }
        Fail("address outside the sections: " + std::to_string(rva));
        return 0;
    }
    std::string AsciiZ(size_t at)
    {
        std::string text;
        while (Has(at, 1) && bytes[at])
            text += (char)bytes[at++];
        return text;
    }
};

void ReadImports(Image &im, uint32_t rva, PeFile *pe)
{
    for (size_t d = im.Offset(rva); im.error.empty(); d += 20) {
        uint32_t lookup = im.U32(d), nameRva = im.U32(d + 12), thunks = im.U32(d + 16);
        if (!nameRva && !thunks)
            return;
        std::string dll = im.AsciiZ(im.Offset(nameRva));
        for (size_t t = im.Offset(lookup ? lookup : thunks); im.error.empty(); t += 4) {
            uint32_t entry = im.U32(t);
            if (!entry)
                break;
            if (entry & 0x80000000u)
                pe->imports.push_back(PeImport{dll, "", (uint16_t)entry});
            else
                pe->imports.push_back(PeImport{dll, im.AsciiZ(im.Offset(entry) + 2), 0});
        }
    }
}

// A directory entry's name: a string at an offset in the section, or an id.
void EntryName(Image &im, size_t base, uint32_t field, uint32_t *id, std::string *name)
{
    *id = 0;
    name->clear();
    if (!(field & 0x80000000u)) {
        *id = field;
        return;
    }
    size_t at = base + (field & 0x7FFFFFFFu);
    uint32_t length = im.U16(at);
    for (uint32_t i = 0; i < length && im.error.empty(); i++)
        *name += (char)im.U16(at + 2 + 2 * i);
}

// Type, name and language: the three levels of the resource tree.
void ReadResources(Image &im, uint32_t rva, PeFile *pe)
{
    size_t base = im.Offset(rva);
    auto entries = [&](size_t dir, auto each) {
        uint32_t count = im.U16(dir + 12) + im.U16(dir + 14);
        for (uint32_t i = 0; i < count && im.error.empty(); i++)
            each(im.U32(dir + 16 + 8 * i), im.U32(dir + 16 + 8 * i + 4));
    };
    entries(base, [&](uint32_t typeField, uint32_t typeTarget) {
        PeResource r{};
        EntryName(im, base, typeField, &r.type, &r.typeName);
        entries(base + (typeTarget & 0x7FFFFFFFu), [&](uint32_t nameField, uint32_t nameTarget) {
            uint32_t id;
            EntryName(im, base, nameField, &id, &r.name);
            if (!(nameField & 0x80000000u))
                r.name = "#" + std::to_string(id);
            entries(base + (nameTarget & 0x7FFFFFFFu), [&](uint32_t lang, uint32_t leaf) {
                if (leaf & 0x80000000u) {
                    im.Fail("a fourth level in the resource tree");
                    return;
                }
                size_t entry = base + leaf;
                r.language = lang;
                r.codePage = im.U32(entry + 8);
                size_t data = im.Offset(im.U32(entry));
                uint32_t size = im.U32(entry + 4);
                if (!im.Has(data, size)) {
                    im.Fail("resource data past the end");
                    return;
                }
                r.data.assign(im.bytes.begin() + data, im.bytes.begin() + data + size);
                pe->resources.push_back(r);
            });
        });
    });
}

}  // namespace

bool ReadPeFile(const std::string &path, PeFile *pe, std::string *error)
{
    Image im;
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        *error = "cannot open " + path;
        return false;
    }
    im.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    *pe = PeFile();
    pe->fileSize = im.bytes.size();
    if (im.U16(0) != 0x5A4D) {
        *error = "no MZ header";
        return false;
    }
    size_t nt = im.U32(0x3C);
    if (im.U32(nt) != 0x4550) {
        *error = "no PE signature";
        return false;
    }
    size_t coff = nt + 4, opt = coff + 20;
    pe->machine = im.U16(coff);
    uint32_t sectionCount = im.U16(coff + 2);
    uint32_t optSize = im.U16(coff + 16);
    pe->characteristics = im.U16(coff + 18);
    pe->magic = im.U16(opt);
    if (pe->magic != 0x10B) {
        *error = "not a PE32 optional header";
        return false;
    }
    pe->entryPoint = im.U32(opt + 16);
    pe->majorOs = im.U16(opt + 40);
    pe->minorOs = im.U16(opt + 42);
    pe->majorSubsystem = im.U16(opt + 48);
    pe->minorSubsystem = im.U16(opt + 50);
    pe->subsystem = im.U16(opt + 68);
    uint32_t directories = im.U32(opt + 92);
    auto directory = [&](uint32_t i, uint32_t *size) {
        *size = i < directories ? im.U32(opt + 96 + 8 * i + 4) : 0;
        return i < directories ? im.U32(opt + 96 + 8 * i) : 0;
    };
    for (uint32_t i = 0; i < sectionCount; i++) {
        size_t s = opt + optSize + 40 * i;
        std::string name;
        for (int c = 0; c < 8 && im.Has(s + c, 1) && im.bytes[s + c]; c++)
            name += (char)im.bytes[s + c];
        im.sections.push_back(
            PeSection{name, im.U32(s + 12), im.U32(s + 8), im.U32(s + 20), im.U32(s + 16)});
    }
    pe->sections = im.sections;
    uint32_t size;
    uint32_t imports = directory(1, &size);
    if (imports)
        ReadImports(im, imports, pe);
    uint32_t resources = directory(2, &size);
    if (resources)
        ReadResources(im, resources, pe);
    directory(9, &pe->tlsSize);
    if (!im.error.empty()) {
        *error = im.error;
        return false;
    }
    return true;
}

// A PE32 reader for the tests: every read is checked against the file's
// size, so a damaged file fails the read instead of the test program.
#include "pe_file.h"

#include <fstream>
#include <iterator>

namespace {

struct Image {
    std::vector<unsigned char> bytes;
    std::vector<uint32_t> sections;  // virtual address, raw size, file offset of each
    std::string error;

    bool Has(size_t at, size_t n) const { return at <= bytes.size() && n <= bytes.size() - at; }
    uint32_t U16(size_t at)
    {
        if (!Has(at, 2))
            error = error.empty() ? "read past the end at " + std::to_string(at) : error;
        return Has(at, 2) ? bytes[at] | bytes[at + 1] << 8 : 0;
    }
    uint32_t U32(size_t at) { return U16(at) | U16(at + 2) << 16; }
    // The file offset of a virtual address (past the end when no section holds it).
    size_t Offset(uint32_t rva)
    {
        for (size_t s = 0; s + 2 < sections.size(); s += 3) {
            if (rva >= sections[s] && rva - sections[s] < sections[s + 1])
                return sections[s + 2] + (rva - sections[s]);
        }
        return bytes.size();
    }
    // ASCII (width 1) or UTF-16 (width 2) text, up to units long or a NUL.
    std::string Text(size_t at, size_t units, size_t width)
    {
        std::string text;
        for (size_t i = 0; i < units && Has(at + i * width, width) && bytes[at + i * width]; i++)
            text += (char)bytes[at + i * width];
        return text;
    }
};

void ReadImports(Image &im, size_t d, PeFile *pe)
{
    for (; im.error.empty() && (im.U32(d + 12) || im.U32(d + 16)); d += 20) {
        std::string dll = im.Text(im.Offset(im.U32(d + 12)), 256, 1);
        size_t t = im.Offset(im.U32(d) ? im.U32(d) : im.U32(d + 16));
        for (uint32_t entry; im.error.empty() && (entry = im.U32(t)) != 0; t += 4)
            pe->imports.push_back({dll, entry & 0x80000000u ? "" : im.Text(im.Offset(entry) + 2, 256, 1)});
    }
}

// Type, name and language: the three levels of the resource tree. A name is
// a counted UTF-16 string at an offset in the section, or an ordinal.
void ReadResources(Image &im, size_t base, size_t dir, int level, PeResource r, PeFile *pe)
{
    uint32_t count = im.U16(dir + 12) + im.U16(dir + 14);
    for (uint32_t i = 0; i < count && im.error.empty(); i++) {
        uint32_t id = im.U32(dir + 16 + 8 * i), target = im.U32(dir + 20 + 8 * i);
        size_t at = base + (id & 0x7FFFFFFFu);
        std::string name = id >> 31 ? im.Text(at + 2, im.U16(at), 2) : "#" + std::to_string(id);
        if (level < 2)
            (level == 0 ? r.type : r.name) = name;
        r.language = id;
        if (level < 2 && target >> 31) {
            ReadResources(im, base, base + (target & 0x7FFFFFFFu), level + 1, r, pe);
            continue;
        }
        size_t data = im.Offset(im.U32(base + target)), size = im.U32(base + target + 4);
        r.codePage = im.U32(base + target + 8);
        if (level < 2 || target >> 31 || !im.Has(data, size))
            im.error = "a resource tree of other than three levels, or data past the end";
        else
            r.data.assign(im.bytes.begin() + data, im.bytes.begin() + data + size), pe->resources.push_back(r);
    }
}

}  // namespace

bool ReadPeFile(const std::string &path, PeFile *pe, std::string *error)
{
    Image im;
    std::ifstream file(path, std::ios::binary);
    im.bytes.assign(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
    *pe = PeFile();
    pe->fileSize = im.bytes.size();
    size_t nt = im.U32(0x3C), opt = nt + 24;
    if (im.U16(0) != 0x5A4D || im.U32(nt) != 0x4550 || (pe->magic = im.U16(opt)) != 0x10B) {
        *error = "not a PE32 program: " + path;
        return false;
    }
    pe->machine = im.U16(nt + 4);
    pe->characteristics = im.U16(nt + 22);
    pe->majorOs = im.U16(opt + 40);
    pe->minorOs = im.U16(opt + 42);
    pe->majorSubsystem = im.U16(opt + 48);
    pe->minorSubsystem = im.U16(opt + 50);
    pe->subsystem = im.U16(opt + 68);
    for (size_t i = 0, s = opt + im.U16(nt + 20); i < im.U16(nt + 6); i++, s += 40)
        im.sections.insert(im.sections.end(), {im.U32(s + 12), im.U32(s + 16), im.U32(s + 20)});
    // The data directories: 1 imports, 2 resources, 9 thread-local storage.
    auto directory = [&](uint32_t i) { return i < im.U32(opt + 92) ? im.U32(opt + 96 + 8 * i) : 0; };
    if (directory(1))
        ReadImports(im, im.Offset(directory(1)), pe);
    if (directory(2))
        ReadResources(im, im.Offset(directory(2)), im.Offset(directory(2)), 0, PeResource{}, pe);
    pe->tlsSize = directory(9) ? im.U32(opt + 96 + 8 * 9 + 4) : 0;
    *error = im.error;
    return im.error.empty();
}

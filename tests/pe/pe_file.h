// Reads back what the tests need of a built 32-bit PE program: its headers,
// its imports and its resources.
#ifndef TESTS_PE_PE_FILE_H
#define TESTS_PE_PE_FILE_H

#include <cstdint>
#include <string>
#include <vector>

struct PeImport {
    std::string dll;       // as the import table names it
    std::string function;  // "" for an import by ordinal
    uint16_t ordinal;
};

struct PeResource {
    uint32_t type;           // ordinal type (3 RT_ICON, 5 RT_DIALOG, 14 RT_GROUP_ICON)
    std::string typeName;    // when the type is a name
    std::string name;        // a name, or "#n" for an ordinal
    uint32_t language;
    uint32_t codePage;
    std::vector<unsigned char> data;
};

struct PeSection {
    std::string name;
    uint32_t virtualAddress, virtualSize, rawOffset, rawSize;
};

struct PeFile {
    uint16_t machine = 0;
    uint16_t characteristics = 0;
    uint16_t magic = 0;
    uint16_t majorOs = 0, minorOs = 0, majorSubsystem = 0, minorSubsystem = 0;
    uint16_t subsystem = 0;
    uint32_t entryPoint = 0;
    uint32_t tlsSize = 0;
    std::vector<PeSection> sections;
    std::vector<PeImport> imports;
    std::vector<PeResource> resources;
    size_t fileSize = 0;
};

// False, with *error saying what, when the file cannot be read as a PE32
// program.
bool ReadPeFile(const std::string &path, PeFile *pe, std::string *error);

#endif

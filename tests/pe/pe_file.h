// Reads back what the tests need of a built 32-bit PE program: its headers,
// its imports and its resources.
#ifndef TESTS_PE_PE_FILE_H
#define TESTS_PE_PE_FILE_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

struct PeResource {
    std::string type;  // "#3" for an ordinal type (RT_ICON), else its name
    std::string name;  // "#1" for an ordinal, else the name
    uint32_t language, codePage;
    std::vector<unsigned char> data;
};

struct PeFile {
    uint16_t machine = 0, characteristics = 0, magic = 0, subsystem = 0;
    uint16_t majorOs = 0, minorOs = 0, majorSubsystem = 0, minorSubsystem = 0;
    uint32_t tlsSize = 0;
    size_t fileSize = 0;
    std::vector<std::pair<std::string, std::string>> imports;  // dll, function ("" by ordinal)
    std::vector<PeResource> resources;
};

// False, with *error saying what, when the file cannot be read as a PE32
// program.
bool ReadPeFile(const std::string &path, PeFile *pe, std::string *error);

#endif

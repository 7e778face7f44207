// What the fuzz targets share: a check that stops the run with a message
// (libFuzzer keeps the input that made it), and a reader of the input's
// leading parameter bytes.
#ifndef FUZZ_FUZZ_CHECK_H
#define FUZZ_FUZZ_CHECK_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#define FUZZ_CHECK(condition, ...)                                              \
    do {                                                                        \
        if (!(condition)) {                                                     \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
                         #condition);                                           \
            std::fprintf(stderr, __VA_ARGS__);                                  \
            std::fprintf(stderr, "\n");                                         \
            std::abort();                                                       \
        }                                                                       \
    } while (0)

// The input taken apart from its front: numbers, then counted texts, then
// the rest.
class FuzzInput {
public:
    FuzzInput(const uint8_t *data, size_t size) : data_(data), size_(size) {}
    unsigned Byte()
    {
        return pos_ < size_ ? data_[pos_++] : 0;
    }
    // A text of up to 255 bytes, its length in the byte before it.
    std::string Counted()
    {
        size_t n = Byte();
        n = n < size_ - pos_ ? n : size_ - pos_;
        std::string text((const char *)data_ + pos_, n);
        pos_ += n;
        return text;
    }
    std::string Rest()
    {
        std::string text((const char *)data_ + pos_, size_ - pos_);
        pos_ = size_;
        return text;
    }

private:
    const uint8_t *data_;
    size_t size_;
    size_t pos_ = 0;
};

// Printable form of bytes for a failure message.
inline std::string Shown(const std::string &bytes)
{
    std::string out;
    char hex[8];
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += (char)c;
        } else {
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

#endif

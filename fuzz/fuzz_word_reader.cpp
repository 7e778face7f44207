// The INF word reader (TextReadWord over a "r" stream) on arbitrary bytes,
// held against a plain model of the same rules: white space is 0x09-0x0D
// and 0x20, a 0x1A ends the text, a word longer than the buffer comes back
// as too long and empty, and a word cut short by a failed read is not
// returned. The file lives in memory here, so that the reads can come back
// in pieces of any size and fail at any offset.
//
// Input: word buffer size, piece size, failure offset (two bytes, 0xFFFF:
// none), then the file's bytes.
#include <cstring>
#include <vector>

#include "crt.h"
#include "fuzz_check.h"
#include "platform_io.h"

struct FILEIO {
    std::string bytes;
    size_t position;
    unsigned piece;     // 0: as much as asked
    size_t failAt;      // a read that starts here or later fails
    unsigned reads;
};

namespace {

FILEIO g_file;
bool g_open = false;

}  // namespace

FILEIO *FileIoOpen(const char *, FileIoMode mode)
{
    if (mode != FILEIO_READ || g_open)
        return nullptr;
    g_open = true;
    return &g_file;
}

long FileIoRead(FILEIO *file, void *buffer, unsigned long size)
{
    if (file->position >= file->failAt)
        return -1;
    size_t n = size;
    if (file->piece)
        n = std::min<size_t>(n, 1 + (file->reads++ * 7919u) % file->piece);
    n = std::min(n, file->failAt - file->position);
    n = std::min(n, file->bytes.size() - file->position);
    std::memcpy(buffer, file->bytes.data() + file->position, n);
    file->position += n;
    return (long)n;
}

long FileIoWriteAtEnd(FILEIO *, const void *, unsigned long) { return -1; }
long FileIoSize(FILEIO *file) { return (long)file->bytes.size(); }
int FileIoSeek(FILEIO *file, unsigned long offset)
{
    file->position = offset;
    return 0;
}
int FileIoTruncate(FILEIO *, unsigned long) { return -1; }
int FileIoFlush(FILEIO *) { return 0; }
int FileIoClose(FILEIO *)
{
    g_open = false;
    return 0;
}
void *PlatformAlloc(unsigned long size) { return std::calloc(size, 1); }
void PlatformFree(void *block) { std::free(block); }

namespace {

struct Word {
    int result;
    std::string text;
};

bool IsSpace(unsigned char c)
{
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

// What the reader must return, word by word, and how the text ends.
std::vector<Word> Model(const std::string &bytes, int size, size_t failAt, bool *failed)
{
    size_t end = bytes.find('\x1A');
    if (end == std::string::npos)
        end = bytes.size();
    *failed = false;
    std::vector<Word> words;
    size_t i = 0;
    for (;;) {
        while (i < end && IsSpace(bytes[i]))
            i++;
        // The reader must see byte i (or the end of the file) to go on.
        if (i >= failAt) {
            *failed = true;
            return words;
        }
        if (i >= end)
            return words;
        size_t start = i;
        while (i < end && !IsSpace(bytes[i]))
            i++;
        // Known to be whole only once the byte after it (or the end of the
        // file) has been read.
        if (i >= failAt) {
            *failed = true;
            return words;
        }
        std::string word = bytes.substr(start, i - start);
        if (size > 0 && (int)word.size() <= size - 1)
            words.push_back({TEXT_WORD, word});
        else
            words.push_back({TEXT_WORD_TOO_LONG, ""});
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    FuzzInput input(data, size);
    int wordSize = (int)input.Byte();
    unsigned piece = input.Byte();
    unsigned failHigh = input.Byte();
    size_t failAt = failHigh << 8 | input.Byte();
    if (failAt == 0xFFFF)
        failAt = (size_t)-1;
    g_file = FILEIO{input.Rest(), 0, piece, failAt, 0};
    const std::string &bytes = g_file.bytes;

    bool modelFailed;
    std::vector<Word> expected = Model(bytes, wordSize, failAt, &modelFailed);

    TEXTSTREAM *stream = TextOpen("C:\\WINDOWS\\INF\\OEM0.INF", "r");
    FUZZ_CHECK(stream, "open");
    // The buffer is exactly the size given, so that a write past it is seen.
    std::vector<char> word(wordSize > 0 ? wordSize : 1);
    for (size_t n = 0;; n++) {
        int result = TextReadWord(stream, wordSize > 0 ? word.data() : nullptr, wordSize);
        if (result == TEXT_NO_WORD) {
            FUZZ_CHECK(n == expected.size(), "%zu words read, %zu expected", n, expected.size());
            break;
        }
        FUZZ_CHECK(n < expected.size(), "a word too many: result %d", result);
        FUZZ_CHECK(result == expected[n].result, "word %zu: result %d, expected %d", n, result,
                   expected[n].result);
        if (wordSize > 0) {
            // The word's bytes (a NUL among them included), then a NUL.
            const std::string &text = expected[n].text;
            std::string got(word.data(), std::min(word.size(), text.size() + 1));
            FUZZ_CHECK(got == text + '\0', "word %zu: \"%s\", expected \"%s\"", n, Shown(got).c_str(),
                       Shown(text + '\0').c_str());
        }
    }
    FUZZ_CHECK(TextReadWord(stream, word.data(), wordSize) == TEXT_NO_WORD, "a word after the end");
    FUZZ_CHECK(!!TextFailed(stream) == modelFailed, "failed %d, expected %d", TextFailed(stream),
               modelFailed);
    FUZZ_CHECK(!!TextAtEnd(stream) == !modelFailed, "at end %d", TextAtEnd(stream));
    FUZZ_CHECK(TextClose(stream) == 0, "close");
    return 0;
}

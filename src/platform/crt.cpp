// Our text streams and the few other C-library services, one implementation
// for both platforms (see crt.h for why we do not take a run-time library's).
//
// Text mode as the program needs it:
//   reading  a 0x1A byte ends the text; words end at white space, which CR
//            and LF both are, so CR LF needs no translation for them;
//   "a+"     one 0x1A that ends an existing file is cut off at open, and
//            every write goes to the end of the file;
//   writing  every LF goes out as CR LF.
#include "crt.h"
#include "platform_io.h"

namespace {

const int READ_BUFFER_SIZE = 16384;
const int WRITE_BUFFER_SIZE = 1024;
const unsigned char CONTROL_Z = 0x1A;

}  // namespace

struct TEXTSTREAM {
    FILEIO *file;
    int atEnd;   // a read met the end of the text
    int failed;       // a read or a write failed
    int writeFailed;  // a write failed: reported at close
    int wrote;        // bytes went to the file: it is flushed to disk at close
    int readPos;
    int readLen;
    int writeLen;
    unsigned char readBuffer[READ_BUFFER_SIZE];
    unsigned char writeBuffer[WRITE_BUFFER_SIZE];
};

namespace {

// Makes the buffer hold unread bytes. Returns 0 at the end of the file or
// on a read error, with the flag that says which.
int FillBuffer(TEXTSTREAM *s)
{
    if (s->readPos < s->readLen)
        return 1;
    if (s->atEnd || s->failed)
        return 0;
    long n = FileIoRead(s->file, s->readBuffer, READ_BUFFER_SIZE);
    if (n < 0) {
        s->failed = 1;
        return 0;
    }
    if (n == 0) {
        s->atEnd = 1;
        return 0;
    }
    s->readPos = 0;
    s->readLen = (int)n;
    return 1;
}

// White space between words: TAB, LF, VT, FF, CR and the blank. CR LF and a
// lone CR are both white space, so a word reads the same whether or not the
// text-mode translation of CR LF has been made.
inline int IsSpace(unsigned char c)
{
    return c == ' ' || (unsigned char)(c - 0x09) <= 0x0D - 0x09;
}

// What ends a word: white space, or the 0x1A that ends the text. One test
// for the bytes above the blank, which are most of a text.
inline int EndsWord(unsigned char c)
{
    return c <= ' ' && (c == ' ' || ((0x04003E00UL >> c) & 1));
}

int FlushWrites(TEXTSTREAM *s)
{
    if (s->writeLen > 0) {
        long n = FileIoWriteAtEnd(s->file, s->writeBuffer, (unsigned long)s->writeLen);
        if (n != s->writeLen) {
            s->failed = 1;
            s->writeFailed = 1;
        }
        s->wrote = 1;
        s->writeLen = 0;
    }
    return !s->writeFailed;
}

void PutByte(TEXTSTREAM *s, unsigned char c)
{
    if (s->writeLen == WRITE_BUFFER_SIZE)
        FlushWrites(s);
    s->writeBuffer[s->writeLen++] = c;
}

// Cuts one 0x1A that ends the file, as "a+" does before the first write.
int DropTrailingControlZ(FILEIO *file)
{
    long size = FileIoSize(file);
    if (size < 0)
        return 0;
    if (size == 0)
        return 1;
    unsigned char last = 0;
    if (FileIoSeek(file, (unsigned long)size - 1) != 0 || FileIoRead(file, &last, 1) != 1)
        return 0;
    if (last == CONTROL_Z && FileIoTruncate(file, (unsigned long)size - 1) != 0)
        return 0;
    return FileIoSeek(file, 0) == 0;
}

}  // namespace

TEXTSTREAM *TextOpen(const char *path, const char *mode)
{
    if (!path || !mode)
        return 0;
    FileIoMode ioMode;
    if (mode[0] == 'r' && mode[1] == 0)
        ioMode = FILEIO_READ;
    else if (mode[0] == 'a' && mode[1] == '+' && mode[2] == 0)
        ioMode = FILEIO_APPEND;
    else
        return 0;

    // Opened before the stream is allocated: the open is tried whatever the
    // memory, so every caller's file shows in a record of the calls.
    FILEIO *file = FileIoOpen(path, ioMode);
    if (!file)
        return 0;
    TEXTSTREAM *s = (TEXTSTREAM *)PlatformAlloc(sizeof(TEXTSTREAM));
    if (!s || (ioMode == FILEIO_APPEND && !DropTrailingControlZ(file))) {
        FileIoClose(file);
        if (s)
            PlatformFree(s);
        return 0;
    }
    // Every other field starts at 0, as the block does.
    s->file = file;
    return s;
}

// Works on the buffer a run of bytes at a time rather than a byte per
// call: an INF directory can hold hundreds of megabytes of text.
int TextReadWord(TEXTSTREAM *s, char *word, int size)
{
    for (;;) {
        if (!FillBuffer(s))
            return TEXT_NO_WORD;
        const unsigned char *p = s->readBuffer + s->readPos;
        const unsigned char *end = s->readBuffer + s->readLen;
        while (p < end && IsSpace(*p))
            p++;
        s->readPos = (int)(p - s->readBuffer);
        if (p < end)
            break;
    }
    if (s->readBuffer[s->readPos] == CONTROL_Z) {
        // Nothing after it is text; the byte stays where it is.
        s->atEnd = 1;
        return TEXT_NO_WORD;
    }

    int room = size > 0 ? size - 1 : 0;
    int length = 0;
    int tooLong = 0;
    for (;;) {
        const unsigned char *p = s->readBuffer + s->readPos;
        const unsigned char *end = s->readBuffer + s->readLen;
        // Copied as it is scanned while it fits; then only scanned.
        while (p < end && length < room && !EndsWord(*p))
            word[length++] = (char)*p++;
        if (p < end && length == room && !EndsWord(*p)) {
            tooLong = 1;
            while (p < end && !EndsWord(*p))
                p++;
        }
        s->readPos = (int)(p - s->readBuffer);
        if (p < end) {
            if (*p == CONTROL_Z)
                s->atEnd = 1;
            else
                s->readPos++;  // the blank after the word
            break;
        }
        if (!FillBuffer(s))
            break;
    }
    // A word cut short by a failed read is not the word the file holds.
    if (s->failed) {
        if (size > 0)
            word[0] = 0;
        return TEXT_NO_WORD;
    }
    if (tooLong) {
        if (size > 0)
            word[0] = 0;
        return TEXT_WORD_TOO_LONG;
    }
    word[length] = 0;
    return TEXT_WORD;
}

int TextReadByte(TEXTSTREAM *s)
{
    if (!FillBuffer(s))
        return -1;
    return s->readBuffer[s->readPos++];
}

int TextAtEnd(const TEXTSTREAM *s)
{
    return s->atEnd;
}

int TextFailed(const TEXTSTREAM *s)
{
    return s->failed;
}

int TextWriteLine(TEXTSTREAM *s, const char *line)
{
    for (const char *p = line; *p; p++) {
        if (*p == '\n')
            PutByte(s, '\r');
        PutByte(s, (unsigned char)*p);
    }
    PutByte(s, '\r');
    PutByte(s, '\n');
    return !s->writeFailed;
}

int TextWriteByte(TEXTSTREAM *s, int c)
{
    PutByte(s, (unsigned char)c);
    return !s->writeFailed;
}

int TextClose(TEXTSTREAM *s)
{
    if (!s)
        return -1;
    // Windows 9x's disk cache writes lazily: what another step relies on
    // (a file moved into place, a restart) must be on the disk first.
    int ok = FlushWrites(s);
    if (s->wrote && FileIoFlush(s->file) != 0)
        ok = 0;
    if (FileIoClose(s->file) != 0)
        ok = 0;
    PlatformFree(s);
    return ok ? 0 : -1;
}

void *BlockAlloc(unsigned long size)
{
    return PlatformAlloc(size);
}

void BlockFree(void *block)
{
    if (block)
        PlatformFree(block);
}

const char *TextFindChar(const char *text, char c)
{
    for (; *text; text++) {
        if (*text == c)
            return text;
    }
    return c == 0 ? text : 0;
}

unsigned long TextLength(const char *text)
{
    unsigned long n = 0;
    while (text[n])
        n++;
    return n;
}

char *DecimalText(int n, char *text)
{
    char digits[12];
    int count = 0;
    // Through unsigned arithmetic, so that the most negative number works.
    unsigned int magnitude = n < 0 ? 0U - (unsigned int)n : (unsigned int)n;
    do {
        digits[count++] = (char)('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0 && count < 11);
    int out = 0;
    if (n < 0)
        text[out++] = '-';
    while (count > 0)
        text[out++] = digits[--count];
    text[out] = 0;
    return text;
}

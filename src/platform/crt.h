// The C-library services this program needs, implemented once, in crt.cpp,
// for both platforms.
//
// Run-time libraries disagree on the text-stream details we rely on (one
// keeps a trailing 0x1A in "a+" mode that another drops), and the Windows
// program carries no run-time library at all, so these are ours:
//   TextOpen      fopen(path, "r" | "a+"), text mode
//   TextReadWord  fscanf(stream, "%s", word), bounded by the caller's size
//   TextReadByte  getc(stream) on the file's bytes as they are stored
//   TextWriteLine fprintf(stream, "%s\n", line)
//   TextWriteByte putc(c, stream) as a binary stream writes it
//   TextClose     fclose(stream)
//   BlockAlloc    calloc(size, 1); BlockFree free
//   TextFindChar  strchr; TextLength strlen
//   DecimalText   the decimal digits of an integer (_itoa(n, buf, 10))
// They work over the byte-level file interface of platform_io.h, which each
// platform provides.
#ifndef PLATFORM_CRT_H
#define PLATFORM_CRT_H

struct TEXTSTREAM;

// "r": an existing file, read only. "a+": read and append, created when
// absent; one 0x1A byte that ends an existing file is cut off first, and
// every write goes to the end. Other processes may still read and write the
// file. Returns 0 when the file cannot be opened (or the mode is unknown).
TEXTSTREAM *TextOpen(const char *path, const char *mode);

// Results of TextReadWord.
enum {
    TEXT_WORD = 1,          // a word was stored
    TEXT_NO_WORD = 0,       // end of the text (0x1A or the file's end), or a read error
    TEXT_WORD_TOO_LONG = 2  // a word did not fit: it was read to its end, and
                            // the buffer holds the empty string
};

// Skips bytes 0x09-0x0D and 0x20, then reads the longest run of other bytes
// (0x80-0xFF included) into word[0..size-1], NUL-terminated. CR LF reads as
// LF, a lone CR is kept, and a 0x1A byte ends the text.
int TextReadWord(TEXTSTREAM *stream, char *word, int size);

// The next byte as the file holds it, without the text-mode translations
// (a 0x1A does not end it), or -1 at the end of the file or on a read error.
// For a caller that must know exactly what the file ends with.
int TextReadByte(TEXTSTREAM *stream);

// True once a read met the end of the text; true once a read failed.
int TextAtEnd(const TEXTSTREAM *stream);
int TextFailed(const TEXTSTREAM *stream);

// Writes line and a line end; every LF goes out as CR LF. Returns 0 once a
// write has failed; writes are buffered, so a failure may show only at close.
int TextWriteLine(TEXTSTREAM *stream, const char *line);

// Writes the byte as it is (no LF to CR LF, NUL and 0x1A kept), for a
// caller that copies a file through. Returns 0 once a write has failed.
int TextWriteByte(TEXTSTREAM *stream, int c);

// Writes out what is buffered, flushes a written file to the disk, and
// closes. Returns 0 when every write, the flush and the close succeeded (a
// failed read does not count here).
int TextClose(TEXTSTREAM *stream);

void *BlockAlloc(unsigned long size);
void BlockFree(void *block);

const char *TextFindChar(const char *text, char c);
unsigned long TextLength(const char *text);

// Writes the decimal digits of n (with a '-' when negative) and a NUL into
// text, which must hold 12 characters. Returns text.
char *DecimalText(int n, char *text);

#endif

// Our text streams: the rules the INF scan and the WININIT.INI list rely on,
// where run-time libraries disagree (0x1A in "a+", CR handling, long words).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crt.h"
#include "machine_builder.h"

namespace {

const char FILE_PATH[] = "C:\\T.TXT";

// Every word TextReadWord gives for bytes, with a marker for a word that
// did not fit; the last entry says how the reading ended.
std::vector<std::string> Words(MachineBuilder &m, const std::string &bytes, int size = 200)
{
    m.File(FILE_PATH, bytes);
    std::vector<std::string> words;
    TEXTSTREAM *s = TextOpen(FILE_PATH, "r");
    if (!s) {
        words.push_back("<no stream>");
        return words;
    }
    std::vector<char> word(size > 0 ? size + 1 : 1, '#');
    for (;;) {
        word[size] = '#';  // sentinel after the caller's buffer
        int r = TextReadWord(s, word.data(), size);
        EXPECT_EQ('#', word[size]) << "written past the buffer";
        if (r == TEXT_NO_WORD)
            break;
        words.push_back(r == TEXT_WORD ? std::string(word.data()) : "<too long>");
    }
    words.push_back(TextFailed(s) ? "<failed>" : TextAtEnd(s) ? "<end>" : "<?>");
    EXPECT_EQ(0, TextClose(s));
    return words;
}

typedef std::vector<std::string> W;

TEST(TextRead, SplitsWordsOnTheSixSpaceBytesOnly)
{
    struct Case {
        std::string bytes;
        W words;
    } cases[] = {
        {"", {"<end>"}},
        {" \t\r\n\v\f", {"<end>"}},
        {"BR32STAT.EXE", {"BR32STAT.EXE", "<end>"}},
        {"a\tb\nc\vd\fe\rf g", {"a", "b", "c", "d", "e", "f", "g", "<end>"}},
        {"x\r\ny\rz", {"x", "y", "z", "<end>"}},
        {"caf\xE8 \xA0nbsp\xFF", {"caf\xE8", "\xA0nbsp\xFF", "<end>"}},
        {"\"BR32STAT.EXE\" BR32STAT.EXE,,,", {"\"BR32STAT.EXE\"", "BR32STAT.EXE,,,", "<end>"}},
        {std::string("a\0b c", 5), {std::string("a"), "c", "<end>"}},
    };
    for (const Case &c : cases) {
        MachineBuilder m;
        ASSERT_TRUE(m.Load());
        W got = Words(m, c.bytes);
        // A NUL inside a word ends it as a string; the bytes after it stay in
        // the word as read, which no comparison sees.
        EXPECT_EQ(c.words, got) << "bytes: " << c.bytes;
    }
}

TEST(TextRead, ControlZEndsTheText)
{
    struct Case {
        std::string bytes;
        W words;
    } cases[] = {
        {"one\x1Atwo", {"one", "<end>"}},
        {"one \x1A BR32STAT.EXE", {"one", "<end>"}},
        {"\x1A" "BR32STAT.EXE", {"<end>"}},
        {"one\r\x1A", {"one", "<end>"}},
    };
    for (const Case &c : cases) {
        MachineBuilder m;
        ASSERT_TRUE(m.Load());
        EXPECT_EQ(c.words, Words(m, c.bytes)) << "bytes: " << c.bytes;
    }
}

TEST(TextRead, AWordThatDoesNotFitIsReadToItsEndAndNeverCut)
{
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    std::string fits(199, 'x');
    std::string tooLong(200, 'x');
    // 199 bytes fit a 200-byte buffer; 200 do not, and the marker glued to
    // the end of a long word must not come out as a word of its own.
    EXPECT_EQ(W({fits, "<end>"}), Words(m, fits));
    EXPECT_EQ(W({"<too long>", "next", "<end>"}), Words(m, tooLong + " next"));
    EXPECT_EQ(W({"<too long>", "<end>"}), Words(m, std::string(188, 'x') + "BR32STAT.EXE"));
    EXPECT_EQ(W({"<too long>", "<end>"}), Words(m, "ab", 1));
    // A word across the stream's internal buffer boundary stays whole.
    std::string across = std::string(16380, ' ') + "BR32STAT.EXE";
    EXPECT_EQ(W({"BR32STAT.EXE", "<end>"}), Words(m, across));
    EXPECT_EQ(W({"<too long>", "<end>"}), Words(m, std::string(10 << 20, 'w')));
}

TEST(TextRead, AFailedReadGivesNoWordNotHalfOfOne)
{
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    std::string bytes = std::string(16380, ' ') + "BR32STAT.EXE";
    SimFailCall("FileIoRead", 2, ERROR_ACCESS_DENIED);  // the read after the first 16 KiB
    EXPECT_EQ(W({"<failed>"}), Words(m, bytes)) << SimFormatCalls(SimCalls());
    SimClearFaults();
    SimFailCall("FileIoRead", 0, ERROR_ACCESS_DENIED);
    EXPECT_EQ(W({"<failed>"}), Words(m, "BR32STAT.EXE"));
}

TEST(TextOpen, RefusesWhatItCannotOpen)
{
    MachineBuilder m;
    m.Dir("C:\\DIR.INF").File(FILE_PATH, "x");
    ASSERT_TRUE(m.Load());
    EXPECT_EQ(nullptr, TextOpen("C:\\MISSING.TXT", "r"));
    EXPECT_EQ(nullptr, TextOpen("C:\\DIR.INF", "r"));
    EXPECT_EQ(nullptr, TextOpen(FILE_PATH, "w"));
    EXPECT_EQ(nullptr, TextOpen(FILE_PATH, "rb"));
    SimClearCalls();  // fault occurrences count from here
    SimFailCall("FileIoOpen", 1, ERROR_SHARING_VIOLATION);
    EXPECT_EQ(nullptr, TextOpen(FILE_PATH, "r"));
    SimFailCall("PlatformAlloc", 0, ERROR_NOT_ENOUGH_MEMORY);
    EXPECT_EQ(nullptr, TextOpen(FILE_PATH, "a+"));
    EXPECT_EQ("x", m.Read(FILE_PATH));
    EXPECT_EQ("", SimOpenHandles());
}

// Appends lines with "a+" to a file holding before (or none) and returns the
// file's bytes afterwards.
std::string Append(const std::string *before, const std::vector<std::string> &lines)
{
    MachineBuilder m;
    if (before)
        m.File(FILE_PATH, *before);
    if (!m.Load())
        return "<no machine>";
    TEXTSTREAM *s = TextOpen(FILE_PATH, "a+");
    if (!s)
        return "<no stream>";
    for (const std::string &line : lines)
        EXPECT_EQ(1, TextWriteLine(s, line.c_str()));
    EXPECT_EQ(0, TextClose(s));
    EXPECT_EQ("", SimOpenHandles());
    return m.Read(FILE_PATH);
}

TEST(TextAppend, WritesAtTheEndInCrLfAndDropsOneTrailingControlZ)
{
    struct Case {
        const char *name;
        bool exists;
        std::string before;
        std::string after;
    } cases[] = {
        {"new file", false, "", "[rename]\r\nNULL=a\r\n"},
        {"empty file", true, "", "[rename]\r\nNULL=a\r\n"},
        {"no line end", true, "x=1", "x=1[rename]\r\nNULL=a\r\n"},
        {"trailing 0x1A", true, "x=1\r\n\x1A", "x=1\r\n[rename]\r\nNULL=a\r\n"},
        {"only one 0x1A goes", true, "x\x1A\x1A", "x\x1A[rename]\r\nNULL=a\r\n"},
        {"inner 0x1A stays", true, "a\x1A" "b", "a\x1A" "b[rename]\r\nNULL=a\r\n"},
        {"file of one 0x1A", true, "\x1A", "[rename]\r\nNULL=a\r\n"},
        {"high bytes kept", true, "\xE8\xFF\r", "\xE8\xFF\r[rename]\r\nNULL=a\r\n"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.after, Append(c.exists ? &c.before : nullptr, {"[rename]", "NULL=a"})) << c.name;
}

TEST(TextAppend, EveryLineFeedGoesOutAsCrLf)
{
    EXPECT_EQ("a\r\nb\r\n\r\n", Append(nullptr, {"a\nb\n"}));
    EXPECT_EQ("\r\n", Append(nullptr, {""}));
    // More than one write buffer's worth arrives whole and in order.
    std::string longLine(5000, 'L');
    EXPECT_EQ(longLine + "\r\n" + longLine + "\r\n", Append(nullptr, {longLine, longLine}));
}

TEST(TextAppend, AFailedWriteIsReportedAtClose)
{
    MachineBuilder m;
    ASSERT_TRUE(m.Load());
    SimFailCall("FileIoWriteAtEnd", 0, ERROR_ACCESS_DENIED);
    TEXTSTREAM *s = TextOpen(FILE_PATH, "a+");
    ASSERT_NE(nullptr, s);
    TextWriteLine(s, "NULL=a");
    EXPECT_EQ(-1, TextClose(s));
    EXPECT_EQ("", SimOpenHandles());
}

TEST(DecimalText, WritesEveryIntWithinTwelveBytes)
{
    struct Case {
        int n;
        const char *text;
    } cases[] = {
        {0, "0"}, {7, "7"}, {42, "42"}, {10000, "10000"}, {-1, "-1"},
        {2147483647, "2147483647"}, {-2147483647 - 1, "-2147483648"},
    };
    for (const Case &c : cases) {
        char text[13];
        text[12] = '#';
        EXPECT_STREQ(c.text, DecimalText(c.n, text));
        EXPECT_EQ('#', text[12]);
    }
}

}  // namespace

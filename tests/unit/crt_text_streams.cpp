// Our text streams where run-time libraries disagree: a read that fails
// inside a word, and "a+" with its 0x1A. The word rules are the INF scan's
// table (phase_setup_information.cpp) and fuzz_word_reader's; the append is
// also fuzzed, through the WININIT.INI list.
#include <gtest/gtest.h>

#include "crt.h"
#include "machine_builder.h"

namespace {

typedef std::vector<std::string> W;
const char FILE_PATH[] = "C:\\T.TXT";

// Every word TextReadWord gives for bytes (20 at most, so that a reader that
// never ends fails rather than hangs), "<too long>" for a word that did not
// fit, and how the reading ended; a sentinel guards the buffer's end.
W Words(const std::string &bytes, int failingRead = 0)
{
    const int size = 200;  // the INF scan's word buffer
    MachineBuilder m;
    m.File(FILE_PATH, bytes);
    if (!m.Load())
        return {"<no machine>"};
    if (failingRead)
        SimFailCall("FileIoRead", failingRead, ERROR_ACCESS_DENIED);
    TEXTSTREAM *s = TextOpen(FILE_PATH, "r");
    if (!s)
        return {"<no stream>"};
    W words;
    std::vector<char> word(size + 1, '#');
    for (int r; words.size() < 20 && (r = TextReadWord(s, word.data(), size)) != TEXT_NO_WORD;)
        words.push_back(r == TEXT_WORD ? std::string(word.data()) : "<too long>");
    EXPECT_EQ('#', word[size]) << "written past the buffer";
    words.push_back(TextFailed(s) ? "<failed>" : TextAtEnd(s) ? "<end>" : "<?>");
    EXPECT_EQ(0, TextClose(s));
    EXPECT_EQ("", CallsOf("FileIoWriteAtEnd")) << "a stream opened to read writes nothing";
    return words;
}

TEST(TextRead, AFailedReadGivesNoWordNotHalfOfOne)
{
    for (int failing : {1, 2})  // 2: the read after the first 16 KiB
        EXPECT_EQ(W({"<failed>"}), Words(std::string(16380, ' ') + "BR32STAT.EXE", failing)) << failing;
}

// Appends lines with "a+" to a file holding before (null: none); the file's
// bytes afterwards, "<failed close>" when the close reported a failure.
std::string Append(const char *before, const W &lines, bool writesFail = false, const char *mode = "a+")
{
    MachineBuilder m;
    if (before)
        m.File(FILE_PATH, before);
    if (!m.Load())
        return "<no machine>";
    if (writesFail)
        SimFailCall("FileIoWriteAtEnd", 0, ERROR_ACCESS_DENIED);
    TEXTSTREAM *s = TextOpen(FILE_PATH, mode);
    if (!s)
        return "<no stream>";
    for (const std::string &line : lines)
        TextWriteLine(s, line.c_str());
    bool closed = TextClose(s) == 0;
    EXPECT_EQ("", SimOpenHandles());
    return closed ? m.Read(FILE_PATH) : "<failed close>";
}

TEST(TextAppend, AtTheEndInCrLfAfterOneTrailingControlZ)
{
    const std::string longLine(5000, 'L');  // more than the write buffer
    EXPECT_EQ("x\x1A[rename]\r\n", Append("x\x1A\x1A", {"[rename]"}));
    EXPECT_EQ("a\x1A" "bNULL=a\r\n", Append("a\x1A" "b", {"NULL=a"}));
    EXPECT_EQ("NULL=a\r\n", Append("\x1A", {"NULL=a"}));
    EXPECT_EQ("a\r\nb\r\n\r\n", Append(nullptr, {"a\nb", ""}));
    EXPECT_EQ(longLine + "\r\n" + longLine + "\r\n", Append(nullptr, {longLine, longLine}));
    EXPECT_EQ("<failed close>", Append(nullptr, {"NULL=a"}, true));
    EXPECT_EQ("<no stream>", Append("x", {"y"}, false, "a"));  // only "r" and "a+" are known
}

}  // namespace

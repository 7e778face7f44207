// Dialogs and message boxes of the simulated machine drawn as text, and the
// user's answers read from a terminal. A dialog is laid out on a grid of
// one character per 4 horizontal and 8 vertical dialog units, about what
// an 8-point system font gives, so that a text too long for its control
// shows cut off here as it would on the screen.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <strings.h>

#include "dialogs/dialogs.h"

namespace {

#define SS_TYPEMASK_ 0x1F
#define BS_TYPEMASK_ 0x0F
#define BS_DEFPUSHBUTTON_ 0x01
#define WS_BORDER_ 0x00800000u
#define WS_SYSMENU_ 0x00080000u
#define MB_TYPEMASK_ 0x0F
#define MB_ICONMASK_ 0xF0

// Code page 1252 from 0x80 to 0x9F, as Unicode; 0 where the code page has
// no character.
const unsigned short CP1252_HIGH[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178,
};

void AppendUtf8(std::string *out, unsigned code)
{
    if (code < 0x80) {
        *out += (char)code;
    } else if (code < 0x800) {
        *out += (char)(0xC0 | code >> 6);
        *out += (char)(0x80 | (code & 0x3F));
    } else {
        *out += (char)(0xE0 | code >> 12);
        *out += (char)(0x80 | ((code >> 6) & 0x3F));
        *out += (char)(0x80 | (code & 0x3F));
    }
}

// Lines of at most width characters: the text's own line feeds break, and
// words wrap; a word longer than a line is cut.
std::vector<std::string> Wrap(const std::string &text, int width)
{
    std::vector<std::string> lines;
    if (width < 1)
        return lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find('\n', start);
        std::string paragraph = text.substr(start, end == std::string::npos ? end : end - start);
        std::string line;
        size_t at = 0;
        while (at <= paragraph.size()) {
            size_t space = paragraph.find(' ', at);
            std::string word = paragraph.substr(at, space == std::string::npos ? space : space - at);
            if (!line.empty() && (int)(line.size() + 1 + word.size()) > width) {
                lines.push_back(line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
            while ((int)line.size() > width) {
                lines.push_back(line.substr(0, width));
                line = line.substr(width);
            }
            if (space == std::string::npos)
                break;
            at = space + 1;
        }
        lines.push_back(line);
        if (end == std::string::npos)
            break;
        start = end + 1;
    }
    return lines;
}

std::string Centered(const std::string &text, int width)
{
    if ((int)text.size() >= width)
        return text.substr(0, std::max(width, 0));
    int left = (width - (int)text.size()) / 2;
    return std::string(left, ' ') + text + std::string(width - left - (int)text.size(), ' ');
}

struct Grid {
    int cols, rows;
    std::vector<std::string> cells;

    Grid(int c, int r) : cols(c), rows(r), cells(r, std::string(c, ' ')) {}

    void Put(int col, int row, const std::string &text)
    {
        if (row < 0 || row >= rows)
            return;
        for (size_t i = 0; i < text.size(); i++) {
            int c = col + (int)i;
            if (c >= 0 && c < cols)
                cells[row][c] = text[i];
        }
    }
};

bool SameClass(const SimWindow &w, const char *name)
{
    return strcasecmp(w.className.c_str(), name) == 0;
}

std::string Frame(const std::vector<std::string> &body, int width, const std::string &caption,
                  bool closeBox)
{
    std::string close = closeBox ? "[x]" : "";
    std::string title = "+= " + caption + " ";
    int fill = width + 2 - (int)title.size() - (int)close.size() - 1;
    if (fill < 1) {
        title = title.substr(0, std::max(0, (int)title.size() + fill - 1));
        fill = 1;
    }
    std::string out = title + std::string(fill, '=') + close + "+\n";
    for (const std::string &line : body)
        out += "|" + line + "|\n";
    out += "+" + std::string(width, '-') + "+\n";
    return out;
}

}  // namespace

std::string SimUtf8(const std::string &cp1252)
{
    std::string out;
    for (unsigned char c : cp1252) {
        if (c >= 0x80 && c < 0xA0)
            AppendUtf8(&out, CP1252_HIGH[c - 0x80] ? CP1252_HIGH[c - 0x80] : '?');
        else
            AppendUtf8(&out, c);
    }
    return out;
}

std::string SimDrawBar(const SimWindow &bar, int width)
{
    bool border = (bar.style & WS_BORDER_) != 0;
    int inner = std::max(1, width - (border ? 2 : 0));
    int span = bar.barMax - bar.barMin;
    int filled = span > 0 ? (int)((long long)(bar.barPos - bar.barMin) * inner / span) : 0;
    filled = std::max(0, std::min(filled, inner));
    std::string cells = std::string(filled, '#') + std::string(inner - filled, '.');
    return border ? "[" + cells + "]" : cells;
}

std::string SimDrawDialog(const std::vector<SimWindow> &windows, int dialog)
{
    const SimWindow &d = windows[dialog];
    Grid grid(std::max(d.cx / 4, 16), std::max((d.cy + 4) / 8, 3));
    for (int index : d.controls) {
        const SimWindow &w = windows[index];
        int col = w.x / 4, row = w.y / 8;
        int width = std::max(1, w.cx / 4), height = std::max(1, (w.cy + 4) / 8);
        if (SameClass(w, "STATIC")) {
            std::vector<std::string> lines = Wrap(w.text, width);
            for (int i = 0; i < (int)lines.size() && i < height; i++)
                grid.Put(col, row + i, lines[i]);
        } else if (SameClass(w, "BUTTON")) {
            bool isDefault = (w.style & BS_TYPEMASK_) == BS_DEFPUSHBUTTON_;
            std::string face = Centered(w.text, std::max(width - 2, 1));
            grid.Put(col, row + height / 2, (isDefault ? "<" : "[") + face + (isDefault ? ">" : "]"));
        } else if (SameClass(w, "msctls_progress32")) {
            grid.Put(col, row + height / 2, SimDrawBar(w, width));
        } else {
            grid.Put(col, row, "<" + w.className + ">");
        }
    }
    return "\n" + SimUtf8(Frame(grid.cells, grid.cols, d.text, (d.style & WS_SYSMENU_) != 0));
}

std::string SimDrawMessageBox(const std::string &text, const std::string &caption, UINT type)
{
    const int widest = 60;
    std::vector<std::string> lines = Wrap(text, widest);
    bool warning = (type & MB_ICONMASK_) == 0x30;
    // The default button, the first one, is marked as a dialog's is.
    std::string buttons = (type & MB_TYPEMASK_) == 0x04 ? "< Yes >   [ No ]" : "< OK >";
    int width = (int)buttons.size();
    for (const std::string &line : lines)
        width = std::max(width, (int)line.size());
    width += warning ? 8 : 4;
    std::vector<std::string> body;
    body.push_back(std::string(width, ' '));
    for (size_t i = 0; i < lines.size(); i++) {
        std::string icon = warning ? (i == 0 ? "/!\\ " : "    ") : "";
        std::string line = "  " + icon + lines[i];
        body.push_back(line + std::string(width - line.size(), ' '));
    }
    body.push_back(std::string(width, ' '));
    body.push_back(Centered(buttons, width));
    return "\n" + SimUtf8(Frame(body, width, caption, true));
}

int SimAskUser(std::FILE *in, std::FILE *out, const std::string &prompt,
               const std::vector<SimChoice> &choices, int onEnd)
{
    for (;;) {
        if (out) {
            std::fputs(prompt.c_str(), out);
            std::fflush(out);
        }
        char line[256];
        if (!std::fgets(line, sizeof line, in))
            return onEnd;
        std::string word(line);
        size_t start = word.find_first_not_of(" \t\r\n");
        word = start == std::string::npos ? "" : word.substr(start);
        word = word.substr(0, word.find_first_of(" \t\r\n"));
        for (char &c : word)
            c = (char)std::tolower((unsigned char)c);
        for (const SimChoice &choice : choices) {
            if (word == choice.word)
                return choice.value;
        }
    }
}

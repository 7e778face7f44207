// registry.reg: the whole simulated registry in the REGEDIT4 text of the
// Windows 98 registry editor.
//
// What we read: "REGEDIT4", then keys as [path] lines each followed by its
// values, with LF or CR LF line ends, blank and comment (;) lines, keys
// named through any root alias, continuation lines anywhere in a hex list.
// The text read is kept, and each key owns its blocks of it: its [path]
// line with the comment lines just above it, and everything after up to
// the next block. A machine folder kept under version control must show
// what a run changed and nothing else, so saving writes the text read less
// the blocks of the keys deleted since, never a text of our own; when that
// leaves a key that still exists without a line of its own or below it
// (a parent named only by its deleted children), its bare [path] line
// takes the place of the first of its subtree's blocks that went, so that
// the file reads back as the same keys and values.
//
// What the export writes is what that editor exports: "REGEDIT4", a blank
// line, then every key of HKEY_LOCAL_MACHINE and HKEY_USERS, parents before
// children, each as its [path] line, its values and a blank line; CR LF
// line ends. Strings are written "..." with \\ and \" escaped, 4-byte
// REG_DWORD values as dword:0000000a, everything else as hex: or hex(type):
// bytes, wrapped after the comma that brings a line to 77 characters, the
// next line indented by two spaces. A string value whose bytes are not one
// text and one NUL (none, or a line break the text form cannot hold) is
// written hex(1): so that it reads back to the same bytes. The export is
// the registry's one canonical text: tests compare registries by it.
#include <algorithm>
#include <cstdio>
#include <set>

#include "core/core.h"
#include "registry/registry.h"

namespace {

const size_t WRAP_COLUMN = 77;

// The text last read and the blocks of it that its keys own, in file order.
struct Block {
    size_t start;
    size_t end;
    std::shared_ptr<SimRegKey> key;
};
std::string g_read;
std::vector<Block> g_blocks;

std::string Escape(const std::string &text)
{
    std::string out;
    for (char c : text) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

// True when a REG_SZ value can be written in the "..." form and read back
// to the same bytes.
bool PlainString(const std::string &data)
{
    if (data.empty() || data.back() != '\0')
        return false;
    for (size_t i = 0; i + 1 < data.size(); i++) {
        char c = data[i];
        if (c == '\0' || c == '\r' || c == '\n')
            return false;
    }
    return true;
}

void WriteHex(std::string *out, const std::string &prefix, const std::string &data)
{
    *out += prefix;
    size_t column = prefix.size();
    char byte[4];
    for (size_t i = 0; i < data.size(); i++) {
        std::snprintf(byte, sizeof byte, "%02x", (unsigned char)data[i]);
        *out += byte;
        if (i + 1 == data.size())
            break;
        *out += ',';
        column += 3;
        if (column >= WRAP_COLUMN) {
            *out += "\\\r\n  ";
            column = 2;
        }
    }
    *out += "\r\n";
}

void WriteValue(std::string *out, const SimRegValue &value)
{
    std::string prefix = value.name.empty() ? "@=" : "\"" + Escape(value.name) + "\"=";
    if (value.type == REG_SZ && PlainString(value.data)) {
        *out += prefix + "\"" + Escape(value.data.substr(0, value.data.size() - 1)) + "\"\r\n";
    } else if (value.type == REG_DWORD && value.data.size() == 4) {
        const unsigned char *b = (const unsigned char *)value.data.data();
        unsigned long n = b[0] | (b[1] << 8) | (b[2] << 16) | ((unsigned long)b[3] << 24);
        char text[24];
        std::snprintf(text, sizeof text, "dword:%08lx\r\n", n);
        *out += prefix + text;
    } else if (value.type == REG_BINARY) {
        WriteHex(out, prefix + "hex:", value.data);
    } else {
        char type[24];
        std::snprintf(type, sizeof type, "hex(%lx):", (unsigned long)value.type);
        WriteHex(out, prefix + type, value.data);
    }
}

void WriteKey(std::string *out, const SimRegKey *key, const std::string &path)
{
    *out += "[" + path + "]\r\n";
    for (const SimRegValue &value : key->values)
        WriteValue(out, value);
    *out += "\r\n";
    for (const auto &child : key->subkeys)
        WriteKey(out, child.get(), path + "\\" + child->name);
}

// ---------------------------------------------------------------- reading

int HexDigit(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// A quoted text from text[*pos] (the opening quote) to its closing quote.
bool ReadQuoted(const std::string &text, size_t *pos, std::string *out)
{
    size_t i = *pos + 1;
    out->clear();
    while (i < text.size() && text[i] != '"') {
        if (text[i] == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"'))
            i++;
        *out += text[i++];
    }
    if (i >= text.size())
        return false;
    *pos = i + 1;
    return true;
}

bool ReadHexList(const std::string &text, std::string *data)
{
    data->clear();
    size_t i = 0;
    while (true) {
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            i++;
        if (i >= text.size())
            return true;
        int high = HexDigit(text[i]);
        if (high < 0)
            return false;
        int value = high;
        i++;
        if (i < text.size() && HexDigit(text[i]) >= 0)
            value = value * 16 + HexDigit(text[i++]);
        data->push_back((char)value);
        while (i < text.size() && (text[i] == ' ' || text[i] == '\t'))
            i++;
        if (i >= text.size())
            return true;
        if (text[i] != ',')
            return false;
        i++;
    }
}

bool ParseData(const std::string &text, SimRegValue *value, std::string *why)
{
    if (!text.empty() && text[0] == '"') {
        size_t pos = 0;
        std::string body;
        if (!ReadQuoted(text, &pos, &body) ||
            text.find_first_not_of(" \t", pos) != std::string::npos) {
            *why = "a string value is one quoted text";
            return false;
        }
        value->type = REG_SZ;
        value->data = body + '\0';
        return true;
    }
    if (text.compare(0, 6, "dword:") == 0) {
        std::string digits = text.substr(6);
        while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t'))
            digits.pop_back();
        unsigned long n = 0;
        if (digits.empty() || digits.size() > 8) {
            *why = "dword: takes 1 to 8 hex digits";
            return false;
        }
        for (char c : digits) {
            if (HexDigit(c) < 0) {
                *why = "dword: takes hex digits";
                return false;
            }
            n = n * 16 + HexDigit(c);
        }
        value->type = REG_DWORD;
        value->data = std::string{(char)(n & 0xFF), (char)((n >> 8) & 0xFF),
                                  (char)((n >> 16) & 0xFF), (char)((n >> 24) & 0xFF)};
        return true;
    }
    size_t colon = text.find(':');
    std::string form = text.substr(0, colon);
    if (colon == std::string::npos) {
        *why = "unknown value data";
        return false;
    }
    if (form == "hex") {
        value->type = REG_BINARY;
    } else if (form.size() > 5 && form.compare(0, 4, "hex(") == 0 && form.back() == ')') {
        unsigned long type = 0;
        for (size_t i = 4; i + 1 < form.size(); i++) {
            if (HexDigit(form[i]) < 0 || i > 11) {
                *why = "hex(type) takes a hex type";
                return false;
            }
            type = type * 16 + HexDigit(form[i]);
        }
        value->type = (DWORD)type;
    } else {
        *why = "unknown value data";
        return false;
    }
    if (!ReadHexList(text.substr(colon + 1), &value->data)) {
        *why = "hex data is bytes in hex, separated by commas";
        return false;
    }
    return true;
}

bool ParseValueLine(const std::string &line, SimRegKey *key, std::string *why)
{
    SimRegValue value;
    size_t pos;
    if (line[0] == '@') {
        pos = 1;
    } else {
        pos = 0;
        if (!ReadQuoted(line, &pos, &value.name)) {
            *why = "a value name is a quoted text";
            return false;
        }
    }
    if (pos >= line.size() || line[pos] != '=') {
        *why = "expected = after the value name";
        return false;
    }
    if (!ParseData(line.substr(pos + 1), &value, why))
        return false;
    if (SimRegValue *existing = SimRegFindValue(key, value.name))
        *existing = value;
    else
        key->values.push_back(value);
    return true;
}

}  // namespace

std::string SimRegExport()
{
    std::string out = "REGEDIT4\r\n\r\n";
    for (int i = 0; i < SimRegRootCount(); i++)
        WriteKey(&out, SimRegRoot(i), SimRegRootName(i));
    return out;
}

bool SimRegImport(const std::string &text, std::string *error)
{
    SimRegForgetText();
    std::vector<std::string> lines;
    std::vector<size_t> starts;  // each line's first byte
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        // Trailing blanks go; a line's start is kept for its indentation.
        std::string line = text.substr(start, end - start);
        line.erase(line.find_last_not_of(" \t\r") + 1);
        lines.push_back(line);
        starts.push_back(start);
        start = end + 1;
    }
    if (lines.empty() || lines[0] != "REGEDIT4") {
        *error = "registry.reg line 1: the file starts with REGEDIT4";
        return false;
    }
    std::vector<Block> blocks;
    SimRegKey *key = nullptr;
    for (size_t n = 1; n < lines.size(); n++) {
        size_t first = n;
        std::string line = lines[n];
        if (line.empty() || line[0] == ';')
            continue;
        std::string why;
        if (line[0] == '[') {
            std::string canonical;
            if (line.back() != ']' || line.size() < 3) {
                why = "a key line is [path]";
            } else if (line[1] == '-') {
                why = "key deletion lines are not part of a registry file";
            } else if (!SimRegCanonicalPath(line.substr(1, line.size() - 2), &canonical)) {
                why = "unknown root in " + line;
            } else if ((key = SimRegFindPath(canonical, true, &why)) != nullptr) {
                size_t top = n;
                while (top > 1 && !lines[top - 1].empty() && lines[top - 1][0] == ';')
                    top--;
                if (!blocks.empty())
                    blocks.back().end = starts[top];
                blocks.push_back({starts[top], text.size(), key->shared_from_this()});
            }
        } else if (line[0] == '@' || line[0] == '"') {
            while (line.back() == '\\' && n + 1 < lines.size()) {
                line.pop_back();
                const std::string &next = lines[++n];
                line += next.substr(std::min(next.size(), next.find_first_not_of(" \t")));
            }
            if (!key)
                why = "a value before the first key";
            else
                ParseValueLine(line, key, &why);
        } else {
            why = "unknown line";
        }
        if (!why.empty()) {
            *error = "registry.reg line " + std::to_string(first + 1) + ": " + why;
            return false;
        }
    }
    g_read = text;
    g_blocks = blocks;
    return true;
}

void SimRegForgetText()
{
    g_read.clear();
    g_blocks.clear();
}

// Whether a key whose values changed is live anywhere below root.
static bool EditedKeyBelow(const SimRegKey *root)
{
    for (const auto &child : root->subkeys)
        if (!child->deleted && (child->valuesEdited || EditedKeyBelow(child.get())))
            return true;
    return false;
}

bool SimRegEditedText(std::string *text)
{
    std::set<const SimRegKey *> owners;  // live keys with a block
    bool dropped = false;
    for (const Block &block : g_blocks) {
        if (block.key->deleted)
            dropped = true;
        else
            owners.insert(block.key.get());
    }
    bool edited = false, unowned = false;
    for (int i = 0; i < SimRegRootCount(); i++)
        edited = edited || EditedKeyBelow(SimRegRoot(i));
    for (int i = 0; edited && i < SimRegRootCount(); i++) {
        std::vector<const SimRegKey *> pending{SimRegRoot(i)};
        while (!pending.empty()) {
            const SimRegKey *key = pending.back();
            pending.pop_back();
            unowned = unowned || (key->valuesEdited && !owners.count(key) && key->parent);
            for (const auto &child : key->subkeys)
                if (!child->deleted)
                    pending.push_back(child.get());
        }
    }
    if (!dropped && !edited)
        return false;
    // A changed key that owns no block of the text read (one that stood
    // only in its subkeys' paths) has nowhere to go: the whole export.
    if (unowned || g_blocks.empty()) {
        *text = SimRegExport();
        return true;
    }
    // A live key without subkeys or a block of its own lost its subkeys to
    // a deletion: its bare line goes where the first of their blocks was.
    size_t firstEnd = g_read.find('\n');
    std::string lineEnd = firstEnd != std::string::npos && g_read[firstEnd - 1] == '\r' ? "\r\n" : "\n";
    std::vector<std::pair<size_t, std::string>> bare;
    std::vector<SimRegKey *> pending;
    for (int i = 0; i < SimRegRootCount(); i++)
        for (const auto &child : SimRegRoot(i)->subkeys)
            pending.push_back(child.get());
    while (!pending.empty()) {
        SimRegKey *key = pending.back();
        pending.pop_back();
        for (const auto &child : key->subkeys)
            pending.push_back(child.get());
        if (!key->subkeys.empty() || owners.count(key))
            continue;
        std::string below = SimFold(SimRegKeyPath(key) + "\\");
        for (const Block &block : g_blocks) {
            if (block.key->deleted && SimFold(block.key->deletedPath).compare(0, below.size(), below) == 0) {
                bare.push_back({block.start, "[" + SimRegKeyPath(key) + "]" + lineEnd + lineEnd});
                break;
            }
        }
    }
    std::sort(bare.begin(), bare.end());
    std::set<const SimRegKey *> rewritten;  // changed keys whose values are written
    text->assign(g_read, 0, g_blocks.front().start);
    size_t next = 0;
    for (const Block &block : g_blocks) {
        for (; next < bare.size() && bare[next].first == block.start; next++)
            *text += bare[next].second;
        if (block.key->deleted)
            continue;
        if (!block.key->valuesEdited) {
            text->append(g_read, block.start, block.end - block.start);
            continue;
        }
        // A changed key: what its block holds up to its header line, as
        // read; then, in its first block, its values as they are now.
        size_t at = block.start;
        while (at < block.end) {
            size_t next = g_read.find('\n', at);
            next = next == std::string::npos || next >= block.end ? block.end : next + 1;
            bool header = g_read[at] == '[';
            text->append(g_read, at, next - at);
            at = next;
            if (header)
                break;
        }
        if (!rewritten.insert(block.key.get()).second)
            continue;
        std::string values;
        for (const SimRegValue &value : block.key->values)
            WriteValue(&values, value);
        for (size_t crlf; lineEnd == "\n" && (crlf = values.find("\r\n")) != std::string::npos;)
            values.erase(crlf, 1);
        *text += values + lineEnd;
    }
    return true;
}

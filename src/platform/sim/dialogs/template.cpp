// Dialog templates in the platform's layout: little-endian fields, strings
// in UTF-16 ended by a NUL unit, a 0xFFFF unit introducing an ordinal, and
// every control starting on a 4-byte boundary of the template.
#include "dialogs/template.h"

namespace {

struct Reader {
    const unsigned char *bytes;
    size_t size;
    size_t at;
    std::string error;

    bool Need(size_t n, const char *what)
    {
        if (at + n <= size)
            return true;
        if (error.empty())
            error = std::string("template ends inside ") + what + " at byte " +
                    std::to_string(at);
        return false;
    }
    uint16_t Word(const char *what)
    {
        if (!Need(2, what))
            return 0;
        uint16_t v = (uint16_t)(bytes[at] | bytes[at + 1] << 8);
        at += 2;
        return v;
    }
    uint32_t Dword(const char *what)
    {
        uint32_t lo = Word(what);
        uint32_t hi = Word(what);
        return lo | hi << 16;
    }
    uint8_t Byte(const char *what)
    {
        if (!Need(1, what))
            return 0;
        return bytes[at++];
    }
    std::string Text(const char *what)
    {
        std::string text;
        for (;;) {
            uint16_t unit = Word(what);
            if (unit == 0 || !error.empty())
                return text;
            text += unit < 0x100 ? (char)unit : '?';
        }
    }
    SimTemplateName Name(const char *what)
    {
        SimTemplateName name;
        if (!Need(2, what))
            return name;
        if (bytes[at] == 0xFF && bytes[at + 1] == 0xFF) {
            at += 2;
            name.isOrdinal = true;
            name.ordinal = Word(what);
        } else {
            name.text = Text(what);
        }
        return name;
    }
    void Align()
    {
        at = (at + 3) & ~(size_t)3;
    }
};

}  // namespace

const char *SimPredefinedClassName(uint16_t ordinal)
{
    switch (ordinal) {
    case 0x80: return "BUTTON";
    case 0x81: return "EDIT";
    case 0x82: return "STATIC";
    case 0x83: return "LISTBOX";
    case 0x84: return "SCROLLBAR";
    case 0x85: return "COMBOBOX";
    }
    return "";
}

std::string SimControlClass(const SimTemplateControl &control)
{
    if (control.className.isOrdinal)
        return SimPredefinedClassName(control.className.ordinal);
    return control.className.text;
}

bool SimParseDialogTemplate(const unsigned char *bytes, size_t size, SimDialogTemplate *out,
                            std::string *error)
{
    Reader r{bytes, size, 0, std::string()};
    SimDialogTemplate t;
    uint16_t count;
    if (size >= 4 && bytes[0] == 1 && bytes[1] == 0 && bytes[2] == 0xFF && bytes[3] == 0xFF) {
        t.extended = true;
        r.at = 4;
        t.helpId = r.Dword("the header");
        t.exStyle = r.Dword("the header");
        t.style = r.Dword("the header");
    } else {
        t.style = r.Dword("the header");
        t.exStyle = r.Dword("the header");
    }
    count = r.Word("the header");
    t.x = (int16_t)r.Word("the header");
    t.y = (int16_t)r.Word("the header");
    t.cx = (int16_t)r.Word("the header");
    t.cy = (int16_t)r.Word("the header");
    t.menu = r.Name("the menu");
    t.windowClass = r.Name("the class");
    t.caption = r.Text("the caption");
    if (t.style & SIM_DS_SETFONT) {
        t.hasFont = true;
        t.pointSize = r.Word("the font");
        if (t.extended) {
            t.weight = r.Word("the font");
            t.italic = r.Byte("the font");
            t.charset = r.Byte("the font");
        }
        t.face = r.Text("the font");
    }
    for (unsigned i = 0; i < count && r.error.empty(); i++) {
        r.Align();
        SimTemplateControl c;
        if (t.extended) {
            c.helpId = r.Dword("a control");
            c.exStyle = r.Dword("a control");
            c.style = r.Dword("a control");
        } else {
            c.style = r.Dword("a control");
            c.exStyle = r.Dword("a control");
        }
        c.x = (int16_t)r.Word("a control");
        c.y = (int16_t)r.Word("a control");
        c.cx = (int16_t)r.Word("a control");
        c.cy = (int16_t)r.Word("a control");
        c.id = t.extended ? r.Dword("a control") : r.Word("a control");
        c.className = r.Name("a control's class");
        c.text = r.Name("a control's text");
        c.extraBytes = r.Word("a control's creation data");
        if (r.Need(c.extraBytes, "a control's creation data"))
            r.at += c.extraBytes;
        t.controls.push_back(c);
    }
    if (!r.error.empty()) {
        if (error)
            *error = r.error;
        return false;
    }
    t.parsedBytes = r.at;
    *out = t;
    return true;
}

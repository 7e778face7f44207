// Reads a dialog template in the platform's layout, classic (DLGTEMPLATE)
// or extended (DLGTEMPLATEEX), as the resource section stores it. The
// simulated dialog manager builds its dialogs from the program's own
// templates this way, and the tests read the built program's back with it.
#ifndef PLATFORM_SIM_DIALOG_TEMPLATE_H
#define PLATFORM_SIM_DIALOG_TEMPLATE_H

#include <cstdint>
#include <string>
#include <vector>

// A name or an ordinal, as the template stores a class, a menu or a text.
struct SimTemplateName {
    bool isOrdinal = false;
    uint16_t ordinal = 0;
    std::string text;  // UTF-16 units below 0x100 as bytes; others as '?'
};

struct SimTemplateControl {
    uint32_t helpId = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    uint32_t id = 0;
    SimTemplateName className;
    SimTemplateName text;
    uint16_t extraBytes = 0;
};

struct SimDialogTemplate {
    bool extended = false;
    uint32_t helpId = 0;
    uint32_t style = 0;
    uint32_t exStyle = 0;
    int16_t x = 0, y = 0, cx = 0, cy = 0;
    SimTemplateName menu;
    SimTemplateName windowClass;
    std::string caption;
    bool hasFont = false;
    uint16_t pointSize = 0;
    uint16_t weight = 0;
    uint8_t italic = 0;
    uint8_t charset = 0;
    std::string face;
    std::vector<SimTemplateControl> controls;
    size_t parsedBytes = 0;  // where the last control ended
};

// The class a predefined ordinal stands for ("BUTTON" for 0x80), or "".
const char *SimPredefinedClassName(uint16_t ordinal);

// The class name of a control, predefined ordinals resolved.
std::string SimControlClass(const SimTemplateControl &control);

// False, with *error saying where, when the bytes end early or hold a
// structure that is not a template.
bool SimParseDialogTemplate(const unsigned char *bytes, size_t size, SimDialogTemplate *out,
                            std::string *error);

#define SIM_DS_SETFONT 0x40u

#endif

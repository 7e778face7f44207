// A registry value comes back as raw bytes: a string need not end in a NUL,
// and a value longer than the buffer leaves the buffer's content undefined.
// The text is terminated here, inside the buffer, and one that did not fit
// is refused rather than used cut.
#include "engine.h"

int ReadValueText(HKEY key, LPCSTR valueName, char *text, int size)
{
    DWORD type = REG_NONE;
    DWORD bytes = (DWORD)size;
    LONG result = RegQueryValueExA(key, valueName, 0, &type, (LPBYTE)text, &bytes);
    if (result == ERROR_MORE_DATA || (result == ERROR_SUCCESS && bytes > (DWORD)size)) {
        text[0] = 0;
        return VALUE_TEXT_TOO_LONG;
    }
    if (result != ERROR_SUCCESS) {
        text[0] = 0;
        return VALUE_TEXT_MISSING;
    }
    if (bytes < (DWORD)size) {
        text[bytes] = 0;
        return VALUE_TEXT_READ;
    }
    // The value filled the buffer exactly: text only if it ends inside.
    for (int i = 0; i < size; i++) {
        if (text[i] == 0)
            return VALUE_TEXT_READ;
    }
    text[0] = 0;
    return VALUE_TEXT_TOO_LONG;
}

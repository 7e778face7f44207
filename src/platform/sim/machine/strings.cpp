// lstrcpyA, lstrcatA, lstrcmpA, lstrlenA on the simulated machine: byte
// semantics but for the comparison (below), and the Windows 9x answer to a
// null pointer (the call returns NULL, 0 or compares the null first instead
// of faulting).
//
// They are recorded like every other service, because the record is how
// tests see how a path was composed: lstrcpyA and lstrcatA record the
// destination as it reads after the call, and the result as 1 when the
// destination pointer is returned, 0 for NULL.
#include "core/core.h"

namespace {

// Windows compares by the locale's sort rules, not by bytes. Under code
// page 1252 that makes different strings equal in three ways only: the soft
// hyphen counts for nothing, a ligature or a thorn counts as its two letters,
// and the modifier circumflex as the circumflex (measured under Wine over
// every byte and pair of bytes). Whether two strings are equal is all the
// program asks; which comes first follows the bytes here, which Windows'
// order does not ("a" before "B" before "b").
std::string SortForm(const char *text)
{
    static const char *const expansions[][2] = {
        {"\x8c", "OE"}, {"\x9c", "oe"}, {"\xc6", "AE"}, {"\xe6", "ae"},
        {"\xde", "TH"}, {"\xfe", "th"}, {"\xdf", "ss"}, {"\x88", "^"}, {"\xad", ""},
    };
    std::string form;
    for (; *text; text++) {
        const char *as = nullptr;
        for (const auto &e : expansions) {
            if (*text == e[0][0])
                as = e[1];
        }
        form += as ? std::string(as) : std::string(1, *text);
    }
    return form;
}

int Compare(const char *a, const char *b)
{
    // Windows 9x answers -2 whenever a pointer is NULL (Wine's locale.c).
    if (!a || !b)
        return -2;
    int order = SortForm(a).compare(SortForm(b));
    return order < 0 ? -1 : (order > 0 ? 1 : 0);
}

// Copies the string and its NUL.
void CopyBytes(char *to, const char *from)
{
    while ((*to++ = *from++) != 0) {
    }
}

}  // namespace

LPSTR WINAPI lstrcpyA(LPSTR lpString1, LPCSTR lpString2)
{
    long error;
    std::string source = SimArgText(lpString2);
    LPSTR result = nullptr;
    if (!SimFault("lstrcpyA", &error) && lpString1 && lpString2) {
        CopyBytes(lpString1, lpString2);
        result = lpString1;
    }
    SimRecord("lstrcpyA", {result ? std::string(lpString1) : SimArgText(nullptr), source},
              result != nullptr);
    return result;
}

LPSTR WINAPI lstrcatA(LPSTR lpString1, LPCSTR lpString2)
{
    long error;
    std::string source = SimArgText(lpString2);
    LPSTR result = nullptr;
    if (!SimFault("lstrcatA", &error) && lpString1 && lpString2) {
        char *end = lpString1;
        while (*end)
            end++;
        CopyBytes(end, lpString2);
        result = lpString1;
    }
    SimRecord("lstrcatA", {result ? std::string(lpString1) : SimArgText(nullptr), source},
              result != nullptr);
    return result;
}

// A fault here makes the call answer with the error value itself, so that
// a test can force any comparison result.
int WINAPI lstrcmpA(LPCSTR lpString1, LPCSTR lpString2)
{
    long error;
    int result = SimFault("lstrcmpA", &error) ? (int)error : Compare(lpString1, lpString2);
    SimRecord("lstrcmpA", {SimArgText(lpString1), SimArgText(lpString2)}, result);
    return result;
}

int WINAPI lstrlenA(LPCSTR lpString)
{
    long error;
    int result = 0;
    if (SimFault("lstrlenA", &error)) {
        result = (int)error;
    } else if (lpString) {
        while (lpString[result])
            result++;
    }
    SimRecord("lstrlenA", {SimArgText(lpString)}, result);
    return result;
}

// WINDRIVE.EXE: the Wine suite's hands inside the program's Wine session. It
// finds a dialog by caption (class "#32770", which message boxes share) and
// acts on it as the dialog manager would see a user act. It waits itself: a
// new Wine process takes longer to start than the progress dialog lives, so
// the suite starts it before the program and lets it poll.
//
// Commands (TIMEOUT in ms; exit 0 done, 1 failed or timed out, 3 usage).
// Each command that waits for a dialog prints "waiting" once it looks for
// it and "found" when it has it, each on a line of its own, before its
// output:
//   click CAPTION ID TIMEOUT     BM_CLICK posted to the button; prints
//                                "clicked" once it is posted
//   close CAPTION TIMEOUT        the close box's command, SC_CLOSE
//   closebox CAPTION TIMEOUT     prints "x y", a screen point that the
//                                dialog itself calls HTCLOSE
//   dump CAPTION TIMEOUT         one line per window, the dialog first:
//                                id, class, extended style, text in hex;
//                                then "gone" when the dialog was no longer
//                                shown at the end (it closed while read)
//   watchbar CAPTION ID TIMEOUT  each new position of the progress bar
//                                while it exists, polled every millisecond
//   hold PATH CAPTION TIMEOUT    opens PATH without sharing, prints "held",
//                                and closes it once the dialog shows: a
//                                file in use, as a loaded module is
//   regload                      keys and values from standard input, a line
//                                each: "K R PATH" creates the key (volatile
//                                below HKEY_CURRENT_CONFIG), "V NAME TYPE
//                                DATA" sets a value of it (NAME and DATA in
//                                hex, NAME "-" for the default value, TYPE in
//                                decimal), "X NAME" deletes one
//   regdump                      for each "R PATH" line of standard input,
//                                that key and its subtree as the A calls see
//                                them: "K R PATH" and "V NAME TYPE DATA"
//                                lines, "R PATH", NAME and DATA in hex
// Known limits: the first dialog with the caption wins; texts are cut at
// 1023 bytes.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

void Say(const char *line)
{
    printf("%s\n", line);
    fflush(stdout);
}

// Says "waiting" once it has looked for the dialog the first time, so that
// the suite acts only once it is looking, and "found" when it shows.
HWND WaitDialog(const char *caption, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (BOOL first = TRUE;; first = FALSE) {
        HWND hwnd = FindWindowA("#32770", caption);
        if (first)
            Say("waiting");
        if (hwnd && IsWindowVisible(hwnd)) {
            Say("found");
            return hwnd;
        }
        if (GetTickCount() - start >= timeout)
            return NULL;
        Sleep(5);
    }
}

// Messages to another process's window, never waiting on a hung one.
DWORD_PTR Ask(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, BOOL *ok = NULL)
{
    DWORD_PTR result = 0;
    BOOL sent = SendMessageTimeoutA(hwnd, message, wParam, lParam, SMTO_ABORTIFHUNG, 2000, &result);
    if (ok)
        *ok = sent;
    return sent ? result : 0;
}

void PrintHex(const char *tag, const void *data, size_t size, const char *end)
{
    printf("%s", tag);
    for (size_t i = 0; i < size; i++)
        printf("%02X", ((const BYTE *)data)[i]);
    printf("%s", end);
}

// WM_GETTEXT, not GetWindowTextA, which reads only another process's caption.
BOOL CALLBACK PrintLine(HWND hwnd, LPARAM)
{
    char cls[256], text[1024];
    if (!GetClassNameA(hwnd, cls, sizeof cls))
        cls[0] = 0;
    DWORD_PTR got = Ask(hwnd, WM_GETTEXT, sizeof text, (LPARAM)text);
    printf("%d %s %08lX", GetDlgCtrlID(hwnd), cls, (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE));
    PrintHex(" ", text, got < sizeof text ? got : sizeof text - 1, "\n");
    return TRUE;
}

// Scans the middle of the caption band from the right edge, where the close
// box sits, and aims at the middle of the first run of HTCLOSE points.
BOOL FindCloseBox(HWND hwnd, POINT *pt)
{
    RECT rc;
    GetWindowRect(hwnd, &rc);
    pt->y = rc.top + GetSystemMetrics(SM_CYFIXEDFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2;
    for (int x = rc.right - 1, right = -1; x > rc.left; x--) {
        BOOL close = Ask(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, pt->y)) == HTCLOSE;
        if (close && right < 0)
            right = x;
        if (!close && right >= 0) {
            pt->x = (x + 1 + right) / 2;
            return TRUE;
        }
    }
    return FALSE;
}

void WatchBar(HWND bar)
{
    timeBeginPeriod(1);
    long last = -1;
    BOOL ok = TRUE;
    while (ok && IsWindow(bar)) {
        long pos = (long)Ask(bar, PBM_GETPOS, 0, 0, &ok);
        if (ok && pos != last) {
            printf("%ld ", last = pos);
            fflush(stdout);
        }
        Sleep(1);
    }
    printf("\n");
}

// A key path "R PATH" names PATH below root R: 0 HKEY_LOCAL_MACHINE,
// 1 HKEY_USERS, 2 HKEY_CLASSES_ROOT, 3 HKEY_CURRENT_CONFIG, 4 HKEY_CURRENT_USER.
HKEY SplitRoot(const char *key, const char **path)
{
    static const HKEY roots[] = {HKEY_LOCAL_MACHINE, HKEY_USERS, HKEY_CLASSES_ROOT,
                                 HKEY_CURRENT_CONFIG, HKEY_CURRENT_USER};
    *path = key + 2;
    return key[0] >= '0' && key[0] <= '4' && key[1] == ' ' ? roots[key[0] - '0'] : NULL;
}

// Decodes in place: a byte is written only after its two digits are read.
size_t FromHex(char *hex, size_t size)
{
    size_t n = 0;
    for (; hex[2 * n] && hex[2 * n + 1] && n < size; n++) {
        char pair[3] = {hex[2 * n], hex[2 * n + 1], 0};
        hex[n] = (char)strtoul(pair, NULL, 16);
    }
    return n;
}

int LoadRegistry()
{
    static char line[70000], data[70000];
    HKEY key = NULL;
    int failed = 0;
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        char name[1024];
        unsigned long type = 0;
        const char *path;
        HKEY root = line[0] == 'K' ? SplitRoot(line + 2, &path) : NULL;
        LONG result = ERROR_INVALID_DATA;
        data[0] = 0;
        if (root) {
            RegCloseKey(key);  // none yet: an error, no harm
            DWORD options = root == HKEY_CURRENT_CONFIG ? REG_OPTION_VOLATILE : 0;
            result = RegCreateKeyExA(root, path, 0, NULL, options, KEY_ALL_ACCESS, NULL, &key, NULL);
            if (result != ERROR_SUCCESS)
                key = NULL;
        } else if (key && sscanf(line + 1, " %1023s %lu %69999s", name, &type, data) >= 1) {
            name[FromHex(name, sizeof name - 1)] = 0;  // "-" is no digit: the default value
            DWORD size = (DWORD)FromHex(data, sizeof data - 1);
            // NT counts a string's NUL that the caller left out when the
            // byte after the data is one: here it is not.
            data[size] = (char)0xFF;
            result = line[0] == 'X' ? RegDeleteValueA(key, name)
                                    : RegSetValueExA(key, name, 0, type, (BYTE *)data, size);
        }
        if (result != ERROR_SUCCESS) {
            fprintf(stderr, "windrive: %s: error %ld\n", line, result);
            failed = 1;
        }
    }
    RegCloseKey(key);
    return failed;
}

void DumpKey(HKEY key, const char *path)
{
    static BYTE data[65536];
    char name[16384], child[256], childPath[4096];
    PrintHex("K ", path, strlen(path), "\n");
    DWORD nameSize = sizeof name, size = sizeof data, type = 0;
    for (DWORD i = 0; RegEnumValueA(key, i, name, &nameSize, NULL, &type, data, &size) ==
                      ERROR_SUCCESS; i++, nameSize = sizeof name, size = sizeof data) {
        PrintHex("V ", name, nameSize, "");
        printf(" %lu", (unsigned long)type);
        PrintHex(" ", data, size, "\n");
    }
    for (DWORD i = 0; RegEnumKeyA(key, i, child, sizeof child) == ERROR_SUCCESS; i++) {
        HKEY sub;
        snprintf(childPath, sizeof childPath, "%s\\%s", path, child);
        if (RegOpenKeyExA(key, child, 0, KEY_READ, &sub) == ERROR_SUCCESS) {
            DumpKey(sub, childPath);
            RegCloseKey(sub);
        }
    }
}

int Hold(const char *path, const char *caption, DWORD timeout)
{
    HANDLE file = CreateFileA(path, GENERIC_READ, 0, NULL, OPEN_EXISTING, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) {
        fprintf(stderr, "windrive: cannot hold %s (error %lu)\n", path, (unsigned long)GetLastError());
        return 1;
    }
    Say("held");
    HWND hwnd = WaitDialog(caption, timeout);
    CloseHandle(file);
    return hwnd ? 0 : 1;
}

int DumpRegistry()
{
    static char line[4096];
    while (fgets(line, sizeof line, stdin)) {
        line[strcspn(line, "\r\n")] = 0;
        const char *path;
        HKEY root = SplitRoot(line, &path), key;
        if (root && RegOpenKeyExA(root, path, 0, KEY_READ, &key) == ERROR_SUCCESS) {
            DumpKey(key, line);
            RegCloseKey(key);
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    const char *command = argc > 1 ? argv[1] : "";
    if (strcmp(command, "regload") == 0)
        return LoadRegistry();
    if (strcmp(command, "regdump") == 0)
        return DumpRegistry();
    if (strcmp(command, "hold") == 0 && argc == 5)
        return Hold(argv[2], argv[3], strtoul(argv[4], NULL, 10));
    BOOL takesId = strcmp(command, "click") == 0 || strcmp(command, "watchbar") == 0;
    if (argc != (takesId ? 5 : 4)) {
        fprintf(stderr, "windrive: bad command line (commands: see windrive.cpp)\n");
        return 3;
    }
    HWND hwnd = WaitDialog(argv[2], strtoul(argv[argc - 1], NULL, 10));
    HWND item = hwnd && takesId ? GetDlgItem(hwnd, atoi(argv[3])) : hwnd;
    if (!item) {
        fprintf(stderr, "windrive: no dialog \"%s\" (or no such control)\n", argv[2]);
        return 1;
    }
    POINT pt;
    if (strcmp(command, "click") == 0) {
        // Said once posted: a Yes to the restart question may end this
        // process with the session before it has exited.
        PostMessageA(item, BM_CLICK, 0, 0);
        Say("clicked");
    }
    else if (strcmp(command, "close") == 0)
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
    else if (strcmp(command, "closebox") == 0 && FindCloseBox(hwnd, &pt))
        printf("%ld %ld\n", pt.x, pt.y);
    else if (strcmp(command, "watchbar") == 0)
        WatchBar(item);
    else if (strcmp(command, "dump") == 0) {
        PrintLine(hwnd, 0);
        EnumChildWindows(hwnd, PrintLine, 0);
        // EndDialog hides the dialog before it goes: a dump that outlived
        // it may have read its controls half destroyed.
        if (!IsWindow(hwnd) || !IsWindowVisible(hwnd))
            Say("gone");
    } else
        return 1;  // an unknown command, or no close box found
    return 0;
}

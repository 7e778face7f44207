// WINDRIVE.EXE: the hands of the Wine suite. It runs beside the program
// under test in the same Wine session, finds a dialog by its caption (class
// "#32770", which message boxes share) and acts on it the way the dialog
// manager would see a user act: a button click, the close box, or a report
// of what the dialog shows.
//
// Waiting is done here, not by the caller: a new Wine process takes a good
// part of a second to start, longer than the progress dialog lives, so the
// suite starts this helper before the program and lets it poll.
//
// Commands (timeouts in milliseconds; exit 0 done, 1 timed out, 3 usage):
//   wait CAPTION TIMEOUT          until the dialog exists and is visible
//   gone CAPTION TIMEOUT          until no such dialog exists
//   click CAPTION ID TIMEOUT      BM_CLICK posted to the button with that id
//   close CAPTION TIMEOUT         the close box's command, SC_CLOSE
//   closebox CAPTION TIMEOUT      prints "x y": a screen point where the
//                                 dialog answers WM_NCHITTEST with HTCLOSE
//   dump CAPTION TIMEOUT          prints the dialog and its controls: id,
//                                 class, styles, screen rectangle and the
//                                 text as hex bytes of the ANSI code page
//   watchbar CAPTION ID TIMEOUT   the positions a progress bar takes while
//                                 the dialog is up, each new one printed;
//                                 polled every millisecond, faster than
//                                 the timer that steps the bar
//   volatilekey KEY [NAME TYPE DATA]...
//                                 creates KEY (HKEY_CURRENT_CONFIG\... and
//                                 the other root names) as a volatile key,
//                                 with values: NAME "@" for the default
//                                 value, TYPE sz, dword (hex) or hex (bytes)
//   profile SECTION KEY VALUE [SECTION KEY VALUE]...
//                                 WriteProfileStringA of each triple: the
//                                 system profile, wherever this Wine keeps
//                                 the section (some live in the registry)
// Known limits: the first dialog with the caption wins; texts longer than
// 1023 bytes are cut.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const DWORD POLL_MS = 5;

HWND FindDialog(const char *caption)
{
    HWND hwnd = FindWindowA("#32770", caption);
    return (hwnd && IsWindowVisible(hwnd)) ? hwnd : NULL;
}

HWND WaitDialog(const char *caption, DWORD timeout)
{
    DWORD start = GetTickCount();
    for (;;) {
        HWND hwnd = FindDialog(caption);
        if (hwnd)
            return hwnd;
        if (GetTickCount() - start >= timeout)
            return NULL;
        Sleep(POLL_MS);
    }
}

BOOL WaitGone(const char *caption, DWORD timeout)
{
    DWORD start = GetTickCount();
    while (FindWindowA("#32770", caption)) {
        if (GetTickCount() - start >= timeout)
            return FALSE;
        Sleep(POLL_MS);
    }
    return TRUE;
}

// The text of a window of another process: WM_GETTEXT is marshalled across
// processes, GetWindowTextA would only read the cached caption.
void PrintText(HWND hwnd)
{
    char text[1024];
    DWORD_PTR got = 0;
    memset(text, 0, sizeof text);
    if (!SendMessageTimeoutA(hwnd, WM_GETTEXT, sizeof text, (LPARAM)text, SMTO_ABORTIFHUNG, 2000,
                             &got))
        got = 0;
    if (got >= sizeof text)
        got = sizeof text - 1;
    printf(" text=");
    for (DWORD_PTR i = 0; i < got; i++)
        printf("%02X", (unsigned char)text[i]);
    printf("\n");
}

void PrintWindow(const char *kind, HWND hwnd)
{
    char cls[256];
    RECT rc;
    if (!GetClassNameA(hwnd, cls, sizeof cls))
        cls[0] = 0;
    GetWindowRect(hwnd, &rc);
    printf("%s id=%d class=%s style=%08lX exstyle=%08lX rect=%ld,%ld,%ld,%ld", kind,
           GetDlgCtrlID(hwnd), cls, (unsigned long)GetWindowLongA(hwnd, GWL_STYLE),
           (unsigned long)GetWindowLongA(hwnd, GWL_EXSTYLE), rc.left, rc.top, rc.right - rc.left,
           rc.bottom - rc.top);
    PrintText(hwnd);
}

BOOL CALLBACK PrintChild(HWND hwnd, LPARAM)
{
    PrintWindow("control", hwnd);
    return TRUE;
}

// Scans the caption bar from the right edge, where the close box sits, for
// the point the window itself calls its close box.
BOOL FindCloseBox(HWND hwnd, POINT *pt)
{
    RECT rc;
    GetWindowRect(hwnd, &rc);
    int captionBottom = rc.top + GetSystemMetrics(SM_CYCAPTION) + 2 * GetSystemMetrics(SM_CYFRAME);
    for (int y = rc.top; y < captionBottom && y < rc.bottom; y++) {
        for (int x = rc.right - 1; x > rc.right - 60 && x > rc.left; x--) {
            DWORD_PTR hit = 0;
            if (!SendMessageTimeoutA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(x, y), SMTO_ABORTIFHUNG,
                                     2000, &hit))
                return FALSE;
            if (hit == HTCLOSE) {
                // Aim at the middle of the box, not its first pixel.
                int left = x;
                while (left > rc.left) {
                    SendMessageTimeoutA(hwnd, WM_NCHITTEST, 0, MAKELPARAM(left - 1, y),
                                        SMTO_ABORTIFHUNG, 2000, &hit);
                    if (hit != HTCLOSE)
                        break;
                    left--;
                }
                pt->x = (left + x) / 2;
                pt->y = y + 4;
                return TRUE;
            }
        }
    }
    return FALSE;
}

struct RootName {
    const char *name;
    HKEY key;
};

const RootName g_roots[] = {
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},   {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE}, {"HKEY_USERS", HKEY_USERS},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG}, {"", NULL},
};

// Wine builds HKEY_CURRENT_CONFIG\System at every start as a volatile key,
// and a volatile key takes only volatile subkeys: the suite recreates the
// driver's keys there in each session, before the program runs.
int CreateVolatileKey(int argc, char **argv)
{
    const char *full = argv[2];
    const char *slash = strchr(full, '\\');
    if (!slash)
        return 3;
    HKEY root = NULL;
    for (int i = 0; g_roots[i].key; i++) {
        if (strlen(g_roots[i].name) == (size_t)(slash - full) &&
            _strnicmp(full, g_roots[i].name, slash - full) == 0)
            root = g_roots[i].key;
    }
    HKEY key;
    if (!root || RegCreateKeyExA(root, slash + 1, 0, NULL, REG_OPTION_VOLATILE, KEY_ALL_ACCESS,
                                 NULL, &key, NULL) != ERROR_SUCCESS) {
        fprintf(stderr, "windrive: cannot create volatile key %s\n", full);
        return 1;
    }
    int rc = 0;
    for (int i = 3; i + 2 < argc; i += 3) {
        const char *name = strcmp(argv[i], "@") == 0 ? NULL : argv[i];
        const char *type = argv[i + 1];
        const char *data = argv[i + 2];
        LONG err;
        if (strcmp(type, "sz") == 0) {
            err = RegSetValueExA(key, name, 0, REG_SZ, (const BYTE *)data, strlen(data) + 1);
        } else if (strcmp(type, "dword") == 0) {
            DWORD n = strtoul(data, NULL, 16);
            err = RegSetValueExA(key, name, 0, REG_DWORD, (const BYTE *)&n, sizeof n);
        } else {
            BYTE bytes[512];
            DWORD size = 0;
            for (; data[0] && data[1] && size < sizeof bytes; data += 2) {
                char pair[3] = {data[0], data[1], 0};
                bytes[size++] = (BYTE)strtoul(pair, NULL, 16);
            }
            err = RegSetValueExA(key, name, 0, REG_BINARY, bytes, size);
        }
        if (err != ERROR_SUCCESS) {
            fprintf(stderr, "windrive: cannot set %s in %s\n", argv[i], full);
            rc = 1;
        }
    }
    RegCloseKey(key);
    return rc;
}

int Usage()
{
    fprintf(stderr, "usage: windrive wait|gone|close|closebox|dump CAPTION TIMEOUT\n"
                    "       windrive click|watchbar CAPTION ID TIMEOUT\n"
                    "       windrive volatilekey KEY [NAME TYPE DATA]...\n"
                    "       windrive profile SECTION KEY VALUE [SECTION KEY VALUE]...\n");
    return 3;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc >= 3 && strcmp(argv[1], "volatilekey") == 0)
        return CreateVolatileKey(argc, argv);
    if (strcmp(argv[1], "profile") == 0) {
        int rc = 0;
        for (int i = 2; i + 2 < argc; i += 3) {
            if (!WriteProfileStringA(argv[i], argv[i + 1], argv[i + 2])) {
                fprintf(stderr, "windrive: cannot write [%s] %s\n", argv[i], argv[i + 1]);
                rc = 1;
            }
        }
        return rc;
    }
    if (argc < 4)
        return Usage();
    const char *command = argv[1];
    const char *caption = argv[2];
    BOOL isClick = strcmp(command, "click") == 0;
    BOOL takesId = isClick || strcmp(command, "watchbar") == 0;
    if (takesId && argc < 5)
        return Usage();
    DWORD timeout = (DWORD)strtoul(argv[takesId ? 4 : 3], NULL, 10);

    if (strcmp(command, "gone") == 0)
        return WaitGone(caption, timeout) ? 0 : 1;

    HWND hwnd = WaitDialog(caption, timeout);
    if (!hwnd) {
        fprintf(stderr, "windrive: no visible dialog \"%s\" after %lu ms\n", caption,
                (unsigned long)timeout);
        return 1;
    }
    if (strcmp(command, "wait") == 0)
        return 0;
    if (isClick) {
        int id = atoi(argv[3]);
        HWND button = GetDlgItem(hwnd, id);
        if (!button) {
            fprintf(stderr, "windrive: \"%s\" has no control %d\n", caption, id);
            return 1;
        }
        PostMessageA(button, BM_CLICK, 0, 0);
        return 0;
    }
    if (strcmp(command, "close") == 0) {
        PostMessageA(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
        return 0;
    }
    if (strcmp(command, "closebox") == 0) {
        POINT pt;
        if (!FindCloseBox(hwnd, &pt)) {
            fprintf(stderr, "windrive: \"%s\" shows no close box\n", caption);
            return 1;
        }
        printf("%ld %ld\n", pt.x, pt.y);
        return 0;
    }
    if (strcmp(command, "watchbar") == 0) {
        HWND bar = GetDlgItem(hwnd, atoi(argv[3]));
        timeBeginPeriod(1);
        LRESULT last = -1;
        while (bar && IsWindow(bar)) {
            DWORD_PTR pos = 0;
            if (!SendMessageTimeoutA(bar, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos))
                break;
            if ((LRESULT)pos != last) {
                printf("%ld ", (long)pos);
                fflush(stdout);
                last = (LRESULT)pos;
            }
            Sleep(1);
        }
        printf("\n");
        return 0;
    }
    if (strcmp(command, "dump") == 0) {
        PrintWindow("dialog", hwnd);
        EnumChildWindows(hwnd, PrintChild, 0);
        return 0;
    }
    return Usage();
}

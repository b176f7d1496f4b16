/* wintool: the Wine suite's hands and eyes inside the Wine desktop.
 *
 * A console program that finds the windows of other programs running in the
 * same Wine prefix, prints what they show and presses their buttons, the way
 * a user would, through ordinary Win32 calls (EnumWindows, GetWindowRect,
 * WM_GETTEXT, PostMessage of WM_COMMAND). It never reaches into the program
 * under test except through its windows, and through the optional message
 * spy (spy.dll) that the "spy" command hooks onto a window's thread.
 *
 *   wintool.exe [--desktop NAME] COMMAND ARGS... [COMMAND ARGS...]...
 *
 * Commands run in order; "wait" and "select" choose the current window that
 * the later commands act on:
 *   wait TEXT MS      wait up to MS milliseconds for a visible top-level
 *                     window whose caption or one of whose controls' text
 *                     contains TEXT; it becomes the current window and is
 *                     printed as {"event":"found",...}
 *   waitbox TEXT MS   the same for a message box: a window whose message text
 *                     (the static control 0xFFFF of a MessageBox) contains
 *                     TEXT; an empty TEXT stands for any message box
 *   select HWND       make the window with this handle (as printed) current,
 *                     also when it no longer exists (for "gone")
 *   dump              print the current window
 *   list              print every visible top-level window
 *   settext ID TEXT   set the text of control ID of the current window
 *   click ID          post WM_COMMAND (ID, BN_CLICKED) to the current window,
 *                     as a click on its button ID does
 *   gone MS           wait up to MS milliseconds for the current window to
 *                     be destroyed
 *   spy DLL           hook DLL's SpyCallWndProc onto the current window's
 *                     thread (WH_CALLWNDPROC); the hook lasts as long as this
 *                     process, so later commands must keep it alive
 *   metrics           print the screen size (GetSystemMetrics)
 *   drive LETTER PATH map drive LETTER to the Unix folder PATH as a
 *                     removable drive, the way winecfg defines drives: Wine's
 *                     mount manager then reads the volume label afresh from
 *                     PATH/.windows-label (a disk change)
 *   label ROOT        print the volume label of ROOT, e.g. A:\
 * A wait that times out prints {"event":"timeout",...} and the program ends
 * with exit code 3; a bad command line ends with 2; a failed action with 4.
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <winioctl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#define TEXT_MAX 4096

static HWND current;

/* JSON output of wide strings: ASCII as is, the rest as \uXXXX. */
static void PutJsonString(const WCHAR *s) {
    putchar('"');
    for (; *s; ++s) {
        WCHAR c = *s;
        if (c == '"' || c == '\\')
            printf("\\%c", (char)c);
        else if (c == '\n')
            printf("\\n");
        else if (c == '\r')
            printf("\\r");
        else if (c == '\t')
            printf("\\t");
        else if (c < 0x20 || c > 0x7e)
            printf("\\u%04x", (unsigned)c);
        else
            putchar((char)c);
    }
    putchar('"');
}

/* The text of a window, also of a control in another process. Static
 * controls and captions come from the window's own text; edit controls keep
 * theirs inside, so they are asked with a bounded WM_GETTEXT. */
static void WindowTextOf(HWND window, WCHAR *text, int size) {
    WCHAR className[64];
    text[0] = 0;
    GetClassNameW(window, className, 64);
    if (!lstrcmpiW(className, L"Edit")) {
        DWORD_PTR result = 0;
        if (SendMessageTimeoutW(window, WM_GETTEXT, size, (LPARAM)text, SMTO_ABORTIFHUNG, 1000,
                                &result))
            return;
        text[0] = 0;
    }
    InternalGetWindowText(window, text, size);
}

static void PutRect(HWND window) {
    RECT r;
    GetWindowRect(window, &r);
    printf("[%ld,%ld,%ld,%ld]", r.left, r.top, r.right, r.bottom);
}

static BOOL CALLBACK PutChild(HWND child, LPARAM first) {
    static WCHAR text[TEXT_MAX], className[256];
    if (!*(int *)first)
        putchar(',');
    *(int *)first = 0;
    WindowTextOf(child, text, TEXT_MAX);
    GetClassNameW(child, className, 256);
    printf("{\"hwnd\":\"%lu\",\"id\":%d,\"class\":", (unsigned long)(ULONG_PTR)child,
           GetDlgCtrlID(child));
    PutJsonString(className);
    printf(",\"text\":");
    PutJsonString(text);
    printf(",\"visible\":%s,\"enabled\":%s,\"rect\":", IsWindowVisible(child) ? "true" : "false",
           IsWindowEnabled(child) ? "true" : "false");
    PutRect(child);
    putchar('}');
    return TRUE;
}

static void PutWindow(const char *event, HWND window) {
    static WCHAR text[TEXT_MAX], className[256];
    DWORD pid = 0;
    DWORD tid = GetWindowThreadProcessId(window, &pid);
    WindowTextOf(window, text, TEXT_MAX);
    GetClassNameW(window, className, 256);
    printf("{\"event\":\"%s\",\"hwnd\":\"%lu\",\"pid\":%lu,\"tid\":%lu,\"class\":", event,
           (unsigned long)(ULONG_PTR)window, (unsigned long)pid, (unsigned long)tid);
    PutJsonString(className);
    printf(",\"text\":");
    PutJsonString(text);
    printf(
        ",\"visible\":%s,\"owner\":\"%lu\",\"rect\":", IsWindowVisible(window) ? "true" : "false",
        (unsigned long)(ULONG_PTR)GetWindow(window, GW_OWNER));
    PutRect(window);
    printf(",\"children\":[");
    int first = 1;
    EnumChildWindows(window, PutChild, (LPARAM)&first);
    printf("]}\n");
    fflush(stdout);
}

struct Search {
    const WCHAR *needle;
    BOOL boxOnly; /* only the message text of a message box counts */
    HWND found;
};

static BOOL CALLBACK ChildHasText(HWND child, LPARAM param) {
    static WCHAR text[TEXT_MAX];
    struct Search *search = (struct Search *)param;
    if (search->boxOnly && GetDlgCtrlID(child) != 0xFFFF)
        return TRUE;
    WindowTextOf(child, text, TEXT_MAX);
    if (wcsstr(text, search->needle)) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK TopHasText(HWND window, LPARAM param) {
    static WCHAR text[TEXT_MAX];
    struct Search *search = (struct Search *)param;
    if (!IsWindowVisible(window))
        return TRUE;
    WindowTextOf(window, text, TEXT_MAX);
    if (!search->boxOnly && wcsstr(text, search->needle)) {
        search->found = window;
        return FALSE;
    }
    struct Search inner = {search->needle, search->boxOnly, NULL};
    EnumChildWindows(window, ChildHasText, (LPARAM)&inner);
    if (inner.found) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

static BOOL CALLBACK PutVisibleTop(HWND window, LPARAM unused) {
    (void)unused;
    if (IsWindowVisible(window))
        PutWindow("window", window);
    return TRUE;
}

/* Runs the window messages of this thread (the spy hook and cross-process
 * sends need them) while pausing. */
static void Pause(DWORD ms) {
    DWORD start = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        DWORD spent = GetTickCount() - start;
        if (spent >= ms)
            return;
        MsgWaitForMultipleObjects(0, NULL, FALSE, ms - spent < 50 ? ms - spent : 50, QS_ALLINPUT);
    }
}

static void Timeout(const char *what, const WCHAR *detail) {
    printf("{\"event\":\"timeout\",\"what\":\"%s\",\"detail\":", what);
    PutJsonString(detail ? detail : L"");
    printf("}\n");
    printf("{\"event\":\"windows at timeout\"}\n");
    EnumWindows(PutVisibleTop, 0);
    fflush(stdout);
    exit(3);
}

static void Fail(const char *what) {
    printf("{\"event\":\"error\",\"what\":\"%s\",\"lastError\":%lu}\n", what,
           (unsigned long)GetLastError());
    fflush(stdout);
    exit(4);
}

static void NeedCurrent(const char *command) {
    if (!current || !IsWindow(current))
        Fail(command);
}

/* Wine's mount manager extension that winecfg uses to define a drive. */
#define IOCTL_DEFINE_UNIX_DRIVE                                                                    \
    CTL_CODE('m', 32, METHOD_BUFFERED, FILE_READ_ACCESS | FILE_WRITE_ACCESS)
struct UnixDrive {
    ULONG size;
    ULONG type;
    ULONG fsType;
    DWORD serial;
    ULONGLONG unixDev;
    WCHAR letter;
    USHORT mountPointOffset;
    USHORT deviceOffset;
    USHORT labelOffset;
};

static void DefineDrive(WCHAR letter, const WCHAR *unixPath) {
    char buffer[sizeof(struct UnixDrive) + 1024];
    struct UnixDrive *drive = (struct UnixDrive *)buffer;
    memset(buffer, 0, sizeof buffer);
    int length =
        WideCharToMultiByte(CP_UTF8, 0, unixPath, -1, buffer + sizeof *drive, 1024, NULL, NULL);
    if (length <= 0)
        Fail("drive path");
    drive->size = sizeof *drive + length;
    drive->type = DRIVE_REMOVABLE;
    drive->letter = letter;
    drive->mountPointOffset = sizeof *drive;
    HANDLE manager = CreateFileW(L"\\\\.\\MountPointManager", GENERIC_READ | GENERIC_WRITE,
                                 FILE_SHARE_READ | FILE_SHARE_WRITE, NULL, OPEN_EXISTING, 0, NULL);
    if (manager == INVALID_HANDLE_VALUE)
        Fail("mount manager");
    DWORD returned = 0;
    if (!DeviceIoControl(manager, IOCTL_DEFINE_UNIX_DRIVE, buffer, drive->size, NULL, 0, &returned,
                         NULL))
        Fail("define drive");
    CloseHandle(manager);
}

static DWORD Number(const WCHAR *s) {
    return (DWORD)wcstoul(s, NULL, 0);
}

static void Usage(void) {
    fprintf(stderr, "usage: wintool [--desktop NAME] COMMAND ARGS... (see the source)\n");
    exit(2);
}

int wmain(int argc, WCHAR **argv) {
    int i = 1;
    if (i + 1 < argc && !wcscmp(argv[i], L"--desktop")) {
        /* The desktop is made by the program under test as it starts: wait
         * for it as for a window. */
        DWORD start = GetTickCount();
        HDESK desktop;
        while (!(desktop = OpenDesktopW(argv[i + 1], 0, FALSE, GENERIC_ALL))) {
            if (GetTickCount() - start >= 30000)
                Timeout("desktop", argv[i + 1]);
            Sleep(100);
        }
        if (!SetThreadDesktop(desktop))
            Fail("desktop");
        i += 2;
    }
    if (i >= argc)
        Usage();
    while (i < argc) {
        const WCHAR *command = argv[i++];
#define NEED(n)                                                                                    \
    do {                                                                                           \
        if (i + (n) > argc)                                                                        \
            Usage();                                                                               \
    } while (0)
        if (!wcscmp(command, L"wait") || !wcscmp(command, L"waitbox")) {
            NEED(2);
            struct Search search = {argv[i], !wcscmp(command, L"waitbox"), NULL};
            DWORD limit = Number(argv[i + 1]);
            i += 2;
            DWORD start = GetTickCount();
            for (;;) {
                search.found = NULL;
                EnumWindows(TopHasText, (LPARAM)&search);
                if (search.found)
                    break;
                if (GetTickCount() - start >= limit)
                    Timeout("wait", search.needle);
                Pause(100);
            }
            current = search.found;
            PutWindow("found", current);
        } else if (!wcscmp(command, L"select")) {
            NEED(1);
            /* The window may be gone already: only the actions need it. */
            current = (HWND)(ULONG_PTR)Number(argv[i++]);
        } else if (!wcscmp(command, L"dump")) {
            NeedCurrent("dump");
            PutWindow("window", current);
        } else if (!wcscmp(command, L"list")) {
            EnumWindows(PutVisibleTop, 0);
            printf("{\"event\":\"end of list\"}\n");
            fflush(stdout);
        } else if (!wcscmp(command, L"settext")) {
            NEED(2);
            NeedCurrent("settext");
            HWND control = GetDlgItem(current, (int)Number(argv[i]));
            DWORD_PTR result = 0;
            if (!control || !SendMessageTimeoutW(control, WM_SETTEXT, 0, (LPARAM)argv[i + 1],
                                                 SMTO_ABORTIFHUNG, 5000, &result))
                Fail("settext");
            i += 2;
            printf("{\"event\":\"settext\"}\n");
            fflush(stdout);
        } else if (!wcscmp(command, L"click")) {
            NEED(1);
            NeedCurrent("click");
            int id = (int)Number(argv[i++]);
            HWND button = GetDlgItem(current, id);
            if (!PostMessageW(current, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button))
                Fail("click");
            printf("{\"event\":\"clicked\",\"id\":%d}\n", id);
            fflush(stdout);
        } else if (!wcscmp(command, L"gone")) {
            NEED(1);
            DWORD limit = Number(argv[i++]);
            DWORD start = GetTickCount();
            while (current && IsWindow(current)) {
                if (GetTickCount() - start >= limit)
                    Timeout("gone", L"");
                Pause(100);
            }
            printf("{\"event\":\"gone\"}\n");
            fflush(stdout);
        } else if (!wcscmp(command, L"spy")) {
            NEED(1);
            NeedCurrent("spy");
            HMODULE module = LoadLibraryW(argv[i++]);
            HOOKPROC proc =
                module ? (HOOKPROC)(void *)GetProcAddress(module, "SpyCallWndProc") : NULL;
            if (!proc)
                proc =
                    module ? (HOOKPROC)(void *)GetProcAddress(module, "SpyCallWndProc@12") : NULL;
            DWORD thread = GetWindowThreadProcessId(current, NULL);
            if (!proc || !SetWindowsHookExA(WH_CALLWNDPROC, proc, module, thread))
                Fail("spy");
            printf("{\"event\":\"spying\",\"tid\":%lu}\n", (unsigned long)thread);
            fflush(stdout);
        } else if (!wcscmp(command, L"metrics")) {
            printf("{\"event\":\"metrics\",\"screen\":[%d,%d]}\n", GetSystemMetrics(SM_CXSCREEN),
                   GetSystemMetrics(SM_CYSCREEN));
            fflush(stdout);
        } else if (!wcscmp(command, L"drive")) {
            NEED(2);
            DefineDrive(argv[i][0], argv[i + 1]);
            i += 2;
            printf("{\"event\":\"drive defined\"}\n");
            fflush(stdout);
        } else if (!wcscmp(command, L"label")) {
            NEED(1);
            WCHAR label[64] = L"";
            BOOL ok = GetVolumeInformationW(argv[i++], label, 64, NULL, NULL, NULL, NULL, 0);
            printf("{\"event\":\"label\",\"ok\":%s,\"label\":", ok ? "true" : "false");
            PutJsonString(label);
            printf("}\n");
            fflush(stdout);
        } else {
            Usage();
        }
    }
    return 0;
}

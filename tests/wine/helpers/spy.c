/* spy.dll: a WH_CALLWNDPROC hook that the Wine suite's wintool hooks onto
 * the thread of a window under test, to see texts that a window shows too
 * briefly to be read from outside (a status line set just before its dialog
 * ends). It runs inside the observed program only while wintool keeps the
 * hook; the program itself has no part in it.
 *
 * Every WM_SETTEXT sent to a window of the hooked thread is appended to
 * spy.log in this DLL's own folder, one line each: the control id, a tab,
 * the text (line feeds written as \n).
 */
#define WIN32_LEAN_AND_MEAN
#include <windows.h>

static HINSTANCE self;

static void Append(int id, const char *text) {
    /* A text sent as Unicode (the system's own boxes) reaches this ANSI hook
     * unconverted; it is noted, not read, so that nothing past its first
     * character is touched. */
    if (text[0] && !text[1])
        text = "(Unicode text)";
    char path[MAX_PATH + 16];
    DWORD length = GetModuleFileNameA(self, path, MAX_PATH);
    while (length > 0 && path[length - 1] != '\\' && path[length - 1] != '/')
        --length;
    lstrcpyA(path + length, "spy.log");
    HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, NULL,
                              OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (file == INVALID_HANDLE_VALUE)
        return;
    char line[1100];
    int n = wsprintfA(line, "%d\t", id);
    for (; *text && n < (int)sizeof line - 4; ++text) {
        if (*text == '\n') {
            line[n++] = '\\';
            line[n++] = 'n';
        } else {
            line[n++] = *text;
        }
    }
    line[n++] = '\n';
    DWORD written;
    WriteFile(file, line, (DWORD)n, &written, NULL);
    CloseHandle(file);
}

__declspec(dllexport) LRESULT CALLBACK SpyCallWndProc(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HC_ACTION) {
        const CWPSTRUCT *call = (const CWPSTRUCT *)lParam;
        if (call->message == WM_SETTEXT && call->lParam)
            Append(GetDlgCtrlID(call->hwnd), (const char *)call->lParam);
    }
    return CallNextHookEx(NULL, code, wParam, lParam);
}

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH)
        self = instance;
    return TRUE;
}

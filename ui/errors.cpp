// Error exits and prompts: FatalExit and its landing points, the message-box
// operations the other Parts call, the read-error exit, and the abort poll
// that runs after every write of an extraction.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

const char headerCorruptText[] =
    "Morvik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error";
const char unsafeFolderText[] = "The selected folder contains unsupported\ncharacters, please "
                                "choose a different folder.";
const char noMemoryForResourcesText[] = "no memory for resources";
const char notEnoughMemoryText[] = "not enough memory";
const char unsafeMemberNameText[] =
    "Zip contains the file name \"%s\", which would be written outside the unzip folder or "
    "onto a device. Morvik Self-Extractor cannot process this\nZip file.";
const char folderTooLongText[] =
    "The folder given on the command line is longer than 260 characters.";
const char selectedFolderTooLongText[] =
    "The selected folder is too long, please choose a shorter folder.";
const char pathTooLongText[] =
    "Zip contains the file name \"%s\", which is too long for the unzip folder. Choose a "
    "shorter folder and unzip again.";

void FatalExit(int code) {
    // Resumes at the innermost active landing point: the extraction's while
    // one runs, start-up's otherwise.
    if (!session.landingPoint)
        ExitProcess((UINT)code);
    longjmp(*session.landingPoint, code);
}

void ErrorExit(const char *text) {
    MessageBoxA(session.mainWindow, text, defaultTitle, MB_ICONERROR);
    FatalExit(FATAL_ERROR);
}

void HeaderCorruptExit() {
    ErrorExit(headerCorruptText);
}

void AbortExit() {
    FatalExit(FATAL_ERROR);
}

BOOL ConfirmBox(const char *text) {
    return MessageBoxA(session.mainWindow, text, defaultTitle, MB_OKCANCEL) == IDOK;
}

void ReportReadError(int code) {
    char suffix[16];
    wsprintfA(suffix, " <%d>", code);
    wsprintfA(session.messageBuffer, MessageText(MSG_READ_ERROR), packagePath);
    lstrcatA(session.messageBuffer, suffix);
    ErrorExit(session.messageBuffer);
}

BOOL PollAbort() {
    MSG message;
    while (PeekMessageA(&message, NULL, 0, 0, PM_REMOVE)) {
        switch (message.message) {
        case WM_SETCURSOR:
        case WM_NCMOUSEMOVE:
        case WM_MOUSEMOVE:
            // The hourglass stays over every window while the run goes on.
            SetCursor(session.waitCursor);
            break;
        case WM_VKEYTOITEM:
        case WM_NCLBUTTONDOWN:
        case WM_NCLBUTTONDBLCLK:
        case WM_KEYDOWN:
        case WM_CHAR:
        case WM_LBUTTONDOWN:
        case WM_LBUTTONDBLCLK:
            if (message.message == WM_CHAR && !((DWORD)message.lParam & 0x80000000u))
                break;
            if (message.hwnd != session.mainWindow && GetParent(message.hwnd) != session.mainWindow)
                break; // input for another window is thrown away
            return MessageBoxA(session.mainWindow, MessageText(MSG_ABORT_QUESTION), defaultTitle,
                               MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2) == IDYES;
        default:
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
    }
    return FALSE;
}

void CentreWindow(HWND window) {
    RECT rect;
    GetWindowRect(window, &rect);
    int x = (GetSystemMetrics(SM_CXSCREEN) - (rect.right - rect.left)) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - (rect.bottom - rect.top)) / 2;
    SetWindowPos(window, NULL, x, y, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE);
}

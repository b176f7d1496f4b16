// The main dialog: the program's only window. It shows the unzip folder and
// the overwrite setting, runs the extraction inside its Unzip command with
// the status line or the progress meter showing progress, and offers
// Browse, About, Help, Run Morvik and Close. In auto mode it unzips at once
// and closes when done.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum { LONGEST_NAME_IN_INTRO = 24, CAPTION_SIZE = 300, INTRO_SIZE = 400, RESULT_SIZE = 100 };

static UINT_PTR meterTimer;
int dialogExitCode = EXIT_USER_ENDED;

static void Repaint(HWND dialog) {
    InvalidateRect(dialog, NULL, FALSE);
    UpdateWindow(dialog);
}

static void ShowMeter(HWND dialog) {
    ShowWindow(GetDlgItem(dialog, CTL_STATUS), SW_HIDE);
    ShowWindow(GetDlgItem(dialog, CTL_METER), SW_SHOW);
    session.meterVisible = TRUE;
}

// The length of a name in characters: its bytes, except in UTF-8, where a
// character takes up to four (counted here in UTF-16 units, as Windows keeps
// text).
static int NameLength(const char *name) {
    if (!Utf8CodePage())
        return lstrlenA(name);
    return MultiByteToWideChar(CP_UTF8, 0, name, -1, NULL, 0) - 1;
}

static BOOL OnInitDialog(HWND dialog) {
    CentreWindow(dialog);
    if (!shellProcs.browseForFolder || !shellProcs.getMalloc || !shellProcs.getPathFromIdList ||
        !newShell)
        DestroyWindow(GetDlgItem(dialog, CTL_BROWSE));
    SendDlgItemMessageA(dialog, CTL_OVERWRITE, BM_SETCHECK, overwriteWithoutPrompt ? 1 : 0, 0);
    HWND meter = GetDlgItem(dialog, CTL_METER);
    if (meter)
        ShowWindow(meter, SW_HIDE);
    session.extractionActive = FALSE;
    dialogExitCode = EXIT_USER_ENDED; // nothing unzipped yet

    const char *packageName = FileNamePart(packagePath);
    char text[INTRO_SIZE];
    wsprintfA(text, MessageText(MSG_INTRO),
              NameLength(packageName) > LONGEST_NAME_IN_INTRO ? MessageText(MSG_THIS_FILE)
                                                              : packageName);
    SetDlgItemTextA(dialog, CTL_INTRO, text);

    char caption[CAPTION_SIZE];
    wsprintfA(caption, "%s - %s", defaultTitle, packageName);
    if (sfxHeader.options & OPT_TITLE_CAPTION)
        lstrcpyA(caption, customTitle[0] ? customTitle : MessageText(MSG_SETUP));
    SetWindowTextA(dialog, caption);

    SendDlgItemMessageA(dialog, CTL_FOLDER, EM_LIMITTEXT, FOLDER_BUFFER_SIZE - 1, 0);
    InitialUnzipFolder();
    SetDlgItemTextA(dialog, CTL_FOLDER, unzipFolder);
    session.mainWindow = dialog;
    ShowWindow(GetDlgItem(dialog, CTL_AFTER_UNZIP), SW_HIDE);
    SetDlgItemTextA(dialog, CTL_STATUS, "");
    if (autoMode)
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    return TRUE;
}

static BOOL OnUnzip(HWND dialog) {
    HWND unzipButton = GetDlgItem(dialog, IDOK);
    // Close becomes the default button for good.
    SendMessageA(dialog, DM_SETDEFID, IDCANCEL, 0);
    SendMessageA(unzipButton, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
    SendDlgItemMessageA(dialog, IDCANCEL, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
    EnableWindow(unzipButton, FALSE);

    overwriteWithoutPrompt = SendDlgItemMessageA(dialog, CTL_OVERWRITE, BM_GETCHECK, 0, 0) != 0;
    // The field takes 260 characters; in UTF-8 they may need more bytes than
    // the folder buffer holds, and a folder cut short would be another one.
    char typed[4 * FOLDER_BUFFER_SIZE];
    GetDlgItemTextA(dialog, CTL_FOLDER, typed, sizeof typed);
    if (lstrlenA(typed) >= FOLDER_BUFFER_SIZE) {
        MessageBoxA(dialog, selectedFolderTooLongText, defaultTitle, MB_ICONERROR);
        EnableWindow(unzipButton, TRUE);
        return FALSE;
    }
    lstrcpyA(unzipFolder, typed);
    if (!unzipFolder[0]) {
        MessageBoxA(dialog, MessageText(MSG_NO_FOLDER), defaultTitle, MB_ICONERROR);
        EnableWindow(unzipButton, TRUE);
        return FALSE;
    }
    if (HasUnsafeDbcs(unzipFolder)) {
        MessageBoxA(dialog, unsafeFolderText, defaultTitle, MB_ICONERROR);
        EnableWindow(unzipButton, TRUE);
        return FALSE;
    }

    SetDlgItemTextA(dialog, CTL_STATUS, "");
    session.meterVisible = FALSE;
    HWND meter = GetDlgItem(dialog, CTL_METER);
    if (meter) {
        SendMessageA(meter, METER_SETPOS, 0, 0);
        SendMessageA(meter, METER_SETRANGE, 100, 0);
        meterTimer = 0;
        // A small package that is not spanned waits half a second before
        // deciding whether the meter is worth showing.
        if ((int32_t)sfxHeader.endRecordOffset < SMALL_PACKAGE_LIMIT &&
            !(sfxHeader.options & OPT_SPANNED))
            meterTimer = SetTimer(dialog, METER_TIMER_ID, METER_TIMER_MS, NULL);
        if (!meterTimer)
            ShowMeter(dialog);
    }
    session.bytesDecoded = 0;
    session.meterMark = 0;

    if (!RunPasswordDialog(dialog)) {
        EnableWindow(unzipButton, TRUE);
        return TRUE;
    }
    session.membersExtracted = 0;
    int result = RunExtraction();

    if (meterTimer) {
        KillTimer(dialog, METER_TIMER_ID);
        meterTimer = 0;
    }
    SendDlgItemMessageA(dialog, CTL_METER, METER_SETPOS, 100, 0);
    Repaint(dialog);
    if (meter && session.meterVisible) {
        // The status line comes back where the meter was, so the result of
        // this run and the progress of the next one can be read.
        ShowWindow(meter, SW_HIDE);
        ShowWindow(GetDlgItem(dialog, CTL_STATUS), SW_SHOW);
    }
    Repaint(dialog);
    SetDlgItemTextA(dialog, CTL_STATUS, "");

    dialogExitCode = result == 0 ? EXIT_COMPLETED : result;
    if (result != 0) {
        SetDlgItemTextA(dialog, CTL_STATUS, MessageText(MSG_UNZIP_ABORTED));
        EndDialog(dialog, 1);
    } else {
        char text[RESULT_SIZE];
        wsprintfA(text, MessageText(MSG_UNZIPPED_COUNT), session.membersExtracted);
        SetDlgItemTextA(dialog, CTL_STATUS, text);
        if (!autoMode)
            MessageBoxA(session.mainWindow, text, defaultTitle, MB_OK);
        else
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
    }
    EnableWindow(unzipButton, TRUE);
    return FALSE;
}

static void OnMeterTimer(HWND dialog) {
    // Only when no box and no password dialog of this dialog is open.
    if (GetLastActivePopup(dialog) != dialog)
        return;
    if (meterTimer) {
        KillTimer(dialog, METER_TIMER_ID);
        meterTimer = 0;
    }
    HWND meter = GetDlgItem(dialog, CTL_METER);
    if (meter && session.extractionActive && session.bytesDecoded < sfxHeader.totalSize / 3) {
        ShowMeter(dialog);
        InvalidateRect(meter, NULL, FALSE);
    }
}

static void BrowseForFolder(HWND dialog) {
    LPMALLOC allocator = NULL;
    if (FAILED(shellProcs.getMalloc(&allocator)) || !allocator)
        return;
    char displayName[MAX_PATH];
    BROWSEINFOA browse;
    memset(&browse, 0, sizeof browse);
    browse.hwndOwner = dialog;
    browse.pszDisplayName = displayName;
    browse.lpszTitle = MessageText(MSG_BROWSE_TITLE);
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
    LPITEMIDLIST chosen = shellProcs.browseForFolder(&browse);
    if (chosen) {
        if (shellProcs.getPathFromIdList(chosen, unzipFolder))
            SetDlgItemTextA(dialog, CTL_FOLDER, unzipFolder);
        allocator->Free(chosen);
    }
    allocator->Release();
}

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
    case WM_INITDIALOG:
        return OnInitDialog(dialog);
    case WM_TIMER:
        if (wParam == METER_TIMER_ID)
            OnMeterTimer(dialog);
        return FALSE;
    case WM_COMMAND:
        switch (LOWORD(wParam)) {
        case IDOK:
            return OnUnzip(dialog);
        case IDCANCEL:
            EndDialog(dialog, 1);
            return TRUE;
        case CTL_BROWSE:
            BrowseForFolder(dialog);
            return FALSE;
        case CTL_ABOUT:
            MessageBoxA(dialog, MessageText(MSG_ABOUT), defaultTitle, MB_OK);
            return FALSE;
        case CTL_HELP:
            ShowHelp();
            return FALSE;
        case CTL_RUN_MANAGER:
            if (RunArchiveManager())
                EndDialog(dialog, 1);
            return FALSE;
        }
        return FALSE;
    }
    return FALSE;
}

// The user interface: the main dialog, the progress meter, prompts, the
// password dialog, error exits, and the folder and launching operations.
#pragma once

#include "extract/session.h"

// ---- error exits and prompts ------------------------------------------------
// FatalExit carries a fatal code to the innermost landing point. Windows
// has a kernel call of the same name, so ours is linked under another.
#define FatalExit SfxFatalExit

// Fatal codes carried to a landing point.
enum { FATAL_CANCELLED = 1, FATAL_ERROR = 2 };
// The program's exit codes: the last extraction completed ("-info" too); the
// user ended it without an error; an error or an abort ended it. The last
// two are the fatal codes, so a landing point's code is the exit code.
enum { EXIT_COMPLETED = 0, EXIT_USER_ENDED = FATAL_CANCELLED, EXIT_FAILED = FATAL_ERROR };
[[noreturn]] void FatalExit(int code);
[[noreturn]] void ErrorExit(const char *text);
[[noreturn]] void HeaderCorruptExit();
[[noreturn]] void AbortExit();
[[noreturn]] void ReportReadError(int code);
BOOL ConfirmBox(const char *text);
BOOL PollAbort();
BOOL RunPasswordDialog(HWND owner);
INT_PTR CALLBACK PasswordDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
void CentreWindow(HWND window);

// Read error codes: which archive read came up short.
enum {
    READ_ERROR_NAME = 1,
    READ_ERROR_MEMBER_DATA = 2,
    READ_ERROR_LOCAL_HEADER_NEXT_DISK = 3,
    READ_ERROR_LOCAL_HEADER = 4,
    READ_ERROR_CENTRAL_ENTRY = 6,
    READ_ERROR_END_RECORD = 7,
    READ_ERROR_SIGNATURE_NEXT_DISK = 8,
    READ_ERROR_SIGNATURE = 9,
    READ_ERROR_ENCRYPTION_HEADER = 14,
    READ_ERROR_EXTRA_FIELD = 15,
};

extern const char headerCorruptText[];
extern const char unsafeFolderText[];
extern const char noMemoryForResourcesText[];
extern const char notEnoughMemoryText[];
extern const char unsafeMemberNameText[];
extern const char pathTooLongText[];
extern const char selectedFolderTooLongText[];
extern const char folderTooLongText[];

// ---- progress meter ------------------------------------------------------------
enum {
    METER_SETRANGE = WM_USER,
    METER_GETRANGE = WM_USER + 1,
    METER_SETPOS = WM_USER + 2,
    METER_GETPOS = WM_USER + 3,
};
enum { METER_TEXT_SIZE = 100, STATUS_TEXT_SIZE = 292 };
void RegisterMeterClass(HINSTANCE instance);
LRESULT CALLBACK MeterWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
void FormatProgressText(char *buffer, int size);
void UpdateStatusLine();
// Invalidates the meter when what it would paint (its filled part or its
// text) differs from what it last painted.
void RefreshMeter(HWND meter);
HGDIOBJ SelectMeterFont(HDC dc);
void ReleaseMeterFont(HDC dc, HGDIOBJ previous);

// ---- folders and launching -------------------------------------------------------
char *FileNamePart(char *path);
const char *FileNamePart(const char *path);
BOOL PathExists(const char *path, BOOL *isFolder);
BOOL MakeFolder(const char *path);
void AppendBackslash(char *path);
void StripTrailingBackslash(char *path);
BOOL HasUnsafeDbcs(const char *path);
BOOL DefaultUnzipFolder(char *target);
void InitialUnzipFolder();
void ShowHelp();
BOOL RunArchiveManager();

// ---- main dialog ---------------------------------------------------------------------
enum {
    CTL_INTRO = 101,
    CTL_OVERWRITE = 102,
    CTL_AFTER_UNZIP_TEXT = 103,
    CTL_HELP = 104,
    CTL_FOLDER_LABEL = 105,
    CTL_FOLDER = 106,
    CTL_STATUS = 109,
    CTL_AFTER_UNZIP = 111,
    CTL_ABOUT = 112,
    CTL_RUN_MANAGER = 113,
    CTL_BROWSE = 115,
    CTL_METER = 201,
    CTL_PASSWORD_TEXT = 401,
    CTL_PASSWORD = 402,
};
enum { METER_TIMER_ID = 69, METER_TIMER_MS = 500, SMALL_PACKAGE_LIMIT = 0x80000 };
INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// How the main dialog leaves the program: EXIT_USER_ENDED until an
// extraction has run, then the outcome of the last one that ran.
extern int dialogExitCode;

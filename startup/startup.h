// Package and start-up: the package layout and its checks, the start-up
// sequence and command line, and the compressed message table.
#pragma once

#include "extract/session.h"
#include "startup/sfx.h"

// ---- settings and resources of start-up --------------------------------------
extern char packagePath[FOLDER_BUFFER_SIZE];
extern const char defaultTitle[];
enum { TITLE_BLOCK = 65, INFO_BLOCK = 512 };
extern char *customTitle;    // TITLE_BLOCK bytes
extern char *infoText;       // INFO_BLOCK bytes
extern char *startupMessage; // 514 bytes, or null
extern char *afterUnzipCommand;
extern char *afterUnzipParameters;
extern BOOL newShell;
extern BOOL autoMode;
extern HINSTANCE instance;

typedef LPITEMIDLIST(WINAPI *BrowseForFolderProc)(LPBROWSEINFOA);
typedef HRESULT(WINAPI *GetMallocProc)(LPMALLOC *);
typedef BOOL(WINAPI *GetPathFromIdListProc)(LPCITEMIDLIST, LPSTR);
struct ShellProcs {
    HMODULE library;
    BrowseForFolderProc browseForFolder;
    GetMallocProc getMalloc;
    GetPathFromIdListProc getPathFromIdList;
};
extern ShellProcs shellProcs;
void LoadShellProcs();

char *SkipProgramName(char *commandLine);
int StartUp(HINSTANCE programInstance, char *tail);
void PackageSetUp();
void AssembleSignatures();
void ResolveLongName(char *path);
void ParseCommandLine(char *tail);

// ---- character sets --------------------------------------------------------------

// A trailer string that starts with the UTF-8 byte-order mark is UTF-8 text.
enum { UTF8_MARK_SIZE = 3 };
extern const char utf8Mark[];

// TRUE when the process's ANSI code page is UTF-8.
BOOL Utf8CodePage();
// The OEM and ANSI code pages of the system as they are without UTF-8: the
// process's, or when that is UTF-8 the user locale's (437 and 1252 when the
// locale gives none either).
UINT LegacyOemCodePage();
UINT LegacyAnsiCodePage();
BOOL IsUtf8Text(const char *text);
// Converts `length` bytes of `text` from code page `from` into code page `to`
// in `target`, NUL-terminated within `size` bytes; a result that does not
// fit is cut at a character boundary, and *whole (when given) tells whether
// it was. A text that cannot be converted keeps its bytes. Returns the length
// written. Texts of at most TRAILER_MAX_SIZE bytes.
int RecodeText(UINT from, UINT to, const char *text, int length, char *target, int size,
               BOOL *whole);

// ---- package layout --------------------------------------------------------------
enum { HEADER_CRC_OFFSET = SFX_SIGNATURE_SIZE };
void OpenPackageFile();
void VerifyStubImage(uint32_t length, uint32_t expected, const uint8_t *signature);
uint32_t CrcStartOffset(const uint8_t *image, uint32_t length);
void ReadTrailer();
void ProbeEndRecord();

// ---- message table ------------------------------------------------------------------
enum MessageId {
    MSG_INCOMPLETE = 0,
    MSG_INSERT_DISK = 1,
    MSG_INSERT_LAST_DISK = 2,
    MSG_BAD_DISK = 4,
    MSG_NO_PASSWORD = 5,
    MSG_BAD_PASSWORD = 6,
    MSG_KEYWORD_NOAUTO = 7,
    MSG_SETUP = 8,
    MSG_KEYWORD_AUTO = 9,
    MSG_ABORT_QUESTION = 10,
    MSG_UNZIP_ABORTED = 12,
    MSG_COMMAND_ERROR = 13,
    MSG_CHANGE_FOLDER_ERROR = 14,
    MSG_FILE_EXISTS = 15,
    MSG_NO_FOLDER = 16,
    MSG_UNZIPPED_COUNT = 20,
    MSG_INTRO = 21,
    MSG_AFTER_UNZIP_LABEL = 24,
    MSG_MANAGER_MISSING = 26,
    MSG_CANNOT_CREATE_FILE = 27,
    MSG_UNSUPPORTED_METHOD = 28,
    MSG_BAD_CRC = 29,
    MSG_INVALID_HEADER = 30,
    MSG_CANNOT_CREATE_FOLDER = 31,
    MSG_UNZIPPING = 33,
    MSG_WRITE_ERROR = 34,
    MSG_READ_ERROR = 35,
    MSG_IO_ERROR = 36,
    MSG_HELP = 37,
    MSG_ARCHIVE_DAMAGED = 38,
    MSG_AUTHENTICATION_FAILED = 39,
    MSG_AES_UNAVAILABLE = 40,
    MSG_ABOUT = 42,
    MSG_INVALID_DRIVE = 44,
    MSG_NO_ASSOCIATION = 45,
    MSG_BROWSE_TITLE = 47,
    MSG_TEMP = 48,
    MSG_NAME_TOO_LONG = 49,
    MSG_THIS_FILE = 50,
    MSG_MAIN_DIALOG = 51,
};
enum {
    MESSAGE_TABLE_BLOCK = 5568,
    MESSAGE_GUARD_OFFSET = 5566,
    MAIN_DIALOG_COPY = 1024,
    PASSWORD_DIALOG_BLOCK = 600,
};
extern uint8_t *messageTable;
// Where each text starts in `messageTable`, and the MainDialog template (51):
// MessageOffsets, or, where the texts were put into UTF-8, their new places.
extern uint32_t messageOffsets[MSG_MAIN_DIALOG + 1];
void InflateMessageTable();
char *MessageText(int id);

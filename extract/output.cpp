// Member output: the output path under the unzip folder, the folders it
// needs, the overwrite question, and the member file itself: created, filled
// through the decompression stream, time-stamped, closed, counted and checked
// against the CRC-32 recorded in the archive.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum { FOLDER_PATH_SIZE = 520, OVERWRITE_QUESTION_SIZE = 320 };

static inline BOOL IsSeparator(char c) {
    return c == '\\' || c == '/';
}

// Whether a name component is a device to Windows rather than a file: CON,
// PRN, AUX, NUL, COM and LPT with a digit 1 to 9 or a superscript 1, 2 or 3,
// and the console's CONIN$ and CONOUT$, in any letter case, with any
// extension and blanks before it. The test runs on the name's characters
// as Windows sees them (the superscripts are ANSI bytes in code page 1252,
// and other bytes in others).
static BOOL IsDeviceName(const char *component, size_t length) {
    size_t base = 0;
    while (base < length && component[base] != '.')
        base++;
    while (base > 0 && component[base - 1] == ' ')
        base--;
    if (base < 3 || base > 7)
        return FALSE;
    WCHAR wide[8];
    int count = MultiByteToWideChar(CP_ACP, 0, component, (int)base, wide, 7);
    if (count < 3)
        return FALSE;
    char upper[8] = {0};
    for (int i = 0; i < count; i++) {
        WCHAR c = wide[i];
        if (c >= L'a' && c <= L'z')
            c = (WCHAR)(c - 32);
        // Anything but ASCII is kept out, except a superscript digit at the end.
        upper[i] = c < 0x80 ? (char)c : (char)0x80;
    }
    if (count == 3)
        return !strcmp(upper, "CON") || !strcmp(upper, "PRN") || !strcmp(upper, "AUX") ||
               !strcmp(upper, "NUL");
    if (count == 4 && (!memcmp(upper, "COM", 3) || !memcmp(upper, "LPT", 3)))
        return (wide[3] >= L'1' && wide[3] <= L'9') || wide[3] == 0x00B9 || wide[3] == 0x00B2 ||
               wide[3] == 0x00B3;
    return !strcmp(upper, "CONIN$") || !strcmp(upper, "CONOUT$");
}

BOOL IsUnsafeMemberName(const char *name, BOOL folderMember) {
    if (!folderMember && !*name)
        return TRUE; // a file with no name would become the folder itself
    if (strchr(name, ':'))
        return TRUE; // drive prefixes and alternate data streams
    if (IsSeparator(name[0]) && IsSeparator(name[1]))
        return TRUE; // a network or root path; one leading separator is dropped
    const char *component = name;
    for (const char *p = name;; p++) {
        if (*p && !IsSeparator(*p))
            continue;
        size_t length = (size_t)(p - component);
        if (length == 2 && component[0] == '.' && component[1] == '.')
            return TRUE;
        if (IsDeviceName(component, length))
            return TRUE;
        if (!*p)
            break;
        component = p + 1;
    }
    return FALSE;
}

void BuildOutputPath() {
    char path[FOLDER_BUFFER_SIZE + PATH_BUFFER_SIZE];
    lstrcpyA(path, unzipFolder);
    AppendBackslash(path);
    const char *name = session.memberName;
    if (IsSeparator(*name))
        name++; // only one leading separator is left out
    lstrcatA(path, name);
    // The walker has refused members whose path would not fit.
    lstrcpynA(session.memberName, path, PATH_BUFFER_SIZE);
    for (char *p = session.memberName; *p; p++)
        if (*p == '/')
            *p = '\\';
}

BOOL IsValidDrive(const char *root) {
    UINT type = GetDriveTypeA(root);
    return type != DRIVE_UNKNOWN && type != DRIVE_NO_ROOT_DIR;
}

// Whether the folder whose name ends at `separator` in path is there; a bare
// drive ("C:") always is.
static BOOL LevelExists(char *path, char *separator) {
    char saved = *separator;
    *separator = 0;
    BOOL present = (strlen(path) == 2 && path[1] == ':') || PathExists(path, NULL);
    *separator = saved;
    return present;
}

void MakeFolders() {
    char path[FOLDER_PATH_SIZE];
    size_t nameLength = strlen(session.memberName);
    BOOL folderMember = nameLength > 0 && IsSeparator(session.memberName[nameLength - 1]);
    if (!folderMember) {
        lstrcpyA(path, session.memberName);
    } else {
        // A folder member's name is used exactly as read.
        lstrcpyA(path, unzipFolder);
        size_t folderLength = strlen(path);
        if (folderLength == 0 || !IsSeparator(path[folderLength - 1]))
            lstrcatA(path, "\\");
        lstrcatA(path, session.memberName);
    }

    if (path[0] && path[1] == ':') {
        char root[4] = {path[0], ':', '\\', 0};
        if (!IsValidDrive(root)) {
            path[1] = 0;
            wsprintfA(session.messageBuffer, MessageText(MSG_INVALID_DRIVE), path);
            ErrorExit(session.messageBuffer);
        }
    }

    // The first component that may be created: never a network server or share.
    char *start = path;
    if (path[0] == '\\' && path[1] == '\\') {
        start = path + 2;
        while (*start && !IsSeparator(*start))
            start++;
        if (*start) {
            start++;
            while (*start && !IsSeparator(*start))
                start++;
        }
    }
    if (IsSeparator(*start))
        start++;

    // The folder levels, up to the final component (a file's own name is not
    // a folder): where each one's name ends in path. An empty component (two
    // separators in a row) makes a level whose name ends in a separator: it
    // is never found and cannot be made, so the levels end there, and what
    // lies below it, whether it exists or not, never decides anything.
    char *end = FileNamePart(path);
    char *levelEnd[FOLDER_PATH_SIZE]; // a level takes at least its separator
    int levels = 0;
    BOOL lastEmpty = FALSE;
    for (char *component = start; component < end;) {
        char *separator = component;
        while (*separator && !IsSeparator(*separator))
            separator++;
        levelEnd[levels++] = separator;
        lastEmpty = separator == component;
        if (!*separator || lastEmpty)
            break;
        *separator = '\\'; // as messages name the folders
        component = separator + 1;
    }

    // Deepest first: when a level is there, so is every level above it, so
    // the search for the first level to make stops at the first one found.
    // A member in a folder that exists costs one existence test.
    int first = lastEmpty ? levels - 1 : levels;
    while (first > 0 && !LevelExists(path, levelEnd[first - 1]))
        first--;

    // Then top down from there. The first is known to be missing; below it
    // a level may still be there ("." names the folder just made).
    for (int level = first; level < levels; level++) {
        char *separator = levelEnd[level];
        char saved = *separator;
        *separator = 0;
        BOOL missing =
            level == first || (lastEmpty && level == levels - 1) || !PathExists(path, NULL);
        if (missing && !MakeFolder(path)) {
            wsprintfA(session.messageBuffer, MessageText(MSG_CANNOT_CREATE_FOLDER), path);
            ErrorExit(session.messageBuffer);
        }
        *separator = saved;
    }
}

BOOL ConfirmOverwrite() {
    if (overwriteWithoutPrompt)
        return TRUE;
    if (!PathExists(session.memberName, NULL))
        return TRUE;
    if (session.meterVisible && session.mainWindow) {
        SendDlgItemMessageA(session.mainWindow, CTL_METER, METER_SETPOS, MeterPercent(), 0);
        RefreshMeter(GetDlgItem(session.mainWindow, CTL_METER));
        UpdateWindow(session.mainWindow);
    }
    lstrcpyA(session.outputPath, session.memberName);
    char question[OVERWRITE_QUESTION_SIZE];
    wsprintfA(question, MessageText(MSG_FILE_EXISTS), session.outputPath);
    switch (MessageBoxA(session.mainWindow, question, defaultTitle, MB_YESNOCANCEL)) {
    case IDYES:
        return TRUE;
    case IDNO:
        return FALSE;
    default:
        FatalExit(FATAL_CANCELLED);
    }
}

static void CreateOutputFile() {
    lstrcpyA(session.outputPath, session.memberName);
    HFILE file = _lcreat(session.outputPath, 0);
    if (file == HFILE_ERROR) {
        wsprintfA(session.messageBuffer, MessageText(MSG_CANNOT_CREATE_FILE), session.outputPath);
        ErrorExit(session.messageBuffer);
    }
    session.outputFile = file;
}

static void SetMemberTimes() {
    // The stored date and time are local time; a date the system rejects
    // leaves the file with the time it was written.
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(session.header.modDate, session.header.modTime, &local))
        return;
    if (!LocalFileTimeToFileTime(&local, &utc))
        return;
    SetFileTime((HANDLE)(INT_PTR)session.outputFile, &utc, &utc, &utc);
}

void ExtractMember() {
    session.inputAvail = 0;
    session.outputCount = 0;
    session.outputPtr = session.outputBuffer;
    session.runningCrc = 0xFFFFFFFFu;

    CreateOutputFile();
    if (session.header.compressedSize > 0) {
        switch (session.header.method) {
        case 0:
            UpdateStatusLine();
            CopyStoredMember();
            break;
        case 8:
            UpdateStatusLine();
            InflateStream();
            break;
        default:
            ErrorExit(MessageText(MSG_UNSUPPORTED_METHOD));
        }
    }
    session.membersExtracted++;

    // The last partial block: written and summed, not counted for the meter.
    if (session.outputCount > 0) {
        UpdateCrc(session.outputBuffer, (uint32_t)session.outputCount);
        CheckWrite(
            _lwrite(session.outputFile, (LPCSTR)session.outputBuffer, (UINT)session.outputCount));
    }
    SetMemberTimes();
    // Bytes a write accepted can still fail to reach the disk until the file
    // is closed (write-behind caches, full network shares): a failed close is
    // a write error, or the member would count as done with data missing.
    HFILE closing = session.outputFile;
    session.outputFile = 0;
    if (_lclose(closing) == HFILE_ERROR)
        ReportWriteError();

    // An AES member's authentication code is checked first; AE-2 records no CRC.
    if (session.aesStrength) {
        FinishAesMember();
        if (session.aesVendorVersion == 2)
            return;
    }
    uint32_t crc = ~session.runningCrc;
    if (crc != session.header.crc32) {
        wsprintfA(session.messageBuffer, MessageText(MSG_BAD_CRC), session.outputPath,
                  (unsigned long)crc, (unsigned long)session.header.crc32);
        ErrorExit(session.messageBuffer);
    }
}

// Folders and launching: the path helpers shared by the dialog and member
// output, the default unzip folder, the Help box, and the hand-off of the
// package to the separately installed archive manager.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum { WINDOWS_FOLDER_SIZE = 250, COMMAND_BUFFER_SIZE = 268, REGISTRY_VALUE_SIZE = 261 };

static const char managerCommandKey[] = "morvik\\shell\\open\\command";

static inline BOOL IsSeparator(char c) {
    return c == '\\' || c == '/';
}

const char *FileNamePart(const char *path) {
    const char *name = path;
    for (const char *p = path + (*path ? 1 : 0); *p; p++)
        if (IsSeparator(*p))
            name = p + 1;
    return name;
}

char *FileNamePart(char *path) {
    return (char *)FileNamePart((const char *)path);
}

BOOL PathExists(const char *path, BOOL *isFolder) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return FALSE;
    FindClose(search);
    if (isFolder)
        *isFolder = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    return TRUE;
}

BOOL MakeFolder(const char *path) {
    return CreateDirectoryA(path, NULL) != 0;
}

void AppendBackslash(char *path) {
    size_t length = strlen(path);
    if (length == 0 || !IsSeparator(path[length - 1]))
        lstrcatA(path, "\\");
}

void StripTrailingBackslash(char *path) {
    size_t length = strlen(path);
    if (length > 2 && path[length - 1] == '\\' && path[length - 2] != ':' &&
        path[length - 2] != '\\')
        path[length - 1] = 0;
}

BOOL HasUnsafeDbcs(const char *path) {
    if (!path)
        return FALSE;
    // The ANSI code page decides which bytes lead a double-byte character.
    for (const char *p = path; *p;) {
        const char *next = CharNextA(p);
        if (next == p)
            break;
        if (next - p > 1 && (IsSeparator(p[0]) || IsSeparator(p[1])))
            return TRUE;
        p = next;
    }
    return FALSE;
}

static BOOL EnvironmentFolder(const char *name, char *buffer) {
    // A value that does not fit leaves the buffer undefined: not usable.
    DWORD length = GetEnvironmentVariableA(name, buffer, FOLDER_BUFFER_SIZE);
    return length != 0 && length < FOLDER_BUFFER_SIZE && buffer[0] && !HasUnsafeDbcs(buffer);
}

static BOOL WindowsTempFolder(char *buffer) {
    UINT length = GetWindowsDirectoryA(buffer, WINDOWS_FOLDER_SIZE);
    if (length == 0 || length >= WINDOWS_FOLDER_SIZE)
        return FALSE;
    AppendBackslash(buffer);
    lstrcatA(buffer, MessageText(MSG_TEMP));
    BOOL isFolder = FALSE;
    if (PathExists(buffer, &isFolder)) {
        if (!isFolder)
            return FALSE;
    } else if (!MakeFolder(buffer)) {
        return FALSE;
    }
    return !HasUnsafeDbcs(buffer);
}

BOOL DefaultUnzipFolder(char *target) {
    char candidate[FOLDER_BUFFER_SIZE + 16];
    if (!EnvironmentFolder("TMP", candidate) && !EnvironmentFolder("TEMP", candidate) &&
        !WindowsTempFolder(candidate))
        return FALSE;
    StripTrailingBackslash(candidate);
    lstrcpynA(target, candidate, FOLDER_BUFFER_SIZE);
    return TRUE;
}

void InitialUnzipFolder() {
    if (!unzipFolder[0]) {
        DefaultUnzipFolder(unzipFolder);
    } else if (lstrcmpiA(unzipFolder, ".") == 0) {
        DWORD length = GetCurrentDirectoryA(FOLDER_BUFFER_SIZE, unzipFolder);
        if (length == 0 || length >= FOLDER_BUFFER_SIZE)
            unzipFolder[0] = 0; // a current folder that does not fit is not guessed at
    }
}

void ShowHelp() {
    // Formatted in a buffer that holds any package name in full.
    char text[1100];
    wsprintfA(text, MessageText(MSG_HELP), FileNamePart(packagePath));
    MessageBoxA(session.mainWindow, text, defaultTitle, MB_OK);
}

static void ManagerNotFound() {
    MessageBoxA(session.mainWindow, MessageText(MSG_MANAGER_MISSING), defaultTitle, MB_OK);
}

BOOL RunArchiveManager() {
    char command[COMMAND_BUFFER_SIZE];
    LONG size = REGISTRY_VALUE_SIZE;
    if (GetKeyState(VK_SHIFT) < 0 ||
        RegQueryValueA(HKEY_CLASSES_ROOT, managerCommandKey, command, &size) != ERROR_SUCCESS) {
        ManagerNotFound();
        return FALSE;
    }
    command[REGISTRY_VALUE_SIZE - 1] = 0;

    // A value that names no program (empty, as a key without a default value
    // reads, or starting with a blank) registers nothing: handing the package
    // to it would start nothing, or the package itself.
    if (command[0] == 0 || command[0] == ' ' || command[0] == '\t' ||
        (command[0] == '"' && command[1] == '"')) {
        ManagerNotFound();
        return FALSE;
    }

    // The program is what stands before the first blank, or the quoted path
    // when the value starts with a double quote (the usual registration,
    // "C:\Program Files\...\morvik.exe" "%1"); the package's path, quoted,
    // replaces whatever follows that blank. A value with no such blank is
    // the program alone, and gets the blank it lacks.
    char *programEnd = command;
    if (command[0] == '"') {
        char *close = strchr(command + 1, '"');
        programEnd = close ? close + 1 : command + strlen(command);
    }
    char *blank = strchr(programEnd, ' ');
    if (!blank) {
        blank = command + strlen(command);
        blank[1] = 0;
        *blank = ' ';
    }
    size_t room = sizeof command - (size_t)(blank + 1 - command);
    if (strlen(packagePath) + 3 > room)
        return FALSE; // the command would not fit: nothing is started
    wsprintfA(blank + 1, "\"%s\"", packagePath);

    // A spanned set on ".ZIP" volumes is handed over by its volume name.
    if ((sfxHeader.options & OPT_SPANNED) && !(sfxHeader.options & OPT_EXE_VOLUMES)) {
        size_t length = strlen(command);
        memcpy(command + length - 4, "zip", 3);
    }
    return WinExec(command, SW_SHOWNORMAL) > 31;
}

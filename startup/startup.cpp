// Start-up: the program's whole life outside the main dialog. It takes the
// command line, checks and reads the package, prepares the extraction
// engine and the message table, answers "-info", refuses an incomplete
// package, shows the optional start-up message, settles auto mode, runs the
// main dialog and releases everything when it ends.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum {
    COMMAND_BLOCK = 257,
    WINDOW_BLOCK = 32776,
    BUFFER_BLOCK = 2068,
};

char packagePath[FOLDER_BUFFER_SIZE];
const char defaultTitle[] = "Morvik Self-Extractor";
char *customTitle;
char *infoText;
char *startupMessage;
char *afterUnzipCommand;
char *afterUnzipParameters;
BOOL newShell;
BOOL autoMode;
HINSTANCE instance;
ShellProcs shellProcs;

static const char infoKeyword[] = "-info";

char *SkipProgramName(char *commandLine) {
    if (!*commandLine)
        return commandLine;
    char end = *commandLine == '"' ? '"' : ' ';
    char *p = commandLine + 1;
    while (*p && *p != end)
        p++;
    return *p ? p + 1 : p;
}

void ResolveLongName(char *path) {
    WIN32_FIND_DATAA found;
    HANDLE search = FindFirstFileA(path, &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    char *name = FileNamePart(path);
    lstrcpynA(name, found.cFileName, (int)(FOLDER_BUFFER_SIZE - (name - path)));
    FindClose(search);
}

void ParseCommandLine(char *tail) {
    char *p = tail;
    while (*p && *p != '-' && *p != '/')
        p++;
    if (!*p)
        return;
    p++;
    const char *noAuto = MessageText(MSG_KEYWORD_NOAUTO);
    const char *autoWord = MessageText(MSG_KEYWORD_AUTO);
    size_t autoLength = strlen(autoWord);
    if (strlen(p) < autoLength)
        return;
    // Upper-case the word in place: bit 0x20 off in every byte up to a blank.
    for (char *q = p; *q && *q != ' '; q++)
        *q = (char)(*q & ~0x20);
    if (!strncmp(p, noAuto, strlen(noAuto))) {
        autoMode = FALSE;
        return;
    }
    if (strncmp(p, autoWord, autoLength) != 0)
        return;
    autoMode = TRUE;
    p += autoLength;
    while (*p == ' ')
        p++;
    if (!*p)
        return; // the folder stays as the package set it
    BOOL quoted = *p == '"';
    if (quoted)
        p++;
    size_t length = strlen(p);
    if (quoted) {
        const char *closing = strchr(p, '"');
        if (closing)
            length = (size_t)(closing - p);
    }
    // A folder that the unzip folder cannot hold would be cut to another
    // folder: the start is refused rather than guessed at.
    if (length >= FOLDER_BUFFER_SIZE)
        ErrorExit(folderTooLongText);
    memcpy(unzipFolder, p, length);
    unzipFolder[length] = 0;
}

void AssembleSignatures() {
    // Each signature is put together from "P" and its tail, so that the stub
    // image never holds a whole one.
    static const uint8_t tails[5][3] = {
        {'K', 3, 4}, {'K', 1, 2}, {'K', 5, 6}, {'K', '0', '0'}, {'K', 7, 8}};
    uint8_t *signatures[5] = {session.localSignature, session.centralSignature,
                              session.endSignature, session.singleVolumeSignature,
                              session.spanningSignature};
    for (int i = 0; i < 5; i++) {
        signatures[i][0] = 'P';
        memcpy(signatures[i] + 1, tails[i], 3);
    }
}

void PackageSetUp() {
    AssembleSignatures();
    BuildCrcTable();
    OpenPackageFile();
    if (sfxHeader.stubCrc != 0)
        VerifyStubImage(sfxHeader.archiveOffset, sfxHeader.stubCrc, sfxHeader.signature);
    session.spanned = (sfxHeader.options & OPT_SPANNED) != 0;
    if (sfxHeader.options & OPT_EXE_VOLUMES)
        session.spanExeNames = TRUE;

    session.window = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, WINDOW_BLOCK);
    session.inputBuffer = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, BUFFER_BLOCK);
    session.outputBuffer = (uint8_t *)LocalAlloc(LMEM_ZEROINIT, BUFFER_BLOCK);
    if (!session.window || !session.inputBuffer || !session.outputBuffer)
        HeaderCorruptExit();

    InflateMessageTable();
    if (session.spanned)
        RequestDisk(1, TRUE);
    ReadTrailer();
    ProbeEndRecord();
}

static void ShowStartupMessage(BOOL *goOn) {
    UINT type = MB_OK;
    if (sfxHeader.options & OPT_STARTUP_QUERY)
        type = (sfxHeader.options & OPT_STARTUP_OKCANCEL) ? MB_OKCANCEL : MB_YESNO;
    const char *caption =
        (sfxHeader.options & OPT_CUSTOM_TITLE) && customTitle[0] ? customTitle : defaultTitle;
    int answer = MessageBoxA(NULL, startupMessage, caption, type);
    *goOn = answer != IDNO && answer != IDCANCEL;
    FreeGlobalBlock(startupMessage);
    startupMessage = NULL;
}

// Returns the exit code the dialog leaves; a dialog that cannot be shown is
// a refused start.
static int RunMainDialog() {
    void *dialogTemplate = AllocGlobalBlock(MAIN_DIALOG_COPY);
    if (!dialogTemplate)
        return EXIT_FAILED;
    memcpy(dialogTemplate, MessageText(MSG_MAIN_DIALOG), MAIN_DIALOG_COPY);
    DialogBoxIndirectParamA(instance, (LPCDLGTEMPLATEA)dialogTemplate, NULL, MainDialogProc, 0);
    FreeGlobalBlock(dialogTemplate);
    return dialogExitCode;
}

static void ReleaseEverything() {
    ReleaseAes();
    LocalFree(session.window);
    LocalFree(session.inputBuffer);
    LocalFree(session.outputBuffer);
    session.window = session.inputBuffer = session.outputBuffer = NULL;
    if (session.archiveFile) {
        _lclose(session.archiveFile);
        session.archiveFile = 0;
    }
    if (session.outputFile) {
        _lclose(session.outputFile);
        session.outputFile = 0;
    }
    FreeGlobalBlock(customTitle);
    FreeGlobalBlock(infoText);
    FreeGlobalBlock(afterUnzipCommand);
    FreeGlobalBlock(afterUnzipParameters);
    FreeGlobalBlock(session.messageBuffer);
    FreeGlobalBlock(messageTable);
    customTitle = infoText = afterUnzipCommand = afterUnzipParameters = NULL;
    session.messageBuffer = NULL;
    messageTable = NULL;
    if (shellProcs.library)
        FreeLibrary(shellProcs.library);
    memset(&shellProcs, 0, sizeof shellProcs);
}

// The folder picker's three procedures, when the system has them; the Browse
// button is offered only then.
void LoadShellProcs() {
    shellProcs.library = LoadLibraryA("Shell32.dll");
    if (shellProcs.library) {
        shellProcs.browseForFolder =
            (BrowseForFolderProc)(void *)GetProcAddress(shellProcs.library, "SHBrowseForFolder");
        shellProcs.getMalloc =
            (GetMallocProc)(void *)GetProcAddress(shellProcs.library, "SHGetMalloc");
        shellProcs.getPathFromIdList = (GetPathFromIdListProc)(void *)GetProcAddress(
            shellProcs.library, "SHGetPathFromIDList");
    }
}

int StartUp(HINSTANCE programInstance, char *tail) {
    session.waitCursor = LoadCursorA(NULL, IDC_WAIT);
    session.arrowCursor = LoadCursorA(NULL, IDC_ARROW);
    instance = programInstance;
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    BYTE majorVersion = LOBYTE(GetVersion());

    LoadShellProcs();

    customTitle = (char *)AllocGlobalBlock(TITLE_BLOCK);
    afterUnzipCommand = (char *)AllocGlobalBlock(COMMAND_BLOCK);
    afterUnzipParameters = (char *)AllocGlobalBlock(COMMAND_BLOCK);
    infoText = (char *)AllocGlobalBlock(INFO_BLOCK);
    session.messageBuffer = (char *)AllocGlobalBlock(MESSAGE_BUFFER_SIZE);
    if (!customTitle || !afterUnzipCommand || !afterUnzipParameters || !infoText ||
        !session.messageBuffer)
        return EXIT_FAILED; // nothing can be shown yet: end at once

    GetModuleFileNameA(NULL, packagePath, FOLDER_BUFFER_SIZE);
    packagePath[FOLDER_BUFFER_SIZE - 1] = 0;
    ResolveLongName(packagePath);

    // The landing point in force whenever no extraction runs: a FatalExit
    // that arrives here ends the program at once, with its code.
    jmp_buf landing;
    session.landingPoint = &landing;
    int fatalCode = setjmp(landing);
    if (fatalCode != 0)
        return fatalCode;

    PackageSetUp();
    if (strstr(tail, infoKeyword)) {
        MessageBoxA(NULL, infoText, defaultTitle, MB_OK);
        return EXIT_COMPLETED;
    }
    newShell = majorVersion >= 4;
    if (sfxHeader.completeMarker == 0) {
        MessageBoxA(NULL, MessageText(MSG_INCOMPLETE), defaultTitle, MB_ICONERROR);
        return EXIT_FAILED;
    }
    overwriteWithoutPrompt = (sfxHeader.options & OPT_OVERWRITE) != 0;
    session.encrypted = (sfxHeader.options & OPT_ENCRYPTED) != 0;
    RegisterMeterClass(instance);
    if (startupMessage) {
        BOOL goOn;
        ShowStartupMessage(&goOn);
        if (!goOn)
            return EXIT_USER_ENDED;
    }
    if (sfxHeader.options & OPT_AUTO)
        autoMode = TRUE;
    ParseCommandLine(tail);
    int exitCode = RunMainDialog();
    ReleaseEverything();
    session.landingPoint = NULL;
    return exitCode;
}

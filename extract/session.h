// ExtractSession: the one global record of extraction state, and the two
// settings that live beside it. Every Part of the engine and the user
// interface works on these; start-up fills them in.
#pragma once

#include "win32.h"
#include <setjmp.h>
#include <stdint.h>

// The 26 bytes of a ZIP local file header after its signature, in file order.
#pragma pack(push, 1)
struct LocalHeader {
    uint16_t versionNeeded;
    uint16_t flags; // bit 0 encrypted, bit 3 data descriptor follows
    uint16_t method;
    uint16_t modTime;
    uint16_t modDate;
    uint32_t crc32;
    uint32_t compressedSize; // counts down the member bytes not yet read
    uint32_t uncompressedSize;
    uint16_t nameLength;
    uint16_t extraLength;
};
#pragma pack(pop)
static_assert(sizeof(LocalHeader) == 26, "a local header is 26 bytes after its signature");

enum {
    PATH_BUFFER_SIZE = 264,   // memberName and outputPath
    FOLDER_BUFFER_SIZE = 261, // UnzipFolder and packagePath
    MESSAGE_BUFFER_SIZE = 500,
    INPUT_BLOCK = 2048,
    OUTPUT_BLOCK = 2048,
    WINDOW_SIZE = 32768,
    MAX_NAME_LENGTH = 200,
};

struct ExtractSession {
    HFILE archiveFile; // 0 = none
    HFILE outputFile;  // 0 = none
    BOOL spanned;
    BOOL spanExeNames;
    uint16_t currentDisk;

    LocalHeader header;
    char memberName[PATH_BUFFER_SIZE];
    char outputPath[PATH_BUFFER_SIZE];

    BOOL encrypted;
    BOOL checkByteFromTime;
    char *password; // null until given
    uint32_t keys[3];

    // An AES member (method 99 with its 0x9901 extra record): the key
    // strength 1, 2 or 3 (AES-128, -192, -256), 0 for any other member; the
    // vendor version, 1 (AE-1: the CRC is checked too) or 2 (AE-2: CRC 0).
    uint8_t aesStrength;
    uint16_t aesVendorVersion;
    // The member's cipher key and authentication code state, the counter of
    // the last counter block, and the unused part of the key stream.
    BCRYPT_KEY_HANDLE aesKey;
    BCRYPT_HASH_HANDLE aesMac;
    uint64_t aesCounter;
    uint32_t aesStreamPos;
    uint32_t aesStreamEnd;

    uint8_t *inputBuffer;
    const uint8_t *inputPtr;
    int32_t inputAvail;
    uint8_t *outputBuffer;
    uint8_t *outputPtr;
    int32_t outputCount;
    uint8_t *window;
    uint32_t windowPos;
    BOOL inflatingToMemory;

    uint32_t runningCrc;
    uint32_t crcTable[256];

    uint32_t bytesDecoded;
    uint32_t meterMark;
    BOOL meterVisible;
    int32_t membersExtracted;
    BOOL extractionActive;

    jmp_buf *landingPoint; // innermost active landing point of FatalExit
    char *messageBuffer;   // MESSAGE_BUFFER_SIZE bytes
    HWND mainWindow;
    HCURSOR waitCursor;
    HCURSOR arrowCursor;

    uint8_t localSignature[4];
    uint8_t spanningSignature[4];
    uint8_t centralSignature[4];
    uint8_t endSignature[4];
    uint8_t singleVolumeSignature[4];
};

extern ExtractSession session;
extern char unzipFolder[FOLDER_BUFFER_SIZE];
extern BOOL overwriteWithoutPrompt;

// Puts the record and the two settings back to their initial values
// (currentDisk 1, everything else zero). The program starts that way; tests
// that run the Parts more than once in one process call it between runs.
void ResetExtractSession();

// Long-lived blocks shared between Parts come from the global heap and are
// used through locked pointers; these two calls are the one place that does
// the allocate-and-lock and the unlock-and-free.
void *AllocGlobalBlock(size_t size);
void FreeGlobalBlock(void *block);

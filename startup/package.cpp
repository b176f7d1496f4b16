// The package's own file: opening it, the self-check of the stub image and
// trailer, the configuration trailer, and the probe for the end record.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum {
    PE_HEADER_POINTER = 0x3C,
    PE_FIXED_HEADERS = 24,        // PE signature and file header, before the optional header
    PE_OPTIONAL_HEADER_SIZE = 20, // where the file header keeps SizeOfOptionalHeader
    STARTUP_MESSAGE_BLOCK = 514,
};

static uint32_t ReadU32(const uint8_t *p) {
    return (uint32_t)p[0] | (uint32_t)p[1] << 8 | (uint32_t)p[2] << 16 | (uint32_t)p[3] << 24;
}

static uint64_t ReadU64(const uint8_t *p) {
    return (uint64_t)ReadU32(p) | (uint64_t)ReadU32(p + 4) << 32;
}

void OpenPackageFile() {
    HFILE file = _lopen(packagePath, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        HeaderCorruptExit();
    session.archiveFile = file;
}

// Where the self-check starts when it leaves out the fixed headers. On the
// PE layout that is the first section header, behind the optional header
// whose size the file header gives (224 bytes for a 32-bit image, 240 for a
// 64-bit one); an ELF image (the native build) leaves out its file header
// and program header table instead.
// Returns 0xFFFFFFFF when the image is too short to hold what it names.
uint32_t CrcStartOffset(const uint8_t *image, uint32_t length) {
    uint64_t start;
    if (length >= 64 && !memcmp(image,
                                "\x7F"
                                "ELF",
                                4)) {
        if (image[4] == 2) {
            start = ReadU64(image + 32) +
                    (uint64_t)(image[56] | image[57] << 8) * (uint64_t)(image[54] | image[55] << 8);
        } else {
            start = ReadU32(image + 28) +
                    (uint64_t)(image[44] | image[45] << 8) * (uint64_t)(image[42] | image[43] << 8);
        }
    } else {
        if (length < PE_HEADER_POINTER + 4)
            return 0xFFFFFFFFu;
        uint64_t peHeader = ReadU32(image + PE_HEADER_POINTER);
        if (peHeader + PE_OPTIONAL_HEADER_SIZE + 2 > length)
            return 0xFFFFFFFFu;
        const uint8_t *optionalSize = image + peHeader + PE_OPTIONAL_HEADER_SIZE;
        start = peHeader + PE_FIXED_HEADERS + (uint64_t)(optionalSize[0] | optionalSize[1] << 8);
    }
    return start < length ? (uint32_t)start : 0xFFFFFFFFu;
}

// Refuses the package; the self-check's block goes first.
static void RefuseImage(void *block) {
    FreeGlobalBlock(block);
    HeaderCorruptExit();
}

void VerifyStubImage(uint32_t length, uint32_t expected, const uint8_t *signature) {
    // The image cannot be longer than the file that holds it.
    LONG fileSize = _llseek(session.archiveFile, 0, FILE_END);
    if (fileSize == HFILE_ERROR || length > (uint32_t)fileSize)
        HeaderCorruptExit();
    uint8_t *block = (uint8_t *)AllocGlobalBlock(length ? length : 1);
    if (!block)
        HeaderCorruptExit();
    if (_llseek(session.archiveFile, 0, FILE_BEGIN) != 0 || length == 0)
        RefuseImage(block);
    if (_lread(session.archiveFile, block, length) != length)
        RefuseImage(block);

    // Find the header by its signature: one byte tested before eight compared.
    uint32_t found = length;
    // memchr finds each candidate first byte at memory speed; the result is
    // the same first occurrence as a byte-by-byte scan.
    for (uint32_t i = 0; length >= SFX_SIGNATURE_SIZE && i <= length - SFX_SIGNATURE_SIZE;) {
        const uint8_t *hit =
            (const uint8_t *)memchr(block + i, signature[0], length - SFX_SIGNATURE_SIZE + 1 - i);
        if (!hit)
            break;
        i = (uint32_t)(hit - block);
        if (!memcmp(hit, signature, SFX_SIGNATURE_SIZE)) {
            found = i;
            break;
        }
        i++;
    }
    if (found == length)
        RefuseImage(block);
    // The stored CRC itself is counted as 0.
    for (uint32_t i = found + HEADER_CRC_OFFSET; i < found + HEADER_CRC_OFFSET + 4 && i < length;
         i++)
        block[i] = 0;

    uint32_t start = 0;
    if (sfxHeader.options & OPT_CRC_SKIP_HEADERS) {
        start = CrcStartOffset(block, length);
        if (start == 0xFFFFFFFFu)
            RefuseImage(block);
    }
    session.runningCrc = 0xFFFFFFFFu;
    UpdateCrc(block + start, length - start);
    if (~session.runningCrc != expected)
        RefuseImage(block);
    FreeGlobalBlock(block);
}

// Copies a trailer string into a buffer of `size` bytes in the process's
// character set. A string that starts with the UTF-8 mark is UTF-8 text: it
// lands as it is where the process code page is UTF-8, and is converted to
// the ANSI code page elsewhere. Any other string is in the ANSI character set
// it was made in: kept as it is, except where the process code page is UTF-8
// and the string is not valid UTF-8, when it is read in the system's own ANSI
// code page. FALSE when the text had to be cut to fit.
static BOOL TrailerText(char *target, int size, const char *text) {
    BOOL marked = memcmp(text, utf8Mark, UTF8_MARK_SIZE) == 0;
    if (marked)
        text += UTF8_MARK_SIZE;
    int length = lstrlenA(text);
    if (Utf8CodePage() ? !marked && !IsUtf8Text(text) : marked) {
        BOOL whole = FALSE;
        RecodeText(Utf8CodePage() ? LegacyAnsiCodePage() : CP_UTF8,
                   Utf8CodePage() ? CP_UTF8 : CP_ACP, text, length, target, size, &whole);
        return whole;
    }
    if (length >= size)
        return FALSE; // the stored limits keep every text within its buffer
    memcpy(target, text, (size_t)length + 1);
    return TRUE;
}

void ReadTrailer() {
    if (sfxHeader.trailerOffset == 0)
        return;
    uint32_t length = sfxHeader.archiveOffset - sfxHeader.trailerOffset;
    if (sfxHeader.archiveOffset < sfxHeader.trailerOffset || length > TRAILER_MAX_SIZE)
        HeaderCorruptExit();
    if (session.spanned)
        RequestDisk(1, TRUE);
    if (_llseek(session.archiveFile, (LONG)sfxHeader.trailerOffset, FILE_BEGIN) !=
        (LONG)sfxHeader.trailerOffset)
        HeaderCorruptExit();
    char trailer[TRAILER_MAX_SIZE];
    if (_lread(session.archiveFile, trailer, length) != length)
        HeaderCorruptExit();

    // Five strings, each ending in a NUL inside the trailer; a string longer
    // than its buffer refuses the package as a damaged one would be.
    const char *strings[5];
    const char *p = trailer;
    const char *end = trailer + length;
    for (int i = 0; i < 5; i++) {
        const char *terminator = (const char *)memchr(p, 0, (size_t)(end - p));
        if (!terminator)
            HeaderCorruptExit();
        strings[i] = p;
        p = terminator + 1;
    }
    if (strlen(strings[0]) > TRAILER_FOLDER_MAX ||
        strlen(strings[2]) > TRAILER_STARTUP_MESSAGE_MAX || strlen(strings[4]) > TRAILER_INFO_MAX ||
        ((sfxHeader.options & OPT_CUSTOM_TITLE) && strlen(strings[3]) > TRAILER_TITLE_MAX))
        HeaderCorruptExit();

    // A folder that does not fit its buffer in this system's characters would
    // be another folder: refused like one beyond its limit.
    if (!TrailerText(unzipFolder, FOLDER_BUFFER_SIZE, strings[0]))
        HeaderCorruptExit();
    if (strings[2][0]) {
        // Without its block the start-up question could not be asked, and a
        // package in auto mode would unzip without the user's consent.
        startupMessage = (char *)AllocGlobalBlock(STARTUP_MESSAGE_BLOCK);
        if (!startupMessage)
            ErrorExit(notEnoughMemoryText);
        TrailerText(startupMessage, STARTUP_MESSAGE_BLOCK, strings[2]);
    }
    if (sfxHeader.options & OPT_CUSTOM_TITLE)
        TrailerText(customTitle, TITLE_BLOCK, strings[3]);
    TrailerText(infoText, INFO_BLOCK, strings[4]);
}

void ProbeEndRecord() {
    if (session.spanned || sfxHeader.endRecordOffset == 0)
        return;
    uint8_t signature[4];
    if (_llseek(session.archiveFile, (LONG)sfxHeader.endRecordOffset, FILE_BEGIN) !=
            (LONG)sfxHeader.endRecordOffset ||
        _lread(session.archiveFile, signature, 4) != 4 ||
        memcmp(signature, session.endSignature, 4) != 0)
        ErrorExit(MessageText(MSG_ARCHIVE_DAMAGED));
}

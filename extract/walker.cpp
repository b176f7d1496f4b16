// The archive walker: reads the ZIP archive strictly front to back, one
// record at a time, from its first byte to its end record. Every decision
// rests on the local headers; the central directory is only stepped over.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum {
    LOCAL_HEADER_SIZE = 26,
    CENTRAL_ENTRY_SIZE = 42,
    END_RECORD_SIZE = 18,
    DATA_DESCRIPTOR_SIZE = 16,
    FLAG_ENCRYPTED = 0x0001,
    FLAG_DATA_DESCRIPTOR = 0x0008,
    FLAG_UTF8_NAME = 0x0800,
    METHOD_AES = 99,
    AES_EXTRA_ID = 0x9901,
    AES_EXTRA_SIZE = 7,
};

static inline BOOL IsSeparator(char c) {
    return c == '\\' || c == '/';
}

static inline uint16_t Word(const uint8_t *p) {
    return (uint16_t)(p[0] | p[1] << 8);
}

// Relative seeks take a signed count: a step over more than 2 GB goes in two,
// so that a damaged size can never move the position backwards.
static void SkipForward(uint32_t count) {
    while (count > 0x7FFFFFFFu) {
        _llseek(session.archiveFile, 0x7FFFFFFF, FILE_CURRENT);
        count -= 0x7FFFFFFFu;
    }
    if (count)
        _llseek(session.archiveFile, (LONG)count, FILE_CURRENT);
}

// Reads a record of the given size; in a spanned set a short read moves on
// to the next disk once and reads the whole record again from its start.
static void ReadRecord(void *record, UINT size, BOOL nextDiskAllowed, int code, int nextDiskCode) {
    if (_lread(session.archiveFile, record, size) == size)
        return;
    if (!nextDiskAllowed || !session.spanned)
        ReportReadError(code);
    RequestDisk((uint16_t)(session.currentDisk + 1), session.spanExeNames);
    if (_lread(session.archiveFile, record, size) != size)
        ReportReadError(nextDiskCode);
}

void ReadMemberName(uint16_t length) {
    if (_lread(session.archiveFile, session.memberName, length) != length)
        ReportReadError(READ_ERROR_NAME);
    session.memberName[length] = 0;
}

// An encrypted member stored with method 99 is an AES member when its extra
// field holds the AES record (id 0x9901: vendor version 1 or 2, vendor "AE",
// key strength 1 to 3, the member's real method), which replaces method 99 by
// the real one. The rest of the extra field, and every other member's, is
// stepped over unread.
static void ReadExtraField() {
    LocalHeader &header = session.header;
    session.aesStrength = 0;
    session.aesVendorVersion = 0;
    uint32_t left = header.extraLength;
    if (header.method == METHOD_AES && (header.flags & FLAG_ENCRYPTED)) {
        while (left >= 4) {
            uint8_t record[4 + AES_EXTRA_SIZE];
            if (_lread(session.archiveFile, record, 4) != 4)
                ReportReadError(READ_ERROR_EXTRA_FIELD);
            left -= 4;
            uint16_t size = Word(record + 2);
            if (size > left)
                break; // a damaged record: the rest of the field is stepped over
            if (Word(record) != AES_EXTRA_ID || size != AES_EXTRA_SIZE) {
                SkipForward(size);
                left -= size;
                continue;
            }
            if (_lread(session.archiveFile, record + 4, AES_EXTRA_SIZE) != AES_EXTRA_SIZE)
                ReportReadError(READ_ERROR_EXTRA_FIELD);
            left -= AES_EXTRA_SIZE;
            uint16_t vendorVersion = Word(record + 4);
            uint8_t strength = record[8];
            if ((vendorVersion == 1 || vendorVersion == 2) && record[6] == 'A' &&
                record[7] == 'E' && strength >= 1 && strength <= 3) {
                session.aesStrength = strength;
                session.aesVendorVersion = vendorVersion;
                header.method = Word(record + 9);
            }
            break;
        }
    }
    SkipForward(left);
}

void SkipCentralEntry() {
    uint8_t entry[CENTRAL_ENTRY_SIZE];
    ReadRecord(entry, sizeof entry, FALSE, READ_ERROR_CENTRAL_ENTRY, 0);
    uint16_t nameLength = Word(entry + 24);
    if (nameLength > MAX_NAME_LENGTH)
        ErrorExit(MessageText(MSG_NAME_TOO_LONG));
    ReadMemberName(nameLength);
    SkipForward(Word(entry + 26));
    SkipForward(Word(entry + 28));
}

void ReadEndRecord() {
    uint8_t record[END_RECORD_SIZE];
    ReadRecord(record, sizeof record, FALSE, READ_ERROR_END_RECORD, 0);
    SkipForward(Word(record + 16));
}

// A name flagged as UTF-8 is decoded as such and put into the ANSI code
// page, again only when that converts back to the stored bytes: every
// character exists there. Invalid UTF-8 keeps the stored bytes too.
static void ConvertUtf8Name() {
    WCHAR wide[PATH_BUFFER_SIZE];
    char ansi[PATH_BUFFER_SIZE];
    WCHAR backWide[PATH_BUFFER_SIZE];
    char backUtf8[PATH_BUFFER_SIZE];
    BOOL usedDefault = FALSE;
    if (!MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, session.memberName, -1, wide,
                             PATH_BUFFER_SIZE))
        return;
    if (!WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, wide, -1, ansi, sizeof ansi, NULL,
                             &usedDefault) ||
        usedDefault)
        return;
    if (!MultiByteToWideChar(CP_ACP, 0, ansi, -1, backWide, PATH_BUFFER_SIZE) ||
        !WideCharToMultiByte(CP_UTF8, 0, backWide, -1, backUtf8, sizeof backUtf8, NULL, NULL) ||
        lstrcmpA(backUtf8, session.memberName) != 0)
        return;
    lstrcpyA(session.memberName, ansi);
}

// Where the process code page is UTF-8 every character can be created: a
// name flagged as UTF-8 lands as it is, any other is read in the system's own
// OEM code page. FALSE when the name's UTF-8 form does not fit the path
// buffer; `memberName` then holds as much of it as fits.
static BOOL ConvertNameToUtf8() {
    if (session.header.flags & FLAG_UTF8_NAME)
        return TRUE;
    char utf8[PATH_BUFFER_SIZE];
    BOOL whole = FALSE;
    RecodeText(LegacyOemCodePage(), CP_UTF8, session.memberName, lstrlenA(session.memberName), utf8,
               sizeof utf8, &whole);
    lstrcpyA(session.memberName, utf8);
    return whole;
}

BOOL ConvertMemberName() {
    if (Utf8CodePage())
        return ConvertNameToUtf8();
    if (session.header.flags & FLAG_UTF8_NAME) {
        ConvertUtf8Name();
        return TRUE;
    }
    // Names are otherwise stored in the OEM character set. The ANSI form is
    // used only when it converts back to the very bytes stored; otherwise the
    // stored bytes stay.
    char scratch[PATH_BUFFER_SIZE];
    OemToCharA(session.memberName, session.outputPath);
    CharToOemA(session.outputPath, scratch);
    if (lstrcmpA(session.memberName, scratch) == 0)
        lstrcpyA(session.memberName, session.outputPath);
    return TRUE;
}

// Refuses, before any folder or file of it is made, a member that would be
// written outside the unzip folder, onto a device, or to a path longer than
// the path buffers hold.
static void RefuseUnsafeMember(BOOL folderMember, BOOL embeddedNul, BOOL nameFits) {
    const char *name = session.memberName;
    const char *text = NULL;
    if (embeddedNul || IsUnsafeMemberName(name, folderMember)) {
        text = unsafeMemberNameText;
    } else if (!nameFits) {
        text = pathTooLongText;
    } else {
        size_t folderLength = strlen(unzipFolder);
        BOOL joined = folderLength > 0 && IsSeparator(unzipFolder[folderLength - 1]);
        size_t pathLength = folderLength + (joined ? 0 : 1) + strlen(name);
        if (!folderMember && IsSeparator(name[0]))
            pathLength--;
        if (pathLength >= PATH_BUFFER_SIZE)
            text = pathTooLongText;
    }
    if (text) {
        wsprintfA(session.messageBuffer, text, name);
        ErrorExit(session.messageBuffer);
    }
}

void HandleLocalHeader() {
    LocalHeader &header = session.header;
    ReadRecord(&header, LOCAL_HEADER_SIZE, TRUE, READ_ERROR_LOCAL_HEADER,
               READ_ERROR_LOCAL_HEADER_NEXT_DISK);
    session.encrypted = (header.flags & FLAG_ENCRYPTED) != 0;
    session.checkByteFromTime = (header.flags & FLAG_DATA_DESCRIPTOR) != 0;

    if (header.nameLength > MAX_NAME_LENGTH)
        ErrorExit(MessageText(MSG_NAME_TOO_LONG));
    ReadMemberName(header.nameLength);
    ReadExtraField();

    BOOL folderMember =
        header.nameLength > 0 && IsSeparator(session.memberName[header.nameLength - 1]);
    BOOL embeddedNul = strlen(session.memberName) != header.nameLength;
    BOOL nameFits = ConvertMemberName();
    RefuseUnsafeMember(folderMember, embeddedNul, nameFits);

    if (folderMember) {
        // Folders only: no count, no password check, no file.
        MakeFolders();
        if (header.uncompressedSize == 0 && header.compressedSize > 0)
            SkipForward(header.compressedSize);
    } else {
        BuildOutputPath();
        MakeFolders();
        if (!ConfirmOverwrite()) {
            SkipForward(header.compressedSize); // the encryption header included
        } else {
            if (session.encrypted && !VerifyPassword())
                ErrorExit(MessageText(session.password ? MSG_BAD_PASSWORD : MSG_NO_PASSWORD));
            ExtractMember();
        }
    }
    if (header.flags & FLAG_DATA_DESCRIPTOR)
        SkipForward(DATA_DESCRIPTOR_SIZE);
}

void WalkArchive() {
    for (;;) {
        uint8_t signature[4];
        ReadRecord(signature, sizeof signature, TRUE, READ_ERROR_SIGNATURE,
                   READ_ERROR_SIGNATURE_NEXT_DISK);
        if (!memcmp(signature, session.localSignature, 4)) {
            HandleLocalHeader();
        } else if (!memcmp(signature, session.spanningSignature, 4)) {
            if (!session.spanned)
                ErrorExit(MessageText(MSG_INVALID_HEADER));
        } else if (!memcmp(signature, session.centralSignature, 4)) {
            if (session.spanned)
                return; // the first central entry ends a spanned walk
            SkipCentralEntry();
        } else if (!memcmp(signature, session.endSignature, 4)) {
            ReadEndRecord();
            return;
        } else if (memcmp(signature, session.singleVolumeSignature, 4) != 0) {
            ErrorExit(MessageText(MSG_INVALID_HEADER));
        }
    }
}

// Puts the archive at its first record.
static void SeekArchiveStart() {
    if (session.spanned) {
        RequestDisk(1, session.spanExeNames);
        if (!session.spanExeNames)
            return; // a ".ZIP" volume starts with the archive
    }
    LONG position = _llseek(session.archiveFile, (LONG)sfxHeader.archiveOffset, FILE_BEGIN);
    if ((uint32_t)position != sfxHeader.archiveOffset || position == HFILE_ERROR)
        ErrorExit(MessageText(MSG_IO_ERROR));
}

int RunExtraction() {
    jmp_buf landing;
    jmp_buf *previous = session.landingPoint;
    session.extractionActive = TRUE;
    session.landingPoint = &landing;
    int code = setjmp(landing);
    SetCursor(session.waitCursor);
    if (code != 0) {
        // A FatalExit landed here: the partly written member stays on disk;
        // an AES member's key and code die with the run.
        ReleaseInflater();
        EndAesMember();
        session.inflatingToMemory = FALSE;
        if (session.outputFile) {
            _lclose(session.outputFile);
            session.outputFile = 0;
        }
    } else {
        SeekArchiveStart();
        WalkArchive();
    }
    SetCursor(session.arrowCursor);
    session.extractionActive = FALSE;
    session.landingPoint = previous;
    return code;
}

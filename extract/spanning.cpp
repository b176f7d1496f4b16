// Disk spanning: asking for a disk of a spanned set, recognising it by its
// "PKBACK#" volume label, reopening the volume file on it, and refilling the
// input block from the archive, moving on to the next disk when a volume file
// ends inside member data.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

static const char volumeLabelPrefix[] = "PKBACK#";

uint16_t ReadVolumeNumber(const char *drive) {
    char root[4] = {drive[0], ':', '\\', 0};
    char label[33];
    memset(label, 0, sizeof label);
    if (!GetVolumeInformationA(root, label, 32, NULL, NULL, NULL, NULL, 0))
        return NO_VOLUME_NUMBER; // no disk, or an unreadable one
    if (memcmp(label, volumeLabelPrefix, 7) != 0)
        return NO_VOLUME_NUMBER;
    const char *p = label;
    while (*p && *p != '.' && *p != ' ')
        p++;
    if (!*p)
        return NO_VOLUME_NUMBER; // no separator before the label ends
    while (*p && !(*p >= '0' && *p <= '9'))
        p++;
    uint16_t number = 0; // no digit after the separator: disk 0
    while (*p >= '0' && *p <= '9')
        number = (uint16_t)(number * 10 + (*p++ - '0'));
    return number;
}

void RequestDisk(uint16_t wantedDisk, BOOL exeNames) {
    if (session.archiveFile) {
        _lclose(session.archiveFile);
        session.archiveFile = 0;
    }
    // The disk is always sought in the drive the package was started from.
    char drive[3] = {packagePath[0], ':', 0};
    for (;;) {
        uint16_t number = ReadVolumeNumber(drive);
        if (number == NO_VOLUME_NUMBER) {
            wsprintfA(session.messageBuffer, MessageText(MSG_BAD_DISK), wantedDisk);
            int answer = MessageBoxA(session.mainWindow, session.messageBuffer, defaultTitle,
                                     MB_ICONQUESTION | MB_ABORTRETRYIGNORE);
            if (answer == IDRETRY)
                continue;
            if (answer != IDIGNORE)
                AbortExit();
            number = wantedDisk; // Ignore: whatever is in the drive is taken as wanted
        }
        session.currentDisk = number;
        if (number == wantedDisk)
            break;
        if (wantedDisk == 0)
            wsprintfA(session.messageBuffer, MessageText(MSG_INSERT_LAST_DISK), drive);
        else
            wsprintfA(session.messageBuffer, MessageText(MSG_INSERT_DISK), wantedDisk, drive);
        if (!ConfirmBox(session.messageBuffer))
            AbortExit();
    }

    // The volume file is named after the package, its extension replaced.
    char volume[FOLDER_BUFFER_SIZE + 8];
    lstrcpyA(volume, packagePath);
    char *dot = strrchr(FileNamePart(volume), '.');
    if (!dot)
        dot = volume + strlen(volume); // no extension: one is added
    lstrcpyA(dot, exeNames ? ".EXE" : ".ZIP");
    HFILE file = _lopen(volume, OF_READ | OF_SHARE_DENY_WRITE);
    if (file == HFILE_ERROR)
        HeaderCorruptExit();
    session.archiveFile = file;
}

int RefillInput() {
    return LoadInputBlock(FALSE);
}

int LoadInputBlock(BOOL holdReadError) {
    LocalHeader &header = session.header;
    if (header.compressedSize == 0) {
        session.inputAvail = 0;
        return 0;
    }
    UINT wanted =
        header.compressedSize < (uint32_t)INPUT_BLOCK ? header.compressedSize : (UINT)INPUT_BLOCK;
    UINT got = _lread(session.archiveFile, session.inputBuffer, wanted);
    if (session.spanned && got != wanted && got != (UINT)HFILE_ERROR) {
        // The volume file ended inside the block: what it did deliver is handed
        // out first, the rest comes from the next disk at the next refill.
        RequestDisk((uint16_t)(session.currentDisk + 1), session.spanExeNames);
        if (got == 0)
            got = _lread(session.archiveFile, session.inputBuffer, wanted);
        if (got != (UINT)HFILE_ERROR && got != 0)
            wanted = got;
    }
    if (got != wanted) {
        if (holdReadError && !session.spanned)
            return READ_FAILED; // the caller reports it once its window is out
        ReportReadError(READ_ERROR_MEMBER_DATA);
    }

    header.compressedSize -= got;
    session.inputPtr = session.inputBuffer;
    if (session.encrypted) {
        if (session.aesStrength)
            AesDecryptBlock(session.inputBuffer, got);
        else
            DecryptBlock(session.inputBuffer, got);
    }
    session.inputAvail = (int32_t)got - 1; // the caller takes the first byte at once
    return (int)got;
}

void ReadMemberBytes(uint8_t *bytes, UINT count, int readErrorCode) {
    UINT got = _lread(session.archiveFile, bytes, count);
    if (session.spanned && got != count && got != (UINT)HFILE_ERROR) {
        RequestDisk((uint16_t)(session.currentDisk + 1), session.spanExeNames);
        UINT more = _lread(session.archiveFile, bytes + got, count - got);
        if (more != (UINT)HFILE_ERROR)
            got += more;
    }
    if (got != count)
        ReportReadError(readErrorCode);
}

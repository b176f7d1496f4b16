// Traditional PKWARE decryption: three keys driven by CRC-32 and a linear
// congruential step, a 12-byte encryption header with a one-byte check, and
// the key stream with which member data is decrypted in place.
#include "extract/extract.h"
#include "ui/ui.h"

#include <string.h>

enum { ENCRYPTION_HEADER_SIZE = 12 };

static inline void Advance(uint32_t keys[3], uint8_t plain, const uint32_t *table) {
    keys[0] = table[(keys[0] ^ plain) & 0xFF] ^ (keys[0] >> 8);
    keys[1] = (keys[1] + (keys[0] & 0xFF)) * 134775813u + 1;
    keys[2] = table[(keys[2] ^ (keys[1] >> 24)) & 0xFF] ^ (keys[2] >> 8);
}

static inline uint8_t StreamByte(uint32_t key2) {
    uint32_t t = (key2 & 0xFFFF) | 2;
    return (uint8_t)(((t * (t ^ 1)) & 0xFFFF) >> 8);
}

void UpdateKeys(uint8_t plain) {
    Advance(session.keys, plain, session.crcTable);
}

uint8_t DecryptByte() {
    return StreamByte(session.keys[2]);
}

void InitKeys(const char *password) {
    session.keys[0] = 0x12345678u;
    session.keys[1] = 0x23456789u;
    session.keys[2] = 0x34567890u;
    for (const char *p = password; *p; p++)
        UpdateKeys((uint8_t)*p);
}

void DecryptBlock(uint8_t *block, uint32_t count) {
    // The keys live in locals for the length of the block; the key update
    // always takes the plain byte.
    uint32_t keys[3] = {session.keys[0], session.keys[1], session.keys[2]};
    const uint32_t *table = session.crcTable;
    for (uint32_t i = 0; i < count; i++) {
        uint8_t plain = block[i] ^ StreamByte(keys[2]);
        Advance(keys, plain, table);
        block[i] = plain;
    }
    memcpy(session.keys, keys, sizeof keys);
}

BOOL CheckEncryptionHeader(const uint8_t *encryptionHeader) {
    uint8_t plain[ENCRYPTION_HEADER_SIZE];
    memcpy(plain, encryptionHeader, sizeof plain);
    InitKeys(session.password);
    DecryptBlock(plain, sizeof plain);
    uint8_t check = session.checkByteFromTime ? (uint8_t)(session.header.modTime >> 8)
                                              : (uint8_t)(session.header.crc32 >> 24);
    return plain[ENCRYPTION_HEADER_SIZE - 1] == check;
}

BOOL VerifyPassword() {
    if (!session.password)
        return FALSE;
    uint8_t encryptionHeader[ENCRYPTION_HEADER_SIZE];
    if (_lread(session.archiveFile, encryptionHeader, sizeof encryptionHeader) !=
        sizeof encryptionHeader)
        ReportReadError(READ_ERROR_ENCRYPTION_HEADER);
    // A member too short to hold its encryption header has no data behind it.
    LocalHeader &header = session.header;
    header.compressedSize = header.compressedSize > ENCRYPTION_HEADER_SIZE
                                ? header.compressedSize - ENCRYPTION_HEADER_SIZE
                                : 0;
    return CheckEncryptionHeader(encryptionHeader);
}

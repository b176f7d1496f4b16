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
    // The same steps as StreamByte and Advance, ordered for speed: each byte
    // waits on the one before it through key 2, so what does not depend on
    // this byte's stream byte (key 0 with the cipher byte, key 1 times the
    // multiplier) is worked out beside that chain rather than on it.
    uint32_t key0 = session.keys[0], key1 = session.keys[1], key2 = session.keys[2];
    const uint32_t *table = session.crcTable;
    for (uint32_t i = 0; i < count; i++) {
        uint32_t cipher = block[i];
        uint32_t key0WithCipher = key0 ^ cipher;
        uint32_t key1Scaled = key1 * 134775813u + 1;
        uint32_t stream = StreamByte(key2);
        key0 = table[(key0WithCipher ^ stream) & 0xFF] ^ (key0 >> 8); // takes the plain byte
        key1 = key1Scaled + (key0 & 0xFF) * 134775813u;
        key2 = table[(key2 ^ (key1 >> 24)) & 0xFF] ^ (key2 >> 8);
        block[i] = (uint8_t)(cipher ^ stream);
    }
    session.keys[0] = key0;
    session.keys[1] = key1;
    session.keys[2] = key2;
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
    if (session.aesStrength)
        return VerifyAesPassword();
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

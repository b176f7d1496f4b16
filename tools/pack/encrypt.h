// Encryption of one member's data as the archive writer stores it.
#pragma once

#include "tools/pack/zip_format.h"

#include <string>

namespace pack {

enum class Encryption {
    None,
    Traditional, // PKWARE's traditional encryption, with a 12-byte encryption header
    // WinZip AES, AE-2: method 99 with the AES extra record (the real method
    // inside), a salt and a 2-byte password verifier before the data, AES in
    // counter mode, a 10-byte HMAC-SHA1 code behind it, CRC-32 0.
    Aes128,
    Aes192,
    Aes256,
};

// One member as the archive writer is about to store it.
struct MemberRecord {
    std::string name;
    uint16_t flags = 0, method = 0, time = 0, date = 0;
    uint16_t versionNeeded = 20;
    uint32_t crc = 0, uncompressed = 0;
    uint32_t externalAttributes = 0;
    Bytes extra; // the same in the local header and the central directory
    Bytes data;  // compressed (and, once encrypted, encrypted) data
};

// Encrypts the member's data in place with `method`, given the password:
// sets its flags, and its method, extra field and version where the method
// needs them. Encryption::None leaves the member alone.
void EncryptMember(Encryption method, const std::string &password, MemberRecord &member);

// Fills `out` with bytes from the system's random source.
void RandomBytes(uint8_t *out, size_t size);

} // namespace pack

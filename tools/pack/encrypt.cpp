#include "tools/pack/encrypt.h"

#include "tools/pack/mend.h"

#include <zlib.h>

#include <sys/random.h>

#include <cerrno>

namespace pack {

void RandomBytes(uint8_t *out, size_t size) {
    while (size > 0) {
        ssize_t got = getrandom(out, size, 0);
        if (got < 0) {
            if (errno == EINTR)
                continue;
            throw Refusal("the system's random source failed");
        }
        out += got;
        size -= size_t(got);
    }
}

namespace {

// PKWARE's traditional encryption: three keys driven by CRC-32.
struct TraditionalKeys {
    uint32_t key[3] = {0x12345678u, 0x23456789u, 0x34567890u};
    const z_crc_t *table = get_crc_table();

    void Update(uint8_t plain) {
        key[0] = table[(key[0] ^ plain) & 0xFF] ^ (key[0] >> 8);
        key[1] = (key[1] + (key[0] & 0xFF)) * 134775813u + 1;
        key[2] = table[(key[2] ^ (key[1] >> 24)) & 0xFF] ^ (key[2] >> 8);
    }
    uint8_t StreamByte() const {
        uint32_t t = (key[2] & 0xFFFF) | 2;
        return uint8_t(((t * (t ^ 1)) & 0xFFFF) >> 8);
    }
    uint8_t Encrypt(uint8_t plain) {
        uint8_t stored = plain ^ StreamByte();
        Update(plain);
        return stored;
    }
};

void EncryptTraditional(const std::string &password, MemberRecord &m) {
    TraditionalKeys keys;
    for (unsigned char c : password)
        keys.Update(c);
    // Eleven random bytes, then the check byte: the CRC's high byte (the
    // member has no data descriptor).
    uint8_t header[kEncryptionHeaderSize];
    RandomBytes(header, sizeof header - 1);
    header[11] = uint8_t(m.crc >> 24);
    Bytes out;
    out.reserve(m.data.size() + sizeof header);
    for (uint8_t b : header)
        out.push_back(keys.Encrypt(b));
    for (uint8_t b : m.data)
        out.push_back(keys.Encrypt(b));
    m.data.swap(out);
    m.flags |= kFlagEncrypted;
}

} // namespace

void EncryptMember(Encryption method, const std::string &password, MemberRecord &member) {
    switch (method) {
    case Encryption::None:
        return;
    case Encryption::Traditional:
        EncryptTraditional(password, member);
        return;
    }
}

} // namespace pack

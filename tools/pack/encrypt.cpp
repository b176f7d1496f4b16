#include "tools/pack/encrypt.h"

#include "tools/pack/mend.h"

#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <zlib.h>

#include <sys/random.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

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

// WinZip AES (AE-2): keys from PBKDF2-HMAC-SHA1 (1000 iterations) over a
// random salt, AES in counter mode with a little-endian counter from 1 (the
// counter blocks encrypted one by one), HMAC-SHA1 of the stored data cut to
// 10 bytes. AE-2 records CRC 0: the code alone checks the data.
void EncryptAes(int strength, const std::string &password, MemberRecord &m) {
    const size_t keySize = 8 + 8 * size_t(strength), saltSize = keySize / 2;
    const size_t size = m.data.size();
    Bytes out(saltSize + 2 + size + 10);
    RandomBytes(out.data(), saltSize);
    uint8_t derived[2 * 32 + 2];
    if (PKCS5_PBKDF2_HMAC(password.data(), int(password.size()), out.data(), int(saltSize), 1000,
                          EVP_sha1(), int(2 * keySize + 2), derived) != 1)
        throw Refusal("member " + m.name + ": AES key derivation failed");
    std::memcpy(out.data() + saltSize, derived + 2 * keySize, 2);

    const EVP_CIPHER *cipher = strength == 1   ? EVP_aes_128_ecb()
                               : strength == 2 ? EVP_aes_192_ecb()
                                               : EVP_aes_256_ecb();
    EVP_CIPHER_CTX *context = EVP_CIPHER_CTX_new();
    bool ok = context && EVP_EncryptInit_ex(context, cipher, nullptr, derived, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(context, 0) == 1;
    uint8_t *stored = out.data() + saltSize + 2;
    uint64_t counter = 0;
    for (size_t done = 0; ok && done < size;) {
        uint8_t blocks[4096], stream[4096];
        const size_t piece = std::min(size - done, sizeof blocks);
        const size_t count = (piece + 15) / 16;
        std::memset(blocks, 0, count * 16);
        for (size_t i = 0; i < count; i++) {
            ++counter;
            for (size_t b = 0; b < 8; b++)
                blocks[i * 16 + b] = uint8_t(counter >> (8 * b));
        }
        int produced = 0;
        ok = EVP_EncryptUpdate(context, stream, &produced, blocks, int(count * 16)) == 1 &&
             size_t(produced) == count * 16;
        for (size_t i = 0; ok && i < piece; i++)
            stored[done + i] = m.data[done + i] ^ stream[i];
        done += piece;
    }
    EVP_CIPHER_CTX_free(context);
    uint8_t code[20];
    unsigned codeSize = 0;
    ok = ok && HMAC(EVP_sha1(), derived + keySize, int(keySize), stored, size, code, &codeSize) &&
         codeSize == sizeof code;
    std::memset(derived, 0, sizeof derived);
    if (!ok)
        throw Refusal("member " + m.name + ": AES encryption failed");
    std::memcpy(stored + size, code, 10);
    m.data.swap(out);

    // The AES record: id 0x9901, 7 bytes, vendor version 2, "AE", the
    // strength, the real method.
    const uint8_t record[11] = {0x01,
                                0x99,
                                7,
                                0,
                                2,
                                0,
                                'A',
                                'E',
                                uint8_t(strength),
                                uint8_t(m.method),
                                uint8_t(m.method >> 8)};
    AppendBytes(m.extra, record, sizeof record);
    m.method = kMethodAes;
    m.crc = 0;
    m.versionNeeded = 51;
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
    case Encryption::Aes128:
        EncryptAes(1, password, member);
        return;
    case Encryption::Aes192:
        EncryptAes(2, password, member);
        return;
    case Encryption::Aes256:
        EncryptAes(3, password, member);
        return;
    }
}

} // namespace pack

// ZIP records as the package builder reads and writes them: little-endian
// fields, the record signatures and their fixed sizes, and the general
// purpose flag bits that matter to the stub.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace pack {

using Bytes = std::vector<uint8_t>;

inline uint16_t Get16(const uint8_t *p) {
    return uint16_t(p[0] | p[1] << 8);
}
inline uint32_t Get32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}
inline uint16_t Get16(const Bytes &b, size_t at) {
    return Get16(b.data() + at);
}
inline uint32_t Get32(const Bytes &b, size_t at) {
    return Get32(b.data() + at);
}
inline uint64_t Get64(const Bytes &b, size_t at) {
    return uint64_t(Get32(b, at)) | uint64_t(Get32(b, at + 4)) << 32;
}
inline void Put16(Bytes &b, size_t at, uint16_t v) {
    b[at] = uint8_t(v);
    b[at + 1] = uint8_t(v >> 8);
}
inline void Put32(Bytes &b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b[at + i] = uint8_t(v >> (8 * i));
}
inline void Append16(Bytes &b, uint16_t v) {
    b.push_back(uint8_t(v));
    b.push_back(uint8_t(v >> 8));
}
inline void Append32(Bytes &b, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        b.push_back(uint8_t(v >> (8 * i)));
}
inline void AppendBytes(Bytes &b, const uint8_t *p, size_t n) {
    b.insert(b.end(), p, p + n);
}
inline void AppendBytes(Bytes &b, const std::string &s) {
    b.insert(b.end(), s.begin(), s.end());
}

inline bool Matches(const Bytes &b, size_t at, const char *sig, size_t n = 4) {
    return at <= b.size() && n <= b.size() - at && std::memcmp(b.data() + at, sig, n) == 0;
}

const char kLocalSig[] = "PK\x03\x04";
const char kCentralSig[] = "PK\x01\x02";
const char kEndSig[] = "PK\x05\x06";
const char kSpanSig[] = "PK\x07\x08"; // also the data descriptor's signature
const char kSingleSig[] = "PK00";
const char kZip64EndSig[] = "PK\x06\x06";
const char kZip64LocatorSig[] = "PK\x06\x07";

enum : size_t {
    kLocalHeaderSize = 30,
    kCentralEntrySize = 46,
    kEndRecordSize = 22,
    kDescriptorSize = 16, // signed: signature, CRC-32, compressed and uncompressed size
    kEncryptionHeaderSize = 12,
    kMaxNameLength = 200, // the stub refuses longer names
};

enum : uint16_t {
    kFlagEncrypted = 0x0001,
    kFlagDescriptor = 0x0008,
    kFlagUtf8 = 0x0800,
    kMethodStored = 0,
    kMethodDeflated = 8,
    kMethodAes = 99, // WinZip AES: the real method is in the AES extra record
    kExtraZip64 = 0x0001,
    kExtraAes = 0x9901,
};

// The CRC-32 of ZIP (zlib's crc32), continued from `crc`.
uint32_t Crc32(uint32_t crc, const uint8_t *data, size_t size);

} // namespace pack

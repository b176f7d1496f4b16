// CRC-32 of output blocks by carry-less multiplication where the processor
// has it (PCLMULQDQ), else zlib's crc32.
//
// The register is the raw running CRC (preset 0xFFFFFFFF, not complemented),
// as UpdateCrc keeps it. Sixteen-byte lanes are folded forward with
// x^k mod P constants, four lanes at a time, then one lane, then reduced to
// 32 bits (128 -> 64 -> 32 bits, then a Barrett step). Everything is in the
// bit-reflected domain of the polynomial 0xEDB88320.
#include "extract/extract.h"

#include <zlib.h>

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#include <emmintrin.h>
#include <wmmintrin.h>

#define HAVE_CRC_FOLD 1

namespace {

// x^(4*128+32), x^(4*128-32): folding one lane forward by 64 bytes.
const uint64_t kFold64Low = 0x154442bd4ull, kFold64High = 0x1c6e41596ull;
// x^(128+32), x^(128-32): folding one lane forward by 16 bytes.
const uint64_t kFold16Low = 0x1751997d0ull, kFold16High = 0x0ccaa009eull;
// x^64 mod P: 64 -> 32 bits.
const uint64_t kFold32 = 0x163cd6124ull;
// The Barrett constants: floor(x^64 / P) and P itself.
const uint64_t kBarrettMu = 0x1f7011641ull, kPolynomial = 0x1db710641ull;

__attribute__((target("sse2,pclmul"))) inline __m128i Fold(__m128i lane, __m128i constants) {
    __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(low, high);
}

__attribute__((target("sse2,pclmul"))) inline __m128i Load(const uint8_t *at) {
    return _mm_loadu_si128(reinterpret_cast<const __m128i *>(at));
}

// `count` is at least 64 and a multiple of 16.
__attribute__((target("sse2,pclmul"))) uint32_t FoldLanes(uint32_t crc, const uint8_t *bytes,
                                                          size_t count) {
    const __m128i fold64 =
        _mm_set_epi64x(static_cast<long long>(kFold64High), static_cast<long long>(kFold64Low));
    const __m128i fold16 =
        _mm_set_epi64x(static_cast<long long>(kFold16High), static_cast<long long>(kFold16Low));

    __m128i x0 = _mm_xor_si128(Load(bytes), _mm_cvtsi32_si128(static_cast<int>(crc)));
    __m128i x1 = Load(bytes + 16), x2 = Load(bytes + 32), x3 = Load(bytes + 48);
    bytes += 64;
    count -= 64;

    // Four lanes at a time: each moves 64 bytes on and takes in the next.
    while (count >= 64) {
        x0 = _mm_xor_si128(Fold(x0, fold64), Load(bytes));
        x1 = _mm_xor_si128(Fold(x1, fold64), Load(bytes + 16));
        x2 = _mm_xor_si128(Fold(x2, fold64), Load(bytes + 32));
        x3 = _mm_xor_si128(Fold(x3, fold64), Load(bytes + 48));
        bytes += 64;
        count -= 64;
    }
    // The four lanes into one, then one lane at a time.
    x0 = _mm_xor_si128(Fold(x0, fold16), x1);
    x0 = _mm_xor_si128(Fold(x0, fold16), x2);
    x0 = _mm_xor_si128(Fold(x0, fold16), x3);
    while (count >= 16) {
        x0 = _mm_xor_si128(Fold(x0, fold16), Load(bytes));
        bytes += 16;
        count -= 16;
    }

    // 128 -> 64 bits: the low half moves on past the high half.
    x0 = _mm_xor_si128(_mm_clmulepi64_si128(x0, fold16, 0x10), _mm_srli_si128(x0, 8));
    // 64 -> 32 bits.
    const __m128i mask32 = _mm_set_epi32(0, 0, 0, -1);
    x0 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x0, mask32),
                                            _mm_set_epi64x(0, static_cast<long long>(kFold32)),
                                            0x00),
                       _mm_srli_si128(x0, 4));
    // Barrett reduction to the 32-bit remainder.
    const __m128i barrett =
        _mm_set_epi64x(static_cast<long long>(kBarrettMu), static_cast<long long>(kPolynomial));
    __m128i t = _mm_clmulepi64_si128(_mm_and_si128(x0, mask32), barrett, 0x10);
    t = _mm_clmulepi64_si128(_mm_and_si128(t, mask32), barrett, 0x00);
    x0 = _mm_xor_si128(x0, t);
    return static_cast<uint32_t>(_mm_cvtsi128_si32(_mm_srli_si128(x0, 4)));
}

bool HasCarrylessMultiply() {
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d))
        return false;
    return (c & bit_PCLMUL) && (d & bit_SSE2);
}

} // namespace
#endif

uint32_t CrcFold(uint32_t crc, const uint8_t *bytes, uint32_t count) {
#ifdef HAVE_CRC_FOLD
    // Asked once; a plain flag, as the stub has one thread.
    static int folding = -1;
    if (folding < 0)
        folding = HasCarrylessMultiply() ? 1 : 0;
    if (folding && count >= 64) {
        uint32_t whole = count & ~15u;
        crc = FoldLanes(crc, bytes, whole);
        bytes += whole;
        count -= whole;
    }
#endif
    // The rest (and everything without carry-less multiply): zlib's crc32 is
    // the same CRC with the preset and complement folded in.
    if (count)
        crc = ~(uint32_t)crc32(~crc, bytes, count);
    return crc;
}

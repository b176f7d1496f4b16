// fuzz_pack: the package builder's archive reader, checker and mender on
// arbitrary archive bytes (the builder reads archives from anyone).
//
// The input's first byte chooses how names without flag bit 11 are taken
// (its value modulo 3: auto, utf8, cp437); the rest is the archive.
//
// Malformed input must end in a refusal, never a crash, a sanitizer report
// or a hang. For every archive the mender accepts, the target checks what
// the stub relies on:
//   - walked front to back from offset 0 as the stub walks it, the mended
//     archive is local records back to back (local header, name, extra
//     field, data, and with flag bit 3 a signed 16-byte descriptor with the
//     local header's values), then the central directory, then the end
//     record, which reaches to the end;
//   - every local header carries what its central entry says (the flags for
//     encryption, data descriptor and UTF-8, method, time, CRC-32, sizes,
//     name), and names are at most 200 bytes;
//   - the end record offset and total size the mender reports are right;
//   - mending is done at once: the mended archive passes again unchanged,
//     with nothing left to mend.
// That the native stub then unzips the package to the tree Python's zipfile
// reads from the input is checked over the corpus by fuzz/pack_property.py,
// which runs both as processes.
#include "tools/pack/mend.h"

#include <cstdio>
#include <cstdlib>

namespace {

using namespace pack;

[[noreturn]] void Finding(const char *what, size_t at = 0) {
    std::fprintf(stderr, "morvik-fuzz: FINDING: %s (offset %zu)\n", what, at);
    std::abort();
}

void CheckLayout(const MendedArchive &m) {
    const Bytes &z = m.archive;
    if (m.endRecord + kEndRecordSize > z.size() || !Matches(z, m.endRecord, kEndSig))
        Finding("no end record where reported", m.endRecord);
    if (m.endRecord + kEndRecordSize + Get16(z, m.endRecord + 20) != z.size())
        Finding("the end record does not reach the end", m.endRecord);
    const uint32_t cd = Get32(z, m.endRecord + 16), cdSize = Get32(z, m.endRecord + 12);
    const uint16_t count = Get16(z, m.endRecord + 10);
    if (uint64_t(cd) + cdSize != m.endRecord || count != m.members)
        Finding("the end record's directory does not match", m.endRecord);

    // The stub's walk over the local records.
    size_t at = 0;
    std::vector<size_t> locals;
    while (at < cd) {
        if (cd - at < kLocalHeaderSize || !Matches(z, at, kLocalSig))
            Finding("the walk finds no local header", at);
        const uint16_t flags = Get16(z, at + 6), nameLength = Get16(z, at + 26);
        if (nameLength > kMaxNameLength)
            Finding("a name over 200 bytes", at);
        const uint64_t end = uint64_t(at) + kLocalHeaderSize + nameLength + Get16(z, at + 28) +
                             Get32(z, at + 18) + ((flags & kFlagDescriptor) ? kDescriptorSize : 0);
        if (end > cd)
            Finding("a local record runs into the central directory", at);
        if (flags & kFlagDescriptor) {
            size_t d = size_t(end) - kDescriptorSize;
            if (!Matches(z, d, kSpanSig) || Get32(z, d + 4) != Get32(z, at + 14) ||
                Get32(z, d + 8) != Get32(z, at + 18) || Get32(z, d + 12) != Get32(z, at + 22))
                Finding("a data descriptor that is not the local header's", d);
        }
        locals.push_back(at);
        at = size_t(end);
    }
    if (locals.size() != count)
        Finding("the walk finds another number of members than the directory", at);

    // Each central entry against its local header.
    uint64_t total = 0;
    size_t c = cd;
    for (unsigned i = 0; i < count; ++i) {
        if (m.endRecord - c < kCentralEntrySize || !Matches(z, c, kCentralSig))
            Finding("a damaged central directory", c);
        const uint32_t local = Get32(z, c + 42);
        bool found = false;
        for (size_t l : locals)
            found = found || l == local;
        if (!found)
            Finding("a central entry points at no local header", c);
        const uint16_t bits = kFlagEncrypted | kFlagDescriptor | kFlagUtf8;
        if (((Get16(z, c + 8) ^ Get16(z, local + 6)) & bits) ||
            Get16(z, c + 10) != Get16(z, local + 8) || Get32(z, c + 12) != Get32(z, local + 10) ||
            Get32(z, c + 16) != Get32(z, local + 14) || Get32(z, c + 20) != Get32(z, local + 18) ||
            Get32(z, c + 24) != Get32(z, local + 22))
            Finding("a local header differs from its central entry", c);
        const uint16_t nameLength = Get16(z, c + 28);
        if (nameLength != Get16(z, local + 26) ||
            std::memcmp(z.data() + c + kCentralEntrySize, z.data() + local + kLocalHeaderSize,
                        nameLength) != 0)
            Finding("a local name differs from its central name", c);
        total += Get32(z, c + 24);
        c += kCentralEntrySize + nameLength + Get16(z, c + 30) + Get16(z, c + 32);
    }
    if (c != m.endRecord)
        Finding("the central directory's size does not match its entries", c);
    if (total != m.totalSize)
        Finding("a wrong total size");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 1)
        return 0;
    MendSettings settings;
    settings.names = NameEncoding(data[0] % 3);
    const Bytes zip(data + 1, data + size);
    MendedArchive mended;
    try {
        mended = CheckAndMend(zip, settings);
    } catch (const Refusal &) {
        return 0;
    }
    CheckLayout(mended);
    MendedArchive again;
    try {
        again = CheckAndMend(mended.archive, settings);
    } catch (const Refusal &r) {
        std::fprintf(stderr, "refused: %s\n", r.what());
        Finding("the mended archive is refused");
    }
    if (again.archive != mended.archive || !again.mends.empty())
        Finding("mending the mended archive changes it");
    return 0;
}

#include "tools/pack/mend.h"

#include "tools/pack/member_names.h"

#include <zlib.h>

#include <algorithm>
#include <functional>
#include <set>

namespace pack {

uint32_t Crc32(uint32_t crc, const uint8_t *data, size_t size) {
    while (size > 0) {
        uInt piece = uInt(std::min<size_t>(size, 1u << 30));
        crc = uint32_t(crc32(crc, data, piece));
        data += piece;
        size -= piece;
    }
    return crc;
}

namespace {

// The kinds of mend, in the order their notes are printed.
enum MendKind {
    kMendSizes,
    kMendDescriptor,
    kMendTimes,
    kMendNames,
    kMendPrefix,
    kMendGaps,
    kMendKinds
};

const char *const kMendTexts[kMendKinds] = {
    ("member(s) written as a stream (flag bit 3): the local header takes the CRC-32 and sizes "
     "of the central directory"),
    "data descriptor(s) put in the signed 16-byte form the stub steps over",
    "local header(s) take the date and time of the central directory",
    "name(s) in UTF-8 without flag bit 11: the bit set",
    "byte(s) in front of the first local header (a prefix) dropped, offsets rebased",
    "byte(s) between members dropped",
};

const char *const kMendBriefs[kMendKinds] = {
    "streamed members", "data descriptors", "local times",
    "UTF-8 names",      "prefix bytes",     "bytes between members",
};

struct Entry {
    size_t central = 0, centralLength = 0; // the central record in the input
    uint16_t flags = 0, method = 0, time = 0, date = 0;
    uint32_t crc = 0, compressed = 0, uncompressed = 0;
    std::string name;
    bool folder = false;
    size_t local = 0; // the local header in the input
    uint16_t localFlags = 0, localExtra = 0;
    size_t data = 0;       // the member data in the input
    size_t end = 0;        // behind the data and the data descriptor as found
    uint16_t addFlags = 0; // bits the mender sets
};

[[noreturn]] void Refuse(const std::string &text) {
    throw Refusal(text);
}

[[noreturn]] void RefuseMember(const Entry &e, const std::string &reason) {
    throw Refusal("member " + Printable(e.name) + ": " + reason);
}

std::string MethodName(uint16_t method) {
    switch (method) {
    case 1:
        return "1 (shrunk)";
    case 6:
        return "6 (imploded)";
    case 9:
        return "9 (Deflate64)";
    case 12:
        return "12 (bzip2)";
    case 14:
        return "14 (LZMA)";
    case 93:
        return "93 (Zstandard)";
    case 95:
        return "95 (XZ)";
    case 98:
        return "98 (PPMd)";
    case 99:
        return "99 (WinZip AES encryption)";
    default:
        return std::to_string(method);
    }
}

// The blocks of an extra field: false when one runs past its end.
bool ExtraBlocksFit(const uint8_t *extra, size_t length) {
    size_t at = 0;
    while (length - at >= 4) {
        uint16_t size = Get16(extra + at + 2);
        if (size > length - at - 4)
            return false;
        at += 4 + size;
    }
    return true;
}

bool HasZip64Extra(const uint8_t *extra, size_t length) {
    size_t at = 0;
    while (length - at >= 4) {
        uint16_t id = Get16(extra + at), size = Get16(extra + at + 2);
        if (id == kExtraZip64)
            return true;
        if (size > length - at - 4)
            break;
        at += 4 + size;
    }
    return false;
}

// The AES record of an AES member's extra field (id 0x9901: vendor version,
// vendor "AE", key strength, the real method); false when there is none.
struct AesRecord {
    uint16_t vendorVersion = 0, method = 0;
    uint8_t strength = 0;
    bool vendorAe = false;
};
bool FindAesRecord(const uint8_t *extra, size_t length, AesRecord &record) {
    size_t at = 0;
    while (length - at >= 4) {
        uint16_t id = Get16(extra + at), size = Get16(extra + at + 2);
        if (size > length - at - 4)
            break;
        if (id == kExtraAes && size == 7) {
            record.vendorVersion = Get16(extra + at + 4);
            record.vendorAe = extra[at + 6] == 'A' && extra[at + 7] == 'E';
            record.strength = extra[at + 8];
            record.method = Get16(extra + at + 9);
            return true;
        }
        at += 4 + size;
    }
    return false;
}

// Checks an AES member as the stub reads it: its local header's AES record,
// the real method inside, and room for the salt, verifier and code.
void CheckAesMember(const Bytes &zip, const Entry &m, bool encrypted) {
    AesRecord aes;
    if (!encrypted)
        RefuseMember(m, "method 99 (WinZip AES), but not flagged as encrypted");
    if (!FindAesRecord(zip.data() + m.local + kLocalHeaderSize + m.name.size(), m.localExtra, aes))
        RefuseMember(m, "method 99 (WinZip AES) without the AES extra record (0x9901) in its "
                        "local header");
    if ((aes.vendorVersion != 1 && aes.vendorVersion != 2) || !aes.vendorAe || aes.strength < 1 ||
        aes.strength > 3)
        RefuseMember(m, "an AES extra record the stub does not know (vendor version " +
                            std::to_string(aes.vendorVersion) + ", key strength " +
                            std::to_string(aes.strength) + ")");
    if (aes.method != kMethodStored && aes.method != kMethodDeflated)
        RefuseMember(m, "AES-encrypted with compression method " + MethodName(aes.method) +
                            "; the stub unzips only stored (0) and deflated (8) members");
    const uint32_t overhead = 4 + 4 * uint32_t(aes.strength) + 2 + 10;
    if (m.compressed < overhead)
        RefuseMember(m, "AES-encrypted, but shorter than its salt, password verifier and "
                        "authentication code");
    if (aes.method == kMethodStored &&
        uint64_t(m.compressed) != uint64_t(m.uncompressed) + overhead)
        RefuseMember(m, "stored, but its compressed and uncompressed sizes differ");
}

// The end record: scanning backwards, the first "PK\x05\x06" whose comment
// reaches exactly to the end of the archive.
size_t FindEndRecord(const Bytes &zip) {
    if (zip.size() >= kEndRecordSize) {
        size_t last = zip.size() - kEndRecordSize;
        size_t first = last > 0xFFFF ? last - 0xFFFF : 0;
        for (size_t at = last + 1; at-- > first;)
            if (Matches(zip, at, kEndSig) &&
                at + kEndRecordSize + Get16(zip, at + 20) == zip.size())
                return at;
    }
    Refuse("not a ZIP archive: no end-of-central-directory record at its end");
}

// Checks a member's data against its CRC-32 and sizes: stored data as it
// is, deflated data inflated, which must end exactly at the compressed size.
// `read` is told the member bytes read so far, now and then.
void VerifyData(const Bytes &zip, const Entry &e, const std::function<void(uint64_t)> &read) {
    const size_t kStep = 1 << 20;
    const uint8_t *data = zip.data() + e.data;
    if (e.compressed == 0) {
        if (e.uncompressed != 0 || e.crc != 0)
            RefuseMember(e, "no data, but a size or CRC-32 that says otherwise (damaged)");
        return;
    }
    uint32_t crc = 0;
    uint64_t produced = 0;
    if (e.method == kMethodStored) {
        for (size_t at = 0; at < e.compressed; at += kStep) {
            crc = Crc32(crc, data + at, std::min<size_t>(kStep, e.compressed - at));
            read(at);
        }
        produced = e.compressed;
    } else {
        z_stream z{};
        if (inflateInit2(&z, -MAX_WBITS) != Z_OK)
            Refuse("out of memory");
        static thread_local Bytes window(1 << 16);
        z.next_in = const_cast<Bytef *>(data);
        z.avail_in = e.compressed;
        uLong reported = 0;
        int status;
        do {
            z.next_out = window.data();
            z.avail_out = uInt(window.size());
            status = inflate(&z, Z_NO_FLUSH);
            size_t got = window.size() - z.avail_out;
            crc = Crc32(crc, window.data(), got);
            produced += got;
            if (produced > e.uncompressed)
                break;
            if (z.total_in - reported >= kStep) {
                reported = z.total_in;
                read(reported);
            }
        } while (status == Z_OK);
        uInt left = z.avail_in;
        inflateEnd(&z);
        if (produced > e.uncompressed)
            RefuseMember(e, "its deflated data gives more than its size of " +
                                std::to_string(e.uncompressed) + " bytes (damaged)");
        if (status != Z_STREAM_END)
            RefuseMember(e, "its deflated data is damaged or cut short");
        if (left != 0)
            RefuseMember(e, "its deflated data ends " + std::to_string(left) +
                                " bytes before its compressed size; the stub would lose its "
                                "place in the archive");
    }
    if (produced != e.uncompressed)
        RefuseMember(e, "its data gives " + std::to_string(produced) + " bytes, not its size of " +
                            std::to_string(e.uncompressed) + " (damaged)");
    if (crc != e.crc) {
        char text[80];
        std::snprintf(text, sizeof text, "bad CRC-32 %08x (the archive says %08x): damaged", crc,
                      e.crc);
        RefuseMember(e, text);
    }
}

// The length of the data descriptor found behind a member's data, and
// whether it is the signed 16-byte form with the member's values.
size_t DescriptorLength(const Bytes &zip, const Entry &e, size_t limit, bool &sound) {
    const size_t at = e.data + e.compressed;
    sound = false;
    auto fits = [&](size_t n) { return at <= limit && n <= limit - at; };
    if (fits(16) && Matches(zip, at, kSpanSig) && Get32(zip, at + 4) == e.crc &&
        Get32(zip, at + 8) == e.compressed && Get32(zip, at + 12) == e.uncompressed) {
        sound = true;
        return 16;
    }
    if (fits(24) && Matches(zip, at, kSpanSig) && Get32(zip, at + 4) == e.crc &&
        Get64(zip, at + 8) == e.compressed && Get64(zip, at + 16) == e.uncompressed)
        return 24;
    if (fits(12) && Get32(zip, at) == e.crc && Get32(zip, at + 4) == e.compressed &&
        Get32(zip, at + 8) == e.uncompressed)
        return 12;
    return 0; // none found: whatever lies there is dropped as a gap
}

std::string FolderKey(std::string name) {
    for (char &c : name) {
        if (c == '\\')
            c = '/';
        else if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    if (!name.empty() && name[0] == '/')
        name.erase(0, 1);
    while (!name.empty() && name.back() == '/')
        name.pop_back();
    return name;
}

// Two file members of one name, and a file member that another member needs
// as a folder: the stub would stop to ask, or could not create the folder.
void CheckFolderClashes(const std::vector<Entry> &entries) {
    std::set<std::string> files;
    for (const Entry &e : entries)
        if (!e.folder && !files.insert(FolderKey(e.name)).second)
            RefuseMember(e, "a second file member of this name (Windows does not tell letter "
                            "case apart); the stub would ask whether to overwrite the first");
    for (const Entry &e : entries) {
        std::string key = FolderKey(e.name);
        for (size_t slash = key.find('/'); slash != std::string::npos;
             slash = key.find('/', slash + 1))
            if (files.count(key.substr(0, slash)))
                RefuseMember(e, "it needs a folder " + Printable(key.substr(0, slash)) +
                                    ", which is a file member of the archive too");
        if (e.folder && files.count(key))
            RefuseMember(e, "a folder member of the same name as a file member");
    }
}

} // namespace

MendedArchive CheckAndMend(const Bytes &zip, const MendSettings &settings) {
    if (zip.size() > UINT32_MAX)
        Refuse("archives of 4 GiB or more are not supported");
    const size_t e = FindEndRecord(zip);
    const uint16_t disk = Get16(zip, e + 4), cdDisk = Get16(zip, e + 6);
    const uint16_t diskEntries = Get16(zip, e + 8), count = Get16(zip, e + 10);
    const uint32_t cdSize = Get32(zip, e + 12), cdOffset = Get32(zip, e + 16);
    if ((e >= 20 && Matches(zip, e - 20, kZip64LocatorSig)) || count == 0xFFFF ||
        cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF)
        Refuse("a ZIP64 archive (its end record points to a ZIP64 end record); the stub reads "
               "no ZIP64");
    if (disk != 0 || cdDisk != 0 || diskEntries != count)
        Refuse("a multi-disk (split) ZIP archive; give the whole archive in one file and let "
               "--volume-sizes or --disks split it");
    if (uint64_t(cdOffset) + cdSize > e)
        Refuse("damaged archive: the central directory the end record describes does not fit "
               "in front of it");
    // Data in front of the archive that its offsets do not count shifts
    // every record by the same amount.
    const size_t shift = e - (size_t(cdOffset) + cdSize);
    const size_t cdStart = size_t(cdOffset) + shift;

    MendedArchive result;
    uint64_t mendCounts[kMendKinds] = {};
    std::vector<Entry> entries;
    entries.reserve(count);
    size_t at = cdStart;
    uint64_t total = 0, dataTotal = 0;
    for (unsigned i = 0; i < count; ++i) {
        if (e - at < kCentralEntrySize || !Matches(zip, at, kCentralSig))
            Refuse("damaged central directory (entry " + std::to_string(i + 1) + " of " +
                   std::to_string(count) + ")");
        Entry m;
        m.central = at;
        m.flags = Get16(zip, at + 8);
        m.method = Get16(zip, at + 10);
        m.time = Get16(zip, at + 12);
        m.date = Get16(zip, at + 14);
        m.crc = Get32(zip, at + 16);
        m.compressed = Get32(zip, at + 20);
        m.uncompressed = Get32(zip, at + 24);
        const uint16_t nameLength = Get16(zip, at + 28), extraLength = Get16(zip, at + 30);
        const size_t length = kCentralEntrySize + nameLength + extraLength + Get16(zip, at + 32);
        if (e - at < length)
            Refuse("damaged central directory (entry " + std::to_string(i + 1) + " of " +
                   std::to_string(count) + ")");
        m.centralLength = length;
        m.name.assign(reinterpret_cast<const char *>(zip.data() + at + kCentralEntrySize),
                      nameLength);
        m.folder = nameLength > 0 && (m.name.back() == '/' || m.name.back() == '\\');
        const uint32_t localOffset = Get32(zip, at + 42);
        if (m.compressed == 0xFFFFFFFF || m.uncompressed == 0xFFFFFFFF ||
            localOffset == 0xFFFFFFFF ||
            HasZip64Extra(zip.data() + at + kCentralEntrySize + nameLength, extraLength))
            RefuseMember(m, "ZIP64 sizes or offset, which the stub does not read");
        if (!ExtraBlocksFit(zip.data() + at + kCentralEntrySize + nameLength, extraLength))
            RefuseMember(m, "a damaged extra field in the central directory");
        at += length;

        if (uint64_t(localOffset) + shift > cdStart ||
            cdStart - (localOffset + shift) < kLocalHeaderSize)
            RefuseMember(m, "no local header where the central directory points");
        m.local = localOffset + shift;
        if (!Matches(zip, m.local, kLocalSig))
            RefuseMember(m, "no local header where the central directory points");
        m.localFlags = Get16(zip, m.local + 6);
        const uint16_t localNameLength = Get16(zip, m.local + 26);
        m.localExtra = Get16(zip, m.local + 28);
        m.data = m.local + kLocalHeaderSize + localNameLength + m.localExtra;
        if (m.data > cdStart || cdStart - m.data < m.compressed)
            RefuseMember(m, "its data runs into the central directory (damaged)");
        if (localNameLength != nameLength ||
            std::memcmp(zip.data() + m.local + kLocalHeaderSize, m.name.data(), nameLength) != 0)
            RefuseMember(m, "its local header gives another name than the central directory");
        if (HasZip64Extra(zip.data() + m.local + kLocalHeaderSize + nameLength, m.localExtra))
            RefuseMember(m, "ZIP64 sizes in its local header, which the stub does not read");

        // What the stub acts on: the local header.
        if ((m.flags | m.localFlags) & 0x0040)
            RefuseMember(m, "strong encryption, which the stub cannot decrypt");
        if ((m.flags | m.localFlags) & 0x2000)
            RefuseMember(m, "an encrypted central directory");
        if ((m.flags ^ m.localFlags) & kFlagEncrypted)
            RefuseMember(m, "its local header and the central directory disagree on whether it "
                            "is encrypted");
        // Bit 3 chooses the password check byte: zipfile and unzip go by the
        // central directory's, the stub by the local header's.
        if (((m.flags ^ m.localFlags) & kFlagDescriptor) && (m.flags & kFlagEncrypted))
            RefuseMember(m, "encrypted, and its local header and the central directory disagree "
                            "on flag bit 3, which chooses the password check byte");
        if (Get16(zip, m.local + 8) != m.method)
            RefuseMember(m, "its local header and the central directory give different "
                            "compression methods");
        const bool encrypted = m.flags & kFlagEncrypted;
        result.anyEncrypted = result.anyEncrypted || encrypted;
        if (std::string problem = NameProblem(m.name, m.folder); !problem.empty())
            RefuseMember(m, problem);
        if (m.folder) {
            if (m.uncompressed != 0)
                RefuseMember(m, "a folder member with data, which the stub would not step over");
        } else {
            if (m.method == kMethodAes) {
                CheckAesMember(zip, m, encrypted);
            } else if (m.method != kMethodStored && m.method != kMethodDeflated) {
                RefuseMember(m, "compression method " + MethodName(m.method) +
                                    "; the stub unzips only stored (0) and deflated (8) members");
            } else if (encrypted && m.compressed < kEncryptionHeaderSize) {
                RefuseMember(m, "encrypted, but shorter than its 12-byte encryption header");
            }
            if (m.method == kMethodStored &&
                uint64_t(m.compressed) != m.uncompressed + (encrypted ? 12u : 0u))
                RefuseMember(m, "stored, but its compressed and uncompressed sizes differ");
        }

        // The CRC-32 and sizes the stub reads are the local header's.
        const bool streamed = m.localFlags & kFlagDescriptor;
        if (Get32(zip, m.local + 14) != m.crc || Get32(zip, m.local + 18) != m.compressed ||
            Get32(zip, m.local + 22) != m.uncompressed) {
            if (!streamed)
                RefuseMember(m, "its local header and the central directory give different "
                                "CRC-32 or sizes (damaged)");
            mendCounts[kMendSizes]++;
        }
        if (Get16(zip, m.local + 10) != m.time || Get16(zip, m.local + 12) != m.date) {
            // With bit 3 an encrypted member's password check byte comes
            // from the local time: it must stay.
            if (encrypted && streamed)
                RefuseMember(m, "encrypted, and its local header and the central directory give "
                                "different times (the password check depends on the time)");
            mendCounts[kMendTimes]++;
        }
        m.end = m.data + m.compressed;
        if (streamed) {
            bool sound;
            m.end += DescriptorLength(zip, m, cdStart, sound);
            if (!sound)
                mendCounts[kMendDescriptor]++;
        }

        // Names: flagged as UTF-8 on either record counts for both.
        if ((m.flags | m.localFlags) & kFlagUtf8) {
            if (!IsValidUtf8(m.name))
                RefuseMember(m, "flagged as UTF-8 (bit 11), but its name is not valid UTF-8");
            if ((m.flags & m.localFlags & kFlagUtf8) == 0) {
                m.addFlags |= kFlagUtf8;
                mendCounts[kMendNames]++;
            }
        }
        total += m.uncompressed;
        dataTotal += m.compressed;
        entries.push_back(std::move(m));
    }
    if (at != e)
        Refuse("damaged central directory: its size does not match its entries");
    if (total > UINT32_MAX)
        Refuse("the members' uncompressed sizes add up to 4 GiB or more; the stub counts "
               "them in 32 bits");

    // Names without bit 11 that hold other than ASCII.
    std::vector<Entry *> unflagged;
    bool allUtf8 = true;
    for (Entry &m : entries)
        if (!((m.flags | m.localFlags) & kFlagUtf8) && HasNonAscii(m.name)) {
            unflagged.push_back(&m);
            allUtf8 = allUtf8 && IsValidUtf8(m.name);
        }
    if (settings.names == NameEncoding::Utf8)
        for (Entry *m : unflagged)
            if (!IsValidUtf8(m->name))
                RefuseMember(*m, "its name is not valid UTF-8 (--names=utf8)");
    if (settings.names == NameEncoding::Utf8 || (settings.names == NameEncoding::Auto && allUtf8))
        for (Entry *m : unflagged) {
            m->addFlags |= kFlagUtf8;
            mendCounts[kMendNames]++;
        }
    CheckFolderClashes(entries);

    // The stub reads the local records one after the other.
    std::vector<Entry *> order;
    for (Entry &m : entries)
        order.push_back(&m);
    std::stable_sort(order.begin(), order.end(),
                     [](const Entry *a, const Entry *b) { return a->local < b->local; });
    size_t position = order.empty() ? cdStart : order.front()->local;
    mendCounts[kMendPrefix] = position;
    for (size_t i = 0; i < order.size(); ++i) {
        const Entry &m = *order[i];
        if (m.local < position)
            RefuseMember(m, "its local record overlaps member " + Printable(order[i - 1]->name));
        mendCounts[kMendGaps] += m.local - position;
        position = m.end;
    }
    mendCounts[kMendGaps] += cdStart - std::min(position, cdStart);

    uint64_t checked = 0;
    auto report = [&](uint64_t inMember) {
        if (settings.progress)
            settings.progress(checked + inMember, dataTotal);
    };
    for (Entry *m : order) {
        if (!(m->flags & kFlagEncrypted) && !m->folder)
            VerifyData(zip, *m, report);
        checked += m->compressed;
        report(0);
    }

    // The mended archive: local records back to back from offset 0, then
    // the central directory, then the end record.
    Bytes &out = result.archive;
    out.reserve(zip.size() + 4 * entries.size());
    std::vector<uint32_t> newLocal(entries.size());
    for (Entry *m : order) {
        newLocal[size_t(m - entries.data())] = uint32_t(out.size());
        const size_t header = out.size();
        AppendBytes(out, zip.data() + m->local, kLocalHeaderSize);
        Put16(out, header + 6, uint16_t(m->localFlags | m->addFlags));
        Put16(out, header + 10, m->time);
        Put16(out, header + 12, m->date);
        Put32(out, header + 14, m->crc);
        Put32(out, header + 18, m->compressed);
        Put32(out, header + 22, m->uncompressed);
        AppendBytes(out, zip.data() + m->local + kLocalHeaderSize, m->name.size() + m->localExtra);
        AppendBytes(out, zip.data() + m->data, m->compressed);
        if (m->localFlags & kFlagDescriptor) {
            AppendBytes(out, reinterpret_cast<const uint8_t *>(kSpanSig), 4);
            Append32(out, m->crc);
            Append32(out, m->compressed);
            Append32(out, m->uncompressed);
        }
    }
    const size_t newCd = out.size();
    for (size_t i = 0; i < entries.size(); ++i) {
        const Entry &m = entries[i];
        const size_t record = out.size();
        AppendBytes(out, zip.data() + m.central, m.centralLength);
        const uint16_t flags =
            uint16_t((m.flags & ~kFlagDescriptor) | (m.localFlags & kFlagDescriptor) | m.addFlags);
        Put16(out, record + 8, flags);
        Put32(out, record + 42, newLocal[i]);
    }
    const size_t newEnd = out.size();
    AppendBytes(out, zip.data() + e, zip.size() - e);
    Put32(out, newEnd + 12, uint32_t(newEnd - newCd));
    Put32(out, newEnd + 16, uint32_t(newCd));
    if (out.size() > UINT32_MAX)
        Refuse("the mended archive would be 4 GiB or more");

    result.endRecord = uint32_t(newEnd);
    result.totalSize = uint32_t(total);
    result.members = count;
    for (const Entry &m : entries)
        result.names.push_back(m.name);
    for (int k = 0; k < kMendKinds; ++k)
        if (mendCounts[k])
            result.mends.push_back({kMendTexts[k], kMendBriefs[k], mendCounts[k]});
    return result;
}

} // namespace pack

// Helpers of the end-to-end extraction tests: ZIP records as bytes, the
// traditional PKWARE key schedule, packages and their header record, running
// the stub under a scripted user, and reading back what it showed and wrote.
#pragma once

#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>

#include <cstdint>
#include <cstdio>
#include <ostream>
#include <map>
#include <string>
#include <vector>

namespace extract_e2e {

// ---- bytes -------------------------------------------------------------------------

inline uint16_t Get16(const std::string &b, size_t at) {
    return uint16_t(uint8_t(b.at(at)) | uint8_t(b.at(at + 1)) << 8);
}
inline uint32_t Get32(const std::string &b, size_t at) {
    return uint32_t(Get16(b, at)) | uint32_t(Get16(b, at + 2)) << 16;
}
inline void Put16(std::string &b, size_t at, uint16_t v) {
    b.at(at) = char(v & 0xFF);
    b.at(at + 1) = char(v >> 8);
}
inline void Put32(std::string &b, size_t at, uint32_t v) {
    Put16(b, at, uint16_t(v & 0xFFFF));
    Put16(b, at + 2, uint16_t(v >> 16));
}

inline const uint32_t *CrcTable() {
    static uint32_t table[256];
    static bool built = false;
    if (!built) {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
        built = true;
    }
    return table;
}

inline uint32_t Crc32(const std::string &bytes) {
    const uint32_t *table = CrcTable();
    uint32_t crc = 0xFFFFFFFFu;
    for (char c : bytes)
        crc = table[(crc ^ uint8_t(c)) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

inline std::string Hex8(uint32_t value) {
    char text[16];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

// Deterministic content: `size` bytes that deflate hardly shrinks, or text
// that it shrinks a lot.
inline std::string NoiseBytes(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    uint32_t x = seed * 2654435761u + 12345u;
    for (size_t i = 0; i < size; i++) {
        x = x * 1103515245u + 12345u;
        out[i] = char(x >> 23);
    }
    return out;
}
inline std::string TextBytes(size_t size, uint32_t seed) {
    std::string out;
    for (uint32_t line = seed; out.size() < size; line++)
        out += "line " + std::to_string(line) + " of the sample text, number " +
               std::to_string(line * 7 % 1000) + "\n";
    out.resize(size);
    return out;
}

// ---- ZIP records ------------------------------------------------------------------------

const char kLocalSignature[] = "PK\x03\x04";
const char kCentralSignature[] = "PK\x01\x02";
const char kEndSignature[] = "PK\x05\x06";

// One local file header as stored: `offset` is where its signature starts.
struct LocalRecord {
    size_t offset = 0;
    uint16_t flags = 0, method = 0, modTime = 0, modDate = 0;
    uint32_t crc = 0, compressedSize = 0, uncompressedSize = 0;
    uint16_t nameLength = 0, extraLength = 0;
    std::string name;
    size_t DataOffset() const { return offset + 30 + nameLength + extraLength; }
};

struct ZipLayout {
    std::vector<LocalRecord> locals;
    size_t centralOffset = 0; // the first central directory header
    size_t endOffset = 0;     // the end of central directory record
    const LocalRecord &Named(const std::string &name) const {
        for (const LocalRecord &record : locals)
            if (record.name == name)
                return record;
        ADD_FAILURE() << "no member " << name;
        return locals.at(0);
    }
};

// Walks an archive whose local headers carry the real sizes.
inline ZipLayout ReadLayout(const std::string &zip) {
    ZipLayout layout;
    size_t at = 0;
    while (at + 30 <= zip.size() && zip.compare(at, 4, kLocalSignature) == 0) {
        LocalRecord r;
        r.offset = at;
        r.flags = Get16(zip, at + 6);
        r.method = Get16(zip, at + 8);
        r.modTime = Get16(zip, at + 10);
        r.modDate = Get16(zip, at + 12);
        r.crc = Get32(zip, at + 14);
        r.compressedSize = Get32(zip, at + 18);
        r.uncompressedSize = Get32(zip, at + 22);
        r.nameLength = Get16(zip, at + 26);
        r.extraLength = Get16(zip, at + 28);
        r.name = zip.substr(at + 30, r.nameLength);
        at = r.DataOffset() + r.compressedSize;
        if (r.flags & 0x0008)
            at += zip.compare(at, 4, "PK\x07\x08") == 0 ? 16 : 12;
        layout.locals.push_back(r);
    }
    layout.centralOffset = at;
    EXPECT_EQ(zip.compare(at, 4, kCentralSignature), 0) << "no central directory at " << at;
    layout.endOffset = zip.rfind(kEndSignature);
    EXPECT_NE(layout.endOffset, std::string::npos);
    return layout;
}

// The central directory entry of a member: its offset in the archive.
inline size_t CentralEntryOf(const std::string &zip, const std::string &name) {
    for (size_t at = zip.find(kCentralSignature); at != std::string::npos;
         at = zip.find(kCentralSignature, at + 4)) {
        uint16_t length = Get16(zip, at + 28);
        if (zip.compare(at + 46, length, name) == 0 && name.size() == length)
            return at;
    }
    ADD_FAILURE() << "no central entry " << name;
    return 0;
}

// ---- traditional PKWARE encryption ------------------------------------------------------------

struct ZipKeys {
    uint32_t k0 = 0x12345678u, k1 = 0x23456789u, k2 = 0x34567890u;
    explicit ZipKeys(const std::string &password) {
        for (char c : password)
            Update(uint8_t(c));
    }
    void Update(uint8_t plain) {
        const uint32_t *table = CrcTable();
        k0 = table[(k0 ^ plain) & 0xFF] ^ (k0 >> 8);
        k1 = (k1 + (k0 & 0xFF)) * 134775813u + 1;
        k2 = table[(k2 ^ (k1 >> 24)) & 0xFF] ^ (k2 >> 8);
    }
    uint8_t Stream() const {
        uint32_t t = (k2 & 0xFFFF) | 2;
        return uint8_t(((t * (t ^ 1)) & 0xFFFF) >> 8);
    }
    std::string Decrypt(const std::string &stored) {
        std::string plain = stored;
        for (char &c : plain) {
            c = char(uint8_t(c) ^ Stream());
            Update(uint8_t(c));
        }
        return plain;
    }
};

// The byte an encrypted member's twelfth header byte must decrypt to.
inline uint8_t CheckByte(const LocalRecord &r) {
    return (r.flags & 0x0008) ? uint8_t(r.modTime >> 8) : uint8_t(r.crc >> 24);
}

// The twelfth header byte of member `r` in `zip` decrypted with `password`.
inline uint8_t DecryptedCheckByte(const std::string &zip, const LocalRecord &r,
                                  const std::string &password) {
    ZipKeys keys(password);
    return uint8_t(keys.Decrypt(zip.substr(r.DataOffset(), 12))[11]);
}

// ---- packages
// ------------------------------------------------------------------------------------

// The header record of a package, found by its signature; archiveOffset is at
// +12, endRecordOffset at +20.
inline size_t FindSfxHeader(const std::string &package) {
    std::string signature = std::string("QVD") + char(1) + "sfx" + char(2);
    size_t at = package.find(signature);
    EXPECT_NE(at, std::string::npos) << "no SfxHeader";
    EXPECT_EQ(package.find(signature, at + 1), std::string::npos) << "two SfxHeaders";
    return at;
}
inline uint32_t ArchiveOffset(const std::string &package) {
    return Get32(package, FindSfxHeader(package) + 12);
}

// An archive by Python's zipfile of "first.txt" and a deflated member
// "window.bin" (text, then random bytes that deflate keeps in stored
// blocks), whose text part is as long as it takes for the first `blocks`
// 2048-byte blocks of its data to decode to exactly one 32768-byte window:
// the decoder has filled its window just as it needs the next block.
struct FullWindowArchive {
    std::string zip, first, content;
    uint32_t blocks = 0;
};
inline FullWindowArchive MakeFullWindowArchive(const std::string &dir) {
    test::WriteFile(dir + "/make_window.py", R"(import random, sys, zipfile, zlib
text = b"".join(b"line %d of the sample text\n" % n for n in range(400))
noise = random.Random(7).randbytes(50000)
for lead in range(1000, len(text)):
    data = text[:lead] + noise
    packer = zlib.compressobj(6, zlib.DEFLATED, -15)
    packed = packer.compress(data) + packer.flush()
    blocks = [k for k in (15, 16, 17)
              if len(zlib.decompressobj(-15).decompress(packed[:2048 * k])) == 32768]
    if blocks:
        break
else:
    sys.exit("no text length fills the window at a block end")
open("window.bin", "wb").write(data)
open("first.txt", "wb").write(text[:3000])
z = zipfile.ZipFile(sys.argv[1], "w", zipfile.ZIP_DEFLATED, compresslevel=6)
for name in ("first.txt", "window.bin"):
    z.writestr(zipfile.ZipInfo(name, (2019, 6, 15, 13, 45, 30)), open(name, "rb").read(),
               compress_type=zipfile.ZIP_DEFLATED, compresslevel=6)
z.close()
assert packed in open(sys.argv[1], "rb").read(), "zipfile deflated otherwise"
print(blocks[0])
)");
    FullWindowArchive archive;
    archive.zip = dir + "/archive.zip";
    archive.blocks = uint32_t(std::stoul(test::Shell("python3 make_window.py archive.zip", dir)));
    archive.first = test::ReadFile(dir + "/first.txt");
    archive.content = test::ReadFile(dir + "/window.bin");
    return archive;
}

// ---- running the stub -------------------------------------------------------------------------

// The time stamp the tests give their source files: 2019-06-15 13:45:30 UTC,
// an even second, since DOS times keep even seconds only.
const time_t kSourceTime = 1560606330;

// A string of the scripted user's language.
inline std::string Quoted(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        uint8_t u = uint8_t(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20 || u >= 0x7F) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\x%02X", u);
            out += hex;
        } else {
            out += c;
        }
    }
    return out + "\"";
}

// The form in which the stub names a host path in its messages.
inline std::string WindowsForm(const std::string &hostPath) {
    std::string out = hostPath;
    for (char &c : out)
        if (c == '/')
            c = '\\';
    return out;
}

// Python's zipfile, the way an application would use it: every folder and
// file of the current folder, in a stable order, with the method that
// ZIP_METHOD names (0 stored, 8 deflated).
const char kPythonZip[] = "TZ=UTC python3 - {zip} <<'EOF'\n"
                          "import os, sys, zipfile\n"
                          "method = int(os.environ.get('ZIP_METHOD', '8'))\n"
                          "with zipfile.ZipFile(sys.argv[1], 'w', method) as z:\n"
                          "    for root, dirs, files in os.walk('.'):\n"
                          "        dirs.sort()\n"
                          "        for d in dirs:\n"
                          "            z.write(os.path.join(root, d))\n"
                          "        for f in sorted(files):\n"
                          "            z.write(os.path.join(root, f))\n"
                          "EOF\n";

inline test::Environment WithUtc(test::Environment env) {
    env["TZ"] = "UTC";
    return env;
}

// Auto mode: "-auto FOLDER"; the dialog unzips at once and closes.
inline test::StubRun RunAuto(const std::string &package, const std::string &folder,
                             const std::string &script, const test::Environment &env = {}) {
    return test::RunStub(package, {"-auto", folder}, script, WithUtc(env));
}

// The dialog as a person uses it: types the folder, follows `beforeUnzip`,
// presses Unzip, then follows `steps`. A run that ends after an error box
// closes the dialog by itself; a completed run shows its result box, which
// `steps` must answer (CompletedSteps).
inline test::StubRun RunInDialog(const std::string &package, const std::string &folder,
                                 const std::string &steps, const test::Environment &env = {},
                                 const std::string &beforeUnzip = "") {
    std::string script = "dialog /Morvik Self-Extractor/\ntype 106 " + Quoted(folder) + "\n" +
                         beforeUnzip + "press 1\n" + steps;
    return test::RunStub(package, {}, script, WithUtc(env));
}

// The steps that type `password` into the password dialog and press OK.
inline std::string PasswordSteps(const std::string &password = "secret") {
    return "dialog \"Password\"\ntype 402 " + Quoted(password) + "\npress 1\n";
}

// The steps that close a completed run of RunInDialog.
inline std::string CompletedSteps(int files) {
    return "box ok " + Quoted(std::to_string(files) + " file(s) unzipped successfully") +
           " -> ok\npress 2\n";
}

inline std::string Describe(const test::StubRun &run) {
    return "exit " + std::to_string(run.process.exitCode) + "\n--- stderr\n" + run.process.err +
           "\n--- transcript\n" + run.transcript;
}

// The scripted user had nothing to complain about and the stub exited with
// `code` (a script failure exits 97): 0 when the last extraction completed,
// 1 when the user ended it without an error, 2 when an error or an abort did.
#define EXPECT_RUN_EXIT(run, code)                                                                 \
    EXPECT_EQ((run).process.exitCode, (code)) << extract_e2e::Describe(run)
#define EXPECT_CLEAN_RUN(run) EXPECT_RUN_EXIT(run, 0)

// A message box as the transcript records it; every box of the stub has the
// caption "Morvik Self-Extractor".
struct BoxSeen {
    std::string text;
    unsigned type = 0;
    std::string answer;
    std::string caption = "Morvik Self-Extractor";
    bool operator==(const BoxSeen &o) const {
        return text == o.text && type == o.type && answer == o.answer && caption == o.caption;
    }
};
inline std::ostream &operator<<(std::ostream &out, const BoxSeen &box) {
    return out << "{" << Quoted(box.text) << ", type 0x" << std::hex << box.type << std::dec << ", "
               << box.answer << ", caption " << Quoted(box.caption) << "}";
}

// Every message box of the run, in order, with the button that answered it.
inline std::vector<BoxSeen> BoxesShown(const std::string &transcript) {
    std::vector<BoxSeen> boxes;
    for (const test::TranscriptBox &box : test::TranscriptBoxes(transcript))
        boxes.push_back({box.text, box.type, box.answer, box.caption});
    return boxes;
}

inline std::string LastLine(const std::string &transcript) {
    size_t end = transcript.find_last_not_of('\n');
    if (end == std::string::npos)
        return "";
    size_t start = transcript.rfind('\n', end);
    start = start == std::string::npos ? 0 : start + 1;
    return transcript.substr(start, end + 1 - start);
}

// Box types as the stub uses them.
const unsigned kErrorBox = 0x10;       // MB_ICONERROR
const unsigned kOkCancelBox = 0x01;    // disk prompts
const unsigned kDiskLabelBox = 0x22;   // MB_ICONQUESTION | MB_ABORTRETRYIGNORE
const unsigned kOverwriteBox = 0x03;   // MB_YESNOCANCEL
const unsigned kAbortQuestion = 0x124; // MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2

inline BoxSeen ErrorBox(const std::string &text) {
    return {text, kErrorBox, "OK"};
}

// The script step that answers an error box whose text starts as `text` does.
inline std::string ErrorStep(const std::string &text) {
    return "box ok " + Quoted(text.substr(0, 24)) + " icon=error -> ok\n";
}

// ---- files
// ---------------------------------------------------------------------------------------

inline void SetModified(const std::string &path, time_t when) {
    struct timespec times[2] = {{when, 0}, {when, 0}};
    ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW), 0) << path;
}

// Writes `files` (relative path -> content; a name ending in "/" is a
// folder) under `root`, every entry modified at `when` plus two seconds per
// entry, so that each file has a time of its own, always an even second.
inline void WriteTree(const std::string &root, const std::map<std::string, std::string> &files,
                      time_t when) {
    for (const auto &[name, content] : files) {
        std::string path = root + "/" + name;
        if (name.back() == '/') {
            test::MakeDirs(path);
        } else {
            test::MakeDirs(path.substr(0, path.rfind('/')));
            test::WriteFile(path, content);
        }
    }
    time_t at = when;
    for (const auto &entry : files) {
        std::string name = entry.first;
        if (name.back() == '/')
            name.pop_back();
        SetModified(root + "/" + name, at);
        at += 2;
    }
}

// Removes a test's own folder (packages are megabytes) when the test ends
// without a failure; a failed test leaves it for a look.
struct RemovedIfPassed {
    std::string dir;
    RemovedIfPassed(const RemovedIfPassed &) = delete;
    RemovedIfPassed &operator=(const RemovedIfPassed &) = delete;
    ~RemovedIfPassed() {
        if (!dir.empty() && !::testing::Test::HasFailure())
            test::Run({"rm", "-rf", "--", dir});
    }
};

// A map of the tree's file names to contents, folders without content.
inline std::map<std::string, std::string> Tree(const std::string &root) {
    return test::ListTree(root);
}

// What differs between two trees, entry by entry, without dumping contents;
// empty when they are the same.
inline std::string TreeDifferences(const std::map<std::string, std::string> &actual,
                                   const std::map<std::string, std::string> &expected) {
    std::string out;
    for (const auto &[name, content] : expected) {
        auto found = actual.find(name);
        if (found == actual.end()) {
            out += "  missing " + Quoted(name) + "\n";
        } else if (found->second != content) {
            size_t at = 0;
            while (at < content.size() && at < found->second.size() &&
                   content[at] == found->second[at])
                at++;
            out += "  " + Quoted(name) + ": " + std::to_string(found->second.size()) +
                   " bytes instead of " + std::to_string(content.size()) +
                   ", first difference at " + std::to_string(at) + "\n";
        }
    }
    for (const auto &entry : actual)
        if (!expected.count(entry.first))
            out += "  unexpected " + Quoted(entry.first) + "\n";
    return out;
}

#define EXPECT_TREE(root, expected)                                                                \
    EXPECT_EQ(extract_e2e::TreeDifferences(extract_e2e::Tree(root), expected), "")                 \
        << "in " << (root)

} // namespace extract_e2e

// morvik-pack: the package builder.
//
// Makes a Morvik self-extractor package from a stub image (the Windows PE stub
// or the native ELF stub), a ZIP archive or a folder, and options: a copy of
// the stub with its SfxHeader filled in, the configuration trailer behind it
// and the archive behind that; or, for a spanned set, the package and the
// archive split into volume files, one folder per disk. An archive is checked
// and mended first (pack/mend.cpp), a folder archived (pack/folder_archive.cpp),
// so that every package it writes unzips. Run with --help for the command line.

#include "startup/sfx.h"
#include "tools/pack/folder_archive.h"
#include "tools/pack/mend.h"
#include "tools/pack/zip_format.h"

#include <zlib.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <set>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace {

using pack::Bytes;
using pack::Get16;
using pack::Get32;
using pack::Get64;
using pack::kCentralSig;
using pack::kEndSig;
using pack::kLocalSig;
using pack::kSingleSig;
using pack::kSpanSig;
using pack::kZip64LocatorSig;
using pack::Matches;
using pack::Put16;
using pack::Put32;

const char kUsage[] =
    R"(Usage: morvik-pack --stub STUB (--zip ARCHIVE.zip | --dir FOLDER) --out PACKAGE [options]

Makes a Morvik self-extractor package: a copy of the stub image (the Windows
PE stub or the native ELF stub) with its SfxHeader filled in, the
configuration trailer behind it, and the ZIP archive behind that.

Input and output:
  --stub PATH               the stub image; its SfxHeader is found by its
                            signature "QVD\x01sfx\x02", which must occur
                            exactly once
  --zip PATH                a ZIP archive, checked and mended (below)
  --dir FOLDER              the files and folders below FOLDER, archived with
                            zlib: deflated at the best level (stored where
                            that is not smaller), UTF-8 names, modification
                            times, sorted by name level by level (the same
                            folder gives the same archive, encryption apart);
                            symbolic links and special files are refused
  --password-file FILE      with --dir: encrypt every file with the
                            traditional PKWARE encryption under the password
                            in FILE (its first line); sets --encrypted
  --aes[=128|192|256]       with --password-file: WinZip AES (AE-2) in its
                            place, AES-256 unless a key size is given; the
                            salts come from the system's random source
  --out PATH                the package to write (a spanned set: see below)
  -q, --quiet               no summary, progress or notes (errors and
                            warnings still show)
Value options take either --name=VALUE or --name VALUE.

What the stub needs of an archive (--zip): it reads the archive front to
back from its first byte and trusts the local headers. Every member is
checked, in the central directory and in its local header: method 0 or 8
(or WinZip AES, method 99, AE-1 or AE-2, with 0 or 8 inside),
names of at most 200 bytes that stay inside the unzip folder and that
Windows can hold, no ZIP64, CRC-32 and sizes in the local header, and the
data itself (inflated, its CRC-32 compared; encrypted members excepted).
Mended, with a note on stderr per kind and a count (the member data stays
byte for byte):
  - members written as a stream (flag bit 3): the local header takes the
    CRC-32 and sizes of the central directory, and the data descriptor
    behind the data is the signed 16-byte form
  - data descriptors of 12 bytes without signature: the signed 16-byte form
  - data in front of the first local header (a prefix, as from zip -A or
    another self-extractor), and bytes between members: dropped, offsets
    rebased
  - names in UTF-8 without flag bit 11: the bit set (see --names)
  - encrypted members without --encrypted: --encrypted set
Anything else the stub could not unzip is refused, naming the member and
the reason (exit status 1).
  --names=auto|utf8|cp437   names without flag bit 11 that hold other than
                            ASCII: auto (the default) takes them for UTF-8
                            when every one of them is valid UTF-8, else for
                            code page 437; utf8 takes them all for UTF-8
                            (refusing one that is not); cp437 leaves them
  --as-is                   pack the archive byte for byte, unchecked and
                            unmended (to try the stub on archives it must
                            refuse); such a package may not unzip

Options word (each flag adds its bit; --options sets the raw word first):
  --overwrite               0x00000002  "Overwrite files" starts ticked
  --custom-title            0x00000010  use the trailer's title (--title)
  --encrypted               0x00000100  ask for the password before unzipping
  --auto                    0x00000200  unzip at once and close
  --crc-skip-headers        0x00000800  self-check leaves out the fixed
                                        executable headers (see --crc)
  --spanned                 0x00001000  archive spanned over disks (below)
  --exe-volumes             0x00008000  volume files are named .EXE
  --install-verb            0x00020000  launcher uses the verb "Install"
  --title-caption           0x00040000  dialog caption is the custom title
                                        (or "Setup")
  --startup-query           0x00080000  start-up message asks; "no" ends
  --startup-okcancel        0x00100000  with --startup-query: OK/Cancel
                                        instead of Yes/No
  --options=HEX             the raw option word, e.g. --options=102A
The spanned-set layout follows the final word: --options with bit 0x1000
makes a spanned set just as --spanned does.

Trailer (five NUL-terminated strings behind the stub image, at most 1256
bytes in all, the limits below counted in stored bytes; the second string is
reserved and always empty):
  --folder=TEXT             default unzip folder, at most 260 characters;
                            "." stands for the current folder
  --startup-message=TEXT    shown in a message box at start-up, at most 513
  --title=TEXT              custom title, at most 64 (needs --custom-title)
  --info=TEXT               shown for "-info" on the command line, at most 511
  --no-trailer              no trailer at all (trailerOffset 0); not with the
                            four options above
  --trailer-text=utf8       (the default) a string with characters beyond
                            ASCII must be UTF-8 and is stored behind the UTF-8
                            mark EF BB BF: current Windows show it as given,
                            older ones in their ANSI code page ('?' for a
                            character it lacks); ASCII strings are stored as
                            they are
  --trailer-text=as-given   every string stored byte for byte, in the ANSI
                            character set of the systems it is meant for

Header:
  --crc                     store the self-check CRC-32 (stubCrc) of the
                            package bytes [start, archiveOffset), stubCrc
                            counted as 0. start is 0; with --crc-skip-headers
                            it is, for a PE image ("MZ"), the first section
                            header (the u32 at 0x3C plus 24 plus the optional
                            header's size: 248 for PE32, 264 for PE32+); for an ELF
                            image the end of the program header table
                            (e_phoff + e_phnum * e_phentsize)
  --incomplete              completeMarker 0: the stub refuses the package
  Without --crc stubCrc is 0 (no self-check). The header gets:
  trailerOffset = size of STUB (0 with --no-trailer), archiveOffset = end of
  the trailer, endRecordOffset = archiveOffset + offset of the end-of-central-
  directory record in the archive, totalSize = sum of the members'
  uncompressed sizes (central directory), completeMarker 0xFFFF.

Spanned sets (--spanned):
  --volume-sizes=N1,N2,...  archive bytes on disk 1, 2, ...; the last size
                            repeats until the archive is used up; suffix K
                            (x1024) or M (x1048576) allowed
  --disks=N                 split the archive evenly over N disks (1 to 999);
                            split points move forward out of records that
                            the stub cannot continue on the next disk
  --any-split               take the split points as they fall, also inside
                            records that the stub cannot continue on the
                            next disk (such a set is unreadable to the stub)
  Without either size option the set has one disk.

  The set is written under OUTDIR, the folder of PACKAGE, one folder per
  disk; STEM is PACKAGE's file name without its extension. PACKAGE itself is
  not written:
    OUTDIR/disk1/STEM.EXE        the package (stub and trailer), started from
                                 disk 1 (the stub reopens itself by this name)
    OUTDIR/diskK/STEM.ZIP        volume K: the K-th part of the archive
    OUTDIR/diskK/.windows-label  the disk's volume label "PKBACK# 00K"
                                 (K in three digits, no line end)
  With --exe-volumes there are no .ZIP files: every volume is STEM.EXE, and
  on disk 1 it is the package itself, with the first part of the archive at
  archiveOffset. Volume sizes count archive bytes only. endRecordOffset is
  filled as for a single file (archiveOffset + the end record's offset in the
  whole archive); the stub does not probe it in a spanned set.

Other:
  -v, --verbose             print the header fields and the files written
  -h, --help                this text

On success one summary line goes to stdout: the package, its size, the
members and what was mended. A progress line shows on stderr while a large
archive or folder is read, when stderr is a terminal.

Exit status: 0 on success, 1 on an error, 2 on a bad command line.
)";

// An error with its message; main() prints it and exits non-zero.
struct Failure {
    std::string message;
    int status;
};

[[noreturn]] void Fail(const std::string &message) {
    throw Failure{message, 1};
}
[[noreturn]] void UsageFail(const std::string &message) {
    throw Failure{message, 2};
}

void Warn(const std::string &message) {
    std::fprintf(stderr, "morvik-pack: warning: %s\n", message.c_str());
}

std::string Hex(uint32_t v) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", v);
    return text;
}

// ---- files -----------------------------------------------------------------

Bytes ReadFile(const std::string &path, const char *what) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec))
        Fail(std::string("cannot read ") + what + " " + path + ": " +
             (fs::exists(path, ec) ? "not a regular file" : "no such file"));
    std::ifstream in(path, std::ios::binary);
    if (!in)
        Fail(std::string("cannot open ") + what + " " + path + ": " + std::strerror(errno));
    Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad())
        Fail(std::string("cannot read ") + what + " " + path);
    return data;
}

struct Piece {
    const uint8_t *data;
    size_t size;
};

// Writes the pieces to a temporary file beside `path`, then renames it.
void WriteFile(const fs::path &path, const std::vector<Piece> &pieces, bool executable) {
    fs::path temp = path;
    temp += ".morvik-pack.tmp";
    FILE *out = std::fopen(temp.c_str(), "wb");
    if (!out)
        Fail("cannot write " + path.string() + ": " + std::strerror(errno));
    bool ok = true;
    for (const Piece &p : pieces)
        if (p.size && std::fwrite(p.data, 1, p.size, out) != p.size)
            ok = false;
    if (std::fclose(out) != 0)
        ok = false;
    if (ok)
        ok = chmod(temp.c_str(), executable ? 0755 : 0644) == 0;
    if (ok)
        ok = std::rename(temp.c_str(), path.c_str()) == 0;
    if (!ok) {
        int error = errno;
        std::remove(temp.c_str());
        Fail("cannot write " + path.string() + ": " + std::strerror(error));
    }
}

// ---- command line ----------------------------------------------------------

struct FlagOption {
    const char *name;
    uint32_t bit;
};

const FlagOption kFlags[] = {
    {"--overwrite", OPT_OVERWRITE},
    {"--custom-title", OPT_CUSTOM_TITLE},
    {"--encrypted", OPT_ENCRYPTED},
    {"--auto", OPT_AUTO},
    {"--crc-skip-headers", OPT_CRC_SKIP_HEADERS},
    {"--spanned", OPT_SPANNED},
    {"--exe-volumes", OPT_EXE_VOLUMES},
    {"--install-verb", OPT_INSTALL_VERB},
    {"--title-caption", OPT_TITLE_CAPTION},
    {"--startup-query", OPT_STARTUP_QUERY},
    {"--startup-okcancel", OPT_STARTUP_OKCANCEL},
};

const char *const kValueOptions[] = {
    "--stub",  "--zip",           "--out",     "--folder",       "--startup-message",
    "--title", "--info",          "--options", "--volume-sizes", "--disks",
    "--dir",   "--password-file", "--names",   "--trailer-text",
};

struct Settings {
    std::string stub, zip, dir, passwordFile, out;
    unsigned aesBits = 0; // --aes: 128, 192 or 256; 0: traditional encryption
    pack::NameEncoding names = pack::NameEncoding::Auto;
    bool namesGiven = false;
    bool asIs = false;
    bool quiet = false;
    uint32_t options = 0;
    bool crc = false;
    bool noTrailer = false;
    bool incomplete = false;
    bool anySplit = false;
    bool verbose = false;
    bool help = false;
    std::string trailer[5]; // folder, reserved, startup message, title, info
    bool trailerGiven = false;
    bool trailerAsGiven = false;       // --trailer-text=as-given
    std::vector<uint64_t> volumeSizes; // archive bytes per disk; the last repeats
    unsigned disks = 0;                // 0: not given
};

uint64_t ParseNumber(const std::string &text, const std::string &option, int base,
                     bool suffix = false) {
    if (text.empty())
        UsageFail(option + ": a number is missing");
    std::string digits = text;
    uint64_t scale = 1;
    if (suffix && (digits.back() == 'K' || digits.back() == 'k')) {
        scale = 1024;
        digits.pop_back();
    } else if (suffix && (digits.back() == 'M' || digits.back() == 'm')) {
        scale = 1024 * 1024;
        digits.pop_back();
    }
    if (base == 16 && digits.size() > 2 && digits[0] == '0' &&
        (digits[1] == 'x' || digits[1] == 'X'))
        digits.erase(0, 2);
    if (digits.empty() || digits.size() > 16)
        UsageFail(option + ": bad number \"" + text + "\"");
    uint64_t value = 0;
    for (char c : digits) {
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else
            UsageFail(option + ": bad number \"" + text + "\"");
        value = value * base + d;
    }
    if (value > UINT32_MAX / scale)
        UsageFail(option + ": number too large \"" + text + "\"");
    return value * scale;
}

Settings ParseCommandLine(int argc, char **argv) {
    Settings s;
    uint32_t flags = 0;
    std::set<std::string> seen;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "-h" || arg == "--help") {
            s.help = true;
            return s;
        }
        std::string name = arg, value;
        bool hasValue = false;
        size_t eq = arg.find('=');
        if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
            name = arg.substr(0, eq);
            value = arg.substr(eq + 1);
            hasValue = true;
        }
        if (name == "--aes") {
            if (!seen.insert(name).second)
                UsageFail("--aes given twice");
            if (!hasValue || value == "256")
                s.aesBits = 256;
            else if (value == "128" || value == "192")
                s.aesBits = unsigned(std::stoul(value));
            else
                UsageFail("--aes takes 128, 192 or 256, not \"" + value + "\"");
            continue;
        }
        bool isValueOption = false;
        for (const char *v : kValueOptions)
            isValueOption = isValueOption || name == v;
        if (isValueOption) {
            if (!hasValue) {
                if (i + 1 >= argc)
                    UsageFail(name + " needs a value");
                value = argv[++i];
            }
            if (!seen.insert(name).second)
                UsageFail(name + " given twice");
            if (name == "--stub")
                s.stub = value;
            else if (name == "--zip")
                s.zip = value;
            else if (name == "--out")
                s.out = value;
            else if (name == "--dir")
                s.dir = value;
            else if (name == "--password-file")
                s.passwordFile = value;
            else if (name == "--names") {
                s.namesGiven = true;
                if (value == "auto")
                    s.names = pack::NameEncoding::Auto;
                else if (value == "utf8")
                    s.names = pack::NameEncoding::Utf8;
                else if (value == "cp437")
                    s.names = pack::NameEncoding::Cp437;
                else
                    UsageFail("--names takes auto, utf8 or cp437, not \"" + value + "\"");
            } else if (name == "--options")
                s.options = uint32_t(ParseNumber(value, name, 16));
            else if (name == "--volume-sizes") {
                size_t start = 0;
                for (;;) {
                    size_t comma = value.find(',', start);
                    uint64_t n = ParseNumber(value.substr(start, comma - start), name, 10, true);
                    if (n == 0)
                        UsageFail("--volume-sizes: a volume of 0 bytes");
                    s.volumeSizes.push_back(n);
                    if (comma == std::string::npos)
                        break;
                    start = comma + 1;
                }
            } else if (name == "--trailer-text") {
                if (value != "utf8" && value != "as-given")
                    UsageFail("--trailer-text is utf8 or as-given");
                s.trailerAsGiven = value == "as-given";
            } else if (name == "--disks") {
                uint64_t n = ParseNumber(value, name, 10);
                if (n < 1 || n > 999)
                    UsageFail("--disks must be 1 to 999");
                s.disks = unsigned(n);
            } else {
                int slot = name == "--folder"            ? 0
                           : name == "--startup-message" ? 2
                           : name == "--title"           ? 3
                                                         : 4;
                s.trailer[slot] = value;
                s.trailerGiven = true;
            }
            continue;
        }
        if (hasValue)
            UsageFail("unknown option " + name + " (or it takes no value)");
        bool known = true;
        if (arg == "--crc")
            s.crc = true;
        else if (arg == "--no-trailer")
            s.noTrailer = true;
        else if (arg == "--incomplete")
            s.incomplete = true;
        else if (arg == "--any-split")
            s.anySplit = true;
        else if (arg == "-v" || arg == "--verbose")
            s.verbose = true;
        else if (arg == "-q" || arg == "--quiet")
            s.quiet = true;
        else if (arg == "--as-is")
            s.asIs = true;
        else {
            known = false;
            for (const FlagOption &f : kFlags)
                if (arg == f.name) {
                    flags |= f.bit;
                    known = true;
                }
        }
        if (!known)
            UsageFail(arg.rfind("-", 0) == 0 ? "unknown option " + arg
                                             : "unexpected argument " + arg);
    }
    s.options |= flags;
    if (s.stub.empty() || (s.zip.empty() && s.dir.empty()) || s.out.empty())
        UsageFail("--stub, --zip and --out are required (--dir in place of --zip)");
    if (!s.zip.empty() && !s.dir.empty())
        UsageFail("give --zip or --dir, not both");
    if (!s.passwordFile.empty() && s.dir.empty())
        UsageFail("--password-file needs --dir (an archive keeps its own encryption)");
    if (s.aesBits && s.passwordFile.empty())
        UsageFail("--aes needs --password-file (and --dir)");
    if ((s.namesGiven || s.asIs) && s.zip.empty())
        UsageFail("--names and --as-is need --zip");
    if (s.namesGiven && s.asIs)
        UsageFail("--as-is leaves names alone: not with --names");
    if (s.noTrailer && s.trailerGiven)
        UsageFail("--no-trailer excludes --folder, --startup-message, --title and --info");
    bool spanned = (s.options & OPT_SPANNED) != 0;
    if (!spanned && (!s.volumeSizes.empty() || s.disks || s.anySplit))
        UsageFail("--volume-sizes, --disks and --any-split need --spanned");
    if (!s.volumeSizes.empty() && s.disks)
        UsageFail("give --volume-sizes or --disks, not both");
    return s;
}

// ---- the trailer -----------------------------------------------------------

// The stored form of a trailer string. Beyond ASCII, the stub cannot tell an
// ANSI string from a UTF-8 one on its own: UTF-8 text is stored behind the
// UTF-8 mark, which the stub takes off (and converts the text to the ANSI
// code page where the process code page is not UTF-8). ASCII and as-given
// strings are stored as they are.
std::string StoredTrailerString(const std::string &text, const char *option, bool asGiven) {
    bool ascii = true;
    for (unsigned char c : text)
        ascii = ascii && c < 0x80;
    if (ascii || asGiven)
        return text;
    for (size_t i = 0; i < text.size();) {
        unsigned char c = (unsigned char)text[i];
        size_t n = c < 0x80             ? 1
                   : (c & 0xE0) == 0xC0 ? 2
                   : (c & 0xF0) == 0xE0 ? 3
                   : (c & 0xF8) == 0xF0 ? 4
                                        : 0;
        uint32_t point = n == 1 ? c : n == 2 ? c & 0x1F : n == 3 ? c & 0x0F : c & 0x07;
        for (size_t k = 1; n && k < n; k++) {
            unsigned char next = i + k < text.size() ? (unsigned char)text[i + k] : 0;
            if ((next & 0xC0) != 0x80)
                n = 0;
            point = point << 6 | (next & 0x3F);
        }
        static const uint32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
        if (n == 0 || point < kLeast[n] || point > 0x10FFFF || (point >= 0xD800 && point <= 0xDFFF))
            Fail(std::string(option) + " is not UTF-8 text; give it in UTF-8, or store its bytes "
                                       "as they are with --trailer-text=as-given");
        i += n;
    }
    return "\xEF\xBB\xBF" + text;
}

Bytes BuildTrailer(const Settings &input) {
    Settings s = input;
    const char *const options[] = {"--folder", "", "--startup-message", "--title", "--info"};
    for (int slot = 0; slot < 5; slot++)
        s.trailer[slot] = StoredTrailerString(s.trailer[slot], options[slot], s.trailerAsGiven);
    struct Limit {
        const char *option;
        int slot;
        size_t max;
    };
    const Limit limits[] = {
        {"--folder", 0, TRAILER_FOLDER_MAX},
        {"--startup-message", 2, TRAILER_STARTUP_MESSAGE_MAX},
        {"--title", 3, TRAILER_TITLE_MAX},
        {"--info", 4, TRAILER_INFO_MAX},
    };
    for (const Limit &l : limits)
        if (s.trailer[l.slot].size() > l.max)
            Fail(std::string(l.option) + " is " + std::to_string(s.trailer[l.slot].size()) +
                 " characters long; at most " + std::to_string(l.max) + " are allowed");
    Bytes trailer;
    for (const std::string &text : s.trailer) {
        trailer.insert(trailer.end(), text.begin(), text.end());
        trailer.push_back(0);
    }
    if (trailer.size() > TRAILER_MAX_SIZE)
        Fail("the trailer would be " + std::to_string(trailer.size()) +
             " bytes (the four strings and five terminators); at most " +
             std::to_string(int(TRAILER_MAX_SIZE)) + " are allowed");
    return trailer;
}

// ---- the archive -----------------------------------------------------------

struct Archive {
    uint32_t endRecord = 0;  // offset of the end-of-central-directory record
    uint32_t centralDir = 0; // offset of the central directory
    uint32_t totalSize = 0;  // sum of the uncompressed sizes
    uint32_t entries = 0;
    std::string contents;           // what the summary says of the members
    std::string mended;             // what the summary says was mended
    std::vector<std::string> names; // the members' names, where checked
};

// The end record: scanning backwards, the first "PK\x05\x06" whose comment
// length reaches exactly to the end of the file.
uint32_t FindEndRecord(const Bytes &zip) {
    if (zip.size() >= 22) {
        size_t last = zip.size() - 22;
        size_t first = last > 0xFFFF ? last - 0xFFFF : 0;
        for (size_t at = last + 1; at-- > first;)
            if (Matches(zip, at, kEndSig) && at + 22 + Get16(zip, at + 20) == zip.size())
                return uint32_t(at);
    }
    Fail("not a ZIP archive: no end-of-central-directory record");
}

// The archive as given (--as-is): only what the header needs is read, and
// what the stub will trip over is warned of.
Archive ReadArchiveAsIs(const Bytes &zip, const std::string &path, bool spanned) {
    if (zip.size() > UINT32_MAX)
        Fail(path + ": archives of 4 GiB or more are not supported");
    Archive a;
    a.endRecord = FindEndRecord(zip);
    const uint32_t e = a.endRecord;
    uint16_t disk = Get16(zip, e + 4), cdDisk = Get16(zip, e + 6);
    uint16_t diskEntries = Get16(zip, e + 8), entries = Get16(zip, e + 10);
    uint32_t cdSize = Get32(zip, e + 12), cdOffset = Get32(zip, e + 16);
    if (entries == 0xFFFF || cdSize == 0xFFFFFFFF || cdOffset == 0xFFFFFFFF ||
        (e >= 20 && Matches(zip, e - 20, kZip64LocatorSig)))
        Fail(path + ": ZIP64 archives are not supported");
    if (disk != 0 || cdDisk != 0 || diskEntries != entries)
        Fail(path + ": a multi-disk (split) ZIP archive; give the whole archive in one file "
                    "and let --volume-sizes or --disks split it");
    if (uint64_t(cdOffset) + cdSize != e)
        Fail(path + ": the central directory does not end at the end record (data in front of "
                    "the archive, or a damaged archive)");
    a.centralDir = cdOffset;
    a.entries = entries;

    uint64_t total = 0;
    size_t at = cdOffset;
    for (unsigned i = 0; i < entries; ++i) {
        if (at + 46 > e || !Matches(zip, at, kCentralSig))
            Fail(path + ": damaged central directory (entry " + std::to_string(i + 1) + ")");
        uint16_t method = Get16(zip, at + 10);
        uint32_t crc = Get32(zip, at + 16);
        uint32_t compressed = Get32(zip, at + 20);
        uint32_t uncompressed = Get32(zip, at + 24);
        uint16_t nameLength = Get16(zip, at + 28);
        size_t next = at + 46 + nameLength + Get16(zip, at + 30) + Get16(zip, at + 32);
        uint32_t local = Get32(zip, at + 42);
        if (next > e)
            Fail(path + ": damaged central directory (entry " + std::to_string(i + 1) + ")");
        std::string name(reinterpret_cast<const char *>(zip.data() + at + 46), nameLength);
        total += uncompressed;

        // What the stub will read: the local header, not the central entry.
        if (local + 30 > cdOffset || !Matches(zip, local, kLocalSig))
            Fail(path + ": member " + name +
                 ": no local header where the central directory "
                 "points");
        if (Get32(zip, local + 18) != compressed || Get32(zip, local + 14) != crc)
            Warn("member " + name +
                 ": the local header's CRC or compressed size differs from the central "
                 "directory (streamed archive?); the stub goes by the local header");
        if (nameLength > 200)
            Warn("member " + name + ": a name longer than 200 bytes; the stub refuses it");
        bool folder = nameLength && (name.back() == '/' || name.back() == '\\');
        if (!folder && method != 0 && method != 8)
            Warn("member " + name + ": compression method " + std::to_string(method) +
                 "; the stub unzips only stored (0) and deflated (8) members");
        at = next;
    }
    if (at != e)
        Fail(path + ": damaged central directory (its size does not match its entries)");
    if (total > UINT32_MAX)
        Fail(path + ": the members' uncompressed sizes add up to 4 GiB or more");
    a.totalSize = uint32_t(total);

    // The stub walks the archive from its first byte.
    bool first = Matches(zip, 0, kLocalSig) || Matches(zip, 0, kSingleSig) ||
                 (spanned && Matches(zip, 0, kSpanSig)) || (entries == 0 && e == 0);
    if (!first)
        Fail(path + ": the archive does not begin with a ZIP record (data in front of its "
                    "first member)");
    return a;
}

// ---- split points of a spanned set -----------------------------------------

// A stretch of the archive that the stub cannot continue on the next disk:
// a split point p with from < p < to would break the set.
struct Stretch {
    uint64_t from, to;
    std::string what;
};

[[noreturn]] void CannotWalk(size_t at) {
    Fail("the archive cannot be walked record by record as the stub reads it (no valid record "
         "at offset " +
         std::to_string(at) +
         "; local headers without sizes?), so no safe split points can be found; "
         "--any-split takes them unchecked");
}

// Walks the local records front to back as the stub does. On the next disk
// the stub resumes only a signature, a local header, or member data it reads
// itself; names, extra fields, traditional encryption headers, skipped data and data
// descriptors must lie whole on one disk.
std::vector<Stretch> FindUnsplittable(const Bytes &zip) {
    std::vector<Stretch> stretches;
    size_t at = 0;
    for (;;) {
        if (at + 4 > zip.size())
            CannotWalk(at);
        if (Matches(zip, at, kSpanSig) || Matches(zip, at, kSingleSig)) {
            stretches.push_back({at, at + 4, "a marker"});
            at += 4;
        } else if (Matches(zip, at, kCentralSig)) {
            stretches.push_back({at, at + 4, "the central directory's first signature"});
            return stretches; // the walk of a spanned set ends here
        } else if (Matches(zip, at, kEndSig)) {
            stretches.push_back({at, at + 22, "the end record"});
            return stretches;
        } else if (Matches(zip, at, kLocalSig) && at + 30 <= zip.size()) {
            uint16_t flags = Get16(zip, at + 6);
            uint16_t method = Get16(zip, at + 8);
            uint32_t compressed = Get32(zip, at + 18);
            uint32_t uncompressed = Get32(zip, at + 22);
            uint16_t nameLength = Get16(zip, at + 26);
            uint64_t data = at + 30 + nameLength + Get16(zip, at + 28);
            std::string name;
            if (data <= zip.size())
                name.assign(reinterpret_cast<const char *>(zip.data() + at + 30), nameLength);
            bool folder = nameLength && (name.back() == '/' || name.back() == '\\');
            uint64_t end;
            if (folder) {
                end = data + (uncompressed == 0 ? compressed : 0); // skipped, not read
                stretches.push_back({at, end, "the local header of " + name});
            } else {
                // A traditional encryption header is read whole from one disk;
                // an AES member's salt, verifier and code go on to the next.
                uint64_t header = data + ((flags & 1) && method != 99 && compressed >= 12 ? 12 : 0);
                stretches.push_back({at, header, "the local header of " + name});
                end = data + compressed;
            }
            if (flags & 8) {
                stretches.push_back({end - 1, end + 16, "the data descriptor of " + name});
                end += 16;
            }
            if (end > zip.size())
                CannotWalk(at);
            at = size_t(end);
        } else {
            CannotWalk(at);
        }
    }
}

const Stretch *Unsplittable(const std::vector<Stretch> &stretches, uint64_t p) {
    for (const Stretch &s : stretches)
        if (s.from < p && p < s.to)
            return &s;
    return nullptr;
}

// Sizes of the volumes (archive bytes per disk).
std::vector<uint64_t> PlanVolumes(const Settings &s, const Bytes &zip) {
    const uint64_t size = zip.size();
    std::vector<uint64_t> cuts; // split points, rising, strictly inside (0, size)
    if (!s.volumeSizes.empty()) {
        const std::vector<uint64_t> &capacities = s.volumeSizes;
        uint64_t p = 0;
        for (size_t i = 0;; ++i) {
            p += capacities[std::min(i, capacities.size() - 1)];
            if (p >= size) {
                if (i + 1 < capacities.size())
                    Fail("--volume-sizes lists " + std::to_string(capacities.size()) +
                         " sizes, but the archive (" + std::to_string(size) +
                         " bytes) is used up by volume " + std::to_string(i + 1));
                break;
            }
            cuts.push_back(p);
            if (cuts.size() >= 999)
                Fail("--volume-sizes: the set would need more than 999 disks");
        }
        if (!s.anySplit) {
            std::vector<Stretch> stretches = FindUnsplittable(zip);
            for (size_t i = 0; i < cuts.size(); ++i)
                if (const Stretch *bad = Unsplittable(stretches, cuts[i]))
                    Fail("the end of volume " + std::to_string(i + 1) + " (archive offset " +
                         std::to_string(cuts[i]) + ") falls inside " + bad->what +
                         ", which the stub cannot continue on the next disk; choose other "
                         "sizes, or --any-split");
        }
    } else if (s.disks > 1) {
        std::vector<Stretch> stretches;
        if (!s.anySplit)
            stretches = FindUnsplittable(zip);
        uint64_t previous = 0;
        for (unsigned i = 1; i < s.disks; ++i) {
            uint64_t p = std::max<uint64_t>(size * i / s.disks, previous + 1);
            while (const Stretch *bad = Unsplittable(stretches, p))
                p = bad->to;
            if (p >= size)
                Fail("the archive (" + std::to_string(size) +
                     " bytes) is too small to split over " + std::to_string(s.disks) + " disks");
            cuts.push_back(p);
            previous = p;
        }
    }
    std::vector<uint64_t> volumes;
    uint64_t from = 0;
    for (uint64_t cut : cuts) {
        volumes.push_back(cut - from);
        from = cut;
    }
    volumes.push_back(size - from);
    return volumes;
}

// ---- the stub image --------------------------------------------------------

const uint8_t kSignature[SFX_SIGNATURE_SIZE] = {SFX_SIGNATURE_BYTES};

size_t FindHeader(const Bytes &stub, const std::string &path) {
    std::vector<size_t> found;
    for (size_t at = 0; at + SFX_SIGNATURE_SIZE <= stub.size(); ++at)
        if (std::memcmp(stub.data() + at, kSignature, SFX_SIGNATURE_SIZE) == 0)
            found.push_back(at);
    if (found.empty())
        Fail(path + ": no SfxHeader signature \"QVD\\x01sfx\\x02\": not a Morvik stub image");
    if (found.size() > 1) {
        std::string where;
        for (size_t at : found)
            where += (where.empty() ? "" : ", ") + std::to_string(at);
        Fail(path + ": the SfxHeader signature occurs " + std::to_string(found.size()) +
             " times (at offsets " + where + "); it must occur exactly once");
    }
    if (found[0] + sizeof(SfxHeader) > stub.size())
        Fail(path + ": the SfxHeader at offset " + std::to_string(found[0]) +
             " runs past the end of the image");
    return found[0];
}

// Where the self-check CRC starts with OPT_CRC_SKIP_HEADERS.
uint32_t CrcStart(const Bytes &image, const std::string &path) {
    if (image.size() >= 0x40 && image[0] == 'M' && image[1] == 'Z') {
        // The first section header, behind the PE signature, the file header
        // and an optional header of the size the file header gives (224
        // bytes in a 32-bit image, 240 in a 64-bit one).
        uint64_t pe = Get32(image, 0x3C);
        if (pe + 22 > image.size())
            Fail(path + ": the PE header pointer lies outside the image");
        return uint32_t(pe + 24 + Get16(image, size_t(pe + 20)));
    }
    if (image.size() >= 52 && std::memcmp(image.data(),
                                          "\x7f"
                                          "ELF",
                                          4) == 0) {
        bool is64 = image[4] == 2;
        if ((image[4] != 1 && image[4] != 2) || image[5] != 1 || (is64 && image.size() < 64))
            Fail(path + ": an ELF image of a class or byte order that is not supported");
        uint64_t phoff = is64 ? Get64(image, 0x20) : Get32(image, 0x1C);
        uint16_t phentsize = Get16(image, is64 ? 0x36 : 0x2A);
        uint16_t phnum = Get16(image, is64 ? 0x38 : 0x2C);
        uint64_t end = phoff + uint64_t(phnum) * phentsize; // end of the program headers
        if (end > UINT32_MAX)
            Fail(path + ": the ELF program header table lies beyond 4 GiB");
        return uint32_t(end);
    }
    Fail(path + ": --crc-skip-headers needs a PE (\"MZ\") or ELF image");
}

// ---- main ------------------------------------------------------------------

struct Plan {
    Bytes image; // stub image with its header filled in, and the trailer
    uint32_t headerAt = 0;
    uint32_t trailerOffset = 0, archiveOffset = 0, endRecordOffset = 0, totalSize = 0;
    uint32_t options = 0, stubCrc = 0, crcStart = 0;
    uint16_t completeMarker = 0;
};

Plan BuildPackage(const Settings &s, const Bytes &stub, const Bytes &zip, const Archive &archive) {
    Plan plan;
    plan.headerAt = uint32_t(FindHeader(stub, s.stub));
    Bytes trailer = s.noTrailer ? Bytes() : BuildTrailer(s);

    if (uint64_t(stub.size()) + trailer.size() + zip.size() > UINT32_MAX)
        Fail("the package would be 4 GiB or more");
    const size_t h = plan.headerAt;
    if (Get32(stub, h + offsetof(SfxHeader, archiveOffset)) != 0)
        Warn(s.stub + ": the SfxHeader is already filled in (is this a package?)");

    plan.trailerOffset = s.noTrailer ? 0 : uint32_t(stub.size());
    plan.archiveOffset = uint32_t(stub.size() + trailer.size());
    plan.endRecordOffset = plan.archiveOffset + archive.endRecord;
    plan.totalSize = archive.totalSize;
    plan.options = s.options;
    plan.completeMarker = s.incomplete ? 0 : 0xFFFF;

    plan.image = stub;
    plan.image.insert(plan.image.end(), trailer.begin(), trailer.end());
    Bytes &img = plan.image;
    Put32(img, h + offsetof(SfxHeader, stubCrc), 0);
    Put32(img, h + offsetof(SfxHeader, archiveOffset), plan.archiveOffset);
    Put32(img, h + offsetof(SfxHeader, trailerOffset), plan.trailerOffset);
    Put32(img, h + offsetof(SfxHeader, endRecordOffset), plan.endRecordOffset);
    Put32(img, h + offsetof(SfxHeader, totalSize), plan.totalSize);
    Put32(img, h + offsetof(SfxHeader, options), plan.options);
    std::memset(img.data() + h + offsetof(SfxHeader, reserved1), 0, sizeof(SfxHeader::reserved1));
    Put16(img, h + offsetof(SfxHeader, completeMarker), plan.completeMarker);

    if (s.crc) {
        plan.crcStart = (s.options & OPT_CRC_SKIP_HEADERS) ? CrcStart(img, s.stub) : 0;
        if (plan.crcStart >= plan.archiveOffset)
            Fail("the self-check would start at offset " + std::to_string(plan.crcStart) +
                 ", at or beyond the end of the stub image and trailer (" +
                 std::to_string(plan.archiveOffset) + ")");
        uLong crc = crc32(0L, Z_NULL, 0);
        crc = crc32(crc, img.data() + plan.crcStart, uInt(plan.archiveOffset - plan.crcStart));
        plan.stubCrc = uint32_t(crc);
        Put32(img, h + offsetof(SfxHeader, stubCrc), plan.stubCrc);
    }

    const char *const signatures[] = {kLocalSig, kCentralSig, kEndSig, kSpanSig, kSingleSig};
    for (const char *sig : signatures)
        for (size_t at = 0; at + 4 <= img.size(); ++at)
            if (Matches(img, at, sig)) {
                Warn("the stub image or trailer holds a ZIP signature at offset " +
                     std::to_string(at) + "; ZIP tools may misread the package");
                break;
            }
    return plan;
}

void PrintPlan(const Plan &p) {
    std::printf("SfxHeader at offset %u:\n", p.headerAt);
    std::printf("  stubCrc          %s", Hex(p.stubCrc).c_str());
    if (p.stubCrc)
        std::printf(" (from offset %u)", p.crcStart);
    std::printf("\n  archiveOffset    %u\n", p.archiveOffset);
    std::printf("  trailerOffset    %u\n", p.trailerOffset);
    std::printf("  endRecordOffset  %u\n", p.endRecordOffset);
    std::printf("  totalSize        %u\n", p.totalSize);
    std::printf("  options          %s\n", Hex(p.options).c_str());
    std::printf("  completeMarker   0x%04X\n", p.completeMarker);
}

// ---- the archive's source: a folder, or an archive checked and mended -------

// A progress line on stderr while a large input is read, when stderr is a
// terminal: redrawn in place when the percentage moves, cleared at the end.
class Progress {
  public:
    Progress(bool wanted, const char *what) : shown_(wanted && isatty(2)), what_(what) {}
    ~Progress() { Clear(); }
    void Update(uint64_t done, uint64_t total) {
        if (!shown_ || total < kLarge)
            return;
        int percent = int(done * 100 / total);
        if (percent == percent_)
            return;
        percent_ = percent;
        std::fprintf(stderr, "\rmorvik-pack: %s %3d%% of %llu MiB", what_, percent,
                     (unsigned long long)(total >> 20));
        std::fflush(stderr);
        drawn_ = true;
    }
    void Clear() {
        if (drawn_)
            std::fputs("\r\033[K", stderr);
        drawn_ = false;
    }
    std::function<void(uint64_t, uint64_t)> Callback() {
        return [this](uint64_t done, uint64_t total) { Update(done, total); };
    }

  private:
    static constexpr uint64_t kLarge = 32 << 20; // below this a run is too quick to watch
    bool shown_;
    const char *what_;
    int percent_ = -1;
    bool drawn_ = false;
};

const size_t kMaxPathLength = 263; // the stub's path buffers hold 264 bytes with the NUL

void Note(const Settings &s, const std::string &text) {
    if (!s.quiet)
        std::fprintf(stderr, "morvik-pack: %s\n", text.c_str());
}

std::string ReadPassword(const std::string &path) {
    Bytes bytes = ReadFile(path, "password file");
    std::string password(bytes.begin(), bytes.end());
    size_t end = password.find('\n');
    if (end != std::string::npos)
        password.erase(end);
    if (!password.empty() && password.back() == '\r')
        password.pop_back();
    if (password.empty())
        Fail(path + ": the password file's first line is empty");
    if (password.find('\0') != std::string::npos)
        Fail(path + ": the password holds a NUL byte");
    for (unsigned char c : password)
        if (c >= 0x80) {
            Warn(path + ": the password holds other than ASCII; the stub takes the bytes the "
                        "user types in the Windows ANSI code page, which must be these bytes");
            break;
        }
    return password;
}

// Puts the archive to pack into `zip` and says what it holds.
Archive PrepareArchive(Settings &s, Bytes &zip) {
    Archive a;
    const bool spanned = (s.options & OPT_SPANNED) != 0;
    if (!s.dir.empty()) {
        pack::FolderSettings settings;
        if (!s.passwordFile.empty()) {
            settings.encryption = s.aesBits == 128   ? pack::Encryption::Aes128
                                  : s.aesBits == 192 ? pack::Encryption::Aes192
                                  : s.aesBits == 256 ? pack::Encryption::Aes256
                                                     : pack::Encryption::Traditional;
            settings.password = ReadPassword(s.passwordFile);
            s.options |= OPT_ENCRYPTED;
        }
        Progress progress(!s.quiet, "archiving");
        settings.progress = progress.Callback();
        pack::FolderArchive folder = pack::ArchiveFolder(s.dir, settings);
        progress.Clear();
        zip.swap(folder.archive);
        a.endRecord = folder.endRecord;
        a.totalSize = folder.totalSize;
        a.entries = folder.files + folder.folders;
        a.names = std::move(folder.names);
        a.contents = std::to_string(folder.files) + " file(s) and " +
                     std::to_string(folder.folders) + " folder(s) from " + s.dir +
                     (s.aesBits ? ", encrypted with AES-" + std::to_string(s.aesBits)
                      : !s.passwordFile.empty() ? std::string(", encrypted")
                                                : std::string());
        return a;
    }
    zip = ReadFile(s.zip, "archive");
    if (s.asIs) {
        a = ReadArchiveAsIs(zip, s.zip, spanned);
        a.contents = std::to_string(a.entries) + " member(s), packed as they are";
        return a;
    }
    pack::MendSettings settings;
    settings.names = s.names;
    Progress progress(!s.quiet, "checking");
    settings.progress = progress.Callback();
    pack::MendedArchive mended = pack::CheckAndMend(zip, settings);
    progress.Clear();
    zip.swap(mended.archive);
    a.endRecord = mended.endRecord;
    a.totalSize = mended.totalSize;
    a.entries = mended.members;
    a.names = std::move(mended.names);
    a.contents = std::to_string(mended.members) + " member(s)";
    for (const pack::Mend &m : mended.mends) {
        Note(s, "mended: " + std::to_string(m.count) + " " + m.what);
        a.mended += (a.mended.empty() ? "" : ", ") + std::to_string(m.count) + " " + m.brief;
    }
    if (mended.anyEncrypted && !(s.options & OPT_ENCRYPTED)) {
        s.options |= OPT_ENCRYPTED;
        Note(s, "mended: the archive holds encrypted members: --encrypted set, so that the stub "
                "asks for the password before it unzips");
        a.mended += std::string(a.mended.empty() ? "" : ", ") + "--encrypted set";
    }
    return a;
}

// The stub puts the unzip folder, as typed, and a member's name together in
// a path buffer of 264 bytes, and refuses a member whose path does not fit.
// Under the package's own default folder every member must fit.
void CheckPathsUnderDefaultFolder(const Settings &s, const Archive &a) {
    const std::string &folder = s.trailer[0];
    if (s.noTrailer || folder.empty())
        return; // the stub chooses a folder when it starts
    const bool joined = folder.back() == '\\' || folder.back() == '/';
    for (const std::string &name : a.names) {
        const bool folderMember = !name.empty() && (name.back() == '/' || name.back() == '\\');
        size_t length = folder.size() + (joined ? 0 : 1) + name.size();
        if (!folderMember && !name.empty() && (name[0] == '/' || name[0] == '\\'))
            length--;
        if (length > kMaxPathLength)
            Fail("member " + name + ": under the default folder " + folder + " its path is " +
                 std::to_string(length) + " bytes; the stub takes at most " +
                 std::to_string(kMaxPathLength) + " (shorten --folder)");
    }
}

void Summary(const Settings &s, const std::string &wrote, const Archive &a) {
    if (s.quiet)
        return;
    std::string mended = !s.dir.empty()     ? ""
                         : a.mended.empty() ? "; nothing mended"
                                            : "; mended: " + a.mended;
    std::printf("morvik-pack: wrote %s: %s%s\n", wrote.c_str(), a.contents.c_str(), mended.c_str());
}

int Run(int argc, char **argv) {
    Settings s = ParseCommandLine(argc, argv);
    if (s.help) {
        std::fputs(kUsage, stdout);
        return 0;
    }
    Bytes stub = ReadFile(s.stub, "stub");
    Bytes zip;
    Archive archive;
    try {
        archive = PrepareArchive(s, zip);
    } catch (const pack::Refusal &r) {
        Fail((s.dir.empty() ? s.zip + ": " : "") + r.what());
    }
    Plan plan = BuildPackage(s, stub, zip, archive); // checks the trailer's strings first
    CheckPathsUnderDefaultFolder(s, archive);

    const Piece image{plan.image.data(), plan.image.size()};
    if (!(s.options & OPT_SPANNED)) {
        if (s.verbose)
            PrintPlan(plan);
        WriteFile(s.out, {image, {zip.data(), zip.size()}}, true);
        Summary(s, s.out + " (" + std::to_string(plan.image.size() + zip.size()) + " bytes)",
                archive);
        return 0;
    }

    std::vector<uint64_t> volumes = PlanVolumes(s, zip);
    if (s.verbose)
        PrintPlan(plan);
    const bool exeVolumes = (s.options & OPT_EXE_VOLUMES) != 0;
    fs::path out(s.out);
    fs::path folder = out.parent_path().empty() ? fs::path(".") : out.parent_path();
    std::string stem = out.filename().string();
    size_t dot = stem.rfind('.');
    if (dot != std::string::npos && dot > 0)
        stem.erase(dot);
    if (stem.empty() || stem == "." || stem == "..")
        UsageFail("--out must name a file: " + s.out);
    const std::string packageName = stem + ".EXE";
    const std::string volumeName = stem + (exeVolumes ? ".EXE" : ".ZIP");

    uint64_t from = 0;
    for (size_t i = 0; i < volumes.size(); ++i) {
        const unsigned disk = unsigned(i + 1);
        fs::path diskFolder = folder / ("disk" + std::to_string(disk));
        std::error_code ec;
        fs::create_directories(diskFolder, ec);
        if (ec)
            Fail("cannot create " + diskFolder.string() + ": " + ec.message());
        const Piece part{zip.data() + from, size_t(volumes[i])};
        if (disk == 1 && exeVolumes) {
            WriteFile(diskFolder / packageName, {image, part}, true);
        } else {
            if (disk == 1)
                WriteFile(diskFolder / packageName, {image}, true);
            WriteFile(diskFolder / volumeName, {part}, false);
        }
        char label[16];
        std::snprintf(label, sizeof label, "PKBACK# %03u", disk);
        WriteFile(diskFolder / ".windows-label",
                  {{reinterpret_cast<const uint8_t *>(label), std::strlen(label)}}, false);
        if (s.verbose)
            std::printf("disk %u: %s, %llu archive bytes, label \"%s\"\n", disk,
                        (diskFolder / volumeName).c_str(), (unsigned long long)volumes[i], label);
        from += volumes[i];
    }
    Summary(s,
            std::to_string(volumes.size()) + " disk folder(s) under " + folder.string() + " (" +
                std::to_string(plan.image.size() + zip.size()) + " bytes)",
            archive);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    try {
        return Run(argc, argv);
    } catch (const Failure &f) {
        // A refusal may name several things, a line each.
        size_t start = 0;
        do {
            size_t end = f.message.find('\n', start);
            std::string line = f.message.substr(start, end - start);
            std::fprintf(stderr, "morvik-pack: error: %s\n", line.c_str());
            start = end == std::string::npos ? end : end + 1;
        } while (start != std::string::npos);
        if (f.status == 2)
            std::fprintf(stderr, "Run morvik-pack --help for the command line.\n");
        return f.status;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "morvik-pack: error: %s\n", e.what());
        return 1;
    }
}

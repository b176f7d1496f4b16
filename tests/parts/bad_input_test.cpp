// Bad input, one row each: an archive (made by Info-ZIP zip, then broken
// where a damaged download or a hostile archive would break it) run through
// RunExtraction in-process. Every row checks the one message shown, the
// fatal code, that the files written before the fault are intact, and that
// nothing was written outside the unzip folder. Start-up's own bad inputs
// (command line, message table, trailer, spanned set) follow in a second
// table.
#include "extract/extract.h"
#include "posix/host.h"
#include "posix/window_host.h"
#include "startup/startup.h"
#include "tests/support/support.h"
#include "ui/ui.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>

#include <functional>
#include <map>
#include <string>
#include <vector>

extern const uint8_t *messageTableSource;
extern uint32_t messageTableSourceSize;

namespace parttest {
void OpenSession();
void CloseSession();
void PrepareStartUp(const std::string &package);
int Landing(const std::function<void()> &body);
} // namespace parttest

namespace {

using Tree = std::map<std::string, std::string>;

std::string Text(size_t size, unsigned seed) {
    std::string s;
    while (s.size() < size)
        s += "line " + std::to_string(seed++ * 7919 % 100003) + " of a member\n";
    return s.substr(0, size);
}

std::string Noise(size_t size, unsigned seed) {
    std::string s(size, 0);
    for (auto &c : s) {
        seed = seed * 1103515245u + 12345u;
        c = (char)(seed >> 16);
    }
    return s;
}

const Tree &Members() {
    static const Tree members = {{"a_first.txt", Text(3000, 1)},
                                 {"b_second.bin", Noise(10000, 2)},
                                 {"c_third.txt", Text(70000, 3)}};
    return members;
}

uint16_t U16(const std::string &z, size_t at) {
    return (uint16_t)((uint8_t)z[at] | (uint8_t)z[at + 1] << 8);
}
uint32_t U32(const std::string &z, size_t at) {
    return U16(z, at) | (uint32_t)U16(z, at + 2) << 16;
}
void Put16(std::string &z, size_t at, uint16_t v) {
    z[at] = (char)v;
    z[at + 1] = (char)(v >> 8);
}
void Put32(std::string &z, size_t at, uint32_t v) {
    Put16(z, at, (uint16_t)v);
    Put16(z, at + 2, (uint16_t)(v >> 16));
}

// Where each record of an archive lies.
struct Record {
    std::string kind; // "local header", "name", "data", "central entry", "end record"
    std::string member;
    size_t start, size;
};

std::vector<Record> Layout(const std::string &z) {
    std::vector<Record> records;
    size_t at = 0;
    while (at + 4 <= z.size()) {
        uint32_t signature = U32(z, at);
        if (signature == 0x04034b50) {
            uint16_t nameLength = U16(z, at + 26), extra = U16(z, at + 28);
            uint32_t size = U32(z, at + 18);
            std::string name = z.substr(at + 30, nameLength);
            records.push_back({"local header", name, at, 30});
            records.push_back({"name", name, at + 30, nameLength});
            records.push_back({"data", name, at + 30 + nameLength + extra, size});
            at += 30 + nameLength + extra + size;
            if (U16(z, at - size - extra - nameLength - 30 + 6) & 8) {
                records.push_back({"descriptor", name, at, 16});
                at += 16;
            }
        } else if (signature == 0x02014b50) {
            size_t length = 46 + U16(z, at + 28) + U16(z, at + 30) + U16(z, at + 32);
            records.push_back({"central entry", z.substr(at + 46, U16(z, at + 28)), at, length});
            at += length;
        } else if (signature == 0x06054b50) {
            records.push_back({"end record", "", at, 22u + U16(z, at + 20)});
            break;
        } else {
            ADD_FAILURE() << "unexpected record at " << at;
            break;
        }
    }
    return records;
}

const Record &Find(const std::vector<Record> &records, const std::string &kind,
                   const std::string &member) {
    for (const Record &r : records)
        if (r.kind == kind && r.member == member)
            return r;
    static Record none{"", "", 0, 0};
    ADD_FAILURE() << "no " << kind << " of " << member;
    return none;
}

// An archive made by Info-ZIP zip from `members` (no extra fields), with
// extra zip options.
std::string InfoZip(const Tree &members, const std::string &options = "") {
    std::string dir = test::TempDir("badsrc");
    std::string names;
    for (const auto &[name, bytes] : members) {
        test::WriteFile(dir + "/" + name, bytes);
        names += " '" + name + "'";
    }
    test::Shell("zip -q -X -D " + options + " archive.zip" + names, dir);
    return test::ReadFile(dir + "/archive.zip");
}

const std::string &Plain() {
    static const std::string zip = InfoZip(Members());
    return zip;
}

const std::string &Encrypted() {
    static const std::string zip = InfoZip(Members(), "-P right");
    return zip;
}

uint32_t Crc(const std::string &bytes) {
    return (uint32_t)crc32(0, (const Bytef *)bytes.data(), (uInt)bytes.size());
}

std::string Hex8(uint32_t value) {
    char text[9];
    snprintf(text, sizeof text, "%08x", value);
    return text;
}

// The folder layout of a run: ROOT/parent/out is the unzip folder; ROOT holds
// the archive too. Nothing else may appear anywhere under ROOT.
struct Outcome {
    std::string root, out;
    int code = -1;
    std::vector<std::string> boxes;
};

Tree Written(const std::string &out) {
    return test::ListTree(out);
}

struct Row {
    std::string label;
    std::function<std::string()> archive; // the broken archive
    const char *password;                 // nullptr: none given
    // The message expected; gets the run (for the unzip folder's path) and
    // the written tree (for CRCs of what was written).
    std::function<std::string(const Outcome &, const Tree &)> message;
    std::vector<std::string> whole; // members written before the fault, intact
    std::string partial;            // a member cut short: a prefix of it stays
    std::string longFolder;         // a longer unzip folder below ROOT/parent
};

Outcome Extract(const std::string &archive, const char *password, const std::string &longFolder) {
    Outcome run;
    run.root = test::TempDir("bad");
    std::string leaf = "out";
    if (!longFolder.empty()) // the unzip folder is then exactly 255 characters
        leaf = std::string(255 - (run.root.size() + 8), 'd');
    run.out = run.root + "/parent/" + leaf;
    test::MakeDirs(run.out);
    test::WriteFile(run.root + "/archive.zip", archive);

    parttest::OpenSession();
    AssembleSignatures();
    lstrcpynA(unzipFolder, run.out.c_str(), sizeof unzipFolder);
    lstrcpynA(packagePath, (run.root + "/archive.zip").c_str(), sizeof packagePath);
    overwriteWithoutPrompt = TRUE;
    sfxHeader.archiveOffset = 0;
    sfxHeader.options = 0;
    session.archiveFile = _lopen(packagePath, OF_READ);
    if (password) {
        session.password = (char *)AllocGlobalBlock(strlen(password) + 1);
        strcpy(session.password, password);
    }
    run.code = RunExtraction();
    for (const HostBoxRecord &box : HostBoxes())
        run.boxes.push_back(box.text);
    FreeGlobalBlock(session.password);
    session.password = nullptr;
    parttest::CloseSession();
    return run;
}

std::string ReadError(const Outcome &run, int code) {
    return "Error reading " + run.root +
           "/archive.zip.  Possible cause: bad disk or file "
           "transfer error. <" +
           std::to_string(code) + ">";
}

std::function<std::string(const Outcome &, const Tree &)> ReadErrorText(int code) {
    return [code](const Outcome &run, const Tree &) { return ReadError(run, code); };
}

std::function<std::string(const Outcome &, const Tree &)> Fixed(const std::string &text) {
    return [text](const Outcome &, const Tree &) { return text; };
}

// Message 29 for `member`, the computed CRC being that of what was written.
std::function<std::string(const Outcome &, const Tree &)> BadCrc(const std::string &member,
                                                                 uint32_t should) {
    return [member, should](const Outcome &run, const Tree &written) {
        const std::string &bytes = written.count(member) ? written.at(member) : std::string();
        uint32_t crc = (uint32_t)crc32(0, (const Bytef *)bytes.data(), (uInt)bytes.size());
        std::string path = run.out + "\\" + member;
        for (char &c : path)
            if (c == '/')
                c = '\\'; // the output path is written with backslashes only
        return "ZIP damaged: file " + path + ": Bad CRC " + Hex8(crc) + " (should be " +
               Hex8(should) + ").  Possible cause: file transfer error.";
    };
}

std::function<std::string()>
Patched(const std::string &base,
        std::function<void(std::string &, const std::vector<Record> &)> patch) {
    return [base, patch] {
        std::string z = base;
        patch(z, Layout(z));
        return z;
    };
}

// The truncation rows: the archive cut at the start of every record and in
// the middle of every record, each with the read that then comes up short.
std::vector<Row> TruncationRows() {
    std::vector<Row> rows;
    std::vector<Record> records = Layout(Plain());
    std::vector<std::string> before; // members complete before the record
    for (const Record &r : records) {
        bool firstRecordOfMember = r.kind == "local header";
        for (int inside = 0; inside < 2; inside++) {
            if (r.size < 2 && inside)
                continue;
            size_t cut = r.start + (inside ? r.size / 2 : 0);
            int code;
            std::string partial;
            if (!inside &&
                (firstRecordOfMember || r.kind == "central entry" || r.kind == "end record"))
                code = READ_ERROR_SIGNATURE; // the record's signature is missing
            else if (r.kind == "local header")
                code = READ_ERROR_LOCAL_HEADER;
            else if (r.kind == "name")
                code = READ_ERROR_NAME;
            else if (r.kind == "data") {
                code = READ_ERROR_MEMBER_DATA;
                partial = r.member;
            } else if (r.kind == "central entry")
                code = cut - r.start < 46 ? READ_ERROR_CENTRAL_ENTRY : READ_ERROR_NAME;
            else
                code = READ_ERROR_END_RECORD;
            // A cut at the start of a member's data leaves nothing to read,
            // so the first refill comes up short with no file content.
            std::string label = std::string(inside ? "inside " : "at ") + r.kind +
                                (r.member.empty() ? "" : " of " + r.member);
            std::string archive = Plain().substr(0, cut);
            rows.push_back({"cut " + label, [archive] { return archive; }, nullptr,
                            ReadErrorText(code), before, partial, ""});
        }
        if (r.kind == "data")
            before.push_back(r.member);
    }
    return rows;
}

// Info-ZIP's encryption headers are random: a wrong password passes the
// one-byte check now and then. Take one that this archive refuses.
const char *WrongPassword() {
    static std::string chosen;
    if (!chosen.empty())
        return chosen.c_str();
    const std::string &z = Encrypted();
    std::vector<Record> records = Layout(z);
    const Record &header = Find(records, "local header", "a_first.txt");
    const Record &data = Find(records, "data", "a_first.txt");
    uint16_t flags = U16(z, header.start + 6);
    uint8_t check = (flags & 8) ? (uint8_t)(U16(z, header.start + 10) >> 8)
                                : (uint8_t)(U32(z, header.start + 14) >> 24);
    const z_crc_t *table = get_crc_table();
    for (int n = 0;; n++) {
        std::string candidate = "wrong" + std::to_string(n);
        uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
        auto update = [&](uint8_t b) {
            k[0] = table[(k[0] ^ b) & 0xFF] ^ (k[0] >> 8);
            k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
            k[2] = table[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8);
        };
        for (char c : candidate)
            update((uint8_t)c);
        uint8_t plain = 0;
        for (int i = 0; i < 12; i++) {
            uint32_t t = (k[2] & 0xFFFF) | 2;
            plain = (uint8_t)z[data.start + i] ^ (uint8_t)(((t * (t ^ 1)) & 0xFFFF) >> 8);
            update(plain);
        }
        if (plain != check) {
            chosen = candidate;
            return chosen.c_str();
        }
    }
}

std::vector<Row> DamageRows() {
    const std::string unsafe = "Zip contains the file name \"%s\", which would be written outside "
                               "the unzip folder or onto a device. Morvik Self-Extractor cannot "
                               "process this\nZip file.";
    auto unsafeText = [unsafe](const std::string &name) {
        std::string text = unsafe;
        text.replace(text.find("%s"), 2, name);
        return text;
    };
    auto renamed = [](const std::string &name, const std::string &to) {
        // Same length, so every offset stays: the local header's name only.
        return Patched(Plain(), [name, to](std::string &z, const std::vector<Record> &records) {
            const Record &r = Find(records, "name", name);
            z.replace(r.start, r.size, to);
        });
    };
    std::vector<Row> rows = {
        {"bad signature", Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             z[Find(records, "local header", "b_second.bin").start + 3] = 9;
         }), nullptr, Fixed("Invalid ZIP header.  Possible cause: file transfer error."),
         {"a_first.txt"}, "", ""},
        {"spanning marker in a plain archive",
         Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             size_t at = Find(records, "local header", "b_second.bin").start;
             z.insert(at, std::string("PK\x07\x08", 4));
         }), nullptr, Fixed("Invalid ZIP header.  Possible cause: file transfer error."),
         {"a_first.txt"}, "", ""},
        {"name length 201", Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             Put16(z, Find(records, "local header", "b_second.bin").start + 26, 201);
         }), nullptr,
         Fixed("Zip contains filenames longer than are allowed by\nWindows. Morvik "
               "Self-Extractor cannot process this\nZip file."),
         {"a_first.txt"}, "", ""},
        {"huge compressedSize", Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             Put32(z, Find(records, "local header", "b_second.bin").start + 18, 0xFFFFFFF0u);
         }), nullptr, ReadErrorText(READ_ERROR_MEMBER_DATA), {"a_first.txt"}, "b_second.bin", ""},
        {"extraLength past the end",
         Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             Put16(z, Find(records, "local header", "c_third.txt").start + 28, 0xFFFF);
         }), nullptr, ReadErrorText(READ_ERROR_MEMBER_DATA), {"a_first.txt", "b_second.bin"},
         "c_third.txt", ""},
        {"invalid DEFLATE stream",
         Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             const Record &data = Find(records, "data", "c_third.txt");
             z[data.start] = (char)0xFF; // block type 3 does not exist
         }), nullptr, BadCrc("c_third.txt", Crc(Members().at("c_third.txt"))),
         {"a_first.txt", "b_second.bin"}, "c_third.txt", ""},
        {"DEFLATE stream that ends early",
         Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             const Record &header = Find(records, "local header", "c_third.txt");
             const Record &data = Find(records, "data", "c_third.txt");
             Put32(z, header.start + 18, (uint32_t)(data.size / 2));
             z.erase(data.start + data.size / 2, data.size - data.size / 2);
         }), nullptr, BadCrc("c_third.txt", Crc(Members().at("c_third.txt"))),
         {"a_first.txt", "b_second.bin"}, "c_third.txt", ""},
        {"wrong CRC", Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             Put32(z, Find(records, "local header", "b_second.bin").start + 14, 0x12345678u);
         }), nullptr, BadCrc("b_second.bin", 0x12345678u), {"a_first.txt"}, "b_second.bin", ""},
        {"no password", [] { return Encrypted(); }, nullptr, Fixed("No password specified"), {}, "",
         ""},
        {"wrong password", [] { return Encrypted(); }, WrongPassword(),
         Fixed("Incorrect password specified"), {}, "", ""},
        {"short encryption header", [] {
             std::vector<Record> records = Layout(Encrypted());
             return Encrypted().substr(0, Find(records, "data", "a_first.txt").start + 5);
         }, "right", ReadErrorText(READ_ERROR_ENCRYPTION_HEADER), {}, "", ""},
        {"method 12", Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             Put16(z, Find(records, "local header", "b_second.bin").start + 8, 12);
         }), nullptr, Fixed("Unsupported compression method"), {"a_first.txt"}, "b_second.bin", ""},
        {"method 14", Patched(Plain(), [](std::string &z, const std::vector<Record> &records) {
             Put16(z, Find(records, "local header", "b_second.bin").start + 8, 14);
         }), nullptr, Fixed("Unsupported compression method"), {"a_first.txt"}, "b_second.bin", ""},
        {"name with ..", renamed("b_second.bin", "../secnd.bin"), nullptr,
         Fixed(unsafeText("../secnd.bin")), {"a_first.txt"}, "", ""},
        {"name with .. inside", renamed("b_second.bin", "x/../../y.bi"), nullptr,
         Fixed(unsafeText("x/../../y.bi")), {"a_first.txt"}, "", ""},
        {"drive prefix", renamed("b_second.bin", "C:\\second.bi"), nullptr,
         Fixed(unsafeText("C:\\second.bi")), {"a_first.txt"}, "", ""},
        {"device name", renamed("b_second.bin", "nul.second.b"), nullptr,
         Fixed(unsafeText("nul.second.b")), {"a_first.txt"}, "", ""},
        {"over-long path", [] { return Plain(); }, nullptr,
         [](const Outcome &run, const Tree &) {
             return "Zip contains the file name \"a_first.txt\", which is too long for the unzip "
                    "folder. Choose a shorter folder and unzip again.";
             (void)run;
         },
         {}, "", "long"},
    };
    return rows;
}

void PrintTo(const Row &row, std::ostream *out) {
    *out << row.label;
}

class BadInput : public ::testing::TestWithParam<Row> {};

TEST_P(BadInput, ShowsOneMessageKeepsWhatWasWrittenAndWritesNothingAstray) {
    const Row &row = GetParam();
    std::string archive = row.archive();
    // The unzip folder may be too long for the host: keep it under ROOT/parent.
    Outcome run = Extract(archive, row.password, row.longFolder);
    Tree written = Written(run.out);

    EXPECT_EQ(run.code, FATAL_ERROR);
    ASSERT_EQ(run.boxes.size(), 1u) << "exactly one message";
    EXPECT_EQ(run.boxes[0], row.message(run, written));

    for (const std::string &name : row.whole)
        EXPECT_EQ(written[name], Members().at(name)) << name << " is intact";
    if (!row.partial.empty()) {
        ASSERT_TRUE(written.count(row.partial)) << row.partial << " stays, cut short";
        const std::string &kept = written[row.partial];
        const std::string &whole = Members().at(row.partial);
        size_t common = std::min(kept.size(), whole.size());
        EXPECT_EQ(kept.substr(0, common), whole.substr(0, common))
            << row.partial << " begins with its data";
    }
    size_t expectedFiles = row.whole.size() + (row.partial.empty() ? 0 : 1);
    EXPECT_EQ(written.size(), expectedFiles) << "no other file in the unzip folder";

    // Nothing outside: ROOT holds the archive and parent/, parent/ only the
    // unzip folder.
    std::string leaf = run.out.substr(run.out.rfind('/') + 1);
    for (const auto &[path, bytes] : test::ListTree(run.root)) {
        bool allowed = path == "archive.zip" || path == "parent/" ||
                       path.rfind("parent/" + leaf + "/", 0) == 0;
        EXPECT_TRUE(allowed) << "written outside the unzip folder: " << path;
    }
}

std::vector<Row> AllRows() {
    std::vector<Row> rows = TruncationRows();
    for (Row &row : DamageRows())
        rows.push_back(row);
    return rows;
}

std::string RowName(const ::testing::TestParamInfo<Row> &info) {
    std::string name;
    for (char c : info.param.label)
        name += isalnum((unsigned char)c) ? c : '_';
    return std::to_string(info.index) + "_" + name;
}

INSTANTIATE_TEST_SUITE_P(Archives, BadInput, ::testing::ValuesIn(AllRows()), RowName);

// ---- start-up's bad inputs --------------------------------------------------

struct StartRow {
    std::string label;
    std::function<int(std::string &message)> run; // returns the fatal code
    std::string expected;
};

std::string HeaderCorrupt() {
    return "Morvik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer "
           "error";
}

// A package of the native stub around a small archive; `patch` changes it.
std::string Package(const std::vector<std::string> &options,
                    std::function<void(std::string &, size_t header)> patch = nullptr) {
    std::string dir = test::TempDir("badpkg");
    test::WriteFile(dir + "/archive.zip", Plain());
    test::PackOrFail(dir + "/archive.zip", dir + "/setup.exe", options);
    std::string bytes = test::ReadFile(dir + "/setup.exe");
    if (patch) {
        size_t header = bytes.find(std::string("QVD\x01sfx\x02", 8));
        patch(bytes, header);
        test::WriteFile(dir + "/setup.exe", bytes);
    }
    return dir + "/setup.exe";
}

// Runs the package set-up on `package` in-process; the message shown goes to
// `message`.
int SetUp(const std::string &package, std::string &message) {
    parttest::PrepareStartUp(package);
    GetModuleFileNameA(NULL, packagePath, sizeof packagePath);
    session.messageBuffer = (char *)AllocGlobalBlock(MESSAGE_BUFFER_SIZE);
    customTitle = (char *)AllocGlobalBlock(65);
    infoText = (char *)AllocGlobalBlock(512);
    int code = parttest::Landing(PackageSetUp);
    if (!HostBoxes().empty())
        message = HostBoxes().back().text;
    parttest::CloseSession();
    return code;
}

std::vector<StartRow> StartRows() {
    return {
        {"over-long command-line folder",
         [](std::string &message) {
             parttest::OpenSession();
             std::string tail = " -auto " + std::string(300, 'f');
             int code = parttest::Landing([&] { ParseCommandLine(&tail[0]); });
             if (!HostBoxes().empty())
                 message = HostBoxes().back().text;
             EXPECT_EQ(unzipFolder[0], 0) << "the folder is not cut to another one";
             parttest::CloseSession();
             return code;
         },
         "The folder given on the command line is longer than 260 characters."},
        {"damaged message-table guard",
         [](std::string &message) {
             parttest::OpenSession();
             // A stream that inflates to more than the table's block holds.
             static std::vector<uint8_t> stream;
             std::string big(6000, 'x');
             uLongf size = compressBound((uLong)big.size());
             stream.assign(size, 0);
             z_stream z{};
             deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
             z.next_in = (Bytef *)big.data();
             z.avail_in = (uInt)big.size();
             z.next_out = stream.data();
             z.avail_out = (uInt)stream.size();
             deflate(&z, Z_FINISH);
             stream.resize(z.total_out);
             deflateEnd(&z);
             messageTableSource = stream.data();
             messageTableSourceSize = (uint32_t)stream.size();
             uint8_t *kept = messageTable;
             int code = parttest::Landing(InflateMessageTable);
             if (!HostBoxes().empty())
                 message = HostBoxes().back().text;
             if (messageTable != kept)
                 FreeGlobalBlock(kept);
             parttest::CloseSession();
             return code;
         },
         HeaderCorrupt()},
        {"trailer without its five terminators",
         [](std::string &message) {
             std::string package = Package({"--folder=x"}, [](std::string &bytes, size_t header) {
                 uint32_t trailer = U32(bytes, header + 16), archive = U32(bytes, header + 12);
                 for (uint32_t i = trailer; i < archive; i++)
                     if (bytes[i] == 0)
                         bytes[i] = 'z';
             });
             return SetUp(package, message);
         },
         HeaderCorrupt()},
        {"spanned set whose volume file is missing",
         [](std::string &message) {
             std::string dir = test::TempDir("span");
             test::WriteFile(dir + "/archive.zip", Plain());
             test::PackOrFail(dir + "/archive.zip", dir + "/set/SETUP.EXE",
                              {"--spanned", "--disks=2"});
             std::string devices = dir + "/dosdevices";
             test::MakeDirs(devices);
             EXPECT_EQ(symlink((dir + "/set/disk1").c_str(), (devices + "/a:").c_str()), 0);
             unlink((dir + "/set/disk1/SETUP.ZIP").c_str());
             setenv("MORVIK_DOSDEVICES", devices.c_str(), 1);
             parttest::OpenSession();
             AssembleSignatures();
             HostSetModulePath((devices + "/a:/SETUP.EXE").c_str());
             GetModuleFileNameA(NULL, packagePath, sizeof packagePath);
             EXPECT_STREQ(packagePath, "A:\\SETUP.EXE");
             session.spanned = TRUE;
             int code = parttest::Landing([] { RequestDisk(1, FALSE); });
             if (!HostBoxes().empty())
                 message = HostBoxes().back().text;
             parttest::CloseSession();
             unsetenv("MORVIK_DOSDEVICES");
             return code;
         },
         HeaderCorrupt()},
    };
}

void PrintTo(const StartRow &row, std::ostream *out) {
    *out << row.label;
}

class BadStart : public ::testing::TestWithParam<StartRow> {};

TEST_P(BadStart, ShowsOneMessageAndEnds) {
    std::string message;
    int code = GetParam().run(message);
    EXPECT_EQ(code, FATAL_ERROR);
    EXPECT_EQ(message, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(StartUp, BadStart, ::testing::ValuesIn(StartRows()),
                         [](const ::testing::TestParamInfo<StartRow> &info) {
                             std::string name;
                             for (char c : info.param.label)
                                 name += isalnum((unsigned char)c) ? c : '_';
                             return name;
                         });

} // namespace

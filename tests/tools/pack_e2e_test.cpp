// The package builder meets archives as publishers have them: streamed
// archives (bsdtar, Python and zip writing to a pipe), encrypted archives
// without --encrypted, UTF-8 names without their flag, 7-Zip archives and
// archives behind a prefix. Each builds, and the real stub unzips its package
// to the tree unzip gives. What cannot be mended is refused, naming the
// member. --dir makes the archive from a folder.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

// Python's zipfile writing to a stream that cannot seek, as a web service
// that streams its archive does.
const char kPythonPipe[] = "TZ=UTC python3 - <<'EOF' | cat >{zip}\n"
                           "import io, os, sys, zipfile\n"
                           "class Pipe(io.RawIOBase):\n"
                           "    def writable(self): return True\n"
                           "    def write(self, b): return sys.stdout.buffer.write(b)\n"
                           "with zipfile.ZipFile(Pipe(), 'w', zipfile.ZIP_DEFLATED) as z:\n"
                           "    for root, dirs, files in os.walk('.'):\n"
                           "        dirs.sort()\n"
                           "        for d in dirs:\n"
                           "            z.write(os.path.join(root, d))\n"
                           "        for f in sorted(files):\n"
                           "            z.write(os.path.join(root, f))\n"
                           "EOF\n";

struct SourceCase {
    const char *label;
    std::string command;            // run in the source folder; {zip} is the archive
    std::vector<std::string> notes; // what the builder must say it mended
    std::string script;             // the scripted user (the password dialog)
    std::string unzipOptions;
    std::map<std::string, std::string> extraFiles;
    std::string reference = "archive.zip"; // what unzip reads for the expected tree
};
void PrintTo(const SourceCase &c, std::ostream *out) {
    *out << c.label;
}

// Info-ZIP without a UTF-8 locale to load: UTF-8 names stay unflagged.
const char kNoLocales[] = "LOCPATH=/nonexistent-locales LC_ALL=C";

const char kStreamedNote[] = "member(s) written as a stream (flag bit 3): the local header "
                             "takes the CRC-32 and sizes of the central directory";
const char kEncryptedNote[] = "the archive holds encrypted members: --encrypted set";
const char kUtf8Note[] = "name(s) in UTF-8 without flag bit 11: the bit set";
const char kPrefixNote[] = "in front of the first local header (a prefix) dropped";

std::map<std::string, std::string> SourceFiles() {
    return {
        {"readme.txt", TextBytes(1500, 1)},
        {"empty.txt", ""},
        {"docs/", ""},
        {"docs/manual.txt", TextBytes(300000, 3)},
        {"docs/deep/", ""},
        {"docs/deep/data.bin", NoiseBytes(70000, 4)},
        {"exactly2048.bin", NoiseBytes(2048, 2)},
    };
}

std::vector<SourceCase> SourceCases() {
    return {
        {"Bsdtar", "TZ=UTC bsdtar --format zip -cf {zip} .", {kStreamedNote}, "", "", {}},
        {"PythonToAPipe", kPythonPipe, {kStreamedNote}, "", "", {}},
        {"ZipToAPipe", "TZ=UTC zip -q -r - . | cat >{zip}", {kStreamedNote}, "", "", {}},
        {"ZipEncryptedToAPipe",
         "TZ=UTC zip -q -r -P secret - . | cat >{zip}",
         {kStreamedNote, kEncryptedNote},
         PasswordSteps(),
         "-P secret",
         {}},
        {"ZipEncrypted",
         "TZ=UTC zip -q -r -9 -P secret {zip} .",
         {kEncryptedNote},
         PasswordSteps(),
         "-P secret",
         {}},
        // Info-ZIP on Linux stores the name's UTF-8 bytes without bit 11
        // where it finds no UTF-8 locale (it tries to load en_US.UTF-8,
        // whatever the environment says): LOCPATH hides the system's.
        {"InfoZipUtf8Names",
         std::string("TZ=UTC ") + kNoLocales + " zip -q -r -9 {zip} .",
         {"3 " + std::string(kUtf8Note)},
         "",
         "",
         {{"caf\xc3\xa9.txt", "cafe\n"}, {"na\xc3\xafve/", ""}, {"na\xc3\xafve/x.txt", "x\n"}}},
        {"SevenZip", "TZ=UTC LC_ALL=C.UTF-8 7z a -tzip -mx=9 -bso0 -bsp0 {zip} .", {}, "", "", {}},
        // AES (AE-2) as 7-Zip writes it; unzip has no AES, so its reference is
        // the same tree zipped without a password.
        {"SevenZipAes256",
         "TZ=UTC LC_ALL=C.UTF-8 7z a -tzip -mx=9 -bso0 -bsp0 ../plain.zip . && TZ=UTC "
         "LC_ALL=C.UTF-8 7z a -tzip -mx=9 -mem=AES256 -psecret -bso0 -bsp0 {zip} .",
         {kEncryptedNote},
         PasswordSteps(),
         "",
         {},
         "plain.zip"},
        // Data in front of the archive whose offsets do not count it.
        {"Prefixed",
         "TZ=UTC zip -q -r -9 ../plain.zip . && { printf 'MZ another stub'; cat ../plain.zip; } "
         ">{zip}",
         {"15 byte(s) " + std::string(kPrefixNote)},
         "",
         "",
         {},
         "plain.zip"},
        // zip -A: the offsets count the prefix.
        {"PrefixedAndAdjusted",
         "TZ=UTC zip -q -r -9 ../plain.zip . && { head -c 3000 /bin/sh; cat ../plain.zip; } "
         ">{zip} && cd .. && zip -q -A archive.zip",
         {"3000 byte(s) " + std::string(kPrefixNote)},
         "",
         "",
         {},
         "plain.zip"},
    };
}

class PackFromTool : public ::testing::TestWithParam<SourceCase> {};

TEST_P(PackFromTool, BuildsAndUnzipsToTheTreeUnzipGives) {
    const SourceCase &c = GetParam();
    std::string dir = test::TempDir("packsrc");
    RemovedIfPassed cleanup{dir};
    std::map<std::string, std::string> files = SourceFiles();
    files.insert(c.extraFiles.begin(), c.extraFiles.end());
    WriteTree(dir + "/src", files, kSourceTime);
    std::string zip = dir + "/archive.zip";
    test::MakeArchive(c.command, dir + "/src", zip);

    test::ProcessResult packed = test::Pack(zip, dir + "/package");
    ASSERT_EQ(packed.exitCode, 0) << packed.err;
    // One line per kind: "morvik-pack: mended: COUNT what".
    for (const std::string &note : c.notes) {
        size_t at = packed.err.find(note);
        EXPECT_NE(at, std::string::npos) << note << "\n" << packed.err;
        size_t line = packed.err.rfind('\n', at);
        line = line == std::string::npos ? 0 : line + 1;
        EXPECT_EQ(packed.err.compare(line, 21, "morvik-pack: mended: "), 0) << packed.err;
    }
    if (c.notes.empty()) {
        EXPECT_EQ(packed.err, "");
    }
    EXPECT_EQ(packed.out.rfind("morvik-pack: wrote " + dir + "/package (", 0), 0u) << packed.out;
    EXPECT_NE(packed.out.find(c.notes.empty() ? "nothing mended" : "; mended: "), std::string::npos)
        << packed.out;

    test::StubRun run = RunAuto(dir + "/package", dir + "/out", c.script);
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;

    test::Shell("TZ=UTC LC_ALL=C.UTF-8 unzip -o -q " + c.unzipOptions + " " + c.reference +
                    " -d unzipped",
                dir);
    std::map<std::string, std::string> expected = Tree(dir + "/unzipped");
    ASSERT_EQ(expected.size(), files.size()) << "unzip did not put every entry";
    EXPECT_TREE(dir + "/out", expected);
    for (const auto &[name, content] : expected) {
        if (name.back() != '/') {
            EXPECT_EQ(test::ModifiedTime(dir + "/out/" + name),
                      test::ModifiedTime(dir + "/src/" + name))
                << name;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Sources, PackFromTool, ::testing::ValuesIn(SourceCases()),
                         [](const ::testing::TestParamInfo<SourceCase> &info) {
                             return std::string(info.param.label);
                         });

// ---- refusals ------------------------------------------------------------------------------

TEST(PackRefusal, NamesTheMemberAndTheReasonAndWritesNothing) {
    std::string dir = test::TempDir("refuse");
    RemovedIfPassed cleanup{dir};
    struct Case {
        const char *label;
        std::string python; // writes the archive to z (a ZipFile)
        std::string error;
    };
    const std::string longName = "d/" + std::string(195, 'n') + ".txt";
    const std::vector<Case> cases = {
        {"zip64",
         "z.writestr('small.txt', 'a')\n"
         "with z.open('big.txt', 'w', force_zip64=True) as f: f.write(b'hello')\n",
         "member big.txt: ZIP64 sizes in its local header"},
        {"bzip2",
         "z.writestr('a.txt', 'a')\n"
         "z.writestr('b.txt', 'b' * 100, compress_type=zipfile.ZIP_BZIP2)\n",
         "member b.txt: compression method 12 (bzip2); the stub unzips only stored (0) and "
         "deflated (8) members"},
        {"name of 201 bytes", "z.writestr('" + longName + "', 'a')\n",
         "member " + longName + ": its name is 201 bytes long; the stub takes at most 200"},
        {"parent folder", "z.writestr('ok.txt', 'a')\nz.writestr('../x', 'a')\n",
         "member ../x: its name has a \"..\" component"},
        {"drive", "z.writestr('C:/x.txt', 'a')\n", "member C:/x.txt: its name holds a colon"},
        {"device", "z.writestr('sub/con.txt', 'a')\n",
         "member sub/con.txt: its name has the component \"con.txt\", a device name"},
        {"trailing dot", "z.writestr('notes./a.txt', 'a')\n",
         "member notes./a.txt: its name has the component \"notes.\", which ends in a dot or a "
         "blank that Windows drops"},
        {"same name but for case", "z.writestr('Read.me', 'a')\nz.writestr('read.ME', 'b')\n",
         "member read.ME: a second file member of this name (Windows does not tell letter case "
         "apart)"},
        {"file in the way of a folder", "z.writestr('a', 'file')\nz.writestr('a/b.txt', 'b')\n",
         "member a/b.txt: it needs a folder a, which is a file member of the archive too"},
        {"damaged data", // one byte of the stored member changed below
         "z.writestr('good.txt', 'good')\n"
         "z.writestr('bad.txt', 'x' * 1000)\n"
         "z.fp.flush()\n",
         "member bad.txt: bad CRC-32"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        std::string zip = dir + "/in.zip";
        std::string script = "import zipfile\nwith zipfile.ZipFile('in.zip', 'w') as z:\n";
        for (size_t start = 0; start < c.python.size();) {
            size_t end = c.python.find('\n', start);
            script += "    " + c.python.substr(start, end - start + 1);
            start = end + 1;
        }
        if (std::string(c.label) == "damaged data")
            // Change one byte of bad.txt's data.
            script += "data = bytearray(open('in.zip', 'rb').read())\n"
                      "at = data.find(b'bad.txt') + 7 + 10\n"
                      "data[at] ^= 0x55\n"
                      "open('in.zip', 'wb').write(data)\n";
        test::WriteFile(dir + "/mk.py", script);
        test::Shell("python3 mk.py", dir);
        test::ProcessResult r = test::Pack(zip, dir + "/package");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("morvik-pack: error: " + zip + ": " + c.error), std::string::npos)
            << r.err;
        EXPECT_FALSE(test::Exists(dir + "/package"));
    }
}

// 7-Zip's AES members the stub cannot follow are refused, naming the member:
// another method inside (7-Zip's own bzip2), an unknown vendor version, and
// method 99 without its AES record (the records' ids changed).
TEST(PackRefusal, AesMembersTheStubCannotFollow) {
    std::string dir = test::TempDir("refuse");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", {{"a.txt", TextBytes(3000, 5)}}, kSourceTime);
    const struct {
        const char *label, *method, *from, *to;
        std::string error;
    } cases[] = {
        {"bzip2 inside", "-mm=BZip2", "", "",
         "member a.txt: AES-encrypted with compression method 12 (bzip2); the stub unzips only "
         "stored (0) and deflated (8) members"},
        {"vendor version 3", "-mm=Deflate", "\\x01\\x99\\x07\\x00\\x02",
         "\\x01\\x99\\x07\\x00\\x03",
         "member a.txt: an AES extra record the stub does not know (vendor version 3, key "
         "strength 3)"},
        {"no AES record", "-mm=Deflate", "\\x01\\x99\\x07\\x00", "\\x02\\x99\\x07\\x00",
         "member a.txt: method 99 (WinZip AES) without the AES extra record (0x9901) in its "
         "local header"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        std::string zip = dir + "/in.zip";
        test::Shell("rm -f ../in.zip && 7z a -tzip -bso0 -bsp0 -psecret -mem=AES256 " +
                        std::string(c.method) + " ../in.zip a.txt",
                    dir + "/src");
        if (*c.from)
            test::Shell(std::string("python3 -c \"d = open('in.zip', 'rb').read(); ") +
                            "assert d.count(b'" + c.from +
                            "') == 2; open('in.zip', 'wb')"
                            ".write(d.replace(b'" +
                            c.from + "', b'" + c.to + "'))\"",
                        dir);
        test::ProcessResult r = test::Pack(zip, dir + "/package");
        EXPECT_EQ(r.exitCode, 1);
        EXPECT_NE(r.err.find("morvik-pack: error: " + zip + ": " + c.error), std::string::npos)
            << r.err;
        EXPECT_FALSE(test::Exists(dir + "/package"));
    }
}

// Under the package's default folder, as typed, every member's path must
// fit the stub's 263 characters.
TEST(PackRefusal, PathsTooLongUnderTheDefaultFolder) {
    std::string dir = test::TempDir("refuse");
    RemovedIfPassed cleanup{dir};
    const std::string name = "d/" + std::string(194, 'n') + ".txt"; // 200 bytes
    test::WriteFile(dir + "/mk.py", "import zipfile\nwith zipfile.ZipFile('in.zip', 'w') as z:\n"
                                    "    z.writestr('" +
                                        name + "', 'x')\n");
    test::Shell("python3 mk.py", dir);
    const std::string fits = "C:\\" + std::string(59, 'f'), over = fits + "g"; // 62 and 63
    test::ProcessResult r = test::Pack(dir + "/in.zip", dir + "/package", {"--folder=" + fits});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    r = test::Pack(dir + "/in.zip", dir + "/package2", {"--folder=" + fits + "\\"});
    EXPECT_EQ(r.exitCode, 0) << r.err << " (a folder ending in a separator gets none added)";
    r = test::Pack(dir + "/in.zip", dir + "/package3", {"--folder=" + over});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("member " + name + ": under the default folder " + over +
                         " its path is 264 bytes; the stub takes at most 263"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(test::Exists(dir + "/package3"));
}

// ---- names -------------------------------------------------------------------------------------

// Flag bit 11 of each member in the package's central directory.
std::map<std::string, bool> Utf8Flags(const std::string &package) {
    std::string archive = package.substr(ArchiveOffset(package));
    std::map<std::string, bool> flags;
    for (const LocalRecord &r : ReadLayout(archive).locals)
        flags[r.name] = (r.flags & 0x0800) != 0;
    return flags;
}

TEST(PackNames, AutoSetsTheUtf8FlagOnlyWhenEveryNameIsUtf8) {
    std::string dir = test::TempDir("names");
    RemovedIfPassed cleanup{dir};
    const std::string utf8 = "caf\xc3\xa9.txt", oem = "caf\x82.txt"; // 0x82: e-acute in 437
    WriteTree(dir + "/utf8", {{utf8, "u\n"}, {"plain.txt", "p\n"}}, kSourceTime);
    WriteTree(dir + "/mixed", {{utf8, "u\n"}, {oem, "o\n"}}, kSourceTime);
    test::MakeArchive(std::string(kNoLocales) + " zip -q -r {zip} .", dir + "/utf8",
                      dir + "/utf8.zip");
    test::MakeArchive(std::string(kNoLocales) + " zip -q -r {zip} .", dir + "/mixed",
                      dir + "/mixed.zip");
    struct Case {
        const char *zip;
        std::vector<std::string> options;
        int status;
        std::map<std::string, bool> flags; // name -> bit 11 in the package
        std::string message;
    };
    const std::vector<Case> cases = {
        {"utf8.zip", {}, 0, {{utf8, true}, {"plain.txt", false}}, "1 " + std::string(kUtf8Note)},
        {"utf8.zip", {"--names=cp437"}, 0, {{utf8, false}, {"plain.txt", false}}, ""},
        {"mixed.zip", {}, 0, {{utf8, false}, {oem, false}}, ""},
        {"mixed.zip", {"--names=utf8"}, 1, {}, "member " + oem + ": its name is not valid UTF-8"},
        {"mixed.zip", {"--names=latin1"}, 2, {}, "--names takes auto, utf8 or cp437"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::string(c.zip) + (c.options.empty() ? "" : " " + c.options[0]));
        std::string package = dir + "/package";
        test::Run({"rm", "-f", package});
        test::ProcessResult r = test::Pack(dir + "/" + c.zip, package, c.options);
        ASSERT_EQ(r.exitCode, c.status) << r.err;
        if (!c.message.empty()) {
            EXPECT_NE(r.err.find(c.message), std::string::npos) << r.err;
        } else {
            EXPECT_EQ(r.err.find(kUtf8Note), std::string::npos) << r.err;
        }
        if (c.status == 0) {
            EXPECT_EQ(Utf8Flags(test::ReadFile(package)), c.flags);
        }
    }

    // The flagged name lands with its real characters; with cp437 the UTF-8
    // bytes read as code page 437 characters, as the option says.
    test::PackOrFail(dir + "/utf8.zip", dir + "/package");
    EXPECT_CLEAN_RUN(RunAuto(dir + "/package", dir + "/out", ""));
    EXPECT_TREE(dir + "/out",
                (std::map<std::string, std::string>{{utf8, "u\n"}, {"plain.txt", "p\n"}}));
}

// ---- records no current tool writes --------------------------------------------------------

// Streamed members whose data descriptors have no signature (12 bytes), as
// early writers made them, behind a prefix and with a gap between members.
TEST(PackHandMade, UnsignedDescriptorsPrefixAndGapAreMended) {
    std::string dir = test::TempDir("handmade");
    RemovedIfPassed cleanup{dir};
    test::WriteFile(dir + "/mk.py", R"(import struct, zlib
members = [(b"one.txt", b"first member " * 300, 8), (b"sub/two.bin", bytes(range(256)) * 9, 0)]
prefix = b"MZ" + bytes(98)
body, central = bytearray(prefix), bytearray()
for name, data, method in members:
    comp = data if method == 0 else zlib.compress(data, 9)[2:-4]
    crc = zlib.crc32(data)
    offset = len(body) - len(prefix)
    body += b"PK" + struct.pack("<HHHHHIIIHH", 20, 8, method, 0x6000, 0x5A21, 0, 0, 0,
                                        len(name), 0) + name + comp
    body += struct.pack("<III", crc, len(comp), len(data))  # no signature
    body += b"gap!"
    central += b"PK" + struct.pack("<HHHHHHIIIHHHHHII", 20, 20, 8, method, 0x6000, 0x5A21,
                                           crc, len(comp), len(data), len(name), 0, 0, 0, 0, 0,
                                           offset) + name
cd = len(body) - len(prefix)
end = b"PK" + struct.pack("<HHHHIIH", 0, 0, 2, 2, len(central), cd, 0)
open("in.zip", "wb").write(bytes(body + central + end))
)");
    test::Shell("python3 mk.py", dir);
    test::ProcessResult r = test::Pack(dir + "/in.zip", dir + "/package");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("mended: 2 " + std::string(kStreamedNote)), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("mended: 2 data descriptor(s) put in the signed 16-byte form"),
              std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("mended: 100 byte(s) " + std::string(kPrefixNote)), std::string::npos)
        << r.err;
    EXPECT_NE(r.err.find("mended: 8 byte(s) between members dropped"), std::string::npos) << r.err;

    // Local records back to back, each with its signed descriptor.
    std::string package = test::ReadFile(dir + "/package");
    std::string archive = package.substr(ArchiveOffset(package));
    ZipLayout layout = ReadLayout(archive);
    ASSERT_EQ(layout.locals.size(), 2u);
    size_t behind = layout.locals[0].DataOffset() + layout.locals[0].compressedSize;
    EXPECT_EQ(archive.substr(behind, 4), "PK\x07\x08");
    EXPECT_EQ(Get32(archive, behind + 4), layout.locals[0].crc);
    EXPECT_EQ(layout.locals[1].offset, behind + 16);

    EXPECT_CLEAN_RUN(RunAuto(dir + "/package", dir + "/out", ""));
    test::Shell("python3 -c \"import zipfile; zipfile.ZipFile('in.zip').extractall('expected')\"",
                dir);
    EXPECT_TREE(dir + "/out", Tree(dir + "/expected"));
}

// A local header whose date and time differ from the central directory's:
// zipfile and unzip go by the central directory, the stub by the local
// header, so the local header takes the central values. Encrypted with a
// data descriptor, the time is the password check byte: refused.
TEST(PackHandMade, LocalTimesTakeTheCentralOnesUnlessTheyCheckThePassword) {
    std::string dir = test::TempDir("handmade");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", {{"a.txt", "alpha\n"}, {"b.txt", "bravo\n"}}, kSourceTime);
    test::MakeArchive("TZ=UTC zip -q -r {zip} .", dir + "/src", dir + "/plain.zip");
    test::MakeArchive("TZ=UTC zip -q -r -P secret - . | cat >{zip}", dir + "/src",
                      dir + "/streamed.zip");
    // The first local header's time one hour later.
    for (const char *name : {"plain.zip", "streamed.zip"}) {
        std::string zip = test::ReadFile(dir + "/" + name);
        Put16(zip, 10, uint16_t(Get16(zip, 10) + (1 << 11)));
        test::WriteFile(dir + "/" + name, zip);
    }
    test::ProcessResult r = test::Pack(dir + "/plain.zip", dir + "/package");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.err.find("mended: 1 local header(s) take the date and time of the central "
                         "directory"),
              std::string::npos)
        << r.err;
    EXPECT_CLEAN_RUN(RunAuto(dir + "/package", dir + "/out", ""));
    EXPECT_EQ(test::ModifiedTime(dir + "/out/a.txt"), test::ModifiedTime(dir + "/src/a.txt"));
    EXPECT_EQ(test::ModifiedTime(dir + "/out/b.txt"), test::ModifiedTime(dir + "/src/b.txt"));

    r = test::Pack(dir + "/streamed.zip", dir + "/refused");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find(": encrypted, and its local header and the central directory give "
                         "different times (the password check depends on the time)"),
              std::string::npos)
        << r.err;
    EXPECT_FALSE(test::Exists(dir + "/refused"));
}

// ---- the summary, notes and --quiet ------------------------------------------------------

TEST(PackOutput, QuietSaysNothingButErrors) {
    std::string dir = test::TempDir("quiet");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", {{"a.txt", "alpha\n"}}, kSourceTime);
    test::MakeArchive("zip -q -r -P secret - . | cat >{zip}", dir + "/src", dir + "/in.zip");
    test::ProcessResult loud = test::Pack(dir + "/in.zip", dir + "/loud");
    ASSERT_EQ(loud.exitCode, 0) << loud.err;
    EXPECT_NE(loud.err.find(kStreamedNote), std::string::npos) << loud.err;
    EXPECT_EQ(loud.out, "morvik-pack: wrote " + dir + "/loud (" +
                            std::to_string(test::ReadFile(dir + "/loud").size()) +
                            " bytes): 1 member(s); mended: 1 streamed members, --encrypted set\n");
    test::ProcessResult quiet = test::Pack(dir + "/in.zip", dir + "/quiet", {"--quiet"});
    ASSERT_EQ(quiet.exitCode, 0) << quiet.err;
    EXPECT_EQ(quiet.out + quiet.err, "");
    EXPECT_EQ(test::ReadFile(dir + "/quiet"), test::ReadFile(dir + "/loud"));
    test::ProcessResult refused = test::Pack(dir + "/src/a.txt", dir + "/none", {"-q"});
    EXPECT_EQ(refused.out, "");
    EXPECT_EQ(refused.exitCode, 1);
    EXPECT_NE(refused.err.find("morvik-pack: error: "), std::string::npos);
}

} // namespace

namespace {

// On a terminal a large input shows a progress line, redrawn in place and
// cleared at the end; --quiet shows none.
TEST(PackOutput, ProgressLineOnATerminalForALargeInput) {
    std::string dir = test::TempDir("progress");
    RemovedIfPassed cleanup{dir};
    test::Shell("mkdir src && head -c 40000000 /dev/urandom >src/big.bin && cd src && "
                "zip -q -0 ../big.zip big.bin",
                dir);
    auto onTerminal = [&](const std::string &options) {
        // script(1) gives the builder a terminal; its output is the session.
        std::string command = std::string(test::PackPath()) + " --stub " + test::StubPath() +
                              " --zip big.zip --out package " + options;
        return test::Shell("script -qec '" + command + "' /dev/null", dir);
    };
    std::string shown = onTerminal("");
    size_t redrawn = 0;
    for (size_t at = shown.find("\rmorvik-pack: checking "); at != std::string::npos;
         at = shown.find("\rmorvik-pack: checking ", at + 1))
        redrawn++;
    EXPECT_GE(redrawn, 10u) << shown;
    EXPECT_NE(shown.find("\rmorvik-pack: checking 100% of 38 MiB\r\033[K"), std::string::npos)
        << shown;
    EXPECT_NE(shown.find("morvik-pack: wrote package"), std::string::npos) << shown;
    EXPECT_EQ(onTerminal("--quiet"), "");
    // Not on a terminal: no progress line.
    test::ProcessResult piped = test::Pack(dir + "/big.zip", dir + "/package");
    EXPECT_EQ(piped.err, "");
}

} // namespace

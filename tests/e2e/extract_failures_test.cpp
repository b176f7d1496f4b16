// Every failure of the archive walk, the member output and the stream shows
// one error box with its exact text and ends the run: the dialog closes
// without a result box ("Unzip Aborted"), files written before stay, the
// file being written stays as far as it got, and nothing later is written.
// The broken archives are real-tool archives with a few bytes patched, or
// packages cut short.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

using Files = std::map<std::string, std::string>;

// One broken run: the package, what the user meets before the error box,
// the error box, and what the unzip folder holds afterwards.
struct Failure {
    std::string dir, out, package;
    std::string steps;                // before the error box
    std::vector<BoxSeen> boxesBefore; // the boxes those steps answer
    std::string message;              // the error box
    test::Environment env;
    Files after;
    std::string shortRoot; // a folder of the case's own at a short path, removed after it
};

struct FailureCase {
    const char *label;
    std::function<void(Failure &)> prepare;
};
// Test lists and failures name the case by its label.
void PrintTo(const FailureCase &c, std::ostream *out) {
    *out << c.label;
}

const Files &Members() {
    static const Files files = {{"first.txt", TextBytes(3000, 41)},
                                {"second.bin", NoiseBytes(10000, 42)},
                                {"third.txt", TextBytes(1000, 43)}};
    return files;
}

// Files of Members() by name.
Files Only(const std::vector<std::string> &names) {
    Files out;
    for (const std::string &name : names)
        out[name] = Members().at(name);
    return out;
}

// Runs `command` in a folder holding Members() (and `extra`), with every
// {zip} standing for the archive; returns the archive's path.
std::string MakeZip(const Failure &f, std::string command, const Files &extra = {}) {
    Files files = Members();
    files.insert(extra.begin(), extra.end());
    WriteTree(f.dir + "/src", files, kSourceTime);
    std::string zip = f.dir + "/archive.zip";
    for (size_t at; (at = command.find("{zip}")) != std::string::npos;)
        command.replace(at, 5, "../archive.zip");
    test::Shell(command, f.dir + "/src");
    return zip;
}

// Python's zipfile writing the members named, each with its content; a name
// may be anything the ZIP format can hold.
std::string MakePythonZip(const Failure &f,
                          const std::vector<std::pair<std::string, std::string>> &members) {
    std::string script = "import sys, zipfile\n"
                         "z = zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED)\n";
    for (size_t i = 0; i < members.size(); i++) {
        std::string data = f.dir + "/content" + std::to_string(i);
        test::WriteFile(data, members[i].second);
        script += "z.writestr(zipfile.ZipInfo(" + Quoted(members[i].first) +
                  ", (2019, 6, 15, 13, 45, 30)), open(" + Quoted(data) + ", 'rb').read())\n";
    }
    script += "z.close()\n";
    test::WriteFile(f.dir + "/make.py", script);
    std::string zip = f.dir + "/archive.zip";
    test::Shell("python3 make.py archive.zip", f.dir);
    return zip;
}

// Packs `zip` as it is (the builder would refuse or mend most of these
// archives), then lets `patch` change the package bytes; `archive` is where
// the archive starts in them.
void PackPatched(Failure &f, const std::string &zip, std::vector<std::string> options,
                 const std::function<void(std::string &package, size_t archive)> &patch = {}) {
    options.push_back("--as-is");
    test::PackOrFail(zip, f.package, options);
    if (!patch)
        return;
    std::string package = test::ReadFile(f.package);
    patch(package, ArchiveOffset(package));
    test::WriteFile(f.package, package);
}

// Cuts the package `at` bytes into the archive; the end record is then gone,
// so the package no longer asks for it to be probed at start-up.
void CutArchive(std::string &package, size_t archive, size_t at) {
    Put32(package, FindSfxHeader(package) + 20, 0);
    package.resize(archive + at);
}

std::string ReadError(const Failure &f, int code) {
    return "Error reading " + f.package + ".  Possible cause: bad disk or file transfer error. <" +
           std::to_string(code) + ">";
}

std::string InOut(const Failure &f, const std::string &name) {
    return WindowsForm(f.out + "/" + name);
}

const char kZipStored[] = "TZ=UTC zip -q -0 {zip} first.txt second.bin third.txt";
const char kZipDeflated[] = "TZ=UTC zip -q -6 {zip} first.txt text.txt third.txt";

// A read that comes up short, in the package as built from a stored archive.
FailureCase Truncated(const char *label, int code, std::function<size_t(const ZipLayout &)> cut,
                      Files after) {
    return {label, [=](Failure &f) {
                std::string zip = MakeZip(f, kZipStored);
                ZipLayout layout = ReadLayout(test::ReadFile(zip));
                PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                    CutArchive(package, archive, cut(layout));
                });
                f.message = ReadError(f, code);
                f.after = after;
            }};
}

std::vector<FailureCase> FailureCases() {
    Files all = Members();
    Files firstOnly = Only({"first.txt"});
    Files secondCut = firstOnly;
    secondCut["second.bin"] = Members().at("second.bin").substr(0, 4096);
    return {
        Truncated(
            "CutBeforeEndRecord", 9, [](const ZipLayout &l) { return l.centralOffset; }, all),
        Truncated(
            "CutInLocalHeader", 4, [](const ZipLayout &l) { return l.locals[1].offset + 14; },
            firstOnly),
        Truncated(
            "CutInName", 1, [](const ZipLayout &l) { return l.locals[1].offset + 33; }, firstOnly),
        Truncated(
            "CutInCentralEntry", 6, [](const ZipLayout &l) { return l.centralOffset + 24; }, all),
        Truncated(
            "CutInEndRecord", 7, [](const ZipLayout &l) { return l.endOffset + 14; }, all),
        // Stored data read in 2048-byte blocks: two are written, the third is short.
        Truncated(
            "CutInMemberData", 2,
            [](const ZipLayout &l) { return l.locals[1].DataOffset() + 5000; }, secondCut),
        {"CutInEncryptionHeader",
         [=](Failure &f) {
             WriteTree(f.dir + "/src", Members(), kSourceTime);
             test::Shell("TZ=UTC zip -q -0 archive.zip src/first.txt && "
                         "TZ=UTC zip -q -0 -P secret archive.zip src/second.bin",
                         f.dir);
             std::string zip = f.dir + "/archive.zip";
             ZipLayout layout = ReadLayout(test::ReadFile(zip));
             PackPatched(f, zip, {"--encrypted"}, [&](std::string &package, size_t archive) {
                 CutArchive(package, archive, layout.locals[1].DataOffset() + 5);
             });
             f.steps = PasswordSteps();
             f.message = ReadError(f, 14);
             f.after = {{"src/", ""}, {"src/first.txt", Members().at("first.txt")}};
         }},
        {"BadSignature",
         [=](Failure &f) {
             std::string zip = MakeZip(f, kZipStored);
             ZipLayout layout = ReadLayout(test::ReadFile(zip));
             PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                 package[archive + layout.locals[1].offset + 3] = 0x05;
             });
             f.message = "Invalid ZIP header.  Possible cause: file transfer error.";
             f.after = firstOnly;
         }},
        {"SpanningMarkerInPlainArchive",
         [=](Failure &f) {
             std::string zip = MakeZip(f, kZipStored);
             ZipLayout layout = ReadLayout(test::ReadFile(zip));
             PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                 package.replace(archive + layout.locals[1].offset, 4, "PK\x07\x08");
             });
             f.message = "Invalid ZIP header.  Possible cause: file transfer error.";
             f.after = firstOnly;
         }},
        // The stub goes by the local header's sizes: with 0 there, the data
        // is taken for the next record. Intended: such archives are refused.
        {"SizesOnlyInDataDescriptor",
         [=](Failure &f) {
             std::string zip = MakeZip(f, "TZ=UTC zip -q -fd {zip} first.txt second.bin");
             std::string archive = test::ReadFile(zip);
             EXPECT_EQ(Get16(archive, 6) & 0x0008, 0x0008);
             EXPECT_EQ(Get32(archive, 18), 0u) << "compressed size in the local header";
             PackPatched(f, zip, {});
             f.message = "Invalid ZIP header.  Possible cause: file transfer error.";
             f.after = {{"first.txt", ""}};
         }},
        {"NameOf201InLocalHeader",
         [=](Failure &f) {
             std::string zip = MakePythonZip(f, {{"first.txt", Members().at("first.txt")},
                                                 {"d/" + std::string(195, 'x') + ".txt", "long"}});
             PackPatched(f, zip, {});
             f.message = "Zip contains filenames longer than are allowed by\nWindows. Morvik "
                         "Self-Extractor cannot process this\nZip file.";
             f.after = firstOnly;
         }},
        // 200 bytes pass in a local header; the same length raised to 201 in
        // its central entry ends the run after the member is written. The
        // output path of the 200-byte name must stay within the 263
        // characters the stub takes, wherever the checkout lies: the unzip
        // folder is "/tmp/mvk-XXXXXX/out" (19 characters).
        {"NameOf201InCentralEntry",
         [=](Failure &f) {
             f.shortRoot = test::ShortTempDir();
             f.out = f.shortRoot + "/out";
             std::string name = "d/" + std::string(194, 'x') + ".txt";
             EXPECT_EQ(name.size(), 200u);
             std::string zip =
                 MakePythonZip(f, {{"first.txt", Members().at("first.txt")}, {name, "long"}});
             size_t entry = CentralEntryOf(test::ReadFile(zip), name);
             PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                 Put16(package, archive + entry + 28, 201);
             });
             f.message = "Zip contains filenames longer than are allowed by\nWindows. Morvik "
                         "Self-Extractor cannot process this\nZip file.";
             f.after = firstOnly;
             f.after["d/"] = "";
             f.after[name] = "long";
         }},
        {"Bzip2Method",
         [=](Failure &f) {
             std::string zip = MakeZip(f,
                                       "TZ=UTC zip -q -0 {zip} first.txt && "
                                       "TZ=UTC zip -q -Z bzip2 {zip} text.txt",
                                       {{"text.txt", TextBytes(20000, 44)}});
             EXPECT_EQ(ReadLayout(test::ReadFile(zip)).Named("text.txt").method, 12);
             PackPatched(f, zip, {});
             f.message = "Unsupported compression method";
             f.after = firstOnly;
             f.after["text.txt"] = ""; // created before the method is looked at
         }},
        {"LzmaMethod",
         [=](Failure &f) {
             std::string zip = MakeZip(f,
                                       "TZ=UTC 7z a -tzip -mx=0 -bso0 -bsp0 {zip} first.txt && "
                                       "TZ=UTC 7z a -tzip -mm=LZMA -bso0 -bsp0 {zip} text.txt",
                                       {{"text.txt", TextBytes(20000, 44)}});
             EXPECT_EQ(ReadLayout(test::ReadFile(zip)).Named("text.txt").method, 14);
             PackPatched(f, zip, {});
             f.message = "Unsupported compression method";
             f.after = firstOnly;
             f.after["text.txt"] = "";
         }},
        // Both values as eight lowercase hex digits, the computed one first;
        // the file stays whole.
        {"BadCrc",
         [=](Failure &f) {
             std::string zip = MakeZip(f, kZipStored);
             ZipLayout layout = ReadLayout(test::ReadFile(zip));
             uint32_t real = layout.locals[1].crc, recorded = real ^ 0x00A0000Bu;
             PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                 Put32(package, archive + layout.locals[1].offset + 14, recorded);
             });
             f.message = "ZIP damaged: file " + InOut(f, "second.bin") + ": Bad CRC " + Hex8(real) +
                         " (should be " + Hex8(recorded) +
                         ").  Possible cause: file transfer error.";
             f.after = Only({"first.txt", "second.bin"});
         }},
        // Invalid DEFLATE data (a block of the reserved type 3 at the start)
        // stops the decoder at once: nothing is written, and the CRC-32 of
        // nothing is 0.
        {"InvalidDeflateBlock",
         [=](Failure &f) {
             std::string zip = MakeZip(f, kZipDeflated, {{"text.txt", TextBytes(300000, 45)}});
             ZipLayout layout = ReadLayout(test::ReadFile(zip));
             const LocalRecord text = layout.Named("text.txt");
             EXPECT_EQ(text.method, 8);
             PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                 package[archive + text.DataOffset()] |= 0x06;
             });
             f.message = "ZIP damaged: file " + InOut(f, "text.txt") +
                         ": Bad CRC 00000000 (should be " + Hex8(text.crc) +
                         ").  Possible cause: file transfer error.";
             f.after = firstOnly;
             f.after["text.txt"] = "";
         }},
        // A compressed size that ends the data halfway: the decoder runs out
        // of input, the whole 32768-byte windows decoded so far are written,
        // the rest is dropped, and the CRC-32 comparison fails.
        {"DeflateDataEndsEarly",
         [=](Failure &f) {
             std::string original = TextBytes(300000, 45);
             std::string zip = MakeZip(f, kZipDeflated, {{"text.txt", original}});
             ZipLayout layout = ReadLayout(test::ReadFile(zip));
             const LocalRecord text = layout.Named("text.txt");
             uint32_t half = text.compressedSize / 2;
             std::string decodable = test::Shell(
                 "python3 -c 'import sys, zlib; d = open(\"archive.zip\", \"rb\").read()[" +
                     std::to_string(text.DataOffset()) + ":" +
                     std::to_string(text.DataOffset() + half) +
                     "]; print(len(zlib.decompressobj(-15).decompress(d)))'",
                 f.dir);
             std::string written = original.substr(0, std::stoul(decodable) / 32768 * 32768);
             EXPECT_GE(written.size(), 65536u);
             PackPatched(f, zip, {}, [&](std::string &package, size_t archive) {
                 Put32(package, archive + text.offset + 18, half);
             });
             f.message = "ZIP damaged: file " + InOut(f, "text.txt") + ": Bad CRC " +
                         Hex8(Crc32(written)) + " (should be " + Hex8(text.crc) +
                         ").  Possible cause: file transfer error.";
             f.after = firstOnly;
             f.after["text.txt"] = written;
         }},
        // The data ends 100 bytes into the block after the one that filled
        // the decoder's window: the full window is written before the next
        // block is read, and that read fails.
        {"CutJustAfterAFullWindow",
         [=](Failure &f) {
             FullWindowArchive archive = MakeFullWindowArchive(f.dir);
             const LocalRecord data = ReadLayout(test::ReadFile(archive.zip)).Named("window.bin");
             EXPECT_EQ(data.method, 8);
             PackPatched(f, archive.zip, {}, [&](std::string &package, size_t at) {
                 CutArchive(package, at, data.DataOffset() + archive.blocks * 2048 + 100);
             });
             f.message = ReadError(f, 2);
             f.after = {{"first.txt", archive.first},
                        {"window.bin", archive.content.substr(0, 32768)}};
         }},
        // A folder where the file goes: the overwrite question, Yes, and the
        // file cannot be created.
        {"FolderInTheWay",
         [=](Failure &f) {
             PackPatched(f, MakeZip(f, kZipStored), {});
             test::MakeDirs(f.out + "/second.bin");
             std::string question =
                 "File " + InOut(f, "second.bin") + " already exists.  Overwrite file?";
             f.steps = "box yesnocancel " + Quoted(question) + " -> yes\n";
             f.boxesBefore = {{question, kOverwriteBox, "Yes"}};
             f.message = "Can't create output file: " + InOut(f, "second.bin");
             f.after = firstOnly;
             f.after["second.bin/"] = "";
         }},
        // Two separators in a row: the folder "a\" cannot be made.
        {"DoubledSeparator",
         [=](Failure &f) {
             PackPatched(
                 f, MakePythonZip(f, {{"first.txt", Members().at("first.txt")}, {"a//b.txt", "b"}}),
                 {});
             f.message =
                 "Could not create \"" + InOut(f, "a") + "\\\" - unzip operation cancelled.";
             f.after = firstOnly;
             f.after["a/"] = "";
         }},
        // The same with the folders below the doubled separator there
        // already: still the folder "a\" that cannot be made.
        {"DoubledSeparatorBeforeAFolderThatExists",
         [=](Failure &f) {
             PackPatched(f,
                         MakePythonZip(f, {{"first.txt", Members().at("first.txt")},
                                           {"a/b/first.txt", "1"},
                                           {"a//b/c.txt", "c"}}),
                         {});
             f.message =
                 "Could not create \"" + InOut(f, "a") + "\\\" - unzip operation cancelled.";
             f.after = firstOnly;
             f.after["a/"] = "";
             f.after["a/b/"] = "";
             f.after["a/b/first.txt"] = "1";
         }},
        // A folder member whose name begins with a separator: the unzip
        // folder followed by two separators cannot be made, also when the
        // folder is there already.
        {"FolderMemberWithLeadingSeparator",
         [=](Failure &f) {
             PackPatched(f,
                         MakePythonZip(f, {{"first.txt", Members().at("first.txt")},
                                           {"docs/x.txt", "x"},
                                           {"/docs/", ""}}),
                         {});
             // The folder member's path is the unzip folder as typed: its
             // leading "/" is passed over, not rewritten.
             f.message = "Could not create \"/" + InOut(f, "").substr(1) +
                         "\" - unzip operation cancelled.";
             f.after = firstOnly;
             f.after["docs/"] = "";
             f.after["docs/x.txt"] = "x";
         }},
        // An unzip folder on a drive that does not exist.
        {"InvalidDrive",
         [=](Failure &f) {
             PackPatched(f, MakeZip(f, kZipStored), {});
             test::MakeDirs(f.dir + "/dosdevices");
             f.env["MORVIK_DOSDEVICES"] = f.dir + "/dosdevices";
             f.out = "Q:\\data";
             f.message = "Drive Q is not a valid drive, unzip operation cancelled.";
             f.after = {};
         }},
        // A start offset beyond what a file offset can be (2 GB): the seek
        // to the archive's first record fails. (The package has no trailer,
        // which would end at that offset.)
        {"ArchiveOffsetOutOfReach",
         [=](Failure &f) {
             PackPatched(f, MakeZip(f, kZipStored), {"--no-trailer"},
                         [](std::string &package, size_t) {
                             size_t header = FindSfxHeader(package);
                             Put32(package, header + 12, 0xFFFFFFF0u);
                             Put32(package, header + 20, 0);
                         });
             f.message = "I/O error on file.  Possible cause: file transfer error.";
             f.after = {};
         }},
        // A start offset just past the end of the file: the seek gets there,
        // as seeks past the end do, and the first signature read is short.
        {"ArchiveOffsetPastTheEnd",
         [=](Failure &f) {
             PackPatched(f, MakeZip(f, kZipStored), {"--no-trailer"},
                         [](std::string &package, size_t) {
                             size_t header = FindSfxHeader(package);
                             Put32(package, header + 12, uint32_t(package.size() + 100));
                             Put32(package, header + 20, 0);
                         });
             f.message = ReadError(f, 9);
             f.after = {};
         }},
        // The disk fills up 3000 bytes into the second member, which is cut
        // there.
        {"DiskFull",
         [=](Failure &f) {
             PackPatched(f, MakeZip(f, kZipStored), {});
             f.env["MORVIK_FAIL_WRITES_AFTER"] = std::to_string(3000 + 3000);
             f.message =
                 "Error writing to " + InOut(f, "second.bin") + ".  Possible cause: disk full.";
             f.after = firstOnly;
             f.after["second.bin"] = Members().at("second.bin").substr(0, 3000);
         }},
        // The disk refuses the second member's bytes only once they are
        // sent, at the close (the file is a link to /dev/full, which refuses
        // every byte): still the write error, not a member counted as done.
        {"DiskFullAtClose",
         [=](Failure &f) {
             PackPatched(f, MakeZip(f, kZipStored), {});
             test::MakeDirs(f.out);
             ASSERT_EQ(symlink("/dev/full", (f.out + "/second.bin").c_str()), 0);
             std::string question =
                 "File " + InOut(f, "second.bin") + " already exists.  Overwrite file?";
             f.steps = "box yesnocancel " + Quoted(question) + " -> yes\n";
             f.boxesBefore = {{question, kOverwriteBox, "Yes"}};
             f.message =
                 "Error writing to " + InOut(f, "second.bin") + ".  Possible cause: disk full.";
             f.after = firstOnly;
             f.after["second.bin"] = "-> /dev/full";
         }},
        // The same for a deflated member over the 64 KiB that the host
        // gathers before it sends: the write that has the gathered bytes sent
        // fails, once, and the run ends there.
        {"DiskFullInAMemberOverTheGatheredSize",
         [=](Failure &f) {
             std::string text = TextBytes(200000, 46);
             PackPatched(f,
                         MakeZip(f, "TZ=UTC zip -q -6 {zip} first.txt text.txt third.txt",
                                 {{"text.txt", text}}),
                         {});
             test::MakeDirs(f.out);
             ASSERT_EQ(symlink("/dev/full", (f.out + "/text.txt").c_str()), 0);
             std::string question =
                 "File " + InOut(f, "text.txt") + " already exists.  Overwrite file?";
             f.steps = "box yesnocancel " + Quoted(question) + " -> yes\n";
             f.boxesBefore = {{question, kOverwriteBox, "Yes"}};
             f.message =
                 "Error writing to " + InOut(f, "text.txt") + ".  Possible cause: disk full.";
             f.after = firstOnly;
             f.after["text.txt"] = "-> /dev/full";
         }},
    };
}

class ExtractFailure : public ::testing::TestWithParam<FailureCase> {};

TEST_P(ExtractFailure, ShowsItsMessageAndEndsTheRun) {
    Failure f;
    f.dir = test::TempDir("fail");
    RemovedIfPassed cleanup{f.dir};
    f.out = f.dir + "/out";
    f.package = f.dir + "/package";
    GetParam().prepare(f);
    RemovedIfPassed shortCleanup{f.shortRoot};
    ASSERT_FALSE(HasFailure());

    test::StubRun run = RunInDialog(f.package, f.out, f.steps + ErrorStep(f.message), f.env);
    EXPECT_RUN_EXIT(run, 2);
    std::vector<BoxSeen> boxes = f.boxesBefore;
    boxes.push_back(ErrorBox(f.message));
    EXPECT_EQ(BoxesShown(run.transcript), boxes);
    // No result box (the script would have failed on it): the dialog closes
    // after the error box.
    EXPECT_EQ(LastLine(run.transcript).rfind("dialog ended \"Morvik Self-Extractor - package\"", 0),
              0u)
        << run.transcript;
    EXPECT_TREE(f.out, f.after);
}

INSTANTIATE_TEST_SUITE_P(Archives, ExtractFailure, ::testing::ValuesIn(FailureCases()),
                         [](const ::testing::TestParamInfo<FailureCase> &info) {
                             return std::string(info.param.label);
                         });

// Names that would reach outside the unzip folder or onto a device are
// refused, naming the member, before any folder or file of it is made. One
// leading separator is only dropped.
TEST(ExtractUnsafeNames, AreRefusedBeforeAnythingOfThemIsMade) {
    struct Case {
        std::string name; // in the ANSI code page (1252); Python writes it as UTF-8
        bool refused;
        std::string writtenAs = "lead.txt"; // where a name that passes lands
    };
    // Devices as Windows takes them today: CON, PRN, AUX, NUL, COM and LPT
    // with a digit 1 to 9 or a superscript 1 to 3, and the console's CONIN$
    // and CONOUT$, with any extension and blanks before it. COM0 and LPT0
    // are files.
    std::vector<Case> cases = {
        {"../evil.txt", true},
        {"a/../../evil.txt", true},
        {"C:evil.txt", true},
        {"//server/x.txt", true},
        {"CON", true},
        {"lpt1.txt", true},
        {"aux/x.txt", true},
        {"", true},
        {"CONIN$", true},
        {"conout$.txt", true},
        {"d/CONIN$ .log", true},
        {"COM\xB9", true},
        {"lpt\xB2.txt", true},
        {"COM\xB3/x.txt", true},
        {"/lead.txt", false},
        {"COM0.txt", false, "COM0.txt"},
        {"lpt0", false, "lpt0"},
        {"CONIN", false, "CONIN"},
        {"CONIN$$", false, "CONIN$$"},
        {"COM\xB4", false, "COM\xC2\xB4"}, // an acute accent is no digit
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("member " + Quoted(c.name));
        Failure f;
        f.dir = test::TempDir("unsafe");
        RemovedIfPassed cleanup{f.dir};
        std::string root = f.dir + "/root";
        f.out = root + "/parent/out";
        f.package = f.dir + "/package";
        PackPatched(f,
                    MakePythonZip(
                        f, {{"first.txt", "first\n"}, {c.name, "evil\n"}, {"last.txt", "last\n"}}),
                    {});
        std::string message = "Zip contains the file name \"" + c.name +
                              "\", which would be written outside the unzip folder or onto a "
                              "device. Morvik Self-Extractor cannot process this\nZip file.";
        test::StubRun run =
            RunInDialog(f.package, f.out, c.refused ? ErrorStep(message) : CompletedSteps(3));
        EXPECT_RUN_EXIT(run, c.refused ? 2 : 0);
        Files expected = {
            {"parent/", ""}, {"parent/out/", ""}, {"parent/out/first.txt", "first\n"}};
        if (c.refused) {
            EXPECT_EQ(BoxesShown(run.transcript), std::vector<BoxSeen>{ErrorBox(message)});
        } else {
            EXPECT_EQ(BoxesShown(run.transcript).size(), 1u) << run.transcript;
            expected["parent/out/" + c.writtenAs] = "evil\n";
            expected["parent/out/last.txt"] = "last\n";
        }
        // Nothing anywhere under the root but what belongs in the unzip folder.
        EXPECT_TREE(root, expected);
        EXPECT_EQ(Tree(f.dir).count("evil.txt"), 0u);
    }
}

// Folders are made however deep, under an unzip folder that is not there
// yet, also when a "." level names the folder just made or one that exists,
// and in any order of folder and file members.
TEST(ExtractFolders, AreMadeAtAnyDepthWithDotLevels) {
    Failure f;
    f.dir = test::TempDir("folders");
    RemovedIfPassed cleanup{f.dir};
    f.out = f.dir + "/parent/out";
    f.package = f.dir + "/package";
    PackPatched(f,
                MakePythonZip(f, {{"x/./y/z.txt", "z\n"},
                                  {"x/y/./w.txt", "w\n"},
                                  {"p/./q/", ""},
                                  {"deep/a/b/c/d.txt", "d\n"},
                                  {"deep/a/e.txt", "e\n"},
                                  {"deep/a/b/f/", ""}}),
                {});
    test::StubRun run = RunInDialog(f.package, f.out, CompletedSteps(4)); // folders are not counted
    EXPECT_CLEAN_RUN(run);
    EXPECT_TREE(f.dir + "/parent", (Files{{"out/", ""},
                                          {"out/x/", ""},
                                          {"out/x/y/", ""},
                                          {"out/x/y/z.txt", "z\n"},
                                          {"out/x/y/w.txt", "w\n"},
                                          {"out/p/", ""},
                                          {"out/p/q/", ""},
                                          {"out/deep/", ""},
                                          {"out/deep/a/", ""},
                                          {"out/deep/a/e.txt", "e\n"},
                                          {"out/deep/a/b/", ""},
                                          {"out/deep/a/b/c/", ""},
                                          {"out/deep/a/b/c/d.txt", "d\n"},
                                          {"out/deep/a/b/f/", ""}}));
}

} // namespace

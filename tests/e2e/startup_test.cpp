// Start-up as the user meets it: the real stub run as a process on packages
// made by our builder from archives made by real tools. "-info", the
// incomplete package, the start-up message, auto mode from the command line,
// the self-check, the configuration trailer, the end-record probe, and the
// signature properties of the built stubs.
#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <stdint.h>
#include <stdio.h>
#include <unistd.h>

#include <map>
#include <string>
#include <utility>
#include <vector>

// Helpers shared by the start-up and user-interface process tests
// (startup_ui_support.cpp).
#include "tests/e2e/startup_ui_support.h"

namespace {

using namespace sfxe2e;

const char kTitle[] = "Morvik Self-Extractor";
const char kHeaderCorrupt[] =
    "Morvik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error";
const char kIncomplete[] =
    "This is an incomplete self-extractor;\nplease re-create the file and try again.";
const char kDamaged[] = "Zip file is damaged, truncated, or has been changed since it was "
                        "created.   If you downloaded this file, try downloading again.";
const char kCloseDialog[] = "dialog \"Morvik Self-Extractor - \"\npress 2\n";
const unsigned kErrorIcon = 0x10;

const std::string &SmallZip() {
    static const std::string zip =
        PythonZip({{"a.txt", "alpha\n"}, {"sub/b.txt", "bravo\n"}}, true);
    return zip;
}

std::string Package(const std::vector<std::string> &options) {
    return MakePackage(SmallZip(), options, "setup.exe", "");
}

std::string Describe(const test::StubRun &run) {
    return "exit " + std::to_string(run.process.exitCode) + "\n--- transcript\n" + run.transcript +
           "--- stderr\n" + run.process.err;
}

bool DialogOpened(const test::StubRun &run) {
    return Contains(run.transcript, "dialog opened");
}

// What start-up showed when it ended before the dialog: exactly one box. An
// error box refuses the start (exit code 2); the info text answers "-info" (0).
void ExpectOnlyBox(const test::StubRun &run, const std::string &text, unsigned type,
                   const std::string &caption = kTitle) {
    EXPECT_EQ(run.process.exitCode, type == kErrorIcon ? 2 : 0) << Describe(run);
    EXPECT_FALSE(DialogOpened(run)) << Describe(run);
    std::vector<ShownBox> boxes = Boxes(run.transcript);
    ASSERT_EQ(boxes.size(), 1u) << Describe(run);
    EXPECT_EQ(boxes[0].text, text);
    EXPECT_EQ(boxes[0].caption, caption);
    EXPECT_EQ(boxes[0].type, type);
    EXPECT_EQ(boxes[0].owner, "none") << "start-up boxes have no owner";
}

// ---- "-info" and the incomplete package -----------------------------------------------------

TEST(StartupInfo, InfoWordAndIncompletePackage) {
    const std::string info = "Setup notes: version 1";
    std::string complete = Package({"--info=" + info});
    std::string incomplete = Package({"--info=" + info, "--incomplete"});
    std::string titled = Package({"--info=" + info, "--custom-title", "--title=Acme Setup"});
    std::string inInfoFolder = test::TempDir("pkg") + "/setup-info";
    test::MakeDirs(inInfoFolder);
    inInfoFolder += "/setup.exe";
    test::Shell("cp '" + complete + "' '" + inInfoFolder + "'");
    struct Row {
        const char *name;
        std::string package;
        std::vector<std::string> args;
        std::string boxText; // "" with dialog: the dialog opens instead
        unsigned boxType;
        bool dialog;
    } rows[] = {
        {"-info shows the info text", complete, {"-info"}, info, 0, false},
        {"-info inside a word still counts", complete, {"abc-infoxyz"}, info, 0, false},
        {"-info after other words", complete, {"-auto", "x", "-info"}, info, 0, false},
        {"-info keeps the default caption", titled, {"-info"}, info, 0, false},
        {"-INFO is neither info nor a keyword", complete, {"-INFO"}, "", 0, true},
        {"-info in the program's own path does not count", inInfoFolder, {}, "", 0, true},
        {"-info on an incomplete package", incomplete, {"-info"}, info, 0, false},
        {"an incomplete package is refused", incomplete, {}, kIncomplete, kErrorIcon, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        test::StubRun run =
            test::RunStub(row.package, row.args, row.dialog ? kCloseDialog : "box ok \"\" -> ok\n");
        if (row.dialog) {
            // Closed without unzipping anything.
            EXPECT_EQ(run.process.exitCode, 1) << Describe(run);
            EXPECT_TRUE(DialogOpened(run)) << Describe(run);
            EXPECT_TRUE(Boxes(run.transcript).empty()) << Describe(run);
        } else {
            ExpectOnlyBox(run, row.boxText, row.boxType);
        }
    }
}

// ---- texts of the trailer in any script -----------------------------------------------------

// The builder stores non-ASCII trailer strings as UTF-8 behind the UTF-8
// mark: in UTF-8 (code page 65001) they show as given, in 1252 with '?' for
// the characters 1252 lacks. The ANSI bytes of a package made before (or
// with --trailer-text=as-given) show as ANSI text in both.
TEST(TextsInTheTrailer, ShowInTheProcessCodePage) {
    const std::string info = "Café — 表だよ, Документы, Έγγραφα 😀";
    const std::string message = "Привет, Καλημέρα!";
    const std::string title = "Установка — ελληνικά";
    std::string made = Package(
        {"--info=" + info, "--startup-message=" + message, "--custom-title", "--title=" + title});
    std::string legacy = Package({"--trailer-text=as-given", "--info=Caf\xe9 r\xe9sum\xe9"});
    struct Row {
        const char *name;
        std::string package;
        std::vector<std::string> args;
        std::string script;
        std::string text, caption; // of the one box shown
        int exitCode;              // closed without unzipping: 1
    } rows[] = {
        {"-info", made, {"-info"}, "box ok \"\" -> ok\n", test::InAnsi(info), kTitle, 0},
        {"start-up message under the custom title",
         made,
         {},
         std::string("box ok \"\" -> ok\n") + kCloseDialog,
         test::InAnsi(message),
         test::InAnsi(title),
         1},
        {"ANSI bytes",
         legacy,
         {"-info"},
         "box ok \"\" -> ok\n",
         test::InAnsi("Café résumé"),
         kTitle,
         0},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        test::StubRun run = test::RunStub(row.package, row.args, row.script);
        EXPECT_EQ(run.process.exitCode, row.exitCode) << run.transcript;
        std::vector<ShownBox> boxes = Boxes(run.transcript);
        ASSERT_EQ(boxes.size(), 1u) << run.transcript;
        EXPECT_EQ(boxes[0].text, row.text);
        EXPECT_EQ(boxes[0].caption, row.caption);
    }

    // The folder of the trailer reaches the file system with its characters.
    // In 1252 a '?' stands for each character 1252 lacks, and no folder of
    // that name can be made.
    std::string out = test::TempDir("trailer-folder");
    const std::string folder = "Документы café";
    std::string autoPackage = Package({"--auto", "--folder=" + out + "/" + folder});
    bool utf8 = test::AnsiCodePage() == 65001;
    test::StubRun run = test::RunStub(autoPackage, {},
                                      utf8 ? "" : "box ok \"Could not create\" icon=error -> ok\n");
    EXPECT_EQ(run.process.exitCode, utf8 ? 0 : 2) << run.transcript;
    if (utf8) {
        EXPECT_EQ(test::ListTree(out).count(folder + "/a.txt"), 1u) << run.transcript;
    } else {
        std::vector<ShownBox> boxes = Boxes(run.transcript);
        ASSERT_EQ(boxes.size(), 1u) << run.transcript;
        EXPECT_NE(boxes[0].text.find(test::InAnsi(folder)), std::string::npos) << boxes[0].text;
        EXPECT_TRUE(test::ListTree(out).empty()) << run.transcript;
    }
}

// ---- the start-up message -------------------------------------------------------------------

TEST(StartupMessage, ButtonsAnswersAndCaption) {
    const std::string message = "--startup-message=Read me first";
    struct Row {
        const char *name;
        std::vector<std::string> options;
        const char *answer;
        unsigned type;
        std::string caption;
        bool goesOn;
    } rows[] = {
        {"no query: one OK", {}, "ok", 0 /* MB_OK */, kTitle, true},
        {"query: Yes goes on", {"--startup-query"}, "yes", 4 /* MB_YESNO */, kTitle, true},
        {"query: No ends", {"--startup-query"}, "no", 4, kTitle, false},
        {"OK/Cancel: OK goes on", {"--startup-query", "--startup-okcancel"}, "ok", 1, kTitle, true},
        {"OK/Cancel: Cancel ends",
         {"--startup-query", "--startup-okcancel"},
         "cancel",
         1,
         kTitle,
         false},
        {"OK/Cancel without query: one OK", {"--startup-okcancel"}, "ok", 0, kTitle, true},
        {"custom title as caption",
         {"--custom-title", "--title=Acme Setup"},
         "ok",
         0,
         "Acme Setup",
         true},
        {"title without the custom-title bit", {"--title=Acme Setup"}, "ok", 0, kTitle, true},
        {"custom title empty", {"--custom-title"}, "ok", 0, kTitle, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> options = row.options;
        options.push_back(message);
        std::string script = std::string("box any \"Read me first\" -> ") + row.answer + "\n";
        if (row.goesOn)
            script += kCloseDialog;
        test::StubRun run = test::RunStub(Package(options), {}, script);
        // The user ends it either way: No or Cancel at once, or Close without
        // unzipping.
        EXPECT_EQ(run.process.exitCode, 1) << Describe(run);
        EXPECT_EQ(DialogOpened(run), row.goesOn) << Describe(run);
        std::vector<ShownBox> boxes = Boxes(run.transcript);
        ASSERT_EQ(boxes.size(), 1u) << Describe(run);
        EXPECT_EQ(boxes[0].text, "Read me first");
        EXPECT_EQ(boxes[0].caption, row.caption);
        EXPECT_EQ(boxes[0].type, row.type) << "buttons only, no icon";
        EXPECT_EQ(boxes[0].owner, "none");
    }
}

// ---- auto mode from the package and the command line ----------------------------------------

TEST(StartupCommandLine, AutoModeFromPackageAndCommandLine) {
    enum class Unzipped { Nowhere, ToTrailerFolder, ToLineFolder };
    struct Row {
        const char *name;
        std::vector<std::string> options; // the trailer folder is added
        std::vector<std::string> args;    // "{line}" is the command-line folder
        std::string script;
        Unzipped unzipped;
        bool blankInPath = false; // the package lies in a folder with a blank
    } rows[] = {
        // The folder has a blank: the command line carries it in double quotes.
        {"-auto with a quoted folder", {}, {"-auto", "{line}"}, "", Unzipped::ToLineFolder},
        {"a quoted program name", {}, {"-auto", "{line}"}, "", Unzipped::ToLineFolder, true},
        {"/AUTO keeps the trailer folder", {}, {"/AUTO"}, "", Unzipped::ToTrailerFolder},
        {"the package's auto bit", {"--auto"}, {}, "", Unzipped::ToTrailerFolder},
        {"-NOAUTO turns the package's auto bit off",
         {"--auto"},
         {"-NOAUTO", "{line}"},
         kCloseDialog,
         Unzipped::Nowhere},
        {"-aut is no keyword", {}, {"-aut", "{line}"}, kCloseDialog, Unzipped::Nowhere},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string trailerFolder = test::TempDir("auto") + "/From Trailer";
        std::string lineFolder = test::TempDir("auto") + "/Out Dir";
        std::vector<std::string> options = row.options, args = row.args;
        options.push_back("--folder=" + trailerFolder);
        for (std::string &arg : args)
            if (arg == "{line}")
                arg = lineFolder;
        std::string package = Package(options);
        if (row.blankInPath) {
            std::string moved = test::TempDir("pkg") + "/Pkg Dir";
            test::MakeDirs(moved);
            moved += "/setup.exe";
            test::Shell("mv '" + package + "' '" + moved + "'");
            package = moved;
        }
        test::StubRun run = test::RunStub(package, args, row.script);
        EXPECT_EQ(run.process.exitCode, row.unzipped == Unzipped::Nowhere ? 1 : 0) << Describe(run);
        EXPECT_TRUE(Boxes(run.transcript).empty()) << "auto mode shows no result box\n"
                                                   << Describe(run);
        EXPECT_EQ(test::Exists(trailerFolder), row.unzipped == Unzipped::ToTrailerFolder);
        EXPECT_EQ(test::Exists(lineFolder), row.unzipped == Unzipped::ToLineFolder);
        std::string folder = row.unzipped == Unzipped::ToLineFolder ? lineFolder : trailerFolder;
        if (row.unzipped != Unzipped::Nowhere) {
            EXPECT_EQ(test::ReadFile(folder + "/a.txt"), "alpha\n") << Describe(run);
            EXPECT_EQ(test::ReadFile(folder + "/sub/b.txt"), "bravo\n");
        }
    }
}

// ---- the self-check -------------------------------------------------------------------------

enum class Patch { None, TrailerText, TotalSize, ElfSectionOffset };

// Applies `patch` to the package file in place.
void ApplyPatch(const std::string &path, Patch patch) {
    std::string bytes = test::ReadFile(path);
    PackageHeader h = ReadHeader(bytes);
    switch (patch) {
    case Patch::None:
        return;
    case Patch::TrailerText: {
        size_t at = bytes.find("hello", h.trailerOffset);
        ASSERT_LT(at, h.archiveOffset);
        bytes[at] = 'j';
        break;
    }
    case Patch::TotalSize:
        PutU32(bytes, h.at + 24, h.totalSize + 1);
        break;
    case Patch::ElfSectionOffset:
        // e_shoff: nothing reads the section headers when the program runs.
        ASSERT_EQ(bytes.compare(0, 4, "\177ELF"), 0);
        bytes[0x28] ^= 0x01;
        break;
    }
    test::WriteFile(path, bytes);
}

TEST(StartupSelfCheck, CrcCoversImageTrailerAndHeader) {
    struct Row {
        const char *name;
        std::vector<std::string> options;
        Patch patch;
        std::string shownInfo; // "" when the header-corrupt text ends the start
    } rows[] = {
        {"intact package passes", {"--crc"}, Patch::None, "hello"},
        {"trailer edited after packing", {"--crc"}, Patch::TrailerText, ""},
        {"header field edited after packing", {"--crc"}, Patch::TotalSize, ""},
        {"no stored CRC: a changed package is accepted", {}, Patch::TrailerText, "jello"},
        {"ELF header left out", {"--crc", "--crc-skip-headers"}, Patch::ElfSectionOffset, "hello"},
        {"ELF header counted without the option", {"--crc"}, Patch::ElfSectionOffset, ""},
        {"trailer still counted with the option",
         {"--crc", "--crc-skip-headers"},
         Patch::TrailerText,
         ""},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<std::string> options = row.options;
        options.push_back("--info=hello");
        std::string package = Package(options);
        ApplyPatch(package, row.patch);
        test::StubRun run = test::RunStub(package, {"-info"}, "box ok \"\" -> ok\n");
        if (row.shownInfo.empty())
            ExpectOnlyBox(run, kHeaderCorrupt, kErrorIcon);
        else
            ExpectOnlyBox(run, row.shownInfo, 0);
    }
}

// ---- the configuration trailer --------------------------------------------------------------

// The package with its trailer replaced by `trailer`: the archive moves, and
// the header's offsets move with it.
void ReplaceTrailer(const std::string &path, const std::string &trailer, uint32_t addOptions) {
    std::string bytes = test::ReadFile(path);
    PackageHeader h = ReadHeader(bytes);
    std::string out = bytes.substr(0, h.trailerOffset) + trailer + bytes.substr(h.archiveOffset);
    int64_t delta = (int64_t)trailer.size() - (int64_t)(h.archiveOffset - h.trailerOffset);
    PutU32(out, h.at + 12, (uint32_t)(h.archiveOffset + delta));
    PutU32(out, h.at + 20, (uint32_t)(h.endRecordOffset + delta));
    PutU32(out, h.at + 28, h.options | addOptions);
    test::WriteFile(path, out);
}

std::string Trailer(const std::string &folder, const std::string &reserved,
                    const std::string &message, const std::string &title, const std::string &info) {
    std::string t;
    for (const std::string *s : {&folder, &reserved, &message, &title, &info})
        t += *s + std::string(1, '\0');
    return t;
}

TEST(StartupTrailer, LimitsAndTerminators) {
    const uint32_t customTitle = 0x10;
    const std::string f260(260, 'f'), m513(513, 'm'), t64(64, 't'), i511(511, 'i');
    const std::string longest = Trailer(f260, std::string(476, 'r'), m513, "", "ok");
    const std::string tooLong = Trailer(f260, std::string(477, 'r'), m513, "", "ok");
    ASSERT_EQ(longest.size(), 1256u);
    ASSERT_EQ(tooLong.size(), 1257u);
    struct Row {
        const char *name;
        std::string trailer;
        uint32_t options;
        std::string info; // what "-info" shows; "" with `refused`
        bool refused;
    } rows[] = {
        {"five empty strings", std::string(5, '\0'), 0, "", false},
        {"every string at its limit", Trailer(f260, "", m513, t64, "ok"), customTitle, "ok", false},
        {"folder of 261", Trailer(f260 + "f", "", "", "", "ok"), 0, "", true},
        {"start-up message of 514", Trailer("", "", m513 + "m", "", "ok"), 0, "", true},
        {"title of 65 with the custom-title bit", Trailer("", "", "", t64 + "t", "ok"), customTitle,
         "", true},
        {"title of 65 ignored without it", Trailer("", "", "", t64 + "t", "ok"), 0, "ok", false},
        {"info of 511", Trailer("", "", "", "", i511), 0, i511, false},
        {"info of 512", Trailer("", "", "", "", i511 + "i"), 0, "", true},
        {"four terminators", std::string(4, '\0') + "ok", 0, "", true},
        {"1256 bytes", longest, 0, "ok", false},
        {"1257 bytes", tooLong, 0, "", true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string package = Package({"--info=placeholder"});
        ReplaceTrailer(package, row.trailer, row.options);
        test::StubRun run = test::RunStub(package, {"-info"}, "box ok \"\" -> ok\n");
        if (row.refused)
            ExpectOnlyBox(run, kHeaderCorrupt, kErrorIcon);
        else
            ExpectOnlyBox(run, row.info, 0);
    }
}

TEST(StartupTrailer, AbsentTrailer) {
    std::string package = Package({"--no-trailer"});
    EXPECT_EQ(ReadHeader(test::ReadFile(package)).trailerOffset, 0u);

    test::StubRun info = test::RunStub(package, {"-info"}, "box ok \"\" -> ok\n");
    ExpectOnlyBox(info, "", 0);

    // No start-up box, and the folder field starts with the default folder.
    std::string tmp = test::TempDir("tmp");
    test::StubRun dialog = test::RunStub(package, {},
                                         "dialog \"Morvik\"\n"
                                         "expect text 106 \"" +
                                             tmp +
                                             "\"\n"
                                             "press 2\n",
                                         {{"TMP", tmp}});
    EXPECT_EQ(dialog.process.exitCode, 1) << Describe(dialog);
    EXPECT_TRUE(Boxes(dialog.transcript).empty()) << Describe(dialog);
}

// ---- the end-record probe -------------------------------------------------------------------

TEST(StartupEndRecord, ProbeFindsTheRecordOrRefuses) {
    enum class Where { AsBuilt, OneBefore, PastTheEnd, Zero };
    struct Row {
        const char *name;
        Where where;
        bool accepted;
    } rows[] = {
        {"end record where the header says", Where::AsBuilt, true},
        {"offset pointing elsewhere", Where::OneBefore, false},
        {"offset beyond the end of the file", Where::PastTheEnd, false},
        {"offset 0: no probe", Where::Zero, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.name);
        std::string package = Package({"--info=probed"});
        std::string bytes = test::ReadFile(package);
        PackageHeader h = ReadHeader(bytes);
        ASSERT_EQ(bytes.compare(h.endRecordOffset, 4, "PK\x05\x06"), 0);
        uint32_t offset = h.endRecordOffset;
        if (row.where == Where::OneBefore)
            offset -= 1;
        else if (row.where == Where::PastTheEnd)
            offset = (uint32_t)bytes.size() + 100;
        else if (row.where == Where::Zero)
            offset = 0;
        PutU32(bytes, h.at + 20, offset);
        test::WriteFile(package, bytes);
        test::StubRun run = test::RunStub(package, {"-info"}, "box ok \"\" -> ok\n");
        ExpectOnlyBox(run, row.accepted ? "probed" : kDamaged, row.accepted ? 0 : kErrorIcon);
    }
}

TEST(StartupEndRecord, SpannedPackageIsNotProbed) {
    // The set's package file ends at its trailer, so the recorded end record
    // lies beyond it; a probe would refuse the package.
    std::string out = test::TempDir("span");
    test::PackOrFail(SmallZip(), out + "/setup.exe", {"--spanned", "--info=spanned"});
    std::string package = out + "/disk1/setup.EXE";
    PackageHeader h = ReadHeader(test::ReadFile(package));
    ASSERT_GT(h.endRecordOffset, test::ReadFile(package).size());
    std::string devices = test::TempDir("dosdevices");
    ASSERT_EQ(symlink((out + "/disk1").c_str(), (devices + "/a:").c_str()), 0);
    test::StubRun run =
        test::RunStub(package, {"-info"}, "box ok \"\" -> ok\n", {{"MORVIK_DOSDEVICES", devices}});
    ExpectOnlyBox(run, "spanned", 0);
}

// ---- the built stubs ------------------------------------------------------------------------

size_t Occurrences(const std::string &bytes, const std::string &what) {
    size_t count = 0;
    for (size_t at = bytes.find(what); at != std::string::npos; at = bytes.find(what, at + 1))
        ++count;
    return count;
}

TEST(StartupBinaries, HeaderSignatureOnceAndNoZipSignature) {
    std::vector<std::string> stubs = {test::StubPath()};
    std::string windows = test::SourceDir() + "/build/windows/morvik-sfx.exe";
    if (test::Exists(windows))
        stubs.push_back(windows);
    else
        printf("note: %s is not built; only the native stub is checked\n", windows.c_str());
    const std::string zipSignatures[] = {std::string("PK\x03\x04", 4), std::string("PK\x01\x02", 4),
                                         std::string("PK\x05\x06", 4), std::string("PK\x07\x08", 4),
                                         "PK00"};
    for (const std::string &stub : stubs) {
        SCOPED_TRACE(stub);
        std::string bytes = test::ReadFile(stub);
        ASSERT_FALSE(bytes.empty());
        EXPECT_EQ(Occurrences(bytes, kSignature), 1u);
        for (const std::string &signature : zipSignatures)
            EXPECT_EQ(Occurrences(bytes, signature), 0u) << "signature " << signature.substr(2, 2);
    }
}

} // namespace

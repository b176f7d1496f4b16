// The main dialog as a person uses it: the real stub run as a process under
// the scripted user, on packages made by our builder from archives made by
// real tools. Opening, Unzip and its refusals, the password dialog, the
// overwrite prompt, the abort question, the delayed progress meter, auto
// mode, a second Unzip, About, Help and Run Morvik.
#include "tests/support/support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <limits.h>
#include <stdio.h>
#include <stdint.h>
#include <stdlib.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

// Helpers shared by the start-up and user-interface process tests
// (startup_ui_support.cpp).
#include "tests/e2e/startup_ui_support.h"

namespace {

using namespace sfxe2e;

const char kTitle[] = "Morvik Self-Extractor";
const char kOwner[] = "dialog \"Morvik Self-Extractor - setup.exe\"";
const unsigned kErrorIcon = 0x10;

// Bytes that do not compress, so that the member's data takes many blocks.
std::string Noise(size_t size, uint32_t seed) {
    std::string out(size, '\0');
    for (char &c : out) {
        seed = seed * 1103515245u + 12345u;
        c = (char)(seed >> 23);
    }
    return out;
}

const Files &TwoFiles() {
    static const Files files = {{"a.txt", "alpha\n"}, {"sub/b.txt", "bravo\n"}};
    return files;
}

// A small file first, then one of 300 kB: about 150 output blocks, each
// followed by a poll.
const Files &SmallThenBig() {
    static const Files files = {{"a.txt", "alpha\n"}, {"big.bin", Noise(300000, 7)}};
    return files;
}

std::string Describe(const test::StubRun &run) {
    return "exit " + std::to_string(run.process.exitCode) + "\n--- transcript\n" + run.transcript +
           "--- stderr\n" + run.process.err;
}

std::string RealPath(const std::string &path) {
    char buffer[PATH_MAX];
    return realpath(path.c_str(), buffer) ? buffer : path;
}

// The package with its recorded end record moved to offset 0 (no probe):
// a small package, for which the dialog delays the meter.
void MakeSmall(const std::string &package) {
    std::string bytes = test::ReadFile(package);
    PutU32(bytes, ReadHeader(bytes).at + 20, 0);
    test::WriteFile(package, bytes);
}

size_t Count(const std::string &text, const std::string &part) {
    size_t n = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++n;
    return n;
}

// ---- opening --------------------------------------------------------------------------------

// Opens the dialog on a package and checks what it shows, then closes it.
void ExpectOpening(const std::string &name, const std::vector<std::string> &options,
                   const test::Environment &env, const std::string &caption,
                   const std::string &introName, const std::string &folder, bool checked) {
    static const std::string zip = PythonZip(TwoFiles(), true);
    std::string intro =
        "To unzip all files in " + introName + " to the specified folder press the Unzip button.";
    std::string script = "dialog /^" + RegexQuote(caption) + "$/\n" + "expect text 101 /^" +
                         RegexQuote(intro) + "$/\n" + "expect text 106 /^" + RegexQuote(folder) +
                         "$/\n" + (checked ? "expect checked 102\n" : "expect unchecked 102\n") +
                         "expect hidden 201\n"
                         "expect visible 109\n"
                         "expect text 109 /^$/\n"
                         "expect visible 115\n"
                         "expect hidden 111\n"
                         "expect default 1\n"
                         "expect enabled 1\n"
                         "press 2\n";
    test::StubRun run = test::RunStub(MakePackage(zip, options, name, ""), {}, script, env);
    EXPECT_EQ(run.process.exitCode, 1) << Describe(run); // closed, nothing unzipped
    EXPECT_TRUE(Boxes(run.transcript).empty()) << Describe(run);
}

TEST(UiMainDialog, OpeningCaptionAndIntro) {
    const std::string name24 = "abcdefghijklmnopqrst.exe", name25 = "abcdefghijklmnopqrstu.exe";
    ASSERT_EQ(name24.size(), 24u);
    ASSERT_EQ(name25.size(), 25u);
    const std::string setup = "setup.exe", caption = "Morvik Self-Extractor - ";
    std::string cyrillic24, cyrillic25 = "я";
    for (int i = 0; i < 20; i++)
        cyrillic24 += "д";
    cyrillic25 += cyrillic24 + ".exe";
    cyrillic24 += ".exe";
    struct Row {
        std::string name;
        std::vector<std::string> options;
        std::string caption, introName;
        test::Environment env = {};
    } rows[] = {
        {setup, {}, caption + setup, setup},
        {name24, {}, caption + name24, name24},
        {name25, {}, caption + name25, "this self-extractor file"},
        // In UTF-8 the limit counts characters, not their bytes. (Under 1252
        // the stub cannot open a file so named: its name has no ANSI form.)
        {cyrillic24, {}, caption + cyrillic24, cyrillic24, {{"MORVIK_ANSI_CODEPAGE", "65001"}}},
        {cyrillic25,
         {},
         caption + cyrillic25,
         "this self-extractor file",
         {{"MORVIK_ANSI_CODEPAGE", "65001"}}},
        {setup, {"--title-caption"}, "Setup", setup},
        {setup, {"--title-caption", "--custom-title", "--title=Acme Tools"}, "Acme Tools", setup},
        {setup, {"--title-caption", "--title=Acme Tools"}, "Setup", setup}, // title ignored
        {setup, {"--custom-title", "--title=Acme Tools"}, caption + setup, setup},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.caption);
        std::vector<std::string> options = row.options;
        options.push_back("--folder=x");
        ExpectOpening(row.name, options, row.env, row.caption, row.introName, "x", false);
    }
}

TEST(UiMainDialog, OpeningFolderFieldAndCheckBox) {
    char cwd[PATH_MAX];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    std::string tmp = test::TempDir("tmp"), temp = test::TempDir("temp");
    std::string windows = test::TempDir("windows");
    struct Row {
        const char *what;
        std::vector<std::string> options;
        test::Environment env;
        std::string folder;
        bool checked;
    } rows[] = {
        {"the trailer's folder", {"--folder=C:\\Trailer"}, {}, "C:\\Trailer", false},
        {"the overwrite bit ticks the box", {"--folder=x", "--overwrite"}, {}, "x", true},
        {"\".\" is the current folder", {"--folder=."}, {}, cwd, false},
        {"\".\\\" is not", {"--folder=.\\"}, {}, ".\\", false},
        {"no folder: TMP first", {}, {{"TMP", tmp}, {"TEMP", temp}}, tmp, false},
        {"no folder: TMP loses a trailing backslash",
         {},
         {{"TMP", "C:\\TEMP\\"}},
         "C:\\TEMP",
         false},
        {"no folder: a drive root keeps it", {}, {{"TMP", "C:\\"}}, "C:\\", false},
        {"no folder: then TEMP", {}, {{"TEMP", temp}}, temp, false},
        {"no folder: then TEMP in the Windows folder",
         {},
         {{"MORVIK_WINDIR", windows}},
         windows + "\\TEMP",
         false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        ExpectOpening("setup.exe", row.options, row.env, "Morvik Self-Extractor - setup.exe",
                      "setup.exe", row.folder, row.checked);
    }
    EXPECT_TRUE(test::Exists(windows + "/TEMP")) << "the Windows folder's TEMP is created";
}

// ---- Browse -----------------------------------------------------------------------------------

// The Browse button is there when the shell library has all three folder
// browser procedures and Windows is version 4 or later.
TEST(UiBrowse, ButtonExistsByTheShellAndTheWindowsVersion) {
    struct Row {
        const char *what;
        test::Environment env;
        bool button;
    } rows[] = {
        {"the shell of Windows 6", {}, true},
        {"Windows 4", {{"MORVIK_WINVER_MAJOR", "4"}}, true},
        {"Windows 3", {{"MORVIK_WINVER_MAJOR", "3"}}, false},
        {"no shell library", {{"MORVIK_SHELL32", "absent"}}, false},
        {"no SHBrowseForFolder", {{"MORVIK_SHELL32", "no-browse"}}, false},
        {"no SHGetMalloc", {{"MORVIK_SHELL32", "no-malloc"}}, false},
        {"no SHGetPathFromIDList", {{"MORVIK_SHELL32", "no-path"}}, false},
        {"a failing allocator still has the button", {{"MORVIK_SHELL32", "malloc-fails"}}, true},
    };
    std::string package = MakePackage(PythonZip(TwoFiles(), true), {"--folder=x"}, "setup.exe", "");
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string script = std::string("dialog \"Morvik\"\n") +
                             (row.button ? "expect visible 115\n" : "expect missing 115\n") +
                             "press 2\n";
        test::StubRun run = test::RunStub(package, {}, script, row.env);
        EXPECT_EQ(run.process.exitCode, 1) << Describe(run); // closed, nothing unzipped
    }
}

// A string of the scripted user's language, for a path without quotes or
// backslashes.
std::string Quoted(const std::string &path) {
    return "\"" + path + "\"";
}

// Browse: cancelled, the field keeps its text; a folder chosen replaces it and
// the run unzips there; the picker failing to give a path, or the allocator
// failing, leaves the field as it was.
TEST(UiBrowse, CancelledChosenAndFailing) {
    std::string out = test::TempDir("browse") + "/chosen";
    std::string typed = test::TempDir("browse") + "/typed";
    std::string package =
        MakePackage(PythonZip(TwoFiles(), true), {"--folder=" + typed}, "setup.exe", "");
    const std::string picker = "folder picker shown: title \"Unzip to Folder:\" flags 9";
    struct Row {
        const char *what;
        std::string shell;  // MORVIK_SHELL32
        std::string browse; // the browse step; "" when no picker comes up
        std::string field;  // the field afterwards
        bool pickerShown;
    } rows[] = {
        {"cancelled", "", "browse cancel\n", typed, true},
        {"a folder chosen", "", "browse " + Quoted(out) + "\n", out, true},
        {"the path cannot be had", "path-fails", "browse " + Quoted(out) + "\n", typed, true},
        {"no allocator: nothing happens", "malloc-fails", "", typed, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string script =
            "dialog \"Morvik\"\npress 115\n" + row.browse + "expect text 106 " + Quoted(row.field) +
            "\npress 1\nbox ok \"2 file(s) unzipped successfully\" -> ok\npress 2\n";
        test::StubRun run = test::RunStub(package, {}, script, {{"MORVIK_SHELL32", row.shell}});
        EXPECT_EQ(run.process.exitCode, 0) << Describe(run);
        EXPECT_EQ(Contains(run.transcript, picker), row.pickerShown) << Describe(run);
        EXPECT_TRUE(test::Exists(row.field + "/sub/b.txt")) << Describe(run);
        test::Run({"rm", "-rf", out, typed});
    }
}

// ---- Unzip and its refusals -----------------------------------------------------------------

std::string Repeated(const std::string &text, int times) {
    std::string out;
    for (int i = 0; i < times; i++)
        out += text;
    return out;
}

TEST(UiMainDialog, UnzipResultAndFolderRefusals) {
    const std::string result = "2 file(s) unzipped successfully";
    const std::string unsafe = "The selected folder contains unsupported\ncharacters, please "
                               "choose a different folder.";
    struct Row {
        const char *what;
        std::string typed; // "{out}" is the output folder; nothing typed when empty
        std::string codePage;
        std::string boxText;
        unsigned boxType;
        bool unzips;
        std::string landsIn = ""; // below {out}: where the typed folder's files land
    } rows[] = {
        {"the trailer folder", "", "1252", result, 0, true},
        // In UTF-8 the field's 260 characters may need more bytes than the
        // folder buffer holds: such a folder is refused whole, not cut.
        {"a Cyrillic folder in UTF-8", "\"{out}/\xD0\x94\xD0\xBE\xD0\xBA\"", "65001", result, 0,
         true, "/Док"},
        {"260 Cyrillic characters in UTF-8: more bytes than the folder holds",
         "\"{out}/" + Repeated("\\xD0\\xB4", 130) + "\"", "65001",
         "The selected folder is too long, please choose a shorter folder.", kErrorIcon, false},
        {"an empty folder field", "\"\"", "1252", "No folder specified.", kErrorIcon, false},
        {"a double-byte character with 0x5C under code page 932", "\"{out}\\x95\\x5Cx\"", "932",
         unsafe, kErrorIcon, false},
        {"the same bytes under code page 1252", "\"{out}\\x95\\x5Cx\"", "1252", result, 0, true},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = test::TempDir("out") + "/unzipped";
        std::string package =
            MakePackage(PythonZip(TwoFiles(), true), {"--folder=" + out}, "setup.exe", "");
        std::string script = "dialog \"Morvik\"\n";
        if (!row.typed.empty()) {
            std::string typed = row.typed;
            size_t at = typed.find("{out}");
            if (at != std::string::npos)
                typed.replace(at, 5, out);
            script += "type 106 " + typed + "\n";
        }
        script += "press 1\n"
                  "box any \"\" -> ok\n"
                  "expect enabled 1\n"
                  "expect default 2\n" +
                  std::string(row.unzips ? "expect text 109 \"" + result + "\"\n" : "") +
                  "press 2\n";
        test::StubRun run =
            test::RunStub(package, {}, script, {{"MORVIK_ANSI_CODEPAGE", row.codePage}});
        // A refused folder and then Close: nothing was unzipped.
        EXPECT_EQ(run.process.exitCode, row.unzips ? 0 : 1) << Describe(run);
        std::vector<ShownBox> boxes = Boxes(run.transcript);
        ASSERT_EQ(boxes.size(), 1u) << Describe(run);
        EXPECT_EQ(boxes[0].text, row.boxText);
        EXPECT_EQ(boxes[0].type, row.boxType);
        EXPECT_EQ(boxes[0].caption, kTitle);
        EXPECT_EQ(boxes[0].owner, kOwner);
        EXPECT_EQ(Contains(run.transcript, "Password"), false);
        if (row.typed.empty() || !row.landsIn.empty()) {
            EXPECT_EQ(test::ReadFile(out + row.landsIn + "/sub/b.txt"), "bravo\n") << Describe(run);
        }
        if (!row.unzips) {
            EXPECT_FALSE(test::Exists(out)) << "nothing is unzipped";
        }
    }
}

// ---- the password dialog --------------------------------------------------------------------

// Whether `password` passes the one-byte check of the archive's first member.
// Info-ZIP's encryption headers are random, so a wrong password passes now
// and then; a test that needs a refusal makes the archive again.
bool PassesCheck(const std::string &zip, const std::string &password) {
    auto u16 = [&](size_t at) { return (unsigned)(uint8_t)zip[at] | (uint8_t)zip[at + 1] << 8; };
    const z_crc_t *table = get_crc_table();
    uint32_t k[3] = {0x12345678u, 0x23456789u, 0x34567890u};
    auto update = [&](uint8_t b) {
        k[0] = table[(k[0] ^ b) & 0xFF] ^ (k[0] >> 8);
        k[1] = (k[1] + (k[0] & 0xFF)) * 134775813u + 1;
        k[2] = table[(k[2] ^ (k[1] >> 24)) & 0xFF] ^ (k[2] >> 8);
    };
    for (char c : password)
        update((uint8_t)c);
    size_t data = 30 + u16(26) + u16(28);
    uint8_t plain = 0;
    for (size_t i = 0; i < 12; i++) {
        uint32_t t = (k[2] & 0xFFFF) | 2;
        plain = (uint8_t)zip[data + i] ^ (uint8_t)(((t * (t ^ 1)) & 0xFFFF) >> 8);
        update(plain);
    }
    uint8_t check = (u16(6) & 8) ? (uint8_t)(u16(10) >> 8) : (uint8_t)zip[17];
    return plain == check;
}

TEST(UiPassword, CancelEmptyOkAndLongPasswords) {
    std::string password254;
    for (int i = 0; i < 254; ++i)
        password254 += (char)('a' + i % 26);
    const std::string passwordDialog = "dialog \"Morvik Self-Extractor - Password\"\n";
    struct Row {
        const char *what;
        std::string password; // of the archive
        std::string steps;    // in the password dialog
        std::string after;    // back in the main dialog
        bool unzips;
        int exitCode;
    } rows[] = {
        {"Cancel: Unzip enabled again, nothing unzipped", "secret", "escape\n",
         "dialog \"Morvik Self-Extractor - setup\"\nexpect enabled 1\nexpect default 2\n"
         "press 2\n",
         false, 1},
        {"OK with an empty field does nothing", "secret",
         "press 1\n" + passwordDialog + "type 402 \"secret\"\npress 1\n",
         "box ok \"2 file(s) unzipped successfully\" -> ok\npress 2\n", true, 0},
        {"300 characters typed: the first 254 count", password254,
         "type 402 \"" + password254 + std::string(46, 'Z') + "\"\npress 1\n",
         "box ok \"2 file(s) unzipped successfully\" -> ok\npress 2\n", true, 0},
        {"253 characters are another password", password254,
         "type 402 \"" + password254.substr(0, 253) + "\"\npress 1\n",
         "box ok \"Incorrect password specified\" icon=error -> ok\n", false, 2},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = test::TempDir("out") + "/unzipped";
        std::string zip = EncryptedZip(TwoFiles(), row.password, {});
        while (!row.unzips && row.password == password254 &&
               PassesCheck(test::ReadFile(zip), password254.substr(0, 253)))
            zip = EncryptedZip(TwoFiles(), row.password, {});
        std::string package = MakePackage(zip, {"--encrypted", "--folder=" + out}, "setup.exe", "");
        test::StubRun run =
            test::RunStub(package, {}, "press 1\n" + passwordDialog + row.steps + row.after);
        EXPECT_EQ(run.process.exitCode, row.exitCode) << Describe(run);
        EXPECT_EQ(test::Exists(out + "/sub/b.txt"), row.unzips) << Describe(run);
        if (row.unzips) {
            EXPECT_EQ(test::ReadFile(out + "/a.txt"), "alpha\n");
        }
    }
}

// ---- the overwrite prompt -------------------------------------------------------------------

TEST(UiOverwritePrompt, YesNoCancelAndTheCheckBox) {
    struct Row {
        const char *what;
        std::string steps; // before Unzip, then at the prompt
        std::string answer;
        std::string a;   // a.txt afterwards
        bool bUnzipped;  // b.txt afterwards
        std::string end; // after the run
    } rows[] = {
        {"Yes replaces the file", "", "yes", "alpha\n", true,
         "box ok \"2 file(s) unzipped successfully\" -> ok\npress 2\n"},
        {"No skips it", "", "no", "old\n", true,
         "box ok \"1 file(s) unzipped successfully\" -> ok\npress 2\n"},
        {"Cancel ends the run and the dialog", "", "cancel", "old\n", false, ""},
        {"the check box answers for the user", "check 102\n", "", "alpha\n", true,
         "box ok \"2 file(s) unzipped successfully\" -> ok\npress 2\n"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = test::TempDir("out");
        test::WriteFile(out + "/a.txt", "old\n");
        std::string package =
            MakePackage(PythonZip({{"a.txt", "alpha\n"}, {"b.txt", "bravo\n"}}, true),
                        {"--folder=" + out}, "setup.exe", "");
        std::string script = row.steps + "press 1\n";
        if (!row.answer.empty())
            script +=
                "box yesnocancel /^File .*a\\.txt already exists\\.  Overwrite file\\?$/ -> " +
                row.answer + "\n";
        test::StubRun run = test::RunStub(package, {}, script + row.end);
        // Cancel ends it without an error.
        EXPECT_EQ(run.process.exitCode, row.answer == "cancel" ? 1 : 0) << Describe(run);
        EXPECT_EQ(test::ReadFile(out + "/a.txt"), row.a);
        EXPECT_EQ(test::Exists(out + "/b.txt"), row.bUnzipped);
        if (!row.answer.empty()) {
            EXPECT_EQ(Boxes(run.transcript).at(0).owner, kOwner);
        }
    }
}

// ---- the abort question ---------------------------------------------------------------------

TEST(UiAbortQuestion, NoGoesOnYesEndsTheRun) {
    std::string out = test::TempDir("out");
    std::string package =
        MakePackage(PythonZip({{"big.bin", Noise(300000, 11)}, {"last.txt", "last\n"}}, true),
                    {"--folder=" + out}, "setup.exe", "");
    const std::string question = "box yesno /^Abort unzip operation\\?$/ icon=question default=no";
    // A character without its key-transition bit is dropped; a click on
    // Close or a key on the dialog asks. The hourglass shows all along.
    test::StubRun run = test::RunStub(package, {},
                                      "press 1\n"
                                      "polls 3\n"
                                      "expect cursor wait\n"
                                      "char 106 x\n"
                                      "polls 2\n"
                                      "click 2\n" +
                                          question + " -> no\n" +
                                          "polls 3\n"
                                          "expect cursor wait\n"
                                          "key dialog space\n" +
                                          question + " -> yes\n");
    EXPECT_EQ(run.process.exitCode, 2) << Describe(run); // an abort

    std::vector<ShownBox> boxes = Boxes(run.transcript);
    ASSERT_EQ(boxes.size(), 2u) << "no result box after an abort\n" << Describe(run);
    for (const ShownBox &box : boxes) {
        EXPECT_EQ(box.type, 0x124u);
        EXPECT_EQ(box.owner, kOwner);
    }
    EXPECT_TRUE(Contains(run.transcript, "dialog ended"));
    // What was written stays; the run stopped inside the big member.
    EXPECT_LT(test::ReadFile(out + "/big.bin").size(), 300000u);
    EXPECT_FALSE(test::Exists(out + "/last.txt"));
}

// ---- the delayed progress meter -------------------------------------------------------------

const char kMeterAtOnce[] = "press 1\n"
                            "polls 1\n"
                            "expect visible 201\n"
                            "expect hidden 109\n"
                            "box ok \"file(s) unzipped successfully\" -> ok\n"
                            "expect hidden 201\n"
                            "press 2\n";
const char kMeterDelayed[] = "press 1\n"
                             "polls 1\n"
                             "expect hidden 201\n"
                             "expect visible 109\n"
                             "box ok \"file(s) unzipped successfully\" -> ok\n"
                             "expect hidden 201\n"
                             "press 2\n";

// The boundary rows of the size rule (0x7FFFF, 0x80000, offsets read as
// signed) are in the in-process tests, which set endRecordOffset directly:
// the stub itself is larger than 0x80000 bytes, so no package can hold its
// end record below that.
TEST(UiDelayedMeter, SmallPackagesWaitLargeOrSpannedShowAtOnce) {
    std::string zip = PythonZip(SmallThenBig(), true);
    auto Folder = [] { return "--folder=" + test::TempDir("out"); };
    std::string small = MakePackage(zip, {Folder()}, "setup.exe", "");
    MakeSmall(small);
    std::string large = MakePackage(zip, {Folder()}, "setup.exe", "");
    ASSERT_GE(ReadHeader(test::ReadFile(large)).endRecordOffset, 0x80000u);

    std::string spanOut = test::TempDir("span");
    test::PackOrFail(zip, spanOut + "/setup.exe", {"--spanned", Folder()});
    std::string devices = test::TempDir("dosdevices");
    ASSERT_EQ(symlink((spanOut + "/disk1").c_str(), (devices + "/a:").c_str()), 0);
    std::string spanned = spanOut + "/disk1/setup.EXE";
    MakeSmall(spanned); // small, but spanned

    struct Row {
        const char *what;
        std::string package;
        bool delayed;
    } rows[] = {
        {"end record at 0", small, true},
        {"end record far beyond", large, false},
        {"spanned", spanned, false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        test::StubRun run =
            test::RunStub(row.package, {}, row.delayed ? kMeterDelayed : kMeterAtOnce,
                          {{"MORVIK_DOSDEVICES", devices}});
        EXPECT_EQ(run.process.exitCode, 0) << Describe(run);
        EXPECT_EQ(Contains(run.transcript, "timer 69 set: 500"), row.delayed) << Describe(run);
    }
}

TEST(UiDelayedMeter, TicksBeforeDuringAndAfterARun) {
    const std::string result = "box ok \"file(s) unzipped successfully\" -> ok\n";
    struct Row {
        const char *what;
        bool existingA, encrypted;
        std::string script;
        std::function<void(const std::string &transcript)> check;
    } rows[] = {
        {"a tick early in the run shows the meter", false, false,
         "press 1\npolls 2\nadvance 500\npolls 1\nexpect visible 201\nexpect hidden 109\n" +
             result + "expect hidden 201\npress 2\n",
         [](const std::string &t) { EXPECT_EQ(Count(t, "timer 69 tick"), 1u); }},
        {"a tick past a third of the data leaves the status line", false, false,
         "press 1\npolls 100\nadvance 500\npolls 1\nexpect hidden 201\nexpect visible 109\n"
         "expect text 109 \"Unzipping big.bin\"\n" +
             result + "press 2\n",
         [](const std::string &t) {
             EXPECT_EQ(Count(t, "timer 69 tick"), 1u);
             EXPECT_LT(t.find("timer 69 tick"), t.find("timer 69 killed"));
         }},
        {"a tick while the overwrite box is open is ignored", true, false,
         "press 1\nbox yesnocancel \"already exists\"\nadvance 500\nexpect hidden 201\n"
         "answer yes\npolls 1\nexpect hidden 201\nadvance 500\npolls 1\nexpect visible 201\n" +
             result + "press 2\n",
         [](const std::string &t) { EXPECT_EQ(Count(t, "timer 69 tick"), 2u); }},
        {"a tick under the password dialog is ignored; after Cancel it stops the timer", false,
         true,
         "press 1\ndialog \"Password\"\nadvance 500\nescape\ndialog \"setup.exe\"\n"
         "expect hidden 201\nadvance 500\nexpect hidden 201\nexpect visible 109\n"
         "advance 500\npress 2\n",
         [](const std::string &t) {
             EXPECT_EQ(Count(t, "timer 69 tick"), 2u) << "no tick after the timer stopped";
             EXPECT_EQ(Count(t, "timer 69 killed"), 1u);
             EXPECT_LT(t.rfind("timer 69 tick"), t.find("timer 69 killed"));
         }},
        {"no tick after a run that ended first", false, false,
         "press 1\n" + result + "advance 1000\nexpect hidden 201\npress 2\n",
         [](const std::string &t) {
             EXPECT_EQ(Count(t, "timer 69 tick"), 0u);
             EXPECT_EQ(Count(t, "timer 69 killed"), 1u);
         }},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = test::TempDir("out");
        if (row.existingA)
            test::WriteFile(out + "/a.txt", "old\n");
        std::string zip = row.encrypted ? EncryptedZip(SmallThenBig(), "pw", {})
                                        : PythonZip(SmallThenBig(), true);
        std::vector<std::string> options = {"--folder=" + out};
        if (row.encrypted)
            options.push_back("--encrypted");
        std::string package = MakePackage(zip, options, "setup.exe", "");
        MakeSmall(package);
        test::StubRun run = test::RunStub(package, {}, row.script);
        // Closed after the password dialog's Cancel: nothing was unzipped.
        EXPECT_EQ(run.process.exitCode, row.encrypted ? 1 : 0) << Describe(run);
        row.check(run.transcript);
    }
}

// ---- auto mode ------------------------------------------------------------------------------

uint32_t Crc32(const std::string &bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char c : bytes) {
        crc ^= c;
        for (int k = 0; k < 8; ++k)
            crc = (crc & 1) ? 0xEDB88320u ^ (crc >> 1) : crc >> 1;
    }
    return ~crc;
}

TEST(UiAutoMode, CompletedRunClosesFailedRunAborts) {
    // Stored members, so that a changed byte of data is a changed byte of a file.
    std::string zip = PythonZip({{"a.txt", "alpha\n"}, {"b.txt", "bravo\n"}}, false);
    char damaged[32];
    snprintf(damaged, sizeof damaged, "%08x (should be %08x)", Crc32("alphb\n"), Crc32("alpha\n"));
    struct Row {
        const char *what;
        bool damage;
        std::string script;
        bool bUnzipped;
    } rows[] = {
        {"completed: no box, the dialog closes", false, "", true},
        {"failed: the error box, then the dialog ends", true,
         "box ok \"Bad CRC\" icon=error -> ok\n", false},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = test::TempDir("out");
        std::string package = MakePackage(zip, {"--auto", "--folder=" + out}, "setup.exe", "");
        if (row.damage) {
            std::string bytes = test::ReadFile(package);
            size_t at = bytes.find("alpha\n", ReadHeader(bytes).archiveOffset);
            ASSERT_NE(at, std::string::npos);
            bytes[at + 4] = 'b';
            test::WriteFile(package, bytes);
        }
        test::StubRun run = test::RunStub(package, {}, row.script);
        EXPECT_EQ(run.process.exitCode, row.damage ? 2 : 0) << Describe(run);
        EXPECT_TRUE(Contains(run.transcript, "dialog ended")) << Describe(run);
        EXPECT_EQ(test::Exists(out + "/b.txt"), row.bUnzipped);
        std::vector<ShownBox> boxes = Boxes(run.transcript);
        if (!row.damage) {
            EXPECT_TRUE(boxes.empty()) << Describe(run);
            continue;
        }
        ASSERT_EQ(boxes.size(), 1u) << Describe(run);
        EXPECT_EQ(boxes[0].text.rfind("ZIP damaged: file ", 0), 0u) << boxes[0].text;
        EXPECT_TRUE(Contains(boxes[0].text, std::string("a.txt: Bad CRC ") + damaged +
                                                ".  Possible cause: file transfer error."))
            << boxes[0].text;
        EXPECT_EQ(boxes[0].owner, kOwner);
    }
}

// ---- a second Unzip -------------------------------------------------------------------------

TEST(UiMainDialog, SecondUnzipCountsAgainAndAsksForThePasswordWhenNeeded) {
    const std::string password = "dialog \"Password\"\ntype 402 \"pw\"\npress 1\n";
    const std::string two = "box ok /^2 file\\(s\\) unzipped successfully$/ -> ok\n";
    struct Row {
        const char *what;
        std::string zip;
        bool encrypted;
        std::string secondRun; // after Unzip is pressed again
    } rows[] = {
        {"plain archive", PythonZip(TwoFiles(), true), false, two},
        {"last member encrypted: asked again", EncryptedZip(TwoFiles(), "pw", {}), true,
         password + two},
        {"last member plain: not asked, the password is kept",
         EncryptedZip({{"a.txt", "alpha\n"}}, "pw", {{"sub/b.txt", "bravo\n"}}), true, two},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = test::TempDir("out");
        std::vector<std::string> options = {"--folder=" + out};
        if (row.encrypted)
            options.push_back("--encrypted");
        std::string package = MakePackage(row.zip, options, "setup.exe", "");
        std::string script = "press 1\n" + (row.encrypted ? password : "") + two +
                             "expect default 2\n"
                             "expect enabled 1\n"
                             "check 102\n"
                             "press 1\n" +
                             row.secondRun + "expect default 2\npress 2\n";
        test::StubRun run = test::RunStub(package, {}, script);
        EXPECT_EQ(run.process.exitCode, 0) << Describe(run);
        EXPECT_EQ(test::ReadFile(out + "/a.txt"), "alpha\n");
        EXPECT_EQ(test::ReadFile(out + "/sub/b.txt"), "bravo\n");
    }
}

// ---- About and Help -------------------------------------------------------------------------

TEST(UiMainDialog, AboutAndHelpTexts) {
    std::string package = MakePackage(PythonZip(TwoFiles(), true), {"--folder=x"}, "setup.exe", "");
    test::StubRun run = test::RunStub(package, {},
                                      "press 112\n"
                                      "box ok \"Morvik Self-Extractor\" -> ok\n"
                                      "press 104\n"
                                      "box ok \"setup.exe\" -> ok\n"
                                      "dialog \"Morvik\"\n"
                                      "press 2\n");
    EXPECT_EQ(run.process.exitCode, 1) << Describe(run); // closed, nothing unzipped
    std::vector<ShownBox> boxes = Boxes(run.transcript);
    ASSERT_EQ(boxes.size(), 2u) << Describe(run);
    for (const ShownBox &box : boxes) {
        EXPECT_EQ(box.caption, kTitle);
        EXPECT_EQ(box.type, 0u);
        EXPECT_EQ(box.owner, kOwner);
    }
    EXPECT_EQ(boxes[0].text.rfind("This self-extracting Zip file was created by the Morvik "
                                  "Self-Extractor",
                                  0),
              0u)
        << boxes[0].text;
    const std::string rights = test::InAnsi("\n\nCopyright (c) Quillvale Data Works, Zürich. All "
                                            "rights reserved.");
    EXPECT_EQ(
        boxes[0].text.substr(boxes[0].text.size() - std::min(boxes[0].text.size(), rights.size())),
        rights)
        << "the About text's u-umlaut in the ANSI code page";
    EXPECT_EQ(boxes[1].text,
              "To unzip all files in setup.exe press the \"Unzip\" button. Files will be unzipped "
              "to the folder specified in the \"Unzip To Folder\" field. This folder will be "
              "created if it does not exist.\n\nYou can also unzip this file with a standard zip "
              "utility like Morvik or PKUNZIP.");
}

// ---- Run Morvik -----------------------------------------------------------------------------

TEST(UiRunMorvik, RegistryValueShiftKeyAndSpannedSets) {
    // The command is built in a 268-byte buffer from the program's path and
    // the package's: both lie under a short folder of the test's own, so
    // that the command fits wherever the checkout lies.
    std::string tools = test::ShortTempDir();
    std::string program = tools + "/morvik-manager";
    std::string missing = tools + "/not-installed";
    test::WriteFile(program, "#!/bin/sh\n"
                             "printf '%s\\n' \"$#\" \"$@\" > \"$0.args.tmp\" && "
                             "mv \"$0.args.tmp\" \"$0.args\"\n");
    test::Shell("chmod +x '" + program + "'");
    const std::string key = "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=";
    const std::string notFound = "box ok \"Morvik not found on your system.\" -> ok\npress 2\n";

    std::string zip = PythonZip(TwoFiles(), true);
    std::string plain = tools + "/setup.exe";
    ASSERT_EQ(test::Pack(zip, plain, {"--folder=x"}).exitCode, 0);
    std::string spanOut = test::TempDir("span");
    test::PackOrFail(zip, spanOut + "/setup.exe", {"--spanned", "--folder=x"});
    std::string devices = test::TempDir("dosdevices");
    ASSERT_EQ(symlink((spanOut + "/disk1").c_str(), (devices + "/a:").c_str()), 0);
    // The usual registration quotes a program path that holds blanks.
    test::MakeDirs(tools + "/Morvik Dir");
    const std::string spaced = tools + "/Morvik Dir/morvik manager";
    test::Shell("cp '" + program + "' '" + spaced + "'");
    // A package whose path a shell would take for commands.
    const std::string home = test::TempDir("home");
    const std::string witness = home + ".ran";
    std::string tricky = tools + "/p$(touch $HOME.ran)`touch $HOME.ran`.exe";
    ASSERT_EQ(test::Pack(zip, tricky, {"--folder=x"}).exitCode, 0);

    struct Row {
        const char *what;
        std::string registry; // "" for no value
        std::string package;
        std::string script;       // after the dialog opened
        std::string handedOver;   // "" when the program is not started
        std::string started = ""; // the program that reports; "" for `program`
    } rows[] = {
        {"a quoted program path with blanks", key + "\"" + spaced + "\" \"%1\"", plain,
         "press 113\n", RealPath(plain), spaced},
        {"a quoted program path and nothing after it", key + "\"" + spaced + "\"", plain,
         "press 113\n", RealPath(plain), spaced},
        {"an empty value: not registered", key, plain, "press 113\n" + notFound, ""},
        {"a key without a default value: not registered",
         "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command", plain, "press 113\n" + notFound, ""},
        {"a value starting with a blank names no program", key + " %1", plain,
         "press 113\n" + notFound, ""},
        {"no shell sees the package path", key + program + " %1", tricky, "press 113\n",
         RealPath(tricky)},
        {"not registered", "", plain, "press 113\n" + notFound, ""},
        {"program and %1", key + program + " %1", plain, "press 113\n", RealPath(plain)},
        {"whatever follows the blank is replaced", key + program + " /open \"%1\"", plain,
         "press 113\n", RealPath(plain)},
        {"a value without a blank gets one", key + program, plain, "press 113\n", RealPath(plain)},
        {"Shift held", key + program + " %1", plain, "shift down\npress 113\n" + notFound, ""},
        {"program missing: no message, the dialog stays", key + missing + " %1", plain,
         "press 113\npress 2\n", ""},
        {"a spanned set on .ZIP volumes", key + program + " %1", spanOut + "/disk1/setup.EXE",
         "press 113\n", "A:\\setup.zip"},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string registry = test::TempDir("registry") + "/registry.txt";
        test::WriteFile(registry, row.registry.empty() ? "" : row.registry + "\n");
        const std::string reporter = row.started.empty() ? program : row.started;
        test::ProcessResult cleared =
            test::Run({"rm", "-f", program + ".args", spaced + ".args", witness});
        ASSERT_EQ(cleared.exitCode, 0);
        test::StubRun run = test::RunStub(
            row.package, {}, "dialog \"Morvik\"\n" + row.script,
            {{"MORVIK_REGISTRY", registry}, {"MORVIK_DOSDEVICES", devices}, {"HOME", home}});
        // Handed over or closed: this program unzipped nothing.
        EXPECT_EQ(run.process.exitCode, 1) << Describe(run);
        std::vector<ShownBox> boxes = Boxes(run.transcript);
        if (Contains(row.script, "not found")) {
            ASSERT_EQ(boxes.size(), 1u) << Describe(run);
            EXPECT_EQ(boxes[0].text.rfind("Morvik not found on your system.\n\n", 0), 0u);
            EXPECT_EQ(boxes[0].type, 0u);
        } else {
            EXPECT_TRUE(boxes.empty()) << Describe(run);
        }
        if (row.handedOver.empty()) {
            EXPECT_FALSE(test::Exists(program + ".args"));
            EXPECT_FALSE(test::Exists(spaced + ".args"));
            continue;
        }
        // The program runs on its own; wait for what it writes, within bounds.
        for (int i = 0; i < 500 && !test::Exists(reporter + ".args"); ++i)
            usleep(20000);
        EXPECT_EQ(test::ReadFile(reporter + ".args"), "1\n" + row.handedOver + "\n")
            << Describe(run);
        EXPECT_FALSE(test::Exists(witness)) << "a shell ran part of the command";
    }
    if (!HasFailure())
        test::Run({"rm", "-rf", "--", tools});
}

} // namespace

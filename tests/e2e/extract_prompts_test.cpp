// The questions a run asks: whether to overwrite a file that exists, and,
// when the user clicks or types on the dialog while the run writes, whether
// to abort it.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

using Files = std::map<std::string, std::string>;

struct Archive {
    std::string dir, package;
    Files files;
};

// A stored archive of `files` made by Info-ZIP zip, in the order given
// (`zipOptions` added), in a package.
Archive MakePackage(const std::vector<std::pair<std::string, std::string>> &files,
                    const std::vector<std::string> &packOptions = {},
                    const std::string &zipOptions = "") {
    Archive a;
    a.dir = test::TempDir("prompt");
    std::string names;
    for (const auto &[name, content] : files) {
        a.files[name] = content;
        names += " " + name;
    }
    WriteTree(a.dir + "/src", a.files, kSourceTime);
    test::MakeArchive("TZ=UTC zip -q -0 " + zipOptions + " {zip}" + names, a.dir + "/src",
                      a.dir + "/archive.zip");
    a.package = a.dir + "/package";
    test::PackOrFail(a.dir + "/archive.zip", a.package, packOptions);
    return a;
}

struct OverwriteCase {
    const char *label;
    std::vector<std::string> packOptions;
    std::string beforeUnzip;
    std::string answer; // the button that answers the question; "" = no question
    bool encrypted = false;
};
// Test lists and failures name the case by its label.
void PrintTo(const OverwriteCase &c, std::ostream *out) {
    *out << c.label;
}

class ExtractOverwrite : public ::testing::TestWithParam<OverwriteCase> {};

// second.txt exists already, longer than the member; Yes rewrites it (cut
// to the member's length), No keeps it and goes on, Cancel keeps it and
// ends the run without another box; with the option
// (from the package or ticked by the user) nobody is asked. An encrypted
// member declined is stepped over whole, with its data descriptor (Info-ZIP
// zip sets flag bit 3 on encrypted members), and the next one is read.
TEST_P(ExtractOverwrite, AsksBeforeAnExistingFileIsReplaced) {
    const OverwriteCase &c = GetParam();
    Archive a = MakePackage({{"first.txt", TextBytes(900, 51)},
                             {"second.txt", TextBytes(5000, 52)},
                             {"third.txt", TextBytes(700, 53)}},
                            c.packOptions, c.encrypted ? "-P secret" : "");
    RemovedIfPassed cleanup{a.dir};
    std::string out = a.dir + "/out";
    test::MakeDirs(out);
    // The old file is longer than the member: a file rewritten must be cut
    // to the member's length.
    const std::string old = "the old second file\n" + TextBytes(12000, 54);
    test::WriteFile(out + "/second.txt", old);

    std::string question =
        "File " + WindowsForm(out + "/second.txt") + " already exists.  Overwrite file?";
    std::string steps = c.encrypted ? PasswordSteps() : "";
    std::vector<BoxSeen> boxes;
    if (!c.answer.empty()) {
        steps += "box yesnocancel " + Quoted(question) + " -> " + c.answer + "\n";
        boxes.push_back({question, kOverwriteBox,
                         c.answer == "yes"  ? "Yes"
                         : c.answer == "no" ? "No"
                                            : "Cancel"});
    }
    bool cancelled = c.answer == "cancel";
    int written = c.answer == "no" ? 2 : 3;
    if (!cancelled) {
        steps += CompletedSteps(written);
        boxes.push_back({std::to_string(written) + " file(s) unzipped successfully", 0, "OK"});
    }
    test::StubRun run = RunInDialog(a.package, out, steps, {}, c.beforeUnzip);
    EXPECT_RUN_EXIT(run, cancelled ? 1 : 0); // Cancel ends it without an error
    EXPECT_EQ(BoxesShown(run.transcript), boxes);

    Files expected = a.files;
    if (c.answer == "no" || cancelled)
        expected["second.txt"] = old;
    if (cancelled)
        expected.erase("third.txt");
    EXPECT_TREE(out, expected);
    if (expected["second.txt"] == a.files["second.txt"]) {
        EXPECT_EQ(test::ModifiedTime(out + "/second.txt"),
                  test::ModifiedTime(a.dir + "/src/second.txt"));
    }
    if (cancelled) { // no other box, and the dialog closes: "Unzip Aborted"
        EXPECT_EQ(LastLine(run.transcript).rfind("dialog ended", 0), 0u) << run.transcript;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ExtractOverwrite,
    ::testing::Values(OverwriteCase{"Yes", {}, "", "yes"}, OverwriteCase{"No", {}, "", "no"},
                      OverwriteCase{"Cancel", {}, "", "cancel"},
                      OverwriteCase{"PackageOption", {"--overwrite"}, "", ""},
                      OverwriteCase{"CheckBoxTicked", {}, "check 102\n", ""},
                      OverwriteCase{"NoToEncryptedMember", {"--encrypted"}, "", "no", true}),
    [](const ::testing::TestParamInfo<OverwriteCase> &info) {
        return std::string(info.param.label);
    });

struct AbortCase {
    const char *label;
    std::string input;  // injected while the run writes
    std::string answer; // to "Abort unzip operation?"; "" = not asked
};
// Test lists and failures name the case by its label.
void PrintTo(const AbortCase &c, std::ostream *out) {
    *out << c.label;
}

class ExtractAbortPoll : public ::testing::TestWithParam<AbortCase> {};

// After every write the stub looks at the queue: a click or key on the
// dialog asks "Abort unzip operation?" (No is the default). Yes ends the run
// at once, leaving the file being written as far as it got; No lets it go
// on, and the click has no other effect: the dialog stays open.
TEST_P(ExtractAbortPoll, AsksWhetherToAbortOnInputDuringTheRun) {
    const AbortCase &c = GetParam();
    Archive a = MakePackage({{"first.txt", TextBytes(1500, 61)},
                             {"big.bin", NoiseBytes(600000, 62)},
                             {"last.txt", TextBytes(700, 63)}});
    RemovedIfPassed cleanup{a.dir};
    std::string out = a.dir + "/out";
    const int poll = 40; // first.txt takes one write, big.bin one per 2048 bytes

    std::string steps = "polls " + std::to_string(poll) + "\n" + c.input + "\n";
    std::vector<BoxSeen> boxes;
    if (!c.answer.empty()) {
        steps +=
            "box yesno \"Abort unzip operation?\" icon=question default=no -> " + c.answer + "\n";
        boxes.push_back(
            {"Abort unzip operation?", kAbortQuestion, c.answer == "yes" ? "Yes" : "No"});
    }
    bool aborted = c.answer == "yes";
    if (!aborted) {
        // The input did nothing else: the folder field holds what was typed.
        steps += "box ok \"3 file(s) unzipped successfully\" -> ok\n"
                 "expect text 106 /out$/\n"
                 "press 2\n";
        boxes.push_back({"3 file(s) unzipped successfully", 0, "OK"});
    }
    test::StubRun run = RunInDialog(a.package, out, steps);
    EXPECT_RUN_EXIT(run, aborted ? 2 : 0); // an abort is a failure to the caller
    EXPECT_EQ(BoxesShown(run.transcript), boxes);

    Files expected = a.files;
    if (aborted) {
        expected["big.bin"] = a.files["big.bin"].substr(0, (poll - 1) * 2048);
        expected.erase("last.txt");
    }
    EXPECT_TREE(out, expected);
    if (aborted) { // the dialog closes: "Unzip Aborted"
        EXPECT_EQ(LastLine(run.transcript).rfind("dialog ended", 0), 0u) << run.transcript;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Input, ExtractAbortPoll,
    ::testing::Values(AbortCase{"ClickOnCloseYes", "click 2", "yes"},
                      AbortCase{"ClickOnCloseNo", "click 2", "no"},
                      AbortCase{"EscapeOnDialogYes", "key dialog escape", "yes"},
                      AbortCase{"KeyInFolderFieldNo", "key 106 a", "no"},
                      AbortCase{"CharWithTransitionBitYes", "char 106 x lparam=0x80000001", "yes"},
                      // A WM_CHAR whose bit 31 is clear is dropped unasked.
                      AbortCase{"CharWithoutTransitionBit", "char 106 x", ""},
                      // A click or double click on the title bar (HTCAPTION).
                      AbortCase{"TitleBarClickYes", "post dialog 0x00A1 2", "yes"},
                      AbortCase{"TitleBarDoubleClickNo", "post dialog 0x00A3 2", "no"},
                      AbortCase{"DoubleClickOnCloseYes", "post 2 0x0203", "yes"},
                      AbortCase{"VKeyToItemNo", "post dialog 0x002E", "no"},
                      // Other input is dispatched: a right click asks nothing.
                      AbortCase{"RightClickOnClose", "post 2 0x0204", ""}),
    [](const ::testing::TestParamInfo<AbortCase> &info) { return std::string(info.param.label); });

} // namespace

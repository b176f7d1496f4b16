// Archives spanned over disks: the package is started from drive A: (a drive
// link of the host), and the scripted user swaps disks by relinking A: to the
// folder of the next disk when the stub asks for it. Volume sizes are chosen
// from the archive's layout so that member data breaks inside a 2048-byte
// block, or exactly at its end.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

const uint32_t kBlock = 2048;

enum class Kind { Stored, Encrypted, Deflated, Aes };

struct SpanSet {
    std::string dir, devices, package;
    std::map<std::string, std::string> files;
    ZipLayout layout;
    int disks = 0;
    std::string Disk(int k) const { return dir + "/set/disk" + std::to_string(k); }
    std::string Out() const { return dir + "/out"; }
};

std::string InsertDiskText(int disk) {
    return "Please insert disk " + std::to_string(disk) + " in drive A:.";
}
std::string BadLabelText(int disk) {
    return "The disk in the drive appears to be\nmissing or has an incorrect label.\n"
           "Insert disk number " +
           std::to_string(disk) + ".";
}

// What the user is told to do, and the boxes that brings.
struct Steps {
    std::string script;
    std::vector<BoxSeen> boxes;
    void Password() { script += PasswordSteps(); }
    // Message 1 for `wanted`: put `insert` in the drive (unless empty), answer.
    void InsertDisk(int wanted, const std::string &insert, const std::string &answer = "OK") {
        script += "box okcancel " + Quoted(InsertDiskText(wanted)) + "\n";
        if (!insert.empty())
            script += "relink a: " + Quoted(insert) + "\n";
        script += "answer " + Lower(answer) + "\n";
        boxes.push_back({InsertDiskText(wanted), kOkCancelBox, answer});
    }
    // Message 4 (no label, or no disk) for `wanted`.
    void BadLabel(int wanted, const std::string &insert, const std::string &answer) {
        script += "box abortretryignore " + Quoted(BadLabelText(wanted)) +
                  " icon=question default=abort\n";
        if (!insert.empty())
            script += "relink a: " + Quoted(insert) + "\n";
        script += "answer " + Lower(answer) + "\n";
        boxes.push_back({BadLabelText(wanted), kDiskLabelBox, answer});
    }
    // Every disk from `from` to the last, in turn.
    void Remaining(const SpanSet &set, int from) {
        for (int k = from; k <= set.disks; k++)
            InsertDisk(k, set.Disk(k));
    }
    static std::string Lower(std::string s) {
        for (char &c : s)
            c = char(tolower(c));
        return s;
    }
};

struct SpanCase {
    const char *label;
    Kind kind;
    bool exeVolumes;
    // The sizes of the volumes, from the archive's layout.
    std::function<std::string(const ZipLayout &)> volumeSizes;
    std::function<void(const SpanSet &, Steps &)> user;
    bool completes; // else: first.txt whole, big.bin cut after 10 blocks
};
// Test lists and failures name the case by its label.
void PrintTo(const SpanCase &c, std::ostream *out) {
    *out << c.label;
}

// Where the blocks of big.bin's data start: behind the encryption header, or
// behind an AES member's 16-byte salt and 2-byte verifier (AES-256).
uint32_t BigBlocksAt(const ZipLayout &layout) {
    const LocalRecord &big = layout.Named("big.bin");
    uint32_t before = big.method == 99 ? 18 : (big.flags & 1) ? 12 : 0;
    return uint32_t(big.DataOffset() + before);
}
std::string MidBlock(const ZipLayout &layout) {
    return std::to_string(BigBlocksAt(layout) + 10 * kBlock + 1000) + ",100000";
}
std::string AtBlockEnd(const ZipLayout &layout) {
    return std::to_string(BigBlocksAt(layout) + 10 * kBlock) + ",100000";
}

int CountDisks(const std::string &setDir) {
    int disks = 0;
    while (test::Exists(setDir + "/disk" + std::to_string(disks + 1)))
        disks++;
    return disks;
}

SpanSet MakeSpanSet(const SpanCase &c, std::vector<std::string> options = {}) {
    SpanSet set;
    set.dir = test::TempDir("span");
    set.files = {{"first.txt", TextBytes(3000, 31)},
                 {"big.bin", NoiseBytes(300000, 32)},
                 {"last.txt", TextBytes(800, 33)}};
    if (c.kind == Kind::Deflated)
        set.files["text.txt"] = TextBytes(700000, 34);
    WriteTree(set.dir + "/src", set.files, kSourceTime);
    std::string zip = set.dir + "/archive.zip";
    const char *command =
        c.kind == Kind::Stored      ? "TZ=UTC zip -q -0 {zip} first.txt big.bin last.txt"
        : c.kind == Kind::Encrypted ? "TZ=UTC zip -q -0 -P secret {zip} first.txt big.bin last.txt"
        : c.kind == Kind::Aes       ? "TZ=UTC 7z a -tzip -bd -bso0 -mx0 -mem=AES256 -psecret {zip} "
                                      "first.txt big.bin last.txt"
                                    : "TZ=UTC zip -q -6 {zip} first.txt big.bin text.txt last.txt";
    test::MakeArchive(command, set.dir + "/src", zip);
    set.layout = ReadLayout(test::ReadFile(zip));

    options.push_back("--spanned");
    options.push_back("--volume-sizes=" + c.volumeSizes(set.layout));
    if (c.exeVolumes)
        options.push_back("--exe-volumes");
    if (c.kind == Kind::Encrypted || c.kind == Kind::Aes)
        options.push_back("--encrypted");
    test::PackOrFail(zip, set.dir + "/set/SETUP.EXE", options);
    set.disks = CountDisks(set.dir + "/set");
    set.devices = set.dir + "/dosdevices";
    test::MakeDirs(set.devices);
    EXPECT_EQ(symlink(set.Disk(1).c_str(), (set.devices + "/a:").c_str()), 0);
    set.package = set.devices + "/a:/SETUP.EXE";
    return set;
}

class ExtractSpannedSet : public ::testing::TestWithParam<SpanCase> {};

TEST_P(ExtractSpannedSet, AsksForEachDiskAndUnzipsAcrossThem) {
    const SpanCase &c = GetParam();
    SpanSet set = MakeSpanSet(c);
    RemovedIfPassed cleanup{set.dir};
    ASSERT_GE(set.disks, 2);
    // The volume files carry the package's name with ".ZIP", or ".EXE".
    for (int k = 1; k <= set.disks; k++) {
        char label[32];
        snprintf(label, sizeof label, "PKBACK# %03d", k);
        EXPECT_EQ(test::ReadFile(set.Disk(k) + "/.windows-label"), label);
        EXPECT_EQ(test::Exists(set.Disk(k) + "/SETUP.ZIP"), !c.exeVolumes) << k;
        EXPECT_EQ(test::Exists(set.Disk(k) + "/SETUP.EXE"), c.exeVolumes || k == 1) << k;
    }

    // The first volume holds exactly the archive bytes asked for, so that its
    // end falls where the case wants it.
    std::string sizes = c.volumeSizes(set.layout);
    if (sizes.find(',') != std::string::npos) {
        size_t first = std::stoul(sizes);
        std::string volume = set.Disk(1) + (c.exeVolumes ? "/SETUP.EXE" : "/SETUP.ZIP");
        size_t skipped = c.exeVolumes ? ArchiveOffset(test::ReadFile(volume)) : 0;
        EXPECT_EQ(test::ReadFile(volume).size() - skipped, first);
    }

    Steps steps;
    if (c.kind == Kind::Encrypted || c.kind == Kind::Aes)
        steps.Password();
    c.user(set, steps);
    test::StubRun run = test::RunStub(set.package, {"-auto", set.Out()}, steps.script,
                                      WithUtc({{"MORVIK_DOSDEVICES", set.devices}}));
    EXPECT_RUN_EXIT(run, c.completes ? 0 : 2); // Abort or Cancel at a disk prompt is an abort
    EXPECT_EQ(BoxesShown(run.transcript), steps.boxes);

    std::map<std::string, std::string> expected = set.files;
    if (!c.completes) {
        expected.erase("last.txt");
        expected["big.bin"] = set.files["big.bin"].substr(0, 10 * kBlock);
    }
    EXPECT_TREE(set.Out(), expected);
    if (c.completes) {
        for (const auto &entry : set.files)
            EXPECT_EQ(test::ModifiedTime(set.Out() + "/" + entry.first),
                      test::ModifiedTime(set.dir + "/src/" + entry.first))
                << entry.first;
    }
}

std::vector<SpanCase> SpanCases() {
    auto everyDisk = [](const SpanSet &set, Steps &steps) { steps.Remaining(set, 2); };
    return {
        {"DataContinuesInsideABlock", Kind::Stored, false, MidBlock, everyDisk, true},
        {"VolumeEndsAtABlockEnd", Kind::Stored, false, AtBlockEnd, everyDisk, true},
        {"DeflatedOverManyDisks", Kind::Deflated, false,
         [](const ZipLayout &) { return std::string("40K"); }, everyDisk, true},
        {"ExeVolumes", Kind::Stored, true, MidBlock, everyDisk, true},
        {"EncryptedMemberContinues", Kind::Encrypted, false, MidBlock, everyDisk, true},
        {"ExeVolumesEncryptedAtBlockEnd", Kind::Encrypted, true, AtBlockEnd, everyDisk, true},
        // AES: the counter and the authentication code run on across the
        // disks, wherever the volume ends: inside a block of data, inside the
        // salt, inside the verifier, or inside the code behind the data.
        {"AesMemberContinuesInsideABlock", Kind::Aes, false, MidBlock, everyDisk, true},
        {"AesExeVolumesAtBlockEnd", Kind::Aes, true, AtBlockEnd, everyDisk, true},
        {"AesSaltOnTwoDisks", Kind::Aes, false,
         [](const ZipLayout &l) {
             return std::to_string(l.Named("big.bin").DataOffset() + 5) + ",100000";
         },
         everyDisk, true},
        {"AesVerifierOnTwoDisks", Kind::Aes, false,
         [](const ZipLayout &l) {
             return std::to_string(l.Named("big.bin").DataOffset() + 17) + ",100000";
         },
         everyDisk, true},
        {"AesCodeOnTwoDisks", Kind::Aes, false,
         [](const ZipLayout &l) {
             const LocalRecord &big = l.Named("big.bin");
             return std::to_string(big.DataOffset() + big.compressedSize - 4) + ",100000";
         },
         everyDisk, true},
        {"AesCodeOnTheNextDisk", Kind::Aes, false,
         [](const ZipLayout &l) {
             const LocalRecord &big = l.Named("big.bin");
             return std::to_string(big.DataOffset() + big.compressedSize - 10) + ",100000";
         },
         everyDisk, true},
        // Disk 3 when disk 2 is wanted: message 1 asks for disk 2 again.
        {"WrongDiskFirst", Kind::Stored, false, MidBlock,
         [](const SpanSet &set, Steps &steps) {
             ASSERT_GE(set.disks, 3);
             steps.InsertDisk(2, set.Disk(3));
             steps.InsertDisk(2, set.Disk(2));
             steps.Remaining(set, 3);
         },
         true},
        // A disk without a label: message 4; Retry once the right disk is in.
        {"UnlabelledDiskThenRetry", Kind::Stored, false, MidBlock,
         [](const SpanSet &set, Steps &steps) {
             std::string blank = set.dir + "/blank";
             test::MakeDirs(blank);
             steps.InsertDisk(2, blank);
             steps.BadLabel(2, set.Disk(2), "Retry");
             steps.Remaining(set, 3);
         },
         true},
        // Ignore takes the unlabelled disk for the one wanted and reads it;
        // when disk 3 is wanted, the copy is still in the drive: message 4.
        {"UnlabelledCopyIgnored", Kind::Stored, false, MidBlock,
         [](const SpanSet &set, Steps &steps) {
             std::string copy = set.dir + "/copy";
             test::Shell("mkdir -p copy && cp set/disk2/SETUP.ZIP copy/", set.dir);
             steps.InsertDisk(2, copy);
             steps.BadLabel(2, "", "Ignore");
             steps.BadLabel(3, set.Disk(3), "Retry");
             steps.Remaining(set, 4);
         },
         true},
        {"CancelAtInsertDisk", Kind::Stored, false, MidBlock,
         [](const SpanSet &, Steps &steps) { steps.InsertDisk(2, "", "Cancel"); }, false},
        {"AbortAtBadLabel", Kind::Stored, false, MidBlock,
         [](const SpanSet &set, Steps &steps) {
             std::string blank = set.dir + "/blank";
             test::MakeDirs(blank);
             steps.InsertDisk(2, blank);
             steps.BadLabel(2, "", "Abort");
         },
         false},
    };
}

// A set of two disks whose first volume ends `firstVolume` bytes into the
// archive and whose second volume is cut to `keep` bytes; the user inserts
// disk 2 when asked, then meets `message`. first.txt is always whole.
struct CutShortCase {
    const char *label;
    std::function<size_t(const ZipLayout &)> firstVolume;
    size_t keep;
    std::function<std::string(const SpanSet &)> message;
    bool bigCut; // big.bin holds its first 10 blocks; else it is not made
};

void RunCutShort(const CutShortCase &c) {
    SCOPED_TRACE(c.label);
    SpanCase spanCase{
        c.label, Kind::Stored,
        false,   [&](const ZipLayout &l) { return std::to_string(c.firstVolume(l)) + ",1000000"; },
        nullptr, false};
    SpanSet set = MakeSpanSet(spanCase, {"--any-split"});
    RemovedIfPassed cleanup{set.dir};
    ASSERT_EQ(set.disks, 2);
    std::string volume = set.Disk(2) + "/SETUP.ZIP";
    test::WriteFile(volume, test::ReadFile(volume).substr(0, c.keep));

    Steps steps;
    steps.InsertDisk(2, set.Disk(2));
    std::string message = c.message(set);
    steps.script += ErrorStep(message);
    steps.boxes.push_back(ErrorBox(message));
    test::StubRun run = test::RunStub(set.package, {"-auto", set.Out()}, steps.script,
                                      WithUtc({{"MORVIK_DOSDEVICES", set.devices}}));
    EXPECT_RUN_EXIT(run, 2);
    EXPECT_EQ(BoxesShown(run.transcript), steps.boxes);
    std::map<std::string, std::string> expected = {{"first.txt", set.files["first.txt"]}};
    if (c.bigCut)
        expected["big.bin"] = set.files["big.bin"].substr(0, 10 * kBlock);
    EXPECT_TREE(set.Out(), expected);
}

// Message 35 names the package as started (A:\SETUP.EXE), also for a read
// on another disk.
std::function<std::string(const SpanSet &)> ReadErrorOnDisks(int code) {
    return [code](const SpanSet &) {
        return "Error reading A:\\SETUP.EXE.  Possible cause: bad disk or file transfer error. <" +
               std::to_string(code) + ">";
    };
}

// A signature or local header that the first volume does not hold is read
// from the start of the next; when that comes up short too, the run ends.
TEST(ExtractSpannedSetCutShort, RecordShortOnTheNextDiskIsAReadError) {
    RunCutShort({"signature", [](const ZipLayout &l) { return l.Named("big.bin").offset; }, 2,
                 ReadErrorOnDisks(8), false});
    RunCutShort({"local header", [](const ZipLayout &l) { return l.Named("big.bin").offset + 4; },
                 10, ReadErrorOnDisks(3), false});
}

// The first volume ends at a block end inside big.bin's data and the next
// volume is empty: the refill on the new disk reads nothing, so the member's
// data cannot go on and the run ends with a read error. The 10 blocks decoded
// before stay written.
TEST(ExtractSpannedSetCutShort, EmptyNextVolumeIsAReadError) {
    RunCutShort({"member data",
                 [](const ZipLayout &l) { return size_t(BigBlocksAt(l) + 10 * kBlock); }, 0,
                 ReadErrorOnDisks(2), true});
}

// The first volume ends 100 bytes into the block after the one that filled
// the decoder's window: the full window is written before the user is asked
// for disk 2, and stays when the user cancels.
TEST(ExtractSpannedSetCutShort, FullWindowIsWrittenBeforeTheNextDiskIsAskedFor) {
    SpanSet set;
    set.dir = test::TempDir("span");
    RemovedIfPassed cleanup{set.dir};
    FullWindowArchive archive = MakeFullWindowArchive(set.dir);
    const LocalRecord data = ReadLayout(test::ReadFile(archive.zip)).Named("window.bin");
    test::PackOrFail(
        archive.zip, set.dir + "/set/SETUP.EXE",
        {"--spanned", "--any-split",
         "--volume-sizes=" + std::to_string(data.DataOffset() + archive.blocks * kBlock + 100) +
             ",1000000"});
    ASSERT_EQ(CountDisks(set.dir + "/set"), 2);
    set.devices = set.dir + "/dosdevices";
    test::MakeDirs(set.devices);
    ASSERT_EQ(symlink(set.Disk(1).c_str(), (set.devices + "/a:").c_str()), 0);

    Steps steps;
    steps.InsertDisk(2, "", "Cancel");
    test::StubRun run = test::RunStub(set.devices + "/a:/SETUP.EXE", {"-auto", set.Out()},
                                      steps.script, WithUtc({{"MORVIK_DOSDEVICES", set.devices}}));
    EXPECT_RUN_EXIT(run, 2); // Cancel at a disk prompt is an abort
    EXPECT_EQ(BoxesShown(run.transcript), steps.boxes);
    EXPECT_TREE(set.Out(), (std::map<std::string, std::string>{
                               {"first.txt", archive.first},
                               {"window.bin", archive.content.substr(0, 32768)}}));
}

INSTANTIATE_TEST_SUITE_P(Disks, ExtractSpannedSet, ::testing::ValuesIn(SpanCases()),
                         [](const ::testing::TestParamInfo<SpanCase> &info) {
                             return std::string(info.param.label);
                         });

} // namespace

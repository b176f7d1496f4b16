// Outcomes that rest on how Windows treats files, which the native build must
// give alike: packages of 2 to 4 GiB, a package that another process is still
// writing, file names as Windows matches and refuses them, and the times
// stamped on members in a time zone with daylight saving.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

using Files = std::map<std::string, std::string>;

const char kHeaderCorrupt[] =
    "Morvik Self-Extractor header corrupt.  Possible cause:  bad disk or file transfer error";

struct Archive {
    std::string dir, package;
};

// A stored Info-ZIP archive of `files` in a package built with `packOptions`.
Archive MakePackage(const Files &files, const std::vector<std::string> &packOptions,
                    const std::string &hint, const std::string &packageName = "package") {
    Archive a;
    a.dir = test::TempDir(hint);
    std::string names;
    for (const auto &[name, content] : files)
        names += " '" + name + "'";
    WriteTree(a.dir + "/src", files, kSourceTime);
    test::MakeArchive("TZ=UTC zip -q -0 {zip}" + names, a.dir + "/src", a.dir + "/archive.zip");
    a.package = a.dir + "/" + packageName;
    test::PackOrFail(a.dir + "/archive.zip", a.package, packOptions);
    return a;
}

// ---- packages of 2 to 4 GiB --------------------------------------------------------------

// The self-check asks for the package's size with a 32-bit seek to its end.
// Up to 4 GiB Windows reports it (as a negative LONG past 2 GiB) and the
// package unzips; from 4 GiB on the seek fails and the package is refused.
// The packages grow by a sparse tail behind the archive, which nothing reads.
TEST(HostLargePackage, ASelfCheckedPackageOf2To4GiBUnzipsAsOnWindows) {
    const long long kGiB = 1024LL * 1024 * 1024;
    struct Row {
        const char *what;
        std::vector<std::string> options;
        long long size; // 0: as built
        bool unzips;
    } rows[] = {
        {"as built", {"--crc"}, 0, true},
        {"just under 2 GiB", {"--crc"}, 2 * kGiB - 1, true},
        {"2 GiB", {"--crc"}, 2 * kGiB, true},
        {"3 GiB", {"--crc", "--crc-skip-headers"}, 3 * kGiB, true},
        {"4 GiB less 2", {"--crc"}, 4 * kGiB - 2, true},
        {"4 GiB less 1: the size reads as HFILE_ERROR", {"--crc"}, 4 * kGiB - 1, false},
        {"4 GiB", {"--crc"}, 4 * kGiB, false},
        {"5 GiB", {"--crc"}, 5 * kGiB, false},
        {"5 GiB with no self-check", {}, 5 * kGiB, true},
    };
    const Files files = {{"a.txt", TextBytes(3000, 1)}, {"b.txt", TextBytes(100, 2)}};
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Archive a = MakePackage(files, row.options, "large");
        RemovedIfPassed cleanup{a.dir};
        if (row.size) {
            ASSERT_EQ(truncate(a.package.c_str(), row.size), 0);
        }
        std::string out = a.dir + "/out";
        std::string script = row.unzips ? "" : "box ok " + Quoted(kHeaderCorrupt) + " -> ok\n";
        test::StubRun run = RunAuto(a.package, out, script);
        EXPECT_RUN_EXIT(run, row.unzips ? 0 : 2); // header corrupt refuses the start
        std::vector<BoxSeen> boxes = BoxesShown(run.transcript);
        if (row.unzips) {
            EXPECT_TRUE(boxes.empty()) << Describe(run);
            EXPECT_EQ(test::ListTree(out), files) << Describe(run);
        } else {
            ASSERT_EQ(boxes.size(), 1u) << Describe(run);
            EXPECT_EQ(boxes[0].type, kErrorBox);
            EXPECT_FALSE(test::Exists(out));
        }
    }
}

// ---- a file another process is still writing ---------------------------------------------

// The stub opens its volume files denying writers; while the copy of a volume
// onto its disk is still being written, Windows refuses that open and the
// stub ends with the header-corrupt box. Once the writer is gone the same
// set unzips.
TEST(HostSharing, AVolumeStillBeingWrittenIsRefusedAsOnWindows) {
    const Files files = {{"a.txt", TextBytes(3000, 3)}, {"b.txt", TextBytes(200, 4)}};
    std::string dir = test::TempDir("sharing");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", files, kSourceTime);
    test::MakeArchive("TZ=UTC zip -q -0 {zip} a.txt b.txt", dir + "/src", dir + "/archive.zip");
    test::PackOrFail(dir + "/archive.zip", dir + "/set/setup.exe", {"--spanned"});
    test::MakeDirs(dir + "/dosdevices");
    ASSERT_EQ(symlink((dir + "/set/disk1").c_str(), (dir + "/dosdevices/a:").c_str()), 0);
    const test::Environment env = {{"MORVIK_DOSDEVICES", dir + "/dosdevices"}};
    const std::string package = dir + "/set/disk1/setup.EXE";
    {
        std::string volume = dir + "/set/disk1/setup.ZIP";
        test::OtherProcess writer([&] { return open(volume.c_str(), O_WRONLY | O_APPEND) >= 0; },
                                  "open " + volume + " for writing");
        test::StubRun run =
            RunAuto(package, dir + "/out", "box ok " + Quoted(kHeaderCorrupt) + " -> ok\n", env);
        EXPECT_RUN_EXIT(run, 2);
        std::vector<BoxSeen> boxes = BoxesShown(run.transcript);
        ASSERT_EQ(boxes.size(), 1u) << Describe(run);
        EXPECT_EQ(boxes[0].type, kErrorBox);
        EXPECT_FALSE(test::Exists(dir + "/out"));
    }
    test::StubRun run = RunAuto(package, dir + "/out", "", env);
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << Describe(run);
    EXPECT_EQ(test::ListTree(dir + "/out"), files);
}

// ---- file names as Windows treats them ----------------------------------------------------

// Both builds ask and fail alike: a file that differs in letter case only is
// the same file (the question is asked, and Yes rewrites it under its own
// name); trailing dots and blanks go; a name with a character Windows refuses
// cannot be created (message 27). Our builder refuses such names, so the
// packages hold the archives as they are.
TEST(HostFileNames, MembersMeetExistingFilesAndRefusedNamesAsOnWindows) {
    struct Row {
        const char *what;
        std::string member;
        Files existing;    // in the unzip folder before the run
        std::string boxes; // the script: boxes and answers
        Files after;       // the unzip folder afterwards
    } rows[] = {
        {"a file differing in case only is asked about",
         "README.TXT",
         {{"readme.txt", "old"}},
         "box yesnocancel \"already exists\" -> yes\n",
         {{"readme.txt", "new"}}},
        {"No keeps it",
         "README.TXT",
         {{"readme.txt", "old"}},
         "box yesnocancel \"already exists\" -> no\n",
         {{"readme.txt", "old"}}},
        {"in a folder differing in case",
         "Docs/Guide.md",
         {{"docs/guide.MD", "old"}},
         "box yesnocancel \"already exists\" -> yes\n",
         {{"docs/guide.MD", "new"}}},
        {"trailing dots and blanks go", "notes.txt. .", {}, "", {{"notes.txt", "new"}}},
        {"and meet the file without them",
         "notes.txt..",
         {{"Notes.txt", "old"}},
         "box yesnocancel \"already exists\" -> yes\n",
         {{"Notes.txt", "new"}}},
        {"a folder loses one trailing dot", "dir./x.txt", {}, "", {{"dir/x.txt", "new"}}},
        {"a question mark is refused",
         "what?.txt",
         {},
         "box ok \"Can't create output file: \" icon=error -> ok\n",
         {}},
        {"a wildcard name meets a file it matches: asked, then refused",
         "what?.txt",
         {{"whatX.txt", "old"}},
         "box yesnocancel \"what?.txt already exists\" -> yes\n"
         "box ok \"Can't create output file: \" icon=error -> ok\n",
         {{"whatX.txt", "old"}}},
        {"so are the other refused characters",
         "a|b<c>.txt",
         {},
         "box ok \"Can't create output file: \" icon=error -> ok\n",
         {}},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        Archive a = MakePackage({{row.member, "new"}}, {"--as-is"}, "names");
        RemovedIfPassed cleanup{a.dir};
        const std::string out = a.dir + "/out";
        test::MakeDirs(out);
        for (const auto &[name, content] : row.existing) {
            size_t slash = name.rfind('/');
            if (slash != std::string::npos)
                test::MakeDirs(out + "/" + name.substr(0, slash));
            test::WriteFile(out + "/" + name, content);
        }
        test::StubRun run = RunAuto(a.package, out, row.boxes);
        // An error box ends the run with 2.
        EXPECT_RUN_EXIT(run, row.boxes.find("icon=error") != std::string::npos ? 2 : 0);
        size_t boxes = 0;
        for (size_t at = row.boxes.find("box "); at != std::string::npos;
             at = row.boxes.find("box ", at + 1))
            ++boxes;
        EXPECT_EQ(BoxesShown(run.transcript).size(), boxes) << Describe(run);
        Files after = test::ListTree(out);
        Files expected = row.after;
        for (const auto &[name, content] : row.after) {
            size_t slash = name.rfind('/');
            if (slash != std::string::npos)
                expected.emplace(name.substr(0, slash + 1), "");
        }
        EXPECT_EQ(after, expected) << Describe(run);
    }
}

// ---- time stamps in a time zone with daylight saving -------------------------------------

// A member's DOS time is local time; Windows turns it into UTC with the
// offset in force when the file is written, not the one of the member's date.
// In Berlin, a member stamped 13:45:30 lands at 12:45:30 UTC when unzipped in
// winter and at 11:45:30 UTC in summer, whether its date is in summer or not.
TEST(HostTimeStamps, MembersTakeTheOffsetInForceWhenUnzipped) {
    std::string dir = test::TempDir("times");
    RemovedIfPassed cleanup{dir};
    test::MakeDirs(dir + "/src");
    test::Shell("printf s > summer.txt && printf w > winter.txt && "
                "TZ=UTC touch -d '2019-06-15 13:45:30' summer.txt && "
                "TZ=UTC touch -d '2019-01-15 13:45:30' winter.txt && "
                "TZ=UTC zip -q -0 ../archive.zip summer.txt winter.txt",
                dir + "/src");
    test::PackOrFail(dir + "/archive.zip", dir + "/package");
    const long long summer = 1560606330, winter = 1547559930; // 13:45:30 read as UTC
    struct Row {
        const char *what, *zone, *now;
        long long offset; // seconds to subtract from the stored time
    } rows[] = {
        {"Berlin in winter", "CET-1CEST,M3.5.0,M10.5.0/3", "1705320000", 3600},
        {"Berlin in summer", "CET-1CEST,M3.5.0,M10.5.0/3", "1721044800", 7200},
        {"New York in summer", "EST5EDT,M3.2.0,M11.1.0", "1721044800", -4 * 3600},
        {"UTC", "UTC0", "1721044800", 0},
    };
    int n = 0;
    for (const Row &row : rows) {
        SCOPED_TRACE(row.what);
        std::string out = dir + "/out" + std::to_string(++n);
        test::StubRun run = test::RunStub(dir + "/package", {"-auto", out}, "",
                                          {{"TZ", row.zone}, {"MORVIK_NOW", row.now}});
        EXPECT_CLEAN_RUN(run);
        EXPECT_EQ(test::ModifiedTime(out + "/summer.txt"), summer - row.offset) << Describe(run);
        EXPECT_EQ(test::ModifiedTime(out + "/winter.txt"), winter - row.offset) << Describe(run);
    }
}

} // namespace

// morvik-pack --dir: a package straight from a folder unzips to that folder,
// byte for byte and time for time (to the even second), encrypted with
// --password-file when asked; what the stub cannot carry is refused.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

test::ProcessResult PackDir(const std::string &folder, const std::string &out,
                            const std::vector<std::string> &options, const std::string &tz) {
    std::vector<std::string> argv = {test::PackPath(), "--stub", test::StubPath(), "--dir", folder,
                                     "--out",          out};
    argv.insert(argv.end(), options.begin(), options.end());
    return test::Run(argv, {{"TZ", tz}});
}

// Modification times of the files below root, by relative name.
void ExpectTimesToTheEvenSecond(const std::string &source, const std::string &landed) {
    for (const auto &[name, content] : Tree(source)) {
        if (name.back() == '/')
            continue;
        long long from = test::ModifiedTime(source + "/" + name);
        EXPECT_EQ(test::ModifiedTime(landed + "/" + name), from - (from & 1)) << name;
    }
}

TEST(PackFolder, SamplesUnzipToTheFolderByteForByteAndTimeForTime) {
    std::string dir = test::TempDir("packdir");
    RemovedIfPassed cleanup{dir};
    const std::string samples = test::SourceDir() + "/samples";
    // Builder and stub share a zone east of UTC: DOS times are local times.
    const std::string tz = "XYZ-3";
    test::ProcessResult r = PackDir(samples, dir + "/package", {}, tz);
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("file(s) and 2 folder(s) from " + samples), std::string::npos) << r.out;
    test::StubRun run = test::RunStub(dir + "/package", {"-auto", dir + "/out"}, "", {{"TZ", tz}});
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
    EXPECT_TREE(dir + "/out", Tree(samples));
    ExpectTimesToTheEvenSecond(samples, dir + "/out");

    // The same folder gives the same package.
    ASSERT_EQ(PackDir(samples, dir + "/again", {"--quiet"}, tz).exitCode, 0);
    EXPECT_EQ(test::ReadFile(dir + "/again"), test::ReadFile(dir + "/package"));
}

TEST(PackFolder, NamesTimesFoldersAndMethods) {
    std::string dir = test::TempDir("packdir");
    RemovedIfPassed cleanup{dir};
    std::map<std::string, std::string> files = {
        {"empty/", ""},
        {"empty.txt", ""},
        {"text.txt", TextBytes(100000, 7)},
        {"noise.bin", NoiseBytes(5000, 8)}, // deflate gains nothing: stored
        {"caf\xc3\xa9/", ""},
        {"caf\xc3\xa9/cr\xc3\xa8me.txt", "creme\n"},
    };
    WriteTree(dir + "/src", files, kSourceTime + 1); // an odd second
    test::ProcessResult r = PackDir(dir + "/src", dir + "/package", {}, "UTC");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find("4 file(s) and 2 folder(s)"), std::string::npos) << r.out;

    std::string archive = test::ReadFile(dir + "/package");
    archive = archive.substr(ArchiveOffset(archive));
    ZipLayout layout = ReadLayout(archive);
    std::vector<std::string> names;
    for (const LocalRecord &l : layout.locals)
        names.push_back(l.name);
    EXPECT_EQ(names, (std::vector<std::string>{"caf\xc3\xa9/", "caf\xc3\xa9/cr\xc3\xa8me.txt",
                                               "empty/", "empty.txt", "noise.bin", "text.txt"}));
    EXPECT_EQ(layout.Named("noise.bin").method, 0);
    EXPECT_EQ(layout.Named("text.txt").method, 8);
    EXPECT_EQ(layout.Named("caf\xc3\xa9/cr\xc3\xa8me.txt").flags, 0x0800);
    EXPECT_EQ(layout.Named("text.txt").flags, 0);

    EXPECT_CLEAN_RUN(RunAuto(dir + "/package", dir + "/out", ""));
    EXPECT_TREE(dir + "/out", files);
    ExpectTimesToTheEvenSecond(dir + "/src", dir + "/out");
}

TEST(PackFolder, PasswordFileEncryptsEveryFile) {
    std::string dir = test::TempDir("packdir");
    RemovedIfPassed cleanup{dir};
    std::map<std::string, std::string> files = {
        {"a.txt", TextBytes(3000, 1)}, {"sub/", ""}, {"sub/b.bin", NoiseBytes(3000, 2)}};
    WriteTree(dir + "/src", files, kSourceTime);
    test::WriteFile(dir + "/password", "secret\n");
    test::ProcessResult r =
        PackDir(dir + "/src", dir + "/package", {"--password-file", dir + "/password"}, "UTC");
    ASSERT_EQ(r.exitCode, 0) << r.err;
    EXPECT_NE(r.out.find(", encrypted"), std::string::npos) << r.out;

    std::string package = test::ReadFile(dir + "/package");
    uint32_t options = Get32(package, FindSfxHeader(package) + 28);
    EXPECT_EQ(options & 0x100, 0x100u) << "the package asks for the password first";
    ZipLayout layout = ReadLayout(package.substr(ArchiveOffset(package)));
    EXPECT_EQ(layout.Named("a.txt").flags & 1, 1);
    EXPECT_EQ(layout.Named("sub/b.bin").flags & 1, 1);
    EXPECT_EQ(layout.Named("sub/").flags & 1, 0);

    test::StubRun run = RunAuto(dir + "/package", dir + "/out", PasswordSteps("secret"));
    EXPECT_CLEAN_RUN(run);
    EXPECT_TREE(dir + "/out", files);
    // Another tool reads it with the same password.
    test::Shell("python3 -c \"import zipfile; z = zipfile.ZipFile('package'); "
                "z.setpassword(b'secret'); assert z.testzip() is None\"",
                dir);

    // Two packages of the same folder differ in their random encryption headers.
    ASSERT_EQ(PackDir(dir + "/src", dir + "/again", {"--password-file", dir + "/password"}, "UTC")
                  .exitCode,
              0);
    EXPECT_NE(test::ReadFile(dir + "/again"), package);

    test::WriteFile(dir + "/empty-password", "\n");
    r = PackDir(dir + "/src", dir + "/none", {"--password-file", dir + "/empty-password"}, "UTC");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_NE(r.err.find("the password file's first line is empty"), std::string::npos) << r.err;
}

// --aes: every file as a WinZip AES member (AE-2) of the strength asked for,
// which the stub unzips with the password and 7-Zip opens with it too.
TEST(PackFolder, AesEncryptsEveryFileAtEachStrength) {
    std::string dir = test::TempDir("packdir");
    RemovedIfPassed cleanup{dir};
    std::map<std::string, std::string> files = {{"a.txt", TextBytes(30000, 1)},
                                                {"empty.txt", ""},
                                                {"sub/", ""},
                                                {"sub/b.bin", NoiseBytes(5001, 2)}};
    WriteTree(dir + "/src", files, kSourceTime);
    test::WriteFile(dir + "/password", "secret\n");
    const struct {
        const char *option;
        uint8_t strength;
    } cases[] = {{"--aes", 3}, {"--aes=128", 1}, {"--aes=192", 2}, {"--aes=256", 3}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.option);
        const std::string n = std::to_string(&c - cases);
        std::string package = dir + "/package" + n;
        test::ProcessResult r =
            PackDir(dir + "/src", package, {"--password-file", dir + "/password", c.option}, "UTC");
        ASSERT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.out.find(", encrypted with AES-" + std::to_string(64 + 64 * c.strength)),
                  std::string::npos)
            << r.out;

        std::string bytes = test::ReadFile(package);
        EXPECT_EQ(Get32(bytes, FindSfxHeader(bytes) + 28) & 0x100, 0x100u);
        std::string zip = bytes.substr(ArchiveOffset(bytes));
        ZipLayout layout = ReadLayout(zip);
        for (const char *name : {"a.txt", "empty.txt", "sub/b.bin"}) {
            const LocalRecord &m = layout.Named(name);
            EXPECT_EQ(m.method, 99) << name;
            EXPECT_EQ(m.flags & 1, 1) << name;
            EXPECT_EQ(m.crc, 0u) << name << ": AE-2";
            size_t extra = m.offset + 30 + m.nameLength;
            ASSERT_GE(m.extraLength, 11) << name;
            // id 0x9901, 7 bytes, vendor version 2, "AE", the strength
            const char record[] = {1, char(0x99), 7, 0, 2, 0, 'A', 'E', char(c.strength)};
            EXPECT_EQ(zip.substr(extra + m.extraLength - 11, 9), std::string(record, 9)) << name;
        }
        EXPECT_EQ(layout.Named("sub/").flags & 1, 0);

        std::string out = dir + "/out" + n;
        test::StubRun run = RunAuto(package, out, PasswordSteps("secret"));
        EXPECT_CLEAN_RUN(run);
        EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
        EXPECT_TREE(out, files);
        // 7-Zip reads the archive with the same password, and not without it.
        test::WriteFile(dir + "/aes.zip", zip);
        EXPECT_EQ(test::Shell("7z t -psecret aes.zip >/dev/null 2>&1 && echo ok", dir), "ok\n");
        EXPECT_EQ(test::Shell("7z t -pwrong aes.zip >/dev/null 2>&1 || echo refused", dir),
                  "refused\n");
    }

    test::ProcessResult r = PackDir(dir + "/src", dir + "/bad",
                                    {"--password-file", dir + "/password", "--aes=512"}, "UTC");
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("--aes takes 128, 192 or 256"), std::string::npos) << r.err;
    r = PackDir(dir + "/src", dir + "/bad", {"--aes"}, "UTC");
    EXPECT_NE(r.exitCode, 0);
    EXPECT_NE(r.err.find("--aes needs --password-file"), std::string::npos) << r.err;
}

TEST(PackFolder, RefusesWhatTheStubCannotCarryNamingEach) {
    std::string dir = test::TempDir("packdir");
    RemovedIfPassed cleanup{dir};
    const std::string src = dir + "/src";
    WriteTree(src, {{"ok.txt", "ok\n"}, {"sub/", ""}}, kSourceTime);
    ASSERT_EQ(symlink("ok.txt", (src + "/link.txt").c_str()), 0);
    ASSERT_EQ(symlink("/etc", (src + "/sub/outside").c_str()), 0);
    ASSERT_EQ(mkfifo((src + "/pipe").c_str(), 0600), 0);
    test::WriteFile(src + "/" + std::string(201, 'n'), "long\n");
    test::WriteFile(src + "/what?.txt", "?\n");
    test::WriteFile(src + "/back\\slash.txt", "\\\n");
    test::WriteFile(src + "/sub/Case.txt", "upper\n");
    test::WriteFile(src + "/sub/case.txt", "lower\n");
    test::Shell("truncate -s 4G huge.bin", src); // sparse: no disk space taken

    test::ProcessResult r = PackDir(src, dir + "/package", {}, "UTC");
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_FALSE(test::Exists(dir + "/package"));
    const std::vector<std::string> lines = {
        src + "/link.txt: a symbolic link; a package holds only files and folders",
        src + "/pipe: a named pipe; a package holds only files and folders",
        src + "/sub/outside: a symbolic link",
        src + "/" + std::string(201, 'n') + ": its name is 201 bytes long",
        src + "/what?.txt: its name holds a character that Windows file names cannot hold",
        src + "/huge.bin: a file of 4 GiB or more",
        src + "/back\\slash.txt: its name holds a backslash",
        src + "/sub/case.txt: another name of this folder differs from it only in letter case",
    };
    for (const std::string &line : lines)
        EXPECT_NE(r.err.find("morvik-pack: error: " + line), std::string::npos) << line << "\n"
                                                                                << r.err;
}

} // namespace

// Archives made by real tools (Info-ZIP zip, 7-Zip, Python's zipfile), put in
// a package and unzipped by the stub in auto mode, land exactly as Info-ZIP
// unzip puts them: the same folders, names, contents and modification times.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

struct ToolCase {
    const char *label;
    std::string command;   // run in the source folder; {zip} is the archive
    uint16_t manualMethod; // how docs/manual.txt must come out of the tool
    std::vector<std::string> packOptions;
    std::string script;
    std::string unzipOptions;
    std::map<std::string, std::string> extraFiles; // host names (bytes) -> content
    std::map<std::string, std::string> landsAs;    // unzip's name -> the stub's name
    // Where the stub runs in UTF-8 (code page 65001): unzip's name -> the
    // stub's name, instead of landsAs.
    std::map<std::string, std::string> landsAsUnder65001 = {};
};
// Test lists and failures name the case by its label.
void PrintTo(const ToolCase &c, std::ostream *out) {
    *out << c.label;
}

std::map<std::string, std::string> CommonFiles() {
    return {
        {"readme.txt", TextBytes(1500, 1)},           {"empty.txt", ""},
        {"exactly2048.bin", NoiseBytes(2048, 2)},     {"docs/", ""},
        {"docs/manual.txt", TextBytes(300000, 3)},    {"docs/deep/", ""},
        {"docs/deep/data.bin", NoiseBytes(70000, 4)}, {"emptydir/", ""},
    };
}

std::vector<ToolCase> ToolCases() {
    return {
        {"InfoZipStored", "TZ=UTC zip -q -r -0 {zip} .", 0, {}, "", "", {}, {}},
        {"InfoZipFastest", "TZ=UTC zip -q -r -1 {zip} .", 8, {}, "", "", {}, {}},
        // Names stored as raw bytes are OEM (code page 437) names to the stub:
        // 0x82 is e-acute and lands as such; 0xB0 (a shade block) has no ANSI
        // form, so the stored byte stays and reads as the degree sign of 1252.
        {"InfoZipBestWithOemNames",
         "TZ=UTC LC_ALL=C zip -q -r -9 {zip} .",
         8,
         {},
         "",
         "",
         {{"caf\x82.txt", "cafe in code page 437\n"}, {"\xb0grid.txt", "shade block\n"}},
         {{"caf\x82.txt", "caf\xc3\xa9.txt"}, {"\xb0grid.txt", "\xc2\xb0grid.txt"}},
         // In UTF-8 the shade block has its own character.
         {{"caf\x82.txt", "café.txt"}, {"\xb0grid.txt", "░grid.txt"}}},
        {"InfoZipEncrypted",
         "TZ=UTC zip -q -r -9 -P secret {zip} .",
         8,
         {"--encrypted"},
         PasswordSteps(),
         "-P secret",
         {},
         {}},
        {"PythonDeflated",
         std::string("ZIP_METHOD=8 ") + kPythonZip,
         8,
         {},
         "",
         "",
         {{"na\xc3\xafve.txt", "flagged as UTF-8\n"}},
         {}},
        {"PythonStored", std::string("ZIP_METHOD=0 ") + kPythonZip, 0, {}, "", "", {}, {}},
        // 7-Zip flags non-ASCII names as UTF-8: names with an ANSI (1252) form
        // land with their real characters; a CJK name has none, keeps its
        // stored UTF-8 bytes, and those read as 1252 become "æ—¥æœ¬".
        {"SevenZip",
         "TZ=UTC LC_ALL=C.UTF-8 7z a -tzip -mx=9 -bso0 -bsp0 {zip} .",
         8,
         {},
         "",
         "",
         {{"caf\xc3\xa9.txt", "cafe\n"},
          {"\xc3\xbc"
           "ber/",
           ""},
          {"\xc3\xbc"
           "ber/Stra\xc3\x9f"
           "e.txt",
           "strasse\n"},
          {"\xe6\x97\xa5\xe6\x9c\xac.txt", "nihon\n"}},
         {{"\xe6\x97\xa5\xe6\x9c\xac.txt",
           "\xc3\xa6\xe2\x80\x94\xc2\xa5\xc3\xa6\xc5\x93\xc2\xac.txt"}},
         {}}, // in UTF-8 every name lands as unzip puts it
    };
}

class ExtractRealToolArchive : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ExtractRealToolArchive, LandsAsInfoZipUnzipPutsIt) {
    const ToolCase &c = GetParam();
    std::string dir = test::TempDir("tool");
    RemovedIfPassed cleanup{dir};
    std::map<std::string, std::string> files = CommonFiles();
    files.insert(c.extraFiles.begin(), c.extraFiles.end());
    WriteTree(dir + "/src", files, kSourceTime);
    std::string zip = dir + "/archive.zip";
    test::MakeArchive(c.command, dir + "/src", zip);

    std::string archive = test::ReadFile(zip);
    ZipLayout layout = ReadLayout(archive);
    ASSERT_EQ(layout.Named("docs/manual.txt").method, c.manualMethod);
    for (const LocalRecord &r : layout.locals)
        ASSERT_TRUE(r.method == 0 || r.method == 8) << r.name << " method " << r.method;

    test::PackOrFail(zip, dir + "/package", c.packOptions);
    test::StubRun run = RunAuto(dir + "/package", dir + "/out", c.script);
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;

    test::Shell("TZ=UTC LC_ALL=C.UTF-8 unzip -o -q " + c.unzipOptions + " archive.zip -d unzipped",
                dir);
    const std::map<std::string, std::string> &landsAs =
        test::AnsiCodePage() == 65001 ? c.landsAsUnder65001 : c.landsAs;
    std::map<std::string, std::string> expected;
    for (const auto &[name, content] : Tree(dir + "/unzipped")) {
        auto renamed = landsAs.find(name);
        expected[renamed == landsAs.end() ? name : renamed->second] = content;
    }
    ASSERT_EQ(expected.size(), files.size()) << "unzip did not put every entry";
    EXPECT_TREE(dir + "/out", expected);

    // Every file carries the time stamp of its source file, as unzip sets it.
    for (const auto &[name, content] : Tree(dir + "/unzipped")) {
        if (name.back() == '/')
            continue;
        auto renamed = landsAs.find(name);
        std::string landed = renamed == landsAs.end() ? name : renamed->second;
        long long source = test::ModifiedTime(dir + "/src/" + name);
        EXPECT_EQ(test::ModifiedTime(dir + "/unzipped/" + name), source) << name;
        EXPECT_EQ(test::ModifiedTime(dir + "/out/" + landed), source) << landed;
    }
}

INSTANTIATE_TEST_SUITE_P(Tools, ExtractRealToolArchive, ::testing::ValuesIn(ToolCases()),
                         [](const ::testing::TestParamInfo<ToolCase> &info) {
                             return std::string(info.param.label);
                         });

} // namespace

// Member names in any script. Archives from 7-Zip and Python's zipfile flag
// their non-ASCII names as UTF-8; DOS-made archives (Info-ZIP zip storing the
// bytes it is given) hold names in an OEM code page. CTest runs these tests
// with the stub in ANSI code page 1252 and in 65001 (UTF-8, as the manifest
// makes current Windows run it): under 65001 every name lands with its real
// characters, flagged names as they are and the others read in the locale's
// OEM code page; under 1252 a name lands with its characters only where 1252
// has them all, and keeps its stored bytes otherwise.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

using namespace extract_e2e;

const char kSevenZip[] = "TZ=UTC LC_ALL=C.UTF-8 7z a -tzip -mx=9 -bso0 -bsp0 {zip} .";
const char kInfoZipRawBytes[] = "TZ=UTC LC_ALL=C zip -q -r -9 {zip} .";

// Names flagged as UTF-8, as a Japanese, Russian, Greek and emoji-loving user
// would make them: folders and files.
std::map<std::string, std::string> ScriptNames() {
    return {
        {"表だよ/", ""},
        {"表だよ/一覧表.txt", "ichiranhyou\n"},
        {"表だよ/漢字.txt", "kanji\n"},
        {"Документы/", ""},
        {"Документы/отчёт.txt", "otchyot\n"},
        {"Έγγραφα/", ""},
        {"Έγγραφα/αρχείο.txt", "archeio\n"},
        {"😀 smile/", ""},
        {"😀 smile/🎉.txt", "party\n"},
        {"café.txt", "latin-1 has it\n"},
        {"plain.txt", "ascii\n"},
    };
}

struct NameCase {
    const char *label;
    const char *command;
    std::map<std::string, std::string> files; // host names (bytes) -> content
    bool flagged;                             // the tool flags non-ASCII names as UTF-8
    unsigned oemCodePage;                     // the OEM code page of the user's locale
    // How a stored name lands where it does not land as the host name it was
    // made from: under code page 1252 and under 65001.
    std::map<std::string, std::string> landsUnder1252, landsUnder65001;
};
void PrintTo(const NameCase &c, std::ostream *out) {
    *out << c.label;
}

std::vector<NameCase> NameCases() {
    // Under 1252 a flagged name that 1252 cannot hold keeps its UTF-8 bytes,
    // which read as 1252 characters; café.txt and plain.txt land as they are.
    std::map<std::string, std::string> keptUnder1252;
    for (const auto &[name, content] : ScriptNames())
        if (name != "café.txt" && name != "plain.txt")
            keptUnder1252[name] = test::Cp1252ToUtf8(name);
    return {
        {"SevenZip", kSevenZip, ScriptNames(), true, 437, keptUnder1252, {}},
        {"PythonZipfile", kPythonZip, ScriptNames(), true, 437, keptUnder1252, {}},
        // DOS code page 437: e-acute and i-diaeresis are in 1252 too; the
        // shade block is not, and keeps its byte under 1252 (a degree sign).
        {"Dos437",
         kInfoZipRawBytes,
         {{"r\x82sum\x82/", ""},
          {"r\x82sum\x82/na\x8bve.txt", "cv\n"},
          {"\xb0grid.txt", "shade\n"}},
         false,
         437,
         {{"r\x82sum\x82/", "résumé/"},
          {"r\x82sum\x82/na\x8bve.txt", "résumé/naïve.txt"},
          {"\xb0grid.txt", "°grid.txt"}},
         {{"r\x82sum\x82/", "résumé/"},
          {"r\x82sum\x82/na\x8bve.txt", "résumé/naïve.txt"},
          {"\xb0grid.txt", "░grid.txt"}}},
        // DOS code page 866 on a Russian system: 1252 has no Cyrillic, so the
        // stored bytes stay; UTF-8 gives every character.
        {"Dos866",
         kInfoZipRawBytes,
         {{"\x8e\xe2\xe7\xf1\xe2\xeb/", ""},
          {"\x8e\xe2\xe7\xf1\xe2\xeb/\x8f\xe0\xa8\xa2\xa5\xe2.txt", "privet\n"}},
         false,
         866,
         {{"\x8e\xe2\xe7\xf1\xe2\xeb/", test::Cp1252ToUtf8("\x8e\xe2\xe7\xf1\xe2\xeb/")},
          {"\x8e\xe2\xe7\xf1\xe2\xeb/\x8f\xe0\xa8\xa2\xa5\xe2.txt",
           test::Cp1252ToUtf8("\x8e\xe2\xe7\xf1\xe2\xeb/\x8f\xe0\xa8\xa2\xa5\xe2.txt")}},
         {{"\x8e\xe2\xe7\xf1\xe2\xeb/", "Отчёты/"},
          {"\x8e\xe2\xe7\xf1\xe2\xeb/\x8f\xe0\xa8\xa2\xa5\xe2.txt", "Отчёты/Привет.txt"}}},
    };
}

bool IsAscii(const std::string &text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return false;
    return true;
}

class ExtractNames : public ::testing::TestWithParam<NameCase> {};

TEST_P(ExtractNames, LandWithTheCharactersTheCodePageHas) {
    const NameCase &c = GetParam();
    std::string dir = test::TempDir("names");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", c.files, kSourceTime);
    std::string zip = dir + "/archive.zip";
    test::MakeArchive(c.command, dir + "/src", zip);
    for (const LocalRecord &r : ReadLayout(test::ReadFile(zip)).locals) {
        std::string name = r.name.rfind("./", 0) == 0 ? r.name.substr(2) : r.name;
        ASSERT_EQ((r.flags & 0x0800) != 0, c.flagged && !IsAscii(name))
            << "fixture: the UTF-8 flag of " << Quoted(name);
    }

    test::PackOrFail(zip, dir + "/package");
    test::StubRun run = RunAuto(dir + "/package", dir + "/out", "",
                                {{"MORVIK_OEM_CODEPAGE", std::to_string(c.oemCodePage)}});
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;

    const std::map<std::string, std::string> &lands =
        test::AnsiCodePage() == 65001 ? c.landsUnder65001 : c.landsUnder1252;
    std::map<std::string, std::string> expected;
    for (const auto &[name, content] : c.files) {
        auto renamed = lands.find(name);
        expected[renamed == lands.end() ? name : renamed->second] = content;
    }
    EXPECT_TREE(dir + "/out", expected);
}

// In UTF-8 a DOS name can need three times its stored bytes: 90 shade
// blocks of code page 437 are 270 bytes, more than any output path holds.
// The member is refused as too long, naming the name as far as it fits,
// before anything of it is made. (Under 1252 the name keeps its 90 bytes,
// and whether the path fits depends on the output folder.)
// Run under code page 65001 only: a name grows only in UTF-8.
TEST(ExtractNamesOnlyInUtf8, ANameTooLongInUtf8IsRefused) {
    ASSERT_EQ(test::AnsiCodePage(), 65001u);
    std::string dir = test::TempDir("longname");
    RemovedIfPassed cleanup{dir};
    const std::string shades(90, '\xb0');
    WriteTree(dir + "/src", {{"first.txt", "first\n"}, {shades, "shades\n"}}, kSourceTime);
    std::string zip = dir + "/archive.zip";
    test::MakeArchive(kInfoZipRawBytes, dir + "/src", zip);
    test::PackOrFail(zip, dir + "/package");
    std::string utf8;
    for (int i = 0; i < 87; i++) // 261 bytes: as many whole characters as the buffer holds
        utf8 += "░";
    test::StubRun run =
        RunAuto(dir + "/package", dir + "/out", ErrorStep("Zip contains the file name"));
    EXPECT_RUN_EXIT(run, 2);
    std::vector<BoxSeen> boxes = BoxesShown(run.transcript);
    ASSERT_EQ(boxes.size(), 1u) << run.transcript;
    EXPECT_EQ(boxes[0], ErrorBox("Zip contains the file name \"" + utf8 +
                                 "\", which is too long for the unzip folder. Choose a shorter "
                                 "folder and unzip again."));
    EXPECT_TREE(dir + "/out", (std::map<std::string, std::string>{{"first.txt", "first\n"}}));
}

INSTANTIATE_TEST_SUITE_P(Archives, ExtractNames, ::testing::ValuesIn(NameCases()),
                         [](const ::testing::TestParamInfo<NameCase> &info) {
                             return std::string(info.param.label);
                         });

} // namespace

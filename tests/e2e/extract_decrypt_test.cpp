// Traditional PKWARE decryption end to end: the one-byte password check takes
// its byte from the CRC-32, or from the time stamp when flag bit 3 is set; a
// missing or wrong password ends the run at the member, and a wrong password
// that passes the check ends it at the CRC comparison.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

struct CheckByteCase {
    const char *label;
    const char *command;
    bool dataDescriptorFlag; // flag bit 3 as the tool sets it
    bool flipFlag;           // the test toggles bit 3 of the first member
};
// Test lists and failures name the case by its label.
void PrintTo(const CheckByteCase &c, std::ostream *out) {
    *out << c.label;
}

class ExtractCheckByte : public ::testing::TestWithParam<CheckByteCase> {};

// 7-Zip leaves bit 3 clear (check byte: high byte of the CRC-32); Info-ZIP
// zip sets it for encrypted members, with the real sizes in the local header
// all the same (check byte: high byte of the DOS time). With the flag
// toggled the other byte is compared, and the right password is refused.
TEST_P(ExtractCheckByte, ComesFromCrcOrTimeByFlagBit3) {
    const CheckByteCase &c = GetParam();
    std::string dir = test::TempDir("check");
    RemovedIfPassed cleanup{dir};
    std::map<std::string, std::string> files = {
        {"a-text.txt", TextBytes(60000, 11)},
        {"b-noise.bin", NoiseBytes(9000, 12)},
        {"c-small.txt", "small\n"},
    };
    WriteTree(dir + "/src", files, kSourceTime);
    test::MakeArchive(c.command, dir + "/src", dir + "/archive.zip");
    std::string zip = test::ReadFile(dir + "/archive.zip");
    ZipLayout layout = ReadLayout(zip);
    ASSERT_EQ(layout.locals.size(), 3u);
    for (const LocalRecord &r : layout.locals) {
        ASSERT_EQ(r.flags & 0x0001, 1) << r.name << " is not encrypted";
        ASSERT_EQ((r.flags & 0x0008) != 0, c.dataDescriptorFlag) << r.name;
        ASSERT_EQ(DecryptedCheckByte(zip, r, "secret"), CheckByte(r)) << r.name;
    }
    // The two candidate bytes differ, so only the right choice passes.
    const LocalRecord &first = layout.locals[0];
    ASSERT_NE(uint8_t(first.modTime >> 8), uint8_t(first.crc >> 24));
    if (c.flipFlag) {
        Put16(zip, first.offset + 6, uint16_t(first.flags ^ 0x0008));
        test::WriteFile(dir + "/archive.zip", zip);
    }

    // Packed as it is: the builder refuses a member whose records disagree
    // on bit 3.
    test::PackOrFail(dir + "/archive.zip", dir + "/package", {"--encrypted", "--as-is"});
    std::string steps = PasswordSteps();
    if (c.flipFlag)
        steps += ErrorStep("Incorrect password specified");
    test::StubRun run = RunAuto(dir + "/package", dir + "/out", steps);
    EXPECT_RUN_EXIT(run, c.flipFlag ? 2 : 0);
    if (c.flipFlag) {
        EXPECT_EQ(BoxesShown(run.transcript),
                  std::vector<BoxSeen>{ErrorBox("Incorrect password specified")});
        EXPECT_TRUE(Tree(dir + "/out").empty());
    } else {
        EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
        EXPECT_TREE(dir + "/out", files);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tools, ExtractCheckByte,
    ::testing::Values(
        CheckByteCase{"SevenZipCrc",
                      "TZ=UTC 7z a -tzip -psecret -mem=ZipCrypto -bso0 -bsp0 {zip} .", false,
                      false},
        CheckByteCase{"SevenZipFlagSet",
                      "TZ=UTC 7z a -tzip -psecret -mem=ZipCrypto -bso0 -bsp0 {zip} .", false, true},
        CheckByteCase{"InfoZipTime", "TZ=UTC zip -q -r -P secret {zip} .", true, false},
        CheckByteCase{"InfoZipFlagCleared", "TZ=UTC zip -q -r -P secret {zip} .", true, true}),
    [](const ::testing::TestParamInfo<CheckByteCase> &info) {
        return std::string(info.param.label);
    });

// A package of three members, the middle one encrypted and stored.
struct MixedArchive {
    std::string dir, zip;
    std::string first = TextBytes(3000, 21), second = NoiseBytes(7000, 22),
                third = TextBytes(500, 23);
    ZipLayout layout;
};

MixedArchive MakeMixedArchive() {
    MixedArchive a;
    a.dir = test::TempDir("mixed");
    WriteTree(a.dir + "/src",
              {{"first.txt", a.first}, {"second.bin", a.second}, {"third.txt", a.third}},
              kSourceTime);
    a.zip = a.dir + "/archive.zip";
    test::Shell("TZ=UTC zip -q -0 archive.zip src/first.txt && "
                "TZ=UTC zip -q -0 -P secret archive.zip src/second.bin && "
                "TZ=UTC zip -q -0 archive.zip src/third.txt",
                a.dir);
    a.layout = ReadLayout(test::ReadFile(a.zip));
    return a;
}

// Finds a password other than "secret" that passes the one-byte check.
std::string PasswordPassingCheck(const std::string &zip, const LocalRecord &r) {
    for (int i = 0; i < 100000; i++) {
        std::string candidate = "guess" + std::to_string(i);
        if (DecryptedCheckByte(zip, r, candidate) == CheckByte(r))
            return candidate;
    }
    return "";
}

TEST(ExtractDecrypt, MissingOrWrongPasswordEndsTheRunAtTheMember) {
    MixedArchive a = MakeMixedArchive();
    RemovedIfPassed cleanup{a.dir};
    std::string zip = test::ReadFile(a.zip);
    ASSERT_EQ(a.layout.locals.size(), 3u);
    const LocalRecord &member = a.layout.locals[1];
    ASSERT_EQ(member.name, "src/second.bin");
    ASSERT_EQ(member.flags & 0x0001, 1);
    ASSERT_EQ(member.method, 0);
    // The encryption header is random: take a wrong password that this
    // archive's check byte refuses.
    std::string wrong = "wrong";
    for (int n = 0; DecryptedCheckByte(zip, member, wrong) == CheckByte(member); n++)
        wrong = "wrong" + std::to_string(n);

    // A password that passes the check decrypts the stored data to other
    // bytes, which are written whole; their CRC-32 then differs.
    std::string lucky = PasswordPassingCheck(zip, member);
    ASSERT_FALSE(lucky.empty());
    ZipKeys keys(lucky);
    keys.Decrypt(zip.substr(member.DataOffset(), 12));
    std::string garbage =
        keys.Decrypt(zip.substr(member.DataOffset() + 12, member.compressedSize - 12));

    struct Case {
        const char *label;
        std::vector<std::string> packOptions;
        std::string password; // typed into the password dialog; "" = no dialog
        std::function<std::string(const std::string &out)> message; // "" = the run completes
        std::map<std::string, std::string> after;
    };
    auto text = [](const std::string &message) {
        return [message](const std::string &) { return message; };
    };
    std::string second = "src/second.bin";
    std::vector<Case> cases = {
        {"right password",
         {"--encrypted"},
         "secret",
         text(""),
         {{"src/", ""},
          {"src/first.txt", a.first},
          {second, a.second},
          {"src/third.txt", a.third}}},
        {"package not marked encrypted (packed as it is: the builder would mark it)",
         {"--as-is"},
         "",
         text("No password specified"),
         {{"src/", ""}, {"src/first.txt", a.first}}},
        {"wrong password",
         {"--encrypted"},
         wrong,
         text("Incorrect password specified"),
         {{"src/", ""}, {"src/first.txt", a.first}}},
        {"wrong password passing the check",
         {"--encrypted"},
         lucky,
         [&](const std::string &out) {
             return "ZIP damaged: file " + WindowsForm(out + "/" + second) + ": Bad CRC " +
                    Hex8(Crc32(garbage)) + " (should be " + Hex8(member.crc) +
                    ").  Possible cause: file transfer error.";
         },
         {{"src/", ""}, {"src/first.txt", a.first}, {second, garbage}}},
    };

    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        std::string dir = test::TempDir("pw");
        RemovedIfPassed cleanupCase{dir};
        test::PackOrFail(a.zip, dir + "/package", c.packOptions);
        std::string out = dir + "/out";
        std::string message = c.message(out);
        std::string steps = c.password.empty() ? "" : PasswordSteps(c.password);
        std::vector<BoxSeen> boxes;
        if (!message.empty()) {
            steps += ErrorStep(message);
            boxes.push_back(ErrorBox(message));
        }
        test::StubRun run = RunAuto(dir + "/package", out, steps);
        EXPECT_RUN_EXIT(run, message.empty() ? 0 : 2);
        EXPECT_EQ(BoxesShown(run.transcript), boxes);
        EXPECT_TREE(out, c.after);
    }
}

} // namespace

namespace {

// A password is the bytes the archiver hashed. Info-ZIP zip hashes the bytes
// of its -P argument as given: UTF-8 from a UTF-8 terminal, code page 1252
// bytes from a 1252 one. 7-Zip refuses to make a ZIP archive whose password
// goes beyond ASCII (E_INVALIDARG), for ZipCrypto and AES alike. The stub
// hashes what the user typed, in the process code page, unchanged: UTF-8
// where that is 65001, 1252 bytes where it is 1252.
TEST(PasswordsInAnyScript, ReachTheDecryptionInTheProcessCodePage) {
    std::string dir = test::TempDir("passwords");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", {{"secret.txt", "behind a password\n"}}, kSourceTime);

    test::ProcessResult refused = test::Run(
        {"sh", "-c", "cd src && LC_ALL=C.UTF-8 7z a -tzip -pпароль ../7z.zip secret.txt"}, {}, dir);
    EXPECT_NE(refused.exitCode, 0) << "7-Zip made a ZIP archive with a non-ASCII password";
    EXPECT_NE((refused.out + refused.err).find("E_INVALIDARG"), std::string::npos)
        << refused.out << refused.err;

    struct Case {
        const char *label;
        std::string hashed; // the bytes Info-ZIP zip was given
        std::string typed;  // the characters the user types (UTF-8)
        bool opensUnder1252, opensUnder65001;
    } cases[] = {
        {"Cyrillic, UTF-8 terminal", "пароль", "пароль", false, true},
        {"Latin, UTF-8 terminal", "café", "café", false, true},
        {"Latin, 1252 terminal", "caf\xe9", "café", true, false},
        {"ASCII", "secret", "secret", true, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        bool opens = test::AnsiCodePage() == 65001 ? c.opensUnder65001 : c.opensUnder1252;
        std::string typed = test::InAnsi(c.typed);
        // The encryption header is random: make the archive again until a
        // password that does not open it fails the check byte too.
        std::string zip = dir + "/archive.zip", bytes;
        for (int attempt = 0;; attempt++) {
            test::Run({"rm", "-f", zip});
            test::MakeArchive("TZ=UTC LC_ALL=C zip -q -r -P '" + c.hashed + "' {zip} .",
                              dir + "/src", zip);
            bytes = test::ReadFile(zip);
            const LocalRecord member = ReadLayout(bytes).locals.at(0);
            if (opens || DecryptedCheckByte(bytes, member, typed) != CheckByte(member))
                break;
            ASSERT_LT(attempt, 5);
        }
        const LocalRecord member = ReadLayout(bytes).locals.at(0);
        EXPECT_EQ(DecryptedCheckByte(bytes, member, c.hashed), CheckByte(member))
            << "fixture: zip hashed other bytes";

        std::string out = dir + "/out-" + std::to_string(&c - cases);
        test::PackOrFail(zip, dir + "/package", {"--encrypted"});
        test::StubRun run =
            RunInDialog(dir + "/package", out,
                        PasswordSteps(typed) + (opens ? CompletedSteps(1)
                                                      : ErrorStep("Incorrect password specified")));
        EXPECT_RUN_EXIT(run, opens ? 0 : 2);
        if (opens)
            EXPECT_TREE(
                out, (std::map<std::string, std::string>{{"secret.txt", "behind a password\n"}}));
        else
            EXPECT_TRUE(Tree(out).empty()) << run.transcript;
    }
}

} // namespace

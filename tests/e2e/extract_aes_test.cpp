// AES members (WinZip AE-1 and AE-2) end to end: archives from 7-Zip (AE-2,
// every key strength, deflated and stored) and from the test's own AE-1
// writer unzip byte for byte; a wrong password is caught by the verifier
// before the member's file is made; a changed byte of data or of the
// authentication code ends the run at that member, whose file stays; AE-1
// checks the CRC-32 as well, AE-2 records none; and a system without the
// CNG library says that AES members cannot be opened there.
#include "tests/e2e/extract_helpers.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace extract_e2e;

using Files = std::map<std::string, std::string>;

const char kPassword[] = "secret";

// The AES record of a member's extra field.
struct AesRecord {
    bool found = false;
    uint16_t vendorVersion = 0, method = 0;
    uint8_t strength = 0;
};

AesRecord AesRecordOf(const std::string &zip, const LocalRecord &r) {
    AesRecord record;
    size_t at = r.offset + 30 + r.nameLength, end = at + r.extraLength;
    while (at + 4 <= end) {
        uint16_t id = Get16(zip, at), size = Get16(zip, at + 2);
        if (id == 0x9901 && size == 7 && zip.compare(at + 6, 2, "AE") == 0) {
            record.found = true;
            record.vendorVersion = Get16(zip, at + 4);
            record.strength = uint8_t(zip[at + 8]);
            record.method = Get16(zip, at + 9);
        }
        at += 4 + size;
    }
    return record;
}

size_t SaltSize(uint8_t strength) {
    return 4 + 4 * size_t(strength);
}

// Where a member's encrypted data starts, behind its salt and verifier.
size_t AesDataOffset(const std::string &zip, const LocalRecord &r) {
    return r.DataOffset() + SaltSize(AesRecordOf(zip, r).strength) + 2;
}

std::string PythonQuoted(const std::string &s) {
    return "'" + s + "'";
}

// Whether `password` passes the verifier of member `r` (worked out with
// Python's PBKDF2, not the stub's), so that a test's wrong password is one the
// archive's random salt really refuses.
bool VerifierAccepts(const std::string &dir, const std::string &zip, const LocalRecord &r,
                     const std::string &password) {
    size_t salt = SaltSize(AesRecordOf(zip, r).strength);
    std::string saltHex, verifierHex;
    for (size_t i = 0; i < salt + 2; i++) {
        char hex[3];
        snprintf(hex, sizeof hex, "%02x", uint8_t(zip[r.DataOffset() + i]));
        (i < salt ? saltHex : verifierHex) += hex;
    }
    std::string out = test::Shell("python3 -c \"import hashlib; d = hashlib.pbkdf2_hmac('sha1', b" +
                                      PythonQuoted(password) + ", bytes.fromhex('" + saltHex +
                                      "'), 1000, " + std::to_string(4 * salt + 2) +
                                      "); print(d[-2:].hex() == '" + verifierHex + "')\"",
                                  dir);
    return out.rfind("True", 0) == 0;
}

// A wrong password that the verifiers of all of `zip`'s members refuse.
std::string RefusedPassword(const std::string &dir, const std::string &zipPath) {
    std::string zip = test::ReadFile(zipPath);
    ZipLayout layout = ReadLayout(zip);
    for (int n = 0;; n++) {
        std::string candidate = "wrong" + std::to_string(n);
        bool refused = true;
        for (const LocalRecord &r : layout.locals)
            refused = refused && !VerifierAccepts(dir, zip, r, candidate);
        if (refused)
            return candidate;
    }
}

const Files &Members() {
    static const Files files = {
        {"a-text.txt", TextBytes(60000, 61)},  // deflates; many input blocks
        {"b-noise.bin", NoiseBytes(9001, 62)}, // not a whole number of AES blocks
        {"c-small.txt", "small\n"},
        {"d-empty.txt", ""},
        {"sub/e-deep.txt", TextBytes(5000, 63)},
    };
    return files;
}

std::string TestAesWriter() {
    return "python3 '" + test::SourceDir() + "/tests/support/make_aes_zip.py'";
}

struct ToolCase {
    const char *label;
    std::string command; // run in the source tree; {zip} is the archive
    uint16_t vendorVersion;
    uint8_t strength;
};
void PrintTo(const ToolCase &c, std::ostream *out) {
    *out << c.label;
}

class ExtractAesTools : public ::testing::TestWithParam<ToolCase> {};

TEST_P(ExtractAesTools, UnzipsEveryMemberByteForByte) {
    const ToolCase &c = GetParam();
    std::string dir = test::TempDir("aes");
    RemovedIfPassed cleanup{dir};
    WriteTree(dir + "/src", Members(), kSourceTime);
    std::string zip = dir + "/archive.zip";
    test::MakeArchive(c.command, dir + "/src", zip);
    std::string bytes = test::ReadFile(zip);
    ZipLayout layout = ReadLayout(bytes);
    size_t files = 0;
    for (const LocalRecord &r : layout.locals) {
        if (r.name.back() == '/')
            continue;
        files++;
        AesRecord aes = AesRecordOf(bytes, r);
        ASSERT_EQ(r.method, 99) << r.name;
        ASSERT_EQ(r.flags & 1, 1) << r.name;
        ASSERT_TRUE(aes.found) << r.name;
        EXPECT_EQ(aes.vendorVersion, c.vendorVersion) << r.name;
        EXPECT_EQ(aes.strength, c.strength) << r.name;
        if (c.vendorVersion == 2)
            EXPECT_EQ(r.crc, 0u) << r.name << ": AE-2 records no CRC";
        else
            EXPECT_EQ(r.crc, Crc32(Members().at(r.name))) << r.name;
    }
    ASSERT_EQ(files, Members().size());

    test::PackOrFail(zip, dir + "/package", {"--encrypted"});
    test::StubRun run = RunAuto(dir + "/package", dir + "/out", PasswordSteps(kPassword));
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
    Files expected = Members();
    expected["sub/"] = "";
    EXPECT_TREE(dir + "/out", expected);
    for (const auto &entry : Members())
        EXPECT_EQ(test::ModifiedTime(dir + "/out/" + entry.first),
                  test::ModifiedTime(dir + "/src/" + entry.first))
            << entry.first;
}

std::vector<ToolCase> ToolCases() {
    const std::string files = " a-text.txt b-noise.bin c-small.txt d-empty.txt sub/e-deep.txt";
    const std::string sevenZip = "TZ=UTC 7z a -tzip -bd -bso0 -psecret ";
    const std::string writer = "TZ=UTC " + TestAesWriter() + " {zip} secret ";
    return {
        {"SevenZipAes128", sevenZip + "-mem=AES128 {zip} .", 2, 1},
        {"SevenZipAes192", sevenZip + "-mem=AES192 {zip} .", 2, 2},
        {"SevenZipAes256", sevenZip + "-mem=AES256 {zip} .", 2, 3},
        {"SevenZipAes256Stored", sevenZip + "-mx0 -mem=AES256 {zip} .", 2, 3},
        {"Ae1Aes128", writer + "--strength 1 --vendor-version 1" + files, 1, 1},
        {"Ae1Aes192Stored", writer + "--strength 2 --vendor-version 1 --stored" + files, 1, 2},
        {"Ae1Aes256", writer + "--strength 3 --vendor-version 1" + files, 1, 3},
    };
}

INSTANTIATE_TEST_SUITE_P(Tools, ExtractAesTools, ::testing::ValuesIn(ToolCases()),
                         [](const ::testing::TestParamInfo<ToolCase> &info) {
                             return std::string(info.param.label);
                         });

// ---- failures ---------------------------------------------------------------------------

// Three stored members; the middle one is the one the cases break.
const Files &Three() {
    static const Files files = {{"first.txt", TextBytes(3000, 71)},
                                {"second.bin", NoiseBytes(10000, 72)},
                                {"third.txt", TextBytes(1000, 73)}};
    return files;
}

struct Broken {
    std::string dir, zip, package, out;
    ZipLayout layout;
    std::string bytes;

    explicit Broken(const std::string &command) {
        dir = test::TempDir("aesfail");
        WriteTree(dir + "/src", Three(), kSourceTime);
        zip = dir + "/archive.zip";
        test::MakeArchive(command, dir + "/src", zip);
        bytes = test::ReadFile(zip);
        layout = ReadLayout(bytes);
        package = dir + "/package";
        out = dir + "/out";
    }
    // Packs the archive, then applies `patch` to the archive's bytes in the
    // package (the builder refuses what the patches make; it packs these
    // archives byte for byte).
    void Pack(const std::function<void(std::string &)> &patch = {}) {
        test::PackOrFail(zip, package, {"--encrypted"});
        std::string packed = test::ReadFile(package);
        size_t archive = ArchiveOffset(packed);
        ASSERT_EQ(packed.compare(archive, bytes.size(), bytes), 0) << "the builder changed it";
        if (!patch)
            return;
        std::string changed = bytes;
        patch(changed);
        ASSERT_EQ(changed.size(), bytes.size());
        packed.replace(archive, changed.size(), changed);
        test::WriteFile(package, packed);
    }
    std::string InOut(const std::string &name) const { return WindowsForm(out + "/" + name); }
};

const char kSevenZipStored[] =
    "TZ=UTC 7z a -tzip -bd -bso0 -mx0 -mem=AES256 -psecret {zip} first.txt second.bin third.txt";

std::string AuthenticationText(const std::string &path) {
    return "ZIP damaged: file " + path +
           " failed its authentication check.  Possible cause: file transfer error, or the "
           "file was changed.";
}

// Runs the package with `password` and expects one error box `message`, the
// run ended with the error exit code, then the unzip folder to hold `after`.
void ExpectFailure(const Broken &b, const std::string &password, const std::string &message,
                   const Files &after, const test::Environment &env = {}) {
    test::StubRun run =
        RunAuto(b.package, b.out, PasswordSteps(password) + ErrorStep(message), env);
    EXPECT_RUN_EXIT(run, 2);
    EXPECT_EQ(BoxesShown(run.transcript), std::vector<BoxSeen>{ErrorBox(message)});
    EXPECT_TREE(b.out, after);
}

TEST(ExtractAes, WrongPasswordIsRefusedBeforeTheFileIsMade) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    b.Pack();
    std::string wrong = RefusedPassword(b.dir, b.zip);
    ExpectFailure(b, wrong, "Incorrect password specified", {});
}

// One byte of the second member's data flipped: counter mode flips the same
// byte of the output, the whole file is written, and the authentication
// code at its end fails; the file stays and the third member is not made.
TEST(ExtractAes, ChangedDataFailsTheAuthenticationCheckAndTheFileStays) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    const LocalRecord second = b.layout.Named("second.bin");
    const size_t flipAt = 5000;
    b.Pack([&](std::string &zip) { zip[AesDataOffset(zip, second) + flipAt] ^= 0x20; });
    Files after = {{"first.txt", Three().at("first.txt")},
                   {"second.bin", Three().at("second.bin")}};
    after["second.bin"][flipAt] ^= 0x20;
    ExpectFailure(b, kPassword, AuthenticationText(b.InOut("second.bin")), after);
}

TEST(ExtractAes, ChangedAuthenticationCodeFailsTheCheck) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    const LocalRecord second = b.layout.Named("second.bin");
    b.Pack([&](std::string &zip) { zip[second.DataOffset() + second.compressedSize - 3] ^= 0x01; });
    ExpectFailure(
        b, kPassword, AuthenticationText(b.InOut("second.bin")),
        {{"first.txt", Three().at("first.txt")}, {"second.bin", Three().at("second.bin")}});
}

// Encrypted bytes behind the end of the deflate stream: the decoder never
// asks for them, yet the authentication code covers them, so they are read
// to the member's end, and the next member is found behind its code.
TEST(ExtractAes, BytesBehindTheDeflateStreamCountForTheCode) {
    Broken b("TZ=UTC " + TestAesWriter() +
             " {zip} secret --vendor-version 2 --pad 3000 first.txt second.bin third.txt");
    RemovedIfPassed cleanup{b.dir};
    b.Pack();
    test::StubRun run = RunAuto(b.package, b.out, PasswordSteps(kPassword));
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
    EXPECT_TREE(b.out, Three());
}

// AE-1 keeps the CRC-32 and it is checked after the code: a wrong CRC in the
// local header (the code does not cover the header) is a CRC failure.
TEST(ExtractAes, Ae1ChecksTheCrcToo) {
    Broken b("TZ=UTC " + TestAesWriter() +
             " {zip} secret --strength 3 --vendor-version 1 first.txt second.bin third.txt");
    RemovedIfPassed cleanup{b.dir};
    const LocalRecord second = b.layout.Named("second.bin");
    uint32_t real = Crc32(Three().at("second.bin")), recorded = real ^ 0x00010000u;
    ASSERT_EQ(second.crc, real);
    b.Pack([&](std::string &zip) { Put32(zip, second.offset + 14, recorded); });
    ExpectFailure(
        b, kPassword,
        "ZIP damaged: file " + b.InOut("second.bin") + ": Bad CRC " + Hex8(real) + " (should be " +
            Hex8(recorded) + ").  Possible cause: file transfer error.",
        {{"first.txt", Three().at("first.txt")}, {"second.bin", Three().at("second.bin")}});
}

// AE-2 records no CRC: whatever the CRC field holds is not compared.
TEST(ExtractAes, Ae2IgnoresTheCrcField) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    b.Pack([&](std::string &zip) {
        for (const LocalRecord &r : b.layout.locals)
            Put32(zip, r.offset + 14, 0xDEADBEEFu);
    });
    test::StubRun run = RunAuto(b.package, b.out, PasswordSteps(kPassword));
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
    EXPECT_TREE(b.out, Three());
}

// A method inside the AES record other than stored or deflated is refused
// as any other unsupported method is.
TEST(ExtractAes, OtherInnerMethodsAreRefused) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    const LocalRecord second = b.layout.Named("second.bin");
    b.Pack([&](std::string &zip) {
        size_t at = second.offset + 30 + second.nameLength;
        ASSERT_EQ(Get16(zip, at), 0x9901);
        Put16(zip, at + 9, 12); // bzip2
    });
    ExpectFailure(b, kPassword, "Unsupported compression method",
                  {{"first.txt", Three().at("first.txt")}, {"second.bin", ""}});
}

// Without the system's CNG library the first AES member ends the run with a
// plain message, before its file is made.
TEST(ExtractAes, NoCngLibrarySaysAesCannotBeOpened) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    b.Pack();
    ExpectFailure(b, kPassword,
                  "Cannot unzip " + b.InOut("first.txt") +
                      ": it is encrypted with AES, and AES-encrypted files cannot be opened on "
                      "this system.",
                  {}, {{"MORVIK_NO_BCRYPT", "1"}});
}

// An AES member declined at the overwrite prompt is stepped over whole (salt,
// data and code) without a password check; the next member follows.
TEST(ExtractAes, DeclinedMemberIsSteppedOverWhole) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    b.Pack();
    test::MakeDirs(b.out);
    test::WriteFile(b.out + "/second.bin", "kept");
    std::string question = "File " + b.InOut("second.bin") + " already exists.  Overwrite file?";
    test::StubRun run =
        RunAuto(b.package, b.out,
                PasswordSteps(kPassword) + "box yesnocancel " + Quoted(question) + " -> no\n");
    EXPECT_CLEAN_RUN(run);
    EXPECT_EQ(BoxesShown(run.transcript), (std::vector<BoxSeen>{{question, kOverwriteBox, "No"}}));
    Files expected = Three();
    expected["second.bin"] = "kept";
    EXPECT_TREE(b.out, expected);
}

// Traditional members and AES members side by side in one archive, one
// password for both.
TEST(ExtractAes, TraditionalAndAesMembersInOneArchive) {
    Broken b(kSevenZipStored);
    RemovedIfPassed cleanup{b.dir};
    test::WriteFile(b.dir + "/src/extra.txt", "traditional\n");
    test::Shell("TZ=UTC 7z a -tzip -bd -bso0 -mem=ZipCrypto -psecret ../archive.zip extra.txt",
                b.dir + "/src");
    b.bytes = test::ReadFile(b.zip);
    b.layout = ReadLayout(b.bytes);
    const LocalRecord extra = b.layout.Named("extra.txt");
    ASSERT_EQ(extra.flags & 1, 1);
    ASSERT_NE(extra.method, 99);
    b.Pack();
    test::StubRun run = RunAuto(b.package, b.out, PasswordSteps(kPassword));
    EXPECT_CLEAN_RUN(run);
    EXPECT_TRUE(BoxesShown(run.transcript).empty()) << run.transcript;
    Files expected = Three();
    expected["extra.txt"] = "traditional\n";
    EXPECT_TREE(b.out, expected);
}

} // namespace

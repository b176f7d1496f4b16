// Helpers of the start-up and user-interface process tests: archives made by
// real tools, packages made by our builder, the SfxHeader of a package file,
// and the message boxes read back from the scripted user's transcript.
#include "tests/e2e/startup_ui_support.h"
#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace sfxe2e {

// Writes `files` (name -> content) below a fresh folder and returns it.
static std::string WriteTree(const Files &files) {
    std::string dir = test::TempDir("tree");
    for (const auto &[name, content] : files) {
        std::string path = dir + "/" + name;
        size_t slash = path.rfind('/');
        test::MakeDirs(path.substr(0, slash));
        test::WriteFile(path, content);
    }
    return dir;
}

std::string PythonZip(const Files &files, bool deflate) {
    std::string dir = WriteTree(files);
    std::string zip = test::TempDir("zip") + "/archive.zip";
    std::vector<std::string> argv = {
        "python3", "-c",
        "import sys, zipfile\n"
        "method = zipfile.ZIP_DEFLATED if sys.argv[2] == 'deflate' else zipfile.ZIP_STORED\n"
        "with zipfile.ZipFile(sys.argv[1], 'w', method) as z:\n"
        "    for name in sys.argv[3:]:\n"
        "        z.write(name, name)\n",
        zip, deflate ? "deflate" : "store"};
    for (const auto &file : files)
        argv.push_back(file.first);
    test::ProcessResult r = test::Run(argv, {}, dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return zip;
}

std::string EncryptedZip(const Files &encrypted, const std::string &password, const Files &plain) {
    Files all = encrypted;
    all.insert(all.end(), plain.begin(), plain.end());
    std::string dir = WriteTree(all);
    std::string zip = test::TempDir("zip") + "/archive.zip";
    std::vector<std::string> argv = {"zip", "-q", "-P", password, zip};
    for (const auto &file : encrypted)
        argv.push_back(file.first);
    test::ProcessResult r = test::Run(argv, {}, dir);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    if (!plain.empty()) {
        argv = {"zip", "-q", zip};
        for (const auto &file : plain)
            argv.push_back(file.first);
        r = test::Run(argv, {}, dir);
        EXPECT_EQ(r.exitCode, 0) << r.err;
    }
    return zip;
}

std::string MakePackage(const std::string &zip, const std::vector<std::string> &options,
                        const std::string &name, const std::string &stub) {
    std::string package = test::TempDir("pkg") + "/" + name;
    test::ProcessResult r = test::Pack(zip, package, options, stub);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    return package;
}

// ---- the SfxHeader in a package file -------------------------------------------------

const std::string kSignature("QVD\x01sfx\x02", 8);

static uint32_t GetU32(const std::string &bytes, size_t offset) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i)
        v = v << 8 | (uint8_t)bytes[offset + (size_t)i];
    return v;
}

void PutU32(std::string &bytes, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i)
        bytes[offset + i] = (char)(value >> (8 * i));
}

PackageHeader ReadHeader(const std::string &bytes) {
    PackageHeader h;
    h.at = bytes.find(kSignature);
    if (h.at == std::string::npos || h.at + 48 > bytes.size()) {
        ADD_FAILURE() << "no SfxHeader in the package";
        return h;
    }
    h.stubCrc = GetU32(bytes, h.at + 8);
    h.archiveOffset = GetU32(bytes, h.at + 12);
    h.trailerOffset = GetU32(bytes, h.at + 16);
    h.endRecordOffset = GetU32(bytes, h.at + 20);
    h.totalSize = GetU32(bytes, h.at + 24);
    h.options = GetU32(bytes, h.at + 28);
    h.completeMarker = (uint16_t)((uint8_t)bytes[h.at + 42] | (uint8_t)bytes[h.at + 43] << 8);
    return h;
}

// ---- message boxes from the transcript ---------------------------------------------------

std::vector<ShownBox> Boxes(const std::string &transcript) {
    return test::TranscriptBoxes(transcript);
}

bool Contains(const std::string &text, const std::string &part) {
    return text.find(part) != std::string::npos;
}

std::string RegexQuote(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (std::string("\\^$.|?*+()[]{}/").find(c) != std::string::npos)
            out += '\\';
        out += c;
    }
    return out;
}

} // namespace sfxe2e

// Helpers shared by the start-up and dialog tests (startup_ui_support.cpp):
// archives made with Python's zipfile and Info-ZIP zip, packages made with
// our builder, the package header, and the boxes a run showed.
#pragma once

#include "tests/support/support.h"

#include <stdint.h>

#include <string>
#include <utility>
#include <vector>

namespace sfxe2e {
using Files = std::vector<std::pair<std::string, std::string>>;
std::string PythonZip(const Files &files, bool deflate);
std::string EncryptedZip(const Files &encrypted, const std::string &password, const Files &plain);
std::string MakePackage(const std::string &zip, const std::vector<std::string> &options,
                        const std::string &name, const std::string &stub);
extern const std::string kSignature;
struct PackageHeader {
    size_t at = std::string::npos;
    uint32_t stubCrc = 0, archiveOffset = 0, trailerOffset = 0, endRecordOffset = 0, totalSize = 0,
             options = 0;
    uint16_t completeMarker = 0;
};
PackageHeader ReadHeader(const std::string &bytes);
void PutU32(std::string &bytes, size_t offset, uint32_t value);
using ShownBox = test::TranscriptBox;
std::vector<ShownBox> Boxes(const std::string &transcript);
bool Contains(const std::string &text, const std::string &part);
std::string RegexQuote(const std::string &text);
} // namespace sfxe2e

// The archive checker and mender: reads a ZIP archive from anyone, by its
// central directory and by each local header, and gives back an archive that
// the stub unzips front to back, or refuses it naming the member and the
// reason.
#pragma once

#include "tools/pack/zip_format.h"

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace pack {

// An archive the stub could not unzip and that cannot be mended safely.
struct Refusal : std::runtime_error {
    using std::runtime_error::runtime_error;
};

enum class NameEncoding {
    Auto,  // bit 11 for names that are UTF-8, when every such name is
    Utf8,  // every name without bit 11 is UTF-8 (refused when one is not)
    Cp437, // names without bit 11 stay code page 437 names
};

struct MendSettings {
    NameEncoding names = NameEncoding::Auto;
    // Called now and then with the bytes of member data checked so far and
    // their total; may be empty.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

// One kind of mend and how many members (or bytes) it touched.
struct Mend {
    std::string what;  // the note line, without the count
    std::string brief; // a word or two for the summary line
    uint64_t count = 0;
};

struct MendedArchive {
    Bytes archive;          // begins with its first local header
    uint32_t endRecord = 0; // offset of the end record in `archive`
    uint32_t totalSize = 0; // sum of the members' uncompressed sizes
    uint32_t members = 0;   // central directory entries
    bool anyEncrypted = false;
    std::vector<Mend> mends;        // only the kinds that happened
    std::vector<std::string> names; // the members' names as stored
};

// Checks `zip` as the stub will read it and mends what can be mended without
// touching any member's data. Throws Refusal. The member data is verified:
// every member that is not encrypted is inflated (or read) and its CRC-32
// compared.
MendedArchive CheckAndMend(const Bytes &zip, const MendSettings &settings);

} // namespace pack

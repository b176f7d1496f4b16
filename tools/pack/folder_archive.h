// The folder archiver: makes, from a folder, a ZIP archive that the stub
// unzips to the same tree.
#pragma once

#include "tools/pack/encrypt.h"
#include "tools/pack/zip_format.h"

#include <functional>
#include <string>
#include <vector>

namespace pack {

struct FolderSettings {
    Encryption encryption = Encryption::None;
    std::string password; // with an encryption method
    // Called now and then with the file bytes read so far and their total.
    std::function<void(uint64_t done, uint64_t total)> progress;
};

struct FolderArchive {
    Bytes archive;
    uint32_t endRecord = 0; // offset of the end record in `archive`
    uint32_t totalSize = 0; // sum of the files' sizes
    uint32_t files = 0, folders = 0;
    uint32_t stored = 0;            // files kept stored, deflate gaining nothing
    std::vector<std::string> names; // the members' names as stored
};

// Every file and folder below `folder`, sorted by the bytes of their names
// level by level (a folder's members right behind it), with UTF-8 names (bit 11), the files'
// modification times as DOS times in local time (to the even second below), each file deflated at
// the best level or stored where that is not smaller. Throws Refusal for what the stub cannot
// carry; symbolic links and special files are refused, each named on a line of its own.
FolderArchive ArchiveFolder(const std::string &folder, const FolderSettings &settings);

} // namespace pack

// The volume-number reader of spanned sets: the label of the disk in the
// drive (a drive link of the host whose folder holds a .windows-label file)
// read as the disk number, by the rules of "PKBACK#", a blank or point, and
// the first run of digits after it.
#include "extract/extract.h"
#include "tests/support/support.h"

#include <gtest/gtest.h>

#include <stdlib.h>
#include <unistd.h>

#include <string>

namespace {

TEST(ReadVolumeNumber, TakesTheNumberAfterPkbackAndItsSeparator) {
    std::string devices = test::TempDir("labels");
    std::string disk = devices + "/disk";
    test::MakeDirs(disk);
    ASSERT_EQ(symlink(disk.c_str(), (devices + "/a:").c_str()), 0);
    setenv("MORVIK_DOSDEVICES", devices.c_str(), 1);
    struct Row {
        const char *label; // nullptr: a disk without a label
        uint16_t number;
    } rows[] = {
        {"PKBACK# 001", 1},
        {"PKBACK#.2", 2},
        {"PKBACK# 12", 12},
        {"PKBACK# 3A", 3},
        {"PKBACK# X", 0}, // a separator, then no digit
        {"PKBACK#  x7y8", 7},
        {"PKBACK#.", 0},
        {"PKBACK# 65536", 0},             // the number is 16 bits wide
        {"PKBACK#", NO_VOLUME_NUMBER},    // no separator
        {"PKBACK#001", NO_VOLUME_NUMBER}, // no separator either
        {"pkback# 1", NO_VOLUME_NUMBER},  // the letter case matters
        {"PKBACK-# 1", NO_VOLUME_NUMBER},
        {"", NO_VOLUME_NUMBER},
        {nullptr, NO_VOLUME_NUMBER},
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(row.label ? std::string("label '") + row.label + "'" : "no label");
        unlink((disk + "/.windows-label").c_str());
        if (row.label)
            test::WriteFile(disk + "/.windows-label", std::string(row.label) + "\n");
        EXPECT_EQ(ReadVolumeNumber("A:"), row.number);
    }
    // No disk in the drive at all.
    unlink((devices + "/a:").c_str());
    EXPECT_EQ(ReadVolumeNumber("A:"), NO_VOLUME_NUMBER);
    unsetenv("MORVIK_DOSDEVICES");
}

} // namespace

// Offsets of files from 2 to 4 GiB, as _llseek (SetFilePointer without the
// high part of the distance) takes and reports them on Windows. The files are
// sparse: nothing near 2 GiB is written to disk.
#include "host_test_support.h"

#include <fcntl.h>
#include <string.h>

namespace {

const long long kGiB = 1024LL * 1024 * 1024;

class LargeFileTest : public HostTest {
  protected:
    // A sparse file of `size` bytes with the 8 bytes "@<offset in hex>" at
    // each of `marks`.
    std::string Sparse(const std::string &name, long long size,
                       std::initializer_list<long long> marks) {
        std::string path = folder / name;
        int fd = open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0666);
        EXPECT_GE(fd, 0);
        EXPECT_EQ(ftruncate(fd, size), 0);
        for (long long at : marks) {
            std::string mark = Mark(at);
            EXPECT_EQ(pwrite(fd, mark.data(), mark.size(), at), static_cast<ssize_t>(mark.size()));
        }
        close(fd);
        return path;
    }
    static std::string Mark(long long at) {
        char text[16];
        snprintf(text, sizeof text, "@%07llx", at & 0xFFFFFFF);
        return text;
    }
    TempFolder folder;
};

TEST_F(LargeFileTest, SeeksTakeSigned32BitDistancesAndReportTheLow32Bits) {
    const long long size = 3 * kGiB + 0x10;
    std::string path = Sparse("three.bin", size, {0, 2 * kGiB - 8, 2 * kGiB, 3 * kGiB, size - 8});
    struct Step {
        LONG offset;
        int origin;
        LONG result;  // what _llseek returns
        DWORD error;  // the last error when it fails (HFILE_ERROR)
        long long at; // the position afterwards
    } steps[] = {
        {0, FILE_END, static_cast<LONG>(0xC0000010u), 0, size},
        {0, FILE_BEGIN, 0, 0, 0},
        {0x7FFFFFF8, FILE_BEGIN, 0x7FFFFFF8, 0, 2 * kGiB - 8},
        {8, FILE_CURRENT, static_cast<LONG>(0x80000000u), 0, 2 * kGiB},
        // From FILE_BEGIN a distance of 2 GiB or more is negative.
        {static_cast<LONG>(0x80000000u), FILE_BEGIN, HFILE_ERROR, ERROR_NEGATIVE_SEEK, 2 * kGiB},
        {static_cast<LONG>(0xC0000000u), FILE_BEGIN, HFILE_ERROR, ERROR_NEGATIVE_SEEK, 2 * kGiB},
        {0x40000000, FILE_CURRENT, static_cast<LONG>(0xC0000000u), 0, 3 * kGiB},
        {-8, FILE_END, static_cast<LONG>(0xC0000008u), 0, size - 8},
        {static_cast<LONG>(0x80000000u), FILE_CURRENT, 0x40000008, 0, kGiB + 8},
        {0x7FFFFFF8, FILE_CURRENT, static_cast<LONG>(0xC0000000u), 0, 3 * kGiB},
        // Past 4 GiB the position does not fit: refused, and it stays.
        {0x40000000, FILE_CURRENT, HFILE_ERROR, ERROR_INVALID_PARAMETER, 3 * kGiB},
        {0x3FFFFFF0, FILE_END, HFILE_ERROR, ERROR_INVALID_PARAMETER, 3 * kGiB},
        {0x3FFFFFEF, FILE_END, HFILE_ERROR, NO_ERROR, 4 * kGiB - 1}, // 0xFFFFFFFF itself
        {-1, FILE_CURRENT, static_cast<LONG>(0xFFFFFFFEu), 0, 4 * kGiB - 2},
        {static_cast<LONG>(0x80000000u), FILE_CURRENT, 0x7FFFFFFE, 0, 2 * kGiB - 2},
        {-0x7FFFFFFF, FILE_CURRENT, HFILE_ERROR, ERROR_NEGATIVE_SEEK, 2 * kGiB - 2},
    };
    for (int mode : {0, 1}) {
        // A read-only handle (with read-ahead) and a read-write one.
        HFILE file = mode == 0 ? _lopen(path.c_str(), OF_READ) : _lopen(path.c_str(), OF_READWRITE);
        ASSERT_NE(file, HFILE_ERROR);
        int i = 0;
        for (const Step &s : steps) {
            SCOPED_TRACE("mode " + std::to_string(mode) + " step " + std::to_string(i++));
            SetLastError(12345);
            EXPECT_EQ(_llseek(file, s.offset, s.origin), s.result);
            if (s.result == HFILE_ERROR) {
                EXPECT_EQ(GetLastError(), s.error);
            }
            // Where it stands: a read there gets the bytes of that position.
            LONG position = _llseek(file, 0, FILE_CURRENT);
            EXPECT_EQ(static_cast<DWORD>(position), static_cast<DWORD>(s.at));
            for (long long mark : {0LL, 2 * kGiB - 8, 2 * kGiB, 3 * kGiB, size - 8}) {
                if (mark != s.at)
                    continue;
                char bytes[9] = {0};
                EXPECT_EQ(_lread(file, bytes, 8), 8u);
                EXPECT_EQ(std::string(bytes), Mark(mark));
                EXPECT_EQ(_llseek(file, -8, FILE_CURRENT), static_cast<LONG>(s.at));
            }
        }
        EXPECT_EQ(_lclose(file), 0);
    }
}

TEST_F(LargeFileTest, AFileOf4GiBOrMoreHasNoEndTheProgramCanReport) {
    struct Case {
        long long size;
        LONG end;
        DWORD error;
    } cases[] = {
        {4 * kGiB - 2, static_cast<LONG>(0xFFFFFFFEu), 0},
        {4 * kGiB - 1, HFILE_ERROR, NO_ERROR},
        {4 * kGiB, HFILE_ERROR, ERROR_INVALID_PARAMETER},
        {5 * kGiB, HFILE_ERROR, ERROR_INVALID_PARAMETER},
    };
    for (const Case &c : cases) {
        std::string path = Sparse("big.bin", c.size, {});
        HFILE file = _lopen(path.c_str(), OF_READ | OF_SHARE_DENY_WRITE);
        ASSERT_NE(file, HFILE_ERROR);
        SetLastError(12345);
        EXPECT_EQ(_llseek(file, 0, FILE_END), c.end) << c.size;
        if (c.end == HFILE_ERROR) {
            EXPECT_EQ(GetLastError(), c.error) << c.size;
        }
        EXPECT_EQ(_llseek(file, 0, FILE_BEGIN), 0);
        EXPECT_EQ(_lclose(file), 0);
    }
}

} // namespace

// Share modes: an open that denies writers fails while the file is open for
// writing anywhere, and opens for writing fail while an open that denies
// writers holds the file, as on Windows (ERROR_SHARING_VIOLATION).
#include "host_test_support.h"
#include "tests/support/support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>

#include <functional>

namespace {

class SharingTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        path = folder / "package.exe";
        WriteTextFile(path, "the package bytes");
    }
    TempFolder folder;
    std::string path;
};

enum Open { kDenyWrite, kRead, kWrite, kCreate };
const char *const kOpenNames[] = {"_lopen deny-write", "_lopen read", "_lopen write", "_lcreat"};

HFILE OpenAs(Open how, const std::string &path) {
    switch (how) {
    case kDenyWrite:
        return _lopen(path.c_str(), OF_READ | OF_SHARE_DENY_WRITE);
    case kRead:
        return _lopen(path.c_str(), OF_READ);
    case kWrite:
        return _lopen(path.c_str(), OF_WRITE);
    default:
        return _lcreat(path.c_str(), 0);
    }
}

// Tries each kind of open while the holder is there: `refused` lists the
// ones that must fail with a sharing violation. A refused _lcreat leaves the
// file as it was.
void ExpectOpens(const std::string &path, const std::vector<Open> &refused, const char *holder) {
    for (Open how : {kDenyWrite, kRead, kWrite, kCreate}) {
        bool mustFail = std::find(refused.begin(), refused.end(), how) != refused.end();
        SetLastError(NO_ERROR);
        HFILE file = OpenAs(how, path);
        if (mustFail) {
            EXPECT_EQ(file, HFILE_ERROR) << holder << ": " << kOpenNames[how];
            EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION))
                << holder << ": " << kOpenNames[how];
            EXPECT_EQ(ReadTextFile(path), "the package bytes") << holder;
        } else {
            EXPECT_NE(file, HFILE_ERROR) << holder << ": " << kOpenNames[how];
            _lclose(file);
            WriteTextFile(path, "the package bytes");
        }
    }
}

TEST_F(SharingTest, AnotherProcessWritingRefusesOnlyOpensThatDenyWriters) {
    {
        test::OtherProcess writer([&] { return open(path.c_str(), O_WRONLY | O_APPEND) >= 0; },
                                  "open the file for writing");
        ExpectOpens(path, {kDenyWrite}, "another program writing");
    }
    {
        test::OtherProcess reader([&] { return open(path.c_str(), O_RDONLY) >= 0; },
                                  "open the file for reading");
        ExpectOpens(path, {}, "another program reading");
    }
    {
        test::OtherProcess denier(
            [&] { return _lopen(path.c_str(), OF_READ | OF_SHARE_DENY_WRITE) != HFILE_ERROR; },
            "open the file denying writers");
        ExpectOpens(path, {kWrite, kCreate}, "another process denying writers");
    }
    ExpectOpens(path, {}, "nobody");
}

TEST_F(SharingTest, HandlesOfThisProcessShareAsOnWindows) {
    struct Row {
        Open held;
        std::vector<Open> refused;
    } rows[] = {
        {kDenyWrite, {kWrite, kCreate}},
        {kRead, {}},
        {kWrite, {kDenyWrite}},
        {kCreate, {kDenyWrite}},
    };
    for (const Row &row : rows) {
        WriteTextFile(path, "the package bytes");
        HFILE held = OpenAs(row.held, path);
        ASSERT_NE(held, HFILE_ERROR) << kOpenNames[row.held];
        if (row.held == kCreate)
            WriteTextFile(path, "the package bytes");
        ExpectOpens(path, row.refused, kOpenNames[row.held]);
        EXPECT_EQ(_lclose(held), 0);
        ExpectOpens(path, {}, "closed again");
    }
    // Two opens that deny writers share the file.
    HFILE first = OpenAs(kDenyWrite, path), second = OpenAs(kDenyWrite, path);
    EXPECT_NE(first, HFILE_ERROR);
    EXPECT_NE(second, HFILE_ERROR);
    _lclose(first);
    EXPECT_EQ(OpenAs(kCreate, path), HFILE_ERROR) << "the second still denies writers";
    _lclose(second);
}

} // namespace

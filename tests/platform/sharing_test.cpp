// Share modes: an open that denies writers fails while the file is open for
// writing anywhere, and opens for writing fail while an open that denies
// writers holds the file, as on Windows (ERROR_SHARING_VIOLATION).
#include "host_test_support.h"

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

// A process that holds the file open as `hold` says until it is ended.
class Holder {
  public:
    explicit Holder(const std::function<bool()> &hold) {
        int ready[2];
        EXPECT_EQ(pipe(ready), 0);
        pid_ = fork();
        if (pid_ == 0) {
            close(ready[0]);
            char answer = hold() ? 'y' : 'n';
            if (write(ready[1], &answer, 1) != 1)
                _exit(1);
            pause();
            _exit(0);
        }
        close(ready[1]);
        char answer = 0;
        EXPECT_EQ(read(ready[0], &answer, 1), 1);
        EXPECT_EQ(answer, 'y') << "the holder could not open the file";
        close(ready[0]);
    }
    ~Holder() {
        kill(pid_, SIGKILL);
        int status;
        waitpid(pid_, &status, 0);
    }

  private:
    pid_t pid_ = -1;
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
        Holder writer([&] { return open(path.c_str(), O_WRONLY | O_APPEND) >= 0; });
        ExpectOpens(path, {kDenyWrite}, "another program writing");
    }
    {
        Holder reader([&] { return open(path.c_str(), O_RDONLY) >= 0; });
        ExpectOpens(path, {}, "another program reading");
    }
    {
        Holder denier(
            [&] { return _lopen(path.c_str(), OF_READ | OF_SHARE_DENY_WRITE) != HFILE_ERROR; });
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

// Whole-file handles, folder calls and the simulated full disk.
#include "host_test_support.h"

#include <string.h>
#include <sys/wait.h>

namespace {

const UINT kUintError = static_cast<UINT>(HFILE_ERROR);

class FilesTest : public HostTest {
  protected:
    TempFolder folder;
    std::string Path(const std::string &name) const { return folder / name; }
};

TEST_F(FilesTest, CreateWriteSeekReadWithExactCounts) {
    HFILE file = _lcreat(Path("data.bin").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_NE(file, 0) << "0 means 'no file' to the program";
    EXPECT_EQ(_lwrite(file, "0123456789", 10), 10u);
    EXPECT_EQ(_llseek(file, 0, FILE_CURRENT), 10);
    EXPECT_EQ(_llseek(file, 3, FILE_BEGIN), 3);
    char buffer[16] = {};
    EXPECT_EQ(_lread(file, buffer, 4), 4u);
    EXPECT_STREQ(buffer, "3456");
    EXPECT_EQ(_llseek(file, -2, FILE_END), 8);
    EXPECT_EQ(_lread(file, buffer, 10), 2u) << "a read at the end returns the short count";
    EXPECT_EQ(_lread(file, buffer, 10), 0u);
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(ReadTextFile(Path("data.bin")), "0123456789");
}

TEST_F(FilesTest, OpenModesAndMissingFiles) {
    WriteTextFile(Path("in.txt"), "abc");
    HFILE reader = _lopen(Path("in.txt").c_str(), OF_READ | OF_SHARE_DENY_WRITE);
    ASSERT_NE(reader, HFILE_ERROR);
    EXPECT_GT(reader, 0);
    EXPECT_EQ(_lwrite(reader, "x", 1), kUintError) << "a read-only handle cannot write";
    char buffer[4] = {};
    EXPECT_EQ(_lread(reader, buffer, 3), 3u);
    EXPECT_EQ(_lclose(reader), 0);

    HFILE writer = _lopen(Path("in.txt").c_str(), OF_WRITE);
    ASSERT_NE(writer, HFILE_ERROR);
    EXPECT_EQ(_lwrite(writer, "X", 1), 1u);
    EXPECT_EQ(_lread(writer, buffer, 1), kUintError) << "a write-only handle cannot read";
    EXPECT_EQ(_lclose(writer), 0);
    EXPECT_EQ(ReadTextFile(Path("in.txt")), "Xbc") << "_lopen does not truncate";

    EXPECT_EQ(_lopen(Path("missing.txt").c_str(), OF_READ), HFILE_ERROR);
    EXPECT_EQ(_lopen(folder.path().c_str(), OF_READ), HFILE_ERROR) << "a folder is no file";
    EXPECT_EQ(_lcreat(folder.path().c_str(), 0), HFILE_ERROR);
    EXPECT_EQ(_lcreat(Path("no/such/folder.txt").c_str(), 0), HFILE_ERROR);
}

TEST_F(FilesTest, CreateTruncatesAnExistingFile) {
    WriteTextFile(Path("old.txt"), "a long old content");
    HFILE file = _lcreat(Path("old.txt").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lwrite(file, "new", 3), 3u);
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(ReadTextFile(Path("old.txt")), "new");
}

TEST_F(FilesTest, SeekingPastTheEndIsAllowedAndWritingThereFillsZeros) {
    HFILE file = _lcreat(Path("sparse.bin").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_llseek(file, 100, FILE_BEGIN), 100);
    char buffer[4];
    EXPECT_EQ(_lread(file, buffer, 4), 0u);
    EXPECT_EQ(_llseek(file, 5, FILE_END), 5);
    EXPECT_EQ(_lwrite(file, "Z", 1), 1u);
    EXPECT_EQ(_llseek(file, 0, FILE_END), 6);
    EXPECT_EQ(_llseek(file, -1, FILE_BEGIN), HFILE_ERROR) << "before the start";
    EXPECT_EQ(_llseek(file, 0, 7), HFILE_ERROR) << "no such origin";
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(ReadTextFile(Path("sparse.bin")), std::string(5, '\0') + "Z");
}

TEST_F(FilesTest, WritingNothingCutsTheFileAtThePosition) {
    WriteTextFile(Path("cut.txt"), "0123456789");
    HFILE file = _lopen(Path("cut.txt").c_str(), OF_READWRITE);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_llseek(file, 4, FILE_BEGIN), 4);
    EXPECT_EQ(_lwrite(file, "", 0), 0u);
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(ReadTextFile(Path("cut.txt")), "0123");
}

TEST_F(FilesTest, HandlesThatAreNotOpenFilesAreRefused) {
    char buffer[4];
    for (HFILE bad : {HFILE(0), HFILE(-1), HFILE(1), HFILE(2), HFILE(3), HFILE(12345)}) {
        SCOPED_TRACE(bad);
        EXPECT_EQ(_lread(bad, buffer, 1), kUintError);
        EXPECT_EQ(_lwrite(bad, "x", 1), kUintError);
        EXPECT_EQ(_llseek(bad, 0, FILE_BEGIN), HFILE_ERROR);
        EXPECT_EQ(_lclose(bad), HFILE_ERROR);
    }
    HFILE file = _lcreat(Path("once.txt").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(_lclose(file), HFILE_ERROR) << "a closed handle is closed only once";
    EXPECT_EQ(_lwrite(file, "x", 1), kUintError);
}

TEST_F(FilesTest, InjectedWriteFailureGivesShortCountsAfterTheBudget) {
    HostFailWritesAfter(10);
    HFILE file = _lcreat(Path("full.bin").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lwrite(file, "abcdef", 6), 6u);
    EXPECT_EQ(_lwrite(file, "ghijkl", 6), 4u) << "only what is left of the 10 bytes";
    EXPECT_EQ(_lwrite(file, "mn", 2), 0u);
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(ReadTextFile(Path("full.bin")), "abcdefghij");

    HostFailWritesAfter(-1);
    file = _lcreat(Path("free.bin").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lwrite(file, "0123456789abcdef", 16), 16u);
    EXPECT_EQ(_lclose(file), 0);
}

TEST_F(FilesTest, WriteFailureFromTheEnvironmentCountsAllHandles) {
    SetEnv("MORVIK_FAIL_WRITES_AFTER", "5");
    HostReset();
    HFILE first = _lcreat(Path("one.bin").c_str(), 0);
    HFILE second = _lcreat(Path("two.bin").c_str(), 0);
    ASSERT_NE(first, HFILE_ERROR);
    ASSERT_NE(second, HFILE_ERROR);
    EXPECT_EQ(_lwrite(first, "abc", 3), 3u);
    EXPECT_EQ(_lwrite(second, "defg", 4), 2u);
    EXPECT_EQ(_lwrite(first, "h", 1), 0u);
    _lclose(first);
    _lclose(second);

    SetEnv("MORVIK_FAIL_WRITES_AFTER", nullptr);
    HostReset();
    HFILE third = _lcreat(Path("three.bin").c_str(), 0);
    ASSERT_NE(third, HFILE_ERROR);
    EXPECT_EQ(_lwrite(third, "abcdefgh", 8), 8u) << "HostReset re-reads the environment";
    _lclose(third);
}

// Output goes to the file in gathered pieces; the file must look, to every
// call and at every point the program can see, as if each write went through.
TEST_F(FilesTest, GatheredWritesAreInTheFileBeforeAnythingElseTouchesIt) {
    std::string block(2048, 'x');
    std::string expected;
    HFILE file = _lcreat(Path("out.bin").c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    for (int i = 0; i < 40; i++) { // 80 KiB: more than one gathering
        block[0] = static_cast<char>('A' + i % 26);
        ASSERT_EQ(_lwrite(file, block.data(), 2048), 2048u);
        expected += block;
    }
    EXPECT_EQ(_llseek(file, 0, FILE_CURRENT), static_cast<LONG>(expected.size()));
    EXPECT_EQ(_llseek(file, 2048, FILE_BEGIN), 2048);
    char head[2] = {};
    EXPECT_EQ(_lread(file, head, 1), 1u);
    EXPECT_EQ(head[0], 'B') << "a read sees what was written just before";
    EXPECT_EQ(_llseek(file, 0, FILE_END), static_cast<LONG>(expected.size()));
    EXPECT_EQ(_lwrite(file, "tail", 4), 4u);
    expected += "tail";

    // A time stamp set after the last write stays: nothing is written later.
    FILETIME stamp;
    ASSERT_TRUE(
        DosDateTimeToFileTime(static_cast<WORD>((2001 - 1980) << 9 | 2 << 5 | 3), 0, &stamp));
    ASSERT_TRUE(SetFileTime(reinterpret_cast<HANDLE>(static_cast<intptr_t>(file)), nullptr, nullptr,
                            &stamp));
    EXPECT_EQ(_lclose(file), 0);
    EXPECT_EQ(ReadTextFile(Path("out.bin")), expected);
    struct stat st;
    ASSERT_EQ(stat(Path("out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mtime, 981158400) << "2001-02-03 00:00 UTC, not the time of a late write";
}

TEST_F(FilesTest, AFailureToSendGatheredBytesIsReportedByALaterCallOrTheClose) {
    // /dev/full refuses every byte with "no space left".
    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full";
    std::string block(2048, 'x');
    HFILE file = _lopen("/dev/full", OF_WRITE);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lwrite(file, block.data(), 2048), 2048u) << "accepted and gathered";
    EXPECT_EQ(_lclose(file), HFILE_ERROR) << "the bytes never arrived: the close fails";

    file = _lopen("/dev/full", OF_WRITE);
    ASSERT_NE(file, HFILE_ERROR);
    bool refused = false;
    for (int i = 0; i < 64 && !refused; i++)
        refused = _lwrite(file, block.data(), 2048) == kUintError;
    EXPECT_TRUE(refused) << "a write that has to send the gathered bytes fails";
    EXPECT_EQ(_lclose(file), HFILE_ERROR) << "and the failure stays with the handle";
}

TEST_F(FilesTest, ExitProcessSendsWhatAnOpenHandleGathered) {
    std::string path = Path("left-open.bin");
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        HFILE file = _lcreat(path.c_str(), 0);
        if (file == HFILE_ERROR || _lwrite(file, "not lost", 8) != 8)
            _exit(3);
        ExitProcess(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
    EXPECT_EQ(ReadTextFile(path), "not lost");
}

TEST_F(FilesTest, FindFirstFileReportsNameAndKind) {
    WriteTextFile(Path("Readme.TXT"), "12345");
    ASSERT_TRUE(CreateDirectoryA(Path("sub").c_str(), nullptr));

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(Path("Readme.TXT").c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_NE(find, nullptr);
    EXPECT_STREQ(data.cFileName, "Readme.TXT");
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(data.nFileSizeLow, 5u);
    EXPECT_TRUE(FindClose(find));

    std::string windowsStyle = folder.path() + "\\sub";
    find = FindFirstFileA(windowsStyle.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE) << "a backslash separates too";
    EXPECT_STREQ(data.cFileName, "sub");
    EXPECT_EQ(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY,
              static_cast<DWORD>(FILE_ATTRIBUTE_DIRECTORY));
    EXPECT_TRUE(FindClose(find));

    for (const std::string &missing :
         {Path("nothing"), Path("sub/"), folder.path() + "\\sub\\", std::string()}) {
        SCOPED_TRACE(missing);
        EXPECT_EQ(FindFirstFileA(missing.c_str(), &data), INVALID_HANDLE_VALUE);
    }
    EXPECT_FALSE(FindClose(INVALID_HANDLE_VALUE));
}

TEST_F(FilesTest, CreateDirectoryFailsWhenTheFolderExistsOrItsParentIsMissing) {
    EXPECT_TRUE(CreateDirectoryA(Path("new").c_str(), nullptr));
    EXPECT_TRUE(IsFolder(Path("new")));
    EXPECT_FALSE(CreateDirectoryA(Path("new").c_str(), nullptr));
    EXPECT_FALSE(CreateDirectoryA((folder.path() + "\\new\\").c_str(), nullptr))
        << "a trailing separator names the same existing folder";
    EXPECT_TRUE(CreateDirectoryA((folder.path() + "\\new\\inner").c_str(), nullptr));
    EXPECT_TRUE(IsFolder(Path("new/inner")));
    EXPECT_FALSE(CreateDirectoryA(Path("a/b").c_str(), nullptr));
}

TEST_F(FilesTest, CurrentFolderFollowsSetCurrentDirectoryAndRelativePaths) {
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_TRUE(CreateDirectoryA(Path("work").c_str(), nullptr));
    ASSERT_TRUE(SetCurrentDirectoryA(Path("work").c_str()));

    char buffer[MAX_PATH];
    DWORD length = GetCurrentDirectoryA(sizeof buffer, buffer);
    std::string expected = folder / "work";
    EXPECT_EQ(length, expected.size());
    EXPECT_EQ(std::string(buffer), expected);

    char tiny[4] = "abc";
    EXPECT_EQ(GetCurrentDirectoryA(sizeof tiny, tiny), expected.size() + 1)
        << "too small: the size needed, NUL included";
    EXPECT_STREQ(tiny, "abc") << "and the buffer is left alone";

    HFILE file = _lcreat("rel\xE9.txt", 0); // relative, with an ANSI name
    ASSERT_NE(file, HFILE_ERROR);
    _lclose(file);
    EXPECT_EQ(ReadTextFile(Path("work/rel\xC3\xA9.txt")), "");
    EXPECT_TRUE(CreateDirectoryA("sub\\deeper", nullptr) == FALSE);
    EXPECT_TRUE(CreateDirectoryA("sub", nullptr));
    EXPECT_TRUE(CreateDirectoryA("sub\\deeper", nullptr));
    EXPECT_TRUE(IsFolder(Path("work/sub/deeper")));

    EXPECT_FALSE(SetCurrentDirectoryA(Path("missing").c_str()));
    ASSERT_EQ(chdir(saved), 0);
}

TEST_F(FilesTest, HostNamesAreUtf8AndComeBackInTheAnsiCodePage) {
    std::string ansiName = folder.path() + "\\caf\xE9.txt";
    HFILE file = _lcreat(ansiName.c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    EXPECT_EQ(_lwrite(file, "x", 1), 1u);
    _lclose(file);
    EXPECT_EQ(ReadTextFile(Path("caf\xC3\xA9.txt")), "x") << "lands as UTF-8 \"café.txt\"";

    WIN32_FIND_DATAA data;
    HANDLE find = FindFirstFileA(ansiName.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "caf\xE9.txt");
    FindClose(find);

    // A host name with a character that code page 1252 lacks comes back with '?'.
    std::string box = folder / "\xE2\x94\x80"
                               "box"; // U+2500 box drawing
    ASSERT_EQ(mkdir(box.c_str(), 0777), 0);
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(box.c_str()), 0);
    char current[MAX_PATH];
    GetCurrentDirectoryA(sizeof current, current);
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_EQ(std::string(current), folder / "?box");

    // Under code page 932 the same bytes name other characters: 0x95 0x5C is
    // one character whose second byte is no separator.
    ASSERT_TRUE(HostSetAnsiCodePage(932));
    std::string sjis = folder.path() + "/\x95\x5C.txt";
    file = _lcreat(sjis.c_str(), 0);
    ASSERT_NE(file, HFILE_ERROR);
    _lclose(file);
    EXPECT_EQ(ReadTextFile(Path("\xE8\xA1\xA8.txt")), "") << "U+8868 in UTF-8";
    find = FindFirstFileA(sjis.c_str(), &data);
    ASSERT_NE(find, INVALID_HANDLE_VALUE);
    EXPECT_STREQ(data.cFileName, "\x95\x5C.txt");
    FindClose(find);
}

TEST_F(FilesTest, WindowsFolderComesFromTheEnvironmentOrAFolderUnderHome) {
    SetEnv("MORVIK_WINDIR", "C:\\WINDOWS");
    char buffer[MAX_PATH];
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), 10u);
    EXPECT_STREQ(buffer, "C:\\WINDOWS");
    EXPECT_EQ(GetWindowsDirectoryA(buffer, 10), 11u) << "too small: size needed";

    SetEnv("MORVIK_WINDIR", nullptr);
    SetEnv("HOME", folder.path().c_str());
    std::string expected = folder / ".morvik/windows";
    EXPECT_EQ(GetWindowsDirectoryA(buffer, sizeof buffer), expected.size());
    EXPECT_EQ(std::string(buffer), expected);
    EXPECT_TRUE(IsFolder(expected)) << "the default folder is made on demand";
}

TEST_F(FilesTest, SetErrorModeIsANoOp) {
    EXPECT_EQ(SetErrorMode(0x8001), 0u);
}

} // namespace

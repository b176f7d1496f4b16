// File names as Windows treats them: found and opened without regard to
// letter case, trailing dots and blanks dropped, and the characters Windows
// refuses refused with ERROR_INVALID_NAME, in existence tests, opens, creates
// and folder creation alike.
#include "host_test_support.h"

#include <fcntl.h>
#include <string.h>

namespace {

class NamesTest : public HostTest {
  protected:
    std::string Path(const std::string &rest) const { return folder.path() + "\\" + rest; }
    bool Finds(const std::string &rest, std::string *name = nullptr) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA(Path(rest).c_str(), &data);
        if (find == INVALID_HANDLE_VALUE)
            return false;
        if (name)
            *name = data.cFileName;
        FindClose(find);
        return true;
    }
    TempFolder folder;
};

// What is on disk: README.TXT, Docs/Guide.md, caf\xC3\x89.txt (an upper-case
// E acute) and a folder "Mixed.Case".
void MakeTree(const TempFolder &folder) {
    WriteTextFile(folder / "README.TXT", "readme");
    ASSERT_EQ(mkdir((folder / "Docs").c_str(), 0777), 0);
    WriteTextFile(folder / "Docs/Guide.md", "guide");
    WriteTextFile(folder / "caf\xC3\x89.txt", "cafe");
    ASSERT_EQ(mkdir((folder / "Mixed.Case").c_str(), 0777), 0);
}

TEST_F(NamesTest, ExistenceTestsMatchWithoutRegardToCaseAndDropTrailingDotsAndBlanks) {
    MakeTree(folder);
    struct Case {
        const char *asked;
        const char *found; // the name FindFirstFileA reports; nullptr: not found
        DWORD error;       // the last error when not found
    } cases[] = {
        {"readme.txt", "README.TXT", 0},
        {"ReadMe.Txt", "README.TXT", 0},
        {"README.TXT", "README.TXT", 0},
        {"readme.txt.", "README.TXT", 0},
        {"readme.txt . .", "README.TXT", 0},
        {"docs\\guide.MD", "Guide.md", 0},
        {"DOCS.\\guide.md", "Guide.md", 0}, // one dot of a folder's name goes
        {"docs/GUIDE.md  ", "Guide.md", 0},
        {"mixed.case", "Mixed.Case", 0},
        {"caf\xE9.TXT", "caf\xC9.txt", 0},                   // e acute in code page 1252
        {"docs \\guide.md", nullptr, ERROR_PATH_NOT_FOUND},  // a folder keeps its blank
        {"docs..\\guide.md", nullptr, ERROR_PATH_NOT_FOUND}, // and all but one dot
        {"readme.txt\\", nullptr, ERROR_FILE_NOT_FOUND},
        {"read me.txt", nullptr, ERROR_FILE_NOT_FOUND},
        {"nothing\\guide.md", nullptr, ERROR_PATH_NOT_FOUND},
        {"read|me.txt", nullptr, ERROR_INVALID_NAME},
        {"docs|\\guide.md", nullptr, ERROR_INVALID_NAME},
        {"do?s\\guide.md", nullptr, ERROR_INVALID_NAME},
        {"read\x01me.txt", nullptr, ERROR_INVALID_NAME},
        // The last component's * ? < > " are FindFirstFileA's wildcards.
        {"readme.*", "README.TXT", 0},
        {"read??.txt", "README.TXT", 0},
        {"*.md", nullptr, ERROR_FILE_NOT_FOUND},
        {"docs\\*.MD", "Guide.md", 0},
        {"docs\\g<", "Guide.md", 0},
        {"docs\\guide\"md", "Guide.md", 0},
        {"docs\\guide.m>", "Guide.md", 0},
    };
    for (const Case &c : cases) {
        std::string name;
        SetLastError(NO_ERROR);
        bool found = Finds(c.asked, &name);
        if (c.found) {
            EXPECT_TRUE(found) << c.asked;
            EXPECT_EQ(name, c.found) << c.asked;
        } else {
            EXPECT_FALSE(found) << c.asked << " found " << name;
            EXPECT_EQ(GetLastError(), c.error) << c.asked;
        }
    }
}

TEST_F(NamesTest, OpensAndCreatesReachTheEntryThatDiffersInCaseOnly) {
    MakeTree(folder);
    // Opening for reading.
    for (const char *asked : {"readme.txt", "Readme.txt.", "docs\\GUIDE.MD", "DOCS.\\guide.md "}) {
        HFILE file = _lopen(Path(asked).c_str(), OF_READ | OF_SHARE_DENY_WRITE);
        ASSERT_NE(file, HFILE_ERROR) << asked;
        char bytes[8] = {0};
        EXPECT_GT(_lread(file, bytes, sizeof bytes - 1), 0u) << asked;
        EXPECT_TRUE(!strcmp(bytes, "readme") || !strcmp(bytes, "guide")) << asked;
        _lclose(file);
    }
    // Creating over an existing file keeps its name and replaces its bytes;
    // no second file appears.
    struct Case {
        const char *asked, *onDisk, *content;
    } cases[] = {
        {"readme.txt", "README.TXT", "one"},
        {"README.txt. ", "README.TXT", "two"},
        {"docs\\guide.md", "Docs/Guide.md", "three"},
        {"CAF\xC9.TXT", "caf\xC3\x89.txt", "four"},
        {"new.txt...", "new.txt", "five"},
        {"NEW.TXT", "new.txt", "six"},
        {"mixed.case\\Inner.txt", "Mixed.Case/Inner.txt", "seven"},
    };
    for (const Case &c : cases) {
        HFILE file = _lcreat(Path(c.asked).c_str(), 0);
        ASSERT_NE(file, HFILE_ERROR) << c.asked;
        ASSERT_EQ(_lwrite(file, c.content, static_cast<UINT>(strlen(c.content))),
                  strlen(c.content));
        ASSERT_EQ(_lclose(file), 0);
        EXPECT_EQ(ReadTextFile(folder / c.onDisk), c.content) << c.asked;
    }
    std::string names;
    if (DIR *dir = opendir(folder.path().c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                names += std::string(entry->d_name) + "|";
        closedir(dir);
    }
    EXPECT_EQ(names.size(),
              std::string("README.TXT|Docs|caf\xC3\x89.txt|Mixed.Case|new.txt|").size())
        << names;
}

TEST_F(NamesTest, RefusedCharactersFailWithInvalidNameAndMakeNothing) {
    for (const char *bad :
         {"a?.txt", "a*.txt", "a<b", "a>b", "a\"b", "a|b", "tab\there", "sub?\\x.txt"}) {
        SetLastError(NO_ERROR);
        EXPECT_EQ(_lcreat(Path(bad).c_str(), 0), HFILE_ERROR) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
        SetLastError(NO_ERROR);
        EXPECT_EQ(_lopen(Path(bad).c_str(), OF_READ), HFILE_ERROR) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
        SetLastError(NO_ERROR);
        EXPECT_FALSE(CreateDirectoryA(Path(bad).c_str(), nullptr)) << bad;
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_INVALID_NAME)) << bad;
    }
    std::string left;
    if (DIR *dir = opendir(folder.path().c_str())) {
        while (struct dirent *entry = readdir(dir))
            if (entry->d_name[0] != '.')
                left += entry->d_name;
        closedir(dir);
    }
    EXPECT_EQ(left, "") << "nothing was made";
}

TEST_F(NamesTest, FoldersAreMadeOnceWhateverTheCaseAndTrailingDots) {
    struct Step {
        const char *asked;
        BOOL made;
        DWORD error;
    } steps[] = {
        {"Out", TRUE, 0},
        {"out", FALSE, ERROR_ALREADY_EXISTS},
        {"OUT.", FALSE, ERROR_ALREADY_EXISTS},
        {"out\\Sub. . .", TRUE, 0},
        {"OUT\\SUB", FALSE, ERROR_ALREADY_EXISTS},
        {"out.\\sub\\deeper", TRUE, 0},
        {"missing\\deeper", FALSE, ERROR_PATH_NOT_FOUND},
    };
    for (const Step &s : steps) {
        SetLastError(NO_ERROR);
        EXPECT_EQ(CreateDirectoryA(Path(s.asked).c_str(), nullptr), s.made) << s.asked;
        if (!s.made) {
            EXPECT_EQ(GetLastError(), s.error) << s.asked;
        }
    }
    EXPECT_TRUE(IsFolder(folder / "Out/Sub/deeper"));
    std::string name;
    ASSERT_TRUE(Finds("OUT\\SUB\\DEEPER", &name));
    EXPECT_EQ(name, "deeper");
}

// A folder's names are looked at once and kept while it does not change; a
// change made by another program is seen at the next look.
TEST_F(NamesTest, ChangesMadeBehindTheLayersBackAreSeen) {
    WriteTextFile(folder / "First.txt", "1");
    EXPECT_TRUE(Finds("first.txt"));
    EXPECT_FALSE(Finds("second.txt"));
    WriteTextFile(folder / "SECOND.txt", "2");
    EXPECT_TRUE(Finds("second.txt"));
    ASSERT_EQ(unlink((folder / "First.txt").c_str()), 0);
    EXPECT_FALSE(Finds("first.txt"));
    ASSERT_EQ(rename((folder / "SECOND.txt").c_str(), (folder / "Third.txt").c_str()), 0);
    EXPECT_FALSE(Finds("second.txt"));
    std::string name;
    EXPECT_TRUE(Finds("THIRD.TXT", &name));
    EXPECT_EQ(name, "Third.txt");
}

} // namespace

// The registry file behind RegQueryValueA.
#include "host_test_support.h"

#include <string.h>

namespace {

const char *const kKey = "morvik\\shell\\open\\command";

class RegistryTest : public HostTest {
  protected:
    void SetUp() override {
        HostTest::SetUp();
        SetEnv("MORVIK_REGISTRY", (folder / "registry.txt").c_str());
    }
    TempFolder folder;
};

TEST_F(RegistryTest, ValueIsFoundAndTheSizeIncludesTheNul) {
    WriteTextFile(folder / "registry.txt",
                  "; the archive manager\n"
                  "HKEY_CLASSES_ROOT\\other\\key=wrong\n"
                  "HKEY_CLASSES_ROOT\\Morvik\\Shell\\Open\\Command=/usr/bin/morvik %1\r\n"
                  "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=second\n");
    char value[268];
    LONG size = 261;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, value, &size), ERROR_SUCCESS);
    EXPECT_STREQ(value, "/usr/bin/morvik %1") << "case-insensitive key, first match, CR dropped";
    EXPECT_EQ(size, 19);

    size = 0;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 19) << "no buffer: only the size";
}

TEST_F(RegistryTest, TooSmallBufferGivesMoreData) {
    WriteTextFile(folder / "registry.txt",
                  "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=morvik \"%1\"\n");
    char value[8];
    memset(value, 'x', sizeof value);
    LONG size = sizeof value;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, value, &size), ERROR_MORE_DATA);
    EXPECT_EQ(size, 12);
    EXPECT_EQ(value[0], 'x');
    char exact[12];
    size = sizeof exact;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, exact, &size), ERROR_SUCCESS);
    EXPECT_STREQ(exact, "morvik \"%1\"");
    EXPECT_EQ(size, 12);
}

TEST_F(RegistryTest, MissingKeyOrFile) {
    char value[64];
    LONG size = sizeof value;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, value, &size), ERROR_FILE_NOT_FOUND)
        << "no registry file";

    WriteTextFile(folder / "registry.txt", "HKEY_CLASSES_ROOT\\morvik\\shell\\open=x\n"
                                           "# HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=y\n");
    size = sizeof value;
    EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, value, &size), ERROR_FILE_NOT_FOUND);
    size = sizeof value;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, "morvik\\shell\\open", value, &size),
              ERROR_SUCCESS);
    EXPECT_STREQ(value, "x");
}

TEST_F(RegistryTest, DefaultFileUnderHomeAndValueInTheAnsiCodePage) {
    SetEnv("MORVIK_REGISTRY", nullptr);
    SetEnv("HOME", folder.path().c_str());
    ASSERT_EQ(mkdir((folder / ".morvik").c_str(), 0777), 0);
    WriteTextFile(folder / ".morvik/registry.txt",
                  "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=/opt/caf\xC3\xA9/morvik %1\n");
    char value[64];
    LONG size = sizeof value;
    ASSERT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, value, &size), ERROR_SUCCESS);
    EXPECT_STREQ(value, "/opt/caf\xE9/morvik %1");
    EXPECT_EQ(size, 20);
}

// A key that exists without a default value reads as success with an empty
// string on Windows; only a missing key is ERROR_FILE_NOT_FOUND.
TEST_F(RegistryTest, KeyWithoutDefaultValueReadsAsEmpty) {
    struct Case {
        const char *what;
        const char *file;
        LONG result;
        const char *value;
    } cases[] = {
        {"empty default value", "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=\n", ERROR_SUCCESS,
         ""},
        {"key named alone", "HKEY_CLASSES_ROOT\\Morvik\\Shell\\Open\\Command\n", ERROR_SUCCESS, ""},
        {"a key below it", "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command\\ddeexec=x\n",
         ERROR_SUCCESS, ""},
        {"a later value wins over the bare key",
         "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command\n"
         "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\command=m %1\n",
         ERROR_SUCCESS, "m %1"},
        {"a sibling key only", "HKEY_CLASSES_ROOT\\morvik\\shell\\open\\commands=x\n",
         ERROR_FILE_NOT_FOUND, "unchanged"},
        {"a key above only", "HKEY_CLASSES_ROOT\\morvik\\shell\\open\n", ERROR_FILE_NOT_FOUND,
         "unchanged"},
    };
    for (const Case &c : cases) {
        WriteTextFile(folder / "registry.txt", c.file);
        char value[64] = "unchanged";
        LONG size = sizeof value;
        EXPECT_EQ(RegQueryValueA(HKEY_CLASSES_ROOT, kKey, value, &size), c.result) << c.what;
        EXPECT_STREQ(value, c.value) << c.what;
        if (c.result == ERROR_SUCCESS) {
            EXPECT_EQ(size, static_cast<LONG>(strlen(c.value) + 1)) << c.what;
        }
    }
}

} // namespace

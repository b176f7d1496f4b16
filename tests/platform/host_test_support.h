// Helpers shared by the tests of the native host layer.
#pragma once

#include "posix/host.h"
#include "posix/winapi.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <map>
#include <string>

// A fresh folder under /tmp, removed with everything in it at the end.
class TempFolder {
  public:
    TempFolder() {
        char pattern[] = "/tmp/morvik-host-XXXXXX";
        const char *made = mkdtemp(pattern);
        EXPECT_NE(made, nullptr);
        path_ = made ? made : "";
    }
    ~TempFolder() { RemoveTree(path_); }
    TempFolder(const TempFolder &) = delete;
    TempFolder &operator=(const TempFolder &) = delete;

    const std::string &path() const { return path_; }
    std::string operator/(const std::string &name) const { return path_ + "/" + name; }

  private:
    static void RemoveTree(const std::string &path) {
        struct stat st;
        if (path.empty() || lstat(path.c_str(), &st) != 0)
            return;
        if (S_ISDIR(st.st_mode)) {
            if (DIR *dir = opendir(path.c_str())) {
                while (struct dirent *entry = readdir(dir)) {
                    std::string name = entry->d_name;
                    if (name != "." && name != "..")
                        RemoveTree(path + "/" + name);
                }
                closedir(dir);
            }
            rmdir(path.c_str());
        } else {
            unlink(path.c_str());
        }
    }
    std::string path_;
};

inline void WriteTextFile(const std::string &path, const std::string &text) {
    FILE *file = fopen(path.c_str(), "wb");
    ASSERT_NE(file, nullptr) << path;
    fwrite(text.data(), 1, text.size(), file);
    fclose(file);
}

inline std::string ReadTextFile(const std::string &path) {
    std::string text;
    FILE *file = fopen(path.c_str(), "rb");
    if (!file)
        return "<missing>";
    int c;
    while ((c = fgetc(file)) != EOF)
        text += static_cast<char>(c);
    fclose(file);
    return text;
}

inline bool IsFolder(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Base fixture: every test starts from the host's start-up state, and the
// environment variables it sets (and the time zone) are restored afterwards.
class HostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (const char *name :
             {"MORVIK_DOSDEVICES", "MORVIK_WINDIR", "MORVIK_REGISTRY", "MORVIK_ANSI_CODEPAGE",
              "MORVIK_WINVER_MAJOR", "MORVIK_FAIL_WRITES_AFTER", "MORVIK_FAIL_ALLOC", "MORVIK_NOW",
              "MORVIK_SHELL32", "MORVIK_NO_BCRYPT"})
            SetEnv(name, nullptr);
        HostReset();
    }
    void TearDown() override {
        for (auto &saved : saved_) {
            if (saved.second.first)
                setenv(saved.first.c_str(), saved.second.second.c_str(), 1);
            else
                unsetenv(saved.first.c_str());
        }
        tzset();
        HostReset();
    }

    // Sets (or, with nullptr, removes) an environment variable for this test.
    void SetEnv(const char *name, const char *value) {
        if (!saved_.count(name)) {
            const char *old = getenv(name);
            saved_[name] = {old != nullptr, old ? old : ""};
        }
        if (value)
            setenv(name, value, 1);
        else
            unsetenv(name);
        if (std::string(name) == "TZ")
            tzset();
    }

  private:
    std::map<std::string, std::pair<bool, std::string>> saved_;
};

// The shell library's folder browser: which procedures the library has, the
// picker answered by the user, and the allocator that frees what it handed out.
#include "host_test_support.h"
#include "posix/window_host.h"

#include <string.h>

#include <memory>

namespace {

typedef LPITEMIDLIST(WINAPI *BrowseProc)(LPBROWSEINFOA);
typedef HRESULT(WINAPI *MallocProc)(LPMALLOC *);
typedef BOOL(WINAPI *PathProc)(LPCITEMIDLIST, LPSTR);

// A user who answers the picker with `folder`, or cancels it when empty, and
// remembers what the picker showed.
class PickerUser : public HostUser {
  public:
    explicit PickerUser(std::string folder) : folder_(std::move(folder)) {}
    int OnMessageBox(const HostBox &box) override { return box.defaultButton; }
    bool OnDialogIdle(HWND) override { return false; }
    bool OnBrowseForFolder(const HostBrowse &browse, std::string *folder) override {
        seen = browse;
        ++shown;
        if (folder_.empty())
            return false;
        *folder = folder_;
        return true;
    }
    HostBrowse seen;
    int shown = 0;

  private:
    std::string folder_;
};

class ShellTest : public HostTest {
  protected:
    void TearDown() override {
        HostSetUser(nullptr);
        HostTest::TearDown();
    }
    template <typename T> T Proc(HMODULE shell, const char *name) {
        return reinterpret_cast<T>(reinterpret_cast<void *>(GetProcAddress(shell, name)));
    }
};

TEST_F(ShellTest, TheLibraryHasWhatTheSettingLeavesIt) {
    struct Row {
        const char *setting;
        bool library, browse, getMalloc, path;
    } rows[] = {
        {nullptr, true, true, true, true},
        {"", true, true, true, true},
        {"absent", false, false, false, false},
        {"no-browse", true, false, true, true},
        {"no-malloc", true, true, false, true},
        {"no-path", true, true, true, false},
        {"no-browse, no-path", true, false, true, false},
        {"malloc-fails", true, true, true, true},
    };
    for (const Row &row : rows) {
        SetEnv("MORVIK_SHELL32", row.setting);
        const char *what = row.setting ? row.setting : "(unset)";
        HMODULE shell = LoadLibraryA("Shell32.dll");
        EXPECT_EQ(shell != nullptr, row.library) << what;
        EXPECT_EQ(GetProcAddress(shell, "SHBrowseForFolder") != nullptr, row.browse) << what;
        EXPECT_EQ(GetProcAddress(shell, "SHGetMalloc") != nullptr, row.getMalloc) << what;
        EXPECT_EQ(GetProcAddress(shell, "SHGetPathFromIDList") != nullptr, row.path) << what;
        EXPECT_EQ(GetProcAddress(shell, "SHBrowseForFolderW"), nullptr) << what;
        EXPECT_EQ(FreeLibrary(shell), row.library ? TRUE : FALSE) << what;
    }
    SetEnv("MORVIK_SHELL32", nullptr);
    EXPECT_NE(LoadLibraryA("shell32.DLL"), nullptr) << "library names ignore letter case";
    EXPECT_EQ(LoadLibraryA("Other.dll"), nullptr);
}

TEST_F(ShellTest, ThePickerAsksTheUserAndTheAllocatorFreesWhatItGave) {
    HMODULE shell = LoadLibraryA("Shell32.dll");
    ASSERT_NE(shell, nullptr);
    BrowseProc browse = Proc<BrowseProc>(shell, "SHBrowseForFolder");
    MallocProc getMalloc = Proc<MallocProc>(shell, "SHGetMalloc");
    PathProc getPath = Proc<PathProc>(shell, "SHGetPathFromIDList");
    ASSERT_TRUE(browse && getMalloc && getPath);

    struct Row {
        const char *setting;
        std::string chosen; // "" cancels
        bool gotPath;
    } rows[] = {
        {"", "C:\\Out Dir", true},
        {"", "", false},
        {"path-fails", "C:\\Out", false},
        {"", std::string(MAX_PATH, 'x'), false}, // no room for its terminator
    };
    for (const Row &row : rows) {
        SetEnv("MORVIK_SHELL32", row.setting);
        ASSERT_EQ(LoadLibraryA("Shell32.dll"), shell) << "the setting is read here";
        auto owned = std::make_unique<PickerUser>(row.chosen);
        PickerUser *user = owned.get();
        HostSetUser(std::move(owned));
        LPMALLOC allocator = nullptr;
        ASSERT_TRUE(SUCCEEDED(getMalloc(&allocator)));
        ASSERT_NE(allocator, nullptr);
        EXPECT_EQ(HostShellAllocatorReferences(), 1);

        char display[MAX_PATH] = "unchanged";
        BROWSEINFOA info;
        memset(&info, 0, sizeof info);
        info.pszDisplayName = display;
        info.lpszTitle = "Unzip to Folder:";
        info.ulFlags = BIF_RETURNONLYFSDIRS | BIF_RETURNFSANCESTORS;
        LPITEMIDLIST list = browse(&info);
        EXPECT_EQ(user->shown, 1);
        EXPECT_EQ(user->seen.title, "Unzip to Folder:");
        EXPECT_EQ(user->seen.flags, 9u);
        EXPECT_FALSE(user->seen.rooted);
        char path[MAX_PATH] = "kept";
        if (row.chosen.empty()) {
            EXPECT_EQ(list, nullptr);
            EXPECT_STREQ(display, "unchanged");
        } else {
            ASSERT_NE(list, nullptr);
            EXPECT_EQ(HostShellLiveItemLists(), 1u);
            EXPECT_EQ(getPath(list, path), row.gotPath ? TRUE : FALSE) << row.chosen;
            allocator->Free(list);
        }
        EXPECT_STREQ(path, row.gotPath ? row.chosen.c_str() : "kept");
        if (row.chosen == "C:\\Out Dir") {
            EXPECT_STREQ(display, "Out Dir");
        }
        EXPECT_EQ(HostShellLiveItemLists(), 0u) << "freed";
        EXPECT_EQ(allocator->Release(), 0u);
        EXPECT_EQ(HostShellAllocatorReferences(), 0);
    }

    SetEnv("MORVIK_SHELL32", "malloc-fails");
    ASSERT_EQ(LoadLibraryA("Shell32.dll"), shell);
    LPMALLOC allocator = reinterpret_cast<LPMALLOC>(&shell);
    EXPECT_TRUE(FAILED(getMalloc(&allocator)));
    EXPECT_EQ(allocator, nullptr);
    EXPECT_EQ(HostShellAllocatorReferences(), 0);

    // Without anyone to ask (no terminal), the picker is cancelled.
    SetEnv("MORVIK_SHELL32", nullptr);
    ASSERT_EQ(LoadLibraryA("Shell32.dll"), shell);
    HostSetUser(nullptr);
    BROWSEINFOA info;
    memset(&info, 0, sizeof info);
    info.lpszTitle = "Unzip to Folder:";
    EXPECT_EQ(browse(&info), nullptr);
    EXPECT_FALSE(getPath(nullptr, nullptr));
}

} // namespace

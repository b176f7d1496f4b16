// Helpers of the window host tests: a dialog template builder, a dialog
// procedure that forwards to a lambda, a user made of lambdas, a fixture.
#pragma once

#include "posix/window_host.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

// Builds DLGTEMPLATE bytes the way a resource compiler lays them out.
class TemplateBuilder {
  public:
    TemplateBuilder(DWORD style, short x, short y, short cx, short cy, const std::string &title) {
        Dword(style);
        Dword(0); // exStyle
        Word(0);  // cdit, patched by Bytes()
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(0); // no menu
        Word(0); // default class
        String(title);
        if (style & DS_SETFONT) {
            Word(8);
            String("MS Sans Serif");
        }
    }
    // A control of a predefined class (0x80 BUTTON, 0x81 EDIT, 0x82 STATIC).
    TemplateBuilder &Control(WORD ordinal, WORD id, DWORD style, short x, short y, short cx,
                             short cy, const std::string &title, WORD extraBytes = 0) {
        Header(id, style, x, y, cx, cy);
        Word(0xFFFF);
        Word(ordinal);
        String(title);
        Extra(extraBytes);
        return *this;
    }
    // A control of a named class.
    TemplateBuilder &Control(const std::string &className, WORD id, DWORD style, short x, short y,
                             short cx, short cy, const std::string &title) {
        Header(id, style, x, y, cx, cy);
        String(className);
        String(title);
        Extra(0);
        return *this;
    }
    // A control whose title is a resource ordinal.
    TemplateBuilder &ControlWithOrdinalTitle(WORD ordinal, WORD id, DWORD style, WORD titleId) {
        Header(id, style, 0, 0, 10, 10);
        Word(0xFFFF);
        Word(ordinal);
        Word(0xFFFF);
        Word(titleId);
        Extra(0);
        return *this;
    }
    std::vector<BYTE> Bytes() const {
        std::vector<BYTE> out = bytes_;
        out[8] = static_cast<BYTE>(count_ & 0xFF);
        out[9] = static_cast<BYTE>(count_ >> 8);
        return out;
    }

  private:
    void Header(WORD id, DWORD style, short x, short y, short cx, short cy) {
        while (bytes_.size() % 4 != 0)
            bytes_.push_back(0);
        Dword(style);
        Dword(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(id);
        ++count_;
    }
    void Extra(WORD count) {
        Word(count);
        for (WORD i = 0; i < count; ++i)
            bytes_.push_back(static_cast<BYTE>(0xA0 + i));
    }
    void Word(WORD w) {
        bytes_.push_back(static_cast<BYTE>(w & 0xFF));
        bytes_.push_back(static_cast<BYTE>(w >> 8));
    }
    void Dword(DWORD d) {
        Word(static_cast<WORD>(d & 0xFFFF));
        Word(static_cast<WORD>(d >> 16));
    }
    void String(const std::string &s) {
        for (unsigned char c : s)
            Word(c);
        Word(0);
    }
    std::vector<BYTE> bytes_;
    WORD count_ = 0;
};

#define TEST_DIALOG_STYLE                                                                          \
    (WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT | DS_3DLOOK)
#define TEST_CONTROL (WS_CHILD | WS_VISIBLE)

// Dialog procedures are plain function pointers; these forward to lambdas,
// one slot for the outer and one for a nested dialog.
using TestDialogHandler = std::function<INT_PTR(HWND, UINT, WPARAM, LPARAM)>;
inline TestDialogHandler &DialogHandler(int slot) {
    static TestDialogHandler handlers[2];
    return handlers[slot];
}
inline INT_PTR CALLBACK OuterProc(HWND d, UINT m, WPARAM w, LPARAM l) {
    return DialogHandler(0) ? DialogHandler(0)(d, m, w, l) : FALSE;
}
inline INT_PTR CALLBACK InnerProc(HWND d, UINT m, WPARAM w, LPARAM l) {
    return DialogHandler(1) ? DialogHandler(1)(d, m, w, l) : FALSE;
}

// A user made of lambdas; unset ones give up / answer the default.
class LambdaUser : public HostUser {
  public:
    std::function<int(const HostBox &)> box;
    std::function<bool(HWND)> idle;
    std::function<void(unsigned long)> poll;
    int OnMessageBox(const HostBox &b) override { return box ? box(b) : b.defaultButton; }
    bool OnDialogIdle(HWND d) override { return idle ? idle(d) : false; }
    void OnPoll(unsigned long p) override {
        if (poll)
            poll(p);
    }
};

// A dialog like the program's main one: intro static, folder label and edit,
// a check box, Unzip (default), Close, a hidden disabled button, a status
// line and a "meter" control (class registered by the test).
inline std::vector<BYTE> MainLikeTemplate(const std::string &meterClass = "meter") {
    return TemplateBuilder(TEST_DIALOG_STYLE, 94, 23, 230, 114, "")
        .Control(0x82, 101, TEST_CONTROL | WS_GROUP | SS_NOPREFIX, 6, 6, 162, 24, "Intro")
        .Control(0x82, 105, TEST_CONTROL | WS_GROUP, 6, 32, 74, 8, "Unzip to &folder: ")
        .Control(0x81, 106, TEST_CONTROL | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 6, 40, 108, 12,
                 "")
        .Control(0x80, 102, TEST_CONTROL | WS_TABSTOP | BS_AUTOCHECKBOX, 6, 56, 161, 10,
                 "&Overwrite files without prompting")
        .Control(0x80, 1, TEST_CONTROL | WS_TABSTOP | BS_DEFPUSHBUTTON, 174, 6, 50, 14, "&Unzip")
        .Control(0x80, 2, TEST_CONTROL | WS_TABSTOP | BS_PUSHBUTTON, 174, 42, 50, 14, "&Close")
        .Control(0x80, 113, WS_CHILD | WS_DISABLED | WS_TABSTOP, 174, 24, 50, 14, "Run &Morvik")
        .Control(0x82, 109, TEST_CONTROL | WS_GROUP | SS_CENTER | SS_NOPREFIX, 0, 101, 230, 8, "")
        .Control(meterClass, 201, TEST_CONTROL | WS_BORDER, 6, 98, 218, 12, "")
        .Bytes();
}

class WindowHostTest : public ::testing::Test {
  protected:
    void SetUp() override {
        HostUiReset();
        DialogHandler(0) = nullptr;
        DialogHandler(1) = nullptr;
    }
    void TearDown() override {
        DialogHandler(0) = nullptr;
        DialogHandler(1) = nullptr;
        HostUiReset();
    }
    // Runs `bytes` as a modal dialog with the outer handler; the extent
    // query knows the template's exact size.
    INT_PTR Run(const std::vector<BYTE> &bytes, HWND owner = nullptr, LPARAM init = 0) {
        Know(bytes);
        return DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(bytes.data()),
                                       owner, OuterProc, init);
    }
    static void Know(const std::vector<BYTE> &bytes) {
        const BYTE *start = bytes.data();
        size_t size = bytes.size();
        HostSetTemplateExtentQuery(
            [start, size](const void *p) -> size_t { return p == start ? size : 0; });
    }
    static void Script(const std::string &text) {
        std::string error;
        std::unique_ptr<HostUser> user = HostMakeScriptedUser(text, &error);
        ASSERT_TRUE(user) << error;
        HostSetUser(std::move(user));
    }
};

// Dialog templates, controls and their messages.
#include "window_test_support.h"

#include <string.h>

namespace {

int g_creates = 0;
LRESULT CALLBACK MeterProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m == WM_CREATE) {
        ++g_creates;
        SetWindowWord(w, 0, 100);
        SetWindowWord(w, 2, 50);
        return 0;
    }
    return DefWindowProcA(w, m, wp, lp);
}

void RegisterMeter(const char *name = "Meter") {
    WNDCLASSA c{};
    c.style = CS_HREDRAW | CS_VREDRAW;
    c.lpfnWndProc = MeterProc;
    c.cbWndExtra = 4;
    c.lpszClassName = name;
    ASSERT_NE(RegisterClassA(&c), 0);
}

using DialogTest = WindowHostTest;

TEST_F(DialogTest, BuildsDialogAndControlsFromTemplate) {
    RegisterMeter("Meter"); // the template says "meter"
    g_creates = 0;
    std::vector<BYTE> bytes = MainLikeTemplate();
    bool initialised = false;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM l) -> INT_PTR {
        if (m != WM_INITDIALOG)
            return FALSE;
        initialised = true;
        EXPECT_EQ(reinterpret_cast<HWND>(w), GetDlgItem(d, 106)) << "first tab stop";
        EXPECT_EQ(l, 1234);
        EXPECT_FALSE(IsWindowVisible(d)) << "shown after WM_INITDIALOG";
        struct Expected {
            int id;
            const char *cls;
            const char *text;
            bool visible, enabled;
        } table[] = {
            {101, "STATIC", "Intro", true, true},
            {105, "STATIC", "Unzip to &folder: ", true, true},
            {106, "EDIT", "", true, true},
            {102, "BUTTON", "&Overwrite files without prompting", true, true},
            {1, "BUTTON", "&Unzip", true, true},
            {2, "BUTTON", "&Close", true, true},
            {113, "BUTTON", "Run &Morvik", false, false},
            {201, "meter", "", true, true},
        };
        for (const Expected &e : table) {
            HWND c = GetDlgItem(d, e.id);
            if (c == nullptr) {
                ADD_FAILURE() << "no control " << e.id;
                continue;
            }
            EXPECT_EQ(HostWindowClass(c), e.cls) << e.id;
            EXPECT_EQ(HostWindowText(c), e.text) << e.id;
            EXPECT_EQ((HostWindowStyle(c) & WS_VISIBLE) != 0, e.visible) << e.id;
            EXPECT_EQ(IsWindowEnabled(c) != FALSE, e.enabled) << e.id;
            EXPECT_EQ(GetParent(c), d) << e.id;
        }
        EXPECT_EQ(GetDlgItem(d, 999), nullptr);
        EXPECT_EQ(GetParent(d), nullptr);
        EXPECT_EQ(HostDialogDefaultId(d), 1) << "the first BS_DEFPUSHBUTTON";
        EXPECT_EQ(g_creates, 1);
        HWND meter = GetDlgItem(d, 201);
        EXPECT_EQ(GetWindowWord(meter, 0), 100);
        EXPECT_EQ(GetWindowWord(meter, 2), 50);
        EXPECT_EQ(GetWindowWord(meter, 4), 0) << "beyond cbWndExtra";

        // 230 x 114 dialog units are 345 x 185 pixels of client area, inside
        // a 3 px frame and a 19 px caption; the client starts at the template
        // position (94, 23) -> (141, 37) pixels.
        RECT r;
        EXPECT_TRUE(GetWindowRect(d, &r));
        EXPECT_EQ(r.left, 141 - 3);
        EXPECT_EQ(r.top, 37 - 3 - 19);
        EXPECT_EQ(r.right - r.left, 345 + 6);
        EXPECT_EQ(r.bottom - r.top, 185 + 6 + 19);
        EXPECT_TRUE(GetClientRect(d, &r));
        EXPECT_EQ(r.right, 345);
        EXPECT_EQ(r.bottom, 185);
        // The meter: 218 x 12 units at (6, 98) = 327 x 19 px at (9, 159);
        // WS_BORDER takes 1 px on each side of the client area.
        EXPECT_TRUE(GetWindowRect(meter, &r));
        EXPECT_EQ(r.left, 141 + 9);
        EXPECT_EQ(r.top, 37 + 159);
        EXPECT_EQ(r.right - r.left, 327);
        EXPECT_EQ(r.bottom - r.top, 19);
        EXPECT_TRUE(GetClientRect(meter, &r));
        EXPECT_EQ(r.right, 325);
        EXPECT_EQ(r.bottom, 17);
        EndDialog(d, 42);
        return TRUE;
    };
    EXPECT_EQ(Run(bytes, nullptr, 1234), 42);
    EXPECT_TRUE(initialised);
    EXPECT_FALSE(HostScriptFailed());
}

TEST_F(DialogTest, OrdinalTitlesAndCreationDataAreSkipped) {
    std::vector<BYTE> bytes = TemplateBuilder(TEST_DIALOG_STYLE & ~DS_SETFONT, 0, 0, 100, 50, "T")
                                  .ControlWithOrdinalTitle(0x82, 7, TEST_CONTROL, 300)
                                  .Control(0x80, 8, TEST_CONTROL, 0, 0, 10, 10, "Eight", 5)
                                  .Control(0x81, 9, TEST_CONTROL, 0, 0, 10, 10, "Nine")
                                  .Bytes();
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            EXPECT_EQ(HostWindowText(d), "T");
            EXPECT_EQ(HostWindowText(GetDlgItem(d, 7)), "");
            EXPECT_EQ(HostWindowText(GetDlgItem(d, 8)), "Eight");
            EXPECT_EQ(HostWindowText(GetDlgItem(d, 9)), "Nine");
            EndDialog(d, 3);
        }
        return FALSE;
    };
    EXPECT_EQ(Run(bytes), 3);
}

TEST_F(DialogTest, RejectsEveryTruncationOfATemplate) {
    RegisterMeter();
    std::vector<BYTE> full = MainLikeTemplate();
    int procCalls = 0;
    DialogHandler(0) = [&](HWND, UINT, WPARAM, LPARAM) -> INT_PTR {
        ++procCalls;
        return FALSE;
    };
    for (size_t size = 0; size < full.size(); ++size) {
        std::vector<BYTE> cut(full.begin(), full.begin() + static_cast<long>(size));
        cut.reserve(full.size()); // a distinct, valid pointer even when empty
        const BYTE *start = cut.data();
        HostSetTemplateExtentQuery([start, size](const void *p) { return p == start ? size : 0; });
        if (size == 0) // an empty block: the query says 0, meaning unknown; skip
            continue;
        testing::internal::CaptureStderr();
        INT_PTR r = DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(start),
                                            nullptr, OuterProc, 0);
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(r, -1) << "cut at " << size;
        EXPECT_NE(HostLastTemplateError().find("truncated"), std::string::npos)
            << "cut at " << size << ": " << HostLastTemplateError();
        EXPECT_NE(err.find("morvik-host: dialog template rejected: "), std::string::npos) << err;
    }
    EXPECT_EQ(procCalls, 0);
    EXPECT_TRUE(HostActiveDialog() == nullptr);
}

TEST_F(DialogTest, RejectsBadClassesAndExtendedTemplates) {
    std::vector<BYTE> extended = {1, 0, 0xFF, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
    struct Case {
        const char *name;
        std::vector<BYTE> bytes;
        const char *why;
    } cases[] = {
        {"combo box ordinal",
         TemplateBuilder(TEST_DIALOG_STYLE, 0, 0, 50, 50, "")
             .Control(0x85, 3, TEST_CONTROL, 0, 0, 9, 9, "")
             .Bytes(),
         "unsupported class ordinal 133"},
        {"unregistered class",
         TemplateBuilder(TEST_DIALOG_STYLE, 0, 0, 50, 50, "")
             .Control("Gauge", 3, TEST_CONTROL, 0, 0, 9, 9, "")
             .Bytes(),
         "unknown window class \"Gauge\""},
        {"empty class name",
         TemplateBuilder(TEST_DIALOG_STYLE, 0, 0, 50, 50, "")
             .Control("", 3, TEST_CONTROL, 0, 0, 9, 9, "")
             .Bytes(),
         "empty class name"},
        {"DLGTEMPLATEEX", extended, "DLGTEMPLATEEX"},
    };
    for (const Case &c : cases) {
        testing::internal::CaptureStderr();
        EXPECT_EQ(Run(c.bytes), -1) << c.name;
        std::string err = testing::internal::GetCapturedStderr();
        EXPECT_NE(HostLastTemplateError().find(c.why), std::string::npos)
            << c.name << ": " << HostLastTemplateError();
        EXPECT_NE(err.find(c.why), std::string::npos) << c.name << ": " << err;
    }
}

TEST_F(DialogTest, ControlMessagesFollowTheWindowsContract) {
    RegisterMeter();
    auto user = std::make_unique<LambdaUser>();
    user->idle = [](HWND d) {
        HWND check = GetDlgItem(d, 102), unzip = GetDlgItem(d, 1), close = GetDlgItem(d, 2);
        HWND edit = GetDlgItem(d, 106);
        // Check boxes keep a check state; push buttons ignore BM_SETCHECK.
        EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        SendDlgItemMessageA(d, 102, BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(SendMessageA(check, BM_GETCHECK, 0, 0), BST_CHECKED);
        SendMessageA(unzip, BM_SETCHECK, BST_CHECKED, 0);
        EXPECT_EQ(SendMessageA(unzip, BM_GETCHECK, 0, 0), BST_UNCHECKED);
        // BM_SETSTYLE and DM_SETDEFID move the default button.
        SendDlgItemMessageA(d, 1, BM_SETSTYLE, BS_PUSHBUTTON, TRUE);
        SendDlgItemMessageA(d, 2, BM_SETSTYLE, BS_DEFPUSHBUTTON, TRUE);
        SendMessageA(d, DM_SETDEFID, 2, 0);
        EXPECT_EQ(HostWindowStyle(unzip) & BS_TYPEMASK, static_cast<DWORD>(BS_PUSHBUTTON));
        EXPECT_EQ(HostWindowStyle(close) & BS_TYPEMASK, static_cast<DWORD>(BS_DEFPUSHBUTTON));
        EXPECT_EQ(HostWindowStyle(close) & WS_TABSTOP, static_cast<DWORD>(WS_TABSTOP));
        EXPECT_EQ(SendMessageA(d, DM_GETDEFID, 0, 0), static_cast<LRESULT>(0x534B0002));
        // EM_LIMITTEXT cuts typing, not WM_SETTEXT.
        SendMessageA(edit, EM_LIMITTEXT, 5, 0);
        EXPECT_TRUE(SetDlgItemTextA(d, 106, "0123456789"));
        EXPECT_EQ(HostWindowText(edit), "0123456789");
        EXPECT_EQ(SendMessageA(edit, WM_GETTEXTLENGTH, 0, 0), 10);
        // GetDlgItemTextA copies at most size - 1 characters.
        struct {
            int size;
            UINT count;
            const char *text;
        } table[] = {{1, 0, ""},
                     {4, 3, "012"},
                     {10, 9, "012345678"},
                     {11, 10, "0123456789"},
                     {300, 10, "0123456789"}};
        for (auto &row : table) {
            char buffer[300];
            memset(buffer, 'x', sizeof buffer);
            EXPECT_EQ(GetDlgItemTextA(d, 106, buffer, row.size), row.count) << row.size;
            EXPECT_STREQ(buffer, row.text) << row.size;
        }
        char untouched[4] = "abc";
        EXPECT_EQ(GetDlgItemTextA(d, 106, untouched, 0), 0u);
        EXPECT_STREQ(untouched, "abc");
        char missing[8] = "abc";
        EXPECT_EQ(GetDlgItemTextA(d, 999, missing, 8), 0u);
        EXPECT_STREQ(missing, "");
        // Visibility and enabled state report their previous values.
        EXPECT_TRUE(ShowWindow(check, SW_HIDE));
        EXPECT_FALSE(ShowWindow(check, SW_HIDE));
        EXPECT_FALSE(IsWindowVisible(check));
        EXPECT_FALSE(ShowWindow(check, SW_SHOW));
        EXPECT_FALSE(EnableWindow(unzip, FALSE));
        EXPECT_TRUE(EnableWindow(unzip, TRUE));
        // A control is visible only inside a visible dialog.
        EXPECT_TRUE(IsWindowVisible(d));
        EXPECT_TRUE(IsWindowVisible(close));
        // Moving: SWP_NOSIZE keeps the size, SWP_NOMOVE the place.
        RECT before, after;
        GetWindowRect(d, &before);
        EXPECT_TRUE(SetWindowPos(d, nullptr, 10, 20, 0, 0, SWP_NOSIZE | SWP_NOACTIVATE));
        GetWindowRect(d, &after);
        EXPECT_EQ(after.left, 10);
        EXPECT_EQ(after.top, 20);
        EXPECT_EQ(after.right - after.left, before.right - before.left);
        EXPECT_TRUE(SetWindowPos(close, nullptr, 0, 0, 80, 30, SWP_NOMOVE | SWP_NOZORDER));
        RECT cr;
        GetWindowRect(close, &cr);
        EXPECT_EQ(cr.right - cr.left, 80);
        EXPECT_EQ(cr.left, 10 + 3 + 174 * 6 / 4);
        // The close box: WM_SYSCOMMAND SC_CLOSE -> WM_CLOSE -> posted IDCANCEL.
        SendMessageA(d, WM_SYSCOMMAND, 0xF060, 0);
        MSG msg;
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_COMMAND));
        EXPECT_EQ(msg.wParam, static_cast<WPARAM>(IDCANCEL));
        EXPECT_EQ(reinterpret_cast<HWND>(msg.lParam), close);
        // Destroying a control: gone for good.
        HWND browse = GetDlgItem(d, 113);
        EXPECT_TRUE(DestroyWindow(browse));
        EXPECT_EQ(GetDlgItem(d, 113), nullptr);
        EXPECT_FALSE(HostIsWindow(browse));
        EXPECT_FALSE(DestroyWindow(browse));
        EXPECT_FALSE(SetWindowTextA(browse, "x"));
        return false; // give the dialog up
    };
    HostSetUser(std::move(user));
    DialogHandler(0) = [](HWND, UINT m, WPARAM, LPARAM) -> INT_PTR { return m == WM_INITDIALOG; };
    EXPECT_EQ(Run(MainLikeTemplate()), 0);
}

TEST_F(DialogTest, TypingHonoursTheLimitAndSelectsAll) {
    RegisterMeter();
    std::string typed;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG) {
            SendDlgItemMessageA(d, 106, EM_LIMITTEXT, 260, 0);
            SetDlgItemTextA(d, 106, "C:\\old");
            return TRUE;
        }
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            char buffer[400];
            GetDlgItemTextA(d, 106, buffer, sizeof buffer);
            typed = buffer;
            EndDialog(d, 1);
        }
        return FALSE;
    };
    Script("type 106 \"x\"*300\n"
           "expect text 106 /^x{260}$/\n"
           "type 106 \"/tmp/out\"\n"
           "press 1\n");
    EXPECT_EQ(Run(MainLikeTemplate()), 1);
    EXPECT_EQ(typed, "/tmp/out");
    EXPECT_FALSE(HostScriptFailed());
    EXPECT_TRUE(HostFinishUser());
}

TEST_F(DialogTest, EnterPressesTheDefaultButtonAndEscapeCancels) {
    RegisterMeter();
    std::vector<int> commands;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_INITDIALOG)
            return TRUE;
        if (m != WM_COMMAND)
            return FALSE;
        commands.push_back(LOWORD(w));
        if (LOWORD(w) == 1) // like Unzip: Close becomes the default
            SendMessageA(d, DM_SETDEFID, 2, 0);
        if (LOWORD(w) == IDCANCEL && commands.size() > 3)
            EndDialog(d, 7);
        return FALSE;
    };
    Script("enter\n" // default is Unzip (1)
           "expect default 2\n"
           "enter\n"     // now Close (2)
           "escape\n"    // IDCANCEL (2)
           "check 102\n" // a click on a check box notifies too
           "expect checked 102\n"
           "escape\n");
    EXPECT_EQ(Run(MainLikeTemplate()), 7);
    EXPECT_EQ(commands, (std::vector<int>{1, 2, 2, 102, 2}));
    EXPECT_FALSE(HostScriptFailed()) << HostScriptFailures()[0];
}

TEST_F(DialogTest, NestedDialogIsOwnedAndDisablesItsOwner) {
    RegisterMeter();
    std::vector<BYTE> outer = MainLikeTemplate();
    std::vector<BYTE> inner =
        TemplateBuilder(TEST_DIALOG_STYLE, 71, 71, 186, 76, "Password")
            .Control(0x82, 401, TEST_CONTROL | WS_GROUP, 6, 6, 174, 24,
                     "Please type the &password:")
            .Control(0x81, 402, TEST_CONTROL | WS_BORDER | WS_TABSTOP | ES_PASSWORD, 6, 38, 174, 12,
                     "")
            .Control(0x80, 1, TEST_CONTROL | WS_TABSTOP | BS_DEFPUSHBUTTON, 35, 56, 50, 14, "OK")
            .Control(0x80, 2, TEST_CONTROL | WS_TABSTOP, 101, 56, 50, 14, "Cancel")
            .Bytes();
    const BYTE *o = outer.data(), *i = inner.data();
    size_t os = outer.size(), is = inner.size();
    HostSetTemplateExtentQuery([=](const void *p) -> size_t {
        return p == o ? os : p == i ? is : 0;
    });
    INT_PTR innerResult = 0;
    std::string password;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            innerResult = DialogBoxIndirectParamA(nullptr, reinterpret_cast<LPCDLGTEMPLATEA>(i), d,
                                                  InnerProc, 0);
            EXPECT_TRUE(IsWindowEnabled(d)) << "the owner is enabled again";
            EXPECT_EQ(GetLastActivePopup(d), d);
        }
        if (m == WM_COMMAND && LOWORD(w) == 2)
            EndDialog(d, 1);
        return m == WM_INITDIALOG;
    };
    DialogHandler(1) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            HWND owner = GetParent(d);
            EXPECT_EQ(HostWindowText(owner), "");
            EXPECT_EQ(GetLastActivePopup(owner), d);
            EXPECT_FALSE(IsWindowEnabled(owner));
            char buffer[256];
            GetDlgItemTextA(d, 402, buffer, 255);
            password = buffer;
            EndDialog(d, 1);
        }
        if (m == WM_COMMAND && LOWORD(w) == 2)
            EndDialog(d, 0);
        return FALSE;
    };
    Script("press 1\n"
           "dialog \"Password\"\n"
           "type 402 \"s\"*300\n"
           "enter\n"
           "expect enabled 1\n"
           "press 2\n");
    EXPECT_EQ(Run(outer), 1);
    EXPECT_EQ(innerResult, 1);
    EXPECT_EQ(password, std::string(254, 's'));
    EXPECT_FALSE(HostScriptFailed()) << HostScriptFailures()[0];
    EXPECT_TRUE(HostFinishUser());
}

} // namespace

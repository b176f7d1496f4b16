// The message queue, timers on the test clock, message boxes as modal loops,
// painting and the recording GDI.
#include "window_test_support.h"

#include <string.h>

namespace {

using QueueTest = WindowHostTest;

std::vector<BYTE> SmallDialog() {
    return TemplateBuilder(TEST_DIALOG_STYLE, 10, 10, 100, 60, "Small")
        .Control(0x80, 1, TEST_CONTROL | WS_TABSTOP | BS_DEFPUSHBUTTON, 5, 5, 40, 14, "&Go")
        .Control(0x80, 2, TEST_CONTROL | WS_TABSTOP, 50, 5, 40, 14, "&Close")
        .Bytes();
}

TEST_F(QueueTest, PostedMessagesComeFirstThenTimersOnTheTestClock) {
    auto user = std::make_unique<LambdaUser>();
    std::vector<std::string> seen;
    unsigned long pollsSeen = 0;
    user->poll = [&](unsigned long p) { pollsSeen = p; };
    user->idle = [&](HWND d) {
        HWND go = GetDlgItem(d, 1);
        EXPECT_EQ(SetTimer(d, 7, 100, nullptr), 7u);
        EXPECT_TRUE(PostMessageA(go, WM_USER + 5, 1, 2));
        EXPECT_TRUE(PostMessageA(nullptr, WM_USER + 6, 3, 4));
        HostClockAdvance(250);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            char line[64];
            snprintf(line, sizeof line, "%x %d %d at %u", msg.message, static_cast<int>(msg.wParam),
                     static_cast<int>(msg.lParam), static_cast<unsigned>(msg.time));
            seen.push_back(line);
            EXPECT_EQ(msg.hwnd, msg.message == WM_USER + 5 ? go
                                : msg.message == WM_TIMER  ? d
                                                           : nullptr);
        }
        EXPECT_EQ(pollsSeen, 1u) << "the empty queue was a poll";
        // The timer is due again 100 ms after it was taken, once.
        HostClockAdvance(99);
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        HostClockAdvance(1);
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_TRUE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(msg.message, static_cast<UINT>(WM_TIMER));
        EXPECT_TRUE(KillTimer(d, 7));
        EXPECT_FALSE(KillTimer(d, 7));
        HostClockAdvance(1000);
        EXPECT_FALSE(PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE));
        EXPECT_EQ(HostPollCount(), 3u);
        return false;
    };
    HostSetUser(std::move(user));
    DialogHandler(0) = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return FALSE; };
    Run(SmallDialog());
    EXPECT_EQ(seen, (std::vector<std::string>{"405 1 2 at 0", "406 3 4 at 0", "113 7 0 at 250"}));
}

// A dialog whose Go button asks a question while its timer runs: the tick
// reaches the dialog inside the box's modal loop, and the box is then the
// dialog's last active popup.
TEST_F(QueueTest, TimerTicksReachTheDialogWhileABoxIsOpen) {
    struct Tick {
        DWORD at;
        bool popupIsDialog;
        bool ownerEnabled;
    };
    std::vector<Tick> ticks;
    int answer = 0;
    DialogHandler(0) = [&](HWND d, UINT m, WPARAM w, LPARAM) -> INT_PTR {
        if (m == WM_TIMER && w == 69)
            ticks.push_back({HostClockNow(), GetLastActivePopup(d) == d, IsWindowEnabled(d) != 0});
        if (m == WM_COMMAND && LOWORD(w) == 1) {
            SetTimer(d, 69, 500, nullptr);
            answer =
                MessageBoxA(d, "File x already exists.  Overwrite file?", "Morvik", MB_YESNOCANCEL);
        }
        if (m == WM_COMMAND && LOWORD(w) == 2)
            EndDialog(d, 1);
        return FALSE;
    };
    Script("press 1\n"
           "box yesnocancel /already exists/ icon=none default=yes\n"
           "advance 499\n"
           "advance 1\n"
           "expect caption \"Small\"\n"
           "answer no\n"
           "advance 500\n"
           "press 2\n");
    Run(SmallDialog());
    EXPECT_FALSE(HostScriptFailed()) << HostScriptFailures()[0];
    EXPECT_EQ(answer, IDNO);
    ASSERT_EQ(ticks.size(), 2u);
    EXPECT_EQ(ticks[0].at, 500u);
    EXPECT_FALSE(ticks[0].popupIsDialog);
    EXPECT_FALSE(ticks[0].ownerEnabled);
    EXPECT_EQ(ticks[1].at, 1000u);
    EXPECT_TRUE(ticks[1].popupIsDialog);
    EXPECT_TRUE(ticks[1].ownerEnabled);
    ASSERT_EQ(HostBoxes().size(), 1u);
    EXPECT_EQ(HostBoxes()[0].caption, "Morvik");
    EXPECT_EQ(HostBoxes()[0].ownerCaption, "Small");
    EXPECT_EQ(HostBoxes()[0].answer, IDNO);
}

// ---- painting and GDI -----------------------------------------------------------------

int g_paints = 0;
LRESULT CALLBACK BarProc(HWND w, UINT m, WPARAM wp, LPARAM lp) {
    if (m != WM_PAINT)
        return DefWindowProcA(w, m, wp, lp);
    ++g_paints;
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(w, &ps);
    HDC display = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
    LOGFONTA lf;
    memset(&lf, 0, sizeof lf);
    strcpy(lf.lfFaceName, "Helv");
    lf.lfHeight = GetDeviceCaps(display, LOGPIXELSY) * 6 / -72;
    HFONT font = CreateFontIndirectA(&lf);
    DeleteDC(display);
    HGDIOBJ old = SelectObject(dc, font);
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetTextAlign(dc, TA_CENTER);
    RECT client;
    GetClientRect(w, &client);
    RECT filled = client;
    filled.right = client.right / 2;
    SIZE size;
    if (GetTextExtentPoint32A(dc, "X", 1, &size))
        ExtTextOutA(dc, client.right / 2, (client.bottom - size.cy) / 4, ETO_CLIPPED | ETO_OPAQUE,
                    &filled, "Unzipping a.txt", 15, nullptr);
    if (SelectObject(dc, old) != nullptr)
        DeleteObject(font);
    EndPaint(w, &ps);
    return 0;
}

TEST_F(QueueTest, PaintingIsSynchronousAndRecorded) {
    WNDCLASSA c{};
    c.lpfnWndProc = BarProc;
    c.cbWndExtra = 4;
    c.lpszClassName = "Bar";
    ASSERT_NE(RegisterClassA(&c), 0);
    EXPECT_EQ(RegisterClassA(&c), 0) << "registered twice";
    std::vector<BYTE> bytes = TemplateBuilder(TEST_DIALOG_STYLE, 0, 0, 230, 114, "P")
                                  .Control("bar", 201, TEST_CONTROL | WS_BORDER, 6, 98, 218, 12, "")
                                  .Bytes();
    auto user = std::make_unique<LambdaUser>();
    int idles = 0;
    user->idle = [&](HWND d) {
        HWND bar = GetDlgItem(d, 201);
        if (idles++ == 0) {
            // Showing the dialog invalidated the bar: it was painted from the
            // queue before the dialog went idle.
            EXPECT_EQ(g_paints, 1);
            EXPECT_FALSE(HostWindowInvalid(bar));
            // InvalidateRect + UpdateWindow paints at once.
            InvalidateRect(bar, nullptr, FALSE);
            EXPECT_TRUE(HostWindowInvalid(bar));
            UpdateWindow(bar);
            EXPECT_EQ(g_paints, 2);
            // Hidden: nothing to paint.
            ShowWindow(bar, SW_HIDE);
            InvalidateRect(bar, nullptr, FALSE);
            UpdateWindow(bar);
            EXPECT_EQ(g_paints, 2);
            // At 120 dpi with a failing measurement: a font but no text.
            HostSetDpi(120);
            HostSetTextExtentFails(true);
            ShowWindow(bar, SW_SHOW); // painted through the queue again
            return true;
        }
        EXPECT_EQ(g_paints, 3);
        std::vector<HostPaint> paints = HostPaintsOf(bar);
        EXPECT_EQ(paints.size(), 3u);
        EXPECT_EQ(HostLastPaintedText(bar), "");
        return false;
    };
    HostSetUser(std::move(user));
    DialogHandler(0) = [](HWND, UINT, WPARAM, LPARAM) -> INT_PTR { return TRUE; };
    g_paints = 0;
    Run(bytes);

    const std::vector<HostPaint> &log = HostPaintLog();
    ASSERT_EQ(log.size(), 3u);
    EXPECT_EQ(log[0].controlId, 201);
    EXPECT_EQ(log[0].className, "bar");
    EXPECT_EQ(log[0].client.right, 325);
    EXPECT_EQ(log[0].client.bottom, 17);
    EXPECT_EQ(log[0].fontsCreated, 1);
    ASSERT_EQ(log[0].texts.size(), 1u);
    const HostTextOut &t = log[0].texts[0];
    EXPECT_EQ(t.text, "Unzipping a.txt");
    EXPECT_EQ(t.x, 162);
    EXPECT_EQ(t.y, (17 - 10) / 4) << "a -8 font is 10 px high";
    EXPECT_EQ(t.options, static_cast<UINT>(ETO_CLIPPED | ETO_OPAQUE));
    EXPECT_TRUE(t.hasRect);
    EXPECT_EQ(t.rect.right, 162);
    EXPECT_EQ(t.textColor, 0x00FFFFFFu);
    EXPECT_EQ(t.backColor, 0x00D77800u);
    EXPECT_EQ(t.align, static_cast<UINT>(TA_CENTER));
    EXPECT_EQ(t.fontHeight, -8);
    EXPECT_EQ(t.fontFace, "Helv");
    EXPECT_TRUE(log[2].texts.empty()) << "measuring failed";
    std::vector<LOGFONTA> fonts = HostFontsCreated();
    ASSERT_EQ(fonts.size(), 3u);
    EXPECT_EQ(fonts[2].lfHeight, -10);
    EXPECT_EQ(HostLiveGdiObjects(), 0) << "every font deleted";
    EXPECT_EQ(HostLiveDcs(), 0) << "every DC released";
}

TEST_F(QueueTest, CursorsKeysAndScreen) {
    HCURSOR wait = LoadCursorA(nullptr, IDC_WAIT);
    HCURSOR arrow = LoadCursorA(nullptr, IDC_ARROW);
    ASSERT_NE(wait, nullptr);
    ASSERT_NE(wait, arrow);
    EXPECT_EQ(SetCursor(wait), nullptr);
    EXPECT_EQ(HostCursorName(HostCurrentCursor()), "wait");
    EXPECT_EQ(SetCursor(arrow), wait);
    EXPECT_EQ(HostCursorName(HostCurrentCursor()), "arrow");
    EXPECT_EQ(GetKeyState(VK_SHIFT), 0);
    HostSetKeyDown(VK_SHIFT, true);
    EXPECT_LT(GetKeyState(VK_SHIFT), 0);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 1024);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 768);
    HostSetScreenSize(800, 600);
    EXPECT_EQ(GetSystemMetrics(SM_CXSCREEN), 800);
    EXPECT_EQ(GetSystemMetrics(SM_CYSCREEN), 600);
}

} // namespace

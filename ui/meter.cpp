// The progress meter: a custom control of class "Meter" that paints a bar,
// position / range of its width, with the progress text drawn over it in
// colours swapped between the filled and the unfilled part. Also the
// progress text itself and the status-line update used while it is hidden.
#include "extract/extract.h"
#include "startup/startup.h"
#include "ui/ui.h"

#include <string.h>

enum { RANGE_WORD = 0, POSITION_WORD = 2, METER_EXTRA_BYTES = 4 };

static const char meterClassName[] = "Meter";
static const char ellipsis[] = "...";

// What the meter last put on the screen: the size it was painted at, the
// right edge of its filled part and its text. A move or a refresh that would
// paint the same again is let go: each paint costs a display context and a
// font, which a busy host makes dear when it comes once per 64 KiB.
struct MeterView {
    HWND meter;
    RECT client;
    LONG filledRight;
    char text[METER_TEXT_SIZE];
};
static MeterView shown;

void RegisterMeterClass(HINSTANCE programInstance) {
    WNDCLASSA meterClass;
    memset(&meterClass, 0, sizeof meterClass);
    meterClass.style = CS_HREDRAW | CS_VREDRAW;
    meterClass.lpfnWndProc = MeterWindowProc;
    meterClass.cbWndExtra = METER_EXTRA_BYTES;
    meterClass.hInstance = programInstance;
    meterClass.hCursor = LoadCursorA(NULL, IDC_ARROW);
    meterClass.lpszClassName = meterClassName;
    RegisterClassA(&meterClass);
}

void FormatProgressText(char *buffer, int size) {
    // Formatted in full first; a text that would overrun the buffer keeps its
    // beginning and ends in "...".
    char text[1100];
    wsprintfA(text, MessageText(MSG_UNZIPPING), FileNamePart(session.outputPath));
    int length = lstrlenA(text);
    if (length < size) {
        lstrcpyA(buffer, text);
        return;
    }
    int keep = size - (int)sizeof ellipsis;
    memcpy(buffer, text, (size_t)keep);
    lstrcpyA(buffer + keep, ellipsis);
}

void UpdateStatusLine() {
    char text[STATUS_TEXT_SIZE];
    FormatProgressText(text, sizeof text);
    if (session.meterVisible || !session.mainWindow)
        return; // the meter shows the same text at its next repaint
    SetDlgItemTextA(session.mainWindow, CTL_STATUS, text);
    InvalidateRect(GetDlgItem(session.mainWindow, CTL_STATUS), NULL, FALSE);
}

HGDIOBJ SelectMeterFont(HDC dc) {
    HDC display = CreateDCA("DISPLAY", NULL, NULL, NULL);
    LOGFONTA font;
    memset(&font, 0, sizeof font);
    lstrcpyA(font.lfFaceName, "Helv");
    font.lfHeight = GetDeviceCaps(display, LOGPIXELSY) * 6 / -72; // 6 points
    HFONT meterFont = CreateFontIndirectA(&font);
    DeleteDC(display);
    if (!meterFont)
        return NULL;
    return SelectObject(dc, meterFont);
}

void ReleaseMeterFont(HDC dc, HGDIOBJ previous) {
    if (!previous)
        return;
    HGDIOBJ meterFont = SelectObject(dc, previous);
    if (meterFont)
        DeleteObject(meterFont);
}

static void SwapColours(HDC dc) {
    COLORREF background = SetBkColor(dc, 0);
    COLORREF text = SetTextColor(dc, background);
    SetBkColor(dc, text);
}

static int FloorQuarter(int value) {
    return value >= 0 ? value / 4 : -((-value + 3) / 4);
}

// What the meter shows now: its client area, its filled part's right edge
// and its text.
static void CurrentView(HWND meter, MeterView *view) {
    unsigned range = (WORD)SendMessageA(meter, METER_GETRANGE, 0, 0);
    unsigned position = (WORD)SendMessageA(meter, METER_GETPOS, 0, 0);
    if (range == 0) {
        range = 1; // painted as an empty bar
        position = 0;
    }
    view->meter = meter;
    GetClientRect(meter, &view->client);
    view->filledRight = (LONG)((int)position * (int)view->client.right / (int)range);
    FormatProgressText(view->text, sizeof view->text);
}

static BOOL ShowsSomethingNew(HWND meter) {
    MeterView now;
    CurrentView(meter, &now);
    return now.meter != shown.meter || now.filledRight != shown.filledRight ||
           now.client.right != shown.client.right || now.client.bottom != shown.client.bottom ||
           lstrcmpA(now.text, shown.text) != 0;
}

void RefreshMeter(HWND meter) {
    if (meter && ShowsSomethingNew(meter))
        InvalidateRect(meter, NULL, FALSE);
}

static void PaintMeter(HWND meter) {
    MeterView view;
    CurrentView(meter, &view);
    const char *text = view.text;
    UINT length = (UINT)lstrlenA(text);

    PAINTSTRUCT paint;
    HDC dc = BeginPaint(meter, &paint);
    HGDIOBJ previousFont = SelectMeterFont(dc);
    SetBkColor(dc, GetSysColor(COLOR_HIGHLIGHTTEXT));
    SetTextColor(dc, GetSysColor(COLOR_HIGHLIGHT));
    SetTextAlign(dc, TA_CENTER);
    SwapColours(dc); // the filled part: highlight-text letters on highlight

    RECT client = view.client;
    RECT filled = {0, 0, view.filledRight, client.bottom};
    int x = client.right / 2;
    int y = 0; // without a known character height the text sits at the top
    SIZE extent;
    if (GetTextExtentPoint32A(dc, "X", 1, &extent)) {
        y = FloorQuarter(client.bottom - extent.cy);
        ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &filled, text, length, NULL);
    }
    RECT unfilled = {filled.right, 0, client.right, client.bottom};
    SwapColours(dc);
    ExtTextOutA(dc, x, y, ETO_CLIPPED | ETO_OPAQUE, &unfilled, text, length, NULL);

    ReleaseMeterFont(dc, previousFont);
    EndPaint(meter, &paint);
    // Only a paint of the whole control puts all of this view on the screen;
    // after a part, the next move or refresh paints the whole again.
    if (paint.rcPaint.left <= 0 && paint.rcPaint.top <= 0 && paint.rcPaint.right >= client.right &&
        paint.rcPaint.bottom >= client.bottom)
        shown = view;
    else
        shown.meter = NULL;
}

// Puts a new range or position on the screen before the message returns,
// when it changes what the meter shows.
static void RepaintNow(HWND meter) {
    if (!ShowsSomethingNew(meter))
        return;
    InvalidateRect(meter, NULL, FALSE);
    UpdateWindow(meter);
}

LRESULT CALLBACK MeterWindowProc(HWND meter, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        SendMessageA(meter, METER_SETRANGE, 100, 0);
        SendMessageA(meter, METER_SETPOS, 50, 0);
        return 0;
    case WM_GETDLGCODE:
        return DLGC_STATIC;
    case METER_SETRANGE:
        SetWindowWord(meter, RANGE_WORD, LOWORD(wParam));
        RepaintNow(meter);
        return 0;
    case METER_GETRANGE:
        return GetWindowWord(meter, RANGE_WORD);
    case METER_SETPOS:
        SetWindowWord(meter, POSITION_WORD, LOWORD(wParam));
        RepaintNow(meter);
        return 0;
    case METER_GETPOS:
        return GetWindowWord(meter, POSITION_WORD);
    case WM_PAINT:
        PaintMeter(meter);
        return 0;
    }
    return DefWindowProcA(meter, message, wParam, lParam);
}

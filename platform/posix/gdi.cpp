// A recording GDI: device contexts, fonts, colours and text output, kept as
// records for tests instead of pixels.
#include "window_internal.h"

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <unordered_set>

struct HostGdiObject {
    LOGFONTA font;
    bool stock = false;
};

struct HostDc {
    HostWindow *window = nullptr; // paint DC of this window
    bool display = false;
    HostGdiObject *font = nullptr;
    COLORREF textColor = 0x000000;
    COLORREF backColor = 0xFFFFFF;
    UINT align = 0;
    HostPaint paint; // the paint being recorded (paint DCs)
};

namespace {

struct GdiState {
    std::unordered_set<const HostGdiObject *> objects; // live fonts
    std::vector<std::unique_ptr<HostGdiObject>> store;
    std::unordered_set<const HostDc *> dcs;
    std::vector<std::unique_ptr<HostDc>> dcStore;
    std::vector<HostPaint> paintLog;
    std::vector<HostTextOut> loose;
    std::vector<LOGFONTA> fontsCreated;
    bool extentFails = false;
    HostDc *painting = nullptr; // innermost paint DC, for fonts created during a paint
};

GdiState &G() {
    static GdiState state;
    return state;
}

HostGdiObject *StockFont() {
    static HostGdiObject stock = [] {
        HostGdiObject o;
        memset(&o.font, 0, sizeof o.font);
        o.font.lfHeight = 16;
        strcpy(o.font.lfFaceName, "System");
        o.stock = true;
        return o;
    }();
    return &stock;
}

HostDc *LiveDc(HDC dc) {
    return (dc != nullptr && G().dcs.count(dc)) ? dc : nullptr;
}

bool LiveObject(HGDIOBJ object) {
    return object != nullptr && (object == StockFont() || G().objects.count(object));
}

HostDc *NewDc() {
    auto dc = std::make_unique<HostDc>();
    dc->font = StockFont();
    HostDc *raw = dc.get();
    G().dcStore.push_back(std::move(dc));
    G().dcs.insert(raw);
    return raw;
}

// A released context leaves no record behind: a long extraction paints the
// meter thousands of times.
void ReleaseDc(HostDc *dc) {
    G().dcs.erase(dc);
    auto &store = G().dcStore;
    for (auto it = store.begin(); it != store.end(); ++it) {
        if (it->get() == dc) {
            store.erase(it);
            break;
        }
    }
}

// Keeps the newest records only, dropping the oldest half at a time.
template <typename T> void KeepRecent(std::vector<T> &records, const T &record) {
    if (records.size() >= 2 * HOST_PAINTS_KEPT)
        records.erase(records.begin(), records.begin() + HOST_PAINTS_KEPT);
    records.push_back(record);
}

LONG CellHeight(const HostGdiObject *font) {
    LONG h = font->font.lfHeight;
    if (h > 0)
        return h;
    if (h < 0)
        return -h * 5 / 4;
    return 16;
}

} // namespace

HDC HostBeginPaintDc(HostWindow *window) {
    HostDc *dc = NewDc();
    dc->window = window;
    dc->paint.window = window;
    dc->paint.controlId = window->id;
    dc->paint.className = window->className;
    GetClientRect(window, &dc->paint.client);
    G().painting = dc;
    return dc;
}

void HostEndPaintDc(HDC dc) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr)
        return;
    if (d->window != nullptr && d->window->alive)
        KeepRecent(d->window->paints, d->paint);
    KeepRecent(G().paintLog, d->paint);
    if (G().painting == d)
        G().painting = nullptr;
    ReleaseDc(d);
}

void HostResetGdi() {
    GdiState &g = G();
    g.objects.clear();
    g.store.clear();
    g.dcs.clear();
    g.dcStore.clear();
    g.paintLog.clear();
    g.loose.clear();
    g.fontsCreated.clear();
    g.extentFails = false;
    g.painting = nullptr;
}

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR output, const void *init) {
    (void)device;
    (void)output;
    (void)init;
    if (driver == nullptr || strcasecmp(driver, "DISPLAY") != 0)
        return nullptr;
    HostDc *dc = NewDc();
    dc->display = true;
    return dc;
}

BOOL WINAPI DeleteDC(HDC dc) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr || d->window != nullptr)
        return FALSE; // paint contexts end with EndPaint
    ReleaseDc(d);
    return TRUE;
}

int WINAPI GetDeviceCaps(HDC dc, int index) {
    if (LiveDc(dc) == nullptr)
        return 0;
    switch (index) {
    case 88: // LOGPIXELSX
    case LOGPIXELSY:
        return Ui().dpi;
    default:
        return 0;
    }
}

HFONT WINAPI CreateFontIndirectA(const LOGFONTA *font) {
    if (font == nullptr)
        return nullptr;
    auto object = std::make_unique<HostGdiObject>();
    object->font = *font;
    object->font.lfFaceName[LF_FACESIZE - 1] = '\0';
    HostGdiObject *raw = object.get();
    G().store.push_back(std::move(object));
    G().objects.insert(raw);
    KeepRecent(G().fontsCreated, raw->font);
    if (G().painting != nullptr)
        G().painting->paint.fontsCreated++;
    return raw;
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr || !LiveObject(object))
        return nullptr;
    HostGdiObject *old = d->font;
    d->font = object;
    return old;
}

BOOL WINAPI DeleteObject(HGDIOBJ object) {
    if (object == StockFont())
        return TRUE; // stock objects are never deleted
    if (!LiveObject(object))
        return FALSE;
    for (const HostDc *dc : G().dcs)
        if (dc->font == object)
            return FALSE; // still selected
    G().objects.erase(object);
    auto &store = G().store;
    for (auto it = store.begin(); it != store.end(); ++it) {
        if (it->get() == object) {
            store.erase(it); // the object itself goes, not only its entry
            break;
        }
    }
    return TRUE;
}

COLORREF WINAPI SetBkColor(HDC dc, COLORREF color) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr)
        return 0xFFFFFFFF; // CLR_INVALID
    COLORREF old = d->backColor;
    d->backColor = color;
    return old;
}

COLORREF WINAPI SetTextColor(HDC dc, COLORREF color) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr)
        return 0xFFFFFFFF;
    COLORREF old = d->textColor;
    d->textColor = color;
    return old;
}

UINT WINAPI SetTextAlign(HDC dc, UINT align) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr)
        return 0xFFFFFFFF; // GDI_ERROR
    UINT old = d->align;
    d->align = align;
    return old;
}

BOOL WINAPI GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size) {
    HostDc *d = LiveDc(dc);
    if (d == nullptr || size == nullptr || count < 0 || (text == nullptr && count > 0) ||
        G().extentFails)
        return FALSE;
    size->cx = 6 * count;
    size->cy = CellHeight(d->font);
    return TRUE;
}

BOOL WINAPI ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT *rect, LPCSTR text,
                        UINT count, const INT *dx) {
    (void)dx;
    HostDc *d = LiveDc(dc);
    if (d == nullptr || (text == nullptr && count > 0))
        return FALSE;
    HostTextOut out;
    out.window = d->window;
    out.x = x;
    out.y = y;
    out.options = options;
    if (rect != nullptr) {
        out.hasRect = true;
        out.rect = *rect;
    }
    if (count > 0)
        out.text.assign(text, count);
    out.textColor = d->textColor;
    out.backColor = d->backColor;
    out.align = d->align;
    out.fontHeight = d->font->font.lfHeight;
    out.fontFace = d->font->font.lfFaceName;
    if (d->window != nullptr)
        d->paint.texts.push_back(out);
    else
        G().loose.push_back(out);
    return TRUE;
}

DWORD WINAPI GetSysColor(int index) {
    switch (index) {
    case COLOR_HIGHLIGHT:
        return 0x00D77800;
    case COLOR_HIGHLIGHTTEXT:
    case 5: // COLOR_WINDOW
        return 0x00FFFFFF;
    case 15: // COLOR_BTNFACE
        return 0x00F0F0F0;
    default: // COLOR_WINDOWTEXT, COLOR_BTNTEXT and the rest
        return 0x00000000;
    }
}

const std::vector<HostPaint> &HostPaintLog() {
    return G().paintLog;
}

const std::vector<HostTextOut> &HostLooseTextOuts() {
    return G().loose;
}

std::vector<LOGFONTA> HostFontsCreated() {
    return G().fontsCreated;
}

int HostLiveGdiObjects() {
    return static_cast<int>(G().objects.size());
}

int HostLiveDcs() {
    return static_cast<int>(G().dcs.size());
}

void HostSetTextExtentFails(bool fail) {
    G().extentFails = fail;
}

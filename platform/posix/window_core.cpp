// Windows of the headless host: records, classes, texts, states, geometry,
// the built-in controls, message delivery and painting.
#include "window_internal.h"
#include "posix/host_internal.h"

#include <string.h>
#include <strings.h>

#include <algorithm>
#include <stdio.h>

HostUiState &Ui() {
    static HostUiState state;
    return state;
}

// ---- window records -------------------------------------------------------------

HostWindow *HostLive(HWND window) {
    if (window == nullptr)
        return nullptr;
    return Ui().live.count(window) ? window : nullptr;
}

HostWindow *HostNewWindow(HostKind kind) {
    auto window = std::make_unique<HostWindow>();
    window->kind = kind;
    HostWindow *raw = window.get();
    Ui().windows.push_back(std::move(window));
    Ui().live.insert(raw);
    return raw;
}

HostWindow *HostTopLevel(HostWindow *window) {
    while (window != nullptr && window->parent != nullptr)
        window = window->parent;
    return window;
}

bool HostIsDescendant(const HostWindow *window, const HostWindow *ancestor) {
    for (const HostWindow *w = window; w != nullptr; w = w->parent)
        if (w == ancestor)
            return true;
    return false;
}

bool HostVisible(const HostWindow *window) {
    for (const HostWindow *w = window; w != nullptr; w = w->parent)
        if (!(w->style & WS_VISIBLE))
            return false;
    return true;
}

bool HostEnabled(const HostWindow *window) {
    return !(window->style & WS_DISABLED);
}

HostWindow *HostFindChild(const HostWindow *dialog, int id) {
    if (dialog == nullptr)
        return nullptr;
    for (HostWindow *child : dialog->children)
        if (child->alive && child->id == id)
            return child;
    return nullptr;
}

std::string HostQuote(const std::string &text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + c;
        else
            out += c;
    }
    return out + "\"";
}

std::string HostDescribe(const HostWindow *window) {
    if (window == nullptr)
        return "(none)";
    switch (window->kind) {
    case HostKind::Dialog:
        return "dialog " + HostQuote(window->text);
    case HostKind::Box:
        return "box " + HostQuote(window->text);
    default:
        return "control " + std::to_string(window->id) + " (" + window->className + " " +
               HostQuote(window->text) + ")";
    }
}

bool HostIsCheckBox(const HostWindow *window) {
    if (window == nullptr || window->kind != HostKind::Button)
        return false;
    switch (window->style & BS_TYPEMASK) {
    case HOST_BS_CHECKBOX:
    case BS_AUTOCHECKBOX:
    case HOST_BS_3STATE:
    case HOST_BS_AUTO3STATE:
    case HOST_BS_RADIOBUTTON:
    case HOST_BS_AUTORADIOBUTTON:
        return true;
    default:
        return false;
    }
}

bool HostIsPushButton(const HostWindow *window) {
    if (window == nullptr || window->kind != HostKind::Button)
        return false;
    DWORD type = window->style & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

// ---- geometry ---------------------------------------------------------------------

static void FrameOf(const HostWindow *window, int *frame, int *caption) {
    *frame = 0;
    *caption = 0;
    if (window->kind == HostKind::Dialog || window->kind == HostKind::Box) {
        if (window->style & (HOST_WS_DLGFRAME | DS_MODALFRAME))
            *frame = 3;
        else if (window->style & WS_BORDER)
            *frame = 1;
        if ((window->style & WS_CAPTION) == WS_CAPTION)
            *caption = 19;
    } else if (window->style & WS_BORDER) {
        *frame = 1;
    }
}

void HostClientOrigin(const HostWindow *window, POINT *point) {
    RECT rect;
    HostGetScreenRect(window, &rect);
    int frame, caption;
    FrameOf(window, &frame, &caption);
    point->x = rect.left + frame;
    point->y = rect.top + frame + caption;
}

void HostGetScreenRect(const HostWindow *window, RECT *rect) {
    LONG left = window->x, top = window->y;
    if (window->parent != nullptr) {
        POINT origin;
        HostClientOrigin(window->parent, &origin);
        left += origin.x;
        top += origin.y;
    }
    rect->left = left;
    rect->top = top;
    rect->right = left + window->cx;
    rect->bottom = top + window->cy;
}

BOOL WINAPI GetWindowRect(HWND window, LPRECT rect) {
    HostWindow *w = HostLive(window);
    if (w == nullptr || rect == nullptr)
        return FALSE;
    HostGetScreenRect(w, rect);
    return TRUE;
}

BOOL WINAPI GetClientRect(HWND window, LPRECT rect) {
    HostWindow *w = HostLive(window);
    if (w == nullptr || rect == nullptr)
        return FALSE;
    int frame, caption;
    FrameOf(w, &frame, &caption);
    rect->left = 0;
    rect->top = 0;
    rect->right = std::max(0, w->cx - 2 * frame);
    rect->bottom = std::max(0, w->cy - 2 * frame - caption);
    return TRUE;
}

int WINAPI GetSystemMetrics(int index) {
    switch (index) {
    case SM_CXSCREEN:
        return Ui().screenX;
    case SM_CYSCREEN:
        return Ui().screenY;
    case 4: // SM_CYCAPTION
        return 19;
    case 5: // SM_CXBORDER
    case 6: // SM_CYBORDER
        return 1;
    case 7: // SM_CXDLGFRAME
    case 8: // SM_CYDLGFRAME
        return 3;
    default:
        return 0;
    }
}

BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    (void)insertAfter; // there is no z-order to keep
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return FALSE;
    bool changed = false;
    if (!(flags & SWP_NOMOVE) && (w->x != x || w->y != y)) {
        w->x = x;
        w->y = y;
        changed = true;
    }
    if (!(flags & SWP_NOSIZE) && (w->cx != cx || w->cy != cy)) {
        w->cx = std::max(0, cx);
        w->cy = std::max(0, cy);
        changed = true;
    }
    if (flags & HOST_SWP_SHOWWINDOW)
        HostShow(w, true);
    else if (flags & HOST_SWP_HIDEWINDOW)
        HostShow(w, false);
    else if (changed)
        HostInvalidate(w);
    return TRUE;
}

// ---- classes and window words -------------------------------------------------------

ATOM WINAPI RegisterClassA(const WNDCLASSA *windowClass) {
    if (windowClass == nullptr || windowClass->lpszClassName == nullptr ||
        windowClass->lpszClassName[0] == '\0' || windowClass->cbWndExtra < 0 ||
        windowClass->cbWndExtra > 40)
        return 0;
    for (const HostClassRecord &c : Ui().classes)
        if (strcasecmp(c.name.c_str(), windowClass->lpszClassName) == 0)
            return 0; // already registered
    for (const char *builtin : {"BUTTON", "EDIT", "STATIC"})
        if (strcasecmp(builtin, windowClass->lpszClassName) == 0)
            return 0;
    HostClassRecord record;
    record.name = windowClass->lpszClassName;
    record.proc = windowClass->lpfnWndProc;
    record.wndExtra = windowClass->cbWndExtra;
    record.style = windowClass->style;
    record.cursor = windowClass->hCursor;
    record.atom = static_cast<ATOM>(0xC000 + Ui().classes.size());
    Ui().classes.push_back(record);
    HostTranscriptLine("class registered " + HostQuote(record.name));
    return record.atom;
}

WORD WINAPI SetWindowWord(HWND window, int index, WORD value) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return 0;
    if (index == HOST_GWW_ID) {
        WORD old = static_cast<WORD>(w->id);
        w->id = value;
        return old;
    }
    if (index < 0 || static_cast<size_t>(index) + 2 > w->extra.size())
        return 0;
    WORD old = static_cast<WORD>(w->extra[index] | (w->extra[index + 1] << 8));
    w->extra[index] = static_cast<BYTE>(value & 0xFF);
    w->extra[index + 1] = static_cast<BYTE>(value >> 8);
    return old;
}

WORD WINAPI GetWindowWord(HWND window, int index) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return 0;
    if (index == HOST_GWW_ID)
        return static_cast<WORD>(w->id);
    if (index < 0 || static_cast<size_t>(index) + 2 > w->extra.size())
        return 0;
    return static_cast<WORD>(w->extra[index] | (w->extra[index + 1] << 8));
}

// ---- texts -----------------------------------------------------------------------------

static LRESULT TextMessage(HostWindow *w, UINT message, WPARAM wParam, LPARAM lParam,
                           bool *handled) {
    *handled = true;
    switch (message) {
    case WM_SETTEXT:
        w->text = lParam ? reinterpret_cast<const char *>(lParam) : "";
        if (w->kind == HostKind::Edit)
            w->selectAll = false;
        HostInvalidate(w);
        return TRUE;
    case WM_GETTEXT: {
        if (wParam == 0 || lParam == 0)
            return 0;
        char *buffer = reinterpret_cast<char *>(lParam);
        size_t n = std::min(w->text.size(), static_cast<size_t>(wParam) - 1);
        memcpy(buffer, w->text.data(), n);
        buffer[n] = '\0';
        return static_cast<LRESULT>(n);
    }
    case WM_GETTEXTLENGTH:
        return static_cast<LRESULT>(w->text.size());
    default:
        *handled = false;
        return 0;
    }
}

LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return 0;
    bool handled;
    LRESULT r = TextMessage(w, message, wParam, lParam, &handled);
    if (handled)
        return r;
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        if (BeginPaint(window, &paint) != nullptr)
            EndPaint(window, &paint);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    default:
        return 0;
    }
}

BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text) {
    if (HostLive(window) == nullptr)
        return FALSE;
    return SendMessageA(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)) ? TRUE : FALSE;
}

int WINAPI GetWindowTextA(HWND window, LPSTR text, int size) {
    if (text != nullptr && size > 0)
        text[0] = '\0';
    if (HostLive(window) == nullptr || text == nullptr || size <= 0)
        return 0;
    return static_cast<int>(SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(size),
                                         reinterpret_cast<LPARAM>(text)));
}

HWND WINAPI GetDlgItem(HWND dialog, int id) {
    return HostFindChild(HostLive(dialog), id);
}

LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam,
                                   LPARAM lParam) {
    HostWindow *control = HostFindChild(HostLive(dialog), id);
    if (control == nullptr)
        return 0;
    return SendMessageA(control, message, wParam, lParam);
}

BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text) {
    HostWindow *control = HostFindChild(HostLive(dialog), id);
    if (control == nullptr)
        return FALSE;
    return SetWindowTextA(control, text);
}

UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size) {
    if (text != nullptr && size > 0)
        text[0] = '\0';
    HostWindow *control = HostFindChild(HostLive(dialog), id);
    if (control == nullptr || text == nullptr || size <= 0)
        return 0;
    return static_cast<UINT>(GetWindowTextA(control, text, size));
}

// ---- states ------------------------------------------------------------------------------

BOOL WINAPI EnableWindow(HWND window, BOOL enable) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return FALSE;
    BOOL wasDisabled = (w->style & WS_DISABLED) ? TRUE : FALSE;
    if (enable)
        w->style &= ~static_cast<DWORD>(WS_DISABLED);
    else
        w->style |= WS_DISABLED;
    if (wasDisabled != (enable ? FALSE : TRUE))
        HostInvalidate(w);
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND window) {
    HostWindow *w = HostLive(window);
    return (w != nullptr && HostEnabled(w)) ? TRUE : FALSE;
}

BOOL WINAPI IsWindowVisible(HWND window) {
    HostWindow *w = HostLive(window);
    return (w != nullptr && HostVisible(w)) ? TRUE : FALSE;
}

void HostShow(HostWindow *w, bool show) {
    bool was = (w->style & WS_VISIBLE) != 0;
    if (show == was)
        return;
    if (show) {
        w->style |= WS_VISIBLE;
        HostInvalidate(w);
    } else {
        w->style &= ~static_cast<DWORD>(WS_VISIBLE);
        w->invalid = false;
    }
}

BOOL WINAPI ShowWindow(HWND window, int command) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return FALSE;
    BOOL was = (w->style & WS_VISIBLE) ? TRUE : FALSE;
    HostShow(w, command != SW_HIDE);
    return was;
}

HWND WINAPI GetParent(HWND window) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return nullptr;
    return w->parent != nullptr ? w->parent : w->owner;
}

// ---- destruction ----------------------------------------------------------------------------

void HostDestroyTree(HostWindow *w, bool sendDestroy) {
    if (!w->alive)
        return;
    if (sendDestroy) {
        if (w->kind == HostKind::Dialog && w->dialogProc != nullptr)
            w->dialogProc(w, WM_DESTROY, 0, 0);
        else if (w->kind == HostKind::Custom && w->proc != nullptr)
            w->proc(w, WM_DESTROY, 0, 0);
    }
    std::vector<HostWindow *> children = w->children;
    for (HostWindow *child : children)
        HostDestroyTree(child, sendDestroy);
    if (!w->alive)
        return; // a WM_DESTROY handler destroyed it already
    w->alive = false;
    w->invalid = false;
    Ui().live.erase(w);
    if (w->parent != nullptr) {
        auto &siblings = w->parent->children;
        siblings.erase(std::remove(siblings.begin(), siblings.end(), w), siblings.end());
        if (w->parent->focus == w)
            w->parent->focus = nullptr;
    }
    auto &timers = Ui().timers;
    timers.erase(std::remove_if(timers.begin(), timers.end(),
                                [w](const HostTimer &t) { return t.window == w; }),
                 timers.end());
    HostPurgeWindow(w);
    for (auto &other : Ui().windows)
        if (other->owner == w)
            other->owner = nullptr;
}

BOOL WINAPI DestroyWindow(HWND window) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return FALSE;
    auto &modal = Ui().modal;
    if (std::find(modal.begin(), modal.end(), w) != modal.end()) {
        // A modal window is taken down by its own loop.
        w->ended = true;
        HostShow(w, false);
        return TRUE;
    }
    HostTranscriptLine("destroyed " + HostDescribe(w));
    HostDestroyTree(w, true);
    return TRUE;
}

// ---- built-in controls ---------------------------------------------------------------------

void HostClickButton(HostWindow *button) {
    if (!HostEnabled(button))
        return;
    DWORD type = button->style & BS_TYPEMASK;
    if (type == BS_AUTOCHECKBOX)
        button->check = button->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
    else if (type == HOST_BS_AUTO3STATE)
        button->check = (button->check + 1) % 3;
    else if (type == HOST_BS_AUTORADIOBUTTON)
        button->check = BST_CHECKED;
    std::string line = "clicked " + HostDescribe(button);
    if (HostIsCheckBox(button))
        line += button->check ? " -> checked" : " -> unchecked";
    HostTranscriptLine(line);
    HostWindow *parent = button->parent;
    if (parent != nullptr && parent->alive)
        HostDeliver(parent, WM_COMMAND,
                    static_cast<WPARAM>((button->id & 0xFFFF) | (HOST_BN_CLICKED << 16)),
                    reinterpret_cast<LPARAM>(button));
}

static LRESULT ButtonProc(HostWindow *w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case BM_GETCHECK:
        return HostIsCheckBox(w) ? w->check : 0;
    case BM_SETCHECK:
        if (HostIsCheckBox(w)) {
            w->check = static_cast<int>(wParam);
            HostInvalidate(w);
        }
        return 0;
    case BM_SETSTYLE:
        w->style = (w->style & ~static_cast<DWORD>(BS_TYPEMASK)) |
                   (static_cast<DWORD>(wParam) & BS_TYPEMASK);
        if (lParam)
            HostInvalidate(w);
        return 0;
    case BM_CLICK:
        HostClickButton(w);
        return 0;
    case WM_LBUTTONDOWN:
        w->pressed = HostEnabled(w);
        return 0;
    case WM_LBUTTONUP:
        if (w->pressed) {
            w->pressed = false;
            HostClickButton(w);
        }
        return 0;
    case WM_GETDLGCODE:
        if ((w->style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
            return HOST_DLGC_BUTTON | HOST_DLGC_DEFPUSHBUTTON;
        if ((w->style & BS_TYPEMASK) == BS_PUSHBUTTON)
            return HOST_DLGC_BUTTON | HOST_DLGC_UNDEFPUSHBUTTON;
        return HOST_DLGC_BUTTON;
    default:
        return 0;
    }
}

// An edit control's length as its limit counts it: in UTF-16 code units, as
// Windows keeps the text; under 1252 and 932, bytes (as the ANSI text).
static size_t EditLength(const std::string &text) {
    if (host::AnsiCodePage() != 65001)
        return text.size();
    size_t units = 0;
    for (unsigned char c : text)
        units += (c & 0xC0) == 0x80 ? 0 : c >= 0xF0 ? 2 : 1;
    return units;
}

static bool IsContinuationByte(unsigned char c) {
    return host::AnsiCodePage() == 65001 && (c & 0xC0) == 0x80;
}

static LRESULT EditProc(HostWindow *w, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case EM_LIMITTEXT:
        w->limit = wParam ? static_cast<size_t>(wParam) : 0x7FFFFFFEu;
        return 0;
    case HOST_EM_SETSEL:
        w->selectAll = (wParam == 0 && lParam == -1) && !w->text.empty();
        return 0;
    case WM_CHAR: {
        unsigned char c = static_cast<unsigned char>(wParam & 0xFF);
        if (c == HOST_VK_BACK) {
            if (w->selectAll)
                w->text.clear();
            else
                while (!w->text.empty()) { // one character
                    unsigned char last = static_cast<unsigned char>(w->text.back());
                    w->text.pop_back();
                    if (!IsContinuationByte(last))
                        break;
                }
            w->selectAll = false;
        } else if (IsContinuationByte(c)) {
            if (!w->droppingCharacter)
                w->text += static_cast<char>(c);
        } else if (c >= 0x20 && c != 0x7F) {
            if (w->selectAll)
                w->text.clear();
            w->selectAll = false;
            size_t units = host::AnsiCodePage() == 65001 && c >= 0xF0 ? 2 : 1;
            w->droppingCharacter = EditLength(w->text) + units > w->limit;
            if (!w->droppingCharacter)
                w->text += static_cast<char>(c);
        }
        return 0;
    }
    case WM_GETDLGCODE:
        return HOST_DLGC_WANTCHARS | HOST_DLGC_HASSETSEL;
    default:
        return 0;
    }
}

LRESULT HostDeliver(HostWindow *w, UINT message, WPARAM wParam, LPARAM lParam) {
    if (w == nullptr || !w->alive)
        return 0;
    switch (w->kind) {
    case HostKind::Dialog: {
        INT_PTR r = w->dialogProc ? w->dialogProc(w, message, wParam, lParam) : FALSE;
        if (r)
            return r;
        if (!w->alive)
            return 0;
        return HostDialogDefault(w, message, wParam, lParam);
    }
    case HostKind::Custom:
        if (w->proc != nullptr)
            return w->proc(w, message, wParam, lParam);
        return DefWindowProcA(w, message, wParam, lParam);
    default:
        break;
    }
    bool handled;
    LRESULT r = TextMessage(w, message, wParam, lParam, &handled);
    if (handled)
        return r;
    switch (w->kind) {
    case HostKind::Button:
        return ButtonProc(w, message, wParam, lParam);
    case HostKind::Edit:
        return EditProc(w, message, wParam, lParam);
    case HostKind::Static:
        return message == WM_GETDLGCODE ? DLGC_STATIC : 0;
    default:
        return 0;
    }
}

LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return HostDeliver(HostLive(window), message, wParam, lParam);
}

// ---- painting -------------------------------------------------------------------------------

void HostInvalidate(HostWindow *w) {
    if (w == nullptr || !w->alive || !HostVisible(w))
        return;
    w->invalid = true;
    for (HostWindow *child : w->children)
        HostInvalidate(child);
}

BOOL WINAPI InvalidateRect(HWND window, const RECT *rect, BOOL erase) {
    (void)rect; // the whole window is always invalidated
    (void)erase;
    if (window == nullptr) {
        for (auto &w : Ui().windows)
            if (w->alive && w->parent == nullptr)
                HostInvalidate(w.get());
        return TRUE;
    }
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return FALSE;
    HostInvalidate(w);
    return TRUE;
}

void HostPaintNow(HostWindow *w) {
    if (w == nullptr || !w->alive)
        return;
    if (w->invalid && HostVisible(w)) {
        if (w->kind == HostKind::Custom) {
            HostDeliver(w, WM_PAINT, 0, 0);
            if (!w->alive)
                return;
        }
        w->invalid = false;
    }
    std::vector<HostWindow *> children = w->children;
    for (HostWindow *child : children)
        if (child->alive)
            HostPaintNow(child);
}

BOOL WINAPI UpdateWindow(HWND window) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return FALSE;
    HostPaintNow(w);
    return TRUE;
}

HostWindow *HostNextPaint(const HostWindow *filter) {
    for (auto &w : Ui().windows) {
        if (!w->alive || !w->invalid)
            continue;
        if (filter != nullptr && !HostIsDescendant(w.get(), filter))
            continue;
        if (!HostVisible(w.get())) {
            w->invalid = false;
            continue;
        }
        if (w->kind == HostKind::Custom)
            return w.get();
        w->invalid = false; // built-in windows paint themselves silently
    }
    return nullptr;
}

HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint) {
    HostWindow *w = HostLive(window);
    if (w == nullptr || paint == nullptr)
        return nullptr;
    memset(paint, 0, sizeof *paint);
    HDC dc = HostBeginPaintDc(w);
    paint->hdc = dc;
    paint->fErase = FALSE;
    GetClientRect(window, &paint->rcPaint);
    return dc;
}

BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT *paint) {
    HostWindow *w = HostLive(window);
    if (paint == nullptr)
        return FALSE;
    if (w != nullptr)
        w->invalid = false;
    HostEndPaintDc(paint->hdc);
    if (w != nullptr)
        HostCurrentUser().OnPainted(window);
    return TRUE;
}

// ---- inspection for tests ----------------------------------------------------------------------

bool HostIsWindow(HWND window) {
    return HostLive(window) != nullptr;
}

std::string HostWindowClass(HWND window) {
    HostWindow *w = HostLive(window);
    return w ? w->className : std::string();
}

int HostControlId(HWND window) {
    HostWindow *w = HostLive(window);
    return w ? w->id : 0;
}

DWORD HostWindowStyle(HWND window) {
    HostWindow *w = HostLive(window);
    return w ? w->style : 0;
}

std::string HostWindowText(HWND window) {
    HostWindow *w = HostLive(window);
    return w ? w->text : std::string();
}

int HostCheckState(HWND window) {
    HostWindow *w = HostLive(window);
    return w ? w->check : 0;
}

int HostDialogDefaultId(HWND dialog) {
    HostWindow *w = HostLive(dialog);
    if (w == nullptr || w->kind != HostKind::Dialog)
        return 0;
    LRESULT r = SendMessageA(dialog, DM_GETDEFID, 0, 0);
    return HIWORD(r) == HOST_DC_HASDEFID ? LOWORD(r) : 0;
}

HWND HostFocus(HWND dialog) {
    HostWindow *w = HostLive(dialog);
    return w ? w->focus : nullptr;
}

std::vector<HWND> HostChildren(HWND dialog) {
    HostWindow *w = HostLive(dialog);
    return w ? w->children : std::vector<HWND>();
}

bool HostWindowInvalid(HWND window) {
    HostWindow *w = HostLive(window);
    return w != nullptr && w->invalid;
}

size_t HostEditLimit(HWND edit) {
    HostWindow *w = HostLive(edit);
    return w ? w->limit : 0;
}

std::vector<HostPaint> HostPaintsOf(HWND window) {
    HostWindow *w = HostLive(window);
    return w ? w->paints : std::vector<HostPaint>();
}

std::string HostLastPaintedText(HWND window) {
    HostWindow *w = HostLive(window);
    if (w == nullptr || w->paints.empty() || w->paints.back().texts.empty())
        return std::string();
    return w->paints.back().texts.back().text;
}

std::string HostDescribeDialog(HWND dialog) {
    HostWindow *d = HostLive(dialog);
    if (d == nullptr)
        return "(no dialog)\n";
    char line[160];
    std::string out = "dialog " + HostQuote(d->text);
    snprintf(line, sizeof line, " default %d%s%s\n", HostDialogDefaultId(dialog),
             HostVisible(d) ? "" : " hidden", HostEnabled(d) ? "" : " disabled");
    out += line;
    for (HostWindow *c : d->children) {
        snprintf(line, sizeof line, "  %5d %-8s style %08x", c->id, c->className.c_str(),
                 static_cast<unsigned>(c->style));
        out += line;
        out += (c->style & WS_VISIBLE) ? "" : " hidden";
        out += HostEnabled(c) ? "" : " disabled";
        if (HostIsCheckBox(c))
            out += c->check ? " [x]" : " [ ]";
        out += " " + HostQuote(c->text) + "\n";
    }
    return out;
}

// Dialog boxes from in-memory templates, their modal loops and default
// handling, and message boxes.
#include "posix/host_internal.h"
#include "window_internal.h"

#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>
#include <exception>
#include <functional>

// ---- template parsing --------------------------------------------------------------

namespace {

const size_t kUnknownExtent = 64 * 1024;

std::function<size_t(const void *)> &ExtentQuery() {
    static std::function<size_t(const void *)> query;
    return query;
}

struct ItemTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    WORD id = 0;
    std::string className; // "BUTTON", "EDIT", "STATIC" or a registered name
    std::string title;
};

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    std::string title;
    WORD pointSize = 0;
    std::string face;
    std::vector<ItemTemplate> items;
};

// Reads the template bytes with a bound; the first problem is kept.
class TemplateReader {
  public:
    TemplateReader(const BYTE *bytes, size_t extent) : bytes_(bytes), extent_(extent) {}

    bool Word(WORD *value, const char *what) {
        if (!Need(2, what))
            return false;
        *value = static_cast<WORD>(bytes_[pos_] | (bytes_[pos_ + 1] << 8));
        pos_ += 2;
        return true;
    }
    bool Short(short *value, const char *what) {
        WORD w;
        if (!Word(&w, what))
            return false;
        *value = static_cast<short>(w);
        return true;
    }
    bool Dword(DWORD *value, const char *what) {
        WORD low, high;
        if (!Word(&low, what) || !Word(&high, what))
            return false;
        *value = static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16);
        return true;
    }
    // A NUL-terminated UTF-16 string, converted to bytes.
    bool String(std::string *out, const char *what) {
        out->clear();
        for (;;) {
            WORD c;
            if (!Word(&c, what))
                return false;
            if (c == 0)
                return true;
            out->push_back(c < 0x100 ? static_cast<char>(c) : '?');
        }
    }
    // 0x0000 (none), 0xFFFF + ordinal, or a string.
    bool NameOrOrdinal(std::string *name, int *ordinal, const char *what) {
        WORD first;
        *ordinal = -1;
        name->clear();
        if (!Word(&first, what))
            return false;
        if (first == 0x0000)
            return true;
        if (first == 0xFFFF) {
            WORD value;
            if (!Word(&value, what))
                return false;
            *ordinal = value;
            return true;
        }
        pos_ -= 2;
        return String(name, what);
    }
    bool Skip(size_t count, const char *what) {
        if (!Need(count, what))
            return false;
        pos_ += count;
        return true;
    }
    bool AlignDword(const char *what) {
        size_t aligned = (pos_ + 3) & ~static_cast<size_t>(3);
        return Skip(aligned - pos_, what);
    }
    bool Fail(const std::string &why) {
        if (error_.empty())
            error_ = why + " at offset " + std::to_string(pos_);
        return false;
    }
    size_t Pos() const { return pos_; }
    const std::string &Error() const { return error_; }

  private:
    bool Need(size_t count, const char *what) {
        if (count > extent_ || pos_ > extent_ - count)
            return Fail(std::string("truncated in ") + what + " (template has " +
                        std::to_string(extent_) + " bytes)");
        return true;
    }
    const BYTE *bytes_;
    size_t extent_;
    size_t pos_ = 0;
    std::string error_;
};

bool ParseItem(TemplateReader &r, int index, ItemTemplate *item) {
    std::string where = "control " + std::to_string(index + 1);
    std::string header = where + " header";
    std::string cls = where + " class";
    std::string title = where + " title";
    std::string extra = where + " creation data";
    if (!r.AlignDword(header.c_str()) || !r.Dword(&item->style, header.c_str()) ||
        !r.Dword(&item->exStyle, header.c_str()) || !r.Short(&item->x, header.c_str()) ||
        !r.Short(&item->y, header.c_str()) || !r.Short(&item->cx, header.c_str()) ||
        !r.Short(&item->cy, header.c_str()) || !r.Word(&item->id, header.c_str()))
        return false;
    int ordinal;
    if (!r.NameOrOrdinal(&item->className, &ordinal, cls.c_str()))
        return false;
    if (ordinal >= 0) {
        switch (ordinal) {
        case 0x80:
            item->className = "BUTTON";
            break;
        case 0x81:
            item->className = "EDIT";
            break;
        case 0x82:
            item->className = "STATIC";
            break;
        default:
            return r.Fail(where + ": unsupported class ordinal " + std::to_string(ordinal));
        }
    } else if (item->className.empty()) {
        return r.Fail(where + ": empty class name");
    }
    int titleOrdinal;
    if (!r.NameOrOrdinal(&item->title, &titleOrdinal, title.c_str()))
        return false;
    WORD extraCount;
    if (!r.Word(&extraCount, extra.c_str()) || !r.Skip(extraCount, extra.c_str()))
        return false;
    return true;
}

bool ParseTemplate(const BYTE *bytes, size_t extent, DialogTemplate *t, std::string *error) {
    TemplateReader r(bytes, extent);
    bool ok = [&]() {
        WORD cdit;
        if (!r.Dword(&t->style, "header") || !r.Dword(&t->exStyle, "header"))
            return false;
        if ((t->style & 0xFFFF) == 0x0001 && (t->style >> 16) == 0xFFFF)
            return r.Fail("extended dialog templates (DLGTEMPLATEEX) are not supported");
        if (!r.Word(&cdit, "header") || !r.Short(&t->x, "header") || !r.Short(&t->y, "header") ||
            !r.Short(&t->cx, "header") || !r.Short(&t->cy, "header"))
            return false;
        std::string menu, cls;
        int menuOrdinal, classOrdinal;
        if (!r.NameOrOrdinal(&menu, &menuOrdinal, "menu"))
            return false;
        if (!menu.empty() || menuOrdinal >= 0)
            return r.Fail("dialogs with a menu are not supported");
        if (!r.NameOrOrdinal(&cls, &classOrdinal, "dialog class"))
            return false;
        if (!cls.empty() || classOrdinal >= 0)
            return r.Fail("dialogs of a private class are not supported");
        if (!r.String(&t->title, "caption"))
            return false;
        if (t->style & DS_SETFONT) {
            if (!r.Word(&t->pointSize, "font size") || !r.String(&t->face, "font face"))
                return false;
        }
        for (int i = 0; i < cdit; ++i) {
            ItemTemplate item;
            if (!ParseItem(r, i, &item))
                return false;
            t->items.push_back(item);
        }
        return true;
    }();
    if (!ok)
        *error = r.Error();
    return ok;
}

int DluX(int x) {
    return x * 6 / 4;
}
int DluY(int y) {
    return y * 13 / 8;
}

const HostClassRecord *FindClass(const std::string &name) {
    for (const HostClassRecord &c : Ui().classes)
        if (strcasecmp(c.name.c_str(), name.c_str()) == 0)
            return &c;
    return nullptr;
}

// Creates the dialog and its controls; nullptr (with *error) on failure.
HostWindow *CreateDialogWindows(const DialogTemplate &t, HostWindow *owner, DLGPROC proc,
                                std::string *error) {
    HostWindow *dialog = HostNewWindow(HostKind::Dialog);
    dialog->className = "#dialog";
    dialog->style = t.style & ~static_cast<DWORD>(WS_VISIBLE);
    dialog->exStyle = t.exStyle;
    dialog->text = t.title;
    dialog->dialogProc = proc;
    dialog->owner = owner;
    // The template rectangle is the client area; the frame goes around it.
    int clientX = DluX(t.x), clientY = DluY(t.y);
    if (owner != nullptr) {
        POINT origin;
        HostClientOrigin(owner, &origin);
        clientX += origin.x;
        clientY += origin.y;
    }
    int frame = (t.style & (HOST_WS_DLGFRAME | DS_MODALFRAME)) ? 3 : (t.style & WS_BORDER) ? 1 : 0;
    int caption = (t.style & WS_CAPTION) == WS_CAPTION ? 19 : 0;
    dialog->x = clientX - frame;
    dialog->y = clientY - frame - caption;
    dialog->cx = DluX(t.cx) + 2 * frame;
    dialog->cy = DluY(t.cy) + 2 * frame + caption;

    for (const ItemTemplate &item : t.items) {
        HostKind kind;
        const HostClassRecord *cls = nullptr;
        if (strcasecmp(item.className.c_str(), "BUTTON") == 0)
            kind = HostKind::Button;
        else if (strcasecmp(item.className.c_str(), "EDIT") == 0)
            kind = HostKind::Edit;
        else if (strcasecmp(item.className.c_str(), "STATIC") == 0)
            kind = HostKind::Static;
        else if ((cls = FindClass(item.className)) != nullptr)
            kind = HostKind::Custom;
        else {
            *error = "control " + std::to_string(item.id) + ": unknown window class " +
                     HostQuote(item.className);
            HostDestroyTree(dialog, false);
            return nullptr;
        }
        HostWindow *control = HostNewWindow(kind);
        control->className = item.className;
        control->id = item.id;
        control->style = item.style;
        control->exStyle = item.exStyle;
        control->text = item.title;
        control->x = DluX(item.x);
        control->y = DluY(item.y);
        control->cx = DluX(item.cx);
        control->cy = DluY(item.cy);
        control->parent = dialog;
        dialog->children.push_back(control);
        if ((item.style & BS_TYPEMASK) == BS_DEFPUSHBUTTON && kind == HostKind::Button &&
            dialog->defId == 0)
            dialog->defId = item.id;
        if (cls != nullptr) {
            control->proc = cls->proc;
            control->extra.assign(static_cast<size_t>(cls->wndExtra), 0);
            if (control->proc != nullptr && control->proc(control, WM_CREATE, 0, 0) == -1) {
                *error = "control " + std::to_string(item.id) + " (" + item.className +
                         "): WM_CREATE failed";
                HostDestroyTree(dialog, true);
                return nullptr;
            }
        }
    }
    return dialog;
}

HostWindow *FirstTabStop(HostWindow *dialog) {
    for (HostWindow *c : dialog->children)
        if (c->alive && (c->style & WS_TABSTOP) && (c->style & WS_VISIBLE) && HostEnabled(c))
            return c;
    return nullptr;
}

// Keeps a modal window on the modal stack for as long as its loop runs and
// takes it down afterwards, also when an exception passes through.
class ModalScope {
  public:
    explicit ModalScope(HostWindow *window) : window_(window) { Ui().modal.push_back(window); }
    void DisableOwner() {
        HostWindow *owner = window_->owner;
        if (owner != nullptr && owner->alive && HostEnabled(owner)) {
            owner->style |= WS_DISABLED;
            disabledOwner_ = owner;
        }
    }
    ~ModalScope() {
        auto &modal = Ui().modal;
        modal.erase(std::remove(modal.begin(), modal.end(), window_), modal.end());
        if (disabledOwner_ != nullptr && disabledOwner_->alive)
            disabledOwner_->style &= ~static_cast<DWORD>(WS_DISABLED);
        // No WM_DESTROY while an exception passes: a handler must not throw now.
        if (window_->alive)
            HostDestroyTree(window_,
                            window_->kind == HostKind::Dialog && std::uncaught_exceptions() == 0);
    }
    ModalScope(const ModalScope &) = delete;
    ModalScope &operator=(const ModalScope &) = delete;

  private:
    HostWindow *window_;
    HostWindow *disabledOwner_ = nullptr;
};

std::string FormatResult(INT_PTR result) {
    return std::to_string(static_cast<long long>(result));
}

} // namespace

void HostSetTemplateExtentQuery(std::function<size_t(const void *)> query) {
    ExtentQuery() = std::move(query);
}

const std::string &HostLastTemplateError() {
    return Ui().templateError;
}

// ---- default handling and keys -----------------------------------------------------------

LRESULT HostDialogDefault(HostWindow *dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_SETTEXT:
    case WM_GETTEXT:
    case WM_GETTEXTLENGTH:
        return DefWindowProcA(dialog, message, wParam, lParam);
    case DM_SETDEFID:
        dialog->defId = static_cast<int>(wParam & 0xFFFF);
        return TRUE;
    case DM_GETDEFID:
        return dialog->defId ? static_cast<LRESULT>(dialog->defId | (HOST_DC_HASDEFID << 16)) : 0;
    case WM_CLOSE: {
        HostWindow *cancel = HostFindChild(dialog, IDCANCEL);
        if (cancel == nullptr || HostEnabled(cancel))
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(cancel));
        return 0;
    }
    case WM_SYSCOMMAND:
        if ((wParam & 0xFFF0) == HOST_SC_CLOSE)
            HostDeliver(dialog, WM_CLOSE, 0, 0);
        return 0;
    case WM_PAINT:
        dialog->invalid = false;
        return 0;
    default:
        return 0;
    }
}

static void PressDefault(HostWindow *dialog) {
    LRESULT r = HostDeliver(dialog, DM_GETDEFID, 0, 0);
    int id = HIWORD(r) == HOST_DC_HASDEFID ? LOWORD(r) : IDOK;
    HostWindow *button = HostFindChild(dialog, id);
    if (button != nullptr && !HostEnabled(button)) {
        HostTranscriptLine("key Enter: default button " + std::to_string(id) +
                           " is disabled, nothing happens");
        return;
    }
    HostTranscriptLine("key Enter -> " +
                       (button ? HostDescribe(button) : "id " + std::to_string(id)));
    HostDeliver(dialog, WM_COMMAND, static_cast<WPARAM>(id & 0xFFFF),
                reinterpret_cast<LPARAM>(button));
}

static void PressCancel(HostWindow *dialog) {
    HostWindow *button = HostFindChild(dialog, IDCANCEL);
    if (button != nullptr && !HostEnabled(button)) {
        HostTranscriptLine("key Escape: Cancel is disabled, nothing happens");
        return;
    }
    HostTranscriptLine("key Escape -> IDCANCEL");
    HostDeliver(dialog, WM_COMMAND, IDCANCEL, reinterpret_cast<LPARAM>(button));
}

bool HostDialogKeys(HostWindow *dialog, const MSG &msg) {
    if (msg.message != WM_KEYDOWN)
        return false;
    HostWindow *target = HostLive(msg.hwnd);
    if (target == nullptr || !HostIsDescendant(target, dialog))
        return false;
    if (msg.wParam == VK_RETURN) {
        PressDefault(dialog);
        return true;
    }
    if (msg.wParam == VK_ESCAPE) {
        PressCancel(dialog);
        return true;
    }
    return false;
}

// ---- dialog boxes --------------------------------------------------------------------------

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate,
                                       HWND owner, DLGPROC dialogProc, LPARAM initParam) {
    (void)instance;
    auto reject = [](const std::string &why) -> INT_PTR {
        Ui().templateError = why;
        fprintf(stderr, "morvik-host: dialog template rejected: %s\n", why.c_str());
        HostTranscriptLine("dialog template rejected: " + why);
        return -1;
    };
    if (dialogTemplate == nullptr)
        return reject("no template");
    if (dialogProc == nullptr)
        return reject("no dialog procedure");
    HostWindow *ownerWindow = nullptr;
    if (owner != nullptr && (ownerWindow = HostLive(owner)) == nullptr)
        return reject("the owner window does not exist");
    ownerWindow = HostTopLevel(ownerWindow);

    size_t extent = 0;
    if (ExtentQuery())
        extent = ExtentQuery()(dialogTemplate);
    if (extent == 0) // the heap knows the block the program handed over
        extent = host::BlockExtent(dialogTemplate);
    if (extent == 0)
        extent = kUnknownExtent;
    DialogTemplate t;
    std::string error;
    if (!ParseTemplate(reinterpret_cast<const BYTE *>(dialogTemplate), extent, &t, &error))
        return reject(error);
    HostWindow *dialog = CreateDialogWindows(t, ownerWindow, dialogProc, &error);
    if (dialog == nullptr)
        return reject(error);
    Ui().templateError.clear();

    ModalScope scope(dialog);
    HostWindow *first = FirstTabStop(dialog);
    INT_PTR init = dialogProc(dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(first), initParam);
    if (init && first != nullptr && first->alive)
        dialog->focus = first;
    if (dialog->alive && !dialog->ended) {
        scope.DisableOwner();
        if (t.style & WS_VISIBLE)
            HostShow(dialog, true);
        HostTranscriptLine("dialog opened " + HostQuote(dialog->text));
        HostCurrentUser().OnDialogOpened(dialog);
    }
    unsigned long idleWithoutProgress = 0;
    while (dialog->alive && !dialog->ended) {
        MSG msg;
        if (HostTakeMessage(&msg, nullptr, 0, 0, true)) {
            idleWithoutProgress = 0;
            if (!HostDialogKeys(dialog, msg)) {
                TranslateMessage(&msg);
                DispatchMessageA(&msg);
            }
            continue;
        }
        bool acted = HostCurrentUser().OnDialogIdle(dialog);
        if (!dialog->alive || dialog->ended)
            break;
        if (!acted || ++idleWithoutProgress > 1000000) {
            HostTranscriptLine("dialog " + HostQuote(dialog->text) +
                               " given up by the user; ended with 0");
            dialog->ended = true;
            dialog->result = 0;
        }
    }
    INT_PTR result = dialog->result;
    HostTranscriptLine("dialog ended " + HostQuote(dialog->text) + " -> " + FormatResult(result));
    HostCurrentUser().OnDialogEnded(dialog, result);
    return result;
}

BOOL WINAPI EndDialog(HWND dialog, INT_PTR result) {
    HostWindow *d = HostLive(dialog);
    if (d == nullptr || d->kind != HostKind::Dialog)
        return FALSE;
    d->ended = true;
    d->result = result;
    HostShow(d, false);
    return TRUE;
}

HWND WINAPI GetLastActivePopup(HWND window) {
    HostWindow *w = HostLive(window);
    if (w == nullptr)
        return nullptr;
    auto &modal = Ui().modal;
    for (auto it = modal.rbegin(); it != modal.rend(); ++it) {
        if (!(*it)->alive || (*it)->ended)
            continue;
        for (HostWindow *o = (*it)->owner; o != nullptr; o = o->owner)
            if (o == w)
                return *it;
    }
    return w;
}

HWND HostActiveDialog() {
    auto &modal = Ui().modal;
    for (auto it = modal.rbegin(); it != modal.rend(); ++it)
        if ((*it)->kind == HostKind::Dialog && (*it)->alive)
            return *it;
    return nullptr;
}

// ---- message boxes -------------------------------------------------------------------------

std::vector<int> HostBoxButtons(UINT type) {
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {IDOK, IDCANCEL};
    case MB_ABORTRETRYIGNORE:
        return {IDABORT, IDRETRY, IDIGNORE};
    case MB_YESNOCANCEL:
        return {IDYES, IDNO, IDCANCEL};
    case MB_YESNO:
        return {IDYES, IDNO};
    case MB_RETRYCANCEL:
        return {IDRETRY, IDCANCEL};
    default:
        return {IDOK};
    }
}

int HostBoxDefaultButton(UINT type) {
    std::vector<int> buttons = HostBoxButtons(type);
    size_t index = (type & MB_DEFMASK) >> 8;
    return index < buttons.size() ? buttons[index] : buttons[0];
}

int HostBoxNegativeButton(UINT type) {
    std::vector<int> buttons = HostBoxButtons(type);
    for (int preferred : {IDCANCEL, IDABORT, IDNO})
        if (std::find(buttons.begin(), buttons.end(), preferred) != buttons.end())
            return preferred;
    return IDOK;
}

const char *HostButtonName(int id) {
    switch (id) {
    case IDOK:
        return "OK";
    case IDCANCEL:
        return "Cancel";
    case IDABORT:
        return "Abort";
    case IDRETRY:
        return "Retry";
    case IDIGNORE:
        return "Ignore";
    case IDYES:
        return "Yes";
    case IDNO:
        return "No";
    default:
        return "?";
    }
}

int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type) {
    HostWindow *ownerWindow = nullptr;
    if (owner != nullptr && (ownerWindow = HostLive(owner)) == nullptr)
        return 0;
    ownerWindow = HostTopLevel(ownerWindow);

    HostWindow *box = HostNewWindow(HostKind::Box);
    box->className = "#box";
    box->style = WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME;
    box->text = caption ? caption : "Error";
    box->owner = ownerWindow;
    box->boxType = type;

    HostBox info;
    info.window = box;
    info.owner = ownerWindow;
    info.text = text ? text : "";
    info.caption = box->text;
    info.type = type;
    info.buttons = HostBoxButtons(type);
    info.defaultButton = HostBoxDefaultButton(type);
    info.serial = ++Ui().boxSerial;

    std::string buttons;
    for (int b : info.buttons)
        buttons += std::string(buttons.empty() ? "" : "/") + HostButtonName(b);
    char typeText[16];
    snprintf(typeText, sizeof typeText, "0x%03x", static_cast<unsigned>(type));
    HostTranscriptLine("box " + std::to_string(info.serial) + " shown: caption " +
                       HostQuote(info.caption) + " text " + HostQuote(info.text) + " type " +
                       typeText + " [" + buttons + ", default " +
                       HostButtonName(info.defaultButton) + "] owner " +
                       (ownerWindow ? HostDescribe(ownerWindow) : "none"));

    ModalScope scope(box);
    scope.DisableOwner();
    int answer = 0;
    while (answer == 0) {
        MSG msg;
        while (HostTakeMessage(&msg, nullptr, 0, 0, true)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        answer = HostCurrentUser().OnMessageBox(info);
        if (answer != 0 &&
            std::find(info.buttons.begin(), info.buttons.end(), answer) == info.buttons.end()) {
            HostScriptFail("box " + HostQuote(info.text) + " has no button " +
                           HostButtonName(answer) + " (" + std::to_string(answer) + ")");
            answer = HostBoxNegativeButton(type);
        }
    }
    HostTranscriptLine("box " + std::to_string(info.serial) + " answered " +
                       HostButtonName(answer));
    HostBoxRecord record;
    record.owner = ownerWindow;
    record.ownerCaption = ownerWindow ? ownerWindow->text : "";
    record.text = info.text;
    record.caption = info.caption;
    record.type = type;
    record.answer = answer;
    HostRecordBox(record);
    return answer;
}

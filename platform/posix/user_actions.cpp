// What any user can do to a dialog: actions posted as input, the same way a
// person's mouse and keyboard would arrive.
#include "window_internal.h"

#include <time.h>

static HostWindow *UsableControl(HWND dialog, int id, std::string *why) {
    HostWindow *d = HostLive(dialog);
    if (d == nullptr) {
        *why = "no dialog is open";
        return nullptr;
    }
    HostWindow *c = HostFindChild(d, id);
    if (c == nullptr) {
        *why = "control " + std::to_string(id) + " does not exist in " + HostDescribe(d);
        return nullptr;
    }
    if (!HostVisible(c)) {
        *why = HostDescribe(c) + " is hidden";
        return nullptr;
    }
    if (!HostEnabled(c)) {
        *why = HostDescribe(c) + " is disabled";
        return nullptr;
    }
    return c;
}

bool HostUiPress(HWND dialog, int id, std::string *why) {
    HostWindow *c = UsableControl(dialog, id, why);
    if (c == nullptr)
        return false;
    if (c->kind != HostKind::Button) {
        *why = HostDescribe(c) + " is not a button";
        return false;
    }
    HostTranscriptLine("user presses " + HostDescribe(c));
    PostMessageA(c, BM_CLICK, 0, 0);
    return true;
}

bool HostUiSetCheck(HWND dialog, int id, bool checked, std::string *why) {
    HostWindow *c = UsableControl(dialog, id, why);
    if (c == nullptr)
        return false;
    if (!HostIsCheckBox(c)) {
        *why = HostDescribe(c) + " is not a check box";
        return false;
    }
    if ((c->check == BST_CHECKED) == checked) {
        HostTranscriptLine("user leaves " + HostDescribe(c) +
                           (checked ? " checked" : " unchecked"));
        return true;
    }
    HostTranscriptLine("user clicks " + HostDescribe(c));
    PostMessageA(c, BM_CLICK, 0, 0);
    return true;
}

bool HostUiType(HWND dialog, int id, const std::string &text, std::string *why) {
    HostWindow *c = UsableControl(dialog, id, why);
    if (c == nullptr)
        return false;
    if (c->kind != HostKind::Edit) {
        *why = HostDescribe(c) + " is not an edit field";
        return false;
    }
    bool hidden = (c->style & ES_PASSWORD) != 0;
    HostTranscriptLine("user types into control " + std::to_string(id) + ": " +
                       (hidden ? std::to_string(text.size()) + " characters" : HostQuote(text)));
    if (c->parent != nullptr)
        c->parent->focus = c;
    PostMessageA(c, HOST_EM_SETSEL, 0, -1);
    if (text.empty()) {
        PostMessageA(c, WM_CHAR, HOST_VK_BACK, 0x000E0001);
        return true;
    }
    for (unsigned char ch : text)
        PostMessageA(c, WM_CHAR, ch, 1);
    return true;
}

void HostPostKey(HWND window, int vk, LPARAM lParam) {
    PostMessageA(window, WM_KEYDOWN, static_cast<WPARAM>(vk), lParam);
}

static HWND KeyTarget(HWND dialog) {
    HostWindow *d = HostLive(dialog);
    if (d == nullptr)
        return nullptr;
    return d->focus != nullptr ? d->focus : d;
}

void HostUiEnter(HWND dialog) {
    HWND target = KeyTarget(dialog);
    if (target == nullptr)
        return;
    HostTranscriptLine("user presses Enter");
    HostPostKey(target, VK_RETURN, 0x001C0001);
}

void HostUiEscape(HWND dialog) {
    HWND target = KeyTarget(dialog);
    if (target == nullptr)
        return;
    HostTranscriptLine("user presses Escape");
    HostPostKey(target, VK_ESCAPE, 0x00010001);
}

std::string HostDialogFingerprint(HWND dialog) {
    HostWindow *d = HostLive(dialog);
    if (d == nullptr)
        return std::string();
    std::string f = d->text + '\x01' + std::to_string(d->defId);
    for (const HostWindow *c : d->children) {
        f += '\x02' + std::to_string(c->id) + ':' + std::to_string(c->style) + ':' +
             std::to_string(c->check) + ':' + c->text;
        for (BYTE b : c->extra)
            f += static_cast<char>(b);
    }
    return f;
}

void HostRealTimeFollow(uint64_t *last) {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t nowMs = static_cast<uint64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
    if (*last != 0 && nowMs > *last) {
        uint64_t step = nowMs - *last;
        HostClockAdvance(static_cast<DWORD>(step > 60000 ? 60000 : step));
    }
    *last = nowMs;
}

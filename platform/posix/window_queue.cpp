// The thread's message queue, timers on the virtual clock, keys and cursors.
#include "window_internal.h"

#include <algorithm>

static bool InRange(UINT message, UINT first, UINT last) {
    if (first == 0 && last == 0)
        return true;
    return message >= first && message <= last;
}

static bool ForFilter(HWND window, const HostWindow *filter) {
    if (filter == nullptr)
        return true;
    HostWindow *w = HostLive(window);
    return w != nullptr && HostIsDescendant(w, filter);
}

static std::string TimerTarget(const HostTimer &t) {
    return t.window ? HostDescribe(t.window) : std::string("thread");
}

bool HostTakeMessage(MSG *msg, const HostWindow *filter, UINT first, UINT last, bool remove) {
    HostUiState &ui = Ui();
    for (auto it = ui.queue.begin(); it != ui.queue.end(); ++it) {
        if (!InRange(it->message, first, last) || !ForFilter(it->hwnd, filter))
            continue;
        *msg = *it;
        if (remove)
            ui.queue.erase(it);
        return true;
    }
    if (InRange(WM_PAINT, first, last)) {
        HostWindow *w = HostNextPaint(filter);
        if (w != nullptr) {
            *msg = MSG{};
            msg->hwnd = w;
            msg->message = WM_PAINT;
            msg->time = static_cast<DWORD>(ui.now);
            return true;
        }
    }
    if (InRange(WM_TIMER, first, last)) {
        HostTimer *due = nullptr;
        for (HostTimer &t : ui.timers) {
            if (t.due > ui.now || (filter != nullptr && !ForFilter(t.window, filter)))
                continue;
            if (due == nullptr || t.due < due->due)
                due = &t;
        }
        if (due != nullptr) {
            *msg = MSG{};
            msg->hwnd = due->window;
            msg->message = WM_TIMER;
            msg->wParam = due->id;
            msg->lParam = reinterpret_cast<LPARAM>(due->proc);
            msg->time = static_cast<DWORD>(ui.now);
            if (remove) {
                due->due = ui.now + due->interval;
                HostTranscriptLine("timer " + std::to_string(due->id) + " tick at " +
                                   std::to_string(ui.now) + " ms to " + TimerTarget(*due));
            }
            return true;
        }
    }
    return false;
}

void HostPurgeWindow(const HostWindow *window) {
    auto &queue = Ui().queue;
    queue.erase(std::remove_if(queue.begin(), queue.end(),
                               [window](const MSG &m) { return m.hwnd == window; }),
                queue.end());
}

BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (window != nullptr && HostLive(window) == nullptr)
        return FALSE;
    MSG msg{};
    msg.hwnd = window;
    msg.message = message;
    msg.wParam = wParam;
    msg.lParam = lParam;
    msg.time = static_cast<DWORD>(Ui().now);
    Ui().queue.push_back(msg);
    return TRUE;
}

BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove) {
    const HostWindow *filter = nullptr;
    if (window != nullptr && (filter = HostLive(window)) == nullptr)
        return FALSE;
    MSG found;
    bool removing = (remove & PM_REMOVE) != 0;
    if (!HostTakeMessage(&found, filter, first, last, removing)) {
        // A user acts by posting input or moving the clock; when it did
        // neither, the queue is still empty and a second look is spared
        // (the abort poll runs once per 2048 bytes written).
        HostUiState &ui = Ui();
        size_t queued = ui.queue.size();
        uint64_t now = ui.now;
        HostCurrentUser().OnPoll(++ui.polls);
        if ((ui.queue.size() == queued && ui.now == now) ||
            !HostTakeMessage(&found, filter, first, last, removing))
            return FALSE;
    }
    if (msg != nullptr)
        *msg = found;
    return TRUE;
}

BOOL WINAPI TranslateMessage(const MSG *msg) {
    (void)msg; // the host posts WM_CHAR itself
    return FALSE;
}

LRESULT WINAPI DispatchMessageA(const MSG *msg) {
    if (msg == nullptr)
        return 0;
    if (msg->message == WM_TIMER && msg->lParam != 0) {
        TIMERPROC proc = reinterpret_cast<TIMERPROC>(msg->lParam);
        proc(msg->hwnd, WM_TIMER, msg->wParam, msg->time);
        return 0;
    }
    HostWindow *w = HostLive(msg->hwnd);
    if (w == nullptr)
        return 0;
    LRESULT r = HostDeliver(w, msg->message, msg->wParam, msg->lParam);
    if (msg->message == WM_PAINT && w->alive)
        w->invalid = false;
    return r;
}

// ---- timers and the clock -----------------------------------------------------------------

UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc) {
    HostUiState &ui = Ui();
    HostWindow *w = nullptr;
    if (window != nullptr && (w = HostLive(window)) == nullptr)
        return 0;
    if (ui.timerFails) {
        HostTranscriptLine("timer " + std::to_string(id) + " refused (SetTimer fails)");
        return 0;
    }
    if (w == nullptr) {
        // Thread timers get an id of their own.
        UINT_PTR next = 0x7F00;
        for (const HostTimer &t : ui.timers)
            if (t.window == nullptr && t.id >= next)
                next = t.id + 1;
        id = next;
    }
    UINT interval = std::max<UINT>(elapse, 10);
    for (HostTimer &t : ui.timers) {
        if (t.window == w && t.id == id) {
            t.interval = interval;
            t.due = ui.now + interval;
            t.proc = proc;
            return w ? (id ? id : 1) : id;
        }
    }
    HostTimer t;
    t.window = w;
    t.id = id;
    t.interval = interval;
    t.due = ui.now + interval;
    t.proc = proc;
    ui.timers.push_back(t);
    HostTranscriptLine("timer " + std::to_string(id) + " set: " + std::to_string(interval) +
                       " ms for " + TimerTarget(t));
    return w ? (id ? id : 1) : id;
}

BOOL WINAPI KillTimer(HWND window, UINT_PTR id) {
    auto &timers = Ui().timers;
    for (auto it = timers.begin(); it != timers.end(); ++it) {
        if (it->window == window && it->id == id) {
            HostTranscriptLine("timer " + std::to_string(id) + " killed");
            timers.erase(it);
            return TRUE;
        }
    }
    return FALSE;
}

DWORD HostClockNow() {
    return static_cast<DWORD>(Ui().now);
}

void HostClockAdvance(DWORD ms) {
    Ui().now += ms;
}

unsigned long HostPollCount() {
    return Ui().polls;
}

void HostSetTimerFails(bool fail) {
    Ui().timerFails = fail;
}

// ---- keys, cursors, screen -----------------------------------------------------------------

short WINAPI GetKeyState(int key) {
    auto &down = Ui().keysDown;
    return std::find(down.begin(), down.end(), key) != down.end() ? static_cast<short>(0x8000) : 0;
}

void HostSetKeyDown(int vk, bool down) {
    auto &keys = Ui().keysDown;
    keys.erase(std::remove(keys.begin(), keys.end(), vk), keys.end());
    if (down)
        keys.push_back(vk);
}

namespace {
// One token per standard cursor: the handle is the address of its slot.
struct CursorSlot {
    unsigned id;
};
CursorSlot kCursors[] = {{32512}, {32513}, {32514}, {32515}, {32516}, {32640}, {32641}, {32642},
                         {32643}, {32644}, {32645}, {32646}, {32648}, {32649}, {32650}, {32651}};
} // namespace

HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name) {
    if (instance != nullptr)
        return nullptr; // the program has no cursor resources
    uintptr_t id = reinterpret_cast<uintptr_t>(name);
    for (CursorSlot &slot : kCursors)
        if (slot.id == id)
            return &slot;
    return nullptr;
}

HCURSOR WINAPI SetCursor(HCURSOR cursor) {
    HCURSOR old = Ui().cursor;
    Ui().cursor = cursor;
    return old;
}

HCURSOR HostCurrentCursor() {
    return Ui().cursor;
}

std::string HostCursorName(HCURSOR cursor) {
    if (cursor == nullptr)
        return "none";
    for (CursorSlot &slot : kCursors) {
        if (&slot == cursor) {
            if (slot.id == 32512)
                return "arrow";
            if (slot.id == 32514)
                return "wait";
            return std::to_string(slot.id);
        }
    }
    return "unknown";
}

void HostSetScreenSize(int cx, int cy) {
    Ui().screenX = cx;
    Ui().screenY = cy;
}

void HostSetDpi(int dpi) {
    Ui().dpi = dpi;
}

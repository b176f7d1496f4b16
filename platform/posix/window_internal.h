// Shared state and helpers of the headless window host (window*.cpp,
// user*.cpp, gdi*.cpp). Not for the program or tests: see window_host.h.
#pragma once

#include "winapi.h"
#include "window_host.h"

#include <deque>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

// Messages and constants of the built-in controls that winapi.h leaves out.
#define HOST_EM_SETSEL 0x00B1
#define HOST_BN_CLICKED 0
#define HOST_DC_HASDEFID 0x534B
#define HOST_DLGC_WANTCHARS 0x0080
#define HOST_DLGC_HASSETSEL 0x0008
#define HOST_DLGC_DEFPUSHBUTTON 0x0010
#define HOST_DLGC_UNDEFPUSHBUTTON 0x0020
#define HOST_DLGC_BUTTON 0x2000
#define HOST_BS_CHECKBOX 0x0002
#define HOST_BS_3STATE 0x0005
#define HOST_BS_AUTO3STATE 0x0006
#define HOST_BS_RADIOBUTTON 0x0004
#define HOST_BS_AUTORADIOBUTTON 0x0009
#define HOST_WS_DLGFRAME 0x00400000L
#define HOST_SWP_SHOWWINDOW 0x0040
#define HOST_SWP_HIDEWINDOW 0x0080
#define HOST_VK_BACK 0x08
#define HOST_VK_TAB 0x09
#define HOST_VK_SPACE 0x20
#define HOST_GWW_ID (-12)
#define HOST_SC_CLOSE 0xF060
// Paint records (and created fonts) kept per window and in the log; the
// oldest are dropped. The meter repaints once per 64 KiB unzipped, so a
// 200 MB package paints some 3,200 times: every record kept costs memory.
#define HOST_PAINTS_KEPT 64

enum class HostKind { Dialog, Box, Button, Edit, Static, Custom };

struct HostWindow {
    HostKind kind = HostKind::Static;
    std::string className;
    WNDPROC proc = nullptr; // registered classes
    int id = 0;
    DWORD style = 0;
    DWORD exStyle = 0;
    std::string text;
    // Window rectangle: screen coordinates for top-level windows, the
    // parent's client coordinates for children.
    int x = 0, y = 0, cx = 0, cy = 0;
    HostWindow *parent = nullptr; // children: their dialog
    HostWindow *owner = nullptr;  // top-level windows: their owner
    std::vector<HostWindow *> children;
    std::vector<BYTE> extra;
    bool alive = true;
    bool invalid = false;
    // buttons
    int check = 0;
    bool pressed = false;
    // edits
    size_t limit = 32767;
    bool selectAll = false;
    bool droppingCharacter = false; // the lead byte of the character typed was cut
    // dialogs
    DLGPROC dialogProc = nullptr;
    int defId = 0;
    bool ended = false;
    INT_PTR result = 0;
    HostWindow *focus = nullptr;
    // message boxes
    UINT boxType = 0;
    // completed paints
    std::vector<HostPaint> paints;
};

struct HostClassRecord {
    std::string name;
    WNDPROC proc = nullptr;
    int wndExtra = 0;
    UINT style = 0;
    HCURSOR cursor = nullptr;
    ATOM atom = 0;
};

struct HostTimer {
    HostWindow *window = nullptr;
    UINT_PTR id = 0;
    UINT interval = 0;
    uint64_t due = 0;
    TIMERPROC proc = nullptr;
};

struct HostUiState {
    std::vector<std::unique_ptr<HostWindow>> windows; // creation order; never reused
    std::unordered_set<const HostWindow *> live;
    std::vector<HostClassRecord> classes;
    std::vector<HostWindow *> modal; // open dialog boxes and message boxes, innermost last
    std::deque<MSG> queue;
    std::vector<HostTimer> timers;
    uint64_t now = 0;
    int screenX = 1024, screenY = 768;
    int dpi = 96;
    std::vector<int> keysDown;
    HCURSOR cursor = nullptr;
    bool timerFails = false;
    unsigned long polls = 0;
    int boxSerial = 0;
    std::vector<HostBoxRecord> boxes;
    std::string templateError;
    std::unique_ptr<HostUser> user;
};

HostUiState &Ui();

// window_core.cpp
HostWindow *HostLive(HWND window); // nullptr unless a live window
HostWindow *HostNewWindow(HostKind kind);
HostWindow *HostTopLevel(HostWindow *window);
bool HostIsDescendant(const HostWindow *window, const HostWindow *ancestor);
bool HostVisible(const HostWindow *window); // it and its parents have WS_VISIBLE
bool HostEnabled(const HostWindow *window);
LRESULT HostDeliver(HostWindow *window, UINT message, WPARAM wParam, LPARAM lParam);
void HostDestroyTree(HostWindow *window, bool sendDestroy);
void HostInvalidate(HostWindow *window);
void HostPaintNow(HostWindow *window);
HostWindow *HostNextPaint(const HostWindow *filter);
void HostShow(HostWindow *window, bool show);
void HostGetScreenRect(const HostWindow *window, RECT *rect);
void HostClientOrigin(const HostWindow *window, POINT *point);
HostWindow *HostFindChild(const HostWindow *dialog, int id);
std::string HostDescribe(const HostWindow *window);
std::string HostQuote(const std::string &text);
bool HostIsCheckBox(const HostWindow *window);
bool HostIsPushButton(const HostWindow *window);
void HostClickButton(HostWindow *button);

// window_dialog.cpp
LRESULT HostDialogDefault(HostWindow *dialog, UINT message, WPARAM wParam, LPARAM lParam);
bool HostDialogKeys(HostWindow *dialog, const MSG &msg);

// window_queue.cpp
bool HostTakeMessage(MSG *msg, const HostWindow *filter, UINT first, UINT last, bool remove);
void HostPurgeWindow(const HostWindow *window);

// window_record.cpp
void HostTranscriptLine(const std::string &line);
void HostRecordBox(const HostBoxRecord &record);
void HostResetRecords();

// gdi.cpp
HDC HostBeginPaintDc(HostWindow *window);
void HostEndPaintDc(HDC dc);
void HostResetGdi();

// user_actions.cpp
std::string HostDialogFingerprint(HWND dialog);
void HostPostKey(HWND window, int vk, LPARAM lParam);
void HostRealTimeFollow(uint64_t *last);

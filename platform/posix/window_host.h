// The headless window host: what tests (and the native entry point) see of the
// windows, dialogs, message queue, timers and GDI that platform/posix provides
// in place of USER32 and GDI32.
//
// Nothing is drawn. Windows are records; dialogs are built from the real
// in-memory templates; a thread message queue, a virtual clock and modal loops
// behave like their Windows counterparts closely enough for the program's
// logic. Every moment at which a person would act (a message box is up, a
// modal dialog waits for input, a long operation polls the queue) is handed to
// a pluggable HostUser.
//
// Conventions of this host
// ------------------------
// * Dialog units: every dialog uses base units 6 x 13 pixels (those of
//   "MS Sans Serif" 8 pt at 96 dpi, whatever font the template names):
//   px = x * 6 / 4 horizontally, y * 13 / 8 vertically, truncated toward zero.
// * A dialog's template rectangle is its client area; the window adds a frame
//   of 3 px on every side (DS_MODALFRAME or WS_CAPTION; 1 px for WS_BORDER
//   alone) and a caption bar of 19 px (WS_CAPTION). Without an owner the
//   template position is in screen coordinates, with one it is relative to
//   the owner's client area. Controls with WS_BORDER have a 1 px border, so
//   their client rectangle is 2 px smaller in each direction.
// * Screen 1024 x 768 (HostSetScreenSize). GetSystemMetrics also answers
//   SM_CXBORDER/SM_CYBORDER 1, SM_CYCAPTION 19, SM_CXDLGFRAME/SM_CYDLGFRAME 3.
// * Message queue: posted messages first, then WM_PAINT for an invalid visible
//   window of a registered class, then WM_TIMER for a due timer. WM_TIMER is
//   produced lazily when nothing else is queued: however much time has passed,
//   a timer yields one WM_TIMER and is then due again `interval` ms after the
//   moment it was taken (as on Windows). Advance the clock in steps to get
//   several ticks. Messages for a window are dropped when it is destroyed.
// * The clock is virtual (milliseconds from 0) and only the user moves it.
// * Painting: only windows of registered classes receive WM_PAINT; built-in
//   controls and dialogs are "painted" silently. InvalidateRect on a window
//   that is not visible does nothing; it includes the window's children.
//   UpdateWindow paints the window and its children synchronously. Showing a
//   window invalidates it. A WM_PAINT whose handler leaves the window invalid
//   is validated after the handler (no endless WM_PAINT). Between 10000 and
//   20000 of the latest paints are kept per window and in the paint log.
// * Default dialog handling (dialog procedure returned FALSE): text messages
//   (caption), DM_SETDEFID/DM_GETDEFID (the default id starts as the id of the
//   first BS_DEFPUSHBUTTON control; DM_SETDEFID does not restyle buttons),
//   WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE, WM_CLOSE posts WM_COMMAND IDCANCEL
//   (unless an IDCANCEL control exists and is disabled). Nothing else. In a
//   dialog's modal loop
//   WM_KEYDOWN VK_RETURN aimed at the dialog or a control presses the default
//   button (WM_COMMAND id, or IDOK when there is none) when it is enabled;
//   VK_ESCAPE sends WM_COMMAND IDCANCEL unless an IDCANCEL control exists and
//   is disabled. The focus does not change what Enter presses.
// * Controls: BUTTON (push buttons, check boxes: BM_GETCHECK/BM_SETCHECK,
//   BM_SETSTYLE replaces the BS_TYPEMASK bits, BM_CLICK on an enabled button
//   toggles an auto check box and sends WM_COMMAND BN_CLICKED to the parent,
//   WM_LBUTTONDOWN then WM_LBUTTONUP clicks too); EDIT (EM_LIMITTEXT, default
//   limit 32767, 0 means 0x7FFFFFFE, counted in bytes, or under code page
//   65001 in UTF-16 code units as Windows counts; EM_SETSEL 0,-1 selects all so that the
//   next typed character replaces the text; WM_CHAR appends a printable
//   character while below the limit, backspace deletes; WM_SETTEXT is never
//   cut); STATIC (text only). Window texts are bytes; template strings are
//   converted from UTF-16 with code points above 0xFF becoming '?'.
//   TranslateMessage generates nothing: the host posts WM_CHAR itself.
// * Registered classes: WM_CREATE (lParam 0, no CREATESTRUCT), then every
//   message. The template title is stored as the window text before
//   WM_CREATE. DefWindowProcA handles the text messages, WM_PAINT
//   (BeginPaint/EndPaint) and WM_CLOSE (DestroyWindow); the rest returns 0.
//   SetWindowWord/GetWindowWord work on cbWndExtra bytes (little endian).
// * Modal windows (dialog boxes and message boxes) disable their owner while
//   they are open; GetLastActivePopup(w) returns the innermost open modal
//   window owned (directly or through its owners) by w, else w. A message box
//   runs a modal loop that dispatches every queued message (timer ticks
//   included) before and between asking the user, as Windows does.
// * Templates are parsed strictly; the bytes a template may use are limited
//   by HostSetTemplateExtentQuery (64 KiB when unknown). A rejected template
//   makes DialogBoxIndirectParamA return -1 after printing
//   "morvik-host: dialog template rejected: <why>" to stderr; the reason is
//   also kept for HostLastTemplateError(). DLGTEMPLATEEX is not supported.
// * A dialog that the user gives up on (HostUser::OnDialogIdle returns false)
//   is ended by the host with EndDialog(dialog, 0).
// * Exceptions thrown by dialog or window procedures pass through the host's
//   modal loops; the open dialog or box is taken down on the way (longjmp
//   would leave the host's modal state behind).
//
// GDI of this host
// ----------------
// * CreateDCA("DISPLAY") gives a display context; GetDeviceCaps answers
//   LOGPIXELSX/LOGPIXELSY with the host's dpi (96; HostSetDpi), other indices 0.
// * A new device context has text colour 0x000000, background 0xFFFFFF,
//   alignment 0 and the stock font "System" with height 16.
// * GetTextExtentPoint32A: cx = 6 px per character, cy = the selected font's
//   cell height: lfHeight when positive, -lfHeight * 5 / 4 when negative
//   (truncated; -8 gives 10, -10 gives 12), 16 when 0. It fails when
//   HostSetTextExtentFails(true).
// * GetSysColor: COLOR_HIGHLIGHT 0x00D77800, COLOR_HIGHLIGHTTEXT 0x00FFFFFF,
//   COLOR_WINDOW 0x00FFFFFF, COLOR_WINDOWTEXT 0x00000000,
//   COLOR_BTNFACE 0x00F0F0F0, COLOR_BTNTEXT 0x00000000, others 0x00000000.
// * Every ExtTextOutA is recorded with the state of its device context; the
//   calls between BeginPaint and EndPaint form one HostPaint of the window.
#pragma once

#include "winapi.h"

#include <functional>
#include <memory>
#include <string>
#include <vector>

// ---- the user ---------------------------------------------------------------

// What the user sees of a message box.
struct HostBox {
    HWND window = nullptr; // the box itself (GetLastActivePopup returns it)
    HWND owner = nullptr;
    std::string text;
    std::string caption;
    UINT type = 0;
    std::vector<int> buttons; // IDOK ... IDNO, left to right
    int defaultButton = IDOK; // from MB_DEFBUTTON1/2/3
    int serial = 0;           // 1 for the first box of the run, and so on
};

// What the user sees of the shell's folder picker (SHBrowseForFolder).
struct HostBrowse {
    HWND owner = nullptr;
    std::string title;
    UINT flags = 0;
    bool rooted = false; // a root other than the desktop was given
};

// A person, a script or a fallback, consulted whenever the program waits.
// The calls come from inside the program's own calls into the host, on its
// one thread; a user acts by posting input (the HostUi* actions below) or by
// moving the clock, never by calling the program directly.
class HostUser {
  public:
    virtual ~HostUser() = default;
    // A message box is up. Return the id of the button that answers it, or 0
    // to keep it open a while longer: the host then dispatches whatever is
    // queued (timer ticks after the clock moved) and asks again.
    virtual int OnMessageBox(const HostBox &box) = 0;
    // The innermost modal dialog has nothing queued. Perform one action (post
    // input, advance the clock) and return true; false gives the dialog up.
    virtual bool OnDialogIdle(HWND dialog) = 0;
    // The folder picker is up. Return true with the chosen folder (an ANSI
    // path) in *folder, or false to cancel it. The default cancels.
    virtual bool OnBrowseForFolder(const HostBrowse &browse, std::string *folder) {
        (void)browse;
        (void)folder;
        return false;
    }
    // The program polled (PeekMessageA found nothing); `poll` counts from 1
    // over the whole run. Input posted here is returned by the same call.
    virtual void OnPoll(unsigned long poll) { (void)poll; }
    // A modal dialog has been initialised and shown / has ended.
    virtual void OnDialogOpened(HWND dialog) { (void)dialog; }
    // A window of a registered class has just been painted (EndPaint).
    virtual void OnPainted(HWND window) { (void)window; }
    virtual void OnDialogEnded(HWND dialog, INT_PTR result) {
        (void)dialog;
        (void)result;
    }
    // True when nothing the user was told to do is left undone (a script
    // with steps left answers false).
    virtual bool Finished() const { return true; }
    // Reports what is left undone, as a failure, when not Finished().
    virtual void ReportUnfinished() {}
};

// Installs the user; nullptr installs the no-terminal user.
void HostSetUser(std::unique_ptr<HostUser> user);
HostUser &HostCurrentUser();

// A scripted user (language below). On a syntax error returns nullptr and
// sets *error to "line N: why".
std::unique_ptr<HostUser> HostMakeScriptedUser(const std::string &script, std::string *error);
// Prints "caption: text" of every box to stderr and answers with the box's
// default button; a box that comes back right after it was answered, with
// the same caption, text and type, gets the negative answer (Cancel, else
// Abort, else No, else OK). A dialog with an empty password field gets
// Escape, with a line saying that no password can be given without a
// terminal. Another idle dialog gets Enter; when it comes back idle and
// unchanged, Escape; then it is given up. The virtual clock follows
// the real one.
std::unique_ptr<HostUser> HostMakeNoTerminalUser();
// A person at a terminal: dialogs and boxes are drawn as text on `out`,
// wrapped at blanks to the terminal's width, with paths as the host writes
// them, and answered from file descriptor `in`: when it is a terminal, in raw
// mode, so that a letter, Enter or Escape acts at once (text is typed as a
// line); otherwise line by line. The virtual clock follows the real one.
std::unique_ptr<HostUser> HostMakeTerminalUser(int in, FILE *out);

// Chooses the user for a standalone run of the program:
//   MORVIK_SCRIPT=<file> or MORVIK_SCRIPT_TEXT=<text> (the file wins; empty
//     values count as unset): the scripted user; a script failure then ends
//     the process at once with status 97, and so does a script with steps
//     left when the process exits (or a script that cannot be read or parsed);
//   otherwise the terminal user when stdin is a terminal, else the
//     no-terminal user.
// MORVIK_TRANSCRIPT=<file>: the transcript is written there, line by line.
// MORVIK_DOSDEVICES=<folder>: the folder of drive links (`relink`).
void HostInitUserFromEnvironment();
// Reports a script that still has steps left (as a failure) and flushes the
// transcript. Registered with atexit by HostInitUserFromEnvironment; the
// entry point may call it before ExitProcess. Returns true when all is well.
bool HostFinishUser();

// ---- script failures and the transcript ------------------------------------

// Records a failure: prints "morvik-script: FAIL: <why>" to stderr, adds it
// to the transcript and calls the failure hook; ends the process with status
// 97 when failures are fatal (standalone runs).
void HostScriptFail(const std::string &why);
bool HostScriptFailed();
const std::vector<std::string> &HostScriptFailures();
void HostSetFailureHook(std::function<void(const std::string &)> hook);
void HostSetFailuresFatal(bool fatal);

// Every event: boxes shown and answered, dialogs opened and ended, buttons
// pressed, keys, typing, timer ticks delivered, script steps, failures.
const std::vector<std::string> &HostTranscript();
void HostTranscriptNote(const std::string &line);
// Also writes every transcript line to `path` (truncated first); "" stops.
void HostSetTranscriptFile(const std::string &path);

// ---- the scripted user's language -------------------------------------------
//
// One step per line; blank lines and lines starting with '#' are ignored.
// Words are separated by blanks. Strings are "double quoted" with the escapes
// \n \t \" \\ \xHH (a backslash before any other character stands for
// itself, so "C:\out" is C:\out), and ${NAME} in them (and in bare words) is replaced by
// the environment variable NAME when the script is loaded (an unset variable
// is a syntax error). A <match> is a "substring" or a /regular expression/
// (ECMAScript, searched anywhere; \/ for a slash). A <text> is a string or a
// bare word, optionally repeated: "x"*300 is 300 x's. Numbers are decimal or
// 0x hexadecimal. <id> is a control id; <target> is an id or `dialog`.
// Controls are looked up in the innermost modal dialog.
//
// Steps run in order, each at the first moment that suits it:
//   at any moment ("instant"):
//     expect text <id> <match>       the control's text matches
//     expect caption <match>         the dialog's caption matches
//     expect visible <id>            also: hidden, enabled, disabled,
//                                    checked, unchecked, exists, missing
//     expect default <id>            DM_GETDEFID of the dialog is <id>
//     expect cursor wait             or arrow: the cursor last set
//     shift down / shift up          GetKeyState(VK_SHIFT) < 0 while down
//     relink a: /some/dir            replaces the link $MORVIK_DOSDEVICES/a:
//                                    (a relative target is relative to that
//                                    folder, as with any symlink)
//     note <anything>                copied to the transcript
//     advance 500                    moves the clock 500 ms; the due
//                                    WM_TIMER goes through the queue before
//                                    the next step (also while a box is open)
//   while a modal dialog waits for input ("idle"):
//     dialog <match>                 the waiting dialog's caption matches
//     type 106 "C:\out"              selects all and types (EM_LIMITTEXT cuts)
//     type 402 "x"*300
//     check 102 / uncheck 102        clicks the check box unless already so
//     press 1                        clicks the button (must be visible and
//                                    enabled)
//     enter / escape                 Enter (default button) / Escape (IDCANCEL)
//   while the folder picker is up:
//     browse <text>                  chooses the folder <text> (as the shell
//                                    would hand it over, e.g. "C:\out")
//     browse cancel                  cancels the picker
//   while a message box is up:
//     box <set> <match> [icon=<icon>] [default=<button>] [-> <answer>]
//         <set>: ok okcancel abortretryignore yesnocancel yesno retrycancel
//         any; <icon>: none error question warning information; <button>:
//         ok cancel abort retry ignore yes no. With "-> <answer>" (a button or
//         `default`) the box is answered at once; without, it stays up for
//         the following steps (e.g. advance, expect) until:
//     answer <answer>
//   while the program is busy and polls the queue ("poll"):
//     polls 3                        waits for the 3rd poll after the one
//                                    (or the moment) at which the step
//                                    before it ran; the next steps run at
//                                    that poll
//     click <target> [lparam=N]      posts WM_LBUTTONDOWN and WM_LBUTTONUP
//                                    (default lParam 0x00050005)
//     key <target> <vk> [lparam=N]   posts WM_KEYDOWN (default lParam 1);
//                                    <vk>: enter escape space tab backspace,
//                                    a letter or digit, or a number
//     char <target> <c> [lparam=N]   posts WM_CHAR (default lParam 1, so bit
//                                    31 clear; give lparam=0x80000001 to set it)
//     command <id>                   posts WM_COMMAND <id> to the dialog
//     post <target> <msg> [<wParam> [<lParam>]]
//                                    posts any message, e.g. Alt+F4's
//                                    post dialog 0x0112 0xF060
//
// A step that does not suit the moment waits, except that these are failures:
// a message box while the next step is not a box step (or when the script has
// ended), the folder picker while the next step is not a browse step, a
// dialog waiting for input while the next step is a box, browse or poll step
// (or when the script has ended), a box that does not match, an expect
// that does not hold, an action on a control that is missing, hidden or
// disabled. Once failed, boxes get the negative answer (Cancel, Abort, No,
// OK) and waiting dialogs get Escape and are then given up, so the program
// ends. A script with steps left when the program ends fails too
// (HostFinishUser).

// ---- user actions (post input like a person) ----------------------------------

// Each returns false, with *why set, when the action is impossible.
bool HostUiPress(HWND dialog, int id, std::string *why);
bool HostUiSetCheck(HWND dialog, int id, bool checked, std::string *why);
bool HostUiType(HWND dialog, int id, const std::string &text, std::string *why);
void HostUiEnter(HWND dialog);
void HostUiEscape(HWND dialog);

// ---- clock, input state, screen ----------------------------------------------

DWORD HostClockNow();
void HostClockAdvance(DWORD ms);
void HostSetScreenSize(int cx, int cy);
void HostSetDpi(int dpi);
void HostSetKeyDown(int vk, bool down);
HCURSOR HostCurrentCursor();
// "arrow", "wait", another IDC_ name's number, or "none".
std::string HostCursorName(HCURSOR cursor);
void HostSetTimerFails(bool fail);      // SetTimer returns 0
void HostSetTextExtentFails(bool fail); // GetTextExtentPoint32A fails
unsigned long HostPollCount();

// ---- the shell's folder picker ---------------------------------------------------

// Item lists the picker handed out and nobody freed with the allocator's Free;
// references to the allocator that SHGetMalloc gave and nobody released.
size_t HostShellLiveItemLists();
int HostShellAllocatorReferences();

// ---- looking at windows --------------------------------------------------------

HWND HostActiveDialog(); // innermost open modal dialog, or nullptr
bool HostIsWindow(HWND window);
std::string HostWindowClass(HWND window); // "BUTTON", "EDIT", "STATIC", "#dialog", "#box", or
                                          // the registered name as the template spells it
int HostControlId(HWND window);
DWORD HostWindowStyle(HWND window);
std::string HostWindowText(HWND window);
int HostCheckState(HWND window);
int HostDialogDefaultId(HWND dialog); // 0 when none
HWND HostFocus(HWND dialog);
std::vector<HWND> HostChildren(HWND dialog);
bool HostWindowInvalid(HWND window);
size_t HostEditLimit(HWND edit);
// A text description of the dialog (one control per line) for diagnostics.
std::string HostDescribeDialog(HWND dialog);

// Every message box shown so far.
struct HostBoxRecord {
    HWND owner = nullptr;
    std::string ownerCaption;
    std::string text;
    std::string caption;
    UINT type = 0;
    int answer = 0;
};
const std::vector<HostBoxRecord> &HostBoxes();
std::vector<int> HostBoxButtons(UINT type);
int HostBoxDefaultButton(UINT type);
int HostBoxNegativeButton(UINT type); // Cancel, else Abort, else No, else OK
const char *HostButtonName(int id);   // "OK", "Cancel", ... ; "?" otherwise

// Dialog templates: how many bytes from a template's first byte may be read
// (0 = unknown, then 64 KiB). The heap's bookkeeping of GlobalAlloc blocks is
// the natural source; tests set their own.
void HostSetTemplateExtentQuery(std::function<size_t(const void *)> query);
const std::string &HostLastTemplateError();

// ---- the recording GDI ------------------------------------------------------------

struct HostTextOut {
    HWND window = nullptr; // painted window; nullptr for a DC from CreateDCA
    int x = 0, y = 0;
    UINT options = 0;
    bool hasRect = false;
    RECT rect{0, 0, 0, 0};
    std::string text;
    COLORREF textColor = 0, backColor = 0;
    UINT align = 0;
    LONG fontHeight = 0;
    std::string fontFace;
};
struct HostPaint {
    HWND window = nullptr;
    int controlId = 0;
    std::string className;
    RECT client{0, 0, 0, 0};
    std::vector<HostTextOut> texts;
    int fontsCreated = 0; // CreateFontIndirectA calls during the paint
};
// Completed paints of a live window, oldest first; and of every window ever.
std::vector<HostPaint> HostPaintsOf(HWND window);
const std::vector<HostPaint> &HostPaintLog();
// The text of the last ExtTextOutA of the window's last paint ("" if none).
std::string HostLastPaintedText(HWND window);
// Text outputs outside BeginPaint/EndPaint.
const std::vector<HostTextOut> &HostLooseTextOuts();
std::vector<LOGFONTA> HostFontsCreated();
int HostLiveGdiObjects(); // fonts created and not deleted
int HostLiveDcs();        // CreateDCA/BeginPaint contexts not released

// ---- reset -----------------------------------------------------------------------

// Forgets every window, class, timer, queued message, record, failure and
// the transcript; clock 0, screen 1024 x 768, 96 dpi, no keys down, no
// failing switches, the no-terminal user, failures not fatal. For tests.
void HostUiReset();

// The Windows calls the stub makes, declared for a host without Windows.
//
// Only what the Parts call is here. Types keep the widths the stub relies on
// (WORD 16, DWORD/LONG 32 bits); handles and message parameters are
// pointer-sized as on Win64, so the same Part code compiles for both.
#pragma once

#include <stddef.h>
#include <stdint.h>

#define WINAPI
#define CALLBACK
#define APIENTRY

typedef int BOOL;
typedef unsigned char BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t ULONG;
typedef unsigned int UINT;
typedef int INT;
typedef char CHAR;
typedef intptr_t INT_PTR;
typedef uintptr_t UINT_PTR;
typedef intptr_t LONG_PTR;
typedef uintptr_t ULONG_PTR;
typedef uintptr_t WPARAM;
typedef intptr_t LPARAM;
typedef intptr_t LRESULT;
typedef DWORD COLORREF;
typedef WORD ATOM;
typedef int HFILE;
typedef void *HANDLE;
typedef void *LPVOID;
typedef const void *LPCVOID;
typedef char *LPSTR;
typedef const char *LPCSTR;
typedef DWORD *LPDWORD;
typedef LONG *PLONG;
typedef LONG HRESULT;

struct HostWindow; // a window of the headless host (platform/posix)
struct HostGdiObject;
struct HostDc;
typedef HostWindow *HWND;
typedef void *HINSTANCE;
typedef HINSTANCE HMODULE;
typedef void *HGLOBAL;
typedef void *HLOCAL;
typedef void *HICON;
typedef void *HCURSOR;
typedef void *HBRUSH;
typedef void *HMENU;
typedef void *HKEY;
typedef HostGdiObject *HGDIOBJ;
typedef HostGdiObject *HFONT;
typedef HostDc *HDC;

typedef INT_PTR(CALLBACK *DLGPROC)(HWND, UINT, WPARAM, LPARAM);
typedef LRESULT(CALLBACK *WNDPROC)(HWND, UINT, WPARAM, LPARAM);
typedef void(CALLBACK *TIMERPROC)(HWND, UINT, UINT_PTR, DWORD);
typedef INT_PTR(WINAPI *FARPROC)();

#define TRUE 1
#define FALSE 0
#define MAX_PATH 260

#define LOBYTE(w) ((BYTE)(((DWORD_PTR)(w)) & 0xff))
#define HIBYTE(w) ((BYTE)((((DWORD_PTR)(w)) >> 8) & 0xff))
#define LOWORD(l) ((WORD)(((DWORD_PTR)(l)) & 0xffff))
#define HIWORD(l) ((WORD)((((DWORD_PTR)(l)) >> 16) & 0xffff))
typedef uintptr_t DWORD_PTR;
#define MAKEINTRESOURCEA(i) ((LPSTR)((ULONG_PTR)((WORD)(i))))

// ---- files ---------------------------------------------------------------

#define HFILE_ERROR ((HFILE)-1)
#define OF_READ 0x0000
#define OF_WRITE 0x0001
#define OF_READWRITE 0x0002
#define OF_SHARE_COMPAT 0x0000
#define OF_SHARE_EXCLUSIVE 0x0010
#define OF_SHARE_DENY_WRITE 0x0020
#define OF_SHARE_DENY_READ 0x0030
#define OF_SHARE_DENY_NONE 0x0040
#define FILE_BEGIN 0
#define FILE_CURRENT 1
#define FILE_END 2
#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)
#define FILE_ATTRIBUTE_DIRECTORY 0x10
#define FILE_ATTRIBUTE_NORMAL 0x80

#define DRIVE_UNKNOWN 0
#define DRIVE_NO_ROOT_DIR 1
#define DRIVE_REMOVABLE 2
#define DRIVE_FIXED 3

#define SEM_FAILCRITICALERRORS 0x0001
#define SEM_NOOPENFILEERRORBOX 0x8000

typedef struct _FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
} FILETIME, *LPFILETIME;

typedef struct _WIN32_FIND_DATAA {
    DWORD dwFileAttributes;
    FILETIME ftCreationTime;
    FILETIME ftLastAccessTime;
    FILETIME ftLastWriteTime;
    DWORD nFileSizeHigh;
    DWORD nFileSizeLow;
    DWORD dwReserved0;
    DWORD dwReserved1;
    CHAR cFileName[MAX_PATH];
    CHAR cAlternateFileName[14];
} WIN32_FIND_DATAA, *LPWIN32_FIND_DATAA;

typedef struct _SECURITY_ATTRIBUTES *LPSECURITY_ATTRIBUTES;

#define ERROR_FILE_NOT_FOUND 2L
// The calling thread's last error, set by the file calls as Windows sets it.
#define NO_ERROR 0L
#define ERROR_PATH_NOT_FOUND 3L
#define ERROR_ACCESS_DENIED 5L
#define ERROR_INVALID_HANDLE 6L
#define ERROR_SHARING_VIOLATION 32L
#define ERROR_FILE_EXISTS 80L
#define ERROR_INVALID_PARAMETER 87L
#define ERROR_INVALID_NAME 123L
#define ERROR_NEGATIVE_SEEK 131L
#define ERROR_ALREADY_EXISTS 183L
DWORD WINAPI GetLastError(void);
void WINAPI SetLastError(DWORD error);

HFILE WINAPI _lopen(LPCSTR path, int mode);
HFILE WINAPI _lcreat(LPCSTR path, int attributes);
UINT WINAPI _lread(HFILE file, LPVOID buffer, UINT count);
UINT WINAPI _lwrite(HFILE file, LPCSTR buffer, UINT count);
LONG WINAPI _llseek(HFILE file, LONG offset, int origin);
HFILE WINAPI _lclose(HFILE file);

HANDLE WINAPI FindFirstFileA(LPCSTR path, LPWIN32_FIND_DATAA data);
BOOL WINAPI FindClose(HANDLE find);
BOOL WINAPI CreateDirectoryA(LPCSTR path, LPSECURITY_ATTRIBUTES security);
BOOL WINAPI SetCurrentDirectoryA(LPCSTR path);
DWORD WINAPI GetCurrentDirectoryA(DWORD size, LPSTR buffer);
UINT WINAPI GetWindowsDirectoryA(LPSTR buffer, UINT size);
UINT WINAPI GetDriveTypeA(LPCSTR root);
BOOL WINAPI GetVolumeInformationA(LPCSTR root, LPSTR label, DWORD labelSize, LPDWORD serial,
                                  LPDWORD maxComponent, LPDWORD flags, LPSTR fsName,
                                  DWORD fsNameSize);
DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR buffer, DWORD size);
BOOL WINAPI DosDateTimeToFileTime(WORD date, WORD time, LPFILETIME fileTime);
BOOL WINAPI LocalFileTimeToFileTime(const FILETIME *local, LPFILETIME utc);
BOOL WINAPI SetFileTime(HANDLE file, const FILETIME *creation, const FILETIME *access,
                        const FILETIME *write);
UINT WINAPI SetErrorMode(UINT mode);

// ---- process, memory, strings ---------------------------------------------

LPSTR WINAPI GetCommandLineA(void);
HMODULE WINAPI GetModuleHandleA(LPCSTR name);
void WINAPI ExitProcess(UINT code);
DWORD WINAPI GetVersion(void);
HMODULE WINAPI LoadLibraryA(LPCSTR name);
FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR name);
BOOL WINAPI FreeLibrary(HMODULE module);
DWORD WINAPI GetEnvironmentVariableA(LPCSTR name, LPSTR buffer, DWORD size);
UINT WINAPI WinExec(LPCSTR command, UINT show);

#define GMEM_FIXED 0x0000
#define GMEM_MOVEABLE 0x0002
#define GMEM_ZEROINIT 0x0040
#define GHND (GMEM_MOVEABLE | GMEM_ZEROINIT)
#define GPTR (GMEM_FIXED | GMEM_ZEROINIT)
#define LMEM_FIXED 0x0000
#define LMEM_ZEROINIT 0x0040
#define LPTR (LMEM_FIXED | LMEM_ZEROINIT)

HGLOBAL WINAPI GlobalAlloc(UINT flags, size_t bytes);
LPVOID WINAPI GlobalLock(HGLOBAL memory);
BOOL WINAPI GlobalUnlock(HGLOBAL memory);
HGLOBAL WINAPI GlobalHandle(LPCVOID pointer);
HGLOBAL WINAPI GlobalFree(HGLOBAL memory);
HLOCAL WINAPI LocalAlloc(UINT flags, size_t bytes);
HLOCAL WINAPI LocalFree(HLOCAL memory);

int WINAPI lstrcmpA(LPCSTR a, LPCSTR b);
int WINAPI lstrcmpiA(LPCSTR a, LPCSTR b);
int WINAPI lstrlenA(LPCSTR s);
LPSTR WINAPI lstrcpyA(LPSTR to, LPCSTR from);
LPSTR WINAPI lstrcpynA(LPSTR to, LPCSTR from, int size);
LPSTR WINAPI lstrcatA(LPSTR to, LPCSTR from);
int wsprintfA(LPSTR buffer, LPCSTR format, ...);

typedef uint16_t WCHAR; // UTF-16 code unit, as on Windows
typedef WCHAR *LPWSTR;
typedef const WCHAR *LPCWSTR;
typedef BOOL *LPBOOL;
#define CP_ACP 0
#define CP_OEMCP 1
#define CP_UTF8 65001
#define MB_ERR_INVALID_CHARS 0x00000008
#define WC_NO_BEST_FIT_CHARS 0x00000400
int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR text, int length, LPWSTR wide,
                               int wideSize);
int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR wide, int wideLength, LPSTR text,
                               int size, LPCSTR defaultChar, LPBOOL usedDefault);

UINT WINAPI GetACP(void);
UINT WINAPI GetOEMCP(void);

typedef DWORD LCID;
typedef DWORD LCTYPE;
#define LOCALE_USER_DEFAULT 0x0400
#define LOCALE_SYSTEM_DEFAULT 0x0800
#define LOCALE_IDEFAULTCODEPAGE 0x0000000B
#define LOCALE_IDEFAULTANSICODEPAGE 0x00001004
#define LOCALE_RETURN_NUMBER 0x20000000
int WINAPI GetLocaleInfoA(LCID locale, LCTYPE type, LPSTR data, int size);
int WINAPI GetLocaleInfoW(LCID locale, LCTYPE type, LPWSTR data, int size);

BOOL WINAPI OemToCharA(LPCSTR from, LPSTR to);
BOOL WINAPI CharToOemA(LPCSTR from, LPSTR to);
BOOL WINAPI OemToCharBuffA(LPCSTR from, LPSTR to, DWORD length);
LPSTR WINAPI CharNextA(LPCSTR s);

UINT WINAPI GetSystemDirectoryA(LPSTR buffer, UINT size);

// ---- cryptography: the system's CNG library (bcrypt.dll) ---------------------
// Looked up at run time: LoadLibraryA with the full path in the system
// folder, then GetProcAddress by these names.

typedef LONG NTSTATUS;
typedef unsigned char UCHAR;
typedef UCHAR *PUCHAR;
typedef ULONG *PULONG;
typedef uint64_t ULONGLONG;
typedef void *PVOID;
typedef void *BCRYPT_HANDLE;
typedef void *BCRYPT_ALG_HANDLE;
typedef void *BCRYPT_KEY_HANDLE;
typedef void *BCRYPT_HASH_HANDLE;
#define STATUS_SUCCESS ((NTSTATUS)0x00000000L)
#define STATUS_INVALID_PARAMETER ((NTSTATUS)0xC000000DL)
#define STATUS_NOT_FOUND ((NTSTATUS)0xC0000225L)
#define STATUS_NOT_SUPPORTED ((NTSTATUS)0xC00000BBL)
#define STATUS_BUFFER_TOO_SMALL ((NTSTATUS)0xC0000023L)
#define STATUS_NO_MEMORY ((NTSTATUS)0xC0000017L)
#define BCRYPT_SUCCESS(status) (((NTSTATUS)(status)) >= 0)
#define BCRYPT_AES_ALGORITHM ((LPCWSTR)u"AES")
#define BCRYPT_SHA1_ALGORITHM ((LPCWSTR)u"SHA1")
#define BCRYPT_CHAINING_MODE ((LPCWSTR)u"ChainingMode")
#define BCRYPT_CHAIN_MODE_ECB ((LPCWSTR)u"ChainingModeECB")
#define BCRYPT_ALG_HANDLE_HMAC_FLAG 0x00000008

NTSTATUS WINAPI BCryptOpenAlgorithmProvider(BCRYPT_ALG_HANDLE *algorithm, LPCWSTR algorithmId,
                                            LPCWSTR implementation, ULONG flags);
NTSTATUS WINAPI BCryptCloseAlgorithmProvider(BCRYPT_ALG_HANDLE algorithm, ULONG flags);
NTSTATUS WINAPI BCryptSetProperty(BCRYPT_HANDLE object, LPCWSTR property, PUCHAR input,
                                  ULONG inputSize, ULONG flags);
NTSTATUS WINAPI BCryptGenerateSymmetricKey(BCRYPT_ALG_HANDLE algorithm, BCRYPT_KEY_HANDLE *key,
                                           PUCHAR keyObject, ULONG keyObjectSize, PUCHAR secret,
                                           ULONG secretSize, ULONG flags);
NTSTATUS WINAPI BCryptDestroyKey(BCRYPT_KEY_HANDLE key);
NTSTATUS WINAPI BCryptEncrypt(BCRYPT_KEY_HANDLE key, PUCHAR input, ULONG inputSize,
                              PVOID paddingInfo, PUCHAR iv, ULONG ivSize, PUCHAR output,
                              ULONG outputSize, ULONG *result, ULONG flags);
NTSTATUS WINAPI BCryptDeriveKeyPBKDF2(BCRYPT_ALG_HANDLE prf, PUCHAR password, ULONG passwordSize,
                                      PUCHAR salt, ULONG saltSize, ULONGLONG iterations,
                                      PUCHAR derivedKey, ULONG derivedKeySize, ULONG flags);
NTSTATUS WINAPI BCryptCreateHash(BCRYPT_ALG_HANDLE algorithm, BCRYPT_HASH_HANDLE *hash,
                                 PUCHAR hashObject, ULONG hashObjectSize, PUCHAR secret,
                                 ULONG secretSize, ULONG flags);
NTSTATUS WINAPI BCryptHashData(BCRYPT_HASH_HANDLE hash, PUCHAR input, ULONG inputSize, ULONG flags);
NTSTATUS WINAPI BCryptFinishHash(BCRYPT_HASH_HANDLE hash, PUCHAR output, ULONG outputSize,
                                 ULONG flags);
NTSTATUS WINAPI BCryptDestroyHash(BCRYPT_HASH_HANDLE hash);

// ---- registry --------------------------------------------------------------

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)0x80000000)
#define ERROR_SUCCESS 0L
#define ERROR_MORE_DATA 234L
LONG WINAPI RegQueryValueA(HKEY key, LPCSTR subKey, LPSTR value, PLONG size);

// ---- windows, dialogs and messages ----------------------------------------

typedef struct tagPOINT {
    LONG x, y;
} POINT;
typedef struct tagRECT {
    LONG left, top, right, bottom;
} RECT, *LPRECT;
typedef struct tagSIZE {
    LONG cx, cy;
} SIZE, *LPSIZE;

typedef struct tagMSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
} MSG, *LPMSG;

typedef struct tagWNDCLASSA {
    UINT style;
    WNDPROC lpfnWndProc;
    int cbClsExtra;
    int cbWndExtra;
    HINSTANCE hInstance;
    HICON hIcon;
    HCURSOR hCursor;
    HBRUSH hbrBackground;
    LPCSTR lpszMenuName;
    LPCSTR lpszClassName;
} WNDCLASSA;

typedef struct tagPAINTSTRUCT {
    HDC hdc;
    BOOL fErase;
    RECT rcPaint;
    BOOL fRestore;
    BOOL fIncUpdate;
    BYTE rgbReserved[32];
} PAINTSTRUCT, *LPPAINTSTRUCT;

// Dialog templates are handed over as bytes; the host parses them.
typedef struct DLGTEMPLATE_ DLGTEMPLATE;
typedef const DLGTEMPLATE *LPCDLGTEMPLATEA;

#define WM_CREATE 0x0001
#define WM_DESTROY 0x0002
#define WM_SETFOCUS 0x0007
#define WM_ENABLE 0x000A
#define WM_SETTEXT 0x000C
#define WM_GETTEXT 0x000D
#define WM_GETTEXTLENGTH 0x000E
#define WM_PAINT 0x000F
#define WM_CLOSE 0x0010
#define WM_ERASEBKGND 0x0014
#define WM_SHOWWINDOW 0x0018
#define WM_SETCURSOR 0x0020
#define WM_VKEYTOITEM 0x002E
#define WM_GETDLGCODE 0x0087
#define WM_NCMOUSEMOVE 0x00A0
#define WM_NCLBUTTONDOWN 0x00A1
#define WM_NCLBUTTONDBLCLK 0x00A3
#define WM_KEYDOWN 0x0100
#define WM_KEYUP 0x0101
#define WM_CHAR 0x0102
#define WM_SYSKEYDOWN 0x0104
#define WM_SYSCHAR 0x0106
#define WM_INITDIALOG 0x0110
#define WM_COMMAND 0x0111
#define WM_SYSCOMMAND 0x0112
#define WM_TIMER 0x0113
#define WM_MOUSEMOVE 0x0200
#define WM_LBUTTONDOWN 0x0201
#define WM_LBUTTONUP 0x0202
#define WM_LBUTTONDBLCLK 0x0203
#define WM_USER 0x0400

#define BM_GETCHECK 0x00F0
#define BM_SETCHECK 0x00F1
#define BM_SETSTYLE 0x00F4
#define BM_CLICK 0x00F5
#define BST_UNCHECKED 0
#define BST_CHECKED 1
#define EM_LIMITTEXT 0x00C5
#define DM_GETDEFID (WM_USER + 0)
#define DM_SETDEFID (WM_USER + 1)
#define DLGC_STATIC 0x0100

#define IDOK 1
#define IDCANCEL 2
#define IDABORT 3
#define IDRETRY 4
#define IDIGNORE 5
#define IDYES 6
#define IDNO 7

#define MB_OK 0x00000000L
#define MB_OKCANCEL 0x00000001L
#define MB_ABORTRETRYIGNORE 0x00000002L
#define MB_YESNOCANCEL 0x00000003L
#define MB_YESNO 0x00000004L
#define MB_RETRYCANCEL 0x00000005L
#define MB_TYPEMASK 0x0000000FL
#define MB_ICONERROR 0x00000010L
#define MB_ICONQUESTION 0x00000020L
#define MB_ICONWARNING 0x00000030L
#define MB_ICONINFORMATION 0x00000040L
#define MB_ICONMASK 0x000000F0L
#define MB_DEFBUTTON1 0x00000000L
#define MB_DEFBUTTON2 0x00000100L
#define MB_DEFBUTTON3 0x00000200L
#define MB_DEFMASK 0x00000F00L

#define WS_OVERLAPPED 0x00000000L
#define WS_POPUP 0x80000000L
#define WS_CHILD 0x40000000L
#define WS_VISIBLE 0x10000000L
#define WS_DISABLED 0x08000000L
#define WS_CAPTION 0x00C00000L
#define WS_BORDER 0x00800000L
#define WS_SYSMENU 0x00080000L
#define WS_GROUP 0x00020000L
#define WS_TABSTOP 0x00010000L
#define DS_SETFONT 0x40L
#define DS_MODALFRAME 0x80L
#define DS_3DLOOK 0x0004L
#define BS_PUSHBUTTON 0x00000000L
#define BS_DEFPUSHBUTTON 0x00000001L
#define BS_AUTOCHECKBOX 0x00000003L
#define BS_TYPEMASK 0x0000000FL
#define SS_LEFT 0x00000000L
#define SS_CENTER 0x00000001L
#define SS_NOPREFIX 0x00000080L
#define ES_PASSWORD 0x0020L
#define ES_AUTOHSCROLL 0x0080L

#define SW_HIDE 0
#define SW_SHOWNORMAL 1
#define SW_SHOW 5
#define SWP_NOSIZE 0x0001
#define SWP_NOMOVE 0x0002
#define SWP_NOZORDER 0x0004
#define SWP_NOACTIVATE 0x0010
#define SM_CXSCREEN 0
#define SM_CYSCREEN 1
#define PM_NOREMOVE 0x0000
#define PM_REMOVE 0x0001
#define VK_SHIFT 0x10
#define VK_RETURN 0x0D
#define VK_ESCAPE 0x1B
#define CS_VREDRAW 0x0001
#define CS_HREDRAW 0x0002

#define IDC_ARROW MAKEINTRESOURCEA(32512)
#define IDC_WAIT MAKEINTRESOURCEA(32514)

INT_PTR WINAPI DialogBoxIndirectParamA(HINSTANCE instance, LPCDLGTEMPLATEA dialogTemplate,
                                       HWND owner, DLGPROC dialogProc, LPARAM initParam);
BOOL WINAPI EndDialog(HWND dialog, INT_PTR result);
HWND WINAPI GetDlgItem(HWND dialog, int id);
LRESULT WINAPI SendDlgItemMessageA(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT WINAPI SendMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI PostMessageA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL WINAPI SetDlgItemTextA(HWND dialog, int id, LPCSTR text);
UINT WINAPI GetDlgItemTextA(HWND dialog, int id, LPSTR text, int size);
BOOL WINAPI SetWindowTextA(HWND window, LPCSTR text);
int WINAPI GetWindowTextA(HWND window, LPSTR text, int size);
BOOL WINAPI EnableWindow(HWND window, BOOL enable);
BOOL WINAPI IsWindowEnabled(HWND window);
BOOL WINAPI IsWindowVisible(HWND window);
BOOL WINAPI ShowWindow(HWND window, int command);
BOOL WINAPI DestroyWindow(HWND window);
BOOL WINAPI GetWindowRect(HWND window, LPRECT rect);
BOOL WINAPI GetClientRect(HWND window, LPRECT rect);
int WINAPI GetSystemMetrics(int index);
BOOL WINAPI SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
UINT_PTR WINAPI SetTimer(HWND window, UINT_PTR id, UINT elapse, TIMERPROC proc);
BOOL WINAPI KillTimer(HWND window, UINT_PTR id);
HWND WINAPI GetLastActivePopup(HWND window);
HWND WINAPI GetParent(HWND window);
int WINAPI MessageBoxA(HWND owner, LPCSTR text, LPCSTR caption, UINT type);
BOOL WINAPI PeekMessageA(LPMSG msg, HWND window, UINT first, UINT last, UINT remove);
BOOL WINAPI TranslateMessage(const MSG *msg);
LRESULT WINAPI DispatchMessageA(const MSG *msg);
HCURSOR WINAPI LoadCursorA(HINSTANCE instance, LPCSTR name);
HCURSOR WINAPI SetCursor(HCURSOR cursor);
short WINAPI GetKeyState(int key);
ATOM WINAPI RegisterClassA(const WNDCLASSA *windowClass);
LRESULT WINAPI DefWindowProcA(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
WORD WINAPI SetWindowWord(HWND window, int index, WORD value);
WORD WINAPI GetWindowWord(HWND window, int index);
BOOL WINAPI InvalidateRect(HWND window, const RECT *rect, BOOL erase);
BOOL WINAPI UpdateWindow(HWND window);
HDC WINAPI BeginPaint(HWND window, LPPAINTSTRUCT paint);
BOOL WINAPI EndPaint(HWND window, const PAINTSTRUCT *paint);
DWORD WINAPI GetSysColor(int index);
#define COLOR_HIGHLIGHT 13
#define COLOR_HIGHLIGHTTEXT 14

// ---- GDI -------------------------------------------------------------------

#define LOGPIXELSY 90
#define TA_CENTER 6
#define ETO_OPAQUE 0x0002
#define ETO_CLIPPED 0x0004
#define LF_FACESIZE 32

typedef struct tagLOGFONTA {
    LONG lfHeight;
    LONG lfWidth;
    LONG lfEscapement;
    LONG lfOrientation;
    LONG lfWeight;
    BYTE lfItalic;
    BYTE lfUnderline;
    BYTE lfStrikeOut;
    BYTE lfCharSet;
    BYTE lfOutPrecision;
    BYTE lfClipPrecision;
    BYTE lfQuality;
    BYTE lfPitchAndFamily;
    CHAR lfFaceName[LF_FACESIZE];
} LOGFONTA;

HDC WINAPI CreateDCA(LPCSTR driver, LPCSTR device, LPCSTR output, const void *init);
BOOL WINAPI DeleteDC(HDC dc);
int WINAPI GetDeviceCaps(HDC dc, int index);
HFONT WINAPI CreateFontIndirectA(const LOGFONTA *font);
HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object);
BOOL WINAPI DeleteObject(HGDIOBJ object);
COLORREF WINAPI SetBkColor(HDC dc, COLORREF color);
COLORREF WINAPI SetTextColor(HDC dc, COLORREF color);
UINT WINAPI SetTextAlign(HDC dc, UINT align);
BOOL WINAPI GetTextExtentPoint32A(HDC dc, LPCSTR text, int count, LPSIZE size);
BOOL WINAPI ExtTextOutA(HDC dc, int x, int y, UINT options, const RECT *rect, LPCSTR text,
                        UINT count, const INT *dx);

// ---- shell (looked up at run time; absent on this host) -------------------

typedef struct _ITEMIDLIST ITEMIDLIST;
typedef ITEMIDLIST *LPITEMIDLIST;
typedef const ITEMIDLIST *LPCITEMIDLIST;
typedef int(CALLBACK *BFFCALLBACK)(HWND, UINT, LPARAM, LPARAM);
typedef struct _browseinfoA {
    HWND hwndOwner;
    LPCITEMIDLIST pidlRoot;
    LPSTR pszDisplayName;
    LPCSTR lpszTitle;
    UINT ulFlags;
    BFFCALLBACK lpfn;
    LPARAM lParam;
    int iImage;
} BROWSEINFOA, *LPBROWSEINFOA;
#define BIF_RETURNONLYFSDIRS 0x0001
#define BIF_RETURNFSANCESTORS 0x0008

// The shell's task allocator, reduced to the two methods the stub calls.
struct IMalloc {
    virtual void Free(void *block) = 0;
    virtual ULONG Release() = 0;

  protected:
    ~IMalloc() = default;
};
typedef IMalloc *LPMALLOC;
#define SUCCEEDED(hr) (((HRESULT)(hr)) >= 0)
#define FAILED(hr) (((HRESULT)(hr)) < 0)

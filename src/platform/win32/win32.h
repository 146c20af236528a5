#pragma once
// Stand-in for the Win32 user-interface and system calls the program makes (user32, gdi32,
// kernel32, shell32). Only what the program calls is declared; the behaviour follows the
// Win32 semantics the program relies on. Test hooks live in platform/win32/testing.h.

#include <cstddef>
#include <cstdint>

// ---- basic types -------------------------------------------------------------------------
using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using UINT = unsigned int;
using BOOL = int;
using LONG = std::int32_t;
using INT_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;
using HRESULT = LONG;
using ATOM = WORD;
using COLORREF = DWORD;
using WCHAR = char16_t;  // UTF-16 as on Windows
using LPWSTR = WCHAR*;
using LPCWSTR = const WCHAR*;
using LPSTR = char*;
using LPCSTR = const char*;
using LPBOOL = BOOL*;
using LPVOID = void*;

constexpr BOOL FALSE = 0;
constexpr BOOL TRUE = 1;

struct HWND__;
using HWND = HWND__*;
struct HDC__;
using HDC = HDC__*;
struct HBRUSH__;
using HBRUSH = HBRUSH__*;
struct HPEN__;
using HPEN = HPEN__*;
struct HFONT__;
using HFONT = HFONT__*;
struct HICON__;
using HICON = HICON__*;
using HCURSOR = HICON;
struct HMENU__;
using HMENU = HMENU__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
using HGDIOBJ = void*;
using HANDLE = void*;

struct RECT {
  LONG left;
  LONG top;
  LONG right;
  LONG bottom;
};
struct POINT {
  LONG x;
  LONG y;
};

constexpr COLORREF RGB(BYTE r, BYTE g, BYTE b) {
  return static_cast<COLORREF>(r) | (static_cast<COLORREF>(g) << 8) | (static_cast<COLORREF>(b) << 16);
}
constexpr WORD LOWORD(UINT_PTR value) { return static_cast<WORD>(value & 0xFFFF); }
constexpr WORD HIWORD(UINT_PTR value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }
constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(low) | (static_cast<WPARAM>(high) << 16);
}

// ---- errors ------------------------------------------------------------------------------
constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_MOD_NOT_FOUND = 126;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_ALREADY_EXISTS = 183;
constexpr DWORD ERROR_NOT_OWNER = 288;
constexpr DWORD ERROR_INVALID_FLAGS = 1004;
constexpr DWORD ERROR_NO_UNICODE_TRANSLATION = 1113;
constexpr DWORD ERROR_INVALID_WINDOW_HANDLE = 1400;
constexpr DWORD ERROR_TLW_WITH_WSCHILD = 1406;
constexpr DWORD ERROR_CANNOT_FIND_WND_CLASS = 1407;
constexpr DWORD ERROR_CLASS_ALREADY_EXISTS = 1410;
constexpr DWORD ERROR_RESOURCE_TYPE_NOT_FOUND = 1813;
constexpr DWORD ERROR_RESOURCE_NAME_NOT_FOUND = 1814;
constexpr DWORD ERROR_INVALID_INDEX = 1413;
constexpr DWORD ERROR_CONTROL_ID_NOT_FOUND = 1421;
constexpr HRESULT S_OK = 0;
constexpr HRESULT E_FAIL = static_cast<HRESULT>(0x80004005u);
constexpr HRESULT E_INVALIDARG = static_cast<HRESULT>(0x80070057u);

DWORD GetLastError();
void SetLastError(DWORD code);

// ---- kernel32: handles, mutex, sleep -----------------------------------------------------
// Named mutex: a lock file in the user's runtime folder; GetLastError() is ERROR_ALREADY_EXISTS
// when another process (or an earlier call in this one) already holds the name.
HANDLE CreateMutexW(void* securityAttributes, BOOL initialOwner, LPCWSTR name);
BOOL ReleaseMutex(HANDLE mutex);
BOOL CloseHandle(HANDLE handle);
void Sleep(DWORD milliseconds);

// ---- code-page conversion ----------------------------------------------------------------
constexpr UINT CP_ACP = 0;  // the ANSI code page: Windows-1252 here
constexpr UINT CP_1252 = 1252;
constexpr UINT CP_UTF8 = 65001;
constexpr DWORD MB_ERR_INVALID_CHARS = 0x08;
constexpr DWORD WC_ERR_INVALID_CHARS = 0x80;

int MultiByteToWideChar(UINT codePage, DWORD flags, LPCSTR source, int sourceLength, LPWSTR target,
                        int targetLength);
int WideCharToMultiByte(UINT codePage, DWORD flags, LPCWSTR source, int sourceLength, LPSTR target,
                        int targetLength, LPCSTR defaultChar, LPBOOL usedDefaultChar);

// ---- shell32: folders ----------------------------------------------------------------------
constexpr int MAX_PATH = 260;
constexpr int CSIDL_APPDATA = 0x001a;        // roaming: $APPDATA, else $XDG_CONFIG_HOME, else ~/.config
constexpr int CSIDL_LOCAL_APPDATA = 0x001c;  // local: $LOCALAPPDATA, else $XDG_DATA_HOME, else ~/.local/share
constexpr DWORD SHGFP_TYPE_CURRENT = 0;
HRESULT SHGetFolderPathW(HWND owner, int folder, HANDLE token, DWORD flags, LPWSTR path);

// ---- gdi32: objects ------------------------------------------------------------------------
constexpr int PS_SOLID = 0;
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;
constexpr int DEFAULT_GUI_FONT = 17;
constexpr int DC_BRUSH = 18;

constexpr int PS_NULL = 5;

HBRUSH CreateSolidBrush(COLORREF colour);
HPEN CreatePen(int style, int width, COLORREF colour);
// DC_BRUSH fills with the device context's brush colour, white here (never changed).
HGDIOBJ GetStockObject(int which);
BOOL DeleteObject(HGDIOBJ object);

// ---- gdi32: drawing --------------------------------------------------------------------------
// Drawing goes into an image of the window's client area (the window's own size: no frame is
// modelled). A paint's device context draws only inside the window's update region, as on
// Windows. Rectangles and lines are exact pixels; text is DejaVu Sans of 11 pixels (the only
// font here: the default GUI font, which every device context starts with).
constexpr int TRANSPARENT = 1;
constexpr int OPAQUE = 2;
constexpr COLORREF CLR_INVALID = 0xFFFFFFFF;

struct PAINTSTRUCT {
  HDC hdc;
  BOOL fErase;    // the background still needs erasing (WM_ERASEBKGND returned 0)
  RECT rcPaint;   // the bounding rectangle of the update region
  BOOL fRestore;
  BOOL fIncUpdate;
  BYTE rgbReserved[32];
};

// Takes the window's update region: sends WM_ERASEBKGND when an invalidation asked for erasing,
// validates the window and returns a device context clipped to the region.
HDC BeginPaint(HWND window, PAINTSTRUCT* paint);
BOOL EndPaint(HWND window, const PAINTSTRUCT* paint);
// Fills left..right-1, top..bottom-1 with the brush (not the selected one).
int FillRect(HDC dc, const RECT* rect, HBRUSH brush);
// Each returns the previous value; CLR_INVALID (or 0 for SetBkMode) for an invalid context.
COLORREF SetTextColor(HDC dc, COLORREF colour);
COLORREF SetBkColor(HDC dc, COLORREF colour);
int SetBkMode(HDC dc, int mode);
// Brushes, pens and fonts; returns the previous object of the same kind, null on failure.
HGDIOBJ SelectObject(HDC dc, HGDIOBJ object);
// The text cell's top left corner at (x, y); the background mode and colour fill the cell.
BOOL TextOutW(HDC dc, int x, int y, LPCWSTR text, int count);
// With the selected pen, each segment without its last pixel.
BOOL Polyline(HDC dc, const POINT* points, int count);

// ---- user32: windows and controls ----------------------------------------------------------
using WNDPROC = LRESULT (*)(HWND, UINT, WPARAM, LPARAM);

constexpr UINT WM_NULL = 0x0000;
constexpr UINT WM_CREATE = 0x0001;
constexpr UINT WM_DESTROY = 0x0002;
constexpr UINT WM_PAINT = 0x000F;
constexpr UINT WM_CLOSE = 0x0010;
constexpr UINT WM_QUIT = 0x0012;
// wParam the paint's device context; DefWindowProcW fills it with the class background and
// returns nonzero.
constexpr UINT WM_ERASEBKGND = 0x0014;
constexpr UINT WM_SETTEXT = 0x000C;
constexpr UINT WM_GETTEXT = 0x000D;
constexpr UINT WM_GETTEXTLENGTH = 0x000E;
constexpr UINT WM_KEYDOWN = 0x0100;
// To an edit box: the character goes to the end of its text (no caret is modelled), backspace
// takes the last one off; Enter and other control characters are not text.
constexpr UINT WM_CHAR = 0x0102;
constexpr UINT WM_COMMAND = 0x0111;
// A control asks its parent for its colours while it is drawn: wParam the control's device
// context (the parent sets text colour, background mode and colour on it), lParam the control;
// the result is the brush of the control's background. Edit boxes send WM_CTLCOLOREDIT, or
// WM_CTLCOLORSTATIC when disabled; check boxes and static controls WM_CTLCOLORSTATIC. Push
// buttons and drop-down lists draw in the system's colours.
constexpr UINT WM_CTLCOLOREDIT = 0x0133;
constexpr UINT WM_CTLCOLORSTATIC = 0x0138;
constexpr UINT WM_APP = 0x8000;

constexpr UINT BM_GETCHECK = 0x00F0;
constexpr UINT BM_SETCHECK = 0x00F1;
// A click: an automatic check box toggles, then the parent gets WM_COMMAND with BN_CLICKED.
// A disabled button ignores it.
constexpr UINT BM_CLICK = 0x00F5;
constexpr UINT BST_UNCHECKED = 0;
constexpr UINT BST_CHECKED = 1;
constexpr UINT BN_CLICKED = 0;

constexpr UINT CB_GETCOUNT = 0x0146;
constexpr UINT CB_ADDSTRING = 0x0143;
constexpr UINT CB_GETCURSEL = 0x0147;
constexpr UINT CB_GETLBTEXT = 0x0148;
constexpr UINT CB_GETLBTEXTLEN = 0x0149;
constexpr UINT CB_RESETCONTENT = 0x014B;
constexpr UINT CB_SETCURSEL = 0x014E;  // sends no notification: only a user's choice does
constexpr UINT CBN_SELCHANGE = 1;
constexpr LRESULT CB_ERR = -1;

constexpr DWORD WS_OVERLAPPED = 0x00000000;
constexpr DWORD WS_CHILD = 0x40000000;
constexpr DWORD WS_VISIBLE = 0x10000000;
constexpr DWORD WS_DISABLED = 0x08000000;
constexpr DWORD WS_BORDER = 0x00800000;
constexpr DWORD WS_CAPTION = 0x00C00000;
constexpr DWORD WS_SYSMENU = 0x00080000;
constexpr DWORD WS_MINIMIZEBOX = 0x00020000;
constexpr DWORD WS_TABSTOP = 0x00010000;
constexpr DWORD WS_VSCROLL = 0x00200000;
constexpr DWORD BS_PUSHBUTTON = 0x0000;
constexpr DWORD BS_DEFPUSHBUTTON = 0x0001;
constexpr DWORD BS_CHECKBOX = 0x0002;  // the owner toggles it on BN_CLICKED
constexpr DWORD BS_AUTOCHECKBOX = 0x0003;
constexpr DWORD CBS_DROPDOWNLIST = 0x0003;
// Without it an edit box refuses a typed character that would not fit its width.
constexpr DWORD ES_AUTOHSCROLL = 0x0080;
constexpr DWORD WS_EX_TOPMOST = 0x00000008;

constexpr int GWLP_WNDPROC = -4;
constexpr int GWLP_USERDATA = -21;

HWND CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style, int x, int y,
                     int width, int height, HWND parent, HMENU menuOrId, HINSTANCE instance, LPVOID param);
BOOL DestroyWindow(HWND window);
BOOL IsWindow(HWND window);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT DefWindowProcW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT CallWindowProcW(WNDPROC previous, HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LONG_PTR SetWindowLongPtrW(HWND window, int index, LONG_PTR value);
LONG_PTR GetWindowLongPtrW(HWND window, int index);
HWND GetDlgItem(HWND parent, int id);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
int GetWindowTextW(HWND window, LPWSTR buffer, int bufferLength);
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
BOOL CheckDlgButton(HWND parent, int id, UINT check);
UINT IsDlgButtonChecked(HWND parent, int id);
// Records the rectangle (or the whole client area for nullptr) with its erase flag on the
// window; the window thread later receives WM_PAINT for it.
BOOL InvalidateRect(HWND window, const RECT* rect, BOOL erase);

// ---- user32: window classes, the message queue and loop ---------------------------------------
// Every thread has its own message queue. PostMessageW puts a message into the queue of the
// thread that created the window (a null window posts to the calling thread's queue), from any
// thread. GetMessageW waits for the calling thread's next message: posted messages first, in
// the order posted; then WM_PAINT for a window of the thread that was invalidated; WM_QUIT once
// PostQuitMessage was called and no posted message is left. SendMessageW calls the window
// procedure on the calling thread.

struct MSG {
  HWND hwnd;
  UINT message;
  WPARAM wParam;
  LPARAM lParam;
  DWORD time;
  POINT pt;
};

// What the window procedure of a registered class receives with WM_CREATE (lParam points to it).
struct CREATESTRUCTW {
  LPVOID lpCreateParams;
  HINSTANCE hInstance;
  HMENU hMenu;
  HWND hwndParent;
  int cy;
  int cx;
  int y;
  int x;
  LONG style;
  LPCWSTR lpszName;
  LPCWSTR lpszClass;
  DWORD dwExStyle;
};

struct WNDCLASSEXW {
  UINT cbSize;
  UINT style;
  WNDPROC lpfnWndProc;
  int cbClsExtra;
  int cbWndExtra;
  HINSTANCE hInstance;
  HICON hIcon;
  HCURSOR hCursor;
  HBRUSH hbrBackground;
  LPCWSTR lpszMenuName;
  LPCWSTR lpszClassName;
  HICON hIconSm;
};

constexpr UINT CS_VREDRAW = 0x0001;
constexpr UINT CS_HREDRAW = 0x0002;

// Resource ids given as numbers in the place of a name.
inline LPWSTR MAKEINTRESOURCEW(WORD id) { return reinterpret_cast<LPWSTR>(static_cast<ULONG_PTR>(id)); }
inline bool IS_INTRESOURCE(LPCWSTR name) { return (reinterpret_cast<ULONG_PTR>(name) >> 16) == 0; }
inline const LPCWSTR IDC_ARROW = MAKEINTRESOURCEW(32512);
inline const LPCWSTR IDI_APPLICATION = MAKEINTRESOURCEW(32512);

// Registers a class by name (compared without regard to ASCII case); a second registration of a
// name fails with ERROR_CLASS_ALREADY_EXISTS. Windows created with the name get its procedure
// and WM_CREATE; a WM_CREATE result of -1 ends the creation (CreateWindowExW returns null).
ATOM RegisterClassExW(const WNDCLASSEXW* windowClass);
BOOL UnregisterClassW(LPCWSTR className, HINSTANCE instance);

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// 0 for WM_QUIT, -1 for an invalid argument, else nonzero. A window filter takes only that
// window's messages; a range filter (both 0: all) takes only messages within it. WM_QUIT is
// always taken.
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL TranslateMessage(const MSG* message);  // no keyboard model here: translates nothing
LRESULT DispatchMessageW(const MSG* message);
void PostQuitMessage(int exitCode);

// ---- kernel32 and user32: the module and its resources ----------------------------------------
// The program's module; resources belong to it (on this machine the table of
// platform/win32/resources.h takes the place of the compiled resource script).
HMODULE GetModuleHandleW(LPCWSTR moduleName);
// Copies string resource `id` of the module into the buffer (at most bufferMax - 1 characters
// and a terminating 0); returns the count copied, 0 when there is no such string (GetLastError:
// ERROR_RESOURCE_NAME_NOT_FOUND). A bufferMax of 0 returns the length and a pointer to the
// read-only text in *buffer.
int LoadStringW(HINSTANCE instance, UINT id, LPWSTR buffer, int bufferMax);
// An icon resource of the module; IDI_APPLICATION with a null instance is the system's icon.
HICON LoadIconW(HINSTANCE instance, LPCWSTR name);
// System cursors only (a null instance): IDC_ARROW.
HCURSOR LoadCursorW(HINSTANCE instance, LPCWSTR name);

// ---- user32: showing, placing ------------------------------------------------------------------
constexpr int SW_HIDE = 0;
constexpr int SW_SHOWNORMAL = 1;
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWDEFAULT = 10;

inline HWND const HWND_TOP = nullptr;
inline HWND const HWND_TOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-1));
inline HWND const HWND_NOTOPMOST = reinterpret_cast<HWND>(static_cast<LONG_PTR>(-2));
constexpr UINT SWP_NOSIZE = 0x0001;
constexpr UINT SWP_NOMOVE = 0x0002;
constexpr UINT SWP_NOZORDER = 0x0004;
constexpr UINT SWP_NOACTIVATE = 0x0010;
constexpr UINT SWP_SHOWWINDOW = 0x0040;
constexpr UINT SWP_HIDEWINDOW = 0x0080;

// Nonzero when the window was visible before.
BOOL ShowWindow(HWND window, int command);
BOOL IsWindowVisible(HWND window);
// Sends WM_PAINT at once when the window has an invalidated area; FALSE for an invalid window.
BOOL UpdateWindow(HWND window);
// Screen coordinates of a top-level window; a child's rectangle in its parent's client area.
BOOL GetWindowRect(HWND window, RECT* rect);
// HWND_TOPMOST / HWND_NOTOPMOST set or clear WS_EX_TOPMOST; position and size change unless
// SWP_NOMOVE / SWP_NOSIZE.
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int width, int height, UINT flags);

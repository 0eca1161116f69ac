// The Windows window, GL context, message and message-box calls, as plain
// functions over plain types: the one layer of the Windows backend that
// includes <windows.h> (native_window.cpp). Each function is the Windows call
// of the same name, passed through; the few additions are said where they are.
//
// The layer above (window_win32.cpp) includes only the project's headers,
// whose Windows-named types and constants cannot meet <windows.h> in one
// file. Handles are the project's opaque handle types: a window handle is
// the HWND itself, a device context the HDC, a rendering context the HGLRC,
// a module the HINSTANCE. native_window.cpp checks with static_asserts that
// every number the layer above passes through (messages, styles, flags,
// structure layouts) is Windows' own.
#pragma once
#include <cstddef>
#include <cstdint>

struct PlatformWindowRec;  // HWND
struct PlatformDCRec;      // HDC
struct PlatformGLRec;      // HGLRC

using NativeWindow = PlatformWindowRec*;
using NativeDC = PlatformDCRec*;
using NativeGL = PlatformGLRec*;
// The window procedure of a class, called with the HWND as NativeWindow.
using NativeWindowProc = intptr_t (*)(NativeWindow, uint32_t, uintptr_t, intptr_t);
using NativeEnumProc = bool (*)(NativeWindow, intptr_t);

// The numbers the layer above passes through unchanged, with Windows'
// values. Each side checks the list against its own definitions:
// native_window.cpp against <windows.h>, window_win32.cpp against the
// project's constants of the same names (NATIVE_CHECK_NUMBERS below).
#define NATIVE_PASSED_NUMBERS(X)                                                                  \
  X(WM_SIZE, 0x0005) X(WM_ACTIVATE, 0x0006) X(WM_CLOSE, 0x0010) X(WM_QUIT, 0x0012)                \
  X(WM_KEYDOWN, 0x0100) X(WM_KEYUP, 0x0101) X(WM_SYSKEYDOWN, 0x0104) X(WM_SYSKEYUP, 0x0105)       \
  X(WM_SYSCOMMAND, 0x0112) X(WM_TIMER, 0x0113)                                                     \
  X(SC_CLOSE, 0xF060) X(SC_MINIMIZE, 0xF020) X(SC_SCREENSAVE, 0xF140) X(SC_MONITORPOWER, 0xF170)  \
  X(VK_BACK, 0x08) X(VK_TAB, 0x09) X(VK_RETURN, 0x0D) X(VK_SHIFT, 0x10) X(VK_CONTROL, 0x11)       \
  X(VK_MENU, 0x12) X(VK_PAUSE, 0x13) X(VK_CAPITAL, 0x14) X(VK_ESCAPE, 0x1B) X(VK_SPACE, 0x20)     \
  X(VK_PRIOR, 0x21) X(VK_NEXT, 0x22) X(VK_END, 0x23) X(VK_HOME, 0x24) X(VK_LEFT, 0x25)            \
  X(VK_UP, 0x26) X(VK_RIGHT, 0x27) X(VK_DOWN, 0x28) X(VK_INSERT, 0x2D) X(VK_DELETE, 0x2E)         \
  X(VK_NUMPAD0, 0x60) X(VK_F1, 0x70) X(VK_F4, 0x73) X(VK_F10, 0x79) X(VK_F12, 0x7B)               \
  X(MB_OK, 0) X(MB_YESNO, 4) X(IDOK, 1) X(IDYES, 6) X(IDNO, 7)                                    \
  X(CS_VREDRAW, 0x0001) X(CS_HREDRAW, 0x0002) X(CS_OWNDC, 0x0020) X(COLOR_BTNFACE, 15)             \
  X(WS_POPUP, 0x80000000) X(WS_VISIBLE, 0x10000000) X(WS_CLIPSIBLINGS, 0x04000000)                 \
  X(WS_CLIPCHILDREN, 0x02000000) X(WS_SYSMENU, 0x00080000) X(WS_OVERLAPPEDWINDOW, 0x00CF0000)     \
  X(WS_EX_WINDOWEDGE, 0x00000100) X(WS_EX_APPWINDOW, 0x00040000)                                  \
  X(CDS_FULLSCREEN, 4) X(DISP_CHANGE_SUCCESSFUL, 0) X(DISP_CHANGE_FAILED, -1)                      \
  X(DISP_CHANGE_BADMODE, -2) X(DM_BITSPERPEL, 0x00040000) X(DM_PELSWIDTH, 0x00080000)             \
  X(DM_PELSHEIGHT, 0x00100000) X(PFD_DOUBLEBUFFER, 0x01) X(PFD_DRAW_TO_WINDOW, 0x04)              \
  X(PFD_SUPPORT_OPENGL, 0x20) X(PFD_TYPE_RGBA, 0) X(PFD_MAIN_PLANE, 0) X(SW_SHOW, 5)               \
  X(SW_SHOWDEFAULT, 10) X(PM_NOREMOVE, 0) X(PM_REMOVE, 1) X(WA_INACTIVE, 0) X(WA_ACTIVE, 1)       \
  X(SIZE_RESTORED, 0) X(SIZE_MINIMIZED, 1)
#define NATIVE_CHECK_NUMBER(name, value) \
  static_assert(static_cast<long long>(name) == static_cast<long long>(value), #name);
#define NATIVE_CHECK_NUMBERS NATIVE_PASSED_NUMBERS(NATIVE_CHECK_NUMBER)

// Key-message lParam bit 29, Alt held (the project's KeyLParamAltDown).
constexpr intptr_t NativeKeyAltDownBit = intptr_t{1} << 29;
// Stock resource numbers of the class's icon and cursor.
constexpr uintptr_t NativeIdiWinLogo = 32517;
constexpr uintptr_t NativeIdcArrow = 32512;

// Byte layout of the 40-byte PIXELFORMATDESCRIPTOR both layers use.
constexpr size_t NativePfdSize = 40;
constexpr size_t NativePfdFlagsOffset = 4;      // dwFlags
constexpr size_t NativePfdPixelTypeOffset = 8;  // iPixelType
constexpr size_t NativePfdColorBitsOffset = 9;  // cColorBits
constexpr size_t NativePfdDepthBitsOffset = 23; // cDepthBits
constexpr size_t NativePfdLayerTypeOffset = 26; // iLayerType

// ---- process ---------------------------------------------------------------
void* NativeGetModuleHandle();       // GetModuleHandleA(NULL)
const char* NativeGetCommandLine();  // GetCommandLineA()
uint32_t NativeGetCurrentThreadId();
uint32_t NativeGetCurrentProcessId();
[[noreturn]] void NativeExitProcess(uint32_t exitCode);
void NativeInitCommonControls();

// ---- class, display mode, cursor ---------------------------------------------
// RegisterClassA with the class's procedure replaced by one trampoline that
// calls proc (kept per class atom here). icon and cursor are stock resource
// numbers (LoadIconA/LoadCursorA of NULL), 0 for none; brush a system colour
// index + 1 or 0. Answers the atom, 0 on failure.
uint16_t NativeRegisterClass(uint32_t style, NativeWindowProc proc, int32_t classExtra,
                             int32_t windowExtra, void* instance, uintptr_t icon, uintptr_t cursor,
                             uintptr_t brush, const char* menuName, const char* className);
bool NativeUnregisterClass(const char* className, void* instance);
// ChangeDisplaySettingsA with a DEVMODEA of dmSize `size` holding only the
// members named in fields; `hasMode` false passes NULL (restores the
// registry's mode). Answers the DISP_CHANGE_* result.
int32_t NativeChangeDisplaySettings(bool hasMode, uint16_t size, uint32_t fields, uint32_t bitsPerPel,
                                    uint32_t width, uint32_t height, uint32_t flags);
int32_t NativeShowCursor(bool show);

// ---- window ------------------------------------------------------------------
// rect: left, top, right, bottom.
bool NativeAdjustWindowRectEx(int32_t rect[4], uint32_t style, bool hasMenu, uint32_t exStyle);
NativeWindow NativeCreateWindowEx(uint32_t exStyle, const char* className, const char* title,
                                  uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                                  NativeWindow parent, void* instance);
bool NativeDestroyWindow(NativeWindow window);
bool NativeShowWindow(NativeWindow window, int command);
bool NativeSetForegroundWindow(NativeWindow window);
NativeWindow NativeSetFocus(NativeWindow window);

// ---- GL context ----------------------------------------------------------------
NativeDC NativeGetDC(NativeWindow window);
int32_t NativeReleaseDC(NativeWindow window, NativeDC dc);
// descriptor: NativePfdSize bytes laid out as PIXELFORMATDESCRIPTOR.
int32_t NativeChoosePixelFormat(NativeDC dc, const void* descriptor);
bool NativeSetPixelFormat(NativeDC dc, int32_t format, const void* descriptor);
NativeGL NativeCreateContext(NativeDC dc);  // wglCreateContext
bool NativeMakeCurrent(NativeDC dc, NativeGL rc);
bool NativeDeleteContext(NativeGL rc);
bool NativeSwapBuffers(NativeDC dc);

// ---- messages --------------------------------------------------------------------
uintptr_t NativeSetTimer(NativeWindow window, uintptr_t id, uint32_t periodMs);  // no timer procedure
// PeekMessageA over every window of the thread and every message. The four
// members are copied out; the whole MSG (its time and cursor position) is
// kept per thread, so translating and dispatching the message just taken
// passes Windows the very MSG it gave.
bool NativePeekMessage(NativeWindow* window, uint32_t* message, uintptr_t* wParam, intptr_t* lParam,
                       uint32_t removeFlags);
bool NativeTranslateMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
intptr_t NativeDispatchMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
bool NativePostMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);
void NativePostQuitMessage(int32_t exitCode);
intptr_t NativeDefWindowProc(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// ---- requester services ------------------------------------------------------------
bool NativeEnumWindows(NativeEnumProc visit, intptr_t lParam);
uint32_t NativeGetWindowThreadProcessId(NativeWindow window, uint32_t* processId);
bool NativeIsWindowVisible(NativeWindow window);
bool NativeIsWindowEnabled(NativeWindow window);
bool NativeEnableWindow(NativeWindow window, bool enable);
NativeWindow NativeGetForegroundWindow();
// MessageBoxA. When it answers 0 (no box could be shown) the title and text
// also go to standard error, so the message is never lost.
int NativeMessageBox(NativeWindow owner, const char* text, const char* title, uint32_t flags);

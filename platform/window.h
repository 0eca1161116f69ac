// Window, GL context, message queue and message box: the small, fixed set of
// window-system operations the shell needs, under the Windows names the shell
// was designed on, so that its logic, constants and failure paths read alike.
//
// Four backends implement this header and a program links exactly one:
//  - platform/sdl:   SDL2 window, OpenGL context, X11 box (Linux).
//  - platform/win32: the Windows calls of the same names, passed through.
//  - platform/web:   the page's canvas, WebGL through EGL, the page's own box
//                    (the browser build).
//  - platform/null:  a scripted stand-in for unit tests (platform/null/null_platform.h).
// The SDL, web and null backends share one emulation of the window manager
// (classes, windows, posted messages, default handling, enumeration):
// platform/emulated/window_manager.h.
//
// Every operation that can fail says so in its result, as its Windows
// namesake does (0, nullptr or false), so each step of opening and closing
// the window can be reported on its own. Main thread only, except where noted.
#pragma once
#include <cstdint>

#include "platform/pixels.h"  // RECT
#include "platform/types.h"

// Window class styles.
constexpr uint32_t CS_VREDRAW = 0x0001;
constexpr uint32_t CS_HREDRAW = 0x0002;
constexpr uint32_t CS_OWNDC = 0x0020;

// Window styles. WS_POPUP windows have no border or caption; every other
// top-level window is drawn by the window manager with a frame.
constexpr uint32_t WS_POPUP = 0x80000000u;
constexpr uint32_t WS_VISIBLE = 0x10000000u;
constexpr uint32_t WS_CLIPSIBLINGS = 0x04000000u;
constexpr uint32_t WS_CLIPCHILDREN = 0x02000000u;
constexpr uint32_t WS_SYSMENU = 0x00080000u;
constexpr uint32_t WS_OVERLAPPEDWINDOW = 0x00CF0000u;
constexpr uint32_t WS_EX_WINDOWEDGE = 0x00000100u;
constexpr uint32_t WS_EX_APPWINDOW = 0x00040000u;

// Stock resources and colours for the window class.
constexpr uintptr_t IDI_WINLOGO = 32517;
constexpr uintptr_t IDC_ARROW = 32512;
constexpr uintptr_t COLOR_BTNFACE = 15;

// Display mode change.
constexpr uint32_t CDS_FULLSCREEN = 4;
constexpr int32_t DISP_CHANGE_SUCCESSFUL = 0;
constexpr int32_t DISP_CHANGE_FAILED = -1;
constexpr int32_t DISP_CHANGE_BADMODE = -2;
constexpr uint32_t DM_BITSPERPEL = 0x00040000;
constexpr uint32_t DM_PELSWIDTH = 0x00080000;
constexpr uint32_t DM_PELSHEIGHT = 0x00100000;

// Pixel format request.
constexpr uint32_t PFD_DOUBLEBUFFER = 0x00000001;
constexpr uint32_t PFD_DRAW_TO_WINDOW = 0x00000004;
constexpr uint32_t PFD_SUPPORT_OPENGL = 0x00000020;
constexpr uint8_t PFD_TYPE_RGBA = 0;
constexpr uint8_t PFD_MAIN_PLANE = 0;

// Show commands, message retrieval, activation and size codes.
constexpr int SW_SHOW = 5;
constexpr int SW_SHOWDEFAULT = 10;
constexpr uint32_t PM_NOREMOVE = 0;
constexpr uint32_t PM_REMOVE = 1;
constexpr uint16_t WA_INACTIVE = 0;
constexpr uint16_t WA_ACTIVE = 1;
constexpr uintptr_t SIZE_RESTORED = 0;
constexpr uintptr_t SIZE_MINIMIZED = 1;

// Virtual-key codes the backends produce besides letters ('A'..'Z') and
// digits ('0'..'9'), which are their ASCII capitals.
constexpr uintptr_t VK_BACK = 0x08, VK_TAB = 0x09, VK_RETURN = 0x0D, VK_SHIFT = 0x10,
                    VK_CONTROL = 0x11, VK_MENU = 0x12, VK_PAUSE = 0x13, VK_CAPITAL = 0x14,
                    VK_SPACE = 0x20, VK_PRIOR = 0x21, VK_NEXT = 0x22, VK_END = 0x23,
                    VK_HOME = 0x24, VK_LEFT = 0x25, VK_UP = 0x26, VK_RIGHT = 0x27,
                    VK_DOWN = 0x28, VK_INSERT = 0x2D, VK_DELETE = 0x2E, VK_NUMPAD0 = 0x60,
                    VK_F1 = 0x70, VK_F4 = 0x73, VK_F10 = 0x79, VK_F12 = 0x7B;
// Key-message lParam bit 29: Alt was held (the "context code").
constexpr intptr_t KeyLParamAltDown = intptr_t{1} << 29;

// Window class: a name and the procedure that receives its windows' messages.
struct WNDCLASSA {
  uint32_t style = 0;
  WindowProc lpfnWndProc = nullptr;
  int32_t cbClsExtra = 0;
  int32_t cbWndExtra = 0;
  ModuleHandle hInstance = nullptr;
  uintptr_t hIcon = 0;          // a stock resource number (IDI_*), 0 for none
  uintptr_t hCursor = 0;        // a stock resource number (IDC_*), 0 for none
  uintptr_t hbrBackground = 0;  // a system colour index + 1, 0 for none
  const char* lpszMenuName = nullptr;
  const char* lpszClassName = nullptr;
};

// A display mode request. Only the members named in dmFields are looked at.
struct DEVMODEA {
  uint16_t dmSize = 0;  // 148, as the request was designed
  uint32_t dmFields = 0;
  uint32_t dmBitsPerPel = 0;
  uint32_t dmPelsWidth = 0;
  uint32_t dmPelsHeight = 0;
};

// The pixel format request, member for member (40 bytes).
struct PIXELFORMATDESCRIPTOR {
  uint16_t nSize;
  uint16_t nVersion;
  uint32_t dwFlags;
  uint8_t iPixelType;
  uint8_t cColorBits;
  uint8_t cRedBits, cRedShift, cGreenBits, cGreenShift, cBlueBits, cBlueShift;
  uint8_t cAlphaBits, cAlphaShift;
  uint8_t cAccumBits, cAccumRedBits, cAccumGreenBits, cAccumBlueBits, cAccumAlphaBits;
  uint8_t cDepthBits;
  uint8_t cStencilBits;
  uint8_t cAuxBuffers;
  uint8_t iLayerType;
  uint8_t bReserved;
  uint32_t dwLayerMask;
  uint32_t dwVisibleMask;
  uint32_t dwDamageMask;
};
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == 40);

// ---- process --------------------------------------------------------------
ModuleHandle PlatformGetModuleHandle();   // the program itself; never nullptr
const char* PlatformGetCommandLine();     // the arguments joined by spaces
uint32_t PlatformGetCurrentThreadId();
uint32_t PlatformGetCurrentProcessId();
// Ends the process with the exit code (the null backend unwinds to the test
// instead; see null_platform.h). Restores the display as the process leaves.
[[noreturn]] void PlatformExitProcess(uint32_t exitCode);
// Prepares the message box for use; harmless to call more than once.
void PlatformInitCommonControls();

// ---- class, display mode, cursor -------------------------------------------
// An atom for the class, 0 when the name is already registered or missing.
uint16_t PlatformRegisterClass(const WNDCLASSA* windowClass);
// False when no such class is registered or a window of it still exists.
bool PlatformUnregisterClass(const char* className, ModuleHandle instance);
// Switches the display to mode (width, height, depth as dmFields names them)
// for full screen; nullptr and 0 restore the desktop mode. Answers
// DISP_CHANGE_SUCCESSFUL or a negative DISP_CHANGE_* when refused.
int32_t PlatformChangeDisplaySettings(const DEVMODEA* mode, uint32_t flags);
// Shows or hides the cursor over the program's windows; answers the new
// display counter (the cursor shows while it is >= 0).
int32_t PlatformShowCursor(bool show);

// ---- window ------------------------------------------------------------------
// Grows a client rectangle into the outer rectangle of a window of this style.
bool PlatformAdjustWindowRectEx(RECT* rect, uint32_t style, bool hasMenu, uint32_t exStyle);
// A top-level window of a registered class, outer top-left at (x, y), outer
// size width x height. WS_VISIBLE shows it at once. nullptr on failure.
WindowHandle PlatformCreateWindowEx(uint32_t exStyle, const char* className, const char* title,
                                    uint32_t style, int32_t x, int32_t y, int32_t width,
                                    int32_t height, WindowHandle parent, ModuleHandle instance);
bool PlatformDestroyWindow(WindowHandle window);
bool PlatformShowWindow(WindowHandle window, int command);  // answers: was it visible before
bool PlatformSetForegroundWindow(WindowHandle window);
WindowHandle PlatformSetFocus(WindowHandle window);         // answers the window focused before

// ---- GL context --------------------------------------------------------------
DeviceContextHandle PlatformGetDC(WindowHandle window);
int32_t PlatformReleaseDC(WindowHandle window, DeviceContextHandle dc);  // 1 released, 0 not
// A format number (>= 1) closest to the request: a double-buffered RGBA
// format with a depth buffer as near the requested depth as the driver has.
// 0 when no format fits (not RGBA, not for windows or not for OpenGL).
int32_t PlatformChoosePixelFormat(DeviceContextHandle dc, const PIXELFORMATDESCRIPTOR* request);
// Sets the format of dc's window, once per window. False on failure.
bool PlatformSetPixelFormat(DeviceContextHandle dc, int32_t format,
                            const PIXELFORMATDESCRIPTOR* request);
RenderContextHandle PlatformCreateContext(DeviceContextHandle dc);
// Makes rc current on dc for this thread; (nullptr, nullptr) makes none current.
bool PlatformMakeCurrent(DeviceContextHandle dc, RenderContextHandle rc);
bool PlatformDeleteContext(RenderContextHandle rc);
bool PlatformSwapBuffers(DeviceContextHandle dc);

// ---- messages ------------------------------------------------------------------
// Arms (or re-arms) timer id of window: a WM_TIMER (wParam = id) becomes due
// every period ms; at most one is waiting at a time and it is delivered only
// when no other message waits. Answers id, or 0 on failure.
uintptr_t PlatformSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs);
// Takes (PM_REMOVE) or looks at (PM_NOREMOVE) the next message of this thread:
// posted messages first, in order, then input and window events, then a due
// timer. One message per call. False when none waits; *message is then untouched.
bool PlatformPeekMessage(MSG* message, uint32_t removeFlags);
// Answers true for key messages (WM_KEYDOWN/UP, WM_SYSKEYDOWN/UP), false for
// others. On Windows it also queues the character messages of a key press
// (WM_CHAR and kin), which the shell passes to the default handling; the
// other backends produce none.
bool PlatformTranslateMessage(const MSG* message);
// Calls the window procedure of message->hwnd's class; answers its result.
// Messages for no window (WM_QUIT) or a destroyed one are not dispatched (0).
intptr_t PlatformDispatchMessage(const MSG* message);
// Queues message for window (nullptr: for the thread). Any thread. False
// when the queue cannot take it.
bool PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Queues WM_QUIT with wParam = exitCode.
void PlatformPostQuitMessage(int32_t exitCode);
// Default handling: WM_SYSCOMMAND SC_CLOSE sends WM_CLOSE to the window's
// procedure and SC_MINIMIZE minimises it; WM_SYSKEYDOWN of F4 with Alt sends
// WM_SYSCOMMAND SC_CLOSE; everything else answers 0 and does nothing.
intptr_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam,
                               intptr_t lParam);

// ---- requester services -----------------------------------------------------------
// Calls visit for every top-level window of the process, newest first, until
// it answers false. Answers false when stopped early.
using WindowEnumProc = bool (*)(WindowHandle window, intptr_t lParam);
bool PlatformEnumWindows(WindowEnumProc visit, intptr_t lParam);
// The thread that created window; *processId (when not nullptr) its process.
// 0 for a window that does not exist.
uint32_t PlatformGetWindowThreadProcessId(WindowHandle window, uint32_t* processId);
bool PlatformIsWindowVisible(WindowHandle window);
bool PlatformIsWindowEnabled(WindowHandle window);
// A disabled window takes no keyboard or mouse input. Answers true when the
// window was disabled before the call.
bool PlatformEnableWindow(WindowHandle window, bool enable);
// The window that has the keyboard focus, or nullptr. On Windows this is
// the system's foreground window, which may belong to another process (the
// requester asks its process); the other backends know only their own.
WindowHandle PlatformGetForegroundWindow();
// A modal box with title, text and the buttons of flags (MB_OK or MB_YESNO),
// no icon; modal to owner when given. Return picks the first button, Escape
// picks No (OK in an OK box). Answers IDOK, IDYES or IDNO, or 0 when no box
// can be shown; title and text then go to standard error, so no message is
// ever lost.
int PlatformMessageBox(WindowHandle owner, const char* text, const char* title, uint32_t flags);

// The Windows calls behind native_window.h: window class and window, display
// mode, cursor, WGL context, message queue, timer, message box and window
// enumeration. The only file of the window backend that sees <windows.h>.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/win32/native_window.h"

NATIVE_CHECK_NUMBERS
static_assert((KF_ALTDOWN << 16) == NativeKeyAltDownBit);
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == NativePfdSize);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, dwFlags) == NativePfdFlagsOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, iPixelType) == NativePfdPixelTypeOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, cColorBits) == NativePfdColorBitsOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, cDepthBits) == NativePfdDepthBitsOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, iLayerType) == NativePfdLayerTypeOffset);
static_assert(sizeof(HWND) == sizeof(NativeWindow) && sizeof(HDC) == sizeof(NativeDC) &&
              sizeof(HGLRC) == sizeof(NativeGL));

namespace {

HWND Hwnd(NativeWindow window) { return reinterpret_cast<HWND>(window); }
NativeWindow Window(HWND hwnd) { return reinterpret_cast<NativeWindow>(hwnd); }
HDC Hdc(NativeDC dc) { return reinterpret_cast<HDC>(dc); }
HGLRC Hglrc(NativeGL rc) { return reinterpret_cast<HGLRC>(rc); }

// The window procedure of each registered class, by class atom. Windows
// calls one trampoline for every class; it looks the procedure up here.
struct ClassProc {
  ATOM atom;  // 0: a free entry
  NativeWindowProc proc;
  char name[256];  // class names are at most 256 characters
};
constexpr int MaxClasses = 16;
ClassProc classProcs[MaxClasses];
std::mutex classLock;  // windows of other threads may be created meanwhile

NativeWindowProc ProcOf(ATOM atom) {
  std::lock_guard guard(classLock);
  for (const ClassProc& c : classProcs)
    if (c.atom == atom && atom != 0) return c.proc;
  return nullptr;
}

LRESULT CALLBACK Trampoline(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  NativeWindowProc proc = ProcOf(static_cast<ATOM>(GetClassWord(hwnd, GCW_ATOM)));
  if (!proc) return DefWindowProcA(hwnd, message, wParam, lParam);
  return proc(Window(hwnd), message, wParam, lParam);
}

// The last message PeekMessageA gave this thread, whole.
thread_local MSG lastTaken{};

// The MSG to hand back to Windows for the four members given: the one last
// taken when it is that message, else a fresh one stamped now.
MSG FullMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (lastTaken.hwnd == Hwnd(window) && lastTaken.message == message && lastTaken.wParam == wParam &&
      lastTaken.lParam == lParam)
    return lastTaken;
  MSG m{};
  m.hwnd = Hwnd(window);
  m.message = message;
  m.wParam = wParam;
  m.lParam = lParam;
  m.time = GetMessageTime();
  GetCursorPos(&m.pt);
  return m;
}

struct EnumVisit {
  NativeEnumProc visit;
  intptr_t lParam;
};

BOOL CALLBACK EnumTrampoline(HWND hwnd, LPARAM lParam) {
  const EnumVisit* v = reinterpret_cast<const EnumVisit*>(lParam);
  return v->visit(Window(hwnd), v->lParam) ? TRUE : FALSE;
}

}  // namespace

// ---- process ---------------------------------------------------------------------

void* NativeGetModuleHandle() { return GetModuleHandleA(nullptr); }
const char* NativeGetCommandLine() { return GetCommandLineA(); }
uint32_t NativeGetCurrentThreadId() { return GetCurrentThreadId(); }
uint32_t NativeGetCurrentProcessId() { return GetCurrentProcessId(); }

void NativeExitProcess(uint32_t exitCode) {
  std::fflush(nullptr);
  ExitProcess(exitCode);
}

void NativeInitCommonControls() { InitCommonControls(); }

// ---- class, display mode, cursor ----------------------------------------------------

uint16_t NativeRegisterClass(uint32_t style, NativeWindowProc proc, int32_t classExtra,
                             int32_t windowExtra, void* instance, uintptr_t icon, uintptr_t cursor,
                             uintptr_t brush, const char* menuName, const char* className) {
  WNDCLASSA c{};
  // Every class gets the trampoline, which needs a procedure to call.
  if (!proc || !className) return 0;
  c.style = style;
  c.lpfnWndProc = Trampoline;
  c.cbClsExtra = classExtra;
  c.cbWndExtra = windowExtra;
  c.hInstance = static_cast<HINSTANCE>(instance);
  c.hIcon = icon ? LoadIconA(nullptr, MAKEINTRESOURCEA(icon)) : nullptr;
  c.hCursor = cursor ? LoadCursorA(nullptr, MAKEINTRESOURCEA(cursor)) : nullptr;
  c.hbrBackground = reinterpret_cast<HBRUSH>(brush);
  c.lpszMenuName = menuName;
  c.lpszClassName = className;
  std::lock_guard guard(classLock);
  ClassProc* free = nullptr;
  for (ClassProc& each : classProcs)
    if (each.atom == 0) {
      free = &each;
      break;
    }
  if (!free) return 0;  // more classes than this program ever registers
  ATOM atom = RegisterClassA(&c);
  if (atom) {
    free->atom = atom;
    free->proc = proc;
    lstrcpynA(free->name, className, sizeof free->name);
  }
  return atom;
}

bool NativeUnregisterClass(const char* className, void* instance) {
  if (!UnregisterClassA(className, static_cast<HINSTANCE>(instance))) return false;
  // Class names compare without regard to case, as Windows compares them.
  std::lock_guard guard(classLock);
  for (ClassProc& each : classProcs)
    if (each.atom != 0 && lstrcmpiA(each.name, className) == 0) each = {};
  return true;
}

int32_t NativeChangeDisplaySettings(bool hasMode, uint16_t size, uint32_t fields, uint32_t bitsPerPel,
                                    uint32_t width, uint32_t height, uint32_t flags) {
  if (!hasMode) return ChangeDisplaySettingsA(nullptr, flags);
  DEVMODEA mode{};
  // An older, shorter DEVMODEA (148 bytes, without the panning members) is
  // as valid as today's; the members used sit in both.
  static_assert(offsetof(DEVMODEA, dmPelsHeight) + sizeof(DWORD) <= 148);
  mode.dmSize = size;
  mode.dmFields = fields;
  mode.dmBitsPerPel = bitsPerPel;
  mode.dmPelsWidth = width;
  mode.dmPelsHeight = height;
  return ChangeDisplaySettingsA(&mode, flags);
}

int32_t NativeShowCursor(bool show) { return ShowCursor(show ? TRUE : FALSE); }

// ---- window --------------------------------------------------------------------------

bool NativeAdjustWindowRectEx(int32_t rect[4], uint32_t style, bool hasMenu, uint32_t exStyle) {
  RECT r{rect[0], rect[1], rect[2], rect[3]};
  if (!AdjustWindowRectEx(&r, style, hasMenu ? TRUE : FALSE, exStyle)) return false;
  rect[0] = r.left;
  rect[1] = r.top;
  rect[2] = r.right;
  rect[3] = r.bottom;
  return true;
}

NativeWindow NativeCreateWindowEx(uint32_t exStyle, const char* className, const char* title,
                                  uint32_t style, int32_t x, int32_t y, int32_t width, int32_t height,
                                  NativeWindow parent, void* instance) {
  return Window(CreateWindowExA(exStyle, className, title, style, x, y, width, height, Hwnd(parent),
                                nullptr, static_cast<HINSTANCE>(instance), nullptr));
}

bool NativeDestroyWindow(NativeWindow window) { return DestroyWindow(Hwnd(window)) != FALSE; }
bool NativeShowWindow(NativeWindow window, int command) { return ShowWindow(Hwnd(window), command) != FALSE; }
bool NativeSetForegroundWindow(NativeWindow window) { return SetForegroundWindow(Hwnd(window)) != FALSE; }
NativeWindow NativeSetFocus(NativeWindow window) { return Window(SetFocus(Hwnd(window))); }

// ---- GL context ------------------------------------------------------------------------

NativeDC NativeGetDC(NativeWindow window) { return reinterpret_cast<NativeDC>(GetDC(Hwnd(window))); }
int32_t NativeReleaseDC(NativeWindow window, NativeDC dc) { return ReleaseDC(Hwnd(window), Hdc(dc)); }

int32_t NativeChoosePixelFormat(NativeDC dc, const void* descriptor) {
  PIXELFORMATDESCRIPTOR pfd;
  std::memcpy(&pfd, descriptor, sizeof pfd);
  return ChoosePixelFormat(Hdc(dc), &pfd);
}

bool NativeSetPixelFormat(NativeDC dc, int32_t format, const void* descriptor) {
  PIXELFORMATDESCRIPTOR pfd;
  std::memcpy(&pfd, descriptor, sizeof pfd);
  return SetPixelFormat(Hdc(dc), format, &pfd) != FALSE;
}

NativeGL NativeCreateContext(NativeDC dc) { return reinterpret_cast<NativeGL>(wglCreateContext(Hdc(dc))); }
bool NativeMakeCurrent(NativeDC dc, NativeGL rc) { return wglMakeCurrent(Hdc(dc), Hglrc(rc)) != FALSE; }
bool NativeDeleteContext(NativeGL rc) { return wglDeleteContext(Hglrc(rc)) != FALSE; }
bool NativeSwapBuffers(NativeDC dc) { return SwapBuffers(Hdc(dc)) != FALSE; }

// ---- messages ----------------------------------------------------------------------------

uintptr_t NativeSetTimer(NativeWindow window, uintptr_t id, uint32_t periodMs) {
  return SetTimer(Hwnd(window), id, periodMs, nullptr);
}

bool NativePeekMessage(NativeWindow* window, uint32_t* message, uintptr_t* wParam, intptr_t* lParam,
                       uint32_t removeFlags) {
  MSG m;
  if (!PeekMessageA(&m, nullptr, 0, 0, removeFlags)) return false;
  lastTaken = m;
  *window = Window(m.hwnd);
  *message = m.message;
  *wParam = m.wParam;
  *lParam = m.lParam;
  return true;
}

bool NativeTranslateMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  MSG m = FullMessage(window, message, wParam, lParam);
  return TranslateMessage(&m) != FALSE;
}

intptr_t NativeDispatchMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  MSG m = FullMessage(window, message, wParam, lParam);
  return DispatchMessageA(&m);
}

bool NativePostMessage(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return PostMessageA(Hwnd(window), message, wParam, lParam) != FALSE;
}

void NativePostQuitMessage(int32_t exitCode) { PostQuitMessage(exitCode); }

intptr_t NativeDefWindowProc(NativeWindow window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return DefWindowProcA(Hwnd(window), message, wParam, lParam);
}

// ---- requester services ------------------------------------------------------------------

bool NativeEnumWindows(NativeEnumProc visit, intptr_t lParam) {
  EnumVisit v{visit, lParam};
  return EnumWindows(EnumTrampoline, reinterpret_cast<LPARAM>(&v)) != FALSE;
}

uint32_t NativeGetWindowThreadProcessId(NativeWindow window, uint32_t* processId) {
  DWORD process = 0;
  DWORD thread = GetWindowThreadProcessId(Hwnd(window), processId ? &process : nullptr);
  if (processId) *processId = process;
  return thread;
}

bool NativeIsWindowVisible(NativeWindow window) { return IsWindowVisible(Hwnd(window)) != FALSE; }
bool NativeIsWindowEnabled(NativeWindow window) { return IsWindowEnabled(Hwnd(window)) != FALSE; }

bool NativeEnableWindow(NativeWindow window, bool enable) {
  return EnableWindow(Hwnd(window), enable ? TRUE : FALSE) != FALSE;
}

NativeWindow NativeGetForegroundWindow() { return Window(GetForegroundWindow()); }

int NativeMessageBox(NativeWindow owner, const char* text, const char* title, uint32_t flags) {
  int result = MessageBoxA(Hwnd(owner), text, title, flags);
  if (result == 0) {
    std::fprintf(stderr, "%s: %s\n", title ? title : "", text ? text : "");
    std::fflush(stderr);
  }
  return result;
}

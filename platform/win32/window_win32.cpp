// The Windows backend of platform/window.h: every operation is the Windows
// call of the same name (through native_window.h, the layer that sees
// <windows.h>), with the shell's structures copied member by member.
#include <cstddef>
#include <type_traits>

#include "platform/pixels.h"
#include "platform/types.h"
#include "platform/win32/native_window.h"
#include "platform/window.h"

// The numbers passed through are Windows' own (checked against <windows.h>
// on the other side of the layer).
NATIVE_CHECK_NUMBERS
static_assert(KeyLParamAltDown == NativeKeyAltDownBit);
static_assert(IDI_WINLOGO == NativeIdiWinLogo && IDC_ARROW == NativeIdcArrow);
static_assert(std::is_same_v<WindowProc, NativeWindowProc> && std::is_same_v<WindowEnumProc, NativeEnumProc>);
static_assert(std::is_same_v<WindowHandle, NativeWindow> && std::is_same_v<DeviceContextHandle, NativeDC> &&
              std::is_same_v<RenderContextHandle, NativeGL>);
static_assert(sizeof(PIXELFORMATDESCRIPTOR) == NativePfdSize);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, dwFlags) == NativePfdFlagsOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, iPixelType) == NativePfdPixelTypeOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, cColorBits) == NativePfdColorBitsOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, cDepthBits) == NativePfdDepthBitsOffset);
static_assert(offsetof(PIXELFORMATDESCRIPTOR, iLayerType) == NativePfdLayerTypeOffset);

// ---- process ----------------------------------------------------------------------

ModuleHandle PlatformGetModuleHandle() { return NativeGetModuleHandle(); }
const char* PlatformGetCommandLine() { return NativeGetCommandLine(); }
uint32_t PlatformGetCurrentThreadId() { return NativeGetCurrentThreadId(); }
uint32_t PlatformGetCurrentProcessId() { return NativeGetCurrentProcessId(); }
// A CDS_FULLSCREEN display mode is temporary: Windows puts the desktop's
// mode back when the process ends (the shell also restores it on closing).
void PlatformExitProcess(uint32_t exitCode) { NativeExitProcess(exitCode); }
void PlatformInitCommonControls() { NativeInitCommonControls(); }

// ---- class, display mode, cursor -----------------------------------------------------

uint16_t PlatformRegisterClass(const WNDCLASSA* c) {
  if (!c) return 0;
  return NativeRegisterClass(c->style, c->lpfnWndProc, c->cbClsExtra, c->cbWndExtra, c->hInstance, c->hIcon,
                             c->hCursor, c->hbrBackground, c->lpszMenuName, c->lpszClassName);
}

bool PlatformUnregisterClass(const char* className, ModuleHandle instance) {
  return NativeUnregisterClass(className, instance);
}

int32_t PlatformChangeDisplaySettings(const DEVMODEA* mode, uint32_t flags) {
  if (!mode) return NativeChangeDisplaySettings(false, 0, 0, 0, 0, 0, flags);
  return NativeChangeDisplaySettings(true, mode->dmSize, mode->dmFields, mode->dmBitsPerPel,
                                     mode->dmPelsWidth, mode->dmPelsHeight, flags);
}

int32_t PlatformShowCursor(bool show) { return NativeShowCursor(show); }

// ---- window -------------------------------------------------------------------------

bool PlatformAdjustWindowRectEx(RECT* rect, uint32_t style, bool hasMenu, uint32_t exStyle) {
  if (!rect) return false;
  int32_t r[4] = {rect->left, rect->top, rect->right, rect->bottom};
  if (!NativeAdjustWindowRectEx(r, style, hasMenu, exStyle)) return false;
  *rect = RECT{r[0], r[1], r[2], r[3]};
  return true;
}

WindowHandle PlatformCreateWindowEx(uint32_t exStyle, const char* className, const char* title,
                                    uint32_t style, int32_t x, int32_t y, int32_t width,
                                    int32_t height, WindowHandle parent, ModuleHandle instance) {
  return NativeCreateWindowEx(exStyle, className, title, style, x, y, width, height, parent, instance);
}

bool PlatformDestroyWindow(WindowHandle window) { return NativeDestroyWindow(window); }
bool PlatformShowWindow(WindowHandle window, int command) { return NativeShowWindow(window, command); }
bool PlatformSetForegroundWindow(WindowHandle window) { return NativeSetForegroundWindow(window); }
WindowHandle PlatformSetFocus(WindowHandle window) { return NativeSetFocus(window); }

// ---- GL context ------------------------------------------------------------------------

DeviceContextHandle PlatformGetDC(WindowHandle window) { return NativeGetDC(window); }
int32_t PlatformReleaseDC(WindowHandle window, DeviceContextHandle dc) { return NativeReleaseDC(window, dc); }

int32_t PlatformChoosePixelFormat(DeviceContextHandle dc, const PIXELFORMATDESCRIPTOR* request) {
  return request ? NativeChoosePixelFormat(dc, request) : 0;
}

bool PlatformSetPixelFormat(DeviceContextHandle dc, int32_t format, const PIXELFORMATDESCRIPTOR* request) {
  return request && NativeSetPixelFormat(dc, format, request);
}

RenderContextHandle PlatformCreateContext(DeviceContextHandle dc) { return NativeCreateContext(dc); }
bool PlatformMakeCurrent(DeviceContextHandle dc, RenderContextHandle rc) { return NativeMakeCurrent(dc, rc); }
bool PlatformDeleteContext(RenderContextHandle rc) { return NativeDeleteContext(rc); }
bool PlatformSwapBuffers(DeviceContextHandle dc) { return NativeSwapBuffers(dc); }

// ---- messages ----------------------------------------------------------------------------

uintptr_t PlatformSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  return NativeSetTimer(window, id, periodMs);
}

bool PlatformPeekMessage(MSG* message, uint32_t removeFlags) {
  MSG m;
  if (!NativePeekMessage(&m.hwnd, &m.message, &m.wParam, &m.lParam, removeFlags)) return false;
  *message = m;
  return true;
}

bool PlatformTranslateMessage(const MSG* m) {
  return NativeTranslateMessage(m->hwnd, m->message, m->wParam, m->lParam);
}

intptr_t PlatformDispatchMessage(const MSG* m) {
  return NativeDispatchMessage(m->hwnd, m->message, m->wParam, m->lParam);
}

bool PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return NativePostMessage(window, message, wParam, lParam);
}

void PlatformPostQuitMessage(int32_t exitCode) { NativePostQuitMessage(exitCode); }

intptr_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return NativeDefWindowProc(window, message, wParam, lParam);
}

// ---- requester services ------------------------------------------------------------------

bool PlatformEnumWindows(WindowEnumProc visit, intptr_t lParam) { return NativeEnumWindows(visit, lParam); }

uint32_t PlatformGetWindowThreadProcessId(WindowHandle window, uint32_t* processId) {
  return NativeGetWindowThreadProcessId(window, processId);
}

bool PlatformIsWindowVisible(WindowHandle window) { return NativeIsWindowVisible(window); }
bool PlatformIsWindowEnabled(WindowHandle window) { return NativeIsWindowEnabled(window); }
bool PlatformEnableWindow(WindowHandle window, bool enable) { return NativeEnableWindow(window, enable); }
WindowHandle PlatformGetForegroundWindow() { return NativeGetForegroundWindow(); }

int PlatformMessageBox(WindowHandle owner, const char* text, const char* title, uint32_t flags) {
  return NativeMessageBox(owner, text, title, flags);
}

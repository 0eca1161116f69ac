// The scripted window-system backend: records calls, answers from a script.
#include "platform/null/null_platform.h"

#if defined(_WIN32)
#include "platform/win32/native_services.h"
#else
#include <sys/syscall.h>
#include <unistd.h>
#endif

#include <array>
#include <cstdarg>
#include <cstdio>
#include <deque>
#include <memory>

#include "platform/emulated/window_manager.h"
#include "platform/window.h"

struct PlatformGLRec {
  PlatformWindowRec* window;  // the window whose DC it was made for
  bool alive = true;
};

namespace {

struct ScriptedMessage {
  MSG msg;
  bool toNewestWindow;  // hwnd filled in at delivery
};

// The null backend's own state; classes, windows and posted messages are
// the shared window manager's (platform/emulated/window_manager.h).
struct NullState {
  std::vector<std::string> calls;
  std::array<bool, static_cast<size_t>(NullStep::Count)> fail{};
  std::deque<int> answers;
  std::vector<std::unique_ptr<PlatformGLRec>> contexts;
  PlatformGLRec* current = nullptr;
  std::deque<ScriptedMessage> input;
  std::function<void(uint64_t)> idle;
  uint64_t emptyPasses = 0;
  uint64_t peeks = 0;
  int32_t cursor = 0;
  bool fullscreen = false;
  PlatformWindowRec* foreground = nullptr;
  uint32_t threadOverride = 0;
};

NullState state;
constexpr uint64_t PassLimit = 100000;  // PlatformPeekMessage calls before NullPlatformPassLimit

bool Failing(NullStep step) { return state.fail[static_cast<size_t>(step)]; }

void LogLine(const char* format, va_list args) {
  char line[512];
  std::vsnprintf(line, sizeof line, format, args);
  state.calls.emplace_back(line);
}

void Log(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogLine(format, args);
  va_end(args);
}

PlatformWindowRec* Live(WindowHandle window) { return EmuLive(window); }
PlatformWindowRec* LiveDC(DeviceContextHandle dc) { return EmuLiveDC(dc); }

PlatformGLRec* LiveContext(RenderContextHandle rc) {
  for (auto& c : state.contexts)
    if (c.get() == rc) return c->alive ? c.get() : nullptr;
  return nullptr;
}

std::string Name(WindowHandle window) { return EmuWindowName(window); }

// The frame a captioned window gets around its client area, in pixels.
constexpr int32_t FrameSide = 8, FrameTop = 31;
constexpr uint32_t WS_CAPTION = 0x00C00000u;

bool TakeMessage(MSG* message, uint32_t removeFlags) {
  if (EmuTakePosted(message, removeFlags)) return true;
  if (!state.input.empty()) {
    ScriptedMessage& next = state.input.front();
    *message = next.msg;
    if (next.toNewestWindow) message->hwnd = EmuNewestWindow();
    if (removeFlags & PM_REMOVE) state.input.pop_front();
    return true;
  }
  return false;
}

}  // namespace

// ---- hooks of the shared window manager -------------------------------------------

// Minimising posts what Windows sends: deactivation with the minimised flag,
// then WM_SIZE SIZE_MINIMIZED.
void EmuBackendMinimise(PlatformWindowRec* w) {
  EmuPost(w, WM_ACTIVATE, WA_INACTIVE | (uintptr_t{1} << 16), 0);
  EmuPost(w, WM_SIZE, SIZE_MINIMIZED, 0);
}

void EmuBackendTrace(const char* format, ...) {
  va_list args;
  va_start(args, format);
  LogLine(format, args);
  va_end(args);
}

// ---- test controls ----------------------------------------------------------------

void NullPlatformReset() {
  EmuReset();
  state.~NullState();
  new (&state) NullState();
}

const std::vector<std::string>& NullPlatformCalls() { return state.calls; }
void NullPlatformClearCalls() { state.calls.clear(); }

std::vector<std::string> NullPlatformCallsStartingWith(const std::string& prefix) {
  std::vector<std::string> out;
  for (auto& line : state.calls)
    if (line.compare(0, prefix.size(), prefix) == 0) out.push_back(line);
  return out;
}

void NullPlatformFail(NullStep step, bool fail) { state.fail[static_cast<size_t>(step)] = fail; }
void NullPlatformQueueAnswer(int answer) { state.answers.push_back(answer); }

void NullPlatformScriptMessage(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  state.input.push_back({MSG{nullptr, message, wParam, lParam}, true});
}

void NullPlatformOnIdle(std::function<void(uint64_t)> hook) { state.idle = std::move(hook); }
uint64_t NullPlatformPeekCount() { return state.peeks; }

std::vector<MSG> NullPlatformPendingMessages() {
  std::vector<MSG> out = EmuPostedMessages();
  for (auto& s : state.input) out.push_back(s.msg);
  return out;
}

void NullPlatformSetWindowOwner(WindowHandle window, uint32_t thread, uint32_t process) {
  if (auto* w = Live(window)) {
    w->thread = thread;
    w->process = process;
  }
}

void NullPlatformSetForeground(WindowHandle window) { state.foreground = Live(window); }
void NullPlatformSetCurrentThread(uint32_t thread) { state.threadOverride = thread; }
int32_t NullPlatformCursorCounter() { return state.cursor; }
bool NullPlatformFullscreen() { return state.fullscreen; }

size_t NullPlatformLiveWindows() {
  size_t n = 0;
  for (auto& w : EmuWindows()) n += w->alive;
  return n;
}

size_t NullPlatformLiveContexts() {
  size_t n = 0;
  for (auto& c : state.contexts) n += c->alive;
  return n;
}

// ---- process ------------------------------------------------------------------------

ModuleHandle PlatformGetModuleHandle() {
  static const char self = 0;
  return const_cast<char*>(&self);
}

const char* PlatformGetCommandLine() { return "zephyra"; }

uint32_t PlatformGetCurrentThreadId() {
  if (state.threadOverride) return state.threadOverride;
#if defined(_WIN32)
  return NativeCurrentThreadId();
#else
  return static_cast<uint32_t>(syscall(SYS_gettid));
#endif
}

uint32_t PlatformGetCurrentProcessId() {
#if defined(_WIN32)
  return NativeCurrentProcessId();
#else
  return static_cast<uint32_t>(getpid());
#endif
}

void PlatformExitProcess(uint32_t exitCode) {
  Log("ExitProcess(%u)", exitCode);
  throw NullPlatformExit{exitCode};
}

void PlatformInitCommonControls() { Log("InitCommonControls()"); }

// ---- class, display mode, cursor ----------------------------------------------------------

uint16_t PlatformRegisterClass(const WNDCLASSA* c) {
  Log("RegisterClass(%s, 0x%x, icon %zu, cursor %zu, brush %zu)", c->lpszClassName ? c->lpszClassName : "-",
      c->style, c->hIcon, c->hCursor, c->hbrBackground);
  // A class needs a procedure, as with the real backends.
  if (Failing(NullStep::RegisterClass)) return 0;
  return EmuRegisterClass(c);
}

bool PlatformUnregisterClass(const char* className, ModuleHandle /*instance*/) {
  Log("UnregisterClass(%s)", className ? className : "-");
  if (Failing(NullStep::UnregisterClass)) return false;
  return EmuUnregisterClass(className);
}

int32_t PlatformChangeDisplaySettings(const DEVMODEA* mode, uint32_t flags) {
  if (!mode) {
    Log("ChangeDisplaySettings(null, %u)", flags);
    state.fullscreen = false;
    return DISP_CHANGE_SUCCESSFUL;
  }
  Log("ChangeDisplaySettings(%ux%ux%u, fields 0x%x, size %u, flags %u)", mode->dmPelsWidth,
      mode->dmPelsHeight, mode->dmBitsPerPel, mode->dmFields, mode->dmSize, flags);
  if (Failing(NullStep::ChangeDisplaySettings)) return DISP_CHANGE_BADMODE;
  state.fullscreen = true;
  return DISP_CHANGE_SUCCESSFUL;
}

int32_t PlatformShowCursor(bool show) {
  state.cursor += show ? 1 : -1;
  Log("ShowCursor(%d)", show ? 1 : 0);
  return state.cursor;
}

// ---- window ---------------------------------------------------------------------------------

bool PlatformAdjustWindowRectEx(RECT* rect, uint32_t style, bool hasMenu, uint32_t exStyle) {
  Log("AdjustWindowRectEx(%d, %d, %d, %d, 0x%x, %d, 0x%x)", rect->left, rect->top, rect->right,
      rect->bottom, style, hasMenu ? 1 : 0, exStyle);
  if ((style & WS_CAPTION) == WS_CAPTION) {
    rect->left -= FrameSide;
    rect->right += FrameSide;
    rect->top -= FrameTop;
    rect->bottom += FrameSide;
  }
  return true;
}

WindowHandle PlatformCreateWindowEx(uint32_t exStyle, const char* className, const char* title,
                                    uint32_t style, int32_t x, int32_t y, int32_t width,
                                    int32_t height, WindowHandle parent, ModuleHandle /*instance*/) {
  Log("CreateWindowEx(0x%x, %s, %s, 0x%x, %d, %d, %d, %d, %s)", exStyle, className ? className : "-",
      title ? title : "-", style, x, y, width, height, Name(parent).c_str());
  if (Failing(NullStep::CreateWindow)) return nullptr;
  std::unique_ptr<PlatformWindowRec> rec = EmuNewWindow(className, style);
  if (!rec) return nullptr;
  PlatformWindowRec* window = EmuAddWindow(std::move(rec));
  // A window created visible gets its size at once, before any GL context.
  if (window->visible) {
    bool framed = (style & WS_CAPTION) == WS_CAPTION;
    int32_t clientW = framed ? width - 2 * FrameSide : width;
    int32_t clientH = framed ? height - FrameTop - FrameSide : height;
    EmuSend(window, WM_SIZE, SIZE_RESTORED,
         static_cast<intptr_t>((clientW & 0xFFFF) | ((clientH & 0xFFFF) << 16)));
  }
  return window;
}

bool PlatformDestroyWindow(WindowHandle window) {
  Log("DestroyWindow(%s)", Name(window).c_str());
  PlatformWindowRec* w = Live(window);
  if (Failing(NullStep::DestroyWindow) || !w) return false;
  if (state.foreground == w) state.foreground = nullptr;
  EmuRemoveWindow(w);
  return true;
}

bool PlatformShowWindow(WindowHandle window, int command) {
  Log("ShowWindow(%s, %d)", Name(window).c_str(), command);
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  bool was = w->visible;
  w->visible = command != 0;
  return was;
}

bool PlatformSetForegroundWindow(WindowHandle window) {
  Log("SetForegroundWindow(%s)", Name(window).c_str());
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  state.foreground = w;
  return true;
}

WindowHandle PlatformSetFocus(WindowHandle window) {
  Log("SetFocus(%s)", Name(window).c_str());
  return state.foreground;
}

// ---- GL context --------------------------------------------------------------------------------

DeviceContextHandle PlatformGetDC(WindowHandle window) {
  Log("GetDC(%s)", Name(window).c_str());
  PlatformWindowRec* w = Live(window);
  if (Failing(NullStep::GetDC) || !w) return nullptr;
  w->dc.window = w;
  return &w->dc;
}

int32_t PlatformReleaseDC(WindowHandle window, DeviceContextHandle dc) {
  Log("ReleaseDC(%s)", Name(window).c_str());
  PlatformWindowRec* w = LiveDC(dc);
  if (Failing(NullStep::ReleaseDC) || !w || w != window) return 0;
  return 1;
}

int32_t PlatformChoosePixelFormat(DeviceContextHandle dc, const PIXELFORMATDESCRIPTOR* r) {
  Log("ChoosePixelFormat(size %u, version %u, flags 0x%x, type %u, colour %u, depth %u, layer %u)",
      r->nSize, r->nVersion, r->dwFlags, r->iPixelType, r->cColorBits, r->cDepthBits, r->iLayerType);
  if (Failing(NullStep::ChoosePixelFormat) || !LiveDC(dc)) return 0;
  return 1;
}

bool PlatformSetPixelFormat(DeviceContextHandle dc, int32_t format, const PIXELFORMATDESCRIPTOR*) {
  Log("SetPixelFormat(%d)", format);
  PlatformWindowRec* w = LiveDC(dc);
  if (Failing(NullStep::SetPixelFormat) || !w || w->format != 0 || format <= 0) return false;
  w->format = format;
  return true;
}

RenderContextHandle PlatformCreateContext(DeviceContextHandle dc) {
  Log("CreateContext()");
  PlatformWindowRec* w = LiveDC(dc);
  if (Failing(NullStep::CreateContext) || !w || w->format == 0) return nullptr;
  state.contexts.push_back(std::make_unique<PlatformGLRec>(PlatformGLRec{w}));
  return state.contexts.back().get();
}

bool PlatformMakeCurrent(DeviceContextHandle dc, RenderContextHandle rc) {
  if (!dc && !rc) {
    Log("MakeCurrent(none)");
    if (Failing(NullStep::ReleaseCurrent)) return false;
    state.current = nullptr;
    return true;
  }
  Log("MakeCurrent()");
  PlatformWindowRec* w = LiveDC(dc);
  PlatformGLRec* c = LiveContext(rc);
  if (Failing(NullStep::MakeCurrent) || !w || !c || c->window != w) return false;
  state.current = c;
  return true;
}

bool PlatformDeleteContext(RenderContextHandle rc) {
  Log("DeleteContext()");
  PlatformGLRec* c = LiveContext(rc);
  if (Failing(NullStep::DeleteContext) || !c) return false;
  c->alive = false;
  if (state.current == c) state.current = nullptr;
  return true;
}

bool PlatformSwapBuffers(DeviceContextHandle dc) {
  Log("SwapBuffers()");
  return !Failing(NullStep::SwapBuffers) && LiveDC(dc) != nullptr;
}

// ---- messages ------------------------------------------------------------------------------------

uintptr_t PlatformSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  Log("SetTimer(%s, %zu, %u)", Name(window).c_str(), id, periodMs);
  if (Failing(NullStep::SetTimer) || !Live(window)) return 0;
  return id;
}

bool PlatformPeekMessage(MSG* message, uint32_t removeFlags) {
  if (++state.peeks > PassLimit) throw NullPlatformPassLimit{};
  if (TakeMessage(message, removeFlags)) return true;
  if (state.idle) {
    state.idle(++state.emptyPasses);
    if (TakeMessage(message, removeFlags)) return true;
  }
  return false;
}

// PlatformTranslateMessage, PlatformDispatchMessage, PlatformPostMessage,
// PlatformPostQuitMessage and PlatformDefWindowProc: the shared window manager.

// ---- requester services -------------------------------------------------------------------------------

// PlatformEnumWindows and PlatformGetWindowThreadProcessId: the shared window manager.

bool PlatformIsWindowVisible(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  return w && w->visible;
}

// PlatformIsWindowEnabled and PlatformEnableWindow: the shared window manager.

WindowHandle PlatformGetForegroundWindow() { return state.foreground; }

int PlatformMessageBox(WindowHandle owner, const char* text, const char* title, uint32_t flags) {
  Log("MessageBox(%s, %s, %s, %u)", Name(owner).c_str(), title ? title : "", text ? text : "", flags);
  if (Failing(NullStep::MessageBox)) {
    std::fprintf(stderr, "%s: %s\n", title ? title : "", text ? text : "");
    return 0;
  }
  if (!state.answers.empty()) {
    int answer = state.answers.front();
    state.answers.pop_front();
    return answer;
  }
  return flags == MB_YESNO ? IDNO : IDOK;
}

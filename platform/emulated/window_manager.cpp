// The emulated window manager shared by the SDL and null backends: classes,
// windows, the posted-message queue, dispatch, default handling and window
// enumeration (see window_manager.h).
#include "platform/emulated/window_manager.h"

#include <deque>
#include <mutex>

namespace {

struct ClassRec {
  std::string name;
  WNDCLASSA data;
};

struct TimerRec {
  PlatformWindowRec* window;
  uintptr_t id;
  uint32_t period;  // ms
  double due;       // backend clock, ms, of the next WM_TIMER
};

std::vector<ClassRec> classes;
std::vector<TimerRec> timers;  // main thread only
std::vector<std::unique_ptr<PlatformWindowRec>> windows;  // creation order, destroyed ones kept
std::deque<MSG> posted;  // posted messages, oldest first
// Guards posted, and the window table against a poster on another thread
// (the main thread changes the table only while holding it).
std::mutex queueLock;

ClassRec* FindClassRec(const char* name) {
  if (!name) return nullptr;
  for (auto& c : classes)
    if (c.name == name) return &c;
  return nullptr;
}

// EmuLive without the lock; the caller holds it or is the main thread.
PlatformWindowRec* LiveUnlocked(WindowHandle window) {
  if (!window) return nullptr;
  for (auto& w : windows)
    if (w.get() == window) return w->alive ? w.get() : nullptr;
  return nullptr;
}

}  // namespace

void EmuReset() {
  std::lock_guard guard(queueLock);
  classes.clear();
  windows.clear();
  posted.clear();
  timers.clear();
}

// ---- classes -------------------------------------------------------------------

uint16_t EmuRegisterClass(const WNDCLASSA* c) {
  // A class needs a name and a procedure, as RegisterClass does.
  if (!c || !c->lpszClassName || !c->lpfnWndProc || FindClassRec(c->lpszClassName)) return 0;
  classes.push_back({c->lpszClassName, *c});
  return static_cast<uint16_t>(0xC000 + classes.size());
}

bool EmuUnregisterClass(const char* className) {
  ClassRec* c = FindClassRec(className);
  if (!c) return false;
  for (auto& w : windows)
    if (w->alive && w->className == c->name) return false;
  classes.erase(classes.begin() + (c - classes.data()));
  return true;
}

const WNDCLASSA* EmuFindClass(const char* className) {
  ClassRec* c = FindClassRec(className);
  return c ? &c->data : nullptr;
}

// ---- windows -----------------------------------------------------------------------

std::unique_ptr<PlatformWindowRec> EmuNewWindow(const char* className, uint32_t style) {
  const WNDCLASSA* windowClass = EmuFindClass(className);
  if (!windowClass) return nullptr;
  auto rec = std::make_unique<PlatformWindowRec>();
  rec->className = className;
  rec->proc = windowClass->lpfnWndProc;
  rec->style = style;
  rec->visible = (style & WS_VISIBLE) != 0;
  rec->thread = PlatformGetCurrentThreadId();
  rec->process = PlatformGetCurrentProcessId();
  return rec;
}

PlatformWindowRec* EmuAddWindow(std::unique_ptr<PlatformWindowRec> window) {
  std::lock_guard guard(queueLock);
  window->number = static_cast<int>(windows.size()) + 1;
  windows.push_back(std::move(window));
  return windows.back().get();
}

void EmuRemoveWindow(PlatformWindowRec* window) {
  std::lock_guard guard(queueLock);
  window->alive = false;
  // Messages posted to it and its timers go with it, as on Windows.
  std::erase_if(posted, [window](const MSG& m) { return m.hwnd == window; });
  std::erase_if(timers, [window](const TimerRec& t) { return t.window == window; });
}

PlatformWindowRec* EmuLive(WindowHandle window) { return LiveUnlocked(window); }

PlatformWindowRec* EmuLiveDC(DeviceContextHandle dc) {
  if (!dc) return nullptr;
  for (auto& w : windows)
    if (&w->dc == dc && w->alive && w->dc.window) return w.get();
  return nullptr;
}

PlatformWindowRec* EmuNewestWindow() {
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->alive) return it->get();
  return nullptr;
}

const std::vector<std::unique_ptr<PlatformWindowRec>>& EmuWindows() { return windows; }

std::string EmuWindowName(WindowHandle window) {
  if (!window) return "-";
  for (auto& w : windows)
    if (w.get() == window) return "w" + std::to_string(w->number);
  return "?";
}

// ---- messages -------------------------------------------------------------------------

intptr_t EmuSend(PlatformWindowRec* window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return window->proc ? window->proc(window, message, wParam, lParam) : 0;
}

bool EmuPost(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  std::lock_guard guard(queueLock);
  // PostMessage fails for a window that does not exist (any more).
  if (window && !LiveUnlocked(window)) return false;
  posted.push_back(MSG{window, message, wParam, lParam});
  return true;
}

bool EmuTakePosted(MSG* message, uint32_t removeFlags) {
  std::lock_guard guard(queueLock);
  if (posted.empty()) return false;
  *message = posted.front();
  if (removeFlags & PM_REMOVE) posted.pop_front();
  return true;
}

std::vector<MSG> EmuPostedMessages() {
  std::lock_guard guard(queueLock);
  return {posted.begin(), posted.end()};
}

// ---- timers ----------------------------------------------------------------------

uintptr_t EmuSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs, double nowMs) {
  PlatformWindowRec* w = LiveUnlocked(window);
  if (!w || periodMs == 0) return 0;
  const double due = nowMs + periodMs;
  for (auto& t : timers) {
    if (t.window == w && t.id == id) {
      t.period = periodMs;
      t.due = due;
      return id;
    }
  }
  timers.push_back({w, id, periodMs, due});
  return id;
}

bool EmuTakeDueTimer(MSG* message, uint32_t removeFlags, double nowMs) {
  for (auto& t : timers) {
    if (nowMs < t.due) continue;
    *message = MSG{t.window, WM_TIMER, t.id, 0};
    if (removeFlags & PM_REMOVE) {
      t.due += t.period;
      if (t.due <= nowMs) t.due = nowMs + t.period;
    }
    return true;
  }
  return false;
}

// ---- the shared part of platform/window.h ------------------------------------------------

bool PlatformTranslateMessage(const MSG* message) {
  // No character messages: the demo reads key codes only.
  uint32_t m = message->message;
  return m == WM_KEYDOWN || m == WM_KEYUP || m == WM_SYSKEYDOWN || m == WM_SYSKEYUP;
}

intptr_t PlatformDispatchMessage(const MSG* message) {
  PlatformWindowRec* w = EmuLive(message->hwnd);
  return w ? EmuSend(w, message->message, message->wParam, message->lParam) : 0;
}

bool PlatformPostMessage(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  return EmuPost(window, message, wParam, lParam);
}

void PlatformPostQuitMessage(int32_t exitCode) {
  EmuBackendTrace("PostQuitMessage(%d)", exitCode);
  EmuPost(nullptr, WM_QUIT, static_cast<uintptr_t>(exitCode), 0);
}

intptr_t PlatformDefWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  EmuBackendTrace("DefWindowProc(%s, 0x%x, 0x%zx)", EmuWindowName(window).c_str(), message, wParam);
  PlatformWindowRec* w = EmuLive(window);
  if (!w) return 0;
  // The low four bits of a WM_SYSCOMMAND code are the system's own.
  if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_CLOSE) {
    EmuSend(w, WM_CLOSE, 0, 0);
  } else if (message == WM_SYSCOMMAND && (wParam & 0xFFF0) == SC_MINIMIZE) {
    EmuBackendMinimise(w);
  } else if (message == WM_SYSKEYDOWN && wParam == VK_F4 && (lParam & KeyLParamAltDown)) {
    EmuSend(w, WM_SYSCOMMAND, SC_CLOSE, 0);
  }
  return 0;
}

bool PlatformEnumWindows(WindowEnumProc visit, intptr_t lParam) {
  // The list is taken first: a visitor may create or destroy windows.
  std::vector<PlatformWindowRec*> order;
  for (auto it = windows.rbegin(); it != windows.rend(); ++it)
    if ((*it)->alive) order.push_back(it->get());
  for (PlatformWindowRec* w : order)
    if (EmuLive(w) && !visit(w, lParam)) return false;
  return true;
}

uint32_t PlatformGetWindowThreadProcessId(WindowHandle window, uint32_t* processId) {
  PlatformWindowRec* w = EmuLive(window);
  if (processId) *processId = w ? w->process : 0;
  return w ? w->thread : 0;
}

bool PlatformIsWindowEnabled(WindowHandle window) {
  PlatformWindowRec* w = EmuLive(window);
  return w && w->enabled;
}

bool PlatformEnableWindow(WindowHandle window, bool enable) {
  EmuBackendTrace("EnableWindow(%s, %d)", EmuWindowName(window).c_str(), enable ? 1 : 0);
  PlatformWindowRec* w = EmuLive(window);
  if (!w) return false;
  bool wasDisabled = !w->enabled;
  w->enabled = enable;
  return wasDisabled;
}

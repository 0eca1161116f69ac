// The window-system backend in the browser: the page's canvas as the one
// window, WebGL through EGL as its GL context, DOM events as window
// messages, the page's own modal box as the message box, the Fullscreen API
// for the display-mode change.
//
// The shell's loop blocks (it peeks and sleeps); the program is built with
// ASYNCIFY, so a sleep or a box waiting for its click hands the page back
// to the browser and resumes afterwards. Events arrive while it waits and
// are queued as messages at once. One thread.
#include <EGL/egl.h>
#include <GL/gl.h>
#include <emscripten.h>
#include <emscripten/html5.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/emulated/window_manager.h"
#include "platform/web/gl_layer.h"
#include "platform/web/web_clock.h"
#include "platform/window.h"

struct BackendWindowRec {
  bool minimised = false;
  int32_t width = 0, height = 0;  // the canvas, the client area
};

struct PlatformGLRec {
  EGLContext context;
  EGLSurface surface;
  PlatformWindowRec* window;
};

namespace {

// One format: double-buffered RGBA with a depth buffer (WebGL's depth
// buffer is at least 16 bits; browsers give 24).
constexpr int32_t OnlyFormat = 1;

EGLDisplay display = EGL_NO_DISPLAY;
std::vector<std::unique_ptr<PlatformGLRec>> contexts;
int32_t cursorCounter = 0;
bool fullscreenHeld = false;  // full screen entered by the program and in force
bool listening = false;
int testMode = -1;            // ?test=1 in the page's address: count GL errors

// ---- page side ------------------------------------------------------------------------

EM_JS(void, JsSetCanvas, (int visible, int width, int height), {
  const canvas = Module.canvas;
  if (!canvas) return;
  if (width > 0) { canvas.width = width; canvas.height = height; }
  canvas.style.display = visible ? 'block' : 'none';
});

EM_JS(void, JsSetCursorHidden, (int hidden), {
  const stage = document.getElementById('zephyra-stage') || document.body;
  stage.classList.toggle('zephyra-no-cursor', !!hidden);
});

EM_JS(void, JsFocusCanvas, (), {
  if (Module.canvas && Module.canvas.focus) Module.canvas.focus();
});

// Full screen for the stage that holds the canvas; the click that answered
// the question counts as the user's gesture. Keyboard lock, where offered,
// keeps Escape for the page. Answers 1 when the browser went full screen.
EM_ASYNC_JS(int, JsEnterFullscreen, (), {
  const stage = document.getElementById('zephyra-stage') || Module.canvas;
  if (!stage || !stage.requestFullscreen || !document.fullscreenEnabled) return 0;
  try {
    await Promise.race([
      stage.requestFullscreen({navigationUI: 'hide'}),
      new Promise((_, reject) => setTimeout(() => reject(new Error('no answer')), 3000))
    ]);
  } catch (e) {
    return 0;
  }
  if (!document.fullscreenElement) return 0;
  Module.zephyraKeyboardLocked = false;
  if (navigator.keyboard && navigator.keyboard.lock) {
    try {
      await navigator.keyboard.lock(['Escape']);
      Module.zephyraKeyboardLocked = true;
    } catch (e) {}
  }
  return 1;
});

EM_JS(void, JsLeaveFullscreen, (), {
  if (navigator.keyboard && navigator.keyboard.unlock) navigator.keyboard.unlock();
  Module.zephyraKeyboardLocked = false;
  if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen().catch(() => {});
});

// The page's modal box: title, text and Yes/No or OK. Return picks the first
// button, Escape No (or OK). The answering click or key is the gesture the
// browser needs for sound and full screen: the page's hook
// Module.zephyraUserGesture(answer) runs inside it. Answers the button's
// result, or 0 when the page has no box.
EM_ASYNC_JS(int, JsMessageBox, (const char* textPtr, const char* titlePtr, int yesNo), {
  const text = UTF8ToString(textPtr);
  const title = UTF8ToString(titlePtr);
  const box = document.getElementById('zephyra-box');
  if (!box) return 0;
  const yes = document.getElementById('zephyra-yes');
  const no = document.getElementById('zephyra-no');
  const ok = document.getElementById('zephyra-ok');
  document.getElementById('zephyra-box-title').textContent = title;
  document.getElementById('zephyra-box-text').textContent = text;
  yes.hidden = !yesNo;
  no.hidden = !yesNo;
  ok.hidden = !!yesNo;
  box.dataset.kind = yesNo ? 'yesno' : 'ok';
  box.hidden = false;
  const first = yesNo ? yes : ok;
  first.focus();
  const answer = await new Promise((resolve) => {
    const done = (value) => {
      yes.onclick = no.onclick = ok.onclick = null;
      document.removeEventListener('keydown', onKey, true);
      box.hidden = true;
      try {
        if (typeof Module.zephyraUserGesture === 'function') Module.zephyraUserGesture(value);
      } catch (e) {
        console.error(e);
      }
      resolve(value);
    };
    const onKey = (e) => {
      if (e.key === 'Enter') { e.preventDefault(); e.stopPropagation(); done(yesNo ? 6 : 1); }
      else if (e.key === 'Escape') { e.preventDefault(); e.stopPropagation(); done(yesNo ? 7 : 1); }
    };
    yes.onclick = () => done(6);
    no.onclick = () => done(7);
    ok.onclick = () => done(1);
    document.addEventListener('keydown', onKey, true);
  });
  return answer;
});

// The end: the page says so and keeps the exit code for whoever asks.
EM_JS(void, JsShowEnded, (int code), {
  if (navigator.keyboard && navigator.keyboard.unlock) navigator.keyboard.unlock();
  if (document.fullscreenElement && document.exitFullscreen) document.exitFullscreen().catch(() => {});
  const stage = document.getElementById('zephyra-stage');
  if (stage) stage.classList.remove('zephyra-no-cursor');
  if (Module.canvas) Module.canvas.style.display = 'none';
  const ended = document.getElementById('zephyra-ended');
  if (ended) {
    ended.hidden = false;
    const codeText = document.getElementById('zephyra-exit-code');
    if (codeText) codeText.textContent = String(code);
  }
  document.body.dataset.exitCode = String(code);
  window.zephyraExit = code;
  document.dispatchEvent(new CustomEvent('zephyra-exit', {detail: code}));
});

EM_JS(int, JsTestMode, (), {
  return new URLSearchParams(location.search).get('test') === '1' ? 1 : 0;
});

EM_JS(void, JsCountGlErrors, (int count), {
  window.zephyraGlErrors = (window.zephyraGlErrors || 0) + count;
});

// ---- messages from the page ------------------------------------------------------------

PlatformWindowRec* Live(WindowHandle window) { return EmuLive(window); }
PlatformWindowRec* LiveDC(DeviceContextHandle dc) { return EmuLiveDC(dc); }

PlatformGLRec* LiveContext(RenderContextHandle rc) {
  for (auto& c : contexts)
    if (c.get() == rc) return c.get();
  return nullptr;
}

// The window that takes input: the newest live, visible, enabled one.
PlatformWindowRec* InputWindow() {
  PlatformWindowRec* w = EmuNewestWindow();
  return w && w->visible && w->enabled ? w : nullptr;
}

intptr_t PackSize(int32_t width, int32_t height) {
  return static_cast<intptr_t>((static_cast<uint32_t>(width) & 0xFFFF) |
                               ((static_cast<uint32_t>(height) & 0xFFFF) << 16));
}

// DOM key codes are the Windows virtual-key codes for every key the other
// backends report; other keys report nothing.
uintptr_t VirtualKey(unsigned long code) {
  if ((code >= 'A' && code <= 'Z') || (code >= '0' && code <= '9')) return code;
  if (code >= VK_F1 && code <= VK_F12) return code;
  if (code >= VK_NUMPAD0 && code <= VK_NUMPAD0 + 9) return code;
  switch (code) {
    case VK_ESCAPE: case VK_RETURN: case VK_SPACE: case VK_TAB: case VK_BACK: case VK_SHIFT:
    case VK_CONTROL: case VK_MENU: case VK_PAUSE: case VK_CAPITAL: case VK_PRIOR: case VK_NEXT:
    case VK_END: case VK_HOME: case VK_LEFT: case VK_UP: case VK_RIGHT: case VK_DOWN:
    case VK_INSERT: case VK_DELETE:
      return code;
    default: return 0;
  }
}

EM_BOOL OnKey(int type, const EmscriptenKeyboardEvent* e, void*) {
  PlatformWindowRec* w = InputWindow();
  if (!w) return EM_FALSE;
  const uintptr_t vk = VirtualKey(e->keyCode);
  if (vk == 0) return EM_FALSE;
  const bool down = type == EMSCRIPTEN_EVENT_KEYDOWN;
  const bool alt = e->altKey, ctrl = e->ctrlKey;
  // Alt combinations, Alt itself and F10 are system keys, as on Windows.
  const bool system = (alt && !ctrl) || vk == VK_MENU || vk == VK_F10;
  intptr_t lParam = 1;
  if (alt) lParam |= KeyLParamAltDown;
  if (!down || e->repeat) lParam |= intptr_t{1} << 30;
  if (!down) lParam |= intptr_t{1} << 31;
  const uint32_t message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  EmuPost(w, message, vk, lParam);
  // The page keeps keys the demo uses from scrolling or leaving it; function
  // keys and the rest stay the browser's.
  return vk == VK_ESCAPE || vk == VK_SPACE || vk == VK_TAB || vk == VK_BACK || (vk >= VK_PRIOR && vk <= VK_DOWN);
}

void Minimise(PlatformWindowRec* w) {
  if (w->own->minimised) return;
  w->own->minimised = true;
  EmuPost(w, WM_SIZE, SIZE_MINIMIZED, 0);
  EmuPost(w, WM_ACTIVATE, WA_INACTIVE | (uintptr_t{1} << 16), 0);
}

void Restore(PlatformWindowRec* w) {
  if (!w->own->minimised) return;
  w->own->minimised = false;
  EmuPost(w, WM_SIZE, SIZE_RESTORED, PackSize(w->own->width, w->own->height));
  EmuPost(w, WM_ACTIVATE, WA_ACTIVE, 0);
}

// A hidden page is a minimised window: drawing pauses, the music goes on.
EM_BOOL OnVisibility(int, const EmscriptenVisibilityChangeEvent* e, void*) {
  for (auto& w : EmuWindows()) {
    if (!w->alive) continue;
    if (e->hidden) Minimise(w.get());
    else Restore(w.get());
  }
  return EM_FALSE;
}

// Leaving the full screen the program entered ends the demo as Escape
// does: where the browser keeps Escape for itself this is the only Escape
// the page sees. The key stays held, so the loop sees it.
EM_BOOL OnFullscreenChange(int, const EmscriptenFullscreenChangeEvent* e, void*) {
  if (e->isFullscreen || !fullscreenHeld) return EM_FALSE;
  fullscreenHeld = false;
  if (PlatformWindowRec* w = InputWindow()) EmuPost(w, WM_KEYDOWN, VK_ESCAPE, 1);
  return EM_FALSE;
}

void Listen() {
  if (listening) return;
  listening = true;
  emscripten_set_keydown_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKey);
  emscripten_set_keyup_callback(EMSCRIPTEN_EVENT_TARGET_WINDOW, nullptr, EM_TRUE, OnKey);
  emscripten_set_visibilitychange_callback(nullptr, EM_FALSE, OnVisibility);
  emscripten_set_fullscreenchange_callback(EMSCRIPTEN_EVENT_TARGET_DOCUMENT, nullptr, EM_FALSE, OnFullscreenChange);
}

bool Initialise() {
  if (display != EGL_NO_DISPLAY) return true;
  EGLDisplay d = eglGetDisplay(EGL_DEFAULT_DISPLAY);
  if (d == EGL_NO_DISPLAY || eglInitialize(d, nullptr, nullptr) != EGL_TRUE) return false;
  display = d;
  return true;
}

}  // namespace

// ---- hooks of the shared window manager ----------------------------------------------

// The page cannot be minimised by the program; the window acts as if it were
// until the page is next shown.
void EmuBackendMinimise(PlatformWindowRec* w) { Minimise(w); }
void EmuBackendTrace(const char* /*format*/, ...) {}

// ---- process ---------------------------------------------------------------------------

ModuleHandle PlatformGetModuleHandle() {
  static const char self = 0;
  return const_cast<char*>(&self);
}

const char* PlatformGetCommandLine() { return "zephyra"; }
uint32_t PlatformGetCurrentThreadId() { return 1; }
uint32_t PlatformGetCurrentProcessId() { return 1; }

void PlatformExitProcess(uint32_t exitCode) {
  std::fflush(nullptr);
  JsShowEnded(static_cast<int>(exitCode));
  emscripten_force_exit(static_cast<int>(exitCode));
}

void PlatformInitCommonControls() { Listen(); }

// ---- class, display mode, cursor -------------------------------------------------------

uint16_t PlatformRegisterClass(const WNDCLASSA* c) { return EmuRegisterClass(c); }

bool PlatformUnregisterClass(const char* className, ModuleHandle) { return EmuUnregisterClass(className); }

// The display keeps its mode: the page's stage goes full screen and the
// 640 x 480 canvas is scaled to the screen with its aspect kept.
int32_t PlatformChangeDisplaySettings(const DEVMODEA* mode, uint32_t) {
  Listen();
  if (!mode) {
    fullscreenHeld = false;
    JsLeaveFullscreen();
    return DISP_CHANGE_SUCCESSFUL;
  }
  if (!JsEnterFullscreen()) return DISP_CHANGE_FAILED;
  fullscreenHeld = true;
  return DISP_CHANGE_SUCCESSFUL;
}

int32_t PlatformShowCursor(bool show) {
  cursorCounter += show ? 1 : -1;
  JsSetCursorHidden(cursorCounter < 0 ? 1 : 0);
  return cursorCounter;
}

// ---- window ------------------------------------------------------------------------------

bool PlatformAdjustWindowRectEx(RECT* rect, uint32_t, bool, uint32_t) {
  // The canvas is all client area: the outer rectangle is the client one.
  return rect != nullptr;
}

WindowHandle PlatformCreateWindowEx(uint32_t, const char* className, const char* /*title*/, uint32_t style,
                                    int32_t, int32_t, int32_t width, int32_t height, WindowHandle, ModuleHandle) {
  if (!EmuFindClass(className) || width <= 0 || height <= 0) return nullptr;
  // The page has one canvas: one window at a time.
  for (auto& w : EmuWindows())
    if (w->alive) return nullptr;
  Listen();
  std::unique_ptr<PlatformWindowRec> rec = EmuNewWindow(className, style);
  if (!rec) return nullptr;
  rec->own = {new BackendWindowRec, [](BackendWindowRec* own) { delete own; }};
  rec->own->width = width;
  rec->own->height = height;
  JsSetCanvas((style & WS_VISIBLE) ? 1 : 0, width, height);
  PlatformWindowRec* w = EmuAddWindow(std::move(rec));
  if (EM_ASM_INT({ return document.hidden ? 1 : 0; })) Minimise(w);
  return w;
}

bool PlatformDestroyWindow(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  for (auto& c : contexts)
    if (c->window == w) c->window = nullptr;
  JsSetCanvas(0, 0, 0);
  EmuRemoveWindow(w);
  w->own.reset();
  return true;
}

bool PlatformShowWindow(WindowHandle window, int command) {
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  const bool was = w->visible;
  w->visible = command != 0;
  JsSetCanvas(w->visible ? 1 : 0, 0, 0);
  return was;
}

bool PlatformSetForegroundWindow(WindowHandle window) {
  if (!Live(window)) return false;
  JsFocusCanvas();
  return true;
}

WindowHandle PlatformSetFocus(WindowHandle window) {
  WindowHandle before = PlatformGetForegroundWindow();
  if (Live(window)) JsFocusCanvas();
  return before;
}

// ---- GL context ----------------------------------------------------------------------------

DeviceContextHandle PlatformGetDC(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  if (!w) return nullptr;
  w->dc.window = w;
  return &w->dc;
}

int32_t PlatformReleaseDC(WindowHandle window, DeviceContextHandle dc) {
  PlatformWindowRec* w = LiveDC(dc);
  return w && w == window ? 1 : 0;
}

int32_t PlatformChoosePixelFormat(DeviceContextHandle dc, const PIXELFORMATDESCRIPTOR* r) {
  if (!LiveDC(dc) || !r || r->nSize != sizeof(PIXELFORMATDESCRIPTOR) || r->nVersion != 1) return 0;
  if (!(r->dwFlags & PFD_DRAW_TO_WINDOW) || !(r->dwFlags & PFD_SUPPORT_OPENGL) || r->iPixelType != PFD_TYPE_RGBA)
    return 0;
  return OnlyFormat;
}

bool PlatformSetPixelFormat(DeviceContextHandle dc, int32_t format, const PIXELFORMATDESCRIPTOR*) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || w->format != 0 || format != OnlyFormat) return false;
  w->format = format;
  return true;
}

RenderContextHandle PlatformCreateContext(DeviceContextHandle dc) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || w->format == 0 || !Initialise()) return nullptr;
  // No alpha: the clear colour's alpha of 0 must not let the page show
  // through. No multisampling, as a plain window format has none.
  const EGLint attributes[] = {EGL_RED_SIZE, 8, EGL_GREEN_SIZE, 8, EGL_BLUE_SIZE, 8, EGL_ALPHA_SIZE, 0,
                               EGL_DEPTH_SIZE, 24, EGL_STENCIL_SIZE, 0, EGL_SAMPLES, 0, EGL_NONE};
  EGLConfig config;
  EGLint found = 0;
  if (eglChooseConfig(display, attributes, &config, 1, &found) != EGL_TRUE || found < 1) return nullptr;
  EGLSurface surface = eglCreateWindowSurface(display, config, 0, nullptr);
  if (surface == EGL_NO_SURFACE) return nullptr;
  // WebGL 1, which the fixed-function emulation runs on.
  const EGLint contextAttributes[] = {EGL_CONTEXT_CLIENT_VERSION, 2, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
  if (context == EGL_NO_CONTEXT) {
    eglDestroySurface(display, surface);
    return nullptr;
  }
  // A new context: the display-list layer starts empty over it.
  GlLayerInstall(GlSystemTable());
  contexts.push_back(std::make_unique<PlatformGLRec>(PlatformGLRec{context, surface, w}));
  return contexts.back().get();
}

bool PlatformMakeCurrent(DeviceContextHandle dc, RenderContextHandle rc) {
  if (!dc && !rc) return display == EGL_NO_DISPLAY || eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT) == EGL_TRUE;
  PlatformWindowRec* w = LiveDC(dc);
  PlatformGLRec* c = LiveContext(rc);
  if (!w || !c || c->window != w) return false;
  return eglMakeCurrent(display, c->surface, c->surface, c->context) == EGL_TRUE;
}

bool PlatformDeleteContext(RenderContextHandle rc) {
  PlatformGLRec* c = LiveContext(rc);
  if (!c) return false;
  eglDestroyContext(display, c->context);
  eglDestroySurface(display, c->surface);
  std::erase_if(contexts, [c](const auto& each) { return each.get() == c; });
  return true;
}

// The browser shows the canvas when the page next gets control (the loop's
// sleep). With ?test=1 in the address, GL errors are counted after each
// frame into window.zephyraGlErrors; otherwise they are never asked for.
bool PlatformSwapBuffers(DeviceContextHandle dc) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || w->format == 0) return false;
  for (auto& c : contexts) {
    if (c->window != w) continue;
    eglSwapBuffers(display, c->surface);
    if (testMode < 0) testMode = JsTestMode();
    if (testMode == 1) {
      int errors = 0;
      while (glGetError() != GL_NO_ERROR && errors < 100) ++errors;
      if (errors) JsCountGlErrors(errors);
    }
    return true;
  }
  return false;
}

// ---- messages --------------------------------------------------------------------------------

uintptr_t PlatformSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  return EmuSetTimer(window, id, periodMs, WebClockNow());
}

bool PlatformPeekMessage(MSG* message, uint32_t removeFlags) {
  // A loop that only peeks (a hidden page draws nothing) still lets the
  // browser run now and then, or no event would ever arrive.
  WebYieldIfDue();
  // The sound library delivers the syncs now heard, inside the loop's pass.
  EM_ASM({ if (Module.zephyraAudioPump) Module.zephyraAudioPump(); });
  if (EmuTakePosted(message, removeFlags)) return true;
  return EmuTakeDueTimer(message, removeFlags, WebClockNow());
}

// ---- requester services ------------------------------------------------------------------------

bool PlatformIsWindowVisible(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  return w && w->visible;
}

WindowHandle PlatformGetForegroundWindow() {
  PlatformWindowRec* w = EmuNewestWindow();
  return w && w->visible ? w : nullptr;
}

int PlatformMessageBox(WindowHandle /*owner*/, const char* text, const char* title, uint32_t flags) {
  const char* t = title ? title : "";
  const char* x = text ? text : "";
  const int answer = JsMessageBox(x, t, flags == MB_YESNO ? 1 : 0);
  if (answer == 0) {
    std::fprintf(stderr, "%s: %s\n", t, x);
    std::fflush(stderr);
  }
  return answer;
}

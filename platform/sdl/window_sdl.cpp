// The real window-system backend on SDL2: window, display mode, cursor, GL
// context, message queue and the message box.
//
// SDL events become window messages in the queue that PlatformPeekMessage
// reads one at a time; the shared window manager's timers become WM_TIMER
// when due and nothing else waits, on SDL's millisecond clock. Main thread only, except PlatformPostMessage.
#include <SDL2/SDL.h>
#include <dlfcn.h>
#include <link.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "platform/emulated/window_manager.h"
#include "platform/window.h"

// A pixel format this backend can set: buffering and depth-buffer bits.
struct FormatChoice {
  bool doubleBuffer;
  int depthBits;
};

// The SDL backend's own part of a window (the rest is the shared window
// manager's record, platform/emulated/window_manager.h).
struct BackendWindowRec {
  SDL_Window* sdl = nullptr;
  uint32_t sdlId = 0;
  std::string title;
  int32_t x = 0, y = 0, width = 0, height = 0;
  uint32_t sdlFlags = 0;       // flags the SDL window was created with
  int32_t createdFormat = 0;   // format the native window was made for
  bool minimised = false;
  intptr_t reportedSize = -1;  // lParam of the last WM_SIZE queued, -1 before the first
};

struct PlatformGLRec {
  SDL_GLContext context;
  PlatformWindowRec* window;
};

namespace {

// Formats by number (index + 1): double-buffered first, deepest depth first.
// A request is answered with the nearest of these the driver offers.
constexpr FormatChoice Formats[] = {
    {true, 32}, {true, 24}, {true, 16}, {false, 32}, {false, 24}, {false, 16},
};
constexpr int32_t FormatCount = sizeof(Formats) / sizeof(Formats[0]);

constexpr int MessageBoxAttempts = 3;
constexpr uint32_t MessageBoxRetryMs = 100;

std::vector<std::unique_ptr<PlatformGLRec>> contexts;
int32_t cursorCounter = 0;
bool fullscreenModeSet = false;  // a successful full-screen switch is in force
SDL_DisplayMode fullscreenMode{};
bool videoReady = false;
bool hintsSet = false;

void SetHints() {
  if (hintsSet) return;
  hintsSet = true;
  // The demo keeps the screen saver off while it runs; closing the window
  // is a WM_CLOSE of its own, not a quit of the whole library.
  SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "0");
  SDL_SetHint(SDL_HINT_QUIT_ON_LAST_WINDOW_CLOSE, "0");
}

// Starts SDL's video on a real display. Without SDL_VIDEODRIVER set, SDL
// would fall back to its offscreen driver when there is no display, and the
// demo would run where nobody can see it: only drivers that show something
// are tried then.
bool EnsureVideo() {
  if (videoReady) return true;
  SetHints();
  const char* chosen = std::getenv("SDL_VIDEODRIVER");
  if (chosen && *chosen) {
    videoReady = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
  } else {
    for (int i = 0; i < SDL_GetNumVideoDrivers() && !videoReady; ++i) {
      const char* name = SDL_GetVideoDriver(i);
      if (!name || !std::strcmp(name, "offscreen") || !std::strcmp(name, "dummy") ||
          !std::strcmp(name, "evdev"))
        continue;
      SDL_SetHint(SDL_HINT_VIDEODRIVER, name);
      videoReady = SDL_InitSubSystem(SDL_INIT_VIDEO) == 0;
    }
  }
  if (videoReady) {
    SDL_DisableScreenSaver();
    SDL_ShowCursor(cursorCounter >= 0 ? SDL_ENABLE : SDL_DISABLE);
  }
  return videoReady;
}

PlatformWindowRec* Live(WindowHandle window) { return EmuLive(window); }
PlatformWindowRec* LiveDC(DeviceContextHandle dc) { return EmuLiveDC(dc); }

PlatformGLRec* LiveContext(RenderContextHandle rc) {
  if (!rc) return nullptr;
  for (auto& c : contexts)
    if (c.get() == rc) return c.get();
  return nullptr;
}

PlatformWindowRec* BySdlId(uint32_t id) {
  for (auto& w : EmuWindows())
    if (w->alive && w->own->sdlId == id) return w.get();
  return nullptr;
}

void ApplyFormatAttributes(const FormatChoice& f) {
  SDL_GL_ResetAttributes();
  SDL_GL_SetAttribute(SDL_GL_DOUBLEBUFFER, f.doubleBuffer ? 1 : 0);
  SDL_GL_SetAttribute(SDL_GL_DEPTH_SIZE, f.depthBits);
  // No colour depth is asked for: any RGBA visual of the display will do.
  SDL_GL_SetAttribute(SDL_GL_RED_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_GREEN_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_BLUE_SIZE, 0);
  SDL_GL_SetAttribute(SDL_GL_ALPHA_SIZE, 0);
}

// Creates the native window for format (1-based), falling back through the
// formats after it when alsoShallower; answers the format used, 0 on failure.
int32_t CreateNativeWindow(PlatformWindowRec* w, int32_t format, bool alsoShallower) {
  for (int32_t f = format; f <= FormatCount; ++f) {
    ApplyFormatAttributes(Formats[f - 1]);
    w->own->sdl = SDL_CreateWindow(w->own->title.c_str(), w->own->x, w->own->y, w->own->width, w->own->height, w->own->sdlFlags);
    if (w->own->sdl) {
      w->own->sdlId = SDL_GetWindowID(w->own->sdl);
      return f;
    }
    if (!alsoShallower || Formats[f - 1].doubleBuffer != Formats[format - 1].doubleBuffer) break;
  }
  return 0;
}

// True when the driver offers format: a hidden 1 x 1 window is made for it
// (on X11 a GL window's visual is fixed when it is created).
bool DriverOffers(int32_t format) {
  ApplyFormatAttributes(Formats[format - 1]);
  SDL_Window* probe = SDL_CreateWindow("", 0, 0, 1, 1, SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
  if (!probe) return false;
  SDL_DestroyWindow(probe);
  return true;
}

// Appends a message for a live window to the queue.
void Queue(PlatformWindowRec* w, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  EmuPost(w, message, wParam, lParam);
}

intptr_t PackSize(int32_t width, int32_t height) {
  return static_cast<intptr_t>((static_cast<uint32_t>(width) & 0xFFFF) |
                               ((static_cast<uint32_t>(height) & 0xFFFF) << 16));
}

// Windows virtual-key code of an SDL key, 0 for keys the demo has no code for.
uintptr_t VirtualKey(const SDL_Keysym& key) {
  SDL_Keycode k = key.sym;
  if (k >= SDLK_a && k <= SDLK_z) return 'A' + (k - SDLK_a);
  if (k >= SDLK_0 && k <= SDLK_9) return '0' + (k - SDLK_0);
  if (k >= SDLK_F1 && k <= SDLK_F12) return VK_F1 + (k - SDLK_F1);
  if (k >= SDLK_KP_1 && k <= SDLK_KP_9) return VK_NUMPAD0 + 1 + (k - SDLK_KP_1);
  switch (k) {
    case SDLK_ESCAPE: return VK_ESCAPE;
    case SDLK_RETURN: case SDLK_KP_ENTER: return VK_RETURN;
    case SDLK_SPACE: return VK_SPACE;
    case SDLK_TAB: return VK_TAB;
    case SDLK_BACKSPACE: return VK_BACK;
    case SDLK_LSHIFT: case SDLK_RSHIFT: return VK_SHIFT;
    case SDLK_LCTRL: case SDLK_RCTRL: return VK_CONTROL;
    case SDLK_LALT: case SDLK_RALT: return VK_MENU;
    case SDLK_PAUSE: return VK_PAUSE;
    case SDLK_CAPSLOCK: return VK_CAPITAL;
    case SDLK_PAGEUP: return VK_PRIOR;
    case SDLK_PAGEDOWN: return VK_NEXT;
    case SDLK_END: return VK_END;
    case SDLK_HOME: return VK_HOME;
    case SDLK_LEFT: return VK_LEFT;
    case SDLK_UP: return VK_UP;
    case SDLK_RIGHT: return VK_RIGHT;
    case SDLK_DOWN: return VK_DOWN;
    case SDLK_INSERT: return VK_INSERT;
    case SDLK_DELETE: return VK_DELETE;
    case SDLK_KP_0: return VK_NUMPAD0;
    default: return 0;
  }
}

void TranslateKey(const SDL_KeyboardEvent& e) {
  PlatformWindowRec* w = BySdlId(e.windowID);
  if (!w || !w->enabled) return;  // a disabled window takes no input
  uintptr_t vk = VirtualKey(e.keysym);
  if (vk == 0) return;
  bool down = e.type == SDL_KEYDOWN;
  bool alt = (e.keysym.mod & KMOD_ALT) != 0;
  bool ctrl = (e.keysym.mod & KMOD_CTRL) != 0;
  // Alt combinations, Alt itself and F10 are system keys.
  bool system = (alt && !ctrl) || vk == VK_MENU || vk == VK_F10;
  // lParam: repeat count 1, scan code, Alt held, previous state, transition.
  intptr_t lParam = 1 | (static_cast<intptr_t>(e.keysym.scancode & 0xFF) << 16);
  if (alt) lParam |= KeyLParamAltDown;
  if (!down || e.repeat) lParam |= intptr_t{1} << 30;
  if (!down) lParam |= intptr_t{1} << 31;
  uint32_t message = down ? (system ? WM_SYSKEYDOWN : WM_KEYDOWN) : (system ? WM_SYSKEYUP : WM_KEYUP);
  Queue(w, message, vk, lParam);
}

void QueueSize(PlatformWindowRec* w, uintptr_t kind, intptr_t size) {
  w->own->reportedSize = size;
  Queue(w, WM_SIZE, kind, size);
}

void QueueActivate(PlatformWindowRec* w, uint16_t state) {
  Queue(w, WM_ACTIVATE, state | (static_cast<uintptr_t>(w->own->minimised ? 1 : 0) << 16), 0);
}

// Shown again after a minimise. Minimising reported a 0 x 0 client (the
// viewport became 0 x 1), and SDL reports no size change when the restored
// size equals the one before, or reports it while the window still counts
// as minimised: the current client size (pixels) is queued as WM_SIZE
// SIZE_RESTORED, then the activation, as Windows orders them.
void Restore(PlatformWindowRec* w) {
  w->own->minimised = false;
  int width = 0, height = 0;
  SDL_GetWindowSize(w->own->sdl, &width, &height);
  QueueSize(w, SIZE_RESTORED, PackSize(width, height));
  QueueActivate(w, WA_ACTIVE);
}

// True when SDL no longer counts the window as minimised although no
// restore was seen for it (a restore SDL folded into showing the window).
bool RestoredUnseen(PlatformWindowRec* w) {
  return w->own->minimised && !(SDL_GetWindowFlags(w->own->sdl) & (SDL_WINDOW_MINIMIZED | SDL_WINDOW_HIDDEN));
}

void TranslateWindowEvent(const SDL_WindowEvent& e) {
  PlatformWindowRec* w = BySdlId(e.windowID);
  if (!w) return;
  switch (e.event) {
    case SDL_WINDOWEVENT_FOCUS_GAINED:
      if (RestoredUnseen(w)) Restore(w);
      QueueActivate(w, WA_ACTIVE);
      break;
    case SDL_WINDOWEVENT_FOCUS_LOST: QueueActivate(w, WA_INACTIVE); break;
    case SDL_WINDOWEVENT_MINIMIZED:
      if (w->own->minimised) break;
      w->own->minimised = true;
      QueueSize(w, SIZE_MINIMIZED, 0);
      QueueActivate(w, WA_INACTIVE);
      break;
    case SDL_WINDOWEVENT_RESTORED:
      if (w->own->minimised) Restore(w);
      break;
    case SDL_WINDOWEVENT_SHOWN:
      if (RestoredUnseen(w)) Restore(w);
      break;
    case SDL_WINDOWEVENT_SIZE_CHANGED: {
      // While minimised the client stays 0 x 0; Restore reports the size
      // then in force. A change to the size last reported is no change.
      intptr_t size = PackSize(e.data1, e.data2);
      if (!w->own->minimised && size != w->own->reportedSize) QueueSize(w, SIZE_RESTORED, size);
      break;
    }
    case SDL_WINDOWEVENT_CLOSE:
      if (w->enabled) Queue(w, WM_CLOSE, 0, 0);
      break;
    default: break;
  }
}

// Moves pending SDL events into the queue as window messages.
void PumpEvents() {
  if (!videoReady) return;
  SDL_Event e;
  while (SDL_PollEvent(&e)) {
    switch (e.type) {
      case SDL_KEYDOWN:
      case SDL_KEYUP: TranslateKey(e.key); break;
      case SDL_WINDOWEVENT: TranslateWindowEvent(e.window); break;
      case SDL_QUIT:
        // A termination request (SIGINT, SIGTERM): close the newest window
        // as its close button would, or end the loop when there is none.
        if (PlatformWindowRec* newest = EmuNewestWindow()) Queue(newest, WM_CLOSE, 0, 0);
        else PlatformPostQuitMessage(0);
        break;
      default: break;
    }
  }
}

bool TakeQueued(MSG* message, uint32_t removeFlags) { return EmuTakePosted(message, removeFlags); }

}  // namespace

// ---- hooks of the shared window manager -------------------------------------------

void EmuBackendMinimise(PlatformWindowRec* w) { SDL_MinimizeWindow(w->own->sdl); }
void EmuBackendTrace(const char* /*format*/, ...) {}  // no call log here

// ---- process ----------------------------------------------------------------------------

ModuleHandle PlatformGetModuleHandle() {
  static const char self = 0;  // any address inside the program identifies it
  return const_cast<char*>(&self);
}

const char* PlatformGetCommandLine() {
  static std::string line = [] {
    std::string out;
    if (FILE* f = std::fopen("/proc/self/cmdline", "rb")) {
      int c;
      while ((c = std::fgetc(f)) != EOF) out.push_back(c == 0 ? ' ' : static_cast<char>(c));
      std::fclose(f);
    }
    while (!out.empty() && out.back() == ' ') out.pop_back();
    return out;
  }();
  return line.c_str();
}

uint32_t PlatformGetCurrentThreadId() { return static_cast<uint32_t>(syscall(SYS_gettid)); }
uint32_t PlatformGetCurrentProcessId() { return static_cast<uint32_t>(getpid()); }

void PlatformExitProcess(uint32_t exitCode) {
  // SDL_Quit puts back the desktop display mode and cursor if anything was
  // left changed.
  SDL_Quit();
  std::fflush(nullptr);
  std::exit(static_cast<int>(exitCode));
}

void PlatformInitCommonControls() { SetHints(); }

// ---- class, display mode, cursor ----------------------------------------------------------

uint16_t PlatformRegisterClass(const WNDCLASSA* c) { return EmuRegisterClass(c); }

bool PlatformUnregisterClass(const char* className, ModuleHandle /*instance*/) {
  return EmuUnregisterClass(className);
}

int32_t PlatformChangeDisplaySettings(const DEVMODEA* mode, uint32_t /*flags*/) {
  if (!mode) {
    // Back to the desktop mode: every full-screen window becomes a plain one.
    fullscreenModeSet = false;
    for (auto& w : EmuWindows())
      if (w->alive && (SDL_GetWindowFlags(w->own->sdl) & SDL_WINDOW_FULLSCREEN)) SDL_SetWindowFullscreen(w->own->sdl, 0);
    return DISP_CHANGE_SUCCESSFUL;
  }
  if (!EnsureVideo()) return DISP_CHANGE_FAILED;
  // The display must offer the size exactly. A display cannot change its
  // colour depth here, so the nearest depth it has at that size is taken.
  int count = SDL_GetNumDisplayModes(0);
  bool found = false;
  SDL_DisplayMode best{};
  int bestDistance = 0;
  for (int i = 0; i < count; ++i) {
    SDL_DisplayMode m;
    if (SDL_GetDisplayMode(0, i, &m) != 0) continue;
    if ((mode->dmFields & DM_PELSWIDTH) && m.w != static_cast<int>(mode->dmPelsWidth)) continue;
    if ((mode->dmFields & DM_PELSHEIGHT) && m.h != static_cast<int>(mode->dmPelsHeight)) continue;
    int bits = static_cast<int>(SDL_BITSPERPIXEL(m.format));
    int distance = (mode->dmFields & DM_BITSPERPEL) ? std::abs(bits - static_cast<int>(mode->dmBitsPerPel)) : 0;
    if (!found || distance < bestDistance) {
      found = true;
      best = m;
      bestDistance = distance;
    }
  }
  if (!found) return DISP_CHANGE_BADMODE;
  fullscreenMode = best;
  fullscreenModeSet = true;
  // Windows that already exist in the popup style take the mode now; a
  // window created later takes it at creation.
  for (auto& w : EmuWindows()) {
    if (w->alive && (w->style & WS_POPUP)) {
      SDL_SetWindowDisplayMode(w->own->sdl, &fullscreenMode);
      SDL_SetWindowFullscreen(w->own->sdl, SDL_WINDOW_FULLSCREEN);
    }
  }
  return DISP_CHANGE_SUCCESSFUL;
}

int32_t PlatformShowCursor(bool show) {
  cursorCounter += show ? 1 : -1;
  if (videoReady) SDL_ShowCursor(cursorCounter >= 0 ? SDL_ENABLE : SDL_DISABLE);
  return cursorCounter;
}

// ---- window ---------------------------------------------------------------------------------

bool PlatformAdjustWindowRectEx(RECT* rect, uint32_t /*style*/, bool /*hasMenu*/, uint32_t /*exStyle*/) {
  // SDL sizes a window by its client area and the window manager draws any
  // frame outside it, so the outer rectangle asked for is the client one.
  return rect != nullptr;
}

WindowHandle PlatformCreateWindowEx(uint32_t /*exStyle*/, const char* className, const char* title,
                                    uint32_t style, int32_t x, int32_t y, int32_t width,
                                    int32_t height, WindowHandle /*parent*/, ModuleHandle /*instance*/) {
  if (!EmuFindClass(className) || width <= 0 || height <= 0 || !EnsureVideo()) return nullptr;
  std::unique_ptr<PlatformWindowRec> rec = EmuNewWindow(className, style);
  rec->own = {new BackendWindowRec, [](BackendWindowRec* own) { delete own; }};
  rec->own->title = title ? title : "";
  rec->own->x = x;
  rec->own->y = y;
  rec->own->width = width;
  rec->own->height = height;
  rec->own->sdlFlags = SDL_WINDOW_OPENGL | ((style & WS_VISIBLE) ? SDL_WINDOW_SHOWN : SDL_WINDOW_HIDDEN);
  if (style & WS_POPUP) {
    rec->own->sdlFlags |= SDL_WINDOW_BORDERLESS;
    if (fullscreenModeSet) rec->own->sdlFlags |= SDL_WINDOW_FULLSCREEN;
  } else {
    rec->own->sdlFlags |= SDL_WINDOW_RESIZABLE;
  }
  // The native window is made for the deepest double-buffered format the
  // driver has; PlatformSetPixelFormat remakes it only if asked for another.
  rec->own->createdFormat = CreateNativeWindow(rec.get(), 1, true);
  if (rec->own->createdFormat == 0) return nullptr;
  if (rec->own->sdlFlags & SDL_WINDOW_FULLSCREEN) SDL_SetWindowDisplayMode(rec->own->sdl, &fullscreenMode);
  PlatformWindowRec* window = EmuAddWindow(std::move(rec));
  // SDL applies a hidden cursor to its windows only when the state
  // changes: flip it so the new window gets the blank cursor at once,
  // not first when the pointer next enters it.
  if (cursorCounter < 0) {
    SDL_ShowCursor(SDL_ENABLE);
    SDL_ShowCursor(SDL_DISABLE);
  }
  return window;
}

bool PlatformDestroyWindow(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  for (auto& c : contexts)
    if (c->window == w) c->window = nullptr;  // the context outlives its window, unusable
  SDL_DestroyWindow(w->own->sdl);
  EmuRemoveWindow(w);
  w->own.reset();
  return true;
}

bool PlatformShowWindow(WindowHandle window, int command) {
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  bool was = (SDL_GetWindowFlags(w->own->sdl) & SDL_WINDOW_SHOWN) != 0;
  if (command == 0) SDL_HideWindow(w->own->sdl);
  else SDL_ShowWindow(w->own->sdl);
  return was;
}

bool PlatformSetForegroundWindow(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  if (!w) return false;
  SDL_RaiseWindow(w->own->sdl);
  return true;
}

WindowHandle PlatformSetFocus(WindowHandle window) {
  WindowHandle before = PlatformGetForegroundWindow();
  if (PlatformWindowRec* w = Live(window)) SDL_SetWindowInputFocus(w->own->sdl);
  return before;
}

// ---- GL context --------------------------------------------------------------------------------

DeviceContextHandle PlatformGetDC(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  if (!w) return nullptr;
  w->dc.window = w;  // one DC per window for its whole life
  return &w->dc;
}

int32_t PlatformReleaseDC(WindowHandle window, DeviceContextHandle dc) {
  PlatformWindowRec* w = LiveDC(dc);
  return w && w == window ? 1 : 0;
}

int32_t PlatformChoosePixelFormat(DeviceContextHandle dc, const PIXELFORMATDESCRIPTOR* r) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || !r || r->nSize != sizeof(PIXELFORMATDESCRIPTOR) || r->nVersion != 1) return 0;
  if (!(r->dwFlags & PFD_DRAW_TO_WINDOW) || !(r->dwFlags & PFD_SUPPORT_OPENGL) ||
      r->iPixelType != PFD_TYPE_RGBA)
    return 0;
  bool wantDouble = (r->dwFlags & PFD_DOUBLEBUFFER) != 0;
  // Nearest depth: the requested one if offered, then each shallower one.
  for (int32_t f = 1; f <= FormatCount; ++f) {
    const FormatChoice& choice = Formats[f - 1];
    if (choice.doubleBuffer != wantDouble || choice.depthBits > std::max<int>(r->cDepthBits, 16)) continue;
    if (f == w->own->createdFormat || DriverOffers(f)) return f;
  }
  return 0;
}

bool PlatformSetPixelFormat(DeviceContextHandle dc, int32_t format, const PIXELFORMATDESCRIPTOR* /*r*/) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || w->format != 0 || format < 1 || format > FormatCount) return false;
  if (format != w->own->createdFormat) {
    // A GL window's visual is fixed when the native window is made: make it
    // again, in the same place, for this format.
    SDL_Window* old = w->own->sdl;
    w->own->sdl = nullptr;
    if (CreateNativeWindow(w, format, false) == 0) {
      w->own->sdl = old;
      return false;
    }
    SDL_DestroyWindow(old);
    w->own->createdFormat = format;
  }
  w->format = format;
  return true;
}

// Keeps the Mesa DRI driver that the first context loaded (a "*_dri.so",
// loaded by libGL itself) in memory until the process ends. Closing the X
// display at exit unloads it otherwise, and the driver leaves a few blocks of
// its own allocated at exit (two 56-byte blocks of a heap it creates, on the
// software rasteriser); once its code is unmapped a leak checker can no
// longer tell whose they are and reports them against an unknown module.
// Loaded, they are attributed to the driver, like its other exit-time
// blocks. Staying mapped costs nothing: the process is about to end.
static void PinGLDriver() {
  static bool pinned = false;
  if (pinned) return;
  pinned = true;
  std::vector<std::string> drivers;
  dl_iterate_phdr(
      [](dl_phdr_info* info, size_t, void* out) {
        const char* name = info->dlpi_name;
        size_t n = name ? std::strlen(name) : 0;
        if (n > 7 && std::strcmp(name + n - 7, "_dri.so") == 0)
          static_cast<std::vector<std::string>*>(out)->push_back(name);
        return 0;
      },
      &drivers);
  // RTLD_NOLOAD: only a library already loaded; RTLD_NODELETE marks it
  // never to be unmapped. The extra reference is never dropped.
  for (const std::string& path : drivers) dlopen(path.c_str(), RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

RenderContextHandle PlatformCreateContext(DeviceContextHandle dc) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || w->format == 0) return nullptr;
  SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
  SDL_GLContext previous = SDL_GL_GetCurrentContext();
  ApplyFormatAttributes(Formats[w->format - 1]);
  SDL_GLContext context = SDL_GL_CreateContext(w->own->sdl);
  if (!context) return nullptr;
  PinGLDriver();
  // SDL makes a new context current; creating one changes nothing here.
  SDL_GL_MakeCurrent(previousWindow, previous);
  contexts.push_back(std::make_unique<PlatformGLRec>(PlatformGLRec{context, w}));
  return contexts.back().get();
}

bool PlatformMakeCurrent(DeviceContextHandle dc, RenderContextHandle rc) {
  if (!dc && !rc) return SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr) == 0;
  PlatformWindowRec* w = LiveDC(dc);
  PlatformGLRec* c = LiveContext(rc);
  if (!w || !c || c->window != w) return false;
  return SDL_GL_MakeCurrent(w->own->sdl, c->context) == 0;
}

bool PlatformDeleteContext(RenderContextHandle rc) {
  PlatformGLRec* c = LiveContext(rc);
  if (!c) return false;
  if (SDL_GL_GetCurrentContext() == c->context) SDL_GL_MakeCurrent(SDL_GL_GetCurrentWindow(), nullptr);
  SDL_GL_DeleteContext(c->context);
  std::erase_if(contexts, [c](const auto& each) { return each.get() == c; });
  return true;
}

bool PlatformSwapBuffers(DeviceContextHandle dc) {
  PlatformWindowRec* w = LiveDC(dc);
  if (!w || w->format == 0) return false;
  SDL_GL_SwapWindow(w->own->sdl);
  return true;
}

// ---- messages ------------------------------------------------------------------------------------

uintptr_t PlatformSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs) {
  return EmuSetTimer(window, id, periodMs, static_cast<double>(SDL_GetTicks64()));
}

bool PlatformPeekMessage(MSG* message, uint32_t removeFlags) {
  if (TakeQueued(message, removeFlags)) return true;
  PumpEvents();
  if (TakeQueued(message, removeFlags)) return true;
  // Nothing else waits: a due timer.
  return EmuTakeDueTimer(message, removeFlags, static_cast<double>(SDL_GetTicks64()));
}

// PlatformTranslateMessage, PlatformDispatchMessage, PlatformPostMessage,
// PlatformPostQuitMessage and PlatformDefWindowProc: the shared window manager.

// ---- requester services -------------------------------------------------------------------------------

// PlatformEnumWindows and PlatformGetWindowThreadProcessId: the shared window manager.

bool PlatformIsWindowVisible(WindowHandle window) {
  PlatformWindowRec* w = Live(window);
  return w && (SDL_GetWindowFlags(w->own->sdl) & SDL_WINDOW_SHOWN) && !(SDL_GetWindowFlags(w->own->sdl) & SDL_WINDOW_HIDDEN);
}

// PlatformIsWindowEnabled and PlatformEnableWindow: the shared window manager.

WindowHandle PlatformGetForegroundWindow() {
  if (!videoReady) return nullptr;
  SDL_Window* focus = SDL_GetKeyboardFocus();
  if (!focus) return nullptr;
  for (auto& w : EmuWindows())
    if (w->alive && w->own->sdl == focus) return w.get();
  return nullptr;
}

int PlatformMessageBox(WindowHandle owner, const char* text, const char* title, uint32_t flags) {
  SetHints();
  bool yesNo = flags == MB_YESNO;
  // Return picks the first button; Escape picks No (or OK, the only one).
  const SDL_MessageBoxButtonData yesNoButtons[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT, IDYES, "Yes"},
      {SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDNO, "No"},
  };
  const SDL_MessageBoxButtonData okButton[] = {
      {SDL_MESSAGEBOX_BUTTON_RETURNKEY_DEFAULT | SDL_MESSAGEBOX_BUTTON_ESCAPEKEY_DEFAULT, IDOK, "OK"},
  };
  PlatformWindowRec* w = Live(owner);
  SDL_MessageBoxData box{};
  box.flags = SDL_MESSAGEBOX_BUTTONS_LEFT_TO_RIGHT;  // no icon
  box.window = w ? w->own->sdl : nullptr;
  box.title = title ? title : "";
  box.message = text ? text : "";
  box.numbuttons = yesNo ? 2 : 1;
  box.buttons = yesNo ? yesNoButtons : okButton;
  // The X11 box is drawn by a short-lived child process that now and then
  // fails to come up on a freshly started server; a failure is only taken
  // as final after a few tries (with no display at all each try fails at
  // once, so this costs a fraction of a second).
  int button = -1;
  int shown = -1;
  for (int attempt = 0; attempt < MessageBoxAttempts && shown != 0; ++attempt) {
    if (attempt > 0) SDL_Delay(MessageBoxRetryMs);
    shown = SDL_ShowMessageBox(&box, &button);
  }
  if (shown != 0) {
    // No box at all (no display, no dialog helper): the message still
    // reaches someone.
    std::fprintf(stderr, "%s: %s\n", box.title, box.message);
    std::fflush(stderr);
    return 0;
  }
  // Closed without a button (by the window manager): the Escape answer.
  if (button < 0) return yesNo ? IDNO : IDOK;
  return button;
}

// Offscreen OpenGL on Windows: a hidden window of its own class gives the
// device context WGL needs; drawing lands in the framebuffer object of
// offscreen_fbo.h, as on EGL. offscreen_gl.h names no Windows types, so this
// file may include <windows.h> beside it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <new>

#include "platform/offscreen_fbo.h"
#include "platform/offscreen_gl.h"

struct OffscreenGL {
  HWND window = nullptr;
  HDC dc = nullptr;
  HGLRC context = nullptr;
  OffscreenFramebuffer fbo;
};

namespace {

constexpr const char* WindowClassName = "ZephyraOffscreenGL";

// Framebuffer-object entry points are per context, through wglGetProcAddress.
void* LookUp(const char* name) { return reinterpret_cast<void*>(wglGetProcAddress(name)); }

// The class is registered once per process and never unregistered: windows
// of it may be made and destroyed any number of times.
bool RegisterOnce() {
  static const bool registered = [] {
    WNDCLASSA wc{};
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = WindowClassName;
    return RegisterClassA(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
  }();
  return registered;
}

void Fail(const char** whyNot, const char* reason) {
  if (whyNot != nullptr) *whyNot = reason;
}

void Release(OffscreenGL* gl) {
  if (gl->context) {
    wglMakeCurrent(nullptr, nullptr);
    wglDeleteContext(gl->context);
  }
  if (gl->dc) ReleaseDC(gl->window, gl->dc);
  if (gl->window) DestroyWindow(gl->window);
  delete gl;
}

}  // namespace

OffscreenGL* CreateOffscreenGL(int32_t width, int32_t height, const char** whyNot) {
  if (width <= 0 || height <= 0) {
    Fail(whyNot, "width and height must be positive");
    return nullptr;
  }
  if (!RegisterOnce()) {
    Fail(whyNot, "could not register the window class");
    return nullptr;
  }
  auto* gl = new (std::nothrow) OffscreenGL;
  if (gl == nullptr) {
    Fail(whyNot, "out of memory");
    return nullptr;
  }
  // Never shown: the window only lends its device context to WGL.
  gl->window = CreateWindowExA(0, WindowClassName, "offscreen", WS_POPUP, 0, 0, 16, 16, nullptr, nullptr,
                               GetModuleHandleA(nullptr), nullptr);
  gl->dc = gl->window ? GetDC(gl->window) : nullptr;
  if (gl->dc == nullptr) {
    Release(gl);
    Fail(whyNot, "could not create the hidden window");
    return nullptr;
  }
  PIXELFORMATDESCRIPTOR pfd{};
  pfd.nSize = sizeof pfd;
  pfd.nVersion = 1;
  pfd.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  pfd.iPixelType = PFD_TYPE_RGBA;
  pfd.cColorBits = 32;
  pfd.cDepthBits = 24;
  pfd.iLayerType = PFD_MAIN_PLANE;
  const int format = ChoosePixelFormat(gl->dc, &pfd);
  if (format == 0 || !SetPixelFormat(gl->dc, format, &pfd)) {
    Release(gl);
    Fail(whyNot, "no OpenGL pixel format");
    return nullptr;
  }
  gl->context = wglCreateContext(gl->dc);
  if (gl->context == nullptr || !wglMakeCurrent(gl->dc, gl->context)) {
    Release(gl);
    Fail(whyNot, "could not create or make current a WGL context");
    return nullptr;
  }
  FramebufferCalls fb;
  if (!FetchFramebufferCalls(fb, LookUp)) {
    Release(gl);
    Fail(whyNot, "framebuffer objects not available");
    return nullptr;
  }
  if (!OffscreenFramebufferCreate(fb, &gl->fbo, width, height)) {
    DestroyOffscreenGL(gl);
    Fail(whyNot, "framebuffer incomplete");
    return nullptr;
  }
  return gl;
}

void ReadOffscreenPixels(OffscreenGL* gl, uint8_t* rgba) {
  if (gl == nullptr || rgba == nullptr) return;
  OffscreenFramebufferRead(gl->fbo, rgba);
}

void DestroyOffscreenGL(OffscreenGL* gl) {
  if (gl == nullptr) return;
  if (wglMakeCurrent(gl->dc, gl->context)) {
    FramebufferCalls fb;
    if (FetchFramebufferCalls(fb, LookUp)) OffscreenFramebufferDelete(fb, &gl->fbo);
  }
  Release(gl);
}

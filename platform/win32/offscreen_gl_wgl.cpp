// Offscreen OpenGL on Windows: a hidden window of its own class gives the
// device context WGL needs; drawing lands in a framebuffer object (RGBA8
// colour and depth renderbuffers), as on EGL. offscreen_gl.h names no
// Windows types, so this file may include <windows.h> beside it.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <new>

#include "platform/offscreen_gl.h"

struct OffscreenGL {
  HWND window = nullptr;
  HDC dc = nullptr;
  HGLRC context = nullptr;
  GLuint framebuffer = 0;
  GLuint colour = 0;
  GLuint depth = 0;
  int32_t width = 0;
  int32_t height = 0;
};

namespace {

constexpr const char* WindowClassName = "ZephyraOffscreenGL";

// Framebuffer-object entry points: not part of opengl32's GL 1.1 exports,
// fetched per context through wglGetProcAddress.
struct FramebufferCalls {
  PFNGLGENFRAMEBUFFERSPROC GenFramebuffers = nullptr;
  PFNGLDELETEFRAMEBUFFERSPROC DeleteFramebuffers = nullptr;
  PFNGLBINDFRAMEBUFFERPROC BindFramebuffer = nullptr;
  PFNGLGENRENDERBUFFERSPROC GenRenderbuffers = nullptr;
  PFNGLDELETERENDERBUFFERSPROC DeleteRenderbuffers = nullptr;
  PFNGLBINDRENDERBUFFERPROC BindRenderbuffer = nullptr;
  PFNGLRENDERBUFFERSTORAGEPROC RenderbufferStorage = nullptr;
  PFNGLFRAMEBUFFERRENDERBUFFERPROC FramebufferRenderbuffer = nullptr;
  PFNGLCHECKFRAMEBUFFERSTATUSPROC CheckFramebufferStatus = nullptr;
};

template <typename T>
bool Fetch(T& slot, const char* name) {
  slot = reinterpret_cast<T>(reinterpret_cast<void*>(wglGetProcAddress(name)));
  return slot != nullptr;
}

bool FetchFramebufferCalls(FramebufferCalls& fb) {
  return Fetch(fb.GenFramebuffers, "glGenFramebuffers") &&
         Fetch(fb.DeleteFramebuffers, "glDeleteFramebuffers") &&
         Fetch(fb.BindFramebuffer, "glBindFramebuffer") &&
         Fetch(fb.GenRenderbuffers, "glGenRenderbuffers") &&
         Fetch(fb.DeleteRenderbuffers, "glDeleteRenderbuffers") &&
         Fetch(fb.BindRenderbuffer, "glBindRenderbuffer") &&
         Fetch(fb.RenderbufferStorage, "glRenderbufferStorage") &&
         Fetch(fb.FramebufferRenderbuffer, "glFramebufferRenderbuffer") &&
         Fetch(fb.CheckFramebufferStatus, "glCheckFramebufferStatus");
}

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
  if (!FetchFramebufferCalls(fb)) {
    Release(gl);
    Fail(whyNot, "framebuffer objects not available");
    return nullptr;
  }
  gl->width = width;
  gl->height = height;
  fb.GenRenderbuffers(1, &gl->colour);
  fb.BindRenderbuffer(GL_RENDERBUFFER, gl->colour);
  fb.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  fb.GenRenderbuffers(1, &gl->depth);
  fb.BindRenderbuffer(GL_RENDERBUFFER, gl->depth);
  // 32-bit depth as the demo's window asks for; 24 bits where refused.
  fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32, width, height);
  if (glGetError() != GL_NO_ERROR) fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  fb.GenFramebuffers(1, &gl->framebuffer);
  fb.BindFramebuffer(GL_FRAMEBUFFER, gl->framebuffer);
  fb.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, gl->colour);
  fb.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, gl->depth);
  if (fb.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) {
    DestroyOffscreenGL(gl);
    Fail(whyNot, "framebuffer incomplete");
    return nullptr;
  }
  glViewport(0, 0, width, height);
  return gl;
}

void ReadOffscreenPixels(OffscreenGL* gl, uint8_t* rgba) {
  if (gl == nullptr || rgba == nullptr) return;
  glFinish();
  GLint packAlignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, gl->width, gl->height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
  // GL's row 0 is the bottom one: turn the rows over so the top comes first.
  const size_t rowBytes = static_cast<size_t>(gl->width) * 4;
  for (int32_t top = 0, bottom = gl->height - 1; top < bottom; ++top, --bottom) {
    uint8_t* upper = rgba + static_cast<size_t>(top) * rowBytes;
    std::swap_ranges(upper, upper + rowBytes, rgba + static_cast<size_t>(bottom) * rowBytes);
  }
}

void DestroyOffscreenGL(OffscreenGL* gl) {
  if (gl == nullptr) return;
  if (wglMakeCurrent(gl->dc, gl->context)) {
    FramebufferCalls fb;
    if (FetchFramebufferCalls(fb)) {
      fb.BindFramebuffer(GL_FRAMEBUFFER, 0);
      if (gl->framebuffer != 0) fb.DeleteFramebuffers(1, &gl->framebuffer);
      if (gl->colour != 0) fb.DeleteRenderbuffers(1, &gl->colour);
      if (gl->depth != 0) fb.DeleteRenderbuffers(1, &gl->depth);
    }
  }
  Release(gl);
}

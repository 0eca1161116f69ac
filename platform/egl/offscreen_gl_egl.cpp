// Offscreen OpenGL on EGL's surfaceless platform (Mesa): no display, no window.
// The context is current with no surface; drawing lands in a framebuffer
// object made of an RGBA8 colour renderbuffer and a depth renderbuffer.
#include "platform/offscreen_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <mutex>
#include <new>

struct OffscreenGL {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  GLuint framebuffer = 0;
  GLuint colour = 0;
  GLuint depth = 0;
  int32_t width = 0;
  int32_t height = 0;
};

namespace {

// Framebuffer-object entry points are fetched at run time: they are not part
// of the GL 1.1 interface the library exports for certain.
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

// The surfaceless display is one per process; EGL hands out the same handle
// each time. It is initialised by the first context and kept for the life of
// the process: terminating it unloads the driver, which would strand the
// driver's own process-lifetime allocations (and their symbols) behind it.
std::mutex DisplayLock;
EGLDisplay SharedDisplay = EGL_NO_DISPLAY;

template <typename T>
bool Fetch(T& slot, const char* name) {
  slot = reinterpret_cast<T>(eglGetProcAddress(name));
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

EGLDisplay OpenDisplay() {
  std::lock_guard<std::mutex> hold(DisplayLock);
  if (SharedDisplay != EGL_NO_DISPLAY) return SharedDisplay;
  auto getPlatformDisplay = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (getPlatformDisplay == nullptr) return EGL_NO_DISPLAY;
  EGLDisplay display = getPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) return EGL_NO_DISPLAY;
  if (eglInitialize(display, nullptr, nullptr) != EGL_TRUE) return EGL_NO_DISPLAY;
  SharedDisplay = display;
  return display;
}

void Fail(const char** whyNot, const char* reason) {
  if (whyNot != nullptr) *whyNot = reason;
}

}  // namespace

OffscreenGL* CreateOffscreenGL(int32_t width, int32_t height, const char** whyNot) {
  if (width <= 0 || height <= 0) {
    Fail(whyNot, "width and height must be positive");
    return nullptr;
  }
  EGLDisplay display = OpenDisplay();
  if (display == EGL_NO_DISPLAY) {
    Fail(whyNot, "no EGL surfaceless display");
    return nullptr;
  }

  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) {
    Fail(whyNot, "desktop OpenGL API not available on EGL");
    return nullptr;
  }
  const EGLint configAttributes[] = {EGL_RENDERABLE_TYPE, EGL_OPENGL_BIT, EGL_SURFACE_TYPE, 0,
                                     EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configCount = 0;
  if (eglChooseConfig(display, configAttributes, &config, 1, &configCount) != EGL_TRUE ||
      configCount < 1) {
    Fail(whyNot, "no EGL config for desktop OpenGL");
    return nullptr;
  }
  // No version requested: the driver gives its highest compatibility version.
  const EGLint contextAttributes[] = {EGL_CONTEXT_OPENGL_PROFILE_MASK,
                                      EGL_CONTEXT_OPENGL_COMPATIBILITY_PROFILE_BIT, EGL_NONE};
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, contextAttributes);
  if (context == EGL_NO_CONTEXT) {
    Fail(whyNot, "could not create a compatibility-profile context");
    return nullptr;
  }
  if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE) {
    eglDestroyContext(display, context);
    Fail(whyNot, "could not make the context current without a surface");
    return nullptr;
  }

  FramebufferCalls fb;
  OffscreenGL* gl = new (std::nothrow) OffscreenGL;
  if (gl == nullptr || !FetchFramebufferCalls(fb)) {
    delete gl;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    Fail(whyNot, "framebuffer objects not available");
    return nullptr;
  }
  gl->display = display;
  gl->context = context;
  gl->width = width;
  gl->height = height;

  fb.GenRenderbuffers(1, &gl->colour);
  fb.BindRenderbuffer(GL_RENDERBUFFER, gl->colour);
  fb.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  fb.GenRenderbuffers(1, &gl->depth);
  fb.BindRenderbuffer(GL_RENDERBUFFER, gl->depth);
  // 32-bit depth as the demo's window asks for; where the driver refuses it,
  // 24 bits serve as well.
  fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32, width, height);
  if (glGetError() != GL_NO_ERROR)
    fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
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
  // Pack rows tightly and without padding, whatever the caller set.
  GLint packAlignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, gl->width, gl->height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
  // GL's row 0 is the bottom row; turn the rows over in place so the top
  // row comes first (no second frame-sized buffer).
  const size_t rowBytes = static_cast<size_t>(gl->width) * 4;
  for (int32_t top = 0, bottom = gl->height - 1; top < bottom; ++top, --bottom) {
    uint8_t* upper = rgba + static_cast<size_t>(top) * rowBytes;
    std::swap_ranges(upper, upper + rowBytes, rgba + static_cast<size_t>(bottom) * rowBytes);
  }
}

void DestroyOffscreenGL(OffscreenGL* gl) {
  if (gl == nullptr) return;
  if (eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, gl->context) == EGL_TRUE) {
    FramebufferCalls fb;
    if (FetchFramebufferCalls(fb)) {
      fb.BindFramebuffer(GL_FRAMEBUFFER, 0);
      if (gl->framebuffer != 0) fb.DeleteFramebuffers(1, &gl->framebuffer);
      if (gl->colour != 0) fb.DeleteRenderbuffers(1, &gl->colour);
      if (gl->depth != 0) fb.DeleteRenderbuffers(1, &gl->depth);
    }
  }
  eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(gl->display, gl->context);
  eglReleaseThread();
  delete gl;
}

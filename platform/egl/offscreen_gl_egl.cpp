// Offscreen OpenGL on EGL's surfaceless platform (Mesa): no display, no window.
// The context is current with no surface; drawing lands in a framebuffer
// object made of an RGBA8 colour renderbuffer and a depth renderbuffer.
#include "platform/offscreen_gl.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <mutex>
#include <new>

#include "platform/offscreen_fbo.h"

struct OffscreenGL {
  EGLDisplay display = EGL_NO_DISPLAY;
  EGLContext context = EGL_NO_CONTEXT;
  OffscreenFramebuffer fbo;
};

namespace {

// The surfaceless display is one per process; EGL hands out the same handle
// each time. It is initialised by the first context and kept for the life of
// the process: terminating it unloads the driver, which would strand the
// driver's own process-lifetime allocations (and their symbols) behind it.
std::mutex DisplayLock;
EGLDisplay SharedDisplay = EGL_NO_DISPLAY;

// Framebuffer-object entry points, through eglGetProcAddress.
void* LookUp(const char* name) { return reinterpret_cast<void*>(eglGetProcAddress(name)); }

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
  if (gl == nullptr || !FetchFramebufferCalls(fb, LookUp)) {
    delete gl;
    eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
    eglDestroyContext(display, context);
    Fail(whyNot, "framebuffer objects not available");
    return nullptr;
  }
  gl->display = display;
  gl->context = context;
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
  if (eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, gl->context) == EGL_TRUE) {
    FramebufferCalls fb;
    if (FetchFramebufferCalls(fb, LookUp)) OffscreenFramebufferDelete(fb, &gl->fbo);
  }
  eglMakeCurrent(gl->display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  eglDestroyContext(gl->display, gl->context);
  eglReleaseThread();
  delete gl;
}

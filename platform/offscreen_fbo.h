// The framebuffer object that the offscreen GL contexts (egl/, win32/) draw
// into: an RGBA8 colour renderbuffer and a depth renderbuffer, made, read
// back top row first and deleted on the current context. Portable GL;
// header-only so that each offscreen library takes it as it is. On Windows
// the includer includes <windows.h> first (GL/gl.h needs its macros).
#pragma once
#include <GL/gl.h>
#include <GL/glext.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>

struct OffscreenFramebuffer {
  GLuint framebuffer = 0;
  GLuint colour = 0;
  GLuint depth = 0;
  int32_t width = 0;   // pixels
  int32_t height = 0;  // pixels
};

// Framebuffer-object entry points are fetched at run time, per context:
// they are not part of the GL 1.1 interface the libraries export for certain.
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

// The context API's lookup (eglGetProcAddress, wglGetProcAddress): the
// entry point of a GL call by name, nullptr when there is none.
using GLCallLookup = void* (*)(const char* name);

template <typename T>
bool FetchGLCall(T& slot, GLCallLookup lookup, const char* name) {
  slot = reinterpret_cast<T>(lookup(name));
  return slot != nullptr;
}

// False when any entry point is missing.
inline bool FetchFramebufferCalls(FramebufferCalls& fb, GLCallLookup lookup) {
  return FetchGLCall(fb.GenFramebuffers, lookup, "glGenFramebuffers") &&
         FetchGLCall(fb.DeleteFramebuffers, lookup, "glDeleteFramebuffers") &&
         FetchGLCall(fb.BindFramebuffer, lookup, "glBindFramebuffer") &&
         FetchGLCall(fb.GenRenderbuffers, lookup, "glGenRenderbuffers") &&
         FetchGLCall(fb.DeleteRenderbuffers, lookup, "glDeleteRenderbuffers") &&
         FetchGLCall(fb.BindRenderbuffer, lookup, "glBindRenderbuffer") &&
         FetchGLCall(fb.RenderbufferStorage, lookup, "glRenderbufferStorage") &&
         FetchGLCall(fb.FramebufferRenderbuffer, lookup, "glFramebufferRenderbuffer") &&
         FetchGLCall(fb.CheckFramebufferStatus, lookup, "glCheckFramebufferStatus");
}

// Makes a width x height framebuffer on the current context, binds it and
// sets the viewport to it. False when it is incomplete; what was made is in
// *out either way, for OffscreenFramebufferDelete.
inline bool OffscreenFramebufferCreate(const FramebufferCalls& fb, OffscreenFramebuffer* out,
                                       int32_t width, int32_t height) {
  out->width = width;
  out->height = height;
  fb.GenRenderbuffers(1, &out->colour);
  fb.BindRenderbuffer(GL_RENDERBUFFER, out->colour);
  fb.RenderbufferStorage(GL_RENDERBUFFER, GL_RGBA8, width, height);
  fb.GenRenderbuffers(1, &out->depth);
  fb.BindRenderbuffer(GL_RENDERBUFFER, out->depth);
  // 32-bit depth as the demo's window asks for; where the driver refuses it,
  // 24 bits serve as well.
  fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT32, width, height);
  if (glGetError() != GL_NO_ERROR)
    fb.RenderbufferStorage(GL_RENDERBUFFER, GL_DEPTH_COMPONENT24, width, height);
  fb.GenFramebuffers(1, &out->framebuffer);
  fb.BindFramebuffer(GL_FRAMEBUFFER, out->framebuffer);
  fb.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_RENDERBUFFER, out->colour);
  fb.FramebufferRenderbuffer(GL_FRAMEBUFFER, GL_DEPTH_ATTACHMENT, GL_RENDERBUFFER, out->depth);
  if (fb.CheckFramebufferStatus(GL_FRAMEBUFFER) != GL_FRAMEBUFFER_COMPLETE) return false;
  glViewport(0, 0, width, height);
  return true;
}

// Deletes what OffscreenFramebufferCreate made; its context must be current.
inline void OffscreenFramebufferDelete(const FramebufferCalls& fb, OffscreenFramebuffer* fbo) {
  fb.BindFramebuffer(GL_FRAMEBUFFER, 0);
  if (fbo->framebuffer != 0) fb.DeleteFramebuffers(1, &fbo->framebuffer);
  if (fbo->colour != 0) fb.DeleteRenderbuffers(1, &fbo->colour);
  if (fbo->depth != 0) fb.DeleteRenderbuffers(1, &fbo->depth);
  *fbo = OffscreenFramebuffer{};
}

// The finished picture into rgba (width x height x 4 bytes), top row first.
inline void OffscreenFramebufferRead(const OffscreenFramebuffer& fbo, uint8_t* rgba) {
  glFinish();
  // Pack rows tightly and without padding, whatever the caller set.
  GLint packAlignment = 4;
  glGetIntegerv(GL_PACK_ALIGNMENT, &packAlignment);
  glPixelStorei(GL_PACK_ALIGNMENT, 1);
  glReadPixels(0, 0, fbo.width, fbo.height, GL_RGBA, GL_UNSIGNED_BYTE, rgba);
  glPixelStorei(GL_PACK_ALIGNMENT, packAlignment);
  // GL's row 0 is the bottom row; turn the rows over in place so the top
  // row comes first (no second frame-sized buffer).
  const size_t rowBytes = static_cast<size_t>(fbo.width) * 4;
  for (int32_t top = 0, bottom = fbo.height - 1; top < bottom; ++top, --bottom) {
    uint8_t* upper = rgba + static_cast<size_t>(top) * rowBytes;
    std::swap_ranges(upper, upper + rowBytes, rgba + static_cast<size_t>(bottom) * rowBytes);
  }
}

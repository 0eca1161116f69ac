// The display-list layer's back table filled with the GL this program links
// (WebGL's fixed-function emulation in the browser, the system's OpenGL in
// native tests).
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include "platform/web/gl_layer.h"

// Each entry is a function of this program calling the GL function, never
// the GL function's own address: in the browser those are JavaScript
// imports, and taking their address would need a table slot with a
// signature the emulation does not give.
GlBackTable GlSystemTable() {
  GlBackTable t{};
  t.Color4f = [](GLfloat r, GLfloat g, GLfloat b, GLfloat a) { glColor4f(r, g, b, a); };
  t.TexParameteri = [](GLenum target, GLenum pname, GLint param) { glTexParameteri(target, pname, param); };
  t.BindTexture = [](GLenum target, GLuint texture) { glBindTexture(target, texture); };
  t.TexImage2D = [](GLenum target, GLint level, GLint internalFormat, GLsizei width, GLsizei height,
                    GLint border, GLenum format, GLenum type, const void* pixels) {
    glTexImage2D(target, level, internalFormat, width, height, border, format, type, pixels);
  };
  t.Hint = [](GLenum target, GLenum mode) { glHint(target, mode); };
  t.GenBuffers = [](GLsizei n, GLuint* buffers) { glGenBuffers(n, buffers); };
  t.DeleteBuffers = [](GLsizei n, const GLuint* buffers) { glDeleteBuffers(n, buffers); };
  t.BindBuffer = [](GLenum target, GLuint buffer) { glBindBuffer(target, buffer); };
  t.BufferData = [](GLenum target, intptr_t size, const void* data, GLenum usage) {
    glBufferData(target, static_cast<GLsizeiptr>(size), data, usage);
  };
  t.EnableClientState = [](GLenum array) { glEnableClientState(array); };
  t.DisableClientState = [](GLenum array) { glDisableClientState(array); };
  t.VertexPointer = [](GLint size, GLenum type, GLsizei stride, const void* p) { glVertexPointer(size, type, stride, p); };
  t.TexCoordPointer = [](GLint size, GLenum type, GLsizei stride, const void* p) { glTexCoordPointer(size, type, stride, p); };
  t.ColorPointer = [](GLint size, GLenum type, GLsizei stride, const void* p) { glColorPointer(size, type, stride, p); };
  t.DrawArrays = [](GLenum mode, GLint first, GLsizei count) { glDrawArrays(mode, first, count); };
  t.GetFloatv = [](GLenum pname, GLfloat* values) { glGetFloatv(pname, values); };
  t.GetIntegerv = [](GLenum pname, GLint* values) { glGetIntegerv(pname, values); };
  return t;
}

// The display-list layer's back table filled with the GL this program links
// (WebGL's fixed-function emulation in the browser, the system's OpenGL in
// native tests).
#define GL_GLEXT_PROTOTYPES 1
#include <GL/gl.h>
#include <GL/glext.h>

#include "platform/web/gl_layer.h"

namespace {

void BufferDataEntry(GLenum target, intptr_t size, const void* data, GLenum usage) {
  glBufferData(target, static_cast<GLsizeiptr>(size), data, usage);
}

}  // namespace

GlBackTable GlSystemTable() {
  GlBackTable t{};
  t.Begin = glBegin;
  t.End = glEnd;
  t.Vertex4f = glVertex4f;
  t.Vertex3f = glVertex3f;
  t.TexCoord2f = glTexCoord2f;
  t.Color4f = glColor4f;
  t.TexParameteri = glTexParameteri;
  t.BindTexture = glBindTexture;
  t.TexImage2D = glTexImage2D;
  t.Hint = glHint;
  t.GenBuffers = glGenBuffers;
  t.DeleteBuffers = glDeleteBuffers;
  t.BindBuffer = glBindBuffer;
  t.BufferData = BufferDataEntry;
  t.EnableClientState = glEnableClientState;
  t.DisableClientState = glDisableClientState;
  t.VertexPointer = glVertexPointer;
  t.TexCoordPointer = glTexCoordPointer;
  t.ColorPointer = glColorPointer;
  t.DrawArrays = glDrawArrays;
  t.GetFloatv = glGetFloatv;
  t.GetIntegerv = glGetIntegerv;
  return t;
}

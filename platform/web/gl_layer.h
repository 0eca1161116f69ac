// Display lists and OpenGL 1.1 mends on top of a GL that has neither (WebGL
// through a fixed-function emulation): plain C++ over two tables of entry
// points, so it runs on any GL, native ones included. All geometry reaches
// the GL below as vertex arrays in buffers (a list's buffer, or one
// refilled for each draw outside lists).
//
// The front table (ZephyraGl) holds the calls the portable code makes that
// need the layer: display lists, immediate-mode geometry, line width, texture
// parameters and uploads, hints. With ZEPHYRA_GL_LAYER defined,
// platform/gl.h routes those gl* names through it (gl_redirect.h). The back
// table holds the real GL entry points the layer draws with.
//
// What a list records: glBegin/glEnd geometry (kept in a vertex buffer, with
// texture coordinates and colours when given), glTexCoord2f and glColor4f
// outside glBegin/glEnd, glTexParameteri, glBindTexture, glLineWidth and
// glCallList. Any other call made while a list is open runs at once, as it
// always does (the portable code puts nothing else into its lists).
//
// Mends, where the GL below would refuse or differ:
//  - GL_QUADS, GL_QUAD_STRIP and GL_POLYGON become GL_TRIANGLES, GL_LINE_STRIP
//    and GL_LINE_LOOP become GL_LINES;
//  - lines wider than 1 pixel are drawn as triangles of that width, widened
//    across their minor axis in window coordinates as OpenGL widens aliased
//    lines (the GL below draws 1-pixel lines only);
//  - a texture's internal format becomes the format of its data, the pixels
//    converted first where the internal format would drop channels;
//  - GL_CLAMP wrapping becomes GL_CLAMP_TO_EDGE;
//  - hints other than GL_GENERATE_MIPMAP_HINT are dropped.
// One thread, one context.
#pragma once
#include <GL/gl.h>

#include <cstdint>
#include <vector>

// The real GL underneath. Every entry must be set before the layer is used.
struct GlBackTable {
  void (*Color4f)(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
  void (*TexParameteri)(GLenum target, GLenum pname, GLint param);
  void (*BindTexture)(GLenum target, GLuint texture);
  void (*TexImage2D)(GLenum target, GLint level, GLint internalFormat, GLsizei width,
                     GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels);
  void (*Hint)(GLenum target, GLenum mode);
  void (*GenBuffers)(GLsizei n, GLuint* buffers);
  void (*DeleteBuffers)(GLsizei n, const GLuint* buffers);
  void (*BindBuffer)(GLenum target, GLuint buffer);
  void (*BufferData)(GLenum target, intptr_t size, const void* data, GLenum usage);
  void (*EnableClientState)(GLenum array);
  void (*DisableClientState)(GLenum array);
  void (*VertexPointer)(GLint size, GLenum type, GLsizei stride, const void* pointer);
  void (*TexCoordPointer)(GLint size, GLenum type, GLsizei stride, const void* pointer);
  void (*ColorPointer)(GLint size, GLenum type, GLsizei stride, const void* pointer);
  void (*DrawArrays)(GLenum mode, GLint first, GLsizei count);
  void (*GetFloatv)(GLenum pname, GLfloat* values);
  void (*GetIntegerv)(GLenum pname, GLint* values);
};

// The calls the portable code makes through the layer, by their gl* names.
struct GlFrontTable {
  GLuint (*GenLists)(GLsizei range);
  void (*DeleteLists)(GLuint list, GLsizei range);
  void (*NewList)(GLuint list, GLenum mode);
  void (*EndList)();
  void (*CallList)(GLuint list);
  void (*Begin)(GLenum mode);
  void (*End)();
  void (*Vertex3f)(GLfloat x, GLfloat y, GLfloat z);
  void (*Vertex3fv)(const GLfloat* v);
  void (*TexCoord2f)(GLfloat s, GLfloat t);
  void (*Color4f)(GLfloat r, GLfloat g, GLfloat b, GLfloat a);
  void (*LineWidth)(GLfloat width);
  void (*TexParameteri)(GLenum target, GLenum pname, GLint param);
  void (*BindTexture)(GLenum target, GLuint texture);
  void (*TexImage2D)(GLenum target, GLint level, GLint internalFormat, GLsizei width,
                     GLsizei height, GLint border, GLenum format, GLenum type, const void* pixels);
  void (*Hint)(GLenum target, GLenum mode);
};

// The table the redirected gl* names call: the layer's own functions unless
// replaced (tests point it at a native GL to compare).
extern GlFrontTable ZephyraGl;

// The layer's functions as a front table.
GlFrontTable GlLayerFront();
// Sets the GL underneath and forgets every list, buffer and state the layer
// kept (a new context: the old one's buffers went with it).
void GlLayerInstall(const GlBackTable& back);
// The back table of the GL this program is linked with (gl_system_table.cpp).
GlBackTable GlSystemTable();

// ---- the mends as plain functions (the layer uses exactly these) -----------

// GL_CLAMP as a wrap mode becomes GL_CLAMP_TO_EDGE; any other pair passes.
GLint GlLayerTexParameter(GLenum pname, GLint param);
// False for hints the GL below refuses (all but GL_GENERATE_MIPMAP_HINT).
bool GlLayerPassesHint(GLenum target);

// A texture upload as the GL below takes it: internal format equal to the
// format. `pixels` is set when the data had to be converted (it then points
// into `converted`); otherwise the caller's pixels go as they are.
struct GlUpload {
  GLenum format;
  const void* pixels;
  std::vector<uint8_t> converted;
};
// internalFormat is 1..4 or a base format (GL_LUMINANCE, GL_LUMINANCE_ALPHA,
// GL_ALPHA, GL_RGB, GL_RGBA, or a sized RGB/RGBA one). When the internal
// format keeps every channel the data carries, the data's own format is
// used, which samples the same. When it would drop one (colour to grey, a
// dropped alpha), GL_UNSIGNED_BYTE data is converted as OpenGL does (via RGBA;
// grey takes red). Other types go with the data's format. unpackAlignment is
// the row alignment of the source (GL_UNPACK_ALIGNMENT); converted rows are
// packed to the same alignment.
GlUpload GlLayerTextureUpload(GLint internalFormat, GLsizei width, GLsizei height, GLenum format,
                              GLenum type, const void* pixels, GLint unpackAlignment);

// The two triangles (six homogeneous clip-space vertices, x y z w each) that
// draw the line from clip point a to clip point b `width` pixels wide in a
// viewport of viewportWidth x viewportHeight: widened along y in window
// coordinates when the line runs more along x, else along x. False (nothing
// written) when an end lies on or behind the eye (w <= 0).
bool GlLayerWideLine(const float a[4], const float b[4], float width, float viewportWidth,
                     float viewportHeight, float out[6][4]);

// Captures what a display list draws with GL feedback mode: every primitive
// the GL rasterises comes back as window coordinates, colour and texture
// coordinates. An orthographic box of +-50 units on a 100 x 100 viewport
// maps object space straight to window space (x + 50, y + 50), so positions
// can be read back in object units.
#pragma once

#include <gtest/gtest.h>

#include <vector>

#include "platform/gl.h"

namespace render_test {

struct FeedbackVertex {
  float x, y, z;  // object coordinates recovered from window coordinates
  float w;        // clip w (1 for every affine modelview under the box projection)
  float r, g, b, a;
  float s, t;
};

struct FeedbackPrimitive {
  GLenum token;  // GL_POLYGON_TOKEN, GL_LINE_TOKEN / GL_LINE_RESET_TOKEN, GL_POINT_TOKEN,
                 // GL_PASS_THROUGH_TOKEN (no vertices; `marker` holds glPassThrough's value)
  std::vector<FeedbackVertex> vertices;
  float marker = 0.0f;
};

constexpr float kBox = 50.0f;

// Runs `draw` in feedback mode under the identity modelview and the box
// projection; restores the matrices and viewport afterwards.
template <typename Draw>
std::vector<FeedbackPrimitive> CaptureFeedback(Draw draw) {
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  glMatrixMode(GL_PROJECTION);
  glPushMatrix();
  glLoadIdentity();
  glOrtho(-kBox, kBox, -kBox, kBox, -kBox, kBox);
  glMatrixMode(GL_MODELVIEW);
  glPushMatrix();
  glLoadIdentity();
  glViewport(0, 0, 100, 100);

  std::vector<GLfloat> buffer(1 << 20);
  glFeedbackBuffer(static_cast<GLsizei>(buffer.size()), GL_4D_COLOR_TEXTURE, buffer.data());
  glRenderMode(GL_FEEDBACK);
  draw();
  const GLint used = glRenderMode(GL_RENDER);

  glViewport(viewport[0], viewport[1], viewport[2], viewport[3]);
  glMatrixMode(GL_PROJECTION);
  glPopMatrix();
  glMatrixMode(GL_MODELVIEW);
  glPopMatrix();

  std::vector<FeedbackPrimitive> out;
  auto readVertex = [&](GLint& k) {
    // x, y, z, w (window), r, g, b, a, s, t, r, q
    FeedbackVertex v;
    v.x = buffer[k] - kBox;
    v.y = buffer[k + 1] - kBox;
    // Depth range 0..1 maps z_ndc = -z / 50 to (1 - z / 50) / 2.
    v.z = kBox * (1.0f - 2.0f * buffer[k + 2]);
    v.w = buffer[k + 3];
    v.r = buffer[k + 4];
    v.g = buffer[k + 5];
    v.b = buffer[k + 6];
    v.a = buffer[k + 7];
    v.s = buffer[k + 8] / buffer[k + 11];
    v.t = buffer[k + 9] / buffer[k + 11];
    k += 12;
    return v;
  };
  for (GLint k = 0; used > 0 && k < used;) {
    FeedbackPrimitive p;
    p.token = static_cast<GLenum>(buffer[k++]);
    int count = 0;
    if (p.token == GL_POLYGON_TOKEN) {
      count = static_cast<int>(buffer[k++]);
    } else if (p.token == GL_LINE_TOKEN || p.token == GL_LINE_RESET_TOKEN) {
      count = 2;
    } else if (p.token == GL_POINT_TOKEN) {
      count = 1;
    } else if (p.token == GL_PASS_THROUGH_TOKEN) {
      p.marker = buffer[k++];
      out.push_back(std::move(p));
      continue;
    } else {
      ADD_FAILURE() << "unexpected feedback token " << p.token;
      break;
    }
    for (int i = 0; i < count; ++i) p.vertices.push_back(readVertex(k));
    out.push_back(std::move(p));
  }
  return out;
}

}  // namespace render_test

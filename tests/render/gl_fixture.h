// Shared set-up of the render tests that need GL: an offscreen compatibility
// context of 640 x 480, the GL state the window set-up establishes, the
// depth test of start-up, and the arrays start-up allocates in DemoGlobals.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "app/runtime.h"
#include "core/demo_globals.h"
#include "platform/gl.h"
#include "platform/offscreen_gl.h"
#include "render/geometry.h"
#include "render/render.h"

namespace render_test {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;

inline void EnableStartupDepthTest() {
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
}

// Start-up's lists, texture names and floor list, then its depth test; the
// textures stay empty for the test to fill (or not).
inline void BuildSceneWithoutPictures() {
  BuildMorphLists();
  BuildCubeLists();
  glGenTextures(1, &DemoGlobals.CaptionTextureA);
  glGenTextures(1, &DemoGlobals.CaptionTextureB);
  glGenTextures(1, &DemoGlobals.FloorTexture);
  glGenTextures(ObjectTextureCount, DemoGlobals.ObjectTextures);
  BuildFloorList();
  EnableStartupDepthTest();
}

// Read-backs of GL state.
inline bool Enabled(GLenum cap) { return glIsEnabled(cap) == GL_TRUE; }

inline GLint Integer(GLenum what) {
  GLint v = 0;
  glGetIntegerv(what, &v);
  return v;
}

inline float Float(GLenum what) {
  GLfloat v = 0;
  glGetFloatv(what, &v);
  return v;
}

// A parameter of `texture`; the bound texture stays as it was.
inline GLint TexParameter(GLuint texture, GLenum which) {
  const GLint previous = Integer(GL_TEXTURE_BINDING_2D);
  glBindTexture(GL_TEXTURE_2D, texture);
  GLint value = 0;
  glGetTexParameteriv(GL_TEXTURE_2D, which, &value);
  glBindTexture(GL_TEXTURE_2D, previous);
  return value;
}

// A colour read back from a frame or a texture, 0..255 a channel.
struct Rgb {
  int r, g, b;
  bool operator==(const Rgb&) const = default;
};
inline void PrintTo(const Rgb& c, std::ostream* os) { *os << "(" << c.r << ", " << c.g << ", " << c.b << ")"; }

// Owns the context and the storage start-up would allocate.
class GLFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ClearDemoGlobals();
    const char* whyNot = "";
    gl_ = CreateOffscreenGL(kWidth, kHeight, &whyNot);
    ASSERT_NE(gl_, nullptr) << "offscreen GL: " << whyNot;
    morphLists_.assign(50, 0);
    objectTextures_.assign(7, 0);
    pixelBuffer_.assign(256 * 256 * 3, 0);
    keys_.assign(256, 0);
    DemoGlobals.MorphLists = morphLists_.data();
    DemoGlobals.ObjectTextures = objectTextures_.data();
    DemoGlobals.TexturePixelBuffer = pixelBuffer_.data();
    DemoGlobals.KeyState = keys_.data();
    // The viewport, projection and fixed GL state exactly as the window
    // set-up leaves them: the shell's own procedures.
    ResizeViewport(kWidth, kHeight);
    SetFixedGLState();
  }
  void TearDown() override {
    DestroyOffscreenGL(gl_);
    ClearDemoGlobals();
  }

  // The frame as RGBA bytes, top row first.
  std::vector<uint8_t> ReadFrame() {
    std::vector<uint8_t> rgba(static_cast<size_t>(kWidth) * kHeight * 4);
    ReadOffscreenPixels(gl_, rgba.data());
    return rgba;
  }

  OffscreenGL* gl_ = nullptr;
  std::vector<uint32_t> morphLists_, objectTextures_;
  std::vector<uint8_t> pixelBuffer_, keys_;
};

}  // namespace render_test

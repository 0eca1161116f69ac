// Shared set-up of the render tests that need GL: an offscreen compatibility
// context of 640 x 480, the fixed GL state the window set-up establishes
// (projection, clear values, blending, texturing, then the depth test), and
// the arrays start-up allocates in DemoGlobals.
#pragma once
#include <GL/gl.h>
#include <GL/glu.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "app/demo_globals.h"
#include "platform/offscreen_gl.h"

namespace render_test {

constexpr int32_t kWidth = 640;
constexpr int32_t kHeight = 480;

// The viewport and perspective projection of a 640 x 480 client area, and
// the GL state the window set-up leaves, then the depth test of start-up.
inline void SetDemoGLState(int32_t width, int32_t height) {
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  const float aspect = static_cast<float>(width) / static_cast<float>(height);
  gluPerspective(45.0, aspect, static_cast<double>(0.1f), static_cast<double>(1000.0f));
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  glShadeModel(GL_SMOOTH);
  glClearColor(0, 0, 0, 0);
  glClearDepth(1.0);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

inline void EnableStartupDepthTest() {
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
}

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
    SetDemoGLState(kWidth, kHeight);
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

// GL state after InitGLState and ResizeViewport, read back in an offscreen
// compatibility context.
#include <gtest/gtest.h>

#include <cmath>

#include "platform/gl.h"
#include "platform/offscreen_gl.h"
#include "shell_fixture.h"

namespace {

class GLStateTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    const char* why = nullptr;
    gl = CreateOffscreenGL(640, 480, &why);
    ASSERT_NE(gl, nullptr) << why;
  }
  void TearDown() override {
    DestroyOffscreenGL(gl);
    ShellTest::TearDown();
  }
  static GLint Integer(GLenum what) {
    GLint v = -1;
    glGetIntegerv(what, &v);
    return v;
  }
  static void Projection(double m[16]) { glGetDoublev(GL_PROJECTION_MATRIX, m); }
  // The matrix gluPerspective(45, aspect, near, far) multiplies in, column-major.
  static void Perspective(double aspect, double near, double far, double m[16]) {
    double f = 1.0 / std::tan(45.0 / 2.0 * M_PI / 180.0);
    for (int i = 0; i < 16; ++i) m[i] = 0.0;
    m[0] = f / aspect;
    m[5] = f;
    m[10] = (far + near) / (near - far);
    m[11] = -1.0;
    m[14] = 2.0 * far * near / (near - far);
  }
  OffscreenGL* gl = nullptr;
};

TEST_F(GLStateTest, InitGLStateSetsTheFixedState) {
  // Start from the opposite of what is expected where GL allows it.
  glClearColor(1, 1, 1, 1);
  glClearDepth(0.5);
  glShadeModel(GL_FLAT);
  ASSERT_TRUE(InitGLState());
  EXPECT_TRUE(glIsEnabled(GL_BLEND));
  EXPECT_EQ(Integer(GL_BLEND_SRC), GL_SRC_ALPHA);
  EXPECT_EQ(Integer(GL_BLEND_DST), GL_ONE_MINUS_SRC_ALPHA);
  EXPECT_TRUE(glIsEnabled(GL_TEXTURE_2D));
  EXPECT_EQ(Integer(GL_SHADE_MODEL), GL_SMOOTH);
  EXPECT_EQ(Integer(GL_PERSPECTIVE_CORRECTION_HINT), GL_NICEST);
  GLfloat clear[4] = {-1, -1, -1, -1};
  glGetFloatv(GL_COLOR_CLEAR_VALUE, clear);
  EXPECT_EQ(clear[0], 0.0f);
  EXPECT_EQ(clear[1], 0.0f);
  EXPECT_EQ(clear[2], 0.0f);
  EXPECT_EQ(clear[3], 0.0f);
  GLdouble depth = -1;
  glGetDoublev(GL_DEPTH_CLEAR_VALUE, &depth);
  EXPECT_EQ(depth, 1.0);
  // The depth test is the start-up's, after the scene data is built.
  EXPECT_FALSE(glIsEnabled(GL_DEPTH_TEST));
  // The texture environment stays at the GL default.
  GLint env = 0;
  glGetTexEnviv(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, &env);
  EXPECT_EQ(env, GL_MODULATE);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST_F(GLStateTest, ResizeViewportFor640x480) {
  glMatrixMode(GL_PROJECTION);
  glTranslatef(1, 2, 3);  // must be replaced, not multiplied
  glMatrixMode(GL_MODELVIEW);
  glTranslatef(4, 5, 6);
  EXPECT_EQ(ResizeViewport(640, 480), 0);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[0], 0);
  EXPECT_EQ(viewport[1], 0);
  EXPECT_EQ(viewport[2], 640);
  EXPECT_EQ(viewport[3], 480);
  double got[16], want[16];
  Projection(got);
  // Aspect in single precision, near plane 0.1f widened.
  Perspective(static_cast<double>(640.0f / 480.0f), static_cast<double>(0.1f), 1000.0, want);
  for (int i = 0; i < 16; ++i) EXPECT_NEAR(got[i], want[i], 1e-6 * (1 + std::fabs(want[i]))) << i;
  // The near plane shows in m[14]: 0.1f differs from 0.1 at this precision.
  double exactTenth[16];
  Perspective(640.0 / 480.0, 0.1, 1000.0, exactTenth);
  EXPECT_GT(std::fabs(want[14] - exactTenth[14]), 1e-9);
  EXPECT_EQ(Integer(GL_MATRIX_MODE), GL_MODELVIEW);
  double modelview[16];
  glGetDoublev(GL_MODELVIEW_MATRIX, modelview);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(modelview[i], (i % 5 == 0) ? 1.0 : 0.0) << i;
}

TEST_F(GLStateTest, HeightZeroIsHeightOne) {
  ResizeViewport(640, 0);
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[3], 1);
  double zero[16], one[16];
  Projection(zero);
  ResizeViewport(640, 1);
  Projection(one);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(zero[i], one[i]) << i;
  double want[16];
  Perspective(640.0, static_cast<double>(0.1f), 1000.0, want);
  EXPECT_NEAR(zero[0], want[0], 1e-9);
}

TEST_F(GLStateTest, WidthZeroLeavesTheProjectionAtIdentity) {
  // An aspect of 0 is refused by the perspective call, so the projection
  // stays at the identity it was reset to.
  ResizeViewport(0, 480);
  double m[16];
  Projection(m);
  for (int i = 0; i < 16; ++i) EXPECT_EQ(m[i], (i % 5 == 0) ? 1.0 : 0.0) << i;
}

TEST_F(GLStateTest, SizeMessagesReachTheViewport) {
  DemoWindowProc(nullptr, WM_SIZE, SIZE_RESTORED, (300 & 0xFFFF) | (200 << 16));
  GLint viewport[4];
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 300);
  EXPECT_EQ(viewport[3], 200);
  DemoWindowProc(nullptr, WM_SIZE, SIZE_MINIMIZED, 0);  // minimising reports 0 x 0
  glGetIntegerv(GL_VIEWPORT, viewport);
  EXPECT_EQ(viewport[2], 0);
  EXPECT_EQ(viewport[3], 1);
}

}  // namespace

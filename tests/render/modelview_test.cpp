// The modelview matrices of the morph and cube passes, compared element by
// element with matrices composed here from plain translations and axis
// rotations (glRotate's formula), so a wrong angle, axis, order or
// translation anywhere in a pass shows as a mismatch.
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <sstream>
#include <vector>

#include "render/render.h"
#include "tests/render/feedback.h"
#include "tests/render/gl_fixture.h"

namespace {

// 4 x 4, column-major as the GL keeps it: element (row r, column c) is m[c * 4 + r].
using Mat4 = std::array<double, 16>;

Mat4 Identity() {
  Mat4 m{};
  for (int i = 0; i < 4; ++i) m[i * 4 + i] = 1.0;
  return m;
}

Mat4 operator*(const Mat4& a, const Mat4& b) {
  Mat4 out{};
  for (int r = 0; r < 4; ++r)
    for (int c = 0; c < 4; ++c)
      for (int k = 0; k < 4; ++k) out[c * 4 + r] += a[k * 4 + r] * b[c * 4 + k];
  return out;
}

Mat4 Translation(double x, double y, double z) {
  Mat4 m = Identity();
  m[12] = x;
  m[13] = y;
  m[14] = z;
  return m;
}

// A turn of `degrees` counter-clockwise about the axis (x, y, z), which is
// normalised first (Rodrigues' rotation formula).
Mat4 Rotation(double degrees, double x, double y, double z) {
  const double length = std::sqrt(x * x + y * y + z * z);
  x /= length;
  y /= length;
  z /= length;
  const double rad = degrees * M_PI / 180.0, c = std::cos(rad), s = std::sin(rad), t = 1.0 - c;
  const double rows[3][3] = {{x * x * t + c, x * y * t - z * s, x * z * t + y * s},
                             {y * x * t + z * s, y * y * t + c, y * z * t - x * s},
                             {z * x * t - y * s, z * y * t + x * s, z * z * t + c}};
  Mat4 m = Identity();
  for (int r = 0; r < 3; ++r)
    for (int col = 0; col < 3; ++col) m[col * 4 + r] = rows[r][col];
  return m;
}

// The same angle about x, then y, then z, multiplied on in that order as
// successive glRotatef calls do (so the z turn acts on the object first).
Mat4 TurnXYZ(double degrees) {
  return Rotation(degrees, 1, 0, 0) * Rotation(degrees, 0, 1, 0) * Rotation(degrees, 0, 0, 1);
}

std::string Show(const Mat4& m) {
  std::ostringstream os;
  for (int r = 0; r < 4; ++r) {
    os << "\n  [";
    for (int c = 0; c < 4; ++c) os << " " << m[c * 4 + r];
    os << " ]";
  }
  return os.str();
}

// All sixteen elements within `tolerance`.
testing::AssertionResult SameMatrix(const Mat4& expected, const Mat4& actual, double tolerance = 1e-4) {
  for (int i = 0; i < 16; ++i)
    if (!(std::fabs(expected[i] - actual[i]) <= tolerance))
      return testing::AssertionFailure() << "element (row " << i % 4 << ", column " << i / 4 << ") differs"
                                         << "\nexpected:" << Show(expected) << "\nactual:" << Show(actual);
  return testing::AssertionSuccess();
}

Mat4 CurrentModelview() {
  GLfloat f[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, f);
  Mat4 m;
  for (int i = 0; i < 16; ++i) m[i] = f[i];
  return m;
}

// Marker lists stand in for the cube, its edges and the floor: each passes
// its own number through feedback, then draws the origin and the tips of the
// three unit axes as points. Where those four points land is the modelview
// the list was called under.
enum Marker { kCube = 1, kEdges = 2, kFloor = 3 };

GLuint MarkerList(Marker marker) {
  const GLuint list = glGenLists(1);
  glNewList(list, GL_COMPILE);
  glPassThrough(static_cast<GLfloat>(marker));
  glBegin(GL_POINTS);
  glVertex3f(0, 0, 0);
  glVertex3f(1, 0, 0);
  glVertex3f(0, 1, 0);
  glVertex3f(0, 0, 1);
  glEnd();
  glEndList();
  return list;
}

struct MarkerCall {
  int marker;
  Mat4 modelview;
};

// The marker calls of a feedback capture, each with the modelview recovered
// from its four points: column j is the image of axis tip j less that of
// the origin, column 3 the origin's image (homogeneous, so the bottom row
// comes from the points' w).
std::vector<MarkerCall> MarkerCalls(const std::vector<render_test::FeedbackPrimitive>& prims) {
  std::vector<MarkerCall> calls;
  for (size_t k = 0; k < prims.size(); ++k) {
    if (prims[k].token != GL_PASS_THROUGH_TOKEN) {
      ADD_FAILURE() << "primitive " << k << " outside a marker (token " << prims[k].token << ")";
      return calls;
    }
    if (k + 4 >= prims.size()) {
      ADD_FAILURE() << "marker " << prims[k].marker << " without its four points";
      return calls;
    }
    std::array<std::array<double, 4>, 4> h{};  // homogeneous image of origin, x, y, z tips
    for (int p = 0; p < 4; ++p) {
      const auto& prim = prims[k + 1 + p];
      if (prim.token != GL_POINT_TOKEN || prim.vertices.size() != 1) {
        ADD_FAILURE() << "marker " << prims[k].marker << ": point " << p << " missing";
        return calls;
      }
      const auto& v = prim.vertices[0];
      h[p] = {double(v.x) * v.w, double(v.y) * v.w, double(v.z) * v.w, double(v.w)};
    }
    MarkerCall call{static_cast<int>(prims[k].marker), {}};
    for (int r = 0; r < 4; ++r) {
      for (int axis = 0; axis < 3; ++axis) call.modelview[axis * 4 + r] = h[axis + 1][r] - h[0][r];
      call.modelview[12 + r] = h[0][r];
    }
    calls.push_back(call);
    k += 4;
  }
  return calls;
}

class Modelview : public render_test::GLFixture {
 protected:
  void SetUp() override {
    GLFixture::SetUp();
    if (HasFatalFailure()) return;
    render_test::BuildSceneWithoutPictures();
  }
};

TEST_F(Modelview, MorphPassTurnsAboutXThenYThenZ2Point5UnitsAhead) {
  for (auto [mode, angle] :
       {std::pair{SceneModeMorphRising, 37.0f}, std::pair{SceneModeMorphFalling, -123.5f}}) {
    DemoGlobals.SceneMode = mode;
    DemoGlobals.MorphFrame = 7;
    DemoGlobals.MorphAngle = angle;
    RenderFrame();
    const Mat4 expected = Translation(0, 0, -2.5) * TurnXYZ(angle);
    EXPECT_TRUE(SameMatrix(expected, CurrentModelview())) << "mode " << int(mode) << ", angle " << angle;
    // The angle tells the orders apart: z, y, x would be another matrix.
    const Mat4 reversed = Translation(0, 0, -2.5) * Rotation(angle, 0, 0, 1) * Rotation(angle, 0, 1, 0) *
                          Rotation(angle, 1, 0, 0);
    EXPECT_FALSE(SameMatrix(expected, reversed, 0.05));
  }
}

TEST_F(Modelview, CubeEdgesFloorAndNineTrailCopiesEachUnderTheirOwnTransform) {
  DemoGlobals.SceneMode = SceneModeCube;
  DemoGlobals.ObjectTextureIndex = 3;
  DemoGlobals.BeatZoom = 1.3f;
  DemoGlobals.CubeSpin = 47.5f;
  DemoGlobals.FloorSpin = 23.0f;
  DemoGlobals.FloorDepth = -30.0f;
  DemoGlobals.CubeList = MarkerList(kCube);
  DemoGlobals.CubeEdgeList = MarkerList(kEdges);
  DemoGlobals.FloorList = MarkerList(kFloor);

  const auto calls = MarkerCalls(render_test::CaptureFeedback([] { RenderFrame(); }));
  ASSERT_EQ(calls.size(), 12u);

  // The cube sits at depth BeatZoom - 7 (a float sum), turned by CubeSpin
  // about x, then y, then z; its edges under the same transform.
  const double depth = double(1.3f - 7.0f);
  const Mat4 cube = Translation(0, 0, depth) * TurnXYZ(47.5);
  EXPECT_EQ(calls[0].marker, kCube);
  EXPECT_TRUE(SameMatrix(cube, calls[0].modelview)) << "cube";
  EXPECT_EQ(calls[1].marker, kEdges);
  EXPECT_TRUE(SameMatrix(cube, calls[1].modelview)) << "edges";
  // The floor, from a fresh identity: turned about the view axis, then pushed
  // to FloorDepth along its own (turned) z, which is the view axis too.
  EXPECT_EQ(calls[2].marker, kFloor);
  EXPECT_TRUE(SameMatrix(Rotation(23.0, 0, 0, 1) * Translation(0, 0, -30.0), calls[2].modelview)) << "floor";
  // Copy i, from a fresh identity, at the cube's depth, 10 i degrees behind
  // about each axis.
  for (int i = 1; i <= 9; ++i) {
    const MarkerCall& copy = calls[2 + i];
    EXPECT_EQ(copy.marker, kCube) << "copy " << i;
    EXPECT_TRUE(SameMatrix(Translation(0, 0, depth) * TurnXYZ(47.5 - 10.0 * i), copy.modelview)) << "copy " << i;
  }

  // Drawn for real, the frame ends under the ninth copy's matrix, 90 degrees
  // behind the cube.
  RenderFrame();
  EXPECT_TRUE(SameMatrix(Translation(0, 0, depth) * TurnXYZ(47.5 - 90.0), CurrentModelview()));
}

TEST_F(Modelview, NinthTrailCopyOfACubeAt90DegreesIsUnturned) {
  DemoGlobals.SceneMode = SceneModeCube;
  DemoGlobals.ObjectTextureIndex = 0;
  DemoGlobals.BeatZoom = 2.5f;
  DemoGlobals.CubeSpin = 90.0f;
  RenderFrame();
  // 90 - 10 * 9 = 0: no turn left, only the cube's depth 2.5 - 7.
  EXPECT_TRUE(SameMatrix(Translation(0, 0, -4.5), CurrentModelview()));
}

}  // namespace

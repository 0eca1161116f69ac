// Display lists replayed in GL feedback mode in an offscreen compatibility
// context: what each list draws, in which order, and the state it leaves.
#include <gtest/gtest.h>

#include <cmath>
#include <set>

#include "render/geometry.h"
#include "render/render.h"
#include "tests/render/feedback.h"
#include "tests/render/gl_fixture.h"

namespace {

using render_test::CaptureFeedback;
using render_test::FeedbackPrimitive;
using render_test::FeedbackVertex;
using render_test::Float;
using render_test::Integer;
using render_test::TexParameter;

struct Expected {
  float s, t, x, y, z;
};

// The cube's faces: front, back, top, bottom, right, left.
const Expected kCube[24] = {
    {0, 1, -1, -1, 1},  {1, 1, 1, -1, 1},  {1, 0, 1, 1, 1},   {0, 0, -1, 1, 1},
    {1, 0, -1, -1, -1}, {0, 0, -1, 1, -1}, {0, 1, 1, 1, -1},  {1, 1, 1, -1, -1},
    {0, 1, -1, 1, -1},  {1, 1, -1, 1, 1},  {1, 0, 1, 1, 1},   {0, 0, 1, 1, -1},
    {0, 1, -1, -1, -1}, {1, 1, 1, -1, -1}, {1, 0, 1, -1, 1},  {0, 0, -1, -1, 1},
    {1, 1, 1, -1, -1},  {1, 0, 1, 1, -1},  {0, 0, 1, 1, 1},   {0, 1, 1, -1, 1},
    {1, 1, -1, -1, -1}, {1, 0, -1, -1, 1}, {0, 0, -1, 1, 1},  {0, 1, -1, 1, -1},
};

const Expected kFloor[4] = {
    {0, 10, -40, -40, 0}, {10, 10, 40, -40, 0}, {10, 0, 40, 40, 0}, {0, 0, -40, 40, 0}};

bool Same(const FeedbackVertex& a, const FeedbackVertex& b) {
  return std::fabs(a.x - b.x) < 1e-4f && std::fabs(a.y - b.y) < 1e-4f &&
         std::fabs(a.z - b.z) < 1e-4f && std::fabs(a.s - b.s) < 1e-6f && std::fabs(a.t - b.t) < 1e-6f;
}

// The GL hands a quad back as two triangles; either split keeps the quad's
// vertices in order: (0 1 3)(1 2 3) or (0 1 2)(0 2 3). Returns the four
// vertices in their original order, or an empty vector if neither fits.
std::vector<FeedbackVertex> QuadFromTriangles(const FeedbackPrimitive& a, const FeedbackPrimitive& b) {
  if (a.vertices.size() != 3 || b.vertices.size() != 3) return {};
  const auto& p = a.vertices;
  const auto& q = b.vertices;
  if (Same(q[0], p[1]) && Same(q[2], p[2])) return {p[0], p[1], q[1], p[2]};
  if (Same(q[0], p[0]) && Same(q[1], p[2])) return {p[0], p[1], p[2], q[2]};
  return {};
}

// Reassembles a run of polygons into quads (one polygon of 4, or two triangles).
std::vector<std::vector<FeedbackVertex>> Quads(const std::vector<FeedbackPrimitive>& prims) {
  std::vector<std::vector<FeedbackVertex>> quads;
  for (size_t k = 0; k < prims.size();) {
    if (prims[k].vertices.size() == 4) {
      quads.push_back(prims[k].vertices);
      k += 1;
    } else if (k + 1 < prims.size()) {
      quads.push_back(QuadFromTriangles(prims[k], prims[k + 1]));
      k += 2;
    } else {
      quads.push_back({});
      k += 1;
    }
  }
  return quads;
}

void ExpectVertex(const FeedbackVertex& got, const Expected& want, const std::string& where) {
  EXPECT_NEAR(got.x, want.x, 1e-4) << where;
  EXPECT_NEAR(got.y, want.y, 1e-4) << where;
  EXPECT_NEAR(got.z, want.z, 1e-4) << where;
  EXPECT_FLOAT_EQ(got.s, want.s) << where;
  EXPECT_FLOAT_EQ(got.t, want.t) << where;
}

void ExpectColour(const FeedbackVertex& v, float r, float g, float b, float a) {
  EXPECT_NEAR(v.r, r, 1e-6);
  EXPECT_NEAR(v.g, g, 1e-6);
  EXPECT_NEAR(v.b, b, 1e-6);
  EXPECT_NEAR(v.a, a, 1e-6);
}

class Lists : public render_test::GLFixture {};

TEST_F(Lists, CubeListDrawsTheFaceTableInOrder) {
  BuildCubeLists();
  ASSERT_NE(DemoGlobals.CubeList, 0u);
  glColor4f(0.25f, 0.5f, 0.75f, 1.0f);
  const auto prims = CaptureFeedback([] { glCallList(DemoGlobals.CubeList); });
  for (const auto& p : prims) ASSERT_EQ(p.token, static_cast<GLenum>(GL_POLYGON_TOKEN));
  const auto quads = Quads(prims);
  ASSERT_EQ(quads.size(), 6u);
  for (int face = 0; face < 6; ++face) {
    ASSERT_EQ(quads[face].size(), 4u) << "face " << face << " is not a quad in order";
    for (int v = 0; v < 4; ++v) {
      ExpectVertex(quads[face][v], kCube[face * 4 + v],
                   "face " + std::to_string(face) + " vertex " + std::to_string(v));
      // The list carries no colour: the caller's applies.
      ExpectColour(quads[face][v], 0.25f, 0.5f, 0.75f, 1.0f);
    }
  }
}

TEST_F(Lists, CubeEdgeListDrawsTwelveSegmentsAndSetsLineWidth) {
  BuildCubeLists();
  ASSERT_NE(DemoGlobals.CubeEdgeList, 0u);
  EXPECT_NE(DemoGlobals.CubeEdgeList, DemoGlobals.CubeList);
  // Compiling does not execute: the line width changes only when called.
  EXPECT_FLOAT_EQ(Float(GL_LINE_WIDTH), 1.0f);
  const auto prims = CaptureFeedback([] { glCallList(DemoGlobals.CubeEdgeList); });
  EXPECT_FLOAT_EQ(Float(GL_LINE_WIDTH), 5.5f);

  const float d = 1.001f;
  const float ends[12][2][3] = {
      {{-d, -d, -d}, {-d, -d, d}}, {{-d, -d, d}, {-d, d, d}},  {{-d, d, d}, {-d, d, -d}},
      {{-d, d, -d}, {-d, -d, -d}}, {{d, -d, -d}, {d, -d, d}},  {{d, -d, d}, {d, d, d}},
      {{d, d, d}, {d, d, -d}},     {{d, d, -d}, {d, -d, -d}},  {{-d, -d, -d}, {d, -d, -d}},
      {{-d, -d, d}, {d, -d, d}},   {{-d, d, -d}, {d, d, -d}},  {{-d, d, d}, {d, d, d}},
  };
  ASSERT_EQ(prims.size(), 12u);
  for (int k = 0; k < 12; ++k) {
    ASSERT_TRUE(prims[k].token == GL_LINE_TOKEN || prims[k].token == GL_LINE_RESET_TOKEN);
    ASSERT_EQ(prims[k].vertices.size(), 2u);
    for (int e = 0; e < 2; ++e) {
      EXPECT_NEAR(prims[k].vertices[e].x, ends[k][e][0], 1e-4) << "segment " << k + 1;
      EXPECT_NEAR(prims[k].vertices[e].y, ends[k][e][1], 1e-4) << "segment " << k + 1;
      EXPECT_NEAR(prims[k].vertices[e].z, ends[k][e][2], 1e-4) << "segment " << k + 1;
    }
  }
  // Another width set by the caller is overridden on every call.
  glLineWidth(2.0f);
  glCallList(DemoGlobals.CubeEdgeList);
  EXPECT_FLOAT_EQ(Float(GL_LINE_WIDTH), 5.5f);
}

bool Near(const FeedbackVertex& v, const ShapePoint& p) {
  return std::fabs(v.x - p.x) < 2e-5f && std::fabs(v.y - p.y) < 2e-5f && std::fabs(v.z - p.z) < 2e-5f;
}

// Checks that triangles are those of the triangle strip `sequence`, in order:
// triangle k holds vertices k and k + 1 (in either order, as the GL keeps the
// winding) and ends in vertex k + 2.
void ExpectStrip(const std::vector<FeedbackPrimitive>& prims, size_t first,
                 const std::vector<ShapePoint>& sequence, const std::string& what) {
  for (size_t k = 0; k + 2 < sequence.size(); ++k) {
    const FeedbackPrimitive& p = prims[first + k];
    ASSERT_EQ(p.vertices.size(), 3u) << what << " triangle " << k;
    const bool pair = (Near(p.vertices[0], sequence[k]) && Near(p.vertices[1], sequence[k + 1])) ||
                      (Near(p.vertices[0], sequence[k + 1]) && Near(p.vertices[1], sequence[k]));
    ASSERT_TRUE(pair && Near(p.vertices[2], sequence[k + 2])) << what << " triangle " << k;
  }
}

// Compares the triangles the GL hands back with the rows - 1 strips of a
// grid, strip i running (i, 0), (i + 1, 0), (i, 1), (i + 1, 1), ... The GL
// may keep the strips apart or, compiling the list, join them into one strip
// through two repeated vertices (four degenerate triangles per join); both
// draw the same strips in the same order.
void ExpectStripsOfGrid(const std::vector<FeedbackPrimitive>& prims, const ShapeGrid& grid) {
  std::vector<std::vector<ShapePoint>> strips;
  for (int32_t i = 0; i + 1 < grid.rows; ++i) {
    std::vector<ShapePoint> strip;
    for (int32_t j = 0; j < grid.columns; ++j) {
      strip.push_back(grid.points[static_cast<size_t>(i) * grid.columns + j]);
      strip.push_back(grid.points[static_cast<size_t>(i + 1) * grid.columns + j]);
    }
    strips.push_back(strip);
  }
  const size_t perStrip = static_cast<size_t>(2 * grid.columns - 2);
  if (prims.size() == perStrip * strips.size()) {
    for (size_t i = 0; i < strips.size(); ++i)
      ExpectStrip(prims, i * perStrip, strips[i], "strip " + std::to_string(i));
    return;
  }
  std::vector<ShapePoint> joined;
  for (size_t i = 0; i < strips.size(); ++i) {
    if (i > 0) {
      joined.push_back(joined.back());
      joined.push_back(strips[i].front());
    }
    joined.insert(joined.end(), strips[i].begin(), strips[i].end());
  }
  ASSERT_EQ(prims.size(), joined.size() - 2) << "neither separate nor joined strips";
  ExpectStrip(prims, 0, joined, "joined strips");
}

TEST_F(Lists, MorphListsHoldTheSupershapeStrips) {
  BuildMorphLists();
  std::set<uint32_t> names(morphLists_.begin(), morphLists_.end());
  EXPECT_EQ(names.size(), 50u);
  EXPECT_EQ(names.count(0u), 0u);

  glColor4f(0.1f, 0.2f, 0.3f, 0.6f);
  for (int32_t i : {0, 25, 37}) {
    SCOPED_TRACE("morph list " + std::to_string(i));
    const auto prims = CaptureFeedback([i] { glCallList(DemoGlobals.MorphLists[i]); });
    const SuperFormulaSet set{1, 1, MorphSymmetry(i), 1, 1, 1};
    ExpectStripsOfGrid(prims, GenerateShapeGrid(-180, 180, set, -90, 90, set));
    // In the caller's colour: the list holds none.
    ExpectColour(prims.front().vertices.front(), 0.1f, 0.2f, 0.3f, 0.6f);
  }
}

TEST_F(Lists, EmitSuperShapeStripCountFollowsLatitudeSteps) {
  const GLuint list = glGenLists(3);
  const SuperFormulaSet set{1, 1, 3, 1, 1, 1};
  // Latitude 10 .. 13: one step, one row, nothing to pair.
  glNewList(list, GL_COMPILE);
  EmitSuperShape(-180, 180, 1, 1, 3, 1, 1, 1, 10, 13, 1, 1, 3, 1, 1, 1, 0);
  glEndList();
  // Latitude 0 .. 4: two rows, one strip of 2 x 91 vertices.
  glNewList(list + 1, GL_COMPILE);
  EmitSuperShape(-180, 180, 1, 1, 3, 1, 1, 1, 0, 4, 1, 1, 3, 1, 1, 1, 0);
  glEndList();
  // Longitude 0 .. 10 (three columns, span not a multiple of 4), latitude 0 .. 9.
  glNewList(list + 2, GL_COMPILE);
  EmitSuperShape(0, 10, 1, 1, 3, 1, 1, 1, 0, 9, 1, 1, 3, 1, 1, 1, 0);
  glEndList();

  EXPECT_TRUE(CaptureFeedback([list] { glCallList(list); }).empty());
  const auto one = CaptureFeedback([list] { glCallList(list + 1); });
  ExpectStripsOfGrid(one, GenerateShapeGrid(-180, 180, set, 0, 4, set));
  EXPECT_EQ(one.size(), 180u);  // one strip of 182 vertices
  const auto small = CaptureFeedback([list] { glCallList(list + 2); });
  ExpectStripsOfGrid(small, GenerateShapeGrid(0, 10, set, 0, 9, set));
  // 2 strips of 6 vertices: 8 triangles, or 12 when joined.
  EXPECT_TRUE(small.size() == 8u || small.size() == 12u) << small.size();
}

TEST_F(Lists, FloorListWrapsTheBoundTextureThenBindsTheFloor) {
  GLuint textures[2];
  glGenTextures(2, textures);
  DemoGlobals.FloorTexture = textures[0];
  const GLuint before = textures[1];
  // The floor texture clamps; if the list set the wrap after its bind it
  // would turn the floor's wrap back to GL_REPEAT.
  glBindTexture(GL_TEXTURE_2D, DemoGlobals.FloorTexture);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  glBindTexture(GL_TEXTURE_2D, before);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);

  BuildFloorList();
  ASSERT_NE(DemoGlobals.FloorList, 0u);
  // Compiling executes nothing.
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(before));
  EXPECT_EQ(TexParameter(before, GL_TEXTURE_WRAP_S), GL_CLAMP);

  glColor4f(0.4f, 0.3f, 0.3f, 1.0f);
  const auto prims = CaptureFeedback([] { glCallList(DemoGlobals.FloorList); });
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(DemoGlobals.FloorTexture));
  EXPECT_EQ(TexParameter(before, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(TexParameter(before, GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_EQ(TexParameter(DemoGlobals.FloorTexture, GL_TEXTURE_WRAP_S), GL_CLAMP);
  EXPECT_EQ(TexParameter(DemoGlobals.FloorTexture, GL_TEXTURE_WRAP_T), GL_CLAMP);

  const auto quads = Quads(prims);
  ASSERT_EQ(quads.size(), 1u);
  ASSERT_EQ(quads[0].size(), 4u);
  for (int v = 0; v < 4; ++v) {
    ExpectVertex(quads[0][v], kFloor[v], "floor vertex " + std::to_string(v));
    ExpectColour(quads[0][v], 0.4f, 0.3f, 0.3f, 1.0f);  // no colour in the list
  }
  // Nothing in the list touches the matrices.
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  for (int k = 0; k < 16; ++k) EXPECT_EQ(m[k], (k % 5 == 0) ? 1.0f : 0.0f);
}

}  // namespace

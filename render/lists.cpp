// Display lists built once at start-up: the 50 morph shapes, the cube and its edges.
#include "core/demo_globals.h"
#include "platform/gl.h"
#include "render/geometry.h"
#include "render/render.h"

void BuildMorphLists() {
  for (int32_t i = 0; i < MorphListCount; ++i) {
    const GLuint name = glGenLists(1);
    DemoGlobals.MorphLists[i] = name;
    const float m = MorphSymmetry(i);
    glNewList(name, GL_COMPILE);
    // Longitude -180..180 and latitude -90..90 in 4-degree steps, both curves
    // with a = b = 1, n1 = n2 = n3 = 1 and the same m: 45 strips of 182 vertices.
    EmitSuperShape(-180, 180, 1.0f, 1.0f, m, 1.0f, 1.0f, 1.0f, -90, 90, 1.0f, 1.0f, m, 1.0f, 1.0f,
                   1.0f, 0);
    glEndList();
  }
}

namespace {

// One cube vertex: texture coordinate, then position.
struct CubeVertex {
  float s, t, x, y, z;
};

// Face by face: front (z = +1), back, top, bottom, right, left. On the front
// face t = 1 runs along the lower edge, so an image stored top row first
// appears upright.
constexpr CubeVertex kCubeVertices[24] = {
    {0, 1, -1, -1, 1},  {1, 1, 1, -1, 1},   {1, 0, 1, 1, 1},    {0, 0, -1, 1, 1},
    {1, 0, -1, -1, -1}, {0, 0, -1, 1, -1},  {0, 1, 1, 1, -1},   {1, 1, 1, -1, -1},
    {0, 1, -1, 1, -1},  {1, 1, -1, 1, 1},   {1, 0, 1, 1, 1},    {0, 0, 1, 1, -1},
    {0, 1, -1, -1, -1}, {1, 1, 1, -1, -1},  {1, 0, 1, -1, 1},   {0, 0, -1, -1, 1},
    {1, 1, 1, -1, -1},  {1, 0, 1, 1, -1},   {0, 0, 1, 1, 1},    {0, 1, 1, -1, 1},
    {1, 1, -1, -1, -1}, {1, 0, -1, -1, 1},  {0, 0, -1, 1, 1},   {0, 1, -1, 1, -1},
};

// Edge endpoints as signs of d: the square at x = -d, the square at x = +d,
// then the four edges parallel to the x axis.
constexpr signed char kEdgeSigns[24][3] = {
    {-1, -1, -1}, {-1, -1, 1},  {-1, -1, 1}, {-1, 1, 1},  {-1, 1, 1}, {-1, 1, -1},
    {-1, 1, -1},  {-1, -1, -1}, {1, -1, -1}, {1, -1, 1},  {1, -1, 1}, {1, 1, 1},
    {1, 1, 1},    {1, 1, -1},   {1, 1, -1},  {1, -1, -1}, {-1, -1, -1}, {1, -1, -1},
    {-1, -1, 1},  {1, -1, 1},   {-1, 1, -1}, {1, 1, -1},  {-1, 1, 1}, {1, 1, 1},
};

}  // namespace

void BuildCubeLists() {
  DemoGlobals.CubeList = glGenLists(1);
  glNewList(DemoGlobals.CubeList, GL_COMPILE);
  glBegin(GL_QUADS);
  for (const CubeVertex& v : kCubeVertices) {
    glTexCoord2f(v.s, v.t);
    glVertex3f(v.x, v.y, v.z);
  }
  glEnd();
  glEndList();

  // The edges sit 0.001 outside the faces; the line width (pixels) is part of
  // the list, so every call leaves it at 5.5.
  const float d = 1.001f;
  DemoGlobals.CubeEdgeList = glGenLists(1);
  glNewList(DemoGlobals.CubeEdgeList, GL_COMPILE);
  glLineWidth(5.5f);
  glBegin(GL_LINES);
  for (const auto& sign : kEdgeSigns) glVertex3f(sign[0] * d, sign[1] * d, sign[2] * d);
  glEnd();
  glEndList();
}

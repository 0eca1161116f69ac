// The floor display list: one 80 x 80 square, its picture tiled ten times
// each way.
#include "core/demo_globals.h"
#include "platform/gl.h"
#include "render/render.h"

void BuildFloorList() {
  // The wrap parameters are recorded ahead of the bind, so when the list runs
  // they act on the texture bound at the call; the floor texture keeps the
  // default GL_REPEAT, which tiles the picture ten times each way (one copy
  // per 8 x 8 units of the 80 x 80 square).
  DemoGlobals.FloorList = glGenLists(1);
  glNewList(DemoGlobals.FloorList, GL_COMPILE);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  glBindTexture(GL_TEXTURE_2D, DemoGlobals.FloorTexture);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 10.0f);
  glVertex3f(-40.0f, -40.0f, 0.0f);
  glTexCoord2f(10.0f, 10.0f);
  glVertex3f(40.0f, -40.0f, 0.0f);
  glTexCoord2f(10.0f, 0.0f);
  glVertex3f(40.0f, 40.0f, 0.0f);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(-40.0f, 40.0f, 0.0f);
  glEnd();
  glEndList();
}

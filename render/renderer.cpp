// The per-frame renderer: one clear, then the pass of the current scene.
// Reads DemoGlobals only, changes only GL state, and restores nothing: every
// pass relies on the state the previous frames left behind.
#include "core/demo_globals.h"
#include "platform/gl.h"
#include "render/render.h"

namespace {

// Number of trail copies drawn behind the cube, each 10 degrees further back.
constexpr int kTrailCopies = 9;

// The music thread writes MorphFrame and ObjectTextureIndex without a lock.
// A slot outside the arrays draws nothing for that object rather than reading
// past them; in-range slots behave as always.
bool MorphSlotValid(int32_t slot) { return slot >= 0 && slot < MorphListCount; }
bool TextureSlotValid(int32_t slot) { return slot >= 0 && slot < ObjectTextureCount; }

void MorphPass() {
  glDisable(GL_DEPTH_TEST);
  glDisable(GL_TEXTURE_2D);
  glTranslatef(0.0f, 0.0f, -2.5f);
  // The GL normalises the axes, so (0, 0.5, 0) is a full turn about y.
  glRotatef(DemoGlobals.MorphAngle.load(), 1.0f, 0.0f, 0.0f);
  glRotatef(DemoGlobals.MorphAngle.load(), 0.0f, 0.5f, 0.0f);
  glRotatef(DemoGlobals.MorphAngle.load(), 0.0f, 0.0f, 1.0f);
  glColor4f(DemoGlobals.MorphRed.load(), DemoGlobals.MorphGreen.load(),
            DemoGlobals.MorphBlue.load(), 0.6f);
  // Read once: the same value decides and indexes.
  const int32_t frame = DemoGlobals.MorphFrame.load();
  if (MorphSlotValid(frame)) glCallList(DemoGlobals.MorphLists[frame]);
}

void CubePass() {
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  // The depth is summed as a 32-bit float.
  glTranslatef(0.0f, 0.0f, DemoGlobals.BeatZoom.load() - 7.0f);
  glRotatef(DemoGlobals.CubeSpin.load(), 1.0f, 0.0f, 0.0f);
  glRotatef(DemoGlobals.CubeSpin.load(), 0.0f, 1.0f, 0.0f);
  glRotatef(DemoGlobals.CubeSpin.load(), 0.0f, 0.0f, 0.5f);

  // With the slot out of range the cube (and its trail) is not drawn; the
  // floor still is.
  const int32_t slot = DemoGlobals.ObjectTextureIndex.load();
  const bool drawCube = TextureSlotValid(slot);
  if (drawCube) glBindTexture(GL_TEXTURE_2D, DemoGlobals.ObjectTextures[slot]);
  glColor4f(1.0f, 1.0f, 1.0f, 1.0f);
  if (drawCube) glCallList(DemoGlobals.CubeList);
  glColor4f(0.0f, 0.0f, 0.0f, 1.0f);
  if (drawCube) glCallList(DemoGlobals.CubeEdgeList);

  // Acts on whichever texture is bound now: the cube's.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_REPEAT);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_REPEAT);
  DrawFloor();

  // FloorList bound the floor texture; the trail shows the cube's again.
  const int32_t trailSlot = DemoGlobals.ObjectTextureIndex.load();
  const bool drawTrail = TextureSlotValid(trailSlot);
  if (drawTrail) glBindTexture(GL_TEXTURE_2D, DemoGlobals.ObjectTextures[trailSlot]);

  // Nine copies at earlier orientations, fading: alpha 2.8 / (6 i) in floats.
  // With the depth test on (GL_LEQUAL) a copy shows only where it sticks out.
  for (int i = 1; i <= kTrailCopies; ++i) {
    glLoadIdentity();
    glColor4f(1.0f, 1.0f, 1.0f, 2.8f / (6.0f * static_cast<float>(i)));
    glTranslatef(0.0f, 0.0f, DemoGlobals.BeatZoom.load() - 7.0f);
    const float angle = DemoGlobals.CubeSpin.load() - 10.0f * static_cast<float>(i);
    glRotatef(angle, 1.0f, 0.0f, 0.0f);
    glRotatef(angle, 0.0f, 1.0f, 0.0f);
    glRotatef(angle, 0.0f, 0.0f, 0.5f);
    if (drawTrail) glCallList(DemoGlobals.CubeList);
  }
}

void CaptionPass() {
  glEnable(GL_TEXTURE_2D);
  // Before the bind: these act on the texture the previous frame left bound.
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP);
  if (DemoGlobals.UseCaptionB.load() == 0) {
    glBindTexture(GL_TEXTURE_2D, DemoGlobals.CaptionTextureA);
    glTranslatef(0.045f, 0.0f, -1.0f);
  } else {
    glBindTexture(GL_TEXTURE_2D, DemoGlobals.CaptionTextureB);
    glTranslatef(0.0f, 0.0f, -1.0f);
  }
  glColor4f(1.0f, 1.0f, 1.0f, DemoGlobals.CaptionFade.load());
  // Half turn about x: the band lands 3 units in front of the eye with t = 0
  // along its upper edge, 4 units wide (wider than the view) and 0.5 high.
  glRotatef(180.0f, 1.0f, 0.0f, 0.0f);
  glBegin(GL_QUADS);
  glTexCoord2f(0.0f, 0.0f);
  glVertex3f(-2.0f, -0.25f, 2.0f);
  glTexCoord2f(1.0f, 0.0f);
  glVertex3f(2.0f, -0.25f, 2.0f);
  glTexCoord2f(1.0f, 1.0f);
  glVertex3f(2.0f, 0.25f, 2.0f);
  glTexCoord2f(0.0f, 1.0f);
  glVertex3f(-2.0f, 0.25f, 2.0f);
  glEnd();
}

}  // namespace

void DrawFloor() {
  glLoadIdentity();
  glRotatef(DemoGlobals.FloorSpin.load(), 0.0f, 0.0f, 1.0f);
  glTranslatef(0.0f, 0.0f, DemoGlobals.FloorDepth.load());
  // Darkens the tiled image and tints it red (GL_MODULATE).
  glColor4f(0.4f, 0.3f, 0.3f, 1.0f);
  glCallList(DemoGlobals.FloorList);
}

void RenderFrame() {
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  glLoadIdentity();
  // Each test reads SceneMode afresh: a change between two tests can make
  // one frame run two passes or none.
  if (DemoGlobals.SceneMode.load() == SceneModeMorphFalling ||
      DemoGlobals.SceneMode.load() == SceneModeMorphRising)
    MorphPass();
  if (DemoGlobals.SceneMode.load() == SceneModeCube) CubePass();
  if (DemoGlobals.SceneMode.load() == SceneModeCaptionIn ||
      DemoGlobals.SceneMode.load() == SceneModeCaptionOut)
    CaptionPass();
}

// Render benchmark: prints numbers, asserts nothing.
//  1. start-up cost of BuildMorphLists, BuildCubeLists and BuildTextureSet;
//  2. frames per second of each scene at 640 x 480 in an offscreen context,
//     beside the bare cost of the same display lists (or the one caption
//     quad) called without the rest of the frame;
//  3. the process's peak resident memory afterwards.
// Usage: bench_render [seconds per measurement, default 2]
#if defined(_WIN32)
#include "platform/win32/native_services.h"
#else
#include <sys/resource.h>
#endif

#include <chrono>
#include <cstdio>
#include <cstdlib>

#include "app/runtime.h"
#include "core/demo_globals.h"
#include "platform/gl.h"
#include "platform/offscreen_gl.h"
#include "platform/pixels.h"
#include "render/render.h"

namespace {

using Clock = std::chrono::steady_clock;

double Seconds(Clock::time_point from) {
  return std::chrono::duration<double>(Clock::now() - from).count();
}

// Runs `body` (one frame's worth of drawing) followed by glFinish, as a swap
// would wait for the frame, until `seconds` have passed; answers frames/s.
template <typename Body>
double FramesPerSecond(double seconds, Body body) {
  for (int i = 0; i < 3; ++i) body();  // warm-up
  glFinish();
  int frames = 0;
  const auto start = Clock::now();
  double elapsed = 0;
  do {
    body();
    glFinish();
    ++frames;
    elapsed = Seconds(start);
  } while (elapsed < seconds);
  return frames / elapsed;
}

long PeakResidentKiB() {
#if defined(_WIN32)
  return static_cast<long>(NativePeakWorkingSetBytes() / 1024);
#else
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_maxrss;
#endif
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 2.0;
  const char* whyNot = "";
  OffscreenGL* gl = CreateOffscreenGL(640, 480, &whyNot);
  if (gl == nullptr) {
    std::fprintf(stderr, "bench_render: no offscreen GL context: %s\n", whyNot);
    return 1;
  }
  std::printf("GL: %s / %s\n", glGetString(GL_VERSION), glGetString(GL_RENDERER));

  // Start-up as the shell does it: the runtime (arrays, image layer), then
  // the viewport and fixed GL state.
  PixelStoreSetDisplayDepth(32);
  if (!CreateRuntimeTables() || !AllocateRuntimeBuffers()) {
    std::fprintf(stderr, "bench_render: out of memory\n");
    return 1;
  }
  ResizeViewport(640, 480);
  SetFixedGLState();

  auto start = Clock::now();
  BuildMorphLists();
  glFinish();
  const double morphSeconds = Seconds(start);
  start = Clock::now();
  BuildCubeLists();
  glFinish();
  const double cubeSeconds = Seconds(start);
  start = Clock::now();
  BuildTextureSet();
  glFinish();
  const double textureSeconds = Seconds(start);
  std::printf("start-up: BuildMorphLists %.1f ms, BuildCubeLists %.3f ms, BuildTextureSet %.1f ms, "
              "together %.1f ms\n",
              morphSeconds * 1e3, cubeSeconds * 1e3, textureSeconds * 1e3,
              (morphSeconds + cubeSeconds + textureSeconds) * 1e3);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);

  // Scene values near the middle of each scene.
  DemoGlobals.CaptionFade = 1.0f;
  DemoGlobals.MorphRed = 0.8f;
  DemoGlobals.MorphGreen = 0.5f;
  DemoGlobals.MorphBlue = 0.3f;
  DemoGlobals.FloorDepth = -30.0f;
  DemoGlobals.ObjectTextureIndex = 3;

  std::printf("%-8s %12s %22s\n", "scene", "frame fps", "lists alone (fps)");

  // Caption: the whole frame against the one inline quad.
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  const double captionFrame = FramesPerSecond(seconds, [] { RenderFrame(); });
  const double captionBare = FramesPerSecond(seconds, [] {
    glLoadIdentity();
    glTranslatef(0, 0, -3);
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex3f(-2, 0.25f, 0);
    glTexCoord2f(1, 0);
    glVertex3f(2, 0.25f, 0);
    glTexCoord2f(1, 1);
    glVertex3f(2, -0.25f, 0);
    glTexCoord2f(0, 1);
    glVertex3f(-2, -0.25f, 0);
    glEnd();
  });
  std::printf("%-8s %12.1f %22.1f   (one inline quad)\n", "caption", captionFrame, captionBare);

  // Morph: stepping through the lists as the tick does.
  DemoGlobals.SceneMode = SceneModeMorphRising;
  int frame = 0;
  const double morphFrame = FramesPerSecond(seconds, [&frame] {
    DemoGlobals.MorphFrame = frame++ % 50;
    DemoGlobals.MorphAngle = float(frame) * 3.0f;
    RenderFrame();
  });
  const double morphBare = FramesPerSecond(seconds, [&frame] {
    glLoadIdentity();
    glTranslatef(0, 0, -2.5f);
    glCallList(DemoGlobals.MorphLists[frame++ % 50]);
  });
  std::printf("%-8s %12.1f %22.1f   (one morph list, 8,190 vertices)\n", "morph", morphFrame, morphBare);

  // Cube: the cube, its edges, the floor and nine trail copies.
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  RenderFrame();  // texturing on, as the caption scene leaves it
  DemoGlobals.SceneMode = SceneModeCube;
  const double cubeFrame = FramesPerSecond(seconds, [&frame] {
    DemoGlobals.CubeSpin = float(frame++) * 6.0f;
    DemoGlobals.FloorSpin = float(frame) * 0.5f;
    RenderFrame();
  });
  const double cubeBare = FramesPerSecond(seconds, [] {
    glLoadIdentity();
    glTranslatef(0, 0, -7);
    for (int i = 0; i < 10; ++i) glCallList(DemoGlobals.CubeList);
    glCallList(DemoGlobals.CubeEdgeList);
    glLoadIdentity();
    glTranslatef(0, 0, -30);
    glCallList(DemoGlobals.FloorList);
  });
  std::printf("%-8s %12.1f %22.1f   (10 x CubeList, CubeEdgeList, FloorList)\n", "cube", cubeFrame,
              cubeBare);

  // The clear alone, for scale.
  const double clearOnly = FramesPerSecond(seconds, [] { glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT); });
  std::printf("%-8s %12.1f\n", "clear", clearOnly);

  std::printf("peak resident memory of this benchmark: %ld KiB\n", PeakResidentKiB());
  ReleaseRuntime();
  DestroyOffscreenGL(gl);
  return 0;
}

// The renderer against a second thread that writes the shared fields as the
// music thread does, including slots outside the arrays: every frame must
// stay within MorphLists and ObjectTextures (AddressSanitizer would catch a
// read past them) and every shared field is read without a data race
// (ThreadSanitizer).
#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <chrono>
#include <thread>

#include "render/render.h"
#include "tests/render/gl_fixture.h"

namespace {

class Concurrency : public render_test::GLFixture {};

TEST_F(Concurrency, FramesSurviveFieldsChangingUnderThem) {
  render_test::BuildSceneWithoutPictures();

  std::atomic<bool> stop{false};
  std::atomic<int> writes{0};
  std::thread music([&] {
    std::mt19937 random(7);
    const int8_t modes[] = {SceneModeStartUp,      SceneModeCaptionIn, SceneModeCaptionOut,
                             SceneModeMorphRising,  SceneModeMorphFalling, SceneModeCube,
                             3,                     -1};
    while (!stop.load()) {
      DemoGlobals.SceneMode = modes[random() % 8];
      DemoGlobals.MorphFrame = static_cast<int32_t>(random() % 60) - 5;        // -5 .. 54
      DemoGlobals.ObjectTextureIndex = static_cast<int8_t>(random() % 13) - 3;  // -3 .. 9
      DemoGlobals.CaptionFade = static_cast<float>(random() % 100) / 50.0f;
      DemoGlobals.UseCaptionB = static_cast<int32_t>(random() % 2);
      DemoGlobals.BeatZoom = static_cast<float>(random() % 30) / 10.0f;
      DemoGlobals.MorphRed = static_cast<float>(random() % 101) / 100.0f;
      writes.fetch_add(1);
      std::this_thread::sleep_for(std::chrono::microseconds(20));
    }
  });
  // Let the writer get going, then draw while it keeps writing.
  while (writes.load() < 100) std::this_thread::yield();
  // Each frame finished as a buffer swap would; go on until the writer has
  // changed the fields a few thousand times.
  int frames = 0;
  while (frames < 100 || writes.load() < 3000) {
    RenderFrame();
    glFinish();
    ++frames;
  }
  stop = true;
  music.join();
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

}  // namespace

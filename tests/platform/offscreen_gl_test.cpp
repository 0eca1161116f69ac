// The offscreen context: its buffer read back top row first, whatever the
// caller's pack alignment, for odd and even heights.
#include <gtest/gtest.h>

#include <vector>

#include "platform/gl.h"
#include "platform/offscreen_gl.h"

namespace {

TEST(OffscreenGL, ReadBackIsTopRowFirstAndKeepsThePackAlignment) {
  for (int32_t height : {4, 5}) {
    SCOPED_TRACE(height);
    const int32_t width = 3;  // 12-byte rows: tight packing matters at alignment 8
    const char* why = nullptr;
    OffscreenGL* gl = CreateOffscreenGL(width, height, &why);
    ASSERT_NE(gl, nullptr) << why;
    // Row y (counted from the bottom, as GL counts) gets red = 10 * y + 1.
    glEnable(GL_SCISSOR_TEST);
    for (int32_t y = 0; y < height; ++y) {
      glScissor(0, y, width, 1);
      glClearColor(static_cast<float>(10 * y + 1) / 255.0f, 0.0f, 1.0f, 1.0f);
      glClear(GL_COLOR_BUFFER_BIT);
    }
    glDisable(GL_SCISSOR_TEST);
    glPixelStorei(GL_PACK_ALIGNMENT, 8);
    std::vector<uint8_t> rgba(static_cast<size_t>(width * height * 4), 0x55);
    ReadOffscreenPixels(gl, rgba.data());
    GLint alignment = 0;
    glGetIntegerv(GL_PACK_ALIGNMENT, &alignment);
    EXPECT_EQ(alignment, 8);
    for (int32_t row = 0; row < height; ++row) {
      for (int32_t x = 0; x < width; ++x) {
        const uint8_t* p = &rgba[static_cast<size_t>((row * width + x) * 4)];
        EXPECT_EQ(p[0], 10 * (height - 1 - row) + 1) << "row " << row << " x " << x;
        EXPECT_EQ(p[1], 0);
        EXPECT_EQ(p[2], 255);
        EXPECT_EQ(p[3], 255);
      }
    }
    DestroyOffscreenGL(gl);
  }
}

}  // namespace

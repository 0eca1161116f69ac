// Whole frames rendered offscreen at 640 x 480 for hand-set DemoGlobals and
// read back: what each scene shows, and the GL state each pass leaves.
#include <gtest/gtest.h>

#include <cmath>

#include "render/geometry.h"
#include "render/render.h"
#include "tests/render/gl_fixture.h"

namespace {

using render_test::Enabled;
using render_test::Float;
using render_test::Integer;
using render_test::kHeight;
using render_test::kWidth;
using render_test::Rgb;
using render_test::TexParameter;

// Scene data built as start-up would, except that the textures are made here
// from known pictures: object slot k is a solid colour, the floor white, and
// the captions are given per test.
class Frame : public render_test::GLFixture {
 protected:
  void SetUp() override {
    GLFixture::SetUp();
    if (HasFatalFailure()) return;
    render_test::BuildSceneWithoutPictures();
    for (int k = 0; k < ObjectTextureCount; ++k) SolidTexture(DemoGlobals.ObjectTextures[k], kObjectColours[k]);
    SolidTexture(DemoGlobals.FloorTexture, {255, 255, 255});
    UploadCaption(DemoGlobals.CaptionTextureA, [](int, int) { return uint8_t{255}; });
    UploadCaption(DemoGlobals.CaptionTextureB, [](int, int) { return uint8_t{255}; });
    // Start-up's initial values that matter to the frames.
    DemoGlobals.FloorDepth = -30.0f;
  }

  static void SolidTexture(GLuint name, Rgb c) {
    std::vector<uint8_t> texels(256 * 256 * 3);
    for (size_t k = 0; k < texels.size(); k += 3) {
      texels[k] = uint8_t(c.r);
      texels[k + 1] = uint8_t(c.g);
      texels[k + 2] = uint8_t(c.b);
    }
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, 256, 256, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  }

  // A 512 x 64 grey caption as the texture set uploads it.
  template <typename Grey>
  static void UploadCaption(GLuint name, Grey grey) {
    std::vector<uint8_t> texels(512 * 64);
    for (int y = 0; y < 64; ++y)
      for (int x = 0; x < 512; ++x) texels[y * 512 + x] = grey(x, y);
    glBindTexture(GL_TEXTURE_2D, name);
    glTexImage2D(GL_TEXTURE_2D, 0, 3, 512, 64, 0, GL_LUMINANCE, GL_UNSIGNED_BYTE, texels.data());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
  }

  std::vector<uint8_t> Render() {
    RenderFrame();
    return ReadFrame();
  }

  static Rgb Pixel(const std::vector<uint8_t>& f, int x, int y) {
    const uint8_t* p = &f[(static_cast<size_t>(y) * kWidth + x) * 4];
    return {p[0], p[1], p[2]};
  }

  static bool AllBlack(const std::vector<uint8_t>& f) {
    for (size_t k = 0; k < f.size(); k += 4)
      if (f[k] != 0 || f[k + 1] != 0 || f[k + 2] != 0) return false;
    return true;
  }

  static constexpr Rgb kObjectColours[ObjectTextureCount] = {
      {255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 0}, {255, 0, 255}, {0, 255, 255}, {128, 64, 32}};
};

void ExpectCurrentColour(float r, float g, float b, float a) {
  GLfloat c[4];
  glGetFloatv(GL_CURRENT_COLOR, c);
  EXPECT_NEAR(c[0], r, 1e-6);
  EXPECT_NEAR(c[1], g, 1e-6);
  EXPECT_NEAR(c[2], b, 1e-6);
  EXPECT_NEAR(c[3], a, 1e-6);
}

// The first and last row and column holding a pixel brighter than `level`
// in any channel; {-1, -1, -1, -1} when there is none.
struct Box {
  int left = -1, top = -1, right = -1, bottom = -1;
};
Box Bright(const std::vector<uint8_t>& f, int level) {
  Box b;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const uint8_t* p = &f[(static_cast<size_t>(y) * kWidth + x) * 4];
      if (p[0] > level || p[1] > level || p[2] > level) {
        if (b.top < 0) b.top = y;
        b.bottom = y;
        if (b.left < 0 || x < b.left) b.left = x;
        if (x > b.right) b.right = x;
      }
    }
  return b;
}

TEST_F(Frame, ModeZeroAndUnknownModesAreBlack) {
  DemoGlobals.CaptionFade = 1.0f;
  DemoGlobals.MorphRed = 1.0f;
  for (int8_t mode : {SceneModeStartUp, int8_t{3}, int8_t{5}, int8_t{12}, int8_t{17}, int8_t{32},
                      int8_t{-1}, int8_t{-16}, int8_t{127}}) {
    // Something visible first, so a missing clear would show.
    DemoGlobals.SceneMode = SceneModeCaptionIn;
    ASSERT_FALSE(AllBlack(Render()));
    DemoGlobals.SceneMode = mode;
    EXPECT_TRUE(AllBlack(Render())) << "mode " << int(mode);
  }
}

TEST_F(Frame, FirstFrameIsBlack) {
  // Start-up leaves caption B bound (the last texture it uploads).
  glBindTexture(GL_TEXTURE_2D, DemoGlobals.CaptionTextureB);
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  DemoGlobals.UseCaptionB = 0;
  DemoGlobals.CaptionFade = 0.0f;
  EXPECT_TRUE(AllBlack(Render()));
  // The pass ran all the same: caption A bound, caption B clamped.
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(DemoGlobals.CaptionTextureA));
  EXPECT_EQ(TexParameter(DemoGlobals.CaptionTextureB, GL_TEXTURE_WRAP_S), GL_CLAMP);
}

TEST_F(Frame, CaptionBandSitsAroundTheCentreWithCaptionAShiftedRight) {
  // A one-texel-wide white line down the middle of each caption (s = 0.5),
  // and white only in the upper half of the rows (t < 0.5).
  auto middleLine = [](int x, int y) { return uint8_t((x == 255 || x == 256) && y < 32 ? 255 : 0); };
  UploadCaption(DemoGlobals.CaptionTextureA, middleLine);
  UploadCaption(DemoGlobals.CaptionTextureB, middleLine);
  DemoGlobals.CaptionFade = 1.0f;

  DemoGlobals.SceneMode = SceneModeCaptionIn;
  DemoGlobals.UseCaptionB = 0;
  const Box a = Bright(Render(), 60);
  DemoGlobals.SceneMode = SceneModeCaptionOut;
  DemoGlobals.UseCaptionB = 1;
  const Box b = Bright(Render(), 60);
  ASSERT_GE(a.left, 0);
  ASSERT_GE(b.left, 0);

  // 0.5 units high, 3 units away, 45-degree field: about 97 pixels high,
  // rows 192 .. 288. Only its upper half (t < 0.5) is white, so the image
  // stands upright: lettering begins at the band's top and ends at the centre.
  const double halfBand = 0.25 / (3.0 * std::tan(22.5 * M_PI / 180.0)) * 240.0;
  EXPECT_NEAR(a.top, 240 - halfBand, 2.5);
  EXPECT_NEAR(a.bottom, 240, 2.5);
  EXPECT_NEAR(b.top, 240 - halfBand, 2.5);
  // Caption B is centred; caption A moved right by 0.045 units (about 8.7 px).
  const double centreB = (b.left + b.right) / 2.0, centreA = (a.left + a.right) / 2.0;
  const double shift = 0.045 / (3.0 * std::tan(22.5 * M_PI / 180.0) * 640.0 / 480.0) * 320.0;
  EXPECT_NEAR(centreB, 319.5, 1.5);
  EXPECT_NEAR(centreA - centreB, shift, 1.5);
}

TEST_F(Frame, CaptionAtFullFadeIsWhiteBandOfTheDemoWidth) {
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  DemoGlobals.CaptionFade = 1.0f;
  const auto f = Render();
  // The band is wider than the view: the whole row at the centre is white,
  // the rows well above and below are black.
  for (int x = 0; x < kWidth; x += 7) EXPECT_EQ(Pixel(f, x, 240), (Rgb{255, 255, 255})) << "x " << x;
  const Box box = Bright(f, 0);
  EXPECT_EQ(box.left, 0);
  EXPECT_EQ(box.right, kWidth - 1);
  EXPECT_GT(box.top, 180);
  EXPECT_LT(box.bottom, 300);

  // Half fade blends half of white over black; above 1 the GL clamps.
  DemoGlobals.CaptionFade = 0.5f;
  EXPECT_NEAR(Pixel(Render(), 320, 240).g, 128, 2);
  DemoGlobals.CaptionFade = 3.0f;
  EXPECT_EQ(Pixel(Render(), 320, 240).g, 255);
  DemoGlobals.CaptionFade = -1.0f;
  EXPECT_TRUE(AllBlack(Render()));
}

TEST_F(Frame, CaptionPassState) {
  // After a cube frame the cube's texture is bound; the caption pass clamps
  // it before binding the caption.
  DemoGlobals.SceneMode = SceneModeCube;
  DemoGlobals.ObjectTextureIndex = 4;
  Render();
  glDisable(GL_TEXTURE_2D);
  const GLuint cube = DemoGlobals.ObjectTextures[4];
  DemoGlobals.SceneMode = SceneModeCaptionOut;
  DemoGlobals.UseCaptionB = 1;
  DemoGlobals.CaptionFade = 0.75f;
  Render();
  EXPECT_TRUE(Enabled(GL_TEXTURE_2D));
  EXPECT_TRUE(Enabled(GL_DEPTH_TEST));  // unchanged from the cube pass
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(DemoGlobals.CaptionTextureB));
  EXPECT_EQ(TexParameter(cube, GL_TEXTURE_WRAP_S), GL_CLAMP);
  EXPECT_EQ(TexParameter(cube, GL_TEXTURE_WRAP_T), GL_CLAMP);
  EXPECT_EQ(TexParameter(DemoGlobals.CaptionTextureB, GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_FLOAT_EQ(Float(GL_LINE_WIDTH), 5.5f);
  ExpectCurrentColour(1, 1, 1, 0.75f);
}

TEST_F(Frame, MorphPassShowsTranslucentBodyInMorphColour) {
  DemoGlobals.SceneMode = SceneModeMorphRising;
  DemoGlobals.MorphFrame = 0;
  DemoGlobals.MorphRed = 0.2f;
  DemoGlobals.MorphGreen = 0.6f;
  DemoGlobals.MorphBlue = 1.0f;
  const auto f = Render();
  // The unit sphere 2.5 units away: the front and back layers (and more at
  // strip overlaps) blend at alpha 0.6, so the body is in the morph colour
  // but not opaque: blue is above one layer's 153 and below 255.
  const Rgb centre = Pixel(f, 320, 240);
  EXPECT_GT(centre.b, 170);
  EXPECT_LT(centre.b, 250);
  EXPECT_NEAR(double(centre.g) / centre.b, 0.6, 0.03);
  EXPECT_NEAR(double(centre.r) / centre.b, 0.2, 0.03);
  // Silhouette radius asin(1/2.5) seen through a 22.5-degree half field: ~253 px.
  const Box box = Bright(f, 0);
  const double radius = std::tan(std::asin(1 / 2.5)) / std::tan(22.5 * M_PI / 180.0) * 240;
  EXPECT_NEAR((box.right - box.left + 1) / 2.0, radius, 3);
  EXPECT_EQ(box.top, 0);  // taller than the view
  EXPECT_EQ(Pixel(f, 2, 2).b, 0);

  EXPECT_FALSE(Enabled(GL_DEPTH_TEST));
  EXPECT_FALSE(Enabled(GL_TEXTURE_2D));
  ExpectCurrentColour(0.2f, 0.6f, 1.0f, 0.6f);
}

TEST_F(Frame, MorphFramesFoldTheBodyAndStepBothWays) {
  DemoGlobals.MorphRed = 1.0f;
  DemoGlobals.MorphAngle = 0.0f;
  auto litPixels = [&](int32_t frame, int8_t mode) {
    DemoGlobals.SceneMode = mode;
    DemoGlobals.MorphFrame = frame;
    const auto f = Render();
    int lit = 0;
    for (size_t k = 0; k < f.size(); k += 4) lit += f[k] > 0;
    return lit;
  };
  const int sphere = litPixels(0, SceneModeMorphRising), folded = litPixels(25, SceneModeMorphFalling);
  EXPECT_LT(folded, sphere * 0.9);
  // Same shape either direction: mode only picks the pass.
  EXPECT_EQ(litPixels(25, SceneModeMorphRising), folded);
  // MorphAngle tumbles the body: a turned folded shape covers other pixels.
  DemoGlobals.MorphAngle = 30.0f;
  EXPECT_NE(litPixels(25, SceneModeMorphRising), folded);
}

TEST_F(Frame, MorphFrameOutOfRangeDrawsNothing) {
  DemoGlobals.MorphRed = 1.0f;
  for (int32_t frame : {-1, 50, 1000, INT32_MIN}) {
    DemoGlobals.SceneMode = SceneModeMorphFalling;
    DemoGlobals.MorphFrame = frame;
    glEnable(GL_DEPTH_TEST);
    EXPECT_TRUE(AllBlack(Render())) << "frame " << frame;
    // The rest of the pass still runs.
    EXPECT_FALSE(Enabled(GL_DEPTH_TEST));
    ExpectCurrentColour(1, 0, 0, 0.6f);
  }
  DemoGlobals.MorphFrame = 49;
  EXPECT_FALSE(AllBlack(Render()));
}

TEST_F(Frame, CubePassShowsTexturedCubeWithBlackEdgesOverTintedFloor) {
  // Texturing on, as the caption scene leaves it.
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  Render();
  DemoGlobals.SceneMode = SceneModeCube;
  DemoGlobals.ObjectTextureIndex = 2;  // solid blue
  DemoGlobals.CubeSpin = 0.0f;
  DemoGlobals.BeatZoom = 0.0f;
  DemoGlobals.FloorSpin = 0.0f;
  const auto f = Render();

  // The front face at depth 6 spans about 97 px either side of the centre.
  EXPECT_EQ(Pixel(f, 320, 240), (Rgb{0, 0, 255}));
  const double half = 1.0 / (6.0 * std::tan(22.5 * M_PI / 180.0)) * 240.0;
  // Black edge lines, 5.5 px wide, at the face's left and right borders.
  for (int x : {int(std::lround(320 - half)), int(std::lround(320 + half))}) {
    const Rgb edge = Pixel(f, x, 240);
    EXPECT_LT(edge.r + edge.g + edge.b, 30) << "x " << x;
  }
  // The floor: white texels times (0.4, 0.3, 0.3) in the screen corners.
  for (auto [x, y] : {std::pair{5, 5}, std::pair{634, 5}, std::pair{5, 474}, std::pair{634, 474}}) {
    const Rgb floor = Pixel(f, x, y);
    EXPECT_NEAR(floor.r, 102, 2);
    EXPECT_NEAR(floor.g, 77, 2);
    EXPECT_NEAR(floor.b, 77, 2);
  }

  EXPECT_TRUE(Enabled(GL_DEPTH_TEST));
  EXPECT_EQ(Integer(GL_DEPTH_FUNC), GL_LEQUAL);
  EXPECT_TRUE(Enabled(GL_TEXTURE_2D));
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(DemoGlobals.ObjectTextures[2]));
  EXPECT_EQ(TexParameter(DemoGlobals.ObjectTextures[2], GL_TEXTURE_WRAP_S), GL_REPEAT);
  EXPECT_EQ(TexParameter(DemoGlobals.ObjectTextures[2], GL_TEXTURE_WRAP_T), GL_REPEAT);
  EXPECT_FLOAT_EQ(Float(GL_LINE_WIDTH), 5.5f);
  ExpectCurrentColour(1, 1, 1, 2.8f / 54.0f);
  // The modelview is that of the ninth trail copy: translate, then three turns.
  GLfloat m[16];
  glGetFloatv(GL_MODELVIEW_MATRIX, m);
  EXPECT_NEAR(m[14], -7.0f, 1e-5);
}

TEST_F(Frame, BeatZoomBringsTheCubeNearerAndTrailShowsBehindTurn) {
  DemoGlobals.SceneMode = SceneModeCube;
  DemoGlobals.ObjectTextureIndex = 1;  // solid green
  auto greenWidth = [&](float zoom, float spin) {
    DemoGlobals.BeatZoom = zoom;
    DemoGlobals.CubeSpin = spin;
    const auto f = Render();
    int n = 0;
    for (int x = 0; x < kWidth; ++x) {
      const Rgb c = Pixel(f, x, 240);
      n += c.g > 150 && c.r < 60 && c.b < 60;
    }
    return n;
  };
  const int far = greenWidth(0.0f, 0.0f);
  const int near = greenWidth(3.0f, 0.0f);
  // Depth 7 -> 4 scales the cube by about 7 / 4 (the front face by 6 / 3).
  EXPECT_GT(near, far * 1.6);
  // A turned cube shows its trail: faint green copies beyond the cube.
  DemoGlobals.BeatZoom = 0.0f;
  DemoGlobals.CubeSpin = 100.0f;
  const auto f = Render();
  int faint = 0;
  for (int y = 0; y < kHeight; ++y)
    for (int x = 0; x < kWidth; ++x) {
      const Rgb c = Pixel(f, x, y);
      faint += c.g > c.r + 10 && c.g < 200;
    }
  EXPECT_GT(faint, 100);
}

TEST_F(Frame, CubeAfterMorphIsUntexturedWhite) {
  DemoGlobals.SceneMode = SceneModeMorphFalling;
  DemoGlobals.MorphFrame = 10;
  Render();
  DemoGlobals.SceneMode = SceneModeCube;
  DemoGlobals.ObjectTextureIndex = 0;  // red, but texturing is off
  DemoGlobals.CubeSpin = 0.0f;
  const auto f = Render();
  EXPECT_EQ(Pixel(f, 320, 240), (Rgb{255, 255, 255}));
  const Rgb corner = Pixel(f, 3, 3);
  EXPECT_NEAR(corner.r, 102, 2);
  EXPECT_NEAR(corner.g, 77, 2);
  EXPECT_FALSE(Enabled(GL_TEXTURE_2D));
}

TEST_F(Frame, ObjectTextureIndexOutOfRangeDrawsFloorOnly) {
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  Render();
  const GLint boundBefore = Integer(GL_TEXTURE_BINDING_2D);
  for (int8_t slot : {int8_t{-1}, int8_t{7}, int8_t{127}}) {
    DemoGlobals.SceneMode = SceneModeCube;
    DemoGlobals.ObjectTextureIndex = slot;
    const auto f = Render();
    const Rgb centre = Pixel(f, 320, 240);
    EXPECT_NEAR(centre.r, 102, 2) << "slot " << int(slot);
    EXPECT_NEAR(centre.g, 77, 2) << "slot " << int(slot);
    // The floor still binds its texture; nothing else was bound.
    EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(DemoGlobals.FloorTexture));
    EXPECT_EQ(TexParameter(boundBefore, GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_TRUE(Enabled(GL_DEPTH_TEST));
  }
}

}  // namespace

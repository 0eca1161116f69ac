// The texture set built from the embedded assets through the image layer,
// checked against libjpeg's own decoder (djpeg) and the raw caption bytes;
// then caption frames with the real lettering.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>

#include "assets/assets.h"
#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"
#include "platform/pixels.h"
#include "render/render.h"
#include "tests/image/image_test_util.h"
#include "tests/render/gl_fixture.h"

namespace {

using Bytes = std::vector<uint8_t>;
using render_test::Integer;
using render_test::Rgb;
using render_test::TexParameter;

// djpeg's decoding (libjpeg's reference front end, integer DCT) of JPEG
// bytes in memory, through a temporary file. Empty when djpeg is not there.
imagetest::Picture Djpeg(const uint8_t* data, size_t length) {
  char path[] = "/tmp/zephyra_render_XXXXXX";
  const int fd = mkstemp(path);
  if (fd < 0) return {};
  FILE* out = fdopen(fd, "wb");
  fwrite(data, 1, length, out);
  fclose(out);
  imagetest::Picture picture = imagetest::DjpegDecode(path);
  std::remove(path);
  return picture;
}

// A 24-bit bottom-up bitmap file of width x height pixels coloured by colour(x, y).
template <typename Colour>
Bytes BitmapFile(int width, int height, Colour colour) {
  imagetest::TestDib dib;
  dib.width = width;
  dib.height = height;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const auto [r, g, b] = colour(x, y);
      dib.colours.push_back({uint8_t(r), uint8_t(g), uint8_t(b)});
    }
  return imagetest::MakeBmpFile(dib);
}

// GL context plus the image layer set up as start-up does it.
class Textures : public render_test::GLFixture {
 protected:
  void SetUp() override {
    GLFixture::SetUp();
    if (HasFatalFailure()) return;
    PixelStoreSetDisplayDepth(32);
    if (!DefaultBrush) CreateDrawingDefaults();
    ResetImageDecoders();
    InitImageRegistry(DemoGlobals.MainHeap);
    RegisterImageDecoder(&JpegImageDecoder);  // RegisterJpegDecoder acts once per process
  }
  void TearDown() override {
    ReleaseAllImages();
    PixelStoreSetDisplayDepth(32);
    GLFixture::TearDown();
  }

  // The texture's level 0 as RGB bytes, first row (t = 0) first.
  static Bytes TexelsOf(GLuint texture, int* width = nullptr, int* height = nullptr) {
    glBindTexture(GL_TEXTURE_2D, texture);
    GLint w = 0, h = 0;
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_HEIGHT, &h);
    Bytes texels(static_cast<size_t>(w) * h * 3);
    glPixelStorei(GL_PACK_ALIGNMENT, 1);
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGB, GL_UNSIGNED_BYTE, texels.data());
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    if (width) *width = w;
    if (height) *height = h;
    return texels;
  }

  static Rgb Texel(const Bytes& t, int width, int x, int y) {
    const uint8_t* p = &t[(static_cast<size_t>(y) * width + x) * 3];
    return {p[0], p[1], p[2]};
  }
};

TEST_F(Textures, BuildTextureSetMakesTenTexturesInOrder) {
  BuildTextureSet();
  // Bound last: caption B (the floor list's bind is only recorded).
  EXPECT_EQ(Integer(GL_TEXTURE_BINDING_2D), static_cast<GLint>(DemoGlobals.CaptionTextureB));

  // Names generated A, B, floor, then the seven objects.
  std::vector<uint32_t> names = {DemoGlobals.CaptionTextureA, DemoGlobals.CaptionTextureB,
                                 DemoGlobals.FloorTexture};
  names.insert(names.end(), objectTextures_.begin(), objectTextures_.end());
  for (size_t k = 0; k < names.size(); ++k) {
    EXPECT_NE(names[k], 0u);
    if (k > 0) {
      EXPECT_GT(names[k], names[k - 1]) << "name " << k;
    }
    EXPECT_EQ(TexParameter(names[k], GL_TEXTURE_WRAP_S), GL_REPEAT);
    EXPECT_EQ(TexParameter(names[k], GL_TEXTURE_WRAP_T), GL_REPEAT);
    EXPECT_EQ(TexParameter(names[k], GL_TEXTURE_MIN_FILTER), GL_LINEAR);
    EXPECT_EQ(TexParameter(names[k], GL_TEXTURE_MAG_FILTER), GL_LINEAR);
  }
  EXPECT_NE(DemoGlobals.FloorList, 0u);
  // Image 1 was released after each upload.
  const ImageRecord* scratch = LookupImage(1);
  EXPECT_TRUE(scratch == nullptr || scratch->handle == nullptr);
}

TEST_F(Textures, ObjectAndFloorTexelsAreTheDecodedPictures) {
  BuildTextureSet();
  const uint8_t* images[8] = {ObjectImage0, ObjectImage1, ObjectImage2, ObjectImage3,
                              ObjectImage4, ObjectImage5, ObjectImage6, FloorImage};
  const uint32_t sizes[8] = {ObjectImage0Size, ObjectImage1Size, ObjectImage2Size, ObjectImage3Size,
                             ObjectImage4Size, ObjectImage5Size, ObjectImage6Size, FloorImageSize};
  for (int k = 0; k < 8; ++k) {
    SCOPED_TRACE("image " + std::to_string(k));
    const GLuint texture = k < ObjectTextureCount ? DemoGlobals.ObjectTextures[k] : DemoGlobals.FloorTexture;
    int w = 0, h = 0;
    const Bytes texels = TexelsOf(texture, &w, &h);
    ASSERT_EQ(w, 256);
    ASSERT_EQ(h, 256);
    const imagetest::Picture picture = Djpeg(images[k], sizes[k]);
    ASSERT_FALSE(picture.pixels.empty()) << "djpeg could not decode the asset";
    ASSERT_EQ(picture.width, 256);
    ASSERT_EQ(picture.height, 256);
    const uint8_t* reference = &picture.pixels[0].r;  // packed RGB, top row first
    // Same library, same integer transform: equal up to upsampling rounding.
    double sum = 0;
    int worst = 0;
    for (size_t i = 0; i < texels.size(); ++i) {
      const int d = std::abs(int(texels[i]) - int(reference[i]));
      sum += d;
      worst = std::max(worst, d);
    }
    EXPECT_LT(sum / texels.size(), 1.0);
    EXPECT_LE(worst, 8);
    // Not a blank texture: the picture varies.
    int distinct = 0;
    for (size_t i = 3; i < texels.size(); i += 3) distinct += texels[i] != texels[0];
    EXPECT_GT(distinct, 1000);
  }
}

TEST_F(Textures, CaptionTexturesAreGreyCopiesOfTheRawBytes) {
  BuildTextureSet();
  for (auto [texture, raw] : {std::pair{DemoGlobals.CaptionTextureA, CaptionImageA},
                              std::pair{DemoGlobals.CaptionTextureB, CaptionImageB}}) {
    int w = 0, h = 0;
    const Bytes texels = TexelsOf(texture, &w, &h);
    ASSERT_EQ(w, 512);
    ASSERT_EQ(h, 64);
    for (int i = 0; i < 512 * 64; ++i) {
      ASSERT_EQ(texels[i * 3], raw[i]) << "texel " << i;
      ASSERT_EQ(texels[i * 3 + 1], raw[i]) << "texel " << i;
      ASSERT_EQ(texels[i * 3 + 2], raw[i]) << "texel " << i;
    }
  }
}

TEST_F(Textures, UndecodableImageGivesWhiteTexture) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  const uint8_t junk[] = {0x12, 0x34, 0x56, 0x78, 0x9a, 0xbc, 0xde, 0xf0};
  // A JPEG cut off after its start-of-image marker fails as well.
  const uint8_t cut[] = {0xFF, 0xD8, 0xFF};
  for (auto [bytes, length] : {std::pair{junk, sizeof junk}, std::pair{cut, sizeof cut},
                               std::pair{static_cast<const uint8_t*>(nullptr), size_t{0}}}) {
    // A good picture first: its image must not linger into the failed one.
    MakeTextureFromImage(ObjectImage3, ObjectImage3Size, texture);
    std::fill(pixelBuffer_.begin(), pixelBuffer_.end(), uint8_t{7});
    EXPECT_EQ(MakeTextureFromImage(bytes, length, texture), 0);
    const Bytes texels = TexelsOf(texture);
    ASSERT_EQ(texels.size(), 256u * 256u * 3u);
    for (uint8_t v : texels) ASSERT_EQ(v, 255);
  }
}

TEST_F(Textures, SmallImagesArePaddedWhiteAndLargeOnesCropped) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  auto colour = [](int x, int y) { return std::tuple{x * 3 % 256, y * 5 % 256, (x + y) % 256}; };

  const Bytes small = BitmapFile(40, 20, colour);
  MakeTextureFromImage(small.data(), small.size(), texture);
  Bytes t = TexelsOf(texture);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{39, 0}, std::pair{0, 19}, std::pair{17, 11}}) {
    const auto [r, g, b] = colour(x, y);
    EXPECT_EQ(Texel(t, 256, x, y), (Rgb{r, g, b})) << x << "," << y;
  }
  for (auto [x, y] : {std::pair{40, 0}, std::pair{0, 20}, std::pair{255, 255}}) {
    const Rgb got = Texel(t, 256, x, y);
    EXPECT_EQ(got.r + got.g + got.b, 3 * 255) << x << "," << y;
  }

  // 300 x 280: the top-left 256 x 256 pixels, top row first.
  const Bytes large = BitmapFile(300, 280, colour);
  MakeTextureFromImage(large.data(), large.size(), texture);
  t = TexelsOf(texture);
  for (auto [x, y] : {std::pair{0, 0}, std::pair{255, 0}, std::pair{0, 255}, std::pair{255, 255}}) {
    const auto [r, g, b] = colour(x, y);
    EXPECT_EQ(Texel(t, 256, x, y), (Rgb{r, g, b})) << x << "," << y;
  }
  const ImageRecord* scratch = LookupImage(1);
  EXPECT_TRUE(scratch == nullptr || scratch->handle == nullptr);
}

TEST_F(Textures, SixteenBitDisplayBandsTheTexels) {
  GLuint texture = 0;
  glGenTextures(1, &texture);
  const Bytes picture = BitmapFile(256, 256, [](int, int) { return std::tuple{255, 130, 7}; });
  ASSERT_TRUE(PixelStoreSetDisplayDepth(16));
  MakeTextureFromImage(picture.data(), picture.size(), texture);
#ifdef _WIN32
  // Wine's 16-bit display bitmaps are 5-5-5: blue 7 loses all its bits,
  // green 130 keeps 16 of 31 and reads back as (16 << 3) | (16 >> 2) = 132.
  EXPECT_EQ(Texel(TexelsOf(texture), 256, 100, 100), (Rgb{255, 132, 0}));
#else
  // 5-6-5: blue 7 loses all its bits; red and green survive these values.
  EXPECT_EQ(Texel(TexelsOf(texture), 256, 100, 100), (Rgb{255, 130, 0}));
#endif
}

// The caption band with the real lettering: each screen pixel inside the
// band shows the caption texel that the band's geometry puts there.
TEST_F(Textures, CaptionFramesShowTheLetteringUprightAndShifted) {
  BuildMorphLists();
  BuildCubeLists();
  BuildTextureSet();
  render_test::EnableStartupDepthTest();
  DemoGlobals.CaptionFade = 1.0f;

  const double halfHeight = 3.0 * std::tan(22.5 * M_PI / 180.0);  // units at depth 3
  const double halfWidth = halfHeight * 640.0 / 480.0;
  // Share of band pixels whose grey differs from the texel the band maps
  // there, when the band is shifted by `shift` units and flipped or not.
  auto mismatch = [&](const std::vector<uint8_t>& frame, const uint8_t* raw, double shift, bool flipped) {
    int differ = 0, total = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const double ux = ((x + 0.5) / 320.0 - 1.0) * halfWidth;
        const double uy = (1.0 - (y + 0.5) / 240.0) * halfHeight;  // up is +
        const double s = (ux - shift + 2.0) / 4.0;
        double t = (0.25 - uy) / 0.5;  // t = 0 along the upper edge
        if (flipped) t = 1.0 - t;
        if (t < 0.02 || t > 0.98) continue;
        const int tx = std::clamp(int(s * 512), 0, 511), ty = std::clamp(int(t * 64), 0, 63);
        const int want = raw[ty * 512 + tx];
        const int got = frame[(static_cast<size_t>(y) * 640 + x) * 4 + 1];
        differ += std::abs(want - got) > 100;
        ++total;
      }
    return double(differ) / total;
  };

  DemoGlobals.SceneMode = SceneModeCaptionIn;
  DemoGlobals.UseCaptionB = 0;
  RenderFrame();
  const auto a = ReadFrame();
  DemoGlobals.SceneMode = SceneModeCaptionOut;
  DemoGlobals.UseCaptionB = 1;
  RenderFrame();
  const auto b = ReadFrame();

  // White lettering inside the band only: rows 192 .. 288.
  for (const auto* frame : {&a, &b}) {
    int lit = 0;
    for (int y = 0; y < 480; ++y)
      for (int x = 0; x < 640; ++x) {
        const uint8_t* p = &(*frame)[(static_cast<size_t>(y) * 640 + x) * 4];
        if (p[0] > 128) {
          ++lit;
          ASSERT_GE(y, 190);
          ASSERT_LE(y, 290);
          ASSERT_TRUE(p[0] == p[1] && p[1] == p[2]);  // grey: white on black
        }
      }
    EXPECT_GT(lit, 500);
  }
  const double aRight = mismatch(a, CaptionImageA, 0.045, false);
  const double aCentred = mismatch(a, CaptionImageA, 0.0, false);
  const double aFlipped = mismatch(a, CaptionImageA, 0.045, true);
  const double bCentred = mismatch(b, CaptionImageB, 0.0, false);
  const double bRight = mismatch(b, CaptionImageB, 0.045, false);
  std::printf("caption mismatch: A right %.4f centred %.4f flipped %.4f; B centred %.4f right %.4f\n",
              aRight, aCentred, aFlipped, bCentred, bRight);
  // Only filtering at letter edges differs.
  EXPECT_LT(aRight, 0.02);
  EXPECT_GT(aCentred, aRight * 2);
  EXPECT_GT(aFlipped, aRight * 2);
  EXPECT_LT(bCentred, 0.02);
  EXPECT_GT(bRight, bCentred * 2);
}

}  // namespace

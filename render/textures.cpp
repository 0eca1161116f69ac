// The texture set: seven object textures, the floor texture, two caption
// textures, and the floor display list. Built once at start-up.
#include "assets/assets.h"
#include "core/demo_globals.h"
#include "image/image.h"
#include "image/surface.h"
#include "platform/gl.h"
#include "render/render.h"

namespace {

// Object and floor pictures are 256 x 256 RGB; captions 512 x 64 grey.
constexpr int32_t kImageSide = 256;
constexpr int32_t kCaptionWidth = 512;
constexpr int32_t kCaptionHeight = 64;
// Image number 1 of the registry is the scratch image of each upload.
constexpr intptr_t kScratchImage = 1;
// Internal format 3: an RGB texture (grey sources give red = green = blue).
constexpr GLint kInternalRGB = 3;

void UploadCaption(GLuint texture, const uint8_t* pixels) {
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, kInternalRGB, kCaptionWidth, kCaptionHeight, 0, GL_LUMINANCE,
               GL_UNSIGNED_BYTE, pixels);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
}

}  // namespace

int32_t MakeTextureFromImage(const uint8_t* bytes, size_t length, uint32_t texture) {
  // A failed decode leaves no current image: no surface opens and every read
  // answers -1, whose channels are all 255, so the texture comes out white.
  DecodeImageFromMemory(kScratchImage, bytes, length);
  OpenDrawingSurface(ImageDrawingTarget());

  // Top row first, each row left to right, tightly packed RGB (768 bytes a row).
  uint8_t* const staging = DemoGlobals.TexturePixelBuffer;
  size_t write = 0;
  for (int32_t y = 0; y < kImageSide; ++y) {
    for (int32_t x = 0; x < kImageSide; ++x) {
      const int32_t colour = ReadPixel(x, y);
      staging[write++] = ExtractRed(colour);
      staging[write++] = ExtractGreen(colour);
      staging[write++] = ExtractBlue(colour);
    }
  }
  CloseDrawingSurface();

  // The first row handed over becomes t = 0. Unpack alignment stays at its
  // default of 4, which 768-byte rows satisfy.
  glBindTexture(GL_TEXTURE_2D, texture);
  glTexImage2D(GL_TEXTURE_2D, 0, kInternalRGB, kImageSide, kImageSide, 0, GL_RGB, GL_UNSIGNED_BYTE,
               staging);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
  glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);

  ReleaseImage(kScratchImage);
  return 0;
}

int32_t BuildTextureSet() {
  glGenTextures(1, &DemoGlobals.CaptionTextureA);
  glGenTextures(1, &DemoGlobals.CaptionTextureB);
  glGenTextures(1, &DemoGlobals.FloorTexture);
  glGenTextures(ObjectTextureCount, DemoGlobals.ObjectTextures);

  const uint8_t* const objectImages[ObjectTextureCount] = {
      ObjectImage0, ObjectImage1, ObjectImage2, ObjectImage3, ObjectImage4, ObjectImage5, ObjectImage6};
  const uint32_t objectSizes[ObjectTextureCount] = {
      ObjectImage0Size, ObjectImage1Size, ObjectImage2Size, ObjectImage3Size,
      ObjectImage4Size, ObjectImage5Size, ObjectImage6Size};
  for (int32_t slot = 0; slot < ObjectTextureCount; ++slot)
    MakeTextureFromImage(objectImages[slot], objectSizes[slot], DemoGlobals.ObjectTextures[slot]);
  MakeTextureFromImage(FloorImage, FloorImageSize, DemoGlobals.FloorTexture);

  UploadCaption(DemoGlobals.CaptionTextureA, CaptionImageA);
  UploadCaption(DemoGlobals.CaptionTextureB, CaptionImageB);

  BuildFloorList();
  return 0;
}

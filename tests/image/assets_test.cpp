// The eight embedded pictures decode through the image layer to 256 x 256
// pixels equal to libjpeg's own decoding of the same files (djpeg).
#include "image_test_util.h"

#include "assets/assets.h"

using namespace imagetest;

namespace {

struct Embedded {
  const char* file;
  const uint8_t* bytes;
  const uint32_t* size;
};

const Embedded Pictures[] = {
    {"object0.jpg", ObjectImage0, &ObjectImage0Size}, {"object1.jpg", ObjectImage1, &ObjectImage1Size},
    {"object2.jpg", ObjectImage2, &ObjectImage2Size}, {"object3.jpg", ObjectImage3, &ObjectImage3Size},
    {"object4.jpg", ObjectImage4, &ObjectImage4Size}, {"object5.jpg", ObjectImage5, &ObjectImage5Size},
    {"object6.jpg", ObjectImage6, &ObjectImage6Size}, {"floor.jpg", FloorImage, &FloorImageSize},
};

class EmbeddedPictureTest : public ImageFixture {};

TEST_F(EmbeddedPictureTest, EachDecodesTo256By256EqualToDjpeg) {
  for (const Embedded& e : Pictures) {
    SCOPED_TRACE(e.file);
    const std::string path = std::string(ZEPHYRA_ASSETS_DIR) + "/" + e.file;
    const Bytes file = ReadFile(path);
    ASSERT_EQ(file, Bytes(e.bytes, e.bytes + *e.size)) << "embedded bytes differ from " << path;
    ASSERT_NE(DecodeImageFromMemory(1, e.bytes, *e.size), 0u);
    ASSERT_EQ(LookupImage(1)->width, 256);
    ASSERT_EQ(LookupImage(1)->height, 256);
    const Picture got = ReadBack(256, 256);
    const Picture want = DjpegDecode(path);
    ASSERT_EQ(want.pixels.size(), 65536u) << "djpeg gave no picture";
    EXPECT_EQ(got.At(0, 0), want.At(0, 0));  // texel (0, 0)
    for (int x = 0; x < 256; ++x) ASSERT_EQ(got.At(x, 255), want.At(x, 255)) << x;  // texel row 255
    EXPECT_EQ(got.pixels, want.pixels);
    ReleaseImage(1);
  }
}

}  // namespace

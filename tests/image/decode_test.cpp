// Recognition order, bitmap files and icon files, read back through a
// drawing surface; data whose parts do not lie inside it is declined.
#include "image_test_util.h"

using namespace imagetest;

namespace {

// A decoder that counts what it is asked and accepts nothing.
int FakeChecks = 0;
int32_t FakeCheck(FILE*, const uint8_t*, size_t, const char*) {
  ++FakeChecks;
  return 0;
}
void FakeDecode(uint8_t*, size_t, int32_t) {}
int32_t FakeSize() { return 1; }
const ImageDecoder FakeDecoder{FakeCheck, FakeDecode, FakeSize, FakeSize};

class DecodeTest : public ImageFixture {
 protected:
  void SetUp() override {
    ImageFixture::SetUp();
    FakeChecks = 0;
    RegisterImageDecoder(&FakeDecoder);  // after the JPEG decoder
  }

  // Decodes into image 1 and expects the read-back pixels to be `expected`.
  void ExpectDecodesTo(const Bytes& file, int width, int height, const std::vector<Rgb>& expected) {
    ASSERT_NE(DecodeImageFromMemory(1, file.data(), file.size()), 0u);
    EXPECT_EQ(LookupImage(1)->width, width);
    EXPECT_EQ(LookupImage(1)->height, height);
    const Picture p = ReadBack(width, height);
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const Rgb e = expected[size_t(y) * size_t(width) + size_t(x)];
        ASSERT_EQ(p.At(x, y), e) << "pixel " << x << "," << y;
      }
  }

  void ExpectDeclined(const Bytes& file) {
    ImageRecord* current = CurrentImage;
    const GdiHandle held = LookupImage(1)->handle;
    EXPECT_EQ(DecodeImageFromMemory(1, file.data(), file.size()), 0u);
    EXPECT_EQ(CurrentImage, current);
    EXPECT_EQ(LookupImage(1)->handle, held);
  }
};

TEST_F(DecodeTest, BmDataIsAlwaysABitmapAndNeverReachesTheDecoders) {
  Bytes bmp = MakeBmpFile(ColourDib(4, 4, 24, false));
  ASSERT_NE(DecodeImageFromMemory(1, bmp.data(), bmp.size()), 0u);
  bmp[14] = 99;  // an info header size nobody knows: still not for the decoders
  EXPECT_EQ(DecodeImageFromMemory(1, bmp.data(), bmp.size()), 0u);
  const Bytes bare = {'B', 'M', 0xFF, 0xD8};
  EXPECT_EQ(DecodeImageFromMemory(1, bare.data(), bare.size()), 0u);
  EXPECT_EQ(FakeChecks, 0);
}

TEST_F(DecodeTest, CursorFallsThroughToTheDecodersAndTheJpegDecoderDeclines) {
  TestDib s = ColourDib(4, 4, 24, false);
  s.heightFieldFactor = 2;
  const std::vector<uint8_t> mask(16, 0);
  const Bytes image = MakeDib(s, &mask);
  const Bytes icon = MakeIconFile(image, 4, 4, 1);
  ASSERT_NE(DecodeImageFromMemory(1, icon.data(), icon.size()), 0u);
  EXPECT_EQ(FakeChecks, 0);
  const Bytes cursor = MakeIconFile(image, 4, 4, 2);
  EXPECT_EQ(DecodeImageFromMemory(2, cursor.data(), cursor.size()), 0u);
  EXPECT_EQ(FakeChecks, 1);  // the JPEG decoder before it said no
  EXPECT_EQ(LookupImage(2)->handle, nullptr);
}

TEST_F(DecodeTest, JpegStartIsClaimedByTheJpegDecoderFirst) {
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  ASSERT_GT(jpeg.size(), 2u);
  EXPECT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
  EXPECT_EQ(FakeChecks, 0);
  EXPECT_EQ(ActiveDecoder, &DecoderTable.decoders[0]);
}

TEST_F(DecodeTest, BitmapFiles24And32BitsBottomUpAndTopDown) {
  for (int bits : {24, 32}) {
    for (bool topDown : {false, true}) {
      for (int width : {1, 2, 3, 5, 17}) {
        SCOPED_TRACE(testing::Message() << bits << " bits, top-down " << topDown << ", width " << width);
        const TestDib s = ColourDib(width, 6, bits, topDown);
        ExpectDecodesTo(MakeBmpFile(s), width, 6, s.colours);
      }
    }
  }
}

TEST_F(DecodeTest, PalettisedBitmapFiles) {
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    const TestDib s = PaletteDib(7, 5, topDown);
    std::vector<Rgb> expected;
    for (uint8_t i : s.indices) expected.push_back(s.palette[i]);
    ExpectDecodesTo(MakeBmpFile(s), 7, 5, expected);
  }
  // 4 and 1 bits, with a short palette: indices past it read black.
  TestDib four;
  four.width = 9;
  four.height = 3;
  four.bits = 4;
  four.palette = {{10, 20, 30}, {200, 100, 50}, {1, 2, 3}};
  std::vector<Rgb> expected;
  for (int i = 0; i < 27; ++i) {
    four.indices.push_back(uint8_t(i % 5));
    expected.push_back(i % 5 < 3 ? four.palette[size_t(i % 5)] : Rgb{0, 0, 0});
  }
  ExpectDecodesTo(MakeBmpFile(four), 9, 3, expected);
  TestDib one;
  one.width = 11;
  one.height = 2;
  one.bits = 1;
  one.palette = {{0, 0, 255}, {255, 255, 0}};
  expected.clear();
  for (int i = 0; i < 22; ++i) {
    one.indices.push_back(uint8_t(i % 3 == 0));
    expected.push_back(one.palette[size_t(i % 3 == 0)]);
  }
  ExpectDecodesTo(MakeBmpFile(one), 11, 2, expected);
}

TEST_F(DecodeTest, BitmapFilesWhosePartsLieOutsideTheDataAreDeclined) {
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  const Bytes good = MakeBmpFile(PaletteDib(8, 8, false));
  auto with = [&](size_t at, uint32_t value) {
    Bytes b = good;
    Put32(b, at, value);
    return b;
  };
  ExpectDeclined(Bytes(good.begin(), good.end() - 1));      // last row cut short
  ExpectDeclined(Bytes(good.begin(), good.begin() + 60));   // palette cut short
  ExpectDeclined(Bytes(good.begin(), good.begin() + 30));   // header cut short
  ExpectDeclined(with(10, uint32_t(good.size())));          // rows past the end
  ExpectDeclined(with(10, 0xFFFFFFF0u));                    // offset past the end
  ExpectDeclined(with(14 + 32, 100000));                    // palette larger than 256 entries
  ExpectDeclined(with(18, 16385));                          // too wide
  ExpectDeclined(with(18, 0));
  ExpectDeclined(with(18, 0x80000000u));
  ExpectDeclined(with(22, 0));
  ExpectDeclined(with(22, uint32_t(-16385)));               // too tall top-down
  ExpectDeclined(with(22, 0x80000000u));                    // the most negative height
  ExpectDeclined(with(14 + 16, 2));                         // RLE4 on an 8-bit header
  ExpectDeclined(with(14 + 16, 4));                         // embedded JPEG bits
  Bytes bits = good;
  Put16(bits, 14 + 14, 7);                                  // 7 bits per pixel
  ExpectDeclined(bits);
  // A wide, tall header over a small file: the row size would need far more.
  Bytes huge = MakeBmpFile(ColourDib(2, 2, 24, false));
  Put32(huge, 18, 16384);
  Put32(huge, 22, 16384);
  ExpectDeclined(huge);
}

TEST_F(DecodeTest, ThirtyTwoBitIconWithAlpha) {
  TestDib s = ColourDib(6, 5, 32, false);
  s.heightFieldFactor = 2;
  for (int i = 0; i < 30; ++i) s.alphas.push_back(uint8_t(i * 8));
  const std::vector<uint8_t> mask(30, 0);
  const Bytes icon = MakeIconFile(MakeDib(s, &mask), 6, 5);
  const uintptr_t h = DecodeImageFromMemory(1, icon.data(), icon.size());
  ASSERT_NE(h, 0u);
  EXPECT_EQ(GetObjectType(reinterpret_cast<GdiHandle>(h)), 0u);  // an icon, not a bitmap
  EXPECT_EQ(LookupImage(1)->depth, 32);
  // The colours are the icon's colour bitmap.
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(reinterpret_cast<GdiHandle>(h), &info));
  GdiDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, info.hbmColor);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const Rgb c = TestColour(x, y);
      EXPECT_EQ(GetPixel(dc, x, y), COLORREF(c.r | (c.g << 8) | (c.b << 16))) << x << "," << y;
      EXPECT_EQ(IconAlphaAt(reinterpret_cast<GdiHandle>(h), x, y), (y * 6 + x) * 8);
    }
  DeleteDC(dc);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  // An icon cannot be selected into a memory DC, so no drawing surface opens
  // on it and every read gives -1 (white once split).
  EXPECT_EQ(ImageDrawingTarget(), nullptr);
  const Picture p = ReadBack(6, 5);
  for (int i = 0; i < 30; ++i) EXPECT_EQ(p.pixels[size_t(i)], (Rgb{255, 255, 255})) << i;
}

TEST_F(DecodeTest, EightBitIconWithMask) {
  TestDib s = PaletteDib(9, 4, false);
  s.heightFieldFactor = 2;
  std::vector<uint8_t> mask;
  for (int i = 0; i < 36; ++i) mask.push_back(uint8_t(i % 4 == 1));
  const Bytes icon = MakeIconFile(MakeDib(s, &mask), 9, 4);
  const uintptr_t h = DecodeImageFromMemory(1, icon.data(), icon.size());
  ASSERT_NE(h, 0u);
  EXPECT_EQ(LookupImage(1)->width, 9);
  EXPECT_EQ(LookupImage(1)->height, 4);
  // Colours and mask come back from the icon's own bitmaps; the mask is white
  // where transparent. Through a drawing surface the icon reads -1.
  std::vector<Rgb> expected;
  for (uint8_t i : s.indices) expected.push_back(s.palette[i]);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(reinterpret_cast<GdiHandle>(h), &info));
  GdiDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, info.hbmColor);
  for (int i = 0; i < 36; ++i) {
    const Rgb e = expected[size_t(i)];
    EXPECT_EQ(GetPixel(dc, i % 9, i / 9), COLORREF(e.r | (e.g << 8) | (e.b << 16))) << i;
  }
  const Picture p = ReadBack(9, 4);
  for (int i = 0; i < 36; ++i) EXPECT_EQ(p.pixels[size_t(i)], (Rgb{255, 255, 255})) << i;
  SelectObject(dc, info.hbmMask);
  for (int i = 0; i < 36; ++i)
    EXPECT_EQ(GetPixel(dc, i % 9, i / 9), mask[size_t(i)] ? 0xFFFFFFu : 0u) << i;
  DeleteDC(dc);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  // Releasing the number destroys the icon.
  ReleaseImage(1);
  EXPECT_FALSE(DestroyIcon(reinterpret_cast<GdiHandle>(h)));
}

TEST_F(DecodeTest, AnonymousIconAnswersItsRecord) {
  TestDib s = ColourDib(2, 2, 24, false);
  s.heightFieldFactor = 2;
  const std::vector<uint8_t> mask(4, 0);
  const Bytes icon = MakeIconFile(MakeDib(s, &mask), 2, 2);
  const uintptr_t r = DecodeImageFromMemory(-1, icon.data(), icon.size());
  ASSERT_NE(r, 0u);
  EXPECT_EQ(LookupImage(intptr_t(r)), CurrentImage);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(CurrentImage), r);
}

TEST_F(DecodeTest, IconFilesWhosePartsLieOutsideTheDataAreDeclined) {
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  TestDib s = PaletteDib(8, 8, false);
  s.heightFieldFactor = 2;
  const std::vector<uint8_t> mask(64, 0);
  const Bytes good = MakeIconFile(MakeDib(s, &mask), 8, 8);
  auto with = [&](size_t at, uint32_t value) {
    Bytes b = good;
    Put32(b, at, value);
    return b;
  };
  ExpectDeclined(Bytes(good.begin(), good.end() - 1));  // mask cut short
  ExpectDeclined(Bytes(good.begin(), good.begin() + 20));  // directory entry cut short
  ExpectDeclined(with(6 + 8, uint32_t(good.size())));   // image size past the end
  ExpectDeclined(with(6 + 12, 0xFFFFFFFFu));            // image offset past the end
  ExpectDeclined(with(6 + 8, 39));                      // too small for a header
  ExpectDeclined(with(22 + 4, 20000));                  // too wide
  ExpectDeclined(with(22 + 8, uint32_t(-16)));          // top-down icon image
  ExpectDeclined(with(22 + 8, 1));                      // no rows at all
  ExpectDeclined(with(22 + 32, 257));                   // palette larger than 256 entries
  Bytes noEntries(good.begin(), good.begin() + 21);  // count 0 and no whole entry
  Put16(noEntries, 4, 0);
  ExpectDeclined(noEntries);
  Bytes png = good;
  const uint8_t signature[] = {0x89, 'P', 'N', 'G', 13, 10, 26, 10};
  std::copy(std::begin(signature), std::end(signature), png.begin() + 22);
  ExpectDeclined(png);  // a PNG signature over data libpng cannot read
  EXPECT_NE(DecodeImageFromMemory(1, good.data(), good.size()), 0u);
}

TEST_F(DecodeTest, IconDirectoryCountingNoEntriesStillUsesItsFirstEntry) {
  // Only the reserved and type fields decide: an entry count of 0 over a
  // whole first entry is an icon like any other.
  TestDib s = PaletteDib(5, 3, false);
  s.heightFieldFactor = 2;
  const std::vector<uint8_t> mask(15, 0);
  Bytes icon = MakeIconFile(MakeDib(s, &mask), 5, 3);
  Put16(icon, 4, 0);
  const uintptr_t h = DecodeImageFromMemory(1, icon.data(), icon.size());
  ASSERT_NE(h, 0u);
  EXPECT_EQ(GetObjectType(reinterpret_cast<GdiHandle>(h)), 0u);  // an icon
  EXPECT_EQ(LookupImage(1)->width, 5);
  EXPECT_EQ(LookupImage(1)->height, 3);
}

TEST_F(DecodeTest, BitfieldsAndSixteenBitBitmaps) {
  // 16 bits, 5-6-5 masks after a 40-byte header.
  Bytes b(14 + 40 + 12 + 4 * 2, 0);
  b[0] = 'B';
  b[1] = 'M';
  Put32(b, 10, 14 + 40 + 12);
  Put32(b, 14, 40);
  Put32(b, 18, 2);
  Put32(b, 22, uint32_t(-2));
  Put16(b, 26, 1);
  Put16(b, 28, 16);
  Put32(b, 30, BI_BITFIELDS);
  Put32(b, 54, 0xF800);
  Put32(b, 58, 0x07E0);
  Put32(b, 62, 0x001F);
  Put16(b, 66, 0xF800);  // red
  Put16(b, 68, 0x07E0);  // green
  Put16(b, 70, 0x001F);  // blue
  Put16(b, 72, 0x8410);  // 16/32, 32/64, 16/32: widened as 132, 130, 132
  ExpectDecodesTo(b, 2, 2, {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {132, 130, 132}});
  Bytes holes = b;
  Put32(holes, 54, 0xF00F);  // a mask with a hole
  ExpectDeclined(holes);
}

}  // namespace

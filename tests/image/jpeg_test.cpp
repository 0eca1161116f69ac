// JPEG decoder: pictures equal libjpeg's own decoding (djpeg), greyscale,
// truncated and corrupt data, declined kinds, quiet messages, file form.
#include "image_test_util.h"

#include <random>

using namespace imagetest;

namespace {

class JpegTest : public ImageFixture {};

void ExpectSamePicture(const Picture& got, const Picture& want) {
  ASSERT_EQ(got.width, want.width);
  ASSERT_EQ(got.height, want.height);
  ASSERT_EQ(want.pixels.size(), size_t(want.width) * size_t(want.height)) << "djpeg gave no picture";
  for (int y = 0; y < want.height; ++y)
    for (int x = 0; x < want.width; ++x)
      ASSERT_EQ(got.At(x, y), want.At(x, y)) << "pixel " << x << "," << y;
}

TEST_F(JpegTest, ColourPicturesEqualLibjpegsOwnDecoding) {
  for (const char* name : {"colour.jpg", "progressive.jpg"}) {
    SCOPED_TRACE(name);
    const Bytes jpeg = ReadFile(DataPath(name));
    ASSERT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
    EXPECT_EQ(LookupImage(1)->width, 256);
    EXPECT_EQ(LookupImage(1)->height, 256);
    ExpectSamePicture(ReadBack(256, 256), DjpegDecode(DataPath(name)));
    ReleaseImage(1);
  }
}

TEST_F(JpegTest, GreyscaleComesOutWithEqualChannels) {
  const Bytes jpeg = ReadFile(DataPath("grey.jpg"));
  ASSERT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
  const Picture got = ReadBack(64, 48);
  for (const Rgb& p : got.pixels) {
    ASSERT_EQ(p.r, p.g);
    ASSERT_EQ(p.g, p.b);
  }
  ExpectSamePicture(got, DjpegDecode(DataPath("grey.jpg")));
}

TEST_F(JpegTest, TruncatedJpegStillMakesAnImageWithItsFirstRows) {
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  const Picture want = DjpegDecode(DataPath("colour.jpg"));
  ASSERT_EQ(want.pixels.size(), 65536u);
  const Bytes cut(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(jpeg.size() / 2));
  testing::internal::CaptureStderr();
  ASSERT_NE(DecodeImageFromMemory(1, cut.data(), cut.size()), 0u);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");  // warned, quietly
  EXPECT_GT(JpegWarningCount(), 0u);
  EXPECT_EQ(LookupImage(1)->width, 256);
  EXPECT_EQ(LookupImage(1)->height, 256);
  const Picture got = ReadBack(256, 256);
  // Only the first MCU row is sure to be complete in the first half.
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 256; ++x) ASSERT_EQ(got.At(x, y), want.At(x, y)) << x << "," << y;
  // Even a cut inside the header's tables only declines.
  for (size_t n : {2u, 3u, 20u, 100u, 300u}) {
    const Bytes head(jpeg.begin(), jpeg.begin() + std::ptrdiff_t(n));
    DecodeImageFromMemory(2, head.data(), head.size());
  }
}

TEST_F(JpegTest, CorruptJpegsDoNotCrashAndPrintNothing) {
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  std::mt19937 random(1234);
  testing::internal::CaptureStderr();
  int made = 0;
  for (int round = 0; round < 300; ++round) {
    Bytes bad = jpeg;
    const int flips = 1 + round % 8;
    for (int i = 0; i < flips; ++i) {
      const size_t at = 2 + random() % (bad.size() - 2);
      bad[at] = uint8_t(random());
    }
    if (round % 5 == 0) bad.resize(2 + random() % (bad.size() - 2));
    const uintptr_t h = DecodeImageFromMemory(1, bad.data(), bad.size());
    if (h) {
      ++made;
      const ImageRecord* r = LookupImage(1);
      ASSERT_GE(r->width, 1);
      ASSERT_GE(r->height, 1);
      ReadBack(r->width, r->height);
    }
  }
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_GT(made, 0);
}

TEST_F(JpegTest, BrokenScanDataMakesTheSameImageEveryTime) {
  // Scan data broken by a run of marker bytes: libjpeg warns and pads with
  // zero coefficients, and the image is made. The pixel buffer is not cleared
  // before decoding, so a row the decoder skipped would show whatever the
  // memory held before; decoding the same bytes after a different picture
  // must give the same image.
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  Bytes bad = jpeg;
  // Find the start-of-scan marker and break the scan's first bytes.
  size_t sos = 0;
  for (size_t i = 2; i + 1 < bad.size(); ++i)
    if (bad[i] == 0xFF && bad[i + 1] == 0xDA) sos = i;
  ASSERT_GT(sos, 0u);
  const size_t scan = sos + 2 + (size_t(bad[sos + 2]) << 8 | bad[sos + 3]);
  for (size_t i = scan + 40; i < scan + 60; ++i) bad[i] = 0xFF;  // 0xFF 0xFF ... : a marker run
  ASSERT_NE(DecodeImageFromMemory(1, bad.data(), bad.size()), 0u);
  const Picture first = ReadBack(256, 256);
  ASSERT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
  ASSERT_NE(DecodeImageFromMemory(1, bad.data(), bad.size()), 0u);
  const Picture second = ReadBack(256, 256);
  EXPECT_EQ(first.pixels, second.pixels);
}

TEST_F(JpegTest, ErrorInsideTheCheckDeclinesAndTheNextImageDecodes) {
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  ImageRecord* current = CurrentImage;
  // Starts like a JPEG, then a frame header with no components.
  const Bytes broken = {0xFF, 0xD8, 0xFF, 0xC0, 0x00, 0x08, 0x08, 0x00, 0x10, 0x00, 0x10, 0x00, 0xFF, 0xD9};
  EXPECT_EQ(JpegCheck(nullptr, broken.data(), broken.size(), nullptr), 0);
  EXPECT_EQ(DecodeImageFromMemory(1, broken.data(), broken.size()), 0u);
  const Bytes onlyStart = {0xFF, 0xD8};
  EXPECT_EQ(DecodeImageFromMemory(1, onlyStart.data(), onlyStart.size()), 0u);
  EXPECT_EQ(CurrentImage, current);
  EXPECT_EQ(LookupImage(1)->width, 2);
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  EXPECT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
  EXPECT_EQ(LookupImage(1)->width, 256);
}

TEST_F(JpegTest, FourComponentJpegsAreDeclinedCleanly) {
  ASSERT_NE(MakeBlankImage(1, 3, 3), 0u);
  const GdiHandle held = LookupImage(1)->handle;
  const Bytes cmyk = ReadFile(DataPath("cmyk.jpg"));
  ASSERT_GT(cmyk.size(), 100u);
  EXPECT_EQ(DecodeImageFromMemory(1, cmyk.data(), cmyk.size()), 0u);
  EXPECT_EQ(LookupImage(1)->handle, held);
}

TEST_F(JpegTest, OversizedPicturesAreDeclinedBeforeDecoding) {
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  ImageSideLimit = 255;
  EXPECT_EQ(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
  ImageSideLimit = 256;
  EXPECT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
}

TEST_F(JpegTest, RegisteredOncePerProcessWhateverTheTableWentThrough) {
  // The only test of this program that calls RegisterJpegDecoder (the
  // fixture registers the decoder's record directly), so its first call
  // here is the process's first.
  ResetImageDecoders();
  EXPECT_EQ(RegisterJpegDecoder(), 1);
  ASSERT_EQ(DecoderTable.count, 1);
  EXPECT_EQ(DecoderTable.decoders[0].Check, &JpegCheck);
  EXPECT_EQ(DecoderTable.decoders[0].Decode, &JpegDecode);
  EXPECT_EQ(RegisterJpegDecoder(), 1);
  EXPECT_EQ(DecoderTable.count, 1);
  // An emptied table does not take it again.
  ResetImageDecoders();
  EXPECT_EQ(RegisterJpegDecoder(), 1);
  EXPECT_EQ(DecoderTable.count, 0);
}

TEST_F(JpegTest, FileFormReadsTheWholeFile) {
  const Bytes jpeg = ReadFile(DataPath("grey.jpg"));
  ASSERT_EQ(FindImageDecoder(DataPath("grey.jpg").c_str()), 1);
  EXPECT_NE(DecoderFile, nullptr);
  EXPECT_EQ(ActiveDecoder->Width(), 64);
  EXPECT_EQ(ActiveDecoder->Height(), 48);
  std::vector<uint8_t> pixels(ImagePitch(64) * 49, 0xAA);
  RunActiveDecoder(pixels.data(), ImagePitch(64), 0);
  EXPECT_EQ(DecoderFile, nullptr);
  const Picture want = DjpegDecode(DataPath("grey.jpg"));
  ASSERT_EQ(want.pixels.size(), 64u * 48u);
  for (int y = 0; y < 48; ++y)
    for (int x = 0; x < 64; ++x) {
      const uint8_t* p = pixels.data() + size_t(y) * ImagePitch(64) + size_t(x) * 3;
      ASSERT_EQ((Rgb{p[2], p[1], p[0]}), want.At(x, y)) << x << "," << y;  // blue, green, red
    }
  EXPECT_EQ(FindImageDecoder(DataPath("no-such-file.jpg").c_str()), 0);
  EXPECT_EQ(FindImageDecoder(DataPath("make_data.py").c_str()), 0);
}

TEST_F(JpegTest, AbandonedCheckIsCleanedUpByTheNext) {
  // A check whose image is never decoded (the caller gave up) must not leak
  // its decompressor when the next check sets libjpeg up again.
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  ASSERT_EQ(JpegCheck(nullptr, jpeg.data(), jpeg.size(), nullptr), 1);
  ASSERT_EQ(JpegCheck(nullptr, jpeg.data(), jpeg.size(), nullptr), 1);
  EXPECT_NE(DecodeImageFromMemory(1, jpeg.data(), jpeg.size()), 0u);
}

}  // namespace

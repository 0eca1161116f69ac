// Drawing surface: colour extraction, -1 reads, brush and pen kept and
// restored, the 16-bit display format's banding, the texture builder's path.
#include "image_test_util.h"

using namespace imagetest;

namespace {

class SurfaceTest : public ImageFixture {};

TEST_F(SurfaceTest, ExtractionSplitsAColourValue) {
  EXPECT_EQ(ExtractRed(1193046), 86);
  EXPECT_EQ(ExtractGreen(1193046), 52);
  EXPECT_EQ(ExtractBlue(1193046), 18);
  EXPECT_EQ(ExtractRed(-1), 255);
  EXPECT_EQ(ExtractGreen(-1), 255);
  EXPECT_EQ(ExtractBlue(-1), 255);
}

TEST_F(SurfaceTest, ReadsGiveMinusOneWithNoSurfaceAndOutsideThePicture) {
  EXPECT_EQ(ReadPixel(0, 0), -1);
  const Bytes bmp = MakeBmpFile(ColourDib(3, 2, 24, false));
  ASSERT_NE(DecodeImageFromMemory(1, bmp.data(), bmp.size()), 0u);
  EXPECT_EQ(ReadPixel(0, 0), -1);  // decoded, but no surface open yet
  ASSERT_NE(OpenDrawingSurface(ImageDrawingTarget()), nullptr);
  const Rgb c = TestColour(2, 1);
  EXPECT_EQ(ReadPixel(2, 1), int32_t(c.r | (c.g << 8) | (c.b << 16)));
  EXPECT_EQ(ReadPixel(3, 0), -1);
  EXPECT_EQ(ReadPixel(0, 2), -1);
  EXPECT_EQ(ReadPixel(-1, 0), -1);
  EXPECT_EQ(ReadPixel(0, -1), -1);
  CloseDrawingSurface();
  EXPECT_EQ(ReadPixel(2, 1), -1);
  EXPECT_EQ(ImageDC, nullptr);  // closing released the image's DC
}

TEST_F(SurfaceTest, NoCurrentImageGivesNoTargetAndWhiteReads) {
  EXPECT_EQ(ImageDrawingTarget(), nullptr);
  EXPECT_EQ(OpenDrawingSurface(nullptr), nullptr);
  EXPECT_EQ(ReadPixel(0, 0), -1);
  // An emptied current image too: what the texture builder sees after a
  // failed decode into a released number.
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  ReleaseImage(1);
  EXPECT_EQ(ImageDrawingTarget(), nullptr);
}

GdiDC ReleasedDC = nullptr;
GdiHandle BrushAtRelease = nullptr;
GdiHandle PenAtRelease = nullptr;
int Releases = 0;
void RecordRelease() {
  ++Releases;
  BrushAtRelease = GetCurrentObject(ReleasedDC, OBJ_BRUSH);
  PenAtRelease = GetCurrentObject(ReleasedDC, OBJ_PEN);
}

TEST_F(SurfaceTest, BrushAndPenAreRestoredBeforeTheTargetIsReleased) {
  GdiDC dc = CreateCompatibleDC(nullptr);
  GdiHandle brush = CreateSolidBrush(0x123456);
  GdiHandle pen = CreatePen(PS_SOLID, 3, 0x654321);
  SelectObject(dc, brush);
  SelectObject(dc, pen);
  SetTextColor(dc, 0xABCDEF);
  ReleasedDC = dc;
  Releases = 0;
  DrawingTarget target{DrawingTargetImage, dc, RecordRelease};
  ASSERT_EQ(OpenDrawingSurface(&target), dc);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), DefaultBrush);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), DefaultPen);
  EXPECT_EQ(GetTextAlign(dc), TA_UPDATECP);
  EXPECT_EQ(GetTextColor(dc), 0u);
  CloseDrawingSurface();
  EXPECT_EQ(Releases, 1);
  EXPECT_EQ(BrushAtRelease, brush);
  EXPECT_EQ(PenAtRelease, pen);
  CloseDrawingSurface();  // closed already: nothing happens
  EXPECT_EQ(Releases, 1);
  // Opening another surface closes the first.
  ASSERT_EQ(OpenDrawingSurface(&target), dc);
  ASSERT_EQ(OpenDrawingSurface(&target), dc);
  EXPECT_EQ(Releases, 2);
  CloseDrawingSurface();
  DeleteDC(dc);
  DeleteObject(brush);
  DeleteObject(pen);
}

TEST_F(SurfaceTest, DefaultsAreASolidBlackBrushAndPen) {
  EXPECT_EQ(GetObjectType(DefaultBrush), OBJ_BRUSH);
  EXPECT_EQ(GetObjectType(DefaultPen), OBJ_PEN);
  // A black brush paints black.
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  GdiDC dc = OpenImageDC();
  RECT all{0, 0, 2, 2};
  FillRect(dc, &all, GetStockObject(WHITE_BRUSH));
  RECT one{0, 0, 1, 1};
  FillRect(dc, &one, DefaultBrush);
  EXPECT_EQ(GetPixel(dc, 0, 0), 0u);
  EXPECT_EQ(GetPixel(dc, 1, 1), 0xFFFFFFu);
  CloseImageDC();
}

// Every channel value once: red = x, green = 255 - x, blue = (x * 7) mod 256.
Bytes Ramp() {
  TestDib s;
  s.width = 256;
  s.height = 1;
  s.bits = 24;
  for (int x = 0; x < 256; ++x) s.colours.push_back(Rgb{uint8_t(x), uint8_t(255 - x), uint8_t(x * 7)});
  return MakeBmpFile(s);
}

uint8_t Widen5(int v) { return uint8_t(((v >> 3) << 3) | ((v >> 3) >> 2)); }
// The 16-bit display's green: 6 bits in the emulated store's 5-6-5, 5 bits
// under Wine, whose 16-bit display bitmaps are 5-5-5.
#ifdef _WIN32
uint8_t WidenGreen16(int v) { return Widen5(v); }
#else
uint8_t WidenGreen16(int v) { return uint8_t(((v >> 2) << 2) | ((v >> 2) >> 4)); }
#endif

TEST_F(SurfaceTest, SixteenBitDisplayShowsBandingAndWindowsDoNot) {
  const Bytes ramp = Ramp();
  ASSERT_TRUE(PixelStoreSetDisplayDepth(16));
  ASSERT_NE(DecodeImageFromMemory(1, ramp.data(), ramp.size()), 0u);
  EXPECT_EQ(LookupImage(1)->depth, 16);
  Picture p = ReadBack(256, 1);
  std::set<int> reds;
  for (int x = 0; x < 256; ++x) {
    ASSERT_EQ(p.At(x, 0), (Rgb{Widen5(x), WidenGreen16(255 - x), Widen5((x * 7) & 255)})) << x;
    reds.insert(p.At(x, 0).r);
  }
  EXPECT_EQ(reds.size(), 32u);  // 32 bands of red
  EXPECT_EQ(p.At(255, 0).r, 255);  // full scale stays full scale
  EXPECT_EQ(p.At(0, 0).g, 255);

  for (int depth : {24, 32}) {
    ASSERT_TRUE(PixelStoreSetDisplayDepth(depth));
    ASSERT_NE(DecodeImageFromMemory(1, ramp.data(), ramp.size()), 0u);
#ifdef _WIN32
    // The system's display keeps its own true-colour depth (32 under Wine
    // on a 24-bit X screen) for either request.
    EXPECT_EQ(LookupImage(1)->depth, PixelStoreDisplayDepth());
    EXPECT_GE(LookupImage(1)->depth, 24);
#else
    EXPECT_EQ(LookupImage(1)->depth, depth);
#endif
    p = ReadBack(256, 1);
    for (int x = 0; x < 256; ++x)
      ASSERT_EQ(p.At(x, 0), (Rgb{uint8_t(x), uint8_t(255 - x), uint8_t(x * 7)})) << x;
  }
  EXPECT_FALSE(PixelStoreSetDisplayDepth(8));
  EXPECT_EQ(PixelStoreDisplayDepth(), 32);
}

TEST_F(SurfaceTest, JpegThroughTheTextureBuildersPathInFullScreen) {
  // The same calls the texture builder makes, at the full-screen depth:
  // every texel is the 8-bit decoding reduced to 5-6-5 (5-5-5 under Wine)
  // and widened back.
  const Bytes jpeg = ReadFile(DataPath("colour.jpg"));
  const Picture want = DjpegDecode(DataPath("colour.jpg"));
  ASSERT_EQ(want.pixels.size(), 65536u);
  PixelStoreSetDisplayDepth(16);
  DecodeImageFromMemory(1, jpeg.data(), jpeg.size());
  const Picture got = ReadBack(256, 256);
  ReleaseImage(1);
  for (size_t i = 0; i < 65536; ++i) {
    const Rgb w = want.pixels[i];
    ASSERT_EQ(got.pixels[i], (Rgb{Widen5(w.r), WidenGreen16(w.g), Widen5(w.b)})) << i;
  }
  EXPECT_EQ(LookupImage(1)->handle, nullptr);
}

}  // namespace

// Pixel store: bitmaps, DCs, selection, stale handles, DIB checks. On
// Linux the emulated store; on Windows (under Wine here) the system's GDI,
// where the tests needing a display carry the label xvfb.
#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/pixels.h"

namespace {

class PixelStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PixelStoreSetDisplayDepth(32);
    live_ = PixelStoreLiveObjects();
  }
  void TearDown() override {
    EXPECT_EQ(PixelStoreLiveObjects(), live_);
    PixelStoreSetDisplayDepth(32);
  }
  size_t live_ = 0;
};

// A 40-byte info header with one plane and no compression.
BITMAPINFOHEADER Header(int32_t width, int32_t height, uint16_t bits) {
  BITMAPINFOHEADER h{};
  h.biSize = 40;
  h.biWidth = width;
  h.biHeight = height;
  h.biPlanes = 1;
  h.biBitCount = bits;
  return h;
}

TEST_F(PixelStoreTest, NewBitmapIsBlackAndReadsNeedASelection) {
  GdiDC dc = CreateCompatibleDC(nullptr);
  GdiHandle bmp = CreateCompatibleBitmap(nullptr, 3, 2);
  ASSERT_NE(bmp, nullptr);
  EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);  // nothing selected yet
  GdiHandle previous = SelectObject(dc, bmp);
  EXPECT_NE(previous, nullptr);
  EXPECT_EQ(GetPixel(dc, 2, 1), 0u);
  EXPECT_EQ(GetPixel(dc, 3, 1), CLR_INVALID);
  BITMAP bm{};
  EXPECT_EQ(GetObjectA(bmp, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 3);
  EXPECT_EQ(bm.bmHeight, 2);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  EXPECT_EQ(GetObjectA(bmp, 4, &bm), 0);
  // One DC at a time.
  GdiDC other = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(other, bmp), nullptr);
  EXPECT_EQ(SelectObject(dc, previous), bmp);
  EXPECT_NE(SelectObject(other, bmp), nullptr);
  DeleteDC(other);
  DeleteDC(dc);
  EXPECT_TRUE(DeleteObject(bmp));
}

TEST_F(PixelStoreTest, StaleAndForeignHandlesAreRefused) {
  GdiDC dc = CreateCompatibleDC(nullptr);
  GdiHandle bmp = CreateCompatibleBitmap(dc, 2, 2);
  SelectObject(dc, bmp);
  EXPECT_TRUE(DeleteObject(bmp));  // deselected first
  EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
  EXPECT_EQ(GetObjectType(bmp), 0u);
  EXPECT_FALSE(DeleteObject(bmp));
  EXPECT_EQ(SelectObject(dc, bmp), nullptr);
  int local = 0;
  EXPECT_EQ(GetObjectType(reinterpret_cast<GdiHandle>(&local)), 0u);
  EXPECT_TRUE(DeleteDC(dc));
  EXPECT_FALSE(DeleteDC(dc));
  EXPECT_EQ(GetPixel(dc, 0, 0), CLR_INVALID);
  EXPECT_EQ(CreateCompatibleDC(dc), nullptr);
  EXPECT_EQ(CreateDCA("PRINTER", nullptr, nullptr, nullptr), nullptr);
}

TEST_F(PixelStoreTest, BrushAndPenSelectionAnswersThePreviousOne) {
  GdiDC dc = CreateCompatibleDC(nullptr);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(GetCurrentObject(dc, OBJ_PEN), GetStockObject(BLACK_PEN));
  GdiHandle brush = CreateSolidBrush(0x00FF00);
  GdiHandle pen = CreatePen(PS_SOLID, 0, 0);
  EXPECT_EQ(SelectObject(dc, brush), GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(SelectObject(dc, pen), GetStockObject(BLACK_PEN));
  EXPECT_EQ(SelectObject(dc, GetStockObject(BLACK_BRUSH)), brush);
  EXPECT_EQ(SelectObject(dc, brush), GetStockObject(BLACK_BRUSH));
  // Deleting a selected brush leaves the DC with its default, not a dangling one.
  EXPECT_TRUE(DeleteObject(brush));
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BRUSH), GetStockObject(WHITE_BRUSH));
  EXPECT_TRUE(DeleteObject(GetStockObject(BLACK_BRUSH)));  // stock: stays
  EXPECT_EQ(GetObjectType(GetStockObject(BLACK_BRUSH)), OBJ_BRUSH);
  EXPECT_EQ(CreatePen(99, 0, 0), nullptr);
  DeleteObject(pen);
  DeleteDC(dc);
}

TEST_F(PixelStoreTest, SetDIBitsFromBottomUpAndTopDownRows) {
  // 2 x 2, 24 bits: rows of 8 bytes (6 + 2 padding).
  BITMAPINFOHEADER h = Header(2, 2, 24);
  const uint8_t rows[16] = {1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};  // blue, green, red
  GdiDC dc = CreateCompatibleDC(nullptr);
  GdiHandle bmp = CreateCompatibleBitmap(dc, 2, 2);
  SelectObject(dc, bmp);
  EXPECT_EQ(SetDIBits(dc, bmp, 0, 2, rows, sizeof rows, &h, sizeof h, DIB_RGB_COLORS), 2);
  EXPECT_EQ(GetPixel(dc, 0, 1), 0x010203u);  // the first stored row is the bottom one
  EXPECT_EQ(GetPixel(dc, 1, 0), 0x0A0B0Cu);
  h.biHeight = -2;
  EXPECT_EQ(SetDIBits(dc, bmp, 0, 2, rows, sizeof rows, &h, sizeof h, DIB_RGB_COLORS), 2);
  EXPECT_EQ(GetPixel(dc, 0, 0), 0x010203u);  // top-down: first row on top
  EXPECT_EQ(GetPixel(dc, 1, 1), 0x0A0B0Cu);
  // Rows past the bits given, or no bitmap: refused.
  EXPECT_EQ(SetDIBits(dc, bmp, 0, 2, rows, 15, &h, sizeof h, DIB_RGB_COLORS), 0);
  EXPECT_EQ(SetDIBits(dc, nullptr, 0, 2, rows, sizeof rows, &h, sizeof h, DIB_RGB_COLORS), 0);
  EXPECT_EQ(SetDIBits(dc, bmp, 0, 2, rows, sizeof rows, &h, 39, DIB_RGB_COLORS), 0);
  // One line from scan line 1 of a top-down DIB: the emulated store counts
  // a top-down DIB's scan lines from the top, so it lands on row 1. Wine's
  // GDI counts them from the bottom as for a bottom-up DIB, so it lands on
  // row 0 (Windows documents no order for a top-down DIB's start line).
  const uint8_t one[8] = {0x30, 0x20, 0x10, 0, 0, 0, 0, 0};
  EXPECT_EQ(SetDIBits(dc, bmp, 1, 1, one, sizeof one, &h, sizeof h, DIB_RGB_COLORS), 1);
#ifdef _WIN32
  EXPECT_EQ(GetPixel(dc, 0, 0), 0x302010u);
  EXPECT_EQ(GetPixel(dc, 0, 1), 0x070809u);  // row 1 kept what it held
#else
  EXPECT_EQ(GetPixel(dc, 0, 1), 0x302010u);
#endif
  DeleteDC(dc);
  DeleteObject(bmp);
}

TEST_F(PixelStoreTest, SixteenBitBitmapsWidenOnRead) {
  ASSERT_TRUE(PixelStoreSetDisplayDepth(16));
  EXPECT_EQ(PixelStoreDisplayDepth(), 16);
  GdiDC dc = CreateCompatibleDC(nullptr);
  GdiHandle bmp = CreateCompatibleBitmap(dc, 1, 1);
  SelectObject(dc, bmp);
  GdiHandle brush = CreateSolidBrush(0x0F7FFF);  // red 255, green 127, blue 15
  RECT r{0, 0, 1, 1};
  FillRect(dc, &r, brush);
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(bmp, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmBitsPixel, 16);
#ifdef _WIN32
  // Wine's 16-bit display bitmaps are 5-5-5 (measured: a red 31, green 15,
  // blue 1 pixel is stored as 0x7DE1), on a 16-bit X screen and after a
  // change to 16 bits alike. red 31 -> 255; green 15 (5 bits) ->
  // (15 << 3) | (15 >> 2) = 123; blue 1 -> 8.
  EXPECT_EQ(GetPixel(dc, 0, 0), 255u | (123u << 8) | (8u << 16));
#else
  // red 31 -> 255; green 31 (6 bits) -> (31 << 2) | (31 >> 4) = 125; blue 1 -> 8.
  EXPECT_EQ(GetPixel(dc, 0, 0), 255u | (125u << 8) | (8u << 16));
#endif
  DeleteDC(dc);
  DeleteObject(bmp);
  DeleteObject(brush);
}

TEST_F(PixelStoreTest, DibDescribeChecksEveryPartAgainstTheSize) {
  std::vector<uint8_t> info(40 + 16 * 4, 0);
  BITMAPINFOHEADER h = Header(5, -3, 4);
  std::memcpy(info.data(), &h, 40);
  DibLayout d{};
  ASSERT_TRUE(DibDescribe(info.data(), info.size(), &d));
  EXPECT_EQ(d.width, 5);
  EXPECT_EQ(d.height, 3);
  EXPECT_TRUE(d.topDown);
  EXPECT_EQ(d.stride, 4u);
  EXPECT_EQ(d.colourCount, 16u);
  EXPECT_EQ(d.tableEnd, 104u);
  EXPECT_FALSE(DibDescribe(info.data(), info.size() - 1, &d));  // palette cut short
  h.biClrUsed = 2;
  std::memcpy(info.data(), &h, 40);
  ASSERT_TRUE(DibDescribe(info.data(), 48, &d));
  EXPECT_EQ(d.colourCount, 2u);
  h.biClrUsed = 17;
  std::memcpy(info.data(), &h, 40);
  EXPECT_FALSE(DibDescribe(info.data(), info.size(), &d));
  h.biClrUsed = 0;
  h.biBitCount = 24;
  h.biWidth = PixelStoreMaxSide;
  h.biHeight = -PixelStoreMaxSide;
  std::memcpy(info.data(), &h, 40);
  ASSERT_TRUE(DibDescribe(info.data(), 40, &d));
  EXPECT_EQ(d.imageBytes, uint64_t((PixelStoreMaxSide * 3 + 3) / 4 * 4) * PixelStoreMaxSide);
  h.biWidth = PixelStoreMaxSide + 1;
  std::memcpy(info.data(), &h, 40);
  EXPECT_FALSE(DibDescribe(info.data(), 40, &d));
  h.biWidth = 1;
  h.biCompression = BI_BITFIELDS;  // not at 24 bits
  std::memcpy(info.data(), &h, 40);
  EXPECT_FALSE(DibDescribe(info.data(), 52, &d));
  EXPECT_FALSE(DibDescribe(nullptr, 40, &d));
}

TEST_F(PixelStoreTest, RunLengthBitsLeavePixelsTheyNeverReachAsTheyWere) {
  // 3 x 2 RLE8 over a white bitmap: index 1 at the bottom-left, a delta
  // over the next pixel, index 2, then the top row is skipped by end-of-bitmap.
  std::vector<uint8_t> info(40 + 3 * 4, 0);
  BITMAPINFOHEADER h = Header(3, 2, 8);
  h.biCompression = BI_RLE8;
  h.biClrUsed = 3;
  std::memcpy(info.data(), &h, 40);
  const uint8_t palette[12] = {0, 0, 0, 0, 0, 0, 255, 0, 0, 255, 0, 0};  // black, red, green
  std::memcpy(info.data() + 40, palette, sizeof palette);
  const uint8_t stream[] = {1, 1, 0, 2, 1, 0, 1, 2, 0, 1};
  GdiDC dc = CreateCompatibleDC(nullptr);
  GdiHandle bmp = CreateCompatibleBitmap(dc, 3, 2);
  SelectObject(dc, bmp);
  const RECT all{0, 0, 3, 2};
  FillRect(dc, &all, GetStockObject(WHITE_BRUSH));
  EXPECT_EQ(SetDIBits(dc, bmp, 0, 2, stream, sizeof stream, info.data(), info.size(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(GetPixel(dc, 0, 1), 0x0000FFu);  // red
  EXPECT_EQ(GetPixel(dc, 1, 1), 0xFFFFFFu);  // jumped over
  EXPECT_EQ(GetPixel(dc, 2, 1), 0x00FF00u);  // green
  for (int x = 0; x < 3; ++x) EXPECT_EQ(GetPixel(dc, x, 0), 0xFFFFFFu) << x;  // never reached
  FillRect(dc, &all, GetStockObject(WHITE_BRUSH));
  const uint8_t two[] = {3, 1, 0, 0, 3, 2, 0, 1};
#ifdef _WIN32
  // Wine's GDI stores a run-length stream whole whatever band is asked for,
  // and answers the DIB's height: scan line 1 alone still paints scan line 0
  // (the bottom row).
  EXPECT_EQ(SetDIBits(dc, bmp, 1, 1, two, sizeof two, info.data(), info.size(), DIB_RGB_COLORS), 2);
  EXPECT_EQ(GetPixel(dc, 0, 1), 0x0000FFu);
#else
  // Only the band of scan lines asked for is stored: scan line 1 alone
  // leaves scan line 0 (the bottom row) as it was.
  EXPECT_EQ(SetDIBits(dc, bmp, 1, 1, two, sizeof two, info.data(), info.size(), DIB_RGB_COLORS), 1);
  EXPECT_EQ(GetPixel(dc, 0, 1), 0xFFFFFFu);
#endif
  EXPECT_EQ(GetPixel(dc, 0, 0), 0x00FF00u);
  DeleteDC(dc);
  DeleteObject(bmp);
}

TEST_F(PixelStoreTest, CoreHeaderIsDescribedWithThreeBytePaletteEntries) {
  // 12-byte header: width 5, height 3, 1 plane, 4 bits; 16 entries of 3 bytes.
  std::vector<uint8_t> info(12 + 16 * 3, 0);
  const uint8_t header[12] = {12, 0, 0, 0, 5, 0, 3, 0, 1, 0, 4, 0};
  std::memcpy(info.data(), header, 12);
  DibLayout d{};
  ASSERT_TRUE(DibDescribe(info.data(), info.size(), &d));
  EXPECT_EQ(d.width, 5);
  EXPECT_EQ(d.height, 3);
  EXPECT_FALSE(d.topDown);
  EXPECT_EQ(d.stride, 4u);
  EXPECT_EQ(d.colourCount, 16u);
  EXPECT_EQ(d.colourBytes, 3u);
  EXPECT_EQ(d.tableEnd, 12u + 48u);
  EXPECT_FALSE(DibDescribe(info.data(), info.size() - 1, &d));  // table cut short
  EXPECT_FALSE(DibDescribe(info.data(), 11, &d));
  info[10] = 32;  // core headers carry 1, 4, 8 or 24 bits only
  EXPECT_FALSE(DibDescribe(info.data(), info.size(), &d));
  info[10] = 24;
  ASSERT_TRUE(DibDescribe(info.data(), 12, &d));
  EXPECT_EQ(d.colourCount, 0u);
  EXPECT_EQ(d.stride, 16u);
}

TEST_F(PixelStoreTest, IconsKeepColourMaskAndAlpha) {
  // 2 x 1, 32 bits, no mask rows: alpha decides transparency.
  std::vector<uint8_t> image(40 + 8, 0);
  BITMAPINFOHEADER h = Header(2, 2, 32);
  std::memcpy(image.data(), &h, 40);
  const uint8_t px[8] = {0x10, 0x20, 0x30, 0x00, 0x40, 0x50, 0x60, 0xFF};
  std::memcpy(image.data() + 40, px, 8);
  GdiHandle icon = CreateIconFromResourceEx(image.data(), uint32_t(image.size()), 1, 0x30000, 0, 0, 0);
  ASSERT_NE(icon, nullptr);
  EXPECT_EQ(GetObjectType(icon), 0u);
  EXPECT_EQ(IconAlphaAt(icon, 0, 0), 0);
  EXPECT_EQ(IconAlphaAt(icon, 1, 0), 255);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  GdiDC dc = CreateCompatibleDC(nullptr);
  SelectObject(dc, info.hbmMask);
  EXPECT_EQ(GetPixel(dc, 0, 0), 0xFFFFFFu);  // transparent
  EXPECT_EQ(GetPixel(dc, 1, 0), 0u);
  SelectObject(dc, info.hbmColor);
  EXPECT_EQ(GetPixel(dc, 1, 0), 0x405060u);
  // An icon is no drawing object: the selection fails and the DC keeps its
  // bitmap. A DC that held nothing still reads nothing.
  EXPECT_EQ(SelectObject(dc, icon), nullptr);
  EXPECT_EQ(GetCurrentObject(dc, OBJ_BITMAP), info.hbmColor);
  EXPECT_EQ(GetPixel(dc, 0, 0), 0x102030u);
  GdiDC empty = CreateCompatibleDC(nullptr);
  EXPECT_EQ(SelectObject(empty, icon), nullptr);
  EXPECT_EQ(GetPixel(empty, 0, 0), CLR_INVALID);
  DeleteDC(empty);
  EXPECT_TRUE(DestroyIcon(icon));
  DeleteDC(dc);
  DeleteObject(info.hbmMask);
  DeleteObject(info.hbmColor);
  // Wrong version or a cursor: refused everywhere.
  EXPECT_EQ(CreateIconFromResourceEx(image.data(), uint32_t(image.size()), 1, 0x20000, 0, 0, 0), nullptr);
  EXPECT_EQ(CreateIconFromResourceEx(image.data(), uint32_t(image.size()), 0, 0x30000, 0, 0, 0), nullptr);
#ifdef _WIN32
  // The system stretches the image to the size asked for, and takes a
  // 32-bit image whose alpha is all 0 and whose mask rows are missing.
  GdiHandle big = CreateIconFromResourceEx(image.data(), uint32_t(image.size()), 1, 0x30000, 4, 4, 0);
  ASSERT_NE(big, nullptr);
  ICONINFO bigInfo{};
  ASSERT_TRUE(GetIconInfo(big, &bigInfo));
  BITMAP bm{};
  EXPECT_EQ(GetObjectA(bigInfo.hbmColor, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 4);
  EXPECT_EQ(bm.bmHeight, 4);
  DeleteObject(bigInfo.hbmColor);
  DeleteObject(bigInfo.hbmMask);
  EXPECT_TRUE(DestroyIcon(big));
  image[47] = 0;
  GdiHandle clear = CreateIconFromResource(image.data(), uint32_t(image.size()), 1, 0x30000);
  EXPECT_NE(clear, nullptr);
  EXPECT_EQ(IconAlphaAt(clear, 1, 0), 255);  // no alpha left: an icon without it
  DestroyIcon(clear);
#else
  // The emulated store neither resamples nor guesses a shape from nothing:
  // asked to resize, or all alpha 0 without a mask, it refuses.
  EXPECT_EQ(CreateIconFromResourceEx(image.data(), uint32_t(image.size()), 1, 0x30000, 4, 4, 0), nullptr);
  image[47] = 0;
  EXPECT_EQ(CreateIconFromResource(image.data(), uint32_t(image.size()), 1, 0x30000), nullptr);
#endif
  EXPECT_FALSE(DestroyIcon(icon));  // already destroyed
}

// A PNG icon image (an icon file's one entry; tests/image/data/make_data.py
// gives its pixels: red 12x, green 18y, blue 9(x ^ y) mod 256, alpha (14x + 5y) mod
// 256). libpng decodes it in the emulated store, the system itself on
// Windows (Wine 8 does, as Windows Vista and later do).
TEST_F(PixelStoreTest, PngIconImagesKeepColourAndAlpha) {
  std::ifstream in(ZEPHYRA_IMAGE_TEST_DATA "/icon_png_rgba.ico", std::ios::binary);
  const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_GT(file.size(), 22u);
  const uint8_t* png = file.data() + 22;
  const uint32_t size = uint32_t(file.size() - 22);
  GdiHandle icon = CreateIconFromResourceEx(png, size, 1, 0x30000, 20, 14, 0);
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP bm{};
  ASSERT_EQ(GetObjectA(info.hbmColor, sizeof bm, &bm), int(sizeof bm));
  EXPECT_EQ(bm.bmWidth, 20);
  EXPECT_EQ(bm.bmHeight, 14);
  EXPECT_EQ(bm.bmBitsPixel, 32);
  GdiDC colour = CreateCompatibleDC(nullptr);
  GdiDC mask = CreateCompatibleDC(nullptr);
  SelectObject(colour, info.hbmColor);
  SelectObject(mask, info.hbmMask);
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 20; ++x) {
      const int alpha = (x * 14 + y * 5) % 256;
      ASSERT_EQ(IconAlphaAt(icon, x, y), alpha) << x << "," << y;
#ifdef _WIN32
      // Wine's mask of a PNG image is set wherever the pixel is not fully
      // opaque (alpha below 255), not only where it is fully transparent.
      ASSERT_EQ(GetPixel(mask, x, y), alpha < 255 ? 0xFFFFFFu : 0u) << x << "," << y;
#else
      ASSERT_EQ(GetPixel(mask, x, y), alpha == 0 ? 0xFFFFFFu : 0u) << x << "," << y;
#endif
      const COLORREF want = COLORREF(x * 12) | COLORREF(y * 18) << 8 | COLORREF(((x ^ y) * 9) & 0xFF) << 16;
      ASSERT_EQ(GetPixel(colour, x, y), want) << x << "," << y;
    }
  EXPECT_EQ(IconAlphaAt(icon, 20, 0), -1);
  // A PNG that ends early is refused.
  EXPECT_EQ(CreateIconFromResourceEx(png, size - 30, 1, 0x30000, 0, 0, 0), nullptr);
  DeleteDC(colour);
  DeleteDC(mask);
  DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
  EXPECT_TRUE(DestroyIcon(icon));
}

}  // namespace

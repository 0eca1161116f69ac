// Bitmap and icon kinds beyond plain rows: run-length bitmaps (RLE8, RLE4),
// the 12-byte core header, 16- and 32-bit bit fields, and icons whose image
// is a PNG. Each is compared pixel for pixel with Pillow and ImageMagick
// reading the same bytes; the run-length escapes that point outside the
// picture are checked against hand-worked results.
#include "image_test_util.h"

#include <memory>

using namespace imagetest;

namespace {

// A 40-byte info header.
Bytes InfoHeader(int32_t width, int32_t height, uint16_t bits, uint32_t compression, uint32_t clrUsed = 0,
                 uint32_t sizeImage = 0) {
  Bytes h(40, 0);
  Put32(h, 0, 40);
  Put32(h, 4, uint32_t(width));
  Put32(h, 8, uint32_t(height));
  Put16(h, 12, 1);
  Put16(h, 14, bits);
  Put32(h, 16, compression);
  Put32(h, 20, sizeImage);
  Put32(h, 32, clrUsed);
  return h;
}

// Palette entries blue, green, red (and a reserved byte unless entryBytes is 3).
Bytes PaletteBytes(const std::vector<Rgb>& palette, int entryBytes = 4) {
  Bytes b;
  for (const Rgb& c : palette) {
    b.insert(b.end(), {c.b, c.g, c.r});
    if (entryBytes == 4) b.push_back(0);
  }
  return b;
}

// A bitmap file: file header, then `table` (info header with palette or
// masks), then the bits at the offset just after it.
Bytes BmpFile(const Bytes& table, const Bytes& bits) {
  Bytes b(14, 0);
  b[0] = 'B';
  b[1] = 'M';
  b.insert(b.end(), table.begin(), table.end());
  b.insert(b.end(), bits.begin(), bits.end());
  Put32(b, 2, uint32_t(b.size()));
  Put32(b, 10, uint32_t(14 + table.size()));
  return b;
}

Bytes Cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// Sixteen colours, index 0 black (what other decoders give pixels a
// run-length stream skips).
std::vector<Rgb> SixteenColours() {
  std::vector<Rgb> p{{0, 0, 0}};
  for (int i = 1; i < 16; ++i) p.push_back(Rgb{uint8_t(i * 16 + 8), uint8_t(255 - i * 13), uint8_t(i * 57)});
  return p;
}

class FormatsTest : public ImageFixture {
 protected:
  // Decodes into image 1 from an exact-size copy (a read past the data is a
  // read past the block) and reads the picture back through a surface.
  bool Decode(const Bytes& file, Picture* picture) {
    std::unique_ptr<uint8_t[]> exact(new uint8_t[file.size()]);
    std::copy(file.begin(), file.end(), exact.get());
    if (!DecodeImageFromMemory(1, exact.get(), file.size())) return false;
    const ImageRecord* r = LookupImage(1);
    *picture = ReadBack(r->width, r->height);
    return true;
  }

  // Our decoding equals the tool's, channel by channel at `bits` bits of
  // precision per channel (8: exactly). A channel of fewer bits reads back
  // widened by repeating its top bits; the tool may widen differently, so
  // only the stored top bits are compared.
  void ExpectMatches(Reference tool, const Bytes& file, int width, int height, const int bits[3] = nullptr) {
    SCOPED_TRACE(tool == Reference::Pillow ? "against Pillow" : "against ImageMagick");
    Picture got;
    ASSERT_TRUE(Decode(file, &got));
    ASSERT_EQ(got.width, width);
    ASSERT_EQ(got.height, height);
    const Bytes want = ReferenceRgba(tool, file, "bmp");
    ASSERT_EQ(want.size(), size_t(width) * size_t(height) * 4) << "the reference decoder failed";
    for (int y = 0; y < height; ++y)
      for (int x = 0; x < width; ++x) {
        const uint8_t* w = want.data() + (size_t(y) * size_t(width) + size_t(x)) * 4;
        const Rgb g = got.At(x, y);
        const uint8_t ours[3] = {g.r, g.g, g.b};
        for (int c = 0; c < 3; ++c) {
          const int n = bits ? bits[c] : 8;
          const uint32_t field = uint32_t(w[c]) >> (8 - n);
          ASSERT_EQ(uint32_t(ours[c]) >> (8 - n), field) << "pixel " << x << "," << y << " channel " << c;
        }
      }
  }

  void ExpectDeclined(const Bytes& file) {
    const GdiHandle held = LookupImage(1)->handle;
    std::unique_ptr<uint8_t[]> exact(new uint8_t[file.size()]);
    std::copy(file.begin(), file.end(), exact.get());
    EXPECT_EQ(DecodeImageFromMemory(1, exact.get(), file.size()), 0u);
    EXPECT_EQ(LookupImage(1)->handle, held);
  }
};

// RLE8, 7 x 5: encoded runs, absolute runs of odd (padded) and even length,
// a short line, end-of-bitmap. (Both other decoders want every scan line
// started: they report an error for a stream that ends below the top row.)
Bytes Rle8File() {
  const Bytes stream = {
      3, 1, 0, 3, 2, 3, 4, 0, 1, 5, 0, 0,   // scan line 0: 1 1 1 2 3 4 5 (absolute 3 + pad)
      0, 4, 6, 7, 8, 9, 3, 10, 0, 0,        // scan line 1: 6 7 8 9 10 10 10
      7, 11, 0, 0,                          // scan line 2
      2, 12, 0, 0,                          // scan line 3: two pixels, the rest never reached
      7, 13, 0, 1};                         // scan line 4, end of bitmap
  return BmpFile(Cat(InfoHeader(7, 5, 8, BI_RLE8, 16, uint32_t(stream.size())), PaletteBytes(SixteenColours())),
                 stream);
}

// RLE4, 9 x 4: alternating encoded runs, absolute runs of odd nibble counts
// (one padded), and a delta that skips the rest of a line and one more.
Bytes Rle4File() {
  const Bytes stream = {
      5, 0x12, 0, 3, 0x34, 0x50, 1, 0x60, 0, 0,    // scan line 0: 1 2 1 2 1 3 4 5 6
      0, 5, 0x78, 0x9A, 0xB0, 0, 4, 0xCD, 0, 0,    // scan line 1: 7 8 9 10 11 12 13 12 13
      0, 2, 2, 1, 3, 0xEF, 0, 0, 0, 1};            // delta (2, 1): scan line 3 from x 2: 14 15 14
  return BmpFile(Cat(InfoHeader(9, 4, 4, BI_RLE4, 16, uint32_t(stream.size())), PaletteBytes(SixteenColours())),
                 stream);
}

TEST_F(FormatsTest, RunLengthBitmapsMatchOtherDecoders) {
  const Bytes rle8 = Rle8File();
  ExpectMatches(Reference::Pillow, rle8, 7, 5);
  ExpectMatches(Reference::Magick, rle8, 7, 5);
  // Pillow's run-length reader mishandles deltas and odd RLE4 absolute runs.
  ExpectMatches(Reference::Magick, Rle4File(), 9, 4);
  // A delta in an RLE8 stream: (1, 0) then right 3 and up 2.
  const Bytes stream = {2, 5, 0, 2, 3, 2, 1, 9, 0, 0, 6, 4, 0, 1};
  ExpectMatches(Reference::Magick,
                BmpFile(Cat(InfoHeader(6, 4, 8, BI_RLE8, 16), PaletteBytes(SixteenColours())), stream), 6, 4);
}

// RLE8 over a palette whose index 0 is white, so that a pixel left alone
// (black) differs from one given index 0.
Bytes Rle8Hand(int width, int height, const Bytes& stream, uint32_t sizeImage = 0) {
  const std::vector<Rgb> palette{{255, 255, 255}, {255, 0, 0}, {0, 255, 0}, {0, 0, 255}};
  return BmpFile(Cat(InfoHeader(width, height, 8, BI_RLE8, 4, sizeImage), PaletteBytes(palette)), stream);
}

constexpr Rgb K{0, 0, 0}, R{255, 0, 0}, G{0, 255, 0}, B{0, 0, 255};

// Wine's GDI (measured) paints a scan line of a run-length stream only once
// an escape closes it (end of line, end of bitmap or a delta): a stream that
// ends inside a line, or inside an absolute run, leaves that line's pixels
// as they were. The emulated store draws what there is.
#ifdef _WIN32
constexpr bool OpenLinesKept = false;
#else
constexpr bool OpenLinesKept = true;
#endif

void ExpectPicture(const Picture& p, const std::vector<Rgb>& rows) {
  ASSERT_EQ(p.pixels.size(), rows.size());
  for (size_t i = 0; i < rows.size(); ++i)
    EXPECT_EQ(p.pixels[i], rows[i]) << "pixel " << i % size_t(p.width) << "," << i / size_t(p.width);
}

TEST_F(FormatsTest, RunLengthEscapesOutsideThePictureAreCutOffThere) {
  Picture p;
  // A run past the right edge is cut there (the next line is not touched);
  // a delta past the right edge drops the rest of that line; an absolute
  // run the data ends inside draws what there is; no end-of-bitmap needed.
  ASSERT_TRUE(Decode(Rle8Hand(4, 3,
                              {6, 1, 2, 2, 0, 0,                      // scan line 0: R R R R, then dropped
                               0, 2, 3, 0, 1, 3, 0, 2, 200, 0, 0, 3, 1, 1, 1, 0, 0, 0,  // line 1
                               0, 5, 2, 2}),                          // line 2: absolute 5, 2 bytes left
                     &p));
  ExpectPicture(p, {OpenLinesKept ? G : K, OpenLinesKept ? G : K, K, K,  //
                    K, K, K, B,                                       //
                    R, R, R, R});
  // A delta above the top row ends the picture; rows never reached stay black.
  ASSERT_TRUE(Decode(Rle8Hand(3, 3, {1, 1, 0, 2, 0, 5, 0, 0, 3, 2, 3, 2}), &p));
  ExpectPicture(p, {K, K, K, K, K, K, R, K, K});
  // A delta whose bytes are missing, and an escape byte with no partner.
  ASSERT_TRUE(Decode(Rle8Hand(2, 2, {2, 3, 0, 2, 1}), &p));
  ExpectPicture(p, {K, K, B, B});
  ASSERT_TRUE(Decode(Rle8Hand(2, 2, {1, 2, 0}), &p));
  ExpectPicture(p, {K, K, OpenLinesKept ? G : K, K});
  // biSizeImage smaller than the data: the stream ends there.
  ASSERT_TRUE(Decode(Rle8Hand(2, 2, {2, 1, 0, 0, 2, 2, 0, 1}, 4), &p));
  ExpectPicture(p, {K, K, R, R});
  // RLE4: a run past the edge, and an absolute run cut after one byte.
  const std::vector<Rgb> palette{{255, 255, 255}, {255, 0, 0}, {0, 255, 0}};
  const Bytes rle4 = {5, 0x12, 0, 0, 0, 5, 0x21};
  ASSERT_TRUE(Decode(BmpFile(Cat(InfoHeader(3, 2, 4, BI_RLE4, 3), PaletteBytes(palette)), rle4), &p));
  ExpectPicture(p, {OpenLinesKept ? G : K, OpenLinesKept ? R : K, K, R, G, R});
  // Indices past the palette read black (the line closed by end-of-bitmap,
  // which Wine needs before it paints it).
  ASSERT_TRUE(Decode(Rle8Hand(2, 1, {1, 3, 1, 200, 0, 1}), &p));
  ExpectPicture(p, {B, K});
}

TEST_F(FormatsTest, RunLengthHeadersThatDoNotFitAreDeclined) {
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  const Bytes palette = PaletteBytes(SixteenColours());
  const Bytes stream = {2, 1, 0, 1};
  ExpectDeclined(BmpFile(Cat(InfoHeader(2, -2, 8, BI_RLE8, 16), palette), stream));  // top-down
  ExpectDeclined(BmpFile(Cat(InfoHeader(2, 2, 4, BI_RLE8, 16), palette), stream));   // RLE8 at 4 bits
  ExpectDeclined(BmpFile(Cat(InfoHeader(2, 2, 8, BI_RLE4, 16), palette), stream));   // RLE4 at 8 bits
  ExpectDeclined(BmpFile(Cat(InfoHeader(2, 2, 8, 4, 16), palette), stream));         // embedded JPEG
  Bytes pastEnd = BmpFile(Cat(InfoHeader(2, 2, 8, BI_RLE8, 16), palette), stream);
  Put32(pastEnd, 10, uint32_t(pastEnd.size() + 1));  // bits past the data
  ExpectDeclined(pastEnd);
  // An empty stream is a picture nothing was drawn in.
  Picture p;
  ASSERT_TRUE(Decode(BmpFile(Cat(InfoHeader(2, 1, 8, BI_RLE8, 16), palette), {}), &p));
  ExpectPicture(p, {K, K});
}

// A core-header bitmap file: 12-byte header, 2^bits 3-byte palette entries,
// rows bottom-up, each a multiple of 4 bytes.
Bytes CoreFile(int width, int height, int bits) {
  Bytes header(12, 0);
  Put32(header, 0, 12);
  Put16(header, 4, uint32_t(width));
  Put16(header, 6, uint32_t(height));
  Put16(header, 8, 1);
  Put16(header, 10, uint32_t(bits));
  std::vector<Rgb> palette;
  if (bits <= 8)
    for (int i = 0; i < (1 << bits); ++i) palette.push_back(Rgb{uint8_t(i * 37), uint8_t(i * 11 + 3), uint8_t(250 - i)});
  const size_t stride = Stride(width, bits);
  Bytes rows(stride * size_t(height), 0);
  for (int row = 0; row < height; ++row)
    for (int x = 0; x < width; ++x) {
      uint8_t* r = rows.data() + size_t(row) * stride;
      const uint32_t v = uint32_t(x * 5 + row * 3 + 1);
      if (bits == 24) {
        const Rgb c = TestColour(x, row);
        r[x * 3] = c.b;
        r[x * 3 + 1] = c.g;
        r[x * 3 + 2] = c.r;
      } else if (bits == 8) {
        r[x] = uint8_t(v * 29);
      } else if (bits == 4) {
        r[x / 2] |= uint8_t((v & 15) << (x % 2 ? 0 : 4));
      } else {
        r[x / 8] |= uint8_t((v & 1) << (7 - x % 8));
      }
    }
  return BmpFile(Cat(header, PaletteBytes(palette, 3)), rows);
}

TEST_F(FormatsTest, CoreHeaderBitmapsMatchOtherDecoders) {
  for (int bits : {1, 4, 8, 24}) {
    SCOPED_TRACE(testing::Message() << bits << " bits");
    const Bytes file = CoreFile(11, 3, bits);
    ExpectMatches(Reference::Pillow, file, 11, 3);
    ExpectMatches(Reference::Magick, file, 11, 3);
  }
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  const Bytes good = CoreFile(4, 2, 8);
  ExpectDeclined(Bytes(good.begin(), good.begin() + 14 + 12 + 700));  // palette cut short
  ExpectDeclined(Bytes(good.begin(), good.begin() + 14 + 11));         // header cut short
  Bytes bits16 = good;
  Put16(bits16, 14 + 10, 16);  // no 16-bit core bitmaps
  ExpectDeclined(bits16);
  Bytes noWidth = good;
  Put16(noWidth, 14 + 4, 0);
  ExpectDeclined(noWidth);
  Bytes wide = good;
  Put16(wide, 14 + 4, 0xFFFF);  // unsigned: 65,535 pixels, past what the store makes
  ExpectDeclined(wide);
}

// Pixels of `bits` (16 or 32) bits, `width` x `height`, value v(x, y), rows
// stored top-down when topDown.
Bytes PixelRows(int width, int height, int bits, bool topDown, uint32_t (*v)(int, int)) {
  const size_t stride = Stride(width, bits);
  Bytes rows(stride * size_t(height), 0);
  for (int y = 0; y < height; ++y) {
    const int row = topDown ? y : height - 1 - y;
    for (int x = 0; x < width; ++x) {
      if (bits == 16)
        Put16(rows, size_t(row) * stride + size_t(x) * 2, v(x, y) & 0xFFFF);
      else
        Put32(rows, size_t(row) * stride + size_t(x) * 4, v(x, y));
    }
  }
  return rows;
}

uint32_t Pattern16(int x, int y) { return uint32_t(x * 7919 + y * 104729 + 12345) & 0xFFFF; }
uint32_t Pattern32(int x, int y) { return uint32_t(x * 0x01030507 + y * 0x0B0D1113) ^ 0x5A5A5A5Au; }

Bytes Masks(uint32_t r, uint32_t g, uint32_t b) {
  Bytes m(12, 0);
  Put32(m, 0, r);
  Put32(m, 4, g);
  Put32(m, 8, b);
  return m;
}

TEST_F(FormatsTest, BitFieldBitmapsMatchOtherDecoders) {
  const int five[3] = {5, 5, 5};
  const int sixteen565[3] = {5, 6, 5};
  // 16 bits without masks: 5-5-5.
  const Bytes plain16 = BmpFile(InfoHeader(7, 3, 16, BI_RGB), PixelRows(7, 3, 16, false, Pattern16));
  ExpectMatches(Reference::Pillow, plain16, 7, 3, five);
  ExpectMatches(Reference::Magick, plain16, 7, 3, five);
  // 5-5-5 and 5-6-5 masks after a 40-byte header.
  const Bytes f555 = BmpFile(Cat(InfoHeader(7, 3, 16, BI_BITFIELDS), Masks(0x7C00, 0x03E0, 0x001F)),
                             PixelRows(7, 3, 16, false, Pattern16));
  ExpectMatches(Reference::Pillow, f555, 7, 3, five);
  ExpectMatches(Reference::Magick, f555, 7, 3, five);
  const Bytes f565 = BmpFile(Cat(InfoHeader(7, 3, 16, BI_BITFIELDS), Masks(0xF800, 0x07E0, 0x001F)),
                             PixelRows(7, 3, 16, false, Pattern16));
  ExpectMatches(Reference::Pillow, f565, 7, 3, sixteen565);
  ExpectMatches(Reference::Magick, f565, 7, 3, sixteen565);
  // 5-6-5 masks inside a 108-byte header, rows top-down.
  Bytes v4(108, 0);
  const Bytes base = InfoHeader(7, -3, 16, BI_BITFIELDS);
  std::copy(base.begin(), base.end(), v4.begin());
  Put32(v4, 0, 108);
  Put32(v4, 40, 0xF800);
  Put32(v4, 44, 0x07E0);
  Put32(v4, 48, 0x001F);
  Put32(v4, 56, 0x73524742);  // colour space "sRGB"
  const Bytes v4file = BmpFile(v4, PixelRows(7, 3, 16, true, Pattern16));
  ExpectMatches(Reference::Pillow, v4file, 7, 3, sixteen565);
  ExpectMatches(Reference::Magick, v4file, 7, 3, sixteen565);
  // 32 bits: the usual masks, the reversed byte order above them, and red
  // in the low byte.
  const Bytes f32 = BmpFile(Cat(InfoHeader(5, 4, 32, BI_BITFIELDS), Masks(0xFF0000, 0xFF00, 0xFF)),
                            PixelRows(5, 4, 32, false, Pattern32));
  ExpectMatches(Reference::Pillow, f32, 5, 4);
  ExpectMatches(Reference::Magick, f32, 5, 4);
  const Bytes xbgr = BmpFile(Cat(InfoHeader(5, 4, 32, BI_BITFIELDS), Masks(0xFF000000, 0xFF0000, 0xFF00)),
                             PixelRows(5, 4, 32, false, Pattern32));
  ExpectMatches(Reference::Pillow, xbgr, 5, 4);
  ExpectMatches(Reference::Magick, xbgr, 5, 4);
  const Bytes rgbx = BmpFile(Cat(InfoHeader(5, 4, 32, BI_BITFIELDS), Masks(0xFF, 0xFF00, 0xFF0000)),
                             PixelRows(5, 4, 32, false, Pattern32));
  ExpectMatches(Reference::Magick, rgbx, 5, 4);  // a layout Pillow does not read
  // Ten bits a channel: the top eight are kept.
  Picture p;
  const Bytes ten = BmpFile(Cat(InfoHeader(1, 1, 32, BI_BITFIELDS), Masks(0x3FF00000, 0x000FFC00, 0x000003FF)),
                            {0xFF, 0x0F, 0x33, 0x20});  // red 0x203, green 0x0C3, blue 0x3FF
  ASSERT_TRUE(Decode(ten, &p));
  EXPECT_EQ(p.At(0, 0), (Rgb{0x80, 0x30, 0xFF}));
}

// An icon file with one PNG entry from tests/image/data.
Bytes PngIcon(const char* name) { return ReadFile(DataPath(name)); }

TEST_F(FormatsTest, PngIconsMatchOtherDecoders) {
  for (const char* name : {"icon_png_rgba.ico", "icon_png_palette.ico", "icon_png_grey_alpha.ico",
                           "icon_png_rgba16.ico", "icon_png_interlaced.ico"}) {
    SCOPED_TRACE(name);
    const Bytes file = PngIcon(name);
    ASSERT_GT(file.size(), 60u);
    const uintptr_t h = DecodeImageFromMemory(1, file.data(), file.size());
#ifdef _WIN32
    // Wine 8's icon reader declines PNG images of 16 bits per sample.
    if (std::string(name) == "icon_png_rgba16.ico") {
      EXPECT_EQ(h, 0u);
      continue;
    }
#endif
    ASSERT_NE(h, 0u);
    const auto icon = reinterpret_cast<GdiHandle>(h);
    EXPECT_EQ(LookupImage(1)->width, 20);
    EXPECT_EQ(LookupImage(1)->height, 14);
    EXPECT_EQ(LookupImage(1)->depth, 32);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    GdiDC colour = CreateCompatibleDC(nullptr);
    GdiDC mask = CreateCompatibleDC(nullptr);
    SelectObject(colour, info.hbmColor);
    SelectObject(mask, info.hbmMask);
    // Pillow reads 16-bit samples by their high byte; the pixel store (and
    // ImageMagick) round them. Pillow is given the PNG itself: its icon
    // reader drops a palette's transparency.
    const bool sixteen = std::string(name).find("16") != std::string::npos;
    for (Reference tool : {Reference::Pillow, Reference::Magick}) {
      if (sixteen && tool == Reference::Pillow) continue;
      SCOPED_TRACE(tool == Reference::Pillow ? "against Pillow" : "against ImageMagick");
      const Bytes want = tool == Reference::Pillow ? ReferenceRgba(tool, Bytes(file.begin() + 22, file.end()), "png")
                                                   : ReferenceRgba(tool, file, "ico");
      ASSERT_EQ(want.size(), 20u * 14u * 4u) << "the reference decoder failed";
      for (int y = 0; y < 14; ++y)
        for (int x = 0; x < 20; ++x) {
          const uint8_t* w = want.data() + (size_t(y) * 20 + size_t(x)) * 4;
#ifdef _WIN32
          // Wine 8 swaps red and blue in a PNG image without alpha (8-bit
          // RGB, the interlaced file): its fault, measured here, not what
          // Windows shows.
          if (std::string(name) == "icon_png_interlaced.ico") {
            ASSERT_EQ(GetPixel(colour, x, y), COLORREF(w[2] | (w[1] << 8) | (w[0] << 16))) << x << "," << y;
          } else {
            ASSERT_EQ(GetPixel(colour, x, y), COLORREF(w[0] | (w[1] << 8) | (w[2] << 16))) << x << "," << y;
          }
#else
          ASSERT_EQ(GetPixel(colour, x, y), COLORREF(w[0] | (w[1] << 8) | (w[2] << 16))) << x << "," << y;
#endif
          ASSERT_EQ(IconAlphaAt(icon, x, y), int(w[3])) << x << "," << y;
#ifdef _WIN32
          // Wine's mask of a PNG image is set wherever alpha is below 255.
          ASSERT_EQ(GetPixel(mask, x, y), w[3] < 255 ? 0xFFFFFFu : 0u) << x << "," << y;
#else
          ASSERT_EQ(GetPixel(mask, x, y), w[3] == 0 ? 0xFFFFFFu : 0u) << x << "," << y;
#endif
        }
    }
    DeleteDC(colour);
    DeleteDC(mask);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    // Read through a drawing surface, an icon has no pixels (it cannot be
    // selected into the image's device context): every read gives -1.
    EXPECT_EQ(ImageDrawingTarget(), nullptr);
    const Picture p = ReadBack(20, 14);
    for (const Rgb& c : p.pixels) ASSERT_EQ(c, (Rgb{255, 255, 255}));
  }
}

TEST_F(FormatsTest, DamagedPngIconsAreDeclined) {
  ASSERT_NE(MakeBlankImage(1, 2, 2), 0u);
  const Bytes good = PngIcon("icon_png_rgba.ico");
  ASSERT_GT(good.size(), 100u);
  Bytes cut(good.begin(), good.end() - 30);  // the image data ends early
  Put32(cut, 6 + 8, uint32_t(cut.size() - 22));
  {
    SCOPED_TRACE("data ends early");
    ExpectDeclined(cut);
  }
  Bytes shortEntry = good;  // the entry's size stops inside the PNG
  Put32(shortEntry, 6 + 8, 60);
  {
    SCOPED_TRACE("entry stops inside the PNG");
    ExpectDeclined(shortEntry);
  }
  Bytes crc = good;  // the header chunk's checksum no longer matches
  crc[22 + 29] ^= 0xFF;
  {
    SCOPED_TRACE("header checksum");
#ifdef _WIN32
    // Wine 8's PNG reader does not check the header chunk's checksum: the
    // icon is made all the same.
    EXPECT_NE(DecodeImageFromMemory(1, crc.data(), crc.size()), 0u);
#else
    ExpectDeclined(crc);
#endif
  }
  Bytes wide = good;  // a width past the accepted side: 65,536 (big-endian)
  wide[22 + 17] = 1;
  ExpectDeclined(wide);
  ImageSideLimit = 19;
  ExpectDeclined(good);
  ImageSideLimit = DefaultImageSideLimit;
  EXPECT_NE(DecodeImageFromMemory(1, good.data(), good.size()), 0u);
}

}  // namespace

// The embedded pictures and captions: each JPEG's segment layout as the
// demo's decoder meets it, decoded with libjpeg from memory; the raw captions'
// size and grey levels.
#include <gtest/gtest.h>

#include <cstdio>  // jpeglib.h needs FILE
#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "assets/assets.h"

namespace {

struct Blob {
  const char* name;
  const uint8_t* data;
  uint32_t size;
};

std::vector<Blob> Jpegs() {
  return {{"ObjectImage0", ObjectImage0, ObjectImage0Size}, {"ObjectImage1", ObjectImage1, ObjectImage1Size},
          {"ObjectImage2", ObjectImage2, ObjectImage2Size}, {"ObjectImage3", ObjectImage3, ObjectImage3Size},
          {"ObjectImage4", ObjectImage4, ObjectImage4Size}, {"ObjectImage5", ObjectImage5, ObjectImage5Size},
          {"ObjectImage6", ObjectImage6, ObjectImage6Size}, {"FloorImage", FloorImage, FloorImageSize}};
}

// One marker segment: the marker byte after 0xFF and its payload.
struct Segment {
  uint8_t marker;
  std::vector<uint8_t> payload;
};

// Splits the file into segments up to and including SOS; the entropy-coded
// data after SOS is skipped to the final marker, which is returned last.
std::vector<Segment> Segments(const Blob& b) {
  std::vector<Segment> out;
  const uint8_t* d = b.data;
  size_t n = b.size, at = 2;
  if (n < 4 || d[0] != 0xFF || d[1] != 0xD8) return out;
  out.push_back({0xD8, {}});
  while (at + 4 <= n) {
    if (d[at] != 0xFF) return out;
    uint8_t m = d[at + 1];
    size_t len = size_t(d[at + 2]) << 8 | d[at + 3];
    if (len < 2 || at + 2 + len > n) return out;
    out.push_back({m, std::vector<uint8_t>(d + at + 4, d + at + 2 + len)});
    at += 2 + len;
    if (m == 0xDA) break;
  }
  if (n >= 2) out.push_back({d[n - 1] == 0xD9 && d[n - 2] == 0xFF ? uint8_t(0xD9) : uint8_t(0), {}});
  return out;
}

TEST(ObjectImages, MarkerSequenceAndFrame) {
  for (const Blob& b : Jpegs()) {
    SCOPED_TRACE(b.name);
    EXPECT_GE(b.size, 10u * 1024);
    EXPECT_LE(b.size, 16u * 1024);
    std::vector<Segment> s = Segments(b);
    ASSERT_GE(s.size(), 12u);
    std::string order;
    for (const Segment& g : s) {
      char buf[4];
      std::snprintf(buf, sizeof buf, "%02X", g.marker);
      order += std::string(buf) + " ";
    }
    // SOI, JFIF APP0, Exif APP1, comment, two tables, frame, four Huffman
    // tables, scan, EOI.
    EXPECT_EQ(order, "D8 E0 E1 FE DB DB C0 C4 C4 C4 C4 DA D9 ");

    const Segment& app0 = s[1];
    ASSERT_GE(app0.payload.size(), 7u);
    EXPECT_EQ(std::memcmp(app0.payload.data(), "JFIF\0", 5), 0);
    EXPECT_EQ(app0.payload[5], 1);  // JFIF 1.01
    EXPECT_EQ(app0.payload[6], 1);
    EXPECT_EQ(std::memcmp(s[2].payload.data(), "Exif\0\0", 6), 0);
    EXPECT_GT(s[3].payload.size(), 0u);

    EXPECT_EQ(s[4].payload[0] & 0x0F, 0);  // quantisation tables 0 and 1, 8-bit
    EXPECT_EQ(s[5].payload[0], 1);
    EXPECT_EQ(s[4].payload[0] >> 4, 0);

    const std::vector<uint8_t>& sof = s[6].payload;  // baseline frame
    ASSERT_EQ(sof.size(), 15u);
    EXPECT_EQ(sof[0], 8);                  // precision
    EXPECT_EQ(sof[1] << 8 | sof[2], 256);  // height
    EXPECT_EQ(sof[3] << 8 | sof[4], 256);  // width
    EXPECT_EQ(sof[5], 3);                  // components
    EXPECT_EQ(sof[7], 0x22);               // Y: 2 x 2
    EXPECT_EQ(sof[8], 0);
    EXPECT_EQ(sof[10], 0x11);              // Cb: 1 x 1
    EXPECT_EQ(sof[11], 1);
    EXPECT_EQ(sof[13], 0x11);              // Cr: 1 x 1
    EXPECT_EQ(sof[14], 1);

    // Huffman tables: DC 0, AC 0, DC 1, AC 1.
    int classes = 0;
    for (int i = 7; i <= 10; ++i) classes |= 1 << ((s[i].payload[0] >> 4) * 2 + (s[i].payload[0] & 1));
    EXPECT_EQ(classes, 0xF);
  }
}

struct ErrorMgr {
  jpeg_error_mgr pub;
  jmp_buf jump;
};

void OnJpegError(j_common_ptr cinfo) { std::longjmp(reinterpret_cast<ErrorMgr*>(cinfo->err)->jump, 1); }

// Decodes to RGB; returns false on a libjpeg error.
bool Decode(const Blob& b, int& w, int& h, int& comps, std::vector<uint8_t>& rgb) {
  jpeg_decompress_struct cinfo;
  ErrorMgr err;
  cinfo.err = jpeg_std_error(&err.pub);
  err.pub.error_exit = OnJpegError;
  if (setjmp(err.jump)) {
    jpeg_destroy_decompress(&cinfo);
    return false;
  }
  jpeg_create_decompress(&cinfo);
  jpeg_mem_src(&cinfo, b.data, b.size);
  jpeg_read_header(&cinfo, TRUE);
  comps = cinfo.num_components;
  jpeg_start_decompress(&cinfo);
  w = int(cinfo.output_width);
  h = int(cinfo.output_height);
  rgb.assign(size_t(w) * h * 3, 0);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row = rgb.data() + size_t(cinfo.output_scanline) * w * 3;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  jpeg_destroy_decompress(&cinfo);
  return true;
}

TEST(ObjectImages, DecodeTo256x256ColourPictures) {
  std::vector<std::vector<uint8_t>> all;
  for (const Blob& b : Jpegs()) {
    SCOPED_TRACE(b.name);
    int w = 0, h = 0, comps = 0;
    std::vector<uint8_t> rgb;
    ASSERT_TRUE(Decode(b, w, h, comps, rgb));
    EXPECT_EQ(w, 256);
    EXPECT_EQ(h, 256);
    EXPECT_EQ(comps, 3);
    // A picture, not a flat fill: the luma spreads over much of the range,
    // and the channels differ (it has colour).
    int lo = 255, hi = 0;
    long chroma = 0;
    for (size_t i = 0; i < rgb.size(); i += 3) {
      int y = (rgb[i] * 299 + rgb[i + 1] * 587 + rgb[i + 2] * 114) / 1000;
      lo = std::min(lo, y);
      hi = std::max(hi, y);
      chroma += std::abs(rgb[i] - rgb[i + 2]) + std::abs(rgb[i + 1] - rgb[i + 2]);
    }
    EXPECT_GT(hi - lo, 120);
    EXPECT_GT(chroma / long(256 * 256), 8);
    all.push_back(rgb);
  }
  // No two pictures alike.
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j) {
      long diff = 0;
      for (size_t k = 0; k < all[i].size(); ++k) diff += std::abs(all[i][k] - all[j][k]);
      EXPECT_GT(diff / long(all[i].size()), 20) << i << " vs " << j;
    }
}

// The floor picture is a red figure: a good share of strongly red pixels,
// mostly in the middle of the picture rather than at its edges.
TEST(FloorImage, IsARedFigureOnALightGround) {
  int w = 0, h = 0, comps = 0;
  std::vector<uint8_t> rgb;
  ASSERT_TRUE(Decode(Jpegs()[7], w, h, comps, rgb));
  long red = 0, redEdge = 0, light = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const uint8_t* p = &rgb[(size_t(y) * w + x) * 3];
      bool isRed = p[0] > 150 && p[1] < 90 && p[2] < 90;
      red += isRed;
      if (x < 16 || x >= w - 16 || y < 16 || y >= h - 16) redEdge += isRed;
      light += p[0] > 200 && p[1] > 180 && p[2] > 140;
    }
  EXPECT_GT(red, 256 * 256 / 8);
  EXPECT_LT(redEdge, red / 20);
  EXPECT_GT(light, 256 * 256 / 3);
}

TEST(Captions, RawGreyWhiteLetteringOnBlack) {
  struct Cap {
    const char* name;
    const uint8_t* data;
    uint32_t size;
  } caps[] = {{"A", CaptionImageA, CaptionImageASize}, {"B", CaptionImageB, CaptionImageBSize}};
  for (const Cap& c : caps) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(c.size, 32768u);
    long black = 0, white = 0, grey = 0;
    for (uint32_t i = 0; i < c.size; ++i) {
      black += c.data[i] == 0;
      white += c.data[i] == 255;
      grey += c.data[i] != 0 && c.data[i] != 255;
    }
    EXPECT_GT(black + white, long(c.size) * 85 / 100) << "mostly 0 and 255";
    EXPECT_GT(white, 1000) << "solid white strokes";
    EXPECT_GT(grey, 200) << "anti-aliased edges";
    EXPECT_GT(black, white) << "white on black, not the reverse";
    // A black margin on all four sides: the lettering is inside the frame.
    for (int x = 0; x < 512; ++x) {
      EXPECT_EQ(c.data[x], 0);
      EXPECT_EQ(c.data[63 * 512 + x], 0);
    }
    for (int y = 0; y < 64; ++y) {
      EXPECT_EQ(c.data[y * 512], 0);
      EXPECT_EQ(c.data[y * 512 + 511], 0);
    }
  }
  EXPECT_NE(std::memcmp(CaptionImageA, CaptionImageB, 32768), 0);
}

// Caption B is the title "Zephyra (Party)": its 'p', 'y' and parentheses
// hang well below the baseline of the leading capital Z while nothing rises
// far above the Z's top. Stored bottom row first, it would be the reverse.
TEST(Captions, TitleIsStoredTopRowFirst) {
  // Row range of the leftmost glyph (the capital Z): its top and bottom.
  int zTop = 64, zBottom = -1, inkTop = 64, inkBottom = -1;
  int firstCol = -1;
  for (int x = 0; x < 512 && firstCol < 0; ++x)
    for (int y = 0; y < 64; ++y)
      if (CaptionImageB[y * 512 + x] > 128) {
        firstCol = x;
        break;
      }
  ASSERT_GE(firstCol, 0);
  for (int y = 0; y < 64; ++y)
    for (int x = firstCol; x < firstCol + 10; ++x)
      if (CaptionImageB[y * 512 + x] > 128) {
        zTop = std::min(zTop, y);
        zBottom = std::max(zBottom, y);
      }
  for (int y = 0; y < 64; ++y)
    for (int x = 0; x < 512; ++x)
      if (CaptionImageB[y * 512 + x] > 128) {
        inkTop = std::min(inkTop, y);
        inkBottom = std::max(inkBottom, y);
      }
  // Descenders (y, p, the parentheses) go below the Z's baseline; nothing
  // in the title rises far above the Z's top.
  EXPECT_GT(inkBottom, zBottom + 4);
  EXPECT_GE(inkTop, zTop - 4);
}

}  // namespace

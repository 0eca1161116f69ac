// Emulated GDI-like pixel store (portable, no OS header): bitmaps, memory
// device contexts, brushes, pens and icons held in ordinary memory. Each
// bitmap keeps one 32-bit word per pixel holding the pixel in the bitmap's
// own format (a COLORREF for 24/32 bits, a 5-6-5 value for 16 bits, 0/1 for
// monochrome), so reads widen exactly as the display format would. DIB rows
// come plain, as bit fields or run-length coded; icon images come as DIBs or
// as PNG files (decoded with libpng).
#if ZEPHYRA_PIXELS_PNG
#include <png.h>
#endif

#include <csetjmp>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "platform/pixels.h"

enum class PixelKind : uint8_t { Bitmap, Brush, Pen, Icon };

struct PixelObjectRec {
  PixelKind kind = PixelKind::Bitmap;
  bool stock = false;
  COLORREF colour = 0;  // brushes and pens
  int penStyle = 0;
  int penWidth = 0;
  int32_t width = 0;  // bitmaps and icons: the (colour) image
  int32_t height = 0;
  uint16_t bitsPixel = 0;
  std::vector<uint32_t> pixels;  // width * height stored values, top row first
  std::vector<uint8_t> alpha;    // icons from 32-bit images: per-pixel alpha
  std::vector<uint8_t> mask;     // icons: 1 where transparent
  PixelDCRec* selectedIn = nullptr;
};

struct PixelDCRec {
  bool memory = false;
  GdiHandle bitmap = nullptr;
  GdiHandle brush = nullptr;
  GdiHandle pen = nullptr;
  uint32_t textAlign = 0;
  COLORREF textColour = 0;
};

namespace {

int DisplayDepth = 32;

PixelObjectRec StockWhiteBrush, StockBlackBrush, StockNullBrush, StockWhitePen, StockBlackPen;
PixelObjectRec StockDefaultBitmap;  // what a new DC holds: 0 x 0, every read is outside
constexpr size_t StockCount = 6;

std::unordered_set<const void*>& Live() {
  static std::unordered_set<const void*>* live = [] {
    auto* set = new std::unordered_set<const void*>();
    auto stock = [&](PixelObjectRec& o, PixelKind kind, COLORREF colour) {
      o.kind = kind;
      o.stock = true;
      o.colour = colour;
      set->insert(&o);
    };
    stock(StockWhiteBrush, PixelKind::Brush, 0xFFFFFF);
    stock(StockBlackBrush, PixelKind::Brush, 0);
    stock(StockNullBrush, PixelKind::Brush, CLR_INVALID);
    stock(StockWhitePen, PixelKind::Pen, 0xFFFFFF);
    stock(StockBlackPen, PixelKind::Pen, 0);
    stock(StockDefaultBitmap, PixelKind::Bitmap, 0);
    StockDefaultBitmap.bitsPixel = 1;
    return set;
  }();
  return *live;
}

std::unordered_set<PixelDCRec*>& LiveDCs() {
  static auto* dcs = new std::unordered_set<PixelDCRec*>();
  return *dcs;
}

PixelObjectRec* Object(GdiHandle h) {
  return (h && Live().count(h)) ? h : nullptr;
}
// The DC checked last: the texture builder reads 65,536 pixels in a row
// through one DC, so its check is remembered until the DC is deleted.
PixelDCRec* LastCheckedDC = nullptr;

PixelDCRec* DC(GdiDC dc) {
  if (dc && dc == LastCheckedDC) return dc;
  if (!dc || !LiveDCs().count(dc)) return nullptr;
  LastCheckedDC = dc;
  return dc;
}

uint32_t StoreValue(uint16_t bitsPixel, COLORREF c) {
  const uint32_t r = c & 0xFF, g = (c >> 8) & 0xFF, b = (c >> 16) & 0xFF;
  switch (bitsPixel) {
    case 1: return (r + g + b) >= 384 ? 1u : 0u;
    case 16: return ((r >> 3) << 11) | ((g >> 2) << 5) | (b >> 3);
    default: return c & 0xFFFFFF;
  }
}

COLORREF ReadValue(uint16_t bitsPixel, uint32_t v) {
  switch (bitsPixel) {
    case 1: return v ? 0xFFFFFFu : 0u;
    case 16: {
      const uint32_t r5 = (v >> 11) & 31, g6 = (v >> 5) & 63, b5 = v & 31;
      const uint32_t r = (r5 << 3) | (r5 >> 2), g = (g6 << 2) | (g6 >> 4), b = (b5 << 3) | (b5 >> 2);
      return r | (g << 8) | (b << 16);
    }
    default: return v & 0xFFFFFF;
  }
}

uint32_t ReadLE32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}

// A channel of `bits` bits widened to 8 by repeating its top bits.
uint32_t Widen(uint32_t v, int bits) {
  if (bits <= 0) return 0;
  if (bits >= 8) return v >> (bits - 8);
  uint32_t out = 0;
  int filled = 0;
  while (filled < 8) {
    out = (out << bits) | v;
    filled += bits;
  }
  return out >> (filled - 8);
}

// A palette entry as a COLORREF; an index past the palette reads black.
COLORREF PaletteColour(const DibLayout& dib, uint32_t index) {
  if (index >= dib.colourCount) return 0;
  const uint8_t* q = dib.colours + size_t(index) * dib.colourBytes;  // blue, green, red[, reserved]
  return uint32_t(q[2]) | (uint32_t(q[1]) << 8) | (uint32_t(q[0]) << 16);
}

// One DIB row converted to COLORREFs (and alpha for 32-bit rows).
void ConvertRow(const DibLayout& dib, const uint8_t* row, int32_t count, uint32_t* colours,
                uint8_t* alpha) {
  const uint16_t bits = dib.header.biBitCount;
  if (bits <= 8) {
    const int perByte = 8 / bits;
    const uint32_t indexMask = (1u << bits) - 1;
    for (int32_t x = 0; x < count; ++x) {
      const uint8_t byte = row[x / perByte];
      const int shift = 8 - bits * (x % perByte + 1);
      const uint32_t index = (byte >> shift) & indexMask;
      colours[x] = PaletteColour(dib, index);
    }
    return;
  }
  if (bits == 24) {
    for (int32_t x = 0; x < count; ++x) {
      const uint8_t* p = row + x * 3;
      colours[x] = uint32_t(p[2]) | (uint32_t(p[1]) << 8) | (uint32_t(p[0]) << 16);
    }
    return;
  }
  int shifts[3], widths[3];
  for (int i = 0; i < 3; ++i) DibSplitMask(dib.masks[i], &shifts[i], &widths[i]);
  for (int32_t x = 0; x < count; ++x) {
    uint32_t v;
    if (bits == 16) {
      v = uint32_t(row[x * 2]) | (uint32_t(row[x * 2 + 1]) << 8);
    } else {
      v = ReadLE32(row + x * 4);
      if (alpha) alpha[x] = uint8_t(v >> 24);
    }
    uint32_t c[3];
    for (int i = 0; i < 3; ++i) {
      const uint32_t field = widths[i] ? (v >> shifts[i]) & ((widths[i] >= 32) ? ~0u : ((1u << widths[i]) - 1)) : 0;
      c[i] = Widen(field, widths[i]);
    }
    colours[x] = c[0] | (c[1] << 8) | (c[2] << 16);
  }
}

PixelObjectRec* NewBitmap(int32_t width, int32_t height, uint16_t bitsPixel) {
  if (width < 1 || height < 1 || width > PixelStoreMaxSide || height > PixelStoreMaxSide) return nullptr;
  auto* bmp = new PixelObjectRec();
  bmp->kind = PixelKind::Bitmap;
  bmp->width = width;
  bmp->height = height;
  bmp->bitsPixel = bitsPixel;
  bmp->pixels.assign(size_t(width) * size_t(height), 0u);  // 0 is black in every format
  Live().insert(bmp);
  return bmp;
}

// A run-length stream (BI_RLE8 or BI_RLE4) stored into bmp: scan lines
// start .. start + lines - 1 of the DIB, counted from the bottom. The
// position is a column x and a scan line s; escapes move it (end of line,
// delta) and nothing ever moves it left of a line's start or down. Pixels
// outside the DIB, the band or the bitmap are dropped; the stream ends at
// end-of-bitmap, at its last whole byte, or once s passes the top row.
void StoreRunLength(const DibLayout& dib, const uint8_t* data, size_t size, uint32_t start,
                    uint32_t lines, PixelObjectRec* bmp) {
  const bool four = dib.header.biCompression == BI_RLE4;
  const int64_t bandEnd = int64_t(start) + int64_t(lines);
  int64_t x = 0, s = 0;
  size_t at = 0;
  auto put = [&](uint32_t index) {
    if (x < dib.width && s >= int64_t(start) && s < bandEnd) {
      const int64_t y = int64_t(dib.height) - 1 - s;
      if (y < bmp->height && x < bmp->width)
        bmp->pixels[size_t(y) * size_t(bmp->width) + size_t(x)] =
            StoreValue(bmp->bitsPixel, PaletteColour(dib, index));
    }
    ++x;
  };
  while (s < dib.height && size - at >= 2) {
    const uint8_t count = data[at], value = data[at + 1];
    at += 2;
    if (count > 0) {  // encoded run: count pixels of one index (RLE4: two alternating)
      for (uint32_t i = 0; i < count && x < dib.width; ++i)
        put(four ? ((i % 2) ? value & 0x0F : value >> 4) : value);
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++s;
        break;
      case 1:  // end of bitmap
        return;
      case 2:  // delta: right by the next byte, up by the one after
        if (size - at < 2) return;
        x += data[at];
        s += data[at + 1];
        at += 2;
        break;
      default: {  // absolute run of `value` pixels, padded to a 16-bit boundary
        const size_t bytes = four ? (size_t(value) + 1) / 2 : value;
        const size_t avail = size - at < bytes ? size - at : bytes;
        const uint32_t pixels = four ? uint32_t(avail * 2 < value ? avail * 2 : value) : uint32_t(avail);
        for (uint32_t i = 0; i < pixels; ++i) {
          const uint8_t b = data[at + (four ? i / 2 : i)];
          put(four ? ((i % 2) ? b & 0x0F : b >> 4) : b);
        }
        if (avail < bytes) return;  // the stream ends inside the run
        at += bytes + (bytes % 2);
        if (at > size) return;
        break;
      }
    }
  }
}

#if ZEPHYRA_PIXELS_PNG
// A PNG file in memory read by libpng. libpng reports errors by
// long-jumping back to PngReadRgba's recovery point; the state that must
// outlive the jump lives here, owned by the caller, not in the jumping frame.
struct PngRead {
  const uint8_t* data = nullptr;
  size_t size = 0;
  size_t at = 0;                // bytes handed to libpng so far
  uint32_t width = 0, height = 0;
  std::vector<uint8_t> rgba;    // width * height * 4, top row first
  std::vector<png_bytep> rows;  // row pointers into rgba
};

void PngReadData(png_structp png, png_bytep out, size_t length) {
  auto* r = static_cast<PngRead*>(png_get_io_ptr(png));
  if (length > r->size - r->at) png_error(png, "PNG data ends early");
  std::memcpy(out, r->data + r->at, length);
  r->at += length;
}
void PngQuietWarning(png_structp, png_const_charp) {}
void PngErrorJump(png_structp png, png_const_charp) { png_longjmp(png, 1); }

// Decodes the PNG in r->data/size into 8-bit red, green, blue, alpha rows.
// Sides above PixelStoreMaxSide, damaged data and data ending early fail.
bool PngReadRgba(PngRead* r) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngErrorJump, PngQuietWarning);
  if (!png) return false;
  png_infop info = png_create_info_struct(png);
  if (!info) {
    png_destroy_read_struct(&png, nullptr, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    return false;
  }
  png_set_user_limits(png, PixelStoreMaxSide, PixelStoreMaxSide);
  png_set_read_fn(png, r, PngReadData);
  png_read_info(png, info);
  r->width = png_get_image_width(png, info);
  r->height = png_get_image_height(png, info);
  // Everything to 8-bit RGBA: palette and low-bit grey expanded, tRNS to
  // alpha, 16-bit samples scaled (v * 255 / 65535, rounded), grey copied to
  // all three channels, opaque alpha added where the image has none.
  png_set_expand(png);
  png_set_scale_16(png);
  png_set_gray_to_rgb(png);
  png_set_add_alpha(png, 0xFF, PNG_FILLER_AFTER);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != size_t(r->width) * 4) png_error(png, "unexpected row size");
  r->rgba.assign(size_t(r->width) * r->height * 4, 0);
  r->rows.resize(r->height);
  for (uint32_t y = 0; y < r->height; ++y) r->rows[y] = r->rgba.data() + size_t(y) * r->width * 4;
  png_read_image(png, r->rows.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  return true;
}

#endif

// PNG files start with these 8 bytes (with a CR LF and an LF, to catch
// transfers that change line ends).
bool IsPng(const uint8_t* bits, uint32_t size) {
  static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return size >= 8 && std::memcmp(bits, signature, 8) == 0;
}

// A 32-bit icon from a PNG image, alpha kept, mask where alpha is 0.
PixelObjectRec* IconFromPng(const uint8_t* bits, uint32_t size, int cx, int cy) {
#if ZEPHYRA_PIXELS_PNG
  PngRead r;
  r.data = bits;
  r.size = size;
  if (!PngReadRgba(&r)) return nullptr;
  const int32_t width = int32_t(r.width), height = int32_t(r.height);
  if ((cx && cx != width) || (cy && cy != height)) return nullptr;
  auto* icon = new PixelObjectRec();
  icon->kind = PixelKind::Icon;
  icon->width = width;
  icon->height = height;
  icon->bitsPixel = 32;
  const size_t count = size_t(width) * size_t(height);
  icon->pixels.resize(count);
  icon->alpha.resize(count);
  icon->mask.resize(count);
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* q = r.rgba.data() + i * 4;
    icon->pixels[i] = uint32_t(q[0]) | (uint32_t(q[1]) << 8) | (uint32_t(q[2]) << 16);
    icon->alpha[i] = q[3];
    icon->mask[i] = q[3] == 0;
  }
  return icon;
#else
  // A build without libpng declines PNG icons.
  (void)bits, (void)size, (void)cx, (void)cy;
  return nullptr;
#endif
}

void Deselect(PixelObjectRec* o) {
  if (o->selectedIn) {
    o->selectedIn->bitmap = &StockDefaultBitmap;
    o->selectedIn = nullptr;
  }
}

}  // namespace

bool PixelStoreSetDisplayDepth(int bits) {
  if (bits != 16 && bits != 24 && bits != 32) return false;
  DisplayDepth = bits;
  return true;
}

int PixelStoreDisplayDepth() { return DisplayDepth; }

size_t PixelStoreLiveObjects() { return Live().size() - StockCount + LiveDCs().size(); }

GdiDC CreateDCA(const char* driver, const char*, const char*, const void*) {
  Live();  // stock objects first
  if (!driver || std::strcmp(driver, "DISPLAY") != 0) return nullptr;
  auto* dc = new PixelDCRec();
  dc->bitmap = &StockDefaultBitmap;
  dc->brush = &StockWhiteBrush;
  dc->pen = &StockBlackPen;
  LiveDCs().insert(dc);
  return dc;
}

GdiDC CreateCompatibleDC(GdiDC dc) {
  if (dc && !DC(dc)) return nullptr;
  GdiDC mem = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  mem->memory = true;
  return mem;
}

bool DeleteDC(GdiDC dc) {
  PixelDCRec* d = DC(dc);
  if (!d) return false;
  if (d->bitmap && d->bitmap->selectedIn == d) d->bitmap->selectedIn = nullptr;
  LiveDCs().erase(d);
  if (LastCheckedDC == d) LastCheckedDC = nullptr;
  delete d;
  return true;
}

GdiHandle CreateCompatibleBitmap(GdiDC dc, int32_t width, int32_t height) {
  if (dc && !DC(dc)) return nullptr;
  return NewBitmap(width, height, uint16_t(DisplayDepth));
}

GdiHandle CreateSolidBrush(COLORREF colour) {
  auto* o = new PixelObjectRec();
  o->kind = PixelKind::Brush;
  o->colour = colour & 0xFFFFFF;
  Live().insert(o);
  return o;
}

GdiHandle CreatePen(int style, int width, COLORREF colour) {
  if (style < 0 || style > 6 || width < 0) return nullptr;
  auto* o = new PixelObjectRec();
  o->kind = PixelKind::Pen;
  o->penStyle = style;
  o->penWidth = width;
  o->colour = colour & 0xFFFFFF;
  Live().insert(o);
  return o;
}

GdiHandle GetStockObject(int which) {
  Live();  // make sure the stock objects are set up
  switch (which) {
    case WHITE_BRUSH: return &StockWhiteBrush;
    case BLACK_BRUSH: return &StockBlackBrush;
    case NULL_BRUSH: return &StockNullBrush;
    case WHITE_PEN: return &StockWhitePen;
    case BLACK_PEN: return &StockBlackPen;
    default: return nullptr;
  }
}

uint32_t GetObjectType(GdiHandle object) {
  const PixelObjectRec* o = Object(object);
  if (!o) return 0;
  switch (o->kind) {
    case PixelKind::Bitmap: return OBJ_BITMAP;
    case PixelKind::Brush: return OBJ_BRUSH;
    case PixelKind::Pen: return OBJ_PEN;
    default: return 0;  // icons are not drawing objects
  }
}

int GetObjectA(GdiHandle object, int size, void* out) {
  const PixelObjectRec* o = Object(object);
  if (!o || o->kind != PixelKind::Bitmap || !out || size < int(sizeof(BITMAP))) return 0;
  BITMAP bm{};
  bm.bmWidth = o->width;
  bm.bmHeight = o->height;
  bm.bmWidthBytes = int32_t((int64_t(o->width) * o->bitsPixel + 15) / 16 * 2);
  bm.bmPlanes = 1;
  bm.bmBitsPixel = o->bitsPixel;
  std::memcpy(out, &bm, sizeof bm);
  return int(sizeof bm);
}

bool DeleteObject(GdiHandle object) {
  PixelObjectRec* o = Object(object);
  if (!o || o->kind == PixelKind::Icon) return false;
  if (o->stock) return true;
  if (o->kind == PixelKind::Bitmap) Deselect(o);
  // A brush or pen still selected somewhere falls back to the DC's default.
  for (PixelDCRec* d : LiveDCs()) {
    if (d->brush == o) d->brush = &StockWhiteBrush;
    if (d->pen == o) d->pen = &StockBlackPen;
  }
  Live().erase(o);
  delete o;
  return true;
}

GdiHandle SelectObject(GdiDC dc, GdiHandle object) {
  PixelDCRec* d = DC(dc);
  PixelObjectRec* o = Object(object);
  if (!d || !o) return nullptr;
  GdiHandle previous = nullptr;
  switch (o->kind) {
    case PixelKind::Brush:
      previous = d->brush;
      d->brush = o;
      break;
    case PixelKind::Pen:
      previous = d->pen;
      d->pen = o;
      break;
    case PixelKind::Icon:
      return nullptr;  // not a drawing object
    case PixelKind::Bitmap:
      if (o->selectedIn && o->selectedIn != d) return nullptr;  // one DC at a time
      if (!d->memory && !o->stock) return nullptr;                // only memory DCs hold bitmaps
      previous = d->bitmap;
      if (previous && previous->selectedIn == d) previous->selectedIn = nullptr;
      d->bitmap = o;
      if (!o->stock) o->selectedIn = d;
      break;
  }
  return previous;
}

GdiHandle GetCurrentObject(GdiDC dc, uint32_t type) {
  const PixelDCRec* d = DC(dc);
  if (!d) return nullptr;
  switch (type) {
    case OBJ_BITMAP: return d->bitmap;
    case OBJ_BRUSH: return d->brush;
    case OBJ_PEN: return d->pen;
    default: return nullptr;
  }
}

uint32_t SetTextAlign(GdiDC dc, uint32_t align) {
  PixelDCRec* d = DC(dc);
  if (!d) return 0xFFFFFFFFu;
  const uint32_t previous = d->textAlign;
  d->textAlign = align;
  return previous;
}

uint32_t GetTextAlign(GdiDC dc) {
  const PixelDCRec* d = DC(dc);
  return d ? d->textAlign : 0xFFFFFFFFu;
}

COLORREF SetTextColor(GdiDC dc, COLORREF colour) {
  PixelDCRec* d = DC(dc);
  if (!d) return CLR_INVALID;
  const COLORREF previous = d->textColour;
  d->textColour = colour & 0xFFFFFF;
  return previous;
}

COLORREF GetTextColor(GdiDC dc) {
  const PixelDCRec* d = DC(dc);
  return d ? d->textColour : CLR_INVALID;
}

int FillRect(GdiDC dc, const RECT* rect, GdiHandle brush) {
  const PixelDCRec* d = DC(dc);
  const PixelObjectRec* b = Object(brush);
  if (!d || !rect || !b || b->kind != PixelKind::Brush) return 0;
  if (b->colour == CLR_INVALID) return 1;  // the null brush paints nothing
  PixelObjectRec* bmp = d->bitmap;
  if (!bmp || bmp->stock) return 1;
  const int32_t x0 = rect->left < 0 ? 0 : rect->left;
  const int32_t y0 = rect->top < 0 ? 0 : rect->top;
  const int32_t x1 = rect->right > bmp->width ? bmp->width : rect->right;
  const int32_t y1 = rect->bottom > bmp->height ? bmp->height : rect->bottom;
  const uint32_t v = StoreValue(bmp->bitsPixel, b->colour);
  for (int32_t y = y0; y < y1; ++y)
    for (int32_t x = x0; x < x1; ++x) bmp->pixels[size_t(y) * size_t(bmp->width) + size_t(x)] = v;
  return 1;
}

int SetDIBits(GdiDC dc, GdiHandle bitmap, uint32_t start, uint32_t lines, const void* bits,
              size_t bitsSize, const void* info, size_t infoSize, uint32_t usage) {
  if (dc && !DC(dc)) return 0;
  PixelObjectRec* bmp = Object(bitmap);
  if (!bmp || bmp->kind != PixelKind::Bitmap || bmp->stock || usage != DIB_RGB_COLORS || !bits) return 0;
  DibLayout dib;
  if (!DibDescribe(info, infoSize, &dib)) return 0;
  if (start >= uint32_t(dib.height)) return 0;
  if (lines > uint32_t(dib.height) - start) lines = uint32_t(dib.height) - start;
  if (lines == 0) return 0;
  if (dib.runLength) {
    const uint32_t declared = dib.header.biSizeImage;
    StoreRunLength(dib, static_cast<const uint8_t*>(bits),
                   declared && declared < bitsSize ? declared : bitsSize, start, lines, bmp);
    return int(lines);
  }
  if (uint64_t(lines) * dib.stride > bitsSize) return 0;
  const int32_t count = dib.width < bmp->width ? dib.width : bmp->width;
  std::vector<uint32_t> colours(static_cast<size_t>(dib.width));
  const auto* rows = static_cast<const uint8_t*>(bits);
  for (uint32_t i = 0; i < lines; ++i) {
    const uint32_t scan = start + i;
    const int64_t y = dib.topDown ? int64_t(scan) : int64_t(dib.height) - 1 - int64_t(scan);
    if (y < 0 || y >= bmp->height) continue;
    ConvertRow(dib, rows + uint64_t(i) * dib.stride, count, colours.data(), nullptr);
    uint32_t* out = bmp->pixels.data() + size_t(y) * size_t(bmp->width);
    for (int32_t x = 0; x < count; ++x) out[x] = StoreValue(bmp->bitsPixel, colours[size_t(x)]);
  }
  return int(lines);
}

COLORREF GetPixel(GdiDC dc, int32_t x, int32_t y) {
  const PixelDCRec* d = DC(dc);
  if (!d) return CLR_INVALID;
  const PixelObjectRec* bmp = d->bitmap;
  if (!bmp || x < 0 || y < 0 || x >= bmp->width || y >= bmp->height) return CLR_INVALID;
  return ReadValue(bmp->bitsPixel, bmp->pixels[size_t(y) * size_t(bmp->width) + size_t(x)]);
}

GdiHandle CreateIconFromResourceEx(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version,
                                   int cx, int cy, uint32_t) {
  if (!bits || !fIcon || version != 0x30000) return nullptr;
  if (IsPng(bits, size)) {
    PixelObjectRec* png = IconFromPng(bits, size, cx, cy);
    if (png) Live().insert(png);
    return png;
  }
  DibLayout dib;
  if (!DibDescribe(bits, size, &dib) || dib.topDown || dib.runLength) return nullptr;
  // The header's height covers the colour rows and the mask rows together.
  const int32_t width = dib.width;
  const int32_t height = dib.height / 2;
  if (height < 1) return nullptr;
  if ((cx && cx != width) || (cy && cy != height)) return nullptr;
  const uint64_t colourBytes = dib.stride * uint64_t(height);
  const uint64_t maskStride = (uint64_t(width) + 31) / 32 * 4;
  const uint64_t maskBytes = maskStride * uint64_t(height);
  const uint64_t colourAt = dib.tableEnd;
  if (colourAt + colourBytes > size) return nullptr;
  const bool hasMask = colourAt + colourBytes + maskBytes <= size;
  const bool is32 = dib.header.biBitCount == 32;
  if (!hasMask && !is32) return nullptr;

  auto* icon = new PixelObjectRec();
  icon->kind = PixelKind::Icon;
  icon->width = width;
  icon->height = height;
  icon->bitsPixel = is32 ? 32 : uint16_t(DisplayDepth);
  icon->pixels.assign(size_t(width) * size_t(height), 0u);
  icon->mask.assign(size_t(width) * size_t(height), 0);
  std::vector<uint32_t> colours(static_cast<size_t>(width));
  std::vector<uint8_t> alphaRow(size_t(width), 0xFF);
  std::vector<uint8_t> alpha(is32 ? size_t(width) * size_t(height) : 0);
  bool anyAlpha = false;
  for (int32_t row = 0; row < height; ++row) {
    const int32_t y = height - 1 - row;  // bottom-up
    const size_t at = size_t(y) * size_t(width);
    ConvertRow(dib, bits + colourAt + uint64_t(row) * dib.stride, width, colours.data(),
               is32 ? alphaRow.data() : nullptr);
    for (int32_t x = 0; x < width; ++x) {
      icon->pixels[at + size_t(x)] = StoreValue(icon->bitsPixel, colours[size_t(x)]);
      if (is32) {
        alpha[at + size_t(x)] = alphaRow[size_t(x)];
        anyAlpha |= alphaRow[size_t(x)] != 0;
      }
    }
    if (hasMask) {
      const uint8_t* m = bits + colourAt + colourBytes + uint64_t(row) * maskStride;
      for (int32_t x = 0; x < width; ++x) icon->mask[at + size_t(x)] = (m[x / 8] >> (7 - x % 8)) & 1;
    }
  }
  if (anyAlpha) {
    icon->alpha = std::move(alpha);
    if (!hasMask)
      for (size_t i = 0; i < icon->mask.size(); ++i) icon->mask[i] = icon->alpha[i] == 0;
  } else if (!hasMask) {
    delete icon;  // neither mask nor alpha: no way to tell the shape
    return nullptr;
  }
  Live().insert(icon);
  return icon;
}

GdiHandle CreateIconFromResource(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version) {
  return CreateIconFromResourceEx(bits, size, fIcon, version, 0, 0, 0);
}

bool GetIconInfo(GdiHandle icon, ICONINFO* info) {
  const PixelObjectRec* o = Object(icon);
  if (!o || o->kind != PixelKind::Icon || !info) return false;
  PixelObjectRec* colour = NewBitmap(o->width, o->height, o->bitsPixel);
  PixelObjectRec* mask = NewBitmap(o->width, o->height, 1);
  if (!colour || !mask) {
    DeleteObject(colour);
    DeleteObject(mask);
    return false;
  }
  colour->pixels = o->pixels;
  for (size_t i = 0; i < o->mask.size(); ++i) mask->pixels[i] = o->mask[i];
  info->fIcon = 1;
  info->xHotspot = uint32_t(o->width / 2);
  info->yHotspot = uint32_t(o->height / 2);
  info->hbmMask = mask;
  info->hbmColor = colour;
  return true;
}

bool DestroyIcon(GdiHandle icon) {
  PixelObjectRec* o = Object(icon);
  if (!o || o->kind != PixelKind::Icon) return false;
  Deselect(o);
  Live().erase(o);
  delete o;
  return true;
}

int IconAlphaAt(GdiHandle icon, int32_t x, int32_t y) {
  const PixelObjectRec* o = Object(icon);
  if (!o || o->kind != PixelKind::Icon || x < 0 || y < 0 || x >= o->width || y >= o->height) return -1;
  if (o->alpha.empty()) return 255;
  return o->alpha[size_t(y) * size_t(o->width) + size_t(x)];
}

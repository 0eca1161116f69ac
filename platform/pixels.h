// Pixel store: the display's drawing objects that the image code works
// with — display-compatible bitmaps, memory device contexts, brushes, pens
// and icons — under their familiar Windows names. On Windows they are the
// system's GDI objects (platform/win32/pixels_win32.cpp); elsewhere an
// emulation in memory (platform/emulated/pixels_emulated.cpp). Where the system's
// answers differ from the emulation's, the Windows meaning is given below.
//
// Bitmaps take the display depth in force when they are made:
//  - 32 or 24 bits (a window on a true-colour desktop): 8 bits per channel.
//  - 16 bits (full-screen mode): 5-6-5; channels are truncated on store and
//    widened back to 8 bits on read by repeating their top bits, e.g. a 5-bit
//    red r reads as (r << 3) | (r >> 2), a 6-bit green g as (g << 2) | (g >> 4).
//    On Windows the layout is the display driver's: Wine's is 5-5-5 (green
//    too reads as (g << 3) | (g >> 2)).
// Colours are COLORREF values: red in bits 0-7, green 8-15, blue 16-23.
//
// Every handle is checked against the set of live objects, so a stale or
// foreign handle is refused (0 / nullptr / CLR_INVALID) instead of being
// followed. Main thread only: nothing here is serialised.
#pragma once
#include <cstddef>
#include <cstdint>

using GdiHandle = struct PixelObjectRec*;  // a bitmap, brush, pen or icon; nullptr = none
using GdiDC = struct PixelDCRec*;          // a device context; nullptr = none
using COLORREF = uint32_t;

constexpr COLORREF CLR_INVALID = 0xFFFFFFFFu;

// Object types as GetObjectType answers them (0 for anything else, icons too).
constexpr uint32_t OBJ_PEN = 1;
constexpr uint32_t OBJ_BRUSH = 2;
constexpr uint32_t OBJ_DC = 3;
constexpr uint32_t OBJ_BITMAP = 7;
constexpr uint32_t OBJ_MEMDC = 10;

// Stock objects (never deleted; DeleteObject on them does nothing).
constexpr int WHITE_BRUSH = 0;
constexpr int BLACK_BRUSH = 4;
constexpr int NULL_BRUSH = 5;
constexpr int WHITE_PEN = 6;
constexpr int BLACK_PEN = 7;

constexpr int PS_SOLID = 0;
constexpr uint32_t TA_UPDATECP = 1;
constexpr uint32_t DIB_RGB_COLORS = 0;
constexpr uint32_t BI_RGB = 0;
constexpr uint32_t BI_RLE8 = 1;
constexpr uint32_t BI_RLE4 = 2;
constexpr uint32_t BI_BITFIELDS = 3;

// Largest bitmap side the store makes, in pixels.
constexpr int32_t PixelStoreMaxSide = 32767;

struct RECT {
  int32_t left, top, right, bottom;
};

struct BITMAP {
  int32_t bmType;        // 0
  int32_t bmWidth;       // pixels
  int32_t bmHeight;      // pixels
  int32_t bmWidthBytes;  // bytes of one row in the bitmap's own format, even
  uint16_t bmPlanes;     // 1
  uint16_t bmBitsPixel;  // 1 (monochrome mask), 16, 24 or 32
  void* bmBits;          // nullptr: the bits are not addressable
};

// The 40-byte info header of a device-independent bitmap, as stored in files.
struct BITMAPINFOHEADER {
  uint32_t biSize;
  int32_t biWidth;
  int32_t biHeight;  // > 0 bottom-up rows, < 0 top-down
  uint16_t biPlanes;
  uint16_t biBitCount;
  uint32_t biCompression;
  uint32_t biSizeImage;
  int32_t biXPelsPerMeter;
  int32_t biYPelsPerMeter;
  uint32_t biClrUsed;
  uint32_t biClrImportant;
};
static_assert(sizeof(BITMAPINFOHEADER) == 40);

struct ICONINFO {
  int32_t fIcon;
  uint32_t xHotspot, yHotspot;
  GdiHandle hbmMask;   // monochrome: white (1) where the icon is transparent
  GdiHandle hbmColor;  // the colour image
};

// What DibDescribe found in a packed DIB (info header, then colour table or
// masks). Sizes are 64-bit so that no product overflows.
struct DibLayout {
  BITMAPINFOHEADER header;  // copied out (unaligned data is fine); a 12-byte
                            // core header is widened into it (biSize stays 12)
  int32_t width;            // pixels, > 0
  int32_t height;           // pixels, > 0 (the magnitude of biHeight)
  bool topDown;             // biHeight < 0
  uint64_t stride;          // bytes per row, a multiple of 4 (uncompressed rows)
  uint64_t imageBytes;      // stride * height; not the size of run-length data
  bool runLength;           // BI_RLE8 or BI_RLE4: the bits are a run-length stream
  uint32_t colourCount;     // palette entries usable (bit counts 1, 4, 8)
  uint32_t colourBytes;     // bytes per palette entry: 4, or 3 after a core header
  const uint8_t* colours;   // the palette (blue, green, red[, reserved]), or nullptr
  uint32_t masks[3];        // red, green, blue masks for 16 and 32 bits
  uint64_t tableEnd;        // bytes from the header's start to the end of table/masks
};

// Accepts a packed DIB whose header and colour table (or masks) lie within
// infoSize bytes:
//  - the 12-byte core header (unsigned 16-bit width and height, always
//    bottom-up; 1, 4, 8 or 24 bits; a full table of 2^bits 3-byte entries);
//  - info headers of 40, 52, 56, 108 or 124 bytes with 1, 4, 8, 16, 24 or 32
//    bits: BI_RGB; BI_BITFIELDS at 16 and 32 bits with contiguous masks;
//    BI_RLE8 at 8 bits and BI_RLE4 at 4 bits, bottom-up only; biClrUsed
//    entries of 4 bytes (0: 2^bits), at most 2^bits.
// Width 1..PixelStoreMaxSide and height magnitude 1..PixelStoreMaxSide.
// False for anything else.
bool DibDescribe(const void* info, size_t infoSize, DibLayout* out);
// A channel mask split into its lowest bit and its width in bits (0 and 0
// for an empty mask); false when the mask's bits are not contiguous.
bool DibSplitMask(uint32_t mask, int* shift, int* bits);

// Display depth in bits per pixel for bitmaps made from now on: 16 (full
// screen, 5-6-5), 24 or 32 (a window). The shell calls it when the display
// mode is set. False, and nothing changes, for any other value. Starts at 32.
// On Windows the depth is the display's own (GetDeviceCaps BITSPIXEL of a
// display DC), and setting one changes the display only when it must: 24
// and 32 both mean true colour, which any depth of 24 bits or more already
// is (else the display goes back to its registry mode, ChangeDisplaySettingsA
// (NULL, 0)); 16 is a temporary full-screen change (CDS_FULLSCREEN) at the
// current size. True when the display then has the depth asked for.
bool PixelStoreSetDisplayDepth(int bits);
int PixelStoreDisplayDepth();
// Live objects and device contexts, stock objects not counted (for leak
// tests). On Windows: those made through this header and not yet deleted.
size_t PixelStoreLiveObjects();

// Device contexts. CreateDCA accepts only the driver "DISPLAY". A new DC has
// the stock white brush, the stock black pen and no bitmap selected.
GdiDC CreateDCA(const char* driver, const char* device, const char* port, const void* mode);
GdiDC CreateCompatibleDC(GdiDC dc);  // a memory DC; dc may be nullptr (the screen)
bool DeleteDC(GdiDC dc);             // deselects what it holds; the objects live on

// Objects.
GdiHandle CreateCompatibleBitmap(GdiDC dc, int32_t width, int32_t height);  // black
GdiHandle CreateSolidBrush(COLORREF colour);
GdiHandle CreatePen(int style, int width, COLORREF colour);
GdiHandle GetStockObject(int which);
uint32_t GetObjectType(GdiHandle object);
// Fills a BITMAP for a bitmap; answers the bytes written, 0 for anything else
// or when size is less than sizeof(BITMAP).
int GetObjectA(GdiHandle object, int size, void* out);
// Deletes a bitmap, brush or pen; a bitmap still selected into a DC is
// deselected first (the DC then reads as having none). Stock objects stay.
bool DeleteObject(GdiHandle object);

// Selects a bitmap, brush or pen into dc and answers the one of the same kind
// it replaces (nullptr on failure). A bitmap lives in one DC at a time.
// An icon is no drawing object: selecting one fails and the DC keeps what it
// held (its colour image is read through GetIconInfo's bitmaps instead).
GdiHandle SelectObject(GdiDC dc, GdiHandle object);
GdiHandle GetCurrentObject(GdiDC dc, uint32_t type);  // OBJ_BITMAP, OBJ_BRUSH or OBJ_PEN
uint32_t SetTextAlign(GdiDC dc, uint32_t align);      // answers the previous value
uint32_t GetTextAlign(GdiDC dc);
COLORREF SetTextColor(GdiDC dc, COLORREF colour);     // answers the previous colour
COLORREF GetTextColor(GdiDC dc);

// Fills the rectangle (right and bottom exclusive, clipped to the selected
// bitmap) with the brush's colour. 0 on failure.
int FillRect(GdiDC dc, const RECT* rect, GdiHandle brush);

// Stores lines scan lines of a DIB into bitmap, starting at scan line start
// of the DIB (counted from the bottom for bottom-up DIBs, from the top for
// top-down ones), converting to the bitmap's format. info/infoSize: the
// packed header with its colour table or masks; bits/bitsSize: the rows.
// Answers the lines stored, 0 when the DIB is refused or its rows would
// reach past bitsSize. Only DIB_RGB_COLORS. dc may be nullptr.
// On Windows (Wine's GDI) a top-down DIB's start line is counted from the
// bottom as for a bottom-up one, and a run-length stream is stored whole
// whatever band is asked for (the answer is then the DIB's height).
// Run-length bits (BI_RLE8, BI_RLE4) are read up to bitsSize (or biSizeImage
// when that is smaller and not 0): encoded runs, end-of-line, end-of-bitmap,
// delta and absolute escapes. Pixels the stream never reaches keep what the
// bitmap held; pixels a run or delta puts right of the last column or above
// the top row are dropped; a stream that ends early stops there.
int SetDIBits(GdiDC dc, GdiHandle bitmap, uint32_t start, uint32_t lines, const void* bits,
              size_t bitsSize, const void* info, size_t infoSize, uint32_t usage);

// The colour at (x, y) of the bitmap selected into dc, widened to 8 bits per
// channel; CLR_INVALID outside it, with no bitmap selected or a bad dc.
COLORREF GetPixel(GdiDC dc, int32_t x, int32_t y);

// Icons: colour image plus monochrome mask. bits/size: one icon image as
// stored in an icon file, either
//  - a DIB: info header with biHeight = 2 x height, colour table, colour rows,
//    then the 1-bit mask rows, all bottom-up, uncompressed. 32-bit images
//    keep their alpha; when their mask rows are missing, alpha 0 marks
//    transparency; or
//  - a whole PNG file (decoded with libpng to 8-bit red, green, blue, alpha;
//    palettes, grey, transparency chunks and interlacing are expanded,
//    16-bit samples scaled to 8 bits with rounding; gamma is not applied). The icon is 32 bits with that alpha,
//    and its mask is set where alpha is 0.
// Only icons (fIcon non-zero) and version 0x30000; cx/cy 0 or the image's own
// size (no resampling). nullptr when refused.
// On Windows the system decodes both (PNG too: Windows Vista and later, and
// Wine 8) after the DIB's header, table and colour rows are checked against
// size; it stretches the image to cx x cy when those differ, takes a 32-bit
// image with neither mask rows nor alpha (an opaque icon), and Wine's mask of
// a PNG image is set wherever alpha is below 255.
GdiHandle CreateIconFromResourceEx(const uint8_t* bits, uint32_t size, int fIcon,
                                   uint32_t version, int cx, int cy, uint32_t flags);
GdiHandle CreateIconFromResource(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version);
// New copies of the icon's mask and colour bitmaps, which the caller deletes.
bool GetIconInfo(GdiHandle icon, ICONINFO* info);
bool DestroyIcon(GdiHandle icon);
// Alpha (0-255) of a 32-bit icon's pixel, 255 for icons without alpha,
// -1 outside or for anything but an icon. On Windows read from the colour
// bitmap of GetIconInfo through GetDIBits at 32 bits (a colour bitmap of
// fewer bits, or one whose alpha is 0 throughout, has none).
int IconAlphaAt(GdiHandle icon, int32_t x, int32_t y);

// Plain-typed wrappers over the GDI and USER calls behind the Windows pixel
// store (pixels_win32.cpp). Only native_pixels.cpp includes <windows.h>;
// callers see integers and opaque pointers: a DC is the HDC itself, an
// object the HGDIOBJ (HBITMAP, HBRUSH, HPEN) or HICON.
#pragma once
#include <cstddef>
#include <cstdint>

// The numbers and layouts the layer above passes through unchanged, with
// Windows' values. native_pixels.cpp checks them against <windows.h>,
// pixels_win32.cpp against the project's constants of the same names.
#define NATIVE_PIXEL_NUMBERS(X)                                                                   \
  X(OBJ_PEN, 1) X(OBJ_BRUSH, 2) X(OBJ_DC, 3) X(OBJ_BITMAP, 7) X(OBJ_MEMDC, 10)                    \
  X(WHITE_BRUSH, 0) X(BLACK_BRUSH, 4) X(NULL_BRUSH, 5) X(WHITE_PEN, 6) X(BLACK_PEN, 7)            \
  X(PS_SOLID, 0) X(TA_UPDATECP, 1) X(DIB_RGB_COLORS, 0) X(BI_RGB, 0) X(BI_RLE8, 1) X(BI_RLE4, 2) \
  X(BI_BITFIELDS, 3) X(CLR_INVALID, 0xFFFFFFFFu) X(sizeof(BITMAP), 32)                             \
  X(offsetof(BITMAP, bmWidthBytes), 12) X(offsetof(BITMAP, bmPlanes), 16)                         \
  X(offsetof(BITMAP, bmBitsPixel), 18) X(offsetof(BITMAP, bmBits), 24) X(sizeof(RECT), 16)        \
  X(offsetof(RECT, bottom), 12) X(sizeof(BITMAPINFOHEADER), 40)                                    \
  X(offsetof(BITMAPINFOHEADER, biSizeImage), 20) X(offsetof(BITMAPINFOHEADER, biClrUsed), 32)
#define NATIVE_CHECK_PIXEL_NUMBER(name, value) \
  static_assert(static_cast<long long>(name) == static_cast<long long>(value), #name);
#define NATIVE_CHECK_PIXEL_NUMBERS NATIVE_PIXEL_NUMBERS(NATIVE_CHECK_PIXEL_NUMBER)

// Device contexts: CreateDCA, CreateCompatibleDC (dc nullptr: the screen), DeleteDC.
void* NativeCreateDC(const char* driver, const char* device, const char* port, const void* mode);
void* NativeCreateCompatibleDC(void* dc);
bool NativeDeleteDC(void* dc);
// GetDeviceCaps(BITSPIXEL) of a display DC: the display's depth now.
int NativeDisplayBitsPerPixel();
// ChangeDisplaySettingsA at the display's current size with `bits` bits per
// pixel (CDS_FULLSCREEN, a temporary change), and ChangeDisplaySettingsA
// (NULL, 0), back to the mode in the registry. Both answer the
// DISP_CHANGE_ code.
long NativeChangeDisplayDepth(int bits);
long NativeRestoreDisplayMode();

// Objects.
void* NativeCreateCompatibleBitmap(void* dc, int32_t width, int32_t height);
void* NativeCreateSolidBrush(uint32_t colour);
void* NativeCreatePen(int style, int width, uint32_t colour);
void* NativeGetStockObject(int which);
uint32_t NativeGetObjectType(void* object);
int NativeGetObject(void* object, int size, void* out);  // GetObjectA
bool NativeDeleteObject(void* object);
void* NativeSelectObject(void* dc, void* object);
void* NativeGetCurrentObject(void* dc, uint32_t type);
uint32_t NativeSetTextAlign(void* dc, uint32_t align);
uint32_t NativeGetTextAlign(void* dc);
uint32_t NativeSetTextColor(void* dc, uint32_t colour);
uint32_t NativeGetTextColor(void* dc);
int NativeFillRect(void* dc, const void* rect, void* brush);  // rect: a RECT's 16 bytes

// SetDIBits; info: a BITMAPINFOHEADER (or core header) with its colour
// table or masks.
int NativeSetDIBits(void* dc, void* bitmap, uint32_t start, uint32_t lines, const void* bits,
                    const void* info, uint32_t usage);
// GetDIBits of the whole bitmap as 32-bit top-down rows (blue, green, red,
// alpha), width * height * 4 bytes, through a display DC. False on failure.
bool NativeGetBitmapBgra(void* bitmap, int32_t width, int32_t height, uint8_t* out);
uint32_t NativeGetPixel(void* dc, int32_t x, int32_t y);

// Icons.
void* NativeCreateIconFromResourceEx(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version,
                                     int cx, int cy, uint32_t flags);
void* NativeCreateIconFromResource(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version);
bool NativeGetIconInfo(void* icon, int32_t* fIcon, uint32_t* xHotspot, uint32_t* yHotspot, void** mask,
                       void** colour);
bool NativeDestroyIcon(void* icon);

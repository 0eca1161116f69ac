// The GDI and USER calls behind native_pixels.h. This file includes
// <windows.h> and none of the project's platform headers.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstddef>

#include "platform/win32/native_pixels.h"

NATIVE_CHECK_PIXEL_NUMBERS

void* NativeCreateDC(const char* driver, const char* device, const char* port, const void* mode) {
  return CreateDCA(driver, device, port, static_cast<const DEVMODEA*>(mode));
}

void* NativeCreateCompatibleDC(void* dc) { return CreateCompatibleDC(static_cast<HDC>(dc)); }

bool NativeDeleteDC(void* dc) { return DeleteDC(static_cast<HDC>(dc)) != 0; }

int NativeDisplayBitsPerPixel() {
  HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (!screen) return 0;
  const int bits = GetDeviceCaps(screen, BITSPIXEL) * GetDeviceCaps(screen, PLANES);
  DeleteDC(screen);
  return bits;
}

long NativeChangeDisplayDepth(int bits) {
  DEVMODEA current{};
  current.dmSize = sizeof current;
  if (!EnumDisplaySettingsA(nullptr, ENUM_CURRENT_SETTINGS, &current)) return DISP_CHANGE_FAILED;
  // The size is given as well: Wine refuses a change of the depth alone
  // (DISP_CHANGE_BADMODE) where Windows takes the missing fields from the
  // current mode.
  DEVMODEA mode{};
  mode.dmSize = sizeof mode;
  mode.dmBitsPerPel = DWORD(bits);
  mode.dmPelsWidth = current.dmPelsWidth;
  mode.dmPelsHeight = current.dmPelsHeight;
  mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
  return ChangeDisplaySettingsA(&mode, CDS_FULLSCREEN);
}

long NativeRestoreDisplayMode() { return ChangeDisplaySettingsA(nullptr, 0); }

void* NativeCreateCompatibleBitmap(void* dc, int32_t width, int32_t height) {
  return CreateCompatibleBitmap(static_cast<HDC>(dc), width, height);
}

void* NativeCreateSolidBrush(uint32_t colour) { return CreateSolidBrush(colour); }

void* NativeCreatePen(int style, int width, uint32_t colour) { return CreatePen(style, width, colour); }

void* NativeGetStockObject(int which) { return GetStockObject(which); }

uint32_t NativeGetObjectType(void* object) { return GetObjectType(static_cast<HGDIOBJ>(object)); }

int NativeGetObject(void* object, int size, void* out) { return GetObjectA(static_cast<HGDIOBJ>(object), size, out); }

bool NativeDeleteObject(void* object) { return DeleteObject(static_cast<HGDIOBJ>(object)) != 0; }

void* NativeSelectObject(void* dc, void* object) {
  return SelectObject(static_cast<HDC>(dc), static_cast<HGDIOBJ>(object));
}

void* NativeGetCurrentObject(void* dc, uint32_t type) { return GetCurrentObject(static_cast<HDC>(dc), type); }

uint32_t NativeSetTextAlign(void* dc, uint32_t align) { return SetTextAlign(static_cast<HDC>(dc), align); }

uint32_t NativeGetTextAlign(void* dc) { return GetTextAlign(static_cast<HDC>(dc)); }

uint32_t NativeSetTextColor(void* dc, uint32_t colour) { return SetTextColor(static_cast<HDC>(dc), colour); }

uint32_t NativeGetTextColor(void* dc) { return GetTextColor(static_cast<HDC>(dc)); }

int NativeFillRect(void* dc, const void* rect, void* brush) {
  return FillRect(static_cast<HDC>(dc), static_cast<const RECT*>(rect), static_cast<HBRUSH>(brush));
}

int NativeSetDIBits(void* dc, void* bitmap, uint32_t start, uint32_t lines, const void* bits,
                    const void* info, uint32_t usage) {
  return SetDIBits(static_cast<HDC>(dc), static_cast<HBITMAP>(bitmap), start, lines, bits,
                   static_cast<const BITMAPINFO*>(info), usage);
}

bool NativeGetBitmapBgra(void* bitmap, int32_t width, int32_t height, uint8_t* out) {
  HDC screen = CreateDCA("DISPLAY", nullptr, nullptr, nullptr);
  if (!screen) return false;
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // top-down
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  const int lines = GetDIBits(screen, static_cast<HBITMAP>(bitmap), 0, UINT(height), out, &info, DIB_RGB_COLORS);
  DeleteDC(screen);
  return lines == height;
}

uint32_t NativeGetPixel(void* dc, int32_t x, int32_t y) { return GetPixel(static_cast<HDC>(dc), x, y); }

void* NativeCreateIconFromResourceEx(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version,
                                     int cx, int cy, uint32_t flags) {
  // The image is only read; the call's PBYTE is not const.
  return CreateIconFromResourceEx(const_cast<PBYTE>(bits), size, fIcon, version, cx, cy, flags);
}

void* NativeCreateIconFromResource(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version) {
  return CreateIconFromResource(const_cast<PBYTE>(bits), size, fIcon, version);
}

bool NativeGetIconInfo(void* icon, int32_t* fIcon, uint32_t* xHotspot, uint32_t* yHotspot, void** mask,
                       void** colour) {
  ICONINFO info{};
  if (!GetIconInfo(static_cast<HICON>(icon), &info)) return false;
  *fIcon = info.fIcon;
  *xHotspot = info.xHotspot;
  *yHotspot = info.yHotspot;
  *mask = info.hbmMask;
  *colour = info.hbmColor;
  return true;
}

bool NativeDestroyIcon(void* icon) { return DestroyIcon(static_cast<HICON>(icon)) != 0; }

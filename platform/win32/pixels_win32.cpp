// Pixel store for Windows: platform/pixels.h on the system's GDI and USER
// calls (native_pixels.h; this file sees no <windows.h>). Bitmaps, DCs,
// brushes, pens and icons are the system's own; what this layer adds keeps
// the header's contract where plain GDI would differ:
//  - every handle is checked against the objects made here (and the stock
//    ones), so a stale or foreign handle is refused before GDI sees it;
//  - bitmaps are always made compatible with the display (a memory DC's
//    compatible bitmap would copy the format of the bitmap it holds, which
//    for a new DC is the 1 x 1 monochrome default);
//  - deleting a selected bitmap, brush or pen first puts the DC's default
//    back (GDI refuses to delete a selected object);
//  - a DC holding its default bitmap reads CLR_INVALID everywhere;
//  - DIBs are checked with DibDescribe against the sizes given, and
//    run-length streams are bounded by them, before GDI reads them.
#include <cstring>
#include <unordered_map>
#include <vector>

#include "platform/pixels.h"
#include "platform/win32/native_pixels.h"

NATIVE_CHECK_PIXEL_NUMBERS

namespace {

enum class Kind : uint8_t { Bitmap, Brush, Pen, Icon };

struct DCState {
  void* selected = nullptr;  // the bitmap made here that it holds, or nullptr
};

struct Store {
  std::unordered_map<void*, Kind> objects;  // made here and not yet deleted
  std::unordered_map<void*, DCState> dcs;
  std::unordered_map<void*, void*> selectedIn;  // bitmap -> the DC holding it
  void* stock[5] = {};                          // white, black, null brush; white, black pen
  void* defaultBitmap = nullptr;                // what a new memory DC holds (1 x 1 monochrome)
};

Store& S() {
  static Store* store = [] {
    auto* s = new Store();
    const int which[5] = {WHITE_BRUSH, BLACK_BRUSH, NULL_BRUSH, WHITE_PEN, BLACK_PEN};
    for (int i = 0; i < 5; ++i) s->stock[i] = NativeGetStockObject(which[i]);
    if (void* dc = NativeCreateCompatibleDC(nullptr)) {
      s->defaultBitmap = NativeGetCurrentObject(dc, OBJ_BITMAP);
      NativeDeleteDC(dc);
    }
    return s;
  }();
  return *store;
}

bool IsStock(void* h) {
  if (!h) return false;
  Store& s = S();
  for (void* st : s.stock)
    if (st == h) return true;
  return h == s.defaultBitmap;
}

void* H(GdiHandle h) { return static_cast<void*>(h); }
GdiHandle G(void* h) { return static_cast<GdiHandle>(h); }

// The object's kind when it is live here; stock objects answer theirs.
bool KindOf(GdiHandle h, Kind* kind) {
  void* p = H(h);
  if (!p) return false;
  Store& s = S();
  auto it = s.objects.find(p);
  if (it != s.objects.end()) {
    *kind = it->second;
    return true;
  }
  if (p == s.defaultBitmap) {
    *kind = Kind::Bitmap;
    return true;
  }
  for (int i = 0; i < 5; ++i)
    if (s.stock[i] == p) {
      *kind = i < 3 ? Kind::Brush : Kind::Pen;
      return true;
    }
  return false;
}

DCState* DC(GdiDC dc) {
  if (!dc) return nullptr;
  auto it = S().dcs.find(static_cast<void*>(dc));
  return it == S().dcs.end() ? nullptr : &it->second;
}
void* N(GdiDC dc) { return static_cast<void*>(dc); }

GdiHandle Track(void* h, Kind kind) {
  if (h) S().objects[h] = kind;
  return G(h);
}

GdiDC TrackDC(void* dc) {
  if (dc) S().dcs[dc] = DCState{};
  return static_cast<GdiDC>(dc);
}

void Forget(void* h) {
  Store& s = S();
  s.objects.erase(h);
  s.selectedIn.erase(h);
}

// Takes the bitmap out of the DC holding it, putting the DC's default back.
void Deselect(void* bitmap) {
  Store& s = S();
  auto it = s.selectedIn.find(bitmap);
  if (it == s.selectedIn.end()) return;
  NativeSelectObject(it->second, s.defaultBitmap);
  if (DCState* d = DC(static_cast<GdiDC>(it->second))) d->selected = nullptr;
  s.selectedIn.erase(it);
}

}  // namespace

// The display's depth is the system's: bitmaps take it when made. Setting a
// depth changes the display's mode only when it has to: true colour (24 or
// 32) is any depth of 24 bits or more, reached when needed by going back to
// the mode in the registry; 16 bits by a temporary full-screen change at the
// current size.
bool PixelStoreSetDisplayDepth(int bits) {
  if (bits != 16 && bits != 24 && bits != 32) return false;
  const int now = NativeDisplayBitsPerPixel();
  if (now == bits || (bits >= 24 && now >= 24)) return true;
  if (bits == 16) {
    NativeChangeDisplayDepth(16);
    return NativeDisplayBitsPerPixel() == 16;
  }
  NativeRestoreDisplayMode();
  return NativeDisplayBitsPerPixel() >= 24;
}

int PixelStoreDisplayDepth() { return NativeDisplayBitsPerPixel(); }

size_t PixelStoreLiveObjects() { return S().objects.size() + S().dcs.size(); }

GdiDC CreateDCA(const char* driver, const char* device, const char* port, const void* mode) {
  S();
  if (!driver || std::strcmp(driver, "DISPLAY") != 0) return nullptr;
  return TrackDC(NativeCreateDC(driver, device, port, mode));
}

GdiDC CreateCompatibleDC(GdiDC dc) {
  S();
  if (dc && !DC(dc)) return nullptr;
  return TrackDC(NativeCreateCompatibleDC(N(dc)));
}

bool DeleteDC(GdiDC dc) {
  DCState* d = DC(dc);
  if (!d) return false;
  if (d->selected) S().selectedIn.erase(d->selected);
  S().dcs.erase(N(dc));
  return NativeDeleteDC(N(dc));
}

GdiHandle CreateCompatibleBitmap(GdiDC dc, int32_t width, int32_t height) {
  if (dc && !DC(dc)) return nullptr;
  if (width < 1 || height < 1 || width > PixelStoreMaxSide || height > PixelStoreMaxSide) return nullptr;
  // Compatible with the display whatever dc is (see the top of the file).
  void* screen = NativeCreateDC("DISPLAY", nullptr, nullptr, nullptr);
  if (!screen) return nullptr;
  void* bitmap = NativeCreateCompatibleBitmap(screen, width, height);
  NativeDeleteDC(screen);
  return Track(bitmap, Kind::Bitmap);
}

GdiHandle CreateSolidBrush(COLORREF colour) { return Track(NativeCreateSolidBrush(colour & 0xFFFFFF), Kind::Brush); }

GdiHandle CreatePen(int style, int width, COLORREF colour) {
  if (style < 0 || style > 6 || width < 0) return nullptr;  // PS_SOLID .. PS_INSIDEFRAME
  return Track(NativeCreatePen(style, width, colour & 0xFFFFFF), Kind::Pen);
}

GdiHandle GetStockObject(int which) {
  S();
  switch (which) {
    case WHITE_BRUSH:
    case BLACK_BRUSH:
    case NULL_BRUSH:
    case WHITE_PEN:
    case BLACK_PEN: return G(NativeGetStockObject(which));
    default: return nullptr;
  }
}

uint32_t GetObjectType(GdiHandle object) {
  Kind kind;
  if (!KindOf(object, &kind) || kind == Kind::Icon) return 0;  // icons are no drawing objects
  return NativeGetObjectType(H(object));
}

int GetObjectA(GdiHandle object, int size, void* out) {
  Kind kind;
  if (!KindOf(object, &kind) || kind != Kind::Bitmap || !out || size < int(sizeof(BITMAP))) return 0;
  return NativeGetObject(H(object), int(sizeof(BITMAP)), out);
}

bool DeleteObject(GdiHandle object) {
  Kind kind;
  if (!KindOf(object, &kind) || kind == Kind::Icon) return false;
  void* p = H(object);
  if (IsStock(p)) return true;
  Store& s = S();
  if (kind == Kind::Bitmap) Deselect(p);
  // A brush or pen still selected somewhere gives way to the DC's default.
  for (auto& [dc, state] : s.dcs) {
    if (kind == Kind::Brush && NativeGetCurrentObject(dc, OBJ_BRUSH) == p)
      NativeSelectObject(dc, s.stock[0]);
    if (kind == Kind::Pen && NativeGetCurrentObject(dc, OBJ_PEN) == p) NativeSelectObject(dc, s.stock[4]);
  }
  Forget(p);
  return NativeDeleteObject(p);
}

GdiHandle SelectObject(GdiDC dc, GdiHandle object) {
  DCState* d = DC(dc);
  Kind kind;
  if (!d || !KindOf(object, &kind) || kind == Kind::Icon) return nullptr;
  void* p = H(object);
  Store& s = S();
  if (kind == Kind::Bitmap && p != s.defaultBitmap) {
    auto it = s.selectedIn.find(p);
    if (it != s.selectedIn.end() && it->second != N(dc)) return nullptr;  // one DC at a time
  }
  void* previous = NativeSelectObject(N(dc), p);
  if (!previous) return nullptr;
  if (kind == Kind::Bitmap) {
    if (d->selected) s.selectedIn.erase(d->selected);
    d->selected = p == s.defaultBitmap ? nullptr : p;
    if (d->selected) s.selectedIn[p] = N(dc);
  }
  return G(previous);
}

GdiHandle GetCurrentObject(GdiDC dc, uint32_t type) {
  if (!DC(dc) || (type != OBJ_BITMAP && type != OBJ_BRUSH && type != OBJ_PEN)) return nullptr;
  return G(NativeGetCurrentObject(N(dc), type));
}

uint32_t SetTextAlign(GdiDC dc, uint32_t align) {
  return DC(dc) ? NativeSetTextAlign(N(dc), align) : 0xFFFFFFFFu;
}

uint32_t GetTextAlign(GdiDC dc) { return DC(dc) ? NativeGetTextAlign(N(dc)) : 0xFFFFFFFFu; }

COLORREF SetTextColor(GdiDC dc, COLORREF colour) {
  return DC(dc) ? NativeSetTextColor(N(dc), colour & 0xFFFFFF) : CLR_INVALID;
}

COLORREF GetTextColor(GdiDC dc) { return DC(dc) ? NativeGetTextColor(N(dc)) : CLR_INVALID; }

int FillRect(GdiDC dc, const RECT* rect, GdiHandle brush) {
  Kind kind;
  if (!DC(dc) || !rect || !KindOf(brush, &kind) || kind != Kind::Brush) return 0;
  return NativeFillRect(N(dc), rect, H(brush));
}

int SetDIBits(GdiDC dc, GdiHandle bitmap, uint32_t start, uint32_t lines, const void* bits,
              size_t bitsSize, const void* info, size_t infoSize, uint32_t usage) {
  if (dc && !DC(dc)) return 0;
  Kind kind;
  if (!KindOf(bitmap, &kind) || kind != Kind::Bitmap || IsStock(H(bitmap)) || usage != DIB_RGB_COLORS || !bits)
    return 0;
  DibLayout dib;
  if (!DibDescribe(info, infoSize, &dib)) return 0;
  if (start >= uint32_t(dib.height)) return 0;
  if (lines > uint32_t(dib.height) - start) lines = uint32_t(dib.height) - start;
  if (lines == 0) return 0;
  // GDI reads the header and table as a BITMAPINFO: an aligned copy of
  // exactly what DibDescribe checked.
  std::vector<uint8_t> header(static_cast<size_t>(dib.tableEnd));
  std::memcpy(header.data(), info, header.size());
  if (dib.runLength) {
    // GDI reads biSizeImage bytes of a run-length stream: never more than given.
    const uint32_t declared = dib.header.biSizeImage;
    const uint32_t limit = bitsSize > 0xFFFFFFFFu ? 0xFFFFFFFFu : uint32_t(bitsSize);
    const uint32_t size = declared && declared < limit ? declared : limit;
    std::memcpy(header.data() + 20, &size, 4);  // biSizeImage
  } else if (uint64_t(lines) * dib.stride > bitsSize) {
    return 0;
  }
  return NativeSetDIBits(N(dc), H(bitmap), start, lines, bits, header.data(), usage);
}

COLORREF GetPixel(GdiDC dc, int32_t x, int32_t y) {
  DCState* d = DC(dc);
  if (!d || !d->selected) return CLR_INVALID;  // no bitmap of ours selected
  return NativeGetPixel(N(dc), x, y);
}

GdiHandle CreateIconFromResourceEx(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version, int cx,
                                   int cy, uint32_t flags) {
  S();
  if (!bits || !fIcon || version != 0x30000) return nullptr;
  static const uint8_t png[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  if (!(size >= 8 && std::memcmp(bits, png, 8) == 0)) {
    // A DIB image: its header, table and colour rows must lie within size
    // before the system reads them.
    DibLayout dib;
    if (!DibDescribe(bits, size, &dib) || dib.topDown || dib.runLength || dib.height / 2 < 1) return nullptr;
    if (dib.tableEnd + dib.stride * uint64_t(dib.height / 2) > size) return nullptr;
  }
  return Track(NativeCreateIconFromResourceEx(bits, size, fIcon, version, cx, cy, flags), Kind::Icon);
}

GdiHandle CreateIconFromResource(const uint8_t* bits, uint32_t size, int fIcon, uint32_t version) {
  return CreateIconFromResourceEx(bits, size, fIcon, version, 0, 0, 0);
}

bool GetIconInfo(GdiHandle icon, ICONINFO* info) {
  Kind kind;
  if (!KindOf(icon, &kind) || kind != Kind::Icon || !info) return false;
  void *mask = nullptr, *colour = nullptr;
  int32_t isIcon = 0;
  uint32_t x = 0, y = 0;
  if (!NativeGetIconInfo(H(icon), &isIcon, &x, &y, &mask, &colour)) return false;
  info->fIcon = isIcon;
  info->xHotspot = x;
  info->yHotspot = y;
  info->hbmMask = Track(mask, Kind::Bitmap);
  info->hbmColor = Track(colour, Kind::Bitmap);
  return true;
}

bool DestroyIcon(GdiHandle icon) {
  Kind kind;
  if (!KindOf(icon, &kind) || kind != Kind::Icon) return false;
  Forget(H(icon));
  return NativeDestroyIcon(H(icon));
}

// Alpha read from the icon's colour bitmap (GetIconInfo, then GetDIBits at
// 32 bits): 255 when that bitmap has fewer than 32 bits or no alpha at all.
int IconAlphaAt(GdiHandle icon, int32_t x, int32_t y) {
  ICONINFO info{};
  if (!GetIconInfo(icon, &info)) return -1;
  int alpha = -1;
  BITMAP bm{};
  if (info.hbmColor && GetObjectA(info.hbmColor, sizeof bm, &bm) == int(sizeof bm) && x >= 0 && y >= 0 &&
      x < bm.bmWidth && y < bm.bmHeight) {
    alpha = 255;
    if (bm.bmBitsPixel == 32) {
      std::vector<uint8_t> bgra(size_t(bm.bmWidth) * size_t(bm.bmHeight) * 4);
      if (NativeGetBitmapBgra(H(info.hbmColor), bm.bmWidth, bm.bmHeight, bgra.data())) {
        bool any = false;
        for (size_t i = 3; i < bgra.size() && !any; i += 4) any = bgra[i] != 0;
        if (any) alpha = bgra[(size_t(y) * size_t(bm.bmWidth) + size_t(x)) * 4 + 3];
      }
    }
  }
  if (info.hbmMask) DeleteObject(info.hbmMask);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  return alpha;
}

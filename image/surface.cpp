// Drawing surface: a device context with the default brush and pen selected,
// through which the texture builder reads an image's pixels one at a time.
#include "image/surface.h"

#include "image/image.h"

GdiHandle DefaultBrush = nullptr;
GdiHandle DefaultPen = nullptr;

namespace {

DrawingTarget ImageTarget{};

// Surface state: the open DC (nullptr when closed), the target's release
// routine, and the brush and pen the DC held before.
GdiDC SurfaceDC = nullptr;
void (*SurfaceRelease)() = nullptr;
GdiHandle KeptBrush = nullptr;
GdiHandle KeptPen = nullptr;

}  // namespace

void CreateDrawingDefaults() {
  DefaultBrush = CreateSolidBrush(0);
  DefaultPen = CreatePen(PS_SOLID, 0, 0);
}

DrawingTarget* ImageDrawingTarget() {
  GdiDC dc = OpenImageDC();
  if (!dc) return nullptr;
  ImageTarget.kind = DrawingTargetImage;
  ImageTarget.dc = ImageDC;
  ImageTarget.release = CloseImageDC;
  return &ImageTarget;
}

void* OpenDrawingSurface(DrawingTarget* target) {
  CloseDrawingSurface();
  if (!target) return SurfaceDC;
  SurfaceRelease = target->release;
  SurfaceDC = target->dc;
  if (SurfaceDC) {
    SetTextAlign(SurfaceDC, TA_UPDATECP);
    KeptBrush = SelectObject(SurfaceDC, DefaultBrush);
    KeptPen = SelectObject(SurfaceDC, DefaultPen);
    SetTextColor(SurfaceDC, 0);
  }
  return SurfaceDC;
}

void CloseDrawingSurface() {
  if (!SurfaceDC) return;
  if (KeptBrush) SelectObject(SurfaceDC, KeptBrush);
  if (KeptPen) SelectObject(SurfaceDC, KeptPen);
  KeptBrush = nullptr;
  KeptPen = nullptr;
  if (SurfaceRelease) SurfaceRelease();
  SurfaceDC = nullptr;
  SurfaceRelease = nullptr;
}

int32_t ReadPixel(int32_t x, int32_t y) {
  if (!SurfaceDC) return -1;
  return int32_t(GetPixel(SurfaceDC, x, y));
}

uint8_t ExtractRed(int32_t colour) { return uint8_t(uint32_t(colour) & 255u); }
uint8_t ExtractGreen(int32_t colour) { return uint8_t((uint32_t(colour) >> 8) & 255u); }
uint8_t ExtractBlue(int32_t colour) { return uint8_t((uint32_t(colour) >> 16) & 255u); }

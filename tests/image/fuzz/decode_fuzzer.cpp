// libFuzzer target: any bytes through DecodeImageFromMemory, then a full
// read-back through a drawing surface and a release, as the texture builder
// does. Two bytes of the input's length pick the display depth and whether
// the image is numbered or anonymous, so both paths are exercised.
#include <cstddef>
#include <cstdint>

#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"
#include "platform/pixels.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool ready = [] {
    // Keep each input's memory and time small: 1,024 pixels a side at most.
    ImageSideLimit = 1024;
    CreateDrawingDefaults();
    ResetImageDecoders();
    InitImageRegistry(nullptr);
    RegisterJpegDecoder();
    return true;
  }();
  (void)ready;
  static const int depths[3] = {16, 24, 32};
  PixelStoreSetDisplayDepth(depths[size % 3]);
  const intptr_t number = (size % 2) ? 1 : -1;
  const uintptr_t result = DecodeImageFromMemory(number, data, size);
  if (result) {
    const intptr_t named = number == -1 ? intptr_t(result) : number;
    const ImageRecord* record = LookupImage(named);
    if (record && record->handle) {
      OpenDrawingSurface(ImageDrawingTarget());
      uint32_t sum = 0;
      for (int32_t y = -1; y <= record->height; ++y)
        for (int32_t x = -1; x <= record->width; ++x) sum += uint32_t(ReadPixel(x, y));
      CloseDrawingSurface();
      (void)sum;
    }
    ReleaseImage(named);
  }
  return 0;
}

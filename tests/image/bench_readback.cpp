// Times the texture builder's image path: decode a 256 x 256 JPEG into
// image 1, read its 65,536 pixels one by one through a drawing surface,
// release it. Prints numbers only (not a test). Usage: image_readback_bench [file.jpg] [rounds]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <vector>

#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"

int main(int argc, char** argv) {
  const char* path = argc > 1 ? argv[1] : ZEPHYRA_IMAGE_TEST_DATA "/colour.jpg";
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 64;
  std::ifstream in(path, std::ios::binary);
  const std::vector<uint8_t> jpeg((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  CreateDrawingDefaults();
  ResetImageDecoders();
  InitImageRegistry(nullptr);
  RegisterJpegDecoder();
  std::vector<uint8_t> staging(256 * 256 * 3);
  for (int depth : {32, 16}) {
    PixelStoreSetDisplayDepth(depth);
    double decode = 0, read = 0;
    for (int r = 0; r < rounds; ++r) {
      const auto t0 = std::chrono::steady_clock::now();
      DecodeImageFromMemory(1, jpeg.data(), jpeg.size());
      const auto t1 = std::chrono::steady_clock::now();
      OpenDrawingSurface(ImageDrawingTarget());
      size_t w = 0;
      for (int y = 0; y < 256; ++y)
        for (int x = 0; x < 256; ++x) {
          const int32_t c = ReadPixel(x, y);
          staging[w++] = ExtractRed(c);
          staging[w++] = ExtractGreen(c);
          staging[w++] = ExtractBlue(c);
        }
      CloseDrawingSurface();
      ReleaseImage(1);
      const auto t2 = std::chrono::steady_clock::now();
      decode += std::chrono::duration<double, std::milli>(t1 - t0).count();
      read += std::chrono::duration<double, std::milli>(t2 - t1).count();
    }
    std::printf("depth %2d: decode %.3f ms, read-back of 65,536 pixels %.3f ms, per image %.3f ms (%d rounds, %zu bytes)\n",
                depth, decode / rounds, read / rounds, (decode + read) / rounds, rounds, jpeg.size());
  }
  return 0;
}

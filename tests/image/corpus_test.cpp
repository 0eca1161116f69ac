// Every file of the fuzzer's seed corpus (and any crash reproducer added to
// it) goes once through DecodeImageFromMemory and a full read-back, at each
// display depth. The seeds are known: most must make an image.
#include "image_test_util.h"

#include <algorithm>
#include <filesystem>

using namespace imagetest;

namespace {

class CorpusTest : public ImageFixture {};

TEST_F(CorpusTest, EveryCorpusFileDecodesWithoutFault) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(ZEPHYRA_IMAGE_FUZZ_CORPUS))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 20u);
  int made = 0;
  for (int depth : {16, 32}) {
    PixelStoreSetDisplayDepth(depth);
    for (const auto& path : files) {
      SCOPED_TRACE(path.filename().string());
      const Bytes data = ReadFile(path.string());
      // An exact-size copy, so that a read past the end is a read past the block.
      std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size() ? data.size() : 1]);
      std::copy(data.begin(), data.end(), exact.get());
      const bool decoded = DecodeImageFromMemory(1, exact.get(), data.size()) != 0;
      if (!decoded) std::printf("declined at depth %d: %s\n", depth, path.filename().string().c_str());
      if (decoded) {
        ++made;
        const ImageRecord* r = LookupImage(1);
        const Picture p = ReadBack(r->width, r->height);
        EXPECT_EQ(p.pixels.size(), size_t(r->width) * size_t(r->height));
      }
      ReleaseImage(1);
    }
  }
  // cmyk.jpg and cursor.cur are declined; the rest make images.
  EXPECT_GE(made, int(files.size() - 2) * 2);
}

}  // namespace

// Every file of the deflate fuzzer's seed corpus (and any reproducer added
// to it) goes once through the coder and back through zlib's inflate.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <memory>
#include <iterator>
#include <vector>

#include "tests/capture/fuzz/deflate_round_trip.h"

TEST(RunDeflateCorpus, EveryCorpusFileInflatesBackExactly) {
  std::vector<std::filesystem::path> files;
  for (const auto& entry : std::filesystem::directory_iterator(ZEPHYRA_DEFLATE_FUZZ_CORPUS))
    if (entry.is_regular_file()) files.push_back(entry.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 12u);
  int kinds[3] = {};
  for (const auto& path : files) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (!data.empty()) ++kinds[data[0] % 3];
    // An exact-size copy, so that a read past the end is a read past the block.
    std::unique_ptr<uint8_t[]> exact(new uint8_t[data.size() ? data.size() : 1]);
    std::copy(data.begin(), data.end(), exact.get());
    EXPECT_EQ(DeflateRoundTrip(exact.get(), data.size()), "") << path.filename();
  }
  // Seeds of every kind of frame: raw bytes, runs, filtered pictures.
  EXPECT_GT(kinds[0], 0);
  EXPECT_GT(kinds[1], 0);
  EXPECT_GT(kinds[2], 0);
}

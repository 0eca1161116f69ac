// libFuzzer target: the run-and-literal deflate coder on random and
// structured frames (see deflate_round_trip.h); zlib's inflate must give
// every frame back exactly.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#include "tests/capture/fuzz/deflate_round_trip.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string failure = DeflateRoundTrip(data, size);
  if (!failure.empty()) {
    std::fprintf(stderr, "run_deflate_fuzzer: %s\n", failure.c_str());
    std::abort();
  }
  return 0;
}

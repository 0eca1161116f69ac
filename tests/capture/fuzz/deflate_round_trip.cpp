// The run-and-literal coder against zlib's inflate, on one input.
#include "tests/capture/fuzz/deflate_round_trip.h"

#include <zlib.h>

#include <algorithm>
#include <vector>

#include "capture/run_deflate.h"

namespace {

std::vector<uint8_t> Runs(const uint8_t* data, size_t size) {
  std::vector<uint8_t> frame;
  for (size_t i = 0; i + 1 < size && frame.size() < (1u << 20); i += 2)
    frame.insert(frame.end(), 1 + static_cast<size_t>(data[i + 1]) * 4, data[i]);
  return frame;
}

// A picture of up to 64 pixels a side (RGB) whose odd rows repeat the row
// above, filtered as the PNG writer does: per row the Up filter's type byte,
// then each byte less the one above it.
std::vector<uint8_t> FilteredPicture(const uint8_t* data, size_t size) {
  if (size < 2) return {};
  const int32_t width = 1 + data[0] % 64, height = 1 + data[1] % 64;
  data += 2;
  size -= 2;
  const size_t rowBytes = static_cast<size_t>(width) * 3;
  std::vector<uint8_t> rgb(rowBytes * height);
  for (size_t i = 0; i < rgb.size(); ++i) {
    const size_t source = (i / rowBytes) % 2 ? i - rowBytes : i;
    rgb[i] = size ? data[source % size] : 0;
  }
  std::vector<uint8_t> filtered;
  for (int32_t y = 0; y < height; ++y) {
    filtered.push_back(2);  // Up
    for (size_t x = 0; x < rowBytes; ++x) {
      const uint8_t above = y ? rgb[(y - 1) * rowBytes + x] : 0;
      filtered.push_back(static_cast<uint8_t>(rgb[y * rowBytes + x] - above));
    }
  }
  return filtered;
}

}  // namespace

std::string DeflateRoundTrip(const uint8_t* data, size_t size) {
  std::vector<uint8_t> frame;
  const uint8_t kind = size ? data[0] % 3 : 0;
  const uint8_t* rest = size ? data + 1 : data;
  const size_t restSize = size ? size - 1 : 0;
  if (kind == 0) frame.assign(rest, rest + restSize);
  if (kind == 1) frame = Runs(rest, restSize);
  if (kind == 2) frame = FilteredPicture(rest, restSize);
  const size_t bound = RunDeflateBound(frame.size());
  std::vector<uint8_t> stream(bound);
  const size_t coded = RunDeflateZlib(frame.data(), frame.size(), stream.data(), stream.size());
  if (coded == 0 || coded > bound) return "the coder gave no stream within its bound";
  std::vector<uint8_t> back(frame.size() + 1);
  uLongf backSize = static_cast<uLongf>(back.size());
  if (uncompress(back.data(), &backSize, stream.data(), static_cast<uLong>(coded)) != Z_OK)
    return "zlib cannot inflate the stream";
  if (backSize != frame.size() || !std::equal(frame.begin(), frame.end(), back.begin()))
    return "zlib inflates the stream to other bytes";
  if (RunDeflateZlib(frame.data(), frame.size(), stream.data(), bound - 1) != 0)
    return "the coder wrote into less room than its bound";
  return "";
}

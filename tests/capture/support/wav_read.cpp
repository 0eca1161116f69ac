// A PCM WAV file read back whole.
#include "tests/capture/support/wav_read.h"

#include <cstring>
#include <fstream>
#include <iterator>

namespace {

uint32_t Get16(const uint8_t* p) { return p[0] | (p[1] << 8); }
uint32_t Get32(const uint8_t* p) { return Get16(p) | (Get16(p + 2) << 16); }

}  // namespace

bool WavRead(const std::string& path, WavData* out, std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = "cannot open " + path;
    return false;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* p = reinterpret_cast<const uint8_t*>(bytes.data());
  if (bytes.size() < 12 || std::memcmp(p, "RIFF", 4) != 0 || std::memcmp(p + 8, "WAVE", 4) != 0) {
    *error = "not a RIFF WAVE file";
    return false;
  }
  bool haveFormat = false;
  size_t at = 12;
  while (at + 8 <= bytes.size()) {
    const uint32_t size = Get32(p + at + 4);
    const size_t body = at + 8;
    if (size > bytes.size() - body) {
      *error = "chunk runs past the end of the file";
      return false;
    }
    if (std::memcmp(p + at, "fmt ", 4) == 0 && size >= 16) {
      if (Get16(p + body) != 1) {
        *error = "not PCM";
        return false;
      }
      out->channels = static_cast<uint16_t>(Get16(p + body + 2));
      out->sampleRate = Get32(p + body + 4);
      out->bitsPerSample = static_cast<uint16_t>(Get16(p + body + 14));
      haveFormat = true;
    } else if (std::memcmp(p + at, "data", 4) == 0) {
      if (!haveFormat) {
        *error = "data chunk before format chunk";
        return false;
      }
      out->pcm.assign(bytes, body, size);
      return true;
    }
    at = body + size + (size & 1);
  }
  *error = "no data chunk";
  return false;
}

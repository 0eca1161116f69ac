// Streaming writer of 16-bit stereo PCM WAV files.
#include "capture/wav_writer.h"

#include <cstring>

namespace {

void Put16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, v & 0xFFFF);
  Put16(p + 2, v >> 16);
}

// The 44-byte canonical header: RIFF, "fmt " (PCM, 2 channels, 16 bits), "data".
void FillHeader(uint8_t* h, uint32_t sampleRate, uint32_t dataBytes) {
  std::memcpy(h, "RIFF", 4);
  Put32(h + 4, 36 + dataBytes);
  std::memcpy(h + 8, "WAVEfmt ", 8);
  Put32(h + 16, 16);
  Put16(h + 20, 1);                // PCM
  Put16(h + 22, 2);                // channels
  Put32(h + 24, sampleRate);
  Put32(h + 28, sampleRate * 4);   // bytes per second
  Put16(h + 32, 4);                // bytes per frame
  Put16(h + 34, 16);               // bits per sample
  std::memcpy(h + 36, "data", 4);
  Put32(h + 40, dataBytes);
}

constexpr uint64_t kMaxDataBytes = 0xFFFFFFFFull - 36;

}  // namespace

bool WavOpen(WavWriter* w, const std::string& path, uint32_t sampleRate) {
  *w = WavWriter{};
  w->file = std::fopen(path.c_str(), "wb");
  if (!w->file) return false;
  w->sampleRate = sampleRate;
  uint8_t header[44];
  FillHeader(header, sampleRate, 0);
  if (std::fwrite(header, 1, sizeof header, w->file) != sizeof header) w->failed = true;
  return true;
}

bool WavWrite(WavWriter* w, const void* frames, uint32_t count) {
  if (!w->file || w->failed) return false;
  const size_t bytes = static_cast<size_t>(count) * 4;
  if (w->dataBytes + bytes > kMaxDataBytes || std::fwrite(frames, 1, bytes, w->file) != bytes) {
    w->failed = true;
    return false;
  }
  w->dataBytes += bytes;
  return true;
}

bool WavClose(WavWriter* w) {
  if (!w->file) return false;
  bool ok = !w->failed;
  uint8_t header[44];
  FillHeader(header, w->sampleRate, static_cast<uint32_t>(w->dataBytes));
  if (std::fseek(w->file, 0, SEEK_SET) != 0 || std::fwrite(header, 1, sizeof header, w->file) != sizeof header)
    ok = false;
  if (std::fclose(w->file) != 0) ok = false;
  w->file = nullptr;
  return ok;
}

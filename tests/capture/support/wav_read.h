// Reading WAV files back for the capture's tests.
#pragma once
#include <cstdint>
#include <string>

// A WAV file read back whole (the tests check captures with it).
struct WavData {
  uint32_t sampleRate = 0;
  uint16_t channels = 0;
  uint16_t bitsPerSample = 0;
  std::string pcm;  // the data chunk's bytes
};
// Reads a PCM WAV file; false with a reason in *error when it is not one.
bool WavRead(const std::string& path, WavData* out, std::string* error);

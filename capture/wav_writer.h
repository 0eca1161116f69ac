// Streaming writer of 16-bit stereo PCM WAV files.
#pragma once
#include <cstdint>
#include <cstdio>
#include <string>

struct WavWriter {
  FILE* file = nullptr;
  uint64_t dataBytes = 0;  // PCM bytes written so far
  uint32_t sampleRate = 0;
  bool failed = false;     // a write failed; Close reports it
};

// Creates `path` and writes a header with sizes to be patched by WavClose.
// False when the file cannot be created.
bool WavOpen(WavWriter* w, const std::string& path, uint32_t sampleRate);
// Appends `frames` stereo frames (4 bytes each, little-endian S16).
bool WavWrite(WavWriter* w, const void* frames, uint32_t count);
// Patches the RIFF and data sizes and closes. False when any write failed or
// the data passed the 4 GiB limit of the format.
bool WavClose(WavWriter* w);

// Streaming writer of 16-bit stereo PCM WAV files: libavformat's WAV muxer,
// which writes the canonical 44-byte header and patches its sizes at the end.
#pragma once
#include <cstdint>
#include <string>

struct AVFormatContext;
struct AVPacket;

struct WavWriter {
  AVFormatContext* file = nullptr;  // null when not open
  AVPacket* packet = nullptr;
  uint64_t dataBytes = 0;  // PCM bytes written so far
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

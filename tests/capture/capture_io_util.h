// What the capture's unit tests share: a scratch folder removed at the end,
// the options parser on a list of arguments, numbered frames for the writer.
#pragma once
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "capture/capture_options.h"
#include "capture/frame_writer.h"
#include "capture/png_io.h"

// The calling thread's scheduler slice in nanoseconds as the kernel reports
// it (its default when none was asked for), or 0 when it reports none.
uint64_t OwnSliceNs();

// This test program's scratch folder (removed when the tests end).
std::string TempDir();

inline bool Parse(std::vector<const char*> args, CaptureOptions* o, std::string* error) {
  args.insert(args.begin(), "zephyra-capture");
  return ParseCaptureOptions(static_cast<int>(args.size()), args.data(), o, error);
}

// Hands frames 0 .. count-1 to the writer, each buffer's first byte holding
// its frame number (mod 256) so the write callback can tell a reused buffer.
inline void SubmitNumberedFrames(FrameWriter* w, int64_t count) {
  for (int64_t k = 0; k < count; ++k) {
    FrameBuffer* b = FrameWriterAcquire(w);
    ASSERT_NE(b, nullptr) << "frame " << k;
    b->frame = k;
    b->data[0] = static_cast<uint8_t>(k);
    FrameWriterSubmit(w, b);
  }
}

inline std::vector<uint8_t> Bytes(const ByteBuffer& b) { return std::vector<uint8_t>(b.begin(), b.end()); }

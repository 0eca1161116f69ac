// Writer threads for captured frames: the main thread reads pixels back and
// hands the buffer over; a writer encodes it (PNG or the video) while
// the next frame is rendered. With one writer, frames are written in the
// order submitted (the video needs that); with more, in any order
// (each PNG is its own file). A fixed pool of buffers bounds the memory and
// makes the renderer wait when the writer falls behind.
#pragma once
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One frame's pixels, as glReadPixels returns them.
struct FrameBuffer {
  int64_t frame = 0;          // frame number in the capture
  std::vector<uint8_t> data;  // width * height * 4 RGBA bytes, bottom row first
  bool repeat = false;        // equal to the frame before (set with findRepeats)
};

// Writes one frame; returns false with a reason in *error to stop the capture.
using FrameSink = std::function<bool(const FrameBuffer&, std::string* error)>;

struct FrameWriter {
  std::mutex lock;
  std::condition_variable changed;
  std::vector<FrameBuffer*> freeBuffers;  // ready for the renderer
  std::vector<FrameBuffer*> pending;      // waiting for the writer, oldest first
  std::vector<FrameBuffer> storage;
  FrameSink sink;
  std::vector<std::thread> workers;
  bool stopping = false;
  bool failed = false;
  std::string error;       // the first failure
  double busySeconds = 0;  // time spent inside the sink (encode + write), all writers
  double cpuSeconds = 0;   // CPU time of the writer threads (user + system), added as each ends
  int niceness = 0;        // added by each writer thread to its own nice value
  // Set before FrameWriterStart, for one writer: each frame is compared with
  // the one before, kept by trading vectors with the buffer once written
  // (the renderer overwrites all of a buffer, so no copy is needed).
  bool findRepeats = false;
  std::vector<uint8_t> last;  // the last frame given to the sink
  bool haveLast = false;
  int64_t repeatedFrames = 0;  // frames given to the sink as repeats
};

// Starts `threads` writers (1 or more) with `buffers` buffers of `bytes`
// bytes each. The sink may run on several threads at once when threads > 1.
// Each writer first lowers its own priority by `niceness`, so that it runs in the time the renderer leaves
// and does not delay the renderer's threads.
void FrameWriterStart(FrameWriter* w, size_t buffers, size_t bytes, FrameSink sink, int threads = 1,
                      int niceness = 0);
// A free buffer for the next frame; waits while all are queued. nullptr once
// the writer has failed.
FrameBuffer* FrameWriterAcquire(FrameWriter* w);
// Queues a filled buffer for writing, in order.
void FrameWriterSubmit(FrameWriter* w, FrameBuffer* buffer);
// Writes everything still queued, stops the thread. False when any write
// failed; the first reason is in *error.
bool FrameWriterFinish(FrameWriter* w, std::string* error);

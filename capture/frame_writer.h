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
};

// Writes one frame; returns false with a reason in *error to stop the capture.
// It may trade the buffer's data for another vector of the same size (the
// renderer overwrites all of it).
using FrameSink = std::function<bool(FrameBuffer&, std::string* error)>;

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
};

// Adds `niceness` (when > 0) to the calling thread's nice value, up to 19,
// and gives it the kernel's default scheduler slice again (see
// RequestShortSlice). Linux keeps a nice value and a slice per thread, and a
// thread's children inherit both. A failure leaves the priority as it was.
void LowerThreadPriority(int niceness);

// The renderer's scheduler slice: the shortest the kernel takes, 0.1 ms
// (its default is 0.7 ms times 1 + log2 of the CPU count, up to 4 times).
inline constexpr uint64_t RendererSliceNs = 100'000;

// Gives the calling thread, and every thread it starts afterwards (the GL
// driver's rasterisers), a scheduler slice of RendererSliceNs. On Linux
// 6.12 and later a waking thread with a shorter slice than the running one
// takes its core at once. Without that, a rasteriser that wakes on the core
// where a writer runs waits out the writer's slice (1.4 ms on two cores)
// even while the other core sits idle, and the frame waits for it. In four
// interleaved rounds of the whole demo at 640 x 480 on two cores, the time
// the cores stood idle fell from 5.4 to 4.0 s for PNG and from 4.6 to 3.0 s
// for video (medians; 3.3 and 3.1 s for the floor). Call it before the GL
// context is made. False when the kernel refused; kernels before 6.12
// accept the slice and ignore it.
bool RequestShortSlice();
// The calling thread's scheduler slice in nanoseconds as the kernel reports
// it (its default when none was asked for), or 0 when it reports none.
uint64_t OwnSliceNs();

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

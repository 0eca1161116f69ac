// A writer thread for captured frames.
#include "capture/frame_writer.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "capture/scheduler_tuning.h"

namespace {

void WriterLoop(FrameWriter* w) {
  LowerThreadPriority(w->niceness);
  std::unique_lock<std::mutex> guard(w->lock);
  for (;;) {
    w->changed.wait(guard, [w] { return !w->pending.empty() || w->stopping; });
    if (w->pending.empty()) {  // stopping and drained
      timespec cpu{};
      if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &cpu) == 0)
        w->cpuSeconds += static_cast<double>(cpu.tv_sec) + static_cast<double>(cpu.tv_nsec) * 1e-9;
      return;
    }
    FrameBuffer* buffer = w->pending.front();
    w->pending.erase(w->pending.begin());
    const bool skip = w->failed;  // after a failure frames are only recycled
    guard.unlock();
    std::string error;
    bool ok = true;
    const auto start = std::chrono::steady_clock::now();
    if (!skip) {
      buffer->repeat = w->findRepeats && w->haveLast && buffer->data == w->last;
      ok = w->sink(*buffer, &error);
      if (ok && w->findRepeats && !buffer->repeat) {
        buffer->data.swap(w->last);
        w->haveLast = true;
      }
    }
    const auto stop = std::chrono::steady_clock::now();
    guard.lock();
    w->repeatedFrames += !skip && ok && buffer->repeat ? 1 : 0;
    w->busySeconds += std::chrono::duration<double>(stop - start).count();
    if (!ok && !w->failed) {
      w->failed = true;
      w->error = error;
    }
    w->freeBuffers.push_back(buffer);
    w->changed.notify_all();
  }
}

}  // namespace

void FrameWriterStart(FrameWriter* w, size_t buffers, size_t bytes, FrameSink sink, int threads, int niceness) {
  w->niceness = niceness;
  w->findRepeats = w->findRepeats && threads <= 1;
  w->last.assign(w->findRepeats ? bytes : 0, 0);
  w->haveLast = false;
  w->storage.resize(buffers);
  for (FrameBuffer& b : w->storage) {
    b.data.resize(bytes);
    w->freeBuffers.push_back(&b);
  }
  w->sink = std::move(sink);
  for (int i = 0; i < std::max(1, threads); ++i) w->workers.emplace_back(WriterLoop, w);
}

FrameBuffer* FrameWriterAcquire(FrameWriter* w) {
  std::unique_lock<std::mutex> guard(w->lock);
  w->changed.wait(guard, [w] { return !w->freeBuffers.empty() || w->failed; });
  if (w->failed) return nullptr;
  FrameBuffer* b = w->freeBuffers.back();
  w->freeBuffers.pop_back();
  return b;
}

void FrameWriterSubmit(FrameWriter* w, FrameBuffer* buffer) {
  std::lock_guard<std::mutex> guard(w->lock);
  w->pending.push_back(buffer);
  w->changed.notify_all();
}

bool FrameWriterFinish(FrameWriter* w, std::string* error) {
  {
    std::lock_guard<std::mutex> guard(w->lock);
    w->stopping = true;
    w->changed.notify_all();
  }
  for (std::thread& t : w->workers) t.join();
  w->workers.clear();
  if (w->failed) *error = w->error;
  return !w->failed;
}

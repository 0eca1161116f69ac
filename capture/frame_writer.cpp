// A writer thread for captured frames.
#include "capture/frame_writer.h"

#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <ctime>
#include <cstring>

namespace {

// The kernel's sched_attr (include/uapi/linux/sched/types.h), which glibc
// does not declare. sched_runtime is the fair scheduler's slice for the
// thread (Linux 6.12 and later; older kernels ignore it for SCHED_OTHER).
struct SchedAttr {
  uint32_t size;
  uint32_t sched_policy;
  uint64_t sched_flags;
  int32_t sched_nice;
  uint32_t sched_priority;
  uint64_t sched_runtime;
  uint64_t sched_deadline;
  uint64_t sched_period;
};

// The calling thread's scheduling attributes as the kernel reports them.
bool ReadOwnAttr(SchedAttr* a) {
  std::memset(a, 0, sizeof *a);
  return syscall(SYS_sched_getattr, 0, a, sizeof *a, 0) == 0;
}

// Sets the calling thread's slice, keeping its policy and nice value
// (sched_setattr sets all of them, so they are read first). 0 asks for the
// kernel's default slice.
bool SetOwnSlice(uint64_t nanoseconds) {
  SchedAttr a;
  if (!ReadOwnAttr(&a)) return false;
  if (a.sched_policy != SCHED_OTHER && a.sched_policy != SCHED_BATCH) return false;
  a.size = sizeof a;
  a.sched_flags = 0;
  a.sched_runtime = nanoseconds;
  return syscall(SYS_sched_setattr, 0, &a, 0) == 0;
}

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
    if (!skip) ok = w->sink(*buffer, &error);
    const auto stop = std::chrono::steady_clock::now();
    guard.lock();
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

void LowerThreadPriority(int niceness) {
  if (niceness > 0) {
    const auto self = static_cast<id_t>(gettid());
    errno = 0;
    const int current = getpriority(PRIO_PROCESS, self);
    if (errno == 0) setpriority(PRIO_PROCESS, self, std::min(current + niceness, 19));
  }
  // The thread was started by the renderer and inherited its short slice.
  // With it, a writer would wake up as eager to run as a rasteriser.
  SetOwnSlice(0);
}

bool RequestShortSlice() { return SetOwnSlice(RendererSliceNs); }

uint64_t OwnSliceNs() {
  SchedAttr a;
  return ReadOwnAttr(&a) ? a.sched_runtime : 0;
}

void FrameWriterStart(FrameWriter* w, size_t buffers, size_t bytes, FrameSink sink, int threads, int niceness) {
  w->niceness = niceness;
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

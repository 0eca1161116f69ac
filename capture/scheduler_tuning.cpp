// Machine-specific tuning: the threads' scheduler slices and nice values.
#include "capture/scheduler_tuning.h"

#include <sched.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

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

// Sets the calling thread's slice, keeping its policy and nice value
// (sched_setattr sets all of them, so they are read first). 0 asks for the
// kernel's default slice.
bool SetOwnSlice(uint64_t nanoseconds) {
  SchedAttr a{};
  if (syscall(SYS_sched_getattr, 0, &a, sizeof a, 0) != 0) return false;
  if (a.sched_policy != SCHED_OTHER && a.sched_policy != SCHED_BATCH) return false;
  a.size = sizeof a;
  a.sched_flags = 0;
  a.sched_runtime = nanoseconds;
  return syscall(SYS_sched_setattr, 0, &a, 0) == 0;
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


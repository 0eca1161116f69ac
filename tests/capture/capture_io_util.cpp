// The capture unit tests' scratch folder, and the scheduler slice read back.
#include "tests/capture/capture_io_util.h"

#include <sys/syscall.h>
#include <unistd.h>

#include <filesystem>

uint64_t OwnSliceNs() {
  // The kernel's sched_attr, which glibc does not declare; sched_runtime is
  // the fair scheduler's slice (Linux 6.12 and later).
  struct {
    uint32_t size, sched_policy;
    uint64_t sched_flags;
    int32_t sched_nice;
    uint32_t sched_priority;
    uint64_t sched_runtime, sched_deadline, sched_period;
  } a{};
  return syscall(SYS_sched_getattr, 0, &a, sizeof a, 0) == 0 ? a.sched_runtime : 0;
}

std::string TempDir() {
  static const std::string dir = [] {
    std::string d = std::filesystem::temp_directory_path().string() + "/capture_io_test_" + std::to_string(getpid());
    std::filesystem::create_directories(d);
    return d;
  }();
  return dir;
}

namespace {

struct TempCleanup : ::testing::Environment {
  void TearDown() override { std::filesystem::remove_all(TempDir()); }
};
const auto* const RegisteredCleanup = ::testing::AddGlobalTestEnvironment(new TempCleanup);

}  // namespace

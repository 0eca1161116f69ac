// The capture unit tests' scratch folder.
#include "tests/capture/capture_io_util.h"

#include <unistd.h>

#include <filesystem>

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

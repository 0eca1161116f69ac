// Library loading by "./name": the current directory first, then the folder
// of the running executable (an unpacked release started from elsewhere).
#include "platform/dynlib.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <filesystem>
#include <fstream>
#include <string>

namespace {

class DynLib : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/zephyra-dynlib-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous), 0);
    std::filesystem::remove_all(dir);
  }
  std::string dir;
  char previous[PATH_MAX] = {};
};

using ProbeFn = int (*)();

// The probe library is built beside this test's executable, never in the
// empty working directory, so it is found only through the fallback.
TEST_F(DynLib, DotSlashNameFallsBackToTheExecutablesFolder) {
  ModuleHandle lib = PlatformLoadLibrary("./dynlib_probe.so");
  ASSERT_NE(lib, nullptr);
  auto answer = reinterpret_cast<ProbeFn>(PlatformGetProcAddress(lib, "DynLibProbeAnswer"));
  ASSERT_NE(answer, nullptr);
  EXPECT_EQ(answer(), 42);
  EXPECT_TRUE(PlatformFreeLibrary(lib));

  // Only "./name" falls back: a bare name goes to the system search path and
  // a missing name is simply missing.
  EXPECT_EQ(PlatformLoadLibrary("dynlib_probe.so"), nullptr);
  EXPECT_EQ(PlatformLoadLibrary("./no_such_library.so"), nullptr);
  EXPECT_EQ(PlatformLoadLibrary("./"), nullptr);
}

// A file of that name in the current directory is the one meant: when it
// cannot be loaded, the copy beside the executable must not stand in for it.
TEST_F(DynLib, TheCurrentDirectoryWinsEvenWhenItsFileIsBroken) {
  std::ofstream(dir + "/dynlib_probe.so") << "not a shared library";
  EXPECT_EQ(PlatformLoadLibrary("./dynlib_probe.so"), nullptr);
}

}  // namespace

// Ending the demo while the music library's thread is inside the sync
// callback: the cube-start sync registers five more syncs, each looked up in
// the library by name, just as the shutdown unloads that library. AppMain runs
// on the null platform against a fake library (./bassmod.so) whose callback
// thread waits inside its first registration until the library is being
// stopped. Each run is a child process, so a shutdown that never ends is
// killed and reported instead of hanging the suite.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>

#include "app/shell.h"
#include "core/demo_globals.h"
#include "music/music.h"
#include "platform/null/null_platform.h"
#include "platform/window.h"

namespace {

// What the fake's unload hook found (see fake_soundlib_exit.c).
struct UnloadSeen {
  bool seen;
  int32_t syncs, fromThread, freeCalls, threadWasDone;
};
UnloadSeen g_unload;

void OnUnload(int32_t syncs, int32_t fromThread, int32_t freeCalls, int32_t threadWasDone) {
  g_unload = UnloadSeen{true, syncs, fromThread, freeCalls, threadWasDone};
}

using ReportFn = void (*)(int32_t, int32_t, int32_t, int32_t);
using SetReportFn = void (*)(ReportFn);
using WaitFn = void (*)();

// Exit codes of a child run.
enum : int {
  ChildEnded = 0,          // shut down, the callback finished before the unload
  ChildNoLibrary = 20,     // the fake was not loaded as the sound library
  ChildReturned = 21,      // AppMain returned instead of ending the process
  ChildNoUnload = 22,      // the library was not unloaded
  ChildCallbackCut = 23,   // unloaded before the callback's registrations were made
};

// The child: AppMain with the answer No; on its first empty pass it waits
// until the fake's thread is inside the callback, tells the parent through
// `ready` and presses Escape, so the shutdown runs while the callback waits.
[[noreturn]] void RunChild(int ready) {
  g_unload = UnloadSeen{};
  NullPlatformReset();
  ClearDemoGlobals();
  NullPlatformOnIdle([ready](uint64_t pass) {
    if (pass != 1) return;
    auto setReport = reinterpret_cast<SetReportFn>(DynLibFindFunction(MusicLibrarySlot, "FakeExitSetReport"));
    auto waitInside = reinterpret_cast<WaitFn>(DynLibFindFunction(MusicLibrarySlot, "FakeExitWaitInsideCallback"));
    if (!setReport || !waitInside) _exit(ChildNoLibrary);
    setReport(OnUnload);
    waitInside();
    char byte = 1;
    if (write(ready, &byte, 1) != 1) _exit(ChildNoLibrary);
    NullPlatformScriptMessage(WM_KEYDOWN, VK_ESCAPE);
  });
  try {
    AppMain(PlatformGetModuleHandle(), nullptr, "zephyra", SW_SHOWDEFAULT);
  } catch (const NullPlatformExit&) {
    if (!g_unload.seen) _exit(ChildNoUnload);
    // Eight start-up syncs and the callback's five, all made before the
    // library went away, and its thread already finished by then.
    if (g_unload.syncs != 13 || g_unload.fromThread != 5 || !g_unload.threadWasDone) {
      std::fprintf(stderr, "at the unload: %d registrations, %d from the callback, thread %s\n", g_unload.syncs,
                   g_unload.fromThread, g_unload.threadWasDone ? "done" : "still running");
      _exit(ChildCallbackCut);
    }
    _exit(ChildEnded);
  }
  _exit(ChildReturned);
}

class ExitWhileSyncing : public ::testing::Test {
 protected:
  void SetUp() override {
    // The fake sits beside the tests' working folder (build/bin); the demo
    // loads ./bassmod.so, so each run works in a folder where that name
    // leads to the fake.
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    const std::string fake = std::string(previous) + "/fake_soundlib_exit.so";
    ASSERT_TRUE(std::filesystem::exists(fake)) << fake;
    char pattern[] = "/tmp/zephyra-exit-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    std::filesystem::create_symlink(fake, dir + "/bassmod.so");
    ASSERT_EQ(chdir(dir.c_str()), 0);
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous), 0);
    std::filesystem::remove_all(dir);
  }

  // One run. Fails when the child does not reach the callback, does not end
  // within `limit` of the Escape, or ends with anything but ChildEnded.
  void RunOnce(int round, std::chrono::milliseconds limit) {
    SCOPED_TRACE("round " + std::to_string(round));
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      close(fds[0]);
      RunChild(fds[1]);
    }
    close(fds[1]);
    // The start-up builds lists and textures before the music plays: allow
    // it plenty (sanitizer builds are slow), then time the shutdown alone.
    pollfd p{fds[0], POLLIN, 0};
    char byte = 0;
    bool ready = poll(&p, 1, 60000) == 1 && read(fds[0], &byte, 1) == 1;
    close(fds[0]);
    int status = 0;
    pid_t ended = 0;
    if (ready) {
      auto deadline = std::chrono::steady_clock::now() + limit;
      while ((ended = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    if (ended != child) {
      kill(child, SIGKILL);
      waitpid(child, &status, 0);
      FAIL() << (ready ? "the shutdown did not end within " + std::to_string(limit.count()) + " ms"
                       : std::string("the sync thread never reached the callback"));
    }
    ASSERT_TRUE(WIFEXITED(status)) << "child ended by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), ChildEnded);
  }

  char previous[PATH_MAX];
  std::string dir;
};

TEST_F(ExitWhileSyncing, EscapeDuringTheCubeStartRegistrationsEndsWithinASecondFiftyTimes) {
  for (int round = 0; round < 50; ++round) {
    RunOnce(round, std::chrono::milliseconds(1000));
    if (HasFailure()) break;
  }
}

}  // namespace

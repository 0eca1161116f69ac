// Common set-up of the shell tests on the null platform: the global record
// with its heaps and arrays, as the start-up leaves them before the question
// is asked.
#pragma once
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/shell.h"
#include "core/demo_globals.h"
#include "platform/heap.h"
#include "platform/null/null_platform.h"
#include "platform/window.h"

class ShellTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DisabledWindowList = nullptr;
    ASSERT_TRUE(SetUpRuntime());
    DemoGlobals.WindowActive = 1;
    NullPlatformReset();  // the calls log starts empty
  }

  void TearDown() override {
    // A test that ended the "process" has released the runtime already
    // (its tables are gone with MainHeap: no second release).
    if (DemoGlobals.MainHeap) ReleaseRuntime();
    ClearDemoGlobals();
    NullPlatformReset();
  }

  // Opens the demo window as the start-up would (windowed unless asked).
  void OpenWindow(uint8_t fullscreen = 0) {
    ASSERT_EQ(OpenDemoWindow(DemoTitle, 640, 480, 16, fullscreen), 1);
  }

  // Runs fn, which must end the process through the null platform; answers
  // the exit code, or -1 when it returned instead.
  template <typename Fn>
  static int64_t ExitCodeOf(Fn fn) {
    try {
      fn();
    } catch (const NullPlatformExit& exit) {
      return exit.code;
    }
    return -1;
  }

  // The texts of the message boxes shown, in order ("title|text|flags").
  static std::vector<std::string> Boxes() {
    std::vector<std::string> out;
    for (auto& line : NullPlatformCallsStartingWith("MessageBox(")) {
      // MessageBox(owner, title, text, flags): drop the owner.
      auto first = line.find(", ");
      std::string rest = line.substr(first + 2, line.size() - first - 3);
      out.push_back(rest);
    }
    return out;
  }

  static size_t Frames() { return NullPlatformCallsStartingWith("SwapBuffers").size(); }
};

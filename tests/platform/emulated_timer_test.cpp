// The shared window manager's timers (platform/emulated), which the SDL and
// browser backends run on their own clocks, driven here by a clock the test
// sets: when WM_TIMER is due, that a late loop gets one message and keeps
// the rhythm, and that a timer goes with its window.
#include <gtest/gtest.h>

#include <memory>

#include "platform/emulated/window_manager.h"
#include "platform/null/null_platform.h"

namespace {

intptr_t Proc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

class EmulatedTimer : public ::testing::Test {
 protected:
  void SetUp() override {
    NullPlatformReset();
    WNDCLASSA c{};
    c.lpszClassName = "timer test";
    c.lpfnWndProc = Proc;
    ASSERT_NE(EmuRegisterClass(&c), 0);
    window = EmuAddWindow(EmuNewWindow("timer test", 0));
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override { NullPlatformReset(); }

  // The id of the timer taken at nowMs, or 0 when none is due.
  uintptr_t Take(double nowMs, uint32_t flags = PM_REMOVE) {
    MSG m{};
    if (!EmuTakeDueTimer(&m, flags, nowMs)) return 0;
    EXPECT_EQ(m.hwnd, window);
    EXPECT_EQ(m.message, static_cast<uint32_t>(WM_TIMER));
    return m.wParam;
  }

  PlatformWindowRec* window = nullptr;
};

TEST_F(EmulatedTimer, DueOncePerPeriodFromWhenItWasSet) {
  ASSERT_EQ(EmuSetTimer(window, 7, 40, 1000.0), 7u);
  EXPECT_EQ(Take(1039.9), 0u);
  EXPECT_EQ(Take(1040.0, PM_NOREMOVE), 7u);  // looking leaves it due
  EXPECT_EQ(Take(1040.0), 7u);
  EXPECT_EQ(Take(1040.0), 0u);
  EXPECT_EQ(Take(1080.0), 7u);
}

TEST_F(EmulatedTimer, ALateLoopGetsOneMessageAndTheRhythmHolds) {
  EmuSetTimer(window, 1, 40, 0.0);
  // 130 ms late for the first: one message, not three, and the next is due
  // at 80, already past, so a period from now.
  EXPECT_EQ(Take(170.0), 1u);
  EXPECT_EQ(Take(170.0), 0u);
  EXPECT_EQ(Take(209.9), 0u);
  EXPECT_EQ(Take(210.0), 1u);
  // 10 ms late: the next stays on the rhythm of the last due time (250).
  EXPECT_EQ(Take(260.0), 1u);
  EXPECT_EQ(Take(289.9), 0u);
  EXPECT_EQ(Take(290.0), 1u);
}

TEST_F(EmulatedTimer, SettingAgainResetsPeriodAndDueTime) {
  EmuSetTimer(window, 1, 40, 0.0);
  EXPECT_EQ(EmuSetTimer(window, 1, 100, 30.0), 1u);
  EXPECT_EQ(Take(129.0), 0u);
  EXPECT_EQ(Take(130.0), 1u);
  EXPECT_EQ(Take(130.0), 0u);  // one timer, not two
}

TEST_F(EmulatedTimer, RefusedWithoutAWindowOrPeriodAndGoneWithItsWindow) {
  EXPECT_EQ(EmuSetTimer(window, 1, 0, 0.0), 0u);
  EXPECT_EQ(EmuSetTimer(nullptr, 1, 40, 0.0), 0u);
  EXPECT_EQ(Take(1e9), 0u);
  EmuSetTimer(window, 1, 40, 0.0);
  EmuRemoveWindow(window);
  EXPECT_EQ(Take(1e9), 0u);
  EXPECT_EQ(EmuSetTimer(window, 1, 40, 0.0), 0u);  // a destroyed window takes none
}

}  // namespace

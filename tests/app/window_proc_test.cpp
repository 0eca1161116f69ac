// The window procedure, message by message, and the main loop's passes.
#include <gmock/gmock.h>

#include "shell_fixture.h"

using ::testing::ElementsAre;

namespace {

class WindowProcTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    OpenWindow();
    window = DemoGlobals.MainWindow;
    NullPlatformClearCalls();
  }
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam = 0) {
    return DemoWindowProc(window, message, wParam, lParam);
  }
  bool QuitQueued() {
    for (const MSG& m : NullPlatformPendingMessages())
      if (m.message == WM_QUIT) return true;
    return false;
  }
  WindowHandle window = nullptr;
};

TEST_F(WindowProcTest, ActivateFollowsOnlyTheMinimisedState) {
  DemoGlobalsRecord& g = DemoGlobals;
  EXPECT_EQ(Send(WM_ACTIVATE, WA_ACTIVE | (1u << 16)), 0);  // minimised
  EXPECT_EQ(g.WindowActive, 0);
  EXPECT_EQ(Send(WM_ACTIVATE, WA_ACTIVE), 0);  // restored
  EXPECT_EQ(g.WindowActive, 1);
  Send(WM_ACTIVATE, WA_INACTIVE);  // another program in front, still on screen
  EXPECT_EQ(g.WindowActive, 1);
  Send(WM_ACTIVATE, WA_INACTIVE | (0x8000u << 16));  // any non-zero high word
  EXPECT_EQ(g.WindowActive, 0);
  EXPECT_TRUE(NullPlatformCallsStartingWith("DefWindowProc").empty());
}

TEST_F(WindowProcTest, CloseEndsTheDemoAndQueuesQuitButKeepsTheWindow) {
  EXPECT_EQ(Send(WM_CLOSE, 0), 0);
  EXPECT_EQ(DemoGlobals.DemoDone, 1);
  EXPECT_THAT(NullPlatformCalls(), ElementsAre("PostQuitMessage(0)"));
  ASSERT_TRUE(QuitQueued());
  EXPECT_EQ(NullPlatformLiveWindows(), 1u);
}

TEST_F(WindowProcTest, ScreenSaverAndMonitorPowerAreRefusedOtherCommandsDefault) {
  EXPECT_EQ(Send(WM_SYSCOMMAND, SC_SCREENSAVE), 0);
  EXPECT_EQ(Send(WM_SYSCOMMAND, SC_MONITORPOWER), 0);
  EXPECT_TRUE(NullPlatformCalls().empty());
  // Compared as whole values: low bits set means another command.
  Send(WM_SYSCOMMAND, SC_SCREENSAVE | 2);
  Send(WM_SYSCOMMAND, SC_MINIMIZE);
  EXPECT_THAT(NullPlatformCallsStartingWith("DefWindowProc"),
              ElementsAre("DefWindowProc(w1, 0x112, 0xf142)", "DefWindowProc(w1, 0x112, 0xf020)"));
  EXPECT_EQ(DemoGlobals.DemoDone, 0);
  // SC_CLOSE goes through the default handling, which sends WM_CLOSE.
  Send(WM_SYSCOMMAND, SC_CLOSE);
  EXPECT_EQ(DemoGlobals.DemoDone, 1);
  EXPECT_TRUE(QuitQueued());
}

TEST_F(WindowProcTest, KeysFollowTheLastMessageAndSystemKeysAreLeftAlone) {
  uint8_t* keys = DemoGlobals.KeyState;
  for (int repeat = 0; repeat < 3; ++repeat) Send(WM_KEYDOWN, VK_ESCAPE);  // auto-repeat
  EXPECT_EQ(keys[VK_ESCAPE], 1);
  Send(WM_KEYUP, VK_ESCAPE);
  EXPECT_EQ(keys[VK_ESCAPE], 0);
  Send(WM_KEYDOWN, 255);
  EXPECT_EQ(keys[255], 1);
  // Alt combinations and F10 arrive as system keys: KeyState stays as it was.
  Send(WM_SYSKEYDOWN, 'X', KeyLParamAltDown);
  Send(WM_SYSKEYDOWN, VK_F10);
  EXPECT_EQ(keys['X'], 0);
  EXPECT_EQ(keys[VK_F10], 0);
  EXPECT_EQ(DemoGlobals.DemoDone, 0);
  // A code past the table is ignored instead of written past it (ASan).
  EXPECT_EQ(Send(WM_KEYDOWN, 256), 0);
  EXPECT_EQ(Send(WM_KEYUP, 70000), 0);
}

TEST_F(WindowProcTest, AltF4ClosesThroughTheDefaultHandling) {
  Send(WM_SYSKEYDOWN, VK_F4, KeyLParamAltDown);
  EXPECT_EQ(DemoGlobals.DemoDone, 1);
  EXPECT_TRUE(QuitQueued());
  EXPECT_EQ(DemoGlobals.KeyState[VK_F4], 0);
}

TEST_F(WindowProcTest, EveryTimerMessageTicksWhateverItsId) {
  DemoGlobals.SceneMode = SceneModeCaptionIn;  // caption fading in: +0.04 alpha per tick
  Send(WM_TIMER, 1);
  Send(WM_TIMER, 7);
  Send(WM_TIMER, 0);
  EXPECT_FLOAT_EQ(DemoGlobals.CaptionFade, 0.12f);
}

TEST_F(WindowProcTest, OtherMessagesGoToTheDefaultHandling) {
  EXPECT_EQ(Send(0x0400, 3, 4), 0);
  EXPECT_THAT(NullPlatformCalls(), ElementsAre("DefWindowProc(w1, 0x400, 0x3)"));
}

// ---- main loop -----------------------------------------------------------------------------

class MainLoopTest : public WindowProcTest {
 protected:
  // Scripts messages to arrive on the given empty passes.
  void OnEmptyPass(uint64_t pass, uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0) {
    plan.push_back({pass, message, wParam, lParam});
    NullPlatformOnIdle([this](uint64_t n) {
      for (auto& p : plan)
        if (p.pass == n) NullPlatformScriptMessage(p.message, p.wParam, p.lParam);
    });
  }
  struct Planned {
    uint64_t pass;
    uint32_t message;
    uintptr_t wParam;
    intptr_t lParam;
  };
  std::vector<Planned> plan;
};

TEST_F(MainLoopTest, EscapeHeldAtAnEmptyPassEndsWithoutDrawing) {
  NullPlatformScriptMessage(WM_KEYDOWN, VK_ESCAPE);
  EXPECT_EQ(RunMainLoop(), 0u);  // a normal end, not the key code
  EXPECT_EQ(Frames(), 0u);
  EXPECT_EQ(DemoGlobals.LoopMessage.message, WM_KEYDOWN);
  EXPECT_EQ(NullPlatformPeekCount(), 2u);
}

TEST_F(MainLoopTest, EscapePressAndReleaseBeforeAnEmptyPassHaveNoEffect) {
  NullPlatformScriptMessage(WM_KEYDOWN, VK_ESCAPE);
  NullPlatformScriptMessage(WM_KEYUP, VK_ESCAPE);
  OnEmptyPass(4, WM_CLOSE);
  EXPECT_EQ(RunMainLoop(), 0u);
  // Passes 1-3 drew; pass 4 took WM_CLOSE, whose handling ended the loop.
  EXPECT_EQ(Frames(), 3u);
  EXPECT_EQ(DemoGlobals.LoopMessage.message, WM_CLOSE);
}

TEST_F(MainLoopTest, MinimisedPassesDrawNothingAndIgnoreEscape) {
  NullPlatformScriptMessage(WM_ACTIVATE, WA_INACTIVE | (1u << 16));
  OnEmptyPass(3, WM_KEYDOWN, VK_ESCAPE);
  OnEmptyPass(50, WM_ACTIVATE, WA_ACTIVE);
  EXPECT_EQ(RunMainLoop(), 0u);
  // Escape was held all along, but only the first empty pass after the
  // restore looked at it.
  EXPECT_EQ(Frames(), 0u);
  EXPECT_GE(NullPlatformPeekCount(), 52u);
  EXPECT_EQ(DemoGlobals.LoopMessage.message, WM_ACTIVATE);
}

TEST_F(MainLoopTest, CloseEndsRightAfterItsDispatchLeavingQuitQueued) {
  OnEmptyPass(2, WM_TIMER, 1);
  OnEmptyPass(3, WM_CLOSE);
  OnEmptyPass(4, WM_TIMER, 1);  // never reached
  EXPECT_EQ(RunMainLoop(), 0u);
  std::vector<MSG> pending = NullPlatformPendingMessages();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].message, WM_QUIT);
  EXPECT_EQ(pending[0].wParam, 0u);
  EXPECT_FLOAT_EQ(DemoGlobals.CaptionFade, 0.0f);  // SceneMode is 0 here: no fade
}

TEST_F(MainLoopTest, QuitTakenByTheLoopEndsItWithItsCode) {
  PlatformPostQuitMessage(5);
  NullPlatformScriptMessage(WM_KEYDOWN, 'A');  // behind the quit: never dispatched
  EXPECT_EQ(RunMainLoop(), 5u);
  EXPECT_EQ(DemoGlobals.KeyState['A'], 0);
  EXPECT_EQ(DemoGlobals.DemoDone, 1);
}

TEST_F(MainLoopTest, DoneSetElsewhereEndsAfterThePassThatSawIt) {
  // The music thread's final cue lands while pass 3 waits for messages:
  // that pass still draws, no further one does.
  NullPlatformOnIdle([](uint64_t n) {
    if (n == 3) DemoGlobals.DemoDone = 1;
  });
  EXPECT_EQ(RunMainLoop(), 0u);
  EXPECT_EQ(Frames(), 3u);
}

TEST_F(MainLoopTest, TimerMessagesTickBetweenFrames) {
  DemoGlobals.SceneMode = SceneModeCaptionIn;
  for (int i = 0; i < 5; ++i) NullPlatformScriptMessage(WM_TIMER, 1);
  OnEmptyPass(2, WM_KEYDOWN, VK_ESCAPE);
  EXPECT_EQ(RunMainLoop(), 0u);
  EXPECT_FLOAT_EQ(DemoGlobals.CaptionFade, 0.2f);
  EXPECT_EQ(Frames(), 1u);
}

}  // namespace

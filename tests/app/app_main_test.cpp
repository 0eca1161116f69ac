// The whole start-up, loop and shutdown of AppMain on the null platform, with
// the real modules behind it. Runs in an empty working directory, so the
// sound library is not found and the music stays silent; with no GL context
// current, GL calls go nowhere.
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "shell_fixture.h"

namespace {

class AppMainTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    char pattern[] = "/tmp/zephyra-app-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    dir = pattern;
    ASSERT_NE(getcwd(previous, sizeof previous), nullptr);
    ASSERT_EQ(chdir(dir.c_str()), 0);
    // AppMain makes its own heaps and arrays from a cleared record.
    ReleaseRuntime();
    ClearDemoGlobals();
  }
  void TearDown() override {
    ASSERT_EQ(chdir(previous), 0);
    std::filesystem::remove_all(dir);
    ShellTest::TearDown();
  }
  // Runs AppMain with messages arriving on the given empty passes.
  int64_t Run(std::function<void(uint64_t)> onIdle) {
    NullPlatformOnIdle(std::move(onIdle));
    return ExitCodeOf([] { AppMain(PlatformGetModuleHandle(), nullptr, "zephyra", SW_SHOWDEFAULT); });
  }
  static size_t IndexOf(const std::string& line) {
    const auto& calls = NullPlatformCalls();
    auto it = std::find(calls.begin(), calls.end(), line);
    return it == calls.end() ? SIZE_MAX : static_cast<size_t>(it - calls.begin());
  }
  std::string dir;
  char previous[PATH_MAX];
};

TEST_F(AppMainTest, WindowedRunEndsOnEscapeWithExitCode0AndReleasesEverything) {
  int64_t code = Run([](uint64_t pass) {
    if (pass == 2) NullPlatformScriptMessage(WM_TIMER, 1);
    if (pass == 4) NullPlatformScriptMessage(WM_KEYDOWN, VK_ESCAPE);
  });
  EXPECT_EQ(code, 0);
  // Start-up order as the calls show it.
  size_t controls = IndexOf("InitCommonControls()");
  size_t question = IndexOf("MessageBox(-, Zephyra (Party), Fullscreen?, 4)");
  size_t window = IndexOf("CreateWindowEx(0x40100, KWOpenGL, Zephyra (Party), 0x16cf0000, 0, 0, 656, 519, -)");
  size_t timer = IndexOf("SetTimer(w1, 1, 40)");
  size_t destroy = IndexOf("DestroyWindow(w1)");
  ASSERT_NE(timer, SIZE_MAX);
  EXPECT_LT(controls, question);
  EXPECT_LT(question, window);
  EXPECT_LT(window, timer);
  EXPECT_LT(timer, destroy);
  EXPECT_EQ(NullPlatformCalls().back(), "ExitProcess(0)");
  EXPECT_EQ(NullPlatformCalls()[NullPlatformCalls().size() - 2], "UnregisterClass(KWOpenGL)");
  // Swaps: InitGLState's one, then a frame on empty passes 1 and 3 (pass 2
  // took the timer message, pass 4 the key, pass 5 saw Escape held).
  EXPECT_EQ(Frames(), 1u + 2u);

  DemoGlobalsRecord& g = DemoGlobals;
  EXPECT_EQ(g.FullscreenMode, 0);
  EXPECT_EQ(g.SceneMode, 1);
  EXPECT_EQ(g.WindowActive, 1);
  EXPECT_GE(g.ObjectTextureIndex, 0);
  EXPECT_LE(g.ObjectTextureIndex, 6);
  EXPECT_EQ(g.MorphRed, 1.0f);
  EXPECT_EQ(g.MorphGreen, 0.4f);
  EXPECT_EQ(g.MorphBlue, 1.0f);
  EXPECT_EQ(g.FloorDepth, -20.0f);
  EXPECT_EQ(g.FloorSpinStep, 8.0f);
  EXPECT_EQ(g.FloorDepthStep, 0.3f);
  EXPECT_FLOAT_EQ(g.CaptionFade, 0.04f);  // the one timer tick ran in mode 1
  EXPECT_EQ(g.LoopMessage.wParam, VK_ESCAPE);  // the code is 0 all the same
  // TerminateProgram destroyed both heaps and forgot what lived in them.
  EXPECT_EQ(g.MainHeap, nullptr);
  EXPECT_EQ(ObjectListHeap, nullptr);
  EXPECT_EQ(g.KeyState, nullptr);
  EXPECT_EQ(TextScratchBuffer, nullptr);
  EXPECT_EQ(NullPlatformLiveWindows(), 0u);
}

TEST_F(AppMainTest, YesRunsFullScreenAndRestoresTheDisplayAtTheEnd) {
  NullPlatformQueueAnswer(IDYES);
  int64_t code = Run([](uint64_t pass) {
    if (pass == 1) NullPlatformScriptMessage(WM_CLOSE);
  });
  EXPECT_EQ(code, 0);
  EXPECT_EQ(DemoGlobals.FullscreenMode, 1);
  EXPECT_LT(IndexOf("ChangeDisplaySettings(640x480x16, fields 0x1c0000, size 148, flags 4)"),
            IndexOf("ChangeDisplaySettings(null, 0)"));
  EXPECT_FALSE(NullPlatformFullscreen());
  EXPECT_EQ(NullPlatformCursorCounter(), 0);
  // WM_CLOSE ended the loop; the quit it posted was never taken.
  std::vector<MSG> pending = NullPlatformPendingMessages();
  ASSERT_EQ(pending.size(), 1u);
  EXPECT_EQ(pending[0].message, WM_QUIT);
}

TEST_F(AppMainTest, AnyAnswerButYesIsNo) {
  NullPlatformQueueAnswer(IDOK);
  Run([](uint64_t pass) {
    if (pass == 1) NullPlatformScriptMessage(WM_KEYDOWN, VK_ESCAPE);
  });
  EXPECT_EQ(DemoGlobals.FullscreenMode, 0);
}

TEST_F(AppMainTest, QuitTakenByTheLoopGivesItsCode) {
  EXPECT_EQ(Run([](uint64_t pass) {
              if (pass == 3) PlatformPostQuitMessage(3);
            }),
            3);
}

TEST_F(AppMainTest, WindowFailureEndsWithCode1BeforeTheMusicAndTheLoop) {
  NullPlatformFail(NullStep::CreateContext);
  EXPECT_EQ(Run([](uint64_t) {}), 1);
  EXPECT_TRUE(NullPlatformCallsStartingWith("SetTimer").empty());
  EXPECT_EQ(NullPlatformPeekCount(), 0u);
  EXPECT_EQ(DemoGlobals.SceneMode, 0);
  EXPECT_EQ(ObjectListHeap, nullptr);
}

TEST_F(AppMainTest, WithNoDisplayTheTextsReachStandardErrorAndTheCodeIs1) {
  // No box and no window can be shown: the question counts as No.
  NullPlatformFail(NullStep::MessageBox);
  NullPlatformFail(NullStep::CreateWindow);
  testing::internal::CaptureStderr();
  int64_t code = Run([](uint64_t) {});
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Zephyra (Party): Fullscreen?\nError: Could not open window\n");
  EXPECT_EQ(code, 1);
  EXPECT_EQ(DemoGlobals.FullscreenMode, 0);
}

}  // namespace

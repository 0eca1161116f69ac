// The whole start-up, loop and shutdown of AppMain on the null platform, with
// the real modules behind it. Runs in an empty working directory, so the
// sound library is not found and the music stays silent; with no GL context
// current, GL calls go nowhere. The last cases put a stand-in sound library
// there as ./bassmod.so and make an offscreen GL context current, to see
// what reaches the library, in which order, and what exists when play starts.
#include <GL/gl.h>
#include <gmock/gmock.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <filesystem>

#include "assets/assets.h"
#include "choreo/director.h"
#include "platform/dynlib.h"
#include "platform/offscreen_gl.h"
#include "shell_fixture.h"
#include "tests/music/fake_soundlib.h"

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
  EXPECT_EQ(g.SceneMode, SceneModeCaptionIn);
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
  EXPECT_EQ(DemoGlobals.SceneMode, SceneModeStartUp);
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

// What the start-up had done by the moment the library was asked to play,
// recorded from inside BASSMOD_MusicPlay.
struct PlayMoment {
  bool reached = false;
  int32_t callsBefore = -1;  // calls the library had received, play included
  int8_t sceneMode = -1;
  bool timerArmed = true;
  bool depthTest = true;
  std::vector<std::string> missing;  // lists and textures not in place
};
PlayMoment AtPlay;
FakeCallCountFn FakeCallCountOf = nullptr;

void RecordPlayMoment() {
  DemoGlobalsRecord& g = DemoGlobals;
  AtPlay.reached = true;
  AtPlay.callsBefore = FakeCallCountOf ? FakeCallCountOf() : -1;
  AtPlay.sceneMode = g.SceneMode;
  AtPlay.timerArmed = !NullPlatformCallsStartingWith("SetTimer").empty();
  AtPlay.depthTest = glIsEnabled(GL_DEPTH_TEST) == GL_TRUE;
  auto list = [](const std::string& what, GLuint name) {
    if (name == 0 || glIsList(name) != GL_TRUE) AtPlay.missing.push_back(what);
  };
  list("CubeList", g.CubeList);
  list("CubeEdgeList", g.CubeEdgeList);
  list("FloorList", g.FloorList);
  for (int k = 0; k < MorphListCount; ++k) list("MorphLists[" + std::to_string(k) + "]", g.MorphLists[k]);
  // A texture is in place once its picture is uploaded: 256 texels wide at
  // level 0 (the captions 512). The binding is put back afterwards.
  GLint bound = 0;
  glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
  auto texture = [](const std::string& what, GLuint name, GLint width) {
    GLint w = 0;
    if (name != 0 && glIsTexture(name) == GL_TRUE) {
      glBindTexture(GL_TEXTURE_2D, name);
      glGetTexLevelParameteriv(GL_TEXTURE_2D, 0, GL_TEXTURE_WIDTH, &w);
    }
    if (w != width) AtPlay.missing.push_back(what);
  };
  for (int k = 0; k < ObjectTextureCount; ++k)
    texture("ObjectTextures[" + std::to_string(k) + "]", g.ObjectTextures[k], 256);
  texture("FloorTexture", g.FloorTexture, 256);
  texture("CaptionTextureA", g.CaptionTextureA, 512);
  texture("CaptionTextureB", g.CaptionTextureB, 512);
  glBindTexture(GL_TEXTURE_2D, static_cast<GLuint>(bound));
}

// AppMain with the stand-in library copied in as ./bassmod.so and a real GL
// context current (the null platform's own context is only a record). The
// test holds the library open too, so its call log outlives AppMain's unload.
class AppMainWithSoundLibrary : public AppMainTest {
 protected:
  void SetUp() override {
    AppMainTest::SetUp();
    if (HasFatalFailure()) return;
    std::filesystem::copy_file(FAKE_SOUNDLIB_PATH, dir + "/bassmod.so");
    library = PlatformLoadLibrary("./bassmod.so");
    ASSERT_NE(library, nullptr);
    callCount = reinterpret_cast<FakeCallCountFn>(PlatformGetProcAddress(library, "FakeCallCount"));
    getCall = reinterpret_cast<FakeGetCallFn>(PlatformGetProcAddress(library, "FakeGetCall"));
    setPlayHook = reinterpret_cast<FakeSetPlayHookFn>(PlatformGetProcAddress(library, "FakeSetPlayHook"));
    ASSERT_TRUE(callCount && getCall && setPlayHook);
    const char* whyNot = "";
    gl = CreateOffscreenGL(640, 480, &whyNot);
    ASSERT_NE(gl, nullptr) << "offscreen GL: " << whyNot;
    AtPlay = PlayMoment{};
    FakeCallCountOf = callCount;
    setPlayHook(&RecordPlayMoment);
  }
  void TearDown() override {
    if (setPlayHook) setPlayHook(nullptr);
    FakeCallCountOf = nullptr;
    DestroyOffscreenGL(gl);
    if (library) PlatformFreeLibrary(library);
    AppMainTest::TearDown();
  }
  std::vector<FakeCall> Calls() const {
    std::vector<FakeCall> calls(static_cast<size_t>(callCount()));
    for (size_t i = 0; i < calls.size(); ++i) getCall(static_cast<int32_t>(i), &calls[i]);
    return calls;
  }

  ModuleHandle library = nullptr;
  OffscreenGL* gl = nullptr;
  FakeCallCountFn callCount = nullptr;
  FakeGetCallFn getCall = nullptr;
  FakeSetPlayHookFn setPlayHook = nullptr;
};

TEST_F(AppMainWithSoundLibrary, InitLoadThenTheEightStartUpSyncsThenPlayWithEverythingBuilt) {
  EXPECT_EQ(Run([](uint64_t pass) {
              if (pass == 1) NullPlatformScriptMessage(WM_KEYDOWN, VK_ESCAPE);
            }),
            0);
  const std::vector<FakeCall> calls = Calls();
  ASSERT_EQ(calls.size(), 11u);

  // Default device (-1), 44,100 Hz, no flags.
  EXPECT_EQ(calls[0].kind, FAKE_CALL_INIT);
  EXPECT_EQ(static_cast<int32_t>(calls[0].a), -1);
  EXPECT_EQ(calls[0].b, 44100u);
  EXPECT_EQ(calls[0].c, 0u);
  // From memory: the embedded module, offset 0, all 12,470 bytes, flags 0x204.
  EXPECT_EQ(calls[1].kind, FAKE_CALL_LOAD);
  EXPECT_EQ(calls[1].a, 1u);
  EXPECT_EQ(calls[1].data, static_cast<const void*>(MusicModule));
  EXPECT_EQ(calls[1].b, 0u);
  EXPECT_EQ(calls[1].c, 12470u);
  EXPECT_EQ(calls[1].d, 0x204u);

  // The start-up syncs (type, parameter, user value), in registration order,
  // all calling back into the scene director.
  const uint32_t expected[8][3] = {{0, 0 | 9u << 16, 1},  {0, 0 | 11u << 16, 1}, {0, 1, 2},
                                   {1, 5 | 0xFFFFu << 16, 3}, {0, 5, 4},        {0, 5 | 9u << 16, 1},
                                   {0, 5 | 11u << 16, 1}, {0x80000000u, 6, 5}};
  for (int k = 0; k < 8; ++k) {
    const FakeCall& c = calls[2 + k];
    EXPECT_EQ(c.kind, FAKE_CALL_SETSYNC) << "registration " << k + 1;
    EXPECT_EQ(c.a, expected[k][0]) << "type of registration " << k + 1;
    EXPECT_EQ(c.b, expected[k][1]) << "parameter of registration " << k + 1;
    EXPECT_EQ(c.c, expected[k][2]) << "user value of registration " << k + 1;
    EXPECT_EQ(c.proc, &OnMusicSync) << "callback of registration " << k + 1;
  }
  EXPECT_EQ(calls[10].kind, FAKE_CALL_PLAY);

  // At play: the syncs were in, every list and texture was built, and the
  // timer, the depth test and the first scene were still to come.
  ASSERT_TRUE(AtPlay.reached);
  EXPECT_EQ(AtPlay.callsBefore, 11);
  EXPECT_THAT(AtPlay.missing, testing::IsEmpty());
  EXPECT_FALSE(AtPlay.timerArmed);
  EXPECT_FALSE(AtPlay.depthTest);
  EXPECT_EQ(AtPlay.sceneMode, SceneModeStartUp);
}

TEST_F(AppMainWithSoundLibrary, AWindowThatCannotBeOpenedMakesNoCallIntoTheLibrary) {
  for (NullStep step : {NullStep::CreateWindow, NullStep::GetDC, NullStep::CreateContext, NullStep::MakeCurrent}) {
    NullPlatformReset();
    DisabledWindowList = nullptr;
    NullPlatformFail(step);
    EXPECT_EQ(Run([](uint64_t) {}), 1) << "step " << static_cast<int>(step);
    EXPECT_THAT(Calls(), testing::IsEmpty()) << "step " << static_cast<int>(step);
    EXPECT_FALSE(AtPlay.reached);
    // The failure was reported in a box, so the run got as far as the window.
    EXPECT_FALSE(NullPlatformCallsStartingWith("MessageBox(-, Error").empty()) << "step " << static_cast<int>(step);
  }
}

}  // namespace

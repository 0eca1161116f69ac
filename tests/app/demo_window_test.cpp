// Opening and closing the demo window: the steps, their order, and what each
// failure reports and leaves behind.
#include <gmock/gmock.h>

#include "platform/pixels.h"
#include "shell_fixture.h"

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;

namespace {

using DemoWindowTest = ShellTest;

const char* const PixelFormatRequest =
    "ChoosePixelFormat(size 40, version 1, flags 0x25, type 0, colour 0, depth 32, layer 0)";

TEST_F(DemoWindowTest, WindowedOpensA640x480ClientAreaAtTheOrigin) {
  OpenWindow(0);
  EXPECT_THAT(NullPlatformCalls(),
              ElementsAre("RegisterClass(KWOpenGL, 0x23, icon 32517, cursor 32512, brush 16)",
                          "AdjustWindowRectEx(0, 0, 640, 480, 0xcf0000, 0, 0x40100)",
                          // The null platform frames a captioned window 8 px a side, 31 on top.
                          "CreateWindowEx(0x40100, KWOpenGL, Zephyra (Party), 0x16cf0000, 0, 0, 656, 519, -)",
                          "GetDC(w1)", PixelFormatRequest, "SetPixelFormat(1)", "CreateContext()",
                          "MakeCurrent()", "ShowWindow(w1, 5)", "SetForegroundWindow(w1)", "SetFocus(w1)",
                          "SwapBuffers()"));
  DemoGlobalsRecord& g = DemoGlobals;
  EXPECT_EQ(g.FullscreenMode, 0);
  EXPECT_EQ(g.ModuleInstance, PlatformGetModuleHandle());
  EXPECT_NE(g.DeviceContext, nullptr);
  EXPECT_NE(g.RenderContext, nullptr);
  EXPECT_EQ(NullPlatformCursorCounter(), 0);

  NullPlatformClearCalls();
  EXPECT_EQ(CloseDemoWindow(), 0);
  EXPECT_THAT(NullPlatformCalls(), ElementsAre("MakeCurrent(none)", "DeleteContext()", "ReleaseDC(w1)",
                                               "DestroyWindow(w1)", "UnregisterClass(KWOpenGL)"));
  EXPECT_EQ(g.RenderContext, nullptr);
  EXPECT_EQ(NullPlatformLiveWindows(), 0u);
  EXPECT_EQ(NullPlatformLiveContexts(), 0u);
}

TEST_F(DemoWindowTest, FullscreenSwitchesModeHidesCursorAndRestoresBoth) {
  OpenWindow(1);
  std::vector<std::string> calls = NullPlatformCalls();
  ASSERT_GE(calls.size(), 5u);
  EXPECT_EQ(calls[1], "ChangeDisplaySettings(640x480x16, fields 0x1c0000, size 148, flags 4)");
  EXPECT_EQ(calls[2], "ShowCursor(0)");
  EXPECT_EQ(calls[3], "AdjustWindowRectEx(0, 0, 640, 480, 0x80000000, 0, 0x40000)");
  EXPECT_EQ(calls[4], "CreateWindowEx(0x40000, KWOpenGL, Zephyra (Party), 0x96080000, 0, 0, 640, 480, -)");
  EXPECT_TRUE(Boxes().empty());
  EXPECT_EQ(DemoGlobals.FullscreenMode, 1);
  EXPECT_TRUE(NullPlatformFullscreen());
  EXPECT_EQ(NullPlatformCursorCounter(), -1);
  EXPECT_EQ(PixelStoreDisplayDepth(), 16);  // bitmaps now take the 5-6-5 display

  NullPlatformClearCalls();
  CloseDemoWindow();
  std::vector<std::string> closing = NullPlatformCalls();
  ASSERT_GE(closing.size(), 2u);
  EXPECT_EQ(closing[0], "ChangeDisplaySettings(null, 0)");
  EXPECT_EQ(closing[1], "ShowCursor(1)");
  EXPECT_FALSE(NullPlatformFullscreen());
  EXPECT_EQ(NullPlatformCursorCounter(), 0);
  EXPECT_EQ(PixelStoreDisplayDepth(), 32);
}

TEST_F(DemoWindowTest, RefusedModeSwitchIsReportedAndTheDemoGoesOnAsAPopup) {
  NullPlatformFail(NullStep::ChangeDisplaySettings);
  OpenWindow(1);
  EXPECT_THAT(Boxes(), ElementsAre("Error, Could not init Fullscreen, 0"));
  std::vector<std::string> calls = NullPlatformCalls();
  EXPECT_EQ(calls[2], "MessageBox(-, Error, Could not init Fullscreen, 0)");
  EXPECT_EQ(calls[3], "ShowCursor(0)");
  EXPECT_EQ(calls[5], "CreateWindowEx(0x40000, KWOpenGL, Zephyra (Party), 0x96080000, 0, 0, 640, 480, -)");
  EXPECT_EQ(DemoGlobals.FullscreenMode, 1);  // not cleared: no fall-back to a window
  EXPECT_EQ(PixelStoreDisplayDepth(), 32);   // the desktop's depth stays in force
  NullPlatformClearCalls();
  CloseDemoWindow();
  EXPECT_EQ(NullPlatformCalls()[0], "ChangeDisplaySettings(null, 0)");
  EXPECT_EQ(NullPlatformCursorCounter(), 0);
}

TEST_F(DemoWindowTest, ClassRegistrationFailureEndsWithoutReleasingAnything) {
  NullPlatformFail(NullStep::RegisterClass);
  EXPECT_EQ(ExitCodeOf([] { OpenDemoWindow(DemoTitle, 640, 480, 16, 1); }), 1);
  EXPECT_THAT(NullPlatformCalls(),
              ElementsAre("RegisterClass(KWOpenGL, 0x23, icon 32517, cursor 32512, brush 16)",
                          "MessageBox(-, Error, Could not register class, 0)", "ExitProcess(1)"));
  EXPECT_EQ(ObjectListHeap, nullptr);  // TerminateProgram ran
  EXPECT_EQ(DemoGlobals.MainHeap, nullptr);
}

struct OpenFailure {
  NullStep step;
  const char* message;
  std::vector<const char*> releases;  // what CloseDemoWindow then calls
};

class OpenFailureTest : public ShellTest, public ::testing::WithParamInterface<OpenFailure> {};

TEST_P(OpenFailureTest, ClosesThenReportsThenEndsWithExitCode1) {
  const OpenFailure& failure = GetParam();
  NullPlatformFail(failure.step);
  EXPECT_EQ(ExitCodeOf([] { OpenDemoWindow(DemoTitle, 640, 480, 16, 0); }), 1);
  std::vector<std::string> calls = NullPlatformCalls();
  ASSERT_GE(calls.size(), failure.releases.size() + 2);
  std::vector<std::string> tail(calls.end() - static_cast<long>(failure.releases.size()) - 2, calls.end());
  std::vector<std::string> expected(failure.releases.begin(), failure.releases.end());
  expected.push_back(std::string("MessageBox(-, Error, ") + failure.message + ", 0)");
  expected.push_back("ExitProcess(1)");
  EXPECT_THAT(tail, ElementsAreArray(expected));
  EXPECT_EQ(NullPlatformLiveWindows(), 0u);
  EXPECT_EQ(NullPlatformLiveContexts(), 0u);
  EXPECT_TRUE(NullPlatformCallsStartingWith("ShowWindow").empty());
}

INSTANTIATE_TEST_SUITE_P(
    EachStep, OpenFailureTest,
    ::testing::Values(
        OpenFailure{NullStep::CreateWindow, "Could not open window", {"UnregisterClass(KWOpenGL)"}},
        OpenFailure{NullStep::GetDC,
                    "Could not create a GL Device Context",
                    {"DestroyWindow(w1)", "UnregisterClass(KWOpenGL)"}},
        OpenFailure{NullStep::ChoosePixelFormat,
                    "Could not find PixelFormat",
                    {"ReleaseDC(w1)", "DestroyWindow(w1)", "UnregisterClass(KWOpenGL)"}},
        OpenFailure{NullStep::SetPixelFormat,
                    "Could not set PixelFormat",
                    {"ReleaseDC(w1)", "DestroyWindow(w1)", "UnregisterClass(KWOpenGL)"}},
        OpenFailure{NullStep::CreateContext,
                    "Could not create GL Rendering Context",
                    {"ReleaseDC(w1)", "DestroyWindow(w1)", "UnregisterClass(KWOpenGL)"}},
        OpenFailure{NullStep::MakeCurrent,
                    "Could not Activate GL Rendering Context",
                    {"MakeCurrent(none)", "DeleteContext()", "ReleaseDC(w1)", "DestroyWindow(w1)",
                     "UnregisterClass(KWOpenGL)"}}));

TEST_F(DemoWindowTest, FullscreenOpenFailureRestoresTheDisplayFirst) {
  NullPlatformFail(NullStep::GetDC);
  EXPECT_EQ(ExitCodeOf([] { OpenDemoWindow(DemoTitle, 640, 480, 16, 1); }), 1);
  auto closing = NullPlatformCallsStartingWith("ChangeDisplaySettings(null");
  EXPECT_EQ(closing.size(), 1u);
  EXPECT_FALSE(NullPlatformFullscreen());
  EXPECT_EQ(NullPlatformCursorCounter(), 0);
}

TEST_F(DemoWindowTest, EveryCloseFailureIsReportedInOrderAndClosingGoesOn) {
  OpenWindow();
  for (NullStep step : {NullStep::ReleaseCurrent, NullStep::DeleteContext, NullStep::ReleaseDC,
                        NullStep::DestroyWindow, NullStep::UnregisterClass})
    NullPlatformFail(step);
  NullPlatformClearCalls();
  CloseDemoWindow();
  EXPECT_THAT(Boxes(), ElementsAre("Error, Could not release DC and RC, 0", "Error, wglDeleteContext(RC) failed, 0",
                                   "Error, Could not release DC, 0", "Error, Could not destroy window, 0",
                                   "Error, Could not unregister class, 0"));
  EXPECT_EQ(DemoGlobals.RenderContext, nullptr);
}

TEST_F(DemoWindowTest, CloseReportsComeBeforeTheOpenFailureReport) {
  NullPlatformFail(NullStep::MakeCurrent);
  NullPlatformFail(NullStep::DestroyWindow);
  EXPECT_EQ(ExitCodeOf([] { OpenDemoWindow(DemoTitle, 640, 480, 16, 0); }), 1);
  // The window lives on, so its class cannot go either.
  EXPECT_THAT(Boxes(), ElementsAre("Error, Could not destroy window, 0", "Error, Could not unregister class, 0",
                                   "Error, Could not Activate GL Rendering Context, 0"));
}

}  // namespace

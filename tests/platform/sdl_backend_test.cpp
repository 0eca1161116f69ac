// The SDL backend on SDL's offscreen video driver (no display needed): class
// and window lifetime, pixel format and GL context, the message queue and
// its timer, the cursor counter, window events into messages and the
// message box's fallback.
#include <GL/gl.h>
#include <SDL2/SDL.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/window.h"

namespace {

struct Seen {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
std::vector<Seen> seen;

intptr_t RecordingProc(WindowHandle, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  seen.push_back({message, wParam, lParam});
  return 42;
}

PIXELFORMATDESCRIPTOR Request() {
  PIXELFORMATDESCRIPTOR r{};
  r.nSize = sizeof r;
  r.nVersion = 1;
  r.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  r.iPixelType = PFD_TYPE_RGBA;
  r.cDepthBits = 32;
  return r;
}

// One GL window lives for the whole run: SDL unloads the GL driver when its
// last GL window goes, and leaks inside an unloaded driver can no longer be
// told apart from the program's own by the leak checker.
void KeepGLDriverLoaded() {
  static WindowHandle keeper = [] {
    WNDCLASSA c{};
    c.lpfnWndProc = RecordingProc;
    c.lpszClassName = "Keeper";
    PlatformRegisterClass(&c);
    return PlatformCreateWindowEx(0, "Keeper", "k", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr);
  }();
  ASSERT_NE(keeper, nullptr);
}

class SdlBackendTest : public ::testing::Test {
 protected:
  void SetUp() override {
    KeepGLDriverLoaded();
    seen.clear();
    WNDCLASSA c{};
    c.lpfnWndProc = RecordingProc;
    c.lpszClassName = "Test";
    ASSERT_NE(PlatformRegisterClass(&c), 0);
    window = PlatformCreateWindowEx(0, "Test", "t", WS_POPUP | WS_VISIBLE, 0, 0, 64, 48, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
  }
  void TearDown() override {
    MSG m;
    while (PlatformPeekMessage(&m, PM_REMOVE)) {
    }
    PlatformDestroyWindow(window);
    PlatformUnregisterClass("Test", nullptr);
  }
  WindowHandle window = nullptr;
};

TEST_F(SdlBackendTest, ClassesAndWindowsLiveAndGoInOrder) {
  WNDCLASSA again{};
  again.lpfnWndProc = RecordingProc;
  again.lpszClassName = "Test";
  EXPECT_EQ(PlatformRegisterClass(&again), 0);  // already registered
  EXPECT_EQ(PlatformCreateWindowEx(0, "Nope", "t", WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr), nullptr);
  EXPECT_FALSE(PlatformUnregisterClass("Test", nullptr));  // a window of it exists
  WindowHandle second = PlatformCreateWindowEx(0, "Test", "u", WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr);
  ASSERT_NE(second, nullptr);
  std::vector<WindowHandle> order;
  PlatformEnumWindows(
      [](WindowHandle w, intptr_t list) {
        reinterpret_cast<std::vector<WindowHandle>*>(list)->push_back(w);
        return true;
      },
      reinterpret_cast<intptr_t>(&order));
  ASSERT_EQ(order.size(), 3u);  // with the driver keeper, oldest
  EXPECT_EQ(order[0], second);  // newest first
  EXPECT_EQ(order[1], window);
  uint32_t process = 0;
  EXPECT_EQ(PlatformGetWindowThreadProcessId(second, &process), PlatformGetCurrentThreadId());
  EXPECT_EQ(process, PlatformGetCurrentProcessId());
  EXPECT_FALSE(PlatformEnableWindow(second, false));  // was enabled
  EXPECT_FALSE(PlatformIsWindowEnabled(second));
  EXPECT_TRUE(PlatformEnableWindow(second, true));  // was disabled
  EXPECT_TRUE(PlatformDestroyWindow(second));
  EXPECT_FALSE(PlatformDestroyWindow(second));
  EXPECT_EQ(PlatformGetWindowThreadProcessId(second, nullptr), 0u);
}

TEST_F(SdlBackendTest, PixelFormatOnceThenAContextThatDraws) {
  DeviceContextHandle dc = PlatformGetDC(window);
  ASSERT_NE(dc, nullptr);
  PIXELFORMATDESCRIPTOR bad = Request();
  bad.iPixelType = 1;  // colour-index
  EXPECT_EQ(PlatformChoosePixelFormat(dc, &bad), 0);
  bad = Request();
  bad.nSize = 12;
  EXPECT_EQ(PlatformChoosePixelFormat(dc, &bad), 0);
  EXPECT_EQ(PlatformCreateContext(dc), nullptr);  // no format yet
  PIXELFORMATDESCRIPTOR request = Request();
  int32_t format = PlatformChoosePixelFormat(dc, &request);
  ASSERT_GT(format, 0);
  ASSERT_TRUE(PlatformSetPixelFormat(dc, format, &request));
  EXPECT_FALSE(PlatformSetPixelFormat(dc, format, &request));  // once per window
  RenderContextHandle rc = PlatformCreateContext(dc);
  ASSERT_NE(rc, nullptr);
  ASSERT_TRUE(PlatformMakeCurrent(dc, rc));
  GLint depth = 0;
  glGetIntegerv(GL_DEPTH_BITS, &depth);
  EXPECT_GE(depth, 16);
  // (The offscreen driver draws into a single-buffered surface, so the
  // buffering shows only on a real display: see the Xvfb test.)
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_TRUE(PlatformSwapBuffers(dc));
  EXPECT_EQ(PlatformReleaseDC(window, dc), 1);
  EXPECT_TRUE(PlatformMakeCurrent(nullptr, nullptr));
  EXPECT_TRUE(PlatformDeleteContext(rc));
  EXPECT_FALSE(PlatformDeleteContext(rc));
  EXPECT_FALSE(PlatformMakeCurrent(dc, rc));
}

TEST_F(SdlBackendTest, PostedMessagesComeOneAtATimeInOrderAndDispatchToTheClass) {
  PlatformPostMessage(window, 0x400, 1, 2);
  PlatformPostMessage(window, 0x401, 3, 4);
  PlatformPostQuitMessage(9);
  MSG m;
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_NOREMOVE));
  EXPECT_EQ(m.message, 0x400u);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, 0x400u);  // looking did not take it
  EXPECT_EQ(PlatformDispatchMessage(&m), 42);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.wParam, 3u);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_EQ(PlatformDispatchMessage(&m), 0);  // no window: not dispatched
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, 0x400u);
  EXPECT_EQ(seen[0].lParam, 2);
}

TEST_F(SdlBackendTest, PostingFromAnotherThreadIsSafe) {
  std::thread poster([this] {
    for (int i = 0; i < 500; ++i) PlatformPostMessage(window, 0x400, i, 0);
  });
  int taken = 0;
  MSG m;
  uintptr_t expected = 0;
  while (taken < 500) {
    if (PlatformPeekMessage(&m, PM_REMOVE) && m.message == 0x400) {
      EXPECT_EQ(m.wParam, expected++);
      ++taken;
    }
  }
  poster.join();
}

TEST_F(SdlBackendTest, DefaultHandlingClosesOnSysCloseAndAltF4) {
  EXPECT_EQ(PlatformDefWindowProc(window, WM_SYSCOMMAND, SC_CLOSE, 0), 0);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_CLOSE);
  seen.clear();
  PlatformDefWindowProc(window, WM_SYSKEYDOWN, VK_F4, KeyLParamAltDown);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, WM_SYSCOMMAND);  // the recording proc does not pass it on
  EXPECT_EQ(seen[0].wParam, SC_CLOSE);
  seen.clear();
  PlatformDefWindowProc(window, WM_SYSKEYDOWN, VK_F4, 0);  // F4 without Alt
  PlatformDefWindowProc(window, WM_KEYDOWN, VK_F4, KeyLParamAltDown);
  EXPECT_TRUE(seen.empty());
}

TEST_F(SdlBackendTest, TimerIsDueEachPeriodOneAtATimeAfterOtherMessages) {
  ASSERT_EQ(PlatformSetTimer(window, 1, 40), 1u);
  MSG m;
  EXPECT_FALSE(PlatformPeekMessage(&m, PM_REMOVE));  // not due yet
  PlatformSleep(300);  // seven periods late
  PlatformPostMessage(window, 0x400, 0, 0);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, 0x400u);  // posted messages first
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, WM_TIMER);
  EXPECT_EQ(m.wParam, 1u);
  EXPECT_EQ(m.hwnd, window);
  // One message for the late timer, not a burst.
  EXPECT_FALSE(PlatformPeekMessage(&m, PM_REMOVE));
  // Then one per period: about 25 in a second.
  int ticks = 0;
  uint32_t start = PlatformTickCount();
  while (PlatformTickCount() - start < 1000) {
    if (PlatformPeekMessage(&m, PM_REMOVE) && m.message == WM_TIMER) ++ticks;
    PlatformSleep(1);
  }
  EXPECT_GE(ticks, 22);
  EXPECT_LE(ticks, 26);
  // A destroyed window's timer stops.
  PlatformDestroyWindow(window);
  PlatformSleep(60);
  EXPECT_FALSE(PlatformPeekMessage(&m, PM_REMOVE));
  window = PlatformCreateWindowEx(0, "Test", "t", WS_VISIBLE, 0, 0, 8, 8, nullptr, nullptr);
}

// The SDL window behind the test window (titled "t"): window events are
// pushed for it as the X11 driver sends them on a minimise and a restore,
// which the offscreen driver never does itself.
SDL_Window* SdlWindowTitledT() {
  SDL_Window* found = nullptr;
  for (uint32_t id = 1; id < 4096; ++id)
    if (SDL_Window* w = SDL_GetWindowFromID(id); w && std::string(SDL_GetWindowTitle(w)) == "t") found = w;
  return found;
}

void PushWindowEvent(SDL_Window* w, uint8_t event, int32_t data1 = 0, int32_t data2 = 0) {
  SDL_Event e{};
  e.type = SDL_WINDOWEVENT;
  e.window.windowID = SDL_GetWindowID(w);
  e.window.event = event;
  e.window.data1 = data1;
  e.window.data2 = data2;
  ASSERT_EQ(SDL_PushEvent(&e), 1);
}

// Every message queued for the window from now on, oldest first.
std::vector<Seen> DrainMessages() {
  std::vector<Seen> out;
  MSG m;
  while (PlatformPeekMessage(&m, PM_REMOVE)) out.push_back({m.message, m.wParam, m.lParam});
  return out;
}

constexpr intptr_t SizeParam(int32_t width, int32_t height) { return width | (height << 16); }
constexpr uintptr_t Minimised = uintptr_t{1} << 16;  // WM_ACTIVATE's high word

void ExpectMessages(const std::vector<Seen>& got, const std::vector<Seen>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    EXPECT_EQ(got[i].message, want[i].message) << "message " << i;
    EXPECT_EQ(got[i].wParam, want[i].wParam) << "message " << i;
    EXPECT_EQ(got[i].lParam, want[i].lParam) << "message " << i;
  }
}

TEST_F(SdlBackendTest, MinimiseThenRestoreReportsTheClientSizeBeforeTheActivation) {
  SDL_Window* sdl = SdlWindowTitledT();
  ASSERT_NE(sdl, nullptr);
  DrainMessages();
  // Minimise and restore at the same size, in X11's order: SDL sends no
  // size change on the way back.
  for (uint8_t e : {SDL_WINDOWEVENT_HIDDEN, SDL_WINDOWEVENT_MINIMIZED, SDL_WINDOWEVENT_LEAVE,
                    SDL_WINDOWEVENT_FOCUS_LOST, SDL_WINDOWEVENT_RESTORED, SDL_WINDOWEVENT_SHOWN,
                    SDL_WINDOWEVENT_FOCUS_GAINED})
    PushWindowEvent(sdl, e);
  ExpectMessages(DrainMessages(), {
                                      {WM_SIZE, SIZE_MINIMIZED, 0},
                                      {WM_ACTIVATE, WA_INACTIVE | Minimised, 0},
                                      {WM_ACTIVATE, WA_INACTIVE | Minimised, 0},
                                      {WM_SIZE, SIZE_RESTORED, SizeParam(64, 48)},
                                      {WM_ACTIVATE, WA_ACTIVE, 0},
                                      {WM_ACTIVATE, WA_ACTIVE, 0},
                                  });
  // Dispatched, the restore's WM_SIZE carries width (low word) and height
  // (high word) of the client.
  PlatformPostMessage(window, WM_SIZE, SIZE_RESTORED, SizeParam(64, 48));
  MSG m;
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  PlatformDispatchMessage(&m);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].lParam & 0xFFFF, 64);
  EXPECT_EQ((seen[0].lParam >> 16) & 0xFFFF, 48);
}

TEST_F(SdlBackendTest, ASizeChangeWhileMinimisedArrivesWithTheRestoreAndARepeatIsDropped) {
  SDL_Window* sdl = SdlWindowTitledT();
  ASSERT_NE(sdl, nullptr);
  DrainMessages();
  // A full-screen window leaving and retaking its display mode: the size
  // changes while minimised, and SDL repeats it after the restore.
  PushWindowEvent(sdl, SDL_WINDOWEVENT_MINIMIZED);
  SDL_SetWindowSize(sdl, 320, 200);  // SDL queues its own size change
  PushWindowEvent(sdl, SDL_WINDOWEVENT_RESTORED);
  PushWindowEvent(sdl, SDL_WINDOWEVENT_SIZE_CHANGED, 320, 200);
  PushWindowEvent(sdl, SDL_WINDOWEVENT_SIZE_CHANGED, 330, 210);
  // Minimising twice in a row reports once.
  PushWindowEvent(sdl, SDL_WINDOWEVENT_MINIMIZED);
  PushWindowEvent(sdl, SDL_WINDOWEVENT_MINIMIZED);
  ExpectMessages(DrainMessages(), {
                                      {WM_SIZE, SIZE_MINIMIZED, 0},
                                      {WM_ACTIVATE, WA_INACTIVE | Minimised, 0},
                                      {WM_SIZE, SIZE_RESTORED, SizeParam(320, 200)},
                                      {WM_ACTIVATE, WA_ACTIVE, 0},
                                      {WM_SIZE, SIZE_RESTORED, SizeParam(330, 210)},
                                      {WM_SIZE, SIZE_MINIMIZED, 0},
                                      {WM_ACTIVATE, WA_INACTIVE | Minimised, 0},
                                  });
}

TEST_F(SdlBackendTest, ARestoreSeenOnlyAsFocusOrShowingStillReportsTheSize) {
  SDL_Window* sdl = SdlWindowTitledT();
  ASSERT_NE(sdl, nullptr);
  DrainMessages();
  // SDL itself does not count the window as minimised (the events are
  // pushed): focus, or showing, is then the restore.
  PushWindowEvent(sdl, SDL_WINDOWEVENT_MINIMIZED);
  PushWindowEvent(sdl, SDL_WINDOWEVENT_FOCUS_GAINED);
  PushWindowEvent(sdl, SDL_WINDOWEVENT_MINIMIZED);
  PushWindowEvent(sdl, SDL_WINDOWEVENT_SHOWN);
  ExpectMessages(DrainMessages(), {
                                      {WM_SIZE, SIZE_MINIMIZED, 0},
                                      {WM_ACTIVATE, WA_INACTIVE | Minimised, 0},
                                      {WM_SIZE, SIZE_RESTORED, SizeParam(64, 48)},
                                      {WM_ACTIVATE, WA_ACTIVE, 0},
                                      {WM_ACTIVATE, WA_ACTIVE, 0},
                                      {WM_SIZE, SIZE_MINIMIZED, 0},
                                      {WM_ACTIVATE, WA_INACTIVE | Minimised, 0},
                                      {WM_SIZE, SIZE_RESTORED, SizeParam(64, 48)},
                                      {WM_ACTIVATE, WA_ACTIVE, 0},
                                  });
}

TEST_F(SdlBackendTest, DisplayModeMustBeOfferedAndRestores) {
  DEVMODEA mode{};
  mode.dmSize = 148;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  mode.dmPelsWidth = 12345;
  mode.dmPelsHeight = 7;
  mode.dmBitsPerPel = 16;
  EXPECT_EQ(PlatformChangeDisplaySettings(&mode, CDS_FULLSCREEN), DISP_CHANGE_BADMODE);
  EXPECT_EQ(PlatformChangeDisplaySettings(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
}

TEST_F(SdlBackendTest, CursorCounterFollowsShowAndHide) {
  int32_t base = PlatformShowCursor(true) - 1;
  EXPECT_EQ(PlatformShowCursor(false), base);
  EXPECT_EQ(PlatformShowCursor(false), base - 1);
  EXPECT_EQ(PlatformShowCursor(true), base);
}

TEST(SdlMessageBox, WithoutAnyDisplayTheTextGoesToStandardError) {
  unsetenv("DISPLAY");
  unsetenv("WAYLAND_DISPLAY");
  testing::internal::CaptureStderr();
  EXPECT_EQ(PlatformMessageBox(nullptr, "Could not open window", "Error", MB_OK), 0);
  std::string err = testing::internal::GetCapturedStderr();
  EXPECT_NE(err.find("Error: Could not open window\n"), std::string::npos) << err;
}

}  // namespace

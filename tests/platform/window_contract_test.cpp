// What the shell assumes of any window-system backend (platform/window.h),
// one test file built against each backend: null, SDL (offscreen driver)
// and Windows (under Wine). Where backends legitimately differ, the
// backend's traits (contract/*_traits.cpp) say so and the case is skipped
// with the reason.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "tests/platform/contract/contract_backend.h"

namespace {

struct Seen {
  WindowHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
std::vector<Seen> seen;

bool Interesting(uint32_t message) {
  return message >= 0x400 || message == WM_CLOSE || message == WM_SIZE || message == WM_ACTIVATE ||
         message == WM_TIMER || message == WM_SYSCOMMAND;
}

// Records what the shell's procedure looks at; user messages answer 42,
// WM_CLOSE keeps the window (as the shell does), the rest is default.
intptr_t RecordingProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (Interesting(message)) seen.push_back({window, message, wParam, lParam});
  if (message >= 0x400) return 42;
  if (message == WM_CLOSE || message == WM_TIMER) return 0;
  return PlatformDefWindowProc(window, message, wParam, lParam);
}

std::vector<Seen> SeenOf(uint32_t message) {
  std::vector<Seen> out;
  for (const Seen& s : seen)
    if (s.message == message) out.push_back(s);
  return out;
}

// Takes and dispatches whatever waits, up to a bound; WM_TIMERs are taken
// too. Answers the number of messages taken.
int Pump(int limit = 1000) {
  MSG m;
  int taken = 0;
  while (taken < limit && PlatformPeekMessage(&m, PM_REMOVE)) {
    ++taken;
    if (m.message == WM_QUIT) continue;
    PlatformTranslateMessage(&m);
    PlatformDispatchMessage(&m);
  }
  return taken;
}

// Pumps for up to ms milliseconds or until message has been seen.
bool PumpUntilSeen(uint32_t message, uint32_t ms = 2000) {
  uint32_t start = PlatformTickCount();
  do {
    Pump();
    if (!SeenOf(message).empty()) return true;
    PlatformSleep(5);
  } while (PlatformTickCount() - start < ms);
  return false;
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

constexpr const char* ClassName = "ContractTest";
constexpr uint32_t ShellClassStyle = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;

WindowHandle NewWindow(uint32_t style, int32_t width = 64, int32_t height = 48) {
  return PlatformCreateWindowEx(0, ClassName, "contract", style, 0, 0, width, height, nullptr,
                                PlatformGetModuleHandle());
}

class WindowContract : public ::testing::Test {
 protected:
  void SetUp() override {
    if (ContractBackend.reset) ContractBackend.reset();
    WNDCLASSA c{};
    c.style = ShellClassStyle;
    c.lpfnWndProc = RecordingProc;
    c.hInstance = PlatformGetModuleHandle();
    c.lpszClassName = ClassName;
    ASSERT_NE(PlatformRegisterClass(&c), 0);
    window = NewWindow(WS_POPUP | WS_VISIBLE);
    ASSERT_NE(window, nullptr);
    Pump();
    seen.clear();
  }
  void TearDown() override {
    Pump();
    if (window) PlatformDestroyWindow(window);
    Pump();
    EXPECT_TRUE(PlatformUnregisterClass(ClassName, PlatformGetModuleHandle()));
  }
  WindowHandle window = nullptr;
};

TEST_F(WindowContract, ClassesAndWindowsLiveAndGoInOrder) {
  WNDCLASSA again{};
  again.lpfnWndProc = RecordingProc;
  again.hInstance = PlatformGetModuleHandle();
  again.lpszClassName = ClassName;
  EXPECT_EQ(PlatformRegisterClass(&again), 0) << "already registered";
  WNDCLASSA noProc{};
  noProc.hInstance = PlatformGetModuleHandle();
  noProc.lpszClassName = "ContractNoProc";
  EXPECT_EQ(PlatformRegisterClass(&noProc), 0) << "a class needs a procedure";
  EXPECT_EQ(PlatformCreateWindowEx(0, "ContractNope", "t", WS_VISIBLE, 0, 0, 8, 8, nullptr,
                                   PlatformGetModuleHandle()),
            nullptr);
  EXPECT_FALSE(PlatformUnregisterClass(ClassName, PlatformGetModuleHandle())) << "a window of it exists";
  WindowHandle second = NewWindow(WS_POPUP | WS_VISIBLE);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(second, window);
  EXPECT_TRUE(PlatformDestroyWindow(second));
  EXPECT_FALSE(PlatformDestroyWindow(second)) << "destroyed twice";
  EXPECT_EQ(PlatformGetWindowThreadProcessId(second, nullptr), 0u);
  EXPECT_FALSE(PlatformIsWindowVisible(second));
  EXPECT_TRUE(PlatformDestroyWindow(window));
  window = nullptr;
  // No window of the class is left: TearDown's unregistration must succeed.
}

TEST_F(WindowContract, WindowedStyleGetsAClientAreaOfTheAskedSize) {
  // As the shell opens its window: the outer size from AdjustWindowRectEx.
  RECT rect{0, 0, 640, 480};
  ASSERT_TRUE(PlatformAdjustWindowRectEx(&rect, WS_OVERLAPPEDWINDOW, false, WS_EX_APPWINDOW | WS_EX_WINDOWEDGE));
  EXPECT_LE(rect.left, 0);
  EXPECT_LE(rect.top, 0);
  EXPECT_GE(rect.right - rect.left, 640);
  EXPECT_GE(rect.bottom - rect.top, 480);
  if (!ContractBackend.reportsSizeOnCreate)
    GTEST_SKIP() << ContractBackend.name << ": a new window reports no size here";
  WindowHandle framed = PlatformCreateWindowEx(
      WS_EX_APPWINDOW | WS_EX_WINDOWEDGE, ClassName, "framed",
      WS_OVERLAPPEDWINDOW | WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU, 0, 0,
      rect.right - rect.left, rect.bottom - rect.top, nullptr, PlatformGetModuleHandle());
  ASSERT_NE(framed, nullptr);
  Pump();
  std::vector<Seen> sizes;
  for (const Seen& s : SeenOf(WM_SIZE))
    if (s.window == framed) sizes.push_back(s);
  ASSERT_FALSE(sizes.empty());
  // Width in the low 16 bits of lParam, height in the high 16 bits.
  EXPECT_EQ(sizes.back().lParam, intptr_t{640} | (intptr_t{480} << 16));
  EXPECT_EQ(sizes.back().wParam, SIZE_RESTORED);
  EXPECT_TRUE(PlatformDestroyWindow(framed));
}

TEST_F(WindowContract, PixelFormatThenAContextThatDraws) {
  if (!ContractBackend.hasGL) GTEST_SKIP() << ContractBackend.name << " has no GL";
  DeviceContextHandle dc = PlatformGetDC(window);
  ASSERT_NE(dc, nullptr);
  PIXELFORMATDESCRIPTOR request = Request();
  int32_t format = PlatformChoosePixelFormat(dc, &request);
  ASSERT_GT(format, 0);
  ASSERT_TRUE(PlatformSetPixelFormat(dc, format, &request));
  RenderContextHandle rc = PlatformCreateContext(dc);
  ASSERT_NE(rc, nullptr);
  ASSERT_TRUE(PlatformMakeCurrent(dc, rc));
  const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
  const char* renderer = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
  ASSERT_NE(version, nullptr);
  ASSERT_NE(renderer, nullptr);
  std::printf("[%s] GL %s on %s\n", ContractBackend.name, version, renderer);
  GLint depth = 0;
  glGetIntegerv(GL_DEPTH_BITS, &depth);
  EXPECT_GE(depth, 16);
  glClearColor(0, 0, 0, 0);
  glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
  EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
  EXPECT_TRUE(PlatformSwapBuffers(dc));
  EXPECT_EQ(PlatformReleaseDC(window, dc), 1);
  EXPECT_TRUE(PlatformMakeCurrent(nullptr, nullptr));
  EXPECT_TRUE(PlatformDeleteContext(rc));
  EXPECT_FALSE(PlatformDeleteContext(rc)) << "deleted twice";
  EXPECT_FALSE(PlatformMakeCurrent(dc, rc)) << "a deleted context";
}

TEST_F(WindowContract, PostedMessagesComeOneAtATimeInOrderAndDispatchToTheClass) {
  ASSERT_TRUE(PlatformPostMessage(window, 0x400, 1, 2));
  ASSERT_TRUE(PlatformPostMessage(window, 0x401, 3, 4));
  PlatformPostQuitMessage(9);
  MSG m;
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_NOREMOVE));
  EXPECT_EQ(m.message, 0x400u);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, 0x400u) << "looking did not take it";
  EXPECT_EQ(m.hwnd, window);
  EXPECT_EQ(PlatformDispatchMessage(&m), 42);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, 0x401u);
  EXPECT_EQ(m.wParam, 3u);
  EXPECT_EQ(m.lParam, 4);
  ASSERT_TRUE(PlatformPeekMessage(&m, PM_REMOVE));
  EXPECT_EQ(m.message, WM_QUIT);
  EXPECT_EQ(m.hwnd, nullptr);
  EXPECT_EQ(m.wParam, 9u);
  EXPECT_EQ(PlatformDispatchMessage(&m), 0) << "WM_QUIT is for no window";
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0].message, 0x400u);
  EXPECT_EQ(seen[0].window, window);
  EXPECT_EQ(seen[0].lParam, 2);
}

TEST_F(WindowContract, PostingFromAnotherThreadKeepsOrder) {
  constexpr uintptr_t Count = 500;
  // The reader looks only when the poster has posted more than it has taken:
  // a scripted backend counts empty looks and ends a test that spins on
  // them, which a slowly starting poster thread would otherwise cause.
  std::atomic<uintptr_t> posted{0};
  std::thread poster([this, &posted] {
    for (uintptr_t i = 0; i < Count; ++i) {
      PlatformPostMessage(window, 0x400, i, 0);
      posted.store(i + 1);
    }
  });
  MSG m;
  uintptr_t expected = 0;
  uint32_t start = PlatformTickCount();
  while (expected < Count && PlatformTickCount() - start < 10000) {
    if (posted.load() <= expected) {
      std::this_thread::yield();
      continue;
    }
    if (PlatformPeekMessage(&m, PM_REMOVE) && m.message == 0x400) {
      EXPECT_EQ(m.wParam, expected);
      expected = m.wParam + 1;
    }
  }
  poster.join();
  EXPECT_EQ(expected, Count);
}

TEST_F(WindowContract, DefaultHandlingClosesOnSysCloseAndAltF4Only) {
  PlatformDefWindowProc(window, WM_SYSCOMMAND, SC_CLOSE, 0);
  ASSERT_EQ(SeenOf(WM_CLOSE).size(), 1u) << "SC_CLOSE sends WM_CLOSE at once";
  seen.clear();
  // The low four bits of a system command are the system's own.
  PlatformDefWindowProc(window, WM_SYSCOMMAND, SC_CLOSE | 2, 0);
  ASSERT_EQ(SeenOf(WM_CLOSE).size(), 1u) << "SC_CLOSE with low bits set";
  seen.clear();
  // Alt+F4 asks for SC_CLOSE: at once or through the queue (Windows posts it).
  PlatformDefWindowProc(window, WM_SYSKEYDOWN, VK_F4, KeyLParamAltDown);
  ASSERT_TRUE(PumpUntilSeen(WM_CLOSE, 1000));
  std::vector<Seen> commands = SeenOf(WM_SYSCOMMAND);
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].wParam & 0xFFF0, SC_CLOSE);
  seen.clear();
  PlatformDefWindowProc(window, WM_SYSKEYDOWN, VK_F4, 0);                  // F4 without Alt
  PlatformDefWindowProc(window, WM_KEYDOWN, VK_F4, KeyLParamAltDown);      // not a system key
  PlatformDefWindowProc(window, WM_SYSKEYDOWN, 'X', KeyLParamAltDown);     // another Alt key
  Pump();
  PlatformSleep(50);
  Pump();
  EXPECT_TRUE(SeenOf(WM_CLOSE).empty());
}

TEST_F(WindowContract, TimerComesAfterOtherMessagesOneAtATimeAndStopsWithItsWindow) {
  if (!ContractBackend.deliversTimers) GTEST_SKIP() << ContractBackend.name << " scripts its timers";
  ASSERT_NE(PlatformSetTimer(window, 1, 40), 0u);
  PlatformSleep(300);  // seven periods late
  ASSERT_TRUE(PlatformPostMessage(window, 0x400, 0, 0));
  MSG m;
  std::vector<uint32_t> order;
  while (PlatformPeekMessage(&m, PM_REMOVE)) {
    if (m.message == 0x400 || m.message == WM_TIMER) order.push_back(m.message);
    if (m.message == WM_TIMER) {
      EXPECT_EQ(m.wParam, 1u);
      EXPECT_EQ(m.hwnd, window);
    }
    PlatformDispatchMessage(&m);
  }
  // The posted message first, then one WM_TIMER for the late timer, not a burst.
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], 0x400u);
  EXPECT_EQ(order[1], WM_TIMER);
  EXPECT_EQ(SeenOf(WM_TIMER).size(), 1u) << "dispatched to the window's procedure";
  // The rate, for the record (not asserted: shared machines vary).
  int ticks = 0;
  uint32_t start = PlatformTickCount();
  while (PlatformTickCount() - start < 1000) {
    if (PlatformPeekMessage(&m, PM_REMOVE) && m.message == WM_TIMER) ++ticks;
    PlatformSleep(1);
  }
  std::printf("[%s] 40 ms timer: %d WM_TIMER in 1 s\n", ContractBackend.name, ticks);
  EXPECT_GT(ticks, 0);
  PlatformDestroyWindow(window);
  window = nullptr;
  PlatformSleep(100);
  bool timerAfterDestroy = false;
  while (PlatformPeekMessage(&m, PM_REMOVE)) timerAfterDestroy |= m.message == WM_TIMER;
  EXPECT_FALSE(timerAfterDestroy);
}

TEST_F(WindowContract, ADestroyedWindowsMessagesNeverReachItsProcedure) {
  ASSERT_TRUE(PlatformPostMessage(window, 0x402, 0, 0));
  ASSERT_TRUE(PlatformDestroyWindow(window));
  WindowHandle gone = window;
  window = nullptr;
  seen.clear();
  // Its posted messages go with it; none reaches the procedure.
  MSG m;
  while (PlatformPeekMessage(&m, PM_REMOVE)) {
    EXPECT_NE(m.message, 0x402u);
    EXPECT_NE(m.hwnd, gone);
    PlatformDispatchMessage(&m);
  }
  EXPECT_TRUE(seen.empty());
}

TEST_F(WindowContract, PostingNeedsALiveWindowOrNoneAndAThreadMessageReachesNoProcedure) {
  WindowHandle gone = NewWindow(WS_POPUP);
  ASSERT_NE(gone, nullptr);
  ASSERT_TRUE(PlatformDestroyWindow(gone));
  EXPECT_FALSE(PlatformPostMessage(gone, 0x403, 0, 0)) << "PostMessage to a destroyed window fails";
  ASSERT_TRUE(PlatformPostMessage(nullptr, 0x404, 5, 6)) << "a message for the thread";
  MSG m;
  bool threadMessage = false;
  while (PlatformPeekMessage(&m, PM_REMOVE)) {
    EXPECT_NE(m.message, 0x403u);
    if (m.message != 0x404) continue;
    threadMessage = true;
    EXPECT_EQ(m.hwnd, nullptr);
    EXPECT_EQ(m.wParam, 5u);
    EXPECT_EQ(PlatformDispatchMessage(&m), 0) << "no window to dispatch to";
  }
  EXPECT_TRUE(threadMessage);
  // Neither reached a procedure (Windows may send the others system messages).
  EXPECT_TRUE(SeenOf(0x403).empty());
  EXPECT_TRUE(SeenOf(0x404).empty());
  // A destroyed window is no longer listed, enabled or owned.
  std::vector<WindowHandle> listed;
  PlatformEnumWindows(
      [](WindowHandle w, intptr_t list) {
        reinterpret_cast<std::vector<WindowHandle>*>(list)->push_back(w);
        return true;
      },
      reinterpret_cast<intptr_t>(&listed));
  for (WindowHandle w : listed) EXPECT_NE(w, gone);
  EXPECT_FALSE(PlatformEnableWindow(gone, true));
  EXPECT_FALSE(PlatformIsWindowEnabled(gone));
  EXPECT_EQ(PlatformGetWindowThreadProcessId(gone, nullptr), 0u);
}

TEST_F(WindowContract, AnUnregisteredClassIsGoneAndItsNameFreeAgain) {
  EXPECT_FALSE(PlatformUnregisterClass("ContractNeverRegistered", PlatformGetModuleHandle()));
  WNDCLASSA other{};
  other.lpfnWndProc = RecordingProc;
  other.hInstance = PlatformGetModuleHandle();
  other.lpszClassName = "ContractOther";
  ASSERT_NE(PlatformRegisterClass(&other), 0);
  EXPECT_TRUE(PlatformUnregisterClass("ContractOther", PlatformGetModuleHandle()));
  EXPECT_FALSE(PlatformUnregisterClass("ContractOther", PlatformGetModuleHandle())) << "twice";
  EXPECT_EQ(PlatformCreateWindowEx(0, "ContractOther", "t", WS_POPUP, 0, 0, 8, 8, nullptr,
                                   PlatformGetModuleHandle()),
            nullptr);
  ASSERT_NE(PlatformRegisterClass(&other), 0) << "the name is free again";
  WindowHandle w = PlatformCreateWindowEx(0, "ContractOther", "t", WS_POPUP, 0, 0, 8, 8, nullptr,
                                          PlatformGetModuleHandle());
  ASSERT_NE(w, nullptr);
  EXPECT_TRUE(PlatformDestroyWindow(w));
  EXPECT_TRUE(PlatformUnregisterClass("ContractOther", PlatformGetModuleHandle()));
}

TEST_F(WindowContract, RequesterServicesSeeTheThreadsWindows) {
  WindowHandle hidden = NewWindow(WS_POPUP);
  ASSERT_NE(hidden, nullptr);
  std::vector<WindowHandle> listed;
  EXPECT_TRUE(PlatformEnumWindows(
      [](WindowHandle w, intptr_t list) {
        reinterpret_cast<std::vector<WindowHandle>*>(list)->push_back(w);
        return true;
      },
      reinterpret_cast<intptr_t>(&listed)));
  int ours = 0;
  for (WindowHandle w : listed) ours += (w == window) + (w == hidden);
  EXPECT_EQ(ours, 2) << "each top-level window once";
  // Stopping early answers false.
  EXPECT_FALSE(PlatformEnumWindows([](WindowHandle, intptr_t) { return false; }, 0));
  uint32_t process = 0;
  EXPECT_EQ(PlatformGetWindowThreadProcessId(window, &process), PlatformGetCurrentThreadId());
  EXPECT_EQ(process, PlatformGetCurrentProcessId());
  EXPECT_TRUE(PlatformIsWindowVisible(window));
  EXPECT_FALSE(PlatformIsWindowVisible(hidden));
  EXPECT_TRUE(PlatformIsWindowEnabled(window));
  EXPECT_FALSE(PlatformEnableWindow(window, false)) << "was enabled";
  EXPECT_FALSE(PlatformIsWindowEnabled(window));
  EXPECT_TRUE(PlatformEnableWindow(window, false)) << "was disabled";
  EXPECT_TRUE(PlatformEnableWindow(window, true)) << "was disabled";
  EXPECT_TRUE(PlatformIsWindowEnabled(window));
  EXPECT_TRUE(PlatformDestroyWindow(hidden));
  EXPECT_FALSE(PlatformIsWindowEnabled(hidden));
}

TEST_F(WindowContract, MinimisingReportsTheMinimisedFlag) {
  if (!ContractBackend.minimises) GTEST_SKIP() << ContractBackend.name << " cannot minimise here";
  PlatformSetForegroundWindow(window);
  Pump();
  seen.clear();
  PlatformDefWindowProc(window, WM_SYSCOMMAND, SC_MINIMIZE, 0);
  Pump();
  PlatformSleep(50);
  Pump();
  // The shell needs: a WM_SIZE of SIZE_MINIMIZED, and the last WM_ACTIVATE
  // with the minimised flag in its high word. The order of the two differs.
  std::string order;
  for (const Seen& s : seen) {
    if (s.message == WM_SIZE) order += "size(" + std::to_string(s.wParam) + ") ";
    if (s.message == WM_ACTIVATE)
      order += "activate(" + std::to_string(s.wParam & 0xFFFF) + "," + std::to_string(s.wParam >> 16) + ") ";
  }
  std::printf("[%s] minimise: %s\n", ContractBackend.name, order.c_str());
  bool minimisedSize = false;
  for (const Seen& s : SeenOf(WM_SIZE)) minimisedSize |= s.wParam == SIZE_MINIMIZED;
  EXPECT_TRUE(minimisedSize);
  if (!ContractBackend.minimiseDeactivates) return;  // see the backend's traits
  std::vector<Seen> activations = SeenOf(WM_ACTIVATE);
  ASSERT_FALSE(activations.empty());
  EXPECT_EQ(activations.back().wParam >> 16, 1u) << "minimised";
  EXPECT_EQ(activations.back().wParam & 0xFFFF, WA_INACTIVE);
}

TEST_F(WindowContract, DisplayModeIsRefusedUnlessOfferedAndRestores) {
  DEVMODEA mode{};
  mode.dmSize = 148;
  mode.dmFields = DM_PELSWIDTH | DM_PELSHEIGHT | DM_BITSPERPEL;
  mode.dmPelsWidth = 12345;
  mode.dmPelsHeight = 7;
  mode.dmBitsPerPel = 16;
  if (ContractBackend.grantsEveryMode) {
    EXPECT_EQ(PlatformChangeDisplaySettings(&mode, CDS_FULLSCREEN), DISP_CHANGE_SUCCESSFUL);
  } else {
    EXPECT_LT(PlatformChangeDisplaySettings(&mode, CDS_FULLSCREEN), 0);
  }
  EXPECT_EQ(PlatformChangeDisplaySettings(nullptr, 0), DISP_CHANGE_SUCCESSFUL);
}

TEST_F(WindowContract, CursorCounterFollowsShowAndHide) {
  int32_t base = PlatformShowCursor(true) - 1;
  EXPECT_EQ(PlatformShowCursor(false), base);
  EXPECT_EQ(PlatformShowCursor(false), base - 1);
  EXPECT_EQ(PlatformShowCursor(true), base);
}

TEST_F(WindowContract, KeyMessagesTranslateAsKeysAndOthersNot) {
  MSG key{window, WM_KEYDOWN, 'A', 1};
  EXPECT_TRUE(PlatformTranslateMessage(&key));
  MSG sys{window, WM_SYSKEYDOWN, VK_F4, 1 | KeyLParamAltDown};
  EXPECT_TRUE(PlatformTranslateMessage(&sys));
  MSG other{window, 0x400, 0, 0};
  EXPECT_FALSE(PlatformTranslateMessage(&other));
  Pump();  // character messages, where made, go to the default handling
}

}  // namespace

// The Windows backend where it meets the real system (run under Wine and
// Xvfb): the shell's window sizes, key messages from real input, WM_SIZE
// packing, minimising, and the requester's disabled-window list around a
// real MessageBoxA.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/shell.h"
#include "platform/clock.h"
#include "platform/heap.h"
#include "platform/window.h"
#include "tests/platform/win32/win32_probe.h"

namespace {

struct Seen {
  WindowHandle window;
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};
std::vector<Seen> seen;
constexpr uint32_t WM_CHAR_ = 0x0102;  // the character message TranslateMessage queues

intptr_t RecordingProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  if (message == WM_SIZE || message == WM_ACTIVATE || message == WM_KEYDOWN || message == WM_KEYUP ||
      message == WM_SYSKEYDOWN || message == WM_SYSKEYUP || message == WM_CLOSE || message == WM_CHAR_)
    seen.push_back({window, message, wParam, lParam});
  if (message == WM_CLOSE) return 0;  // kept, as the shell keeps it
  return PlatformDefWindowProc(window, message, wParam, lParam);
}

void Pump() {
  MSG m;
  for (int i = 0; i < 1000 && PlatformPeekMessage(&m, PM_REMOVE); ++i) {
    if (m.message == WM_QUIT) continue;
    PlatformTranslateMessage(&m);
    PlatformDispatchMessage(&m);
  }
}

// Pumps for ms milliseconds: input reaches the queue asynchronously.
void PumpFor(uint32_t ms) {
  uint32_t start = PlatformTickCount();
  do {
    Pump();
    PlatformSleep(5);
  } while (PlatformTickCount() - start < ms);
  Pump();
}

std::vector<Seen> SeenOf(uint32_t message) {
  std::vector<Seen> out;
  for (const Seen& s : seen)
    if (s.message == message) out.push_back(s);
  return out;
}

constexpr intptr_t PackSize(int32_t width, int32_t height) {
  return static_cast<intptr_t>(static_cast<uint32_t>(width) | (static_cast<uint32_t>(height) << 16));
}

constexpr const char* ClassName = "Win32BackendTest";
constexpr uint32_t WindowedStyle = WS_OVERLAPPEDWINDOW;
constexpr uint32_t WindowedExStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
constexpr uint32_t CreationBits = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU;

class Win32Backend : public ::testing::Test {
 protected:
  void SetUp() override {
    seen.clear();
    // The class as the shell registers it.
    WNDCLASSA c{};
    c.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
    c.lpfnWndProc = RecordingProc;
    c.hInstance = PlatformGetModuleHandle();
    c.hIcon = IDI_WINLOGO;
    c.hCursor = IDC_ARROW;
    c.hbrBackground = COLOR_BTNFACE + 1;
    c.lpszClassName = ClassName;
    ASSERT_NE(PlatformRegisterClass(&c), 0);
  }
  void TearDown() override {
    for (WindowHandle w : windows) PlatformDestroyWindow(w);
    Pump();
    EXPECT_TRUE(PlatformUnregisterClass(ClassName, PlatformGetModuleHandle()));
  }
  // A window as the shell opens it: windowed (framed) or the popup style.
  WindowHandle ShellWindow(bool popup, const char* title = "Zephyra (Party)") {
    uint32_t style = popup ? WS_POPUP : WindowedStyle;
    uint32_t exStyle = popup ? WS_EX_APPWINDOW : WindowedExStyle;
    RECT rect{0, 0, 640, 480};
    EXPECT_TRUE(PlatformAdjustWindowRectEx(&rect, style, false, exStyle));
    WindowHandle w = PlatformCreateWindowEx(exStyle, ClassName, title, style | CreationBits, 0, 0,
                                            rect.right - rect.left, rect.bottom - rect.top, nullptr,
                                            PlatformGetModuleHandle());
    if (w) windows.push_back(w);
    return w;
  }
  WindowHandle Focused(bool popup) {
    WindowHandle w = ShellWindow(popup);
    if (!w) return nullptr;
    PlatformShowWindow(w, SW_SHOW);
    PlatformSetForegroundWindow(w);
    PlatformSetFocus(w);
    PumpFor(100);
    seen.clear();
    return w;
  }
  std::vector<WindowHandle> windows;
};

TEST_F(Win32Backend, ShellWindowsHaveA640x480ClientAreaWithTheOuterCornerAtTheOrigin) {
  for (bool popup : {false, true}) {
    SCOPED_TRACE(popup ? "popup" : "windowed");
    WindowHandle w = ShellWindow(popup);
    ASSERT_NE(w, nullptr);
    Pump();
    int32_t width = 0, height = 0, left = -1, top = -1;
    ASSERT_TRUE(ProbeClientSize(w, &width, &height));
    EXPECT_EQ(width, 640);
    EXPECT_EQ(height, 480);
    ASSERT_TRUE(ProbeOuterOrigin(w, &left, &top));
    EXPECT_EQ(left, 0);
    EXPECT_EQ(top, 0);
    // The size reached the procedure while the window was being created.
    std::vector<Seen> sizes = SeenOf(WM_SIZE);
    ASSERT_FALSE(sizes.empty());
    EXPECT_EQ(sizes.back().lParam, PackSize(640, 480));
    seen.clear();
  }
}

TEST_F(Win32Backend, RealKeysArriveAsVirtualKeysWithRepeatAltAndTransitionBits) {
  WindowHandle w = Focused(false);
  ASSERT_NE(w, nullptr);
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_ESCAPE), true));
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_ESCAPE), true));  // auto-repeat
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_ESCAPE), false));
  ASSERT_TRUE(ProbeSendKey('A', true));
  ASSERT_TRUE(ProbeSendKey('A', false));
  PumpFor(300);
  std::vector<Seen> downs = SeenOf(WM_KEYDOWN);
  std::vector<Seen> ups = SeenOf(WM_KEYUP);
  ASSERT_EQ(downs.size(), 3u);
  ASSERT_EQ(ups.size(), 2u);
  EXPECT_EQ(downs[0].window, w);
  EXPECT_EQ(downs[0].wParam, VK_ESCAPE);
  EXPECT_EQ((downs[0].lParam >> 30) & 1, 0) << "first press: key was up before";
  EXPECT_EQ(downs[1].wParam, VK_ESCAPE);
  EXPECT_EQ((downs[1].lParam >> 30) & 1, 1) << "repeat: key was down before";
  EXPECT_EQ(ups[0].wParam, VK_ESCAPE);
  EXPECT_EQ((ups[0].lParam >> 31) & 1, 1) << "release transition";
  EXPECT_EQ(downs[2].wParam, static_cast<uintptr_t>('A'));
  // TranslateMessage made a character of the letter (none of Escape's
  // presses is looked at by the shell; the letter's character is 'a').
  bool letter = false;
  for (const Seen& s : SeenOf(WM_CHAR_)) letter |= s.wParam == 'a';
  EXPECT_TRUE(letter);
  // Alt+F4: a system key with the Alt bit; the default handling closes.
  seen.clear();
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_MENU), true));
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_F4), true));
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_F4), false));
  ASSERT_TRUE(ProbeSendKey(static_cast<uint16_t>(VK_MENU), false));
  PumpFor(300);
  bool altF4 = false;
  for (const Seen& s : SeenOf(WM_SYSKEYDOWN))
    altF4 |= s.wParam == VK_F4 && (s.lParam & KeyLParamAltDown) != 0;
  EXPECT_TRUE(altF4);
  EXPECT_TRUE(SeenOf(WM_KEYDOWN).empty()) << "Alt combinations are system keys";
  EXPECT_EQ(SeenOf(WM_CLOSE).size(), 1u);
}

TEST_F(Win32Backend, SizeMessagesPackWidthLowAndHeightHigh) {
  WindowHandle w = Focused(true);
  ASSERT_NE(w, nullptr);
  for (auto [width, height] : {std::pair{1000, 700}, std::pair{320, 200}, std::pair{1, 0}}) {
    seen.clear();
    ASSERT_TRUE(ProbeSetClientSize(w, width, height));
    Pump();
    std::vector<Seen> sizes = SeenOf(WM_SIZE);
    ASSERT_FALSE(sizes.empty()) << width << "x" << height;
    EXPECT_EQ(sizes.back().wParam, SIZE_RESTORED);
    EXPECT_EQ(sizes.back().lParam, PackSize(width, height)) << width << "x" << height;
  }
}

TEST_F(Win32Backend, MinimisingAndRestoringReportTheStateInSizeAndActivation) {
  WindowHandle w = Focused(false);
  ASSERT_NE(w, nullptr);
  auto trace = [] {
    std::string out;
    for (const Seen& s : seen) {
      if (s.message == WM_SIZE)
        out += "size(" + std::to_string(s.wParam) + "," + std::to_string(s.lParam & 0xFFFF) + "x" +
               std::to_string((s.lParam >> 16) & 0xFFFF) + ") ";
      if (s.message == WM_ACTIVATE)
        out += "activate(" + std::to_string(s.wParam & 0xFFFF) + "," + std::to_string(s.wParam >> 16) + ") ";
    }
    return out;
  };
  PlatformShowWindow(w, ProbeSwMinimize);
  PumpFor(100);
  std::printf("minimise: %s\n", trace().c_str());
  EXPECT_TRUE(ProbeIsIconic(w));
  std::vector<Seen> sizes = SeenOf(WM_SIZE);
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes.back().wParam, SIZE_MINIMIZED);
  EXPECT_EQ(sizes.back().lParam, 0) << "a minimised window reports 0 x 0";
  seen.clear();
  PlatformShowWindow(w, ProbeSwRestore);
  PumpFor(100);
  std::printf("restore: %s\n", trace().c_str());
  EXPECT_FALSE(ProbeIsIconic(w));
  sizes = SeenOf(WM_SIZE);
  ASSERT_FALSE(sizes.empty());
  EXPECT_EQ(sizes.back().wParam, SIZE_RESTORED);
  EXPECT_EQ(sizes.back().lParam, PackSize(640, 480));
  // Restoring activates the window: its last WM_ACTIVATE says "not minimised".
  std::vector<Seen> activations = SeenOf(WM_ACTIVATE);
  if (!activations.empty()) {
    EXPECT_EQ(activations.back().wParam >> 16, 0u);
  }
  // An inactive window shown minimised and activated at once: its
  // activation carries the minimised flag in its high word.
  WindowHandle other = ShellWindow(true, "other");
  ASSERT_NE(other, nullptr);
  PlatformSetForegroundWindow(other);
  PumpFor(100);
  ASSERT_EQ(PlatformGetForegroundWindow(), other);
  seen.clear();
  PlatformShowWindow(w, ProbeSwShowMinimized);
  PumpFor(100);
  std::printf("show minimised: %s\n", trace().c_str());
  activations.clear();
  for (const Seen& s : SeenOf(WM_ACTIVATE))
    if (s.window == w) activations.push_back(s);
  ASSERT_FALSE(activations.empty());
  EXPECT_NE(activations.back().wParam & 0xFFFF, WA_INACTIVE);
  EXPECT_NE(activations.back().wParam >> 16, 0u) << "minimised";
}

// The requester around a real MessageBoxA: a helper thread looks at the
// windows while the box is open, then answers it.
struct BoxSighting {
  bool found = false;
  bool enabled[4] = {};
  NativeWindow owner = nullptr;
  bool yes = false, no = false, ok = false, icon = true;
};

void WatchAndAnswer(const char* title, int32_t answer, const std::vector<WindowHandle>& watched,
                    BoxSighting* out) {
  NativeWindow box = ProbeFindWindow(title, 10000);
  if (!box) return;
  out->found = true;
  for (size_t i = 0; i < watched.size() && i < 4; ++i) out->enabled[i] = PlatformIsWindowEnabled(watched[i]);
  out->owner = ProbeOwner(box);
  out->yes = ProbeHasControl(box, IDYES);
  out->no = ProbeHasControl(box, IDNO);
  out->ok = ProbeHasControl(box, IDOK);
  out->icon = ProbeHasIcon(box);
  ProbeAnswer(box, answer);
}

TEST_F(Win32Backend, RequesterDisablesExactlyTheThreadsOtherVisibleEnabledWindows) {
  ObjectListHeap = PlatformHeapCreate(1024);
  ASSERT_NE(ObjectListHeap, nullptr);
  DisabledWindowList = nullptr;
  WindowHandle plain = ShellWindow(true, "plain");
  WindowHandle disabled = ShellWindow(true, "disabled");
  WindowHandle hidden = PlatformCreateWindowEx(0, ClassName, "hidden", WS_POPUP, 0, 0, 8, 8, nullptr,
                                               PlatformGetModuleHandle());
  ASSERT_TRUE(plain && disabled && hidden);
  windows.push_back(hidden);
  WindowHandle foreground = Focused(true);
  ASSERT_NE(foreground, nullptr);
  PlatformEnableWindow(disabled, false);
  ASSERT_EQ(PlatformGetForegroundWindow(), foreground);
  std::vector<WindowHandle> watched{plain, disabled, hidden, foreground};

  BoxSighting question;
  std::thread helper(WatchAndAnswer, "Requester test", IDNO, watched, &question);
  int result = ShowMessageRequester("Requester test", "Fullscreen?", MB_YESNO);
  helper.join();
  ASSERT_TRUE(question.found);
  EXPECT_EQ(result, IDNO);
  EXPECT_FALSE(question.enabled[0]) << "the thread's visible, enabled window is disabled";
  EXPECT_FALSE(question.enabled[1]) << "already disabled: left so";
  EXPECT_TRUE(question.enabled[2]) << "hidden: not touched";
  // The foreground window owns the box, which disables it while it is open.
  EXPECT_EQ(question.owner, foreground);
  EXPECT_TRUE(question.yes && question.no && !question.ok);
  EXPECT_FALSE(question.icon);
  // Afterwards: exactly the windows the requester disabled are enabled.
  EXPECT_TRUE(PlatformIsWindowEnabled(plain));
  EXPECT_FALSE(PlatformIsWindowEnabled(disabled));
  EXPECT_TRUE(PlatformIsWindowEnabled(hidden));
  EXPECT_TRUE(PlatformIsWindowEnabled(foreground));
  EXPECT_EQ(DisabledWindowList, nullptr);

  BoxSighting error;
  helper = std::thread(WatchAndAnswer, "Error", IDOK, watched, &error);
  ShowErrorRequester("Error", "Could not init Fullscreen");
  helper.join();
  ASSERT_TRUE(error.found);
  EXPECT_TRUE(error.ok && !error.yes && !error.no);
  EXPECT_FALSE(error.icon);
  EXPECT_EQ(DisabledWindowList, nullptr);
  PlatformHeapDestroy(ObjectListHeap);
  ObjectListHeap = nullptr;
}

}  // namespace

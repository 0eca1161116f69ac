// The window procedure: window messages into WindowActive, DemoDone,
// KeyState, the viewport and the animation tick.
#include "app/shell.h"
#include "core/demo_globals.h"
#include "choreo/tick.h"
#include "platform/window.h"

namespace {

constexpr uint32_t LowWord(uintptr_t value) { return static_cast<uint32_t>(value & 0xFFFF); }
constexpr uint32_t HighWord(uintptr_t value) { return static_cast<uint32_t>((value >> 16) & 0xFFFF); }

// KeyState has one entry per virtual-key code; a code outside 0..255 from a
// misbehaving source is ignored instead of written past the array.
void SetKey(uintptr_t virtualKey, uint8_t held) {
  uint8_t* keys = DemoGlobals.KeyState;
  if (keys && virtualKey < 256) keys[virtualKey] = held;
}

}  // namespace

intptr_t DemoWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
  switch (message) {
    case WM_ACTIVATE:
      // Only the minimised state (high word) matters: an inactive window
      // that is still on screen keeps being drawn.
      DemoGlobals.WindowActive = HighWord(wParam) == 0 ? 1 : 0;
      return 0;
    case WM_CLOSE:
      // The window stays; CloseDemoWindow destroys it at shutdown.
      DemoGlobals.DemoDone = 1;
      PlatformPostQuitMessage(0);
      return 0;
    case WM_SYSCOMMAND:
      if (wParam == SC_SCREENSAVE || wParam == SC_MONITORPOWER) return 0;  // refused
      return PlatformDefWindowProc(window, message, wParam, lParam);
    case WM_KEYDOWN:
      SetKey(wParam, 1);
      return 0;
    case WM_KEYUP:
      SetKey(wParam, 0);
      return 0;
    case WM_SIZE:
      ResizeViewport(static_cast<int32_t>(LowWord(static_cast<uintptr_t>(lParam))),
                     static_cast<int32_t>(HighWord(static_cast<uintptr_t>(lParam))));
      return 0;
    case WM_TIMER:
      TickAnimation();  // whatever the timer id
      return 0;
    default:
      return PlatformDefWindowProc(window, message, wParam, lParam);
  }
}

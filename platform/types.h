// Handle and message types shared by the portable core and the platform backends.
#pragma once
#include <cstdint>

// Opaque handles. The core stores and passes them; only backends look inside.
using ModuleHandle = void*;                         // a loaded shared library or the program itself
using HeapHandle = struct PlatformHeapRec*;         // a private heap (allocations freed together)
using WindowHandle = struct PlatformWindowRec*;     // the demo window; nullptr = none
using DeviceContextHandle = struct PlatformDCRec*;  // drawing context of a window
using RenderContextHandle = struct PlatformGLRec*;  // an OpenGL rendering context

// One window message, laid out as the Windows MSG the shell was designed on.
struct MSG {
  WindowHandle hwnd = nullptr;
  uint32_t message = 0;
  uintptr_t wParam = 0;
  intptr_t lParam = 0;
};

// Message numbers and values (Windows numbering, so logic and tests read alike).
constexpr uint32_t WM_SIZE = 0x0005;
constexpr uint32_t WM_ACTIVATE = 0x0006;
constexpr uint32_t WM_CLOSE = 0x0010;
constexpr uint32_t WM_QUIT = 0x0012;
constexpr uint32_t WM_KEYDOWN = 0x0100;
constexpr uint32_t WM_KEYUP = 0x0101;
constexpr uint32_t WM_SYSKEYDOWN = 0x0104;
constexpr uint32_t WM_SYSKEYUP = 0x0105;
constexpr uint32_t WM_SYSCOMMAND = 0x0112;
constexpr uint32_t WM_TIMER = 0x0113;
constexpr uintptr_t SC_CLOSE = 0xF060;
constexpr uintptr_t SC_MINIMIZE = 0xF020;
constexpr uintptr_t SC_SCREENSAVE = 0xF140;
constexpr uintptr_t SC_MONITORPOWER = 0xF170;
constexpr uintptr_t VK_ESCAPE = 27;

// Message box flags and answers.
constexpr uint32_t MB_OK = 0;
constexpr uint32_t MB_YESNO = 4;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using WindowProc = intptr_t (*)(WindowHandle, uint32_t, uintptr_t, intptr_t);

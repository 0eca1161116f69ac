// The demo window and its OpenGL context: open, close, first swap and fixed state.
#include "app/shell.h"
#include "core/demo_globals.h"
#include "platform/pixels.h"
#include "platform/window.h"

namespace {

// Styles added to the mode's own style when the window is created: visible
// from creation, clipping siblings and children, with a system menu.
constexpr uint32_t CreationStyleBits = WS_VISIBLE | WS_CLIPSIBLINGS | WS_CLIPCHILDREN | WS_SYSMENU;
static_assert(CreationStyleBits == 0x16080000u);

// Colour depth of the desktop the windowed demo runs on (8 bits a channel),
// in force again once full screen is left.
constexpr int DesktopDepthBits = 32;

// A step of opening failed: release what exists, report, end.
[[noreturn]] void FailOpen(const char* message) {
  CloseDemoWindow();
  ShowErrorRequester("Error", message);
  TerminateProgram(ExitCodeOpenFailed);
}

}  // namespace

int32_t OpenDemoWindow(const char* title, int32_t width, int32_t height, int32_t bits,
                       uint8_t fullscreen) {
  DemoGlobalsRecord& g = DemoGlobals;
  g.FullscreenMode = fullscreen;
  g.ModuleInstance = PlatformGetModuleHandle();

  WNDCLASSA windowClass{};
  windowClass.style = CS_HREDRAW | CS_VREDRAW | CS_OWNDC;
  windowClass.lpfnWndProc = DemoWindowProc;
  windowClass.hInstance = g.ModuleInstance;
  windowClass.hIcon = IDI_WINLOGO;
  windowClass.hCursor = IDC_ARROW;
  windowClass.hbrBackground = COLOR_BTNFACE + 1;
  windowClass.lpszClassName = DemoWindowClass;
  if (!PlatformRegisterClass(&windowClass)) {
    // Nothing exists yet, so nothing is released.
    ShowErrorRequester("Error", "Could not register class");
    TerminateProgram(ExitCodeOpenFailed);
  }

  uint32_t extendedStyle;
  uint32_t style;
  if (g.FullscreenMode == 1) {
    DEVMODEA mode{};
    mode.dmSize = 148;
    mode.dmPelsWidth = static_cast<uint32_t>(width);
    mode.dmPelsHeight = static_cast<uint32_t>(height);
    mode.dmBitsPerPel = static_cast<uint32_t>(bits);
    mode.dmFields = DM_BITSPERPEL | DM_PELSWIDTH | DM_PELSHEIGHT;
    if (PlatformChangeDisplaySettings(&mode, CDS_FULLSCREEN) != DISP_CHANGE_SUCCESSFUL) {
      // No fall-back: the demo still runs as a borderless popup at the
      // screen origin, on the desktop's own depth.
      ShowErrorRequester("Error", "Could not init Fullscreen");
    } else {
      // Bitmaps made from now on take the full-screen depth.
      PixelStoreSetDisplayDepth(bits);
    }
    extendedStyle = WS_EX_APPWINDOW;
    style = WS_POPUP;
    PlatformShowCursor(false);
  } else {
    extendedStyle = WS_EX_APPWINDOW | WS_EX_WINDOWEDGE;
    style = WS_OVERLAPPEDWINDOW;
  }

  // The outer size that gives a client area of exactly width x height.
  RECT rect{0, 0, width, height};
  PlatformAdjustWindowRectEx(&rect, style, false, extendedStyle);

  g.MainWindow = PlatformCreateWindowEx(extendedStyle, DemoWindowClass, title,
                                        style | CreationStyleBits, 0, 0, rect.right - rect.left,
                                        rect.bottom - rect.top, nullptr, g.ModuleInstance);
  if (!g.MainWindow) FailOpen("Could not open window");
  g.DeviceContext = PlatformGetDC(g.MainWindow);
  if (!g.DeviceContext) FailOpen("Could not create a GL Device Context");

  // Double-buffered RGBA for a window and OpenGL with a 32-bit depth
  // request; no colour depth is asked for.
  PIXELFORMATDESCRIPTOR descriptor{};
  descriptor.nSize = sizeof(PIXELFORMATDESCRIPTOR);
  descriptor.nVersion = 1;
  descriptor.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
  descriptor.iPixelType = PFD_TYPE_RGBA;
  descriptor.cColorBits = 0;
  descriptor.cDepthBits = 32;
  descriptor.iLayerType = PFD_MAIN_PLANE;
  int32_t format = PlatformChoosePixelFormat(g.DeviceContext, &descriptor);
  if (format == 0) FailOpen("Could not find PixelFormat");
  if (!PlatformSetPixelFormat(g.DeviceContext, format, &descriptor))
    FailOpen("Could not set PixelFormat");
  g.RenderContext = PlatformCreateContext(g.DeviceContext);
  if (!g.RenderContext) FailOpen("Could not create GL Rendering Context");
  if (!PlatformMakeCurrent(g.DeviceContext, g.RenderContext))
    FailOpen("Could not Activate GL Rendering Context");

  PlatformShowWindow(g.MainWindow, SW_SHOW);
  PlatformSetForegroundWindow(g.MainWindow);
  PlatformSetFocus(g.MainWindow);
  ResizeViewport(width, height);
  if (!InitGLState()) FailOpen("Initialization Failed");
  return 1;
}

int32_t CloseDemoWindow() {
  DemoGlobalsRecord& g = DemoGlobals;
  // Each release is reported on its own failure and the next one runs all
  // the same, so as much as possible is given back.
  if (g.FullscreenMode == 1) {
    PlatformChangeDisplaySettings(nullptr, 0);
    PixelStoreSetDisplayDepth(DesktopDepthBits);
    PlatformShowCursor(true);
  }
  if (g.RenderContext) {
    if (!PlatformMakeCurrent(nullptr, nullptr)) ShowErrorRequester("Error", "Could not release DC and RC");
    if (!PlatformDeleteContext(g.RenderContext)) ShowErrorRequester("Error", "wglDeleteContext(RC) failed");
    g.RenderContext = nullptr;
  }
  if (g.DeviceContext) {
    if (PlatformReleaseDC(g.MainWindow, g.DeviceContext) == 0)
      ShowErrorRequester("Error", "Could not release DC");
  }
  if (g.MainWindow) {
    if (!PlatformDestroyWindow(g.MainWindow)) ShowErrorRequester("Error", "Could not destroy window");
  }
  if (!PlatformUnregisterClass(DemoWindowClass, g.ModuleInstance))
    ShowErrorRequester("Error", "Could not unregister class");
  return 0;
}

bool InitGLState() {
  PlatformSwapBuffers(DemoGlobals.DeviceContext);  // one swap before anything is drawn
  SetFixedGLState();
  return true;
}

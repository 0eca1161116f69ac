// Start-up, the message and render loop and shutdown of the demo.
#include "app/shell.h"
#include "assets/assets.h"
#include "choreo/director.h"
#include "core/demo_globals.h"
#include "music/music.h"
#include "platform/clock.h"
#include "platform/gl.h"
#include "platform/window.h"
#include "render/render.h"

namespace {

// Music: default output device, output rate in Hz, load from memory.
constexpr int32_t MusicDefaultDevice = -1;
constexpr uint32_t MusicRate = 44100;
constexpr uint32_t MusicLoadFromMemory = 1;

constexpr uintptr_t AnimationTimerId = 1;
constexpr uint32_t AnimationTimerPeriodMs = 40;  // 25 ticks per second

// A heap or array the start-up cannot do without was not granted: nothing
// else can run, so say so and end as a failed start.
[[noreturn]] void FailOutOfMemory() {
  ShowErrorRequester("Error", "Out of memory");
  TerminateProgram(ExitCodeOpenFailed);
}

}  // namespace

bool SetUpRuntime() {
  if (!CreateRuntimeTables()) return false;
  PlatformInitCommonControls();  // the requester's controls, between the tables and the buffers
  return AllocateRuntimeBuffers();
}

void AppMain(ModuleHandle /*instance*/, ModuleHandle /*previous*/, const char* /*commandLine*/,
             int /*showCommand*/) {
  DemoGlobalsRecord& g = DemoGlobals;
  if (!SetUpRuntime()) FailOutOfMemory();

  // Question and window. The first draw seeds the generator from the clock.
  SetSceneStartValues();
  if (ShowMessageRequester(DemoTitle, "Fullscreen?", MB_YESNO) == IDYES) g.FullscreenMode = 1;
  OpenDemoWindow(DemoTitle, 640, 480, 16, g.FullscreenMode);  // ends the process on failure

  // Music and scene data. Music failures are silent: the demo runs on
  // without sound and without the syncs that would change its scenes.
  MusicInit(MusicLibrarySlot, MusicLibraryPath, MusicDefaultDevice, MusicRate, 0);
  MusicLoad(MusicLibrarySlot, MusicLoadFromMemory, MusicModule, 0, MusicModuleSize, MusicLoadFlags);
  RegisterMusicSyncs();
  BuildMorphLists();
  BuildCubeLists();
  BuildTextureSet();
  MusicPlay(MusicLibrarySlot);
  PlatformSetTimer(g.MainWindow, AnimationTimerId, AnimationTimerPeriodMs);
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  g.SceneMode = SceneModeCaptionIn;

  uint32_t exitCode = RunMainLoop();

  CloseDemoWindow();
  TerminateProgram(exitCode);
}

uint32_t RunMainLoop() {
  DemoGlobalsRecord& g = DemoGlobals;
  // One message per pass. Escape is only looked at when the queue is empty
  // and the window may be drawn, so a press and release dispatched back to
  // back leave no trace; while minimised the loop polls without sleeping.
  do {
    if (PlatformPeekMessage(&g.LoopMessage, PM_REMOVE)) {
      if (g.LoopMessage.message == WM_QUIT) {
        g.DemoDone = 1;
      } else {
        PlatformTranslateMessage(&g.LoopMessage);
        PlatformDispatchMessage(&g.LoopMessage);
      }
    } else if (g.WindowActive != 0) {
      if (g.KeyState[VK_ESCAPE] != 0) {
        g.DemoDone = 1;
      } else {
        RenderFrame();
        PlatformSwapBuffers(g.DeviceContext);
        PlatformSleep(1);
      }
    }
  } while (g.DemoDone != 1);
  // A normal end is a success; only a WM_QUIT taken by the loop carries a
  // code of its own (PostQuitMessage's argument).
  return g.LoopMessage.message == WM_QUIT ? static_cast<uint32_t>(g.LoopMessage.wParam) : 0;
}

// Start-up, the message and render loop, shutdown and the orderly end.
#include "app/shell.h"
#include "assets/assets.h"
#include "choreo/director.h"
#include "core/demo_globals.h"
#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"
#include "music/music.h"
#include "platform/clock.h"
#include "platform/gl.h"
#include "platform/heap.h"
#include "platform/window.h"
#include "render/render.h"
#include "support/random.h"

char* TextScratchBuffer = nullptr;

namespace {

// Array sizes in bytes.
constexpr size_t TexturePixelBufferSize = 256 * 256 * 3;  // one RGB texture
constexpr size_t KeyStateSize = 256;                      // one entry per virtual-key code

// Heap sizes as the start-up requests them: initial bytes, no maximum.
constexpr size_t MainHeapInitialSize = 4000;
constexpr size_t ObjectListHeapInitialSize = 1024;

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

// count elements of T from MainHeap, or nullptr.
template <typename T>
T* AllocateArray(size_t count) {
  return static_cast<T*>(PlatformHeapAlloc(DemoGlobals.MainHeap, count * sizeof(T)));
}

}  // namespace

bool SetUpRuntime() {
  DemoGlobalsRecord& g = DemoGlobals;
  ClearDemoGlobals();
  g.MainHeap = PlatformHeapCreate(MainHeapInitialSize);
  if (!g.MainHeap) return false;
  CreateDrawingDefaults();
  ResetImageDecoders();
  ObjectListHeap = PlatformHeapCreate(ObjectListHeapInitialSize);
  if (!ObjectListHeap) return false;
  InitImageRegistry(g.MainHeap);
  CreateDynLibTable();
  PlatformInitCommonControls();
  if (!TextScratchBuffer) TextScratchBuffer = AllocateArray<char>(TextScratchBufferSize);
  if (!TextScratchBuffer) return false;
  RegisterJpegDecoder();
  return (g.TexturePixelBuffer = AllocateArray<uint8_t>(TexturePixelBufferSize)) &&
         (g.KeyState = AllocateArray<uint8_t>(KeyStateSize)) &&
         (g.MorphLists = AllocateArray<uint32_t>(MorphListCount)) &&
         (g.ObjectTextures = AllocateArray<uint32_t>(ObjectTextureCount));
}

void SetSceneStartValues() {
  DemoGlobalsRecord& g = DemoGlobals;
  g.WindowActive = 1;
  g.ObjectTextureIndex = static_cast<int8_t>(Random(6));
  g.MorphRed = 1.0f;
  g.MorphGreen = 0.4f;
  g.MorphBlue = 1.0f;
  g.FloorDepth = -20.0f;
  g.FloorSpinStep = 8.0f;
  g.FloorDepthStep = 0.3f;
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

void ReleaseRuntime() {
  DemoGlobalsRecord& g = DemoGlobals;
  // The music stops, and the library's threads end, before the library is
  // unloaded. Unloading it while it plays would leave the stop to its unload
  // hook, which runs under the dynamic loader's lock and joins the sync
  // thread; a callback on that thread looking a function up by name (the
  // cube-start sync's registrations) needs the same lock, and neither would
  // ever go on. Outside that lock the callback finishes and the join returns.
  MusicFree(MusicLibrarySlot);
  DynLibCloseAll();
  ReleaseAllImages();
  PlatformHeapDestroy(ObjectListHeap);
  ObjectListHeap = nullptr;
  PlatformHeapDestroy(g.MainHeap);
  // Everything below lived in MainHeap: forget it, nothing may follow it.
  g.MainHeap = nullptr;
  TextScratchBuffer = nullptr;
  g.TexturePixelBuffer = nullptr;
  g.KeyState = nullptr;
  g.MorphLists = nullptr;
  g.ObjectTextures = nullptr;
}

void TerminateProgram(uint32_t exitCode) {
  ReleaseRuntime();
  PlatformExitProcess(exitCode);
}

// The runtime both the demo and the offscreen programs run on: its heaps,
// tables and buffers, the scene start values, and their release.
#include "app/runtime.h"
#include "core/demo_globals.h"
#include "image/image.h"
#include "image/jpeg_decoder.h"
#include "image/surface.h"
#include "music/music.h"
#include "platform/heap.h"
#include "support/random.h"

char* TextScratchBuffer = nullptr;

namespace {

// Array sizes in bytes.
constexpr size_t TexturePixelBufferSize = 256 * 256 * 3;  // one RGB texture
constexpr size_t KeyStateSize = 256;                      // one entry per virtual-key code

// Heap sizes as the start-up requests them: initial bytes, no maximum.
constexpr size_t MainHeapInitialSize = 4000;
constexpr size_t ObjectListHeapInitialSize = 1024;

// count elements of T from MainHeap, or nullptr.
template <typename T>
T* AllocateArray(size_t count) {
  return static_cast<T*>(PlatformHeapAlloc(DemoGlobals.MainHeap, count * sizeof(T)));
}

}  // namespace

bool CreateRuntimeTables() {
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
  return true;
}

bool AllocateRuntimeBuffers() {
  DemoGlobalsRecord& g = DemoGlobals;
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

// The program's single global record: every piece of state the scenes share.
#pragma once
#include <atomic>
#include <cstdint>

#include "platform/types.h"

// Values of SceneMode: which scene the tick advances and the renderer draws.
// The director and the tick switch between them (see choreo/).
constexpr int8_t SceneModeStartUp = 0;       // before the main loop: nothing animates
constexpr int8_t SceneModeCaptionIn = 1;     // caption fading in
constexpr int8_t SceneModeCaptionOut = 2;    // caption fading out
constexpr int8_t SceneModeMorphRising = 4;   // morph body, frames rising
constexpr int8_t SceneModeMorphFalling = 8;  // morph body, frames falling
constexpr int8_t SceneModeCube = 16;         // textured cube over the floor

// Entries of the name arrays the start-up allocates from MainHeap.
constexpr int32_t MorphListCount = 50;     // MorphLists: one display list per morph frame
constexpr int32_t ObjectTextureCount = 7;  // ObjectTextures: the cube's pictures

// Fields written by the music thread (the sync callback) or read and written
// by both threads are lock-free atomics of the documented width: each is read
// and written whole, and a write by one thread is seen at the other's next
// read. Fields touched only by the main thread are plain.
// Angles are degrees; GL names are as OpenGL returns them.
struct DemoGlobalsRecord {
  HeapHandle MainHeap;                    // private heap for tables and arrays
  uint32_t CubeEdgeList;                  // display list: the cube's 12 thick edges
  std::atomic<float> BeatZoom;            // kick towards the viewer; cube at depth BeatZoom - 7
  std::atomic<float> FloorSpinStep;       // degrees per tick added to FloorSpin
  DeviceContextHandle DeviceContext;      // window's drawing context; buffers swap on it
  uint32_t CubeList;                      // display list: the textured cube
  ModuleHandle ModuleInstance;            // the program module
  RenderContextHandle RenderContext;      // GL context; 0 once deleted
  WindowHandle MainWindow;                // the demo window; 0 until created
  std::atomic<float> MorphAngle;          // tumble of the morph body, wrapped at 2880
  std::atomic<float> MorphBlue;           // morph colour components, 0..1
  std::atomic<float> MorphGreen;
  std::atomic<int32_t> MorphFrame;        // slot of MorphLists drawn, 0..MorphListCount - 1
  std::atomic<float> MorphRed;
  uint32_t CaptionTextureB;               // texture: the title caption
  std::atomic<int32_t> UseCaptionB;       // 0: caption A is shown, 1: caption B
  std::atomic<float> CubeSpin;            // cube rotation, never wrapped
  std::atomic<float> FloorSpin;           // floor rotation about the view axis
  uint32_t FloorList;                     // display list: the tiled floor square
  uint32_t FloorTexture;                  // texture: the floor picture
  uint32_t CaptionTextureA;               // texture: the makers' caption
  std::atomic<float> CaptionFade;         // alpha of the caption band (unclamped)
  std::atomic<int32_t> CueCount;          // order cues seen since the cube scene began
  std::atomic<float> FloorDepth;          // z of the floor plane
  std::atomic<float> FloorDepthStep;      // z added to FloorDepth per tick
  uint8_t WindowActive;                   // 1 while the window may be drawn (not minimised)
  std::atomic<int8_t> ObjectTextureIndex; // slot of ObjectTextures on the cube, 0..ObjectTextureCount - 1
  std::atomic<int8_t> SceneMode;          // one of the SceneMode* values above
  uint8_t FullscreenMode;                 // 1 when the user chose full screen
  std::atomic<uint8_t> DemoDone;          // 1 ends the main loop; never reset
  MSG LoopMessage;                        // the message the main loop took last
  uint8_t* TexturePixelBuffer;            // 256 x 256 x 3 RGB staging for texture uploads
  uint8_t* KeyState;                      // 256 entries by virtual-key code; 1 = held
  uint32_t* MorphLists;                   // MorphListCount display-list names, one per morph frame
  uint32_t* ObjectTextures;               // ObjectTextureCount texture names for the cube
};

static_assert(std::atomic<float>::is_always_lock_free);
static_assert(std::atomic<int32_t>::is_always_lock_free);
static_assert(std::atomic<int8_t>::is_always_lock_free);
static_assert(std::atomic<uint8_t>::is_always_lock_free);
static_assert(sizeof(std::atomic<float>) == 4 && sizeof(std::atomic<int8_t>) == 1);

extern DemoGlobalsRecord DemoGlobals;

// Sets every field to zero (null pointers, 0 names, 0.0f). The arrays the
// pointers referred to are not freed: they belong to MainHeap.
void ClearDemoGlobals();

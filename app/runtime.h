// The part of the shell that the demo and the offscreen programs (capture,
// render benchmark) share: the runtime's heaps, tables and buffers, the scene
// start values, the viewport and the fixed GL state. Nothing here touches a
// window; the demo's window, loop and requester are in app/shell.h.
#pragma once
#include <cstdint>

// The runtime set-up's first part, in its order: clears the global record,
// creates MainHeap, the drawing defaults, resets the image decoders, creates
// ObjectListHeap, the image registry and the library table. Answers false
// when a heap is not granted.
bool CreateRuntimeTables();

// The runtime set-up's second part, in its order: the text scratch buffer
// (when none exists yet), the JPEG decoder's registration, then the global
// arrays from MainHeap. Answers false at the first array not granted.
bool AllocateRuntimeBuffers();

// The scene values in force before the first frame: WindowActive 1, a random
// cube texture (Random(6)), the morph colour and the floor's depth and steps.
void SetSceneStartValues();

// Stops the music (MusicFree), unloads every library, releases every image,
// destroys ObjectListHeap and MainHeap and forgets everything that lived in
// them (the set-up undone).
void ReleaseRuntime();

// The 64,000-byte zero-filled text scratch buffer from MainHeap (allocated by
// the set-up; nullptr before and after a run).
extern char* TextScratchBuffer;
constexpr uint32_t TextScratchBufferSize = 64000;

// Viewport (0, 0, width, height) with height 0 taken as 1; a 45-degree
// perspective projection of aspect width / height in single precision, near
// 0.1f, far 1000.0f; the modelview matrix reset. Answers 0.
int32_t ResizeViewport(int32_t width, int32_t height);

// Smooth shading, black clear colour (alpha 0), clear depth 1, nicest
// perspective hint, 2D texturing, blending with (GL_SRC_ALPHA,
// GL_ONE_MINUS_SRC_ALPHA).
void SetFixedGLState();

// An offscreen OpenGL context with no display, for tests and tools.
//
// The context is an OpenGL compatibility profile (immediate mode, display
// lists, fixed-function pipeline all available) created on EGL's surfaceless
// platform, so it needs neither an X server nor a window. Drawing goes into a
// framebuffer object of the requested size (RGBA 8-bit colour, 24-bit depth or
// better), which stays bound for the context's whole life. Only one thread
// may use a context at a time.
//
// Typical use:
//   OffscreenGL* gl = CreateOffscreenGL(640, 480);   // current on return
//   ... GL calls ...
//   std::vector<uint8_t> rgba(640 * 480 * 4);
//   ReadOffscreenPixels(gl, rgba.data());             // top row first
//   DestroyOffscreenGL(gl);
#pragma once
#include <cstdint>

struct OffscreenGL;

// Creates the context and its framebuffer of width x height pixels, makes it
// current on the calling thread and sets the viewport to the whole buffer.
// Returns nullptr (and nothing stays allocated) when EGL, the compatibility
// context or the framebuffer cannot be had; `whyNot`, when not null, then
// receives a short static description.
OffscreenGL* CreateOffscreenGL(int32_t width, int32_t height, const char** whyNot = nullptr);

// Finishes drawing and copies the framebuffer into `rgba`: width * height * 4
// bytes, R G B A per pixel, the TOP row first (unlike glReadPixels' bottom-up
// order). The context must be current.
void ReadOffscreenPixels(OffscreenGL* gl, uint8_t* rgba);

// Releases the framebuffer and the context (making nothing current). Display
// lists and textures created in it end with it. Accepts nullptr. The EGL
// display itself stays initialised until the process ends, so contexts can
// be created and destroyed any number of times.
void DestroyOffscreenGL(OffscreenGL* gl);

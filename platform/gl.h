// OpenGL 1.1 and GLU for the portable code (render/, app/, tests, tools).
// Windows' gl.h includes <windows.h> unless its two calling-convention
// macros are already defined, and glu.h needs a third; they are defined here
// (as <windows.h> defines them) so that <windows.h> never meets the
// project's Windows-named platform headers in one file.
#pragma once
#if defined(_WIN32)
#ifndef APIENTRY
#define APIENTRY __stdcall
#endif
#ifndef CALLBACK
#define CALLBACK __stdcall
#endif
#ifndef WINGDIAPI
#define WINGDIAPI __declspec(dllimport)
#endif
#include <stddef.h>
#endif
#include <GL/gl.h>
#include <GL/glu.h>
// Builds whose GL has no display lists (WebGL) route the calls that need
// them through platform/web's display-list layer.
#if defined(ZEPHYRA_GL_LAYER)
#include "platform/web/gl_redirect.h"
#endif

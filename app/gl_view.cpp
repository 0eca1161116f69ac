// The viewport and projection, and the fixed GL state the scenes draw with.
#include "app/runtime.h"
#include "platform/gl.h"

int32_t ResizeViewport(int32_t width, int32_t height) {
  // Also reached from WM_SIZE while the window is being created, before any
  // GL context exists; GL calls without a current context do nothing.
  if (height == 0) height = 1;
  glViewport(0, 0, width, height);
  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  // Aspect, near and far in single precision, widened for the call: the
  // near plane arrives as 0.100000001490116.
  float aspect = static_cast<float>(width) / static_cast<float>(height);
  gluPerspective(45.0, static_cast<double>(aspect), static_cast<double>(0.1f),
                 static_cast<double>(1000.0f));
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();
  return 0;
}

void SetFixedGLState() {
  glShadeModel(GL_SMOOTH);
  glClearColor(0.0f, 0.0f, 0.0f, 0.0f);
  glClearDepth(1.0);
  glHint(GL_PERSPECTIVE_CORRECTION_HINT, GL_NICEST);
  glEnable(GL_TEXTURE_2D);
  glEnable(GL_BLEND);
  glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

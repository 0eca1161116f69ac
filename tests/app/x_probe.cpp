// Small X11 helper for the Xvfb tests of the demo:
//   x_probe cursor X Y     moves the pointer to (X, Y) and prints how many
//                          pixels of the cursor shown there are not transparent
//   x_probe close WINDOW   asks WINDOW (an id such as 0x200009) to close, as a
//                          window manager's close button does (WM_DELETE_WINDOW)
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

int VisibleCursorPixels(Display* display, int x, int y) {
  Window root = DefaultRootWindow(display);
  XWarpPointer(display, None, root, 0, 0, 0, 0, x, y);
  XSync(display, False);
  int eventBase = 0, errorBase = 0;
  if (!XFixesQueryExtension(display, &eventBase, &errorBase)) {
    std::fprintf(stderr, "x_probe: no XFIXES\n");
    return 2;
  }
  XFixesCursorImage* image = XFixesGetCursorImage(display);
  if (!image) {
    std::fprintf(stderr, "x_probe: no cursor image\n");
    return 2;
  }
  long visible = 0;
  for (long i = 0; i < static_cast<long>(image->width) * image->height; ++i)
    if ((image->pixels[i] >> 24) & 0xFF) ++visible;
  std::printf("%ld\n", visible);
  XFree(image);
  return 0;
}

int Close(Display* display, Window window) {
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XSync(display, False);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Display* display = XOpenDisplay(nullptr);
  if (!display) {
    std::fprintf(stderr, "x_probe: cannot open display\n");
    return 2;
  }
  int rc = 2;
  if (argc == 4 && !std::strcmp(argv[1], "cursor")) rc = VisibleCursorPixels(display, std::atoi(argv[2]), std::atoi(argv[3]));
  else if (argc == 3 && !std::strcmp(argv[1], "close")) rc = Close(display, std::strtoul(argv[2], nullptr, 0));
  else std::fprintf(stderr, "usage: x_probe cursor X Y | x_probe close WINDOW\n");
  XCloseDisplay(display);
  return rc;
}

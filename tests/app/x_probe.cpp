// Small X11 helper for the Xvfb tests of the demo:
//   x_probe cursor X Y     moves the pointer to (X, Y) and prints how many
//                          pixels of the cursor shown there are not transparent
//   x_probe close WINDOW   asks WINDOW (an id such as 0x200009) to close, as a
//                          window manager's close button does (WM_DELETE_WINDOW)
//   x_probe managed SECS   maps a window of its own and waits until a window
//                          manager has framed it (reparented) and shown it;
//                          exits 0 then, 1 after SECS seconds without it. A
//                          manager that has announced itself may still be
//                          starting, and may drop a map request it gets then:
//                          a window left unmapped 2 s is replaced by another.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/extensions/Xfixes.h>

#include <poll.h>

#include <algorithm>
#include <chrono>
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

// One window of the probe's, mapped and watched for up to `limit`: true once
// a window manager has framed (reparented) and shown it.
bool FramedAndShown(Display* display, std::chrono::steady_clock::time_point limit) {
  Window root = DefaultRootWindow(display);
  Window window = XCreateSimpleWindow(display, root, 0, 0, 64, 64, 0, 0, 0);
  XSelectInput(display, window, StructureNotifyMask);
  XMapWindow(display, window);
  XFlush(display);
  bool framed = false, shown = false;
  while (!(framed && shown)) {
    while (XPending(display) && !(framed && shown)) {
      XEvent event;
      XNextEvent(display, &event);
      if (event.type == ReparentNotify) framed = event.xreparent.parent != root;
      if (event.type == MapNotify) shown = true;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(limit - std::chrono::steady_clock::now());
    if (framed && shown) break;
    if (left.count() <= 0) break;
    pollfd fd{ConnectionNumber(display), POLLIN, 0};
    poll(&fd, 1, static_cast<int>(left.count()));
  }
  XDestroyWindow(display, window);
  XSync(display, False);
  return framed && shown;
}

// A manager that is still starting may take a map request and never act on
// it (openbox, mapped while it starts up under load, left a window unmapped
// for good): each probe window gets 2 s, then a new one asks again, until a
// window is framed or `seconds` have passed.
int Managed(Display* display, int seconds) {
  using Clock = std::chrono::steady_clock;
  const Clock::time_point end = Clock::now() + std::chrono::seconds(seconds);
  int windows = 0;
  while (Clock::now() < end) {
    ++windows;
    if (FramedAndShown(display, std::min(end, Clock::now() + std::chrono::seconds(2)))) {
      if (windows > 1)
        std::fprintf(stderr, "x_probe: the window manager framed the probe's window %d (the earlier ones it left unmapped)\n",
                     windows);
      return 0;
    }
  }
  std::fprintf(stderr, "x_probe: no window manager framed and showed any of %d windows within %d s\n", windows,
               seconds);
  return 1;
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
  else if (argc == 3 && !std::strcmp(argv[1], "managed")) rc = Managed(display, std::atoi(argv[2]));
  else std::fprintf(stderr, "usage: x_probe cursor X Y | x_probe close WINDOW | x_probe managed SECONDS\n");
  XCloseDisplay(display);
  return rc;
}

// The window contract against the SDL backend on SDL's offscreen video
// driver: it has GL and real timers, but no window manager, so a new window
// reports no size change and cannot be minimised (the Xvfb test of the whole
// program covers those on a display).
#include "platform/window.h"
#include "tests/platform/contract/contract_backend.h"

namespace {

intptr_t KeeperProc(WindowHandle, uint32_t, uintptr_t, intptr_t) { return 0; }

// One GL window lives for the whole run: SDL unloads the GL driver when its
// last GL window goes, and leaks inside an unloaded driver can no longer be
// told apart from the program's own by the leak checker.
void KeepGLDriverLoaded() {
  static WindowHandle keeper = [] {
    WNDCLASSA c{};
    c.lpfnWndProc = KeeperProc;
    c.lpszClassName = "ContractKeeper";
    PlatformRegisterClass(&c);
    return PlatformCreateWindowEx(0, "ContractKeeper", "k", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr);
  }();
  (void)keeper;
}

}  // namespace

const ContractBackendTraits ContractBackend = {
    "sdl", /*hasGL=*/true, /*deliversTimers=*/true, /*reportsSizeOnCreate=*/false,
    /*minimises=*/false, /*minimiseDeactivates=*/false, /*grantsEveryMode=*/false, KeepGLDriverLoaded};

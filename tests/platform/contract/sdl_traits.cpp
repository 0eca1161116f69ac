// The window contract against the SDL backend on SDL's offscreen video
// driver: it has GL and real timers, but no window manager, so a new window
// reports no size change and cannot be minimised (the Xvfb test of the whole
// program covers those on a display).
#include "tests/platform/contract/contract_backend.h"

const ContractBackendTraits ContractBackend = {
    "sdl", /*hasGL=*/true, /*deliversTimers=*/true, /*reportsSizeOnCreate=*/false,
    /*minimises=*/false, /*minimiseDeactivates=*/false, nullptr};

// The window contract against the Windows backend, run under Wine and Xvfb.
// Every aspect applies, except one where Wine 8 differs from Windows: with
// no window manager, minimising the active window sends WM_SIZE
// (SIZE_MINIMIZED) but no WM_ACTIVATE, so the window is never told it was
// deactivated while minimised. (The shell then keeps drawing while
// minimised, which does no harm.)
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "tests/platform/contract/contract_backend.h"

namespace {

bool RunningUnderWine() {
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

}  // namespace

const ContractBackendTraits ContractBackend = {
    "win32", /*hasGL=*/true, /*deliversTimers=*/true, /*reportsSizeOnCreate=*/true,
    /*minimises=*/true, /*minimiseDeactivates=*/!RunningUnderWine(), /*grantsEveryMode=*/false, nullptr};

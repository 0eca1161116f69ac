// The window contract against the scripted null backend: no GL, and timers
// are scripted by the shell tests instead of running on the clock.
#include "platform/null/null_platform.h"
#include "tests/platform/contract/contract_backend.h"

const ContractBackendTraits ContractBackend = {
    "null", /*hasGL=*/false, /*deliversTimers=*/false, /*reportsSizeOnCreate=*/true,
    /*minimises=*/true, /*minimiseDeactivates=*/true, /*grantsEveryMode=*/true, NullPlatformReset};

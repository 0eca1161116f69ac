// The orderly end of the demo's process.
#include "app/shell.h"
#include "platform/window.h"

void TerminateProgram(uint32_t exitCode) {
  ReleaseRuntime();
  PlatformExitProcess(exitCode);
}

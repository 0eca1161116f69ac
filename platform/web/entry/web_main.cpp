// Process entry of the browser build: hands the program module, the command
// line and the default show command to AppMain, which ends the program.
#include "platform/entry.h"
#include "platform/window.h"

int main() {
  AppMain(PlatformGetModuleHandle(), nullptr, PlatformGetCommandLine(), SW_SHOWDEFAULT);
}

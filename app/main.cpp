// Program entry: hands the module, the command line and the default show
// command to AppMain, which ends the process itself.
#include "app/shell.h"
#include "platform/window.h"

int main() {
  AppMain(PlatformGetModuleHandle(), nullptr, PlatformGetCommandLine(), SW_SHOWDEFAULT);
}

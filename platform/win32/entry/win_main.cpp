// Process entry of the Windows build: hands the program module, the whole
// command line and the default show command (SW_SHOWDEFAULT) to AppMain,
// which ends the process itself.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "platform/entry.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR /*commandTail*/, int /*showCommand*/) {
  AppMain(instance, previous, GetCommandLineA(), SW_SHOWDEFAULT);
}

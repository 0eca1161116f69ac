// The program's entry as the backends call it: each backend's own process
// entry (main with SDL, WinMain on Windows) hands over to AppMain.
// Plain types only, so a file that includes the system's own headers can
// include this one too.
#pragma once

// The whole life of the program (defined by the shell, app/app_main.cpp).
// instance is the program module, previous is always nullptr, commandLine
// the whole command line and showCommand the show command (10, the
// default); none of them is interpreted. Never returns: it ends the process.
[[noreturn]] void AppMain(void* instance, void* previous, const char* commandLine, int showCommand);

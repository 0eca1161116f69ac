// Test-side Windows calls the backend does not offer (client size, input,
// the message box's controls), over plain types so the backend tests can
// include it beside the project's headers. win32_probe.cpp holds <windows.h>.
#pragma once
#include <cstdint>

#include "platform/win32/native_window.h"

// Show commands beyond SW_SHOW.
constexpr int ProbeSwMinimize = 6;
constexpr int ProbeSwShowMinimized = 2;
constexpr int ProbeSwRestore = 9;

bool ProbeClientSize(NativeWindow window, int32_t* width, int32_t* height);   // GetClientRect
bool ProbeOuterOrigin(NativeWindow window, int32_t* left, int32_t* top);      // GetWindowRect
// Resizes the window so that its client area is width x height.
bool ProbeSetClientSize(NativeWindow window, int32_t width, int32_t height);
bool ProbeIsIconic(NativeWindow window);
// A key pressed or released through SendInput (to the focused window).
bool ProbeSendKey(uint16_t virtualKey, bool down);
// The top-level window of this process with exactly this title, waiting up
// to timeoutMs; nullptr when none appears.
NativeWindow ProbeFindWindow(const char* title, uint32_t timeoutMs);
NativeWindow ProbeOwner(NativeWindow window);                  // GetWindow(GW_OWNER)
bool ProbeHasControl(NativeWindow dialog, int32_t id);         // GetDlgItem
bool ProbeHasIcon(NativeWindow box);                           // an icon control in a message box
bool ProbeAnswer(NativeWindow dialog, int32_t buttonId);       // as if the button were clicked

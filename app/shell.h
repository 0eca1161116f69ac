// The application shell: start-up, main loop and shutdown; the demo window
// and its GL context; the window procedure; the message requester. The part
// it shares with the offscreen programs is in app/runtime.h.
#pragma once
#include <cstdint>

#include "app/runtime.h"
#include "platform/entry.h"
#include "platform/types.h"

// ---- start-up, main loop, shutdown -------------------------------------------

// AppMain (platform/entry.h) is the whole life of the program on the main
// thread: sets up the heaps and tables, asks "Fullscreen?", opens the window,
// starts the music, runs the loop until DemoDone, then shuts down. Never
// returns: it ends the process with exit code 0 after a normal end, or the
// code of the WM_QUIT the loop ended on. The backend's process entry calls it.

// The start-up's runtime set-up, in its order: CreateRuntimeTables, the
// message box's common controls, AllocateRuntimeBuffers (app/runtime.h).
// Answers false at the first heap or array that is not granted (AppMain then
// reports "Out of memory" and ends).
bool SetUpRuntime();

// Runs the message and render loop until DemoDone is 1 (tested after each
// pass) and answers the exit code: LoopMessage.wParam when the loop ended on
// taking WM_QUIT, 0 otherwise. Used by AppMain; separate for the tests.
uint32_t RunMainLoop();

// The orderly end: ReleaseRuntime, then ends the process with exitCode.
[[noreturn]] void TerminateProgram(uint32_t exitCode);

// Process exit code when the window or its GL context cannot be opened.
constexpr uint32_t ExitCodeOpenFailed = 1;

// ---- the window and its GL context --------------------------------------------

// Registers the "KWOpenGL" class, switches to full screen when asked
// (width x height at `bits` bits per pixel), creates the window with a client
// area of width x height at the screen origin, sets a double-buffered pixel
// format with a 32-bit depth request, creates and activates the GL context,
// shows the window, sets the viewport and the fixed GL state. Answers 1.
// On any failure it reports "Error" and ends the process with
// ExitCodeOpenFailed (after CloseDemoWindow, from window creation on).
int32_t OpenDemoWindow(const char* title, int32_t width, int32_t height, int32_t bits,
                       uint8_t fullscreen);
// Restores the display mode and cursor, releases the context, the device
// context, the window and the class, reporting each release that fails and
// going on. Answers 0.
int32_t CloseDemoWindow();
// One buffer swap, then SetFixedGLState (app/runtime.h). Answers true.
bool InitGLState();

// The window class name and the demo's title.
inline constexpr const char* DemoWindowClass = "KWOpenGL";
inline constexpr const char* DemoTitle = "Zephyra (Party)";

// ---- window procedure -------------------------------------------------------------

// Keeps WindowActive (minimised state of WM_ACTIVATE), DemoDone (WM_CLOSE),
// KeyState (WM_KEYDOWN/UP) and the viewport (WM_SIZE) up to date, refuses the
// screen saver and monitor power-off, ticks the animation on WM_TIMER.
intptr_t DemoWindowProc(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);

// ---- message requester ------------------------------------------------------------

// A modal message box (flags MB_OK or MB_YESNO, no icon). While it is open,
// every other visible, enabled window of the calling thread except the
// foreground one is disabled; exactly those are enabled again afterwards.
// The owner is the foreground window when it belongs to this process.
// Answers the box's result (IDYES, IDNO, IDOK, or 0 when none could be shown).
int ShowMessageRequester(const char* title, const char* text, uint32_t flags);
// ShowMessageRequester(title, text, MB_OK).
void ShowErrorRequester(const char* title, const char* text);

// One window disabled by an open requester; records live in ObjectListHeap.
struct DisabledWindowRecord {
  DisabledWindowRecord* next;
  DisabledWindowRecord* previous;
  uint32_t thread;      // the thread whose requester disabled the window
  WindowHandle window;  // the window it disabled
};
// Newest first; empty whenever no requester is open in any thread.
extern DisabledWindowRecord* DisabledWindowList;

// The window manager that the emulating window-system backends (sdl/, null/)
// share: class table, window table, posted-message queue, dispatch, default
// window handling and window enumeration, with Windows' answers.
//
// Each backend compiles window_manager.cpp into its own library (a program
// links exactly one backend) and defines the two hooks declared at the end:
// what minimising does (SDL minimises its real window; null posts the
// messages Windows would send) and where a trace line goes (null's call log;
// nowhere with SDL). The backend keeps its own per-window data (the SDL
// window, its size, ...) in BackendWindowRec, which only it defines.
//
// Main thread only, except EmuPost and PlatformPostMessage: window records
// are added and marked destroyed under the queue lock, so a poster on
// another thread can check its window is alive.
#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/window.h"

struct BackendWindowRec;  // the backend's own part of a window; defined by each backend

struct PlatformDCRec {
  PlatformWindowRec* window;  // set by PlatformGetDC; nullptr before
};

struct PlatformWindowRec {
  int number = 0;             // 1, 2, ... in creation order since the last reset
  std::string className;
  WindowProc proc = nullptr;  // the class's procedure
  uint32_t style = 0;
  bool alive = true;          // false once destroyed: the record stays, so a
                              // stale handle never names a newer window
  bool visible = false;       // as created or last shown (null answers from it)
  bool enabled = true;        // a disabled window takes no input
  uint32_t thread = 0;        // creating thread and process
  uint32_t process = 0;
  int32_t format = 0;         // pixel format set, 0 = none
  PlatformDCRec dc{nullptr};  // the window's one device context
  std::unique_ptr<BackendWindowRec, void (*)(BackendWindowRec*)> own{nullptr, nullptr};
};

// Forgets every class, window and posted message (the null backend's reset).
void EmuReset();

// ---- classes ----------------------------------------------------------------
// Registers a copy of *windowClass: an atom, or 0 when the class has no name
// or procedure or its name is already registered.
uint16_t EmuRegisterClass(const WNDCLASSA* windowClass);
// False when no such class is registered or a live window of it exists.
bool EmuUnregisterClass(const char* className);
const WNDCLASSA* EmuFindClass(const char* className);

// ---- windows ----------------------------------------------------------------
// A record for a new window of a registered class (nullptr when there is no
// such class), not yet in the table: the backend fills in its own part and
// then adds it with EmuAddWindow, or drops it when the native window fails.
std::unique_ptr<PlatformWindowRec> EmuNewWindow(const char* className, uint32_t style);
PlatformWindowRec* EmuAddWindow(std::unique_ptr<PlatformWindowRec> window);
// Marks the window destroyed and drops the messages posted to it.
void EmuRemoveWindow(PlatformWindowRec* window);
// The live window behind a handle, nullptr for none, a destroyed or an unknown one.
PlatformWindowRec* EmuLive(WindowHandle window);
// The live window whose device context dc is (after PlatformGetDC).
PlatformWindowRec* EmuLiveDC(DeviceContextHandle dc);
PlatformWindowRec* EmuNewestWindow();  // the newest live window, or nullptr
// Every window record since the last reset, destroyed ones included, oldest first.
const std::vector<std::unique_ptr<PlatformWindowRec>>& EmuWindows();
// "w<number>" for a window (destroyed or not), "-" for none, "?" for unknown.
std::string EmuWindowName(WindowHandle window);

// ---- messages ------------------------------------------------------------------
// Calls the window's procedure at once; answers its result (0 without one).
intptr_t EmuSend(PlatformWindowRec* window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// Queues a message for a live window or, with nullptr, for the thread. Any
// thread. False (nothing queued) for a destroyed or unknown window.
bool EmuPost(WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam);
// The oldest posted message: taken (PM_REMOVE) or looked at. False when none waits.
bool EmuTakePosted(MSG* message, uint32_t removeFlags);
// Posted messages still waiting, oldest first.
std::vector<MSG> EmuPostedMessages();

// ---- timers ----------------------------------------------------------------------
// Main thread only. Times are the backend's clock in ms (any origin).
// Sets timer id of a live window, or resets its period and due time if it
// is set already: a WM_TIMER becomes due every periodMs from nowMs. Answers
// id; 0 for no live window or a period of 0.
uintptr_t EmuSetTimer(WindowHandle window, uintptr_t id, uint32_t periodMs, double nowMs);
// The WM_TIMER of the first timer due at nowMs. At most one WM_TIMER per
// timer is ever pending: a late loop gets one message, not a burst, and
// taking it (PM_REMOVE) moves the timer on by its period from the last due
// time, or a period from now when that is already past. False when none
// is due. A destroyed window's timers are gone (EmuRemoveWindow).
bool EmuTakeDueTimer(MSG* message, uint32_t removeFlags, double nowMs);

// ---- hooks each backend defines ---------------------------------------------------
// The default handling's SC_MINIMIZE for a live window.
void EmuBackendMinimise(PlatformWindowRec* window);
// One line of trace for a call the emulation handles (printf format).
void EmuBackendTrace(const char* format, ...);

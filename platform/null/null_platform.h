// Controls of the scripted window-system backend for unit tests.
//
// The null backend implements platform/window.h without any window system:
// it records each operation in a call log, answers from a script, and can be
// told to make any step fail. Windows, contexts and classes are plain
// records; GL calls made by the code under test go nowhere (no context is
// ever current). Main thread only, except PlatformPostMessage, which any
// thread may call.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/types.h"

// Steps that can be told to fail.
enum class NullStep {
  RegisterClass,
  ChangeDisplaySettings,
  CreateWindow,
  GetDC,
  ChoosePixelFormat,
  SetPixelFormat,
  CreateContext,
  MakeCurrent,         // making a context current
  ReleaseCurrent,      // MakeCurrent(nullptr, nullptr)
  DeleteContext,
  ReleaseDC,
  DestroyWindow,
  UnregisterClass,
  SwapBuffers,
  SetTimer,
  MessageBox,          // no box can be shown: answers 0, text to stderr
  Count
};

// PlatformExitProcess throws this instead of ending the test process.
struct NullPlatformExit {
  uint32_t code;
};
// Thrown by PlatformPeekMessage on its 100,001st call since the last reset,
// so a loop under test that never ends fails its test instead of hanging.
struct NullPlatformPassLimit {};

// Forgets everything: windows, classes, contexts, queue, script, failures,
// call log, cursor counter, thread overrides. Call between test cases.
void NullPlatformReset();

// The call log, one line per recorded operation, e.g.
//   "CreateWindowEx(0x40100, KWOpenGL, Zephyra (Party), 0x16cf0000, 0, 0, 656, 519)".
// Windows are named w1, w2, ... in creation order; "-" for none.
const std::vector<std::string>& NullPlatformCalls();
void NullPlatformClearCalls();
// Log lines starting with prefix, in order.
std::vector<std::string> NullPlatformCallsStartingWith(const std::string& prefix);

void NullPlatformFail(NullStep step, bool fail = true);

// Answers for the next message boxes, first in first out. Without one, an
// OK box answers IDOK and a Yes/No box IDNO.
void NullPlatformQueueAnswer(int answer);

// Input: messages delivered by PlatformPeekMessage after the posted ones,
// in order (a WM_TIMER, a key press, WM_CLOSE, ...). hwnd nullptr means the
// newest window.
void NullPlatformScriptMessage(uint32_t message, uintptr_t wParam = 0, intptr_t lParam = 0);
// Called by PlatformPeekMessage when nothing waits, with the number of the
// empty pass (1, 2, ...); it may script messages, which the same call then
// delivers.
void NullPlatformOnIdle(std::function<void(uint64_t emptyPass)> hook);
uint64_t NullPlatformPeekCount();
// Messages still waiting (posted and scripted), oldest first.
std::vector<MSG> NullPlatformPendingMessages();

// Window properties for requester tests.
void NullPlatformSetWindowOwner(WindowHandle window, uint32_t thread, uint32_t process);
void NullPlatformSetForeground(WindowHandle window);  // nullptr: no foreground window
// The thread id PlatformGetCurrentThreadId answers (0: the real one).
void NullPlatformSetCurrentThread(uint32_t thread);

// State the shell leaves behind.
int32_t NullPlatformCursorCounter();
bool NullPlatformFullscreen();  // a display mode switch is in force
size_t NullPlatformLiveWindows();
size_t NullPlatformLiveContexts();

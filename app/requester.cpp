// The message requester: a modal box that keeps the calling thread's other
// windows from taking input while it is open.
#include <mutex>

#include "app/shell.h"
#include "platform/heap.h"
#include "platform/window.h"

DisabledWindowRecord* DisabledWindowList = nullptr;

namespace {

// Requesters may be open in several threads at once, each with its own
// records in the one list; the lock keeps their links whole. It is never
// held while a box is open.
std::mutex DisabledWindowLock;

// Disables window and records it for the current thread. A window whose
// record cannot be allocated is left enabled, so it is never lost disabled.
void DisableAndRecord(WindowHandle window, uint32_t thread) {
  std::lock_guard guard(DisabledWindowLock);
  auto* record = static_cast<DisabledWindowRecord*>(
      PlatformHeapAlloc(ObjectListHeap, sizeof(DisabledWindowRecord)));
  if (!record) return;
  PlatformEnableWindow(window, false);
  record->thread = thread;
  record->window = window;
  record->previous = nullptr;
  record->next = DisabledWindowList;
  if (DisabledWindowList) DisabledWindowList->previous = record;
  DisabledWindowList = record;
}

bool DisableThreadWindow(WindowHandle window, intptr_t /*lParam*/) {
  uint32_t thread = PlatformGetCurrentThreadId();
  if (PlatformGetWindowThreadProcessId(window, nullptr) == thread && PlatformIsWindowVisible(window) &&
      PlatformIsWindowEnabled(window) && window != PlatformGetForegroundWindow()) {
    DisableAndRecord(window, thread);
  }
  return true;  // visit every window
}

void Unlink(DisabledWindowRecord* record) {
  if (record == DisabledWindowList) {
    DisabledWindowList = record->next;
    if (record->next) record->next->previous = nullptr;
  } else {
    record->previous->next = record->next;
    if (record->next) record->next->previous = record->previous;
  }
}

// Enables again exactly the windows this thread's requester disabled.
void EnableThreadWindows() {
  uint32_t thread = PlatformGetCurrentThreadId();
  std::lock_guard guard(DisabledWindowLock);
  DisabledWindowRecord* record = DisabledWindowList;
  while (record) {
    DisabledWindowRecord* next = record->next;  // taken before the record goes
    if (record->thread == thread) {
      PlatformEnableWindow(record->window, true);
      Unlink(record);
      PlatformHeapFree(ObjectListHeap, record);
    }
    record = next;
  }
}

}  // namespace

int ShowMessageRequester(const char* title, const char* text, uint32_t flags) {
  PlatformEnumWindows(DisableThreadWindow, 1);
  WindowHandle owner = PlatformGetForegroundWindow();
  if (owner) {
    uint32_t processId = 0;
    PlatformGetWindowThreadProcessId(owner, &processId);
    if (processId != PlatformGetCurrentProcessId()) owner = nullptr;
  }
  int result = PlatformMessageBox(owner, text, title, flags);
  EnableThreadWindows();
  return result;
}

void ShowErrorRequester(const char* title, const char* text) {
  ShowMessageRequester(title, text, MB_OK);
}

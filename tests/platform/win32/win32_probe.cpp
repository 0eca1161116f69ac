// The Windows calls behind win32_probe.h, for the backend tests.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include "tests/platform/win32/win32_probe.h"

static_assert(ProbeSwMinimize == SW_MINIMIZE && ProbeSwShowMinimized == SW_SHOWMINIMIZED &&
              ProbeSwRestore == SW_RESTORE);

namespace {

HWND Hwnd(NativeWindow window) { return reinterpret_cast<HWND>(window); }

struct FindRequest {
  const char* title;
  HWND found;
};

BOOL CALLBACK MatchTitle(HWND hwnd, LPARAM lParam) {
  auto* request = reinterpret_cast<FindRequest*>(lParam);
  DWORD process = 0;
  GetWindowThreadProcessId(hwnd, &process);
  char title[256];
  if (process == GetCurrentProcessId() && GetWindowTextA(hwnd, title, sizeof title) &&
      lstrcmpA(title, request->title) == 0 && IsWindowVisible(hwnd)) {
    request->found = hwnd;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

bool ProbeClientSize(NativeWindow window, int32_t* width, int32_t* height) {
  RECT r;
  if (!GetClientRect(Hwnd(window), &r)) return false;
  *width = r.right - r.left;
  *height = r.bottom - r.top;
  return true;
}

bool ProbeOuterOrigin(NativeWindow window, int32_t* left, int32_t* top) {
  RECT r;
  if (!GetWindowRect(Hwnd(window), &r)) return false;
  *left = r.left;
  *top = r.top;
  return true;
}

bool ProbeSetClientSize(NativeWindow window, int32_t width, int32_t height) {
  HWND hwnd = Hwnd(window);
  RECT r{0, 0, width, height};
  AdjustWindowRectEx(&r, static_cast<DWORD>(GetWindowLongA(hwnd, GWL_STYLE)), FALSE,
                     static_cast<DWORD>(GetWindowLongA(hwnd, GWL_EXSTYLE)));
  return SetWindowPos(hwnd, nullptr, 0, 0, r.right - r.left, r.bottom - r.top,
                      SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE) != FALSE;
}

bool ProbeIsIconic(NativeWindow window) { return IsIconic(Hwnd(window)) != FALSE; }

bool ProbeSendKey(uint16_t virtualKey, bool down) {
  INPUT input{};
  input.type = INPUT_KEYBOARD;
  input.ki.wVk = virtualKey;
  input.ki.wScan = static_cast<WORD>(MapVirtualKeyA(virtualKey, MAPVK_VK_TO_VSC));
  input.ki.dwFlags = down ? 0 : KEYEVENTF_KEYUP;
  return SendInput(1, &input, sizeof input) == 1;
}

NativeWindow ProbeFindWindow(const char* title, uint32_t timeoutMs) {
  DWORD start = GetTickCount();
  do {
    FindRequest request{title, nullptr};
    EnumWindows(MatchTitle, reinterpret_cast<LPARAM>(&request));
    if (request.found) return reinterpret_cast<NativeWindow>(request.found);
    Sleep(10);
  } while (GetTickCount() - start < timeoutMs);
  return nullptr;
}

NativeWindow ProbeOwner(NativeWindow window) {
  return reinterpret_cast<NativeWindow>(GetWindow(Hwnd(window), GW_OWNER));
}

bool ProbeHasControl(NativeWindow dialog, int32_t id) { return GetDlgItem(Hwnd(dialog), id) != nullptr; }

bool ProbeHasIcon(NativeWindow box) {
  // A message box's icon is a static control holding an icon (the box may
  // keep an empty one when it shows none).
  for (HWND child = GetWindow(Hwnd(box), GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
    if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
        SendMessageA(child, STM_GETICON, 0, 0) != 0)
      return true;
  return false;
}

bool ProbeAnswer(NativeWindow dialog, int32_t buttonId) {
  HWND box = Hwnd(dialog);
  return PostMessageA(box, WM_COMMAND, MAKEWPARAM(buttonId, BN_CLICKED),
                      reinterpret_cast<LPARAM>(GetDlgItem(box, buttonId))) != FALSE;
}

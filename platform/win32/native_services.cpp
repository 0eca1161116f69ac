// The Win32 calls behind native_services.h. This file includes <windows.h>
// and none of the project's platform headers.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
// After <windows.h>: psapi.h uses its types. K32GetProcessMemoryInfo lives
// in kernel32 (PSAPI_VERSION 2), so no psapi.dll import is needed.
#include <psapi.h>

#include "platform/win32/native_services.h"

void* NativeLoadLibrary(const char* path) {
  // No error box for a missing or broken DLL: the caller reports it.
  const UINT old = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = LoadLibraryA(path);
  SetErrorMode(old);
  return module;
}

void* NativeGetProcAddress(void* module, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(module), name));
}

bool NativeFreeLibrary(void* module) { return FreeLibrary(static_cast<HMODULE>(module)) != 0; }

uint32_t NativeCurrentThreadId() { return GetCurrentThreadId(); }

uint32_t NativeCurrentProcessId() { return GetCurrentProcessId(); }

size_t NativePeakWorkingSetBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  if (!K32GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters)) return 0;
  return counters.PeakWorkingSetSize;
}

uint32_t NativeTickCount() { return GetTickCount(); }

void NativeSleep(uint32_t ms) { Sleep(ms); }

void* NativeHeapCreate(size_t initialSize) {
  // Growable (maximum 0): the caller enforces its own cap on the sum of block
  // sizes, which a fixed-size heap could not (its limit counts the heap's own
  // bookkeeping, and it refuses blocks above about 512 KB).
  return HeapCreate(0, initialSize, 0);
}

void* NativeHeapAlloc(void* heap, size_t size) { return HeapAlloc(static_cast<HANDLE>(heap), HEAP_ZERO_MEMORY, size); }

void* NativeHeapReAlloc(void* heap, void* block, size_t size) {
  return HeapReAlloc(static_cast<HANDLE>(heap), HEAP_ZERO_MEMORY, block, size);
}

bool NativeHeapFree(void* heap, void* block) { return HeapFree(static_cast<HANDLE>(heap), 0, block) != 0; }

bool NativeHeapDestroy(void* heap) { return HeapDestroy(static_cast<HANDLE>(heap)) != 0; }

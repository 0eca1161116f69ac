// Plain-typed wrappers over the Win32 services the platform layer needs:
// libraries, the tick clock, private heaps. Only native_services.cpp includes
// <windows.h>; callers see integers and opaque pointers, so this header can
// sit beside the project's own Windows-named headers.
#pragma once
#include <cstddef>
#include <cstdint>

// LoadLibraryA / GetProcAddress / FreeLibrary. Handles are HMODULEs.
void* NativeLoadLibrary(const char* path);
void* NativeGetProcAddress(void* module, const char* name);
bool NativeFreeLibrary(void* module);

// GetCurrentThreadId / GetCurrentProcessId.
uint32_t NativeCurrentThreadId();
uint32_t NativeCurrentProcessId();

// The process's peak working set in bytes (GetProcessMemoryInfo); 0 if unknown.
size_t NativePeakWorkingSetBytes();

// GetTickCount (milliseconds since boot, wrapping at 2^32) and Sleep.
uint32_t NativeTickCount();
void NativeSleep(uint32_t ms);

// HeapCreate / HeapAlloc (zero-filled) / HeapReAlloc / HeapFree /
// HeapDestroy, serialised by the system. Handles are HANDLEs; nullptr on failure.
void* NativeHeapCreate(size_t initialSize);
void* NativeHeapAlloc(void* heap, size_t size);
void* NativeHeapReAlloc(void* heap, void* block, size_t size);
bool NativeHeapFree(void* heap, void* block);
bool NativeHeapDestroy(void* heap);

// Run-time loading of shared libraries and lookup of their functions by name.
#pragma once
#include "platform/types.h"

// Loads the library at path (resolved as given: "./x.so" means the current
// directory). Returns nullptr when it cannot be loaded.
ModuleHandle PlatformLoadLibrary(const char* path);
// The address of the exported symbol, or nullptr.
void* PlatformGetProcAddress(ModuleHandle module, const char* name);
// Unloads the library; false when the system refuses.
bool PlatformFreeLibrary(ModuleHandle module);

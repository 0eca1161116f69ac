// Shared-library loading with dlopen/dlsym for Linux and other Unix systems.
#include <dlfcn.h>

#include "platform/dynlib.h"

ModuleHandle PlatformLoadLibrary(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  // RTLD_LOCAL keeps the library's symbols out of the global namespace, like a
  // DLL: every function is reached through PlatformGetProcAddress.
  return dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* PlatformGetProcAddress(ModuleHandle module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return dlsym(module, name);
}

bool PlatformFreeLibrary(ModuleHandle module) {
  if (module == nullptr) return false;
  return dlclose(module) == 0;
}

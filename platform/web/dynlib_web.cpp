// Run-time loading of libraries in the browser: WebAssembly side modules
// through dlopen, from the program's virtual file system. The page puts a
// library there before the program starts (page.js fetches bassmod.wasm
// from the page's folder and stores it as /bassmod.so, the name the program
// asks for from its current directory "/"); without it loading fails.
#include <dlfcn.h>

#include "platform/dynlib.h"

ModuleHandle PlatformLoadLibrary(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
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

// Run-time loading of libraries in the browser: WebAssembly side modules
// through dlopen, fetched from the page's folder.
#include <dlfcn.h>

#include <cstring>
#include <string>

#include "platform/dynlib.h"

namespace {

// A shared library's file on the page is a side module: "./name.so" or
// ".\name.dll" is loaded as "./name.wasm" (relative to the page).
std::string SideModulePath(const char* path) {
  std::string p = path;
  for (const char* suffix : {".so", ".dll"}) {
    const size_t n = std::strlen(suffix);
    if (p.size() > n && p.compare(p.size() - n, n, suffix) == 0) {
      p.resize(p.size() - n);
      p += ".wasm";
      break;
    }
  }
  if (p.rfind(".\\", 0) == 0) p[1] = '/';
  return p;
}

}  // namespace

ModuleHandle PlatformLoadLibrary(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  return dlopen(SideModulePath(path).c_str(), RTLD_NOW | RTLD_LOCAL);
}

void* PlatformGetProcAddress(ModuleHandle module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return dlsym(module, name);
}

bool PlatformFreeLibrary(ModuleHandle module) {
  if (module == nullptr) return false;
  return dlclose(module) == 0;
}

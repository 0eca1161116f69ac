// Shared-library loading with POSIX dlopen/dlsym: Linux and other Unix
// systems, and the browser, where dlopen loads a WebAssembly side module
// from the program's virtual file system (the page stores bassmod.wasm
// there as /bassmod.so before the program starts; the current directory is
// "/", and there is no /proc/self/exe, so no fallback beside it).
#include <dlfcn.h>
#include <limits.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "platform/dynlib.h"

namespace {

// RTLD_LOCAL keeps the library's symbols out of the global namespace, like a
// DLL: every function is reached through PlatformGetProcAddress.
constexpr int LoadFlags = RTLD_NOW | RTLD_LOCAL;

// "./name" with the file absent from the current directory names the same
// file beside the executable: an unpacked release started as ../dir/zephyra
// or through a symlink still finds the library it ships with. The program's
// own folder is read from /proc/self/exe, which resolves symlinks. Empty when
// there is no such fallback.
std::string BesideExecutable(const char* path) {
  if (std::strncmp(path, "./", 2) != 0 || path[2] == '\0') return {};
  if (access(path, F_OK) == 0 || errno != ENOENT) return {};  // present here: its own error stands
  char exe[PATH_MAX];
  ssize_t length = readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (length <= 0) return {};
  std::string folder(exe, static_cast<size_t>(length));
  size_t slash = folder.rfind('/');
  if (slash == std::string::npos) return {};
  folder.resize(slash + 1);
  return folder + (path + 2);
}

}  // namespace

ModuleHandle PlatformLoadLibrary(const char* path) {
  if (path == nullptr || *path == '\0') return nullptr;
  // The current directory comes first, as for a DLL loaded by relative path.
  if (void* module = dlopen(path, LoadFlags)) return module;
  std::string beside = BesideExecutable(path);
  return beside.empty() ? nullptr : dlopen(beside.c_str(), LoadFlags);
}

void* PlatformGetProcAddress(ModuleHandle module, const char* name) {
  if (module == nullptr || name == nullptr) return nullptr;
  return dlsym(module, name);
}

bool PlatformFreeLibrary(ModuleHandle module) {
  if (module == nullptr) return false;
  return dlclose(module) == 0;
}

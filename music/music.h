// Run-time binding to the sound library: a table of loaded libraries by slot,
// calls by function name, and the five music operations built on them.
#pragma once
#include <cstdint>
#include <vector>

#include "platform/types.h"
#include "soundlib/bassmod.h"

constexpr int32_t MusicLibrarySlot = 1;
// Flags the embedded module is loaded with, whoever plays it (the library
// we ship ignores them; they are passed as the module was always loaded).
constexpr uint32_t MusicLoadFlags = 0x204;

// The table of loaded libraries, indexed by slot: a module handle, or nullptr
// for an empty slot. Written on the main thread only, at start-up and at the
// final clean-up; read by calls from the music library's thread in between.
extern std::vector<ModuleHandle> DynLibTable;

void CreateDynLibTable();                  // 10 empty slots (any open library is closed first)
// Loads the library at path into the slot: nullptr for an empty path, a
// negative slot or a failed load (the slot then keeps what it held). A slot at
// or beyond the table's size first grows the table to slot + 30 slots; a slot
// already holding a library has it closed before the new handle is stored.
ModuleHandle DynLibOpen(int32_t slot, const char* path);
void DynLibClose(int32_t slot);            // unloads the slot's library, if any
void DynLibCloseAll();                     // highest slot down to 0

// The named function of the slot's library, looked up now (nothing is
// cached); nullptr for an empty or unknown slot, an empty name or a missing function.
void* DynLibFindFunction(int32_t slot, const char* name);

// Calls the named function of the slot's library with the given arguments
// (their types as written at the call) and yields its 32-bit result; yields 0
// without calling anything when DynLibFindFunction finds nothing.
template <typename... Args>
uint32_t DynLibCallByName(int32_t slot, const char* name, Args... args) {
  void* function = DynLibFindFunction(slot, name);
  if (function == nullptr) return 0;
  return reinterpret_cast<uint32_t (*)(Args...)>(function)(args...);
}

// The music operations over the slot's library (see each in music.cpp).
// Failures are silent: the result is 0 and, for MusicLoad and MusicSetSync,
// the library's error text is fetched and dropped.
uint32_t MusicInit(int32_t slot, const char* path, int32_t device, uint32_t freq, uint32_t flags);
uint32_t MusicLoad(int32_t slot, uint32_t mem, const void* data, uint32_t offset, uint32_t length, uint32_t flags);
uint32_t MusicPlay(int32_t slot);
uint32_t MusicSetSync(int32_t slot, uint32_t type, uint32_t param, SYNCPROC proc, uint32_t user);
// Stops the music and frees the library's output: once it returns, the
// library's threads have ended and no callback runs any more. Made by the
// shutdown before the library is unloaded (see ReleaseRuntime). The library's
// result; 0 without calling anything for an empty slot or a library without
// BASSMOD_Free.
uint32_t MusicFree(int32_t slot);
const char* MusicErrorText(int32_t slot);
// order (or instrument) in the low 16 bits, row (or note) in the high 16
// bits; MusicPos(5, -1) has 0xFFFF, "any", in the high half.
uint32_t MusicPos(uint32_t first, uint32_t second);

// The platform's form of ".\bassmod.dll": the library in the current directory.
extern const char* const MusicLibraryPath;

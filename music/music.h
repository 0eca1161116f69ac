// Run-time binding to the sound library: a table of loaded libraries by slot,
// calls by function name, and the five music operations built on them.
#pragma once
#include <cstdint>

#include "platform/types.h"
#include "soundlib/bassmod.h"

constexpr int32_t MusicLibrarySlot = 1;

void CreateDynLibTable();                  // 10 empty slots
ModuleHandle DynLibOpen(int32_t slot, const char* path);
void DynLibClose(int32_t slot);
void DynLibCloseAll();                     // highest slot down to 0

uint32_t MusicInit(int32_t slot, const char* path, int32_t device, uint32_t freq, uint32_t flags);
uint32_t MusicLoad(int32_t slot, uint32_t mem, const void* data, uint32_t offset, uint32_t length, uint32_t flags);
uint32_t MusicPlay(int32_t slot);
uint32_t MusicSetSync(int32_t slot, uint32_t type, uint32_t param, SYNCPROC proc, uint32_t user);
const char* MusicErrorText(int32_t slot);
uint32_t MusicPos(uint32_t first, uint32_t second);

// The platform's form of ".\bassmod.dll": the library in the current directory.
extern const char* const MusicLibraryPath;

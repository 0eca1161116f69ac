// Run-time binding to the sound library: the table of loaded libraries, calls
// by function name, and the music operations. Every failure is silent: a
// result of 0, never a message.
#include "music/music.h"

#include <cstddef>

#include "platform/dynlib.h"

std::vector<ModuleHandle> DynLibTable;

#if defined(_WIN32)
const char* const MusicLibraryPath = ".\\bassmod.dll";
#else
const char* const MusicLibraryPath = "./bassmod.so";
#endif

namespace {

constexpr std::size_t DynLibInitialSlots = 10;
constexpr std::size_t DynLibGrowth = 30;  // slots added beyond the one being opened

bool SlotInTable(int32_t slot) { return slot >= 0 && static_cast<std::size_t>(slot) < DynLibTable.size(); }

// On a failed call (result 0) the library's error text is fetched and dropped.
uint32_t DropErrorTextOnFailure(int32_t slot, uint32_t result) {
  if (result == 0) (void)MusicErrorText(slot);
  return result;
}

}  // namespace

void CreateDynLibTable() {
  DynLibCloseAll();
  DynLibTable.assign(DynLibInitialSlots, nullptr);
}

ModuleHandle DynLibOpen(int32_t slot, const char* path) {
  if (path == nullptr || *path == '\0' || slot < 0) return nullptr;
  if (static_cast<std::size_t>(slot) >= DynLibTable.size()) DynLibTable.resize(static_cast<std::size_t>(slot) + DynLibGrowth, nullptr);
  ModuleHandle module = PlatformLoadLibrary(path);
  if (module == nullptr) return nullptr;
  DynLibClose(slot);
  DynLibTable[static_cast<std::size_t>(slot)] = module;
  return module;
}

void DynLibClose(int32_t slot) {
  if (!SlotInTable(slot) || DynLibTable[static_cast<std::size_t>(slot)] == nullptr) return;
  PlatformFreeLibrary(DynLibTable[static_cast<std::size_t>(slot)]);
  DynLibTable[static_cast<std::size_t>(slot)] = nullptr;
}

void DynLibCloseAll() {
  for (std::size_t slot = DynLibTable.size(); slot-- > 0;) DynLibClose(static_cast<int32_t>(slot));
}

void* DynLibFindFunction(int32_t slot, const char* name) {
  if (!SlotInTable(slot) || DynLibTable[static_cast<std::size_t>(slot)] == nullptr) return nullptr;
  if (name == nullptr || *name == '\0') return nullptr;
  return PlatformGetProcAddress(DynLibTable[static_cast<std::size_t>(slot)], name);
}

// Opens the library into the slot and initialises it on the given output
// device (-1 the default) at freq Hz. 0 without calling anything when the
// library cannot be opened; otherwise the library's own result.
uint32_t MusicInit(int32_t slot, const char* path, int32_t device, uint32_t freq, uint32_t flags) {
  if (DynLibOpen(slot, path) == nullptr) return 0;
  return DynLibCallByName(slot, "BASSMOD_Init", device, freq, flags);
}

// Loads a module (mem 1: from data + offset, length bytes). On failure the
// library's error text is fetched and dropped.
uint32_t MusicLoad(int32_t slot, uint32_t mem, const void* data, uint32_t offset, uint32_t length, uint32_t flags) {
  return DropErrorTextOnFailure(slot, DynLibCallByName(slot, "BASSMOD_MusicLoad", mem, data, offset, length, flags));
}

uint32_t MusicPlay(int32_t slot) { return DynLibCallByName(slot, "BASSMOD_MusicPlay"); }

// Registers proc to be called with user at the sync's event; the handle, or 0
// (the error text is then fetched and dropped). Called on the music thread too.
uint32_t MusicSetSync(int32_t slot, uint32_t type, uint32_t param, SYNCPROC proc, uint32_t user) {
  return DropErrorTextOnFailure(slot, DynLibCallByName(slot, "BASSMOD_MusicSetSync", type, param, proc, user));
}

uint32_t MusicFree(int32_t slot) { return DynLibCallByName(slot, "BASSMOD_Free"); }

// The text for the library's last error code, tested in this order.
const char* MusicErrorText(int32_t slot) {
  int32_t code = static_cast<int32_t>(DynLibCallByName(slot, "BASSMOD_ErrorGetCode"));
  switch (code) {
    case 0: return "All is OK";
    case 1: return "Memory Error";
    case 2: return "Can't Open the File";
    case 3: return "Can't Find a Free Sound Driver";
    case 5: return "Invalid Handle";
    case 6: return "Unsupported Format";
    case 7: return "Invalid Playback Position";
    case 8: return "BASS_Init Has Not Been Successfully Called";
    case 14: return "Already Initialized";
    case 16: return "Not Paused";
    case 19: return "An Illegal Type Was Specified";
    case 20: return "An Illegal Parameter Was Specified";
    case 23: return "Illegal Device Number";
    case 24: return "Not Playing";
    case 28: return "No Music";
    case 30: return "No Sync Avaliable";
    case -1: return "Some Other Mystery Error";
    default: return "Some Other Mystery Error with no code";
  }
}

uint32_t MusicPos(uint32_t first, uint32_t second) { return (first & 0xFFFF) | ((second & 0xFFFF) << 16); }

// Test-side controls of the fake sound library (tests/music/fake_soundlib.c),
// found by name in the music slot, where the binding opened it.
#pragma once
#include <cstdint>
#include <type_traits>
#include <vector>

#include "music/music.h"
#include "tests/music/fake_soundlib.h"

struct FakeBassmod {
  FakeState* State = nullptr;  // setSyncResult 0 makes every registration fail
  FakeSyncCountFn SyncCount = nullptr;
  FakeGetSyncFn GetSync = nullptr;
  FakeEventFn Position = nullptr;  // order, row
  FakeEventFn Note = nullptr;      // instrument, note
  int32_t RegistrationCalls() const { return State->setSyncCalls; }
};

// Opens the fake in the music slot (as start-up does) and binds its controls.
inline bool OpenFakeBassmod(FakeBassmod* fake) {
  CreateDynLibTable();
  MusicInit(MusicLibrarySlot, FAKE_BASSMOD_PATH, -1, 44100, 0);
  auto get = [](auto& fn, const char* name) {
    fn = reinterpret_cast<std::remove_reference_t<decltype(fn)>>(DynLibFindFunction(MusicLibrarySlot, name));
    return fn != nullptr;
  };
  fake->State = FakeStateIn(MusicLibrarySlot);
  return fake->State != nullptr && get(fake->SyncCount, "FakeSyncCount") && get(fake->GetSync, "FakeGetSync") &&
         get(fake->Position, "FakePosition") && get(fake->Note, "FakeNote");
}

inline void CloseFakeBassmod(FakeBassmod* fake) {
  *fake = FakeBassmod{};
  DynLibCloseAll();
}

// One music event of a scripted song: a row reached, or an instrument played.
struct SongEvent {
  bool Note;
  uint32_t First;   // order, or instrument
  uint32_t Second;  // row, or note
};

// The song's shape as the choreography depends on it: orders 0..9 once, then
// orders 6..9 over and over; rows per order; instrument 4 plays from order 1,
// instrument 5 in orders 3, 4 and 6..9. passes6to9 counts the passes through
// orders 6..9 including the first.
inline std::vector<SongEvent> ScriptedSong(int passes6to9) {
  static const uint32_t rows[10] = {24, 96, 96, 96, 96, 24, 64, 64, 64, 64};
  std::vector<uint32_t> orders = {0, 1, 2, 3, 4, 5};
  for (int p = 0; p < passes6to9; ++p)
    for (uint32_t o = 6; o <= 9; ++o) orders.push_back(o);
  std::vector<SongEvent> song;
  for (uint32_t order : orders) {
    for (uint32_t row = 0; row < rows[order]; ++row) {
      song.push_back({false, order, row});
      if (order >= 1 && order != 5 && row % 4 == 0) song.push_back({true, 4, 49});
      if ((order == 3 || order == 4 || order >= 6) && row % 8 == 2) song.push_back({true, 5, 61});
    }
  }
  return song;
}

inline void PlayEvent(const FakeBassmod& fake, const SongEvent& e) {
  if (e.Note)
    fake.Note(e.First, e.Second);
  else
    fake.Position(e.First, e.Second);
}

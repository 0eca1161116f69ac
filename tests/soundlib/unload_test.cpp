// Unloading the sound library while its music plays: the library stops its
// threads and closes the device as it goes, so nothing runs in unmapped code
// and no callback comes afterwards. Repeated many times, on the dummy device
// and on the silent clock.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <thread>
#include <vector>

#include "platform/dynlib.h"
#include "soundlib/bassmod.h"
#include "tests/soundlib/song_fixture.h"

namespace {

std::atomic<int> g_calls{0};
void Count(uint32_t, uint32_t, uint32_t) { ++g_calls; }

template <typename F>
F Get(ModuleHandle lib, const char* name) {
  return reinterpret_cast<F>(PlatformGetProcAddress(lib, name));
}

void PlayAndUnload(int rounds, bool silent) {
  std::vector<uint8_t> song = RowEveryTickSong();  // syncs keep coming while we unload
  setenv("SDL_AUDIODRIVER", silent ? "no-such-driver" : "dummy", 1);

  for (int round = 0; round < rounds; ++round) {
    ModuleHandle lib = PlatformLoadLibrary("./bassmod.so");
    ASSERT_NE(lib, nullptr);
    auto init = Get<decltype(&BASSMOD_Init)>(lib, "BASSMOD_Init");
    auto error = Get<decltype(&BASSMOD_ErrorGetCode)>(lib, "BASSMOD_ErrorGetCode");
    auto load = Get<decltype(&BASSMOD_MusicLoad)>(lib, "BASSMOD_MusicLoad");
    auto setSync = Get<decltype(&BASSMOD_MusicSetSync)>(lib, "BASSMOD_MusicSetSync");
    auto play = Get<decltype(&BASSMOD_MusicPlay)>(lib, "BASSMOD_MusicPlay");
    ASSERT_TRUE(init && error && load && setSync && play);
    // A fresh library every round: the last unload really released it.
    init(-1, 44100, 0);
    ASSERT_EQ(error(), silent ? BASS_ERROR_DRIVER : BASS_OK) << "round " << round;
    ASSERT_EQ(load(1, song.data(), 0, static_cast<uint32_t>(song.size()), 0), 1u);
    ASSERT_NE(setSync(BASS_SYNC_POS, 0xFFFF0000u, Count, 0), 0u);
    ASSERT_EQ(play(), 1u);
    int before = g_calls;
    if (round % 4 == 3) {
      // Unloaded just after a sync came (the music's own clock: a row every
      // tick, so more are due), however long a busy machine takes to get
      // the music going.
      const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(10);
      while (g_calls == before && std::chrono::steady_clock::now() < giveUp)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(5 + 15 * (round % 4)));
    }
    ASSERT_TRUE(PlatformFreeLibrary(lib));
    int after = g_calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(g_calls, after) << "a callback after the unload, round " << round;
    if (round % 4 == 3) {
      EXPECT_GT(after, before) << "no sync within 10 s of playing, round " << round;
    }
  }
}

TEST(Unload, WhilePlayingOnTheDevice) { PlayAndUnload(24, false); }

TEST(Unload, WhilePlayingOnTheSilentClock) { PlayAndUnload(16, true); }

}  // namespace

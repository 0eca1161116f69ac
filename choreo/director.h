// Scene director: music syncs switch scenes and cue events.
#pragma once
#include <cstdint>

// Registers the eight start-up syncs on the music library slot.
void RegisterMusicSyncs();
// The sync callback; runs on the music library's thread. Only `user` is read.
void OnMusicSync(uint32_t handle, uint32_t data, uint32_t user);

// Scene director: music syncs switch scenes and cue events.
#pragma once
#include <cstdint>

#include "soundlib/bassmod.h"  // BASSMOD_CALLBACK: the callbacks' calling convention

// Registers the eight start-up syncs on the music library slot.
void RegisterMusicSyncs();
// The sync callback; runs on the music library's thread. Only `user` is read.
void BASSMOD_CALLBACK OnMusicSync(uint32_t handle, uint32_t data, uint32_t user);

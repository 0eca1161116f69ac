// The sound library's output on SDL audio (Linux): SDL's audio thread calls
// back for each buffer, and the buffer's first frame is taken as heard when
// SDL takes it (plus one buffer for hardware drivers).
#include <SDL.h>

#include <cstring>

#include "soundlib/output.h"

namespace {

SDL_AudioDeviceID Device = 0;
bool SdlAudioStarted = false;  // we called SDL_InitSubSystem(SDL_INIT_AUDIO)

void SDLCALL AudioCallback(void*, Uint8* stream, int len) {
  CorePull(reinterpret_cast<int16_t*>(stream), static_cast<size_t>(len) / 4);
}

}  // namespace

bool OutputOpen(uint32_t frequency, uint32_t bufferFrames, uint32_t* latencyFrames) {
  if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
    // SDL keeps its error text and hints even so; release them when nothing
    // else uses SDL, as the library (and SDL with it) may be unloaded next.
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    return false;
  }
  SdlAudioStarted = true;
  SDL_AudioSpec want{};
  SDL_AudioSpec have{};
  want.freq = static_cast<int>(frequency);
  want.format = AUDIO_S16SYS;
  want.channels = 2;
  want.samples = static_cast<Uint16>(bufferFrames);
  want.callback = AudioCallback;
  // No changes allowed: SDL converts if the hardware differs, so the callback
  // always sees our format and a buffer of bufferFrames frames.
  Device = SDL_OpenAudioDevice(nullptr, 0, &want, &have, 0);
  if (Device == 0) {
    OutputClose();
    return false;
  }
  // The dummy and disk drivers start "playing" a buffer as SDL takes it; a
  // hardware driver still has about one more buffer queued ahead of it.
  const char* driver = SDL_GetCurrentAudioDriver();
  bool immediate = driver && (std::strcmp(driver, "dummy") == 0 || std::strcmp(driver, "disk") == 0);
  *latencyFrames = immediate ? 0 : have.samples;
  return true;
}

void OutputStart() {
  if (Device) SDL_PauseAudioDevice(Device, 0);
}

void OutputStop() {
  if (Device) SDL_PauseAudioDevice(Device, 1);  // returns once the callback is out
}

void OutputClose() {
  if (Device) {
    SDL_CloseAudioDevice(Device);
    Device = 0;
  }
  if (SdlAudioStarted) {
    SDL_QuitSubSystem(SDL_INIT_AUDIO);
    // If nothing else in the process uses SDL, release all of it: the
    // library may be unloaded next, and SDL with it.
    if (SDL_WasInit(SDL_INIT_EVERYTHING) == 0) SDL_Quit();
    SdlAudioStarted = false;
  }
}

// dlclose runs the library's unload hook, which stops the threads first.
void OutputKeepLoaded(bool) {}

bool OutputProcessEnding() { return false; }

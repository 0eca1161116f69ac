// Exported interface of the sound library (C linkage, 32-bit arguments).
#pragma once
#include <cstdint>

extern "C" {
// Sync callback: the sync's handle, event data, and the user value given at registration.
typedef void (*SYNCPROC)(uint32_t handle, uint32_t data, uint32_t user);

// Error codes of BASSMOD_ErrorGetCode.
enum : int32_t {
  BASS_OK = 0, BASS_ERROR_MEM = 1, BASS_ERROR_FILEOPEN = 2, BASS_ERROR_DRIVER = 3,
  BASS_ERROR_HANDLE = 5, BASS_ERROR_FORMAT = 6, BASS_ERROR_POSITION = 7,
  BASS_ERROR_INIT = 8, BASS_ERROR_ALREADY = 14, BASS_ERROR_NOTPAUSED = 16,
  BASS_ERROR_ILLTYPE = 19, BASS_ERROR_ILLPARAM = 20, BASS_ERROR_DEVICE = 23,
  BASS_ERROR_NOPLAY = 24, BASS_ERROR_NOMUSIC = 28, BASS_ERROR_NOSYNC = 30,
  BASS_ERROR_UNKNOWN = -1,
};

// Sync types. Position: param = order | row << 16 (row 0xFFFF = any row).
// Instrument: param = instrument (from 1) | note << 16 (0xFFFF = any note).
constexpr uint32_t BASS_SYNC_POS = 0;
constexpr uint32_t BASS_SYNC_MUSICINST = 1;
constexpr uint32_t BASS_SYNC_ONETIME = 0x80000000u;

// device -1: default output; device 0: no output (decode mode, see below).
uint32_t BASSMOD_Init(int32_t device, uint32_t freq, uint32_t flags);
uint32_t BASSMOD_MusicLoad(uint32_t mem, const void* file, uint32_t offset, uint32_t length, uint32_t flags);
uint32_t BASSMOD_MusicPlay();
uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, SYNCPROC proc, uint32_t user);
int32_t BASSMOD_ErrorGetCode();

// Decode mode (after BASSMOD_Init(0, ...) and BASSMOD_MusicLoad): renders the
// next `frames` stereo frames of signed 16-bit audio at the init frequency into
// buffer (4 bytes per frame). Every sync due inside the block fires on the
// caller's thread, in order, before the call returns. Returns the frames
// written (fewer only at an end the module cannot loop past), or 0 with an
// error code.
uint32_t BASSMOD_MusicDecode(void* buffer, uint32_t frames);
// Current playback position as order | row << 16 (decode mode: at the end of
// the last block rendered). 0xFFFFFFFF with an error code when nothing is loaded.
uint32_t BASSMOD_MusicGetPosition();
// Stops playback and frees the module and the output; the library can be
// initialised again afterwards. Called automatically when the library unloads.
uint32_t BASSMOD_Free();
}

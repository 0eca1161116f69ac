// Exported interface of the sound library (C linkage, 32-bit arguments).
#pragma once
#include <cstdint>

// The library exports exactly the functions below (a DLL's export table on
// Windows; hidden visibility for everything else on other systems).
#if defined(_WIN32)
#if defined(BASSMOD_BUILDING)
#define BASSMOD_EXPORT __declspec(dllexport)
#else
#define BASSMOD_EXPORT
#endif
// Callbacks use the platform's standard calling convention.
#define BASSMOD_CALLBACK __stdcall
#elif defined(__GNUC__)
#define BASSMOD_EXPORT __attribute__((visibility("default")))
#define BASSMOD_CALLBACK
#else
#define BASSMOD_EXPORT
#define BASSMOD_CALLBACK
#endif

extern "C" {
// Sync callback: the sync's handle, event data, and the user value given at registration.
typedef void(BASSMOD_CALLBACK* SYNCPROC)(uint32_t handle, uint32_t data, uint32_t user);

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

// device -1: default output (1 is the same device); device 0: no output
// (decode mode, see below); anything else: BASS_ERROR_DEVICE. freq: 8000 to
// 192000 Hz. flags: none defined, ignored.
// With no usable sound device, Init answers 0 with BASS_ERROR_DRIVER but the
// library stays initialised on a silent real-time clock: loading, playing and
// syncs then work as with sound, only nothing is heard. A second Init before
// BASSMOD_Free answers 0 with BASS_ERROR_ALREADY.
BASSMOD_EXPORT uint32_t BASSMOD_Init(int32_t device, uint32_t freq, uint32_t flags);
// mem 1: `file` points at the module in memory, `offset` bytes in, `length`
// bytes long. mem 0: `file` is a path; `length` 0 reads to the end of the file.
// Only XM (version 0x0104) is accepted; the data is checked before playing.
// Replaces (and stops) any music loaded before, dropping its syncs. flags are
// ignored: playback always follows the module's own order jumps and, at the
// end of the order table, restarts at the module's restart position.
// Returns 1, or 0 with BASS_ERROR_INIT, _FILEOPEN, _FORMAT (malformed,
// truncated, zero length), _MEM or _ILLPARAM (null data).
BASSMOD_EXPORT uint32_t BASSMOD_MusicLoad(uint32_t mem, const void* file, uint32_t offset, uint32_t length,
                                          uint32_t flags);
// Starts playback on the library's own threads (no effect if playing, and
// none needed in decode mode). 0 with BASS_ERROR_INIT or _NOMUSIC.
BASSMOD_EXPORT uint32_t BASSMOD_MusicPlay();
// Registers a sync on the loaded music; returns its non-zero handle, or 0
// with BASS_ERROR_INIT, _NOMUSIC, _ILLTYPE or _ILLPARAM (no proc, instrument 0).
// The callback gets data = order | row << 16 (position syncs) or
// instrument | note << 16 (instrument syncs; note 1 = C-0 ... 96 = B-7).
// An instrument sync fires on every note the pattern data starts with that
// instrument (a note without an instrument number uses the channel's last
// one; at its delayed tick for a note delay), not on retriggers, key-offs or
// tone-portamento slides. Syncs due at the same moment fire in the order of
// the pattern data (the row first, then channels left to right), each event's
// syncs in registration order.
// Safe to call from inside a callback. A sync registered while a row is being
// delivered takes effect from the next row on: it does NOT fire for the
// arrival during which it was registered, even if it names that position.
BASSMOD_EXPORT uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, SYNCPROC proc, uint32_t user);
// The code of the calling thread's last call into the library.
BASSMOD_EXPORT int32_t BASSMOD_ErrorGetCode();

// Decode mode (after BASSMOD_Init(0, ...) and BASSMOD_MusicLoad): renders the
// next `frames` stereo frames of signed 16-bit audio at the init frequency into
// buffer (4 bytes per frame). Every sync due inside the block fires on the
// caller's thread, in order, before the call returns. Returns the frames
// written (fewer only at an end the module cannot loop past), or 0 with an
// error code.
// Callbacks see the frame they belong to through BASSMOD_MusicGetSample.
// 0 with BASS_ERROR_ILLPARAM when the library was not initialised on device 0.
BASSMOD_EXPORT uint32_t BASSMOD_MusicDecode(void* buffer, uint32_t frames);
// Current playback position as order | row << 16 (decode mode: at the end of
// the last block rendered). 0xFFFFFFFF with an error code when nothing is loaded.
// Real time: the row last heard.
BASSMOD_EXPORT uint32_t BASSMOD_MusicGetPosition();
// Position in frames since the music was loaded. Inside a sync callback: the
// exact frame at which the sync's event sounds (first frame of its tick).
// Elsewhere: decode mode, the frames rendered; real time, the frames heard so
// far (estimated from the output's clock). 0 with an error code when nothing
// is loaded.
BASSMOD_EXPORT uint64_t BASSMOD_MusicGetSample();
// Stops playback and frees the module and the output; the library can be
// initialised again afterwards. Called automatically when the library unloads.
// Must not be called from inside a sync callback (0 with BASS_ERROR_UNKNOWN).
BASSMOD_EXPORT uint32_t BASSMOD_Free();
}

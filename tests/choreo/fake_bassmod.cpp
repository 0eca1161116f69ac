// A stand-in for the sound library, loaded by the music binding like the real
// one. It plays nothing: it records every sync registration and lets a test
// announce music events (a position reached, an instrument played), firing
// the matching syncs on the announcing thread as the library would on its own.
#include <cstdint>
#include <mutex>
#include <vector>

#include "soundlib/bassmod.h"

namespace {

struct Sync {
  uint32_t type, param, user;
  SYNCPROC proc;
  bool live;  // false once a once-only sync has fired
};

std::mutex Lock;
std::vector<Sync> Syncs;
uint32_t SyncResult = 1;  // 0 makes every registration fail
int32_t LastError = 0;
int32_t RegistrationCalls = 0;

constexpr uint32_t AnyHalf = 0xFFFF;

bool Matches(uint32_t param, uint32_t first, uint32_t second) {
  const uint32_t want = param >> 16;
  return (param & 0xFFFF) == first && (want == AnyHalf || want == second);
}

// Fires the live syncs of the given type that match, in registration order.
// Syncs registered by a callback during this event do not fire for it.
void Fire(bool instrument, uint32_t first, uint32_t second) {
  std::vector<Sync> due;
  {
    std::lock_guard<std::mutex> hold(Lock);
    for (Sync& s : Syncs) {
      const bool isInstrument = (s.type & ~BASS_SYNC_ONETIME) == BASS_SYNC_MUSICINST;
      if (!s.live || isInstrument != instrument || !Matches(s.param, first, second)) continue;
      if (s.type & BASS_SYNC_ONETIME) s.live = false;
      due.push_back(s);
    }
  }
  const uint32_t handle = 1;
  for (const Sync& s : due) s.proc(handle, 0, s.user);
}

}  // namespace

extern "C" {
__attribute__((visibility("default"))) uint32_t BASSMOD_Init(int32_t, uint32_t, uint32_t) { return 1; }
__attribute__((visibility("default"))) uint32_t BASSMOD_MusicLoad(uint32_t, const void*, uint32_t, uint32_t, uint32_t) {
  return 1;
}
__attribute__((visibility("default"))) uint32_t BASSMOD_MusicPlay() { return 1; }
__attribute__((visibility("default"))) int32_t BASSMOD_ErrorGetCode() {
  std::lock_guard<std::mutex> hold(Lock);
  return LastError;
}
__attribute__((visibility("default"))) uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, SYNCPROC proc,
                                                                     uint32_t user) {
  std::lock_guard<std::mutex> hold(Lock);
  ++RegistrationCalls;
  if (SyncResult == 0 || proc == nullptr) {
    LastError = BASS_ERROR_NOSYNC;
    return 0;
  }
  LastError = BASS_OK;
  Syncs.push_back({type, param, user, proc, true});
  return static_cast<uint32_t>(Syncs.size());
}

// Test controls.
__attribute__((visibility("default"))) void FakeBassmod_Reset(uint32_t syncResult) {
  std::lock_guard<std::mutex> hold(Lock);
  Syncs.clear();
  SyncResult = syncResult;
  LastError = 0;
  RegistrationCalls = 0;
}
__attribute__((visibility("default"))) int32_t FakeBassmod_RegistrationCalls() {
  std::lock_guard<std::mutex> hold(Lock);
  return RegistrationCalls;
}
__attribute__((visibility("default"))) int32_t FakeBassmod_SyncCount() {
  std::lock_guard<std::mutex> hold(Lock);
  return static_cast<int32_t>(Syncs.size());
}
// Registration i (0-based): type, parameter, user value; the callback's address.
__attribute__((visibility("default"))) int32_t FakeBassmod_GetSync(int32_t i, uint32_t* out3, SYNCPROC* proc) {
  std::lock_guard<std::mutex> hold(Lock);
  if (i < 0 || i >= static_cast<int32_t>(Syncs.size())) return 0;
  out3[0] = Syncs[i].type;
  out3[1] = Syncs[i].param;
  out3[2] = Syncs[i].user;
  *proc = Syncs[i].proc;
  return 1;
}
__attribute__((visibility("default"))) void FakeBassmod_Position(uint32_t order, uint32_t row) { Fire(false, order, row); }
__attribute__((visibility("default"))) void FakeBassmod_Note(uint32_t instrument, uint32_t note) {
  Fire(true, instrument, note);
}
}

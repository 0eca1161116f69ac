/* See fake_soundlib.h. */
#include "fake_soundlib.h"

#define EXPORT __attribute__((visibility("default")))

static FakeState state = {FAKE_ID, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
static void (*unloadHook)(int32_t) = 0;

EXPORT FakeState* FakeGetState(void) { return &state; }
EXPORT void FakeSetUnloadHook(void (*hook)(int32_t)) { unloadHook = hook; }

__attribute__((destructor)) static void FakeUnload(void) {
  if (unloadHook) unloadHook(state.id);
}

EXPORT uint32_t BASSMOD_Init(int32_t device, uint32_t freq, uint32_t flags) {
  ++state.initCalls;
  state.initDevice = device;
  state.initFreq = freq;
  state.initFlags = flags;
  return state.initResult;
}

EXPORT uint32_t BASSMOD_MusicLoad(uint32_t mem, const void* data, uint32_t offset, uint32_t length, uint32_t flags) {
  ++state.loadCalls;
  state.loadMem = mem;
  state.loadData = data;
  state.loadOffset = offset;
  state.loadLength = length;
  state.loadFlags = flags;
  return state.loadResult;
}

#ifndef FAKE_WITHOUT_PLAY
EXPORT uint32_t BASSMOD_MusicPlay(void) {
  ++state.playCalls;
  return state.playResult;
}
#endif

EXPORT uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, FakeSyncProc proc, uint32_t user) {
  ++state.setSyncCalls;
  state.syncType = type;
  state.syncParam = param;
  state.syncProc = proc;
  state.syncUser = user;
  return state.setSyncResult;
}

EXPORT int32_t BASSMOD_ErrorGetCode(void) {
  ++state.errorCalls;
  return state.errorCode;
}

/* Six 32-bit arguments in, one 32-bit result out: checks argument order. */
EXPORT uint32_t FakeMix(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f) {
  return a * 100000 + b * 10000 + c * 1000 + d * 100 + e * 10 + f;
}

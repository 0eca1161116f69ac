/* See fake_soundlib.h. */
#include "fake_soundlib.h"

#include <pthread.h>

#if defined(_WIN32)
#define EXPORT __declspec(dllexport)
#else
#define EXPORT __attribute__((visibility("default")))
#endif
#define FAKE_MAX_SYNCS 64
#define FAKE_MAX_CALLS 256
#define FAKE_SYNC_MUSICINST 1u
#define FAKE_SYNC_ONETIME 0x80000000u
#define FAKE_ANY 0xFFFFu

/* Registrations may come from the thread that fires events (a callback
   registering more), so the list and the call records are under syncLock. */
static pthread_mutex_t syncLock = PTHREAD_MUTEX_INITIALIZER;
static FakeSync syncs[FAKE_MAX_SYNCS];
static int32_t syncCount = 0;

/* The call log, under syncLock too; calls beyond FAKE_MAX_CALLS are counted
   in the state but not logged. */
static FakeCall calls[FAKE_MAX_CALLS];
static int32_t callCount = 0;
static void (*playHook)(void) = 0;

static void LogCall(int32_t kind, uint32_t a, uint32_t b, uint32_t c, uint32_t d, const void* data,
                    FakeSyncProc proc) {
  pthread_mutex_lock(&syncLock);
  if (callCount < FAKE_MAX_CALLS) {
    FakeCall call = {kind, a, b, c, d, data, proc};
    calls[callCount++] = call;
  }
  pthread_mutex_unlock(&syncLock);
}

EXPORT int32_t FakeCallCount(void) {
  int32_t n;
  pthread_mutex_lock(&syncLock);
  n = callCount;
  pthread_mutex_unlock(&syncLock);
  return n;
}

EXPORT int32_t FakeGetCall(int32_t i, FakeCall* out) {
  int32_t ok;
  pthread_mutex_lock(&syncLock);
  ok = i >= 0 && i < callCount;
  if (ok) *out = calls[i];
  pthread_mutex_unlock(&syncLock);
  return ok;
}

EXPORT void FakeSetPlayHook(void (*hook)(void)) { playHook = hook; }

static FakeState state = {FAKE_ID, 1, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
static void (*unloadHook)(int32_t) = 0;

EXPORT FakeState* FakeGetState(void) { return &state; }
EXPORT void FakeSetUnloadHook(void (*hook)(int32_t)) { unloadHook = hook; }

__attribute__((destructor)) static void FakeUnload(void) {
  if (unloadHook) unloadHook(state.id);
}

EXPORT uint32_t BASSMOD_Init(int32_t device, uint32_t freq, uint32_t flags) {
  ++state.initCalls;
  LogCall(FAKE_CALL_INIT, (uint32_t)device, freq, flags, 0, 0, 0);
  state.initDevice = device;
  state.initFreq = freq;
  state.initFlags = flags;
  return state.initResult;
}

EXPORT uint32_t BASSMOD_MusicLoad(uint32_t mem, const void* data, uint32_t offset, uint32_t length, uint32_t flags) {
  ++state.loadCalls;
  LogCall(FAKE_CALL_LOAD, mem, offset, length, flags, data, 0);
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
  LogCall(FAKE_CALL_PLAY, 0, 0, 0, 0, 0, 0);
  if (playHook) playHook();
  return state.playResult;
}
#endif

EXPORT uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, FakeSyncProc proc, uint32_t user) {
  uint32_t result;
  LogCall(FAKE_CALL_SETSYNC, type, param, user, 0, 0, proc);
  pthread_mutex_lock(&syncLock);
  ++state.setSyncCalls;
  state.syncType = type;
  state.syncParam = param;
  state.syncProc = proc;
  state.syncUser = user;
  result = state.setSyncResult;
  if (result != 0 && proc != 0 && syncCount < FAKE_MAX_SYNCS) {
    FakeSync kept = {type, param, user, proc, 1};
    syncs[syncCount++] = kept;
  }
  pthread_mutex_unlock(&syncLock);
  return result;
}

EXPORT int32_t FakeSyncCount(void) {
  int32_t n;
  pthread_mutex_lock(&syncLock);
  n = syncCount;
  pthread_mutex_unlock(&syncLock);
  return n;
}

EXPORT int32_t FakeGetSync(int32_t i, FakeSync* out) {
  int32_t ok;
  pthread_mutex_lock(&syncLock);
  ok = i >= 0 && i < syncCount;
  if (ok) *out = syncs[i];
  pthread_mutex_unlock(&syncLock);
  return ok;
}

/* A sync matches when it is live, of the event's kind, its low half equals
   first and its high half is second or FAKE_ANY. */
static void Fire(int instrument, uint32_t first, uint32_t second) {
  FakeSync due[FAKE_MAX_SYNCS];
  int32_t n = 0, i;
  pthread_mutex_lock(&syncLock);
  for (i = 0; i < syncCount; ++i) {
    FakeSync* s = &syncs[i];
    uint32_t high = s->param >> 16;
    int isInstrument = (s->type & ~FAKE_SYNC_ONETIME) == FAKE_SYNC_MUSICINST;
    if (!s->live || isInstrument != instrument || (s->param & 0xFFFFu) != first) continue;
    if (high != FAKE_ANY && high != second) continue;
    if (s->type & FAKE_SYNC_ONETIME) s->live = 0;
    due[n++] = *s;
  }
  pthread_mutex_unlock(&syncLock);
  for (i = 0; i < n; ++i) due[i].proc(1, 0, due[i].user);
}

EXPORT void FakePosition(uint32_t order, uint32_t row) { Fire(0, order, row); }
EXPORT void FakeNote(uint32_t instrument, uint32_t note) { Fire(1, instrument, note); }

EXPORT int32_t BASSMOD_ErrorGetCode(void) {
  ++state.errorCalls;
  LogCall(FAKE_CALL_ERROR, 0, 0, 0, 0, 0, 0);
  return state.errorCode;
}

/* Six 32-bit arguments in, one 32-bit result out: checks argument order. */
EXPORT uint32_t FakeMix(uint32_t a, uint32_t b, uint32_t c, uint32_t d, uint32_t e, uint32_t f) {
  return a * 100000 + b * 10000 + c * 1000 + d * 100 + e * 10 + f;
}

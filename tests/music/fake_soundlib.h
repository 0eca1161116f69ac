/* A stand-in sound library for the binding's and the director's tests:
   records the calls it receives, answers what the test tells it to, and keeps
   the registered syncs so that a test can announce music events (a position
   reached, an instrument played) and have the matching ones fire on the
   announcing thread, as the library would on its own. Built several times
   with different FAKE_ID values (and once without BASSMOD_MusicPlay). */
#ifndef ZEPHYRA_TESTS_FAKE_SOUNDLIB_H
#define ZEPHYRA_TESTS_FAKE_SOUNDLIB_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The sound library's callbacks use the platform's standard convention. */
#if defined(_WIN32)
typedef void(__stdcall* FakeSyncProc)(uint32_t handle, uint32_t data, uint32_t user);
#else
typedef void (*FakeSyncProc)(uint32_t handle, uint32_t data, uint32_t user);
#endif

typedef struct FakeState {
  int32_t id;            /* FAKE_ID of this build */
  /* Answers. */
  uint32_t initResult, loadResult, playResult, setSyncResult;
  int32_t errorCode;
  /* Calls seen. */
  int32_t initCalls, loadCalls, playCalls, setSyncCalls, errorCalls;
  int32_t initDevice;
  uint32_t initFreq, initFlags;
  uint32_t loadMem;
  const void* loadData;
  uint32_t loadOffset, loadLength, loadFlags;
  uint32_t syncType, syncParam, syncUser;
  FakeSyncProc syncProc;
} FakeState;

/* A registration the fake keeps (those the fake answered with 0 are not kept). */
typedef struct FakeSync {
  uint32_t type, param, user;
  FakeSyncProc proc;
  int32_t live; /* 0 once a once-only sync has fired */
} FakeSync;

/* Exported besides the BASSMOD_* functions. */
typedef FakeState* (*FakeGetStateFn)(void);                /* "FakeGetState" */
typedef void (*FakeSetUnloadHookFn)(void (*hook)(int32_t)); /* "FakeSetUnloadHook": called with id on unload */
typedef int32_t (*FakeSyncCountFn)(void);                  /* "FakeSyncCount": registrations kept */
typedef int32_t (*FakeGetSyncFn)(int32_t i, FakeSync* out); /* "FakeGetSync": kept registration i (from 0) */
/* "FakePosition" (order, row) and "FakeNote" (instrument, note): fire the
   matching live syncs, in registration order, on the calling thread. Syncs
   registered by their callbacks do not fire for the same event. */
typedef void (*FakeEventFn)(uint32_t first, uint32_t second);

#ifdef __cplusplus
}

#include "music/music.h"

/* The state of the fake open in slot; null when the slot holds none. */
inline FakeState* FakeStateIn(int32_t slot) {
  void* f = DynLibFindFunction(slot, "FakeGetState");
  return f ? reinterpret_cast<FakeGetStateFn>(f)() : nullptr;
}
#endif
#endif

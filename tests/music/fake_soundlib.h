/* A stand-in sound library for the binding's, the director's and the
   start-up's tests: records the calls it receives (counts, last arguments and
   an ordered log), can run a test's hook inside BASSMOD_MusicPlay, answers
   what the test tells it to, and keeps the registered syncs so that a test
   can announce music events (a position reached, an instrument played) and
   have the matching ones fire on the announcing thread, as the library would
   on its own. Built several times with different FAKE_ID values (and once
   without BASSMOD_MusicPlay). */
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

/* One call received, in the order of arrival (the call log). */
enum {
  FAKE_CALL_INIT = 1,     /* a: device, b: frequency, c: flags */
  FAKE_CALL_LOAD = 2,     /* a: mem, b: offset, c: length, d: flags, data: the pointer */
  FAKE_CALL_SETSYNC = 3,  /* a: type, b: param, c: user, proc: the callback */
  FAKE_CALL_PLAY = 4,
  FAKE_CALL_ERROR = 5     /* BASSMOD_ErrorGetCode */
};
typedef struct FakeCall {
  int32_t kind;
  uint32_t a, b, c, d;
  const void* data;
  FakeSyncProc proc;
} FakeCall;

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
typedef int32_t (*FakeCallCountFn)(void);                  /* "FakeCallCount": calls logged */
typedef int32_t (*FakeGetCallFn)(int32_t i, FakeCall* out); /* "FakeGetCall": logged call i (from 0) */
/* "FakeSetPlayHook": hook runs inside BASSMOD_MusicPlay, after the call is
   logged and before it returns, on the caller's thread (0: none). */
typedef void (*FakeSetPlayHookFn)(void (*hook)(void));
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

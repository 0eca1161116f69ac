/* A stand-in sound library for the binding's tests: records the calls it
   receives and answers what the test tells it to. Built several times with
   different FAKE_ID values (and once without BASSMOD_MusicPlay). */
#ifndef ZEPHYRA_TESTS_FAKE_SOUNDLIB_H
#define ZEPHYRA_TESTS_FAKE_SOUNDLIB_H
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef void (*FakeSyncProc)(uint32_t handle, uint32_t data, uint32_t user);

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

/* Exported besides the BASSMOD_* functions. */
typedef FakeState* (*FakeGetStateFn)(void);                /* "FakeGetState" */
typedef void (*FakeSetUnloadHookFn)(void (*hook)(int32_t)); /* "FakeSetUnloadHook": called with id on unload */

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

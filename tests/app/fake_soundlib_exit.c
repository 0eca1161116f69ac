/* A stand-in sound library for the shutdown test: it holds its sync thread
   inside a callback exactly while the program shuts down.

   Play starts a thread that announces order 6, row 0 once to the position
   syncs registered so far. The first registration that thread then makes
   (from inside the callback, as the cube-start sync does) waits until the
   library is being stopped: BASSMOD_Free was called, or the unload hook
   runs. Free and the unload hook both wake it and join the thread, as the
   real library does, so a shutdown that unloads the library while the
   callback still has registrations to make waits on the loader's lock. */
#include <pthread.h>
#include <stdint.h>

#define EXPORT __attribute__((visibility("default")))
#define MAX_SYNCS 64
#define SYNC_POS 0u
#define SYNC_ONETIME 0x80000000u

typedef void (*SyncProc)(uint32_t handle, uint32_t data, uint32_t user);

typedef struct {
  uint32_t type, param, user;
  SyncProc proc;
} Registration;

static pthread_mutex_t lock = PTHREAD_MUTEX_INITIALIZER;
static pthread_cond_t changed = PTHREAD_COND_INITIALIZER;
static Registration syncs[MAX_SYNCS];
static int32_t syncCount = 0;
static int32_t fromThread = 0;  /* registrations made on the sync thread */
static int stopping = 0;        /* Free or the unload hook has begun */
static int waiting = 0;         /* the sync thread waits inside a registration */
static int threadStarted = 0;  /* the thread runs or waits to be joined */
static int threadCreated = 0;  /* it was ever created: syncThread names it */
static int threadDone = 0;
static int32_t freeCalls = 0;
static pthread_t syncThread;

/* What the unload hook found: registrations, those made on the sync thread,
   Free calls, and whether the sync thread had already finished. */
typedef void (*UnloadReport)(int32_t syncs, int32_t fromThread, int32_t freeCalls, int32_t threadWasDone);
static UnloadReport report = 0;

EXPORT void FakeExitSetReport(UnloadReport r) { report = r; }

/* Waits until the sync thread sits inside its first registration. */
EXPORT void FakeExitWaitInsideCallback(void) {
  pthread_mutex_lock(&lock);
  while (!waiting) pthread_cond_wait(&changed, &lock);
  pthread_mutex_unlock(&lock);
}

EXPORT uint32_t BASSMOD_Init(int32_t device, uint32_t freq, uint32_t flags) {
  (void)device, (void)freq, (void)flags;
  return 1;
}

EXPORT uint32_t BASSMOD_MusicLoad(uint32_t mem, const void* data, uint32_t offset, uint32_t length, uint32_t flags) {
  (void)mem, (void)data, (void)offset, (void)length, (void)flags;
  return 1;
}

EXPORT int32_t BASSMOD_ErrorGetCode(void) { return 0; }

EXPORT uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, SyncProc proc, uint32_t user) {
  uint32_t handle = 0;
  pthread_mutex_lock(&lock);
  if (threadCreated && pthread_equal(pthread_self(), syncThread)) {
    if (fromThread == 0) {
      waiting = 1;
      pthread_cond_broadcast(&changed);
      while (!stopping) pthread_cond_wait(&changed, &lock);
    }
    ++fromThread;
  }
  if (syncCount < MAX_SYNCS) {
    Registration r = {type, param, user, proc};
    syncs[syncCount++] = r;
    handle = (uint32_t)syncCount;
  }
  pthread_mutex_unlock(&lock);
  return handle;
}

/* Order 6, row 0: the position syncs registered before the announcement. */
static void* SyncThreadMain(void* unused) {
  Registration due[MAX_SYNCS];
  int32_t n = 0, i;
  (void)unused;
  pthread_mutex_lock(&lock);
  for (i = 0; i < syncCount; ++i) {
    uint32_t high = syncs[i].param >> 16;
    if ((syncs[i].type & ~SYNC_ONETIME) != SYNC_POS || (syncs[i].param & 0xFFFFu) != 6) continue;
    if (high != 0 && high != 0xFFFFu) continue;
    due[n++] = syncs[i];
  }
  pthread_mutex_unlock(&lock);
  for (i = 0; i < n; ++i) due[i].proc((uint32_t)i + 1, 6, due[i].user);
  pthread_mutex_lock(&lock);
  threadDone = 1;
  pthread_mutex_unlock(&lock);
  return 0;
}

EXPORT uint32_t BASSMOD_MusicPlay(void) {
  pthread_mutex_lock(&lock);
  if (!threadCreated) threadStarted = threadCreated = pthread_create(&syncThread, 0, SyncThreadMain, 0) == 0;
  pthread_mutex_unlock(&lock);
  return 1;
}

/* Wakes the sync thread and joins it. */
static void Stop(void) {
  int join;
  pthread_mutex_lock(&lock);
  stopping = 1;
  pthread_cond_broadcast(&changed);
  join = threadStarted;
  threadStarted = 0;
  pthread_mutex_unlock(&lock);
  if (join) pthread_join(syncThread, 0);
}

EXPORT uint32_t BASSMOD_Free(void) {
  pthread_mutex_lock(&lock);
  ++freeCalls;
  pthread_mutex_unlock(&lock);
  Stop();
  return 1;
}

__attribute__((destructor)) static void Unload(void) {
  int32_t done, registered, onThread, frees;
  pthread_mutex_lock(&lock);
  done = !threadStarted || threadDone;
  pthread_mutex_unlock(&lock);
  Stop();
  pthread_mutex_lock(&lock);
  registered = syncCount;
  onThread = fromThread;
  frees = freeCalls;
  pthread_mutex_unlock(&lock);
  if (report) report(registered, onThread, frees, done);
}

// The sound library's output on winmm waveOut (Windows). A thread of ours
// keeps a ring of buffers queued on the device, refilling each as the device
// returns it, and reports what is heard from waveOutGetPosition, so syncs
// fire when their sound comes out of the device.
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <vector>

#include "soundlib/output.h"

namespace {

constexpr uint32_t BufferCount = 4;  // queued on the device: about 93 ms at 44,100 Hz
constexpr DWORD PollMs = 5;          // how often the played position is read

HWAVEOUT Device = nullptr;
HANDLE DoneEvent = nullptr;  // set by the device whenever it returns a buffer
HANDLE Thread = nullptr;
std::atomic<bool> StopThread{false};
uint32_t Frequency = 44100;
uint32_t BufferFrames = 1024;
std::vector<int16_t> Memory;  // BufferCount buffers of BufferFrames stereo frames
WAVEHDR Headers[BufferCount];
HMODULE KeptLoaded = nullptr;
bool ProcessEnding = false;

// Frames played since the start, from the device's 32-bit sample counter
// (extended past its wrap after 2^32 frames, about 27 hours at 44,100 Hz).
uint64_t PlayedFrames(uint32_t* last32, uint64_t* total) {
  MMTIME time{};
  time.wType = TIME_SAMPLES;
  if (waveOutGetPosition(Device, &time, sizeof time) != MMSYSERR_NOERROR) return *total;
  // A device may answer in another unit than asked: bytes are 4 per frame.
  uint32_t now;
  if (time.wType == TIME_SAMPLES) now = time.u.sample;
  else if (time.wType == TIME_BYTES) now = time.u.cb / 4;
  else return *total;
  *total += static_cast<uint32_t>(now - *last32);
  *last32 = now;
  return *total;
}

DWORD WINAPI OutputThread(void*) {
  using Clock = std::chrono::steady_clock;
  uint32_t last32 = 0;
  uint64_t played = 0;
  uint64_t written = 0;
  const auto start = Clock::now();
  for (WAVEHDR& h : Headers) {
    CoreRender(reinterpret_cast<int16_t*>(h.lpData), BufferFrames);
    waveOutWrite(Device, &h, sizeof h);
    written += BufferFrames;
  }
  while (!StopThread.load()) {
    WaitForSingleObject(DoneEvent, PollMs);
    // Report first, then refill: the anchor never trails the audio queued.
    CoreHeard(PlayedFrames(&last32, &played));
    // A device that is not paced in real time (a null sink) would take the
    // buffers as fast as they come: never run further ahead of the wall
    // clock than the ring holds.
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start).count();
    const uint64_t wall = static_cast<uint64_t>(elapsed) * Frequency / 1000000;
    for (WAVEHDR& h : Headers) {
      if (StopThread.load()) break;
      if (!(h.dwFlags & WHDR_DONE)) continue;
      if (written > wall + uint64_t{BufferCount} * BufferFrames) break;
      CoreRender(reinterpret_cast<int16_t*>(h.lpData), BufferFrames);
      waveOutWrite(Device, &h, sizeof h);
      written += BufferFrames;
    }
  }
  return 0;
}

}  // namespace

bool OutputOpen(uint32_t frequency, uint32_t bufferFrames, uint32_t* latencyFrames) {
  Frequency = frequency;
  BufferFrames = bufferFrames;
  WAVEFORMATEX format{};
  format.wFormatTag = WAVE_FORMAT_PCM;
  format.nChannels = 2;
  format.nSamplesPerSec = frequency;
  format.wBitsPerSample = 16;
  format.nBlockAlign = 4;
  format.nAvgBytesPerSec = frequency * 4;
  DoneEvent = CreateEventA(nullptr, FALSE, FALSE, nullptr);
  if (DoneEvent == nullptr) return false;
  if (waveOutOpen(&Device, WAVE_MAPPER, &format, reinterpret_cast<DWORD_PTR>(DoneEvent), 0, CALLBACK_EVENT) !=
      MMSYSERR_NOERROR) {
    Device = nullptr;
    CloseHandle(DoneEvent);
    DoneEvent = nullptr;
    return false;
  }
  // Opened running: hold it until the first start.
  waveOutPause(Device);
  Memory.assign(size_t{BufferCount} * bufferFrames * 2, 0);
  for (uint32_t i = 0; i < BufferCount; ++i) {
    Headers[i] = WAVEHDR{};
    Headers[i].lpData = reinterpret_cast<LPSTR>(Memory.data() + size_t{i} * bufferFrames * 2);
    Headers[i].dwBufferLength = bufferFrames * 4;
    waveOutPrepareHeader(Device, &Headers[i], sizeof(WAVEHDR));
  }
  *latencyFrames = 0;  // the position is read from the device itself
  return true;
}

void OutputStart() {
  if (Device == nullptr || Thread != nullptr) return;
  // Each start counts from frame 0: reset empties the queue and the counter.
  waveOutReset(Device);
  waveOutRestart(Device);
  StopThread = false;
  Thread = CreateThread(nullptr, 0, OutputThread, nullptr, 0, nullptr);
}

void OutputStop() {
  if (Thread == nullptr) return;
  StopThread = true;
  SetEvent(DoneEvent);
  WaitForSingleObject(Thread, INFINITE);
  CloseHandle(Thread);
  Thread = nullptr;
  // Returns every queued buffer, marked done.
  waveOutReset(Device);
}

void OutputClose() {
  OutputStop();
  if (Device) {
    for (WAVEHDR& h : Headers) waveOutUnprepareHeader(Device, &h, sizeof h);
    waveOutClose(Device);
    Device = nullptr;
  }
  if (DoneEvent) {
    CloseHandle(DoneEvent);
    DoneEvent = nullptr;
  }
  Memory.clear();
}

void OutputKeepLoaded(bool keep) {
  if (keep && KeptLoaded == nullptr) {
    // One more reference to this DLL: FreeLibrary by the program then leaves
    // it mapped until playback stops (BASSMOD_Free) or the process ends.
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, reinterpret_cast<LPCSTR>(&OutputKeepLoaded),
                       &KeptLoaded);
  } else if (!keep && KeptLoaded != nullptr) {
    HMODULE module = KeptLoaded;
    KeptLoaded = nullptr;
    FreeLibrary(module);
  }
}

bool OutputProcessEnding() { return ProcessEnding; }

// The loader calls this before the C runtime's unload handlers; `reserved`
// is non-null when the whole process is ending rather than the DLL unloading.
extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved) {
  if (reason == DLL_PROCESS_DETACH && reserved != nullptr) ProcessEnding = true;
  return TRUE;
}

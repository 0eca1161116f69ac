// The sound library: plays one XM module with libxmp, tick by tick, to an
// audio device (output.h: SDL on Linux, winmm waveOut on Windows), or a
// silent clock, or the caller in decode mode, and calls position and
// instrument syncs when their sound is heard.
//
// Threads and locks:
//  - The output thread pulls audio: the device's (see output.h), or our own
//    silent clock thread when no device could be opened. It renders ticks
//    under `RenderLock`, queues the events it met (row starts and note
//    triggers, each stamped with its exact frame) and records a clock anchor:
//    "frame S starts to be heard at time T" (taken as a block is pulled, or
//    from the device's own count of frames played). Both go under `EventLock`.
//  - The sync thread (ours) waits until each queued event's frame is heard
//    according to the latest anchor, then matches it against the registered
//    syncs (under `SyncLock`) and calls the callbacks with no lock held, so a
//    callback may register further syncs.
//  - Decode mode has neither thread: the caller renders, and the events of
//    the block are delivered on the caller's thread before the call returns.
// `ApiLock` serialises Init/Load/Play/Free; SetSync never takes it, so a
// callback may call SetSync while another thread is in Free waiting for the
// sync thread to finish.
//
// Without threads (BASSMOD_THREADLESS, the browser) neither thread exists:
// the output calls CorePump from the event loop, which renders what the
// device wants, reads the device's heard position (or the silent clock's),
// and delivers every event heard by then on the caller's stack.
#include "soundlib/bassmod.h"

#include <xmp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <numeric>
#include <thread>
#include <vector>

#include "soundlib/output.h"
#include "soundlib/xm_check.h"

#ifndef BASSMOD_THREADLESS
#define BASSMOD_THREADLESS 0
#endif

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t OutputChannels = 2;        // stereo, interleaved
constexpr uint32_t BytesPerFrame = 4;         // 2 x signed 16-bit
constexpr uint32_t DeviceBufferFrames = 1024; // device buffer; also the silent clock's step
constexpr uint32_t MinFrequency = 8000;
constexpr uint32_t MaxFrequency = 192000;

enum class EventKind : uint8_t { Row, Note };

// Something that happens in the music at an exact frame.
struct MusicEvent {
  uint64_t frame;      // first frame of the tick it happens in
  uint64_t rowSerial;  // counts row starts; events of one row share it
  EventKind kind;
  uint16_t first;      // Row: order. Note: instrument (from 1)
  uint16_t second;     // Row: row.   Note: note (1 = C-0)
};

struct Sync {
  uint32_t handle;
  uint32_t type;  // BASS_SYNC_POS or BASS_SYNC_MUSICINST
  uint32_t param;
  SYNCPROC proc;
  uint32_t user;
  bool once;
};

// The exact frame count of the ticks played so far: the XM rule gives a tick
// 2.5 / BPM seconds, freq * 5 / (2 * BPM) frames, rarely a whole number. The
// sum is kept as whole + num / den so that tick starts never drift.
struct ExactFrames {
  uint64_t whole = 0;
  uint64_t num = 0;
  uint64_t den = 1;
};

// Adds a / b frames (a <= 2^20, b <= 510). The denominator stays the lcm of
// the recent tick denominators; should a module use so many different tempos
// that it would pass 2^40, the fraction (< 1 frame) is rounded onto b first.
void AddFrames(ExactFrames& f, uint64_t a, uint64_t b) {
  uint64_t l = f.den / std::gcd(f.den, b) * b;
  if (l > (uint64_t{1} << 40)) {
    f.num = static_cast<uint64_t>((static_cast<unsigned __int128>(f.num) * b + f.den / 2) / f.den);
    f.den = b;
    l = b;
  }
  uint64_t n = f.num * (l / f.den) + a * (l / b);
  f.whole += n / l;
  n %= l;
  uint64_t g = std::gcd(n, l);
  f.num = g ? n / g : 0;
  f.den = g ? l / g : 1;
}

struct Library {
  std::mutex ApiLock;

  // Set by Init, cleared by Free.
  std::atomic<bool> Initialised{false};
  bool DecodeMode = false;  // device 0
  uint32_t Frequency = 44100;
  bool Device = false;              // an output is open; false: silent clock or decode mode
  uint32_t OutputLatencyFrames = 0; // from the anchor to the output, beyond our buffer
  uint64_t OutputStartFrame = 0;    // FramesRendered when the output last started

  // The music. Rendering state is under RenderLock.
  std::atomic<bool> Loaded{false};
  std::atomic<bool> Playing{false};
  std::mutex RenderLock;
  xmp_context Player = nullptr;
  std::vector<int16_t> TickAudio;  // the current tick, interleaved stereo
  size_t TickFrames = 0;
  size_t TickUsed = 0;             // frames of TickAudio already handed out
  uint64_t FramesRendered = 0;
  ExactFrames TickClock;           // exact end of the last tick rendered
  uint64_t RowSerial = 0;
  bool Ended = false;              // the player reported the end of the module
  int Channels = 0;                // the module's pattern channels
  uint8_t LastInstrument[XMP_MAX_CHANNELS] = {};
  std::vector<MusicEvent> PullEvents;  // scratch for one pull

  // Events waiting to be heard, and the output clock anchor.
  std::mutex EventLock;
  std::condition_variable EventWake;
  std::deque<MusicEvent> Events;
  bool HaveAnchor = false;
  Clock::time_point AnchorTime;
  uint64_t AnchorFrame = 0;
  bool StopSyncThread = false;
  std::thread SyncThread;
  std::thread::id SyncThreadId;

  // The silent clock stands in for a device: it pulls a buffer every
  // DeviceBufferFrames / Frequency seconds of real time.
  std::thread SilentThread;
  std::atomic<bool> StopSilent{false};
  std::vector<int16_t> SilentBuffer;

  // Threadless: the silent clock's start, the heard position the last pump
  // delivered up to, and a guard against a pump inside a pump.
  Clock::time_point SilentStart;
  uint64_t PumpHeard = 0;
  bool Pumping = false;

  // Registered syncs, in registration order.
  std::mutex SyncLock;
  std::vector<Sync> Syncs;
  uint32_t NextHandle = 1;
  uint64_t DeliveringRow = ~uint64_t{0};  // row whose events are being delivered
  uint32_t RowHandleLimit = 0;            // syncs above this handle wait for the next row

  std::atomic<uint32_t> HeardPosition{0};  // order | row << 16 of the last row delivered
  std::atomic<uint64_t> HeardFrame{0};
  // The largest position BASSMOD_MusicGetSample has answered (EventLock):
  // a new anchor from the device may sit a little behind the clock's
  // extrapolation, and what was heard must not go back.
  uint64_t HeardAnswered = 0;
};

// Created on first use and deleted when the library unloads, so that no
// static destructor of ours races with the unload hook below.
Library* TheLibrary = nullptr;
std::once_flag TheLibraryOnce;

Library& Lib() {
  std::call_once(TheLibraryOnce, [] { TheLibrary = new Library; });
  return *TheLibrary;
}

thread_local int32_t LastError = BASS_OK;
// Inside a sync callback: the frame of the event being delivered.
thread_local bool InCallback = false;
thread_local uint64_t CallbackFrame = 0;

uint32_t Fail(int32_t code) {
  LastError = code;
  return 0;
}
uint32_t Succeed(uint32_t result = 1) {
  LastError = BASS_OK;
  return result;
}

// ---- Rendering (RenderLock held) -------------------------------------------

// libxmp numbers notes from C-0 = 13 (XM note + 12) and keeps key off, cut
// and fade above 0x80.
constexpr int XmpNoteOffset = 12;
constexpr uint8_t XmpFxTonePorta = 0x03;
constexpr uint8_t XmpFxTonePortaVolSlide = 0x05;
constexpr uint8_t XmpFxExtended = 0x0E;
constexpr uint8_t XmpExNoteDelay = 0xD;

int NoteDelay(const xmp_event& e) {
  if (e.fxt == XmpFxExtended && (e.fxp >> 4) == XmpExNoteDelay) return e.fxp & 0x0F;
  if (e.f2t == XmpFxExtended && (e.f2p >> 4) == XmpExNoteDelay) return e.f2p & 0x0F;
  return 0;
}

bool IsTonePorta(const xmp_event& e) {
  return e.fxt == XmpFxTonePorta || e.fxt == XmpFxTonePortaVolSlide || e.f2t == XmpFxTonePorta ||
         e.f2t == XmpFxTonePortaVolSlide;
}

// Plays one tick into TickAudio, sized exactly to the tick's share of the
// XM rule, and appends its events. False at the end of the module.
bool RenderTick(Library& L, std::vector<MusicEvent>& events) {
  if (L.Ended || xmp_play_frame(L.Player) != 0) {
    L.Ended = true;
    return false;
  }
  xmp_frame_info fi;
  xmp_get_frame_info(L.Player, &fi);
  uint64_t start = L.TickClock.whole;
  AddFrames(L.TickClock, uint64_t{L.Frequency} * 5, 2 * static_cast<uint64_t>(std::max(fi.bpm, 1)));
  size_t want = static_cast<size_t>(L.TickClock.whole - start);

  // libxmp renders a whole number of frames per tick, rounded down; pad with
  // the last frame (or cut) so the audio keeps step with the exact clock. At
  // most one frame per tick differs, which cannot be heard.
  size_t got = static_cast<size_t>(std::max(fi.buffer_size, 0)) / BytesPerFrame;
  L.TickAudio.resize(want * OutputChannels);
  const int16_t* src = static_cast<const int16_t*>(fi.buffer);
  size_t copy = std::min(got, want);
  if (copy) std::memcpy(L.TickAudio.data(), src, copy * BytesPerFrame);
  for (size_t i = copy; i < want; ++i) {
    for (uint32_t c = 0; c < OutputChannels; ++c)
      L.TickAudio[i * OutputChannels + c] = copy ? src[(copy - 1) * OutputChannels + c] : 0;
  }
  L.TickFrames = want;
  L.TickUsed = 0;

  if (fi.frame == 0) {
    ++L.RowSerial;
    events.push_back(MusicEvent{start, L.RowSerial, EventKind::Row, static_cast<uint16_t>(fi.pos),
                                static_cast<uint16_t>(fi.row)});
  }
  for (int c = 0; c < L.Channels; ++c) {
    const xmp_event& e = fi.channel_info[c].event;
    if (fi.frame == 0 && e.ins != 0) L.LastInstrument[c] = e.ins;
    bool isNote = e.note > XmpNoteOffset && e.note <= XmpNoteOffset + 96;
    if (!isNote || IsTonePorta(e) || fi.frame != NoteDelay(e)) continue;
    uint8_t ins = e.ins != 0 ? e.ins : L.LastInstrument[c];
    if (ins == 0) continue;
    events.push_back(MusicEvent{start, L.RowSerial, EventKind::Note, ins,
                                static_cast<uint16_t>(e.note - XmpNoteOffset)});
  }
  return true;
}

// Fills `frames` frames; returns how many came from the music (the rest, past
// the module's end, is silence).
size_t Render(Library& L, int16_t* out, size_t frames, std::vector<MusicEvent>& events) {
  size_t done = 0;
  while (done < frames) {
    if (L.TickUsed == L.TickFrames && !RenderTick(L, events)) break;
    size_t n = std::min(frames - done, L.TickFrames - L.TickUsed);
    std::memcpy(out + done * OutputChannels, L.TickAudio.data() + L.TickUsed * OutputChannels,
                n * BytesPerFrame);
    L.TickUsed += n;
    done += n;
  }
  L.FramesRendered += done;
  if (done < frames) std::memset(out + done * OutputChannels, 0, (frames - done) * BytesPerFrame);
  return done;
}

// ---- Delivering events -------------------------------------------------------

// Position syncs match row starts, instrument syncs notes (SetSync admits no
// other type); the high half 0xFFFF matches any row or note.
bool Matches(const Sync& s, const MusicEvent& e) {
  if ((s.type == BASS_SYNC_POS) != (e.kind == EventKind::Row)) return false;
  uint32_t low = s.param & 0xFFFF;
  uint32_t high = s.param >> 16;
  return low == e.first && (high == 0xFFFF || high == e.second);
}

// Calls every sync the event triggers. Syncs registered while this row's
// events are delivered (their handle above the limit taken at the row's first
// event) wait for the next row, so one arrival never fires a sync twice.
void Deliver(Library& L, const MusicEvent& e, [[maybe_unused]] uint64_t heardBefore = 0) {
  if (e.kind == EventKind::Row) L.HeardPosition = e.first | (uint32_t{e.second} << 16);
  L.HeardFrame = e.frame;
  struct Call {
    SYNCPROC proc;
    uint32_t handle, data, user;
  };
  Call calls[16];
  size_t count = 0;
  std::vector<Call> more;
  {
    std::lock_guard<std::mutex> lock(L.SyncLock);
    if (e.rowSerial != L.DeliveringRow) {
      L.DeliveringRow = e.rowSerial;
      L.RowHandleLimit = L.NextHandle - 1;
    }
    uint32_t data = e.first | (uint32_t{e.second} << 16);
    for (size_t i = 0; i < L.Syncs.size();) {
      const Sync& s = L.Syncs[i];
      if (s.handle > L.RowHandleLimit || !Matches(s, e)) {
        ++i;
        continue;
      }
      Call c{s.proc, s.handle, data, s.user};
      if (count < std::size(calls)) calls[count++] = c;
      else more.push_back(c);
      if (s.once) L.Syncs.erase(L.Syncs.begin() + static_cast<std::ptrdiff_t>(i));
      else ++i;
    }
  }
  InCallback = true;
  CallbackFrame = e.frame;
#if BASSMOD_THREADLESS
  if (!L.DecodeMode) {
    uint64_t base = L.OutputStartFrame;
    for (size_t i = 0; i < count; ++i) OutputSyncFired(calls[i].user, e.frame - base, L.PumpHeard - base, heardBefore - base);
    for (const Call& c : more) OutputSyncFired(c.user, e.frame - base, L.PumpHeard - base, heardBefore - base);
  }
#endif
  for (size_t i = 0; i < count; ++i) calls[i].proc(calls[i].handle, calls[i].data, calls[i].user);
  for (const Call& c : more) c.proc(c.handle, c.data, c.user);
  InCallback = false;
}

// The output pulls `frames` frames: renders them and queues their events for
// the sync thread; with `anchor`, also moves the clock anchor to "the first
// of them is heard now".
void Pull(Library& L, int16_t* out, size_t frames, bool anchor) {
  uint64_t first;
  {
    std::lock_guard<std::mutex> lock(L.RenderLock);
    first = L.FramesRendered;
    L.PullEvents.clear();
    if (L.Player) Render(L, out, frames, L.PullEvents);
    else std::memset(out, 0, frames * BytesPerFrame);
    std::lock_guard<std::mutex> events(L.EventLock);
    L.Events.insert(L.Events.end(), L.PullEvents.begin(), L.PullEvents.end());
    if (anchor) {
      L.AnchorTime = Clock::now();
      L.AnchorFrame = first;
      L.HaveAnchor = true;
    }
  }
  L.EventWake.notify_one();
}

#if !BASSMOD_THREADLESS
// Real time: waits for each event to be heard, then delivers it.
void SyncThreadMain(Library* L) {
  std::unique_lock<std::mutex> lock(L->EventLock);
  while (!L->StopSyncThread) {
    if (L->Events.empty() || !L->HaveAnchor) {
      L->EventWake.wait(lock);
      continue;
    }
    const MusicEvent& next = L->Events.front();
    int64_t ahead = static_cast<int64_t>(next.frame) - static_cast<int64_t>(L->AnchorFrame) +
                    static_cast<int64_t>(L->OutputLatencyFrames);
    auto due = L->AnchorTime + std::chrono::nanoseconds(ahead * 1000000000 / static_cast<int64_t>(L->Frequency));
    if (Clock::now() < due) {
      // Woken early by a new anchor or new events: recompute.
      L->EventWake.wait_until(lock, due);
      continue;
    }
    MusicEvent e = next;
    L->Events.pop_front();
    lock.unlock();
    Deliver(*L, e);
    lock.lock();
  }
}

// Paces pulls by the steady clock, on an absolute schedule so it never drifts.
void SilentThreadMain(Library* L) {
  auto start = Clock::now();
  for (uint64_t k = 0; !L->StopSilent; ++k) {
    Pull(*L, L->SilentBuffer.data(), DeviceBufferFrames, true);
    auto next = start + std::chrono::nanoseconds((k + 1) * DeviceBufferFrames * 1000000000ull / L->Frequency);
    // Sleep in short steps so Free never waits a whole buffer.
    while (!L->StopSilent && Clock::now() < next)
      std::this_thread::sleep_until(std::min(next, Clock::now() + std::chrono::milliseconds(5)));
  }
}
#else
// How many frames have started to sound, counted since the music was loaded:
// the device's output clock, or the silent clock's time since Play. Frame f
// is heard once this passes f.
uint64_t HeardNow(Library& L) {
  uint64_t heard;
  if (L.Device) {
    heard = L.OutputStartFrame + OutputHeardFrames();
  } else {
    auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - L.SilentStart).count();
    heard = L.OutputStartFrame + static_cast<uint64_t>(std::max<int64_t>(since, 0)) * L.Frequency / 1000000000u;
  }
  return heard;
}

// One pump: keep the device fed (the silent clock: rendered one buffer past
// what is heard, so its events are known), then deliver, in order, every
// event whose frame has been heard.
void PumpOnce(Library& L) {
  if (!L.Playing || L.Pumping) return;
  L.Pumping = true;
  if (L.Device) {
    for (size_t want; (want = OutputWanted()) > 0;) {
      want = std::min<size_t>(want, DeviceBufferFrames);
      L.SilentBuffer.resize(want * OutputChannels);
      Pull(L, L.SilentBuffer.data(), want, false);
      OutputQueue(L.SilentBuffer.data(), want);
    }
  }
  uint64_t heard = HeardNow(L);
  if (!L.Device) {
    L.SilentBuffer.resize(DeviceBufferFrames * OutputChannels);
    while (L.FramesRendered < heard + DeviceBufferFrames) Pull(L, L.SilentBuffer.data(), DeviceBufferFrames, false);
  }
  heard = std::min(heard, L.FramesRendered);
  uint64_t before = L.PumpHeard;
  L.PumpHeard = std::max(L.PumpHeard, heard);
  while (L.Playing && !L.Events.empty() && L.Events.front().frame < L.PumpHeard) {
    MusicEvent e = L.Events.front();
    L.Events.pop_front();
    Deliver(L, e, before);
  }
  L.Pumping = false;
}
#endif

// ---- Start and stop (ApiLock held) -----------------------------------------------

#if BASSMOD_THREADLESS
// Callbacks run on the pump's stack: "the sync thread" is being inside one.
bool OnSyncThread(Library&) { return InCallback; }
#else
bool OnSyncThread(Library& L) { return L.SyncThread.joinable() && std::this_thread::get_id() == L.SyncThreadId; }
#endif

void StopPlayback(Library& L) {
  if (!L.Playing) return;
#if BASSMOD_THREADLESS
  OutputPumpStop();
#endif
  if (L.Device) OutputStop();  // returns once the device's thread is out of Pull
  if (L.SilentThread.joinable()) {
    L.StopSilent = true;
    L.SilentThread.join();
  }
  if (L.SyncThread.joinable()) {
    {
      std::lock_guard<std::mutex> lock(L.EventLock);
      L.StopSyncThread = true;
    }
    L.EventWake.notify_all();
    L.SyncThread.join();
  }
  {
    std::lock_guard<std::mutex> lock(L.EventLock);
    L.Events.clear();
    L.HaveAnchor = false;
  }
  L.Playing = false;
  OutputKeepLoaded(false);
}

void UnloadMusic(Library& L) {
  StopPlayback(L);
  std::lock_guard<std::mutex> render(L.RenderLock);
  if (L.Player) {
    if (L.Loaded) {
      xmp_end_player(L.Player);
      xmp_release_module(L.Player);
    }
    xmp_free_context(L.Player);
    L.Player = nullptr;
  }
  L.Loaded = false;
  std::lock_guard<std::mutex> syncs(L.SyncLock);
  L.Syncs.clear();
  L.DeliveringRow = ~uint64_t{0};
}

void CloseOutput(Library& L) {
  if (L.Device) {
    OutputClose();
    L.Device = false;
  }
}

// Opens the default output; false when there is none.
bool OpenDevice(Library& L) {
  L.Device = OutputOpen(L.Frequency, DeviceBufferFrames, &L.OutputLatencyFrames);
  return L.Device;
}

void FreeAll(Library& L) {
  UnloadMusic(L);
  CloseOutput(L);
  L.DecodeMode = false;
  L.Initialised = false;
}

}  // namespace

// ---- Called by the output's thread (output.h) -------------------------------

void CorePull(int16_t* out, size_t frames) { Pull(Lib(), out, frames, true); }

void CoreRender(int16_t* out, size_t frames) { Pull(Lib(), out, frames, false); }

#if BASSMOD_THREADLESS
void CorePump() { PumpOnce(Lib()); }
#endif

void CoreHeard(uint64_t frames) {
  Library& L = Lib();
  {
    std::lock_guard<std::mutex> lock(L.EventLock);
    L.AnchorTime = Clock::now();
    L.AnchorFrame = L.OutputStartFrame + frames;
    L.HaveAnchor = true;
  }
  L.EventWake.notify_one();
}

// ---- The exported functions ---------------------------------------------------

extern "C" {

uint32_t BASSMOD_Init(int32_t device, uint32_t freq, uint32_t flags) {
  (void)flags;
  Library& L = Lib();
  std::lock_guard<std::mutex> api(L.ApiLock);
  if (L.Initialised) return Fail(BASS_ERROR_ALREADY);
  if (device < -1 || device > 1) return Fail(BASS_ERROR_DEVICE);
  if (freq < MinFrequency || freq > MaxFrequency) return Fail(BASS_ERROR_ILLPARAM);
  L.Frequency = freq;
  L.DecodeMode = device == 0;
  L.OutputLatencyFrames = 0;
  L.Initialised = true;
  if (L.DecodeMode) return Succeed();
  if (OpenDevice(L)) return Succeed();
  // No device: keep time on the silent clock, and say there was no driver.
  L.SilentBuffer.assign(DeviceBufferFrames * OutputChannels, 0);
  return Fail(BASS_ERROR_DRIVER);
}

uint32_t BASSMOD_MusicLoad(uint32_t mem, const void* file, uint32_t offset, uint32_t length, uint32_t flags) {
  (void)flags;
  Library& L = Lib();
  std::lock_guard<std::mutex> api(L.ApiLock);
  if (!L.Initialised) return Fail(BASS_ERROR_INIT);
  if (OnSyncThread(L)) return Fail(BASS_ERROR_UNKNOWN);
  if (file == nullptr) return Fail(BASS_ERROR_ILLPARAM);

  std::vector<uint8_t> fromFile;
  const uint8_t* data;
  size_t size;
  if (mem) {
    data = static_cast<const uint8_t*>(file) + offset;
    size = length;
  } else {
    FILE* f = std::fopen(static_cast<const char*>(file), "rb");
    if (!f) return Fail(BASS_ERROR_FILEOPEN);
    bool ok = std::fseek(f, static_cast<long>(offset), SEEK_SET) == 0;
    uint8_t chunk[4096];
    size_t n;
    while (ok && (n = std::fread(chunk, 1, sizeof chunk, f)) > 0) fromFile.insert(fromFile.end(), chunk, chunk + n);
    std::fclose(f);
    if (!ok) return Fail(BASS_ERROR_FILEOPEN);
    if (length != 0 && length < fromFile.size()) fromFile.resize(length);
    data = fromFile.data();
    size = fromFile.size();
  }
  if (size == 0 || !XmCheck(data, size)) return Fail(BASS_ERROR_FORMAT);

  UnloadMusic(L);
  std::lock_guard<std::mutex> render(L.RenderLock);
  L.Player = xmp_create_context();
  if (!L.Player) return Fail(BASS_ERROR_MEM);
  int err = xmp_load_module_from_memory(L.Player, const_cast<uint8_t*>(data), static_cast<long>(size));
  if (err == 0) {
    err = xmp_start_player(L.Player, static_cast<int>(L.Frequency), 0);
    if (err != 0) xmp_release_module(L.Player);  // loaded, but cannot play
  }
  if (err != 0) {
    xmp_free_context(L.Player);
    L.Player = nullptr;
    return Fail(err == -XMP_ERROR_SYSTEM ? BASS_ERROR_MEM : BASS_ERROR_FORMAT);
  }
  xmp_module_info info;
  xmp_get_module_info(L.Player, &info);
  L.Channels = std::clamp(info.mod ? info.mod->chn : 0, 0, XMP_MAX_CHANNELS);
  L.TickAudio.clear();
  L.TickFrames = L.TickUsed = 0;
  L.FramesRendered = 0;
  L.TickClock = ExactFrames{};
  L.RowSerial = 0;
  L.Ended = false;
  std::fill(std::begin(L.LastInstrument), std::end(L.LastInstrument), 0);
  L.HeardPosition = 0;
  L.HeardFrame = 0;
  {
    std::lock_guard<std::mutex> lock(L.EventLock);
    L.HeardAnswered = 0;
  }
  L.Loaded = true;
  return Succeed();
}

uint32_t BASSMOD_MusicPlay() {
  Library& L = Lib();
  std::lock_guard<std::mutex> api(L.ApiLock);
  if (!L.Initialised) return Fail(BASS_ERROR_INIT);
  if (!L.Loaded) return Fail(BASS_ERROR_NOMUSIC);
  if (L.DecodeMode || L.Playing) return Succeed();
  {
    std::lock_guard<std::mutex> lock(L.EventLock);
    L.StopSyncThread = false;
    L.HaveAnchor = false;
  }
  OutputKeepLoaded(true);
#if BASSMOD_THREADLESS
  L.Playing = true;
  {
    std::lock_guard<std::mutex> render(L.RenderLock);
    L.OutputStartFrame = L.FramesRendered;
  }
  L.PumpHeard = L.OutputStartFrame;
  L.SilentStart = Clock::now();
  if (L.Device) OutputStart();
  else L.SilentBuffer.assign(DeviceBufferFrames * OutputChannels, 0);
  OutputPumpStart(L.Frequency);
  PumpOnce(L);
  return Succeed();
#else
  L.SyncThread = std::thread(SyncThreadMain, &L);
  L.SyncThreadId = L.SyncThread.get_id();
  L.Playing = true;
  if (L.Device) {
    {
      std::lock_guard<std::mutex> render(L.RenderLock);
      L.OutputStartFrame = L.FramesRendered;
    }
    OutputStart();
  } else {
    L.StopSilent = false;
    L.SilentThread = std::thread(SilentThreadMain, &L);
  }
  return Succeed();
#endif
}

uint32_t BASSMOD_MusicSetSync(uint32_t type, uint32_t param, SYNCPROC proc, uint32_t user) {
  Library& L = Lib();
  if (!L.Initialised) return Fail(BASS_ERROR_INIT);
  if (!L.Loaded) return Fail(BASS_ERROR_NOMUSIC);
  bool once = (type & BASS_SYNC_ONETIME) != 0;
  uint32_t base = type & ~BASS_SYNC_ONETIME;
  if (base != BASS_SYNC_POS && base != BASS_SYNC_MUSICINST) return Fail(BASS_ERROR_ILLTYPE);
  if (proc == nullptr) return Fail(BASS_ERROR_ILLPARAM);
  if (base == BASS_SYNC_MUSICINST && (param & 0xFFFF) == 0) return Fail(BASS_ERROR_ILLPARAM);
  std::lock_guard<std::mutex> lock(L.SyncLock);
  uint32_t handle = L.NextHandle++;
  if (L.NextHandle == 0) L.NextHandle = 1;  // after 2^32 registrations; never 0
  L.Syncs.push_back(Sync{handle, base, param, proc, user, once});
  return Succeed(handle);
}

int32_t BASSMOD_ErrorGetCode() { return LastError; }

uint32_t BASSMOD_MusicDecode(void* buffer, uint32_t frames) {
  Library& L = Lib();
  std::vector<MusicEvent> events;
  size_t done;
  {
    std::lock_guard<std::mutex> api(L.ApiLock);
    if (!L.Initialised) return Fail(BASS_ERROR_INIT);
    if (!L.DecodeMode || (buffer == nullptr && frames != 0)) return Fail(BASS_ERROR_ILLPARAM);
    if (!L.Loaded) return Fail(BASS_ERROR_NOMUSIC);
    std::lock_guard<std::mutex> render(L.RenderLock);
    done = Render(L, static_cast<int16_t*>(buffer), frames, events);
  }
  // Delivered with no lock held: callbacks may register syncs or decode on.
  for (const MusicEvent& e : events) Deliver(L, e);
  if (done == 0 && frames != 0) return Fail(BASS_ERROR_POSITION);  // past the end
  return Succeed(static_cast<uint32_t>(done));
}

uint32_t BASSMOD_MusicGetPosition() {
  Library& L = Lib();
  if (!L.Loaded) {
    Fail(L.Initialised ? BASS_ERROR_NOMUSIC : BASS_ERROR_INIT);
    return 0xFFFFFFFFu;
  }
  return Succeed(L.HeardPosition);
}

uint64_t BASSMOD_MusicGetSample() {
  Library& L = Lib();
  if (!L.Loaded) return Fail(L.Initialised ? BASS_ERROR_NOMUSIC : BASS_ERROR_INIT);
  LastError = BASS_OK;
  if (InCallback) return CallbackFrame;
  if (L.DecodeMode) {
    std::lock_guard<std::mutex> render(L.RenderLock);
    return L.FramesRendered;
  }
#if BASSMOD_THREADLESS
  if (!L.Playing) return std::max(L.HeardFrame.load(), L.HeardAnswered);
  uint64_t now = std::min(HeardNow(L), L.FramesRendered);
  L.HeardAnswered = std::max({now, L.HeardFrame.load(), L.HeardAnswered});
  return L.HeardAnswered;
#endif
  std::lock_guard<std::mutex> lock(L.EventLock);
  if (!L.HaveAnchor) return L.HeardFrame;
  auto since = std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now() - L.AnchorTime).count();
  int64_t heard = static_cast<int64_t>(L.AnchorFrame) - static_cast<int64_t>(L.OutputLatencyFrames) +
                  since * static_cast<int64_t>(L.Frequency) / 1000000000;
  int64_t rendered = static_cast<int64_t>(L.AnchorFrame) + DeviceBufferFrames;
  heard = std::clamp<int64_t>(heard, 0, rendered);
  // Never before a sync already delivered, nor before an earlier answer.
  L.HeardAnswered = std::max({static_cast<uint64_t>(heard), L.HeardFrame.load(), L.HeardAnswered});
  return L.HeardAnswered;
}

uint32_t BASSMOD_Free() {
  Library& L = Lib();
  std::lock_guard<std::mutex> api(L.ApiLock);
  if (OnSyncThread(L)) return Fail(BASS_ERROR_UNKNOWN);
  if (!L.Initialised) return Fail(BASS_ERROR_INIT);
  FreeAll(L);
  return Succeed();
}

}  // extern "C"

// Runs when the library is unloaded (or the process ends) while the music may
// still be playing: stops both threads and closes the device before the code
// they run disappears.
__attribute__((destructor)) static void UnloadLibrary() {
  if (TheLibrary == nullptr) return;
  // At process end the system has already stopped our threads (and may hold
  // locks they held): nothing to stop, nothing safe to wait for.
  if (OutputProcessEnding()) return;
  {
    std::lock_guard<std::mutex> api(TheLibrary->ApiLock);
    if (TheLibrary->Initialised) FreeAll(*TheLibrary);
  }
  delete TheLibrary;
  TheLibrary = nullptr;
}

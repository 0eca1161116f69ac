// The capture run. The demo's own start-up, in the demo's order, on an
// offscreen context; then a virtual clock taken from the decoded music:
//
//   - the music is decoded in blocks that end just past the next event, so
//     every sync fires (on this thread, inside the decode call) at its exact
//     sample and before any tick or frame at or after that sample;
//   - tick n (n = 1, 2, ...) runs TickAnimation at sample n * 1764 (every
//     40 ms of music), as the demo's 40 ms timer would;
//   - frame k is rendered at sample floor(k * 44100 / fps) and so sees every
//     sync and tick at a sample up to and including its own; a tick and a
//     frame at the same sample run tick first, as the demo dispatches the
//     timer message before the pass that draws;
//   - the capture ends, like the demo's main loop, at the first event after
//     DemoDone is set (the eleventh order cue), or at the end of the range.
//
// Every frame from the start is rendered, even before the range, because the
// GL state that a frame leaves behind shapes the next one; frames outside the
// range are only not read back.
#include "capture/capture_run.h"

#include "capture/fail.h"

#include <GL/gl.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "app/runtime.h"
#include "assets/assets.h"
#include "choreo/director.h"
#include "choreo/tick.h"
#include "core/demo_globals.h"
#include "music/music.h"
#include "platform/offscreen_gl.h"
#include "platform/pixels.h"
#include "render/render.h"
#include "support/random.h"
#include "capture/contact_sheet.h"
#include "capture/frame_clock.h"
#include "capture/frame_writer.h"
#include "capture/png_io.h"
#include "capture/timeline.h"
#include "capture/video_writer.h"
#include "capture/wav_writer.h"

namespace {

using Clock = std::chrono::steady_clock;

// The no-output device of the sound library (decode mode).
constexpr int32_t DecodeDevice = 0;
constexpr uint32_t DecodeBlockFrames = 4096;  // largest block decoded at once
// Expected length of a full run, for the progress line's estimate only.
constexpr int64_t ExpectedDemoSamples = 75 * CaptureSampleRate;
// Frames in flight between the renderer and the writer thread: about 64 MiB
// of them, 6 to 32 frames, so that the writer can fall behind during a
// costly scene and catch up in a cheap one.
constexpr size_t WriterBufferBytes = size_t{64} << 20;
constexpr size_t MinWriterBuffers = 6, MaxWriterBuffers = 32;
// How far below the renderer the writers run. The renderer's GL
// driver splits each frame over threads on every core and waits for the
// slowest; an encoder taking a core mid-frame stalls it all. Niced, the
// encoders take the time the renderer leaves, and have the cores whenever
// the renderer waits for a free buffer.
constexpr int WriterNiceness = 10;

using DecodeProc = uint32_t (*)(void* buffer, uint32_t frames);
using PositionProc = uint32_t (*)();

struct TimeSpent {
  double music = 0;     // decoding, syncs and ticks
  double render = 0;    // RenderFrame until the GL finished it
  double readback = 0;  // glReadPixels into the writer's buffer
  double wait = 0;      // waiting for a free buffer (writer behind)
};

double Seconds(Clock::time_point a, Clock::time_point b) { return std::chrono::duration<double>(b - a).count(); }
// The seconds since *mark, which moves on to now.
double Lap(Clock::time_point* mark) {
  const Clock::time_point now = Clock::now();
  return Seconds(std::exchange(*mark, now), now);
}

void Report(const std::string& message) { std::fprintf(stderr, "zephyra-capture: %s\n", message.c_str()); }

bool MakeFolder(const std::string& path) {
  std::error_code ignored;
  std::filesystem::create_directory(path, ignored);  // or it is there already
  return std::filesystem::is_directory(path, ignored);
}

// The scene as the contact sheet names it.
std::string SceneName(int32_t mode, int32_t captionB) {
  if (mode == SceneModeCaptionIn || mode == SceneModeCaptionOut) return captionB ? "CAPTION B" : "CAPTION A";
  if (mode == SceneModeMorphRising || mode == SceneModeMorphFalling) return "MORPH";
  return mode == SceneModeCube ? "CUBE" : "MODE " + std::to_string(mode);
}

// The demo's start-up up to its GL state, in the demo's order (the shell's
// own set-up steps), with the window replaced by the offscreen context: no
// message box, so no common controls, and no window to swap.
// The question "Fullscreen?" is answered by the options.
bool StartDemo(const CaptureOptions& o, OffscreenGL** gl, std::string* error) {
  if (!CreateRuntimeTables() || !AllocateRuntimeBuffers()) return Fail(error, "out of memory");
  // The demo seeds from the clock at its first draw; the capture seeds first,
  // so that the same seed gives the same run.
  RandomSeed(o.seed);
  SetSceneStartValues();
  DemoGlobals.FullscreenMode = o.fullscreenLook ? 1 : 0;
  // Full screen runs the display at 16 bits per pixel, and the decoded
  // pictures (hence the texels) take that depth.
  PixelStoreSetDisplayDepth(o.fullscreenLook ? 16 : 32);

  const char* why = nullptr;
  *gl = CreateOffscreenGL(o.width, o.height, &why);
  if (!*gl) {
    return Fail(error, std::string("cannot create the offscreen OpenGL context: ") + (why ? why : "unknown reason"));
  }
  ResizeViewport(o.width, o.height);
  SetFixedGLState();
  return true;
}

// The music clock: the sound library's decode calls, samples decoded so
// far, and the audio that is kept back until the event it belongs before
// has been handled.
struct MusicClock {
  DecodeProc decode = nullptr;
  PositionProc position = nullptr;
  int64_t decoded = 0;            // samples decoded
  int64_t heldStart = 0;          // first sample in `held`
  std::vector<int16_t> held;      // decoded, not yet written (stereo pairs)
  int64_t audioStart = 0;         // first sample that goes into the WAV
  WavWriter* wav = nullptr;
  VideoOutput* video = nullptr;   // the audio goes into the video instead of a WAV
  std::string writeError;         // what to say when the audio cannot be written
};

bool StartMusic(const CaptureOptions& o, MusicClock* m, std::string* error) {
  const std::string path = o.libraryPath.empty() ? MusicLibraryPath : o.libraryPath;
  if (!MusicInit(MusicLibrarySlot, path.c_str(), DecodeDevice, static_cast<uint32_t>(CaptureSampleRate), 0)) {
    return Fail(error, "cannot initialise the sound library " + path + " for decoding (" +
                           MusicErrorText(MusicLibrarySlot) + ")");
  }
  // The decode calls are not among the binding's music operations: they are
  // found by name in the slot's library, the one the syncs are registered
  // in. Looked up once: the slot keeps its library for the whole run.
  m->decode = reinterpret_cast<DecodeProc>(DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicDecode"));
  m->position = reinterpret_cast<PositionProc>(DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicGetPosition"));
  if (!m->decode || !m->position) {
    return Fail(error, "the sound library " + path +
                           " has no decode mode (BASSMOD_MusicDecode, BASSMOD_MusicGetPosition)");
  }
  if (!MusicLoad(MusicLibrarySlot, 1, MusicModule, 0, MusicModuleSize, MusicLoadFlags)) {
    return Fail(error, std::string("the sound library cannot load the music: ") + MusicErrorText(MusicLibrarySlot));
  }
  return true;
}

void StopDemo(OffscreenGL* gl) {
  DestroyOffscreenGL(gl);
  ReleaseRuntime();  // unloads the sound library too
}

// Decodes until every sample before `target` is decoded, straight onto the
// end of the held audio; syncs due on the way fire inside the decode calls.
bool DecodeUntil(MusicClock* c, int64_t target, std::string* error) {
  while (c->decoded < target) {
    const auto frames = static_cast<uint32_t>(std::min<int64_t>(DecodeBlockFrames, target - c->decoded));
    const size_t at = c->held.size();
    c->held.resize(at + static_cast<size_t>(frames) * 2);
    const uint32_t got = c->decode(c->held.data() + at, frames);
    c->held.resize(at + static_cast<size_t>(got) * 2);
    if (got == 0) return Fail(error, "the sound library stopped decoding at sample " + std::to_string(c->decoded));
    c->decoded += got;
  }
  return true;
}

// Writes the held audio before sample `until` to the WAV or the video (from
// audioStart on). False with c->writeError in *error when that failed.
bool ReleaseAudio(MusicClock* c, int64_t until, std::string* error) {
  until = std::min(until, c->decoded);
  if (until <= c->heldStart) return true;
  const int64_t from = std::max(c->heldStart, c->audioStart);
  bool ok = true;
  if (until > from) {
    const int16_t* samples = c->held.data() + (from - c->heldStart) * 2;
    const auto count = static_cast<uint32_t>(until - from);
    if (c->wav) ok = WavWrite(c->wav, samples, count);
    if (c->video) ok = VideoOutputWriteAudio(c->video, samples, count);
  }
  c->held.erase(c->held.begin(), c->held.begin() + (until - c->heldStart) * 2);
  c->heldStart = until;
  return ok || Fail(error, c->writeError);
}

TimelineState CurrentState(const MusicClock& c, int64_t sample) {
  TimelineState s;
  s.sample = sample;
  const uint32_t pos = c.position();
  s.order = pos & 0xFFFF;
  s.row = pos >> 16;
  s.sceneMode = DemoGlobals.SceneMode.load();
  s.cueCount = DemoGlobals.CueCount.load();
  s.demoDone = DemoGlobals.DemoDone.load();
  return s;
}

// The frames a run writes: a range of music time, or stills.
struct FrameSelection {
  std::set<int64_t> stills;
  int64_t first = 0;
  int64_t end = INT64_MAX;
  bool Selected(int64_t k) const { return k >= first && k < end && (stills.empty() || stills.count(k) != 0); }
};

FrameSelection SelectFrames(const CaptureOptions& o) {
  FrameSelection f;
  for (const Rational& t : o.at) f.stills.insert(FirstFrameAtOrAfter(t, o.fps));
  f.first = !f.stills.empty() ? *f.stills.begin() : o.haveFrom ? FirstFrameAtOrAfter(o.from, o.fps) : 0;
  f.end = !f.stills.empty() ? *f.stills.rbegin() + 1 : o.haveTo ? FirstFrameAtOrAfter(o.to, o.fps) : INT64_MAX;
  return f;
}

// Everything one run holds: the demo, its outputs, the writer, the music
// clock and what was counted on the way.
struct CaptureRun {
  explicit CaptureRun(const CaptureOptions& options)
      : o(options), video(!options.videoPath.empty()), discard(options.discard) {}
  const CaptureOptions& o;
  const bool video;
  const bool discard;
  OffscreenGL* gl = nullptr;
  WavWriter wav;
  std::string wavPath;     // empty: no WAV
  FILE* timeline = nullptr;
  FILE* frameLog = nullptr;
  VideoOutput pipe;
  FrameWriter writer;
  MusicClock clock;
  ContactSheet sheet;
  TimeSpent spent;
  ProgressLine progress;
  int64_t written = 0;    // frames handed to the writer
  std::string lastScene;  // contact sheet: scene and cue count of the last frame written
  int32_t lastCue = -1;
  int64_t endSample = 0;
  double finishSeconds = 0;  // closing the outputs
  std::string error;
};

// A failure before the first frame: closes what is open, stops the demo.
int Abandon(CaptureRun* r) {
  Report(r->error);
  if (r->wav.file) WavClose(&r->wav);
  if (r->timeline) std::fclose(r->timeline);
  if (r->frameLog) std::fclose(r->frameLog);
  StopDemo(r->gl);
  return CaptureExitFailed;
}

// The rest of the demo's start-up: syncs, display lists and textures, the
// depth test, then the first scene. The music is decoded, never played, so
// there is no MusicPlay and no timer: both clocks are the decoded samples.
void StartScenes() {
  RegisterMusicSyncs();
  BuildMorphLists();
  BuildCubeLists();
  BuildTextureSet();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  DemoGlobals.SceneMode.store(SceneModeCaptionIn);
}

// The WAV and the logs. With --discard: no WAV, and only the logs asked for
// by name. A video's sound goes into the video with its pictures.
bool OpenLogsAndWav(CaptureRun* r) {
  const CaptureOptions& o = r->o;
  r->wavPath = r->discard || r->video ? std::string() : o.outDir + "/audio.wav";
  r->clock.writeError = r->video ? "the video's audio could not be coded" : "cannot write " + r->wavPath;
  if (!o.timelinePath.empty()) r->timeline = std::fopen(o.timelinePath.c_str(), "w");
  if (!o.frameLogPath.empty()) r->frameLog = std::fopen(o.frameLogPath.c_str(), "w");
  if ((!r->wavPath.empty() && !WavOpen(&r->wav, r->wavPath, static_cast<uint32_t>(CaptureSampleRate))) ||
      (!o.timelinePath.empty() && !r->timeline) || (!o.frameLogPath.empty() && !r->frameLog))
    return Fail(&r->error, "cannot create the output files (" + r->wavPath + ", " + o.timelinePath + ", " +
                               o.frameLogPath + ")");
  if (r->timeline) std::fprintf(r->timeline, "%s\n", TimelineHeader);
  if (r->frameLog) std::fprintf(r->frameLog, "%s\n", FrameLogHeader);
  return true;
}

// The writer thread and what it does with each frame.
bool StartWriter(CaptureRun* r) {
  const CaptureOptions& o = r->o;
  const size_t frameBytes = static_cast<size_t>(o.width) * o.height * 4;
  const size_t buffers = std::clamp(WriterBufferBytes / frameBytes, MinWriterBuffers, MaxWriterBuffers);
  if (r->discard) {
    // The buffers still go through the writer, so the floor pays the same
    // hand-over as every output; the sink drops them.
    FrameWriterStart(&r->writer, buffers, frameBytes, [](const FrameBuffer&, std::string*) { return true; });
    return true;
  }
  // One writer at every size: it sees the frames in order, so every frame
  // that repeats the one before (six in ten at 60 fps) is written without
  // encoding, and what remains keeps one thread well below the renderer's
  // pace even at 1920 x 1080.
  r->writer.findRepeats = true;
  if (r->video) {
    if (!VideoOutputOpen(&r->pipe, o.videoPath, o.width, o.height, o.fps, static_cast<uint32_t>(CaptureSampleRate),
                         &r->error))
      return false;
    FrameWriterStart(&r->writer, buffers, frameBytes, [pipe = &r->pipe](const FrameBuffer& b, std::string* why) {
      return VideoOutputWriteFrame(pipe, b.data.data(), b.repeat) ||
             Fail(why, pipe->error.empty() ? "the video could not be written" : pipe->error);
    }, 1, WriterNiceness);
  } else {
    FrameWriterStart(&r->writer, buffers, frameBytes, [&o](const FrameBuffer& b, std::string* why) {
      return WritePng(FrameFileName(o.outDir, b.frame), b.data.data(), o.width, o.height, 4,
                      static_cast<size_t>(o.width) * 4, true, o.pngLevel, why, b.repeat);
    }, 1, WriterNiceness);
  }
  return true;
}

// The frame just rendered, read back into a writer's buffer and handed
// over, with its log line and, at a scene change or cue, its thumbnail.
// `mark`: when the frame's rendering began.
bool KeepFrame(CaptureRun* r, int64_t frame, int64_t eventSample, Clock::time_point* mark) {
  glFinish();
  r->spent.render += Lap(mark);
  FrameBuffer* buffer = FrameWriterAcquire(&r->writer);
  r->spent.wait += Lap(mark);
  if (!buffer) return false;
  buffer->frame = frame;
  glReadPixels(0, 0, r->o.width, r->o.height, GL_RGBA, GL_UNSIGNED_BYTE, buffer->data.data());
  r->spent.readback += Lap(mark);

  const TimelineState state = CurrentState(r->clock, eventSample);
  if (r->frameLog) std::fprintf(r->frameLog, "%s\n", FormatFrameLine(frame, state).c_str());
  const std::string scene = SceneName(state.sceneMode, DemoGlobals.UseCaptionB.load());
  std::string label;
  if (scene != r->lastScene) label = scene;
  if (r->lastCue >= 0 && state.cueCount != r->lastCue) label = "CUE " + std::to_string(state.cueCount);
  if (!label.empty() && !r->o.contactSheetPath.empty())
    ContactSheetAdd(&r->sheet, buffer->data.data(), r->o.width, r->o.height,
                    FormatSampleTime(eventSample) + " " + label);
  r->lastScene = scene;
  r->lastCue = state.cueCount;
  FrameWriterSubmit(&r->writer, buffer);
  ++r->written;
  return true;
}

// The demo's loop on the music's clock: each tick and frame at its own
// sample, in order, until the range or the demo ends. False on a failure
// (r->error says why, unless the writer does).
bool RunFrames(CaptureRun* r, const FrameSelection& frames) {
  const CaptureOptions& o = r->o;
  const int64_t progressEnd = frames.end != INT64_MAX ? FrameSample(frames.end, o.fps) : ExpectedDemoSamples;
  int64_t frame = 0;  // next frame to handle
  int64_t tick = 1;   // next tick to run
  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  for (;;) {
    const int64_t tickSample = tick * CaptureTickSamples;
    const int64_t frameSample = FrameSample(frame, o.fps);
    r->endSample = frameSample;  // where the audio ends if the run ends here
    // The range is done: audio up to the first frame after it.
    if (frame >= frames.end) return true;
    const bool isTick = tickSample <= frameSample;
    const int64_t eventSample = isTick ? tickSample : frameSample;

    Clock::time_point mark = Clock::now();
    if (!DecodeUntil(&r->clock, eventSample + 1, &r->error) || !ReleaseAudio(&r->clock, eventSample, &r->error))
      return false;
    // The demo's loop ends after the pass in which DemoDone was set: no
    // further tick or frame. The audio runs to the next frame's time, so
    // its length is that of the frames written.
    if (DemoGlobals.DemoDone.load()) return true;
    if (isTick) {
      TickAnimation();
      ++tick;
      if (r->timeline)
        std::fprintf(r->timeline, "%s\n", FormatTimelineLine("tick", CurrentState(r->clock, eventSample)).c_str());
    }
    r->spent.music += Lap(&mark);
    if (isTick) continue;
    RenderFrame();
    if (!frames.Selected(frame))
      r->spent.render += Lap(&mark);
    else if (!KeepFrame(r, frame, eventSample, &mark))
      return false;
    ++frame;
    ProgressUpdate(&r->progress, r->written, eventSample - std::min(eventSample, r->clock.audioStart),
                   progressEnd - r->clock.audioStart, frames.end == INT64_MAX, false);
  }
}

// The rest of the audio, the closing line of the timeline, then every
// output closed; the first failure is kept. Answers whether all went well.
bool FinishRun(CaptureRun* r, bool ok) {
  const CaptureOptions& o = r->o;
  if (ok) {
    ok = DecodeUntil(&r->clock, r->endSample, &r->error) && ReleaseAudio(&r->clock, r->endSample, &r->error);
    if (r->timeline)
      std::fprintf(r->timeline, "%s\n", FormatTimelineLine("end", CurrentState(r->clock, r->endSample)).c_str());
  }
  const int64_t done = r->endSample - std::min(r->endSample, r->clock.audioStart);
  ProgressUpdate(&r->progress, r->written, done, r->endSample - r->clock.audioStart, false, true);
  ProgressFinish(&r->progress);

  auto failWith = [&](const std::string& why) {  // the first failure is the one told
    if (r->error.empty()) r->error = why;
    ok = false;
  };
  std::string writeError;
  if (!FrameWriterFinish(&r->writer, &writeError)) failWith(writeError);
  if (r->wav.file && !WavClose(&r->wav)) failWith("cannot write " + r->wavPath);
  const bool timelineClosed = !r->timeline || std::fclose(r->timeline) == 0;
  const bool frameLogClosed = !r->frameLog || std::fclose(r->frameLog) == 0;
  if (!timelineClosed || !frameLogClosed) failWith("cannot write " + o.timelinePath + " or " + o.frameLogPath);
  const Clock::time_point encodeStart = Clock::now();
  if (r->video && !VideoOutputClose(&r->pipe, &writeError)) failWith(writeError);
  r->finishSeconds = Seconds(encodeStart, Clock::now());
  // A range that starts after the demo's end: nothing was captured, and
  // saying so is better than an empty folder and a success.
  if (ok && r->written == 0)
    failWith("no frame was captured: the demo ended at " + FormatSampleTime(r->endSample) + ", before the range began");
  if (ok && !o.contactSheetPath.empty() && !WriteRgbPng(o.contactSheetPath, ContactSheetCompose(r->sheet), &r->error))
    ok = false;
  return ok;
}

// What the run did, and with --timing where the time went.
void PrintSummary(const CaptureRun& r, double total) {
  const int64_t samples = r.endSample - r.clock.audioStart;
  const double music = static_cast<double>(samples) / CaptureSampleRate;
  const auto written = static_cast<long long>(r.written);
  std::fprintf(stderr, "zephyra-capture: %lld frames%s (%s of music) in %.2f s, %.1f frames/s, %.2fx real time\n",
               written, r.discard ? " rendered and discarded" : "", FormatSampleTime(samples).c_str(), total,
               total > 0 ? static_cast<double>(r.written) / total : 0.0, total > 0 ? music / total : 0.0);
  if (!r.o.timing) return;
  std::fprintf(stderr,
               "zephyra-capture: time: render %.2f s, readback %.2f s, music+ticks %.2f s, waiting for writer "
               "%.2f s; writers busy %.2f s (CPU %.2f s), summed over threads (%s); final %s %.2f s\n",
               r.spent.render, r.spent.readback, r.spent.music, r.spent.wait, r.writer.busySeconds, r.writer.cpuSeconds,
               r.discard ? "discard" : r.video ? "video encode+mux" : "PNG encode+write",
               r.video ? "video finishing" : "close", r.finishSeconds);
  if (!r.discard)
    std::fprintf(stderr, "zephyra-capture: %lld of %lld frames repeated the frame before and were %s\n",
                 static_cast<long long>(r.video ? r.pipe.repeatedFrames : r.writer.repeatedFrames), written,
                 r.video ? "coded as repeats" : "not encoded again");
  // CPU (user + system, all threads) over wall time: how many of the cores
  // the run kept busy.
  const double cpu = static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
  std::fprintf(stderr, "zephyra-capture: cpu: tool %.2f s, %.2f cores busy on average\n", cpu,
               total > 0 ? cpu / total : 0.0);
}

}  // namespace

int RunCapture(const CaptureOptions& o) {
  const Clock::time_point started = Clock::now();
  CaptureRun r(o);
  if (!r.video && !r.discard && !MakeFolder(o.outDir)) {
    Report("cannot create the output folder " + o.outDir);
    return CaptureExitFailed;
  }
  const FrameSelection frames = SelectFrames(o);
  if (frames.end <= frames.first) {
    Report("the time range holds no frame at this frame rate");
    return CaptureExitUsage;
  }
  if (!StartDemo(o, &r.gl, &r.error) || !StartMusic(o, &r.clock, &r.error)) return Abandon(&r);
  StartScenes();
  if (!OpenLogsAndWav(&r) || !StartWriter(&r)) return Abandon(&r);

  r.clock.audioStart = FrameSample(frames.first, o.fps);
  r.clock.wav = r.wav.file ? &r.wav : nullptr;
  r.clock.video = r.video ? &r.pipe : nullptr;
  ProgressStart(&r.progress, stderr, o.progress);
  const bool ok = FinishRun(&r, RunFrames(&r, frames));
  StopDemo(r.gl);
  if (!ok) {
    if (r.video) std::remove(o.videoPath.c_str());  // no half-written video left behind
    Report(r.error);
    return CaptureExitFailed;
  }
  PrintSummary(r, Seconds(started, Clock::now()));
  return CaptureExitOk;
}

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

#include <GL/gl.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <set>
#include <string>
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
#include "capture/progress.h"
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
// Frames in flight between the renderer and the writer threads: about 64 MiB
// of them, 6 to 32 frames, so that the writers can fall behind during a
// costly scene and catch up in a cheap one. The video takes frames in order
// from one writer.
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

// User + system CPU seconds of this process (all its threads).
double CpuSeconds(int who) {
  rusage u;
  if (getrusage(who, &u) != 0) return 0;
  return static_cast<double>(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         static_cast<double>(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

void Fail(const std::string& message) { std::fprintf(stderr, "zephyra-capture: %s\n", message.c_str()); }

bool MakeFolder(const std::string& path) {
  if (mkdir(path.c_str(), 0777) == 0 || errno == EEXIST) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
  }
  return false;
}

// The scene as the contact sheet names it.
std::string SceneName(int32_t mode, int32_t captionB) {
  switch (mode) {
    case SceneModeCaptionIn:
    case SceneModeCaptionOut:
      return captionB ? "CAPTION B" : "CAPTION A";
    case SceneModeMorphRising:
    case SceneModeMorphFalling:
      return "MORPH";
    case SceneModeCube:
      return "CUBE";
    default:
      return "MODE " + std::to_string(mode);
  }
}

// The demo's start-up up to its GL state, in the demo's order (the shell's
// own set-up steps), with the window replaced by the offscreen context: no
// message box, so no common controls, and no window to swap.
// The question "Fullscreen?" is answered by the options.
bool StartDemo(const CaptureOptions& o, OffscreenGL** gl, std::string* error) {
  if (!CreateRuntimeTables() || !AllocateRuntimeBuffers()) {
    *error = "out of memory";
    return false;
  }
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
    *error = std::string("cannot create the offscreen OpenGL context: ") + (why ? why : "unknown reason");
    return false;
  }
  ResizeViewport(o.width, o.height);
  SetFixedGLState();
  return true;
}

struct MusicDecoder {
  DecodeProc decode = nullptr;
  PositionProc position = nullptr;
};

bool StartMusic(const CaptureOptions& o, MusicDecoder* m, std::string* error) {
  const std::string path = o.libraryPath.empty() ? MusicLibraryPath : o.libraryPath;
  if (!MusicInit(MusicLibrarySlot, path.c_str(), DecodeDevice, static_cast<uint32_t>(CaptureSampleRate), 0)) {
    *error = "cannot initialise the sound library " + path + " for decoding (" + MusicErrorText(MusicLibrarySlot) +
             ")";
    return false;
  }
  // The decode calls are not among the binding's music operations: they are
  // found by name in the slot's library, the one the syncs are registered
  // in. Looked up once: the slot keeps its library for the whole run.
  m->decode = reinterpret_cast<DecodeProc>(DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicDecode"));
  m->position = reinterpret_cast<PositionProc>(DynLibFindFunction(MusicLibrarySlot, "BASSMOD_MusicGetPosition"));
  if (!m->decode || !m->position) {
    *error = "the sound library " + path + " has no decode mode (BASSMOD_MusicDecode, BASSMOD_MusicGetPosition)";
    return false;
  }
  if (!MusicLoad(MusicLibrarySlot, 1, MusicModule, 0, MusicModuleSize, MusicLoadFlags)) {
    *error = std::string("the sound library cannot load the music: ") + MusicErrorText(MusicLibrarySlot);
    return false;
  }
  return true;
}

void StopDemo(OffscreenGL* gl, MusicDecoder* m) {
  DestroyOffscreenGL(gl);
  ReleaseRuntime();  // unloads the sound library too
  m->decode = nullptr;
  m->position = nullptr;
}

// The music clock: samples decoded so far, and the audio that is kept back
// until the event it belongs before has been handled.
struct MusicClock {
  MusicDecoder* decoder = nullptr;
  int64_t decoded = 0;            // samples decoded
  int64_t heldStart = 0;          // first sample in `held`
  std::vector<int16_t> held;      // decoded, not yet written (stereo pairs)
  int64_t audioStart = 0;         // first sample that goes into the WAV
  WavWriter* wav = nullptr;
  VideoOutput* video = nullptr;   // the audio goes into the video instead of a WAV
};

// Decodes until every sample before `target` is decoded, straight onto the
// end of the held audio; syncs due on the way fire inside the decode calls.
bool DecodeUntil(MusicClock* c, int64_t target, std::string* error) {
  while (c->decoded < target) {
    const auto frames = static_cast<uint32_t>(std::min<int64_t>(DecodeBlockFrames, target - c->decoded));
    const size_t at = c->held.size();
    c->held.resize(at + static_cast<size_t>(frames) * 2);
    const uint32_t got = c->decoder->decode(c->held.data() + at, frames);
    c->held.resize(at + static_cast<size_t>(got) * 2);
    if (got == 0) {
      *error = "the sound library stopped decoding at sample " + std::to_string(c->decoded);
      return false;
    }
    c->decoded += got;
  }
  return true;
}

// Writes the held audio before sample `until` to the WAV (from audioStart on).
bool ReleaseAudio(MusicClock* c, int64_t until) {
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
  return ok;
}

TimelineState CurrentState(const MusicClock& c, int64_t sample) {
  TimelineState s;
  s.sample = sample;
  const uint32_t pos = c.decoder->position();
  s.order = pos & 0xFFFF;
  s.row = pos >> 16;
  s.sceneMode = DemoGlobals.SceneMode.load();
  s.cueCount = DemoGlobals.CueCount.load();
  s.demoDone = DemoGlobals.DemoDone.load();
  return s;
}

}  // namespace

int RunCapture(const CaptureOptions& o) {
  const Clock::time_point started = Clock::now();
  const bool video = !o.videoPath.empty();
  const bool discard = o.discard;
  if (!video && !discard && !MakeFolder(o.outDir)) {
    Fail("cannot create the output folder " + o.outDir);
    return CaptureExitFailed;
  }

  // Which frames are written.
  std::set<int64_t> stills;
  for (const Rational& t : o.at) stills.insert(FirstFrameAtOrAfter(t, o.fps));
  const int64_t firstFrame = !stills.empty() ? *stills.begin() : o.haveFrom ? FirstFrameAtOrAfter(o.from, o.fps) : 0;
  const int64_t endFrame = !stills.empty() ? *stills.rbegin() + 1
                           : o.haveTo     ? FirstFrameAtOrAfter(o.to, o.fps)
                                          : INT64_MAX;
  if (endFrame <= firstFrame) {
    Fail("the time range holds no frame at this frame rate");
    return CaptureExitUsage;
  }
  auto selected = [&](int64_t k) {
    return k >= firstFrame && k < endFrame && (stills.empty() || stills.count(k) != 0);
  };

  OffscreenGL* gl = nullptr;
  MusicDecoder decoder;
  WavWriter wav;
  FILE* timeline = nullptr;
  FILE* frameLog = nullptr;
  // A failure before the first frame: closes what is open, stops the demo.
  auto abandon = [&](const std::string& why) {
    Fail(why);
    if (wav.file) WavClose(&wav);
    if (timeline) std::fclose(timeline);
    if (frameLog) std::fclose(frameLog);
    StopDemo(gl, &decoder);
    return CaptureExitFailed;
  };
  std::string error;
  if (!StartDemo(o, &gl, &error) || !StartMusic(o, &decoder, &error)) return abandon(error);
  // The rest of the demo's start-up: syncs, display lists and textures, the
  // depth test, then the first scene. The music is decoded, never played, so
  // there is no MusicPlay and no timer: both clocks are the decoded samples.
  RegisterMusicSyncs();
  BuildMorphLists();
  BuildCubeLists();
  BuildTextureSet();
  glEnable(GL_DEPTH_TEST);
  glDepthFunc(GL_LEQUAL);
  DemoGlobals.SceneMode.store(SceneModeCaptionIn);

  // Outputs. With --discard: no WAV, and only the logs asked for by name.
  // A video's sound goes into the video with its pictures.
  const std::string wavPath = discard || video ? std::string() : o.outDir + "/audio.wav";
  const std::string audioError = video ? "the video's audio could not be coded" : "cannot write " + wavPath;
  if (!o.timelinePath.empty()) timeline = std::fopen(o.timelinePath.c_str(), "w");
  if (!o.frameLogPath.empty()) frameLog = std::fopen(o.frameLogPath.c_str(), "w");
  if ((!wavPath.empty() && !WavOpen(&wav, wavPath, static_cast<uint32_t>(CaptureSampleRate))) ||
      (!o.timelinePath.empty() && !timeline) || (!o.frameLogPath.empty() && !frameLog))
    return abandon("cannot create the output files (" + wavPath + ", " + o.timelinePath + ", " + o.frameLogPath + ")");
  if (timeline) std::fprintf(timeline, "%s\n", TimelineHeader);
  if (frameLog) std::fprintf(frameLog, "%s\n", FrameLogHeader);
  const bool withSheet = !o.contactSheetPath.empty();

  const size_t frameBytes = static_cast<size_t>(o.width) * o.height * 4;
  const size_t writerBuffers = std::clamp(WriterBufferBytes / frameBytes, MinWriterBuffers, MaxWriterBuffers);
  VideoOutput pipe;
  std::atomic<int64_t> repeatedFrames{0};  // PNG frames equal to the writer's last one, not encoded again
  FrameWriter writer;
  if (discard) {
    // The buffers still go through the writer, so the floor pays the same
    // hand-over as every output; the sink drops them.
    FrameWriterStart(&writer, writerBuffers, frameBytes, [](const FrameBuffer&, std::string*) { return true; });
  } else if (video) {
    if (!VideoOutputOpen(&pipe, o.videoPath, o.width, o.height, o.fps, static_cast<uint32_t>(CaptureSampleRate),
                         &error))
      return abandon(error);
    FrameWriterStart(&writer, writerBuffers, frameBytes, [&pipe](const FrameBuffer& b, std::string* why) {
      if (VideoOutputWriteFrame(&pipe, b.data.data())) return true;
      *why = pipe.error.empty() ? "the video could not be written" : pipe.error;
      return false;
    }, 1, WriterNiceness);
  } else {
    // One PNG writer at every size: it sees the frames in order, so every
    // frame that repeats the one before is written without encoding (six in
    // ten at 60 fps), and what remains keeps one thread well below the
    // renderer's pace even at 1920 x 1080.
    const std::string folder = o.outDir;
    const int32_t w = o.width, h = o.height;
    const int level = o.pngLevel;
    FrameWriterStart(&writer, writerBuffers, frameBytes,
                     [folder, w, h, level, &repeatedFrames](FrameBuffer& b, std::string* why) {
                       bool repeated = false;
                       const bool ok = WritePngFrame(FrameFileName(folder, b.frame), &b.data, w, h, level, why,
                                                     &repeated);
                       if (repeated) ++repeatedFrames;
                       return ok;
                     }, 1, WriterNiceness);
  }

  MusicClock clock;
  clock.decoder = &decoder;
  clock.audioStart = FrameSample(firstFrame, o.fps);
  clock.wav = wav.file ? &wav : nullptr;
  clock.video = video ? &pipe : nullptr;
  ContactSheet sheet;
  TimeSpent spent;
  ProgressLine progress;
  ProgressStart(&progress, stderr, o.progress);
  const int64_t progressEnd = endFrame != INT64_MAX ? FrameSample(endFrame, o.fps) : ExpectedDemoSamples;

  int64_t frame = 0;      // next frame to handle
  int64_t tick = 1;       // next tick to run
  int64_t written = 0;    // frames handed to the writer
  std::string lastScene;  // contact sheet: scene and cue count of the last frame written
  int32_t lastCue = -1;
  bool ok = true;
  int64_t endSample = 0;

  glPixelStorei(GL_PACK_ALIGNMENT, 4);
  for (;;) {
    const int64_t tickSample = tick * CaptureTickSamples;
    const int64_t frameSample = FrameSample(frame, o.fps);
    if (frame >= endFrame) {
      // The range is done: audio up to the first frame after it.
      endSample = frameSample;
      break;
    }
    const bool isTick = tickSample <= frameSample;
    const int64_t eventSample = isTick ? tickSample : frameSample;

    const Clock::time_point m0 = Clock::now();
    if (!DecodeUntil(&clock, eventSample + 1, &error) || !ReleaseAudio(&clock, eventSample)) {
      if (error.empty()) error = audioError;
      ok = false;
      break;
    }
    if (DemoGlobals.DemoDone.load()) {
      // The demo's loop ends after the pass in which DemoDone was set: no
      // further tick or frame. The audio runs to the next frame's time, so
      // its length is that of the frames written.
      endSample = frameSample;
      break;
    }
    if (isTick) {
      TickAnimation();
      ++tick;
      if (timeline)
        std::fprintf(timeline, "%s\n", FormatTimelineLine("tick", CurrentState(clock, eventSample)).c_str());
      spent.music += Seconds(m0, Clock::now());
      continue;
    }
    spent.music += Seconds(m0, Clock::now());

    const Clock::time_point r0 = Clock::now();
    RenderFrame();
    const bool keep = selected(frame);
    if (keep) {
      glFinish();
      const Clock::time_point r1 = Clock::now();
      spent.render += Seconds(r0, r1);
      FrameBuffer* buffer = FrameWriterAcquire(&writer);
      const Clock::time_point r2 = Clock::now();
      spent.wait += Seconds(r1, r2);
      if (!buffer) {
        ok = false;
        break;
      }
      buffer->frame = frame;
      glReadPixels(0, 0, o.width, o.height, GL_RGBA, GL_UNSIGNED_BYTE, buffer->data.data());
      spent.readback += Seconds(r2, Clock::now());

      const TimelineState state = CurrentState(clock, eventSample);
      if (frameLog) std::fprintf(frameLog, "%s\n", FormatFrameLine(frame, state).c_str());
      const std::string scene = SceneName(state.sceneMode, DemoGlobals.UseCaptionB.load());
      std::string label;
      if (scene != lastScene) label = scene;
      if (lastCue >= 0 && state.cueCount != lastCue) label = "CUE " + std::to_string(state.cueCount);
      if (!label.empty() && withSheet)
        ContactSheetAdd(&sheet, buffer->data.data(), o.width, o.height, FormatSampleTime(eventSample) + " " + label);
      lastScene = scene;
      lastCue = state.cueCount;
      FrameWriterSubmit(&writer, buffer);
      ++written;
    } else {
      spent.render += Seconds(r0, Clock::now());
    }
    ++frame;
    ProgressUpdate(&progress, written, eventSample - std::min(eventSample, clock.audioStart),
                   progressEnd - clock.audioStart, endFrame == INT64_MAX, false);
  }

  // The rest of the audio, then the closing line of the timeline.
  if (ok) {
    if (!DecodeUntil(&clock, endSample, &error) || !ReleaseAudio(&clock, endSample)) {
      if (error.empty()) error = audioError;
      ok = false;
    }
    if (timeline)
      std::fprintf(timeline, "%s\n", FormatTimelineLine("end", CurrentState(clock, endSample)).c_str());
  }
  ProgressUpdate(&progress, written, endSample - std::min(endSample, clock.audioStart), endSample - clock.audioStart,
                 false, true);
  ProgressFinish(&progress);

  std::string writeError;
  if (!FrameWriterFinish(&writer, &writeError)) {
    ok = false;
    if (error.empty()) error = writeError;
  }
  if (wav.file && !WavClose(&wav) && ok) {
    ok = false;
    error = "cannot write " + wavPath;
  }
  const bool timelineClosed = !timeline || std::fclose(timeline) == 0;
  const bool frameLogClosed = !frameLog || std::fclose(frameLog) == 0;
  if ((!timelineClosed || !frameLogClosed) && ok) {
    ok = false;
    error = "cannot write " + o.timelinePath + " or " + o.frameLogPath;
  }
  const Clock::time_point encodeStart = Clock::now();
  if (video) {
    if (!VideoOutputClose(&pipe, &writeError) && ok) {
      ok = false;
      error = writeError;
    }
  }
  const double finishSeconds = Seconds(encodeStart, Clock::now());
  if (ok && written == 0) {
    // A range that starts after the demo's end: nothing was captured, and
    // saying so is better than an empty folder and a success.
    ok = false;
    error = "no frame was captured: the demo ended at " + FormatSampleTime(endSample) + ", before the range began";
  }
  if (ok && written > 0 && withSheet && !WriteRgbPng(o.contactSheetPath, ContactSheetCompose(sheet), &error)) ok = false;
  StopDemo(gl, &decoder);

  if (!ok) {
    if (video) std::remove(o.videoPath.c_str());  // no half-written video left behind
    Fail(error);
    return CaptureExitFailed;
  }
  const double total = Seconds(started, Clock::now());
  const double music = static_cast<double>(endSample - clock.audioStart) / CaptureSampleRate;
  std::fprintf(stderr, "zephyra-capture: %lld frames%s (%s of music) in %.2f s, %.1f frames/s, %.2fx real time\n",
               static_cast<long long>(written), discard ? " rendered and discarded" : "", FormatSampleTime(endSample - clock.audioStart).c_str(), total,
               total > 0 ? static_cast<double>(written) / total : 0.0, total > 0 ? music / total : 0.0);
  if (o.timing) {
    std::fprintf(stderr,
                 "zephyra-capture: time: render %.2f s, readback %.2f s, music+ticks %.2f s, waiting for writer "
                 "%.2f s; writers busy %.2f s (CPU %.2f s), summed over threads (%s); final %s %.2f s\n",
                 spent.render, spent.readback, spent.music, spent.wait, writer.busySeconds, writer.cpuSeconds,
                 discard ? "discard" : video ? "video encode+mux" : "PNG encode+write", video ? "video finishing" : "close",
                 finishSeconds);
    if (!discard && !video)
      std::fprintf(stderr, "zephyra-capture: %lld of %lld frames repeated the frame before and were not encoded again\n",
                   static_cast<long long>(repeatedFrames.load()), static_cast<long long>(written));
    if (video)
      std::fprintf(stderr, "zephyra-capture: %lld of %lld frames repeated the frame before and were coded as repeats\n",
                   static_cast<long long>(pipe.repeatedFrames), static_cast<long long>(written));
    // CPU over wall time: how many of the cores the run kept busy.
    const double cpu = CpuSeconds(RUSAGE_SELF);
    std::fprintf(stderr, "zephyra-capture: cpu: tool %.2f s, %.2f cores busy on average\n", cpu,
                 total > 0 ? cpu / total : 0.0);
  }
  return CaptureExitOk;
}

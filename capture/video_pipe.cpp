// Video output through an ffmpeg child process.
#include "capture/video_pipe.h"

#include <fcntl.h>
#include <libyuv/convert.h>
#include <x264.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "capture/frame_writer.h"
#include "capture/freed_memory.h"
#include "capture/h264_repeats.h"

extern char** environ;

// The audio side of the pipe: PCM queued by the renderer's thread, written
// into ffmpeg's fd 3 by a thread of its own, which alone may block on it.
struct AudioFeed {
  int fd = -1;  // write end of the child's fd 3
  std::mutex lock;
  std::condition_variable changed;
  std::vector<uint8_t> queued;  // bytes not yet written
  bool ending = false;          // no more audio comes; write the rest and stop
  bool failed = false;          // a write failed (the child ended early)
  std::thread writer;
  // Lets the thread write what is queued and stop, then closes the pipe.
  // True when every write succeeded. Also run when a pipe is dropped
  // without VideoPipeClose.
  bool Finish() {
    if (writer.joinable()) {
      {
        std::lock_guard<std::mutex> guard(lock);
        ending = true;
        changed.notify_one();
      }
      writer.join();
    }
    if (fd >= 0) close(fd);
    fd = -1;
    return !failed;
  }
  ~AudioFeed() { Finish(); }
};

// The H.264 encoder, the two pictures it is fed from in turn (so that a
// frame can be compared with the one before without a copy), and the
// repeats written between its pictures.
struct VideoEncoder {
  x264_t* x264 = nullptr;
  int64_t frames = 0;        // frames given, repeats included
  int64_t lastKeyframe = 0;  // the frame the last keyframe was asked for at
  std::vector<uint8_t> yuv[2];
  int current = 0;  // which of yuv holds the last frame given
  H264Repeats repeats;
  // For each picture x264 still holds, oldest first: the repeats that
  // follow it, written once x264 gives the picture out.
  std::deque<int64_t> held;
  std::vector<uint8_t> stream;  // what goes into the pipe next
  ~VideoEncoder() {
    if (x264) x264_encoder_close(x264);
  }
};

namespace {

// x264: the ultrafast preset's analysis (no B-frames, no sub-pixel or
// partition search, one reference) with the loop filter at its default
// strength and adaptive quantisation put back (no blocky fades in the dark
// scenes), at the CRF below. Entropy coding stays CAVLC: with no
// rate-distortion decisions at this preset CABAC changes no pixel, and for
// the whole demo it cost 2.4-3.8 s more CPU (9.2-9.3 against 5.5-6.8 s at
// 640 x 480) for files 11 % smaller. (The repeats written here are CAVLC
// slices, and they rely on there being no B-frames.)
constexpr const char* VideoPreset = "ultrafast";
// A frame equal to the one before (six in ten at 60 fps: the animation
// ticks slower than that) never reaches x264: a picture that skips every
// macroblock is written in its place (see h264_repeats.h). x264 then sees
// only the frames that changed, so its rate control no longer averages in
// the near-empty repeats, and at the same CRF it spent about a fifth fewer
// bits on the frames that change than when it coded the repeats itself
// (22.1 against 27.4 MB for the whole demo, mean luma PSNR 47.2 against
// 48.8 dB); CRF 18 gives back that quality (49.2 dB, 27.9 MB).
constexpr float VideoCrf = 18.0f;
// A keyframe at least this often, repeats or not (x264's own default
// distance, 4.2 s at 60 fps), so that a player can seek. x264 cannot count
// the repeats it never sees, so the distance is kept here.
constexpr int64_t KeyframeInterval = 250;
// Each pipe holds 1 MiB (the usual 64 KiB needs seven wake-ups of both sides
// for one 640 x 480 frame); Linux's default ceiling for unprivileged users.
constexpr int PipeBytes = 1 << 20;

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

// Pointers to `head`'s strings and then `list`'s, ending in a null: the
// form posix_spawn takes for arguments and environment. Valid while the
// strings live.
std::vector<char*> NullTerminated(const std::vector<std::string>& list, std::vector<char*> head = {}) {
  for (const std::string& s : list) head.push_back(const_cast<char*>(s.c_str()));
  head.push_back(nullptr);
  return head;
}

std::vector<char*> ArgVector(const std::string& program, const std::vector<std::string>& args) {
  return NullTerminated(args, {const_cast<char*>(program.c_str())});
}

bool WriteAll(int fd, const uint8_t* at, size_t bytes) {
  while (bytes > 0) {
    const ssize_t n = write(fd, at, bytes);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    at += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

void AudioWriterLoop(AudioFeed* a) {
  std::vector<uint8_t> chunk;
  std::unique_lock<std::mutex> guard(a->lock);
  for (;;) {
    a->changed.wait(guard, [a] { return !a->queued.empty() || a->ending; });
    if (a->queued.empty()) return;  // ending, and all written
    chunk.swap(a->queued);
    guard.unlock();
    const bool ok = WriteAll(a->fd, chunk.data(), chunk.size());
    chunk.clear();
    guard.lock();
    if (!ok) {
      a->failed = true;
      a->queued.clear();
      return;
    }
  }
}

// A close-on-exec pipe whose read end is numbered above 3, so that moving it
// to the child's fd 0 or 3 cannot overwrite the other one.
bool MakeChildPipe(int fds[2]) {
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  fcntl(fds[1], F_SETPIPE_SZ, PipeBytes);  // a smaller pipe still works
  if (fds[0] > 3) return true;
  const int moved = fcntl(fds[0], F_DUPFD_CLOEXEC, 4);
  close(fds[0]);
  fds[0] = moved;
  if (moved >= 0) return true;
  close(fds[1]);
  return false;
}

// ffmpeg's environment: ours, with glibc's allocator told to keep the
// memory it frees (see freed_memory.h) ahead of any tunables of the user's.
std::vector<std::string> FfmpegEnvironment() {
  constexpr std::string_view Name = "GLIBC_TUNABLES=";
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    if (std::string_view(*e).substr(0, Name.size()) != Name) env.emplace_back(*e);
  }
  env.push_back(std::string(Name) + KeepFreedMemoryTunables(std::getenv("GLIBC_TUNABLES")));
  return env;
}

int WaitForChild(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// x264's threads for frames of this size: one up to 1280 x 720, where one
// thread keeps up with the renderer in the time it leaves and a second only
// gets in its way; two above, where encoding a frame costs about as much CPU
// as rendering it (15 ms a frame at 1920 x 1080 against the renderer's
// 13.7 ms).
int EncoderThreads(int32_t width, int32_t height) {
  return static_cast<int64_t>(width) * height > 1280 * 720 ? 2 : 1;
}

// x264 for pictures of `width` x `height` (even) at `fps`, writing Annex B
// with the parameter sets before every keyframe, so that ffmpeg reads the
// stream as it comes and copies it into the container unchanged.
bool OpenEncoder(VideoEncoder* e, int32_t width, int32_t height, Rational fps, std::string* error) {
  x264_param_t p;
  if (x264_param_default_preset(&p, VideoPreset, nullptr) < 0) {
    *error = "x264 does not know the preset " + std::string(VideoPreset);
    return false;
  }
  p.i_log_level = X264_LOG_ERROR;
  p.i_threads = EncoderThreads(width, height);
  p.i_width = width;
  p.i_height = height;
  p.i_csp = X264_CSP_I420;
  p.i_fps_num = static_cast<uint32_t>(fps.num);
  p.i_fps_den = static_cast<uint32_t>(fps.den);
  p.b_vfr_input = 0;  // constant frame rate: one picture every 1/fps s
  p.b_annexb = 1;
  p.b_repeat_headers = 1;
  p.i_keyint_max = X264_KEYINT_MAX_INFINITE;  // keyframes are asked for at KeyframeInterval
  p.b_cabac = 0;
  p.b_deblocking_filter = 1;
  p.i_deblocking_filter_alphac0 = 0;
  p.i_deblocking_filter_beta = 0;
  p.rc.i_aq_mode = X264_AQ_VARIANCE;
  p.rc.f_aq_strength = 1.0f;
  p.rc.i_rc_method = X264_RC_CRF;
  p.rc.f_rf_constant = VideoCrf;
  // Tagged with the matrix and range the conversion uses (BT.601, limited),
  // so that players do not guess BT.709 for HD.
  p.vui.i_colmatrix = 6;  // SMPTE 170M
  p.vui.b_fullrange = 0;
  e->x264 = x264_encoder_open(&p);
  if (!e->x264) {
    *error = "x264 cannot encode " + std::to_string(width) + "x" + std::to_string(height) + " pictures";
    return false;
  }
  x264_encoder_parameters(e->x264, &p);
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  // Black in limited range: Y 16, U and V 128. The padding keeps it; the
  // picture overwrites the rest every frame.
  for (std::vector<uint8_t>& yuv : e->yuv) {
    yuv.assign(lumaBytes + lumaBytes / 2, 128);
    std::memset(yuv.data(), 16, lumaBytes);
  }
  return true;
}

// Encodes one picture (null: takes out one that x264 still holds) and
// writes what comes out, followed by the repeats of each picture it gave
// out. False with a reason in pipe->error when x264, the stream or the pipe
// failed.
bool EncodeAndWrite(VideoPipe* pipe, x264_picture_t* picture) {
  VideoEncoder* e = pipe->encoder.get();
  x264_nal_t* nals = nullptr;
  int count = 0;
  x264_picture_t out;
  x264_picture_init(&out);
  if (picture) e->held.push_back(0);
  const int bytes = x264_encoder_encode(e->x264, &nals, &count, picture, &out);
  if (bytes < 0) {
    pipe->error = "x264 failed to encode a frame";
    return false;
  }
  if (bytes == 0) return true;
  // Without B-frames x264 gives pictures out in the order they went in.
  if (e->held.empty()) {
    pipe->error = "x264 gave out more pictures than it was given";
    return false;
  }
  e->stream.clear();
  // x264 keeps the NAL units of one call next to each other in memory.
  if (!H264CopyCoded(&e->repeats, nals[0].p_payload, static_cast<size_t>(bytes), &e->stream, &pipe->error))
    return false;
  for (int64_t n = e->held.front(); n > 0; --n) {
    if (!H264AppendRepeat(&e->repeats, &e->stream)) {
      pipe->error = "x264's stream gave no parameter sets to repeat a picture with";
      return false;
    }
  }
  e->held.pop_front();
  if (WriteAll(pipe->input, e->stream.data(), e->stream.size())) return true;
  pipe->error = "ffmpeg stopped taking frames";
  return false;
}

}  // namespace

std::string FindFfmpeg(const std::string& requested) {
  if (!requested.empty()) {
    if (requested.find('/') != std::string::npos) return IsExecutableFile(requested) ? requested : std::string();
  }
  const std::string name = requested.empty() ? "ffmpeg" : requested;
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= dirs.size()) {
    size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    std::string dir = dirs.substr(start, end - start);
    if (dir.empty()) dir = ".";
    const std::string candidate = dir + "/" + name;
    if (IsExecutableFile(candidate)) return candidate;
    start = end + 1;
  }
  return std::string();
}

int RunProgram(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv = ArgVector(program, args);
  pid_t child;
  if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0) return -1;
  return WaitForChild(child);
}

bool VideoPipeOpen(VideoPipe* pipe, const std::string& ffmpeg, const std::string& outPath, int32_t width,
                   int32_t height, Rational fps, uint32_t sampleRate, int niceness, std::string* error) {
  *pipe = VideoPipe{};
  pipe->width = width;
  pipe->height = height;
  pipe->paddedWidth = width + (width & 1);
  pipe->paddedHeight = height + (height & 1);
  pipe->encoder = std::make_shared<VideoEncoder>();
  if (!OpenEncoder(pipe->encoder.get(), pipe->paddedWidth, pipe->paddedHeight, fps, error)) {
    pipe->encoder.reset();
    return false;
  }
  // The frames are encoded here (x264, settings above, on one thread up to
  // 720p: on two cores the renderer keeps more than one busy, and one
  // encoder thread keeps up in the time it leaves); ffmpeg takes the H.264
  // stream as it is and puts it in the container. Nothing but the coded
  // stream, a few megabytes, crosses the pipe, instead of 1.5 bytes a pixel
  // of every frame, and repeated frames can be coded as repeats. The colour
  // conversion is libyuv's (about 0.06 ms a frame).
  // The audio is AAC at 192 kbit/s, encoded by ffmpeg as the frames
  // arrive: no second pass over the file at the end. ffmpeg's "fast" AAC
  // coder takes half the CPU of its default (about 1.3 s against 2.5 s for
  // the whole demo) for the same signal-to-noise ratio (28.9 against
  // 29.2 dB on 15 s of the music). Once running, ffmpeg (two inputs) reads
  // each on a thread of its own without blocking on either, so a full audio
  // pipe cannot hold up the pictures.
  std::vector<std::string> args = {
      "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
      // One picture every 1/fps s from the first: the raw stream carries no
      // times, and ffmpeg's own guess for it drifts by a tick now and then.
      "-r", std::to_string(fps.num) + "/" + std::to_string(fps.den), "-f", "h264", "-i", "pipe:0"};
  if (sampleRate > 0) {
    // ffmpeg opens its inputs one after the other, on one thread, before
    // it starts a reader per input; left to probe the audio, it would wait
    // for megabytes of it while the pictures' pipe is full and the renderer
    // waits for it: a deadlock. The format is given, so it needs no probe.
    const std::vector<std::string> audio = {"-probesize", "32", "-analyzeduration", "0",
                                            "-f", "s16le", "-ar", std::to_string(sampleRate), "-ac", "2",
                                            "-i", "pipe:3", "-map", "0:v:0", "-map", "1:a:0",
                                            "-c:a", "aac", "-b:a", "192k", "-aac_coder", "fast"};
    args.insert(args.end(), audio.begin(), audio.end());
  }
  const std::vector<std::string> videoOut = {"-c:v", "copy", "-movflags", "+faststart", outPath};
  args.insert(args.end(), videoOut.begin(), videoOut.end());

  int frames[2] = {-1, -1}, audio[2] = {-1, -1};
  if (!MakeChildPipe(frames) || (sampleRate > 0 && !MakeChildPipe(audio))) {
    *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    if (frames[0] >= 0) {
      close(frames[0]);
      close(frames[1]);
    }
    return false;
  }
  // The child gets the read ends as fd 0 and 3 (dup2 clears close-on-exec);
  // every other end of both pipes closes at exec, so that ffmpeg sees the
  // end of each stream when this side closes it.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, frames[0], 0);
  if (sampleRate > 0) posix_spawn_file_actions_adddup2(&actions, audio[0], 3);
  std::vector<char*> argv = ArgVector(ffmpeg, args);
  const std::vector<std::string> env = FfmpegEnvironment();
  std::vector<char*> envp = NullTerminated(env);
  pid_t child = -1;
  int rc = 0;
  // Spawned from a thread of its own whose priority is lowered first: the
  // child inherits that thread's nice value, and this one keeps its own.
  std::thread spawner([&] {
    LowerThreadPriority(niceness);
    rc = posix_spawn(&child, ffmpeg.c_str(), &actions, nullptr, argv.data(), envp.data());
  });
  spawner.join();
  posix_spawn_file_actions_destroy(&actions);
  close(frames[0]);
  if (sampleRate > 0) close(audio[0]);
  if (rc != 0) {
    close(frames[1]);
    if (sampleRate > 0) close(audio[1]);
    *error = "cannot start " + ffmpeg + ": " + std::strerror(rc);
    return false;
  }
  // A child that ends early must turn writes into errors, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  pipe->child = child;
  pipe->input = frames[1];
  if (sampleRate > 0) {
    pipe->audio = std::make_shared<AudioFeed>();
    pipe->audio->fd = audio[1];
    pipe->audio->writer = std::thread(AudioWriterLoop, pipe->audio.get());
  }
  return true;
}

bool VideoPipeWriteFrame(VideoPipe* pipe, const uint8_t* rgba) {
  VideoEncoder* e = pipe->encoder.get();
  if (pipe->input < 0 || pipe->failed || !e) return false;
  const int32_t w = pipe->width, h = pipe->height, pw = pipe->paddedWidth;
  const int next = 1 - e->current;
  uint8_t* y = e->yuv[next].data();
  uint8_t* u = y + static_cast<size_t>(pw) * pipe->paddedHeight;
  uint8_t* v = u + static_cast<size_t>(pw / 2) * (pipe->paddedHeight / 2);
  // Bytes R, G, B, A are libyuv's "ABGR" (it names 32-bit words, low byte
  // last). Starting at the last row with a negative stride flips the picture
  // to top row first.
  libyuv::ABGRToI420(rgba + static_cast<size_t>(h - 1) * w * 4, -w * 4, y, pw, u, pw / 2, v, pw / 2, w, h);
  const bool repeat =
      e->frames > 0 && std::memcmp(e->yuv[next].data(), e->yuv[e->current].data(), e->yuv[next].size()) == 0;
  const bool keyframe = e->frames - e->lastKeyframe >= KeyframeInterval;
  ++e->frames;
  if (repeat && !keyframe) {
    ++pipe->repeatedFrames;
    if (!e->held.empty()) {
      ++e->held.back();  // goes out after the picture x264 still holds
      return true;
    }
    e->stream.clear();
    if (!H264AppendRepeat(&e->repeats, &e->stream)) {
      pipe->error = "x264's stream gave no parameter sets to repeat a picture with";
    } else if (WriteAll(pipe->input, e->stream.data(), e->stream.size())) {
      return true;
    } else {
      pipe->error = "ffmpeg stopped taking frames";
    }
    pipe->failed = true;
    return false;
  }
  x264_picture_t picture;
  x264_picture_init(&picture);
  picture.img.i_csp = X264_CSP_I420;
  picture.img.i_plane = 3;
  picture.img.plane[0] = y;
  picture.img.plane[1] = u;
  picture.img.plane[2] = v;
  picture.img.i_stride[0] = pw;
  picture.img.i_stride[1] = picture.img.i_stride[2] = pw / 2;
  picture.i_pts = e->frames - 1;
  if (keyframe) {
    picture.i_type = X264_TYPE_IDR;
    e->lastKeyframe = e->frames - 1;
  }
  e->current = next;
  // x264 copies the picture in, so the buffer may be overwritten two frames on.
  if (EncodeAndWrite(pipe, &picture)) return true;
  pipe->failed = true;
  return false;
}

bool VideoPipeWriteAudio(VideoPipe* pipe, const void* frames, uint32_t count) {
  AudioFeed* a = pipe->audio.get();
  if (!a) return false;
  const auto* bytes = static_cast<const uint8_t*>(frames);
  std::lock_guard<std::mutex> guard(a->lock);
  if (a->failed || a->ending) return false;
  a->queued.insert(a->queued.end(), bytes, bytes + static_cast<size_t>(count) * 4);
  a->changed.notify_one();
  return true;
}

bool VideoPipeClose(VideoPipe* pipe, std::string* error) {
  if (pipe->child < 0) return false;
  // The frames x264 still holds go out first. Pictures end first; ffmpeg
  // reads both inputs at once, so the audio still queued can drain while
  // it takes the last frames.
  if (pipe->encoder && !pipe->failed && pipe->input >= 0) {
    while (x264_encoder_delayed_frames(pipe->encoder->x264) > 0) {
      if (!EncodeAndWrite(pipe, nullptr)) {
        pipe->failed = true;
        break;
      }
    }
  }
  pipe->encoder.reset();
  if (pipe->input >= 0) close(pipe->input);
  pipe->input = -1;
  const bool audioFailed = pipe->audio && !pipe->audio->Finish();
  const int status = WaitForChild(pipe->child);
  pipe->child = -1;
  if (status != 0 || pipe->failed || audioFailed) {
    *error = "ffmpeg failed to encode the video (exit status " + std::to_string(status) + ")";
    if (!pipe->error.empty()) *error += ": " + pipe->error;
    return false;
  }
  return true;
}

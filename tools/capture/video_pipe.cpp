// Video output through an ffmpeg child process.
#include "tools/capture/video_pipe.h"

#include <libyuv/convert.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tools/capture/frame_writer.h"

extern char** environ;

namespace {

constexpr const char* VideoPreset = "superfast";

// x264 threads: one up to about 1280 x 720, where one thread encodes faster
// than the renderer draws; two above, where a single encoder thread became
// the bottleneck (1920 x 1080: 15 ms of CPU a frame against the renderer's
// 13.7 ms) and the renderer sat waiting for buffers.
int EncoderThreads(int32_t width, int32_t height) {
  return static_cast<int64_t>(width) * height > 1280 * 720 ? 2 : 1;
}

bool IsExecutableFile(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::vector<char*> ArgVector(const std::string& program, const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  return argv;
}

int WaitForChild(pid_t child) {
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
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

bool VideoPipeOpen(VideoPipe* pipe, const std::string& ffmpeg, const std::string& videoOnlyPath, int32_t width,
                   int32_t height, Rational fps, int niceness, std::string* error) {
  *pipe = VideoPipe{};
  pipe->width = width;
  pipe->height = height;
  pipe->paddedWidth = width + (width & 1);
  pipe->paddedHeight = height + (height & 1);
  const size_t lumaBytes = static_cast<size_t>(pipe->paddedWidth) * pipe->paddedHeight;
  // Black in limited range: Y 16, U and V 128. The padding keeps it; the
  // picture overwrites the rest every frame.
  pipe->yuv.assign(lumaBytes + lumaBytes / 2, 128);
  std::memset(pipe->yuv.data(), 16, lumaBytes);
  // x264 at CRF 18 with the superfast preset, on one thread up to 720p: on
  // two cores the renderer keeps more than one busy, and one encoder thread
  // (about 2.7 ms of CPU a 640x480 frame) keeps up without taking the
  // renderer's core. (ultrafast cost more CPU here, not less: 15.7 s against
  // 12.1 s for the whole demo at 640x480, for files 1.8x larger.) Against veryfast, the files are about 1.7x larger
  // and 1.8 dB closer to the source (47.4 dB PSNR at 640x480), for about 30 %
  // less encoder CPU. The colour conversion is done here (libyuv, about
  // 0.06 ms a frame) rather than by ffmpeg's scaler (about 0.8 ms), and the
  // pipe carries 1.5 bytes a pixel instead of 4. The stream is tagged with
  // the matrix and range used, so that players do not guess BT.709 for HD.
  const std::vector<std::string> args = {
      "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
      "-f", "rawvideo", "-pix_fmt", "yuv420p",
      "-s", std::to_string(pipe->paddedWidth) + "x" + std::to_string(pipe->paddedHeight),
      "-framerate", std::to_string(fps.num) + "/" + std::to_string(fps.den),
      "-i", "pipe:0",
      "-c:v", "libx264", "-preset", VideoPreset, "-crf", "18", "-threads", std::to_string(EncoderThreads(width, height)),
      "-colorspace", "smpte170m", "-color_range", "tv",
      "-f", "matroska", videoOnlyPath};
  int fds[2];
  if (::pipe(fds) != 0) {
    *error = std::string("cannot create a pipe: ") + std::strerror(errno);
    return false;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, fds[0], 0);
  posix_spawn_file_actions_addclose(&actions, fds[0]);
  posix_spawn_file_actions_addclose(&actions, fds[1]);
  std::vector<char*> argv = ArgVector(ffmpeg, args);
  pid_t child = -1;
  int rc = 0;
  // Spawned from a thread of its own whose priority is lowered first: the
  // child inherits that thread's nice value, and this one keeps its own.
  std::thread spawner([&] {
    LowerThreadPriority(niceness);
    rc = posix_spawn(&child, ffmpeg.c_str(), &actions, nullptr, argv.data(), environ);
  });
  spawner.join();
  posix_spawn_file_actions_destroy(&actions);
  close(fds[0]);
  if (rc != 0) {
    close(fds[1]);
    *error = "cannot start " + ffmpeg + ": " + std::strerror(rc);
    return false;
  }
  // A child that ends early must turn writes into errors, not kill us.
  std::signal(SIGPIPE, SIG_IGN);
  pipe->child = child;
  pipe->input = fds[1];
  return true;
}

bool VideoPipeWriteFrame(VideoPipe* pipe, const uint8_t* rgba) {
  if (pipe->input < 0 || pipe->failed) return false;
  const int32_t w = pipe->width, h = pipe->height, pw = pipe->paddedWidth;
  uint8_t* y = pipe->yuv.data();
  uint8_t* u = y + static_cast<size_t>(pw) * pipe->paddedHeight;
  uint8_t* v = u + static_cast<size_t>(pw / 2) * (pipe->paddedHeight / 2);
  // Bytes R, G, B, A are libyuv's "ABGR" (it names 32-bit words, low byte
  // last). Starting at the last row with a negative stride flips the picture
  // to top row first.
  libyuv::ABGRToI420(rgba + static_cast<size_t>(h - 1) * w * 4, -w * 4, y, pw, u, pw / 2, v, pw / 2, w, h);
  const uint8_t* at = pipe->yuv.data();
  size_t bytes = pipe->yuv.size();
  while (bytes > 0) {
    const ssize_t n = write(pipe->input, at, bytes);
    if (n < 0) {
      if (errno == EINTR) continue;
      pipe->failed = true;
      return false;
    }
    at += n;
    bytes -= static_cast<size_t>(n);
  }
  return true;
}

bool VideoPipeClose(VideoPipe* pipe, std::string* error) {
  if (pipe->child < 0) return false;
  if (pipe->input >= 0) close(pipe->input);
  pipe->input = -1;
  const int status = WaitForChild(pipe->child);
  pipe->child = -1;
  if (status != 0 || pipe->failed) {
    *error = "ffmpeg failed to encode the video (exit status " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

bool MuxVideoAndAudio(const std::string& ffmpeg, const std::string& videoOnlyPath, const std::string& wavPath,
                      const std::string& outPath, std::string* error) {
  const std::vector<std::string> args = {
      "-hide_banner", "-loglevel", "error", "-nostdin", "-y", "-i", videoOnlyPath, "-i", wavPath,
      "-map", "0:v:0", "-map", "1:a:0", "-c:v", "copy", "-c:a", "aac", "-b:a", "192k",
      "-movflags", "+faststart", outPath};
  const int status = RunProgram(ffmpeg, args);
  if (status != 0) {
    *error = "ffmpeg failed to add the audio (exit status " + std::to_string(status) + ")";
    return false;
  }
  return true;
}

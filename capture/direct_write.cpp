// Machine-specific tuning: whole files written with O_DIRECT.
#include "capture/direct_write.h"

#include "capture/fail.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// Gives up on a file: says why, closes `fd` (unless it is -1, already
// closed) and removes what was written. Always false.
bool FailWrite(int fd, const std::string& path, int err, std::string* error) {
  *error = "write failed: " + path + ": " + std::strerror(err);
  if (fd >= 0) ::close(fd);
  std::remove(path.c_str());
  return false;
}

// Writes `size` bytes to a new or emptied file at `path` through `fd`'s
// flags; on failure closes it, removes the file and says why.
bool WriteAll(int fd, const std::string& path, const uint8_t* data, size_t size, std::string* error) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return FailWrite(fd, path, n < 0 ? errno : ENOSPC, error);
    data += n;
    size -= static_cast<size_t>(n);
  }
  return true;
}

// Frames are written with O_DIRECT where the file system takes it: the disk
// reads the bytes from this process's buffer, with no copy into the page
// cache. Buffered, the copy into fresh page-cache pages costs 1.6-1.8 s of
// system time for a whole demo's 970 MB of frames (direct: 0.3 s), and the
// flusher threads then write them back on the same cores; docs/capture.md
// has the measurements. O_DIRECT wants the buffer, length and file offset
// aligned to the device's block, so the bytes are copied into an aligned
// buffer, written padded to a multiple of 4 KiB (no device block is larger on
// the machines this runs on) and the file is then cut to its size. A file
// system that refuses O_DIRECT or that alignment (EINVAL) gets buffered
// writes from then on, on this thread.
constexpr size_t DirectAlign = 4096;

struct AlignedFree {
  void operator()(uint8_t* p) const { std::free(p); }
};

// 1 written, 0 O_DIRECT refused (nothing left behind to clean up but the
// emptied file, which the buffered write then fills), -1 failed (error set).
int WriteDirect(const std::string& path, const uint8_t* data, size_t size, bool again, std::string* error) {
  thread_local std::unique_ptr<uint8_t, AlignedFree> buffer;
  thread_local size_t capacity = 0;
  thread_local bool holdsLast = false;  // the buffer holds the last call's bytes, padded
  bool reuse = again && holdsLast;
  holdsLast = false;
  const size_t padded = (size + DirectAlign - 1) / DirectAlign * DirectAlign;
  if (padded > capacity) {
    reuse = false;
    buffer.reset(static_cast<uint8_t*>(std::aligned_alloc(DirectAlign, padded)));
    capacity = buffer ? padded : 0;
    if (!buffer) return 0;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_DIRECT, 0666);
  if (fd < 0) {
    if (errno == EINVAL) return 0;
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  if (!reuse && padded > 0) {
    std::memcpy(buffer.get(), data, size);
    std::memset(buffer.get() + size, 0, padded - size);
  }
  holdsLast = true;
  ssize_t first = 0;
  if (padded > 0) {
    first = ::write(fd, buffer.get(), padded);
    if (first < 0 && errno == EINVAL) {
      ::close(fd);
      return 0;
    }
    if (first < 0 && errno != EINTR) {
      FailWrite(fd, path, errno, error);
      return -1;
    }
  }
  // What a short write (the disk filling up, a signal) left goes on buffered.
  const size_t done = first > 0 ? static_cast<size_t>(first) : 0;
  if (done < padded) {
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0) {
      FailWrite(fd, path, errno, error);
      return -1;
    }
    if (!WriteAll(fd, path, buffer.get() + done, padded - done, error)) return -1;  // closed and removed
  }
  const bool cut = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  const int cutError = errno;
  if (::close(fd) != 0 || !cut) {
    FailWrite(-1, path, cut ? errno : cutError, error);
    return -1;
  }
  return 1;
}

}  // namespace

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size, bool again, std::string* error) {
  thread_local bool direct = true;
  if (direct) {
    const int written = WriteDirect(path, data, size, again, error);
    if (written != 0) return written > 0;
    direct = false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(error, "cannot create " + path + ": " + std::strerror(errno));
  if (!WriteAll(fd, path, data, size, error)) return false;
  if (::close(fd) != 0) return FailWrite(-1, path, errno, error);
  return true;
}


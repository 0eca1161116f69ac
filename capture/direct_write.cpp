// Machine-specific tuning: whole files written with O_DIRECT.
#include "capture/direct_write.h"

#include "capture/fail.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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
// aligned to the device's block, so the bytes are written from an aligned
// buffer (the PNG encoder's own), padded to a multiple of 4 KiB (no device
// block is larger on the machines this runs on), and the file is then cut
// to its size. A file system that refuses O_DIRECT or that alignment
// (EINVAL) gets buffered writes from then on, on this thread.
constexpr size_t DirectAlign = 4096;

// 1 written, 0 O_DIRECT refused (nothing left behind to clean up but the
// emptied file, which the buffered write then fills), -1 failed (error set).
int WriteDirect(const std::string& path, uint8_t* data, size_t size, size_t padded, std::string* error) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_DIRECT, 0666);
  if (fd < 0) {
    if (errno == EINVAL) return 0;
    *error = "cannot create " + path + ": " + std::strerror(errno);
    return -1;
  }
  std::memset(data + size, 0, padded - size);
  // The first write tells whether the file system takes O_DIRECT at all.
  const ssize_t first = padded > 0 ? ::write(fd, data, padded) : 0;
  if (first < 0 && errno == EINVAL) {
    ::close(fd);
    return 0;
  }
  // What a short write (the disk filling up, a signal) left goes on buffered.
  const size_t done = first > 0 ? static_cast<size_t>(first) : 0;
  const int flags = done < padded ? ::fcntl(fd, F_GETFL) : 0;
  if (done < padded && (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_DIRECT) != 0)) {
    FailWrite(fd, path, errno, error);
    return -1;
  }
  if (!WriteAll(fd, path, data + done, padded - done, error)) return -1;  // closed and removed
  const bool cut = ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  const int cutError = errno;
  if (::close(fd) != 0 || !cut) {
    FailWrite(-1, path, cut ? errno : cutError, error);
    return -1;
  }
  return 1;
}

}  // namespace

bool WriteWholeFile(const std::string& path, uint8_t* data, size_t size, size_t room, std::string* error) {
  thread_local bool direct = true;
  const size_t padded = (size + DirectAlign - 1) / DirectAlign * DirectAlign;
  if (direct && reinterpret_cast<uintptr_t>(data) % DirectAlign == 0 && room >= padded) {
    const int written = WriteDirect(path, data, size, padded, error);
    if (written != 0) return written > 0;
    direct = false;
  }
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return Fail(error, "cannot create " + path + ": " + std::strerror(errno));
  if (!WriteAll(fd, path, data, size, error)) return false;
  if (::close(fd) != 0) return FailWrite(-1, path, errno, error);
  return true;
}


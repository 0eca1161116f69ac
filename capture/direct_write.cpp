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

}  // namespace

bool WriteWholeFile(const std::string& path, uint8_t* data, size_t size, size_t room, std::string* error) {
  thread_local bool direct = true;  // until the file system refuses it
  const size_t padded = (size + DirectAlign - 1) / DirectAlign * DirectAlign;
  bool unbuffered = direct && reinterpret_cast<uintptr_t>(data) % DirectAlign == 0 && room >= padded;
  const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  int fd = ::open(path.c_str(), flags | (unbuffered ? O_DIRECT : 0), 0666);
  if (fd < 0 && unbuffered && errno == EINVAL) {
    direct = unbuffered = false;
    fd = ::open(path.c_str(), flags, 0666);
  }
  if (fd < 0) return Fail(error, "cannot create " + path + ": " + std::strerror(errno));
  const size_t length = unbuffered ? padded : size;
  if (length > size) std::memset(data + size, 0, length - size);
  // The first write tells whether the file system takes O_DIRECT writes;
  // what it refused or a short write (the disk filling up, a signal) left
  // goes on buffered.
  const ssize_t first = unbuffered && length > 0 ? ::write(fd, data, length) : 0;
  if (first < 0 && errno == EINVAL) direct = false;
  const size_t done = first > 0 ? static_cast<size_t>(first) : 0;
  const int mode = unbuffered && done < length ? ::fcntl(fd, F_GETFL) : 0;
  if (unbuffered && done < length && (mode < 0 || ::fcntl(fd, F_SETFL, mode & ~O_DIRECT) != 0))
    return FailWrite(fd, path, errno, error);
  if (!WriteAll(fd, path, data + done, length - done, error)) return false;  // closed and removed
  const bool cut = length == size || ::ftruncate(fd, static_cast<off_t>(size)) == 0;
  const int cutError = errno;
  if (::close(fd) != 0 || !cut) return FailWrite(-1, path, cut ? errno : cutError, error);
  return true;
}

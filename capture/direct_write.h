// Machine-specific tuning: the PNG frames' files written with O_DIRECT (why
// and how in direct_write.cpp; docs/capture.md has the measurements).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Writes `size` bytes as the whole file at `path` (created or emptied):
// with O_DIRECT, padded to whole 4 KiB blocks and then cut to size, until
// the file system refuses it on this thread, buffered from then on, and
// buffered when `data` is not 4 KiB-aligned or `room` (its bytes from
// `data` on) does not reach the next whole block; the padding is zeroed.
// False with a reason in *error on any failure, the file then removed.
bool WriteWholeFile(const std::string& path, uint8_t* data, size_t size, size_t room, std::string* error);

// Machine-specific tuning: the PNG frames' files written with O_DIRECT (why
// and how in direct_write.cpp; docs/capture.md has the measurements).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// Writes `size` bytes as the whole file at `path` (created or emptied):
// with O_DIRECT (an aligned copy, padded, then cut to size) until the file
// system refuses it on this thread, buffered from then on. `again`: the
// bytes are the same as the last call's on this thread, whose aligned copy
// is written again as it is. False with a reason in *error on any failure,
// the file then removed.
bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size, bool again, std::string* error);

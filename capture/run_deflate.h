// A fast zlib encoder for filtered PNG rows: runs of one repeated byte become
// deflate matches at distance 1, every other byte a literal, all under one
// dynamic Huffman block fitted to the picture's own byte counts.
//
// Captured frames filtered with Up are mostly small differences and long runs
// of zeros (flat or unchanged areas). A match finder spends most of its time
// looking for repeats that are not there; coding each byte by its own
// frequency and each run as one match gives files about as small as a fast
// match finder's for about half its time.
#pragma once
#include <cstddef>
#include <cstdint>

// The largest stream RunDeflateZlib writes for n input bytes.
size_t RunDeflateBound(size_t n);

// Compresses `n` bytes into a whole zlib stream (header, one final dynamic
// block, Adler-32) at `out`, which holds `room` bytes. Answers the stream's
// size, or 0 when `room` is less than RunDeflateBound(n).
size_t RunDeflateZlib(const uint8_t* in, size_t n, uint8_t* out, size_t room);

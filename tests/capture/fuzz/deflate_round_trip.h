// One input of the run-and-literal deflate coder's fuzzer, shared with the
// test that replays its seed corpus.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>

// The input's first byte picks the frame made from the rest: 0 the bytes as
// they are; 1 runs (byte pairs as value and length, up to 1,024 each), as
// flat areas give; 2 a small picture's rows filtered as the PNG writer
// filters them (Up), its pixels taken from the bytes with every other row
// repeated. The frame is coded with room for the coder's bound and inflated
// by zlib, which must give it back exactly; a stream with one byte less room
// must be declined. Answers "" when all holds, else what failed.
std::string DeflateRoundTrip(const uint8_t* data, size_t size);

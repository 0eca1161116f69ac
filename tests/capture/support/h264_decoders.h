// Decoding H.264 access units (Annex B, one picture each) for the capture's
// tests, with two independent decoders.
#pragma once
#include <string>
#include <vector>

// The pictures of `width` x `height` as raw I420, one after the other, in
// output order; empty when the decoder reported any error.
std::string DecodeLibavcodec(const std::vector<std::string>& units, int width, int height);
std::string DecodeOpenH264(const std::vector<std::string>& units, int width, int height);

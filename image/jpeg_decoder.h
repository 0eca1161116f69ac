// JPEG decoder for the image decoder chain, on libjpeg (interface 62).
#pragma once
#include <cstdint>

// Registers the decoder on the first call only; always returns 1.
int32_t RegisterJpegDecoder();

// Numbered image objects decoded from bytes in memory, and the decoder chain.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

// Decodes `length` bytes at `bytes` into image `number` (-1: a new anonymous
// image). Bitmap file, then icon file, then the registered decoders. Returns
// the image's handle (for -1 the record's address), or 0 when nothing
// recognises the data or a step fails.
uintptr_t DecodeImageFromMemory(intptr_t number, const uint8_t* bytes, size_t length);
uintptr_t MakeBlankImage(intptr_t number, int32_t width, int32_t height);
void ReleaseImage(intptr_t number);
void ReleaseAllImages();
void InitImageRegistry();
void ResetImageDecoders();

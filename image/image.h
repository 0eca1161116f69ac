// Numbered image objects decoded from bytes in memory, and the decoder chain.
//
// An image is a display-compatible bitmap (or an icon) of the pixel store,
// kept in a numbered record. Numbers 0 .. capacity-1 index the registry's
// table; -1 makes an anonymous image identified afterwards by its record's
// address. Main thread only: one CurrentImage, one ImageDC, one decoder
// prepared at a time.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "platform/pixels.h"
#include "platform/types.h"

// Decodes `length` bytes at `bytes` into image `number` (-1: a new anonymous
// image). Bitmap file, then icon file, then the registered decoders. Returns
// the image's handle (for -1 the record's address), or 0 when nothing
// recognises the data or a step fails.
uintptr_t DecodeImageFromMemory(intptr_t number, const uint8_t* bytes, size_t length);
uintptr_t MakeBlankImage(intptr_t number, int32_t width, int32_t height);
void ReleaseImage(intptr_t number);
void ReleaseAllImages();
// Empties the registry (images still held are forgotten, not released) and
// makes a table of 10 records. The table and its growth come from `heap`:
// the shell passes MainHeap, whose destruction frees them. nullptr takes them
// from the C heap instead (programs and tests that make no private heaps);
// the registry frees such a table itself when it grows or is set up again.
void InitImageRegistry(HeapHandle heap);
void ResetImageDecoders();

// One image. handle 0 means the slot is empty.
struct ImageRecord {
  GdiHandle handle;  // the bitmap, or the icon
  int16_t width;     // pixels, as the bitmap reports them
  int16_t height;    // pixels
  int16_t depth;     // bits per pixel of the bitmap
};

// An anonymous image: its record first, so the record's address is the node's.
struct AnonymousImage {
  ImageRecord record;
  AnonymousImage* next;
  HeapHandle heap;  // where the node came from (ObjectListHeap; nullptr: the C heap)
};

struct ImageRegistryRecord {
  ImageRecord* records;       // capacity numbered records
  int32_t capacity;           // starts at 10; grows to number + 10
  AnonymousImage* anonymous;  // list of anonymous images, newest first
  HeapHandle heap;            // where records came from (MainHeap; nullptr: the C heap)
};

// The largest width or height accepted from any data, in pixels; data that
// claims more is declined as absurd (a 16,384-pixel square already takes
// 1 GiB in the pixel store). Tests and the fuzzer may lower it to keep their
// memory small.
extern int32_t ImageSideLimit;
constexpr int32_t DefaultImageSideLimit = 16384;
// The largest image number that may grow the table (numbers above it are
// declined instead of asking for an absurd table).
constexpr intptr_t MaxImageNumber = 1 << 20;

extern ImageRegistryRecord ImageRegistry;
extern ImageRecord* CurrentImage;  // the record most recently made or decoded into
extern GdiDC ImageDC;              // the memory DC the current image is read through

// Bytes per row of a 24-bit buffer of `width` pixels: width * 3 + width mod 4,
// which is the row rounded up to a multiple of 4.
constexpr size_t ImagePitch(int32_t width) {
  return size_t(width) * 3 + size_t(width) % 4;
}

// The record for a number (a table index, or the address of an anonymous
// record); nullptr when the value names no record.
ImageRecord* LookupImage(intptr_t number);

// A decoder of the chain. Check recognises data and prepares to decode it:
// file is an open file or nullptr, bytes/length the data in memory or
// nullptr/0, path the file's name or nullptr. Decode then writes the image as
// rows of blue, green, red bytes, top row first, row r at pixels + r * pitch;
// reserved is 0. Width and Height answer the prepared image's size in pixels.
struct ImageDecoder {
  int32_t (*Check)(FILE* file, const uint8_t* bytes, size_t length, const char* path);
  void (*Decode)(uint8_t* pixels, size_t pitch, int32_t reserved);
  int32_t (*Width)();
  int32_t (*Height)();
};

constexpr int32_t DecoderTableSize = 100;
struct DecoderTableRecord {
  ImageDecoder decoders[DecoderTableSize];
  int32_t count;
};
extern DecoderTableRecord DecoderTable;
extern const ImageDecoder* ActiveDecoder;  // the decoder whose Check accepted last
extern FILE* DecoderFile;                  // the file of a file-based recognition

// Appends to DecoderTable; 0 when it is full, else 1.
int32_t RegisterImageDecoder(const ImageDecoder* decoder);
// Asks each decoder in registration order; 1 when one accepts (it becomes
// ActiveDecoder), else 0.
int32_t FindImageDecoder(const uint8_t* bytes, size_t length);
int32_t FindImageDecoder(const char* path);
// Runs the active decoder's Decode, then closes DecoderFile if one is open.
void RunActiveDecoder(uint8_t* pixels, size_t pitch, int32_t reserved);

// Replaces ImageDC with a new memory DC holding the current image's bitmap;
// nullptr when there is no current image or a step fails.
GdiDC OpenImageDC();
void CloseImageDC();

// JPEG decoder for the image decoder chain, on libjpeg (interface 62).
//
// Recognises data beginning 0xFF 0xD8, decodes it from memory with JDCT_ISLOW
// (greyscale comes out as RGB with red = green = blue) and writes rows of
// blue, green, red bytes. Declines, destroying the decompressor, when libjpeg
// reports an error while reading the header or starting, and declines
// four-component (CMYK, YCCK) images. An error while decoding rows stops
// decoding; rows not yet written are black. Prints nothing. Main thread only.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstdio>

struct ImageDecoder;
// Registers the decoder on the first call of the process only, even when
// ResetImageDecoders has emptied the table since; always returns 1.
int32_t RegisterJpegDecoder();
// The decoder's record, for code that sets up a fresh decoder table again
// (tests): RegisterImageDecoder(&JpegImageDecoder).
extern const ImageDecoder JpegImageDecoder;

// The decoder's operations, in the order of ImageDecoder.
// file: an open file (read whole into a copy) or nullptr; bytes/length: the
// data in memory. 1 when recognised and prepared, else 0.
int32_t JpegCheck(FILE* file, const uint8_t* bytes, size_t length, const char* path);
// Writes the prepared image, row r at pixels + r * pitch (pitch >= width * 3),
// then destroys the decompressor and frees the file copy.
void JpegDecode(uint8_t* pixels, size_t pitch, int32_t reserved);
int32_t JpegWidthQuery();   // pixels
int32_t JpegHeightQuery();  // pixels
// Warnings libjpeg raised (and that were kept quiet) since the last check.
uint32_t JpegWarningCount();

struct jpeg_decompress_struct;
struct jpeg_common_struct;
// libjpeg's error exit: long-jumps to the armed recovery point; prints nothing.
[[noreturn]] void JpegErrorExit(jpeg_common_struct* cinfo);
// Points cinfo's data source at length bytes of memory; past them it hands
// out an end-of-image marker (and warns, quietly).
void JpegMemorySource(jpeg_decompress_struct* cinfo, const uint8_t* data, size_t length);
// Copies the current decoded row into the output buffer as blue, green, red.
void JpegRowWriter();

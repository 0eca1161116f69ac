// JPEG decoder of the image decoder chain, on libjpeg (interface 62).
//
// One decompressor, one memory source and one error manager are reused for
// every image. libjpeg reports errors through JpegErrorExit, which long-jumps
// back to the recovery point armed by JpegCheck or JpegDecode. The frames it
// jumps over are libjpeg's and the C-style callbacks below: none of them
// holds an object with a destructor, and the state that must survive the
// jump lives in file-scope variables, not in locals of the jumping frame.
#include "image/jpeg_decoder.h"

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "image/image.h"

// libjpeg's headers need FILE and size_t declared first.
#include <jerror.h>
#include <jpeglib.h>

static_assert(JPEG_LIB_VERSION == 62, "the decoder is written for libjpeg interface 62");

namespace {

struct JpegErrorManager {
  jpeg_error_mgr pub;
  jmp_buf recovery;  // where JpegErrorExit returns to, with the value 1
};

// The data source over memory. remaining counts the bytes not yet handed to
// libjpeg; once they are gone it hands out the spare end-of-image marker.
struct JpegMemorySourceRecord {
  jpeg_source_mgr pub;
  const JOCTET* data;
  size_t remaining;
  JOCTET spareEnd[2];
};

jpeg_decompress_struct JpegInfo;
JpegErrorManager JpegErrors;
JpegMemorySourceRecord JpegSource;
bool JpegCreated = false;        // JpegInfo holds a decompressor to destroy
JSAMPARRAY JpegSampleRow = nullptr;  // libjpeg's one-row sample buffer
uint8_t* JpegOutputRow = nullptr;    // where the current row goes
int32_t JpegWidth = 0;
int32_t JpegHeight = 0;
uint8_t* JpegFileCopy = nullptr;  // the whole file, for file data
int32_t JpegRowsDone = 0;         // rows written by the current JpegDecode
size_t JpegPitch = 0;
uint8_t* JpegPixels = nullptr;

// Warnings (level -1) are counted and printed only at trace level 3 or
// more; trace messages only when their level does not exceed the trace
// level. The trace level is 0, so nothing is ever printed.
void JpegEmitMessage(j_common_ptr cinfo, int level) {
  jpeg_error_mgr* err = cinfo->err;
  if (level < 0) {
    err->num_warnings++;
    if (err->trace_level >= 3) err->output_message(cinfo);
  } else if (err->trace_level >= level) {
    err->output_message(cinfo);
  }
}

}  // namespace

// Error exit: prints nothing, returns to the recovery point with the value 1.
void JpegErrorExit(j_common_ptr cinfo) {
  auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  std::longjmp(errors->recovery, 1);
}

namespace {

void JpegSourceInit(j_decompress_ptr) {}

boolean JpegSourceFill(j_decompress_ptr cinfo) {
  auto* src = reinterpret_cast<JpegMemorySourceRecord*>(cinfo->src);
  if (src->remaining > 0) {
    src->pub.next_input_byte = src->data;
    src->pub.bytes_in_buffer = src->remaining;
    src->remaining = 0;
  } else {
    // Past the end: warn (silently, see JpegEmitMessage) and end the image.
    WARNMS(cinfo, JWRN_JPEG_EOF);
    src->spareEnd[0] = 0xFF;
    src->spareEnd[1] = JPEG_EOI;
    src->pub.next_input_byte = src->spareEnd;
    src->pub.bytes_in_buffer = 2;
  }
  return TRUE;  // never suspends
}

void JpegSourceSkip(j_decompress_ptr cinfo, long count) {
  auto* src = reinterpret_cast<JpegMemorySourceRecord*>(cinfo->src);
  if (count <= 0) return;
  while (count > long(src->pub.bytes_in_buffer)) {
    count -= long(src->pub.bytes_in_buffer);
    JpegSourceFill(cinfo);
  }
  src->pub.next_input_byte += count;
  src->pub.bytes_in_buffer -= size_t(count);
}

void JpegSourceTerm(j_decompress_ptr) {}

}  // namespace

void JpegMemorySource(j_decompress_ptr cinfo, const uint8_t* data, size_t length) {
  JpegSource.pub.init_source = JpegSourceInit;
  JpegSource.pub.fill_input_buffer = JpegSourceFill;
  JpegSource.pub.skip_input_data = JpegSourceSkip;
  JpegSource.pub.resync_to_restart = jpeg_resync_to_restart;
  JpegSource.pub.term_source = JpegSourceTerm;
  JpegSource.pub.next_input_byte = nullptr;
  JpegSource.pub.bytes_in_buffer = 0;  // nothing handed out yet
  JpegSource.data = data;
  JpegSource.remaining = length;
  cinfo->src = &JpegSource.pub;
}

namespace {

void JpegDestroy() {
  if (JpegCreated) jpeg_destroy_decompress(&JpegInfo);
  JpegCreated = false;
  JpegSampleRow = nullptr;
  std::free(JpegFileCopy);
  JpegFileCopy = nullptr;
}

}  // namespace

// Copies one row from the sample buffer to JpegOutputRow, red-green-blue
// triplets turned into blue, green, red.
void JpegRowWriter() {
  const JSAMPLE* in = JpegSampleRow[0];
  uint8_t* out = JpegOutputRow;
  for (int32_t x = 0; x < JpegWidth; ++x, in += 3, out += 3) {
    out[0] = in[2];
    out[1] = in[1];
    out[2] = in[0];
  }
}

namespace {

// The part of JpegCheck that runs libjpeg: 1 when the header is read and
// decompression has started. Errors come back here and decline.
int32_t JpegPrepare(const uint8_t* data, size_t length) {
  jpeg_std_error(&JpegErrors.pub);
  JpegErrors.pub.error_exit = JpegErrorExit;
  JpegErrors.pub.emit_message = JpegEmitMessage;
  JpegErrors.pub.trace_level = 0;
  JpegErrors.pub.addon_message_table = nullptr;
  JpegErrors.pub.first_addon_message = 1000;
  JpegErrors.pub.last_addon_message = 1018;
  JpegInfo.err = &JpegErrors.pub;
  if (setjmp(JpegErrors.recovery)) {
    JpegDestroy();
    return 0;
  }
  jpeg_CreateDecompress(&JpegInfo, 62, sizeof(JpegInfo));
  JpegCreated = true;
  JpegMemorySource(&JpegInfo, data, length);
  if (jpeg_read_header(&JpegInfo, TRUE) != JPEG_HEADER_OK) {
    JpegDestroy();
    return 0;
  }
  // Four components (CMYK, YCCK) are not three samples per pixel: declined.
  // So are sizes the image registry would decline anyway, before libjpeg
  // sets aside memory for them.
  if (JpegInfo.num_components != 1 && JpegInfo.num_components != 3) {
    JpegDestroy();
    return 0;
  }
  if (JpegInfo.image_width < 1 || JpegInfo.image_height < 1 ||
      JpegInfo.image_width > uint32_t(ImageSideLimit) || JpegInfo.image_height > uint32_t(ImageSideLimit)) {
    JpegDestroy();
    return 0;
  }
  JpegInfo.dct_method = JDCT_ISLOW;
  if (JpegInfo.jpeg_color_space == JCS_GRAYSCALE) JpegInfo.out_color_space = JCS_RGB;
  jpeg_start_decompress(&JpegInfo);
  if (JpegInfo.output_components != 3) {
    JpegDestroy();
    return 0;
  }
  JpegSampleRow = (*JpegInfo.mem->alloc_sarray)(reinterpret_cast<j_common_ptr>(&JpegInfo), JPOOL_IMAGE,
                                                JpegInfo.output_width * 3, 1);
  JpegWidth = int32_t(JpegInfo.output_width);
  JpegHeight = int32_t(JpegInfo.output_height);
  return 1;
}

}  // namespace

int32_t JpegCheck(FILE* file, const uint8_t* bytes, size_t length, const char*) {
  // A decompressor left prepared by a check whose image was never decoded
  // is destroyed before the object is set up again.
  JpegDestroy();
  const uint8_t* data = bytes;
  if (file) {
    if (std::fseek(file, 0, SEEK_END) != 0) return 0;
    const long size = std::ftell(file);
    std::rewind(file);
    if (size < 2) return 0;
    length = size_t(size);
    JpegFileCopy = static_cast<uint8_t*>(std::malloc(length));
    if (!JpegFileCopy) return 0;
    if (std::fread(JpegFileCopy, 1, 2, file) != 2) {
      JpegDestroy();
      return 0;
    }
    data = JpegFileCopy;
  }
  if (!data || length < 2 || data[0] != 0xFF || data[1] != 0xD8) {
    JpegDestroy();
    return 0;
  }
  if (file && std::fread(JpegFileCopy + 2, 1, length - 2, file) != length - 2) {
    JpegDestroy();
    return 0;
  }
  return JpegPrepare(data, length);
}

namespace {

// Rows that an error left undecoded are black.
void JpegClearRows(int32_t from) {
  for (int32_t r = from; r < JpegHeight; ++r) std::memset(JpegPixels + size_t(r) * JpegPitch, 0, size_t(JpegWidth) * 3);
}

}  // namespace

void JpegDecode(uint8_t* pixels, size_t pitch, int32_t) {
  if (!JpegCreated) return;
  JpegPixels = pixels;
  JpegPitch = pitch;
  JpegRowsDone = 0;
  if (setjmp(JpegErrors.recovery) == 0) {
    for (; JpegRowsDone < JpegHeight; ++JpegRowsDone) {
      JpegOutputRow = JpegPixels + size_t(JpegRowsDone) * JpegPitch;
      if (jpeg_read_scanlines(&JpegInfo, JpegSampleRow, 1) != 1) {
        std::memset(JpegOutputRow, 0, size_t(JpegWidth) * 3);
        continue;
      }
      JpegRowWriter();
    }
    jpeg_finish_decompress(&JpegInfo);
  } else {
    JpegClearRows(JpegRowsDone);
  }
  JpegDestroy();
}

int32_t JpegWidthQuery() { return JpegWidth; }
int32_t JpegHeightQuery() { return JpegHeight; }

const ImageDecoder JpegImageDecoder{JpegCheck, JpegDecode, JpegWidthQuery, JpegHeightQuery};

int32_t RegisterJpegDecoder() {
  // Registered once per process: the flag stays set whatever happens to the
  // decoder table afterwards (ResetImageDecoders empties it).
  static bool registered = false;
  if (registered) return 1;
  registered = true;
  RegisterImageDecoder(&JpegImageDecoder);
  return 1;
}

uint32_t JpegWarningCount() { return uint32_t(JpegErrors.pub.num_warnings); }

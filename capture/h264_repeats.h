// Repeated pictures in an H.264 stream without the encoder: an access unit
// whose one P slice skips every macroblock, spliced between the encoder's
// own pictures, whose frame numbers are rewritten to count it.
//
// At 60 frames a second most captured frames equal the one before (the
// animation moves 25 times a second). Handing each of those to x264 costs
// about 0.45 ms (the lowres copy, the adaptive quantiser's pass, the analysis
// of every macroblock); a skipped P slice costs a few bytes and no pixel
// work, and decodes to exactly the picture before: with every neighbour
// skipped, each macroblock's predicted motion is zero.
//
// A repeat must be a reference picture (with the frame-number-derived
// picture order of a stream without B-frames, two non-reference frames may
// not follow each other), so frame_num counts it, and the encoder's slices
// after it get their frame_num rewritten to follow on. The field has a fixed
// width, so only its bits change; the emulation-prevention bytes are redone.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct H264Repeats {
  // From the stream's parameter sets; `ready` once both were read (a set
  // this cannot extend fails the copy instead).
  bool ready = false;
  int spsId = -1;
  int ppsId = -1;
  int log2MaxFrameNum = 0;
  uint32_t macroblocks = 0;           // per picture
  bool deblockingControl = false;     // slices say whether the loop filter runs
  bool redundantPicCount = false;     // slices carry redundant_pic_cnt
  // frame_num of the last reference picture written (0 after an IDR).
  uint32_t prevRefFrameNum = 0;
  uint32_t pictureFrameNum = 0;  // of the picture whose slices are being written
};

// One NAL unit as the encoder gives it out: its bytes after the start code.
struct H264Nal {
  const uint8_t* data;
  size_t size;
};

// Copies one output of the encoder (its NAL units: parameter sets, SEI,
// slices) to `out` as Annex B, reading parameter sets and giving each slice
// the frame_num that follows the repeats written so far. False with a reason
// in *error for a stream this cannot extend (B-frames' picture order,
// fields, CABAC, slice groups, weighted prediction) or a malformed one;
// `out` is then unchanged.
bool H264CopyCoded(H264Repeats* r, const std::vector<H264Nal>& nals, std::vector<uint8_t>* out, std::string* error);

// Appends an access unit that repeats the last picture. False before the
// parameter sets have been seen or when they are unsupported.
bool H264AppendRepeat(H264Repeats* r, std::vector<uint8_t>* out);

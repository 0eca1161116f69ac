// Skipped-picture access units and frame_num renumbering for an Annex B
// H.264 stream.
#include "capture/h264_repeats.h"

#include "capture/fail.h"

#include <algorithm>
#include <bit>
#include <iterator>
#include <string>

namespace {

// NAL unit types; NalSpsExtension and every type above it are extensions or reserved.
enum NalType { NalSlice = 1, NalIdrSlice = 5, NalSei = 6, NalSps = 7, NalPps = 8, NalEndOfSequence = 10,
               NalEndOfStream = 11, NalSpsExtension = 13 };
constexpr uint32_t SliceTypeP = 5;  // P, and every slice of the picture is P

// Reads bits most significant first from an RBSP; reading past the end
// gives zeros and sets `overrun`, which the callers check once at the end.
struct BitReader {
  const std::vector<uint8_t>& bytes;
  size_t bit = 0;
  bool overrun = false;
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit) {
      const bool past = (bit >> 3) >= bytes.size();
      overrun |= past;
      v = (v << 1) | (past ? 0u : (bytes[bit >> 3] >> (7 - (bit & 7))) & 1u);
    }
    return v;
  }
  // Exp-Golomb, as ue(v). Codes longer than 32 bits are not valid here.
  uint32_t Ue() {
    int zeros = 0;
    while (Bits(1) == 0) {
      if (++zeros > 31 || overrun) {
        overrun = true;
        return 0;
      }
    }
    return (zeros == 0 ? 0 : Bits(zeros)) + ((1u << zeros) - 1);
  }
};

struct BitWriter {
  std::vector<uint8_t> bytes;
  int used = 8;  // bits used in the last byte
  void Bits(uint64_t v, int n) {
    for (int i = n - 1; i >= 0; --i) {
      if (used == 8) {
        bytes.push_back(0);
        used = 0;
      }
      bytes.back() |= static_cast<uint8_t>(((v >> i) & 1u) << (7 - used));
      ++used;
    }
  }
  // Exp-Golomb, as ue(v): v + 1 in binary, after a zero for each bit past its first.
  void Ue(uint32_t v) {
    const uint64_t code = static_cast<uint64_t>(v) + 1;
    const int length = std::bit_width(code) - 1;
    Bits(0, length);
    Bits(code, length + 1);
  }
  // rbsp_trailing_bits: a one, then zeros to the byte's end.
  void Trailing() {
    Bits(1, 1);
    used = 8;
  }
};

// The NAL unit's payload without its emulation-prevention bytes (a 3 after
// two zeros).
std::vector<uint8_t> Unescape(const uint8_t* p, size_t n) {
  std::vector<uint8_t> rbsp;
  rbsp.reserve(n);
  int zeros = 0;
  for (size_t i = 0; i < n; ++i) {
    if (zeros >= 2 && p[i] == 3) {
      zeros = 0;
      continue;
    }
    zeros = p[i] == 0 ? zeros + 1 : 0;
    rbsp.push_back(p[i]);
  }
  return rbsp;
}

// Appends a 4-byte start code and the RBSP with emulation prevention: a 3
// goes before any byte of 0-3 that follows two zeros, and after two final
// zeros (which the next start code would otherwise swallow).
void AppendEscaped(const std::vector<uint8_t>& rbsp, std::vector<uint8_t>* out) {
  static constexpr uint8_t StartCode[4] = {0, 0, 0, 1};
  out->insert(out->end(), StartCode, StartCode + 4);
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) {
      out->push_back(3);
      zeros = 0;
    }
    out->push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  if (zeros >= 2) out->push_back(3);
}

// The sequence's video usability information, up to what counts pictures:
// HRD parameters (buffer times per picture) and picture structure timing
// refer to pictures the repeats add, so a stream with them is refused.
bool ReadVui(BitReader* in, std::string* error) {
  in->Bits(1);                         // direct_8x8_inference_flag
  if (in->Bits(1)) {                   // frame_cropping_flag
    for (int i = 0; i < 4; ++i) in->Ue();
  }
  const bool vui = in->Bits(1) != 0;
  if (!vui) return !in->overrun || Fail(error, "the H.264 stream's sequence parameter set is malformed");
  if (in->Bits(1) && in->Bits(8) == 255) in->Bits(32);  // aspect ratio, extended SAR
  if (in->Bits(1)) in->Bits(1);                          // overscan
  if (in->Bits(1)) {                                     // video signal type
    in->Bits(4);
    if (in->Bits(1)) in->Bits(24);  // colour description
  }
  if (in->Bits(1)) {  // chroma location
    in->Ue();
    in->Ue();
  }
  // Timing info (tick, time scale, fixed rate flag): a fixed rate is fine,
  // it counts no picture. Reading on past the end marks the overrun.
  if (in->Bits(1)) in->bit += 32 + 32 + 1;
  const bool nalHrd = in->Bits(1) != 0;
  // The NAL HRD's parameters come before the VCL flag; refusing at the
  // first flag set needs no parsing of them.
  const bool vclHrd = !nalHrd && in->Bits(1) != 0;
  const bool picStruct = !nalHrd && !vclHrd && in->Bits(1) != 0;
  if (in->overrun) return Fail(error, "the H.264 stream's sequence parameter set is malformed");
  if (nalHrd || vclHrd) return Fail(error, "the H.264 stream carries HRD parameters, which time every picture");
  if (picStruct) return Fail(error, "the H.264 stream carries picture timing (pic_struct_present_flag)");
  return true;
}

bool ReadSps(H264Repeats* r, const std::vector<uint8_t>& rbsp, std::string* error) {
  BitReader in{rbsp};
  in.bit = 8;  // the NAL header
  const uint32_t profile = in.Bits(8);
  in.Bits(16);  // constraint flags, level
  const uint32_t id = in.Ue();
  // The profiles whose sequence parameter sets carry the chroma format, bit
  // depths and scaling matrices.
  static constexpr uint32_t HighProfiles[] = {100, 110, 122, 244, 44, 83, 86, 118, 128, 138, 139, 134, 135};
  if (std::find(std::begin(HighProfiles), std::end(HighProfiles), profile) != std::end(HighProfiles)) {
    if (in.Ue() == 3) in.Bits(1);  // chroma_format_idc, separate_colour_plane_flag
    in.Ue();                       // bit depths
    in.Ue();
    in.Bits(1);  // qpprime_y_zero_transform_bypass_flag
    if (in.Bits(1)) return Fail(error, "the H.264 stream has scaling matrices in its sequence parameter set");
  }
  const uint32_t log2MaxFrameNum = in.Ue() + 4;
  const uint32_t pocType = in.Ue();
  if (pocType != 2) return Fail(error, "the H.264 stream orders its pictures by counts of their own (B-frames)");
  const uint32_t refFrames = in.Ue();  // max_num_ref_frames
  in.Bits(1);                          // gaps_in_frame_num_value_allowed_flag
  const uint32_t widthMbs = in.Ue() + 1;
  const uint32_t heightMbs = in.Ue() + 1;
  const bool framesOnly = in.Bits(1) != 0;
  if (in.overrun || log2MaxFrameNum > 16 || widthMbs > 1024 || heightMbs > 1024) {
    return Fail(error, "the H.264 stream's sequence parameter set is malformed");
  }
  if (!framesOnly) return Fail(error, "the H.264 stream codes fields");
  // A repeat refers to the picture just before it; with more than one
  // reference frame x264's own pictures could name one that the repeats
  // have pushed out of the decoder's window.
  if (refFrames > 1) return Fail(error, "the H.264 stream keeps more than one reference frame");
  if (!ReadVui(&in, error)) return false;
  r->spsId = static_cast<int>(id);
  r->log2MaxFrameNum = static_cast<int>(log2MaxFrameNum);
  r->macroblocks = widthMbs * heightMbs;
  return true;
}

bool ReadPps(H264Repeats* r, const std::vector<uint8_t>& rbsp, std::string* error) {
  BitReader in{rbsp};
  in.bit = 8;
  const uint32_t id = in.Ue();
  const uint32_t spsId = in.Ue();
  const bool cabac = in.Bits(1) != 0;
  in.Bits(1);  // bottom_field_pic_order_in_frame_present_flag
  const uint32_t sliceGroups = in.Ue() + 1;
  if (sliceGroups != 1 || cabac) {
    return Fail(error, cabac ? "the H.264 stream is CABAC-coded" : "the H.264 stream has slice groups");
  }
  in.Ue();  // num_ref_idx_l0/l1_default_active_minus1
  in.Ue();
  const bool weightedP = in.Bits(1) != 0;
  in.Bits(2);  // weighted_bipred_idc
  in.Ue();     // pic_init_qp_minus26, pic_init_qs_minus26, chroma_qp_index_offset:
  in.Ue();     // se(v), skipped as the ue(v) code they are mapped to
  in.Ue();
  const bool deblockingControl = in.Bits(1) != 0;
  in.Bits(1);  // constrained_intra_pred_flag
  const bool redundant = in.Bits(1) != 0;
  if (in.overrun) return Fail(error, "the H.264 stream's picture parameter set is malformed");
  if (weightedP) return Fail(error, "the H.264 stream uses weighted prediction");
  if (static_cast<int>(spsId) != r->spsId) {
    return Fail(error, "the H.264 stream's picture parameter set names another sequence parameter set");
  }
  r->ppsId = static_cast<int>(id);
  r->deblockingControl = deblockingControl;
  r->redundantPicCount = redundant;
  return true;
}

// The rest of a slice header up to what would count or re-mark pictures:
// B, SP and SI slices, a reordered reference list, long-term references
// and memory-management operations all name pictures by numbers that the
// repeats shift, so a stream with any of them is refused.
bool CheckSliceHeader(BitReader* in, int type, int refIdc, uint32_t sliceType, bool redundantPicCount,
                      std::string* error) {
  if (type == NalIdrSlice) in->Ue();  // idr_pic_id
  if (redundantPicCount) in->Ue();
  const uint32_t kind = sliceType % 5;
  if (kind != 0 && kind != 2) return Fail(error, "the H.264 stream has B, SP or SI slices");
  if (kind == 0) {
    if (in->Bits(1)) in->Ue();  // num_ref_idx_active_override_flag
    if (in->Bits(1)) return Fail(error, "the H.264 stream reorders its reference picture lists");
  }
  if (refIdc != 0) {
    if (type == NalIdrSlice) {
      in->Bits(1);  // no_output_of_prior_pics_flag
      if (in->Bits(1)) return Fail(error, "the H.264 stream has long-term reference pictures");
    } else if (in->Bits(1)) {
      return Fail(error, "the H.264 stream has memory-management operations (adaptive_ref_pic_marking)");
    }
  }
  return !in->overrun || Fail(error, "an H.264 slice header is cut short");
}

// SEI messages: user data (types 4 and 5) passes; any other kind, buffering
// periods and picture timing among them, may count pictures and is refused.
bool CheckSei(const std::vector<uint8_t>& rbsp, std::string* error) {
  size_t at = 1;  // after the NAL header
  while (at + 1 < rbsp.size()) {
    uint32_t payloadType = 0, payloadSize = 0;
    while (at < rbsp.size() && rbsp[at] == 0xFF) payloadType += rbsp[at++];
    if (at < rbsp.size()) payloadType += rbsp[at++];
    while (at < rbsp.size() && rbsp[at] == 0xFF) payloadSize += rbsp[at++];
    if (at < rbsp.size()) payloadSize += rbsp[at++];
    if (payloadType != 4 && payloadType != 5) {
      return Fail(error, "the H.264 stream has SEI messages of type " + std::to_string(payloadType) +
               " (buffering period, picture timing or others that may count pictures)");
    }
    at += payloadSize;
  }
  return true;
}

}  // namespace

bool H264CopyCoded(H264Repeats* r, const std::vector<H264Nal>& nals, std::vector<uint8_t>* out, std::string* error) {
  const size_t keep = out->size();
  H264Repeats next = *r;
  if (nals.empty()) return Fail(error, "the encoder gave out no NAL units");
  for (const H264Nal& nal : nals) {
    if (nal.size == 0) continue;
    const int type = nal.data[0] & 31;
    const int refIdc = (nal.data[0] >> 5) & 3;
    std::vector<uint8_t> rbsp = Unescape(nal.data, nal.size);
    bool ok = true;
    if (type == NalSei) {
      ok = CheckSei(rbsp, error);
    } else if (type == NalEndOfSequence || type == NalEndOfStream || type >= NalSpsExtension) {
      ok = Fail(error, "the H.264 stream has NAL units of type " + std::to_string(type) +
                           ", which the repeats cannot follow");
    } else if (type != NalSlice && type != NalIdrSlice && type != NalSps && type != NalPps) {
      // Delimiters and fillers, as they are.
    } else if (type == NalSps) {
      ok = ReadSps(&next, rbsp, error);
      next.ready = false;  // until its picture parameter set follows
    } else if (type == NalPps) {
      ok = ReadPps(&next, rbsp, error);
      next.ready = ok;  // it names the sequence parameter set read before it
    } else if (!next.ready) {
      ok = Fail(error, "the H.264 stream has a slice before its parameter sets");
    } else {
      BitReader in{rbsp};
      in.bit = 8;
      const uint32_t firstMb = in.Ue();
      const uint32_t sliceType = in.Ue();
      in.Ue();  // pic_parameter_set_id
      const size_t frameNumBit = in.bit;
      in.Bits(next.log2MaxFrameNum);
      if (!CheckSliceHeader(&in, type, refIdc, sliceType, next.redundantPicCount, error)) {
        ok = false;
      } else {
        // The first slice of a picture sets its number: 0 for an IDR, else
        // one past the last reference picture's.
        if (firstMb == 0) {
          const uint32_t mask = (1u << next.log2MaxFrameNum) - 1;
          next.pictureFrameNum = type == NalIdrSlice ? 0 : (next.prevRefFrameNum + 1) & mask;
          if (refIdc != 0) next.prevRefFrameNum = next.pictureFrameNum;
        }
        for (int i = 0; i < next.log2MaxFrameNum; ++i) {
          const size_t bit = frameNumBit + static_cast<size_t>(i);
          const unsigned mask = 0x80u >> (bit & 7);
          const bool one = (next.pictureFrameNum >> (next.log2MaxFrameNum - 1 - i)) & 1u;
          rbsp[bit >> 3] = static_cast<uint8_t>(one ? rbsp[bit >> 3] | mask : rbsp[bit >> 3] & ~mask);
        }
      }
    }
    if (!ok) {
      out->resize(keep);
      return false;
    }
    AppendEscaped(rbsp, out);
  }
  *r = next;
  return true;
}

bool H264AppendRepeat(H264Repeats* r, std::vector<uint8_t>* out) {
  if (!r->ready) return false;
  const uint32_t frameNum = (r->prevRefFrameNum + 1) & ((1u << r->log2MaxFrameNum) - 1);
  BitWriter w;
  w.Bits(0x40 | NalSlice, 8);  // nal_ref_idc 2: a reference picture
  w.Ue(0);                     // first_mb_in_slice
  w.Ue(SliceTypeP);
  w.Ue(static_cast<uint32_t>(r->ppsId));
  w.Bits(frameNum, r->log2MaxFrameNum);
  if (r->redundantPicCount) w.Ue(0);
  w.Bits(1, 1);  // num_ref_idx_active_override_flag: one reference
  w.Ue(0);
  w.Bits(0, 1);  // ref_pic_list_modification_flag_l0
  w.Bits(0, 1);  // adaptive_ref_pic_marking_mode_flag: sliding window
  w.Ue(0);       // slice_qp_delta (se 0 codes as ue 0)
  if (r->deblockingControl) w.Ue(1);  // disable_deblocking_filter_idc: nothing to filter
  w.Ue(r->macroblocks);               // mb_skip_run: the whole picture
  w.Trailing();
  AppendEscaped(w.bytes, out);
  r->prevRefFrameNum = frameNum;
  return true;
}

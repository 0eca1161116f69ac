// Decoding H.264 access units (Annex B, one picture each) for the capture's
// tests, with two independent decoders.
#pragma once
#include <memory>
#include <string>
#include <vector>

// The pictures of `width` x `height` as raw I420, one after the other, in
// output order; empty when the decoder reported any error.
std::string DecodeLibavcodec(const std::vector<std::string>& units, int width, int height);
std::string DecodeOpenH264(const std::vector<std::string>& units, int width, int height);

// The same decoders fed one access unit at a time, for streams whose
// pictures are too many to hold at once (the whole demo's video).
enum class H264DecoderKind { Libavcodec, OpenH264 };
struct H264Decoder;
struct H264DecoderClose {
  void operator()(H264Decoder* d) const;
};
using H264DecoderPtr = std::unique_ptr<H264Decoder, H264DecoderClose>;
// Null when the decoder cannot be set up.
H264DecoderPtr H264DecoderOpen(H264DecoderKind kind, int width, int height);
// Decodes `unit` (null: the end of the stream, so that a decoder that holds
// pictures back gives them out) and appends each picture given out, as raw
// I420 of the size given, to *pictures. False once the decoder reported
// any error.
bool H264DecoderFeed(H264Decoder* decoder, const std::string* unit, std::vector<std::string>* pictures);

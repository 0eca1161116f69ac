// Two independent H.264 decoders, in-process: libavcodec's and OpenH264.
#include "tests/capture/support/h264_decoders.h"

#include <wels/codec_api.h>
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <cstring>

// One decoder of either kind: the fields of the other kind stay empty.
struct H264Decoder {
  H264DecoderKind kind = H264DecoderKind::Libavcodec;
  int width = 0, height = 0;
  bool ok = true;
  AVCodecContext* codec = nullptr;  // libavcodec
  AVPacket* packet = nullptr;
  AVFrame* frame = nullptr;
  ISVCDecoder* wels = nullptr;  // OpenH264
};

void H264DecoderClose::operator()(H264Decoder* d) const {
  av_frame_free(&d->frame);
  av_packet_free(&d->packet);
  avcodec_free_context(&d->codec);
  if (d->wels) {
    d->wels->Uninitialize();
    WelsDestroyDecoder(d->wels);
  }
  delete d;
}

namespace {

// Appends one picture, its three planes packed without padding.
void AppendPicture(const H264Decoder& d, uint8_t* const planes[3], const int strides[3],
                   std::vector<std::string>* pictures) {
  std::string& picture = pictures->emplace_back();
  for (int plane = 0; plane < 3; ++plane) {
    const int w = plane ? d.width / 2 : d.width, h = plane ? d.height / 2 : d.height;
    for (int y = 0; y < h; ++y)
      picture.append(reinterpret_cast<const char*>(planes[plane] + static_cast<ptrdiff_t>(y) * strides[plane]), w);
  }
}

bool OpenLibavcodec(H264Decoder* d) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  d->codec = codec ? avcodec_alloc_context3(codec) : nullptr;
  d->packet = av_packet_alloc();
  d->frame = av_frame_alloc();
  if (!d->codec || !d->packet || !d->frame) return false;
  // Any damage the decoder notices is an error, not a concealed picture.
  d->codec->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_COMPLIANT;
  d->codec->thread_count = 1;
  return avcodec_open2(d->codec, codec, nullptr) >= 0;
}

bool OpenOpenH264(H264Decoder* d) {
  if (WelsCreateDecoder(&d->wels) != 0 || !d->wels) {
    d->wels = nullptr;
    return false;
  }
  SDecodingParam param{};
  param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  if (d->wels->Initialize(&param) == 0) return true;
  WelsDestroyDecoder(d->wels);
  d->wels = nullptr;
  return false;
}

bool FeedLibavcodec(H264Decoder* d, const std::string* unit, std::vector<std::string>* pictures) {
  if (unit) {
    if (av_new_packet(d->packet, static_cast<int>(unit->size())) < 0) return false;
    std::memcpy(d->packet->data, unit->data(), unit->size());
    const bool sent = avcodec_send_packet(d->codec, d->packet) >= 0;
    av_packet_unref(d->packet);
    if (!sent) return false;
  } else if (avcodec_send_packet(d->codec, nullptr) < 0) {
    return false;
  }
  while (avcodec_receive_frame(d->codec, d->frame) >= 0) {
    if (d->frame->decode_error_flags || (d->frame->flags & AV_FRAME_FLAG_CORRUPT)) return false;
    AppendPicture(*d, d->frame->data, d->frame->linesize, pictures);
  }
  return true;
}

// OpenH264 gives each picture out at once (no delay), so the end of the
// stream has nothing left to drain.
bool FeedOpenH264(H264Decoder* d, const std::string* unit, std::vector<std::string>* pictures) {
  if (!unit) return true;
  uint8_t* planes[3] = {};
  SBufferInfo info{};
  if (d->wels->DecodeFrameNoDelay(reinterpret_cast<const unsigned char*>(unit->data()),
                                  static_cast<int>(unit->size()), planes, &info) != dsErrorFree)
    return false;
  if (info.iBufferStatus == 1) {
    const int* s = info.UsrData.sSystemBuffer.iStride;
    const int strides[3] = {s[0], s[1], s[1]};
    AppendPicture(*d, planes, strides, pictures);
  }
  return true;
}

std::string DecodeAll(H264DecoderKind kind, const std::vector<std::string>& units, int width, int height) {
  H264DecoderPtr d = H264DecoderOpen(kind, width, height);
  std::vector<std::string> pictures;
  bool ok = d != nullptr;
  for (size_t i = 0; ok && i <= units.size(); ++i)
    ok = H264DecoderFeed(d.get(), i < units.size() ? &units[i] : nullptr, &pictures);
  std::string all;
  if (ok)
    for (const std::string& p : pictures) all += p;
  return all;
}

}  // namespace

H264DecoderPtr H264DecoderOpen(H264DecoderKind kind, int width, int height) {
  H264DecoderPtr d(new H264Decoder);
  d->kind = kind;
  d->width = width;
  d->height = height;
  const bool opened = kind == H264DecoderKind::Libavcodec ? OpenLibavcodec(d.get()) : OpenOpenH264(d.get());
  return opened ? std::move(d) : nullptr;
}

bool H264DecoderFeed(H264Decoder* d, const std::string* unit, std::vector<std::string>* pictures) {
  if (d->ok)
    d->ok = d->kind == H264DecoderKind::Libavcodec ? FeedLibavcodec(d, unit, pictures)
                                                   : FeedOpenH264(d, unit, pictures);
  return d->ok;
}

// Access units decoded by libavcodec's H.264 decoder, in-process, as raw
// I420 pictures; empty when it reported any error.
std::string DecodeLibavcodec(const std::vector<std::string>& units, int width, int height) {
  return DecodeAll(H264DecoderKind::Libavcodec, units, width, height);
}

// The same access units decoded by OpenH264; empty on any error.
std::string DecodeOpenH264(const std::vector<std::string>& units, int width, int height) {
  return DecodeAll(H264DecoderKind::OpenH264, units, width, height);
}

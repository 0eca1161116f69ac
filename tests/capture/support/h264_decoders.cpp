// Two independent H.264 decoders, in-process: libavcodec's and OpenH264.
#include "tests/capture/support/h264_decoders.h"

#include <wels/codec_api.h>
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <cstdint>
#include <cstring>

// Access units decoded by libavcodec's H.264 decoder, in-process, as raw
// I420 pictures; empty when it reported any error.
std::string DecodeLibavcodec(const std::vector<std::string>& units, int W, int H) {
  const AVCodec* codec = avcodec_find_decoder(AV_CODEC_ID_H264);
  AVCodecContext* c = codec ? avcodec_alloc_context3(codec) : nullptr;
  AVPacket* packet = av_packet_alloc();
  AVFrame* frame = av_frame_alloc();
  std::string pictures;
  bool ok = c && packet && frame;
  if (ok) {
    c->err_recognition = AV_EF_EXPLODE | AV_EF_BITSTREAM | AV_EF_BUFFER | AV_EF_COMPLIANT;
    c->thread_count = 1;
    ok = avcodec_open2(c, codec, nullptr) >= 0;
  }
  auto drain = [&] {
    while (ok && avcodec_receive_frame(c, frame) >= 0) {
      if (frame->decode_error_flags || (frame->flags & AV_FRAME_FLAG_CORRUPT)) ok = false;
      for (int plane = 0; plane < 3; ++plane) {
        const int w = plane ? W / 2 : W, h = plane ? H / 2 : H;
        for (int y = 0; y < h; ++y)
          pictures.append(reinterpret_cast<const char*>(frame->data[plane] + y * frame->linesize[plane]), w);
      }
    }
  };
  for (size_t i = 0; ok && i <= units.size(); ++i) {
    if (i < units.size()) {
      ok = av_new_packet(packet, static_cast<int>(units[i].size())) >= 0;
      if (!ok) break;
      std::memcpy(packet->data, units[i].data(), units[i].size());
      ok = avcodec_send_packet(c, packet) >= 0;
      av_packet_unref(packet);
    } else {
      ok = avcodec_send_packet(c, nullptr) >= 0;
    }
    drain();
  }
  av_frame_free(&frame);
  av_packet_free(&packet);
  avcodec_free_context(&c);
  return ok ? pictures : std::string();
}

// The same access units decoded by OpenH264; empty on any error.
std::string DecodeOpenH264(const std::vector<std::string>& units, int W, int H) {
  ISVCDecoder* decoder = nullptr;
  if (WelsCreateDecoder(&decoder) != 0 || !decoder) return std::string();
  SDecodingParam param{};
  param.sVideoProperty.eVideoBsType = VIDEO_BITSTREAM_AVC;
  std::string pictures;
  bool ok = decoder->Initialize(&param) == 0;
  auto take = [&](const SBufferInfo& info, uint8_t* planes[3]) {
    if (info.iBufferStatus != 1) return;
    for (int plane = 0; plane < 3; ++plane) {
      const int w = plane ? W / 2 : W, h = plane ? H / 2 : H;
      const int stride = info.UsrData.sSystemBuffer.iStride[plane ? 1 : 0];
      for (int y = 0; y < h; ++y) pictures.append(reinterpret_cast<const char*>(planes[plane] + y * stride), w);
    }
  };
  for (size_t i = 0; ok && i < units.size(); ++i) {
    uint8_t* planes[3] = {};
    SBufferInfo info{};
    ok = decoder->DecodeFrameNoDelay(reinterpret_cast<const unsigned char*>(units[i].data()),
                                     static_cast<int>(units[i].size()), planes, &info) == dsErrorFree;
    if (ok) take(info, planes);
  }
  decoder->Uninitialize();
  WelsDestroyDecoder(decoder);
  return ok ? pictures : std::string();
}


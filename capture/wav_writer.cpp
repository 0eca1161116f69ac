// Streaming writer of 16-bit stereo PCM WAV files.
#include "capture/wav_writer.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}

#include <cstring>

namespace {

// The data the header's 32-bit sizes can count (the RIFF size counts 36
// header bytes more); libavformat would let them wrap.
constexpr uint64_t MaxDataBytes = 0xFFFFFFFFull - 36;

}  // namespace

bool WavOpen(WavWriter* w, const std::string& path, uint32_t sampleRate) {
  *w = WavWriter{};
  AVFormatContext* f = nullptr;
  if (avformat_alloc_output_context2(&f, nullptr, "wav", path.c_str()) < 0) return false;
  w->file = f;
  // Bit-exact: no INFO chunk naming the library, so the header is the
  // canonical 44 bytes: RIFF, "fmt " (PCM, 2 channels, 16 bits), "data".
  f->flags |= AVFMT_FLAG_BITEXACT;
  AVStream* s = avformat_new_stream(f, nullptr);
  w->packet = av_packet_alloc();
  if (s && w->packet) {
    s->codecpar->codec_type = AVMEDIA_TYPE_AUDIO;
    s->codecpar->codec_id = AV_CODEC_ID_PCM_S16LE;
    s->codecpar->sample_rate = static_cast<int>(sampleRate);
    s->codecpar->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
    s->codecpar->bits_per_coded_sample = 16;
    s->codecpar->block_align = 4;
    s->time_base = AVRational{1, static_cast<int>(sampleRate)};
  }
  if (!s || !w->packet || avio_open(&f->pb, path.c_str(), AVIO_FLAG_WRITE) < 0) {
    av_packet_free(&w->packet);
    avformat_free_context(f);
    *w = WavWriter{};
    return false;
  }
  w->failed = avformat_write_header(f, nullptr) < 0;
  return true;
}

bool WavWrite(WavWriter* w, const void* frames, uint32_t count) {
  if (!w->file || w->failed) return false;
  const size_t bytes = static_cast<size_t>(count) * 4;
  AVPacket* p = w->packet;
  w->failed = w->dataBytes + bytes > MaxDataBytes || av_new_packet(p, static_cast<int>(bytes)) < 0;
  if (w->failed) return false;
  std::memcpy(p->data, frames, bytes);
  p->pts = p->dts = static_cast<int64_t>(w->dataBytes / 4);
  p->duration = count;
  w->failed = av_write_frame(w->file, p) < 0;
  av_packet_unref(p);  // av_write_frame leaves the packet's data to the caller
  w->dataBytes += bytes;
  return !w->failed;
}

bool WavClose(WavWriter* w) {
  if (!w->file) return false;
  bool ok = !w->failed && av_write_trailer(w->file) >= 0;  // patches the sizes
  if (avio_closep(&w->file->pb) < 0) ok = false;
  av_packet_free(&w->packet);
  avformat_free_context(w->file);
  w->file = nullptr;
  return ok;
}

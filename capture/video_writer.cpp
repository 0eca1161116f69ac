// Video output in-process.
#include "capture/video_writer.h"

#include "capture/fail.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
}
#include <libyuv/convert.h>
#include <x264.h>

#include <cstring>
#include <deque>
#include <mutex>
#include <vector>

#include "capture/h264_repeats.h"

// The container, written by the frame writer's thread (pictures and AAC);
// libavformat interleaves the two by time.
struct VideoMuxer {
  AVFormatContext* format = nullptr;
  AVStream* video = nullptr;
  AVStream* audio = nullptr;
  AVRational frameTime{1, 1};  // one frame, the video packets' time unit
  AVPacket* picture = av_packet_alloc();  // each picture's, reused
  ~VideoMuxer() {
    av_packet_free(&picture);
    if (!format) return;
    if (format->pb && !(format->oformat->flags & AVFMT_NOFILE)) avio_closep(&format->pb);
    avformat_free_context(format);
  }
};

// The H.264 encoder, the picture it is fed from, and the repeats written
// between its pictures.
struct VideoEncoder {
  x264_t* x264 = nullptr;
  int64_t frames = 0;        // frames given, repeats included
  int64_t lastKeyframe = 0;  // the frame the last keyframe was asked for at
  std::vector<uint8_t> yuv;  // the last frame converted (a repeat is not)
  H264Repeats repeats;
  // For each picture x264 still holds, oldest first: the repeats that
  // follow it, written once x264 gives the picture out.
  std::deque<int64_t> held;
  std::vector<uint8_t> stream;  // the access unit being written
  ~VideoEncoder() {
    if (x264) x264_encoder_close(x264);
  }
};

// The music's side: PCM queued by the renderer's thread, coded as AAC by
// the frame writer's thread after each frame, so that the renderer never
// waits for the encoder and the coding runs at the writer's lower priority.
struct AudioEncoder {
  AVCodecContext* codec = nullptr;
  AVFrame* frame = nullptr;
  AVPacket* packet = nullptr;
  VideoMuxer* muxer = nullptr;
  std::vector<int16_t> pending;  // stereo samples short of a whole AAC frame
  int64_t samples = 0;           // samples handed to the encoder
  std::mutex lock;
  std::vector<int16_t> queued;  // stereo samples not yet taken by the writer
  bool failed = false;
  std::string error;
  ~AudioEncoder() {
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&codec);
  }
};

namespace {

// x264: the ultrafast preset's analysis with the loop filter and adaptive
// quantisation put back (no blocky fades in the dark scenes), CAVLC (CABAC
// changes no pixel at this preset and cost a third more CPU; the repeats are
// CAVLC slices too). docs/capture.md has the measurements.
constexpr const char* VideoPreset = "ultrafast";
// Repeated frames never reach x264 (see h264_repeats.h), so its rate
// control spends fewer bits on the frames that change; CRF 18 keeps their
// quality (whole demo, 640 x 480: 27.9 MB, mean luma PSNR 49.2 dB).
constexpr float VideoCrf = 18.0f;
// A keyframe at least this often, repeats or not (x264's own default
// distance, 4.2 s at 60 fps), so that a player can seek. x264 cannot count
// the repeats it never sees, so the distance is kept here.
constexpr int64_t KeyframeInterval = 250;
// The music's AAC bit rate, and libavcodec's "fast" AAC coder: half the CPU
// of its default (about 1.3 s against 2.5 s for the whole demo) for the same
// signal-to-noise ratio (28.9 against 29.2 dB on 15 s of the music).
constexpr int64_t AudioBitRate = 192000;

std::string AvError(int code) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(code, text, sizeof text);
  return text;
}

// Writes one packet of `stream`, whose times are in `from` units, into the
// container. Takes the packet's data (it is reset).
bool MuxPacket(VideoMuxer* m, AVStream* stream, AVRational from, AVPacket* packet, std::string* error) {
  packet->stream_index = stream->index;
  av_packet_rescale_ts(packet, from, stream->time_base);
  const int rc = av_interleaved_write_frame(m->format, packet);
  if (rc >= 0) return true;
  return Fail(error, "cannot write the video file: " + AvError(rc));
}

// One H.264 access unit (Annex B) as the video's picture `pts`.
bool MuxPicture(VideoMuxer* m, const std::vector<uint8_t>& unit, int64_t pts, bool keyframe, std::string* error) {
  AVPacket* packet = m->picture;  // blank: the muxer took the last one's data
  if (!packet || av_new_packet(packet, static_cast<int>(unit.size())) < 0) return Fail(error, "out of memory");
  std::memcpy(packet->data, unit.data(), unit.size());
  packet->pts = packet->dts = pts;
  packet->duration = 1;
  if (keyframe) packet->flags |= AV_PKT_FLAG_KEY;
  return MuxPacket(m, m->video, m->frameTime, packet, error);
}

}  // namespace

bool VideoEncoderSettings(x264_param_t* settings, int32_t width, int32_t height, Rational fps, std::string* error) {
  x264_param_t& p = *settings;
  if (x264_param_default_preset(&p, VideoPreset, nullptr) < 0) {
    return Fail(error, "x264 does not know the preset " + std::string(VideoPreset));
  }
  p.i_log_level = X264_LOG_ERROR;
  // One thread up to 1280 x 720, where one keeps up with the renderer in the
  // time it leaves and a second only gets in its way; two above, where
  // encoding a frame costs about as much CPU as rendering it (15 ms a frame
  // at 1920 x 1080 against the renderer's 13.7 ms).
  p.i_threads = static_cast<int64_t>(width) * height > 1280 * 720 ? 2 : 1;
  p.i_width = width;
  p.i_height = height;
  p.i_csp = X264_CSP_I420;
  p.i_fps_num = static_cast<uint32_t>(fps.num);
  p.i_fps_den = static_cast<uint32_t>(fps.den);
  p.b_vfr_input = 0;  // constant frame rate: one picture every 1/fps s
  p.b_annexb = 1;
  p.b_repeat_headers = 1;
  p.i_keyint_max = X264_KEYINT_MAX_INFINITE;  // keyframes are asked for at KeyframeInterval
  p.b_cabac = 0;
  // What the spliced repeats rely on (the preset's own choices, made sure of).
  p.i_bframe = 0;
  p.i_frame_reference = 1;
  p.i_nal_hrd = X264_NAL_HRD_NONE;
  p.b_pic_struct = 0;
  p.b_intra_refresh = 0;
  p.b_deblocking_filter = 1;
  p.i_deblocking_filter_alphac0 = 0;
  p.i_deblocking_filter_beta = 0;
  p.rc.i_aq_mode = X264_AQ_VARIANCE;
  p.rc.f_aq_strength = 1.0f;
  p.rc.i_rc_method = X264_RC_CRF;
  p.rc.f_rf_constant = VideoCrf;
  // Tagged with the matrix and range the conversion uses (BT.601, limited),
  // so that players do not guess BT.709 for HD.
  p.vui.i_colmatrix = 6;  // SMPTE 170M
  p.vui.b_fullrange = 0;
  return true;
}

namespace {

// x264 with the settings above, and the picture it is fed from.
bool OpenEncoder(VideoEncoder* e, int32_t width, int32_t height, Rational fps, std::string* error) {
  x264_param_t p;
  if (!VideoEncoderSettings(&p, width, height, fps, error)) return false;
  e->x264 = x264_encoder_open(&p);
  if (!e->x264) {
    return Fail(error, "x264 cannot encode " + std::to_string(width) + "x" + std::to_string(height) + " pictures");
  }
  x264_encoder_parameters(e->x264, &p);
  const size_t lumaBytes = static_cast<size_t>(width) * height;
  // Black in limited range: Y 16, U and V 128. The padding keeps it; the
  // picture overwrites the rest every frame.
  e->yuv.assign(lumaBytes + lumaBytes / 2, 128);
  std::memset(e->yuv.data(), 16, lumaBytes);
  return true;
}

// `count` repeats of the last picture as the pictures from `pts` on.
bool WriteRepeats(VideoOutput* out, int64_t pts, int64_t count) {
  VideoEncoder* e = out->encoder.get();
  for (int64_t i = 0; i < count; ++i) {
    e->stream.clear();
    if (!H264AppendRepeat(&e->repeats, &e->stream)) {
      return Fail(&out->error, "x264's stream gave no parameter sets to repeat a picture with");
    }
    if (!MuxPicture(out->muxer.get(), e->stream, pts + i, false, &out->error)) return false;
  }
  return true;
}

// Encodes one picture (null: takes out one that x264 still holds) and
// writes what comes out, followed by the repeats of each picture it gave
// out. False with a reason in out->error when x264, the stream or the file
// failed.
bool EncodeAndWrite(VideoOutput* out, x264_picture_t* picture) {
  VideoEncoder* e = out->encoder.get();
  x264_nal_t* nals = nullptr;
  int count = 0;
  x264_picture_t coded;
  x264_picture_init(&coded);
  if (picture) e->held.push_back(0);
  const int bytes = x264_encoder_encode(e->x264, &nals, &count, picture, &coded);
  if (bytes < 0) return Fail(&out->error, "x264 failed to encode a frame");
  if (bytes == 0) return true;
  // Without B-frames x264 gives pictures out in the order they went in.
  if (e->held.empty()) return Fail(&out->error, "x264 gave out more pictures than it was given");
  e->stream.clear();
  std::vector<H264Nal> units;  // x264's NAL units after their 3- or 4-byte start codes
  for (int i = 0; i < count; ++i) {
    const size_t start = nals[i].p_payload[2] == 1 ? 3 : 4;
    units.push_back({nals[i].p_payload + start, static_cast<size_t>(nals[i].i_payload) - start});
  }
  if (!H264CopyCoded(&e->repeats, units, &e->stream, &out->error) ||
      !MuxPicture(out->muxer.get(), e->stream, coded.i_pts, coded.b_keyframe != 0, &out->error))
    return false;
  const int64_t repeats = e->held.front();
  e->held.pop_front();
  return WriteRepeats(out, coded.i_pts + 1, repeats);
}

// The video stream, its codec parameters taken from x264's headers (the
// container's decoder configuration) and tagged BT.601, limited range.
bool AddVideoStream(VideoMuxer* m, VideoEncoder* e, int32_t width, int32_t height, Rational fps, std::string* error) {
  m->video = avformat_new_stream(m->format, nullptr);
  x264_nal_t* nals = nullptr;
  int count = 0;
  const int bytes = m->video ? x264_encoder_headers(e->x264, &nals, &count) : -1;
  if (bytes <= 0) return Fail(error, "cannot set up the video stream");
  AVCodecParameters* p = m->video->codecpar;
  p->codec_type = AVMEDIA_TYPE_VIDEO;
  p->codec_id = AV_CODEC_ID_H264;
  p->width = width;
  p->height = height;
  p->format = AV_PIX_FMT_YUV420P;
  p->color_space = AVCOL_SPC_SMPTE170M;
  p->color_range = AVCOL_RANGE_MPEG;
  p->extradata = static_cast<uint8_t*>(av_mallocz(static_cast<size_t>(bytes) + AV_INPUT_BUFFER_PADDING_SIZE));
  if (!p->extradata) return Fail(error, "out of memory");
  std::memcpy(p->extradata, nals[0].p_payload, static_cast<size_t>(bytes));
  p->extradata_size = bytes;
  const int num = static_cast<int>(fps.num), den = static_cast<int>(fps.den);  // small: the options check them
  m->frameTime = AVRational{den, num};
  m->video->time_base = m->frameTime;
  m->video->avg_frame_rate = m->video->r_frame_rate = AVRational{num, den};
  return true;
}

// The AAC encoder for 16-bit stereo at `sampleRate` and its stream.
bool OpenAudio(VideoOutput* out, uint32_t sampleRate, std::string* error) {
  const AVCodec* aac = avcodec_find_encoder(AV_CODEC_ID_AAC);
  auto a = std::make_shared<AudioEncoder>();
  a->muxer = out->muxer.get();
  a->codec = aac ? avcodec_alloc_context3(aac) : nullptr;
  a->frame = av_frame_alloc();
  a->packet = av_packet_alloc();
  if (!a->codec || !a->frame || !a->packet) return Fail(error, aac ? "out of memory" : "libavcodec has no AAC encoder");
  AVCodecContext* c = a->codec;
  c->sample_fmt = AV_SAMPLE_FMT_FLTP;
  c->sample_rate = static_cast<int>(sampleRate);
  c->ch_layout = AV_CHANNEL_LAYOUT_STEREO;
  c->bit_rate = AudioBitRate;
  c->time_base = AVRational{1, c->sample_rate};
  if (out->muxer->format->oformat->flags & AVFMT_GLOBALHEADER) c->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
  AVDictionary* options = nullptr;
  av_dict_set(&options, "aac_coder", "fast", 0);
  const int rc = avcodec_open2(c, aac, &options);
  av_dict_free(&options);
  AVStream* stream = rc >= 0 ? avformat_new_stream(out->muxer->format, nullptr) : nullptr;
  if (!stream || avcodec_parameters_from_context(stream->codecpar, c) < 0) {
    return Fail(error, "cannot open the AAC encoder: " + AvError(rc));
  }
  stream->time_base = c->time_base;
  out->muxer->audio = stream;
  a->frame->format = c->sample_fmt;
  a->frame->nb_samples = c->frame_size;
  av_channel_layout_copy(&a->frame->ch_layout, &c->ch_layout);
  if (av_frame_get_buffer(a->frame, 0) < 0) return Fail(error, "out of memory");
  out->audio = a;
  return true;
}

// Hands `frames` stereo samples (or, with null, the end of the stream) to
// the AAC encoder and writes every packet it gives back.
bool CodeAudio(AudioEncoder* a, const int16_t* samples, int frames) {
  if (samples) {
    if (av_frame_make_writable(a->frame) < 0) return false;
    auto* left = reinterpret_cast<float*>(a->frame->data[0]);
    auto* right = reinterpret_cast<float*>(a->frame->data[1]);
    for (int i = 0; i < frames; ++i) {
      left[i] = static_cast<float>(samples[2 * i]) / 32768.0f;
      right[i] = static_cast<float>(samples[2 * i + 1]) / 32768.0f;
    }
    a->frame->nb_samples = frames;
    a->frame->pts = a->samples;
    a->samples += frames;
  }
  int rc = avcodec_send_frame(a->codec, samples ? a->frame : nullptr);
  while (rc >= 0) {
    rc = avcodec_receive_packet(a->codec, a->packet);
    if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
    if (rc >= 0 && !MuxPacket(a->muxer, a->muxer->audio, a->codec->time_base, a->packet, &a->error)) return false;
  }
  return Fail(&a->error, "the AAC encoder failed: " + AvError(rc));
}

// Codes the whole AAC frames queued so far; at the end (`ending`) the rest
// too, and the encoder's flush. False (a->failed set) when that failed.
bool CodeQueuedAudio(AudioEncoder* a, bool ending) {
  if (a->failed) return false;
  {
    std::lock_guard<std::mutex> guard(a->lock);
    a->pending.insert(a->pending.end(), a->queued.begin(), a->queued.end());
    a->queued.clear();
  }
  const size_t frameSize = static_cast<size_t>(a->codec->frame_size);
  size_t at = 0;
  bool ok = true;
  for (; ok && a->pending.size() - at >= frameSize * 2; at += frameSize * 2)
    ok = CodeAudio(a, a->pending.data() + at, static_cast<int>(frameSize));
  a->pending.erase(a->pending.begin(), a->pending.begin() + static_cast<std::ptrdiff_t>(at));
  if (ok && ending) {
    if (!a->pending.empty()) ok = CodeAudio(a, a->pending.data(), static_cast<int>(a->pending.size() / 2));
    ok = ok && CodeAudio(a, nullptr, 0);
  }
  std::lock_guard<std::mutex> guard(a->lock);
  a->failed = !ok;
  return ok;
}

}  // namespace

bool VideoOutputOpen(VideoOutput* out, const std::string& outPath, int32_t width, int32_t height, Rational fps,
                     uint32_t sampleRate, std::string* error) {
  av_log_set_level(AV_LOG_ERROR);  // libav* speak only of errors, as the tool does
  *out = VideoOutput{};
  out->width = width;
  out->height = height;
  out->paddedWidth = width + (width & 1);
  out->paddedHeight = height + (height & 1);
  out->encoder = std::make_shared<VideoEncoder>();
  out->muxer = std::make_shared<VideoMuxer>();
  VideoMuxer* m = out->muxer.get();
  if (avformat_alloc_output_context2(&m->format, nullptr, nullptr, outPath.c_str()) < 0 || !m->format) {
    *error = "no container is known for the name " + outPath + " (use .mp4, .mkv or .mov)";
  } else if (OpenEncoder(out->encoder.get(), out->paddedWidth, out->paddedHeight, fps, error) &&
             AddVideoStream(m, out->encoder.get(), out->paddedWidth, out->paddedHeight, fps, error) &&
             (sampleRate == 0 || OpenAudio(out, sampleRate, error))) {
    int rc = 0;
    if (!(m->format->oformat->flags & AVFMT_NOFILE)) rc = avio_open(&m->format->pb, outPath.c_str(), AVIO_FLAG_WRITE);
    // The index at the front, so that a player can start before the whole
    // file has arrived (ignored by containers without the option).
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    if (rc >= 0) rc = avformat_write_header(m->format, &options);
    av_dict_free(&options);
    if (rc >= 0) return true;
    *error = "cannot write " + outPath + ": " + AvError(rc);
  }
  *out = VideoOutput{};
  return false;
}

namespace {

// One frame into the stream: a spliced repeat, or a picture for x264.
bool WritePicture(VideoOutput* out, const uint8_t* rgba, bool repeat) {
  VideoEncoder* e = out->encoder.get();
  const int32_t w = out->width, h = out->height, pw = out->paddedWidth;
  uint8_t* y = e->yuv.data();
  uint8_t* u = y + static_cast<size_t>(pw) * out->paddedHeight;
  uint8_t* v = u + static_cast<size_t>(pw / 2) * (out->paddedHeight / 2);
  repeat = repeat && e->frames > 0;
  const bool keyframe = e->frames - e->lastKeyframe >= KeyframeInterval;
  ++e->frames;
  if (repeat && !keyframe) {
    ++out->repeatedFrames;
    if (e->held.empty()) return WriteRepeats(out, e->frames - 1, 1);
    ++e->held.back();  // goes out after the picture x264 still holds
    return true;
  }
  // Bytes R, G, B, A are libyuv's "ABGR" (it names 32-bit words, low byte
  // last). Starting at the last row with a negative stride flips the picture
  // to top row first. A repeat due as a keyframe is already there.
  if (!repeat) libyuv::ABGRToI420(rgba + static_cast<size_t>(h - 1) * w * 4, -w * 4, y, pw, u, pw / 2, v, pw / 2, w, h);
  x264_picture_t picture;
  x264_picture_init(&picture);
  picture.img = x264_image_t{X264_CSP_I420, 3, {pw, pw / 2, pw / 2, 0}, {y, u, v, nullptr}};
  picture.i_pts = e->frames - 1;
  if (keyframe) {
    picture.i_type = X264_TYPE_IDR;
    e->lastKeyframe = e->frames - 1;
  }
  // x264 copies the picture in, so the buffer may be overwritten next frame.
  return EncodeAndWrite(out, &picture);
}

}  // namespace

bool VideoOutputWriteFrame(VideoOutput* out, const uint8_t* rgba, bool repeat) {
  if (out->failed || !out->encoder || !out->muxer) return false;
  out->failed = !WritePicture(out, rgba, repeat);
  if (!out->failed && out->audio && !CodeQueuedAudio(out->audio.get(), false)) {
    out->failed = true;
    out->error = out->audio->error;
  }
  return !out->failed;
}

bool VideoOutputWriteAudio(VideoOutput* out, const void* frames, uint32_t count) {
  AudioEncoder* a = out->audio.get();
  if (!a) return false;
  const auto* samples = static_cast<const int16_t*>(frames);
  std::lock_guard<std::mutex> guard(a->lock);
  if (a->failed) return false;
  a->queued.insert(a->queued.end(), samples, samples + static_cast<size_t>(count) * 2);
  return true;
}

bool VideoOutputClose(VideoOutput* out, std::string* error) {
  if (!out->muxer) return false;
  // The frames x264 still holds, then the audio still queued.
  while (out->encoder && !out->failed && x264_encoder_delayed_frames(out->encoder->x264) > 0)
    out->failed = !EncodeAndWrite(out, nullptr);
  if (!out->failed && out->audio && !CodeQueuedAudio(out->audio.get(), true)) {
    out->failed = true;
    out->error = out->audio->error;
  }
  int rc = 0;
  if (!out->failed) {
    rc = av_write_trailer(out->muxer->format);
    if (rc < 0) out->error = "cannot finish the video file: " + AvError(rc);
  }
  out->audio.reset();
  out->encoder.reset();
  out->muxer.reset();  // closes the file
  if (out->failed || rc < 0) {
    return Fail(error, out->error.empty() ? "the video could not be written" : out->error);
  }
  return true;
}

// Command-line options of zephyra-capture.
#include "capture/capture_options.h"

#include "capture/fail.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iterator>
#include <utility>

std::string CaptureUsage() {
  return
      "Usage: zephyra-capture [options]\n"
      "Renders the demo offscreen, frame by frame on the clock of its decoded music,\n"
      "and writes numbered PNG frames plus a WAV file, or a video file.\n"
      "\n"
      "Output:\n"
      "  -o, --out DIR            folder for frame_000000.png ..., audio.wav, timeline.txt,\n"
      "                           frames.txt and contact-sheet.png (default: capture)\n"
      "      --video FILE         a video file instead (H.264 yuv420p + AAC, e.g. demo.mp4),\n"
      "                           encoded in-process (x264, AAC); the logs go beside it\n"
      "                           as FILE.timeline.txt, FILE.frames.txt, FILE.contact.png\n"
      "      --discard            render and read back every frame but write nothing (no\n"
      "                           frames, WAV, logs or contact sheet unless asked for):\n"
      "                           the speed floor the outputs are measured against\n"
      "      --timeline FILE      timeline: one line per tick (time, order, row,\n"
      "                           SceneMode, CueCount)\n"
      "      --contact-sheet FILE one labelled thumbnail per scene change and per cue\n"
      "      --frame-log FILE     one line per frame written\n"
      "      --png-level N        zlib level of the frame PNGs, 0-9 (default 1)\n"
      "\n"
      "Picture and time:\n"
      "  -s, --size WxH           output size in pixels (default 640x480); the view\n"
      "                           keeps a 45 degree vertical field at the size's aspect\n"
      "  -r, --fps RATE           frames per second of music time: 60 (default), 25,\n"
      "                           60000/1001, 29.97\n"
      "      --from TIME          first frame at or after TIME (seconds, or m:ss.s)\n"
      "      --to TIME            stop before TIME (default: when the demo ends itself)\n"
      "      --at TIME[,TIME...]  write only the frames at these times (stills)\n"
      "      --seed N             random seed (default 1; the same seed gives the same frames)\n"
      "      --fullscreen-look    16-bit texels, as the demo shows them in full screen\n"
      "      --windowed           24-bit texels, as in a window (default)\n"
      "\n"
      "Other:\n"
      "      --library PATH       the sound library (default ./bassmod.so)\n"
      "      --quiet              no progress line\n"
      "      --timing             print where the time went (render, readback, encode)\n"
      "  -h, --help               this text\n";
}

namespace {

// Decimal digits only, 1 to `most` of them.
bool Digits(const std::string& text, size_t most) {
  return !text.empty() && text.size() <= most && text.find_first_not_of("0123456789") == std::string::npos;
}

// "WxH" into width and height (each 16 to 8192).
bool ParseSize(const std::string& text, int32_t* width, int32_t* height) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos || !Digits(text.substr(0, x), 5) || !Digits(text.substr(x + 1), 5)) return false;
  const long wv = std::strtol(text.c_str(), nullptr, 10), hv = std::strtol(text.c_str() + x + 1, nullptr, 10);
  if (wv < 16 || hv < 16 || wv > 8192 || hv > 8192) return false;
  *width = static_cast<int32_t>(wv);
  *height = static_cast<int32_t>(hv);
  return true;
}

// The one-letter names and the long names they stand for.
constexpr std::pair<const char*, const char*> ShortNames[] = {
    {"-h", "--help"}, {"-o", "--out"}, {"-s", "--size"}, {"-r", "--fps"}};

// The options that take no value: each sets one switch.
struct Switch {
  const char* name;
  bool CaptureOptions::*field;
  bool value;
};
constexpr Switch Switches[] = {
    {"--help", &CaptureOptions::help, true},
    {"--discard", &CaptureOptions::discard, true},
    {"--fullscreen-look", &CaptureOptions::fullscreenLook, true},
    {"--windowed", &CaptureOptions::fullscreenLook, false},
    {"--quiet", &CaptureOptions::progress, false},
    {"--timing", &CaptureOptions::timing, true},
};

// The options whose value is a path, kept as given; `empty` (when set) is
// the reason an empty one is refused.
struct PathOption {
  const char* name;
  std::string CaptureOptions::*field;
  const char* empty;
};
constexpr PathOption Paths[] = {
    {"--out", &CaptureOptions::outDir, "--out needs a folder name"},
    {"--video", &CaptureOptions::videoPath, "--video needs a file name"},
    {"--timeline", &CaptureOptions::timelinePath, nullptr},
    {"--contact-sheet", &CaptureOptions::contactSheetPath, nullptr},
    {"--frame-log", &CaptureOptions::frameLogPath, nullptr},
    {"--library", &CaptureOptions::libraryPath, nullptr},
};

// The options whose value is read by ApplyValue.
constexpr const char* ValueOptions[] = {"--png-level", "--size", "--fps", "--seed", "--from", "--to", "--at"};

template <class T, size_t N>
const T* Find(const T (&table)[N], const std::string& name) {
  for (const T& entry : table)
    if (name == entry.name) return &entry;
  return nullptr;
}

// Applies one of ValueOptions. False with a reason in *error.
bool ApplyValue(const std::string& name, const std::string& v, CaptureOptions* o, std::string* error) {
  Rational t;
  if (name == "--png-level") {
    if (v.size() != 1 || v[0] < '0' || v[0] > '9') return Fail(error, "--png-level takes 0 to 9");
    o->pngLevel = v[0] - '0';
  } else if (name == "--size") {
    if (!ParseSize(v, &o->width, &o->height))
      return Fail(error, "bad size '" + v + "': give WIDTHxHEIGHT, each 16 to 8192");
  } else if (name == "--fps") {
    if (!ParseFrameRate(v, &o->fps))
      return Fail(error, "bad frame rate '" + v + "': give e.g. 60, 25, 60000/1001 or 29.97 (at most 1000)");
  } else if (name == "--seed") {
    const unsigned long long seed = Digits(v, 10) ? std::strtoull(v.c_str(), nullptr, 10) : ~0ull;
    if (seed > 0xFFFFFFFFull) return Fail(error, "bad seed '" + v + "': give 0 to 4294967295");
    o->seed = static_cast<uint32_t>(seed);
  } else if (name == "--at") {
    for (size_t start = 0; start <= v.size();) {
      const size_t comma = std::min(v.find(',', start), v.size());
      const std::string part = v.substr(start, comma - start);
      if (!ParseMusicTime(part, &t)) return Fail(error, "bad time '" + part + "' in --at");
      o->at.push_back(t);
      start = comma + 1;
    }
  } else {  // --from, --to
    if (!ParseMusicTime(v, &t)) return Fail(error, "bad time '" + v + "' for " + name + ": give seconds or m:ss.s");
    const bool from = name == "--from";
    (from ? o->from : o->to) = t;
    (from ? o->haveFrom : o->haveTo) = true;
  }
  return true;
}

// The combinations that make no sense, then the logs' default places.
bool CheckAndComplete(CaptureOptions* o, std::string* error) {
  const bool video = !o->videoPath.empty();
  const std::pair<bool, const char*> refusals[] = {
      {o->haveFrom && o->haveTo && !RationalLess(o->from, o->to), "--from must come before --to"},
      {!o->at.empty() && (o->haveFrom || o->haveTo), "--at cannot be combined with --from or --to"},
      {video && !o->outDir.empty(), "give either --out (PNG frames) or --video, not both"},
      {o->discard && (video || !o->outDir.empty()), "--discard writes no frames: give it without --out or --video"},
  };
  for (const auto& [refused, why] : refusals)
    if (refused) return Fail(error, why);
  if (o->discard) return true;  // only the logs asked for by name are written
  if (!video && o->outDir.empty()) o->outDir = "capture";
  // Beside the video as NAME.timeline.txt, ...; in the output folder otherwise.
  const std::string base =
      video ? std::filesystem::path(o->videoPath).replace_extension().string() + "." : o->outDir + "/";
  if (o->timelinePath.empty()) o->timelinePath = base + "timeline.txt";
  if (o->contactSheetPath.empty()) o->contactSheetPath = base + (video ? "contact.png" : "contact-sheet.png");
  if (o->frameLogPath.empty()) o->frameLogPath = base + "frames.txt";
  return true;
}

}  // namespace

bool ParseCaptureOptions(int argc, const char* const* argv, CaptureOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    // A value comes with a long name (--name=value) or as the next argument.
    const size_t eq = arg.rfind("--", 0) == 0 ? arg.find('=') : std::string::npos;
    std::string name = arg.substr(0, eq);
    for (const auto& [letter, longName] : ShortNames)
      if (name == letter) name = longName;
    if (const Switch* s = Find(Switches, name)) {
      if (eq != std::string::npos) return Fail(error, "option " + name + " takes no value");
      o->*s->field = s->value;
      continue;
    }
    const PathOption* path = Find(Paths, name);
    if (!path && std::find(std::begin(ValueOptions), std::end(ValueOptions), name) == std::end(ValueOptions))
      return Fail(error, "unknown option '" + arg + "' (see --help)");
    if (eq == std::string::npos && i + 1 >= argc) return Fail(error, "option " + name + " needs a value");
    const std::string value = eq != std::string::npos ? arg.substr(eq + 1) : argv[++i];
    if (path && path->empty && value.empty()) return Fail(error, path->empty);
    if (path) o->*path->field = value;
    if (!path && !ApplyValue(name, value, o, error)) return false;
  }
  return CheckAndComplete(o, error);
}

// Command-line options of zephyra-capture.
#include "capture/capture_options.h"

#include <cstdlib>

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

bool ParseSize(const std::string& text, int32_t* width, int32_t* height) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
  const std::string w = text.substr(0, x), h = text.substr(x + 1);
  for (const std::string* part : {&w, &h})
    if (part->size() > 5 || part->find_first_not_of("0123456789") != std::string::npos) return false;
  const long wv = std::strtol(w.c_str(), nullptr, 10), hv = std::strtol(h.c_str(), nullptr, 10);
  if (wv < 16 || hv < 16 || wv > 8192 || hv > 8192) return false;
  *width = static_cast<int32_t>(wv);
  *height = static_cast<int32_t>(hv);
  return true;
}

namespace {

bool ParseSeed(const std::string& text, uint32_t* seed) {
  if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos) return false;
  const unsigned long long v = std::strtoull(text.c_str(), nullptr, 10);
  if (v > 0xFFFFFFFFull) return false;
  *seed = static_cast<uint32_t>(v);
  return true;
}

// "base" of a video path without its extension, for the logs beside it.
std::string StripExtension(const std::string& path) {
  const size_t slash = path.rfind('/');
  const size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash) || dot == 0) return path;
  return path.substr(0, dot);
}

}  // namespace

namespace {

// One option as given: its name, and its value when one came with it
// (--name=value) or follows it on the command line.
struct OptionArgs {
  int argc;
  const char* const* argv;
  int* at;  // the option's index; moves past a value taken from the next argument
  std::string name, value;
  bool inlineValue = false;
  std::string* error;
  bool Take(std::string* out) {
    if (inlineValue) {
      *out = value;
      return true;
    }
    if (*at + 1 >= argc) {
      *error = "option " + name + " needs a value";
      return false;
    }
    *out = argv[++*at];
    return true;
  }
  bool None() {
    if (inlineValue) *error = "option " + name + " takes no value";
    return !inlineValue;
  }
};

// Applies one option to *o. False with a reason in *error; an unknown name
// answers false with an empty *error.
bool ApplyOption(OptionArgs& a, CaptureOptions* o, std::string* error) {
  const std::string& name = a.name;
  auto takeValue = [&a](std::string* out) { return a.Take(out); };
  auto noValue = [&a]() { return a.None(); };
  std::string v;
  if (name == "-h" || name == "--help") {
    if (!noValue()) return false;
    o->help = true;
  } else if (name == "-o" || name == "--out") {
    if (!takeValue(&o->outDir)) return false;
    if (o->outDir.empty()) return *error = "--out needs a folder name", false;
  } else if (name == "--video") {
    if (!takeValue(&o->videoPath)) return false;
    if (o->videoPath.empty()) return *error = "--video needs a file name", false;
  } else if (name == "--discard") {
    if (!noValue()) return false;
    o->discard = true;
  } else if (name == "--timeline") {
    if (!takeValue(&o->timelinePath)) return false;
  } else if (name == "--contact-sheet") {
    if (!takeValue(&o->contactSheetPath)) return false;
  } else if (name == "--frame-log") {
    if (!takeValue(&o->frameLogPath)) return false;
  } else if (name == "--library") {
    if (!takeValue(&o->libraryPath)) return false;
  } else if (name == "--png-level") {
    if (!takeValue(&v)) return false;
    if (v.size() != 1 || v[0] < '0' || v[0] > '9') return *error = "--png-level takes 0 to 9", false;
    o->pngLevel = v[0] - '0';
  } else if (name == "-s" || name == "--size") {
    if (!takeValue(&v)) return false;
    if (!ParseSize(v, &o->width, &o->height))
      return *error = "bad size '" + v + "': give WIDTHxHEIGHT, each 16 to 8192", false;
  } else if (name == "-r" || name == "--fps") {
    if (!takeValue(&v)) return false;
    if (!ParseFrameRate(v, &o->fps))
      return *error = "bad frame rate '" + v + "': give e.g. 60, 25, 60000/1001 or 29.97 (at most 1000)", false;
  } else if (name == "--seed") {
    if (!takeValue(&v)) return false;
    if (!ParseSeed(v, &o->seed)) return *error = "bad seed '" + v + "': give 0 to 4294967295", false;
  } else if (name == "--fullscreen-look") {
    if (!noValue()) return false;
    o->fullscreenLook = true;
  } else if (name == "--windowed") {
    if (!noValue()) return false;
    o->fullscreenLook = false;
  } else if (name == "--from" || name == "--to") {
    if (!takeValue(&v)) return false;
    Rational t;
    if (!ParseMusicTime(v, &t)) return *error = "bad time '" + v + "' for " + name + ": give seconds or m:ss.s", false;
    if (name == "--from") {
      o->from = t;
      o->haveFrom = true;
    } else {
      o->to = t;
      o->haveTo = true;
    }
  } else if (name == "--at") {
    if (!takeValue(&v)) return false;
    size_t start = 0;
    while (start <= v.size()) {
      size_t comma = v.find(',', start);
      if (comma == std::string::npos) comma = v.size();
      Rational t;
      const std::string part = v.substr(start, comma - start);
      if (!ParseMusicTime(part, &t)) return *error = "bad time '" + part + "' in --at", false;
      o->at.push_back(t);
      start = comma + 1;
    }
  } else if (name == "--quiet") {
    if (!noValue()) return false;
    o->progress = false;
  } else if (name == "--timing") {
    if (!noValue()) return false;
    o->timing = true;
  } else {
    return false;
  }
  return true;
}

// The combinations that make no sense, then the logs' default places.
bool CheckAndComplete(CaptureOptions* o, std::string* error) {
  if (o->haveFrom && o->haveTo && !RationalLess(o->from, o->to)) {
    *error = "--from must come before --to";
    return false;
  }
  if (!o->at.empty() && (o->haveFrom || o->haveTo)) {
    *error = "--at cannot be combined with --from or --to";
    return false;
  }
  if (!o->videoPath.empty() && !o->outDir.empty()) {
    *error = "give either --out (PNG frames) or --video, not both";
    return false;
  }
  if (o->discard && (!o->videoPath.empty() || !o->outDir.empty())) {
    *error = "--discard writes no frames: give it without --out or --video";
    return false;
  }
  if (o->discard) {
    // Only the logs asked for by name are written.
  } else if (o->videoPath.empty()) {
    if (o->outDir.empty()) o->outDir = "capture";
    if (o->timelinePath.empty()) o->timelinePath = o->outDir + "/timeline.txt";
    if (o->contactSheetPath.empty()) o->contactSheetPath = o->outDir + "/contact-sheet.png";
    if (o->frameLogPath.empty()) o->frameLogPath = o->outDir + "/frames.txt";
  } else {
    const std::string base = StripExtension(o->videoPath);
    if (o->timelinePath.empty()) o->timelinePath = base + ".timeline.txt";
    if (o->contactSheetPath.empty()) o->contactSheetPath = base + ".contact.png";
    if (o->frameLogPath.empty()) o->frameLogPath = base + ".frames.txt";
  }
  return true;
}

}  // namespace

bool ParseCaptureOptions(int argc, const char* const* argv, CaptureOptions* o, std::string* error) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    OptionArgs a{argc, argv, &i, arg, "", false, error};
    const size_t eq = arg.find('=');
    if (arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      a.name = arg.substr(0, eq);
      a.value = arg.substr(eq + 1);
      a.inlineValue = true;
    }
    error->clear();
    if (ApplyOption(a, o, error)) continue;
    if (error->empty()) *error = "unknown option '" + arg + "' (see --help)";
    return false;
  }
  return CheckAndComplete(o, error);
}

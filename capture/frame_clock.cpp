// Exact music-time arithmetic for the capture.
#include "capture/frame_clock.h"

#include <cstdio>
#include <numeric>

Rational MakeRational(int64_t num, int64_t den) {
  const int64_t g = std::gcd(num < 0 ? -num : num, den);  // den > 0, so g > 0
  return Rational{num / g, den / g};
}

bool RationalLess(Rational a, Rational b) {
  // Cross products in 128 bits: both sides stay exact for any 64-bit terms.
  return static_cast<__int128>(a.num) * b.den < static_cast<__int128>(b.num) * a.den;
}

namespace {

constexpr int64_t kMaxTerm = 1000000000;  // 10^9: keeps every product below 2^127

// Unsigned decimal "123" or "123.456" into num / 10^k. False on anything else.
bool ParseDecimal(const std::string& text, Rational* out) {
  if (text.empty()) return false;
  int64_t num = 0, den = 1;
  bool seenDot = false, seenDigit = false;
  for (char c : text) {
    if (c == '.') {
      if (seenDot) return false;
      seenDot = true;
      continue;
    }
    if (c < '0' || c > '9') return false;
    seenDigit = true;
    if (num > kMaxTerm * 1000 || den >= kMaxTerm) return false;  // too many digits
    num = num * 10 + (c - '0');
    if (seenDot) den *= 10;
  }
  if (!seenDigit) return false;
  *out = MakeRational(num, den);
  return true;
}

}  // namespace

bool ParseFrameRate(const std::string& text, Rational* out) {
  Rational r;
  const size_t slash = text.find('/');
  if (slash != std::string::npos) {
    Rational n, d;
    if (!ParseDecimal(text.substr(0, slash), &n) || !ParseDecimal(text.substr(slash + 1), &d)) return false;
    if (n.den != 1 || d.den != 1 || d.num == 0) return false;  // "a/b" takes whole numbers
    r = MakeRational(n.num, d.num);
  } else if (!ParseDecimal(text, &r)) {
    return false;
  }
  if (r.num <= 0 || r.num >= kMaxTerm || r.den >= kMaxTerm) return false;
  if (RationalLess(Rational{1000, 1}, r)) return false;
  *out = r;
  return true;
}

bool ParseMusicTime(const std::string& text, Rational* out) {
  const size_t colon = text.find(':');
  if (colon == std::string::npos) {
    Rational r;
    if (!ParseDecimal(text, &r) || r.num >= kMaxTerm * 1000) return false;
    *out = r;
    return true;
  }
  Rational minutes, seconds;
  if (!ParseDecimal(text.substr(0, colon), &minutes) || minutes.den != 1 || minutes.num > 10000) return false;
  if (!ParseDecimal(text.substr(colon + 1), &seconds) || !RationalLess(seconds, Rational{60, 1})) return false;
  *out = MakeRational(minutes.num * 60 * seconds.den + seconds.num, seconds.den);
  return true;
}

int64_t FrameSample(int64_t frame, Rational fps) {
  const __int128 n = static_cast<__int128>(frame) * CaptureSampleRate * fps.den;
  return static_cast<int64_t>(n / fps.num);
}

int64_t FirstFrameAtOrAfter(Rational time, Rational fps) {
  // k >= time * fps = (time.num * fps.num) / (time.den * fps.den)
  const __int128 n = static_cast<__int128>(time.num) * fps.num;
  const __int128 d = static_cast<__int128>(time.den) * fps.den;
  return static_cast<int64_t>((n + d - 1) / d);
}

std::string FormatSampleTime(int64_t sample) {
  const int64_t ms = sample * 1000 / CaptureSampleRate;
  char text[32];
  std::snprintf(text, sizeof text, "%lld:%02lld.%03lld", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
  return text;
}

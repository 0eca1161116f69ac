// Exact music-time arithmetic for the capture: rationals, sample positions of
// frames and ticks, and parsing of frame rates and times.
#pragma once
#include <cstdint>
#include <string>

// Sample rate of the decoded music (Hz). The sound library is initialised at
// this rate, and every capture time is a whole number of these samples.
constexpr int64_t CaptureSampleRate = 44100;
// One animation tick every 40 ms of music: 1764 samples at 44,100 Hz.
constexpr int64_t CaptureTickSamples = CaptureSampleRate * 40 / 1000;

// A non-negative rational number num / den (den > 0), kept in lowest terms.
struct Rational {
  int64_t num = 0;
  int64_t den = 1;
};

Rational MakeRational(int64_t num, int64_t den);  // reduces; den must be > 0
bool RationalLess(Rational a, Rational b);

// Parses a frame rate: "60", "60000/1001" or a decimal such as "29.97".
// False (and leaves *out alone) when the text is not a positive rate of at
// most 1000 frames per second with numerator and denominator below 10^9.
bool ParseFrameRate(const std::string& text, Rational* out);
// Parses a music time: seconds "12", "12.345", or minutes and seconds
// "1:05.5". False when malformed or negative.
bool ParseMusicTime(const std::string& text, Rational* out);

// Frame k of a capture at `fps` is the picture at music time k / fps. It sees
// every event (sync, tick) at a sample s with s <= FrameSample(k), i.e. the
// frame's sample is the floor of k * 44100 / fps. Exact for any rational fps.
int64_t FrameSample(int64_t frame, Rational fps);
// The first frame whose time is at or after `time` (ceil(time * fps)).
int64_t FirstFrameAtOrAfter(Rational time, Rational fps);
// "m:ss.mmm" for a sample position, for labels and the progress line.
std::string FormatSampleTime(int64_t sample);

// Tick count and sleep in the browser: the page's clock, and a sleep that
// hands the page back to the browser (ASYNCIFY) until it is over.
#include <emscripten.h>

#include "platform/clock.h"
#include "platform/web/web_clock.h"

namespace {

// A loop that goes this long without sleeping gets one yield from the queue.
constexpr double YieldEveryMs = 10.0;
double lastYield = 0.0;

void Yield(uint32_t ms) {
  emscripten_sleep(ms);
  lastYield = emscripten_get_now();
}

}  // namespace

double WebClockNow() { return emscripten_get_now(); }

void WebYieldIfDue() {
  if (emscripten_get_now() - lastYield >= YieldEveryMs) Yield(0);
}

// Milliseconds since the page started, wrapping at 2^32 like a tick count.
uint32_t PlatformTickCount() { return static_cast<uint32_t>(static_cast<uint64_t>(emscripten_get_now())); }

// The browser runs events, timers and the canvas's display meanwhile; its
// timers are at least as coarse as the request (about 4 ms for short ones).
void PlatformSleep(uint32_t ms) { Yield(ms); }

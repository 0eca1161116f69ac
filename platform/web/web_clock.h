// The page's clock and the yields that hand the page back to the browser,
// shared by the web backend's clock and message queue.
#pragma once

// Milliseconds since the page started (performance.now()).
double WebClockNow();
// Hands the page to the browser once when it has not had it for a while
// (ASYNCIFY sleep), so a loop that never sleeps still receives events.
void WebYieldIfDue();

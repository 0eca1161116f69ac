// How late this machine wakes a sleeping thread while a timing test runs.
// A sync fires from a thread that sleeps until the sync is due, so on a busy
// machine every sync is late by the scheduler's wake-up delay, which says
// nothing about the library. A probe thread sleeps until a deadline every
// 5 ms meanwhile and records how late it woke; a timing test allows that
// much more (the probe's median for its median, its 90th percentile for
// its nine in ten). An idle machine wakes within a fraction of a
// millisecond, so there the bounds stay as tight as they are.
#pragma once
#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

struct WakeProbe {
  std::atomic<bool> running{true};
  std::vector<double> lateMs;  // written by the probe thread until joined
  std::thread thread{[this] {
    using Clock = std::chrono::steady_clock;
    while (running) {
      const Clock::time_point due = Clock::now() + std::chrono::milliseconds(5);
      std::this_thread::sleep_until(due);
      lateMs.push_back(std::chrono::duration<double, std::milli>(Clock::now() - due).count());
    }
  }};

  // Stops the probe; the wake-up delay (ms) that `fraction` of its wake-ups
  // stayed within (0.5: the median).
  double Stop(double fraction) {
    if (thread.joinable()) {
      running = false;
      thread.join();
    }
    return Quantile(fraction);
  }
  double Quantile(double fraction) {
    if (lateMs.empty()) return 0.0;
    std::vector<double> sorted = lateMs;
    std::sort(sorted.begin(), sorted.end());
    return sorted[static_cast<size_t>(fraction * static_cast<double>(sorted.size() - 1))];
  }
  ~WakeProbe() { Stop(0.5); }
};

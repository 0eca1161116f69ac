// Reading the capture's text logs back for the tests.
#include "tests/capture/support/log_read.h"

#include <cinttypes>
#include <cstdio>

bool ParseTimelineLine(const std::string& line, std::string* kind, TimelineState* s) {
  char word[16];
  double seconds;
  TimelineState t;
  if (std::sscanf(line.c_str(), "%15s %lf %" SCNd64 " %u %u %d %d %d", word, &seconds, &t.sample, &t.order, &t.row,
                  &t.sceneMode, &t.cueCount, &t.demoDone) != 8 || word[0] == '#')
    return false;
  *kind = word;
  *s = t;
  return true;
}

bool ParseFrameLine(const std::string& line, int64_t* frame, TimelineState* s) {
  TimelineState t;
  int64_t f;
  if (std::sscanf(line.c_str(), "frame %" SCNd64 " %" SCNd64 " %u %u %d %d", &f, &t.sample, &t.order, &t.row,
                  &t.sceneMode, &t.cueCount) != 6)
    return false;
  *frame = f;
  *s = t;
  return true;
}

// Reading the capture's text logs back for the tests.
#pragma once
#include <cstdint>
#include <string>

#include "capture/timeline.h"

// Parses a line made by FormatTimelineLine; false for comments and others.
bool ParseTimelineLine(const std::string& line, std::string* kind, TimelineState* s);
// Parses a line made by FormatFrameLine; false for comments and others.
bool ParseFrameLine(const std::string& line, int64_t* frame, TimelineState* s);

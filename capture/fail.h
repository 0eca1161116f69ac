// The capture's error path: the reason into *error, and false.
#pragma once
#include <string>
#include <utility>

inline bool Fail(std::string* error, std::string why) {
  *error = std::move(why);
  return false;
}

// The flood programs' optional numeric arguments (devices, rate, seconds).
#pragma once

#include <cstdlib>

// argv[index] when given, which must be a positive number; true when it is
// absent (value keeps its default) or valid.
inline bool ParsePositiveArgument(int argc, char** argv, int index, double& value) {
  if (argc <= index) return true;
  char* end = nullptr;
  value = std::strtod(argv[index], &end);
  return end != argv[index] && *end == '\0' && value > 0;
}

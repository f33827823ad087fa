// The one conversion of the engine's paths into POSIX system paths, shared by
// the POSIX file and private-profile implementations: each "\" the engine
// built into a path is a "/" for the system.
#pragma once

#include <cstddef>

namespace ravelo::platform {

// Room for any path the system accepts; longer ones are refused.
inline constexpr size_t kSystemPathSize = 4096;

// The path with each "\" turned into "/", in a buffer of the caller's.
// False when path is null, empty or does not fit.
inline bool SystemPath(const char* path, char (&out)[kSystemPathSize]) {
  if (path == nullptr || path[0] == '\0') return false;
  size_t i = 0;
  for (; path[i] != '\0'; ++i) {
    if (i + 1 >= kSystemPathSize) return false;
    out[i] = path[i] == '\\' ? '/' : path[i];
  }
  out[i] = '\0';
  return true;
}

}  // namespace ravelo::platform

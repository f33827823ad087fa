#include "logger_layout.h"

#include <cerrno>

namespace ravelo::cli {

long long ReadAt(int fd, uint64_t offset, uint8_t* into, size_t size) {
  size_t done = 0;
  while (done < size) {
    ssize_t n = pread(fd, into + done, size - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<long long>(done);
}

}  // namespace ravelo::cli

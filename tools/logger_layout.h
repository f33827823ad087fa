// Reading a logger file's bytes through a file descriptor, as ravelo info and
// ravelo convert both do: exact reads at an offset, and the records of the
// record area one block at a time.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "common/logger_file.h"

namespace ravelo::cli {

// Closes fd when it goes out of scope.
struct FdCloser {
  int fd;
  ~FdCloser() { close(fd); }
};

// Reads exactly size bytes at offset unless the file ends first; returns the
// count read, or -1 on a read error (errno says which).
long long ReadAt(int fd, uint64_t offset, uint8_t* into, size_t size);

enum class WalkEnd {
  kComplete,   // all of the bytes were read
  kShort,      // the file ended before them (it shrank while it was read)
  kReadError,  // errno says which
};

// Reads length bytes from start in blocks of blockSize (a multiple of 8) and
// calls onRecord(q38::Record) for each whole record, in order.
template <class F>
WalkEnd WalkRecords(int fd, uint64_t start, uint64_t length, size_t blockSize, F&& onRecord) {
  std::vector<uint8_t> block(blockSize);
  for (uint64_t offset = 0; offset + 8 <= length;) {
    const uint64_t want = length - offset < blockSize ? length - offset : blockSize;
    const long long got = ReadAt(fd, start + offset, block.data(), static_cast<size_t>(want));
    if (got < 0) return WalkEnd::kReadError;
    for (size_t at = 0; at + 8 <= static_cast<size_t>(got); at += 8) {
      onRecord(q38::DecodeRecord(block.data() + at));
    }
    if (static_cast<uint64_t>(got) < want) return WalkEnd::kShort;
    offset += want;
  }
  return WalkEnd::kComplete;
}

}  // namespace ravelo::cli

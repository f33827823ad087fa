// Reading and writing the bytes of logger files (.Q38), for the command line,
// the benchmarks and the tests. Header-only; depends on nothing but the
// standard library, so programs that use only the public API can use it.
//
// Layout: little-endian; bytes 2..5 dataEnd, 6..9 dataStart, six 16-byte memo
// fields at offset 486, 8-byte records from dataStart to dataEnd.
#pragma once

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace ravelo::q38 {

inline constexpr uint32_t kMemoOffset = 486;
inline constexpr uint32_t kMemoSize = 16;
inline constexpr uint32_t kDefaultDataStart = 1024;

struct Record {
  int year = 2000;  // 2000..2127
  int month = 1, day = 1, hour = 0, minute = 0, second = 0;
  int mode = 0;      // 0..127
  int channel = 0;   // 0..255
  uint16_t value = 0;
};

// The 8 bytes of one record. Fields are masked to their bit widths.
inline std::array<uint8_t, 8> EncodeRecord(const Record& r) {
  uint64_t bits = 0;
  bits = (bits << 7) | (static_cast<uint64_t>(r.year - 2000) & 0x7F);
  bits = (bits << 4) | (static_cast<uint64_t>(r.month) & 0x0F);
  bits = (bits << 5) | (static_cast<uint64_t>(r.day) & 0x1F);
  bits = (bits << 5) | (static_cast<uint64_t>(r.hour) & 0x1F);
  bits = (bits << 6) | (static_cast<uint64_t>(r.minute) & 0x3F);
  bits = (bits << 6) | (static_cast<uint64_t>(r.second) & 0x3F);
  bits = (bits << 7) | (static_cast<uint64_t>(r.mode) & 0x7F);
  std::array<uint8_t, 8> b{};
  for (int i = 0; i < 5; ++i) b[i] = static_cast<uint8_t>(bits >> (8 * (4 - i)));
  b[5] = static_cast<uint8_t>(r.channel);
  b[6] = static_cast<uint8_t>(r.value & 0xFF);
  b[7] = static_cast<uint8_t>(r.value >> 8);
  return b;
}

inline Record DecodeRecord(const uint8_t* b) {
  Record r;
  r.year = 2000 + (b[0] >> 1);
  r.month = ((b[0] & 1) << 3) | (b[1] >> 5);
  r.day = b[1] & 0x1F;
  r.hour = b[2] >> 3;
  r.minute = ((b[2] & 7) << 3) | (b[3] >> 5);
  r.second = ((b[3] & 0x1F) << 1) | (b[4] >> 7);
  r.mode = b[4] & 0x7F;
  r.channel = b[5];
  r.value = static_cast<uint16_t>(b[6] | (b[7] << 8));
  return r;
}

// Days of a month of the calendar; 31 for a month outside 1..12.
inline int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 31;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

inline void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

inline uint32_t GetU32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// The texts of the six memo fields (the 96 bytes at kMemoOffset): each up to
// its first zero byte, at most kMemoSize bytes.
inline void MemoTexts(const uint8_t* memoBytes, std::string memos[6]) {
  for (int m = 0; m < 6; ++m) {
    const char* field = reinterpret_cast<const char*>(memoBytes + kMemoSize * m);
    const void* zero = std::memchr(field, 0, kMemoSize);
    memos[m].assign(field, zero ? static_cast<const char*>(zero) - field : kMemoSize);
  }
}

// The record area of a file of size bytes as a reader finds it: dataEnd -
// dataStart bytes (wrapping) from dataStart, as far as the file goes.
struct RecordArea {
  uint32_t length = 0;     // dataEnd - dataStart, wrapping
  uint64_t available = 0;  // the bytes of the file from dataStart on
  uint64_t present = 0;    // the bytes of the area that the file holds

  // How far the area reaches beyond the end of the file.
  uint64_t MissingBytes() const { return available < length ? length - available : 0; }
  // The bytes after the last whole record of an area the file holds completely.
  uint32_t TailBytes() const { return available < length ? 0 : length % 8; }
};

inline RecordArea RecordAreaOf(uint32_t dataEnd, uint32_t dataStart, uint64_t size) {
  RecordArea area;
  area.length = dataEnd - dataStart;
  area.available = size > dataStart ? size - dataStart : 0;
  area.present = area.available < area.length ? area.available : area.length;
  return area;
}

// Builds a logger file in memory: header, memos, then records appended in
// order. dataEnd is set to the end of the records by Bytes().
class Writer {
 public:
  explicit Writer(uint32_t dataStart = kDefaultDataStart) : bytes_(dataStart, 0) {
    bytes_[0] = 'Q';
    bytes_[1] = '8';
    PutU32(bytes_, 6, dataStart);
  }

  // Memo n (1..6): up to 16 bytes; longer texts are cut.
  void SetMemo(int n, const std::string& text) {
    size_t at = kMemoOffset + kMemoSize * static_cast<size_t>(n - 1);
    std::memset(&bytes_[at], 0, kMemoSize);
    std::memcpy(&bytes_[at], text.data(), text.size() < kMemoSize ? text.size() : kMemoSize);
  }

  void Add(const Record& r) {
    auto b = EncodeRecord(r);
    bytes_.insert(bytes_.end(), b.begin(), b.end());
  }

  size_t RecordCount() const { return (bytes_.size() - DataStart()) / 8; }
  uint32_t DataStart() const { return GetU32(&bytes_[6]); }

  // The finished file. dataEnd defaults to the end of the records.
  std::vector<uint8_t> Bytes() const {
    std::vector<uint8_t> out = bytes_;
    PutU32(out, 2, static_cast<uint32_t>(out.size()));
    return out;
  }

  bool Save(const std::string& path) const {
    std::vector<uint8_t> out = Bytes();
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = std::fwrite(out.data(), 1, out.size(), f) == out.size();
    return std::fclose(f) == 0 && ok;
  }

 private:
  std::vector<uint8_t> bytes_;
};

}  // namespace ravelo::q38

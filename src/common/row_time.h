// The digits of small numbers and the date and time of a row, used by the
// field texts, the file names and the writer alike.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "api/types.h"

namespace ravelo {

// A row's date and time, "%4d/%02d/%02d,%02d:%02d:%02d", has 19 characters
// when every part fills its width: a year of 4 digits, the other parts 0..99.
// Such a row's fields are at most 11 characters long.
inline constexpr uint32_t kPlainRowTimeLength = 19;
inline bool HasPlainRowTime(const LoggerTimestamp& time) {
  return static_cast<uint32_t>(time.year) - 1000u <= 8999u &&
         static_cast<uint32_t>(time.month) <= 99u && static_cast<uint32_t>(time.day) <= 99u &&
         static_cast<uint32_t>(time.hour) <= 99u && static_cast<uint32_t>(time.minute) <= 99u &&
         static_cast<uint32_t>(time.second) <= 99u;
}

// "00" to "99": the two digits of each number below 100.
struct TwoDigitTable {
  char digits[100][2];
  constexpr TwoDigitTable() : digits{} {
    for (int i = 0; i < 100; ++i) {
      digits[i][0] = static_cast<char>('0' + i / 10);
      digits[i][1] = static_cast<char>('0' + i % 10);
    }
  }
  constexpr const char* operator[](int i) const { return digits[i]; }
};
inline constexpr TwoDigitTable kTwoDigits;

// The same two digits as a number: the first digit in the low byte, so that
// a little-endian store writes them in order.
struct TwoDigitWordTable {
  uint16_t words[100];
  constexpr TwoDigitWordTable() : words{} {
    for (int i = 0; i < 100; ++i) {
      words[i] = static_cast<uint16_t>(('0' + i / 10) | (('0' + i % 10) << 8));
    }
  }
  constexpr uint64_t operator[](int i) const { return words[i]; }
};
inline constexpr TwoDigitWordTable kTwoDigitWords;

// Stores the 8 characters of word, the first in its lowest byte.
inline void StoreLittleEndian64(char* out, uint64_t word) {
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(out, &word, 8);
  } else {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<char>(word >> (8 * i));
  }
}

// The date and time of a row with a plain time (see HasPlainRowTime: no
// padding, no sign) as three 8-byte pieces: "YYYY/MM/", "DD,hh:mm", ":ss".
struct PlainRowTime {
  uint64_t words[3];
};

inline PlainRowTime MakePlainRowTime(const LoggerTimestamp& time) {
  return PlainRowTime{{kTwoDigitWords[time.year / 100] | (kTwoDigitWords[time.year % 100] << 16) |
                           (uint64_t{'/'} << 32) | (kTwoDigitWords[time.month] << 40) |
                           (uint64_t{'/'} << 56),
                       kTwoDigitWords[time.day] | (uint64_t{','} << 16) |
                           (kTwoDigitWords[time.hour] << 24) | (uint64_t{':'} << 40) |
                           (kTwoDigitWords[time.minute] << 48),
                       uint64_t{':'} | (kTwoDigitWords[time.second] << 8)}};
}

// Writes the 24 bytes of the pieces; returns the 19 of the text.
inline uint32_t StorePlainRowTime(char* line, const PlainRowTime& text) {
  StoreLittleEndian64(line, text.words[0]);
  StoreLittleEndian64(line + 8, text.words[1]);
  StoreLittleEndian64(line + 16, text.words[2]);
  return kPlainRowTimeLength;
}

inline uint32_t FormatPlainRowTime(char* line, const LoggerTimestamp& time) {
  return StorePlainRowTime(line, MakePlainRowTime(time));
}

}  // namespace ravelo

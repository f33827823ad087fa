// The text of one CSV field, made straight from the raw integer: no floating
// point and no dependence on the process locale (the decimal point is always
// "."). Each field comes out byte for byte as its mode's printf format would
// make it in the "C" locale:
//   scaled modes   printf of (double)raw * 10^-d with d decimals
//   integer modes  printf of raw with "%+06d", "%05d" or "%3d"
//   compass point  ",%s" of the compass entry
//   time of day    ",%02d:%02d:%02d"
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>

#include "api/types.h"

namespace ravelo {

// The longest field of a decoded record is 11 bytes: a time of occurrence that
// comes out negative, such as ",-8:-59:-59". A row time outside the record
// format's ranges (a negative hour) can make 12, such as ",-23:-59:-59".
inline constexpr uint32_t kMaxFieldLength = 12;

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

// How the raw value of a mode becomes its field (one rule per mode, kept in
// field_format.cc).
enum class FieldKind : uint8_t {
  kNone,              // undefined mode: no field at all
  kNumber,            // scaled or plain integer
  kCompassPoint,      // value 1..17 selects a compass point
  kTimeOfOccurrence,  // signed seconds added to the row's time of day
};

struct FieldRule {
  friend constexpr bool operator==(const FieldRule&, const FieldRule&) = default;
  FieldKind kind;
  bool signedRaw;  // raw word read as int16 (else uint16)
  uint8_t decimals;  // 0..4: the number is raw / 10^decimals
  uint8_t width;     // printf field width
  bool plusFlag;     // printf "+" flag
  bool zeroPad;      // printf "0" flag
  char fixedSign;    // '+' or '-' written before the number (water levels), or 0
};

// Writes printf("%[+][0]<width>.<decimals>f", value / 10^decimals) (or
// "%[+][0]<width>d" when decimals is 0) into out; returns its length, at
// most the larger of width and 21. No terminating zero.
uint32_t FormatScaledInteger(char* out, int64_t value, uint32_t decimals, uint32_t width,
                             bool plusFlag, bool zeroPad);

// Writes the field of one channel, its leading comma included, into out (at
// least kMaxFieldLength bytes) and returns its length; 0 for an undefined
// mode. rowTime is the row's timestamp, used by the times of occurrence. No
// terminating zero; the bytes of out past the field are left undefined (they
// may serve as scratch), none past kMaxFieldLength is touched.
uint32_t FormatField(int32_t mode, uint16_t value, const LoggerTimestamp& rowTime, char* out);


// Modes with the same rule make the same fields: the rule of each mode as a
// small number, 0 for a mode without a field.
uint8_t FieldRuleIdOf(int32_t mode);

// The fields of count columns one after the other, column i with rule
// ruleIds[i] and raw value values[i], as FormatField makes them; returns
// their total length. out needs the room of the fields and kMaxFieldLength
// bytes for the last of them; no terminating zero.
uint32_t FormatFields(const uint8_t* ruleIds, const uint16_t* values, int32_t count,
                      const LoggerTimestamp& rowTime, char* out);

}  // namespace ravelo

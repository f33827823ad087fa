// The text of one CSV field, made straight from the raw integer: no floating
// point and no dependence on the process locale (the decimal point is always
// "."). Each field comes out byte for byte as its mode's printf format would
// make it in the "C" locale:
//   scaled modes   printf of (double)raw * 10^-d with d decimals
//   integer modes  printf of raw with "%+06d", "%05d" or "%3d"
//   compass point  ",%s" of the compass entry
//   time of day    ",%02d:%02d:%02d"
#pragma once

#include <cstdint>

#include "api/types.h"
#include "common/row_time.h"

namespace ravelo {

// The longest field of a decoded record is 11 bytes: a time of occurrence that
// comes out negative, such as ",-8:-59:-59". A row time outside the record
// format's ranges (a negative hour) can make 12, such as ",-23:-59:-59".
inline constexpr uint32_t kMaxFieldLength = 12;

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

// "%4d/%02d/%02d,%02d:%02d:%02d" of the row's time. Returns its length.
inline uint32_t FormatRowTime(char* line, const LoggerTimestamp& time) {
  if (HasPlainRowTime(time)) return FormatPlainRowTime(line, time);
  uint32_t at = 0;
  at += FormatScaledInteger(line + at, time.year, 0, 4, false, false);
  line[at++] = '/';
  at += FormatScaledInteger(line + at, time.month, 0, 2, false, true);
  line[at++] = '/';
  at += FormatScaledInteger(line + at, time.day, 0, 2, false, true);
  line[at++] = ',';
  at += FormatScaledInteger(line + at, time.hour, 0, 2, false, true);
  line[at++] = ':';
  at += FormatScaledInteger(line + at, time.minute, 0, 2, false, true);
  line[at++] = ':';
  at += FormatScaledInteger(line + at, time.second, 0, 2, false, true);
  return at;
}

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

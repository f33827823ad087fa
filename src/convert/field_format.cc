// Field texts from raw integers. The number a scaled mode prints is exactly
// raw / 10^d with d decimals, so its digits are those of the integer with a
// point inserted; printf of the double raw * 10^-d gives the same bytes, as
// the exhaustive test over every raw value of every mode shows.
#include "convert/field_format.h"

#include <bit>
#include <cstring>

#include "convert/measurement_kinds.h"

namespace ravelo {

namespace {

constexpr FieldRule kNoField{FieldKind::kNone, false, 0, 0, false, false, 0};

// Signed scaled value with the "+" and "0" flags: "%+0<w>.<d>f".
constexpr FieldRule Signed(uint8_t decimals, uint8_t width) {
  return FieldRule{FieldKind::kNumber, true, decimals, width, true, true, 0};
}
// Unsigned scaled value, zero padded: "%0<w>.<d>f" or "%0<w>d".
constexpr FieldRule Unsigned(uint8_t decimals, uint8_t width) {
  return FieldRule{FieldKind::kNumber, false, decimals, width, false, true, 0};
}
// Unsigned value padded with blanks: "%<w>.<d>f" or "%<w>d".
constexpr FieldRule Blank(uint8_t decimals, uint8_t width) {
  return FieldRule{FieldKind::kNumber, false, decimals, width, false, false, 0};
}
// Water level: a fixed sign, then the unsigned magnitude "%06.<d>f".
constexpr FieldRule Level(char sign, uint8_t decimals) {
  return FieldRule{FieldKind::kNumber, false, decimals, 6, false, true, sign};
}
constexpr FieldRule kCompass{FieldKind::kCompassPoint, false, 0, 0, false, false, 0};
constexpr FieldRule kTimeOfDay{FieldKind::kTimeOfOccurrence, true, 0, 2, false, true, 0};

struct RuleTable {
  FieldRule rules[kModeCount];
};

constexpr RuleTable MakeRuleTable() {
  RuleTable t{};
  for (FieldRule& r : t.rules) r = kNoField;
  t.rules[0] = Signed(1, 7);    // voltage             ",%+07.1f"
  t.rules[4] = Signed(1, 7);    // temperature         ",%+07.1f"
  t.rules[5] = Signed(2, 7);    // temperature         ",%+07.2f"
  t.rules[6] = Signed(2, 7);    // temperature         ",%+07.2f"
  t.rules[8] = Signed(1, 7);    // humidity            ",%+07.1f"
  t.rules[12] = Unsigned(2, 6);  // resistance         ",%06.2f"
  t.rules[13] = Unsigned(3, 6);  // resistance         ",%06.3f"
  t.rules[14] = Unsigned(4, 6);  // resistance         ",%06.4f"
  t.rules[16] = Signed(3, 7);    // current            ",%+07.3f"
  t.rules[20] = Blank(1, 5);     // wind speeds        ",%5.1f"
  t.rules[21] = kCompass;        // wind directions    ",%s"
  t.rules[22] = Blank(1, 5);
  t.rules[23] = kCompass;
  t.rules[24] = kTimeOfDay;      // time of occurrence ",%02d:%02d:%02d"
  t.rules[25] = Blank(1, 5);
  t.rules[26] = kCompass;
  t.rules[27] = kTimeOfDay;
  t.rules[28] = Blank(1, 5);
  t.rules[29] = kCompass;
  t.rules[30] = Blank(1, 5);
  t.rules[32] = Level('+', 4);   // water levels       ",+%06.4f" ",-%06.4f"
  t.rules[33] = Level('-', 4);
  t.rules[34] = Level('+', 3);   //                    ",+%06.3f" ",-%06.3f"
  t.rules[35] = Level('-', 3);
  t.rules[36] = Level('+', 2);   //                    ",+%06.2f" ",-%06.2f"
  t.rules[37] = Level('-', 2);
  t.rules[38] = FieldRule{FieldKind::kNumber, true, 1, 6, false, true, 0};  // rain ",%06.1f"
  t.rules[40] = FieldRule{FieldKind::kNumber, true, 2, 6, true, true, 0};   // ",%+06.2f"
  t.rules[44] = FieldRule{FieldKind::kNumber, true, 0, 6, true, true, 0};   // strain ",%+06d"
  t.rules[52] = Signed(1, 7);    // pressure           ",%+07.1f"
  t.rules[56] = Signed(2, 7);    // solar radiation    ",%+07.2f"
  t.rules[60] = Unsigned(0, 5);  // sunshine           ",%05d"
  for (int mode = 64; mode <= 68; ++mode) t.rules[mode] = Signed(1, 7);  // voltages 1..5
  t.rules[72] = Blank(0, 3);     // directions in degrees ",%3d"
  t.rules[73] = Blank(0, 3);
  t.rules[74] = Blank(0, 3);
  return t;
}

constexpr RuleTable kRuleTable = MakeRuleTable();

// FormatRawNumber's limits: texts of at most 8 characters, at most 4 decimals.
constexpr bool RulesFitRawNumbers() {
  for (const FieldRule& r : kRuleTable.rules) {
    if (r.kind == FieldKind::kNumber && (r.width > 8 || r.decimals > 4)) return false;
  }
  return true;
}
static_assert(RulesFitRawNumbers());

// "000" to "655": the three leading digits of each 5-digit magnitude, in the
// low bytes of a little-endian word; likewise with a point after the first
// ("a.bc") or the second digit ("ab.c"), and the two last digits with a
// point between them ("d.e").
struct DigitTables {
  uint32_t three[656];
  uint32_t threePointAfter1[656];
  uint32_t threePointAfter2[656];
  uint32_t twoWithPoint[100];
  constexpr DigitTables() : three{}, threePointAfter1{}, threePointAfter2{}, twoWithPoint{} {
    for (uint32_t i = 0; i < 656; ++i) {
      const uint32_t a = '0' + i / 100, b = '0' + i / 10 % 10, c = '0' + i % 10;
      three[i] = a | (b << 8) | (c << 16);
      threePointAfter1[i] = a | ('.' << 8) | (b << 16) | (c << 24);
      threePointAfter2[i] = a | (b << 8) | ('.' << 16) | (c << 24);
    }
    for (uint32_t i = 0; i < 100; ++i) {
      twoWithPoint[i] = ('0' + i / 10) | ('.' << 8) | (('0' + i % 10) << 16);
    }
  }
};
constexpr DigitTables kDigits;

// The five digits of a magnitude 0..65535, zero padded, with a point before
// the last kDecimals (0..4) of them: 5 or 6 characters, the first in the
// lowest byte. One division by 100 and two look-ups.
template <uint32_t kDecimals>
inline uint64_t FiveDigits(uint32_t magnitude) {
  static_assert(kDecimals <= 4);
  const uint64_t high = uint64_t{magnitude} / 100;
  const int low = static_cast<int>(uint64_t{magnitude} - high * 100);
  if constexpr (kDecimals == 0) {
    return kDigits.three[high] | (kTwoDigitWords[low] << 24);
  } else if constexpr (kDecimals == 1) {
    return kDigits.three[high] | (uint64_t{kDigits.twoWithPoint[low]} << 24);
  } else if constexpr (kDecimals == 2) {
    return kDigits.three[high] | (uint64_t{'.'} << 24) | (kTwoDigitWords[low] << 32);
  } else if constexpr (kDecimals == 3) {
    return kDigits.threePointAfter2[high] | (kTwoDigitWords[low] << 32);
  } else {
    return kDigits.threePointAfter1[high] | (kTwoDigitWords[low] << 32);
  }
}

// The digits of FiveDigits right-aligned in an 8-byte word, the bytes
// below them filled with fill (zeros or blanks).
template <uint32_t kDecimals, uint64_t kFill>
inline uint64_t PaddedDigits(uint32_t magnitude) {
  constexpr uint32_t blockLength = kDecimals > 0 ? 6 : 5;
  constexpr uint32_t padBits = 8 * (8 - blockLength);
  return (FiveDigits<kDecimals>(magnitude) << padBits) | (kFill & ((uint64_t{1} << padBits) - 1));
}

// Two-digit time part, printf "%02d".
inline uint32_t TimePart(char* out, int64_t part) {
  if (part >= 0 && part <= 99) {
    std::memcpy(out, kTwoDigits[static_cast<int>(part)], 2);
    return 2;
  }
  return FormatScaledInteger(out, part, 0, 2, false, true);
}

// "%02d:%02d:%02d" of the hours (modulo 24), minutes and seconds of t.
inline uint32_t TimeOfDay(char* out, int64_t t) {
  uint32_t at = TimePart(out, (t / 3600) % 24);
  out[at++] = ':';
  at += TimePart(out + at, (t % 3600) / 60);
  out[at++] = ':';
  at += TimePart(out + at, t % 60);
  return at;
}

// How the text of a number of rule kRule lies in the 8-byte word that
// FormatRawNumber builds, for each count of significant digits (1..5) and
// each sign (none, '+', '-'): which bytes of the right-aligned digits stay,
// what goes over the others (blanks, the sign), and the shift that brings
// the text down to the lowest byte.
struct NumberLayout {
  uint64_t keep;
  uint64_t put;
  uint32_t shift;
  uint32_t total;
};

template <FieldRule kRule>
struct NumberLayouts {
  NumberLayout layouts[6][3];
  constexpr NumberLayouts() : layouts{} {
    constexpr FieldRule rule = kRule;
    constexpr uint32_t decimals = rule.decimals;
    for (uint32_t significant = 1; significant <= 5; ++significant) {
      for (uint32_t signKind = 0; signKind < 3; ++signKind) {
        const uint64_t sign = signKind == 0 ? 0 : signKind == 1 ? '+' : '-';
        const uint32_t integerLength = significant > decimals ? significant - decimals : 1;
        const uint32_t bodyLength = integerLength + (decimals > 0 ? decimals + 1 : 0);
        const uint32_t length = bodyLength + (sign != 0 ? 1 : 0);
        const uint32_t total = rule.width > length ? rule.width : length;
        // Zero padding keeps every digit and puts the sign first; blank
        // padding blanks what stands before the body and puts the sign
        // right before it.
        uint64_t keep = ~uint64_t{0};
        uint64_t put = 0;
        uint32_t signAt = 8 * (8 - total);
        if (!rule.zeroPad) {
          const uint64_t leading = bodyLength >= 8 ? 0 : (uint64_t{1} << (8 * (8 - bodyLength))) - 1;
          keep &= ~leading;
          put |= 0x2020202020202020u & leading;
          signAt = 8 * (8 - bodyLength - 1);
        }
        if (sign != 0) {
          keep &= ~(uint64_t{0xFF} << signAt);
          put = (put & ~(uint64_t{0xFF} << signAt)) | (sign << signAt);
        }
        layouts[significant][signKind] = NumberLayout{keep, put, 8 * (8 - total), total};
      }
    }
  }
};

// The number of a raw word as rule formats it: the same bytes as
// FormatScaledInteger, for |raw| <= 65535 and at most 4 decimals, made in
// one 64-bit word without branching on the value.
//
// The word holds 8 characters, the first in its lowest byte. It is built
// right-aligned: the five digits of the magnitude, zero padded, with the point
// before the last `decimals` of them, in its top bytes and the padding
// character below them. The layout for the count of significant digits and
// the sign then puts blanks or the sign where they belong (zero padding puts
// the sign on the first character of the text; blank padding turns the
// leading zeros of the integer part into blanks and puts the sign before its
// first digit), and the text is shifted down to the lowest byte and stored as
// one 8-byte piece: every rule's text has at most 8 characters, and out needs
// room for 8 bytes. Made for each rule at compile time, so that only the
// value is a variable.
template <FieldRule kRule>
inline uint32_t FormatRawNumber(char* out, int32_t raw) {
  constexpr FieldRule rule = kRule;
  static constexpr NumberLayouts<kRule> kLayouts;
  const bool negative = raw < 0;
  const uint32_t magnitude = static_cast<uint32_t>(negative ? -raw : raw);
  constexpr uint32_t decimals = rule.decimals;

  constexpr uint64_t fill = rule.zeroPad ? 0x3030303030303030u : 0x2020202020202020u;
  const uint64_t word = PaddedDigits<decimals, fill>(magnitude);

  const uint32_t significant = 1u + (magnitude >= 10) + (magnitude >= 100) +
                               (magnitude >= 1000) + (magnitude >= 10000);
  constexpr uint32_t positiveSign = rule.plusFlag ? 1 : 0;
  const uint32_t signKind = negative ? 2 : positiveSign;
  const NumberLayout& layout = kLayouts.layouts[significant][signKind];
  StoreLittleEndian64(out, ((word & layout.keep) | layout.put) >> layout.shift);
  return layout.total;
}

// True when every raw value gives a text of exactly the rule's width: zero
// padding, a sign on every value or none on any, and the longest magnitude
// (5 digits, with the point when there are decimals) within the width.
constexpr bool HasFixedLength(const FieldRule& rule) {
  if (rule.kind != FieldKind::kNumber || !rule.zeroPad) return false;
  if (rule.signedRaw && !rule.plusFlag) return false;
  const uint32_t body = (rule.decimals >= 5 ? rule.decimals + 1u : 5u) + (rule.decimals > 0 ? 1u : 0u);
  const uint32_t sign = rule.plusFlag ? 1u : 0u;
  const uint32_t prefix = rule.fixedSign != 0 ? 2u : 1u;
  return body + sign <= rule.width && prefix + rule.width <= 8;
}

// The whole field of a rule with a fixed length, its "," and fixed sign
// included, as one 8-byte store: the five digits with their point, zero
// padded, right-aligned in the word, the prefix and sign written over the
// padding, the text shifted down to the lowest byte.
template <FieldRule kRule>
inline uint32_t FormatFixedField(char* out, int32_t raw) {
  constexpr FieldRule rule = kRule;
  const bool negative = raw < 0;
  const uint32_t magnitude = static_cast<uint32_t>(negative ? -raw : raw);
  constexpr uint32_t decimals = rule.decimals;

  uint64_t word = PaddedDigits<decimals, 0x3030303030303030u>(magnitude);

  constexpr uint32_t prefixLength = rule.fixedSign != 0 ? 2 : 1;
  constexpr uint32_t total = prefixLength + rule.width;
  constexpr uint32_t first = 8 * (8 - total);
  constexpr uint64_t prefix = uint64_t{','} | (uint64_t{static_cast<uint8_t>(rule.fixedSign)} << 8);
  constexpr uint32_t written = prefixLength + (rule.plusFlag ? 1 : 0);
  constexpr uint64_t writtenMask = ((uint64_t{1} << (8 * written)) - 1) << first;
  word = (word & ~writtenMask) | (prefix << first);
  if constexpr (rule.plusFlag) {
    // '-' is '+' + 2.
    const uint64_t sign = uint64_t{'+'} + (uint64_t{negative} << 1);
    word |= sign << (first + 8 * prefixLength);
  }
  if constexpr (first > 0) word >>= first;
  StoreLittleEndian64(out, word);
  return total;
}

}  // namespace

uint32_t FormatScaledInteger(char* out, int64_t value, uint32_t decimals, uint32_t width,
                             bool plusFlag, bool zeroPad) {
  const bool negative = value < 0;
  uint64_t magnitude = negative ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);

  // Digits from the right: the decimals, the point, then at least one digit
  // of the integer part.
  char digits[24];
  uint32_t n = 0;
  for (uint32_t i = 0; i < decimals; ++i) {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  }
  if (decimals > 0) digits[n++] = '.';
  do {
    digits[n++] = static_cast<char>('0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);

  const char sign = negative ? '-' : (plusFlag ? '+' : 0);
  const uint32_t length = n + (sign ? 1 : 0);
  const uint32_t padding = width > length ? width - length : 0;

  uint32_t at = 0;
  if (!zeroPad)
    for (uint32_t i = 0; i < padding; ++i) out[at++] = ' ';
  if (sign) out[at++] = sign;
  if (zeroPad)
    for (uint32_t i = 0; i < padding; ++i) out[at++] = '0';
  while (n > 0) out[at++] = digits[--n];
  return at;
}

namespace {

// The field of each compass point, its "," included, as one 8-byte word
// (the first character in the lowest byte): every point has at most 7
// characters.
struct CompassFieldTable {
  uint64_t words[kCompassPointCount];
  uint32_t lengths[kCompassPointCount];
};

CompassFieldTable MakeCompassFields() {
  CompassFieldTable t{};
  for (int point = 0; point < kCompassPointCount; ++point) {
    char field[8] = {','};
    const size_t length = strnlen(compassPoints[point], sizeof field - 1);
    std::memcpy(field + 1, compassPoints[point], length);
    uint64_t word = 0;
    for (int i = 7; i >= 0; --i) word = (word << 8) | static_cast<uint8_t>(field[i]);
    t.words[point] = word;
    t.lengths[point] = static_cast<uint32_t>(1 + length);
  }
  return t;
}

const CompassFieldTable kCompassFields = MakeCompassFields();

// The field of rule kRule, made for that rule at compile time.
template <FieldRule kRule>
inline uint32_t FormatRuleField(uint16_t value, const LoggerTimestamp& rowTime, char* out) {
  constexpr FieldRule rule = kRule;
  uint32_t at = 0;
  if constexpr (rule.kind == FieldKind::kNone) {
    return 0;
  } else if constexpr (HasFixedLength(rule)) {
    const int32_t raw = rule.signedRaw ? static_cast<int32_t>(static_cast<int16_t>(value))
                                       : static_cast<int32_t>(value);
    return FormatFixedField<rule>(out, raw);
  } else if constexpr (rule.kind == FieldKind::kNumber) {
    out[at++] = ',';
    if constexpr (rule.fixedSign != 0) out[at++] = rule.fixedSign;
    const int32_t raw = rule.signedRaw ? static_cast<int32_t>(static_cast<int16_t>(value))
                                       : static_cast<int32_t>(value);
    return at + FormatRawNumber<rule>(out + at, raw);
  } else if constexpr (rule.kind == FieldKind::kCompassPoint) {
    // The record loop rejects any other value; should one get here it reads
    // as calm.
    const uint32_t point = (value >= 1 && value <= 17) ? value : 17;
    StoreLittleEndian64(out, kCompassFields.words[point]);
    return kCompassFields.lengths[point];
  } else {
    // Seconds added to the row's time of day; hour 0 counts as 24 so that
    // a time reaching back past midnight reads as the evening before.
    // Division truncates toward zero and remainders keep the sign of t.
    const int64_t hour = rowTime.hour == 0 ? 24 : rowTime.hour;
    const int64_t t = hour * 3600 + static_cast<int64_t>(rowTime.minute) * 60 +
                      rowTime.second + static_cast<int16_t>(value);
    // The usual case, a time of 0 to 47:59:59 (any row time of a logger
    // record gives at most 31:63:63 + 32767 s), as ",hh" and one 8-byte
    // piece ":mm:ss" after it.
    if (t >= 0 && t < 48 * 3600) {
      const uint32_t seconds = static_cast<uint32_t>(t);
      const uint32_t minutes = seconds / 60;
      const uint32_t hours = minutes / 60;
      const uint32_t hourOfDay = hours >= 24 ? hours - 24 : hours;
      StoreLittleEndian64(out, uint64_t{','} | (kTwoDigitWords[static_cast<int>(hourOfDay)] << 8) |
                                   (uint64_t{':'} << 24) |
                                   (kTwoDigitWords[static_cast<int>(minutes - hours * 60)] << 32) |
                                   (uint64_t{':'} << 48) |
                                   (uint64_t{static_cast<uint8_t>(
                                        '0' + (seconds - minutes * 60) / 10)}
                                    << 56));
      out[8] = static_cast<char>('0' + (seconds - minutes * 60) % 10);
      return 9;
    }
    out[at++] = ',';
    return at + TimeOfDay(out + at, t);
  }
}

// The distinct rules of the modes, numbered: id 0 is "no field".
struct RuleIds {
  FieldRule rules[kModeCount];
  int count;
  uint8_t idOfMode[kModeCount];
};

constexpr RuleIds MakeRuleIds() {
  RuleIds ids{};
  ids.rules[0] = kNoField;
  ids.count = 1;
  for (int mode = 0; mode < kModeCount; ++mode) {
    int id = 0;
    while (id < ids.count && !(ids.rules[id] == kRuleTable.rules[mode])) ++id;
    if (id == ids.count) ids.rules[ids.count++] = kRuleTable.rules[mode];
    ids.idOfMode[mode] = static_cast<uint8_t>(id);
  }
  return ids;
}

constexpr RuleIds kRuleIds = MakeRuleIds();
constexpr int kMaxRuleIds = 24;  // the cases of FormatFields
static_assert(kRuleIds.count <= kMaxRuleIds);

}  // namespace

uint32_t FormatField(int32_t mode, uint16_t value, const LoggerTimestamp& rowTime, char* out) {
  const uint8_t ruleId = FieldRuleIdOf(mode);
  return FormatFields(&ruleId, &value, 1, rowTime, out);
}

uint8_t FieldRuleIdOf(int32_t mode) {
  return (mode >= 0 && mode < kModeCount) ? kRuleIds.idOfMode[mode] : 0;
}

uint32_t FormatFields(const uint8_t* ruleIds, const uint16_t* values, int32_t count,
                      const LoggerTimestamp& rowTime, char* out) {
  uint32_t at = 0;
  for (int32_t i = 0; i < count; ++i) {
    // Ids past the last rule have kNoField: no field.
    switch (ruleIds[i]) {
#define RAVELO_RULE_CASE(id)                                                         \
  case id:                                                                           \
    at += FormatRuleField<kRuleIds.rules[id]>(values[i], rowTime, out + at);         \
    break;
      RAVELO_RULE_CASE(0) RAVELO_RULE_CASE(1) RAVELO_RULE_CASE(2) RAVELO_RULE_CASE(3)
      RAVELO_RULE_CASE(4) RAVELO_RULE_CASE(5) RAVELO_RULE_CASE(6) RAVELO_RULE_CASE(7)
      RAVELO_RULE_CASE(8) RAVELO_RULE_CASE(9) RAVELO_RULE_CASE(10) RAVELO_RULE_CASE(11)
      RAVELO_RULE_CASE(12) RAVELO_RULE_CASE(13) RAVELO_RULE_CASE(14) RAVELO_RULE_CASE(15)
      RAVELO_RULE_CASE(16) RAVELO_RULE_CASE(17) RAVELO_RULE_CASE(18) RAVELO_RULE_CASE(19)
      RAVELO_RULE_CASE(20) RAVELO_RULE_CASE(21) RAVELO_RULE_CASE(22) RAVELO_RULE_CASE(23)
#undef RAVELO_RULE_CASE
      default:
        break;
    }
  }
  return at;
}

}  // namespace ravelo

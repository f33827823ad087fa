// The shapes of the lines of a CSV file (see line_shapes.h).
#include "convert/line_shapes.h"

#include <cstddef>
#include <cstring>

namespace ravelo {
namespace {

const char kHeaderPrefix[] = "date,time";
constexpr size_t kHeaderPrefixLength = sizeof(kHeaderPrefix) - 1;

// Reads an integer the way "%d" does (leading blanks, optional sign, digits)
// starting at text. Returns false when no digit follows; the value then stays
// as it was. Overlong digit runs wrap instead of overflowing.
bool ReadDecimal(const char* text, int32_t* value) {
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
         *text == '\f') {
    ++text;
  }
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  if (*text < '0' || *text > '9') return false;
  uint32_t magnitude = 0;
  while (*text >= '0' && *text <= '9') {
    magnitude = magnitude * 10u + static_cast<uint32_t>(*text - '0');
    ++text;
  }
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

// The value of the two digits at text, when both are digits.
inline bool TwoDigitsAt(const char* text, int32_t* value) {
  const uint32_t tens = static_cast<uint32_t>(text[0] - '0');
  const uint32_t ones = static_cast<uint32_t>(text[1] - '0');
  if (tens > 9 || ones > 9) return false;
  *value = static_cast<int32_t>(tens * 10 + ones);
  return true;
}

}  // namespace

bool IsHeaderLine(const char* line) {
  return std::strncmp(line, kHeaderPrefix, kHeaderPrefixLength) == 0;
}

bool IsDataLine(const char* line) {
  size_t length = std::strlen(line);
  if (length < 19) return false;
  const char* colon = std::strchr(line, ':');
  return colon != nullptr && colon - line == 13;
}

bool IsEmptyLine(const char* line) {
  for (; *line != '\0'; ++line) {
    if (*line != '\r' && *line != '\n' && *line != ' ' && *line != '\t') return false;
  }
  return true;
}

bool EndsWithLineFeed(const char* text) {
  size_t length = std::strlen(text);
  return length > 0 && text[length - 1] == '\n';
}

// Such a line without a line end can only be the file's last; it gets one,
// since more text always follows it in the output.
bool CopyColumnLine(char* field, const char* text) {
  size_t length = std::strlen(text);
  if (length + 2 >= kLineFieldSize) return false;
  std::memcpy(field, text, length + 1);
  if (length > 0 && text[length - 1] != '\n') {
    std::memcpy(field + length, text[length - 1] == '\r' ? "\n" : "\r\n",
                text[length - 1] == '\r' ? 2 : 3);
  }
  return true;
}

void ParseLineTimestamp(const char* line, LoggerTimestamp* timestamp) {
  // The caller passes a data line, so positions 0..19 lie inside the text
  // (19 may be its end). The usual "YYYY/MM/DD,hh:mm:ss" with nothing more
  // to read after the seconds is read at once; anything else as "%d" reads
  // each part.
  int32_t century, year, month, day, hour, minute, second;
  if (line[4] == '/' && line[7] == '/' && line[10] == ',' && line[13] == ':' &&
      line[16] == ':' && static_cast<uint32_t>(line[19] - '0') > 9 &&
      TwoDigitsAt(line, &century) && TwoDigitsAt(line + 2, &year) &&
      TwoDigitsAt(line + 5, &month) && TwoDigitsAt(line + 8, &day) &&
      TwoDigitsAt(line + 11, &hour) && TwoDigitsAt(line + 14, &minute) &&
      TwoDigitsAt(line + 17, &second)) {
    timestamp->year = century * 100 + year;
    timestamp->month = month;
    timestamp->day = day;
    timestamp->hour = hour;
    timestamp->minute = minute;
    timestamp->second = second;
    timestamp->orderingKey = OrderingKey(timestamp->year, month, day, hour, minute, second);
    return;
  }
  ReadDecimal(line + 0, &timestamp->year);
  ReadDecimal(line + 5, &timestamp->month);
  ReadDecimal(line + 8, &timestamp->day);
  ReadDecimal(line + 11, &timestamp->hour);
  ReadDecimal(line + 14, &timestamp->minute);
  ReadDecimal(line + 17, &timestamp->second);
  timestamp->orderingKey = OrderingKey(timestamp->year, timestamp->month, timestamp->day,
                                       timestamp->hour, timestamp->minute, timestamp->second);
}

}  // namespace ravelo

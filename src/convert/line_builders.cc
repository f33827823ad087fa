// The header line, unit line and data line of a row. Each builder walks the
// row's channels in ascending order and appends one part per channel present,
// stopping once it has met recordCount channels.
//
// Sizes: the header line needs at most 9 + 256 x 13 + 3 = 3340 bytes and the
// unit line 1 + 256 x 6 + 3 = 1540, both within their fields for any row.
// The data line needs at most 19 + 256 x 11 + 3 = 2838 bytes for any row a
// logger file can give (year 1999..2127, month 0..15, day 0..31, hour 0..31,
// minute and second 0..63). For a row outside those ranges the data line
// still never passes its field: a field that would not fit is left out,
// together with all after it.
#include <cstring>

#include "api/converter.h"
#include "convert/field_format.h"
#include "convert/measurement_kinds.h"

namespace ravelo {

namespace {

// Appends the zero-terminated text to line at *at.
inline void Append(char* line, uint32_t* at, const char* text) {
  uint32_t i = *at;
  while (*text) line[i++] = *text++;
  *at = i;
}

inline const MeasurementKind* KindOf(int32_t mode) {
  static constexpr MeasurementKind kNoKind{};
  return (mode >= 0 && mode < kModeCount) ? &measurementKindTable[mode] : &kNoKind;
}

}  // namespace

void Converter::BuildHeaderLine(RowBuffer* row) {
  char* line = row->headerLine;
  if (row->recordCount <= 0) {
    line[0] = '\0';
    return;
  }
  uint32_t at = 0;
  Append(line, &at, "date,time");
  WalkChannels(*row, [&](int channel) {
    Append(line, &at, KindOf(row->channelValues[channel].mode)->name);
    return true;
  });
  Append(line, &at, "\r\n");
  line[at] = '\0';
}

void Converter::BuildUnitLine(RowBuffer* row) {
  char* line = row->unitLine;
  if (row->recordCount <= 0) {
    line[0] = '\0';
    return;
  }
  uint32_t at = 0;
  Append(line, &at, ",");
  WalkChannels(*row, [&](int channel) {
    Append(line, &at, KindOf(row->channelValues[channel].mode)->unit);
    return true;
  });
  Append(line, &at, "\r\n");
  line[at] = '\0';
}

void Converter::BuildDataLine(RowBuffer* row) {
  char* line = row->dataLine;
  const LoggerTimestamp& time = row->timestamp;

  uint32_t at = FormatRowTime(line, time);

  // Room for the longest field, "\r\n" and the zero.
  constexpr uint32_t kLastFieldStart = kDataLineSize - kMaxFieldLength - 3;
  WalkChannels(*row, [&](int channel) {
    if (at > kLastFieldStart) return false;
    const ChannelValue& entry = row->channelValues[channel];
    at += FormatField(entry.mode, entry.value, time, line + at);
    return true;
  });
  line[at++] = '\r';
  line[at++] = '\n';
  line[at] = '\0';
}

}  // namespace ravelo

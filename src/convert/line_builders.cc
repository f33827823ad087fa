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

void Converter::BuildColumnPlan(const RowBuffer& row, uint64_t columns) {
  int32_t count = 0;
  WalkChannels(row, [&](int channel) {
    planChannels[count] = static_cast<uint8_t>(channel);
    planModes[count] = row.channelValues[channel].mode;
    planRuleIds[count] = FieldRuleIdOf(planModes[count]);
    planRecordKeys[count] = (static_cast<uint64_t>(planModes[count] & 0x7F) << 32) |
                            (static_cast<uint64_t>(channel) << 40) |
                            (IsWindDirectionMode(planModes[count]) ? kWindKeyBit : 0);
    ++count;
    return true;
  });
  planCount = count;
  planRecordKeys[count] = kNoRecordKey;
  planColumns = columns;
  std::memcpy(planMask, row.channelMask, sizeof planMask);
}

// The data line of a row whose channels are those of the plan (the caller
// has compared count and mask), as BuildDataLine makes it. Returns false,
// with the line unfinished, when a channel's mode differs from the plan's:
// the row then has other columns.
bool Converter::BuildDataLineFromPlan(RowBuffer* row) {
  char* line = row->dataLine;
  const LoggerTimestamp& time = row->timestamp;
  uint32_t at = FormatRowTime(line, time);
  constexpr uint32_t kLastFieldStart = kDataLineSize - kMaxFieldLength - 3;
  for (int32_t i = 0; i < planCount; ++i) {
    const ChannelValue& entry = row->channelValues[planChannels[i]];
    if (entry.mode != planModes[i]) return false;
    if (at <= kLastFieldStart) at += FormatField(entry.mode, entry.value, time, line + at);
  }
  line[at++] = '\r';
  line[at++] = '\n';
  line[at] = '\0';
  dataLineLength = at;
  return true;
}

// Every field of a row with a plain time fits, each formatted with the room
// FormatField may use.
static_assert(kPlainRowTimeLength + (kChannelCount - 1) * 11 + kMaxFieldLength <= kDataLineSize &&
              kPlainRowTimeLength + kChannelCount * 11 + 3 <= kDataLineSize);

// The data line of a row that followed the plan to its end, from the values
// kept for its columns, in two steps: first its date and time, which decide
// its file, then its fields. Only rows with a plain time follow the plan.
void Converter::StartPlannedDataLine(RowBuffer* row) {
  const PlainRowTime text = MakePlainRowTime(row->timestamp);
  StorePlainRowTime(row->dataLine, text);
  // Also where the line goes in the output buffer, which has room for a
  // data line behind its block: unless a file ends or starts first, the
  // line is written there (WritePlannedDataLine).
  StorePlainRowTime(reinterpret_cast<char*>(outputBuffer) + outputPending, text);
}

void Converter::FinishPlannedDataLine(RowBuffer* row) {
  char* line = row->dataLine;
  uint32_t at = kPlainRowTimeLength;
  at += FormatFields(planRuleIds, plannedValues, planCount, row->timestamp, line + at);
  line[at++] = '\r';
  line[at++] = '\n';
  line[at] = '\0';
  dataLineLength = at;
}

}  // namespace ravelo

// The column plan (see column_plan.h), the record loop's gathering of a
// row's records straight from the logger file's block, and the data lines
// of rows that followed the plan, made where the writer puts them.
#include "convert/column_plan.h"

#include <bit>
#include <cstring>

#include "api/converter.h"
#include "convert/field_format.h"
#include "convert/measurement_kinds.h"
#include "convert/record_loop.h"

namespace ravelo {

namespace {

// The first 33 bits of a record, its time, within the record's bytes read as
// one little-endian word.
constexpr uint64_t kRecordTimeBits = 0x80FFFFFFFFu;
// The first six bytes: time, mode and channel.
constexpr uint64_t kRecordHeadBits = 0xFFFFFFFFFFFFu;
// Records of this mode are skipped.
constexpr uint64_t kSkippedMode = 127;

inline uint64_t LoadRecordWord(const uint8_t* b) {
  uint64_t word;
  std::memcpy(&word, b, sizeof word);
  if constexpr (std::endian::native == std::endian::big) {
    uint64_t swapped = 0;
    for (int i = 0; i < 8; ++i) swapped |= uint64_t{b[i]} << (8 * i);
    word = swapped;
  }
  return word;
}

}  // namespace

void ColumnPlan::ResetColumns() {
  planColumns = 0;
  planCount = 0;
  planRecordKeys[0] = kNoRecordKey;
  planCursor = -1;
}

void ColumnPlan::BuildColumnPlan(const RowBuffer& row, uint64_t columns) {
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

// Moves the records that followed the plan into the row's mask and
// channelValues; the row then leaves the plan.
void ColumnPlan::LeavePlan(RowBuffer* row) {
  for (int32_t i = 0; i < planCursor; ++i) {
    const int channel = planChannels[i];
    SetChannelBit(row, channel);
    row->channelValues[channel] = ChannelValue{planModes[i], plannedValues[i]};
  }
  planCursor = -1;
}

void ColumnPlan::CopyMask(RowBuffer* row) const {
  std::memcpy(row->channelMask, planMask, sizeof planMask);
}

uint32_t ColumnPlan::FormatPlannedFields(const LoggerTimestamp& rowTime, char* out) const {
  return FormatFields(planRuleIds, plannedValues, planCount, rowTime, out);
}

// The data line of a row whose channels are those of the plan (the caller
// has compared count and mask), as BuildDataLine makes it. Returns false,
// with the line unfinished, when a channel's mode differs from the plan's:
// the row then has other columns.
bool ColumnPlan::BuildDataLineFromPlan(RowBuffer* row, uint32_t* length) const {
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
  *length = at;
  return true;
}

// Adds to row the records that follow in the reader's block with the row's
// time bits, straight from their bytes, as the record loop would add them,
// and leaves the rest unread for the reader. Stops at a record with other time
// bits, one the checks refuse, and the end of the whole records; the loop
// takes over from there. Kept out of line: in a function of its own the
// loops' state stays in registers.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void ColumnPlan::GatherRowRecords(LoggerReader* reader, uint64_t rowTimeKey, RowBuffer* row) {
  const uint64_t rowBits = rowTimeKey & kRecordTimeBits;
  uint32_t unread = reader->UnreadCount();
  const uint8_t* b = reader->UnreadBytes();
  int32_t count = row->recordCount;

  // Each record taken apart; false when the loop must stop before it.
  struct Fields {
    int mode;
    int channel;
    uint16_t value;
    bool skip;
  };
  auto take = [&](Fields* f) {
    const uint64_t word = LoadRecordWord(b);
    if ((word & kRecordTimeBits) != rowBits) return false;
    f->mode = static_cast<int>((word >> 32) & 0x7F);
    f->channel = static_cast<int>((word >> 40) & 0xFF);
    f->value = static_cast<uint16_t>(word >> 48);
    const ModeClass modeClass = ModeClassOf(f->mode);
    f->skip = modeClass == ModeClass::kSkipped;
    if (modeClass == ModeClass::kRefused) return false;
    return modeClass != ModeClass::kWindDirection || (f->value >= 1 && f->value <= 17);
  };

  // Records that follow the plan: only their values are kept. A record
  // whose first six bytes (time, mode, channel) are the row's time and the
  // next column's key passes the checks, a wind direction only with a value
  // of 1..17; any other record of the row's time is looked at through its
  // mode.
  if (planCursor >= 0) {
    const size_t firstCursor = static_cast<size_t>(planCursor);
    size_t cursor = firstCursor;
    const uint8_t* const wholeEnd = b + (unread - unread % kRecordSize);
    for (; b != wholeEnd; b += kRecordSize) {
      const uint64_t word = LoadRecordWord(b);
      const uint64_t head = word & kRecordHeadBits;
      const uint64_t planned = planRecordKeys[cursor] | rowBits;
      if (head != planned) {
        if ((head & kRecordTimeBits) != rowBits) break;
        // A wind direction of the column, a skipped record, or the row
        // leaves the plan.
        if ((head | kWindKeyBit) != planned) {
          if (((word >> 32) & 0x7F) == kSkippedMode) continue;
          break;
        }
        const uint16_t direction = static_cast<uint16_t>(word >> 48);
        if (direction < 1 || direction > 17) break;
      }
      plannedValues[cursor++] = static_cast<uint16_t>(word >> 48);
    }
    unread = static_cast<uint32_t>(wholeEnd - b) + unread % kRecordSize;
    count += static_cast<int32_t>(cursor - firstCursor);
    planCursor = static_cast<int32_t>(cursor);
  }

  // The rest of the row, once it has left the plan.
  if (unread >= kRecordSize) {
    Fields f;
    if (take(&f) && planCursor >= 0 && !f.skip) LeavePlan(row);
  }
  if (planCursor < 0) {
    for (; unread >= kRecordSize; unread -= kRecordSize, b += kRecordSize) {
      Fields f;
      if (!take(&f)) break;
      if (f.skip) continue;
      SetChannelBit(row, f.channel);
      row->channelValues[f.channel] = ChannelValue{static_cast<int16_t>(f.mode), f.value};
      ++count;
    }
  }
  row->recordCount = count;
  reader->SkipUnread(unread);
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
  // Also where the line goes in the writer's buffer: unless a file ends or
  // starts first, the line is committed there (WritePlannedDataLine).
  StorePlainRowTime(output.ReserveLine(), text);
}

void Converter::FinishPlannedDataLine(RowBuffer* row) {
  char* line = row->dataLine;
  uint32_t at = kPlainRowTimeLength;
  at += Plan().FormatPlannedFields(row->timestamp, line + at);
  line[at++] = '\r';
  line[at++] = '\n';
  line[at] = '\0';
  dataLineLength = at;
}

// The data line of a row that followed the plan, made straight in the
// writer's buffer. Its date and time are there already when nothing was
// written since StartPlannedDataLine (timeInPlace); otherwise they are made
// again rather than copied from the row's data line, whose three fresh
// stores a wider copy would wait for.
ResultCode Converter::WritePlannedDataLine(const RowBuffer& row, bool timeInPlace) {
  char* line = output.ReserveLine();
  uint32_t at = timeInPlace ? kPlainRowTimeLength : FormatPlainRowTime(line, row.timestamp);
  at += Plan().FormatPlannedFields(row.timestamp, line + at);
  line[at++] = '\r';
  line[at++] = '\n';
  return output.CommitLine(at);
}

}  // namespace ravelo

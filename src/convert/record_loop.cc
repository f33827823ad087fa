// One conversion job: job set-up, then the logger file's records, checked one
// by one and gathered into rows of one timestamp each. A row is output when a
// record of another timestamp arrives and when the records end.
#include <bit>
#include <cstring>

#include "api/converter.h"
#include "convert/field_format.h"
#include "convert/measurement_kinds.h"
#include "convert/record_loop.h"

namespace ravelo {

namespace {

// Emptying a row for reuse clears only its count and channel mask; its line
// texts stay for the comparisons of the next row.
inline void EmptyRow(RowBuffer* row) {
  row->recordCount = 0;
  std::memset(row->channelMask, 0, sizeof row->channelMask);
}

}  // namespace

namespace {

// What the record checks make of each mode, for records taken straight from
// the block.
enum class ModeClass : uint8_t { kAccepted, kSkipped, kWindDirection, kRefused };

struct ModeClassTable {
  ModeClass classes[kModeCount];
};

ModeClassTable MakeModeClasses() {
  ModeClassTable t{};
  for (int mode = 0; mode < kModeCount; ++mode) {
    t.classes[mode] = mode == 127                  ? ModeClass::kSkipped
                      : IsWindDirectionMode(mode) ? ModeClass::kWindDirection
                      : IsDefinedMode(mode)       ? ModeClass::kAccepted
                                                  : ModeClass::kRefused;
  }
  return t;
}

const ModeClassTable kModeClasses = MakeModeClasses();

}  // namespace

ResultCode CheckLoggerRecord(const LoggerRecord& record) {
  if (record.channel < 0 || record.channel >= kChannelCount) return kBadChannel;
  if (record.mode < 0 || record.mode >= kModeCount) return kBadMode;
  switch (kModeClasses.classes[record.mode]) {
    case ModeClass::kAccepted:
      return kOk;
    case ModeClass::kSkipped:  // mode 127
      return kSkipRecord;
    case ModeClass::kWindDirection:
      return record.value < 1 || record.value > 17 ? kBadValue : kOk;
    case ModeClass::kRefused:
      break;
  }
  return kUndefinedMode;
}

namespace {

// The first 33 bits of a record, its time, within the record's bytes read as
// one little-endian word.
constexpr uint64_t kRecordTimeBits = 0x80FFFFFFFFu;
// The first six bytes: time, mode and channel.
constexpr uint64_t kRecordHeadBits = 0xFFFFFFFFFFFFu;

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

inline void SetChannelBit(RowBuffer* row, int channel) {
  const ChannelBit& bit = channelBitTable[channel];
  row->channelMask[bit.byteIndex] |= bit.mask;
}

}  // namespace

// Moves the records that followed the plan into the row's mask and
// channelValues; the row then leaves the plan.
void Converter::LeavePlan() {
  RowBuffer* row = &rows[currentRow];
  for (int32_t i = 0; i < planCursor; ++i) {
    const int channel = planChannels[i];
    SetChannelBit(row, channel);
    row->channelValues[channel] = ChannelValue{planModes[i], plannedValues[i]};
  }
  planCursor = -1;
}

// Starts the current row, empty, with the given time.
void Converter::StartRow(const LoggerTimestamp& timestamp) {
  rows[currentRow].timestamp = timestamp;
  planCursor = HasPlainRowTime(timestamp) ? 0 : -1;
}

// Adds a record that passed the checks to the current row. A later record of
// a channel replaces the earlier one; every record counts.
void Converter::AddRecordToRow(int32_t channel, int32_t mode, uint16_t value) {
  RowBuffer* row = &rows[currentRow];
  if (static_cast<uint32_t>(planCursor) < static_cast<uint32_t>(planCount) &&
      planChannels[planCursor] == channel && planModes[planCursor] == mode) {
    plannedValues[planCursor++] = value;
  } else {
    if (planCursor >= 0) LeavePlan();
    SetChannelBit(row, channel);
    row->channelValues[channel] = ChannelValue{static_cast<int16_t>(mode), value};
  }
  row->recordCount += 1;
}

// Adds to the current row the records that follow in the block with the
// row's time bits, straight from their bytes, as AddRecordToRow would add
// them. Stops at a record with other time bits, one the checks refuse, and
// the end of the block's whole records; the loop takes over from there.
// Kept out of line: in a function of its own the loops' state stays in
// registers.
#if defined(__GNUC__)
__attribute__((noinline))
#endif
void Converter::GatherRowRecords(uint64_t rowTimeKey) {
  const uint64_t rowBits = rowTimeKey & kRecordTimeBits;
  uint32_t unread = chunkUnread;
  const uint8_t* b = inputChunk + (chunkFilled - unread);
  int32_t count = rows[currentRow].recordCount;

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
    const ModeClass modeClass = kModeClasses.classes[f->mode];
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
          if (kModeClasses.classes[(word >> 32) & 0x7F] == ModeClass::kSkipped) continue;
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
  RowBuffer* row = &rows[currentRow];
  if (unread >= kRecordSize) {
    Fields f;
    if (take(&f) && planCursor >= 0 && !f.skip) LeavePlan();
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
  chunkUnread = unread;
}

ResultCode Converter::RunConversion(const char* inputPath, const char* destPath, int32_t csvKind,
                                    int32_t makeMethod, int32_t direct) {
  ResultCode result = JobSetup(inputPath, destPath, csvKind, makeMethod, direct);
  if (result != kOk) return result;
  result = OpenLoggerFile();
  if (result != kOk) return result;
  result = ReadLoggerHeader();
  if (result != kOk) return result;

  for (RowBuffer& row : rows) {
    EmptyRow(&row);
    row.headerLine[0] = '\0';
    row.unitLine[0] = '\0';
    row.dataLine[0] = '\0';
  }
  currentRow = 0;
  ResetColumns();
  outputName[0] = '\0';

  LoggerRecord record;
  // The time bits of the record that gave the current row its timestamp:
  // a record with the same bits has the same timestamp.
  uint64_t rowTimeKey = kNoDecodedTime;
  for (;;) {
    if (rowTimeKey != kNoDecodedTime) GatherRowRecords(rowTimeKey);
    result = ReadLoggerRecord(&record);
    if (result != kOk) break;

    const ResultCode check = CheckLoggerRecord(record);
    if (check == kSkipRecord) continue;
    if (check != kOk) {
      CloseLoggerFile();
      return check;
    }

    RowBuffer* row = &rows[currentRow];
    if (decodedTimeKey != rowTimeKey && !SameTimestamp(record.timestamp, row->timestamp)) {
      if (row->recordCount > 0) {
        const ResultCode output = OutputRow();
        if (output != kOk) {
          CloseLoggerFile();
          return output;
        }
        currentRow = 1 - currentRow;
        row = &rows[currentRow];
        EmptyRow(row);
      }
      StartRow(record.timestamp);
      rowTimeKey = decodedTimeKey;
    }
    AddRecordToRow(record.channel, record.mode, record.value);
  }

  CloseLoggerFile();
  if (result != kEndOfInput) return result;
  if (rows[currentRow].recordCount > 0) {
    result = OutputRow();
    if (result != kOk) return result;
  }
  if (outputHandle == platform::kNoFile) return kOk;
  return FinishOutputFile();
}

}  // namespace ravelo

// One conversion job: job set-up, then the logger file's records, checked one
// by one and gathered into rows of one timestamp each. A row is output when a
// record of another timestamp arrives and when the records end.
#include <cstring>

#include "api/converter.h"
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

ResultCode CheckLoggerRecord(const LoggerRecord& record) {
  if (record.channel < 0 || record.channel >= kChannelCount) return kBadChannel;
  if (record.mode < 0 || record.mode >= kModeCount) return kBadMode;
  if (record.mode == 127) return kSkipRecord;
  if (IsWindDirectionMode(record.mode) && (record.value < 1 || record.value > 17))
    return kBadValue;
  if (!IsDefinedMode(record.mode)) return kUndefinedMode;
  return kOk;
}

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

// Adds to the current row the records that follow in the block with the
// row's time bits, straight from their bytes, as the record loop would add
// them. Stops at a record with other time bits, one the checks refuse, and
// the end of the block's whole records; the loop takes over from there.
void Converter::GatherRowRecords(uint64_t rowTimeKey) {
  RowBuffer* row = &rows[currentRow];
  uint32_t unread = chunkUnread;
  while (unread >= kRecordSize) {
    const uint8_t* b = inputChunk + (chunkFilled - unread);
    if (RecordTimeKey(b, dayCntlType) != rowTimeKey) break;
    const int mode = b[4] & 0x7F;
    const int channel = b[5];
    const uint16_t value = static_cast<uint16_t>(b[6] | (b[7] << 8));
    const ModeClass modeClass = kModeClasses.classes[mode];
    if (modeClass != ModeClass::kAccepted) {
      if (modeClass == ModeClass::kSkipped) {
        unread -= kRecordSize;
        continue;
      }
      if (modeClass == ModeClass::kRefused || value < 1 || value > 17) break;
    }
    unread -= kRecordSize;
    const ChannelBit& bit = channelBitTable[channel];
    row->channelMask[bit.byteIndex] |= bit.mask;
    row->channelValues[channel].mode = static_cast<int16_t>(mode);
    row->channelValues[channel].value = value;
    row->recordCount += 1;
  }
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
      row->timestamp = record.timestamp;
      rowTimeKey = decodedTimeKey;
    }

    const ChannelBit& bit = channelBitTable[record.channel];
    row->channelMask[bit.byteIndex] |= bit.mask;
    row->channelValues[record.channel].mode = record.mode;
    row->channelValues[record.channel].value = record.value;
    row->recordCount += 1;
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

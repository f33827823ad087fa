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

// The record loop's steps: the checks of a record, and the rows of one
// timestamp each that the records are gathered into (RunConversion drives
// them, the planned record loop is in column_plan.cc).
#include "convert/record_loop.h"

#include <cstring>

#include "api/converter.h"
#include "convert/column_plan.h"
#include "convert/measurement_kinds.h"

namespace ravelo {

namespace {

// Emptying a row for reuse clears only its count and channel mask; its line
// texts stay for the comparisons of the next row.
inline void EmptyRow(RowBuffer* row) {
  row->recordCount = 0;
  std::memset(row->channelMask, 0, sizeof row->channelMask);
}

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

}  // namespace

const ModeClassTable modeClassTable = MakeModeClasses();

ResultCode CheckLoggerRecord(const LoggerRecord& record) {
  if (record.channel < 0 || record.channel >= kChannelCount) return kBadChannel;
  if (record.mode < 0 || record.mode >= kModeCount) return kBadMode;
  switch (ModeClassOf(record.mode)) {
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

// Every job starts with empty rows and no columns.
void Converter::StartRecordLoop() {
  for (RowBuffer& row : rows) {
    EmptyRow(&row);
    row.headerLine[0] = '\0';
    row.unitLine[0] = '\0';
    row.dataLine[0] = '\0';
  }
  currentRow = 0;
  rowColumns[0] = rowColumns[1] = 0;
  lastColumns = 0;
  writtenColumns = 0;
  Plan().ResetColumns();
  output.ForgetOutputName();
}

// The other row becomes the current one, empty.
void Converter::NextRow() {
  currentRow = 1 - currentRow;
  EmptyRow(&rows[currentRow]);
}

// Starts the current row, empty, with the given time.
void Converter::StartRow(const LoggerTimestamp& timestamp) {
  rows[currentRow].timestamp = timestamp;
  Plan().StartRow(timestamp);
}

// Adds a record that passed the checks to the current row. A later record of
// a channel replaces the earlier one; every record counts.
void Converter::AddRecordToRow(int32_t channel, int32_t mode, uint16_t value) {
  RowBuffer* row = &rows[currentRow];
  ColumnPlan& plan = Plan();
  if (!plan.TakeRecord(channel, mode, value)) {
    if (plan.Following()) plan.LeavePlan(row);
    SetChannelBit(row, channel);
    row->channelValues[channel] = ChannelValue{static_cast<int16_t>(mode), value};
  }
  row->recordCount += 1;
}

}  // namespace ravelo

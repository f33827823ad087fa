// The column plan: the columns of the row whose lines were built last, as a
// list (the channel and mode of each field of its data line, in order).
// Rows with the same columns are gathered and formatted from it without
// walking their channel masks.
//
// Contract:
//  - BuildColumnPlan(row, columns) takes the columns of row, named by the
//    number columns (nonzero); ResetColumns forgets them.
//  - A row follows the plan while its records come in the plan's order, one
//    per column: StartRow begins that (only rows whose time takes 19
//    characters may follow), TakeRecord keeps the value of a record that is
//    the next column's and says whether it was; GatherRowRecords takes the
//    records of the row straight from the logger file's block, the planned
//    ones the same way. The row's
//    mask and channelValues do not have these records yet; LeavePlan moves
//    them there, and from then on the row gets every record itself.
//  - A row that followed the plan to its end (FollowedToEnd) has the plan's
//    channels (CopyMask) and its fields come from FormatPlannedFields.
//  - BuildDataLineFromPlan makes the data line of a row that has the plan's
//    channels, as the row's own line builder would; false when a mode
//    differs (the row then has other columns).
#pragma once

#include <cstdint>

#include "api/types.h"
#include "common/row_time.h"
#include "input/logger_reader.h"

namespace ravelo {

class ColumnPlan {
 public:
  ColumnPlan() { ResetColumns(); }
  ColumnPlan(const ColumnPlan&) = delete;
  ColumnPlan& operator=(const ColumnPlan&) = delete;

  void ResetColumns();
  void BuildColumnPlan(const RowBuffer& row, uint64_t columns);
  // The columns the plan describes; 0 names none.
  uint64_t PlanColumns() const { return planColumns; }

  void StartRow(const LoggerTimestamp& timestamp) {
    planCursor = HasPlainRowTime(timestamp) ? 0 : -1;
  }
  bool TakeRecord(int32_t channel, int32_t mode, uint16_t value) {
    if (static_cast<uint32_t>(planCursor) < static_cast<uint32_t>(planCount) &&
        planChannels[planCursor] == channel && planModes[planCursor] == mode) {
      plannedValues[planCursor++] = value;
      return true;
    }
    return false;
  }
  // Adds to row the records next in the reader's block that have the row's
  // time (rowTimeKey, see LoggerReader::RecordTimeKey) and pass the checks,
  // following the plan while they do; the reader goes on after them.
  void GatherRowRecords(LoggerReader* reader, uint64_t rowTimeKey, RowBuffer* row);
  bool Following() const { return planCursor >= 0; }
  void LeavePlan(RowBuffer* row);
  bool FollowedToEnd() const { return planCursor > 0 && planCursor == planCount; }
  // The row is done with the plan, its records staying where they are.
  void EndRow() { planCursor = -1; }
  void CopyMask(RowBuffer* row) const;

  // The fields of a row that followed the plan to its end; returns their
  // length. out needs room for every field and kMaxFieldLength bytes more.
  uint32_t FormatPlannedFields(const LoggerTimestamp& rowTime, char* out) const;
  bool BuildDataLineFromPlan(RowBuffer* row, uint32_t* length) const;

 private:
  // Bytes 4 and 5 of a record of each column, mode and channel, where they
  // stand in its little-endian word (bits 32..47, the time bit of byte 4
  // clear), so that with the row's time bits added the entry equals the
  // record's first six bytes; the top bit marks a wind direction mode, whose
  // value must be checked. The entry after the last column matches no
  // record.
  static constexpr uint64_t kWindKeyBit = uint64_t{1} << 63;
  static constexpr uint64_t kNoRecordKey = ~uint64_t{0};

  uint64_t planColumns;
  int32_t planCount;
  uint8_t planChannels[kChannelCount];
  int16_t planModes[kChannelCount];
  uint8_t planMask[kChannelCount / 8];
  uint8_t planRuleIds[kChannelCount];  // FieldRuleIdOf each column's mode
  uint64_t planRecordKeys[kChannelCount + 1];
  // The records that matched the plan's first columns so far, -1 once the
  // row has left the plan; their values.
  int32_t planCursor;
  uint16_t plannedValues[kChannelCount];
};

}  // namespace ravelo

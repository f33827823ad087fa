// The column plan: on random rows, the data line made from the plan (records
// taken one by one and straight from the block, and the line made from a row
// that has the plan's channels) is byte for byte the line the row's own line
// builder makes.
#include <array>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/converter.h"
#include "convert/column_plan.h"
#include "convert/field_format.h"
#include "convert/measurement_kinds.h"
#include "input/logger_reader.h"
#include "logger_file.h"

namespace ravelo {
namespace {

struct Column {
  int channel;
  int mode;
};

class ColumnPlanTest : public ::testing::Test {
 protected:
  // Channels in ascending order, each with a defined mode.
  std::vector<Column> RandomColumns() {
    std::vector<Column> columns;
    const int wanted = std::uniform_int_distribution<int>(1, 40)(random_);
    std::bernoulli_distribution take(wanted / 256.0);
    for (int channel = 0; channel < kChannelCount; ++channel) {
      if (!take(random_)) continue;
      int mode;
      do {
        mode = std::uniform_int_distribution<int>(0, kModeCount - 2)(random_);
      } while (!IsDefinedMode(mode));
      columns.push_back({channel, mode});
    }
    if (columns.empty()) columns.push_back({7, 0});
    return columns;
  }

  uint16_t RandomValue(int mode) {
    if (IsWindDirectionMode(mode)) {
      return static_cast<uint16_t>(std::uniform_int_distribution<int>(1, 17)(random_));
    }
    return static_cast<uint16_t>(std::uniform_int_distribution<int>(0, 0xFFFF)(random_));
  }

  // Records of one random time, one per column, with skipped records
  // (mode 127) here and there.
  std::vector<std::array<uint8_t, 8>> RandomRecords(const std::vector<Column>& columns) {
    q38::Record r;
    r.year = std::uniform_int_distribution<int>(2000, 2127)(random_);
    r.month = std::uniform_int_distribution<int>(0, 15)(random_);
    r.day = std::uniform_int_distribution<int>(0, 31)(random_);
    r.hour = std::uniform_int_distribution<int>(0, 31)(random_);
    r.minute = std::uniform_int_distribution<int>(0, 63)(random_);
    r.second = std::uniform_int_distribution<int>(0, 63)(random_);
    std::vector<std::array<uint8_t, 8>> records;
    std::bernoulli_distribution skipped(0.1);
    for (const Column& c : columns) {
      if (skipped(random_) && !records.empty()) {
        q38::Record skip = r;
        skip.mode = 127;
        skip.channel = c.channel;
        records.push_back(q38::EncodeRecord(skip));
      }
      r.channel = c.channel;
      r.mode = c.mode;
      r.value = RandomValue(c.mode);
      records.push_back(q38::EncodeRecord(r));
    }
    return records;
  }

  // The row as the record loop makes it without the plan, and its line.
  std::string UnplannedLine(const std::vector<std::array<uint8_t, 8>>& records, RowBuffer* row) {
    row->recordCount = 0;
    std::memset(row->channelMask, 0, sizeof row->channelMask);
    for (const auto& bytes : records) {
      LoggerRecord record{};
      reader_->DecodeLoggerRecord(bytes.data(), &record, 0);
      row->timestamp = record.timestamp;
      if (record.mode == 127) continue;
      SetChannelBit(row, record.channel);
      row->channelValues[record.channel] = ChannelValue{record.mode, record.value};
      row->recordCount += 1;
    }
    Converter::BuildDataLine(row);
    return row->dataLine;
  }

  std::mt19937 random_{20240501};
  std::unique_ptr<LoggerReader> reader_ = std::make_unique<LoggerReader>();
};

TEST_F(ColumnPlanTest, PlannedLinesEqualUnplannedOnRandomRows) {
  auto plan = std::make_unique<ColumnPlan>();
  auto planned = std::make_unique<RowBuffer>();
  auto unplanned = std::make_unique<RowBuffer>();
  for (int round = 0; round < 300; ++round) {
    const std::vector<Column> columns = RandomColumns();
    // The plan comes from an earlier row with the same columns.
    UnplannedLine(RandomRecords(columns), unplanned.get());
    plan->BuildColumnPlan(*unplanned, static_cast<uint64_t>(round) + 1);

    for (int row = 0; row < 5; ++row) {
      SCOPED_TRACE("round " + std::to_string(round) + " row " + std::to_string(row));
      const auto records = RandomRecords(columns);
      const std::string expected = UnplannedLine(records, unplanned.get());

      // The first record comes through the reader, the others straight
      // from the block.
      LoggerRecord first{};
      reader_->DecodeLoggerRecord(records[0].data(), &first, 0);
      planned->timestamp = first.timestamp;
      planned->recordCount = 1;
      std::memset(planned->channelMask, 0, sizeof planned->channelMask);
      plan->StartRow(first.timestamp);
      ASSERT_TRUE(plan->TakeRecord(first.channel, first.mode, first.value));
      std::vector<uint8_t> block;
      for (size_t i = 1; i < records.size(); ++i) {
        block.insert(block.end(), records[i].begin(), records[i].end());
      }
      block.resize(block.size() + 8);  // a record of another time ends the row
      reader_->SetBlockForTest(block.data(), static_cast<uint32_t>(block.size()),
                               static_cast<uint32_t>(block.size()));
      plan->GatherRowRecords(reader_.get(), LoggerReader::RecordTimeKey(records[0].data(), 0),
                             planned.get());
      EXPECT_EQ(reader_->UnreadCount(), 8u);
      EXPECT_EQ(planned->recordCount, unplanned->recordCount);
      ASSERT_TRUE(plan->FollowedToEnd());

      char line[kDataLineSize + kMaxFieldLength];
      uint32_t at = FormatPlainRowTime(line, planned->timestamp);
      at += plan->FormatPlannedFields(planned->timestamp, line + at);
      line[at++] = '\r';
      line[at++] = '\n';
      EXPECT_EQ(std::string(line, at), expected);
      plan->EndRow();

      // A row with the plan's channels that did not follow it.
      uint32_t length = 0;
      ASSERT_TRUE(plan->BuildDataLineFromPlan(unplanned.get(), &length));
      EXPECT_EQ(std::string(unplanned->dataLine, length), expected);
    }
  }
}

}  // namespace
}  // namespace ravelo

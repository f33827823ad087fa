// The record loop: record checks in their order, rows gathered by timestamp
// in the two alternating row buffers, and the end of the records. Rows are
// taken through the converter's row sink, so no CSV file is written.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "logger_file.h"
#include "api/converter.h"
#include "convert/measurement_kinds.h"
#include "convert/record_loop.h"
#include "platform/fault.h"
#include "converter_internals.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

// ---- The checks on their own ---------------------------------------------

LoggerRecord Rec(int channel, int mode, int value) {
  LoggerRecord r{};
  r.channel = static_cast<int16_t>(channel);
  r.mode = static_cast<int16_t>(mode);
  r.value = static_cast<uint16_t>(value);
  return r;
}

TEST(RecordChecks, InTheirOrder) {
  EXPECT_EQ(CheckLoggerRecord(Rec(0, 0, 0)), kOk);
  EXPECT_EQ(CheckLoggerRecord(Rec(255, 74, 65535)), kOk);
  EXPECT_EQ(CheckLoggerRecord(Rec(-1, 0, 0)), kBadChannel);
  EXPECT_EQ(CheckLoggerRecord(Rec(256, 0, 0)), kBadChannel);
  EXPECT_EQ(CheckLoggerRecord(Rec(256, 200, 0)), kBadChannel);  // channel first
  EXPECT_EQ(CheckLoggerRecord(Rec(0, -1, 0)), kBadMode);
  EXPECT_EQ(CheckLoggerRecord(Rec(0, 128, 0)), kBadMode);
  EXPECT_EQ(CheckLoggerRecord(Rec(0, 127, 0)), kSkipRecord);  // though its name is empty
  EXPECT_EQ(CheckLoggerRecord(Rec(-5, 127, 0)), kBadChannel);
  for (int mode : {21, 23, 26, 29}) {
    EXPECT_EQ(CheckLoggerRecord(Rec(0, mode, 1)), kOk);
    EXPECT_EQ(CheckLoggerRecord(Rec(0, mode, 17)), kOk);
    EXPECT_EQ(CheckLoggerRecord(Rec(0, mode, 0)), kBadValue);
    EXPECT_EQ(CheckLoggerRecord(Rec(0, mode, 18)), kBadValue);
    EXPECT_EQ(CheckLoggerRecord(Rec(0, mode, 65535)), kBadValue);
  }
  EXPECT_EQ(CheckLoggerRecord(Rec(0, 72, 0)), kOk);  // degrees: any value
  for (int mode = 0; mode < 127; ++mode) {
    if (IsWindDirectionMode(mode)) continue;
    EXPECT_EQ(CheckLoggerRecord(Rec(7, mode, 3)), IsDefinedMode(mode) ? kOk : kUndefinedMode)
        << mode;
  }
}

// ---- Whole jobs through RunConversion --------------------------------------

struct SeenRow {
  int index;  // which of the two row buffers
  LoggerTimestamp timestamp;
  int32_t recordCount;
  std::vector<std::array<int, 3>> channels;  // channel, mode, value
  std::string dataLine;                      // as the buffer held it on arrival
  std::string previousHeaderLine;
  std::string outputName;
};

struct Sink {
  std::vector<SeenRow> rows;
  size_t failAt = 0;  // 1-based call that fails, 0 for none
  ResultCode failWith = kWriteFailed;
};

ResultCode TakeRow(Converter* converter, RowBuffer* row, void* context) {
  Sink* sink = static_cast<Sink*>(context);
  SeenRow seen;
  seen.index = static_cast<int>(row - &converter->Row(0));
  seen.timestamp = row->timestamp;
  seen.recordCount = row->recordCount;
  for (int c = 0; c < kChannelCount; ++c) {
    const ChannelBit& bit = channelBitTable[c];
    if (row->channelMask[bit.byteIndex] & bit.mask)
      seen.channels.push_back({c, row->channelValues[c].mode, row->channelValues[c].value});
  }
  seen.dataLine = row->dataLine;
  seen.previousHeaderLine = converter->Row(1 - seen.index).headerLine;
  seen.outputName = converter->outputFile().OutputName();
  sink->rows.push_back(seen);
  // Stand in for the texts block output would leave in the row.
  std::snprintf(row->dataLine, sizeof row->dataLine, "row %zu", sink->rows.size());
  if (sink->failAt == sink->rows.size()) return sink->failWith;
  return kOk;
}

class RecordLoopTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
    converter_ = std::make_unique<Converter>();
    converter_->dayCntlType = 0;
    converter_->rowSink = &TakeRow;
    converter_->rowSinkContext = &sink_;
  }
  void TearDown() override {
    converter_.reset();
    fault::Reset();
  }

  static q38::Record At(int second, int channel, int mode = 0, int value = 0) {
    return test::RecordAt(2005, 3, 5, 12, 0, second, channel, mode, static_cast<uint16_t>(value));
  }

  ResultCode Run(const q38::Writer& w) {
    const std::string path = (dir_ / "LOG.Q38").string();
    EXPECT_TRUE(w.Save(path));
    return converter_->RunConversion(path.c_str(), dir_.c_str(), 0, 0, 0);
  }

  test::TempFolder folder_{"ravelo_loop"};
  fs::path dir_ = folder_.path();
  Sink sink_;
  std::unique_ptr<Converter> converter_;
};

TEST_F(RecordLoopTest, NoRecordsOrOnlySkippedOnesGiveNoRow) {
  EXPECT_EQ(Run(q38::Writer()), kOk);
  EXPECT_TRUE(sink_.rows.empty());
  q38::Writer w;
  w.Add(At(0, 1, 127, 0));
  w.Add(At(1, 2, 127, 99));
  EXPECT_EQ(Run(w), kOk);
  EXPECT_TRUE(sink_.rows.empty());
  EXPECT_FALSE(converter_->outputFile().IsOpen());
  EXPECT_FALSE(converter_->loggerReader().IsOpen());
}

// Records of a row's time are gathered the same way straight from the block:
// skipped records in the middle, wind directions, and rows longer than one
// 8192-byte read, whose records straddle the reads.
TEST_F(RecordLoopTest, RecordsOfOneRowAcrossSkipsAndReads) {
  q38::Writer w;
  w.Add(At(0, 0, 0, 11));
  w.Add(At(0, 1, 127, 12));
  w.Add(At(0, 2, 21, 5));
  w.Add(At(0, 3, 4, 13));
  // 3 rows of 1500 records each (12000 bytes): channels 0..255 in turn.
  for (int second = 1; second <= 3; ++second) {
    for (int i = 0; i < 1500; ++i) w.Add(At(second, i % 256, 0, second * 10000 + i));
  }
  ASSERT_EQ(Run(w), kOk);
  ASSERT_EQ(sink_.rows.size(), 4u);
  EXPECT_EQ(sink_.rows[0].recordCount, 3);
  EXPECT_EQ(sink_.rows[0].channels,
            (std::vector<std::array<int, 3>>{{0, 0, 11}, {2, 21, 5}, {3, 4, 13}}));
  for (int second = 1; second <= 3; ++second) {
    const SeenRow& row = sink_.rows[second];
    EXPECT_EQ(row.timestamp.second, second);
    EXPECT_EQ(row.recordCount, 1500);
    ASSERT_EQ(row.channels.size(), 256u);
    // Channel c last had record 1280 + c (c < 220) or 1024 + c.
    for (int c = 0; c < 256; ++c) {
      const int last = c < 1500 - 1280 ? 1280 + c : 1024 + c;
      EXPECT_EQ(row.channels[c][2], (second * 10000 + last) & 0xFFFF) << second << " " << c;
    }
  }
}

TEST_F(RecordLoopTest, RowsAreCutByTimestamp) {
  q38::Writer w;
  w.Add(At(0, 3, 0, 10));
  w.Add(At(0, 1, 127, 5));  // skipped: does not split the row
  w.Add(At(0, 1, 4, 20));
  w.Add(At(1, 2, 0, 30));
  w.Add(At(0, 3, 0, 40));  // the first timestamp again: a row of its own
  EXPECT_EQ(Run(w), kOk);
  ASSERT_EQ(sink_.rows.size(), 3u);
  EXPECT_EQ(sink_.rows[0].recordCount, 2);
  EXPECT_EQ(sink_.rows[0].channels, (std::vector<std::array<int, 3>>{{1, 4, 20}, {3, 0, 10}}));
  EXPECT_EQ(sink_.rows[0].timestamp.second, 0);
  EXPECT_EQ(static_cast<uint32_t>(sink_.rows[0].timestamp.orderingKey),
            static_cast<uint32_t>(OrderingKey(2005, 3, 5, 12, 0, 0)));
  EXPECT_EQ(sink_.rows[1].channels, (std::vector<std::array<int, 3>>{{2, 0, 30}}));
  EXPECT_EQ(sink_.rows[1].timestamp.second, 1);
  EXPECT_EQ(sink_.rows[2].channels, (std::vector<std::array<int, 3>>{{3, 0, 40}}));
  EXPECT_EQ(sink_.rows[2].timestamp.second, 0);
  // The buffers alternate.
  EXPECT_EQ(sink_.rows[0].index, 0);
  EXPECT_EQ(sink_.rows[1].index, 1);
  EXPECT_EQ(sink_.rows[2].index, 0);
}

TEST_F(RecordLoopTest, SameChannelTwiceKeepsTheLaterRecordAndCountsBoth) {
  q38::Writer w;
  w.Add(At(0, 9, 0, 10));
  w.Add(At(0, 9, 60, 61));
  EXPECT_EQ(Run(w), kOk);
  ASSERT_EQ(sink_.rows.size(), 1u);
  EXPECT_EQ(sink_.rows[0].recordCount, 2);
  EXPECT_EQ(sink_.rows[0].channels, (std::vector<std::array<int, 3>>{{9, 60, 61}}));
}

TEST_F(RecordLoopTest, ReusedBufferShowsOnlyItsNewChannels) {
  q38::Writer w;
  for (int c : {0, 31, 32, 255}) w.Add(At(0, c, 0, c));
  w.Add(At(1, 5, 0, 5));
  w.Add(At(2, 0, 0, 7));
  EXPECT_EQ(Run(w), kOk);
  ASSERT_EQ(sink_.rows.size(), 3u);
  EXPECT_EQ(sink_.rows[0].channels.size(), 4u);
  EXPECT_EQ(sink_.rows[2].index, 0);
  EXPECT_EQ(sink_.rows[2].recordCount, 1);
  EXPECT_EQ(sink_.rows[2].channels, (std::vector<std::array<int, 3>>{{0, 0, 7}}));
  // Emptying kept the buffer's texts from its last output.
  EXPECT_EQ(sink_.rows[2].dataLine, "row 1");
}

TEST_F(RecordLoopTest, JobStartEmptiesRowTextsAndOutputName) {
  for (int i = 0; i < 2; ++i) {
    RowBuffer& row = ConverterInternals::Rows(*converter_)[i];
    std::strcpy(row.headerLine, "stale");
    std::strcpy(row.dataLine, "stale");
    row.recordCount = 5;
  }
  OutputFile& output = ConverterInternals::Output(*converter_);
  ASSERT_EQ(output.CreateOutputFile(dir_.c_str(), "stale", true), kOk);
  ASSERT_EQ(output.CloseOutputFile(), kOk);
  ASSERT_STREQ(converter_->outputFile().OutputName(), "stale");
  q38::Writer w;
  w.Add(At(0, 0));
  EXPECT_EQ(Run(w), kOk);
  ASSERT_EQ(sink_.rows.size(), 1u);
  EXPECT_EQ(sink_.rows[0].recordCount, 1);
  EXPECT_EQ(sink_.rows[0].dataLine, "");
  EXPECT_EQ(sink_.rows[0].previousHeaderLine, "");
  EXPECT_EQ(sink_.rows[0].outputName, "");
}

TEST_F(RecordLoopTest, CheckFailuresStopTheJob) {
  struct Case {
    int mode;
    int value;
    ResultCode expected;
  };
  const Case cases[] = {{21, 0, kBadValue}, {23, 18, kBadValue}, {1, 0, kUndefinedMode},
                        {126, 0, kUndefinedMode}, {75, 3, kUndefinedMode}};
  for (const Case& c : cases) {
    sink_.rows.clear();
    q38::Writer w;
    w.Add(At(0, 0, 0, 1));
    w.Add(At(1, 0, 0, 2));
    w.Add(At(1, 1, c.mode, c.value));  // ends the job; the row at second 1 is not output
    w.Add(At(2, 0, 0, 3));
    EXPECT_EQ(Run(w), c.expected) << c.mode;
    EXPECT_EQ(sink_.rows.size(), 1u);
    EXPECT_FALSE(converter_->loggerReader().IsOpen());
  }
  // The wind direction values 1 and 17 pass.
  sink_.rows.clear();
  q38::Writer w;
  w.Add(At(0, 0, 21, 1));
  w.Add(At(0, 1, 29, 17));
  EXPECT_EQ(Run(w), kOk);
  EXPECT_EQ(sink_.rows.size(), 1u);
}

TEST_F(RecordLoopTest, OutputFailurePassesUp) {
  q38::Writer w;
  for (int s = 0; s < 5; ++s) w.Add(At(s, 0));
  sink_.failAt = 2;
  sink_.failWith = kCsvOpenFailed;
  EXPECT_EQ(Run(w), kCsvOpenFailed);
  EXPECT_EQ(sink_.rows.size(), 2u);
  // A failure at the last row, output when the records end.
  sink_.rows.clear();
  sink_.failAt = 5;
  EXPECT_EQ(Run(w), kCsvOpenFailed);
  EXPECT_EQ(sink_.rows.size(), 5u);
}

TEST_F(RecordLoopTest, ReaderResultsPassUp) {
  // A read failure in the second block: the rows of the first block are
  // output, the row being gathered is not.
  q38::Writer w;
  for (int i = 0; i < 1500; ++i) w.Add(At(i % 60, i / 60));
  fault::FailOp(fault::Op::kRead, 4);
  EXPECT_EQ(Run(w), kDataReadFailed);
  EXPECT_EQ(sink_.rows.size(), 1023u);
  EXPECT_FALSE(converter_->loggerReader().IsOpen());

  // Header results.
  fault::Reset();
  const std::string path = (dir_ / "SHORT.Q38").string();
  std::FILE* f = std::fopen(path.c_str(), "wb");
  std::fwrite("123456789", 1, 9, f);
  std::fclose(f);
  EXPECT_EQ(converter_->RunConversion(path.c_str(), dir_.c_str(), 0, 0, 0), kHeaderReadFailed);
  fs::create_directories(dir_ / "FOLDER.Q38");
  EXPECT_EQ(converter_->RunConversion((dir_ / "FOLDER.Q38").c_str(), dir_.c_str(), 0, 0, 0),
            kInputOpenFailed);
}

TEST_F(RecordLoopTest, MidnightShiftJoinsTheDayBefore) {
  // With day control 1, a record at 00:00:00 on the 6th is 24:00:00 of the
  // 5th: it does not join a row of the 6th at 00:00:00 stamped otherwise.
  converter_->dayCntlType = 1;
  q38::Writer w;
  q38::Record r = At(0, 0);
  r.day = 6;
  r.hour = 0;
  w.Add(r);
  EXPECT_EQ(Run(w), kOk);
  ASSERT_EQ(sink_.rows.size(), 1u);
  EXPECT_EQ(sink_.rows[0].timestamp.day, 5);
  EXPECT_EQ(sink_.rows[0].timestamp.hour, 24);
}

}  // namespace
}  // namespace ravelo

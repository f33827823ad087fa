// The logger file reader: decoding, the midnight shift, the header and memo
// lines, the record stream through the 8192-byte block with its boundaries,
// short files and read failures.
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "input/logger_reader.h"
#include "logger_file.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

LoggerTimestamp Stamp(int year, int month, int day, int hour, int minute, int second) {
  return {year, month, day, hour, minute, second, 0};
}

void ExpectStamp(const LoggerTimestamp& t, int year, int month, int day, int hour, int minute,
                 int second) {
  EXPECT_EQ(t.year, year);
  EXPECT_EQ(t.month, month);
  EXPECT_EQ(t.day, day);
  EXPECT_EQ(t.hour, hour);
  EXPECT_EQ(t.minute, minute);
  EXPECT_EQ(t.second, second);
}

// ---- Decoding and the midnight shift (no files) ----------------------------

class DecodeTest : public ::testing::Test {
 protected:
  void SetUp() override { reader_ = std::make_unique<LoggerReader>(); }
  LoggerRecord Decode(std::initializer_list<uint8_t> bytes) {
    std::vector<uint8_t> b(bytes);
    LoggerRecord r{};
    reader_->DecodeLoggerRecord(b.data(), &r, dayCntlType_);
    return r;
  }
  std::unique_ptr<LoggerReader> reader_;
  int32_t dayCntlType_ = 0;
};

TEST_F(DecodeTest, WorkedExample) {
  dayCntlType_ = 0;
  LoggerRecord r = Decode({0x0A, 0x65, 0x64, 0x40, 0x00, 0x03, 0x39, 0x30});
  ExpectStamp(r.timestamp, 2005, 3, 5, 12, 34, 0);
  EXPECT_EQ(r.mode, 0);
  EXPECT_EQ(r.channel, 3);
  EXPECT_EQ(r.value, 12345);
  EXPECT_EQ(static_cast<uint32_t>(r.timestamp.orderingKey), 186921240u);
}

TEST_F(DecodeTest, AllBitsSetPassUnchecked) {
  LoggerRecord r = Decode({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF});
  ExpectStamp(r.timestamp, 2127, 15, 31, 31, 63, 63);
  EXPECT_EQ(r.mode, 127);
  EXPECT_EQ(r.channel, 255);
  EXPECT_EQ(r.value, 65535);
  EXPECT_EQ(r.timestamp.orderingKey, OrderingKey(2127, 15, 31, 31, 63, 63));
}

TEST_F(DecodeTest, AgreesWithTheFileTool) {
  std::mt19937 random(12345);
  for (int i = 0; i < 20000; ++i) {
    uint8_t b[8];
    for (uint8_t& x : b) x = static_cast<uint8_t>(random());
    b[2] |= 0x08;  // keep the hour nonzero: no shift question here
    for (int32_t type : {0, 1, 2}) {
      dayCntlType_ = type;
      LoggerRecord r{};
      reader_->DecodeLoggerRecord(b, &r, dayCntlType_);
      const q38::Record q = q38::DecodeRecord(b);
      ExpectStamp(r.timestamp, q.year, q.month, q.day, q.hour, q.minute, q.second);
      ASSERT_EQ(r.mode, q.mode);
      ASSERT_EQ(r.channel, q.channel);
      ASSERT_EQ(r.value, q.value);
    }
  }
}

TEST_F(DecodeTest, DayControlShiftsMidnightOnlyForType1) {
  const auto bytes = q38::EncodeRecord({2000, 1, 1, 0, 0, 0, 5, 7, 99});
  for (int32_t type : {0, 1, 2, -1}) {
    dayCntlType_ = type;
    LoggerRecord r{};
    reader_->DecodeLoggerRecord(bytes.data(), &r, dayCntlType_);
    if (type == 1) {
      ExpectStamp(r.timestamp, 1999, 12, 31, 24, 0, 0);
      EXPECT_EQ(r.timestamp.orderingKey, -522600);
      EXPECT_EQ(static_cast<uint32_t>(r.timestamp.orderingKey), 4294444696u);
    } else {
      ExpectStamp(r.timestamp, 2000, 1, 1, 0, 0, 0);
      EXPECT_EQ(r.timestamp.orderingKey, 2697000 + 87000);
    }
    EXPECT_EQ(r.mode, 5);
    EXPECT_EQ(r.channel, 7);
  }
  dayCntlType_ = 1;
  LoggerRecord r{};
  const auto later = q38::EncodeRecord({2005, 3, 7, 0, 0, 1, 0, 0, 0});
  reader_->DecodeLoggerRecord(later.data(), &r, dayCntlType_);
  ExpectStamp(r.timestamp, 2005, 3, 7, 0, 0, 1);
}

TEST(ShiftMidnight, Examples) {
  struct Case {
    LoggerTimestamp in;
    int year, month, day;
  };
  const Case cases[] = {
      {Stamp(2005, 3, 7, 0, 0, 0), 2005, 3, 6},    {Stamp(2004, 3, 1, 0, 0, 0), 2004, 2, 29},
      {Stamp(2005, 3, 1, 0, 0, 0), 2005, 2, 28},   {Stamp(2006, 1, 1, 0, 0, 0), 2005, 12, 31},
      {Stamp(2000, 3, 1, 0, 0, 0), 2000, 2, 29},   {Stamp(2100, 3, 1, 0, 0, 0), 2100, 2, 28},
      {Stamp(2005, 5, 1, 0, 0, 0), 2005, 4, 30},   {Stamp(2005, 12, 1, 0, 0, 0), 2005, 11, 30},
      {Stamp(2005, 3, 0, 0, 0, 0), 2005, 2, 28},   // day 0 is not above 1
      {Stamp(2005, 0, 5, 0, 0, 0), 2005, 0, 4},    // month 0, day above 1
      {Stamp(2005, 0, 1, 0, 0, 0), 2004, 12, 31},  // month 0 is not above 1
      {Stamp(2005, 1, 0, 0, 0, 0), 2004, 12, 31},
      {Stamp(2005, 12, 31, 0, 0, 0), 2005, 12, 30},
      // Months the days table has no row for count as 31 days.
      {Stamp(2005, 13, 1, 0, 0, 0), 2005, 12, 31}, {Stamp(2005, 13, 0, 0, 0, 0), 2005, 12, 31},
      {Stamp(2005, 14, 1, 0, 0, 0), 2005, 13, 31}, {Stamp(2005, 14, 0, 0, 0, 0), 2005, 13, 31},
      {Stamp(2005, 15, 1, 0, 0, 0), 2005, 14, 31}, {Stamp(2127, 15, 0, 0, 0, 0), 2127, 14, 31},
      {Stamp(2005, 15, 9, 0, 0, 0), 2005, 15, 8},
  };
  for (const Case& c : cases) {
    LoggerTimestamp t = c.in;
    EXPECT_EQ(LoggerReader::ShiftMidnightToPreviousDay(&t), 1);
    ExpectStamp(t, c.year, c.month, c.day, 24, 0, 0);
  }
}

TEST(ShiftMidnight, OtherTimesStay) {
  for (const LoggerTimestamp& in :
       {Stamp(2005, 3, 7, 0, 0, 1), Stamp(2005, 3, 7, 0, 1, 0), Stamp(2005, 3, 7, 1, 0, 0),
        Stamp(2005, 3, 7, 24, 0, 0), Stamp(2000, 1, 1, 12, 0, 0)}) {
    LoggerTimestamp t = in;
    t.orderingKey = 42;
    EXPECT_EQ(LoggerReader::ShiftMidnightToPreviousDay(&t), 0);
    ExpectStamp(t, in.year, in.month, in.day, in.hour, in.minute, in.second);
    EXPECT_EQ(t.orderingKey, 42);
  }
}

// ---- Files ------------------------------------------------------------------

class ReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
  }
  void TearDown() override {
    reader_->CloseLoggerFile();
    fault::Reset();
  }

  std::string Save(const std::vector<uint8_t>& bytes, const char* name = "DATA.Q38") {
    const std::string path = folder_ / name;
    test::WriteFile(path, bytes);
    return path;
  }

  void Use(const std::string& path) { path_ = path; }

  ResultCode OpenAndReadHeader(const std::vector<uint8_t>& bytes) {
    Use(Save(bytes));
    const ResultCode open = reader_->OpenLoggerFile(path_.c_str());
    if (open != kOk) return open;
    return reader_->ReadLoggerHeader();
  }

  // Reads records until the reader returns something other than 0.
  ResultCode ReadAll(std::vector<LoggerRecord>* records) {
    for (;;) {
      LoggerRecord r{};
      const ResultCode result = reader_->ReadLoggerRecord(&r, dayCntlType_);
      if (result != kOk) return result;
      records->push_back(r);
    }
  }

  static q38::Record Numbered(int i) {
    return test::RecordAt(2005, 3, 1 + i / 86400 % 28, i / 3600 % 24, i / 60 % 60, i % 60, i % 256,
                          0, static_cast<uint16_t>(i));
  }

  static q38::Writer WithRecords(int count, uint32_t dataStart = q38::kDefaultDataStart) {
    q38::Writer w(dataStart);
    for (int i = 0; i < count; ++i) w.Add(Numbered(i));
    return w;
  }

  static void ExpectNumbered(const std::vector<LoggerRecord>& records, size_t count) {
    ASSERT_EQ(records.size(), count);
    for (size_t i = 0; i < count; ++i) {
      const q38::Record q = Numbered(static_cast<int>(i));
      ASSERT_EQ(records[i].value, q.value) << i;
      ASSERT_EQ(records[i].channel, q.channel) << i;
      ASSERT_EQ(records[i].timestamp.second, q.second) << i;
      ASSERT_EQ(records[i].timestamp.minute, q.minute) << i;
    }
  }

  test::TempFolder folder_{"ravelo_reader"};
  fs::path dir_ = folder_.path();
  std::string path_;
  std::unique_ptr<LoggerReader> reader_ = std::make_unique<LoggerReader>();
  int32_t dayCntlType_ = 0;
};

TEST_F(ReaderTest, OpenFailures) {
  Use((dir_ / "MISSING.Q38").string());
  EXPECT_EQ(reader_->OpenLoggerFile(path_.c_str()), kInputOpenFailed);
  EXPECT_FALSE(reader_->IsOpen());

  fs::create_directories(dir_ / "FOLDER.Q38");
  Use((dir_ / "FOLDER.Q38").string());
  EXPECT_EQ(reader_->OpenLoggerFile(path_.c_str()), kInputOpenFailed);
  EXPECT_FALSE(reader_->IsOpen());

  Use(Save(WithRecords(1).Bytes()));
  fault::Reset();
  fault::FailOp(fault::Op::kOpenRead, 1);
  EXPECT_EQ(reader_->OpenLoggerFile(path_.c_str()), kInputOpenFailed);
  EXPECT_EQ(reader_->OpenLoggerFile(path_.c_str()), kOk);
  EXPECT_TRUE(reader_->IsOpen());
  // Opening again closes the file held so far.
  EXPECT_EQ(reader_->OpenLoggerFile(path_.c_str()), kOk);
  reader_->CloseLoggerFile();
  EXPECT_FALSE(reader_->IsOpen());
  reader_->CloseLoggerFile();  // nothing open: nothing happens
}

TEST_F(ReaderTest, ShortFilesAndHeaderFailures) {
  std::vector<uint8_t> bytes = WithRecords(2).Bytes();
  EXPECT_EQ(OpenAndReadHeader(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 9)),
            kHeaderReadFailed);
  EXPECT_FALSE(reader_->IsOpen());
  EXPECT_EQ(OpenAndReadHeader({}), kHeaderReadFailed);
  EXPECT_EQ(OpenAndReadHeader(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 10)),
            kMemoReadFailed);
  EXPECT_EQ(OpenAndReadHeader(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 581)),
            kMemoReadFailed);
  EXPECT_FALSE(reader_->IsOpen());
  EXPECT_EQ(OpenAndReadHeader(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 582)), kOk);

  // A dataStart of 0x80000000 or more cannot be reached.
  q38::PutU32(bytes, 6, 0x80000000u);
  EXPECT_EQ(OpenAndReadHeader(bytes), kDataSeekFailed);
  EXPECT_FALSE(reader_->IsOpen());
  q38::PutU32(bytes, 6, 0x7FFFFFFFu);
  EXPECT_EQ(OpenAndReadHeader(bytes), kOk);
}

TEST_F(ReaderTest, HeaderFailuresThroughTheFaultSeam) {
  const std::vector<uint8_t> bytes = WithRecords(2).Bytes();
  struct Case {
    fault::Op op;
    uint64_t nth;
    int32_t partial;
    ResultCode expected;
  };
  const Case cases[] = {
      {fault::Op::kRead, 1, -1, kHeaderReadFailed}, {fault::Op::kRead, 1, 10, kHeaderReadFailed},
      {fault::Op::kSeek, 1, -1, kMemoSeekFailed},   {fault::Op::kRead, 2, -1, kMemoReadFailed},
      {fault::Op::kRead, 2, 96, kMemoReadFailed},   {fault::Op::kSeek, 2, -1, kDataSeekFailed},
  };
  for (const Case& c : cases) {
    fault::Reset();
    fault::FailOp(c.op, c.nth, c.partial);
    EXPECT_EQ(OpenAndReadHeader(bytes), c.expected) << static_cast<int>(c.op) << " " << c.nth;
    EXPECT_FALSE(reader_->IsOpen());
  }
}

TEST_F(ReaderTest, HeaderFieldsAndMemoLines) {
  q38::Writer w = WithRecords(3, 2000);
  w.SetMemo(1, "ABCDEFGHIJKLMNOP");  // 16 bytes, no zero
  w.SetMemo(2, "");
  w.SetMemo(3, "memo three");
  w.SetMemo(4, std::string("ab\0cd", 5));
  w.SetMemo(5, "\x93\x64\x88\xB3");  // code page 932 bytes are copied unchanged
  w.SetMemo(6, "z");
  std::vector<uint8_t> bytes = w.Bytes();
  bytes[0] = 0xEE;  // identification bytes are not examined
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  EXPECT_EQ(reader_->DataStart(), 2000u);
  EXPECT_EQ(reader_->DataEnd(), 2000u + 24);
  EXPECT_EQ(reader_->DataBytesLeft(), 24u);
  EXPECT_STREQ(reader_->MemoLine(0), "ABCDEFGHIJKLMNOP\r\n");
  EXPECT_EQ(std::strlen(reader_->MemoLine(0)), 18u);
  EXPECT_STREQ(reader_->MemoLine(1), "\r\n");
  EXPECT_STREQ(reader_->MemoLine(2), "memo three\r\n");
  EXPECT_STREQ(reader_->MemoLine(3), "ab\r\n");
  EXPECT_STREQ(reader_->MemoLine(4), "\x93\x64\x88\xB3\r\n");
  EXPECT_STREQ(reader_->MemoLine(5), "z\r\n");
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kEndOfInput);
  ExpectNumbered(records, 3);
}

TEST_F(ReaderTest, ManyBlocksInFileOrder) {
  // 2500 records: two full blocks and a part, with a record area that starts
  // at an odd offset.
  ASSERT_EQ(OpenAndReadHeader(WithRecords(2500, 777).Bytes()), kOk);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kEndOfInput);
  ExpectNumbered(records, 2500);
  EXPECT_EQ(fault::CallCount(fault::Op::kRead), 2u + 3u);  // header, memos, 3 blocks
  LoggerRecord r{};
  EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);  // and so on
  EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);
}

TEST_F(ReaderTest, EmptyRecordArea) {
  ASSERT_EQ(OpenAndReadHeader(WithRecords(0).Bytes()), kOk);
  LoggerRecord r{};
  EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);
}

TEST_F(ReaderTest, AreaNotAMultipleOfEight) {
  for (uint32_t extra : {1u, 3u, 7u}) {
    std::vector<uint8_t> bytes = WithRecords(5).Bytes();
    bytes.insert(bytes.end(), 16, 0xFF);
    q38::PutU32(bytes, 2, q38::kDefaultDataStart + 5 * 8 + extra);
    ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
    std::vector<LoggerRecord> records;
    EXPECT_EQ(ReadAll(&records), kEndOfInput) << extra;
    ExpectNumbered(records, 5);
    LoggerRecord r{};
    EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);
  }
  // The same across a block boundary: 1030 records and 5 bytes.
  std::vector<uint8_t> bytes = WithRecords(1031).Bytes();
  q38::PutU32(bytes, 2, q38::kDefaultDataStart + 1030 * 8 + 5);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kEndOfInput);
  ExpectNumbered(records, 1030);
}

TEST_F(ReaderTest, DataEndBelowDataStartReadsToTheEndOfTheFile) {
  // The length wraps to nearly 4 GiB; the file ends first, so the records it
  // holds are delivered and the bytes still owed make the next call fail.
  std::vector<uint8_t> bytes = WithRecords(10).Bytes();
  q38::PutU32(bytes, 2, q38::kDefaultDataStart - 8);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  EXPECT_EQ(reader_->DataBytesLeft(), 0xFFFFFFF8u);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kDataReadFailed);
  ExpectNumbered(records, 10);
  EXPECT_FALSE(reader_->IsOpen());
}

TEST_F(ReaderTest, DataStartBeyondTheEndOfTheFile) {
  std::vector<uint8_t> bytes = WithRecords(4).Bytes();
  q38::PutU32(bytes, 6, 100000);
  q38::PutU32(bytes, 2, 100000 + 64);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  LoggerRecord r{};
  EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);
}

TEST_F(ReaderTest, FileEndsInsideABlock) {
  // 100 bytes where 800 are owed: 12 records, then a failure.
  std::vector<uint8_t> bytes = WithRecords(100).Bytes();
  bytes.resize(q38::kDefaultDataStart + 100);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kDataReadFailed);
  ExpectNumbered(records, 12);
  EXPECT_FALSE(reader_->IsOpen());
  LoggerRecord r{};
  EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);  // nothing more is delivered
}

TEST_F(ReaderTest, FileEndsInsideALaterBlockOnARecordBoundary) {
  std::vector<uint8_t> bytes = WithRecords(1500).Bytes();
  bytes.resize(q38::kDefaultDataStart + 1100 * 8);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kDataReadFailed);
  ExpectNumbered(records, 1100);
}

TEST_F(ReaderTest, FileEndsExactlyAtABlockEnd) {
  std::vector<uint8_t> bytes = WithRecords(3000).Bytes();
  bytes.resize(q38::kDefaultDataStart + 2 * kBlockSize);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kEndOfInput);
  ExpectNumbered(records, 2048);
  EXPECT_FALSE(reader_->IsOpen());
}

TEST_F(ReaderTest, RecordStraddlingTwoBlocksIsPutTogether) {
  // The block read before ended 3 bytes into a record: its first 3 bytes are
  // the last unread bytes of the block, the other 5 begin the next read.
  const auto straddling = q38::EncodeRecord({2006, 7, 8, 9, 10, 11, 12, 13, 0xBEEF});
  q38::Writer w;
  std::vector<uint8_t> bytes = w.Bytes();
  bytes.insert(bytes.end(), straddling.begin() + 3, straddling.end());
  for (int i = 0; i < 1030; ++i) {
    const auto b = q38::EncodeRecord(Numbered(i));
    bytes.insert(bytes.end(), b.begin(), b.end());
  }
  q38::PutU32(bytes, 2, static_cast<uint32_t>(bytes.size()));
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<uint8_t> block(kBlockSize);
  std::memcpy(block.data() + kBlockSize - 3, straddling.data(), 3);
  reader_->SetBlockForTest(block.data(), kBlockSize, 3);

  LoggerRecord r{};
  ASSERT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kOk);
  ExpectStamp(r.timestamp, 2006, 7, 8, 9, 10, 11);
  EXPECT_EQ(r.mode, 12);
  EXPECT_EQ(r.channel, 13);
  EXPECT_EQ(r.value, 0xBEEF);
  // The records behind it are now 3 bytes off the block grid, so the next
  // block boundary splits a record as well.
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kEndOfInput);
  ExpectNumbered(records, 1030);
}

TEST_F(ReaderTest, StraddlingRecordCutByTheEndOfTheArea) {
  std::vector<uint8_t> bytes = q38::Writer().Bytes();
  bytes.insert(bytes.end(), {1, 2, 3});
  q38::PutU32(bytes, 2, static_cast<uint32_t>(bytes.size()));
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<uint8_t> block(kBlockSize);
  reader_->SetBlockForTest(block.data(), kBlockSize, 2);  // 2 + 3 bytes make no record
  LoggerRecord r{};
  EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);
}

TEST_F(ReaderTest, ReadFailuresOfTheRecordArea) {
  const std::vector<uint8_t> bytes = WithRecords(2000).Bytes();
  // The first block read (the third read of the file) fails, with or without
  // bytes reported.
  for (int32_t partial : {-1, 0, 800}) {
    fault::Reset();
    fault::FailOp(fault::Op::kRead, 3, partial);
    ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
    LoggerRecord r{};
    EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kDataReadFailed) << partial;
    EXPECT_FALSE(reader_->IsOpen());
    EXPECT_EQ(reader_->ChunkFilled(), 0u);
    EXPECT_EQ(reader_->UnreadCount(), 0u);
    EXPECT_EQ(reader_->DataBytesLeft(), 0u);
    EXPECT_EQ(reader_->ReadLoggerRecord(&r, dayCntlType_), kEndOfInput);
  }
  // The second block read fails after the first block's 1024 records.
  fault::Reset();
  fault::FailOp(fault::Op::kRead, 4);
  ASSERT_EQ(OpenAndReadHeader(bytes), kOk);
  std::vector<LoggerRecord> records;
  EXPECT_EQ(ReadAll(&records), kDataReadFailed);
  ExpectNumbered(records, 1024);
}

}  // namespace
}  // namespace ravelo

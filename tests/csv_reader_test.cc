// CSV line reader: lines around 8192-byte reads, the end of the data, and
// reads that fail.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "output/csv_reader.h"
#include "output/output_file.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

class CsvReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
    line_.assign(kReadLineSize + 16, '#');
  }
  void TearDown() override {
    c_.reset();
    fault::Reset();
  }

  void Put(const std::string& bytes, const char* name = "LOG") {
    test::WriteFile(dir_ + "/" + name + ".CSV", bytes);
  }
  void Open(const std::string& bytes) {
    Put(bytes);
    ASSERT_EQ(c_->OpenCsvReader(dir_.c_str(), "LOG"), kOk);
  }
  // One call: its result and the text it delivered. The bytes past the
  // destination's size are never touched.
  std::pair<ResultCode, std::string> Read() {
    ResultCode r = c_->ReadCsvLine(line_.data());
    EXPECT_EQ(line_[kReadLineSize], '#');
    return {r, std::string(line_.data())};
  }
  using Calls = std::vector<std::pair<ResultCode, std::string>>;
  Calls ReadAll(int calls) {
    Calls got;
    for (int i = 0; i < calls; ++i) got.push_back(Read());
    return got;
  }

  test::TempFolder folder_{"ravelo_csvreader"};
  std::string dir_ = folder_.path();
  std::unique_ptr<CsvReader> c_ = std::make_unique<CsvReader>();
  std::vector<char> line_;
};

// "<fill>\r\n" of exactly n bytes.
std::string Line(size_t n, char fill = 'x') { return std::string(n - 2, fill) + "\r\n"; }

TEST_F(CsvReaderTest, ShortFilesDeliverTheirLastLineWithTheEnd) {
  Open("a\r\nb\r\n");
  EXPECT_EQ(ReadAll(4), (Calls{{0, "a\r\n"}, {1, "b\r\n"}, {1, ""}, {1, ""}}));

  Open("a\r\nb");
  EXPECT_EQ(ReadAll(3), (Calls{{0, "a\r\n"}, {1, "b"}, {1, ""}}));

  Open("one\r\ntwo\r\nthree\r\n");
  EXPECT_EQ(ReadAll(4), (Calls{{0, "one\r\n"}, {0, "two\r\n"}, {1, "three\r\n"}, {1, ""}}));

  // Only the line feed ends a line; a lone carriage return is a byte like any.
  Open("a\rb\r\nc\n");
  EXPECT_EQ(ReadAll(2), (Calls{{0, "a\rb\r\n"}, {1, "c\n"}}));
}

TEST_F(CsvReaderTest, SingleLineAndEmptyFile) {
  Open("only\r\n");
  EXPECT_EQ(ReadAll(3), (Calls{{0, "only\r\n"}, {1, ""}, {1, ""}}));

  Open("");
  EXPECT_EQ(ReadAll(3), (Calls{{0, ""}, {1, ""}, {1, ""}}));
}

TEST_F(CsvReaderTest, FileOfExactlyOneRead) {
  const std::string first = Line(4000), last = Line(4192);
  Open(first + last);
  EXPECT_EQ(ReadAll(3), (Calls{{0, first}, {0, last}, {1, ""}}));

  const std::string whole = Line(8192);
  Open(whole);
  EXPECT_EQ(ReadAll(4), (Calls{{0, whole}, {0, ""}, {1, ""}, {1, ""}}));
}

TEST_F(CsvReaderTest, LinesAcrossTheEndOfARead) {
  // The last line begins in the first read and ends in the final one.
  const std::string a = Line(8180), last = Line(30);
  Open(a + last);
  EXPECT_EQ(ReadAll(3), (Calls{{0, a}, {0, last}, {1, ""}}));

  // A line in the middle runs across the boundary and arrives whole.
  const std::string b = Line(8150), across = Line(100, 'y'), tail = Line(50, 'z');
  Open(b + across + tail + tail);
  EXPECT_EQ(ReadAll(4), (Calls{{0, b}, {0, across}, {0, tail}, {1, tail}}));
}

TEST_F(CsvReaderTest, LongLinesArriveInParts) {
  const std::string longLine = Line(20000);
  Open(longLine + "z\r\n");
  Calls got = ReadAll(5);
  EXPECT_EQ(got[0], (std::pair<ResultCode, std::string>{0, longLine.substr(0, 8192)}));
  EXPECT_EQ(got[1], (std::pair<ResultCode, std::string>{0, longLine.substr(8192, 8192)}));
  EXPECT_EQ(got[2], (std::pair<ResultCode, std::string>{0, longLine.substr(16384)}));
  EXPECT_EQ(got[3], (std::pair<ResultCode, std::string>{1, "z\r\n"}));
  EXPECT_EQ(got[4], (std::pair<ResultCode, std::string>{1, ""}));
}

TEST_F(CsvReaderTest, OneCallDeliversAtMostTwoReads) {
  // The second line ends exactly where the first read ends, so the refill
  // made in that call is left whole for the next: that call delivers 8192
  // undelivered bytes plus one more read, the most the destination holds.
  const std::string a = "a\r\n", b = Line(8189), big = Line(20000, 'q');
  Open(a + b + big);
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{0, a}));
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{0, b}));
  auto part = Read();
  EXPECT_EQ(part.first, 0);
  EXPECT_EQ(part.second.size(), kReadLineSize - 1);
  EXPECT_EQ(part.second, big.substr(0, kReadLineSize - 1));
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{0, big.substr(kReadLineSize - 1)}));
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{1, ""}));
}

// A zero byte would end the line's text and lose the bytes after it: the
// line is refused (26), wherever it stands, and the reader reads no further.
TEST_F(CsvReaderTest, AZeroByteFailsTheLine) {
  Open(std::string("a\r\nb\0c\r\nd\r\n", 10));
  EXPECT_EQ(Read(), std::make_pair(ResultCode{0}, std::string("a\r\n")));
  EXPECT_EQ(Read().first, kLineReadFailed);

  // In the part of a line that comes with the second read.
  Open(Line(8190) + std::string("xy\0z\r\n", 7));
  EXPECT_EQ(Read().first, 0);
  EXPECT_EQ(Read().first, kLineReadFailed);

  // In the last line, without a line end.
  Open(std::string("a\r\n\0", 4));
  EXPECT_EQ(Read().first, 0);
  EXPECT_EQ(Read().first, kLineReadFailed);
}

TEST_F(CsvReaderTest, ReadFailures) {
  // A read that fails after delivering bytes: 26, the bytes copied before
  // the failing read are delivered and the file is closed.
  const std::string first = Line(8000), second = Line(500, 'y');
  Open(first + second + second);
  fault::FailOp(fault::Op::kRead, 2, 100);
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{0, first}));
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{26, std::string(192, 'y')}));
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{1, ""}));

  // A read of an open file that fails without bytes is a failure too, not
  // the end of the data: otherwise a merge would drop the rest of the file.
  fault::Reset();
  Open("a\r\nb\r\n");
  fault::FailOp(fault::Op::kRead, 1);
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{26, ""}));
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{1, ""}));
}

TEST_F(CsvReaderTest, NoFileMeansTheEnd) {
  EXPECT_EQ(ReadAll(2), (Calls{{1, ""}, {1, ""}}));
  EXPECT_EQ(fault::CallCount(fault::Op::kRead), 0u);

  // Closing keeps the buffer: its lines still come, then the end.
  const std::string first = Line(5000), second = Line(4000);
  Open(first + second);
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{0, first}));
  c_->CloseCsvReader();
  EXPECT_FALSE(c_->IsOpen());
  c_->CloseCsvReader();
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{1, second.substr(0, 3192)}));
}

TEST_F(CsvReaderTest, OpenFailuresAndReopening) {
  // A missing file, and a folder that bears the CSV file's name.
  EXPECT_EQ(c_->OpenCsvReader(dir_.c_str(), "NONE"), kCsvOpenFailed);
  EXPECT_FALSE(c_->IsOpen());
  fs::create_directory(dir_ + "/FOLDER.CSV");
  EXPECT_EQ(CsvFileExists(dir_.c_str(), "FOLDER"), 1);
  EXPECT_EQ(c_->OpenCsvReader(dir_.c_str(), "FOLDER"), kCsvOpenFailed);
  EXPECT_FALSE(c_->IsOpen());

  // A path over 259 bytes is refused, never cut.
  const std::string longName(300 - dir_.size(), 'n');
  EXPECT_EQ(c_->OpenCsvReader(dir_.c_str(), longName.c_str()), kCsvOpenFailed);
  EXPECT_STREQ(c_->CsvReadPath(), "");

  // Opening again starts from the beginning of the new file and releases
  // the old one.
  Put("old\r\nold\r\n", "OLD");
  ASSERT_EQ(c_->OpenCsvReader(dir_.c_str(), "OLD"), kOk);
  EXPECT_EQ(c_->CsvReadPath(), dir_ + "\\OLD.CSV");
  EXPECT_EQ(Read(), (std::pair<ResultCode, std::string>{0, "old\r\n"}));
  Put("new\r\n");
  ASSERT_EQ(c_->OpenCsvReader(dir_.c_str(), "LOG"), kOk);
  EXPECT_EQ(ReadAll(2), (Calls{{0, "new\r\n"}, {1, ""}}));
  EXPECT_TRUE(platform::FileRemove((dir_ + "/OLD.CSV").c_str()));
}

}  // namespace
}  // namespace ravelo

// Header, unit and data lines of a row: channel order, the walk's bound,
// empty rows, the date and time field, and the worst rows a logger file can
// give, which must stay inside the line fields.
#include <iconv.h>

#include <cstring>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "api/converter.h"
#include "convert/line_shapes.h"
#include "convert/measurement_kinds.h"

namespace ravelo {
namespace {

std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  if (cd == reinterpret_cast<iconv_t>(-1)) return "<no iconv>";
  std::string in = utf8;
  std::string out(in.size() * 2 + 8, '\0');
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out.data();
  size_t outLeft = out.size();
  iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

class LineBuildersTest : public ::testing::Test {
 protected:
  void SetUp() override {
    row_ = std::make_unique<RowBuffer>();
    // A pattern everywhere, so that writes past a line show in the next field.
    std::memset(static_cast<void*>(row_.get()), 0xA5, sizeof(RowBuffer));
    row_->recordCount = 0;
    std::memset(row_->channelMask, 0, sizeof row_->channelMask);
    SetTime(2005, 3, 5, 12, 34, 0);
  }

  void SetTime(int year, int month, int day, int hour, int minute, int second) {
    row_->timestamp = {year, month, day, hour, minute, second,
                       OrderingKey(year, month, day, hour, minute, second)};
  }

  void Put(int channel, int mode, int value) {
    const ChannelBit& bit = channelBitTable[channel];
    row_->channelMask[bit.byteIndex] |= bit.mask;
    row_->channelValues[channel] = {static_cast<int16_t>(mode), static_cast<uint16_t>(value)};
    row_->recordCount += 1;
  }

  void BuildAll() {
    Converter::BuildHeaderLine(row_.get());
    Converter::BuildUnitLine(row_.get());
    Converter::BuildDataLine(row_.get());
  }

  // Every byte after the terminating zero of a line field is untouched.
  static void ExpectRestUntouched(const char* field, size_t size) {
    const size_t length = strnlen(field, size);
    ASSERT_LT(length, size);
    for (size_t i = length + 1; i < size; ++i)
      ASSERT_EQ(static_cast<unsigned char>(field[i]), 0xA5) << "byte " << i;
  }

  void ExpectNoOverrun() {
    ExpectRestUntouched(row_->headerLine, sizeof row_->headerLine);
    ExpectRestUntouched(row_->unitLine, sizeof row_->unitLine);
    ExpectRestUntouched(row_->dataLine, sizeof row_->dataLine);
    for (unsigned char c : row_->fileBaseName) ASSERT_EQ(c, 0xA5);
  }

  std::unique_ptr<RowBuffer> row_;
};

TEST_F(LineBuildersTest, ChannelsInAscendingOrder) {
  Put(3, 0, 1234);
  Put(1, 21, 4);
  BuildAll();
  EXPECT_EQ(std::string(row_->headerLine), ToCp932("date,time,平均風向,電圧\r\n"));
  EXPECT_EQ(std::string(row_->unitLine), ",,,mV\r\n");
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/05,12:34:00,E,+0123.4\r\n");
  ExpectNoOverrun();
}

TEST_F(LineBuildersTest, HeaderAndUnitNameModesNotChannels) {
  Put(0, 0, 1);
  Put(4, 4, 2);
  Put(200, 20, 23);
  BuildAll();
  EXPECT_EQ(std::string(row_->headerLine), ToCp932("date,time,電圧,温度(ｻｰﾐｽﾀ),平均風速\r\n"));
  EXPECT_EQ(std::string(row_->unitLine), ToCp932(",,mV,ﾟC,m/s\r\n"));
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/05,12:34:00,+0000.1,+0000.2,  2.3\r\n");

  // Channel 0 in mode 0 and channel 5 in mode 0 give equal column lines.
  RowBuffer other = *row_;
  SetUp();
  Put(0, 0, 7);
  BuildAll();
  const std::string header0 = row_->headerLine, unit0 = row_->unitLine;
  SetUp();
  Put(5, 0, 9);
  BuildAll();
  EXPECT_EQ(header0, row_->headerLine);
  EXPECT_EQ(unit0, row_->unitLine);
  EXPECT_NE(std::string(other.headerLine), header0);
}

TEST_F(LineBuildersTest, EmptyRowHasEmptyColumnLines) {
  std::strcpy(row_->headerLine, "old");
  std::strcpy(row_->unitLine, "old");
  Converter::BuildHeaderLine(row_.get());
  Converter::BuildUnitLine(row_.get());
  EXPECT_STREQ(row_->headerLine, "");
  EXPECT_STREQ(row_->unitLine, "");
}

TEST_F(LineBuildersTest, WalkStopsAtRecordCount) {
  // Bits beyond the first recordCount channels present are not walked.
  Put(2, 0, 10);
  Put(7, 0, 20);
  row_->recordCount = 1;
  BuildAll();
  EXPECT_EQ(std::string(row_->unitLine), ",,mV\r\n");
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/05,12:34:00,+0001.0\r\n");
}

TEST_F(LineBuildersTest, ChannelRecordedTwiceGivesOneColumn) {
  Put(9, 0, 10);
  Put(9, 60, 61);  // the later record replaces the entry; the count counts both
  Put(255, 44, -7);
  EXPECT_EQ(row_->recordCount, 3);
  BuildAll();
  EXPECT_EQ(std::string(row_->headerLine), ToCp932("date,time,日照,歪み\r\n"));
  EXPECT_EQ(std::string(row_->unitLine), ToCp932(",,min,μE\r\n"));
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/05,12:34:00,00061,-00007\r\n");
}

TEST_F(LineBuildersTest, DateAndTimeField) {
  Put(0, 0, 0);
  SetTime(2005, 3, 6, 24, 0, 0);
  Converter::BuildDataLine(row_.get());
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/06,24:00:00,+0000.0\r\n");
  SetTime(1999, 12, 31, 24, 0, 0);
  Converter::BuildDataLine(row_.get());
  EXPECT_EQ(std::string(row_->dataLine), "1999/12/31,24:00:00,+0000.0\r\n");
  SetTime(2127, 15, 0, 31, 63, 63);  // unchecked fields pass through
  Converter::BuildDataLine(row_.get());
  EXPECT_EQ(std::string(row_->dataLine), "2127/15/00,31:63:63,+0000.0\r\n");
  SetTime(2000, 0, 1, 0, 0, 5);
  Converter::BuildDataLine(row_.get());
  EXPECT_EQ(std::string(row_->dataLine), "2000/00/01,00:00:05,+0000.0\r\n");
}

TEST_F(LineBuildersTest, TimeOfOccurrenceUsesRowTime) {
  Put(0, 24, -30);
  Put(1, 27, 900);
  SetTime(2005, 3, 7, 0, 0, 0);
  Converter::BuildDataLine(row_.get());
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/07,00:00:00,23:59:30,00:15:00\r\n");
}

TEST_F(LineBuildersTest, UndefinedModeContributesNothing) {
  Put(0, 1, 5);  // the record loop never lets such a mode through
  Put(1, 0, 5);
  BuildAll();
  EXPECT_EQ(std::string(row_->headerLine), ToCp932("date,time,電圧\r\n"));
  EXPECT_EQ(std::string(row_->unitLine), ",,mV\r\n");
  EXPECT_EQ(std::string(row_->dataLine), "2005/03/05,12:34:00,+0000.5\r\n");
}

TEST_F(LineBuildersTest, WorstRowsFitTheirFields) {
  // Longest name (13 bytes) and longest unit (6 bytes) on all 256 channels.
  for (int c = 0; c < kChannelCount; ++c) Put(c, 22, 65535);
  Converter::BuildHeaderLine(row_.get());
  EXPECT_EQ(std::strlen(row_->headerLine), 9u + 256 * 13 + 2);
  for (int c = 0; c < kChannelCount; ++c) row_->channelValues[c].mode = 56;
  Converter::BuildUnitLine(row_.get());
  EXPECT_EQ(std::strlen(row_->unitLine), 1u + 256 * 6 + 2);

  // Longest data fields: negative times of occurrence, 11 bytes each, with the
  // widest date a record can give.
  for (int c = 0; c < kChannelCount; ++c) row_->channelValues[c] = {24, static_cast<uint16_t>(-32399)};
  SetTime(1999, 15, 31, 1, 0, 0);
  Converter::BuildDataLine(row_.get());
  const std::string data = row_->dataLine;
  EXPECT_EQ(data.size(), 19u + 256 * 11 + 2);
  EXPECT_EQ(data.substr(0, 30), "1999/15/31,01:00:00,-7:-59:-59");
  EXPECT_EQ(data.substr(data.size() - 13), ",-7:-59:-59\r\n");
  ExpectNoOverrun();

  // A row time no record can give: the line still ends inside its field.
  row_->timestamp = {-2147483647 - 1, -2147483647 - 1, -2147483647 - 1, -9, 0, 0, 0};
  std::memset(row_->dataLine, 0xA5, sizeof row_->dataLine);
  Converter::BuildDataLine(row_.get());
  const std::string cut = row_->dataLine;
  EXPECT_LT(cut.size(), sizeof row_->dataLine);
  EXPECT_EQ(cut.substr(cut.size() - 2), "\r\n");
  ExpectNoOverrun();
}

// The time of an existing data line, read as "%d" reads each part: the
// usual form and the odd ones must agree.
TEST(LineTimestamps, ReadAsEachPartReadsWithPercentD) {
  struct Case {
    const char* line;
    LoggerTimestamp expected;
  };
  const Case cases[] = {
      {"2024/05/01,13:07:09,+0001.0\r\n", {2024, 5, 1, 13, 7, 9, 0}},
      {"2024/05/01,13:07:09", {2024, 5, 1, 13, 7, 9, 0}},
      {"2127/15/31,31:63:63\r\n", {2127, 15, 31, 31, 63, 63, 0}},
      {"2024/05/01,13:07:091,x", {2024, 5, 1, 13, 7, 91, 0}},   // more digits follow
      {"2024/ 5/-1,13:+7:09", {2024, 5, -1, 13, 7, 9, 0}},      // blanks and signs
      {"  24/05/01,13:07:09", {24, 5, 1, 13, 7, 9, 0}},
      {"2024/05/01,13:07:x9", {2024, 5, 1, 13, 7, 0, 0}},       // no digit: stays 0
  };
  for (const Case& c : cases) {
    LoggerTimestamp t{};
    ParseLineTimestamp(c.line, &t);
    const LoggerTimestamp& e = c.expected;
    EXPECT_TRUE(t.year == e.year && t.month == e.month && t.day == e.day && t.hour == e.hour &&
                t.minute == e.minute && t.second == e.second)
        << c.line << ": " << t.year << "/" << t.month << "/" << t.day << "," << t.hour << ":"
        << t.minute << ":" << t.second;
    EXPECT_EQ(t.orderingKey, OrderingKey(e.year, e.month, e.day, e.hour, e.minute, e.second));
  }
}

}  // namespace
}  // namespace ravelo

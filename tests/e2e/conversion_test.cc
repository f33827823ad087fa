// Whole conversions through the exports: new files, file switches, direct
// output, day control, failures half-way.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_util.h"

namespace e2e {
namespace {

class Conversion : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work);
    fs::create_directories(dest);
    RaveloInit(work.c_str(), 1, 0);
    ASSERT_EQ(RaveloINIFileDelete(), 0);
  }
  void TearDown() override { RaveloINIFileDelete(); }

  int Convert(const std::vector<Row>& rows, int kind = 0, int method = 1, int direct = 0,
              const std::string& name = "LOG_0001.Q38") {
    std::string path = dir / name;
    LoggerOf(rows).Save(path);
    return RaveloProc(path.c_str(), dest.c_str(), kind, method, direct);
  }
  std::string Day(const std::string& name) { return ReadAll(dest + "/CSV/Day/" + name); }
  std::string Month(const std::string& name) { return ReadAll(dest + "/CSV/Month/" + name); }
  size_t FilesIn(const std::string& folder) {
    size_t n = 0;
    for (auto& e : fs::directory_iterator(folder)) n += e.is_regular_file() ? 1 : 0;
    return n;
  }

  TempDir dir;
  std::string work = dir / "work";
  std::string dest = dir / "dest";
};

TEST_F(Conversion, FirstRowMakesANewDayFile) {
  ASSERT_EQ(Convert({{2024, 5, 1, 13, 0, 0, {{0, 0, 1234}}}}), 0);
  EXPECT_EQ(Day("LOG_20240501.CSV"),
            Lead() + Pair({0}) + Line("2024/05/01,13:00:00,+0123.4"));
  EXPECT_EQ(FilesIn(dest + "/CSV/Day"), 1u);
}

TEST_F(Conversion, MemoTextsFollowTheTitle) {
  std::string path = dir / "M.Q38";
  LoggerOf({{2024, 5, 1, 13, 0, 0, {{0, 0, 1}}}}, {"STATION A1", "0123456789ABCDEF", "", "x"})
      .Save(path);
  ASSERT_EQ(RaveloProc(path.c_str(), dest.c_str(), 0, 1, 0), 0);
  EXPECT_EQ(Day("M20240501.CSV"), Lead({"STATION A1", "0123456789ABCDEF", "", "x"}) +
                                      Pair({0}) + Line("2024/05/01,13:00:00,+0000.1"));
}

TEST_F(Conversion, DayFilesSplitAtMidnightAndMonthFilesAtTheMonth) {
  std::vector<Row> rows = {{2024, 1, 31, 23, 50, 0, {{0, 0, 10}}},
                           {2024, 2, 1, 0, 0, 0, {{0, 0, 20}}},
                           {2024, 2, 29, 12, 0, 0, {{0, 0, 30}}}};
  ASSERT_EQ(Convert(rows, 0), 0);
  EXPECT_EQ(Day("LOG_20240131.CSV"), Lead() + Pair({0}) + Line("2024/01/31,23:50:00,+0001.0"));
  EXPECT_EQ(Day("LOG_20240201.CSV"), Lead() + Pair({0}) + Line("2024/02/01,00:00:00,+0002.0"));
  EXPECT_EQ(Day("LOG_20240229.CSV"), Lead() + Pair({0}) + Line("2024/02/29,12:00:00,+0003.0"));

  ASSERT_EQ(Convert(rows, 1), 0);
  EXPECT_EQ(Month("LOG_202401.CSV"), Lead() + Pair({0}) + Line("2024/01/31,23:50:00,+0001.0"));
  EXPECT_EQ(Month("LOG_202402.CSV"), Lead() + Pair({0}) + Line("2024/02/01,00:00:00,+0002.0") +
                                         Line("2024/02/29,12:00:00,+0003.0"));
  EXPECT_EQ(FilesIn(dest + "/CSV/Month"), 2u);
}

TEST_F(Conversion, DayControlOneMovesMidnightToTheDayBefore) {
  RaveloDayCntlTypeSet(1);
  std::vector<Row> rows = {{2024, 3, 1, 0, 0, 0, {{0, 0, 5}}}, {2024, 3, 1, 0, 10, 0, {{0, 0, 6}}}};
  ASSERT_EQ(Convert(rows), 0);
  RaveloDayCntlTypeSet(0);
  EXPECT_EQ(Day("LOG_20240229.CSV"), Lead() + Pair({0}) + Line("2024/02/29,24:00:00,+0000.5"));
  EXPECT_EQ(Day("LOG_20240301.CSV"), Lead() + Pair({0}) + Line("2024/03/01,00:10:00,+0000.6"));
}

TEST_F(Conversion, DirectOutputWritesOneFileNamedAfterTheLoggerFile) {
  std::vector<Row> rows = {{2024, 1, 31, 10, 0, 0, {{0, 0, 1}}},
                           {2024, 2, 1, 10, 0, 0, {{0, 0, 2}}},
                           {2024, 3, 1, 10, 0, 0, {{0, 0, 3}}}};
  ASSERT_EQ(Convert(rows, 0, 1, 1, "LOG_0001_A.Q38"), 0);
  EXPECT_EQ(ReadAll(dest + "/LOG_0001_A.CSV"),
            Lead() + Pair({0}) + Line("2024/01/31,10:00:00,+0000.1") +
                Line("2024/02/01,10:00:00,+0000.2") + Line("2024/03/01,10:00:00,+0000.3"));
  EXPECT_FALSE(fs::exists(dest + "/CSV"));
}

TEST_F(Conversion, AnotherChannelSetBringsANewHeaderPair) {
  std::vector<Row> rows = {{2024, 5, 1, 10, 0, 0, {{0, 0, 1}}},
                           {2024, 5, 1, 10, 10, 0, {{0, 0, 2}}},
                           {2024, 5, 1, 10, 20, 0, {{0, 0, 3}, {1, 60, 5}}},
                           {2024, 5, 1, 10, 30, 0, {{3, 0, 4}}}};
  ASSERT_EQ(Convert(rows), 0);
  // Channel 3 in mode 0 has the same columns as channel 0 in mode 0.
  EXPECT_EQ(Day("LOG_20240501.CSV"),
            Lead() + Pair({0}) + Line("2024/05/01,10:00:00,+0000.1") +
                Line("2024/05/01,10:10:00,+0000.2") + Pair({0, 60}) +
                Line("2024/05/01,10:20:00,+0000.3,00005") + Pair({0}) +
                Line("2024/05/01,10:30:00,+0000.4"));
}

TEST_F(Conversion, RowsThatGoBackInTimeAreWrittenWhereTheyArrive) {
  std::vector<Row> rows = {{2024, 5, 1, 10, 0, 0, {{0, 0, 1}}},
                           {2024, 5, 2, 10, 0, 0, {{0, 0, 2}}},
                           {2024, 5, 1, 9, 0, 0, {{0, 0, 3}}},
                           {2024, 5, 1, 8, 0, 0, {{0, 0, 4}}}};
  ASSERT_EQ(Convert(rows), 0);
  // The 1st is merged again when the output comes back to it; within one
  // file lines already written are never revisited.
  EXPECT_EQ(Day("LOG_20240501.CSV"), Lead() + Pair({0}) + Line("2024/05/01,09:00:00,+0000.3") +
                                         Line("2024/05/01,08:00:00,+0000.4") +
                                         Line("2024/05/01,10:00:00,+0000.1"));
  EXPECT_EQ(Day("LOG_20240502.CSV"), Lead() + Pair({0}) + Line("2024/05/02,10:00:00,+0000.2"));
}

TEST_F(Conversion, AFailureOnTheSecondDayLeavesTheFirstDayCommitted) {
  // The first day exists already, so it is merged; the second day's file is
  // new. Mode 1 is undefined and stops the job.
  fs::create_directories(dest + "/CSV/Day");
  std::string old = Lead() + Pair({0}) + Line("2024/05/01,08:00:00,+0000.9");
  WriteAll(dest + "/CSV/Day/LOG_20240501.CSV", old);
  // A row is output when the next timestamp's first record has passed its
  // checks: the 10:10 row is never output.
  std::vector<Row> rows = {{2024, 5, 1, 10, 0, 0, {{0, 0, 1}}},
                           {2024, 5, 2, 10, 0, 0, {{0, 0, 2}}},
                           {2024, 5, 2, 10, 10, 0, {{0, 0, 3}}},
                           {2024, 5, 2, 10, 20, 0, {{0, 1, 4}}}};
  EXPECT_EQ(Convert(rows), 19);
  EXPECT_EQ(Day("LOG_20240501.CSV"), Lead() + Pair({0}) + Line("2024/05/01,08:00:00,+0000.9") +
                                         Line("2024/05/01,10:00:00,+0000.1"));
  EXPECT_EQ(Day("LOG_20240502.CSV"), Lead() + Pair({0}) + Line("2024/05/02,10:00:00,+0000.2"));
  EXPECT_FALSE(fs::exists(dest + "/CSV/Day/LOG_20240501.TMP"));

  // Failing while the second day is a merge leaves it as it was.
  std::string second = Day("LOG_20240502.CSV");
  rows = {{2024, 5, 2, 11, 0, 0, {{0, 0, 7}}},
          {2024, 5, 2, 11, 10, 0, {{0, 0, 8}}},
          {2024, 5, 2, 11, 20, 0, {{0, 21, 0}}}};
  EXPECT_EQ(Convert(rows), 20);
  EXPECT_EQ(Day("LOG_20240502.CSV"), second);
  EXPECT_FALSE(fs::exists(dest + "/CSV/Day/LOG_20240502.TMP"));
}

TEST_F(Conversion, NoRecordsMakeNoFile) {
  ASSERT_EQ(Convert({}), 0);
  ASSERT_EQ(Convert({{2024, 5, 1, 10, 0, 0, {{0, 127, 0}}}}), 0);
  EXPECT_EQ(FilesIn(dest + "/CSV/Day"), 0u);
}

TEST_F(Conversion, TheWidestRowFitsItsLines) {
  // 256 channels of a 13-byte name, each a time of occurrence that comes out
  // negative in all three parts: 3340 and 2838 bytes with the zero.
  Row row{2024, 5, 1, 1, 0, 0, {}};
  for (int c = 0; c < 256; ++c) row.values.push_back({c, 24, 33137});  // -32399 s
  ASSERT_EQ(Convert({row}), 0);
  std::string header = "date,time", unit = ",", data = "2024/05/01,01:00:00";
  for (int c = 0; c < 256; ++c) {
    header += Cp932(",最大瞬間起時");
    unit += ",";
    data += ",-7:-59:-59";  // 01:00:00 - 32399 s
  }
  EXPECT_EQ(header.size() + 3, 3340u);
  EXPECT_EQ(data.size() + 3, 2838u);
  EXPECT_EQ(Day("LOG_20240501.CSV"), Lead() + Line(header) + Line(unit) + Line(data));
}

// Rows that repeat the columns of the row before are made from their values
// alone; every other kind of row must come out as if built from scratch.
TEST_F(Conversion, RowsThatRepeatOrLeaveTheColumnsOfTheRowBefore) {
  const std::vector<Row> rows = {
      {2024, 5, 1, 10, 0, 0, {{0, 0, 1}, {1, 60, 5}}},
      {2024, 5, 1, 10, 1, 0, {{0, 0, 2}, {1, 60, 6}}},                         // the same
      {2024, 5, 1, 10, 2, 0, {{1, 60, 7}, {0, 0, 3}}},                         // other order
      {2024, 5, 1, 10, 3, 0, {{0, 0, 4}}},                                     // one fewer
      {2024, 5, 1, 10, 4, 0, {{0, 0, 5}, {1, 60, 8}}},                         // back again
      {2024, 5, 1, 10, 5, 0, {{0, 0, 6}, {1, 60, 9}, {2, 8, 10}}},             // one more
      {2024, 5, 1, 10, 6, 0, {{0, 0, 7}, {0, 0, 8}, {1, 60, 1}, {2, 8, 2}}},   // twice
      {2024, 5, 1, 10, 7, 0, {{0, 0, 9}, {1, 20, 3}, {2, 8, 4}}},              // new mode
      {2024, 5, 1, 10, 8, 0, {{0, 0, 10}, {1, 127, 0}, {1, 20, 4}, {2, 8, 5}}},  // skipped
      {2024, 5, 1, 10, 9, 0, {{0, 0, 11}, {1, 20, 5}, {2, 8, 6}}},
  };
  const std::string expected =
      Lead() + Pair({0, 60}) + Line("2024/05/01,10:00:00,+0000.1,00005") +
      Line("2024/05/01,10:01:00,+0000.2,00006") + Line("2024/05/01,10:02:00,+0000.3,00007") +
      Pair({0}) + Line("2024/05/01,10:03:00,+0000.4") + Pair({0, 60}) +
      Line("2024/05/01,10:04:00,+0000.5,00008") + Pair({0, 60, 8}) +
      Line("2024/05/01,10:05:00,+0000.6,00009,+0001.0") +
      Line("2024/05/01,10:06:00,+0000.8,00001,+0000.2") + Pair({0, 20, 8}) +
      Line("2024/05/01,10:07:00,+0000.9,  0.3,+0000.4") +
      Line("2024/05/01,10:08:00,+0001.0,  0.4,+0000.5") +
      Line("2024/05/01,10:09:00,+0001.1,  0.5,+0000.6");
  ASSERT_EQ(Convert(rows), 0);
  EXPECT_EQ(Day("LOG_20240501.CSV"), expected);
  // Merged into the file they made, the rows take the places of their own
  // lines: the same text again.
  ASSERT_EQ(Convert(rows), 0);
  EXPECT_EQ(Day("LOG_20240501.CSV"), expected);
}

TEST_F(Conversion, WidestRowsOneAfterTheOtherCrossTheWriteBlocks) {
  // 12 lines of 2835 characters: the repeated ones are made in the output
  // buffer right up to and across its block ends.
  std::vector<Row> rows;
  std::string expected = Lead();
  for (int second = 0; second < 12; ++second) {
    Row row{2024, 5, 1, 1, 0, second, {}};
    std::string data = "2024/05/01,01:00:" + std::string(second < 10 ? "0" : "") +
                       std::to_string(second);
    for (int c = 0; c < 256; ++c) {
      row.values.push_back({c, 24, 33137});  // -32399 s: 01:00:ss - 7:59:59
      data += ",-7:-59:-" + std::to_string(59 - second);
    }
    rows.push_back(row);
    if (second == 0) {
      std::string header = "date,time", unit = ",";
      for (int c = 0; c < 256; ++c) {
        header += Cp932(",最大瞬間起時");
        unit += ",";
      }
      expected += Line(header) + Line(unit);
    }
    expected += Line(data);
  }
  ASSERT_EQ(Convert(rows), 0);
  EXPECT_EQ(Day("LOG_20240501.CSV"), expected);
}

TEST_F(Conversion, AWindDirectionOutOfRangeStopsARowThatRepeatsTheColumns) {
  std::vector<Row> rows = {{2024, 5, 1, 10, 0, 0, {{0, 0, 1}, {1, 21, 3}}},
                           {2024, 5, 1, 10, 1, 0, {{0, 0, 2}, {1, 21, 17}}},
                           {2024, 5, 1, 10, 2, 0, {{0, 0, 3}, {1, 21, 18}}}};
  EXPECT_EQ(Convert(rows), 20);
  rows.back().values.back().value = 0;
  EXPECT_EQ(Convert(rows), 20);
}

}  // namespace
}  // namespace e2e

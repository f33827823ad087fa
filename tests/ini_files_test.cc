// Job attribute INI files: listing CSV files by day or month, looking them up,
// and deleting the files of a batch.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "api/converter.h"
#include "output/ini_files.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

LoggerTimestamp Date(int32_t year, int32_t month, int32_t day) {
  return LoggerTimestamp{year, month, day, 10, 0, 0, 0};
}

class IniFilesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
    c_ = std::make_unique<Converter>();
    std::snprintf(c_->workFolder, kPathSize, "%s", dir_.c_str());
    c_->idNumber = 1;
    c_->csvFileKind = 0;
    c_->directOutput = 0;
  }
  void TearDown() override {
    c_.reset();
    fault::Reset();
  }

  // The file as the library names it ("\" kept) and as the system sees it.
  std::string Ini(const char* kind, int number, int id = 1) const {
    char name[64];
    std::snprintf(name, sizeof name, "%s%02d_%02d.ini", kind, number, id);
    return dir_ + "\\MakeCSVExecAttr" + name;
  }
  std::string Sys(const std::string& path) const {
    std::string s = path;
    for (char& ch : s)
      if (ch == '\\') ch = '/';
    return s;
  }
  std::string Text(const std::string& ini) const { return test::ReadFile(Sys(ini)); }
  void Put(const std::string& ini, const std::string& text) const {
    test::WriteFile(Sys(ini), text);
  }
  size_t IniCount() const {
    size_t n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++n;
    return n;
  }
  int32_t Add(const std::string& csv, const LoggerTimestamp& t) {
    return IniFiles().INIFileEntryAdd(c_->workFolder, c_->idNumber, c_->csvFileKind,
                                      c_->directOutput, csv.c_str(), t);
  }
  int32_t Find(const std::string& ini, const std::string& csv) {
    return IniFiles().INIFileEntryFind(ini.c_str(), csv.c_str());
  }

  test::TempFolder folder_{"ravelo_ini"};
  std::string dir_ = folder_.path();
  std::unique_ptr<Converter> c_;
};

const std::string kCsv = "C:\\dest\\CSV\\Day\\LOG_20240505.CSV";

TEST_F(IniFilesTest, FirstEntryIsTheWindowsText) {
  EXPECT_EQ(Find(Ini("Day", 5), kCsv), 1);
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), 1);
  EXPECT_EQ(Text(Ini("Day", 5)), "[FILE_INFO]\r\nFILE_COUNT=1\r\nFILE_PATH1=" + kCsv + "\r\n");
  EXPECT_EQ(IniCount(), 1u);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv), 0);
}

TEST_F(IniFilesTest, TenthEntryAndPathsListedAlready) {
  for (int i = 1; i <= 10; ++i) {
    const std::string csv = kCsv + std::to_string(i);
    EXPECT_EQ(Find(Ini("Day", 5), csv), i);
    EXPECT_EQ(Add(csv, Date(2024, 5, 5)), 1);
  }
  const std::string text = Text(Ini("Day", 5));
  EXPECT_NE(text.find("\r\nFILE_COUNT=10\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\nFILE_PATH10=" + kCsv + "10\r\n"), std::string::npos);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv + "1"), 0);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv + "10"), 0);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv), 11);

  // Listed already: not added again, the file as it was.
  EXPECT_EQ(Add(kCsv + "7", Date(2024, 5, 5)), 0);
  EXPECT_EQ(Text(Ini("Day", 5)), text);
}

TEST_F(IniFilesTest, ComparisonIsExact) {
  ASSERT_EQ(Add(kCsv, Date(2024, 5, 5)), 1);
  EXPECT_EQ(Add("c:\\dest\\CSV\\Day\\LOG_20240505.CSV", Date(2024, 5, 5)), 1);
  EXPECT_EQ(Add("C:\\dest\\\\CSV\\Day\\LOG_20240505.CSV", Date(2024, 5, 5)), 1);
  EXPECT_EQ(Add("C:\\dest\\CSV\\Day\\LOG_20240505.csv", Date(2024, 5, 5)), 1);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv + "X"), 5);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv.substr(0, kCsv.size() - 1)), 5);
}

TEST_F(IniFilesTest, FilesByDayNumberAndMonthNumber) {
  EXPECT_EQ(Add("A.CSV", Date(2024, 1, 5)), 1);
  EXPECT_EQ(Add("B.CSV", Date(2023, 2, 5)), 1);
  EXPECT_EQ(Find(Ini("Day", 5), "A.CSV"), 0);
  EXPECT_EQ(Find(Ini("Day", 5), "B.CSV"), 0);

  c_->csvFileKind = 1;
  EXPECT_EQ(Add("M7.CSV", Date(2007, 3, 9)), 1);
  EXPECT_EQ(Add("M8.CSV", Date(2008, 3, 28)), 1);
  EXPECT_NE(Text(Ini("Month", 3)).find("FILE_COUNT=2\r\n"), std::string::npos);
  EXPECT_EQ(IniCount(), 2u);
}

TEST_F(IniFilesTest, IdNumberInTheName) {
  c_->idNumber = 123;
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), 1);
  EXPECT_TRUE(fs::exists(dir_ + "/MakeCSVExecAttrDay05_123.ini"));
  c_->idNumber = 7;
  c_->csvFileKind = 1;
  EXPECT_EQ(Add(kCsv, Date(2024, 11, 5)), 1);
  EXPECT_TRUE(fs::exists(dir_ + "/MakeCSVExecAttrMonth11_07.ini"));
}

TEST_F(IniFilesTest, CountBelowZeroListsEveryPath) {
  const std::string text = "[FILE_INFO]\r\nFILE_COUNT=-3\r\n";
  Put(Ini("Day", 5), text);
  EXPECT_EQ(Find(Ini("Day", 5), kCsv), -2);
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), 0);
  EXPECT_EQ(Text(Ini("Day", 5)), text);

  // A damaged count leaves no entry number: listed, nothing written.
  Put(Ini("Day", 6), "[FILE_INFO]\r\nFILE_COUNT=2147483647\r\n");
  EXPECT_EQ(Find(Ini("Day", 6), kCsv), 0);
}

TEST_F(IniFilesTest, FailedWritesAreReported) {
  // The count and the path are written in one step: a failed write leaves
  // the listing as it was, never a count without its path.
  fault::FailOp(fault::Op::kProfileWrite, 1);
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), IniFiles::kIniWriteFailed);
  EXPECT_FALSE(fs::exists(Sys(Ini("Day", 5))));
  fault::Reset();
  ASSERT_EQ(Add(kCsv, Date(2024, 5, 5)), 1);
  fault::Reset();
  fault::FailOp(fault::Op::kProfileWrite, 1);
  EXPECT_EQ(Add(kCsv + "2", Date(2024, 5, 5)), IniFiles::kIniWriteFailed);
  EXPECT_EQ(Text(Ini("Day", 5)), "[FILE_INFO]\r\nFILE_COUNT=1\r\nFILE_PATH1=" + kCsv + "\r\n");

  // A work folder that does not exist, or one too long for any INI path.
  fault::Reset();
  std::snprintf(c_->workFolder, kPathSize, "%s/none", dir_.c_str());
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), IniFiles::kIniWriteFailed);
  const std::string longFolder(250, 'w');
  std::snprintf(c_->workFolder, kPathSize, "%s", longFolder.c_str());
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), IniFiles::kIniWriteFailed);
  EXPECT_EQ(c_->INIFileDelete(), kOk);
}

TEST_F(IniFilesTest, DeleteRemovesEveryDayAndMonthNumberInOrder) {
  EXPECT_EQ(c_->INIFileDelete(), kOk);  // none present

  // Dates nobody checked: day 0, month 0 and months 13 to 15 have files too.
  for (int d = 0; d <= 31; ++d) ASSERT_EQ(Add(kCsv, Date(2024, 1, d)), 1);
  c_->csvFileKind = 1;
  for (int m = 0; m <= 15; ++m) ASSERT_EQ(Add(kCsv, Date(2024, m, 1)), 1);
  Put(Ini("Day", 5, 2), "[FILE_INFO]\r\n");  // another id number: not ours
  ASSERT_EQ(IniCount(), 49u);

  fault::Reset();
  EXPECT_EQ(c_->INIFileDelete(), kOk);
  EXPECT_EQ(fault::CallCount(fault::Op::kRemove), 48u);
  EXPECT_EQ(IniCount(), 1u);
  EXPECT_TRUE(fs::exists(Sys(Ini("Day", 5, 2))));
}

TEST_F(IniFilesTest, DeleteStopsAtAFileThatCannotBeDeleted) {
  for (int d : {1, 2, 4}) ASSERT_EQ(Add(kCsv, Date(2024, 1, d)), 1);
  c_->csvFileKind = 1;
  ASSERT_EQ(Add(kCsv, Date(2024, 0, 1)), 1);
  fs::create_directory(Sys(Ini("Day", 3)));  // exists, and deleting fails

  EXPECT_EQ(c_->INIFileDelete(), kDeleteFailed);
  EXPECT_FALSE(fs::exists(Sys(Ini("Day", 1))));
  EXPECT_FALSE(fs::exists(Sys(Ini("Day", 2))));
  EXPECT_TRUE(fs::exists(Sys(Ini("Day", 4))));
  EXPECT_TRUE(fs::exists(Sys(Ini("Month", 0))));

  fs::remove(Sys(Ini("Day", 3)));
  fault::Reset();
  fault::FailOp(fault::Op::kRemove, 2);  // Day04 deleted, then Month00 fails
  EXPECT_EQ(c_->INIFileDelete(), kDeleteFailed);
  EXPECT_FALSE(fs::exists(Sys(Ini("Day", 4))));
  EXPECT_TRUE(fs::exists(Sys(Ini("Month", 0))));
  EXPECT_EQ(c_->INIFileDelete(), kOk);
  EXPECT_EQ(IniCount(), 0u);
}

TEST_F(IniFilesTest, DirectOutputFindsItsFileInAnyIniFileOfTheBatch) {
  c_->directOutput = 1;
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 5)), 1);  // listed under its first row's day
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 6)), 0);  // a job starting on another day
  c_->csvFileKind = 1;
  EXPECT_EQ(Add(kCsv, Date(2024, 7, 6)), 0);  // or using the other kind
  EXPECT_EQ(IniCount(), 1u);

  // A file nobody listed goes under its first row's month.
  EXPECT_EQ(Add("OTHER.CSV", Date(2024, 7, 6)), 1);
  EXPECT_EQ(Find(Ini("Month", 7), "OTHER.CSV"), 0);
  EXPECT_EQ(IniCount(), 2u);

  // Day and month files are separate lists without direct output.
  c_->directOutput = 0;
  c_->csvFileKind = 0;
  EXPECT_EQ(Add(kCsv, Date(2024, 5, 6)), 1);
  EXPECT_EQ(IniCount(), 3u);
}

}  // namespace
}  // namespace ravelo

// Whole jobs through the Converter where the output files' safeguards show:
// a commit that lost its CSV file, INI writes that fail, direct output over
// several jobs of one batch.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "logger_file.h"
#include "api/converter.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

using test::ReadFile;

bool Has(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// Counts the commit's waits; after the last one the armed faults are gone,
// so that the end-of-job clean-up works again.
int waits = 0;
void LastWaitClearsFaults(uint32_t) {
  if (++waits == 6000) fault::Reset();
}

class OutputJobs : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
    work_ = dir_ + "/work";
    dest_ = dir_ + "/dest";
    fs::create_directory(work_);
    fs::create_directory(dest_);
    c_ = std::make_unique<Converter>();
    c_->Init(work_.c_str(), 1, 0);
    ASSERT_EQ(c_->INIFileDelete(), kOk);
  }
  void TearDown() override {
    c_->INIFileDelete();
    c_.reset();
    fault::Reset();
  }

  // One job: a logger file of one record per hour given, channel 0, mode 0,
  // values firstValue, firstValue + 1, ... on the given day of May 2024.
  ResultCode Job(int day, std::vector<int> hours, int method, int direct = 0, int firstValue = 1) {
    std::vector<q38::Record> records;
    int value = firstValue;
    for (int hour : hours) {
      const auto raw = static_cast<uint16_t>(value++);
      records.push_back(test::RecordAt(2024, 5, day, hour, 0, 0, 0, 0, raw));
    }
    return Convert(records, method, direct);
  }
  // One job of one record at 10:00 on each of the given days of May 2024.
  ResultCode JobOnDays(std::vector<int> days, int method) {
    std::vector<q38::Record> records;
    for (int day : days) {
      records.push_back(test::RecordAt(2024, 5, day, 10, 0, 0, 0, 0, static_cast<uint16_t>(day)));
    }
    return Convert(records, method, 0);
  }
  ResultCode Convert(const std::vector<q38::Record>& records, int method, int direct) {
    const std::string input = dir_ + "/LOG_0001.Q38";
    EXPECT_TRUE(test::SaveLogger(input, records));
    return c_->Proc(input.c_str(), dest_.c_str(), 0, method, direct);
  }
  std::string DayFile(const char* ext) const { return dest_ + "/CSV/Day/LOG_20240501" + ext; }

  test::TempFolder folder_{"ravelo_outjob"};
  std::string dir_ = folder_.path();
  std::string work_, dest_;
  std::unique_ptr<Converter> c_;
};

TEST_F(OutputJobs, AReplaceThatFailsKeepsTheCsvFileAndTheRowsInTheTemporaryFile) {
  ASSERT_EQ(Job(1, {10}, 1), kOk);
  const std::string before = ReadFile(DayFile(".CSV"));
  ASSERT_TRUE(Has(before, "2024/05/01,10:00:00,+0000.1\r\n"));

  fault::FailOpAlways(fault::Op::kRenameReplace);
  EXPECT_EQ(Job(1, {11}, 1, 0, 2), kRenameFailed);
  EXPECT_EQ(ReadFile(DayFile(".CSV")), before);
  const std::string kept = ReadFile(DayFile(".TMP"));
  EXPECT_TRUE(Has(kept, "2024/05/01,10:00:00,+0000.1\r\n"));
  EXPECT_TRUE(Has(kept, "2024/05/01,11:00:00,+0000.2\r\n"));
  EXPECT_STREQ(c_->outputFile().OutputPath(), "");

  // A later commit that fails before deleting anything removes its
  // temporary file as before.
  fault::Reset();
  ASSERT_TRUE(fs::remove(DayFile(".TMP")));
  ASSERT_EQ(Job(1, {10}, 1), kOk);
  fault::FailOpAlways(fault::Op::kIsHeld);
  waits = 0;
  fault::SetSleepHook(LastWaitClearsFaults);
  EXPECT_EQ(Job(1, {12}, 1, 0, 3), kDeleteFailed);
  EXPECT_EQ(waits, 6000);
  EXPECT_FALSE(fs::exists(DayFile(".TMP")));
  EXPECT_FALSE(Has(ReadFile(DayFile(".CSV")), "12:00:00"));
}

TEST_F(OutputJobs, AnIniWriteThatFailsEndsAMethod0JobBeforeTheFileIsReplaced) {
  ASSERT_EQ(Job(1, {10}, 0), kOk);
  const std::string before = ReadFile(DayFile(".CSV"));

  // The listing of the next file cannot be written: under method 0 the job
  // stops with 21 and the existing file stays as it was.
  fs::remove_all(work_);
  ASSERT_EQ(c_->INIFileDelete(), kOk);
  EXPECT_EQ(Job(1, {11}, 0, 0, 2), kWriteFailed);
  EXPECT_EQ(ReadFile(DayFile(".CSV")), before);
  EXPECT_FALSE(fs::exists(DayFile(".TMP")));

  // Under method 1 the list is never consulted: the job goes on.
  EXPECT_EQ(Job(1, {11}, 1, 0, 2), kOk);
  EXPECT_TRUE(Has(ReadFile(DayFile(".CSV")), "2024/05/01,11:00:00,+0000.2\r\n"));
}

TEST_F(OutputJobs, DirectOutputMergesLaterJobsOfTheBatchWhateverTheirFirstDay) {
  const std::string file = dest_ + "/LOG_0001.CSV";
  ASSERT_EQ(Job(1, {10}, 0, 1), kOk);
  ASSERT_EQ(Job(2, {10}, 0, 1, 2), kOk);  // first row on another day
  const std::string text = ReadFile(file);
  EXPECT_TRUE(Has(text, "2024/05/01,10:00:00,+0000.1\r\n"));
  EXPECT_TRUE(Has(text, "2024/05/02,10:00:00,+0000.2\r\n"));

  // A new batch replaces the file once, then merges again.
  ASSERT_EQ(c_->INIFileDelete(), kOk);
  ASSERT_EQ(Job(3, {10}, 0, 1, 3), kOk);
  EXPECT_FALSE(Has(ReadFile(file), "2024/05/01"));
  EXPECT_TRUE(Has(ReadFile(file), "2024/05/03,10:00:00,+0000.3\r\n"));
}

// What another run does to the CSV file while a merge waits for it at its
// commit: rewrites it with its own rows, or deletes it.
std::string swappedPath;
bool swapWrites = true;
void AnotherRunSwapsTheFile(uint32_t) {
  fs::remove(swappedPath);
  if (swapWrites) std::ofstream(swappedPath, std::ios::binary) << "the other run's rows\r\n";
}

TEST_F(OutputJobs, AMergeNeverCommitsOverAFileThatReplacedTheOneItRead) {
  swappedPath = DayFile(".CSV");
  fault::SetSleepHook(AnotherRunSwapsTheFile);

  // Rewritten meanwhile: the other run's rows stay, the job fails, and its
  // temporary file goes (its rows are still in its logger file).
  ASSERT_EQ(Job(1, {10}, 1), kOk);
  swapWrites = true;
  fault::FailOp(fault::Op::kIsHeld, 1);
  EXPECT_EQ(Job(1, {11}, 1, 0, 2), kRenameFailed);
  EXPECT_EQ(ReadFile(DayFile(".CSV")), "the other run's rows\r\n");
  EXPECT_FALSE(fs::exists(DayFile(".TMP")));

  // Deleted meanwhile: the temporary file holds the only copy of the rows of
  // the file read, and stays.
  fault::Reset();
  fault::SetSleepHook(AnotherRunSwapsTheFile);
  ASSERT_TRUE(fs::remove(DayFile(".CSV")));
  ASSERT_EQ(Job(1, {10}, 1), kOk);
  swapWrites = false;
  fault::FailOp(fault::Op::kIsHeld, 1);
  EXPECT_EQ(Job(1, {11}, 1, 0, 2), kRenameFailed);
  EXPECT_FALSE(fs::exists(DayFile(".CSV")));
  const std::string kept = ReadFile(DayFile(".TMP"));
  EXPECT_TRUE(Has(kept, "2024/05/01,10:00:00,+0000.1\r\n"));
  EXPECT_TRUE(Has(kept, "2024/05/01,11:00:00,+0000.2\r\n"));
  fault::Reset();
}

std::vector<fault::Op> calls;
void RecordCall(fault::Op op) { calls.push_back(op); }

// Position of the last call of op before position end, or -1.
long LastCall(fault::Op op, long end = -1) {
  for (size_t i = end < 0 ? calls.size() : static_cast<size_t>(end); i-- > 0;) {
    if (calls[i] == op) return static_cast<long>(i);
  }
  return -1;
}

TEST_F(OutputJobs, TheListingsReachTheDiskBeforeTheMergedFileAndBeforeTheJobReports) {
  // Three new day files: three listings, their folder flushed once, after
  // the last of them.
  calls.clear();
  fault::SetCallHook(RecordCall);
  ASSERT_EQ(JobOnDays({1, 2, 3}, 0), kOk);
  fault::SetCallHook(nullptr);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), fault::Op::kProfileWrite), 3);
  EXPECT_EQ(std::count(calls.begin(), calls.end(), fault::Op::kFolderFlush), 1);
  EXPECT_GT(LastCall(fault::Op::kFolderFlush), LastCall(fault::Op::kProfileWrite));

  // A new file listed, then a merge: the listing's folder is flushed before
  // the merged file replaces the CSV file, whose folder is flushed after.
  ASSERT_EQ(c_->INIFileDelete(), kOk);
  calls.clear();
  fault::SetCallHook(RecordCall);
  ASSERT_EQ(JobOnDays({4, 1}, 1), kOk);
  fault::SetCallHook(nullptr);
  const long listed = LastCall(fault::Op::kProfileWrite);
  const long replaced = LastCall(fault::Op::kRenameReplace);
  ASSERT_GE(listed, 0);
  ASSERT_GT(replaced, listed);
  EXPECT_NE(std::find(calls.begin() + listed, calls.begin() + replaced, fault::Op::kFolderFlush),
            calls.begin() + replaced);
  EXPECT_GT(LastCall(fault::Op::kFolderFlush), replaced);
  // The merged file's last bytes are written and forced to the disk before
  // it takes the CSV file's name.
  const long flushed = LastCall(fault::Op::kFlush, replaced);
  ASSERT_GE(flushed, 0);
  EXPECT_GT(flushed, LastCall(fault::Op::kWrite, replaced));
}

}  // namespace
}  // namespace ravelo

// The writer's 8192-byte blocks, output file creation, the commit over a CSV
// file (also while another process holds it) and the small file operations.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "output/csv_reader.h"
#include "output/output_file.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

using test::ReadFile;
using test::WriteFile;

// Text of n bytes that shows where each byte came from.
std::string Text(size_t n, char first = 'a') {
  std::string s(n, ' ');
  for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 23);
  return s;
}

class OutputFileTest : public ::testing::Test {
 protected:
  void SetUp() override { fault::Reset(); }
  void TearDown() override {
    c_.reset();
    lines_.reset();
    fault::Reset();
  }
  std::string File(const char* name) const { return dir_ + "/" + name; }
  uint64_t Writes() const { return fault::CallCount(fault::Op::kWrite); }

  // Sets up a merge of LOG: the CSV file with old contents, the finished
  // temporary file with new ones, both closed as before a commit.
  void PrepareCommit(const std::string& oldText, const std::string& newText) {
    WriteFile(File("LOG.CSV"), oldText);
    newFile_ = false;
    ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
    ASSERT_EQ(lines_->OpenCsvReader(dir_.c_str(), "LOG"), kOk);
    ASSERT_EQ(c_->WriteOutputText(newText.c_str()), kOk);
    lines_->CloseCsvReader();
    ASSERT_EQ(c_->CloseOutputFile(), kOk);
  }

  test::TempFolder folder_{"ravelo_output"};
  std::string dir_ = folder_.path();
  std::unique_ptr<OutputFile> c_ = std::make_unique<OutputFile>();
  std::unique_ptr<CsvReader> lines_ = std::make_unique<CsvReader>();
  bool newFile_ = true;
};

TEST_F(OutputFileTest, TheFileGetsWholeBlocks) {
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
  EXPECT_STREQ(c_->OutputName(), "LOG");
  EXPECT_EQ(std::string(c_->OutputPath()), dir_ + "\\LOG.CSV");
  fault::Reset();

  // Texts adding up to exactly 8192 bytes: one block at once, nothing pending.
  const std::string a = Text(8000), b = Text(192, 'A');
  EXPECT_EQ(c_->WriteOutputText(a.c_str()), kOk);
  EXPECT_EQ(Writes(), 0u);
  EXPECT_EQ(c_->WriteOutputText(b.c_str()), kOk);
  EXPECT_EQ(Writes(), 1u);
  EXPECT_EQ(c_->OutputPending(), 0u);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), a + b);

  // 100 bytes free and a text of 300: one block, 200 bytes pending.
  const std::string c = Text(8092, 'C'), d = Text(300, 'D');
  EXPECT_EQ(c_->WriteOutputText(c.c_str()), kOk);
  EXPECT_EQ(c_->WriteOutputText(d.c_str()), kOk);
  EXPECT_EQ(Writes(), 2u);
  EXPECT_EQ(c_->OutputPending(), 200u);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), a + b + c + d.substr(0, 100));

  // A text of 0 bytes changes nothing.
  EXPECT_EQ(c_->WriteOutputText(""), kOk);
  EXPECT_EQ(c_->OutputPending(), 200u);

  // A text longer than a block goes out block by block.
  const std::string e = Text(20000, 'E');
  EXPECT_EQ(c_->WriteOutputText(e.c_str()), kOk);
  EXPECT_EQ(Writes(), 4u);
  EXPECT_EQ(c_->OutputPending(), (200u + 20000u) % 8192u);

  // The rest as one shorter block at close.
  EXPECT_EQ(c_->CloseOutputFile(), kOk);
  EXPECT_EQ(Writes(), 5u);
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(ReadFile(File("LOG.CSV")), a + b + c + d + e);
}

TEST_F(OutputFileTest, CloseCases) {
  // No file open: nothing to do, also for an empty text.
  EXPECT_EQ(c_->WriteOutputText(""), kOk);
  EXPECT_EQ(c_->CloseOutputFile(), kOk);
  EXPECT_EQ(Writes(), 0u);

  // Nothing pending: no write, the file is closed (and may be deleted).
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
  EXPECT_EQ(c_->CloseOutputFile(), kOk);
  EXPECT_EQ(Writes(), 0u);
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(DeleteFileIfExists((dir_ + "\\LOG.CSV").c_str()), kOk);

  // Creating a file closes the one being written, its pending bytes written.
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "ONE", newFile_), kOk);
  ASSERT_EQ(c_->WriteOutputText("one\r\n"), kOk);
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "TWO", newFile_), kOk);
  EXPECT_EQ(ReadFile(File("ONE.CSV")), "one\r\n");
  EXPECT_EQ(c_->OutputPending(), 0u);
  EXPECT_EQ(c_->CloseOutputFile(), kOk);
}

TEST_F(OutputFileTest, WriteFailures) {
  // A failing block write: 21, the file closed, nothing pending.
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
  fault::FailOp(fault::Op::kWrite, 1);
  EXPECT_EQ(c_->WriteOutputText(Text(8192).c_str()), kWriteFailed);
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(c_->OutputPending(), 0u);

  // A short block write counts as a failure too.
  fault::Reset();
  ASSERT_EQ(DeleteFileIfExists(c_->OutputPath()), kOk);
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
  fault::FailOp(fault::Op::kWrite, 1, 100);
  EXPECT_EQ(c_->WriteOutputText(Text(9000).c_str()), kWriteFailed);
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(ReadFile(File("LOG.CSV")).size(), 100u);

  // A failing write of the pending bytes at close: 21, and closed all the same.
  fault::Reset();
  ASSERT_EQ(DeleteFileIfExists(c_->OutputPath()), kOk);
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
  ASSERT_EQ(c_->WriteOutputText("pending\r\n"), kOk);
  fault::FailOp(fault::Op::kWrite, 1);
  EXPECT_EQ(c_->CloseOutputFile(), kWriteFailed);
  EXPECT_FALSE(c_->IsOpen());
  EXPECT_EQ(c_->OutputPending(), 0u);
  EXPECT_EQ(c_->CloseOutputFile(), kOk);

  // A block with no file open fails.
  EXPECT_EQ(c_->WriteOutputText(Text(8192).c_str()), kWriteFailed);
}

TEST_F(OutputFileTest, CreatingFiles) {
  // Merge mode empties a temporary file left behind and goes on.
  WriteFile(File("LOG.TMP"), "left behind by an earlier run");
  newFile_ = false;
  ASSERT_EQ(c_->CreateOutputFile(dir_.c_str(), "LOG", newFile_), kOk);
  EXPECT_EQ(std::string(c_->OutputPath()), dir_ + "\\LOG.TMP");
  EXPECT_EQ(ReadFile(File("LOG.TMP")), "");
  EXPECT_EQ(c_->CloseOutputFile(), kOk);

  // Failures: 22 for a new file, 23 for a temporary file; the name and path
  // are kept, no file is being written.
  fs::create_directory(File("DIR.TMP"));
  EXPECT_EQ(c_->CreateOutputFile(dir_.c_str(), "DIR", newFile_), kTmpOpenFailed);
  EXPECT_EQ(std::string(c_->OutputPath()), dir_ + "\\DIR.TMP");
  EXPECT_FALSE(c_->IsOpen());
  newFile_ = true;
  fs::create_directory(File("DIR.CSV"));
  EXPECT_EQ(c_->CreateOutputFile(dir_.c_str(), "DIR", newFile_), kCsvOpenFailed);
  EXPECT_STREQ(c_->OutputName(), "DIR");
  EXPECT_EQ(std::string(c_->OutputPath()), dir_ + "\\DIR.CSV");

  // A path that would not fit in 260 bytes is refused: no file, no cut path.
  const std::string fits(259 - dir_.size() - 5, 'f');  // "\" + name + ".CSV"
  const std::string tooLong = fits + "g";
  char path[kPathSize];
  MakeCsvPath(dir_.c_str(), fits.c_str(), path);
  EXPECT_EQ(std::strlen(path), 259u);
  MakeCsvPath(dir_.c_str(), tooLong.c_str(), path);
  EXPECT_STREQ(path, "");
  EXPECT_EQ(CsvFileExists(dir_.c_str(), tooLong.c_str()), 0);
  EXPECT_EQ(c_->CreateOutputFile(dir_.c_str(), tooLong.c_str(), newFile_), kCsvOpenFailed);
  EXPECT_STREQ(c_->OutputPath(), "");
  newFile_ = false;
  EXPECT_EQ(c_->CreateOutputFile(dir_.c_str(), tooLong.c_str(), newFile_), kTmpOpenFailed);
  EXPECT_STREQ(c_->OutputPath(), "");
  const std::string nameTooLong(400, 'n');
  EXPECT_EQ(c_->CreateOutputFile(dir_.c_str(), nameTooLong.c_str(), newFile_), kTmpOpenFailed);
  EXPECT_EQ(std::strlen(c_->OutputName()), kNameSize - 1);
}

TEST_F(OutputFileTest, SmallFileOperations) {
  EXPECT_EQ(CsvFileExists(dir_.c_str(), "LOG"), 0);
  WriteFile(File("LOG.CSV"), "x");
  EXPECT_EQ(CsvFileExists(dir_.c_str(), "LOG"), 1);
  fs::create_directory(File("DIR.CSV"));
  EXPECT_EQ(CsvFileExists(dir_.c_str(), "DIR"), 1);  // any entry counts

  const std::string missing = dir_ + "\\NONE.CSV", csv = dir_ + "\\LOG.CSV";
  const std::string folder = dir_ + "\\DIR.CSV";
  EXPECT_EQ(DeleteFileIfExists(missing.c_str()), kOk);
  EXPECT_EQ(DeleteFileIfExists(folder.c_str()), kDeleteFailed);
  fault::Reset();
  fault::FailOp(fault::Op::kRemove, 1);
  EXPECT_EQ(DeleteFileIfExists(csv.c_str()), kDeleteFailed);
  EXPECT_TRUE(fs::exists(File("LOG.CSV")));
  EXPECT_EQ(DeleteFileIfExists(csv.c_str()), kOk);
  EXPECT_FALSE(fs::exists(File("LOG.CSV")));
}

// ---- Commit ---------------------------------------------------------------

struct SleepLog {
  int calls = 0;
  int releaseAfter = 0;  // 0: never
  int releaseFd = -1;
  pid_t holder = -1;
  uint32_t lastMs = 0;
};
SleepLog sleepLog;

// Stands in for the 100 ms waits; lets the holder go after releaseAfter.
void CountSleep(uint32_t ms) {
  sleepLog.lastMs = ms;
  if (++sleepLog.calls == sleepLog.releaseAfter) {
    EXPECT_EQ(write(sleepLog.releaseFd, "x", 1), 1);
    int status = 0;
    waitpid(sleepLog.holder, &status, 0);
    sleepLog.holder = -1;
  }
}

// Another process that opens path for reading, as another program that
// reads the CSV file, and holds it until released through the pipe.
class Holder {
 public:
  explicit Holder(const std::string& path) {
    int ready[2], release[2];
    EXPECT_EQ(pipe(ready), 0);
    EXPECT_EQ(pipe(release), 0);
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      platform::FileHandle file = platform::FileOpenRead(path.c_str());
      char c = file == platform::kNoFile ? 'n' : 'y';
      if (write(ready[1], &c, 1) != 1) _exit(2);
      if (read(release[0], &c, 1) < 0) _exit(3);
      platform::FileClose(file);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    releaseFd_ = release[1];
    char c = 'n';
    EXPECT_EQ(read(ready[0], &c, 1), 1);
    EXPECT_EQ(c, 'y');
    close(ready[0]);
  }
  ~Holder() {
    if (sleepLog.holder == pid_) {
      EXPECT_EQ(write(releaseFd_, "x", 1), 1);
      waitpid(pid_, nullptr, 0);
    }
    close(releaseFd_);
  }
  Holder(const Holder&) = delete;
  Holder& operator=(const Holder&) = delete;
  void ReleaseAfterSleeps(int k) {
    sleepLog = SleepLog{};
    sleepLog.releaseAfter = k;
    sleepLog.releaseFd = releaseFd_;
    sleepLog.holder = pid_;
    fault::SetSleepHook(CountSleep);
  }

 private:
  pid_t pid_ = -1;
  int releaseFd_ = -1;
};

TEST_F(OutputFileTest, CommitReplacesTheCsvFile) {
  sleepLog = SleepLog{};
  fault::SetSleepHook(CountSleep);
  PrepareCommit("old\r\n", "old\r\nnew\r\n");
  EXPECT_EQ(c_->CommitOutputFile(lines_->CsvReadPath(), lines_->CsvReadId()), kOk);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), "old\r\nnew\r\n");
  EXPECT_FALSE(fs::exists(File("LOG.TMP")));
  EXPECT_EQ(sleepLog.calls, 0);
  EXPECT_FALSE(c_->KeepOutputFile());

  // With no CSV file present the temporary file is renamed at once.
  PrepareCommit("old\r\n", "merged\r\n");
  ASSERT_TRUE(fs::remove(File("LOG.CSV")));
  EXPECT_EQ(c_->CommitOutputFile(lines_->CsvReadPath(), lines_->CsvReadId()), kOk);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), "merged\r\n");
  EXPECT_EQ(sleepLog.calls, 0);
}

TEST_F(OutputFileTest, CommitWaitsWhileAnotherProcessHoldsTheCsvFile) {
  PrepareCommit("old\r\n", "merged\r\n");
  Holder holder(File("LOG.CSV"));
  holder.ReleaseAfterSleeps(5);
  EXPECT_EQ(c_->CommitOutputFile(lines_->CsvReadPath(), lines_->CsvReadId()), kOk);
  EXPECT_EQ(sleepLog.calls, 5);
  EXPECT_EQ(sleepLog.lastMs, 100u);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), "merged\r\n");
  EXPECT_FALSE(fs::exists(File("LOG.TMP")));
}

TEST_F(OutputFileTest, CommitGivesUpAfter6000Attempts) {
  PrepareCommit("old\r\n", "merged\r\n");
  Holder holder(File("LOG.CSV"));
  holder.ReleaseAfterSleeps(0);
  fault::Reset();
  fault::SetSleepHook(CountSleep);
  EXPECT_EQ(c_->CommitOutputFile(lines_->CsvReadPath(), lines_->CsvReadId()), kDeleteFailed);
  EXPECT_EQ(sleepLog.calls, 6000);
  EXPECT_EQ(fault::CallCount(fault::Op::kIsHeld), 6000u);
  EXPECT_EQ(fault::CallCount(fault::Op::kRenameReplace), 0u);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), "old\r\n");
  EXPECT_EQ(ReadFile(File("LOG.TMP")), "merged\r\n");
  EXPECT_FALSE(c_->KeepOutputFile());  // the CSV file is whole: the clean-up may go
}

TEST_F(OutputFileTest, FailedReplaceKeepsBothFiles) {
  // The replace is one step: when it fails the CSV file is as it was, and
  // the temporary file, the only copy of the job's rows, is marked to
  // survive the end-of-job clean-up.
  PrepareCommit("old\r\n", "merged\r\n");
  fault::FailOp(fault::Op::kRenameReplace, 1);
  EXPECT_EQ(c_->CommitOutputFile(lines_->CsvReadPath(), lines_->CsvReadId()), kRenameFailed);
  EXPECT_TRUE(c_->KeepOutputFile());
  EXPECT_EQ(ReadFile(File("LOG.CSV")), "old\r\n");
  EXPECT_EQ(ReadFile(File("LOG.TMP")), "merged\r\n");
}

TEST_F(OutputFileTest, MissingTemporaryFileLeavesTheCsvFile) {
  PrepareCommit("old\r\n", "merged\r\n");
  ASSERT_TRUE(fs::remove(File("LOG.TMP")));
  fault::Reset();
  EXPECT_EQ(c_->CommitOutputFile(lines_->CsvReadPath(), lines_->CsvReadId()), kRenameFailed);
  EXPECT_EQ(fault::CallCount(fault::Op::kRenameReplace), 0u);
  EXPECT_EQ(ReadFile(File("LOG.CSV")), "old\r\n");
  EXPECT_FALSE(c_->KeepOutputFile());
}

}  // namespace
}  // namespace ravelo

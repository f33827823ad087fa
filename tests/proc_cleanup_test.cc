// The end-of-job clean-up of Proc after jobs that fail while writing: a
// partial temporary merge file goes and a file written new stays. (That a
// temporary file holding the only copy of a file's rows is kept is shown by
// OutputJobs.AReplaceThatFailsKeepsTheCsvFileAndTheRowsInTheTemporaryFile.)
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "logger_file.h"
#include "api/converter.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;
namespace fault = platform::fault;

class ProcCleanupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
    dest = root + "/out";
    day = dest + "/CSV/Day";
    fs::create_directories(day);
    fs::create_directories(root + "/work");
    logger = root + "/LOG_0001.Q38";
    ASSERT_TRUE(test::SaveLogger(logger, {test::RecordAt(2024, 1, 1, 0, 0, 1),
                                          test::RecordAt(2024, 1, 1, 0, 0, 2),
                                          test::RecordAt(2024, 1, 1, 0, 0, 3)}));
    converter = std::make_unique<Converter>();
    converter->Init((root + "/work").c_str(), 1, 0);
  }
  void TearDown() override {
    fault::Reset();
    converter.reset();
  }

  static std::string Read(const std::string& path) { return test::ReadFile(path); }
  ResultCode Run(int32_t makeMethod) {
    return converter->Proc(logger.c_str(), dest.c_str(), 0, makeMethod, 0);
  }

  test::TempFolder temp{"ravelo-cleanup"};
  std::string root = temp.path();
  std::string dest, day, logger;
  std::unique_ptr<Converter> converter;
};

TEST_F(ProcCleanupTest, APartialMergeFileIsRemoved) {
  const std::string csv = day + "/LOG_20240101.CSV";
  ASSERT_EQ(Run(1), kOk);
  const std::string earlier = Read(csv);
  fault::FailOpAlways(fault::Op::kWrite);
  EXPECT_EQ(Run(1), kWriteFailed);
  EXPECT_FALSE(fs::exists(day + "/LOG_20240101.TMP"));
  EXPECT_EQ(Read(csv), earlier);
  EXPECT_STREQ(converter->outputFile().OutputPath(), "");
  EXPECT_FALSE(converter->outputFile().IsOpen());
  EXPECT_FALSE(converter->csvReader().IsOpen());
}

TEST_F(ProcCleanupTest, AFileWrittenNewStays) {
  fault::FailOpAlways(fault::Op::kWrite);
  EXPECT_EQ(Run(1), kWriteFailed);
  EXPECT_TRUE(fs::exists(day + "/LOG_20240101.CSV"));
  EXPECT_STREQ(converter->outputFile().OutputPath(), "");
}

TEST_F(ProcCleanupTest, AWorkFolderTooLongForItsFieldHoldsNoIniFile) {
  // The stored first 259 bytes name an existing folder: no INI file may
  // land there, nor anywhere else.
  std::string folder = root + "/w";
  while (folder.size() + 41 < kPathSize - 1) folder += "/" + std::string(40, 'w');
  folder += "/" + std::string(kPathSize - 2 - folder.size(), 'x');
  ASSERT_EQ(folder.size(), kPathSize - 1);
  fs::create_directories(folder);
  converter->Init((folder + "/MakeCSVExecAttr").c_str(), 1, 0);
  EXPECT_EQ(std::string(converter->workFolder), folder);
  converter->INIFileDelete();
  Run(0);
  EXPECT_TRUE(fs::is_empty(folder));
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    EXPECT_EQ(entry.path().filename().string().rfind("MakeCSVExecAttr", 0), std::string::npos)
        << entry.path();
  }
}

}  // namespace
}  // namespace ravelo

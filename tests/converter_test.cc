// The Converter's life: defaults after construction, the settings exports and
// the end-of-job clean-up of Proc.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "api/converter.h"
#include "converter_internals.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;

class ConverterTest : public ::testing::Test {
 protected:
  test::TempFolder folder{"ravelo-converter"};
  std::string root = folder.path();
  std::unique_ptr<Converter> converter = std::make_unique<Converter>();
};

TEST_F(ConverterTest, ConstructionGivesTheDefaults) {
  EXPECT_STREQ(converter->workFolder, "");
  EXPECT_EQ(converter->idNumber, 1);
  EXPECT_EQ(converter->dayCntlType, 0);
  EXPECT_STREQ(converter->inputFilePath, "");
  EXPECT_STREQ(converter->outputFolder, "");
  EXPECT_STREQ(converter->nameStem, "");
  EXPECT_STREQ(converter->outputFile().OutputPath(), "");
  EXPECT_FALSE(converter->loggerReader().IsOpen());
  EXPECT_FALSE(converter->csvReader().IsOpen());
  EXPECT_FALSE(converter->outputFile().IsOpen());
  EXPECT_FALSE(converter->outputFile().KeepOutputFile());
  EXPECT_EQ(converter->rowSink, nullptr);
}

TEST_F(ConverterTest, InitStoresTheSettingsAndNothingElse) {
  std::strcpy(converter->inputFilePath, "kept");
  converter->Init("C:\\work", 123, 1);
  EXPECT_STREQ(converter->workFolder, "C:\\work");
  EXPECT_EQ(converter->idNumber, 123);
  EXPECT_EQ(converter->dayCntlType, 1);
  EXPECT_STREQ(converter->inputFilePath, "kept");

  // A null folder is stored as empty, as after load.
  converter->Init(nullptr, 7, -1);
  EXPECT_STREQ(converter->workFolder, "");
  EXPECT_EQ(converter->idNumber, 7);
  EXPECT_EQ(converter->dayCntlType, -1);
}

TEST_F(ConverterTest, InitNeverOverrunsTheWorkFolder) {
  std::string fits(kPathSize - 1, 'w');
  converter->Init(fits.c_str(), 5, 0);
  EXPECT_EQ(std::string(converter->workFolder), fits);

  // Too long: the first 259 bytes stay, so that every INI path made from it
  // is too long as well and no INI file lands in another folder.
  std::string tooLong = std::string(kPathSize - 1, 'a') + std::string(200, 'b');
  converter->Init(tooLong.c_str(), 9, 2);
  EXPECT_EQ(std::string(converter->workFolder), tooLong.substr(0, kPathSize - 1));
  EXPECT_EQ(converter->idNumber, 9);  // the next field is intact
  EXPECT_EQ(converter->dayCntlType, 2);
}

TEST_F(ConverterTest, DayCntlTypeSetStoresAnyValue) {
  for (int32_t value : {1, 2, -1, 0, INT32_MIN}) {
    converter->DayCntlTypeSet(value);
    EXPECT_EQ(converter->dayCntlType, value);
  }
}

TEST_F(ConverterTest, AJobFailingAtItsFirstCheckLeavesNothingOpen) {
  // A file written new before a failure stays; only outputPath is emptied.
  std::string written = root + "/LOG_20240101.CSV";
  OutputFile& output = ConverterInternals::Output(*converter);
  ASSERT_EQ(output.CreateOutputFile(root.c_str(), "LOG_20240101", true), kOk);
  ASSERT_EQ(output.WriteOutputText("rows"), kOk);
  ASSERT_EQ(output.CloseOutputFile(), kOk);
  converter->newCsvFile = 1;
  EXPECT_EQ(converter->Proc(nullptr, root.c_str(), 0, 0, 0), kNoInputPath);
  EXPECT_STREQ(converter->outputFile().OutputPath(), "");
  EXPECT_TRUE(fs::exists(written));
  EXPECT_FALSE(converter->loggerReader().IsOpen());
  EXPECT_FALSE(converter->outputFile().IsOpen());
}

TEST_F(ConverterTest, AJobFailingAfterTheOpenClosesTheLoggerFile) {
  std::string logger = root + "/LOG_0001.Q38";
  std::ofstream(logger) << "x";  // too short for a header
  std::string dest = root + "/out";
  fs::create_directories(dest);
  EXPECT_EQ(converter->Proc(logger.c_str(), dest.c_str(), 1, 0, 0), kHeaderReadFailed);
  EXPECT_FALSE(converter->loggerReader().IsOpen());
  EXPECT_STREQ(converter->outputFile().OutputPath(), "");
  EXPECT_TRUE(fs::is_directory(dest + "/CSV/Month"));  // folders are made first and stay
}

}  // namespace
}  // namespace ravelo

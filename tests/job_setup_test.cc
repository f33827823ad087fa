// Job set-up: argument checks in their order, the name stem and the output
// folders.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include <gtest/gtest.h>

#include "api/converter.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo {
namespace {

namespace fs = std::filesystem;

class JobSetupTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dest = root + "/out";
    fs::create_directories(dest);
    logger = Touch("LOG_0001.Q38");
    converter = std::make_unique<Converter>();
  }
  std::string Touch(const std::string& name) {
    std::string path = root + "/" + name;
    test::WriteFile(path, "x");
    return path;
  }
  ResultCode Setup(const char* input, const char* destination, int kind = 0, int method = 0,
                   int direct = 0) {
    return converter->JobSetup(input, destination, kind, method, direct);
  }
  std::string StemOf(const std::string& name, int direct = 0) {
    std::string path = Touch(name);
    EXPECT_EQ(Setup(path.c_str(), dest.c_str(), 0, 0, direct), kOk) << name;
    return converter->nameStem;
  }

  test::TempFolder folder{"ravelo-setup"};
  std::string root = folder.path();
  std::string dest, logger;
  std::unique_ptr<Converter> converter;
};

TEST_F(JobSetupTest, ArgumentsAreCheckedInTheirOrder) {
  std::string missing = root + "/missing.Q38";
  std::string wrongExtension = Touch("LOG_0001.Q3");
  EXPECT_EQ(Setup(nullptr, nullptr, 9, 9), kNoInputPath);
  EXPECT_EQ(Setup(missing.c_str(), nullptr, 9, 9), kInputMissing);
  EXPECT_EQ(Setup(logger.c_str(), nullptr, 9, 9), kNoDestPath);
  EXPECT_EQ(Setup(logger.c_str(), (root + "/nowhere").c_str(), 9, 9), kDestMissing);
  EXPECT_EQ(Setup(logger.c_str(), logger.c_str()), kDestMissing);  // a file, not a folder
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), 2, 0), kBadCsvKind);
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), -1, 0), kBadCsvKind);
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), 0, -1), kBadMakeMethod);
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), 0, 2), kBadMakeMethod);
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), 1, 1), kBadExtension);
  // The extension comes after every other argument, before any folder.
  EXPECT_FALSE(fs::exists(dest + "/CSV"));
  // A folder passes the existence test of the logger path.
  fs::create_directories(root + "/DIR.Q38");
  EXPECT_EQ(Setup((root + "/DIR.Q38").c_str(), dest.c_str()), kOk);
}

TEST_F(JobSetupTest, OnlyTheLoggerExtensionPasses) {
  for (const char* name : {"A_1.q38", "A_2.Q38", "a.b.Q38"}) {
    std::string path = Touch(name);
    EXPECT_EQ(Setup(path.c_str(), dest.c_str()), kOk) << name;
  }
  for (const char* name : {"LOG_0001.Q38.bak", "LOG_0001", "LOG_0001.Q3", "Q38", "x.Q38x"}) {
    std::string path = Touch(name);
    EXPECT_EQ(Setup(path.c_str(), dest.c_str()), kBadExtension) << name;
  }
  // A dot in a folder name is no extension.
  fs::create_directories(root + "/v1.Q38");
  std::string path = root + "/v1.Q38/LOG";
  std::ofstream(path) << "x";
  EXPECT_EQ(Setup(path.c_str(), dest.c_str()), kBadExtension);
}

TEST_F(JobSetupTest, TheStemEndsAtTheFirstUnderscore) {
  EXPECT_EQ(StemOf("LOG_0001_A.Q38"), "LOG_");
  EXPECT_EQ(StemOf("DATA.Q38"), "DATA");
  EXPECT_EQ(StemOf("_X.Q38"), "_");
  EXPECT_EQ(StemOf("LOG_0001_A.Q38", 1), "LOG_0001_A");
  EXPECT_EQ(StemOf("A.B_C.Q38"), "A.B_");
}

TEST_F(JobSetupTest, BackslashesSeparateFoldersToo) {
  // The engine's own separator; the platform maps it on POSIX.
  std::string path = root + "\\LOG_7.Q38";
  Touch("LOG_7.Q38");
  ASSERT_EQ(Setup(path.c_str(), dest.c_str()), kOk);
  EXPECT_STREQ(converter->nameStem, "LOG_");
}

TEST_F(JobSetupTest, FoldersBelowTheDestination) {
  ASSERT_EQ(Setup(logger.c_str(), dest.c_str(), 0), kOk);
  EXPECT_TRUE(fs::is_directory(dest + "/CSV/Day"));
  EXPECT_EQ(std::string(converter->outputFolder), dest + "\\CSV\\Day");
  ASSERT_EQ(Setup(logger.c_str(), dest.c_str(), 1), kOk);
  EXPECT_TRUE(fs::is_directory(dest + "/CSV/Month"));
  EXPECT_EQ(std::string(converter->outputFolder), dest + "\\CSV\\Month");
  ASSERT_EQ(Setup(logger.c_str(), dest.c_str(), 0), kOk);  // reused
  ASSERT_EQ(Setup(logger.c_str(), dest.c_str(), 0, 0, 7), kOk);
  EXPECT_EQ(std::string(converter->outputFolder), dest);
}

TEST_F(JobSetupTest, FilesInTheWayOfTheFolders) {
  std::ofstream(dest + "/CSV") << "in the way";
  EXPECT_EQ(Setup(logger.c_str(), dest.c_str()), kCsvFolderFailed);
  fs::remove(dest + "/CSV");
  fs::create_directories(dest + "/CSV");
  std::ofstream(dest + "/CSV/Day") << "in the way";
  EXPECT_EQ(Setup(logger.c_str(), dest.c_str()), kSubfolderFailed);
  EXPECT_TRUE(fs::is_directory(dest + "/CSV"));  // not undone
}

// Another run makes each folder between the check that it is missing and the
// creation, so that the creation fails because the folder is there.
std::string racedFolders;
int racedCreations = 0;
void MakeFolderFirst(platform::fault::Op op) {
  if (op != platform::fault::Op::kFolderCreate) return;
  ++racedCreations;
  fs::create_directories(racedFolders + (fs::exists(racedFolders + "/CSV") ? "/CSV/Day" : "/CSV"));
}

TEST_F(JobSetupTest, FoldersMadeMeanwhileByAnotherRunAreUsed) {
  racedFolders = dest;
  racedCreations = 0;
  platform::fault::Reset();
  platform::fault::SetCallHook(MakeFolderFirst);
  EXPECT_EQ(Setup(logger.c_str(), dest.c_str(), 0), kOk);
  platform::fault::Reset();
  EXPECT_EQ(racedCreations, 2);
  EXPECT_TRUE(fs::is_directory(dest + "/CSV/Day"));
}

TEST_F(JobSetupTest, ValuesStoredBeforeAFailureStay) {
  std::string wrongExtension = Touch("LOG_0001.Q3");
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), 1, 2), kBadMakeMethod);
  EXPECT_EQ(converter->csvFileKind, 1);
  EXPECT_STREQ(converter->inputFilePath, "");  // not reached
  EXPECT_EQ(Setup(wrongExtension.c_str(), dest.c_str(), 0, 1, 3), kBadExtension);
  EXPECT_EQ(converter->csvMakeMethod, 1);
  EXPECT_EQ(converter->directOutput, 3);
  EXPECT_EQ(std::string(converter->inputFilePath), wrongExtension);
  EXPECT_STREQ(converter->destFolder, "");  // not reached
}

TEST_F(JobSetupTest, TextsAreJoinedAsTheyAre) {
  // A destination ending in a separator gives a doubled one.
  std::string withSeparator = dest + "\\";
  ASSERT_EQ(Setup(logger.c_str(), withSeparator.c_str(), 1), kOk);
  EXPECT_EQ(std::string(converter->csvFolder), withSeparator + "\\CSV");
  EXPECT_EQ(std::string(converter->outputFolder), withSeparator + "\\CSV\\Month");
  EXPECT_EQ(std::string(converter->destFolder), withSeparator);
}

TEST_F(JobSetupTest, NameSplitOfDrivesAndFolders) {
  struct Case {
    const char* path;
    int32_t direct;
    ResultCode result;
    const char* stem;
  };
  const Case cases[] = {
      {"C:LOG_1.Q38", 0, kOk, "LOG_"},
      {"C:\\data\\LOG_1_B.q38", 1, kOk, "LOG_1_B"},
      {"D:/mixed\\x/A_B.Q38", 0, kOk, "A_"},
      {"C:\\v1.Q38\\LOG", 0, kBadExtension, ""},
      {".Q38", 0, kOk, ""},
      {"C:.Q38", 1, kOk, ""},
      {"LOG.", 0, kBadExtension, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    std::strcpy(converter->inputFilePath, c.path);
    converter->directOutput = c.direct;
    converter->nameStem[0] = '\0';
    EXPECT_EQ(converter->InputFileNameCheck(), c.result);
    EXPECT_STREQ(converter->nameStem, c.stem);
  }
}

TEST_F(JobSetupTest, NamesTooLongForTheScratchBuffersAreNoLoggerFiles) {
  const std::string names[] = {std::string(258, 'N'), "a." + std::string(256, 'x'),
                               std::string(255, 'B') + ".Q3"};
  for (const std::string& name : names) {
    ASSERT_LT(name.size(), kPathSize);
    std::strcpy(converter->inputFilePath, name.c_str());
    EXPECT_EQ(converter->InputFileNameCheck(), kBadExtension) << name.size();
  }
  // The longest base name a logger path can carry is a whole stem.
  std::string longest = std::string(255, 'S') + ".Q38";
  std::strcpy(converter->inputFilePath, longest.c_str());
  converter->directOutput = 0;
  ASSERT_EQ(converter->InputFileNameCheck(), kOk);
  EXPECT_EQ(std::string(converter->nameStem), std::string(255, 'S'));
}

TEST_F(JobSetupTest, PathsTooLongForTheirFieldsAreRefused) {
  std::string longLogger = root + "/" + std::string(300, 'L') + ".Q38";
  EXPECT_EQ(Setup(longLogger.c_str(), dest.c_str()), kInputMissing);
  std::string longDest = dest + "/" + std::string(280, 'D');
  EXPECT_EQ(Setup(logger.c_str(), longDest.c_str()), kDestMissing);

  // A destination that fits while "\CSV" or "\Month" does not.
  auto folderOfLength = [&](size_t length) {
    std::string path = dest;
    while (path.size() + 41 < length) path += "/" + std::string(40, 'd');
    path += "/" + std::string(length - path.size() - 1, 'e');
    fs::create_directories(path);
    return path;
  };
  std::string deep = folderOfLength(257);  // + "\CSV" needs 262 bytes
  EXPECT_EQ(Setup(logger.c_str(), deep.c_str()), kCsvFolderFailed);
  std::string deeper = folderOfLength(251);  // + "\CSV\Day" fits, "\Month" not
  EXPECT_EQ(Setup(logger.c_str(), deeper.c_str(), 0), kOk);
  EXPECT_EQ(Setup(logger.c_str(), deeper.c_str(), 1), kSubfolderFailed);
  std::string edge = folderOfLength(255);  // "\CSV" just fits, "\CSV\Day" not
  EXPECT_EQ(Setup(logger.c_str(), edge.c_str(), 0), kSubfolderFailed);
  EXPECT_TRUE(fs::is_directory(edge + "/CSV"));

  // A logger path of exactly 259 bytes is a path like any other.
  std::string longest = folderOfLength(250) + "/LOG_.Q38";
  ASSERT_EQ(longest.size(), kPathSize - 1);
  std::ofstream(longest) << "x";
  EXPECT_EQ(Setup(longest.c_str(), dest.c_str()), kOk);
  EXPECT_EQ(std::string(converter->inputFilePath), longest);
}

}  // namespace
}  // namespace ravelo

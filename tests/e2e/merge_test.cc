// Merges into existing CSV files and batches of jobs under both creation
// methods.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include "e2e_util.h"

namespace e2e {
namespace {

class Merge : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work);
    fs::create_directories(dayFolder);
    RaveloInit(work.c_str(), 1, 0);
    ASSERT_EQ(RaveloINIFileDelete(), 0);
  }
  void TearDown() override { RaveloINIFileDelete(); }

  int Convert(const std::vector<Row>& rows, int method = 1, int direct = 0,
              std::initializer_list<std::string> memos = {}) {
    std::string path = dir / "LOG_0001.Q38";
    LoggerOf(rows, memos).Save(path);
    return RaveloProc(path.c_str(), dest.c_str(), 0, method, direct);
  }
  std::string File(const std::string& name = "LOG_20240501.CSV") {
    return ReadAll(dayFolder + "/" + name);
  }
  void Existing(const std::string& text, const std::string& name = "LOG_20240501.CSV") {
    WriteAll(dayFolder + "/" + name, text);
  }
  bool TmpLeft() {
    for (auto& e : fs::directory_iterator(dayFolder)) {
      if (e.path().extension() == ".TMP") return true;
    }
    return false;
  }

  TempDir dir;
  std::string work = dir / "work";
  std::string dest = dir / "dest";
  std::string dayFolder = dest + "/CSV/Day";
  std::string h1 = Pair({0});
  std::string h2 = Pair({0, 60});
};

Row At(int hour, int minute, uint16_t value, bool secondChannel = false, int day = 1) {
  Row r{2024, 5, day, hour, minute, 0, {{0, 0, value}}};
  if (secondChannel) r.values.push_back({1, 60, 5});
  return r;
}

TEST_F(Merge, RowsTakeTheirPlaceAmongExistingLines) {
  Existing(Lead({"OLD"}) + h1 + Line("2024/05/01,10:00:00,+0000.1") +
           Line("2024/05/01,10:20:00,+0000.2") + Line("2024/05/01,10:40:00,+0000.4"));
  ASSERT_EQ(Convert({At(10, 20, 9), At(10, 30, 3)}, 1, 0, {"NEW"}), 0);
  // The old 10:20 line gives way to the row; 10:40 is carried over at the end.
  EXPECT_EQ(File(), Lead({"NEW"}) + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,10:20:00,+0000.9") +
                        Line("2024/05/01,10:30:00,+0000.3") +
                        Line("2024/05/01,10:40:00,+0000.4"));
  EXPECT_FALSE(TmpLeft());
}

TEST_F(Merge, RowsWithOtherColumnsStandUnderTheirOwnHeader) {
  Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
           Line("2024/05/01,10:20:00,+0000.2") + Line("2024/05/01,10:40:00,+0000.4"));
  ASSERT_EQ(Convert({At(10, 20, 9, true), At(10, 30, 3, true)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") + h2 +
                        Line("2024/05/01,10:20:00,+0000.9,00005") +
                        Line("2024/05/01,10:30:00,+0000.3,00005") + h1 +
                        Line("2024/05/01,10:40:00,+0000.4"));
}

TEST_F(Merge, EarlierExistingLinesAreWrittenUnderTheirOwnHeader) {
  Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
           Line("2024/05/01,10:40:00,+0000.4"));
  ASSERT_EQ(Convert({At(9, 0, 7, true), At(10, 20, 8, true)}), 0);
  // 10:00 is read ahead while 09:00 is placed and written before 10:20,
  // after the rows' header: its own header comes back before it.
  EXPECT_EQ(File(), Lead() + h1 + h2 + Line("2024/05/01,09:00:00,+0000.7,00005") + h1 +
                        Line("2024/05/01,10:00:00,+0000.1") + h2 +
                        Line("2024/05/01,10:20:00,+0000.8,00005") + h1 +
                        Line("2024/05/01,10:40:00,+0000.4"));
}

TEST_F(Merge, AUnitLineAtTheEndOfTheFileIsTheUnitLine) {
  std::string unitWithoutEnd = h1.substr(0, h1.size() - 2);
  for (const std::string& existing : {h1, unitWithoutEnd}) {
    Existing(Lead() + existing);
    ASSERT_EQ(Convert({At(10, 0, 1)}), 0);
    EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1"));
  }
}

TEST_F(Merge, ALastLineWithoutLineEndIsEndedBeforeMoreText) {
  Existing(Lead() + h1 + "2024/05/01,10:00:00,+0000.1");
  ASSERT_EQ(Convert({At(11, 0, 2)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,11:00:00,+0000.2"));

  // Carried over at the end it stays as it is.
  Existing(Lead() + h1 + "2024/05/01,12:00:00,+0000.3");
  ASSERT_EQ(Convert({At(11, 0, 2)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,11:00:00,+0000.2") +
                        "2024/05/01,12:00:00,+0000.3");
}

TEST_F(Merge, EmptyLinesAreDroppedWhilePlacingAndEverythingIsCopiedWhenCarriedOver) {
  Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") + Line("") + Line(" \t") +
           Line("2024/05/01,10:40:00,+0000.4") + Line("tail junk") + Line(""));
  ASSERT_EQ(Convert({At(10, 20, 2)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,10:20:00,+0000.2") +
                        Line("2024/05/01,10:40:00,+0000.4") + Line("tail junk") + Line(""));
}

TEST_F(Merge, ALineInAFormTheReaderDoesNotKnowLeavesTheFileAsItWas) {
  // Met while placing the rows, such a line would be lost.
  for (const char* unknown : {"2024/5/1,9:10:00", "2024/5/1,10:10:00,+0000.5", "# a note",
                              "\"2024/05/01,09:00:00\",+0000.5", "junk"}) {
    SCOPED_TRACE(unknown);
    std::string text = Lead() + h1 + Line(unknown) + Line("2024/05/01,10:00:00,+0000.1");
    Existing(text);
    EXPECT_EQ(Convert({At(10, 20, 2)}), 26);
    EXPECT_EQ(File(), text);
    EXPECT_FALSE(TmpLeft());
  }
}

TEST_F(Merge, ADataLineRightAfterAHeaderLineIsADataLine) {
  // The section has no unit line; its data lines keep their places, and
  // merging the same rows again changes nothing.
  const std::string header = h1.substr(0, h1.find("\r\n") + 2);
  Existing(Lead() + header + Line("2024/05/01,10:00:00,+0000.1") +
           Line("2024/05/01,10:40:00,+0000.4"));
  ASSERT_EQ(Convert({At(10, 20, 2)}), 0);
  const std::string merged = Lead() + header + Line("2024/05/01,10:00:00,+0000.1") + h1 +
                             Line("2024/05/01,10:20:00,+0000.2") + header +
                             Line("2024/05/01,10:40:00,+0000.4");
  EXPECT_EQ(File(), merged);
  ASSERT_EQ(Convert({At(10, 20, 2)}), 0);
  EXPECT_EQ(File(), merged);

  // Also when that data line is the file's last, and later than the row.
  Existing(Lead() + header + "2024/05/01,10:40:00,+0000.4");
  ASSERT_EQ(Convert({At(10, 20, 2)}), 0);
  EXPECT_EQ(File(), Lead() + header + h1 + Line("2024/05/01,10:20:00,+0000.2") + header +
                        "2024/05/01,10:40:00,+0000.4");
}

TEST_F(Merge, AllExistingLinesBeforeTheRowsAreCopiedFirst) {
  Existing(Lead() + h1 + Line("2024/05/01,01:00:00,+0000.1") +
           Line("2024/05/01,02:00:00,+0000.2"));
  ASSERT_EQ(Convert({At(10, 0, 3)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,01:00:00,+0000.1") +
                        Line("2024/05/01,02:00:00,+0000.2") +
                        Line("2024/05/01,10:00:00,+0000.3"));
}

TEST_F(Merge, TheRestOfADayIsCarriedOverWhenTheDayChanges) {
  Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
           Line("2024/05/01,23:00:00,+0002.3"));
  Existing(Lead() + h1 + Line("2024/05/02,09:00:00,+0000.9"), "LOG_20240502.CSV");
  ASSERT_EQ(Convert({At(12, 0, 5), At(8, 0, 6, false, 2), At(10, 0, 7, false, 2)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,12:00:00,+0000.5") +
                        Line("2024/05/01,23:00:00,+0002.3"));
  EXPECT_EQ(File("LOG_20240502.CSV"), Lead() + h1 + Line("2024/05/02,08:00:00,+0000.6") +
                                          Line("2024/05/02,09:00:00,+0000.9") +
                                          Line("2024/05/02,10:00:00,+0000.7"));
  EXPECT_FALSE(TmpLeft());
}

TEST_F(Merge, AnEmptyFileMergesAsAFileWithoutHeader) {
  Existing("");
  ASSERT_EQ(Convert({At(10, 0, 1)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1"));
}

TEST_F(Merge, AFileWithoutHeaderLineIsLeftAsItWas) {
  std::string text = Line("some notes") + Line("2024/05/01,10:00:00,+0000.1");
  Existing(text);
  EXPECT_EQ(Convert({At(11, 0, 1)}), 26);
  EXPECT_EQ(File(), text);
  EXPECT_FALSE(TmpLeft());
}

TEST_F(Merge, LinesLongerThanTheFieldsAreNeverCut) {
  std::string longLine = Line("2024/05/01,10:00:00," + std::string(5000, '7'));
  std::string text = Lead() + h1 + longLine;
  Existing(text);
  EXPECT_EQ(Convert({At(11, 0, 1)}), 26);
  EXPECT_EQ(File(), text);
  EXPECT_FALSE(TmpLeft());

  // Behind the last row they are carried over whole, even across blocks.
  std::string huge = Line(std::string(20000, 'x'));
  Existing(Lead() + h1 + Line("2024/05/01,12:00:00,+0000.2") + huge);
  ASSERT_EQ(Convert({At(11, 0, 1)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,11:00:00,+0000.1") +
                        Line("2024/05/01,12:00:00,+0000.2") + huge);
}

TEST_F(Merge, AFileWithAZeroByteIsLeftAsItWas) {
  // Before the rows (met while placing them) and behind them (met while
  // carrying the rest over): the file stays whole either way.
  for (const std::string& bad : {Line(std::string("2024/05/01,10:00:00,+00\0.1", 27)),
                                 Line(std::string("2024/05/01,12:00:00,+00\0.1", 27))}) {
    std::string text = Lead() + h1 + bad + Line("2024/05/01,13:00:00,+0000.3");
    Existing(text);
    EXPECT_EQ(Convert({At(11, 0, 1)}), 26);
    EXPECT_EQ(File(), text);
    EXPECT_FALSE(TmpLeft());
  }
}

TEST_F(Merge, ALeftoverTemporaryFileIsRemovedAndMadeAnew) {
  Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1"));
  WriteAll(dayFolder + "/LOG_20240501.TMP", "left behind by a crash");
  ASSERT_EQ(Convert({At(11, 0, 2)}), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,11:00:00,+0000.2"));
  EXPECT_FALSE(TmpLeft());
}

TEST_F(Merge, MethodZeroReplacesOncePerBatchThenMerges) {
  Existing(Lead() + h1 + Line("2024/05/01,08:00:00,+0000.8"));
  ASSERT_EQ(Convert({At(10, 0, 1)}, 0), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1"));
  ASSERT_EQ(Convert({At(11, 0, 2)}, 0), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,11:00:00,+0000.2"));
  std::string csvPath = dest + "\\CSV\\Day\\LOG_20240501.CSV";
  EXPECT_EQ(ReadAll(work + "/MakeCSVExecAttrDay01_01.ini"),
            "[FILE_INFO]\r\nFILE_COUNT=1\r\nFILE_PATH1=" + csvPath + "\r\n");

  // A new batch replaces it again.
  ASSERT_EQ(RaveloINIFileDelete(), 0);
  EXPECT_FALSE(fs::exists(work + "/MakeCSVExecAttrDay01_01.ini"));
  ASSERT_EQ(Convert({At(12, 0, 3)}, 0), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,12:00:00,+0000.3"));
}

TEST_F(Merge, MethodOneAlwaysMerges) {
  Existing(Lead() + h1 + Line("2024/05/01,08:00:00,+0000.8"));
  ASSERT_EQ(Convert({At(10, 0, 1)}, 1), 0);
  ASSERT_EQ(RaveloINIFileDelete(), 0);
  ASSERT_EQ(Convert({At(9, 0, 2)}, 1), 0);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,08:00:00,+0000.8") +
                        Line("2024/05/01,09:00:00,+0000.2") +
                        Line("2024/05/01,10:00:00,+0000.1"));
}

TEST_F(Merge, DirectOutputFindsItsFileListedUnderAnotherDay) {
  std::string file = dest + "/LOG_0001.CSV";
  WriteAll(file, Lead() + h1 + Line("2024/04/30,08:00:00,+0000.8"));
  ASSERT_EQ(Convert({At(10, 0, 1)}, 0, 1), 0);  // replaces, listed under the 1st
  ASSERT_EQ(Convert({At(10, 0, 2, false, 2)}, 0, 1), 0);  // merges
  EXPECT_EQ(ReadAll(file), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                               Line("2024/05/02,10:00:00,+0000.2"));
  EXPECT_FALSE(fs::exists(work + "/MakeCSVExecAttrDay02_01.ini"));
}

}  // namespace
}  // namespace e2e

namespace e2e {
namespace {

TEST_F(Merge, FilesAreNeverWrittenThroughAPlantedLink) {
  std::string victim = dir / "victim";
  WriteAll(victim, "precious");
  // At the temporary file's name of a merge.
  Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1"));
  fs::create_symlink(victim, dayFolder + "/LOG_20240501.TMP");
  EXPECT_EQ(Convert({At(11, 0, 2)}), 23);
  EXPECT_EQ(ReadAll(victim), "precious");
  fs::remove(dayFolder + "/LOG_20240501.TMP");
  // At the name of a new CSV file, pointing nowhere yet.
  std::string absent = dir / "absent";
  fs::create_symlink(absent, dayFolder + "/LOG_20240502.CSV");
  EXPECT_EQ(Convert({At(11, 0, 2, false, 2)}), 22);
  EXPECT_FALSE(fs::exists(absent));
  // A hard link at the temporary file's name loses that name; the merge
  // goes into a new file of its own.
  fs::create_hard_link(victim, dayFolder + "/LOG_20240501.TMP");
  ASSERT_EQ(Convert({At(11, 0, 2)}), 0);
  EXPECT_EQ(ReadAll(victim), "precious");
  EXPECT_EQ(fs::hard_link_count(victim), 1u);
  EXPECT_EQ(fs::hard_link_count(dayFolder + "/LOG_20240501.CSV"), 1u);
  EXPECT_EQ(File(), Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1") +
                        Line("2024/05/01,11:00:00,+0000.2"));
}

TEST_F(Merge, AMergedFileKeepsThePermissionsAndOwnerOfTheFileItReplaces) {
  const std::string path = dayFolder + "/LOG_20240501.CSV";
  for (mode_t mode : {0600, 0640, 0444}) {
    SCOPED_TRACE(mode);
    Existing(Lead() + h1 + Line("2024/05/01,10:00:00,+0000.1"));
    ASSERT_EQ(chmod(path.c_str(), mode), 0);
    // Another owner can be given only with the right to do so.
    const bool mayChown = geteuid() == 0;
    if (mayChown) {
      ASSERT_EQ(chown(path.c_str(), 4321, 4322), 0);
    }
    ASSERT_EQ(Convert({At(11, 0, 2)}), 0);
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, mode);
    if (mayChown) {
      EXPECT_EQ(st.st_uid, 4321u);
      EXPECT_EQ(st.st_gid, 4322u);
    }
    EXPECT_NE(File().find("2024/05/01,11:00:00,+0000.2"), std::string::npos);
    fs::remove(path);
  }
}

}  // namespace
}  // namespace e2e

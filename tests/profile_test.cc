// Private-profile services: the Windows INI text, byte for byte.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "platform/fault.h"
#include "platform/platform.h"
#include "test_support.h"

namespace ravelo::platform {
namespace {

namespace fs = std::filesystem;

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
    ini_ = dir_ + "/MakeCSVExecAttrDay05_01.ini";
  }
  void TearDown() override { fault::Reset(); }

  void Put(const std::string& text) const { test::WriteFile(ini_, text); }
  std::string Text() const { return test::ReadFile(ini_); }
  bool Write(const char* section, const char* key, const char* value) const {
    return ProfileWriteString(section, key, value, ini_.c_str());
  }
  std::string Get(const char* section, const char* key, const char* def = "DEF", uint32_t size = 300) const {
    char buf[300];
    memset(buf, '#', sizeof buf);
    uint32_t n = ProfileGetString(section, key, def, buf, size, ini_.c_str());
    EXPECT_EQ(n, strlen(buf));
    return buf;
  }
  int32_t Int(const char* section, const char* key, int32_t def = 77) const {
    return ProfileGetInt(section, key, def, ini_.c_str());
  }
  // Only files named like ini_ are expected in the folder after a write.
  int FilesInFolder() const {
    int n = 0;
    for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++n;
    return n;
  }

  test::TempFolder folder_{"ravelo_profile"};
  std::string dir_ = folder_.path();
  std::string ini_;
};

// ---- The lists of CSV files ---------------------------------------------

TEST_F(Profile, FirstWritesMakeTheFile) {
  EXPECT_FALSE(fs::exists(ini_));
  EXPECT_EQ(Int("FILE_INFO", "FILE_COUNT", 0), 0);
  EXPECT_TRUE(Write("FILE_INFO", "FILE_COUNT", "1"));
  EXPECT_EQ(Text(), "[FILE_INFO]\r\nFILE_COUNT=1\r\n");
  EXPECT_TRUE(Write("FILE_INFO", "FILE_PATH1", "C:\\work\\CSV\\Day\\A.CSV"));
  EXPECT_EQ(Text(), "[FILE_INFO]\r\nFILE_COUNT=1\r\nFILE_PATH1=C:\\work\\CSV\\Day\\A.CSV\r\n");
  EXPECT_TRUE(Write("FILE_INFO", "FILE_COUNT", "2"));
  EXPECT_TRUE(Write("FILE_INFO", "FILE_PATH2", "C:\\work\\CSV\\Day\\B.CSV"));
  EXPECT_EQ(Text(),
            "[FILE_INFO]\r\nFILE_COUNT=2\r\nFILE_PATH1=C:\\work\\CSV\\Day\\A.CSV\r\n"
            "FILE_PATH2=C:\\work\\CSV\\Day\\B.CSV\r\n");
  EXPECT_EQ(Int("FILE_INFO", "FILE_COUNT", 0), 2);
  EXPECT_EQ(Get("FILE_INFO", "FILE_PATH2", ""), "C:\\work\\CSV\\Day\\B.CSV");
  EXPECT_EQ(Get("FILE_INFO", "FILE_PATH3", ""), "");
  EXPECT_EQ(FilesInFolder(), 1);  // no temporary file left behind
}

TEST_F(Profile, TenEntries) {
  for (int i = 1; i <= 10; ++i) {
    std::string n = std::to_string(i);
    ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", n.c_str()));
    ASSERT_TRUE(Write("FILE_INFO", ("FILE_PATH" + n).c_str(), ("/csv/" + n + ".CSV").c_str()));
  }
  EXPECT_EQ(Int("FILE_INFO", "FILE_COUNT", 0), 10);
  EXPECT_EQ(Get("FILE_INFO", "FILE_PATH10"), "/csv/10.CSV");
  EXPECT_EQ(Get("FILE_INFO", "FILE_PATH1"), "/csv/1.CSV");
  std::string text = Text();
  EXPECT_EQ(text.rfind("FILE_PATH10=/csv/10.CSV\r\n"), text.size() - 25);
  EXPECT_EQ(text.find("FILE_COUNT=10\r\n"), 13u);
}

TEST_F(Profile, BackslashPathForTheFile) {
  std::string engineName = dir_ + "\\x.ini";
  EXPECT_TRUE(ProfileWriteString("S", "K", "v", engineName.c_str()));
  char buf[16];
  EXPECT_EQ(ProfileGetString("S", "K", "", buf, sizeof buf, engineName.c_str()), 1u);
  EXPECT_STREQ(buf, "v");
  EXPECT_TRUE(fs::exists(dir_ + "/x.ini"));
}

// ---- Writing ----------------------------------------------------------------

TEST_F(Profile, UpdateKeepsSpellingAndPlace) {
  Put("[File_Info]\r\nfile_count=1\r\nFILE_PATH1=a\r\n");
  EXPECT_TRUE(Write("FILE_INFO", "FILE_COUNT", "2"));
  EXPECT_EQ(Text(), "[File_Info]\r\nfile_count=2\r\nFILE_PATH1=a\r\n");
}

TEST_F(Profile, NewKeyGoesToTheEndOfItsSection) {
  Put("[A]\r\nx=1\r\n[B]\r\ny=2\r\n");
  EXPECT_TRUE(Write("a", "z", "3"));
  EXPECT_EQ(Text(), "[A]\r\nx=1\r\nz=3\r\n[B]\r\ny=2\r\n");
  EXPECT_TRUE(Write("C", "w", "4"));
  EXPECT_EQ(Text(), "[A]\r\nx=1\r\nz=3\r\n[B]\r\ny=2\r\n[C]\r\nw=4\r\n");
}

TEST_F(Profile, RewriteNormalisesTheText) {
  Put("; top comment\n\n[ S1 ]\n  key1  =  val1  \n\n;c2\nnoeq\nkey1=second\n[s1]\nk2=dup\n"
      "  ;  a = b  \n[x]y]z\nn5= 7\n\tt=\ttab\t\n");
  EXPECT_TRUE(Write("S1", "KEY1", "val2"));
  EXPECT_EQ(Text(),
            "; top comment\r\n[S1]\r\nkey1=val2\r\n;c2\r\nnoeq\r\nkey1=second\r\n[s1]\r\nk2=dup\r\n"
            ";  a=b\r\n[x]y]\r\nn5=7\r\nt=tab\r\n");
}

TEST_F(Profile, LinesBeforeTheFirstSectionAndOddLines) {
  Put("top=1\n[A]\ny=v  \n=emptykey\n[unterminated\nz=9\n[B] trailing\nb=1\n#hash\n");
  EXPECT_EQ(Get("", "top"), "1");
  EXPECT_EQ(Get("A", ""), "emptykey");
  EXPECT_EQ(Get("A", "z"), "9");  // "[unterminated" is a line of section A
  EXPECT_EQ(Get("unterminated", "z"), "DEF");
  EXPECT_EQ(Get("B", "b"), "1");
  EXPECT_TRUE(Write("A", "x", "new"));
  EXPECT_EQ(Text(),
            "top=1\r\n[A]\r\ny=v\r\n=emptykey\r\n[unterminated\r\nz=9\r\nx=new\r\n[B]\r\nb=1\r\n#hash\r\n");
}

// Several keys in one rewrite give the text of as many single writes in a
// row, for every place the keys can stand.
TEST_F(Profile, SeveralKeysGiveTheTextOfSingleWrites) {
  const char* const starts[] = {
      nullptr,  // no file
      "",
      "[FILE_INFO]\r\nFILE_COUNT=1\r\nFILE_PATH1=a\r\n",
      "[OTHER]\r\nx=1\r\n[FILE_INFO]\r\nFILE_PATH2=old\r\n[LAST]\r\ny=2\r\n",
      "top=1\r\n[other]\r\n",
      "[file_info]\r\n file_count = 7 \r\n[FILE_INFO]\r\nFILE_COUNT=9\r\n",
  };
  const char* const keys[] = {"FILE_COUNT", "FILE_PATH2"};
  const char* const values[] = {"2", "C:\\dest\\b.CSV"};
  for (const char* start : starts) {
    SCOPED_TRACE(start == nullptr ? "<none>" : start);
    fs::remove(ini_);
    if (start != nullptr) Put(start);
    ASSERT_TRUE(Write("FILE_INFO", keys[0], values[0]));
    ASSERT_TRUE(Write("FILE_INFO", keys[1], values[1]));
    const std::string expected = Text();

    fs::remove(ini_);
    if (start != nullptr) Put(start);
    ASSERT_TRUE(ProfileWriteStrings("FILE_INFO", keys, values, 2, ini_.c_str()));
    EXPECT_EQ(Text(), expected);
    EXPECT_EQ(FilesInFolder(), 1);
  }

  // The same keys twice, no keys, too many keys and a bad value are refused
  // and change nothing.
  Put("[A]\r\nk=1\r\n");
  const char* const twice[] = {"k", " K "};
  const char* const bad[] = {"1", "line\nend"};
  const char* const five[] = {"a", "b", "c", "d", "e"};
  EXPECT_FALSE(ProfileWriteStrings("A", twice, values, 2, ini_.c_str()));
  EXPECT_FALSE(ProfileWriteStrings("A", keys, values, 0, ini_.c_str()));
  EXPECT_FALSE(ProfileWriteStrings("A", five, five, 5, ini_.c_str()));
  EXPECT_FALSE(ProfileWriteStrings("A", keys, bad, 2, ini_.c_str()));
  EXPECT_EQ(Text(), "[A]\r\nk=1\r\n");
}

TEST_F(Profile, SameValueLeavesTheFileUntouched) {
  const std::string original = "[A]\nx=v  \n\n[B]\ny=  w\n";
  Put(original);
  struct stat before;
  ASSERT_EQ(stat(ini_.c_str(), &before), 0);
  EXPECT_TRUE(Write("a", "X", "v"));
  EXPECT_TRUE(Write("B", "y", "   w"));  // leading blanks of a written value go
  EXPECT_EQ(Text(), original);
  struct stat after;
  ASSERT_EQ(stat(ini_.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);  // not even replaced by a copy
}

TEST_F(Profile, ValueComparisonIsExact) {
  Put("[A]\nx=v\n");
  EXPECT_TRUE(Write("A", "x", "V"));
  EXPECT_EQ(Text(), "[A]\r\nx=V\r\n");
  EXPECT_TRUE(Write("A", "x", "V "));  // trailing blanks are kept when written
  EXPECT_EQ(Text(), "[A]\r\nx=V \r\n");
  EXPECT_EQ(Get("A", "x"), "V");
  Put("[A]\nx=\"q\"\n");
  EXPECT_TRUE(Write("A", "x", "q"));  // compared with the quotes
  EXPECT_EQ(Text(), "[A]\r\nx=q\r\n");
}

TEST_F(Profile, NamesLoseTheirBlanks) {
  Put("[A]\nx=v\n");
  EXPECT_TRUE(Write(" A ", "  x  ", "w"));
  EXPECT_EQ(Text(), "[A]\r\nx=w\r\n");
  EXPECT_TRUE(Write(" NS ", " nk ", "1"));
  EXPECT_EQ(Text(), "[A]\r\nx=w\r\n[NS]\r\nnk=1\r\n");
}

TEST_F(Profile, DuplicatesFirstWins) {
  Put("[A]\nx=1\nX=2\n[a]\nq=1\n");
  EXPECT_EQ(Get("A", "x"), "1");
  EXPECT_EQ(Get("A", "q"), "DEF");  // only the first section A is searched
  EXPECT_TRUE(Write("A", "x", "3"));
  EXPECT_TRUE(Write("A", "q", "2"));
  EXPECT_EQ(Text(), "[A]\r\nx=3\r\nX=2\r\nq=2\r\n[a]\r\nq=1\r\n");
}

TEST_F(Profile, KeyWithoutValue) {
  Put("[A]\nnoeq\n");
  EXPECT_EQ(Get("A", "noeq"), "DEF");
  EXPECT_EQ(Int("A", "noeq"), 77);
  EXPECT_TRUE(Write("A", "noeq", "v"));
  EXPECT_EQ(Text(), "[A]\r\nnoeq=v\r\n");
}

TEST_F(Profile, EmptyFileAndEmptyValue) {
  Put("");
  EXPECT_TRUE(Write("A", "x", "3"));
  EXPECT_EQ(Text(), "[A]\r\nx=3\r\n");
  EXPECT_TRUE(Write("A", "y", ""));
  EXPECT_EQ(Text(), "[A]\r\nx=3\r\ny=\r\n");
  EXPECT_EQ(Get("A", "y"), "");  // present and empty: not the default
  EXPECT_EQ(Int("A", "y"), 77);  // but no number either
}

TEST_F(Profile, CarriageReturnsAloneEndLinesToo) {
  Put("[A]\rx=1\ry=2\r");
  EXPECT_EQ(Get("A", "y"), "2");
  EXPECT_EQ(Int("A", "x"), 1);
}

TEST_F(Profile, WriteFailures) {
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", (dir_ + "/missing/x.ini").c_str()));
  EXPECT_FALSE(fs::exists(dir_ + "/missing"));
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", dir_.c_str()));  // a folder
  EXPECT_FALSE(ProfileWriteString("A", "x", "1", nullptr));
  EXPECT_FALSE(Write(nullptr, "x", "1"));
  EXPECT_FALSE(Write("A", nullptr, "1"));
  EXPECT_FALSE(Write("A", "x", nullptr));
  EXPECT_FALSE(Write("A", "", "1"));
  EXPECT_EQ(FilesInFolder(), 0);
}

TEST_F(Profile, LineEndsInsideNamesOrValuesAreRefused) {
  Put("[A]\r\nx=1\r\n");
  EXPECT_FALSE(Write("A", "y", "a\r\n[B]\r\nz=1"));
  EXPECT_FALSE(Write("A", "y", "a\nb"));
  EXPECT_FALSE(Write("A\nB", "y", "1"));
  EXPECT_FALSE(Write("A]", "y", "1"));
  EXPECT_FALSE(Write("A", "y=z", "1"));
  EXPECT_FALSE(Write("A", "y\rz", "1"));
  EXPECT_EQ(Text(), "[A]\r\nx=1\r\n");
  EXPECT_EQ(Get("B", "z"), "DEF");
}

TEST_F(Profile, KeepsThePermissionsOfTheFile) {
  Put("[A]\nx=1\n");
  ASSERT_EQ(chmod(ini_.c_str(), 0640), 0);
  EXPECT_TRUE(Write("A", "x", "2"));
  struct stat st;
  ASSERT_EQ(stat(ini_.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
}

TEST_F(Profile, ReplacesASymbolicLinkInsteadOfWritingThroughIt) {
  const std::string target = dir_ + "/elsewhere.txt";
  {
    std::ofstream out(target, std::ios::binary);
    out << "[A]\nx=1\n";
  }
  ASSERT_EQ(symlink(target.c_str(), ini_.c_str()), 0);
  EXPECT_TRUE(Write("A", "x", "2"));
  EXPECT_FALSE(fs::is_symlink(ini_));
  EXPECT_EQ(Text(), "[A]\r\nx=2\r\n");
  EXPECT_EQ(test::ReadFile(target), "[A]\nx=1\n");
}

TEST_F(Profile, OversizedFileIsNeverRewritten) {
  std::string big = "[A]\r\nx=1\r\n";
  while (big.size() < 1024 * 1024 + 100) big += "FILE_PATHnnn=C:\\some\\long\\path\\to\\a\\file.CSV\r\n";
  big += "last=9\r\n";
  Put(big);
  EXPECT_EQ(Int("A", "x"), 1);       // what fits is read
  EXPECT_EQ(Get("A", "last"), "DEF");  // what does not is missing
  EXPECT_FALSE(Write("A", "x", "2"));
  EXPECT_EQ(Text(), big);
  EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(Profile, ReadersNeverSeeAHalfWrittenFile) {
  ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", "1"));
  pid_t pid = fork();
  if (pid == 0) {
    int bad = 0;
    for (int i = 0; i < 200; ++i) {
      int32_t n = ProfileGetInt("FILE_INFO", "FILE_COUNT", -1, ini_.c_str());
      if (n < 1) ++bad;
      std::string text = Text();
      if (text.rfind("[FILE_INFO]\r\nFILE_COUNT=", 0) != 0 || text.back() != '\n') ++bad;
    }
    _exit(bad == 0 ? 0 : 1);
  }
  for (int i = 2; i <= 60; ++i) {
    std::string n = std::to_string(i);
    ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", n.c_str()));
    ASSERT_TRUE(Write("FILE_INFO", ("FILE_PATH" + n).c_str(), "C:\\work\\CSV\\Day\\FILE.CSV"));
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_EQ(Int("FILE_INFO", "FILE_COUNT"), 60);
  EXPECT_EQ(FilesInFolder(), 1);
}

TEST_F(Profile, TheFolderOfRewrittenFilesIsFlushedOnceByProfileFlushWrites) {
  const auto flushes = [] { return fault::CallCount(fault::Op::kFolderFlush); };
  ProfileFlushWrites();  // whatever earlier tests left
  fault::Reset();
  ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", "1"));
  ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", "2"));
  EXPECT_EQ(flushes(), 0u);
  ProfileFlushWrites();
  EXPECT_EQ(flushes(), 1u);
  ProfileFlushWrites();  // nothing written since
  EXPECT_EQ(flushes(), 1u);

  // A file in another folder: the first folder is flushed before it.
  const std::string other = dir_ + "/sub";
  ASSERT_TRUE(fs::create_directory(other));
  ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", "3"));
  ASSERT_TRUE(ProfileWriteString("FILE_INFO", "FILE_COUNT", "1", (other + "/a.ini").c_str()));
  EXPECT_EQ(flushes(), 2u);
  ProfileFlushWrites();
  EXPECT_EQ(flushes(), 3u);

  // A write that changes nothing leaves nothing to flush.
  ASSERT_TRUE(Write("FILE_INFO", "FILE_COUNT", "3"));
  ProfileFlushWrites();
  EXPECT_EQ(flushes(), 3u);
}

// ---- Reading ----------------------------------------------------------------

TEST_F(Profile, QuotesAndBlanksAroundValues) {
  Put("[S2]\nq1=\"quoted\"\nq2='single'\nq3=\"mis'\nq4=\"\nq5=\"  spaced  \"\nq6=  'a' \nq7=\"\"\n"
      "q8=\"a\"b\"\n");
  EXPECT_EQ(Get("S2", "q1"), "quoted");
  EXPECT_EQ(Get("S2", "q2"), "single");
  EXPECT_EQ(Get("S2", "q3"), "\"mis'");
  EXPECT_EQ(Get("S2", "q4"), "\"");
  EXPECT_EQ(Get("S2", "q5"), "  spaced  ");
  EXPECT_EQ(Get("S2", "q6"), "a");
  EXPECT_EQ(Get("S2", "q7"), "");
  EXPECT_EQ(Get("S2", "q8"), "a\"b");
}

TEST_F(Profile, GetStringCutsToTheBuffer) {
  Put("[S]\nlong=abcdefghij\nq=\"quoted\"\n");
  EXPECT_EQ(Get("S", "long", "DEF", 5), "abcd");
  EXPECT_EQ(Get("S", "long", "DEF", 1), "");
  EXPECT_EQ(Get("S", "missing", "DEF", 3), "DE");
  EXPECT_EQ(Get("S", "q", "DEF", 4), "quo");
  EXPECT_EQ(Get("S", "missing", nullptr), "");
  char untouched = 'Z';
  EXPECT_EQ(ProfileGetString("S", "long", "", &untouched, 0, ini_.c_str()), 0u);
  EXPECT_EQ(untouched, 'Z');
}

TEST_F(Profile, GetStringDefaults) {
  EXPECT_EQ(Get("S", "k", "dflt"), "dflt");  // no file
  Put("[S]\nk=1\n");
  EXPECT_EQ(Get("T", "k", "dflt"), "dflt");   // no section
  EXPECT_EQ(Get("S", "j", "dflt"), "dflt");   // no key
  EXPECT_EQ(Get("s", "K", "dflt"), "1");      // names ignore letter case
}

TEST_F(Profile, GetInt) {
  Put("[S2]\nn1=-3\nn2=12abc\nn3=abc\nn4=+5\nn5= 7\nn6=0x10\nn7=\nn8=99999999999\nn9=  -12 \n"
      "n10=- 3\nn11=\"42\"\nn12=2147483648\n");
  EXPECT_EQ(Int("S2", "n1"), -3);
  EXPECT_EQ(Int("S2", "n2"), 12);
  EXPECT_EQ(Int("S2", "n3"), 0);
  EXPECT_EQ(Int("S2", "n4"), 5);
  EXPECT_EQ(Int("S2", "n5"), 7);
  EXPECT_EQ(Int("S2", "n6"), 0);   // decimal digits only
  EXPECT_EQ(Int("S2", "n7"), 77);  // an empty value gives the default
  EXPECT_EQ(Int("S2", "n8"), 1215752191);  // wraps modulo 2^32
  EXPECT_EQ(Int("S2", "n9"), -12);
  EXPECT_EQ(Int("S2", "n10"), 0);
  EXPECT_EQ(Int("S2", "n11"), 42);
  EXPECT_EQ(Int("S2", "n12"), INT32_MIN);
  EXPECT_EQ(Int("S2", "missing"), 77);
  EXPECT_EQ(Int("S9", "x"), 77);
  EXPECT_EQ(ProfileGetInt("S2", "n1", 77, (dir_ + "/none.ini").c_str()), 77);
  EXPECT_EQ(ProfileGetInt("S2", "n1", 77, dir_.c_str()), 77);
}

// ---- Test seam ----------------------------------------------------------------

// One reading of the file gives what a ProfileGetString per key gives.
TEST_F(Profile, FindNumberedKeyAgreesWithOneReadPerKey) {
  auto byKeys = [&](int32_t count, const char* def, uint32_t size, const char* wanted) {
    for (int32_t i = 1; i <= count; ++i) {
      char key[32];
      snprintf(key, sizeof key, "FILE_PATH%d", i);
      char buf[300];
      ProfileGetString("FILE_INFO", key, def, buf, size, ini_.c_str());
      if (strcmp(buf, wanted) == 0 || strcmp(buf, def) == 0) return i;
    }
    return 0;
  };
  const std::string texts[] = {
      "",
      "[FILE_INFO]\r\nFILE_COUNT=3\r\nFILE_PATH1=a\r\nFILE_PATH2=b\r\nFILE_PATH3=c\r\n",
      "[OTHER]\r\nFILE_PATH1=b\r\n[file_info]\r\n file_path2 = 'b' \r\nFILE_PATH1=a\r\n",
      "[FILE_INFO]\r\nFILE_PATH1=a\r\nFILE_PATH1=b\r\nFILE_PATH2\r\nFILE_PATH3=\r\n"
      "[FILE_INFO]\r\nFILE_PATH4=b\r\n",
      "[FILE_INFO]\r\nFILE_PATH01=b\r\nFILE_PATH1=bcdef\r\nFILE_PATH2=\x01\r\n",
  };
  for (const std::string& text : texts) {
    Put(text);
    for (int32_t count : {0, 1, 2, 3, 5}) {
      for (const char* wanted : {"a", "b", "c", "bcd", "z"}) {
        for (uint32_t size : {300u, 4u}) {
          EXPECT_EQ(ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", count, "\x01", size, wanted,
                                           ini_.c_str()),
                    byKeys(count, "\x01", size, wanted))
              << text << " count " << count << " wanted " << wanted << " size " << size;
        }
      }
    }
  }
  // A missing file gives the default for every key.
  EXPECT_EQ(ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 2, "\x01", 300, "a",
                                   (dir_ + "/none.ini").c_str()),
            1);
  EXPECT_EQ(ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 0, "\x01", 300, "a",
                                   (dir_ + "/none.ini").c_str()),
            0);
}

TEST_F(Profile, InjectedFailures) {
  Put("[FILE_INFO]\r\nFILE_COUNT=3\r\nFILE_PATH1=a\r\n");
  fault::FailOp(fault::Op::kProfileRead, 1);
  EXPECT_EQ(Int("FILE_INFO", "FILE_COUNT", 0), 0);  // as a missing file
  EXPECT_EQ(Int("FILE_INFO", "FILE_COUNT", 0), 3);
  fault::FailOp(fault::Op::kProfileRead, 3);
  EXPECT_EQ(Get("FILE_INFO", "FILE_PATH1", "x"), "x");
  EXPECT_EQ(Get("FILE_INFO", "FILE_PATH1", "x"), "a");
  fault::FailOp(fault::Op::kProfileWrite, 1);
  EXPECT_FALSE(Write("FILE_INFO", "FILE_COUNT", "4"));
  EXPECT_EQ(Text(), "[FILE_INFO]\r\nFILE_COUNT=3\r\nFILE_PATH1=a\r\n");
  EXPECT_TRUE(Write("FILE_INFO", "FILE_COUNT", "4"));
  fault::FailOp(fault::Op::kProfileRead, 5);
  EXPECT_EQ(ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 1, "x", 300, "a", ini_.c_str()), 1);
  EXPECT_EQ(ProfileFindNumberedKey("FILE_INFO", "FILE_PATH", 1, "x", 300, "b", ini_.c_str()), 0);
  EXPECT_EQ(fault::CallCount(fault::Op::kProfileRead), 6u);
  EXPECT_EQ(fault::CallCount(fault::Op::kProfileWrite), 2u);
  EXPECT_EQ(fault::CallCount(), 8u);  // a write's own reading is not counted apart
}

}  // namespace
}  // namespace ravelo::platform

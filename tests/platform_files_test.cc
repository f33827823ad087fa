// File services of the platform layer: share-mode emulation between
// processes, reads and writes, seeks, names, and the test seam.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/fault.h"
#include "platform/platform.h"
#include "test_support.h"

namespace ravelo::platform {
namespace {

namespace fs = std::filesystem;

class PlatformFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    fault::Reset();
  }
  void TearDown() override { fault::Reset(); }

  std::string Path(const std::string& name) const { return dir_ + "/" + name; }

  static void Put(const std::string& path, const std::string& text) {
    test::WriteFile(path, text);
  }
  static std::string Get(const std::string& path) { return test::ReadFile(path); }

  test::TempFolder folder_{"ravelo_platform"};
  std::string dir_ = folder_.path();
};

// A child process that opens a file through the platform layer and holds it
// until told to let go.
class Holder {
 public:
  enum class Mode { kRead, kCreate };

  Holder(const std::string& path, Mode mode) {
    int ready[2];
    int release[2];
    if (pipe(ready) != 0 || pipe(release) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      close(ready[0]);
      close(release[1]);
      FileHandle h = mode == Mode::kRead ? FileOpenRead(path.c_str()) : FileCreateFresh(path.c_str());
      char ok = h != kNoFile ? 'y' : 'n';
      if (write(ready[1], &ok, 1) != 1) _exit(2);
      char c;
      while (read(release[0], &c, 1) < 0) {
      }
      FileClose(h);
      _exit(0);
    }
    close(ready[1]);
    close(release[0]);
    release_ = release[1];
    char ok = 'n';
    if (read(ready[0], &ok, 1) == 1) opened_ = ok == 'y';
    close(ready[0]);
  }
  ~Holder() { Release(); }

  bool opened() const { return opened_; }

  void Release() {
    if (pid_ <= 0) return;
    char c = 'x';
    if (write(release_, &c, 1) != 1) kill(pid_, SIGKILL);
    close(release_);
    int status = 0;
    waitpid(pid_, &status, 0);
    pid_ = -1;
  }

 private:
  pid_t pid_ = -1;
  int release_ = -1;
  bool opened_ = false;
};

// ---- Opening, reading, writing -------------------------------------------

TEST_F(PlatformFiles, CreateWriteReadBack) {
  const std::string p = Path("a.txt");
  FileHandle w = FileCreateFresh(p.c_str());
  ASSERT_NE(w, kNoFile);
  uint32_t written = 0;
  EXPECT_TRUE(FileWrite(w, "hello, world", 12, &written));
  EXPECT_EQ(written, 12u);
  EXPECT_TRUE(FileFlush(w));
  FileClose(w);
  EXPECT_EQ(Get(p), "hello, world");

  FileHandle r = FileOpenRead(p.c_str());
  ASSERT_NE(r, kNoFile);
  char buf[32] = {};
  uint32_t got = 99;
  EXPECT_TRUE(FileRead(r, buf, 5, &got));
  EXPECT_EQ(got, 5u);
  EXPECT_EQ(std::string(buf, 5), "hello");
  EXPECT_TRUE(FileRead(r, buf, sizeof buf, &got));  // the rest, short of size
  EXPECT_EQ(got, 7u);
  EXPECT_EQ(std::string(buf, 7), ", world");
  EXPECT_TRUE(FileRead(r, buf, sizeof buf, &got));  // at the end
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(FileSeek(r, 7));
  EXPECT_TRUE(FileRead(r, buf, sizeof buf, &got));
  EXPECT_EQ(std::string(buf, got), "world");
  EXPECT_TRUE(FileSeek(r, 100));  // past the end is allowed; nothing to read there
  EXPECT_TRUE(FileRead(r, buf, sizeof buf, &got));
  EXPECT_EQ(got, 0u);
  FileClose(r);
  FileClose(kNoFile);  // nothing happens
}

TEST_F(PlatformFiles, CreateFreshReplacesAnExistingFile) {
  const std::string p = Path("old.txt");
  Put(p, "previous contents");
  FileHandle w = FileCreateFresh(p.c_str());
  ASSERT_NE(w, kNoFile);
  EXPECT_EQ(Get(p), "");
  uint32_t written = 0;
  EXPECT_TRUE(FileWrite(w, "new", 3, &written));
  FileClose(w);
  EXPECT_EQ(Get(p), "new");
}

TEST_F(PlatformFiles, CreateMakesModeFromUmask) {
  const std::string p = Path("mode.txt");
  mode_t old = umask(022);
  FileHandle w = FileCreateFresh(p.c_str());
  umask(old);
  ASSERT_NE(w, kNoFile);
  FileClose(w);
  struct stat st;
  ASSERT_EQ(stat(p.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0644u);
}

TEST_F(PlatformFiles, SeekFailsFromTwoGigabytes) {
  const std::string p = Path("s.txt");
  Put(p, "0123456789");
  FileHandle r = FileOpenRead(p.c_str());
  ASSERT_NE(r, kNoFile);
  EXPECT_TRUE(FileSeek(r, 0x7fffffffu));
  EXPECT_FALSE(FileSeek(r, 0x80000000u));
  EXPECT_FALSE(FileSeek(r, 0xffffffffu));
  EXPECT_TRUE(FileSeek(r, 3));
  char c = 0;
  uint32_t got = 0;
  EXPECT_TRUE(FileRead(r, &c, 1, &got));
  EXPECT_EQ(c, '3');
  FileClose(r);
}

TEST_F(PlatformFiles, OpenReadFailsForMissingFolderAndSpecialFiles) {
  EXPECT_EQ(FileOpenRead(Path("missing").c_str()), kNoFile);
  EXPECT_EQ(FileOpenRead(dir_.c_str()), kNoFile);
  EXPECT_EQ(FileOpenRead(nullptr), kNoFile);
  EXPECT_EQ(FileOpenRead(""), kNoFile);
  const std::string fifo = Path("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  EXPECT_EQ(FileOpenRead(fifo.c_str()), kNoFile);  // refused, and without blocking
  EXPECT_EQ(FileCreateFresh(fifo.c_str()), kNoFile);
}

TEST_F(PlatformFiles, CreateRefusesFolderAndSymbolicLink) {
  EXPECT_EQ(FileCreateFresh(dir_.c_str()), kNoFile);
  const std::string target = Path("target.txt");
  Put(target, "precious");
  const std::string link = Path("link.txt");
  ASSERT_EQ(symlink(target.c_str(), link.c_str()), 0);
  EXPECT_EQ(FileCreateFresh(link.c_str()), kNoFile);
  EXPECT_EQ(Get(target), "precious");
  const std::string dangling = Path("dangling.txt");
  ASSERT_EQ(symlink(Path("nowhere.txt").c_str(), dangling.c_str()), 0);
  EXPECT_EQ(FileCreateFresh(dangling.c_str()), kNoFile);
  EXPECT_FALSE(fs::exists(Path("nowhere.txt")));
  EXPECT_EQ(FileCreateFresh(Path("no/such/folder.txt").c_str()), kNoFile);
}

TEST_F(PlatformFiles, BackslashesActAsSlashes) {
  ASSERT_TRUE(FolderCreate((dir_ + "\\sub").c_str()));
  EXPECT_EQ(PathKindOf((dir_ + "\\sub").c_str()), PathKind::kFolder);
  const std::string engineName = dir_ + "\\sub\\f.csv";
  FileHandle w = FileCreateFresh(engineName.c_str());
  ASSERT_NE(w, kNoFile);
  uint32_t written = 0;
  EXPECT_TRUE(FileWrite(w, "x", 1, &written));
  FileClose(w);
  EXPECT_EQ(Get(dir_ + "/sub/f.csv"), "x");
  EXPECT_EQ(PathKindOf(engineName.c_str()), PathKind::kFile);
  EXPECT_TRUE(FolderFlushOf(engineName.c_str()));
  EXPECT_TRUE(FileRenameReplace(engineName.c_str(), (dir_ + "\\sub\\g.csv").c_str()));
  EXPECT_TRUE(FileRemove((dir_ + "\\sub\\g.csv").c_str()));
  EXPECT_EQ(PathKindOf((dir_ + "\\sub\\g.csv").c_str()), PathKind::kNone);
}

TEST_F(PlatformFiles, OverlongPathsAreRefused) {
  std::string longName = dir_ + "/" + std::string(5000, 'a');
  EXPECT_EQ(FileCreateFresh(longName.c_str()), kNoFile);
  EXPECT_EQ(FileOpenRead(longName.c_str()), kNoFile);
  EXPECT_EQ(PathKindOf(longName.c_str()), PathKind::kNone);
  EXPECT_FALSE(FolderCreate(longName.c_str()));
  EXPECT_FALSE(FileRemove(longName.c_str()));
  EXPECT_FALSE(FolderFlushOf(longName.c_str()));
}

// ---- Names ---------------------------------------------------------------

TEST_F(PlatformFiles, PathKinds) {
  EXPECT_EQ(PathKindOf(dir_.c_str()), PathKind::kFolder);
  EXPECT_EQ(PathKindOf(Path("none").c_str()), PathKind::kNone);
  Put(Path("f"), "");
  EXPECT_EQ(PathKindOf(Path("f").c_str()), PathKind::kFile);
  ASSERT_EQ(symlink(Path("gone").c_str(), Path("dangling").c_str()), 0);
  EXPECT_EQ(PathKindOf(Path("dangling").c_str()), PathKind::kFile);
  EXPECT_EQ(PathKindOf(nullptr), PathKind::kNone);
}

TEST_F(PlatformFiles, FolderCreateMakesOneLevelOnly) {
  EXPECT_TRUE(FolderCreate(Path("one").c_str()));
  EXPECT_FALSE(FolderCreate(Path("one").c_str()));  // exists already
  EXPECT_FALSE(FolderCreate(Path("two/three").c_str()));
  Put(Path("file"), "");
  EXPECT_FALSE(FolderCreate(Path("file").c_str()));
}

TEST_F(PlatformFiles, RemoveFailsForFolderAndMissingFile) {
  EXPECT_FALSE(FileRemove(dir_.c_str()));
  EXPECT_FALSE(FileRemove(Path("missing").c_str()));
  Put(Path("f"), "x");
  EXPECT_TRUE(FileRemove(Path("f").c_str()));
  EXPECT_FALSE(fs::exists(Path("f")));
}

TEST_F(PlatformFiles, RemoveDeletesLinkNotTarget) {
  Put(Path("target"), "keep");
  ASSERT_EQ(symlink(Path("target").c_str(), Path("link").c_str()), 0);
  EXPECT_TRUE(FileRemove(Path("link").c_str()));
  EXPECT_FALSE(fs::is_symlink(Path("link")));
  EXPECT_EQ(Get(Path("target")), "keep");
}

// Runs check in a child process without the rights of the super-user (when
// the tests run as root), so that file modes count; returns its result.
template <typename Check>
bool AsOrdinaryUser(Check check) {
  pid_t pid = fork();
  if (pid == 0) {
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    _exit(check() ? 0 : 1);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) return false;
  return WEXITSTATUS(status) == 0;
}

TEST_F(PlatformFiles, RemoveOfReadOnlyFileChecksForHolders) {
  // A file the remover may not write but may unlink (the folder is open to
  // all): it still must not vanish under a reader.
  ASSERT_EQ(chmod(dir_.c_str(), 0777), 0);
  const std::string p = Path("ro");
  Put(p, "x");
  ASSERT_EQ(chmod(p.c_str(), 0444), 0);
  {
    Holder h(p, Holder::Mode::kRead);
    ASSERT_TRUE(h.opened());
    EXPECT_TRUE(AsOrdinaryUser([&] { return !FileRemove(p.c_str()) && access(p.c_str(), F_OK) == 0; }));
  }
  EXPECT_TRUE(AsOrdinaryUser([&] { return FileRemove(p.c_str()) && access(p.c_str(), F_OK) != 0; }));
}

TEST_F(PlatformFiles, RenameReplaceSwapsAtomically) {
  Put(Path("tmp"), "new");
  Put(Path("target"), "old");
  EXPECT_TRUE(FileRenameReplace(Path("tmp").c_str(), Path("target").c_str()));
  EXPECT_EQ(Get(Path("target")), "new");
  EXPECT_FALSE(fs::exists(Path("tmp")));
  Put(Path("tmp2"), "fresh");
  EXPECT_TRUE(FileRenameReplace(Path("tmp2").c_str(), Path("absent").c_str()));
  EXPECT_EQ(Get(Path("absent")), "fresh");
  EXPECT_FALSE(FileRenameReplace(Path("missing").c_str(), Path("target").c_str()));
  EXPECT_EQ(Get(Path("target")), "new");
}

TEST_F(PlatformFiles, FolderFlush) {
  EXPECT_TRUE(FolderFlushOf(Path("anything.ini").c_str()));
  EXPECT_FALSE(FolderFlushOf(Path("missing/anything.ini").c_str()));
  EXPECT_TRUE(FolderFlushOf("/top"));
}

TEST_F(PlatformFiles, RenameReplaceFailsWhileTargetIsRead) {
  Put(Path("tmp"), "new");
  Put(Path("csv"), "old");
  {
    Holder h(Path("csv"), Holder::Mode::kRead);
    ASSERT_TRUE(h.opened());
    EXPECT_FALSE(FileRenameReplace(Path("tmp").c_str(), Path("csv").c_str()));
    EXPECT_EQ(Get(Path("csv")), "old");
    EXPECT_EQ(Get(Path("tmp")), "new");
  }
  EXPECT_TRUE(FileRenameReplace(Path("tmp").c_str(), Path("csv").c_str()));
  EXPECT_EQ(Get(Path("csv")), "new");
}

TEST_F(PlatformFiles, RenameFailsWhileSourceIsHeld) {
  Put(Path("tmp"), "data");
  Holder h(Path("tmp"), Holder::Mode::kRead);
  ASSERT_TRUE(h.opened());
  EXPECT_FALSE(FileRenameReplace(Path("tmp").c_str(), Path("b").c_str()));
  EXPECT_TRUE(fs::exists(Path("tmp")));
  EXPECT_FALSE(fs::exists(Path("b")));
  h.Release();
  EXPECT_TRUE(FileRenameReplace(Path("tmp").c_str(), Path("a").c_str()));
}

TEST_F(PlatformFiles, RenameFailsOntoAFolder) {
  Put(Path("f"), "x");
  ASSERT_TRUE(FolderCreate(Path("d").c_str()));
  EXPECT_FALSE(FileRenameReplace(Path("f").c_str(), Path("d").c_str()));
  EXPECT_EQ(Get(Path("f")), "x");
}

TEST_F(PlatformFiles, WrongHandlesFail) {
  char buf[4];
  uint32_t n = 9;
  EXPECT_FALSE(FileRead(kNoFile, buf, sizeof buf, &n));
  EXPECT_EQ(n, 0u);
  n = 9;
  EXPECT_FALSE(FileWrite(kNoFile, "x", 1, &n));
  EXPECT_EQ(n, 0u);
  EXPECT_FALSE(FileSeek(kNoFile, 0));
  EXPECT_FALSE(FileFlush(kNoFile));
  Put(Path("f"), "abc");
  FileHandle r = FileOpenRead(Path("f").c_str());
  ASSERT_NE(r, kNoFile);
  EXPECT_FALSE(FileWrite(r, "x", 1, &n));  // opened for reading only
  EXPECT_EQ(n, 0u);
  FileClose(r);
  FileHandle w = FileCreateFresh(Path("g").c_str());
  ASSERT_NE(w, kNoFile);
  EXPECT_FALSE(FileRead(w, buf, sizeof buf, &n));  // opened for writing only
  EXPECT_EQ(n, 0u);
  FileClose(w);
  EXPECT_EQ(Get(Path("f")), "abc");
}

TEST_F(PlatformFiles, SeamNthCallCountsAcrossOperations) {
  const std::string p = Path("f");
  fault::FailNthCall(4);
  FileHandle w = FileCreateFresh(p.c_str());  // 1
  ASSERT_NE(w, kNoFile);
  uint32_t n = 0;
  EXPECT_TRUE(FileWrite(w, "ab", 2, &n));  // 2
  EXPECT_TRUE(FileFlush(w));               // 3
  EXPECT_FALSE(FileWrite(w, "cd", 2, &n)); // 4
  EXPECT_EQ(n, 0u);
  FileClose(w);                            // not an operation that fails
  EXPECT_EQ(PathKindOf(p.c_str()), PathKind::kFile);  // 5
  EXPECT_EQ(fault::CallCount(), 5u);
  EXPECT_EQ(fault::CallCount(fault::Op::kWrite), 2u);
  EXPECT_EQ(fault::CallCount(fault::Op::kCount), 0u);  // no such operation
  EXPECT_EQ(Get(p), "ab");
}

TEST(PlatformMisc, NoLeadBytesOnPosix) {
  for (int c = 0; c < 256; ++c) EXPECT_FALSE(IsLeadByte(static_cast<unsigned char>(c)));
}

// ---- Share modes between processes ----------------------------------------

TEST_F(PlatformFiles, RemoveWaitsForAReaderInAnotherProcess) {
  const std::string p = Path("held.csv");
  Put(p, "data");
  {
    Holder h(p, Holder::Mode::kRead);
    ASSERT_TRUE(h.opened());
    EXPECT_FALSE(FileRemove(p.c_str()));
    EXPECT_EQ(Get(p), "data");
    // Others may read meanwhile, not write.
    FileHandle r = FileOpenRead(p.c_str());
    EXPECT_NE(r, kNoFile);
    FileClose(r);
    EXPECT_EQ(FileCreateFresh(p.c_str()), kNoFile);
    EXPECT_EQ(Get(p), "data");
    h.Release();
    EXPECT_TRUE(FileRemove(p.c_str()));
  }
  EXPECT_FALSE(fs::exists(p));
}

TEST_F(PlatformFiles, CreateFreshFailsOnAHeldFileAndLeavesIt) {
  const std::string p = Path("held.tmp");
  Put(p, "someone else's");
  {
    Holder h(p, Holder::Mode::kRead);
    ASSERT_TRUE(h.opened());
    EXPECT_EQ(FileCreateFresh(p.c_str()), kNoFile);
    EXPECT_EQ(Get(p), "someone else's");
  }
  FileHandle w = FileCreateFresh(p.c_str());
  EXPECT_NE(w, kNoFile);
  FileClose(w);
  EXPECT_EQ(Get(p), "");
}

TEST_F(PlatformFiles, WrittenFileCannotBeOpenedEmptiedOrDeleted) {
  const std::string p = Path("w.csv");
  Holder h(p, Holder::Mode::kCreate);
  ASSERT_TRUE(h.opened());
  EXPECT_EQ(FileOpenRead(p.c_str()), kNoFile);
  EXPECT_EQ(FileCreateFresh(p.c_str()), kNoFile);
  EXPECT_FALSE(FileRemove(p.c_str()));
  Put(Path("other"), "x");
  EXPECT_FALSE(FileRenameReplace(Path("other").c_str(), p.c_str()));
  EXPECT_FALSE(FileRenameReplace(p.c_str(), Path("moved").c_str()));
  EXPECT_TRUE(fs::exists(p));
  h.Release();
  FileHandle r = FileOpenRead(p.c_str());
  EXPECT_NE(r, kNoFile);
  FileClose(r);
  EXPECT_TRUE(FileRenameReplace(Path("other").c_str(), p.c_str()));
  EXPECT_EQ(Get(p), "x");
}

TEST_F(PlatformFiles, OpensInOneProcessExcludeEachOtherToo) {
  const std::string p = Path("self.csv");
  FileHandle w = FileCreateFresh(p.c_str());
  ASSERT_NE(w, kNoFile);
  EXPECT_EQ(FileOpenRead(p.c_str()), kNoFile);
  EXPECT_FALSE(FileRemove(p.c_str()));
  FileClose(w);
  FileHandle r1 = FileOpenRead(p.c_str());
  FileHandle r2 = FileOpenRead(p.c_str());
  EXPECT_NE(r1, kNoFile);
  EXPECT_NE(r2, kNoFile);
  EXPECT_FALSE(FileRemove(p.c_str()));
  FileClose(r1);
  EXPECT_FALSE(FileRemove(p.c_str()));
  FileClose(r2);
  EXPECT_TRUE(FileRemove(p.c_str()));
}

// ---- Test seam ------------------------------------------------------------

TEST_F(PlatformFiles, SeamCountsCallsAndFailsTheNthCall) {
  const std::string p = Path("f");
  Put(p, "abc");
  fault::Reset();
  EXPECT_EQ(PathKindOf(p.c_str()), PathKind::kFile);
  EXPECT_EQ(fault::CallCount(), 1u);
  EXPECT_EQ(fault::CallCount(fault::Op::kPathKind), 1u);
  fault::FailNthCall(3);
  EXPECT_EQ(PathKindOf(p.c_str()), PathKind::kFile);  // 2nd call
  EXPECT_EQ(PathKindOf(p.c_str()), PathKind::kNone);  // 3rd call fails as "nothing there"
  EXPECT_EQ(PathKindOf(p.c_str()), PathKind::kFile);
  EXPECT_EQ(fault::CallCount(), 4u);
  fault::Reset();
  EXPECT_EQ(fault::CallCount(), 0u);
  EXPECT_EQ(fault::CallCount(fault::Op::kPathKind), 0u);
}

TEST_F(PlatformFiles, SeamFailsOneOperation) {
  const std::string p = Path("f");
  Put(p, "abc");
  fault::FailOp(fault::Op::kOpenRead, 2);
  FileHandle a = FileOpenRead(p.c_str());
  EXPECT_NE(a, kNoFile);
  EXPECT_EQ(FileOpenRead(p.c_str()), kNoFile);
  FileHandle c = FileOpenRead(p.c_str());
  EXPECT_NE(c, kNoFile);
  FileClose(a);
  FileClose(c);

  fault::FailOp(fault::Op::kCreate, 1);
  EXPECT_EQ(FileCreateFresh(p.c_str()), kNoFile);
  EXPECT_EQ(Get(p), "abc");  // an injected failure touches nothing
  fault::FailOp(fault::Op::kRemove, 1);
  EXPECT_FALSE(FileRemove(p.c_str()));
  EXPECT_TRUE(fs::exists(p));
  fault::FailOp(fault::Op::kRenameReplace, 1);
  EXPECT_FALSE(FileRenameReplace(p.c_str(), Path("g").c_str()));
  EXPECT_FALSE(fs::exists(Path("g")));
  fault::FailOp(fault::Op::kFolderCreate, 1);
  EXPECT_FALSE(FolderCreate(Path("d").c_str()));
  EXPECT_FALSE(fs::exists(Path("d")));
  fault::FailOp(fault::Op::kFolderFlush, 1);
  EXPECT_FALSE(FolderFlushOf(p.c_str()));
  FileHandle r = FileOpenRead(p.c_str());
  ASSERT_NE(r, kNoFile);
  fault::FailOp(fault::Op::kSeek, 1);
  EXPECT_FALSE(FileSeek(r, 1));
  EXPECT_TRUE(FileSeek(r, 1));
  FileClose(r);
  FileHandle w = FileCreateFresh(Path("w").c_str());
  ASSERT_NE(w, kNoFile);
  fault::FailOp(fault::Op::kFlush, 1);
  EXPECT_FALSE(FileFlush(w));
  EXPECT_TRUE(FileFlush(w));
  FileClose(w);
  EXPECT_EQ(fault::CallCount(fault::Op::kOpenRead), 4u);
}

TEST_F(PlatformFiles, SeamPartialReadDeliversBytes) {
  const std::string p = Path("f");
  Put(p, "0123456789");
  FileHandle r = FileOpenRead(p.c_str());
  ASSERT_NE(r, kNoFile);
  fault::FailOp(fault::Op::kRead, 2, 4);
  char buf[16] = {};
  uint32_t got = 0;
  EXPECT_TRUE(FileRead(r, buf, 2, &got));
  EXPECT_EQ(got, 2u);
  EXPECT_FALSE(FileRead(r, buf, 8, &got));
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buf, 4), "2345");
  EXPECT_TRUE(FileRead(r, buf, 16, &got));  // the position moved by what was delivered
  EXPECT_EQ(std::string(buf, got), "6789");
  FileClose(r);

  r = FileOpenRead(p.c_str());
  ASSERT_NE(r, kNoFile);
  fault::Reset();  // calls are counted from here again
  fault::FailOp(fault::Op::kRead, 1, 50);  // more than asked: cut to the request
  EXPECT_FALSE(FileRead(r, buf, 3, &got));
  EXPECT_EQ(got, 3u);
  fault::FailOp(fault::Op::kRead, 2);  // no partial: nothing delivered
  got = 77;
  EXPECT_FALSE(FileRead(r, buf, 3, &got));
  EXPECT_EQ(got, 0u);
  EXPECT_TRUE(FileRead(r, buf, 3, &got));
  EXPECT_EQ(std::string(buf, got), "345");
  FileClose(r);
}

TEST_F(PlatformFiles, SeamShortWriteWritesThePart) {
  const std::string p = Path("w");
  FileHandle w = FileCreateFresh(p.c_str());
  ASSERT_NE(w, kNoFile);
  fault::FailOp(fault::Op::kWrite, 1, 3);
  uint32_t written = 99;
  EXPECT_FALSE(FileWrite(w, "abcdef", 6, &written));
  EXPECT_EQ(written, 3u);
  fault::FailOp(fault::Op::kWrite, 2);
  EXPECT_FALSE(FileWrite(w, "zz", 2, &written));
  EXPECT_EQ(written, 0u);
  EXPECT_TRUE(FileWrite(w, "XY", 2, &written));
  FileClose(w);
  EXPECT_EQ(Get(p), "abcXY");
}

TEST_F(PlatformFiles, SeamFailsAlwaysUntilReset) {
  fault::FailOpAlways(fault::Op::kPathKind);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(PathKindOf(dir_.c_str()), PathKind::kNone);
  EXPECT_EQ(FolderFlushOf(Path("x").c_str()), true);  // other operations unaffected
  fault::Reset();
  EXPECT_EQ(PathKindOf(dir_.c_str()), PathKind::kFolder);
}

uint64_t sleptTotal = 0;
int sleepCalls = 0;
void RecordSleep(uint32_t ms) {
  sleptTotal += ms;
  ++sleepCalls;
}

TEST_F(PlatformFiles, SeamReplacesSleep) {
  sleptTotal = 0;
  sleepCalls = 0;
  fault::SetSleepHook(&RecordSleep);
  for (int i = 0; i < 6000; ++i) SleepMilliseconds(100);
  EXPECT_EQ(sleptTotal, 600000u);
  EXPECT_EQ(sleepCalls, 6000);
  fault::Reset();  // restores the real sleep
  SleepMilliseconds(1);
  EXPECT_EQ(sleepCalls, 6000);
  fault::SetSleepHook(&RecordSleep);
  fault::SetSleepHook(nullptr);
  SleepMilliseconds(0);
  EXPECT_EQ(sleepCalls, 6000);
}

}  // namespace
}  // namespace ravelo::platform

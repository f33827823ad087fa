// What ravelo convert sees of the files around a conversion: the logger file's
// header and days, the CSV files of the destination, the batch's listing, the
// lock on the destination, leftovers of dead runs, and hints after a failure.
// All of it through the file system; the library is only called by the caller.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace ravelo::cli {

// The logger file as the library will read it, found without converting.
struct LoggerScan {
  bool opened = false;      // the file could be read at all
  bool headerRead = false;  // the six memo fields are present
  std::string memos[6];     // each up to its first zero byte (at most 16 bytes)
  uint64_t size = 0;
  uint64_t missingBytes = 0;  // the record area reaches this far beyond the file
  uint32_t tailBytes = 0;     // bytes after the last whole record of the area
  uint64_t rows = 0;          // runs of records with one time (mode 127 skipped)
  std::set<std::string> csvNames;  // the CSV files the rows go to
};

// nameStem: what the CSV names begin with; kind 0 day, 1 month; direct: one
// file named stem + ".CSV"; midnightAs24: 00:00:00 counts for the day before.
LoggerScan ScanLogger(const std::string& path, const std::string& nameStem, int kind, bool direct,
                      bool midnightAs24);

// The library's name stem of a logger file's CSV files: the base name up to
// and including its first '_' (all of it when it has none); with direct
// output the whole base name.
std::string NameStem(const std::string& loggerPath, bool direct);

// Lines 2 to 7 of a CSV file: its six memo lines. False when it cannot be read.
bool ReadCsvMemos(const std::string& path, std::vector<std::string>* memos);

// The files of a folder that end in ".CSV", by name, with what changes when a
// file is written or replaced.
struct FileState {
  ino_t inode;
  off_t size;
  int64_t modified;  // ns
  int64_t changed;   // ns
  bool operator==(const FileState&) const = default;
};
using FolderSnapshot = std::map<std::string, FileState>;
FolderSnapshot SnapshotCsvFiles(const std::string& folder);

// The CSV paths that the batch of workFolder and id lists in its INI files.
std::set<std::string> BatchListing(const std::string& workFolder, int32_t id);

// An exclusive lock on a folder itself, held while the object lives.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // 0 locked; EWOULDBLOCK held by another process (wait false); EINTR a
  // signal came while waiting; other errno values from open or flock.
  // onWait runs once before waiting.
  template <class F>
  int Lock(const std::string& folder, bool wait, F onWait) {
    int r = Open(folder);
    if (r != 0) return r;
    r = TryLock();
    if (r != EWOULDBLOCK || !wait) return r;
    onWait();
    return WaitLock();
  }

 private:
  int Open(const std::string& folder);
  int TryLock();
  int WaitLock();
  int fd_ = -1;
};

// Private batch folders are named PREFIX-PID-XXXXXX in the temporary folder.
std::string PrivateBatchPattern(const std::string& tempFolder);
// Removes the private batch folders of processes that no longer run (their
// INI files, then the folder), leaving anything else in them alone.
void RemoveDeadBatchFolders(const std::string& tempFolder);

// Hints for a failure with library code 3, 9, 10, 11 or 21 to 26: what the
// command line finds afterwards in the files and folders of the job.
std::vector<std::string> HintsFor(int32_t code, const std::string& loggerFile,
                                  const std::string& dest,
                                  const std::string& outputFolder,
                                  const std::set<std::string>& csvNames);

// A folder that exists, is a folder and can be written into; otherwise the
// errno that says why (ENOTDIR for a file in the way).
int FolderUsable(const std::string& path);

}  // namespace ravelo::cli

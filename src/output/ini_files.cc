// The batch listing (see ini_files.h).
#include "output/ini_files.h"

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "output/output_file.h"
#include "platform/platform.h"

namespace ravelo {
namespace {

const char kIniPrefix[] = "\\MakeCSVExecAttr";
const char kIniExtension[] = ".ini";
const char kSection[] = "FILE_INFO";
const char kCountKey[] = "FILE_COUNT";
const char kPathKey[] = "FILE_PATH";

// Day numbers 0..31 and month numbers 0..15: every number a record's date
// can carry, so that no listing outlives its batch.
constexpr int kLastDay = 31;
constexpr int kLastMonth = 15;

// What a key that cannot be read gives: values no listing holds.
constexpr int32_t kUnreadable = INT32_MIN;
const char kUnreadableText[] = "\x01";

// A hand-edited FILE_COUNT cannot make a lookup run for ever.
constexpr int32_t kMaxEntries = 100000;

// The INI file of a day (month = false) or month number, or an empty text
// when the path does not fit.
void MakeIniPath(char* destination, const char* workFolder, bool month, int32_t number,
                 int32_t idNumber) {
  int length = std::snprintf(destination, kPathSize, month ? "%s%sMonth%02d_%02d%s"
                                                           : "%s%sDay%02d_%02d%s",
                             workFolder, kIniPrefix, number, idNumber, kIniExtension);
  if (length < 0 || static_cast<uint32_t>(length) >= kPathSize) destination[0] = '\0';
}

}  // namespace

int32_t IniFiles::INIFileEntryFind(const char* iniPath, const char* csvPath) const {
  // A missing INI file lists nothing. One that is there but cannot be read
  // counts as listing the file: the rows are then merged, and a file that
  // earlier jobs of the batch wrote is never replaced by mistake.
  int32_t count = platform::ProfileGetInt(kSection, kCountKey, kUnreadable, iniPath);
  if (count == kUnreadable) {
    if (platform::PathKindOf(iniPath) != platform::PathKind::kNone) return 0;
    count = 0;
  }
  if (count <= 0) return count + 1;
  if (count >= kMaxEntries) return 0;  // treated as listed: nothing is written
  // A path key that cannot be read gives kUnreadableText: the file cannot
  // be told apart from a listed one, so it counts as listed.
  if (platform::ProfileFindNumberedKey(kSection, kPathKey, count, kUnreadableText, kPathSize,
                                       csvPath, iniPath) != 0) {
    return 0;
  }
  return count + 1;
}

namespace {

// Holds the lock of the listings' folder for one lookup and its rewrite, so
// that two runs of one batch never both read a listing and then each write
// it without the other's entry.
class ListingLock {
 public:
  explicit ListingLock(const char* workFolder) {
    char anyListing[kPathSize];
    MakeIniPath(anyListing, workFolder, false, 1, 0);
    lock_ = anyListing[0] != '\0' ? platform::ProfileLockFolderOf(anyListing) : platform::kNoFile;
  }
  ~ListingLock() {
    if (lock_ != platform::kNoFile) platform::ProfileUnlockFolder(lock_);
  }
  ListingLock(const ListingLock&) = delete;
  ListingLock& operator=(const ListingLock&) = delete;

 private:
  platform::FileHandle lock_;
};

}  // namespace

int32_t IniFiles::INIFileEntryAdd(const char* workFolder, int32_t idNumber, int32_t csvFileKind,
                                  int32_t directOutput, const char* csvPath,
                                  const LoggerTimestamp& timestamp) const {
  ListingLock lock(workFolder);
  char iniPath[kPathSize];
  // Under direct output one file takes the rows of every day: it is listed
  // when any INI file of the batch lists it.
  if (directOutput != 0) {
    for (int month = 0; month <= 1; ++month) {
      for (int number = 0; number <= (month ? kLastMonth : kLastDay); ++number) {
        MakeIniPath(iniPath, workFolder, month == 1, number, idNumber);
        if (iniPath[0] != '\0' && INIFileEntryFind(iniPath, csvPath) <= 0) return 0;
      }
    }
  }

  const bool month = csvFileKind != 0;
  MakeIniPath(iniPath, workFolder, month, month ? timestamp.month : timestamp.day, idNumber);
  if (iniPath[0] == '\0') return kIniWriteFailed;
  int32_t number = INIFileEntryFind(iniPath, csvPath);
  if (number <= 0) return 0;

  char text[16];
  char key[32];
  std::snprintf(text, sizeof text, "%d", number);
  std::snprintf(key, sizeof key, "%s%d", kPathKey, number);
  // The count and the path change together.
  const char* const keys[2] = {kCountKey, key};
  const char* const values[2] = {text, csvPath};
  if (!platform::ProfileWriteStrings(kSection, keys, values, 2, iniPath)) return kIniWriteFailed;
  return 1;
}

ResultCode IniFiles::INIFileDelete(const char* workFolder, int32_t idNumber) const {
  char iniPath[kPathSize];
  for (int month = 0; month <= 1; ++month) {
    for (int number = 0; number <= (month ? kLastMonth : kLastDay); ++number) {
      MakeIniPath(iniPath, workFolder, month == 1, number, idNumber);
      if (iniPath[0] == '\0') continue;  // no such file can exist
      if (DeleteFileIfExists(iniPath) != kOk) return kDeleteFailed;
    }
  }
  return kOk;
}

}  // namespace ravelo

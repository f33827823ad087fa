// Job attribute INI files: which day and month CSV files the current
// conversion batch has created or written anew. One file per day number and
// per month number in the work folder, named with the host's id number.
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "api/converter.h"

namespace ravelo {
namespace {

constexpr char kSection[] = "FILE_INFO";
constexpr char kCountKey[] = "FILE_COUNT";
constexpr char kFileStem[] = "\\MakeCSVExecAttr";
constexpr char kIniExtension[] = ".ini";

// Nothing checks a record's date, so any day number 0..31 and month number
// 0..15 that a record can carry may name a file; all of them are deleted.
constexpr int32_t kLastDayNumber = 31;
constexpr int32_t kLastMonthNumber = 15;

// The INI file of a day number (month false) or month number (month true).
// False, and an empty destination, when the path would not fit.
bool MakeIniPath(char (&destination)[kPathSize], const char* workFolder, bool month,
                 int32_t number, int32_t idNumber) {
  const int n =
      month ? std::snprintf(destination, kPathSize, "%s%sMonth%02d_%02d%s", workFolder, kFileStem,
                            number, idNumber, kIniExtension)
            : std::snprintf(destination, kPathSize, "%s%sDay%02d_%02d%s", workFolder, kFileStem,
                            number, idNumber, kIniExtension);
  if (n < 0 || static_cast<uint32_t>(n) >= kPathSize) {
    destination[0] = '\0';
    return false;
  }
  return true;
}

void MakePathKey(char (&key)[24], int32_t number) {
  std::snprintf(key, sizeof key, "FILE_PATH%d", number);
}

}  // namespace

// 0 if csvPath is listed in the INI file, else the number a new entry gets.
// A FILE_COUNT below 0 makes every path count as listed.
int32_t Converter::INIFileEntryFind(const char* iniPath, const char* csvPath) {
  const int32_t count = platform::ProfileGetInt(kSection, kCountKey, 0, iniPath);
  if (count <= 0) return count + 1;
  if (count == INT32_MAX) return 0;  // no entry number is left: count it as listed

  char key[24];
  char value[kPathSize];
  for (int32_t i = 1; i <= count; ++i) {
    MakePathKey(key, i);
    platform::ProfileGetString(kSection, key, "", value, kPathSize, iniPath);
    if (std::strcmp(value, csvPath) == 0) return 0;
  }
  return count + 1;
}

// Lists csvPath under the day (csvFileKind 0) or month of the row that opens
// its file. 1 added, 0 listed already, kIniWriteFailed when the listing could
// not be written.
int32_t Converter::INIFileEntryAdd(const char* csvPath, const LoggerTimestamp& timestamp) {
  char iniPath[kPathSize];

  // The one file of a direct-output job may have been listed under another
  // day or month, or the other file kind, by an earlier job of the batch.
  if (directOutput != 0) {
    for (int month = 0; month <= 1; ++month) {
      const int32_t last = month ? kLastMonthNumber : kLastDayNumber;
      for (int32_t number = 0; number <= last; ++number) {
        if (MakeIniPath(iniPath, workFolder, month != 0, number, idNumber) &&
            INIFileEntryFind(iniPath, csvPath) <= 0)
          return 0;
      }
    }
  }

  const bool month = csvFileKind != 0;
  if (!MakeIniPath(iniPath, workFolder, month, month ? timestamp.month : timestamp.day, idNumber))
    return kIniWriteFailed;

  const int32_t number = INIFileEntryFind(iniPath, csvPath);
  if (number <= 0) return 0;

  char count[16];
  std::snprintf(count, sizeof count, "%d", number);
  char key[24];
  MakePathKey(key, number);
  const bool countWritten = platform::ProfileWriteString(kSection, kCountKey, count, iniPath);
  const bool pathWritten = platform::ProfileWriteString(kSection, key, csvPath, iniPath);
  if (!countWritten || !pathWritten) return kIniWriteFailed;
  return 1;
}

// Deletes the INI files of the current work folder and id number, days first,
// in ascending order; stops at the first that exists and cannot be deleted.
ResultCode Converter::INIFileDelete() {
  char iniPath[kPathSize];
  for (int month = 0; month <= 1; ++month) {
    const int32_t last = month ? kLastMonthNumber : kLastDayNumber;
    for (int32_t number = 0; number <= last; ++number) {
      // A path that does not fit was never written either.
      if (!MakeIniPath(iniPath, workFolder, month != 0, number, idNumber)) continue;
      if (DeleteFileIfExists(iniPath) != kOk) return kDeleteFailed;
    }
  }
  return kOk;
}

}  // namespace ravelo

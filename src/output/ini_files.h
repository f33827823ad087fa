// The batch listing: the job attribute INI files that name the CSV files the
// current conversion batch has created or written anew, one INI file per day
// number (0..31) and per month number (0..15) in the work folder, named
// "\MakeCSVExecAttr" + "Day" or "Month" + "%02d_%02d" of the number and the
// id number + ".ini", section FILE_INFO, keys FILE_COUNT and FILE_PATH<n>.
//
// Contract:
//  - INIFileEntryAdd lists csvPath in the INI file of its day (csvFileKind
//    0) or month (1): 1 when it was added, 0 when it is listed already,
//    kIniWriteFailed when the listing could not be written. Under direct
//    output a file listed in any INI file of the batch counts as listed.
//    The lookup and the rewrite are exclusive between processes.
//  - INIFileEntryFind: 0 when iniPath lists csvPath, else the number the
//    next entry gets. An INI file that is there but cannot be read lists
//    every file, so that nothing earlier jobs wrote is replaced by mistake.
//  - INIFileDelete deletes every INI file of the work folder and id number
//    (kOk or kDeleteFailed), which begins a new batch.
// The listing keeps no state of its own: the Converter passes its settings.
#pragma once

#include <cstdint>

#include "api/types.h"

namespace ravelo {

class IniFiles {
 public:
  static constexpr int32_t kIniWriteFailed = -1;

  int32_t INIFileEntryAdd(const char* workFolder, int32_t idNumber, int32_t csvFileKind,
                          int32_t directOutput, const char* csvPath,
                          const LoggerTimestamp& timestamp) const;
  int32_t INIFileEntryFind(const char* iniPath, const char* csvPath) const;
  ResultCode INIFileDelete(const char* workFolder, int32_t idNumber) const;
};

}  // namespace ravelo

// The Converter's life: construction at load, destruction at unload, the
// settings exports and the end-of-job clean-up.
#include "api/converter.h"

#include <cstring>

namespace ravelo {

Converter::Converter() {
  // Every field starts empty or zero; the handles say "no file".
  std::memset(static_cast<void*>(this), 0, sizeof *this);
  // Zero is a valid descriptor on POSIX: no handle may start as one.
  loggerFileHandle = csvReadHandle = outputHandle = platform::kNoFile;
  idNumber = 1;
  dayCntlType = 0;
  INIFileDelete();  // the batch of the defaults ends; the result is not used
  ResetLoggerFile();
  ResetCsvReader();
  ResetOutputFile();
  outputPath[0] = '\0';
  keepOutputFile = false;
  rowSink = nullptr;
  rowSinkContext = nullptr;
}

Converter::~Converter() {
  CloseLoggerFile();
  CloseCsvReader();
  ForgetCsvReadId();
  CloseOutputFile();
  INIFileDelete();
}

void Converter::Init(const char* workFolderArg, int32_t idNumberArg, int32_t dayCntlTypeArg) {
  // A null folder is stored as empty. A folder too long for the field keeps
  // its first 259 bytes: no INI path can then be made from it, so jobs that
  // need the listing fail instead of using another folder.
  workFolder[0] = '\0';
  if (workFolderArg != nullptr) {
    size_t length = strnlen(workFolderArg, kPathSize - 1);
    std::memcpy(workFolder, workFolderArg, length);
    workFolder[length] = '\0';
  }
  idNumber = idNumberArg;
  dayCntlType = dayCntlTypeArg;
}

void Converter::DayCntlTypeSet(int32_t dayCntlTypeArg) { dayCntlType = dayCntlTypeArg; }

ResultCode Converter::Proc(const char* inputPath, const char* destPath, int32_t csvKind,
                           int32_t makeMethod, int32_t direct) {
  keepOutputFile = false;
  ResultCode result = RunConversion(inputPath, destPath, csvKind, makeMethod, direct);

  // Clean-up always runs; its own failures are not reported.
  CloseLoggerFile();
  CloseCsvReader();
  ForgetCsvReadId();
  CloseOutputFile();
  if (outputPath[0] != '\0') {
    // A temporary merge file left behind is removed, unless a failed commit
    // left the rows only there.
    if (newCsvFile == 0 && !keepOutputFile) DeleteFileIfExists(outputPath);
    outputPath[0] = '\0';
  }
  // The listings of the job are on the disk when it reports.
  platform::ProfileFlushWrites();
  return result;
}

}  // namespace ravelo

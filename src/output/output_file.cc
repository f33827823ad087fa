// The buffered writer of the file being written, the commit that puts a
// merged temporary file in place of its CSV file, and the small file
// operations around them.
#include <cstdio>
#include <cstring>

#include "api/converter.h"

namespace ravelo {
namespace {

const char kCsvExtension[] = ".CSV";
const char kTmpExtension[] = ".TMP";

// Commit: how often, and how far apart, the deletion of a CSV file that
// another program holds is tried (600 seconds in all).
constexpr int kDeleteAttempts = 6000;
constexpr uint32_t kDeleteRetryMilliseconds = 100;

// destination = folder + "\" + baseName + extension, or empty when that does
// not fit in kPathSize bytes.
void JoinPath(char* destination, const char* folder, const char* baseName,
              const char* extension) {
  int length = std::snprintf(destination, kPathSize, "%s\\%s%s", folder, baseName, extension);
  if (length < 0 || static_cast<uint32_t>(length) >= kPathSize) destination[0] = '\0';
}

bool Exists(const char* path) {
  return platform::PathKindOf(path) != platform::PathKind::kNone;
}

}  // namespace

void Converter::MakeCsvPath(const char* baseName, char* destination) const {
  JoinPath(destination, outputFolder, baseName, kCsvExtension);
}

int32_t Converter::CsvFileExists(const char* baseName) const {
  char path[kPathSize];
  MakeCsvPath(baseName, path);
  return path[0] != '\0' && Exists(path) ? 1 : 0;
}

void Converter::ResetOutputFile() {
  outputHandle = platform::kNoFile;
  outputPending = 0;
}

ResultCode Converter::CreateOutputFile(const char* baseName) {
  CloseOutputFile();
  std::snprintf(outputName, sizeof outputName, "%s", baseName);
  const bool newFile = newCsvFile == 1;
  const ResultCode failure = newFile ? kCsvOpenFailed : kTmpOpenFailed;
  JoinPath(outputPath, outputFolder, baseName, newFile ? kCsvExtension : kTmpExtension);
  if (outputPath[0] == '\0') return failure;  // the path does not fit
  outputHandle = platform::FileCreate(outputPath);
  if (outputHandle == platform::kNoFile) return failure;
  return kOk;
}

ResultCode Converter::WriteOutputText(const char* text) {
  size_t length = std::strlen(text);
  while (length > 0) {
    if (outputPending + length < kBlockSize) {
      std::memcpy(outputBuffer + outputPending, text, length);
      outputPending += static_cast<uint32_t>(length);
      return kOk;
    }
    // Fill the buffer and hand the file one whole block.
    size_t part = kBlockSize - outputPending;
    std::memcpy(outputBuffer + outputPending, text, part);
    text += part;
    length -= part;
    uint32_t written = 0;
    if (outputHandle == platform::kNoFile ||
        !platform::FileWrite(outputHandle, outputBuffer, kBlockSize, &written) ||
        written != kBlockSize) {
      outputPending = 0;
      CloseOutputFile();
      return kWriteFailed;
    }
    outputPending = 0;
  }
  return kOk;
}

ResultCode Converter::CloseOutputFile() {
  ResultCode result = kOk;
  if (outputHandle != platform::kNoFile) {
    if (outputPending > 0) {
      uint32_t written = 0;
      if (!platform::FileWrite(outputHandle, outputBuffer, outputPending, &written) ||
          written != outputPending) {
        result = kWriteFailed;
      }
    }
    platform::FileClose(outputHandle);
  }
  outputHandle = platform::kNoFile;
  outputPending = 0;
  return result;
}

ResultCode Converter::CommitOutputFile() {
  // Without the temporary file there is nothing to put in place: the CSV
  // file must not be deleted.
  if (!Exists(outputPath)) return kRenameFailed;

  // Another program may hold the CSV file for a while; wait for it.
  int attempt = 0;
  while (DeleteFileIfExists(csvReadPath) != kOk) {
    if (++attempt >= kDeleteAttempts) {
      platform::SleepMilliseconds(kDeleteRetryMilliseconds);
      return kDeleteFailed;
    }
    platform::SleepMilliseconds(kDeleteRetryMilliseconds);
  }
  ResultCode result = RenameFileIfExists(outputPath, csvReadPath);
  // The CSV file is gone and the temporary file holds the only copy of its
  // rows: it must survive the clean-up after the job.
  if (result != kOk) keepOutputFile = true;
  return result;
}

ResultCode Converter::DeleteFileIfExists(const char* path) {
  if (!Exists(path)) return kOk;
  return platform::FileRemove(path) ? kOk : kDeleteFailed;
}

ResultCode Converter::RenameFileIfExists(const char* source, const char* target) {
  if (!Exists(source)) return kOk;
  return platform::FileRenameNoReplace(source, target) ? kOk : kRenameFailed;
}

}  // namespace ravelo

// The file being written (a CSV file, or the temporary file of a merge), its
// commit over the CSV file, and the small file operations.
#include <cstdio>
#include <cstring>

#include "api/converter.h"

namespace ravelo {
namespace {

constexpr char kCsvExtension[] = ".CSV";
constexpr char kTmpExtension[] = ".TMP";

// Deletion attempts of a commit, and the wait after each failed one: a job
// waits at most 600 seconds for another program to let go of a CSV file.
constexpr int kCommitDeleteAttempts = 6000;
constexpr uint32_t kCommitRetryMs = 100;

// folder + "\" + base name + extension into destination (kPathSize bytes).
// A path that would not fit is refused: destination becomes empty.
bool JoinFilePath(char* destination, const char* folder, const char* baseName,
                  const char* extension) {
  const int n = std::snprintf(destination, kPathSize, "%s\\%s%s", folder, baseName, extension);
  if (n < 0 || static_cast<uint32_t>(n) >= kPathSize) {
    destination[0] = '\0';
    return false;
  }
  return true;
}

}  // namespace

void Converter::ResetOutputFile() {
  outputHandle = platform::kNoFile;
  outputPending = 0;
}

void Converter::MakeCsvPath(const char* baseName, char* destination) const {
  JoinFilePath(destination, outputFolder, baseName, kCsvExtension);
}

int32_t Converter::CsvFileExists(const char* baseName) const {
  char path[kPathSize];
  MakeCsvPath(baseName, path);
  if (path[0] == '\0') return 0;
  // Any entry counts, a folder included.
  return platform::PathKindOf(path) != platform::PathKind::kNone ? 1 : 0;
}

ResultCode Converter::CreateOutputFile(const char* baseName) {
  CloseOutputFile();

  const size_t nameLength = strnlen(baseName, kNameSize - 1);
  std::memmove(outputName, baseName, nameLength);
  outputName[nameLength] = '\0';

  const bool newFile = newCsvFile == 1;
  const ResultCode failure = newFile ? kCsvOpenFailed : kTmpOpenFailed;
  if (!JoinFilePath(outputPath, outputFolder, baseName, newFile ? kCsvExtension : kTmpExtension))
    return failure;

  // Empties a file of that name, a temporary file left behind included.
  outputHandle = platform::FileCreate(outputPath);
  if (outputHandle == platform::kNoFile) return failure;
  return kOk;
}

// Appends text to the output. The file receives only whole 8192-byte blocks
// here; a text of any length is taken block by block.
ResultCode Converter::WriteOutputText(const char* text) {
  size_t left = std::strlen(text);
  while (left > 0) {
    const uint32_t room = kBlockSize - outputPending;
    if (left < room) {
      std::memcpy(outputBuffer + outputPending, text, left);
      outputPending += static_cast<uint32_t>(left);
      return kOk;
    }
    std::memcpy(outputBuffer + outputPending, text, room);
    text += room;
    left -= room;
    uint32_t written = 0;
    const bool ok = outputHandle != platform::kNoFile &&
                    platform::FileWrite(outputHandle, outputBuffer, kBlockSize, &written) &&
                    written == kBlockSize;
    outputPending = 0;
    if (!ok) {
      CloseOutputFile();
      return kWriteFailed;
    }
  }
  return kOk;
}

ResultCode Converter::CloseOutputFile() {
  ResultCode result = kOk;
  if (outputHandle != platform::kNoFile) {
    if (outputPending > 0) {
      uint32_t written = 0;
      if (!platform::FileWrite(outputHandle, outputBuffer, outputPending, &written) ||
          written != outputPending)
        result = kWriteFailed;
    }
    platform::FileClose(outputHandle);
  }
  outputHandle = platform::kNoFile;
  outputPending = 0;
  return result;
}

// Replaces the CSV file at csvReadPath by the finished file at outputPath:
// delete the CSV file (waiting while another program holds it), then rename.
ResultCode Converter::CommitOutputFile() {
  // Without the temporary file the CSV file would only be lost.
  if (platform::PathKindOf(outputPath) != platform::PathKind::kFile) return kRenameFailed;

  int attempt = 0;
  while (DeleteFileIfExists(csvReadPath) != kOk) {
    platform::SleepMilliseconds(kCommitRetryMs);
    if (++attempt == kCommitDeleteAttempts) return kDeleteFailed;
  }

  const ResultCode result = RenameFileIfExists(outputPath, csvReadPath);
  // The CSV file is gone: the temporary file now holds the only copy of its
  // rows and must outlive the job's clean-up.
  if (result != kOk) keepOutputFile = true;
  return result;
}

ResultCode Converter::DeleteFileIfExists(const char* path) {
  if (platform::PathKindOf(path) == platform::PathKind::kNone) return kOk;
  return platform::FileRemove(path) ? kOk : kDeleteFailed;
}

ResultCode Converter::RenameFileIfExists(const char* source, const char* target) {
  if (platform::PathKindOf(source) == platform::PathKind::kNone) return kOk;
  return platform::FileRenameNoReplace(source, target) ? kOk : kRenameFailed;
}

}  // namespace ravelo

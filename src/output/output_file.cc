// The file being written, its writer and commit (see output_file.h).
#include "output/output_file.h"

#include <cstdio>
#include <cstring>

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

void MakeCsvPath(const char* folder, const char* baseName, char* destination) {
  JoinPath(destination, folder, baseName, kCsvExtension);
}

int32_t CsvFileExists(const char* folder, const char* baseName) {
  char path[kPathSize];
  MakeCsvPath(folder, baseName, path);
  return path[0] != '\0' && Exists(path) ? 1 : 0;
}

void OutputFile::ResetOutputFile() {
  outputHandle = platform::kNoFile;
  outputPending = 0;
}

ResultCode OutputFile::CreateOutputFile(const char* folder, const char* baseName, bool newFile) {
  CloseOutputFile();
  keepOutputFile = false;
  size_t nameLength = strnlen(baseName, sizeof outputName - 1);
  std::memmove(outputName, baseName, nameLength);  // baseName may be outputName itself
  outputName[nameLength] = '\0';
  const ResultCode failure = newFile ? kCsvOpenFailed : kTmpOpenFailed;
  JoinPath(outputPath, folder, baseName, newFile ? kCsvExtension : kTmpExtension);
  if (outputPath[0] == '\0') return failure;  // the path does not fit
  // A new CSV file never empties a file that is there after all (one that
  // appeared meanwhile, or that could not be seen): that would lose its rows.
  // A temporary file left behind by an earlier run is removed and made anew,
  // so that a hard link planted at its name never carries the merge into
  // another file.
  outputHandle =
      newFile ? platform::FileCreateNew(outputPath) : platform::FileCreateFresh(outputPath);
  if (outputHandle == platform::kNoFile) return failure;
  return kOk;
}

ResultCode OutputFile::WriteOutputText(const char* text) {
  return WriteOutputBytes(text, std::strlen(text));
}

ResultCode OutputFile::WriteOutputBytes(const char* text, size_t length) {
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
    outputPending = kBlockSize;
    const ResultCode result = WriteFullBlock();
    if (result != kOk) return result;
  }
  return kOk;
}

// Writes the first block of a buffer that holds at least one, and keeps what
// follows it for the next.
ResultCode OutputFile::WriteFullBlock() {
  uint32_t written = 0;
  if (outputHandle == platform::kNoFile ||
      !platform::FileWrite(outputHandle, outputBuffer, kBlockSize, &written) ||
      written != kBlockSize) {
    outputPending = 0;
    CloseOutputFile();
    return kWriteFailed;
  }
  outputPending -= kBlockSize;
  std::memmove(outputBuffer, outputBuffer + kBlockSize, outputPending);
  return kOk;
}

ResultCode OutputFile::CloseOutputFile() {
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

ResultCode OutputFile::FlushOutputFile() {
  if (outputHandle == platform::kNoFile) return kWriteFailed;
  if (outputPending > 0) {
    uint32_t written = 0;
    const bool ok = platform::FileWrite(outputHandle, outputBuffer, outputPending, &written) &&
                    written == outputPending;
    outputPending = 0;
    if (!ok) {
      CloseOutputFile();
      return kWriteFailed;
    }
  }
  if (!platform::FileFlush(outputHandle)) {
    CloseOutputFile();
    return kWriteFailed;
  }
  return kOk;
}

ResultCode OutputFile::CommitOutputFile(const char* target, const platform::FileId* targetId) {
  // Without the temporary file there is nothing to put in place.
  if (!Exists(outputPath)) return kRenameFailed;
  // The listings that say which files the batch wrote reach the disk before
  // the merged file does.
  platform::ProfileFlushWrites();

  // Another program may hold the CSV file for a while; wait for it.
  int attempt = 0;
  while (platform::FileIsHeld(target)) {
    platform::SleepMilliseconds(kDeleteRetryMilliseconds);
    if (++attempt >= kDeleteAttempts) return kDeleteFailed;
  }

  // One atomic step: at every moment the CSV file is either its old or its
  // new complete contents. A temporary file still open is renamed before it
  // is let go, so that no other run can empty it in between.
  // The merge holds the rows of the file it read: it replaces that file
  // only. Another run may have deleted or rewritten the CSV file while this
  // one waited; its rows must not be lost.
  bool replaced;
  platform::ReplaceTarget found = platform::ReplaceTarget::kExpected;
  if (outputHandle != platform::kNoFile) {
    replaced = platform::FileCloseReplacing(outputHandle, outputPath, target, targetId, &found);
    outputHandle = platform::kNoFile;
    outputPending = 0;
  } else {
    replaced = platform::FileRenameReplace(outputPath, target);
  }
  if (!replaced && found == platform::ReplaceTarget::kOtherFile) {
    // Another file has the name now, with the rows its run wrote; this
    // job's rows are still in its logger file. The temporary file goes.
    return kRenameFailed;
  }
  if (!replaced) {
    // The CSV file is as it was, or gone with the rows of the file read
    // only in the temporary file: the clean-up after the job keeps it.
    keepOutputFile = true;
    return kRenameFailed;
  }
  // Make the new name durable. The file is in place whatever this says, so a
  // failure here is not reported.
  platform::FolderFlushOf(target);
  return kOk;
}

ResultCode DeleteFileIfExists(const char* path) {
  if (!Exists(path)) return kOk;
  return platform::FileRemove(path) ? kOk : kDeleteFailed;
}

}  // namespace ravelo

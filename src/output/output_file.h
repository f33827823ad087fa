// The file being written: a new CSV file or the temporary file of a merge,
// its buffered writer, and the commit that puts a merged temporary file in
// place of its CSV file; with the small file operations around them.
//
// Contract:
//  - CreateOutputFile(folder, baseName, newFile) makes outputPath =
//    folder + "\" + baseName + ".CSV" (newFile) or ".TMP" and creates it: a
//    new CSV file never empties a file that is there (kCsvOpenFailed); a
//    temporary file is always made new, anything left at its name removed
//    first (kTmpOpenFailed). outputName keeps the base name.
//  - The writer hands the file whole kBlockSize blocks, and one shorter
//    block when the file is flushed or closed. A write failure (kWriteFailed)
//    closes the file; nothing more is written to it.
//  - A line can be made straight in the buffer: ReserveLine gives room for
//    kDataLineSize bytes where the next byte goes, and CommitLine(length)
//    takes the first length bytes of it as written. The room stays as the
//    caller left it until the next write, so a line may be begun there early
//    and committed later.
//  - CommitOutputFile(target, targetId) puts the temporary file, flushed,
//    in place of target in one atomic step, and only while target is still
//    the file targetId names (when given): kRenameFailed or kDeleteFailed
//    otherwise (the wait for a file another program holds gives up after
//    600 s). When the commit leaves the merged rows only in the temporary
//    file, KeepOutputFile() is true until the next CreateOutputFile: the
//    clean-up must not delete it.
// Nothing is allocated; files are reached only through the platform layer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "api/types.h"
#include "platform/platform.h"

namespace ravelo {

// destination (kPathSize bytes) = folder + "\" + baseName + ".CSV", or empty
// when that does not fit.
void MakeCsvPath(const char* folder, const char* baseName, char* destination);
// 1 when anything exists at that path, else 0.
int32_t CsvFileExists(const char* folder, const char* baseName);
// kOk when path is gone (or was never there), else kDeleteFailed.
ResultCode DeleteFileIfExists(const char* path);

class OutputFile {
 public:
  OutputFile() {
    outputName[0] = '\0';
    outputPath[0] = '\0';
    keepOutputFile = false;
    ResetOutputFile();
  }
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  // Holds no file and nothing pending.
  void ResetOutputFile();
  ResultCode CreateOutputFile(const char* folder, const char* baseName, bool newFile);
  bool IsOpen() const { return outputHandle != platform::kNoFile; }

  ResultCode WriteOutputText(const char* text);
  ResultCode WriteOutputBytes(const char* text, size_t length);
  char* ReserveLine() { return reinterpret_cast<char*>(outputBuffer) + outputPending; }
  ResultCode CommitLine(uint32_t length) {
    outputPending += length;
    if (outputPending < kBlockSize) return kOk;
    return WriteFullBlock();
  }

  // Pending bytes written, the file closed.
  ResultCode CloseOutputFile();
  // Pending bytes written and forced to the disk.
  ResultCode FlushOutputFile();
  ResultCode CommitOutputFile(const char* target, const platform::FileId* targetId);

  const char* OutputName() const { return outputName; }
  void ForgetOutputName() { outputName[0] = '\0'; }
  // The path of the file written last; empty after ForgetOutputPath.
  const char* OutputPath() const { return outputPath; }
  void ForgetOutputPath() { outputPath[0] = '\0'; }
  bool KeepOutputFile() const { return keepOutputFile; }
  uint32_t OutputPending() const { return outputPending; }

 private:
  ResultCode WriteFullBlock();

  char outputName[kNameSize];
  char outputPath[kPathSize];
  platform::FileHandle outputHandle;
  uint32_t outputPending;
  // Set when a commit lost the CSV file and the temporary file holds the only
  // copy of its rows.
  bool keepOutputFile;
  // One block, and room behind it for a line made in place (ReserveLine).
  uint8_t outputBuffer[kBlockSize + kDataLineSize];
};

}  // namespace ravelo

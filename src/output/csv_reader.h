// The line reader over an existing CSV file, through one 8192-byte buffer.
//
// Contract:
//  - OpenCsvReader(folder, baseName) opens folder + "\" + baseName + ".CSV"
//    and keeps that path (csvReadPath, the target of a later commit) and the
//    identity of the file it led to (CsvReadId).
//  - ReadCsvLine copies the next line, its line feed included, into a
//    destination of kReadLineSize bytes and ends it with a zero. Only the
//    line feed ends a line; a line longer than the buffer comes in parts.
//    It gives kOk, kEndOfInput with the file's last bytes (possibly none),
//    or kLineReadFailed: a read that fails, or a line holding a zero byte
//    (its bytes after the zero would be lost). After a failure nothing more
//    is read.
//  - The reader closes the file itself after a short read, so the file's
//    last bytes are delivered with no file open and the next refill reports
//    the end.
// Nothing is allocated; the file is reached only through the platform layer.
#pragma once

#include <cstdint>

#include "api/types.h"
#include "platform/platform.h"

namespace ravelo {

class CsvReader {
 public:
  CsvReader() {
    csvReadPath[0] = '\0';
    csvReadIdKnown = false;
    ResetCsvReader();
  }
  CsvReader(const CsvReader&) = delete;
  CsvReader& operator=(const CsvReader&) = delete;

  // Holds no file.
  void ResetCsvReader();
  ResultCode OpenCsvReader(const char* folder, const char* baseName);  // kCsvOpenFailed
  ResultCode ReadCsvLine(char* destination);  // kReadLineSize bytes
  void CloseCsvReader();
  // Lets go of the identity of the file read (closes its pin).
  void ForgetCsvReadId();
  bool IsOpen() const { return csvReadHandle != platform::kNoFile; }

  // The path of the CSV file opened last; empty when it did not fit.
  const char* CsvReadPath() const { return csvReadPath; }
  // The identity of the file it led to, or nullptr when it is not known.
  const platform::FileId* CsvReadId() const { return csvReadIdKnown ? &csvReadId : nullptr; }

 private:
  char csvReadPath[kPathSize];
  platform::FileHandle csvReadHandle;
  platform::FileId csvReadId;
  bool csvReadIdKnown;
  uint32_t csvReadRemaining;
  uint32_t csvReadFilled;
  uint8_t csvReadBuffer[kBlockSize];
};

}  // namespace ravelo

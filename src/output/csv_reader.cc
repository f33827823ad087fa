// The line reader over an existing CSV file (see csv_reader.h).
#include "output/csv_reader.h"

#include <cstring>

#include "output/output_file.h"

namespace ravelo {

void CsvReader::ResetCsvReader() {
  csvReadHandle = platform::kNoFile;
  csvReadRemaining = 0;
  csvReadFilled = 0;
}

void CsvReader::CloseCsvReader() {
  if (csvReadHandle != platform::kNoFile) platform::FileClose(csvReadHandle);
  csvReadHandle = platform::kNoFile;
}

void CsvReader::ForgetCsvReadId() {
  if (csvReadIdKnown) platform::FileIdRelease(&csvReadId);
  csvReadIdKnown = false;
}

ResultCode CsvReader::OpenCsvReader(const char* folder, const char* baseName) {
  CloseCsvReader();
  ForgetCsvReadId();
  MakeCsvPath(folder, baseName, csvReadPath);
  if (csvReadPath[0] == '\0') return kCsvOpenFailed;
  csvReadHandle = platform::FileOpenRead(csvReadPath);
  if (csvReadHandle == platform::kNoFile) return kCsvOpenFailed;
  // The commit puts the merged file in place only while the name still
  // leads to this very file.
  csvReadIdKnown = platform::FileIdOf(csvReadHandle, &csvReadId);
  csvReadRemaining = 0;
  return kOk;
}

ResultCode CsvReader::ReadCsvLine(char* destination) {
  // destination holds kReadLineSize bytes: at most the undelivered rest of
  // the buffer, one refill, and the zero.
  uint32_t copied = 0;
  bool lineEnded = false;
  bool zeroByte = false;
  auto deliver = [&]() {
    if (csvReadRemaining == 0) return;
    const uint8_t* start = csvReadBuffer + (csvReadFilled - csvReadRemaining);
    const void* lineFeed = std::memchr(start, '\n', csvReadRemaining);
    const uint32_t n = lineFeed != nullptr
                           ? static_cast<uint32_t>(static_cast<const uint8_t*>(lineFeed) - start) + 1
                           : csvReadRemaining;
    std::memcpy(destination + copied, start, n);
    zeroByte = zeroByte || std::memchr(start, '\0', n) != nullptr;
    copied += n;
    csvReadRemaining -= n;
    lineEnded = lineFeed != nullptr;
  };

  ResultCode result = kOk;
  deliver();
  if (csvReadRemaining == 0) {
    uint32_t got = 0;
    bool ok = csvReadHandle != platform::kNoFile &&
              platform::FileRead(csvReadHandle, csvReadBuffer, kBlockSize, &got);
    if (ok) {
      if (got != kBlockSize) CloseCsvReader();
      csvReadFilled = got;
      csvReadRemaining = got;
    } else if (got == 0 && csvReadHandle == platform::kNoFile) {
      csvReadFilled = 0;
      result = kEndOfInput;
    } else {
      // A read of an open file that fails is never taken for its end: the
      // rest of the file would be lost from the merge.
      csvReadFilled = 0;
      csvReadRemaining = 0;
      CloseCsvReader();
      destination[copied] = '\0';
      return kLineReadFailed;
    }
    if (!lineEnded && csvReadRemaining > 0) deliver();
  }
  destination[copied] = '\0';
  if (zeroByte) {
    // Lines are handled as zero-terminated texts: the bytes after the zero
    // would be lost. Such a file is not read on; a merge leaves it as it was.
    csvReadFilled = 0;
    csvReadRemaining = 0;
    CloseCsvReader();
    return kLineReadFailed;
  }
  return result;
}

}  // namespace ravelo

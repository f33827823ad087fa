// Line reader over an existing CSV file: 8192-byte reads, one line (or part
// of one) per call, only the line feed ends a line.
#include <cstring>

#include "api/converter.h"

namespace ravelo {

void Converter::ResetCsvReader() {
  csvReadHandle = platform::kNoFile;
  csvReadRemaining = 0;
  csvReadFilled = 0;
}

ResultCode Converter::OpenCsvReader(const char* baseName) {
  CloseCsvReader();
  MakeCsvPath(baseName, csvReadPath);
  if (csvReadPath[0] == '\0') return kCsvOpenFailed;  // the path does not fit
  platform::FileHandle file = platform::FileOpenRead(csvReadPath);
  if (file == platform::kNoFile) return kCsvOpenFailed;
  csvReadHandle = file;
  csvReadRemaining = 0;  // the first ReadCsvLine reads
  csvReadFilled = 0;
  return kOk;
}

void Converter::CloseCsvReader() {
  if (csvReadHandle != platform::kNoFile) platform::FileClose(csvReadHandle);
  csvReadHandle = platform::kNoFile;
}

// Delivers the undelivered bytes of the buffer up to the next line feed, then
// refills the buffer once when it has run empty and, unless a line feed was
// met already, goes on from the refill. At most 8192 + 8192 bytes and the zero
// are stored, which is kReadLineSize.
//
// 0: a text (a line, part of one, or empty) and more may follow.
// 1: no more data; the text is the rest of the buffer, possibly empty.
// 26: a read failed after delivering bytes; the file is closed.
ResultCode Converter::ReadCsvLine(char* destination) {
  uint32_t length = 0;
  bool lineEnded = false;
  ResultCode result = kOk;

  auto deliver = [&]() {
    while (csvReadRemaining > 0) {
      const uint8_t byte = csvReadBuffer[csvReadFilled - csvReadRemaining];
      destination[length++] = static_cast<char>(byte);
      --csvReadRemaining;
      if (byte == '\n') {
        lineEnded = true;
        return;
      }
    }
  };

  deliver();

  if (csvReadRemaining == 0) {
    uint32_t got = 0;
    const bool ok = csvReadHandle != platform::kNoFile &&
                    platform::FileRead(csvReadHandle, csvReadBuffer, kBlockSize, &got);
    if (ok) {
      // A short read is the end of the file: close it now, its bytes are
      // still delivered, and the next refill reports the end.
      if (got != kBlockSize) CloseCsvReader();
      csvReadFilled = got;
      csvReadRemaining = got;
    } else if (got == 0) {
      csvReadFilled = 0;
      result = kEndOfInput;
    } else {
      csvReadFilled = 0;
      CloseCsvReader();
      destination[length] = '\0';
      return kLineReadFailed;
    }
  }

  if (!lineEnded) deliver();

  destination[length] = '\0';
  return result;
}

}  // namespace ravelo

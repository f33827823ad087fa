// The logger file reader: header, memo texts and the record stream through
// the one 8192-byte block, and the decoding of a record with the midnight
// shift of day control type 1.
#include "input/logger_reader.h"

#include <cstring>

#include "platform/platform.h"

namespace ravelo {

namespace {

constexpr uint32_t kHeaderSize = 10;
constexpr uint32_t kMemoOffset = 486;

inline uint32_t LittleEndian32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr int32_t kDaysOfMonth[2][12] = {
    {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
    {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
};

inline bool IsLeapYear(int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

void LoggerReader::ResetLoggerFile() {
  loggerFileHandle = platform::kNoFile;
  decodedTimeKey = kNoDecodedTime;
  chunkFilled = 0;
  chunkUnread = 0;
  dataBytesLeft = 0;
  dataStart = 0;
  dataEnd = 0;
}

void LoggerReader::CloseLoggerFile() {
  if (loggerFileHandle == platform::kNoFile) return;
  platform::FileClose(loggerFileHandle);
  loggerFileHandle = platform::kNoFile;
}

ResultCode LoggerReader::OpenLoggerFile(const char* path) {
  CloseLoggerFile();
  loggerFileHandle = platform::FileOpenRead(path);
  if (loggerFileHandle == platform::kNoFile) return kInputOpenFailed;
  return kOk;
}

ResultCode LoggerReader::ReadLoggerHeader() {
  uint8_t header[kHeaderSize];
  uint32_t got = 0;
  if (!platform::FileRead(loggerFileHandle, header, kHeaderSize, &got) || got < kHeaderSize) {
    CloseLoggerFile();
    return kHeaderReadFailed;
  }
  dataEnd = LittleEndian32(header + 2);
  dataStart = LittleEndian32(header + 6);

  if (!platform::FileSeek(loggerFileHandle, kMemoOffset)) {
    CloseLoggerFile();
    return kMemoSeekFailed;
  }
  uint8_t memos[kMemoCount * kMemoFieldSize];
  got = 0;
  if (!platform::FileRead(loggerFileHandle, memos, sizeof memos, &got) || got < sizeof memos) {
    CloseLoggerFile();
    return kMemoReadFailed;
  }
  for (int n = 0; n < kMemoCount; ++n) {
    const uint8_t* field = memos + kMemoFieldSize * n;
    char* line = memoLines[n];
    uint32_t length = 0;
    while (length < kMemoFieldSize && field[length] != 0) {
      line[length] = static_cast<char>(field[length]);
      ++length;
    }
    line[length++] = '\r';
    line[length++] = '\n';
    line[length] = '\0';
  }

  if (!platform::FileSeek(loggerFileHandle, dataStart)) {
    CloseLoggerFile();
    return kDataSeekFailed;
  }
  dataBytesLeft = dataEnd - dataStart;  // wraps when dataEnd < dataStart
  chunkUnread = 0;
  return kOk;
}

ResultCode LoggerReader::ReadLoggerRecord(LoggerRecord* record, int32_t dayCntlType) {
  const uint32_t unread = chunkUnread;
  if (unread >= kRecordSize) {
    DecodeLoggerRecord(inputChunk + (chunkFilled - unread), record, dayCntlType);
    chunkUnread = unread - kRecordSize;
    return kOk;
  }

  // The record straddles two blocks (or the area is used up): keep the
  // 0..7 bytes still unread and complete them from the next block.
  uint8_t assembly[kRecordSize];
  std::memcpy(assembly, inputChunk + (chunkFilled - unread), unread);
  if (dataBytesLeft == 0) return kEndOfInput;

  const uint32_t wanted = dataBytesLeft < kBlockSize ? dataBytesLeft : kBlockSize;
  uint32_t got = 0;
  if (loggerFileHandle == platform::kNoFile ||
      !platform::FileRead(loggerFileHandle, inputChunk, wanted, &got)) {
    CloseLoggerFile();
    chunkFilled = 0;
    chunkUnread = 0;
    dataBytesLeft = 0;
    return kDataReadFailed;
  }
  if (got < wanted) {
    // The file ends before dataEnd: deliver what came, the next read fails.
    CloseLoggerFile();
    chunkFilled = got;
  } else {
    chunkFilled = wanted;
  }
  dataBytesLeft -= chunkFilled;
  chunkUnread = chunkFilled;

  const uint32_t missing = kRecordSize - unread;
  if (chunkUnread < missing) return kEndOfInput;
  std::memcpy(assembly + unread, inputChunk, missing);
  DecodeLoggerRecord(assembly, record, dayCntlType);
  chunkUnread -= missing;
  return kOk;
}

void LoggerReader::DecodeLoggerRecord(const uint8_t* b, LoggerRecord* record,
                                      int32_t dayCntlType) {
  record->mode = static_cast<int16_t>(b[4] & 0x7F);
  record->channel = static_cast<int16_t>(b[5]);
  record->value = static_cast<uint16_t>(b[6] | (b[7] << 8));

  // The records of one row share their time bits: the time decoded last is
  // reused while the bits and the midnight setting stay the same.
  const uint64_t timeKey = RecordTimeKey(b, dayCntlType);
  if (timeKey == decodedTimeKey) {
    record->timestamp = decodedTime;
    return;
  }
  // Made in a local and copied whole: reading back the fields just stored
  // one by one would stall on the stores.
  LoggerTimestamp t;
  t.year = 2000 + (b[0] >> 1);
  t.month = ((b[0] & 1) << 3) | (b[1] >> 5);
  t.day = b[1] & 0x1F;
  t.hour = b[2] >> 3;
  t.minute = ((b[2] & 7) << 3) | (b[3] >> 5);
  t.second = ((b[3] & 0x1F) << 1) | (b[4] >> 7);
  if (dayCntlType == 1) ShiftMidnightToPreviousDay(&t);
  t.orderingKey = OrderingKey(t.year, t.month, t.day, t.hour, t.minute, t.second);
  decodedTimeKey = timeKey;
  decodedTime = t;
  record->timestamp = t;
}

// A record stamped exactly 00:00:00 becomes 24:00:00 of the day before.
// Month 0 counts as not above 1 and goes back to December 31 of the year
// before. The record format allows the months 13..15, which have no row in
// the days table: a month above 12 is taken to have 31 days, the length of a
// month in the ordering key. So day 0 or 1 of month 13 becomes month 12 day
// 31 (from the table), of month 14 month 13 day 31, of month 15 month 14 day
// 31; the table is never read outside its 12 entries.
int32_t LoggerReader::ShiftMidnightToPreviousDay(LoggerTimestamp* timestamp) {
  if (timestamp->hour != 0 || timestamp->minute != 0 || timestamp->second != 0) return 0;
  if (timestamp->day > 1) {
    timestamp->day -= 1;
  } else if (timestamp->month > 1) {
    timestamp->month -= 1;
    timestamp->day = timestamp->month <= 12
                         ? kDaysOfMonth[IsLeapYear(timestamp->year) ? 1 : 0][timestamp->month - 1]
                         : 31;
  } else {
    timestamp->year -= 1;
    timestamp->month = 12;
    timestamp->day = 31;
  }
  timestamp->hour = 24;
  return 1;
}

#if RAVELO_FAULT_INJECTION
void LoggerReader::SetBlockForTest(const uint8_t* bytes, uint32_t filled, uint32_t unread) {
  std::memcpy(inputChunk, bytes, filled);
  chunkFilled = filled;
  chunkUnread = unread;
}
#endif

}  // namespace ravelo

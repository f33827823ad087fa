// The logger file reader: the header and memo texts of one logger file and
// its record stream through one 8192-byte block.
//
// Contract:
//  - OpenLoggerFile, then ReadLoggerHeader, then ReadLoggerRecord until it
//    gives kEndOfInput (1) or a failure; CloseLoggerFile at any time, also
//    with no file open. Every failure closes the file itself.
//  - ReadLoggerHeader keeps the record area's offsets and the six memo texts
//    (each with "\r\n" after it) for the whole job.
//  - ReadLoggerRecord decodes the next record with the midnight setting it
//    is given (day control type 1 takes 00:00:00 as 24:00:00 of the day
//    before). A record that straddles two blocks is put together from both.
//    The file may end before the area does: what came is delivered, then
//    the next read fails with kDataReadFailed.
//  - The record loop may take records straight from the block: UnreadBytes
//    shows the bytes of the block not yet delivered, and SkipUnread hands
//    back how many of them are still left once the loop took some whole
//    records. The next ReadLoggerRecord goes on from there.
//  - DecodedTimeKey names the time bits of the record decoded last (with
//    the midnight setting): a record with the same RecordTimeKey has the same
//    timestamp.
// Nothing is allocated; the reader touches the file only through the
// platform layer.
#pragma once

#include <cstdint>

#include "api/types.h"
#include "platform/platform.h"

namespace ravelo {

class LoggerReader {
 public:
  LoggerReader() { ResetLoggerFile(); }
  LoggerReader(const LoggerReader&) = delete;
  LoggerReader& operator=(const LoggerReader&) = delete;

  // Holds no file and no block.
  void ResetLoggerFile();
  ResultCode OpenLoggerFile(const char* path);  // kInputOpenFailed
  // kHeaderReadFailed, kMemoSeekFailed, kMemoReadFailed, kDataSeekFailed.
  ResultCode ReadLoggerHeader();
  // kOk, kEndOfInput or kDataReadFailed.
  ResultCode ReadLoggerRecord(LoggerRecord* record, int32_t dayCntlType);
  void CloseLoggerFile();
  bool IsOpen() const { return loggerFileHandle != platform::kNoFile; }

  // Decodes the 8 bytes of one record.
  void DecodeLoggerRecord(const uint8_t* bytes, LoggerRecord* record, int32_t dayCntlType);
  // 00:00:00 becomes 24:00:00 of the day before; returns 1 when it shifted.
  static int32_t ShiftMidnightToPreviousDay(LoggerTimestamp* timestamp);

  // The time bits of the record at b (its first 33 bits) with the midnight
  // setting: records with equal keys have equal timestamps.
  static uint64_t RecordTimeKey(const uint8_t* b, int32_t dayCntlType) {
    const uint32_t firstBytes = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
                                (uint32_t{b[3]} << 24);
    return firstBytes | (uint64_t{b[4] & 0x80u} << 32) | (uint64_t{dayCntlType == 1} << 40);
  }
  // Matches no record.
  static constexpr uint64_t kNoDecodedTime = ~uint64_t{0};
  uint64_t DecodedTimeKey() const { return decodedTimeKey; }

  // The bytes of the block not delivered yet (whole records and a last
  // partial one).
  const uint8_t* UnreadBytes() const { return inputChunk + (chunkFilled - chunkUnread); }
  uint32_t UnreadCount() const { return chunkUnread; }
  // The caller took records from UnreadBytes: unread bytes are left.
  void SkipUnread(uint32_t unread) { chunkUnread = unread; }

  const char* MemoLine(int n) const { return memoLines[n]; }
  uint32_t DataStart() const { return dataStart; }
  uint32_t DataEnd() const { return dataEnd; }
  uint32_t DataBytesLeft() const { return dataBytesLeft; }
  uint32_t ChunkFilled() const { return chunkFilled; }

 private:
  platform::FileHandle loggerFileHandle;
  uint32_t dataEnd;
  uint32_t dataStart;
  uint8_t inputChunk[kBlockSize];
  char memoLines[kMemoCount][kMemoLineSize];
  uint32_t chunkFilled;
  uint32_t chunkUnread;
  uint32_t dataBytesLeft;
  // The time of the record decoded last and the bits it came from.
  uint64_t decodedTimeKey;
  LoggerTimestamp decodedTime;

#if RAVELO_FAULT_INJECTION
 public:
  // Tests: a block whose first filled bytes hold the record bytes given.
  void SetBlockForTest(const uint8_t* bytes, uint32_t filled, uint32_t unread);
#endif
};

}  // namespace ravelo

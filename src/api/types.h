// Types, sizes and result codes shared by every part of the engine.
#pragma once

#include <cstdint>

namespace ravelo {

// ---- Result codes --------------------------------------------------------
// 0 is success, 1 the end of an input file (never returned by an export),
// 2..26 one failure each; their texts are in messages.cc.
using ResultCode = int32_t;

inline constexpr ResultCode kOk = 0;
inline constexpr ResultCode kEndOfInput = 1;
inline constexpr ResultCode kNoInputPath = 2;
inline constexpr ResultCode kInputMissing = 3;
inline constexpr ResultCode kBadExtension = 4;
inline constexpr ResultCode kNoDestPath = 5;
inline constexpr ResultCode kDestMissing = 6;
inline constexpr ResultCode kBadCsvKind = 7;
inline constexpr ResultCode kBadMakeMethod = 8;
inline constexpr ResultCode kInputOpenFailed = 9;
inline constexpr ResultCode kCsvFolderFailed = 10;
inline constexpr ResultCode kSubfolderFailed = 11;
inline constexpr ResultCode kHeaderReadFailed = 12;
inline constexpr ResultCode kMemoSeekFailed = 13;
inline constexpr ResultCode kMemoReadFailed = 14;
inline constexpr ResultCode kDataSeekFailed = 15;
inline constexpr ResultCode kDataReadFailed = 16;
inline constexpr ResultCode kBadChannel = 17;
inline constexpr ResultCode kBadMode = 18;
inline constexpr ResultCode kUndefinedMode = 19;
inline constexpr ResultCode kBadValue = 20;
inline constexpr ResultCode kWriteFailed = 21;
inline constexpr ResultCode kCsvOpenFailed = 22;
inline constexpr ResultCode kTmpOpenFailed = 23;
inline constexpr ResultCode kDeleteFailed = 24;
inline constexpr ResultCode kRenameFailed = 25;
inline constexpr ResultCode kLineReadFailed = 26;
inline constexpr int kResultCodeCount = 27;

// ---- Sizes ---------------------------------------------------------------
inline constexpr uint32_t kPathSize = 260;   // paths, with the terminating zero
inline constexpr uint32_t kNameSize = 256;   // base names and the name stem
inline constexpr uint32_t kBlockSize = 8192; // every file read and write
inline constexpr uint32_t kRecordSize = 8;    // one logger record
inline constexpr int kChannelCount = 256;
inline constexpr int kModeCount = 128;
inline constexpr int kMemoCount = 6;
inline constexpr uint32_t kMemoFieldSize = 16;  // bytes of one memo in the header
inline constexpr uint32_t kMemoLineSize = 24;   // memo text + "\r\n" + zero

// Line fields are sized for the worst row the record format allows: all 256
// channels present.
//  header: "date,time" + 256 x 13-byte names + "\r\n" + zero = 3340
//  unit:   ","         + 256 x 6-byte units  + "\r\n" + zero = 1540
//  data:   19-byte date and time + 256 x 11-byte fields + "\r\n" + zero = 2838
//          (11 bytes is a negative time of occurrence such as ",-8:-59:-59")
inline constexpr uint32_t kHeaderLineSize = 3344;
inline constexpr uint32_t kUnitLineSize = 1544;
inline constexpr uint32_t kDataLineSize = 2840;
// Fields that receive a line of an existing CSV file while rows are placed
// (held line, header and unit lines in effect). A longer existing line is
// never cut: the merge ends with kLineReadFailed and the file stays as it was.
inline constexpr uint32_t kLineFieldSize = kHeaderLineSize;
// The most one ReadCsvLine call can deliver: the undelivered rest of the
// buffer, one refill, and the zero.
inline constexpr uint32_t kReadLineSize = 2 * kBlockSize + 1;

// ---- Records and rows ----------------------------------------------------
struct LoggerTimestamp {
  int32_t year;
  int32_t month;
  int32_t day;
  int32_t hour;  // 0..24 after the midnight shift (0..31 unchecked)
  int32_t minute;
  int32_t second;
  int32_t orderingKey;  // see OrderingKey(); compare as uint32_t
};

// (year - 2000) * 35670000 + month * 2697000 + day * 87000 + hour * 3600 +
// minute * 60 + second, wrapping modulo 2^32. Records and CSV data lines are
// keyed by this same function.
inline int32_t OrderingKey(int32_t year, int32_t month, int32_t day, int32_t hour,
                           int32_t minute, int32_t second) {
  uint32_t key = static_cast<uint32_t>(year - 2000) * 35670000u +
                 static_cast<uint32_t>(month) * 2697000u +
                 static_cast<uint32_t>(day) * 87000u + static_cast<uint32_t>(hour) * 3600u +
                 static_cast<uint32_t>(minute) * 60u + static_cast<uint32_t>(second);
  return static_cast<int32_t>(key);
}

inline bool SameTimestamp(const LoggerTimestamp& a, const LoggerTimestamp& b) {
  return a.orderingKey == b.orderingKey && a.year == b.year && a.month == b.month &&
         a.day == b.day && a.hour == b.hour && a.minute == b.minute && a.second == b.second;
}

struct LoggerRecord {
  int16_t channel;  // 0..255
  LoggerTimestamp timestamp;
  int16_t mode;     // 0..127
  uint16_t value;   // raw word; signed or unsigned by mode
};

struct ChannelValue {
  int16_t mode;
  uint16_t value;
};

// One output row: the records of one timestamp. Emptying a row clears only
// recordCount and channelMask; the texts stay until they are rebuilt.
struct RowBuffer {
  int32_t recordCount;
  uint8_t channelMask[kChannelCount / 8];  // channel c: byte c/8, bit 0x80 >> (c%8)
  LoggerTimestamp timestamp;
  ChannelValue channelValues[kChannelCount];
  char headerLine[kHeaderLineSize];
  char unitLine[kUnitLineSize];
  char dataLine[kDataLineSize];
  char fileBaseName[kNameSize];
};

// One recording mode: column name and unit in code page 932, each beginning
// with ","; an empty name marks an undefined mode.
struct MeasurementKind {
  char name[16];
  char unit[8];
};

}  // namespace ravelo

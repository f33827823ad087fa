// The one object behind the library's exports. It owns every path, buffer and
// file handle; nothing is allocated per call, record, row or line. Its member
// operations are implemented by subsystem:
//   api/converter.cc        construction, exports, end-of-job clean-up
//   convert/job_setup.cc    argument checks, name stem, output folders
//   input/logger_reader.cc  logger file header and record stream
//   convert/record_loop.cc  RunConversion: record checks and timestamp rows
//   convert/line_builders.cc header, unit and data lines of a row
//   convert/block_output.cc rows into day or month CSV files, merges
//   output/csv_reader.cc    line reader over an existing CSV file
//   output/output_file.cc   buffered writer, commit, small file operations
//   output/ini_files.cc     job attribute INI files
#pragma once

#include <cstdint>
#include <cstring>

#include "api/types.h"
#include "convert/field_format.h"
#include "platform/platform.h"

namespace ravelo {

class Converter {
 public:
  Converter();
  ~Converter();
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;

  // ---- Exports ----------------------------------------------------------
  void Init(const char* workFolderArg, int32_t idNumberArg, int32_t dayCntlTypeArg);
  void DayCntlTypeSet(int32_t dayCntlTypeArg);
  ResultCode Proc(const char* inputPath, const char* destPath, int32_t csvKind,
                  int32_t makeMethod, int32_t direct);
  ResultCode INIFileDelete();

  // ---- Job set-up -------------------------------------------------------
  ResultCode JobSetup(const char* inputPath, const char* destPath, int32_t csvKind,
                      int32_t makeMethod, int32_t direct);
  ResultCode InputFileNameCheck();

  // ---- Record loop ------------------------------------------------------
  ResultCode RunConversion(const char* inputPath, const char* destPath, int32_t csvKind,
                           int32_t makeMethod, int32_t direct);
  void GatherRowRecords(uint64_t rowTimeKey);
  void AddRecordToRow(int32_t channel, int32_t mode, uint16_t value);
  void LeavePlan();
  void StartRow(const LoggerTimestamp& timestamp);

  // ---- Logger file reader -----------------------------------------------
  void ResetLoggerFile();
  ResultCode OpenLoggerFile();
  ResultCode ReadLoggerHeader();
  ResultCode ReadLoggerRecord(LoggerRecord* record);
  void CloseLoggerFile();
  void DecodeLoggerRecord(const uint8_t* bytes, LoggerRecord* record) const;
  static int32_t ShiftMidnightToPreviousDay(LoggerTimestamp* timestamp);

  // ---- Lines of a row ---------------------------------------------------
  static void BuildHeaderLine(RowBuffer* row);
  static void BuildUnitLine(RowBuffer* row);
  static void BuildDataLine(RowBuffer* row);

  // ---- Block output -----------------------------------------------------
  ResultCode OutputRow();
  ResultCode FinishOutputFile();
  void MakeFileBaseName(RowBuffer* row) const;
  static void ParseLineTimestamp(const char* line, LoggerTimestamp* timestamp);
  ResultCode StartOutputFile(RowBuffer* row);
  ResultCode PlaceRowInMerge(RowBuffer* row);
  ResultCode WriteLeadingLines();
  ResultCode WriteExistingPairIfChanged();
  bool MayHavePreviousColumns() const;
  void BuildColumnPlan(const RowBuffer& row, uint64_t columns);
  bool BuildDataLineFromPlan(RowBuffer* row);
  void StartPlannedDataLine(RowBuffer* row);
  void FinishPlannedDataLine(RowBuffer* row);
  void ResetColumns();
  ResultCode ReadExistingUnitLine(ResultCode* readResult);

  // ---- Output files -----------------------------------------------------
  void MakeCsvPath(const char* baseName, char* destination) const;  // 260 bytes
  int32_t CsvFileExists(const char* baseName) const;
  ResultCode OpenCsvReader(const char* baseName);
  ResultCode ReadCsvLine(char* destination);  // kReadLineSize bytes
  void CloseCsvReader();
  void ForgetCsvReadId();  // releases csvReadId
  ResultCode CreateOutputFile(const char* baseName);
  ResultCode WriteOutputText(const char* text);
  ResultCode WriteOutputBytes(const char* text, size_t length);
  ResultCode WritePlannedDataLine(const RowBuffer& row, bool timeInPlace);
  ResultCode WriteFullBlock();
  ResultCode CloseOutputFile();
  ResultCode FlushOutputFile();  // pending bytes written and forced to the disk
  ResultCode CommitOutputFile();
  static ResultCode DeleteFileIfExists(const char* path);
  static ResultCode RenameFileIfExists(const char* source, const char* target);
  void ResetCsvReader();
  void ResetOutputFile();

  // ---- Job attribute INI files -------------------------------------------
  // INIFileEntryAdd: 1 added, 0 listed already, kIniWriteFailed when the
  // listing could not be written.
  static constexpr int32_t kIniWriteFailed = -1;
  int32_t INIFileEntryAdd(const char* csvPath, const LoggerTimestamp& timestamp);
  int32_t INIFileEntryFind(const char* iniPath, const char* csvPath);

  // ---- Settings and job fields, in this order ----------------------------
  char workFolder[kPathSize];
  int32_t idNumber;
  int32_t dayCntlType;
  char inputFilePath[kPathSize];
  char destFolder[kPathSize];
  int32_t csvFileKind;
  int32_t csvMakeMethod;
  int32_t newCsvFile;
  int32_t directOutput;
  char csvFolder[kPathSize];
  char outputFolder[kPathSize];
  char nameStem[kNameSize];
  char outputName[kNameSize];
  char csvReadPath[kPathSize];
  char outputPath[kPathSize];

  // ---- Rows ---------------------------------------------------------------
  RowBuffer rows[2];
  int32_t currentRow;
  // Rows with the same channels in the same modes have the same header and
  // unit lines, which are then neither built nor compared again. rowColumns[i]
  // names the columns whose lines rows[i] holds, writtenColumns those of the
  // pair last written into a merge from a row; 0 names none.
  uint64_t rowColumns[2];
  uint64_t lastColumns;
  uint64_t writtenColumns;
  // The columns named planColumns as a list: the channel and mode of each
  // field of the data line, in order. Rows with these columns make their
  // data lines from it without walking the channel mask.
  uint64_t planColumns;
  int32_t planCount;
  uint8_t planChannels[kChannelCount];
  int16_t planModes[kChannelCount];
  uint8_t planMask[kChannelCount / 8];
  uint8_t planRuleIds[kChannelCount];  // FieldRuleIdOf each column's mode
  // Bytes 4 and 5 of a record of each column, mode and channel, where they
  // stand in its little-endian word (bits 32..47, the time bit of byte 4
  // clear), so that with the row's time bits added the entry equals the
  // record's first six bytes; the top bit marks a wind direction mode, whose
  // value must be checked. The entry after the last column matches no
  // record.
  uint64_t planRecordKeys[kChannelCount + 1];
  static constexpr uint64_t kWindKeyBit = uint64_t{1} << 63;
  static constexpr uint64_t kNoRecordKey = ~uint64_t{0};
  // While a row's records come in the plan's order, one per column, only
  // their values are kept, in plannedValues: planCursor counts the records
  // that matched the plan's first columns so far, and the row's mask and
  // channelValues do not have them yet. -1 once the row has left the plan
  // (LeavePlan): then its mask and channelValues hold every record. Rows
  // whose time does not take 19 characters never follow the plan.
  int32_t planCursor;
  uint16_t plannedValues[kChannelCount];
  uint32_t dataLineLength;  // of the current row's data line, once it is made

  // ---- Logger file reader -------------------------------------------------
  platform::FileHandle loggerFileHandle;
  uint32_t dataEnd;
  uint32_t dataStart;
  uint8_t inputChunk[kBlockSize];
  char memoLines[kMemoCount][kMemoLineSize];
  uint32_t chunkFilled;
  uint32_t chunkUnread;
  uint32_t dataBytesLeft;
  // The time of the record decoded last and the bits it came from (with the
  // midnight setting); kNoDecodedTime matches no record.
  static constexpr uint64_t kNoDecodedTime = ~uint64_t{0};
  mutable uint64_t decodedTimeKey;
  // The time bits of the record at b (its first 33 bits) with the midnight
  // setting: records with equal keys have equal timestamps.
  static uint64_t RecordTimeKey(const uint8_t* b, int32_t dayCntlTypeValue) {
    const uint32_t firstBytes = uint32_t{b[0]} | (uint32_t{b[1]} << 8) | (uint32_t{b[2]} << 16) |
                                (uint32_t{b[3]} << 24);
    return firstBytes | (uint64_t{b[4] & 0x80u} << 32) | (uint64_t{dayCntlTypeValue == 1} << 40);
  }
  mutable LoggerTimestamp decodedTime;

  // ---- CSV line reader ----------------------------------------------------
  platform::FileHandle csvReadHandle;
  // The identity of the file csvReadPath led to when it was opened.
  platform::FileId csvReadId;
  bool csvReadIdKnown;
  uint8_t csvReadBuffer[kBlockSize];

  // ---- Block output -------------------------------------------------------
  char lineBuffer[kReadLineSize];
  char heldLine[kLineFieldSize];
  char existingHeaderLine[kLineFieldSize];
  char existingUnitLine[kLineFieldSize];
  char writtenHeaderLine[kLineFieldSize];
  char writtenUnitLine[kLineFieldSize];
  LoggerTimestamp lineTimestamp;

  // ---- CSV line reader counters -------------------------------------------
  uint32_t csvReadRemaining;
  uint32_t csvReadFilled;

  // ---- Output writer --------------------------------------------------------
  platform::FileHandle outputHandle;
  uint32_t outputPending;
  // One block, and room behind it for a data line formatted in place
  // (WritePlannedDataLine); the file only ever gets whole blocks of
  // kBlockSize bytes and a last shorter one.
  uint8_t outputBuffer[kBlockSize + kDataLineSize];

  // ---- Safety state ---------------------------------------------------------
  // Set when a commit lost the CSV file and the temporary file holds the only
  // copy of its rows: the end-of-job clean-up must then keep that file.
  bool keepOutputFile;

  // Test seam for the record loop: when set, OutputRow hands the current row
  // to this function and does nothing else. Never set by the library.
  using RowSink = ResultCode (*)(Converter* converter, RowBuffer* row, void* context);
  RowSink rowSink;
  void* rowSinkContext;
};

}  // namespace ravelo

// The Converter's life: construction at load, destruction at unload, the
// settings exports, and one job: Proc runs RunConversion and then the
// clean-up that always follows it.
#include "api/converter.h"

#include <cstring>

#include "convert/column_plan.h"
#include "convert/record_loop.h"

namespace ravelo {

Converter::Converter() {
  // Every setting and job field starts empty or zero; the components start
  // holding no file.
  workFolder[0] = inputFilePath[0] = destFolder[0] = csvFolder[0] = outputFolder[0] = '\0';
  nameStem[0] = '\0';
  csvFileKind = csvMakeMethod = newCsvFile = directOutput = 0;
  std::memset(static_cast<void*>(rows), 0, sizeof rows);
  currentRow = 0;
  rowColumns[0] = rowColumns[1] = lastColumns = writtenColumns = 0;
  dataLineLength = 0;
  lineBuffer[0] = heldLine[0] = existingHeaderLine[0] = existingUnitLine[0] = '\0';
  writtenHeaderLine[0] = writtenUnitLine[0] = '\0';
  lineTimestamp = LoggerTimestamp{};
  idNumber = 1;
  dayCntlType = 0;
  INIFileDelete();  // the batch of the defaults ends; the result is not used
  rowSink = nullptr;
  rowSinkContext = nullptr;
}

Converter::~Converter() {
  reader.CloseLoggerFile();
  csvLines.CloseCsvReader();
  csvLines.ForgetCsvReadId();
  output.CloseOutputFile();
  INIFileDelete();
}

void Converter::Init(const char* workFolderArg, int32_t idNumberArg, int32_t dayCntlTypeArg) {
  // A null folder is stored as empty. A folder too long for the field keeps
  // its first 259 bytes: no INI path can then be made from it, so jobs that
  // need the listing fail instead of using another folder.
  workFolder[0] = '\0';
  if (workFolderArg != nullptr) {
    size_t length = strnlen(workFolderArg, kPathSize - 1);
    std::memcpy(workFolder, workFolderArg, length);
    workFolder[length] = '\0';
  }
  idNumber = idNumberArg;
  dayCntlType = dayCntlTypeArg;
}

void Converter::DayCntlTypeSet(int32_t dayCntlTypeArg) { dayCntlType = dayCntlTypeArg; }

ResultCode Converter::INIFileDelete() { return listing.INIFileDelete(workFolder, idNumber); }

ResultCode Converter::Proc(const char* inputPath, const char* destPath, int32_t csvKind,
                           int32_t makeMethod, int32_t direct) {
  ResultCode result = RunConversion(inputPath, destPath, csvKind, makeMethod, direct);

  // Clean-up always runs; its own failures are not reported.
  reader.CloseLoggerFile();
  csvLines.CloseCsvReader();
  csvLines.ForgetCsvReadId();
  output.CloseOutputFile();
  if (output.OutputPath()[0] != '\0') {
    // A temporary merge file left behind is removed, unless a failed commit
    // left the rows only there.
    if (newCsvFile == 0 && !output.KeepOutputFile()) DeleteFileIfExists(output.OutputPath());
    output.ForgetOutputPath();
  }
  // The listings of the job are on the disk when it reports.
  platform::ProfileFlushWrites();
  return result;
}

// One conversion job: job set-up, then the logger file's records, checked one
// by one and gathered into rows of one timestamp each. A row is output when a
// record of another timestamp arrives and when the records end.
ResultCode Converter::RunConversion(const char* inputPath, const char* destPath, int32_t csvKind,
                                    int32_t makeMethod, int32_t direct) {
  ResultCode result = JobSetup(inputPath, destPath, csvKind, makeMethod, direct);
  if (result != kOk) return result;
  result = reader.OpenLoggerFile(inputFilePath);
  if (result != kOk) return result;
  result = reader.ReadLoggerHeader();
  if (result != kOk) return result;
  StartRecordLoop();

  LoggerRecord record;
  // The time bits of the record that gave the current row its timestamp:
  // a record with the same bits has the same timestamp.
  uint64_t rowTimeKey = LoggerReader::kNoDecodedTime;
  for (;;) {
    if (rowTimeKey != LoggerReader::kNoDecodedTime) {
      Plan().GatherRowRecords(&reader, rowTimeKey, &rows[currentRow]);
    }
    result = reader.ReadLoggerRecord(&record, dayCntlType);
    if (result != kOk) break;

    const ResultCode check = CheckLoggerRecord(record);
    if (check == kSkipRecord) continue;
    if (check != kOk) {
      reader.CloseLoggerFile();
      return check;
    }

    const RowBuffer& row = rows[currentRow];
    if (reader.DecodedTimeKey() != rowTimeKey && !SameTimestamp(record.timestamp, row.timestamp)) {
      if (row.recordCount > 0) {
        const ResultCode rowResult = OutputRow();
        if (rowResult != kOk) {
          reader.CloseLoggerFile();
          return rowResult;
        }
        NextRow();
      }
      StartRow(record.timestamp);
      rowTimeKey = reader.DecodedTimeKey();
    }
    AddRecordToRow(record.channel, record.mode, record.value);
  }

  reader.CloseLoggerFile();
  if (result != kEndOfInput) return result;
  if (rows[currentRow].recordCount > 0) {
    result = OutputRow();
    if (result != kOk) return result;
  }
  if (!output.IsOpen()) return kOk;
  return FinishOutputFile();
}

}  // namespace ravelo

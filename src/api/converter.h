// The one object behind the library's exports. It keeps the host's settings
// and the fields of the current job, and holds by value the components that
// own the rest of the state, each behind its own header:
//   input/logger_reader.h   the logger file and its 8192-byte block
//   output/csv_reader.h     the existing CSV file read during a merge
//   output/output_file.h    the file being written, its writer and commit
//   output/ini_files.h      the batch listing (no state of its own)
//   convert/column_plan.h   the columns of the last row, as a list
// Nothing is allocated per call, record, row or line. The member operations
// are implemented by subsystem:
//   api/converter.cc         construction, exports, Proc with RunConversion
//                            (one job from set-up to its end) and its clean-up
//   convert/job_setup.cc     argument checks, name stem, output folders
//   convert/record_loop.cc   record checks, timestamp rows
//   convert/column_plan.cc   the plan, the planned record loop and lines
//   convert/line_builders.cc header, unit and data lines of a row
//   convert/block_output.cc  rows into day or month CSV files
//   convert/csv_merge.cc     the merge with the existing file
//   convert/line_shapes.cc   header and data lines of an existing file
#pragma once

#include <cstddef>
#include <cstdint>

#include "api/types.h"
#include "convert/column_plan.h"
#include "input/logger_reader.h"
#include "output/csv_reader.h"
#include "output/ini_files.h"
#include "output/output_file.h"

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

  // ---- One job ----------------------------------------------------------
  ResultCode RunConversion(const char* inputPath, const char* destPath, int32_t csvKind,
                           int32_t makeMethod, int32_t direct);
  ResultCode JobSetup(const char* inputPath, const char* destPath, int32_t csvKind,
                      int32_t makeMethod, int32_t direct);
  ResultCode InputFileNameCheck();

  // ---- Lines of a row ---------------------------------------------------
  static void BuildHeaderLine(RowBuffer* row);
  static void BuildUnitLine(RowBuffer* row);
  static void BuildDataLine(RowBuffer* row);

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

  // The components, for looking at their state.
  const LoggerReader& loggerReader() const { return reader; }
  const CsvReader& csvReader() const { return csvLines; }
  const OutputFile& outputFile() const { return output; }

  // Test seam for the record loop: when set, OutputRow hands the current row
  // to this function and does nothing else. Never set by the library.
  using RowSink = ResultCode (*)(Converter* converter, RowBuffer* row, void* context);
  RowSink rowSink;
  void* rowSinkContext;
  const RowBuffer& Row(int i) const { return rows[i]; }

 private:
  friend struct ConverterInternals;  // the tests' look inside

  // ---- Record loop (convert/record_loop.cc) -------------------------------
  void StartRecordLoop();
  void StartRow(const LoggerTimestamp& timestamp);
  void NextRow();
  void AddRecordToRow(int32_t channel, int32_t mode, uint16_t value);
  ColumnPlan& Plan() { return columnPlan; }
  const ColumnPlan& Plan() const { return columnPlan; }

  // ---- Block output (convert/block_output.cc, convert/column_plan.cc) -----
  ResultCode OutputRow();
  ResultCode FinishOutputFile();
  void MakeFileBaseName(RowBuffer* row) const;
  ResultCode StartOutputFile(RowBuffer* row);
  ResultCode WriteLeadingLines();
  bool MayHavePreviousColumns() const;
  void StartPlannedDataLine(RowBuffer* row);
  void FinishPlannedDataLine(RowBuffer* row);
  ResultCode WritePlannedDataLine(const RowBuffer& row, bool timeInPlace);

  // ---- Merge with the existing file (convert/csv_merge.cc) ----------------
  ResultCode StartMerge(const char* baseName);
  ResultCode NextExistingLine(ResultCode* read);
  ResultCode PlaceRowInMerge(RowBuffer* row);
  ResultCode FinishMerge();
  ResultCode WriteExistingPairIfChanged();
  ResultCode ReadExistingUnitLine(ResultCode* readResult);

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
  uint32_t dataLineLength;  // of the current row's data line, once it is made
  ColumnPlan columnPlan;

  // ---- Logger file reader -------------------------------------------------
  LoggerReader reader;

  // ---- CSV line reader ----------------------------------------------------
  CsvReader csvLines;

  // ---- Merge: lines of the existing file ------------------------------------
  char lineBuffer[kReadLineSize];
  char heldLine[kLineFieldSize];
  char existingHeaderLine[kLineFieldSize];
  char existingUnitLine[kLineFieldSize];
  char writtenHeaderLine[kLineFieldSize];
  char writtenUnitLine[kLineFieldSize];
  LoggerTimestamp lineTimestamp;

  // ---- Output file ----------------------------------------------------------
  OutputFile output;

  // ---- Batch listing --------------------------------------------------------
  IniFiles listing;
};

}  // namespace ravelo

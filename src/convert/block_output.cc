// Block output: places each finished row into its day or month CSV file,
// written new under its CSV name or merged with the existing file
// (csv_merge.cc).
#include <cstdio>
#include <cstring>

#include "api/converter.h"
#include "common/row_time.h"
#include "convert/column_plan.h"

namespace ravelo {
namespace {

const char kTitleLine[] = "ZELKA-Q38\r\n";
// Leading characters of two data lines that must agree for two rows to share
// a file: "YYYY/MM/DD" for day files, "YYYY/MM" for month files.
constexpr size_t kPeriodPrefixLength[2] = {10, 7};
// Digits that MakeFileBaseName appends: "%4d%02d%02d" or "%4d%02d".
constexpr size_t kDateSuffixLength[2] = {8, 6};

}  // namespace

void Converter::MakeFileBaseName(RowBuffer* row) const {
  const size_t stemLength = strnlen(nameStem, sizeof row->fileBaseName - 1);
  std::memcpy(row->fileBaseName, nameStem, stemLength);
  row->fileBaseName[stemLength] = '\0';
  if (directOutput != 0) return;
  const LoggerTimestamp& t = row->timestamp;
  char* date = row->fileBaseName + stemLength;
  const size_t room = sizeof row->fileBaseName - stemLength;
  const bool monthOnly = csvFileKind != 0;
  if (room > kDateSuffixLength[monthOnly ? 1 : 0] && t.year >= 1000 && t.year <= 9999 &&
      t.month >= 0 && t.month <= 99 && t.day >= 0 && t.day <= 99) {
    // "%4d%02d%02d" or "%4d%02d" of parts that fill their widths exactly.
    std::memcpy(date, kTwoDigits[t.year / 100], 2);
    std::memcpy(date + 2, kTwoDigits[t.year % 100], 2);
    std::memcpy(date + 4, kTwoDigits[t.month], 2);
    if (monthOnly) {
      date[6] = '\0';
    } else {
      std::memcpy(date + 6, kTwoDigits[t.day], 2);
      date[8] = '\0';
    }
    return;
  }
  if (monthOnly) {
    std::snprintf(date, room, "%4d%02d", t.year, t.month);
  } else {
    std::snprintf(date, room, "%4d%02d%02d", t.year, t.month, t.day);
  }
}

// The title line and the six memo lines of the current logger file.
ResultCode Converter::WriteLeadingLines() {
  ResultCode result = output.WriteOutputText(kTitleLine);
  for (int i = 0; i < kMemoCount && result == kOk; ++i) {
    result = output.WriteOutputText(reader.MemoLine(i));
  }
  return result;
}

// Starts the file of row: decides between a new file and a merge, creates the
// output file and writes the leading lines, or starts the merge.
ResultCode Converter::StartOutputFile(RowBuffer* row) {
  char csvPath[kPathSize];
  MakeCsvPath(outputFolder, row->fileBaseName, csvPath);
  if (csvPath[0] == '\0') return kCsvOpenFailed;  // the path does not fit

  // Lists the file in the batch's INI files: 1 added, 0 listed already.
  auto listFile = [&] {
    return listing.INIFileEntryAdd(workFolder, idNumber, csvFileKind, directOutput, csvPath,
                                   row->timestamp);
  };
  if (CsvFileExists(outputFolder, row->fileBaseName)) {
    if (csvMakeMethod == 0) {
      int32_t added = listFile();
      // Without its listing a later job of the batch would replace the file
      // again and lose these rows: stop before anything is deleted.
      if (added == IniFiles::kIniWriteFailed) return kWriteFailed;
      if (added == 1) {
        if (DeleteFileIfExists(csvPath) != kOk) return kDeleteFailed;
        newCsvFile = 1;
      } else {
        newCsvFile = 0;
      }
    } else {
      newCsvFile = 0;
    }
  } else {
    int32_t added = listFile();
    if (added == IniFiles::kIniWriteFailed && csvMakeMethod == 0) return kWriteFailed;
    newCsvFile = 1;
  }

  ResultCode result = output.CreateOutputFile(outputFolder, row->fileBaseName, newCsvFile == 1);
  if (result != kOk) return result;
  if (newCsvFile == 1) return WriteLeadingLines();
  return StartMerge(row->fileBaseName);
}

// True when the current row has the channels of the previous row and the
// plan describes the previous row's columns: its columns are then the same
// unless a mode differs, which BuildDataLineFromPlan finds.
bool Converter::MayHavePreviousColumns() const {
  const RowBuffer& row = rows[currentRow];
  const RowBuffer& previous = rows[1 - currentRow];
  return rowColumns[1 - currentRow] != 0 && rowColumns[1 - currentRow] == Plan().PlanColumns() &&
         previous.recordCount == row.recordCount &&
         std::memcmp(previous.channelMask, row.channelMask, sizeof row.channelMask) == 0;
}

ResultCode Converter::OutputRow() {
  RowBuffer* row = &rows[currentRow];
  // A row that followed the plan to its end has the plan's channels; when
  // they are also the row before's, its data line is made from the values
  // alone.
  ColumnPlan& plan = Plan();
  const bool followedPlan = plan.FollowedToEnd();
  if (followedPlan) plan.CopyMask(row);
  const bool plannedLine = followedPlan && rowSink == nullptr && MayHavePreviousColumns();
  if (plannedLine) {
    plan.EndRow();
  } else {
    plan.LeavePlan(row);
  }
  if (rowSink != nullptr) return rowSink(this, row, rowSinkContext);
  const RowBuffer* previous = &rows[1 - currentRow];
  const int kind = csvFileKind == 0 ? 0 : 1;

  // The header and unit lines only change with the columns.
  bool sameColumns = plannedLine;
  if (plannedLine) {
    StartPlannedDataLine(row);  // the fields follow where the line goes
  } else {
    sameColumns = MayHavePreviousColumns() && plan.BuildDataLineFromPlan(row, &dataLineLength);
  }
  if (sameColumns) {
    if (rowColumns[currentRow] != rowColumns[1 - currentRow]) {
      std::memcpy(row->headerLine, previous->headerLine, std::strlen(previous->headerLine) + 1);
      std::memcpy(row->unitLine, previous->unitLine, std::strlen(previous->unitLine) + 1);
      rowColumns[currentRow] = rowColumns[1 - currentRow];
    }
  } else {
    BuildHeaderLine(row);
    BuildUnitLine(row);
    rowColumns[currentRow] = ++lastColumns;
    plan.BuildColumnPlan(*row, lastColumns);
    BuildDataLine(row);
    dataLineLength = static_cast<uint32_t>(std::strlen(row->dataLine));
  }

  // Data lines are at least 19 characters long: the prefixes compare whole
  // (a planned line has its date and time so far).
  bool newFileStarted = false;
  const bool samePeriod =
      output.IsOpen() &&
      (kind == 0 ? std::memcmp(row->dataLine, previous->dataLine, kPeriodPrefixLength[0]) == 0
                 : std::memcmp(row->dataLine, previous->dataLine, kPeriodPrefixLength[1]) == 0);
  if (!samePeriod) {
    // A name stem so long that the date cannot follow it makes no file name
    // (the first row of every job gets here).
    if (directOutput == 0 && std::strlen(nameStem) + kDateSuffixLength[kind] >= kNameSize) {
      return kCsvOpenFailed;
    }
    MakeFileBaseName(row);
    bool keepFile = false;
    if (output.IsOpen()) {
      keepFile = directOutput != 0 || std::strcmp(row->fileBaseName, output.OutputName()) == 0;
      if (!keepFile) {
        ResultCode result = FinishOutputFile();
        if (result != kOk) return result;
      }
    }
    if (!keepFile) {
      newFileStarted = true;
      ResultCode result = StartOutputFile(row);
      if (result != kOk) return result;
    }
  }

  if (newCsvFile == 0) {
    if (plannedLine) FinishPlannedDataLine(row);
    return PlaceRowInMerge(row);
  }

  if (newFileStarted ||
      (!sameColumns && (std::strcmp(row->headerLine, previous->headerLine) != 0 ||
                        std::strcmp(row->unitLine, previous->unitLine) != 0))) {
    ResultCode result = output.WriteOutputText(row->headerLine);
    if (result == kOk) result = output.WriteOutputText(row->unitLine);
    if (result != kOk) return result;
  }
  // A planned line is made in the output buffer; the row keeps its date and
  // time, all that the next row compares. Only a new file has written
  // anything since StartPlannedDataLine put the time there.
  if (plannedLine) return WritePlannedDataLine(*row, !newFileStarted);
  return output.WriteOutputBytes(row->dataLine, dataLineLength);
}

ResultCode Converter::FinishOutputFile() {
  if (newCsvFile == 1) return output.CloseOutputFile();
  return FinishMerge();
}

}  // namespace ravelo

// Block output: places each finished row into its day or month CSV file.
//
// A file is either written new under its CSV name or merged: the existing
// file is read line by line, its lines and the new rows go in time order into
// the temporary file, and the temporary file replaces the CSV file when the
// output moves on or the input ends. At most one existing line is read ahead
// (heldLine); nothing is ever loaded whole.
#include <cstdio>
#include <cstring>

#include "api/converter.h"
#include "convert/field_format.h"
#include "convert/measurement_kinds.h"

namespace ravelo {
namespace {

const char kTitleLine[] = "ZELKA-Q38\r\n";
const char kHeaderPrefix[] = "date,time";
constexpr size_t kHeaderPrefixLength = sizeof(kHeaderPrefix) - 1;

// Leading characters of two data lines that must agree for two rows to share
// a file: "YYYY/MM/DD" for day files, "YYYY/MM" for month files.
constexpr size_t kPeriodPrefixLength[2] = {10, 7};
// Digits that MakeFileBaseName appends: "%4d%02d%02d" or "%4d%02d".
constexpr size_t kDateSuffixLength[2] = {8, 6};

bool IsHeaderLine(const char* line) {
  return std::strncmp(line, kHeaderPrefix, kHeaderPrefixLength) == 0;
}

// A data line has at least 19 characters and its first ":" at index 13, as in
// "2024/05/01,13:00:00".
bool IsDataLine(const char* line) {
  size_t length = std::strlen(line);
  if (length < 19) return false;
  const char* colon = std::strchr(line, ':');
  return colon != nullptr && colon - line == 13;
}

// A line of nothing but blanks and its line end: it carries no data.
bool IsEmptyLine(const char* line) {
  for (; *line != '\0'; ++line) {
    if (*line != '\r' && *line != '\n' && *line != ' ' && *line != '\t') return false;
  }
  return true;
}

bool EndsWithLineFeed(const char* text) {
  size_t length = std::strlen(text);
  return length > 0 && text[length - 1] == '\n';
}

// Copies a header or unit line of the existing file into its field. Such a
// line without a line end can only be the file's last; it gets one, since
// more text always follows it in the output.
bool CopyColumnLine(char* field, const char* text) {
  size_t length = std::strlen(text);
  if (length + 2 >= kLineFieldSize) return false;
  std::memcpy(field, text, length + 1);
  if (length > 0 && text[length - 1] != '\n') {
    std::memcpy(field + length, text[length - 1] == '\r' ? "\n" : "\r\n",
                text[length - 1] == '\r' ? 2 : 3);
  }
  return true;
}

// Reads an integer the way "%d" does (leading blanks, optional sign, digits)
// starting at text. Returns false when no digit follows; the value then stays
// as it was. Overlong digit runs wrap instead of overflowing.
bool ReadDecimal(const char* text, int32_t* value) {
  while (*text == ' ' || *text == '\t' || *text == '\n' || *text == '\r' || *text == '\v' ||
         *text == '\f') {
    ++text;
  }
  bool negative = false;
  if (*text == '+' || *text == '-') {
    negative = *text == '-';
    ++text;
  }
  if (*text < '0' || *text > '9') return false;
  uint32_t magnitude = 0;
  while (*text >= '0' && *text <= '9') {
    magnitude = magnitude * 10u + static_cast<uint32_t>(*text - '0');
    ++text;
  }
  *value = static_cast<int32_t>(negative ? 0u - magnitude : magnitude);
  return true;
}

// The value of the two digits at text, when both are digits.
inline bool TwoDigitsAt(const char* text, int32_t* value) {
  const uint32_t tens = static_cast<uint32_t>(text[0] - '0');
  const uint32_t ones = static_cast<uint32_t>(text[1] - '0');
  if (tens > 9 || ones > 9) return false;
  *value = static_cast<int32_t>(tens * 10 + ones);
  return true;
}

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

void Converter::ParseLineTimestamp(const char* line, LoggerTimestamp* timestamp) {
  // The caller passes a data line, so positions 0..19 lie inside the text
  // (19 may be its end). The usual "YYYY/MM/DD,hh:mm:ss" with nothing more
  // to read after the seconds is read at once; anything else as "%d" reads
  // each part.
  int32_t century, year, month, day, hour, minute, second;
  if (line[4] == '/' && line[7] == '/' && line[10] == ',' && line[13] == ':' &&
      line[16] == ':' && static_cast<uint32_t>(line[19] - '0') > 9 &&
      TwoDigitsAt(line, &century) && TwoDigitsAt(line + 2, &year) &&
      TwoDigitsAt(line + 5, &month) && TwoDigitsAt(line + 8, &day) &&
      TwoDigitsAt(line + 11, &hour) && TwoDigitsAt(line + 14, &minute) &&
      TwoDigitsAt(line + 17, &second)) {
    timestamp->year = century * 100 + year;
    timestamp->month = month;
    timestamp->day = day;
    timestamp->hour = hour;
    timestamp->minute = minute;
    timestamp->second = second;
    timestamp->orderingKey = OrderingKey(timestamp->year, month, day, hour, minute, second);
    return;
  }
  ReadDecimal(line + 0, &timestamp->year);
  ReadDecimal(line + 5, &timestamp->month);
  ReadDecimal(line + 8, &timestamp->day);
  ReadDecimal(line + 11, &timestamp->hour);
  ReadDecimal(line + 14, &timestamp->minute);
  ReadDecimal(line + 17, &timestamp->second);
  timestamp->orderingKey = OrderingKey(timestamp->year, timestamp->month, timestamp->day,
                                       timestamp->hour, timestamp->minute, timestamp->second);
}

// The title line and the six memo lines of the current logger file.
ResultCode Converter::WriteLeadingLines() {
  ResultCode result = WriteOutputText(kTitleLine);
  for (int i = 0; i < kMemoCount && result == kOk; ++i) result = WriteOutputText(memoLines[i]);
  return result;
}

// Writes the header and unit lines in effect at the read position of the
// existing file when they differ from those in effect at the write position,
// so that the existing lines written next stand under their own columns.
ResultCode Converter::WriteExistingPairIfChanged() {
  if (std::strcmp(existingHeaderLine, writtenHeaderLine) == 0 &&
      std::strcmp(existingUnitLine, writtenUnitLine) == 0) {
    return kOk;
  }
  ResultCode result = WriteOutputText(existingHeaderLine);
  if (result == kOk) result = WriteOutputText(existingUnitLine);
  if (result != kOk) return result;
  std::memcpy(writtenHeaderLine, existingHeaderLine, sizeof writtenHeaderLine);
  std::memcpy(writtenUnitLine, existingUnitLine, sizeof writtenUnitLine);
  writtenColumns = 0;
  return kOk;
}

// Reads the unit line that follows a header line of the existing file. The
// text is taken whatever it holds, also when it arrives with the end of the
// file; a file that ends right after its header line has an empty unit line.
// A data line there is no unit line: the section has an empty one, and the
// line is held to be placed like every other data line (taken as the unit
// line, it would make every later merge write the section again).
ResultCode Converter::ReadExistingUnitLine(ResultCode* readResult) {
  *readResult = ReadCsvLine(lineBuffer);
  if (*readResult == kLineReadFailed) return kLineReadFailed;
  if (IsDataLine(lineBuffer)) {
    const size_t length = std::strlen(lineBuffer);
    if (length >= kLineFieldSize) return kLineReadFailed;
    existingUnitLine[0] = '\0';
    std::memcpy(heldLine, lineBuffer, length + 1);
    return kOk;
  }
  if (!CopyColumnLine(existingUnitLine, lineBuffer)) return kLineReadFailed;
  return kOk;
}

// Starts the file of row: decides between a new file and a merge, creates the
// output file and writes the leading lines; for a merge, passes over the
// existing file up to its first header pair and writes that pair.
ResultCode Converter::StartOutputFile(RowBuffer* row) {
  char csvPath[kPathSize];
  MakeCsvPath(row->fileBaseName, csvPath);
  if (csvPath[0] == '\0') return kCsvOpenFailed;  // the path does not fit

  if (CsvFileExists(row->fileBaseName)) {
    if (csvMakeMethod == 0) {
      int32_t added = INIFileEntryAdd(csvPath, row->timestamp);
      // Without its listing a later job of the batch would replace the file
      // again and lose these rows: stop before anything is deleted.
      if (added == kIniWriteFailed) return kWriteFailed;
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
    int32_t added = INIFileEntryAdd(csvPath, row->timestamp);
    if (added == kIniWriteFailed && csvMakeMethod == 0) return kWriteFailed;
    newCsvFile = 1;
  }

  if (newCsvFile == 1) {
    ResultCode result = CreateOutputFile(row->fileBaseName);
    if (result != kOk) return result;
    return WriteLeadingLines();
  }

  ResultCode result = CreateOutputFile(row->fileBaseName);
  if (result != kOk) return result;
  result = OpenCsvReader(row->fileBaseName);
  if (result != kOk) return result;
  result = WriteLeadingLines();
  if (result != kOk) return result;
  existingHeaderLine[0] = '\0';
  existingUnitLine[0] = '\0';
  writtenHeaderLine[0] = '\0';
  writtenUnitLine[0] = '\0';
  writtenColumns = 0;
  heldLine[0] = '\0';
  std::memset(&lineTimestamp, 0, sizeof lineTimestamp);

  // Pass over the old title, memo lines and anything else up to the first
  // header line. A header line that is the file's last line still counts.
  bool sawText = false;
  for (;;) {
    ResultCode read = ReadCsvLine(lineBuffer);
    if (read == kLineReadFailed) return kLineReadFailed;
    if (lineBuffer[0] != '\0') {
      sawText = true;
      if (IsHeaderLine(lineBuffer)) break;
    }
    if (read == kEndOfInput) {
      // No header line anywhere. An empty file merges as a file without
      // header lines; any other text would be dropped, so the merge stops
      // and the file stays as it was.
      if (sawText) return kLineReadFailed;
      return kOk;
    }
  }
  if (!CopyColumnLine(existingHeaderLine, lineBuffer)) return kLineReadFailed;
  ResultCode unitRead;
  result = ReadExistingUnitLine(&unitRead);
  if (result != kOk) return result;
  return WriteExistingPairIfChanged();
}

// Writes row into the merge, in its place by time among the existing lines.
ResultCode Converter::PlaceRowInMerge(RowBuffer* row) {
  const uint32_t rowKey = static_cast<uint32_t>(row->timestamp.orderingKey);
  for (;;) {
    ResultCode read;
    if (heldLine[0] != '\0') {
      std::memcpy(lineBuffer, heldLine, std::strlen(heldLine) + 1);
      heldLine[0] = '\0';
      read = kOk;
    } else {
      read = ReadCsvLine(lineBuffer);
      if (read == kLineReadFailed) return kLineReadFailed;
    }
    if (lineBuffer[0] == '\0') {
      if (read == kEndOfInput) break;
      continue;
    }
    // Lines that the fields cannot hold are never cut; such a file is left
    // as it was.
    if (std::strlen(lineBuffer) >= kLineFieldSize) return kLineReadFailed;

    if (IsHeaderLine(lineBuffer)) {
      if (!CopyColumnLine(existingHeaderLine, lineBuffer)) return kLineReadFailed;
      ResultCode unitRead;
      ResultCode result = ReadExistingUnitLine(&unitRead);
      if (result != kOk) return result;
      result = WriteExistingPairIfChanged();
      if (result != kOk) return result;
      if (read == kEndOfInput || (unitRead == kEndOfInput && heldLine[0] == '\0')) break;
      continue;
    }
    if (!IsDataLine(lineBuffer)) {
      // Empty lines are dropped. Any other line in a form this reader does
      // not know (a date re-saved in another form, a note, a quoted text)
      // would be lost: the merge stops and the file stays as it was.
      if (!IsEmptyLine(lineBuffer)) return kLineReadFailed;
      if (read == kEndOfInput) break;
      continue;
    }

    ParseLineTimestamp(lineBuffer, &lineTimestamp);
    const uint32_t lineKey = static_cast<uint32_t>(lineTimestamp.orderingKey);
    if (lineKey > rowKey) {
      std::memcpy(heldLine, lineBuffer, std::strlen(lineBuffer) + 1);
      break;
    }
    if (lineKey == rowKey) break;  // the row takes the line's place

    // An earlier existing line: it goes before the row, under its own header
    // pair, and ends with a line end since the row follows it.
    ResultCode result = WriteExistingPairIfChanged();
    if (result == kOk) result = WriteOutputText(lineBuffer);
    if (result == kOk && !EndsWithLineFeed(lineBuffer)) {
      size_t length = std::strlen(lineBuffer);
      result = WriteOutputText(length > 0 && lineBuffer[length - 1] == '\r' ? "\n" : "\r\n");
    }
    if (result != kOk) return result;
    if (read == kEndOfInput) break;
  }

  const uint64_t columns = rowColumns[row == &rows[0] ? 0 : 1];
  if (columns == 0 || columns != writtenColumns) {
    if (std::strcmp(row->headerLine, writtenHeaderLine) != 0 ||
        std::strcmp(row->unitLine, writtenUnitLine) != 0) {
      ResultCode result = WriteOutputText(row->headerLine);
      if (result == kOk) result = WriteOutputText(row->unitLine);
      if (result != kOk) return result;
      std::memcpy(writtenHeaderLine, row->headerLine, std::strlen(row->headerLine) + 1);
      std::memcpy(writtenUnitLine, row->unitLine, std::strlen(row->unitLine) + 1);
    }
    writtenColumns = columns;
  }
  return WriteOutputBytes(row->dataLine, dataLineLength);
}

void Converter::ResetColumns() {
  rowColumns[0] = rowColumns[1] = 0;
  lastColumns = 0;
  writtenColumns = 0;
  planColumns = 0;
  planCount = 0;
  planRecordKeys[0] = kNoRecordKey;
  planCursor = -1;
}

// True when the current row has the channels of the previous row and the
// plan describes the previous row's columns: its columns are then the same
// unless a mode differs, which BuildDataLineFromPlan finds.
bool Converter::MayHavePreviousColumns() const {
  const RowBuffer& row = rows[currentRow];
  const RowBuffer& previous = rows[1 - currentRow];
  return rowColumns[1 - currentRow] != 0 && rowColumns[1 - currentRow] == planColumns &&
         previous.recordCount == row.recordCount &&
         std::memcmp(previous.channelMask, row.channelMask, sizeof row.channelMask) == 0;
}

ResultCode Converter::OutputRow() {
  RowBuffer* row = &rows[currentRow];
  // A row that followed the plan to its end has the plan's channels; when
  // they are also the row before's, its data line is made from the values
  // alone.
  const bool followedPlan = planCursor > 0 && planCursor == planCount;
  if (followedPlan) std::memcpy(row->channelMask, planMask, sizeof planMask);
  const bool plannedLine = followedPlan && rowSink == nullptr && MayHavePreviousColumns();
  if (plannedLine) {
    planCursor = -1;
  } else {
    LeavePlan();
  }
  if (rowSink != nullptr) return rowSink(this, row, rowSinkContext);
  const RowBuffer* previous = &rows[1 - currentRow];
  const int kind = csvFileKind == 0 ? 0 : 1;

  // The header and unit lines only change with the columns.
  bool sameColumns = plannedLine;
  if (plannedLine) {
    StartPlannedDataLine(row);  // the fields follow where the line goes
  } else {
    sameColumns = MayHavePreviousColumns() && BuildDataLineFromPlan(row);
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
    BuildColumnPlan(*row, lastColumns);
    BuildDataLine(row);
    dataLineLength = static_cast<uint32_t>(std::strlen(row->dataLine));
  }

  // Data lines are at least 19 characters long: the prefixes compare whole
  // (a planned line has its date and time so far).
  bool newFileStarted = false;
  const bool samePeriod =
      outputHandle != platform::kNoFile &&
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
    if (outputHandle != platform::kNoFile) {
      keepFile = directOutput != 0 || std::strcmp(row->fileBaseName, outputName) == 0;
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
    ResultCode result = WriteOutputText(row->headerLine);
    if (result == kOk) result = WriteOutputText(row->unitLine);
    if (result != kOk) return result;
  }
  // A planned line is made in the output buffer; the row keeps its date and
  // time, all that the next row compares. Only a new file has written
  // anything since StartPlannedDataLine put the time there.
  if (plannedLine) return WritePlannedDataLine(*row, !newFileStarted);
  return WriteOutputBytes(row->dataLine, dataLineLength);
}

ResultCode Converter::FinishOutputFile() {
  if (newCsvFile == 1) return CloseOutputFile();

  // Carry the rest of the existing file over, unchanged, under its own
  // header pair.
  ResultCode read;
  if (heldLine[0] != '\0') {
    std::memcpy(lineBuffer, heldLine, std::strlen(heldLine) + 1);
    heldLine[0] = '\0';
    read = kOk;
  } else {
    read = ReadCsvLine(lineBuffer);
    if (read == kLineReadFailed) return kLineReadFailed;
  }
  if (lineBuffer[0] != '\0') {
    ResultCode result = WriteExistingPairIfChanged();
    if (result != kOk) return result;
    for (;;) {
      result = WriteOutputText(lineBuffer);
      if (result != kOk) return result;
      if (read == kEndOfInput) break;
      read = ReadCsvLine(lineBuffer);
      if (read == kLineReadFailed) return kLineReadFailed;
    }
  }

  // The merged contents reach the disk before they replace the CSV file;
  // the commit closes the temporary file once it has the CSV file's name.
  CloseCsvReader();
  ResultCode result = FlushOutputFile();
  if (result != kOk) return result;
  return CommitOutputFile();
}

}  // namespace ravelo

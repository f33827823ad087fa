// The merge of new rows with an existing CSV file: the existing file is read
// line by line, its lines and the new rows go in time order into the
// temporary file, each under the header pair in effect for it, and the
// temporary file replaces the CSV file when the output moves on or the input
// ends. At most one existing line is read ahead (heldLine); nothing is ever
// loaded whole.
#include <cstring>

#include "api/converter.h"
#include "convert/line_shapes.h"

namespace ravelo {

// The merge of the file baseName, whose temporary file was just created:
// writes the leading lines, passes over the existing file up to its first
// header pair and writes that pair.
ResultCode Converter::StartMerge(const char* baseName) {
  ResultCode result = csvLines.OpenCsvReader(outputFolder, baseName);
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
    ResultCode read = csvLines.ReadCsvLine(lineBuffer);
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

// The next line of the existing file in lineBuffer: the held line, or else
// the next one read. *read is kOk, or kEndOfInput with the file's last line.
ResultCode Converter::NextExistingLine(ResultCode* read) {
  if (heldLine[0] != '\0') {
    std::memcpy(lineBuffer, heldLine, std::strlen(heldLine) + 1);
    heldLine[0] = '\0';
    *read = kOk;
    return kOk;
  }
  *read = csvLines.ReadCsvLine(lineBuffer);
  return *read == kLineReadFailed ? kLineReadFailed : kOk;
}

// Writes the header and unit lines in effect at the read position of the
// existing file when they differ from those in effect at the write position,
// so that the existing lines written next stand under their own columns.
ResultCode Converter::WriteExistingPairIfChanged() {
  if (std::strcmp(existingHeaderLine, writtenHeaderLine) == 0 &&
      std::strcmp(existingUnitLine, writtenUnitLine) == 0) {
    return kOk;
  }
  ResultCode result = output.WriteOutputText(existingHeaderLine);
  if (result == kOk) result = output.WriteOutputText(existingUnitLine);
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
  *readResult = csvLines.ReadCsvLine(lineBuffer);
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

// Writes row into the merge, in its place by time among the existing lines.
ResultCode Converter::PlaceRowInMerge(RowBuffer* row) {
  const uint32_t rowKey = static_cast<uint32_t>(row->timestamp.orderingKey);
  for (;;) {
    ResultCode read;
    if (NextExistingLine(&read) != kOk) return kLineReadFailed;
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
    if (result == kOk) result = output.WriteOutputText(lineBuffer);
    if (result == kOk && !EndsWithLineFeed(lineBuffer)) {
      size_t length = std::strlen(lineBuffer);
      result = output.WriteOutputText(length > 0 && lineBuffer[length - 1] == '\r' ? "\n" : "\r\n");
    }
    if (result != kOk) return result;
    if (read == kEndOfInput) break;
  }

  const uint64_t columns = rowColumns[row == &rows[0] ? 0 : 1];
  if (columns == 0 || columns != writtenColumns) {
    if (std::strcmp(row->headerLine, writtenHeaderLine) != 0 ||
        std::strcmp(row->unitLine, writtenUnitLine) != 0) {
      ResultCode result = output.WriteOutputText(row->headerLine);
      if (result == kOk) result = output.WriteOutputText(row->unitLine);
      if (result != kOk) return result;
      std::memcpy(writtenHeaderLine, row->headerLine, std::strlen(row->headerLine) + 1);
      std::memcpy(writtenUnitLine, row->unitLine, std::strlen(row->unitLine) + 1);
    }
    writtenColumns = columns;
  }
  return output.WriteOutputBytes(row->dataLine, dataLineLength);
}

// Carries the rest of the existing file over and puts the merged file in
// place of the CSV file.
ResultCode Converter::FinishMerge() {
  // The rest goes over unchanged, under its own header pair.
  ResultCode read;
  if (NextExistingLine(&read) != kOk) return kLineReadFailed;
  if (lineBuffer[0] != '\0') {
    ResultCode result = WriteExistingPairIfChanged();
    if (result != kOk) return result;
    for (;;) {
      result = output.WriteOutputText(lineBuffer);
      if (result != kOk) return result;
      if (read == kEndOfInput) break;
      read = csvLines.ReadCsvLine(lineBuffer);
      if (read == kLineReadFailed) return kLineReadFailed;
    }
  }

  // The merged contents reach the disk before they replace the CSV file;
  // the commit closes the temporary file once it has the CSV file's name.
  csvLines.CloseCsvReader();
  ResultCode result = output.FlushOutputFile();
  if (result != kOk) return result;
  return output.CommitOutputFile(csvLines.CsvReadPath(), csvLines.CsvReadId());
}

}  // namespace ravelo

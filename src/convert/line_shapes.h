// The shapes of the lines of a CSV file that a merge reads: header lines,
// data lines and their timestamps, empty lines.
#pragma once

#include <cstdint>

#include "api/types.h"

namespace ravelo {

// A header line begins with "date,time".
bool IsHeaderLine(const char* line);
// A data line has at least 19 characters and its first ":" at index 13, as in
// "2024/05/01,13:00:00".
bool IsDataLine(const char* line);
// A line of nothing but blanks and its line end: it carries no data.
bool IsEmptyLine(const char* line);
bool EndsWithLineFeed(const char* text);
// Copies a header or unit line of an existing file into a field of
// kLineFieldSize bytes, with a line end added when it has none; false when
// it does not fit.
bool CopyColumnLine(char* field, const char* text);
// The timestamp of a data line (IsDataLine), its parts read as "%d" reads
// them at the positions of "YYYY/MM/DD,hh:mm:ss"; a part without digits
// keeps its value in *timestamp.
void ParseLineTimestamp(const char* line, LoggerTimestamp* timestamp);

}  // namespace ravelo

// The engine's tests' look inside a Converter: its components and rows.
#pragma once

#include "api/converter.h"

namespace ravelo {

struct ConverterInternals {
  static LoggerReader& Reader(Converter& c) { return c.reader; }
  static CsvReader& Lines(Converter& c) { return c.csvLines; }
  static OutputFile& Output(Converter& c) { return c.output; }
  static RowBuffer* Rows(Converter& c) { return c.rows; }
};

}  // namespace ravelo

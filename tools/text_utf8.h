// Text conversions of the command line's analysis outputs (export, info
// --json): code page 932 into UTF-8, JSON strings, CSV fields.
#pragma once

#include <iconv.h>

#include <cstddef>
#include <string>

namespace ravelo::cli {

// Converts code page 932 bytes into UTF-8. Plain ASCII is copied without
// iconv. One converter is kept open for the life of the object.
class Cp932ToUtf8 {
 public:
  Cp932ToUtf8();
  ~Cp932ToUtf8();
  Cp932ToUtf8(const Cp932ToUtf8&) = delete;
  Cp932ToUtf8& operator=(const Cp932ToUtf8&) = delete;

  // Appends the UTF-8 text of [text, text + size) to *out. Returns false,
  // leaving *out as it was, when the bytes are not code page 932 text.
  bool Append(const char* text, size_t size, std::string* out);

  // Appends the UTF-8 text of [text, text + size) to *out, each byte that
  // does not begin a code page 932 character written as one U+FFFD.
  void AppendReplacing(const char* text, size_t size, std::string* out);

 private:
  iconv_t cd_;
};

// Appends text as a JSON string (quotes included). The text must be UTF-8.
void AppendJsonString(const std::string& text, std::string* out);

// Appends a CSV field, in double quotes (inner quotes doubled) only when it
// holds a comma, a double quote, a CR or an LF.
void AppendCsvField(const char* text, size_t size, std::string* out);

// Appends a CSV field that holds a text (UTF-8): as AppendCsvField, but a
// text that a spreadsheet would run as a formula (its first character other
// than a blank is =, +, - or @, also in their full-width forms, and it is not
// a number) gets a leading apostrophe, the spreadsheet's mark of a text.
void AppendCsvText(const char* text, size_t size, std::string* out);

// The bytes with every control byte (below 0x20, and 0x7F) written as \xNN,
// so that a name can be shown on a terminal without running anything there.
std::string WithoutControls(const std::string& bytes);

}  // namespace ravelo::cli

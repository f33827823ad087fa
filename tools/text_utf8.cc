#include "text_utf8.h"

#include <cstdio>
#include <cstring>

namespace ravelo::cli {

Cp932ToUtf8::Cp932ToUtf8() : cd_(iconv_open("UTF-8", "CP932")) {}

Cp932ToUtf8::~Cp932ToUtf8() {
  if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
}

bool Cp932ToUtf8::Append(const char* text, size_t size, std::string* out) {
  size_t i = 0;
  while (i < size && static_cast<unsigned char>(text[i]) < 0x80) ++i;
  if (i == size) {
    out->append(text, size);
    return true;
  }
  if (cd_ == reinterpret_cast<iconv_t>(-1)) return false;
  const size_t start = out->size();
  out->append(text, i);
  // A code page 932 character takes at most 3 bytes of UTF-8 per byte.
  const size_t rest = size - i;
  const size_t at = out->size();
  out->resize(at + rest * 3 + 4);
  char* inp = const_cast<char*>(text + i);
  size_t inLeft = rest;
  char* outp = out->data() + at;
  size_t outLeft = rest * 3 + 4;
  iconv(cd_, nullptr, nullptr, nullptr, nullptr);
  size_t r = iconv(cd_, &inp, &inLeft, &outp, &outLeft);
  // Only exact text: a character iconv had to replace counts as unreadable.
  if (r != 0 || inLeft != 0) {
    out->resize(start);
    return false;
  }
  out->resize(static_cast<size_t>(outp - out->data()));
  return true;
}

void AppendJsonString(const std::string& text, std::string* out) {
  out->push_back('"');
  for (unsigned char c : text) {
    switch (c) {
      case '"': out->append("\\\""); break;
      case '\\': out->append("\\\\"); break;
      case '\n': out->append("\\n"); break;
      case '\r': out->append("\\r"); break;
      case '\t': out->append("\\t"); break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out->append(esc);
        } else {
          out->push_back(static_cast<char>(c));
        }
    }
  }
  out->push_back('"');
}

void AppendCsvField(const char* text, size_t size, std::string* out) {
  bool quote = false;
  for (size_t i = 0; i < size && !quote; ++i) {
    char c = text[i];
    quote = c == ',' || c == '"' || c == '\r' || c == '\n';
  }
  if (!quote) {
    out->append(text, size);
    return;
  }
  out->push_back('"');
  for (size_t i = 0; i < size; ++i) {
    if (text[i] == '"') out->push_back('"');
    out->push_back(text[i]);
  }
  out->push_back('"');
}

}  // namespace ravelo::cli

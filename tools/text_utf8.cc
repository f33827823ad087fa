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

void Cp932ToUtf8::AppendReplacing(const char* text, size_t size, std::string* out) {
  if (Append(text, size, out)) return;
  for (size_t i = 0; i < size;) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out->push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    // A lead byte takes the byte after it; 0xA1..0xDF (half-width
    // katakana) stands alone; 0x80, 0xA0 and 0xFD..0xFF begin nothing.
    const bool lead = (c >= 0x81 && c <= 0x9F) || (c >= 0xE0 && c <= 0xFC);
    const size_t length = lead ? 2 : 1;
    if (i + length <= size && Append(text + i, length, out)) {
      i += length;
    } else {
      out->append("\xEF\xBF\xBD");  // U+FFFD, for this one byte
      ++i;
    }
  }
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

namespace {

// Whether [p, end) is a number as the library writes one: [+-]digits[.digits].
bool IsNumber(const char* p, const char* end) {
  if (p < end && (*p == '+' || *p == '-')) ++p;
  const char* digits = p;
  while (p < end && *p >= '0' && *p <= '9') ++p;
  if (p == digits) return false;
  if (p < end && *p == '.') {
    const char* fraction = ++p;
    while (p < end && *p >= '0' && *p <= '9') ++p;
    if (p == fraction) return false;
  }
  return p == end;
}

bool RunsInSpreadsheet(const char* text, size_t size) {
  const char* p = text;
  const char* end = text + size;
  while (p < end && *p == ' ') ++p;
  if (p == end) return false;
  const char c = *p;
  if (c == '=' || c == '+' || c == '-' || c == '@') {
    const char* q = end;
    while (q > p && q[-1] == ' ') --q;
    return !IsNumber(p, q);
  }
  // U+FF1D, U+FF0B, U+FF0D, U+FF20: the full-width = + - @
  if (end - p >= 3 && static_cast<unsigned char>(p[0]) == 0xEF &&
      static_cast<unsigned char>(p[1]) == 0xBC) {
    const unsigned char d = static_cast<unsigned char>(p[2]);
    return d == 0x9D || d == 0x8B || d == 0x8D || d == 0xA0;
  }
  return false;
}

}  // namespace

void AppendCsvText(const char* text, size_t size, std::string* out) {
  if (!RunsInSpreadsheet(text, size)) {
    AppendCsvField(text, size, out);
    return;
  }
  std::string marked;
  marked.reserve(size + 1);
  marked.push_back('\'');
  marked.append(text, size);
  AppendCsvField(marked.data(), marked.size(), out);
}

std::string WithoutControls(const std::string& bytes) {
  std::string out;
  for (unsigned char c : bytes) {
    if (c < 0x20 || c == 0x7F) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02X", c);
      out += esc;
    } else {
      out.push_back(static_cast<char>(c));
    }
  }
  return out;
}

}  // namespace ravelo::cli

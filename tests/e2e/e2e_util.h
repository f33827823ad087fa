// Helpers of the end-to-end tests: temporary folders, logger files made from
// rows, and the expected CSV text written out by hand.
#pragma once

#include <iconv.h>

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <sstream>
#include <string>
#include <vector>

#include "../test_support.h"
#include "logger_file.h"
#include "ravelo.h"

namespace e2e {

namespace fs = std::filesystem;

class TempDir : public ravelo::test::TempFolder {
 public:
  TempDir() : TempFolder("ravelo-e2e") {}
};

inline std::string ReadAll(const std::string& path) { return ravelo::test::ReadFile(path); }

inline void WriteAll(const std::string& path, const std::string& bytes) {
  ravelo::test::WriteFile(path, bytes);
}

// UTF-8 text to code page 932, converted independently of the library.
inline std::string Cp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  std::string out(utf8.size() * 2 + 8, '\0');
  char* in = const_cast<char*>(utf8.data());
  size_t inLeft = utf8.size();
  char* o = out.data();
  size_t outLeft = out.size();
  iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  out.resize(out.size() - outLeft);
  return out;
}

struct Value {
  int channel;
  int mode;
  uint16_t value;
};

struct Row {
  int year, month, day, hour, minute, second;
  std::vector<Value> values;
};

inline ravelo::q38::Writer LoggerOf(const std::vector<Row>& rows,
                                    std::initializer_list<std::string> memos = {}) {
  ravelo::q38::Writer w;
  int n = 1;
  for (const std::string& m : memos) w.SetMemo(n++, m);
  for (const Row& r : rows) {
    for (const Value& v : r.values) {
      ravelo::q38::Record rec;
      rec.year = r.year;
      rec.month = r.month;
      rec.day = r.day;
      rec.hour = r.hour;
      rec.minute = r.minute;
      rec.second = r.second;
      rec.channel = v.channel;
      rec.mode = v.mode;
      rec.value = v.value;
      w.Add(rec);
    }
  }
  return w;
}

// Title line and six memo lines as a file made from memos starts.
inline std::string Lead(std::initializer_list<std::string> memos = {}) {
  std::string out = "ZELKA-Q38\r\n";
  size_t n = 0;
  for (const std::string& m : memos) {
    out += m + "\r\n";
    ++n;
  }
  for (; n < 6; ++n) out += "\r\n";
  return out;
}

// Column names and units of the modes the tests use.
inline std::string NameOf(int mode) {
  switch (mode) {
    case 0: return Cp932(",電圧");
    case 8: return Cp932(",湿度");
    case 20: return Cp932(",平均風速");
    case 60: return Cp932(",日照");
    default: return "?";
  }
}
inline std::string UnitOf(int mode) {
  switch (mode) {
    case 0: return ",mV";
    case 8: return ",%";
    case 20: return ",m/s";
    case 60: return ",min";
    default: return "?";
  }
}

// Header and unit lines of a row whose channels carry these modes in order.
inline std::string Pair(std::initializer_list<int> modes) {
  std::string header = "date,time", unit = ",";
  for (int m : modes) {
    header += NameOf(m);
    unit += UnitOf(m);
  }
  return header + "\r\n" + unit + "\r\n";
}

inline std::string Line(const std::string& text) { return text + "\r\n"; }

}  // namespace e2e

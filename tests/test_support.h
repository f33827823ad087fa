// What the tests share: a temporary folder per test, reading and writing
// whole files, and logger files saved from their records. (The engine's
// tests look inside a Converter through converter_internals.h.)
#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "../tools/common/logger_file.h"

namespace ravelo::test {

// A fresh folder below /tmp, removed with everything in it at the end.
class TempFolder {
 public:
  explicit TempFolder(const char* tag = "ravelo") {
    std::string pattern = std::string("/tmp/") + tag + "-XXXXXX";
    path_ = mkdtemp(pattern.data()) != nullptr ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  TempFolder(const TempFolder&) = delete;
  TempFolder& operator=(const TempFolder&) = delete;

  const std::string& path() const { return path_; }
  const char* c_str() const { return path_.c_str(); }
  // The path of name inside the folder.
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The whole file; empty when it cannot be read.
inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes bytes as the whole file, replacing what was there; false when that
// failed.
inline bool WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
  out.close();
  return !out.fail();
}

inline bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  return WriteFile(path, std::string(bytes.begin(), bytes.end()));
}

// One record of the given time, channel, mode and raw value.
inline q38::Record RecordAt(int year, int month, int day, int hour, int minute = 0,
                            int second = 0, int channel = 0, int mode = 0, uint16_t value = 0) {
  q38::Record r;
  r.year = year;
  r.month = month;
  r.day = day;
  r.hour = hour;
  r.minute = minute;
  r.second = second;
  r.channel = channel;
  r.mode = mode;
  r.value = value;
  return r;
}

// A logger file of the given records (memo texts empty), saved at path.
inline bool SaveLogger(const std::string& path, const std::vector<q38::Record>& records) {
  q38::Writer w;
  for (const q38::Record& r : records) w.Add(r);
  return w.Save(path);
}

}  // namespace ravelo::test

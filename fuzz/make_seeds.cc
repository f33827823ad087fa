// Writes the seed inputs of the fuzz targets below SOURCE_DIR/fuzz/corpus:
// logger files made with q38::Writer and cut from the bundled samples, CSV
// files and INI files as the converter writes them. Usage:
//   ravelo_fuzz_seeds SOURCE_DIR
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "api/converter.h"
#include "logger_file.h"

namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using ravelo::q38::Record;
using ravelo::q38::Writer;

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

std::string Text(const std::vector<uint8_t>& bytes) { return std::string(bytes.begin(), bytes.end()); }

std::string WithFlags(uint8_t flags, const std::string& rest) {
  return std::string(1, static_cast<char>(flags)) + rest;
}

void Add(Writer& w, int day, int hour, int minute, int channel, int mode, uint16_t value,
         int month = 5) {
  w.Add(Record{.year = 2024, .month = month, .day = day, .hour = hour, .minute = minute,
               .mode = mode, .channel = channel, .value = value});
}

// Records right after the memo fields, so that mutations reach them soon.
constexpr uint32_t kCompactStart = 486 + 96;

// Two days of rows: temperature, humidity, wind speed and direction, a
// skipped record (mode 127) and a row whose channels change.
Writer SmallLogger() {
  Writer w(kCompactStart);
  w.SetMemo(1, "SEED A");
  w.SetMemo(6, "8 CHANNELS");
  int n = 0;
  for (int day = 20; day <= 21; ++day) {
    for (int hour = 0; hour < 24; hour += 6) {
      Add(w, day, hour, 0, 0, 4, static_cast<uint16_t>(150 + n));
      Add(w, day, hour, 0, 1, 8, static_cast<uint16_t>(600 + n));
      if (hour != 12) {
        Add(w, day, hour, 0, 3, 20, static_cast<uint16_t>(20 + n));
        Add(w, day, hour, 0, 4, 21, static_cast<uint16_t>(1 + n % 17));
      }
      Add(w, day, hour, 0, 9, 127, 0);
      ++n;
    }
  }
  return w;
}

// Midnight records at the ends of months, for day control type 1.
Writer MidnightLogger() {
  Writer w(kCompactStart);
  Add(w, 31, 23, 50, 0, 0, 1000);
  Add(w, 1, 0, 0, 0, 0, 1001, 6);
  Add(w, 1, 0, 10, 0, 0, 1002, 6);
  Add(w, 1, 0, 0, 2, 60, 10, 3);
  return w;
}

// The first records of a bundled sample, its header as it is.
std::string TrimmedSample(const fs::path& source, uint32_t records) {
  std::string bytes = ReadFile(source / "samples" / "STATION_A1.Q38");
  const uint32_t start = ravelo::q38::GetU32(reinterpret_cast<const uint8_t*>(bytes.data()) + 6);
  const uint32_t end = start + 8 * records;
  bytes.resize(end);
  for (int i = 0; i < 4; ++i) bytes[2 + i] = static_cast<char>(end >> (8 * i));
  return bytes;
}

// Converts a logger file into dest as the library does; returns the result.
int Convert(const fs::path& logger, const fs::path& dest, const fs::path& work, int kind,
            int direct) {
  static ravelo::Converter* converter = new ravelo::Converter();
  converter->Init(work.c_str(), 1, 0);
  converter->INIFileDelete();
  return converter->Proc(logger.c_str(), dest.c_str(), kind, 1, direct);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: ravelo_fuzz_seeds SOURCE_DIR\n");
    return 2;
  }
  const fs::path source = argv[1];
  const fs::path corpus = source / "fuzz" / "corpus";
  for (const char* target : {"proc", "merge", "profile"}) fs::create_directories(corpus / target);

  // ---- proc: flags byte and a logger file.
  const std::string small = Text(SmallLogger().Bytes());
  WriteFile(corpus / "proc" / "day_files", WithFlags(0x00, small));
  WriteFile(corpus / "proc" / "month_files_twice", WithFlags(0x13, small));
  WriteFile(corpus / "proc" / "direct_midnight", WithFlags(0x0C, Text(MidnightLogger().Bytes())));
  WriteFile(corpus / "proc" / "sample_start", WithFlags(0x10, TrimmedSample(source, 240)));

  // ---- merge: flags byte and an existing CSV file, converted by the engine
  // from rows that fall between and onto those of the fixed logger file.
  const fs::path scratch = fs::temp_directory_path() / "ravelo-fuzz-seeds";
  fs::remove_all(scratch);
  fs::create_directories(scratch / "out");
  fs::create_directories(scratch / "work");
  Writer older;
  older.SetMemo(1, "STATION A1");
  for (int hour = 0; hour < 24; hour += 3) {
    Add(older, 20, hour, 0, 0, 0, static_cast<uint16_t>(hour * 10));
    Add(older, 20, hour, 0, 1, 8, static_cast<uint16_t>(500 + hour));
    if (hour >= 12) Add(older, 20, hour, 0, 2, 60, static_cast<uint16_t>(hour));
  }
  const fs::path olderPath = scratch / "STATION_A1.Q38";
  older.Save(olderPath.string());
  int failed = 0;
  failed |= Convert(olderPath, scratch / "out", scratch / "work", 0, 0);
  failed |= Convert(olderPath, scratch / "out", scratch / "work", 1, 0);
  failed |= Convert(olderPath, scratch / "out", scratch / "work", 0, 1);
  const std::string dayCsv = ReadFile(scratch / "out" / "CSV" / "Day" / "STATION_20240520.CSV");
  const std::string monthCsv = ReadFile(scratch / "out" / "CSV" / "Month" / "STATION_202405.CSV");
  const std::string directCsv = ReadFile(scratch / "out" / "STATION_A1.CSV");
  WriteFile(corpus / "merge" / "day_file", WithFlags(0x00, dayCsv));
  WriteFile(corpus / "merge" / "month_file", WithFlags(0x01, monthCsv));
  WriteFile(corpus / "merge" / "direct_file_midnight", WithFlags(0x0A, directCsv));
  // Only data lines, under the valid header pair the flag puts in front.
  std::string dataOnly;
  for (size_t at = 0; at < dayCsv.size();) {
    size_t end = dayCsv.find('\n', at);
    end = end == std::string::npos ? dayCsv.size() : end + 1;
    std::string line = dayCsv.substr(at, end - at);
    if (line.size() > 19 && line[13] == ':') dataOnly += line;
    at = end;
  }
  WriteFile(corpus / "merge" / "data_lines_after_pair", WithFlags(0x04, dataOnly));
  WriteFile(corpus / "merge" / "empty_file", WithFlags(0x00, ""));
  // Past two read blocks of 8192 bytes, under other column names: the
  // first 36 hours of a bundled sample as a month file.
  fs::create_directories(scratch / "long-out");
  const fs::path longPath = scratch / "STATION_LONG.Q38";
  WriteFile(longPath, TrimmedSample(source, 8 * 6 * 36));
  failed |= Convert(longPath, scratch / "long-out", scratch / "work", 1, 0);
  WriteFile(corpus / "merge" / "long_month_file",
            WithFlags(0x01, ReadFile(scratch / "long-out" / "CSV" / "Month" / "STATION_202405.CSV")));
  // A stray line longer than any header line among the data lines.
  const size_t twoLines = dataOnly.find('\n', dataOnly.find('\n') + 1) + 1;
  WriteFile(corpus / "merge" / "overlong_line",
            WithFlags(0x04, dataOnly.substr(0, twoLines) + std::string(3400, 'x') + "\r\n" +
                                dataOnly.substr(twoLines)));

  // ---- profile: the INI files of a batch as the engine writes them.
  fs::create_directories(scratch / "batch");
  fs::create_directories(scratch / "batch-out");
  failed |= Convert(fs::path(source) / "samples" / "STATION_A1_2.Q38", scratch / "batch-out",
                    scratch / "batch", 0, 0);
  const std::string ini = ReadFile(scratch / "batch" / "MakeCSVExecAttrDay02_01.ini");
  WriteFile(corpus / "profile" / "day_listing", ini);
  WriteFile(corpus / "profile" / "next_path",
            "FILE_INFO\0FILE_PATH2\0/tmp/out/CSV/Day/STATION_20240602.CSV\0"s +
                ini);
  const std::string edited =
      "; written by hand\r\nloose=1\r\n[other]\r\nkey = ' quoted '\r\n\r\n[File_Info]\r\n"
      "file_count = 12abc\r\nFILE_PATH1=\"C:\\data\\A.CSV\"\r\n[FILE_INFO]\r\nFILE_COUNT=3\r\n";
  WriteFile(corpus / "profile" / "hand_edited", edited);
  WriteFile(corpus / "profile" / "unnamed_section",
            "\0loose\0 \"two words\" \0"s + edited);
  fs::remove_all(scratch);
  if (failed != 0) {
    std::fprintf(stderr, "a seed conversion failed\n");
    return 1;
  }
  return 0;
}

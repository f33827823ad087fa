// The fuzz targets' entry functions (see targets.h). Each input runs in a
// folder of its own below one scratch folder per process, emptied before
// every input so that nothing grows and no input sees another's files.
#include "targets.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <set>
#include <string>
#include <system_error>
#include <vector>

#include "api/converter.h"
#include "api/types.h"
#include "convert/line_shapes.h"
#include "logger_file.h"
#include "platform/platform.h"

namespace ravelo::fuzz {
namespace {

namespace fs = std::filesystem;

[[noreturn]] void Fail(const char* what, const std::string& detail = std::string()) {
  std::fprintf(stderr, "fuzz check failed: %s%s%s\n", what, detail.empty() ? "" : ": ",
               detail.c_str());
  std::abort();
}

void Check(bool ok, const char* what, const std::string& detail = std::string()) {
  if (!ok) Fail(what, detail);
}

// ---- Scratch folders ---------------------------------------------------------

void RemoveScratch();

// This process's scratch folder: below $RAVELO_FUZZ_SCRATCH when set, else
// in /dev/shm (no disk writes) or the system's temporary folder. Removed when
// the process exits normally.
const fs::path& ScratchRoot() {
  // Never destroyed: the removal at exit still needs it.
  static const fs::path* const root = [] {
    std::error_code ec;
    fs::path base;
    if (const char* env = std::getenv("RAVELO_FUZZ_SCRATCH"); env != nullptr && env[0] != '\0') {
      base = env;
      fs::create_directories(base, ec);
    } else if (fs::is_directory("/dev/shm", ec)) {
      base = "/dev/shm";
    } else {
      base = fs::temp_directory_path();
    }
    std::random_device random;
    for (int attempt = 0; attempt < 100; ++attempt) {
      char name[48];
      std::snprintf(name, sizeof name, "ravelo-fuzz-%08x%08x", random(), random());
      fs::path p = base / name;
      if (fs::create_directory(p, ec)) {
        std::atexit(RemoveScratch);
        return new fs::path(p);
      }
    }
    Fail("cannot make a scratch folder", base.string());
  }();
  return *root;
}

void RemoveScratch() {
  std::error_code ec;
  fs::remove_all(ScratchRoot(), ec);
}

// The folders of one input: emptied and made anew.
struct RunFolders {
  fs::path in, out, work;
};

RunFolders FreshRun() {
  const fs::path run = ScratchRoot() / "run";
  std::error_code ec;
  fs::remove_all(run, ec);
  RunFolders f{run / "in", run / "out", run / "work"};
  for (const fs::path& p : {f.in, f.out, f.work}) {
    fs::create_directories(p, ec);
    Check(!ec, "cannot make a run folder", p.string());
  }
  return f;
}

void WriteFile(const fs::path& path, const void* bytes, size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(static_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  out.close();
  Check(static_cast<bool>(out), "cannot write a scratch file", path.string());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
  WriteFile(path, bytes.data(), bytes.size());
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Every file below folder whose name ends with extension (".CSV", ".TMP").
std::vector<fs::path> FilesBelow(const fs::path& folder, const std::string& extension) {
  std::vector<fs::path> found;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (it->is_regular_file(ec) && it->path().extension() == extension) found.push_back(it->path());
  }
  return found;
}

// The one converter of the process, as the library has one.
Converter& TheConverter() {
  static Converter* converter = new Converter();
  return *converter;
}

void CheckResultCode(ResultCode result) {
  Check(result >= 0 && result < kResultCodeCount && result != kEndOfInput,
        "result code out of range", std::to_string(result));
}

// ---- Lines -------------------------------------------------------------------

// The lines of a text as the CSV reader delivers them: up to and with each
// line feed; a last line without one as it is.
std::vector<std::string> RawLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    end = end == std::string::npos ? text.size() : end + 1;
    lines.push_back(text.substr(at, end - at));
    at = end;
  }
  return lines;
}

// A line without its line end (any run of CR and LF at its end).
std::string Bare(std::string line) {
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
  return line;
}

bool IsHeaderLine(const std::string& line) { return line.compare(0, 9, "date,time") == 0; }

// The block output's test: 19 characters or more, the first ":" at 13.
bool IsDataLine(const std::string& line) {
  return line.size() >= 19 && line.find(':') == 13;
}

// ---- Proc --------------------------------------------------------------------

}  // namespace

int FuzzProc(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  const RunFolders run = FreshRun();
  const fs::path input = run.in / "LOG_A1.Q38";
  WriteFile(input, data + 1, size - 1);

  const int32_t kind = flags & 1;
  const int32_t method = (flags >> 1) & 1;
  const int32_t direct = (flags >> 2) & 1;
  Converter& converter = TheConverter();
  converter.Init(run.work.c_str(), 1, (flags & 8) ? 1 : 0);
  CheckResultCode(converter.INIFileDelete());

  const int passes = (flags & 0x10) ? 2 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const ResultCode result =
        converter.Proc(input.c_str(), run.out.c_str(), kind, method, direct);
    CheckResultCode(result);
    if (result == kOk) {
      // A finished job leaves no temporary merge file behind.
      std::vector<fs::path> left = FilesBelow(run.out, ".TMP");
      Check(left.empty(), "temporary file left after success",
            left.empty() ? std::string() : left[0].string());
    }
  }
  return 0;
}

// ---- Merge -------------------------------------------------------------------

namespace {

// The fixed logger file: one day of rows whose set of channels changes, a
// record at midnight (which day control type 1 moves to the day before) and
// one row of the next day.
std::vector<uint8_t> FixedLogger() {
  ravelo::q38::Writer w;
  w.SetMemo(1, "STATION A1");
  w.SetMemo(2, "FUZZ MERGE");
  struct Row {
    int day, hour, minute;
    int channels;
  };
  const Row rows[] = {{20, 0, 10, 3}, {20, 6, 0, 3}, {20, 12, 0, 2},
                      {20, 23, 50, 3}, {21, 0, 0, 3}, {21, 0, 10, 3}};
  const int modes[] = {0, 8, 20};
  uint16_t value = 100;
  for (const Row& r : rows) {
    for (int c = 0; c < r.channels; ++c) {
      ravelo::q38::Record rec;
      rec.year = 2024;
      rec.month = 5;
      rec.day = r.day;
      rec.hour = r.hour;
      rec.minute = r.minute;
      rec.channel = c;
      rec.mode = modes[c];
      rec.value = value;
      value = static_cast<uint16_t>(value + 37);
      w.Add(rec);
    }
  }
  return w.Bytes();
}

const char kFixedLoggerName[] = "STATION_A1.Q38";

const fs::path& FixedLoggerPath() {
  static const fs::path path = [] {
    fs::path folder = ScratchRoot() / "fixed";
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::vector<uint8_t> bytes = FixedLogger();
    WriteFile(folder / kFixedLoggerName, bytes.data(), bytes.size());
    return folder / kFixedLoggerName;
  }();
  return path;
}

// What converting the fixed logger file into an empty folder gives, per
// output kind (day, month, direct) and day control type.
struct Reference {
  bool made = false;
  std::vector<std::string> dataLines;  // without line ends
  std::set<uint32_t> rowKeys;
  std::string pair;  // the first header and unit lines
};

const Reference& ReferenceOf(int output, int dayCntl) {
  static Reference references[3][2];
  Reference& ref = references[output][dayCntl];
  if (ref.made) return ref;
  const RunFolders run = FreshRun();
  Converter& converter = TheConverter();
  converter.Init(run.work.c_str(), 1, dayCntl);
  converter.INIFileDelete();
  const ResultCode result = converter.Proc(FixedLoggerPath().c_str(), run.out.c_str(),
                                           output == 1 ? 1 : 0, 1, output == 2 ? 1 : 0);
  Check(result == kOk, "the fixed logger file does not convert", std::to_string(result));
  int pairLines = 0;  // of the first header pair taken so far
  for (const fs::path& csv : FilesBelow(run.out, ".CSV")) {
    for (const std::string& line : RawLines(ReadFile(csv))) {
      if (pairLines == 1 || (pairLines == 0 && IsHeaderLine(line))) {
        ref.pair += line;
        ++pairLines;
        continue;
      }
      if (!IsDataLine(line)) continue;
      ref.dataLines.push_back(Bare(line));
      LoggerTimestamp t = {};
      ParseLineTimestamp(line.c_str(), &t);
      ref.rowKeys.insert(static_cast<uint32_t>(t.orderingKey));
    }
  }
  Check(!ref.dataLines.empty() && pairLines == 2, "the fixed logger file gives no rows");
  ref.made = true;
  return ref;
}

// Where the conversion of the fixed logger file writes its first row.
fs::path TargetOf(const RunFolders& run, int output) {
  switch (output) {
    case 1: return run.out / "CSV" / "Month" / "STATION_202405.CSV";
    case 2: return run.out / "STATION_A1.CSV";
    default: return run.out / "CSV" / "Day" / "STATION_20240520.CSV";
  }
}

}  // namespace

int FuzzMerge(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t flags = data[0];
  int output = flags & 3;
  if (output == 3) output = 0;
  const bool withPair = (flags & 4) != 0;
  const int dayCntl = (flags & 8) ? 1 : 0;
  const Reference& ref = ReferenceOf(output, dayCntl);

  std::string existing = withPair ? ref.pair : std::string();
  existing.append(reinterpret_cast<const char*>(data + 1), size - 1);

  const RunFolders run = FreshRun();
  const fs::path target = TargetOf(run, output);
  std::error_code ec;
  fs::create_directories(target.parent_path(), ec);
  WriteFile(target, existing);

  Converter& converter = TheConverter();
  converter.Init(run.work.c_str(), 1, dayCntl);
  CheckResultCode(converter.INIFileDelete());
  const ResultCode result = converter.Proc(FixedLoggerPath().c_str(), run.out.c_str(),
                                           output == 1 ? 1 : 0, 1, output == 2 ? 1 : 0);
  CheckResultCode(result);

  if (result != kOk) {
    // A failed merge leaves the existing file as it was.
    Check(ReadFile(target) == existing, "a failed merge changed the existing file",
          std::to_string(result));
    return 0;
  }
  Check(FilesBelow(run.out, ".TMP").empty(), "temporary file left after a merge");

  std::set<std::string> written;
  for (const fs::path& csv : FilesBelow(run.out, ".CSV")) {
    for (const std::string& line : RawLines(ReadFile(csv))) written.insert(Bare(line));
  }
  // Every new row is there.
  for (const std::string& line : ref.dataLines) {
    Check(written.count(line) == 1, "a new row is missing after a merge", line);
  }
  // Every data line of the existing file below its first header line is
  // still there, unless a new row of the same time took its place. (A file
  // with a zero byte never merges: it fails above and stays as it was.)
  Check(existing.find('\0') == std::string::npos, "a file with a zero byte was merged", "");
  const std::vector<std::string> lines = RawLines(existing);
  size_t i = 0;
  while (i < lines.size() && !IsHeaderLine(lines[i])) ++i;
  LoggerTimestamp t = {};
  while (i < lines.size()) {
    const std::string& line = lines[i];
    if (IsHeaderLine(line)) {
      i += 2;  // the header line and the unit line it takes
      continue;
    }
    ++i;
    if (!IsDataLine(line)) continue;
    ParseLineTimestamp(line.c_str(), &t);
    if (ref.rowKeys.count(static_cast<uint32_t>(t.orderingKey)) != 0) continue;
    Check(written.count(Bare(line)) == 1, "an existing line was lost in a merge", line);
  }
  return 0;
}

// ---- Profile -----------------------------------------------------------------

namespace {

std::string TrimBlanks(std::string s) {
  auto blank = [](char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == '\n';
  };
  size_t b = 0;
  while (b < s.size() && blank(s[b])) ++b;
  size_t e = s.size();
  while (e > b && blank(s[e - 1])) --e;
  return s.substr(b, e - b);
}

std::string Unquoted(const std::string& v) {
  if (v.size() >= 2 && (v[0] == '"' || v[0] == '\'') && v.back() == v[0])
    return v.substr(1, v.size() - 2);
  return v;
}

// Reads key through buffers of several sizes; every cut must be a prefix of
// the whole value, zero-terminated. Returns the whole value.
std::string ReadString(const std::string& section, const std::string& key, const char* file,
                       size_t room) {
  std::vector<char> whole(room + 1, '\x7f');
  const uint32_t n = platform::ProfileGetString(section.c_str(), key.c_str(), "dflt", whole.data(),
                                                static_cast<uint32_t>(whole.size()), file);
  Check(n < whole.size() && whole[n] == '\0' && std::strlen(whole.data()) <= n,
        "profile string not terminated within its buffer");
  for (uint32_t small : {1u, 2u, 5u}) {
    char cut[8];
    std::memset(cut, 0x7f, sizeof cut);
    const uint32_t m =
        platform::ProfileGetString(section.c_str(), key.c_str(), "dflt", cut, small, file);
    Check(m <= small - 1 && cut[m] == '\0' && cut[small] == '\x7f' && m <= n &&
              std::memcmp(cut, whole.data(), m) == 0,
          "profile string cut wrongly");
  }
  return std::string(whole.data(), n);
}

}  // namespace

int FuzzProfile(const uint8_t* data, size_t size) {
  const char* text = reinterpret_cast<const char*>(data);
  std::string section = "FILE_INFO", key = "FILE_COUNT", value = "7";
  size_t at = 0;
  std::string parts[3];
  int found = 0;
  for (size_t i = 0; i < size && found < 3; ++i) {
    if (text[i] == '\0') {
      parts[found++] = std::string(text + at, i - at);
      at = i + 1;
    }
  }
  if (found == 3) {
    section = parts[0];
    key = parts[1];
    value = parts[2];
  } else {
    at = 0;
  }

  const RunFolders run = FreshRun();
  const fs::path ini = run.work / "MakeCSVExecAttrDay01_01.ini";
  const std::string before(text + at, size - at);
  WriteFile(ini, before);
  const char* file = ini.c_str();

  platform::ProfileGetInt(section.c_str(), key.c_str(), -5, file);
  platform::ProfileGetInt("FILE_INFO", "FILE_COUNT", -5, file);
  ReadString(section, key, file, size + 16);
  ReadString("FILE_INFO", "FILE_PATH1", file, size + 16);

  const bool ok = platform::ProfileWriteString(section.c_str(), key.c_str(), value.c_str(), file);
  if (!ok) {
    Check(ReadFile(ini) == before, "a refused profile write changed the file");
    return 0;
  }
  const std::string expected = Unquoted(TrimBlanks(value));
  const std::string got = ReadString(section, key, file, size + value.size() + 16);
  Check(got == expected, "a profile value does not read back as written",
        "wrote [" + value + "] read [" + got + "]");
  // A second write of the same value leaves the file as it is.
  const std::string after = ReadFile(ini);
  Check(platform::ProfileWriteString(section.c_str(), key.c_str(), value.c_str(), file),
        "a repeated profile write failed");
  Check(ReadFile(ini) == after, "a repeated profile write changed the file");
  return 0;
}

}  // namespace ravelo::fuzz

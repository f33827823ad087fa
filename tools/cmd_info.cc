// ravelo info: what a logger file holds and the problems a conversion would
// meet, found by reading the file as the library reads it. Writes nothing.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <tuple>
#include <vector>

#include "cli_common.h"
#include "common/logger_file.h"
#include "logger_layout.h"
#include "text_utf8.h"

namespace ravelo::cli {
namespace {

const char kInfoHelp[] =
    "Usage: ravelo info [--json] FILE.Q38\n"
    "\n"
    "Shows the header of a logger file (record area, the six memo texts), the\n"
    "number of records, their time range, the days and months they cover, the\n"
    "channels with their recording modes, and the problems a conversion would\n"
    "meet:\n"
    "  - records with a recording mode that is not defined (code 19)\n"
    "  - wind directions (modes 21, 23, 26, 29) outside 1..17 (code 20)\n"
    "  - a record area that the file does not hold completely, or whose length\n"
    "    is not a multiple of 8 bytes, or whose end lies before its start\n"
    "  - a header that cannot be read (codes 12, 14, 15)\n"
    "  - records whose time cannot exist (month 0 or above 12, day 0 or past\n"
    "    the month's end, hour above 23, minute or second above 59), which\n"
    "    ravelo convert refuses; when most records are such, the file is\n"
    "    probably no logger file\n"
    "A conversion stops at the first failing record; the rows before it are\n"
    "converted. Nothing is written.\n"
    "\n"
    "Options:\n"
    "  --json   write one JSON object (UTF-8) instead: path, size, dataStart,\n"
    "           dataEnd, memos, records, rows, first and last (the times of the\n"
    "           first and last record in the file), days, months, channels\n"
    "           (channel, mode, name, unit, records) and problems (code, message,\n"
    "           count; code is null where no result code applies); a file that\n"
    "           cannot be read gives one object with path and error\n"
    "\n"
    "The file is read in blocks; only regular files are read (not folders,\n"
    "devices or FIFOs).\n"
    "\n"
    "Exit codes: 0 no problems, 1 problems found or the file cannot be read,\n"
    "2 usage error.\n";

struct ModeInfo {
  const char* name;
  const char* unit;
};

// The defined recording modes; an empty name means not defined.
ModeInfo ModeOf(int mode) {
  switch (mode) {
    case 0: return {"voltage", "mV"};
    case 4: return {"temperature (thermistor)", "degC"};
    case 5: return {"temperature (new JIS)", "degC"};
    case 6: return {"temperature (old JIS)", "degC"};
    case 8: return {"humidity", "%"};
    case 12: return {"resistance (0.01)", "kOhm"};
    case 13: return {"resistance (0.001)", "kOhm"};
    case 14: return {"resistance (0.0001)", "kOhm"};
    case 16: return {"current", "mA"};
    case 20: return {"mean wind speed", "m/s"};
    case 21: return {"mean wind direction", "compass"};
    case 22: return {"max instantaneous wind speed", "m/s"};
    case 23: return {"max instantaneous wind direction", "compass"};
    case 24: return {"time of max instantaneous wind", "time"};
    case 25: return {"max mean wind speed", "m/s"};
    case 26: return {"max mean wind direction", "compass"};
    case 27: return {"time of max mean wind", "time"};
    case 28: return {"instantaneous wind speed", "m/s"};
    case 29: return {"instantaneous wind direction", "compass"};
    case 30: return {"NEDO", ""};
    case 32: return {"water level (+, 0.0001)", "m"};
    case 33: return {"water level (-, 0.0001)", "m"};
    case 34: return {"water level (+, 0.001)", "m"};
    case 35: return {"water level (-, 0.001)", "m"};
    case 36: return {"water level (+, 0.01)", "m"};
    case 37: return {"water level (-, 0.01)", "m"};
    case 38: return {"rainfall", "mm"};
    case 40: return {"integrated voltage", "mV"};
    case 44: return {"strain", "uE"};
    case 52: return {"atmospheric pressure", "hPa"};
    case 56: return {"solar radiation", "kW/m2"};
    case 60: return {"sunshine duration", "min"};
    case 64: return {"voltage 1", "mV"};
    case 65: return {"voltage 2", "mV"};
    case 66: return {"voltage 3", "mV"};
    case 67: return {"voltage 4", "mV"};
    case 68: return {"voltage 5", "mV"};
    case 72: return {"mean wind direction", "deg"};
    case 73: return {"max instantaneous wind direction", "deg"};
    case 74: return {"instantaneous wind direction", "deg"};
    case 127: return {"(skipped)", ""};
    default: return {"", ""};
  }
}

bool IsWindDirection(int mode) { return mode == 21 || mode == 23 || mode == 26 || mode == 29; }

std::string Stamp(const q38::Record& r) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", r.year, r.month, r.day, r.hour,
                r.minute, r.second);
  return text;
}

using TimeKey = std::tuple<int, int, int, int, int, int>;
TimeKey KeyOf(const q38::Record& r) {
  return {r.year, r.month, r.day, r.hour, r.minute, r.second};
}

struct RecordProblem {
  int code = 0;  // 19 or 20
  size_t count = 0;
  size_t firstIndex = 0;
  q38::Record first;
};

// One problem a conversion would meet. code: the result code a conversion
// gives for it, 0 where none applies; inText: the text output names the code
// before the message.
struct Problem {
  int code = 0;
  bool inText = false;
  std::string message;
  uint64_t count = 1;
};

// The column names and units of the defined recording modes as the library
// writes them (code page 932, without their leading commas).
struct LibraryTexts {
  int mode;
  const char* name;
  const char* unit;
};
const LibraryTexts kLibraryTexts[] = {
    {0, "\x93\x64\x88\xB3", "mV"},  // 電圧 mV
    {4, "\x89\xB7\x93\x78(\xBB\xB0\xD0\xBD\xC0)", "\xDF" "C"},  // 温度(ｻｰﾐｽﾀ) ﾟC
    {5, "\x89\xB7\x93\x78(\x90\x56jis)", "\xDF" "C"},  // 温度(新jis) ﾟC
    {6, "\x89\xB7\x93\x78(\x8B\x8Cjis)", "\xDF" "C"},  // 温度(旧jis) ﾟC
    {8, "\x8E\xBC\x93\x78", "%"},  // 湿度 %
    {12, "\x92\xEF\x8D\x52", "k\x83\xB6"},  // 抵抗 kΩ
    {13, "\x92\xEF\x8D\x52", "k\x83\xB6"},  // 抵抗 kΩ
    {14, "\x92\xEF\x8D\x52", "k\x83\xB6"},  // 抵抗 kΩ
    {16, "\x93\x64\x97\xAC", "mA"},  // 電流 mA
    {20, "\x95\xBD\x8B\xCF\x95\x97\x91\xAC", "m/s"},  // 平均風速 m/s
    {21, "\x95\xBD\x8B\xCF\x95\x97\x8C\xFC", ""},  // 平均風向
    {22, "\x8D\xC5\x91\xE5\x8F\x75\x8A\xD4\x95\x97\x91\xAC", "m/s"},  // 最大瞬間風速 m/s
    {23, "\x8D\xC5\x91\xE5\x8F\x75\x8A\xD4\x95\x97\x8C\xFC", ""},  // 最大瞬間風向
    {24, "\x8D\xC5\x91\xE5\x8F\x75\x8A\xD4\x8B\x4E\x8E\x9E", ""},  // 最大瞬間起時
    {25, "\x8D\xC5\x91\xE5\x95\xBD\x8B\xCF\x95\x97\x91\xAC", "m/s"},  // 最大平均風速 m/s
    {26, "\x8D\xC5\x91\xE5\x95\xBD\x8B\xCF\x95\x97\x8C\xFC", ""},  // 最大平均風向
    {27, "\x8D\xC5\x91\xE5\x95\xBD\x8B\xCF\x8B\x4E\x8E\x9E", ""},  // 最大平均起時
    {28, "\x8F\x75\x8A\xD4\x95\x97\x91\xAC", "m/s"},  // 瞬間風速 m/s
    {29, "\x8F\x75\x8A\xD4\x95\x97\x8C\xFC", ""},  // 瞬間風向
    {30, "NEDO", ""},
    {32, "\x90\x85\x88\xCA", "m"},  // 水位 m
    {33, "\x90\x85\x88\xCA", "m"},  // 水位 m
    {34, "\x90\x85\x88\xCA", "m"},  // 水位 m
    {35, "\x90\x85\x88\xCA", "m"},  // 水位 m
    {36, "\x90\x85\x88\xCA", "m"},  // 水位 m
    {37, "\x90\x85\x88\xCA", "m"},  // 水位 m
    {38, "\x89\x4A\x97\xCA", "mm"},  // 雨量 mm
    {40, "\x93\x64\x88\xB3\x90\xCF\x8E\x5A", "mV"},  // 電圧積算 mV
    {44, "\x98\x63\x82\xDD", "\x83\xCA" "E"},  // 歪み μE
    {52, "\x8B\x43\x88\xB3", "hPa"},  // 気圧 hPa
    {56, "\x93\xFA\x8E\xCB", "KW/m2"},  // 日射 KW/m2
    {60, "\x93\xFA\x8F\xC6", "min"},  // 日照 min
    {64, "\x93\x64\x88\xB3\x82\x50", "mV"},  // 電圧１ mV
    {65, "\x93\x64\x88\xB3\x82\x51", "mV"},  // 電圧２ mV
    {66, "\x93\x64\x88\xB3\x82\x52", "mV"},  // 電圧３ mV
    {67, "\x93\x64\x88\xB3\x82\x53", "mV"},  // 電圧４ mV
    {68, "\x93\x64\x88\xB3\x82\x54", "mV"},  // 電圧５ mV
    {72, "\x95\xBD\x8B\xCF\x95\x97\x8C\xFC", "\xDF"},  // 平均風向 ﾟ
    {73, "\x8D\xC5\x91\xE5\x8F\x75\x8A\xD4\x95\x97\x8C\xFC", "\xDF"},  // 最大瞬間風向 ﾟ
    {74, "\x8F\x75\x8A\xD4\x95\x97\x8C\xFC", "\xDF"},  // 瞬間風向 ﾟ
};

const LibraryTexts* LibraryTextsOf(int mode) {
  for (const LibraryTexts& t : kLibraryTexts) {
    if (t.mode == mode) return &t;
  }
  return nullptr;
}

// UTF-8 of code page 932 bytes; each byte that does not begin a code page
// 932 character becomes one U+FFFD.
std::string Utf8Of(Cp932ToUtf8& converter, const std::string& cp932) {
  std::string out;
  converter.AppendReplacing(cp932.data(), cp932.size(), &out);
  return out;
}

// A memo text for the terminal: never a control byte as it stands.
std::string MemoForTerminal(const std::string& cp932) {
  return WithoutControls(Cp932ForTerminalOrEscaped(cp932));
}

// The bytes of a file name as UTF-8: valid sequences as they are, any other
// byte as U+FFFD.
std::string ValidUtf8(const std::string& bytes) {
  std::string out;
  const size_t n = bytes.size();
  for (size_t i = 0; i < n;) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    size_t len = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                 : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    bool ok = len > 0 && i + len <= n;
    for (size_t k = 1; ok && k < len; ++k) {
      ok = (static_cast<unsigned char>(bytes[i + k]) & 0xC0) == 0x80;
    }
    if (ok && len >= 3) {
      const unsigned char d = static_cast<unsigned char>(bytes[i + 1]);
      ok = !(c == 0xE0 && d < 0xA0) && !(c == 0xED && d > 0x9F) && !(c == 0xF0 && d < 0x90) &&
           !(c == 0xF4 && d > 0x8F);
    }
    if (ok) {
      out.append(bytes, i, len);
      i += len;
    } else {
      out.append("\xEF\xBF\xBD");  // U+FFFD
      ++i;
    }
  }
  return out;
}

std::string IsoStamp(const q38::Record& r) {
  char text[40];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d", r.year, r.month, r.day,
                r.hour, r.minute, r.second);
  return text;
}

// Opens path for reading if it is a regular file; otherwise returns -1 and
// sets *why. A FIFO is opened without waiting for a writer.
int OpenRegularFile(const std::string& path, uint64_t* size, std::string* why) {
  int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) {
    *why = std::strerror(errno);
    return -1;
  }
  struct stat st;
  if (fstat(fd, &st) != 0) {
    *why = std::strerror(errno);
    close(fd);
    return -1;
  }
  if (!S_ISREG(st.st_mode)) {
    const char* what = S_ISDIR(st.st_mode)    ? "a folder"
                       : S_ISFIFO(st.st_mode) ? "a FIFO (named pipe)"
                       : S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode) ? "a device"
                       : S_ISSOCK(st.st_mode) ? "a socket"
                                              : "something other than a file";
    *why = std::string("is ") + what + ", not a logger file; only regular files are read";
    close(fd);
    return -1;
  }
  *size = static_cast<uint64_t>(st.st_size);
  return fd;
}

// Says on stderr why the file cannot be read and, for --json, writes the
// object {"path", "error"} that scripts read instead of the findings.
int CannotRead(const std::string& path, bool json, const std::string& why) {
  std::fprintf(stderr, "ravelo info: %s: %s\n", WithoutControls(path).c_str(), why.c_str());
  if (json) {
    std::string out = "{\n  \"path\": ";
    AppendJsonString(ValidUtf8(path), &out);
    out += ",\n  \"error\": ";
    AppendJsonString(ValidUtf8(why), &out);
    out += "\n}\n";
    std::fwrite(out.data(), 1, out.size(), stdout);
  }
  return kExitFailed;
}

}  // namespace

int RunInfo(int argc, char** argv) {
  std::string path;
  bool json = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && IsHelpOption(arg)) {
      std::fputs(kInfoHelp, stdout);
      return kExitOk;
    }
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && std::strcmp(arg, "--json") == 0) {
      json = true;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return UsageError("info", std::string("unknown option '") + arg + "'");
    } else if (path.empty()) {
      path = arg;
    } else {
      return UsageError("info", "only one logger file can be given");
    }
  }
  if (path.empty()) return UsageError("info", "the logger file FILE.Q38 is missing");

  uint64_t size = 0;
  std::string why;
  const int fd = OpenRegularFile(path, &size, &why);
  if (fd < 0) return CannotRead(path, json, why);
  FdCloser closer{fd};
  auto readError = [&]() {
    return CannotRead(path, json, std::string("read error: ") + std::strerror(errno));
  };

  // What was found; printed at the end as text or as JSON.
  bool haveSizes = false, haveMemos = false;
  uint32_t dataEnd = 0, dataStart = 0;
  std::string memos[6];
  size_t recordCount = 0, skipped = 0, rows = 0, backwards = 0;
  std::map<std::pair<int, int>, size_t> channelModes;  // (channel, mode) -> records
  std::set<std::tuple<int, int, int>> days;
  std::set<std::pair<int, int>> months;
  bool haveLast = false, haveRange = false;
  q38::Record first, last, earliest, latest;
  std::vector<Problem> problems;   // each makes the exit code 1
  std::vector<std::string> notes;  // worth knowing, converted all the same

  auto finish = [&]() {
    if (json) {
      Cp932ToUtf8 converter;
      std::string out = "{\n  \"path\": ";
      AppendJsonString(ValidUtf8(path), &out);
      out += ",\n  \"size\": " + std::to_string(size);
      out += ",\n  \"dataStart\": " + (haveSizes ? std::to_string(dataStart) : "null");
      out += ",\n  \"dataEnd\": " + (haveSizes ? std::to_string(dataEnd) : "null");
      out += ",\n  \"memos\": ";
      if (haveMemos) {
        out += "[";
        for (int m = 0; m < 6; ++m) {
          if (m > 0) out += ", ";
          AppendJsonString(Utf8Of(converter, memos[m]), &out);
        }
        out += "]";
      } else {
        out += "null";
      }
      out += ",\n  \"records\": " + std::to_string(recordCount);
      out += ",\n  \"skipped\": " + std::to_string(skipped);
      out += ",\n  \"rows\": " + std::to_string(rows);
      out += ",\n  \"first\": " + (haveRange ? "\"" + IsoStamp(first) + "\"" : "null");
      out += ",\n  \"last\": " + (haveRange ? "\"" + IsoStamp(last) + "\"" : "null");
      out += ",\n  \"days\": [";
      char text[40];
      bool comma = false;
      for (const auto& [y, m, d] : days) {
        std::snprintf(text, sizeof text, "%s\"%04d-%02d-%02d\"", comma ? ", " : "", y, m, d);
        out += text;
        comma = true;
      }
      out += "],\n  \"months\": [";
      comma = false;
      for (const auto& [y, m] : months) {
        std::snprintf(text, sizeof text, "%s\"%04d-%02d\"", comma ? ", " : "", y, m);
        out += text;
        comma = true;
      }
      out += "],\n  \"channels\": [";
      comma = false;
      for (const auto& [key, count] : channelModes) {
        const LibraryTexts* texts = LibraryTextsOf(key.second);
        out += comma ? ",\n    " : "\n    ";
        out += "{\"channel\": " + std::to_string(key.first) + ", \"mode\": " +
               std::to_string(key.second) + ", \"name\": ";
        AppendJsonString(texts ? Utf8Of(converter, texts->name) : "", &out);
        out += ", \"unit\": ";
        AppendJsonString(texts ? Utf8Of(converter, texts->unit) : "", &out);
        out += ", \"records\": " + std::to_string(count) + "}";
        comma = true;
      }
      out += comma ? "\n  ],\n  \"problems\": [" : "],\n  \"problems\": [";
      comma = false;
      for (const Problem& p : problems) {
        out += comma ? ",\n    " : "\n    ";
        out += "{\"code\": " + (p.code != 0 ? std::to_string(p.code) : "null") + ", \"message\": ";
        AppendJsonString(p.message, &out);
        out += ", \"count\": " + std::to_string(p.count) + "}";
        comma = true;
      }
      out += comma ? "\n  ],\n  \"notes\": [" : "],\n  \"notes\": [";
      comma = false;
      for (const std::string& n : notes) {
        out += comma ? ", " : "";
        AppendJsonString(n, &out);
        comma = true;
      }
      out += "]\n}\n";
      std::fwrite(out.data(), 1, out.size(), stdout);
      return problems.empty() ? kExitOk : kExitFailed;
    }
    if (!notes.empty()) {
      std::printf("notes:\n");
      for (const std::string& s : notes) std::printf("  - %s\n", s.c_str());
    }
    if (problems.empty()) {
      std::printf("problems:    none\n");
      return kExitOk;
    }
    std::printf("problems:\n");
    for (const Problem& p : problems) {
      if (p.inText) {
        std::printf("  - code %d: %s\n", p.code, p.message.c_str());
      } else {
        std::printf("  - %s\n", p.message.c_str());
      }
    }
    return kExitFailed;
  };
  auto problem = [&](int code, bool inText, const std::string& message, uint64_t count = 1) {
    problems.push_back(Problem{code, inText, message, count});
  };

  if (!json) {
    std::printf("file:        %s\n", WithoutControls(path).c_str());
    std::printf("size:        %llu bytes\n", static_cast<unsigned long long>(size));
  }

  // The header as the library reads it: 10 bytes at 0, 96 memo bytes at 486.
  uint8_t header[10];
  long long got = ReadAt(fd, 0, header, sizeof header);
  if (got < 0) return readError();
  if (got < 10) {
    problem(12, true, "the file is shorter than its 10-byte id and size fields");
    return finish();
  }
  dataEnd = q38::GetU32(&header[2]);
  dataStart = q38::GetU32(&header[6]);
  haveSizes = true;
  if (!json) {
    std::printf("dataStart:   %u\n", dataStart);
    std::printf("dataEnd:     %u\n", dataEnd);
  }
  uint8_t memoBytes[6 * q38::kMemoSize];
  got = ReadAt(fd, q38::kMemoOffset, memoBytes, sizeof memoBytes);
  if (got < 0) return readError();
  if (got < static_cast<long long>(sizeof memoBytes)) {
    problem(14, true, "the file is shorter than its memo fields (582 bytes)");
    return finish();
  }
  q38::MemoTexts(memoBytes, memos);
  for (int m = 0; m < 6; ++m) {
    if (!json) std::printf("memo %d:      %s\n", m + 1, MemoForTerminal(memos[m]).c_str());
  }
  haveMemos = true;
  if (dataStart >= 0x80000000u) {
    problem(15, true, "dataStart lies beyond 2 GiB; the records cannot be reached");
    return finish();
  }

  // The record area as the library reads it: dataEnd - dataStart bytes
  // (wrapping), in blocks of 8192 bytes from dataStart, as far as the file goes.
  const q38::RecordArea area = q38::RecordAreaOf(dataEnd, dataStart, size);
  const uint32_t areaLength = area.length;
  recordCount = static_cast<size_t>(area.present / 8);
  std::string stopReason;  // how a conversion would end early, if it does
  int stopCode = 0;
  if (dataEnd < dataStart) {
    problem(0, false,
            "dataEnd lies before dataStart: the record area wraps around, so "
            "everything from dataStart to the end of the file is read as records");
  }
  if (area.available < areaLength) {
    if (dataEnd >= dataStart) {
      problem(0, false, "truncated record area: the file ends " + std::to_string(dataEnd - size) +
                            " bytes before dataEnd");
    }
    if (size <= dataStart && areaLength > 0) {
      problem(0, false, "dataStart lies beyond the end of the file");
    }
    if (area.available % 8192 == 0) {
      stopReason = "the conversion ends after record " + std::to_string(recordCount) +
                   " as if the records were complete (no error is reported)";
    } else {
      stopCode = 16;
      stopReason = "the conversion stops with code 16 (" + std::string(ResultDescription(16)) +
                   ") after the " + std::to_string(recordCount) + " complete records";
    }
  } else if (areaLength % 8 != 0) {
    problem(0, false,
            "the record area's length " + std::to_string(areaLength) +
                " is not a multiple of 8: its last " + std::to_string(areaLength % 8) +
                " bytes are ignored");
  }

  // Walk the records as the record loop checks them, one block at a time.
  RecordProblem undefinedMode{19, 0, 0, {}}, badWind{20, 0, 0, {}}, impossibleTime{0, 0, 0, {}};
  std::set<int> undefinedModes;
  const RecordProblem* firstFailure = nullptr;
  size_t index = 0;
  const WalkEnd end = WalkRecords(fd, dataStart, area.present, 8192, [&](const q38::Record& r) {
    ++index;
    if (r.mode == 127) {
      ++skipped;
      return;
    }
    RecordProblem* p = nullptr;
    if (IsWindDirection(r.mode) && (r.value < 1 || r.value > 17)) {
      p = &badWind;
    } else if (ModeOf(r.mode).name[0] == '\0') {
      p = &undefinedMode;
      undefinedModes.insert(r.mode);
    }
    if (p != nullptr) {
      if (p->count++ == 0) {
        p->firstIndex = index;
        p->first = r;
      }
      if (firstFailure == nullptr) firstFailure = p;
    }
    ++channelModes[{r.channel, r.mode}];
    if (!haveLast || KeyOf(r) != KeyOf(last)) {
      ++rows;
      if (haveLast && KeyOf(r) < KeyOf(last)) ++backwards;
    }
    if (r.month < 1 || r.month > 12 || r.day < 1 || r.day > q38::DaysInMonth(r.year, r.month) ||
        r.hour > 23 || r.minute > 59 || r.second > 59) {
      if (impossibleTime.count++ == 0) {
        impossibleTime.firstIndex = index;
        impossibleTime.first = r;
      }
    }
    days.insert({r.year, r.month, r.day});
    months.insert({r.year, r.month});
    if (!haveRange || KeyOf(r) < KeyOf(earliest)) earliest = r;
    if (!haveRange || KeyOf(r) > KeyOf(latest)) latest = r;
    if (!haveRange) first = r;
    haveRange = true;
    last = r;
    haveLast = true;
  });
  if (end == WalkEnd::kReadError) return readError();
  if (end == WalkEnd::kShort) {
    // The file shrank while it was read: what is left counts as cut off.
    recordCount = index;
    problem(0, false, "the file became shorter while it was read");
  }

  if (!json) {
    std::printf("records:     %zu", recordCount);
    if (skipped > 0) std::printf(" (%zu of mode 127, skipped)", skipped);
    std::printf("\n");
    if (haveRange) {
      std::printf("time range:  %s .. %s\n", Stamp(earliest).c_str(), Stamp(latest).c_str());
      std::printf("rows:        %zu\n", rows);
      std::printf("days:        %zu\n", days.size());
      std::printf("months:      %zu\n", months.size());
      std::set<int> channels;
      for (const auto& entry : channelModes) channels.insert(entry.first.first);
      std::printf("channels:    %zu\n", channels.size());
      std::printf("  channel  mode  kind                              unit     records\n");
      for (const auto& [key, count] : channelModes) {
        ModeInfo info = ModeOf(key.second);
        std::printf("  %7d  %4d  %-32s  %-7s  %zu\n", key.first, key.second,
                    info.name[0] != '\0' ? info.name : "(not defined)", info.unit, count);
      }
    } else {
      std::printf("time range:  no records to convert\n");
    }
  }

  if (backwards > 0) {
    notes.push_back("the time goes back " + std::to_string(backwards) +
                    " time(s); such rows are written where they arrive");
  }
  if (impossibleTime.count > 0) {
    // Times that cannot exist: a conversion refuses the file. Where most
    // records carry one, the bytes were never written by a logger.
    const size_t timed = index - skipped;
    if (impossibleTime.count * 2 > timed) {  // said first: it explains the rest
      problems.insert(problems.begin(),
                      Problem{0, false,
                              "the file is probably no logger file: " +
                                  std::to_string(impossibleTime.count) + " of its " +
                                  std::to_string(timed) + " records carry a time that cannot exist",
                              impossibleTime.count});
    }
    char firstText[120];
    std::snprintf(firstText, sizeof firstText, "first: record %zu, %s", impossibleTime.firstIndex,
                  Stamp(impossibleTime.first).c_str());
    problem(0, false,
            "a time that cannot exist in " + std::to_string(impossibleTime.count) +
                " record(s) (" + firstText + "); ravelo convert refuses the file",
            impossibleTime.count);
  }
  for (const RecordProblem* p : {&badWind, &undefinedMode}) {
    if (p->count == 0) continue;
    std::string what;
    if (p->code == 20) {
      what = "wind direction outside 1..17";
    } else {
      what = "recording mode not defined (";
      for (int m : undefinedModes) what += (what.back() == '(' ? "" : ", ") + std::to_string(m);
      what += ")";
    }
    char firstText[160];
    std::snprintf(firstText, sizeof firstText,
                  "first: record %zu, %s, channel %d, mode %d, value %u", p->firstIndex,
                  Stamp(p->first).c_str(), p->first.channel, p->first.mode,
                  static_cast<unsigned>(p->first.value));
    problem(p->code, true,
            what + " in " + std::to_string(p->count) + " record(s); " + firstText, p->count);
  }
  if (firstFailure != nullptr) {
    problem(0, false,
            "a conversion stops with code " + std::to_string(firstFailure->code) + " at record " +
                std::to_string(firstFailure->firstIndex) + "; the rows before it are converted");
  } else if (!stopReason.empty()) {
    problem(stopCode, false, stopReason);
  }
  return finish();
}

}  // namespace ravelo::cli

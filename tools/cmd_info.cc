// ravelo info: what a logger file holds and the problems a conversion would
// meet, found by reading the file as the library reads it. Writes nothing.
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

namespace ravelo::cli {
namespace {

const char kInfoHelp[] =
    "Usage: ravelo info FILE.Q38\n"
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
    "A conversion stops at the first failing record; the rows before it are\n"
    "converted. Nothing is written.\n"
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

int DaysInMonth(int year, int month) {
  static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (month < 1 || month > 12) return 0;
  bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

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

struct Problem {
  int code = 0;  // 19 or 20
  size_t count = 0;
  size_t firstIndex = 0;
  q38::Record first;
};

}  // namespace

int RunInfo(int argc, char** argv) {
  std::string path;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    if (!optionsEnded && IsHelpOption(arg)) {
      std::fputs(kInfoHelp, stdout);
      return kExitOk;
    }
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return UsageError("info", std::string("unknown option '") + arg + "'");
    } else if (path.empty()) {
      path = arg;
    } else {
      return UsageError("info", "only one logger file can be given");
    }
  }
  if (path.empty()) return UsageError("info", "the logger file FILE.Q38 is missing");

  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) {
    std::fprintf(stderr, "ravelo info: %s: %s\n", path.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  std::vector<uint8_t> bytes;
  uint8_t block[65536];
  size_t n;
  while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.insert(bytes.end(), block, block + n);
  bool readError = std::ferror(f) != 0;
  std::fclose(f);
  if (readError) {
    std::fprintf(stderr, "ravelo info: %s: read error\n", path.c_str());
    return kExitFailed;
  }

  const uint64_t size = bytes.size();
  std::printf("file:        %s\n", path.c_str());
  std::printf("size:        %llu bytes\n", static_cast<unsigned long long>(size));

  std::vector<std::string> problems;  // each makes the exit code 1
  std::vector<std::string> notes;     // worth knowing, converted all the same
  auto finish = [&]() {
    if (!notes.empty()) {
      std::printf("notes:\n");
      for (const std::string& s : notes) std::printf("  - %s\n", s.c_str());
    }
    if (problems.empty()) {
      std::printf("problems:    none\n");
      return kExitOk;
    }
    std::printf("problems:\n");
    for (const std::string& s : problems) std::printf("  - %s\n", s.c_str());
    return kExitFailed;
  };

  if (size < 10) {
    problems.push_back("code 12: the file is shorter than its 10-byte id and size fields");
    return finish();
  }
  const uint32_t dataEnd = q38::GetU32(&bytes[2]);
  const uint32_t dataStart = q38::GetU32(&bytes[6]);
  std::printf("dataStart:   %u\n", dataStart);
  std::printf("dataEnd:     %u\n", dataEnd);
  if (size < q38::kMemoOffset + 6 * q38::kMemoSize) {
    problems.push_back("code 14: the file is shorter than its memo fields (582 bytes)");
    return finish();
  }
  for (int m = 0; m < 6; ++m) {
    const char* field = reinterpret_cast<const char*>(&bytes[q38::kMemoOffset + q38::kMemoSize * m]);
    std::string text(field, strnlen(field, q38::kMemoSize));
    std::printf("memo %d:      %s\n", m + 1, Cp932ForTerminalOrEscaped(text).c_str());
  }
  if (dataStart >= 0x80000000u) {
    problems.push_back("code 15: dataStart lies beyond 2 GiB; the records cannot be reached");
    return finish();
  }

  // The record area as the library reads it: dataEnd - dataStart bytes
  // (wrapping), in blocks of 8192 bytes from dataStart, as far as the file goes.
  const uint32_t areaLength = dataEnd - dataStart;
  const uint64_t available = size > dataStart ? size - dataStart : 0;
  const uint64_t present = available < areaLength ? available : areaLength;
  const size_t recordCount = static_cast<size_t>(present / 8);
  std::string stopReason;  // how a conversion would end early, if it does
  if (dataEnd < dataStart) {
    problems.push_back("dataEnd lies before dataStart: the record area wraps around, so "
                       "everything from dataStart to the end of the file is read as records");
  }
  if (available < areaLength) {
    if (dataEnd >= dataStart) {
      problems.push_back("truncated record area: the file ends " + std::to_string(dataEnd - size) +
                         " bytes before dataEnd");
    }
    if (size <= dataStart && areaLength > 0) {
      problems.push_back("dataStart lies beyond the end of the file");
    }
    if (available % 8192 == 0) {
      stopReason = "the conversion ends after record " + std::to_string(recordCount) +
                   " as if the records were complete (no error is reported)";
    } else {
      stopReason = "the conversion stops with code 16 (" + std::string(ResultDescription(16)) +
                   ") after the " + std::to_string(recordCount) + " complete records";
    }
  } else if (areaLength % 8 != 0) {
    problems.push_back("the record area's length " + std::to_string(areaLength) +
                       " is not a multiple of 8: its last " + std::to_string(areaLength % 8) +
                       " bytes are ignored");
  }

  // Walk the records as the record loop checks them.
  size_t skipped = 0, rows = 0, backwards = 0, oddStamps = 0;
  std::map<std::pair<int, int>, size_t> channelModes;  // (channel, mode) -> records
  std::set<std::tuple<int, int, int>> days;
  std::set<std::pair<int, int>> months;
  Problem undefinedMode{19, 0, 0, {}}, badWind{20, 0, 0, {}};
  std::set<int> undefinedModes;
  const Problem* firstFailure = nullptr;
  bool haveLast = false, haveRange = false;
  q38::Record last, earliest, latest;
  const uint8_t* area = bytes.data() + (present > 0 ? dataStart : 0);
  for (size_t i = 0; i < recordCount; ++i) {
    const q38::Record r = q38::DecodeRecord(area + 8 * i);
    if (r.mode == 127) {
      ++skipped;
      continue;
    }
    Problem* p = nullptr;
    if (IsWindDirection(r.mode) && (r.value < 1 || r.value > 17)) {
      p = &badWind;
    } else if (ModeOf(r.mode).name[0] == '\0') {
      p = &undefinedMode;
      undefinedModes.insert(r.mode);
    }
    if (p != nullptr) {
      if (p->count++ == 0) {
        p->firstIndex = i + 1;
        p->first = r;
      }
      if (firstFailure == nullptr) firstFailure = p;
    }
    ++channelModes[{r.channel, r.mode}];
    if (!haveLast || KeyOf(r) != KeyOf(last)) {
      ++rows;
      if (haveLast && KeyOf(r) < KeyOf(last)) ++backwards;
    }
    if (r.month < 1 || r.month > 12 || r.day < 1 || r.day > DaysInMonth(r.year, r.month) ||
        r.hour > 23 || r.minute > 59 || r.second > 59) {
      ++oddStamps;
    }
    days.insert({r.year, r.month, r.day});
    months.insert({r.year, r.month});
    if (!haveRange || KeyOf(r) < KeyOf(earliest)) earliest = r;
    if (!haveRange || KeyOf(r) > KeyOf(latest)) latest = r;
    haveRange = true;
    last = r;
    haveLast = true;
  }

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

  if (backwards > 0) {
    notes.push_back("the time goes back " + std::to_string(backwards) +
                    " time(s); such rows are written where they arrive");
  }
  if (oddStamps > 0) {
    notes.push_back(std::to_string(oddStamps) +
                    " record(s) carry an impossible date or time; they are converted as recorded");
  }
  for (const Problem* p : {&badWind, &undefinedMode}) {
    if (p->count == 0) continue;
    std::string what;
    if (p->code == 20) {
      what = "wind direction outside 1..17";
    } else {
      what = "recording mode not defined (";
      for (int m : undefinedModes) what += (what.back() == '(' ? "" : ", ") + std::to_string(m);
      what += ")";
    }
    char first[160];
    std::snprintf(first, sizeof first, "first: record %zu, %s, channel %d, mode %d, value %u",
                  p->firstIndex, Stamp(p->first).c_str(), p->first.channel, p->first.mode,
                  static_cast<unsigned>(p->first.value));
    problems.push_back("code " + std::to_string(p->code) + ": " + what + " in " +
                       std::to_string(p->count) + " record(s); " + first);
  }
  if (firstFailure != nullptr) {
    problems.push_back("a conversion stops with code " + std::to_string(firstFailure->code) +
                       " at record " + std::to_string(firstFailure->firstIndex) +
                       "; the rows before it are converted");
  } else if (!stopReason.empty()) {
    problems.push_back(stopReason);
  }
  return finish();
}

}  // namespace ravelo::cli

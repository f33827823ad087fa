// ravelo sample: a synthetic weather-station recording, every 10 minutes,
// eight channels. Every value is a function of the seed, the calendar day and
// the time of day, so two samples that cover the same day hold the same
// records for it, like two downloads from one logger.
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli_common.h"
#include "common/logger_file.h"

namespace ravelo::cli {
namespace {

const char kSampleHelp[] =
    "Usage: ravelo sample OUT.Q38 [--days N] [--start YYYY-MM-DD] [--seed N]\n"
    "                             [--station NAME]\n"
    "\n"
    "Writes a synthetic recording of a weather station, so the tool can be tried\n"
    "without a logger: one record per channel every 10 minutes from 00:00 of the\n"
    "start day up to and including 00:00 of the day after the last one.\n"
    "\n"
    "  channel 0  temperature (mode 4, 0.1 degC)\n"
    "  channel 1  humidity (mode 8, 0.1 %)\n"
    "  channel 2  atmospheric pressure (mode 52, 0.1 hPa)\n"
    "  channel 3  mean wind speed (mode 20, 0.1 m/s)\n"
    "  channel 4  mean wind direction (mode 21, 16 compass points or calm)\n"
    "  channel 5  rainfall in the 10 minutes (mode 38, 0.1 mm; 0.5 mm bucket)\n"
    "  channel 6  solar radiation (mode 56, 0.01 kW/m2)\n"
    "  channel 7  sunshine in the 10 minutes (mode 60, minutes)\n"
    "\n"
    "Options:\n"
    "  --days N             number of days, 1 to 1000 (default 14)\n"
    "  --start YYYY-MM-DD   first day, 2000-01-01 to 2120-12-31 (default 2024-05-20)\n"
    "  --seed N             another weather, 0 to 4294967295 (default 38); the same\n"
    "                       options always give the same file\n"
    "  --station NAME       the station's name, the first memo text (up to 16\n"
    "                       bytes); default: the name of OUT.Q38 without its\n"
    "                       extension, cut to 16 bytes\n"
    "\n"
    "The memo texts: the station's name, \"Q38 SAMPLE\", \"10 MIN INTERVAL\",\n"
    "\"SEED N\", \"8 CHANNELS\" and an empty one. Two downloads of one station\n"
    "have the same memo texts when they are made with the same --station and\n"
    "--seed; ravelo convert warns when a logger file's memo texts differ from\n"
    "those of a CSV file it writes into.\n"
    "\n"
    "Exit codes: 0 written, 1 the file cannot be written, 2 usage error.\n";

constexpr int kSlotsPerDay = 144;  // 10-minute intervals
constexpr double kPi = 3.14159265358979323846;

// ---- Calendar (proleptic Gregorian, days since 1970-01-01) -----------------
int64_t DaysFromCivil(int64_t y, int m, int d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const int64_t yoe = y - era * 400;
  const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

void CivilFromDays(int64_t z, int* year, int* month, int* day) {
  z += 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  *day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
  *month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
  *year = static_cast<int>(yoe + era * 400 + (*month <= 2));
}

bool ParseDate(const std::string& text, int64_t* dayNumber) {
  int y = 0, m = 0, d = 0;
  char tail = 0;
  if (text.size() != 10 || std::sscanf(text.c_str(), "%4d-%2d-%2d%c", &y, &m, &d, &tail) != 3) {
    return false;
  }
  if (y < 2000 || y > 2120 || m < 1 || m > 12 || d < 1) return false;
  int yy, mm, dd;
  int64_t n = DaysFromCivil(y, m, d);
  CivilFromDays(n, &yy, &mm, &dd);
  if (yy != y || mm != m || dd != d) return false;  // such as 2024-02-30
  *dayNumber = n;
  return true;
}

// ---- Deterministic random numbers -------------------------------------------
class Random {
 public:
  explicit Random(uint64_t seed) : state_(seed) {}
  uint64_t Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  double Uniform() { return static_cast<double>(Next() >> 11) * (1.0 / 9007199254740992.0); }
  double Between(double lo, double hi) { return lo + (hi - lo) * Uniform(); }
  // Sum of three uniforms: a bell-shaped value of mean 0 and deviation ~1.
  double Bell() { return (Uniform() + Uniform() + Uniform() - 1.5) * 2.0; }

 private:
  uint64_t state_;
};

// A smooth value in about [-1, 1] that changes over several days.
double Slow(double t, double phase) {
  return 0.6 * std::sin(2 * kPi * t / 6.3 + phase) + 0.4 * std::sin(2 * kPi * t / 2.7 + 2.1 * phase);
}

int Clamp(double v, int lo, int hi) {
  long r = std::lround(v);
  return static_cast<int>(r < lo ? lo : (r > hi ? hi : r));
}

struct Slot {
  int temperature;  // 0.1 degC
  int humidity;     // 0.1 %
  int pressure;     // 0.1 hPa
  int windSpeed;    // 0.1 m/s
  int windDir;      // 1..16, 17 calm
  int rain;         // 0.1 mm
  int solar;        // 0.01 kW/m2
  int sunshine;     // minutes
};

// The 144 intervals of one calendar day.
void MakeDay(uint64_t seed, int64_t dayNumber, Slot* slots) {
  Random rng(seed * 0x100000001B3ull ^ static_cast<uint64_t>(dayNumber) * 0x9E3779B97F4A7C15ull);
  const double t = static_cast<double>(dayNumber);
  const double seedPhase = static_cast<double>(seed % 1000) * 0.37;

  // The weather changes smoothly over days: mean temperature and cloud cover.
  auto meanTempAt = [&](double when) { return 17.0 + 3.5 * Slow(when, seedPhase); };
  auto cloudAt = [&](double when) {
    return std::fmin(1.0, std::fmax(0.0, 0.45 + 0.5 * Slow(when * 1.3, seedPhase + 1.3)));
  };
  // Perhaps a rain event, within the day.
  double rainStart = -1, rainEnd = -1, rainRate = 0;  // hours, mm per hour
  if (rng.Uniform() < 0.1 + 0.6 * cloudAt(t + 0.5) * cloudAt(t + 0.5)) {
    rainStart = rng.Between(0.0, 20.0);
    rainEnd = std::fmin(23.9, rainStart + rng.Between(1.5, 8.0));
    rainRate = rng.Between(0.6, 4.0);
  }
  double windAngle = 240.0 + 50.0 * Slow(t, seedPhase + 2.0) + 30.0 * rng.Bell();
  double bucket = 0;  // rain collected but not yet tipped, mm

  for (int s = 0; s < kSlotsPerDay; ++s) {
    const double h = s / 6.0;
    const double now = t + h / 24.0;
    const double meanTemp = meanTempAt(now);
    const double cloud = cloudAt(now);
    const bool raining = h >= rainStart && h < rainEnd;
    // Sun above the horizon from about 04:40 to 19:00.
    const double daylight = (h > 4.6 && h < 19.0) ? std::sin(kPi * (h - 4.6) / 14.4) : 0.0;
    const double clearSky = 0.98 * std::pow(daylight, 1.3);
    double transmission = 1.0 - 0.8 * cloud * rng.Between(0.5, 1.2);
    if (raining) transmission = rng.Between(0.08, 0.2);
    transmission = std::fmin(1.0, std::fmax(0.05, transmission));
    const double solar = clearSky * transmission;

    double sunny = 0;
    if (solar >= 0.12 && !raining) sunny = std::fmin(1.0, (solar - 0.12) / 0.15 + 0.2 * rng.Bell());
    sunny = std::fmax(0.0, sunny);

    const double amplitude = 5.5 * (1.0 - 0.6 * cloud);
    double temp = meanTemp + amplitude * std::cos(2 * kPi * (h - 14.5) / 24.0) + 0.15 * rng.Bell();
    if (raining) temp -= 2.0;

    double humidity = 66.0 - 3.3 * (temp - meanTemp) + 18.0 * cloud + 1.2 * rng.Bell();
    if (raining) humidity = 90.0 + 8.0 * rng.Uniform();

    double pressure = 1012.0 + 7.0 * Slow(t + h / 24.0, seedPhase + 0.7) +
                      0.6 * std::cos(2 * kPi * (h - 10.0) / 12.0) + 0.05 * rng.Bell();
    if (raining) pressure -= 3.0;

    double wind = 1.2 + 1.5 * cloud + 2.0 * std::fmax(0.0, std::sin(kPi * (h - 9.0) / 10.0)) +
                  0.7 * rng.Bell();
    if (raining) wind += 1.5;
    if (wind < 0) wind = 0;
    windAngle += 8.0 * rng.Bell();

    double mm = 0;
    if (raining) {
      bucket += rainRate / 6.0 * rng.Between(0.4, 1.6);
      while (bucket >= 0.5) {  // a tipping bucket of 0.5 mm
        bucket -= 0.5;
        mm += 0.5;
      }
    }

    Slot& out = slots[s];
    out.temperature = Clamp(temp * 10.0, -32768, 32767);
    out.humidity = Clamp(humidity * 10.0, 150, 1000);
    out.pressure = Clamp(pressure * 10.0, -32768, 32767);
    out.windSpeed = Clamp(wind * 10.0, 0, 65535);
    if (out.windSpeed < 3) {
      out.windDir = 17;  // calm
    } else {
      // 1 = NNE ... 15 = NNW, 16 = N: steps of 22.5 degrees clockwise.
      double a = std::fmod(std::fmod(windAngle, 360.0) + 360.0, 360.0);
      int point = static_cast<int>(std::lround(a / 22.5)) % 16;
      out.windDir = point == 0 ? 16 : point;
    }
    out.rain = Clamp(mm * 10.0, 0, 32767);
    out.solar = Clamp(solar * 100.0, 0, 32767);
    out.sunshine = Clamp(sunny * 10.0, 0, 10);
  }
}

}  // namespace

int RunSample(int argc, char** argv) {
  std::string outPath;
  int64_t days = 14;
  int64_t startDay = DaysFromCivil(2024, 5, 20);
  int64_t seed = 38;
  std::string station;
  bool haveStation = false;
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string value;
    bool missing = false;
    if (!optionsEnded && IsHelpOption(arg)) {
      std::fputs(kSampleHelp, stdout);
      return kExitOk;
    }
    if (!optionsEnded && std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (!optionsEnded && TakeValue(argc, argv, &i, "--days", &value, &missing)) {
      if (missing || !ParseInt(value.c_str(), 1, 1000, &days)) {
        return UsageError("sample", "--days needs a number from 1 to 1000");
      }
    } else if (!optionsEnded && TakeValue(argc, argv, &i, "--start", &value, &missing)) {
      if (missing || !ParseDate(value, &startDay)) {
        return UsageError("sample", "--start needs a date YYYY-MM-DD from 2000-01-01 to 2120-12-31");
      }
    } else if (!optionsEnded && TakeValue(argc, argv, &i, "--seed", &value, &missing)) {
      if (missing || !ParseInt(value.c_str(), 0, 4294967295LL, &seed)) {
        return UsageError("sample", "--seed needs a number from 0 to 4294967295");
      }
    } else if (!optionsEnded && TakeValue(argc, argv, &i, "--station", &value, &missing)) {
      if (missing || value.empty() || value.size() > q38::kMemoSize) {
        return UsageError("sample", "--station needs a name of 1 to 16 bytes");
      }
      station = value;
      haveStation = true;
    } else if (!optionsEnded && arg[0] == '-' && arg[1] != '\0') {
      return UsageError("sample", std::string("unknown option '") + arg + "'");
    } else if (outPath.empty()) {
      outPath = arg;
    } else {
      return UsageError("sample", "only one output file can be given");
    }
  }
  if (outPath.empty()) return UsageError("sample", "the output file OUT.Q38 is missing");
  if (outPath == "-") {
    return UsageError("sample", "'-' is not a file name: sample writes a file, not standard output");
  }
  if (!haveStation) {
    // The file's name without folder and extension.
    size_t slash = outPath.find_last_of('/');
    station = slash == std::string::npos ? outPath : outPath.substr(slash + 1);
    size_t dot = station.find_last_of('.');
    if (dot != std::string::npos && dot > 0) station.resize(dot);
    if (station.size() > q38::kMemoSize) station.resize(q38::kMemoSize);
  }

  int year, month, day;
  char seedMemo[17];
  std::snprintf(seedMemo, sizeof seedMemo, "SEED %lld", static_cast<long long>(seed));

  q38::Writer writer;
  writer.SetMemo(1, station);
  writer.SetMemo(2, "Q38 SAMPLE");
  writer.SetMemo(3, "10 MIN INTERVAL");
  writer.SetMemo(4, seedMemo);
  writer.SetMemo(5, "8 CHANNELS");
  writer.SetMemo(6, "");

  static const int kModes[8] = {4, 8, 52, 20, 21, 38, 56, 60};
  Slot slots[kSlotsPerDay];
  // The days, then the midnight record that closes the last day.
  for (int64_t d = 0; d <= days; ++d) {
    const int64_t dayNumber = startDay + d;
    MakeDay(static_cast<uint64_t>(seed), dayNumber, slots);
    CivilFromDays(dayNumber, &year, &month, &day);
    const int slotCount = d < days ? kSlotsPerDay : 1;
    for (int s = 0; s < slotCount; ++s) {
      const Slot& v = slots[s];
      const int values[8] = {v.temperature, v.humidity, v.pressure, v.windSpeed,
                             v.windDir,     v.rain,     v.solar,    v.sunshine};
      for (int ch = 0; ch < 8; ++ch) {
        q38::Record r;
        r.year = year;
        r.month = month;
        r.day = day;
        r.hour = s / 6;
        r.minute = (s % 6) * 10;
        r.second = 0;
        r.mode = kModes[ch];
        r.channel = ch;
        r.value = static_cast<uint16_t>(values[ch] & 0xFFFF);
        writer.Add(r);
      }
    }
  }
  if (!writer.Save(outPath)) {
    std::fprintf(stderr, "ravelo sample: cannot write %s: %s\n", outPath.c_str(), std::strerror(errno));
    return kExitFailed;
  }
  return kExitOk;
}

}  // namespace ravelo::cli

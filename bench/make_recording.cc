// Writes the large logger files of the benchmark workloads.
//
//   make_recording year PATH   one year (2023) of 1-minute rows, 10 channels
//                              of mixed recording modes: 5 256 000 records
//   make_recording wide PATH   one day (2023-06-15) of 1-second rows with all
//                              256 channels: 22 118 400 records
//
// Records are encoded by the project's logger-file writer and streamed to the
// file in 64 KiB pieces, so the generator's memory stays small whatever the
// size. Values come from a fixed pseudo-random sequence: every run writes the
// same bytes.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/logger_file.h"

namespace {

using ravelo::q38::Record;

// Deterministic value source (xorshift32).
struct Random {
  uint32_t state = 0x2545F491u;
  uint32_t Next() {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  }
  uint32_t Below(uint32_t n) { return Next() % n; }
};

// A raw value that the mode accepts and that looks like a plausible reading.
uint16_t ValueFor(int mode, Random& random) {
  switch (mode) {
    case 21: case 23: case 26: case 29:       // compass point 1..17
      return static_cast<uint16_t>(1 + random.Below(17));
    case 24: case 27:                         // seconds back into the past
      return static_cast<uint16_t>(static_cast<int16_t>(-static_cast<int>(random.Below(3600))));
    case 72: case 73: case 74:                // degrees
      return static_cast<uint16_t>(random.Below(360));
    case 8:                                   // humidity 0.0..100.0
      return static_cast<uint16_t>(random.Below(1001));
    case 60:                                  // sunshine minutes
      return static_cast<uint16_t>(random.Below(61));
    default:                                  // any 16-bit word
      return static_cast<uint16_t>(random.Next() >> 16);
  }
}

// The 40 defined recording modes.
constexpr int kDefinedModes[] = {0,  4,  5,  6,  8,  12, 13, 14, 16, 20, 21, 22, 23, 24,
                                 25, 26, 27, 28, 29, 30, 32, 33, 34, 35, 36, 37, 38, 40,
                                 44, 52, 56, 60, 64, 65, 66, 67, 68, 72, 73, 74};
constexpr int kDefinedModeCount = sizeof(kDefinedModes) / sizeof(kDefinedModes[0]);

struct Channel {
  int number;
  int mode;
};

constexpr int kDaysInMonth2023[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

class Output {
 public:
  explicit Output(std::FILE* file) : file_(file) { buffer_.reserve(kPiece); }
  void Add(const Record& r) {
    auto b = ravelo::q38::EncodeRecord(r);
    buffer_.insert(buffer_.end(), b.begin(), b.end());
    ++count_;
    if (buffer_.size() >= kPiece) Flush();
  }
  bool Flush() {
    if (!buffer_.empty() && std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size())
      ok_ = false;
    buffer_.clear();
    return ok_;
  }
  uint64_t count() const { return count_; }
  bool ok() const { return ok_; }

 private:
  static constexpr size_t kPiece = 65536;
  std::FILE* file_;
  std::vector<uint8_t> buffer_;
  uint64_t count_ = 0;
  bool ok_ = true;
};

void AddRow(Output& out, Random& random, int month, int day, int hour, int minute, int second,
            const std::vector<Channel>& channels) {
  Record r;
  r.year = 2023;
  r.month = month;
  r.day = day;
  r.hour = hour;
  r.minute = minute;
  r.second = second;
  for (const Channel& c : channels) {
    r.channel = c.number;
    r.mode = c.mode;
    r.value = ValueFor(c.mode, random);
    out.Add(r);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::strcmp(argv[1], "year") != 0 && std::strcmp(argv[1], "wide") != 0)) {
    std::fprintf(stderr, "usage: make_recording year|wide PATH\n");
    return 2;
  }
  const bool wide = std::strcmp(argv[1], "wide") == 0;
  const uint64_t rows = wide ? 86400u : 365u * 1440u;
  const uint64_t perRow = wide ? 256u : 10u;
  const uint64_t records = rows * perRow;

  std::vector<Channel> channels;
  if (wide) {
    for (int c = 0; c < 256; ++c) channels.push_back({c, kDefinedModes[c % kDefinedModeCount]});
  } else {
    // Voltage, thermistor, humidity, resistance, current, mean wind speed and
    // direction, time of the maximum gust, rainfall, sunshine.
    channels = {{0, 0},  {1, 4},  {2, 8},   {3, 12},  {5, 16},
                {8, 20}, {9, 21}, {12, 24}, {16, 38}, {17, 60}};
  }

  // The header comes from the project's writer; only dataEnd is set here,
  // since the records are streamed behind it.
  ravelo::q38::Writer writer;
  writer.SetMemo(1, wide ? "BENCH WIDE" : "BENCH YEAR");
  writer.SetMemo(2, "SITE 01");
  writer.SetMemo(3, "1 MIN");
  std::vector<uint8_t> header = writer.Bytes();
  const uint64_t dataEnd = header.size() + records * 8;
  if (dataEnd > 0xFFFFFFFFu) {
    std::fprintf(stderr, "make_recording: file too large\n");
    return 1;
  }
  ravelo::q38::PutU32(header, 2, static_cast<uint32_t>(dataEnd));

  std::FILE* file = std::fopen(argv[2], "wb");
  if (!file) {
    std::perror(argv[2]);
    return 1;
  }
  bool ok = std::fwrite(header.data(), 1, header.size(), file) == header.size();
  Output out(file);
  Random random;
  if (wide) {
    for (int s = 0; s < 86400; ++s)
      AddRow(out, random, 6, 15, s / 3600, s / 60 % 60, s % 60, channels);
  } else {
    for (int month = 1; month <= 12; ++month)
      for (int day = 1; day <= kDaysInMonth2023[month - 1]; ++day)
        for (int m = 0; m < 1440; ++m) AddRow(out, random, month, day, m / 60, m % 60, 0, channels);
  }
  ok = out.Flush() && ok;
  ok = std::fclose(file) == 0 && ok;
  if (!ok || out.count() != records) {
    std::fprintf(stderr, "make_recording: writing %s failed\n", argv[2]);
    return 1;
  }
  std::printf("%llu\n", static_cast<unsigned long long>(records));
  return 0;
}

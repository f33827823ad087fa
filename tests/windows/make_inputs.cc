// Writes the logger files (and one existing CSV file) that the scenarios of
// tests/windows/scenarios.txt convert, into the folder given as argument.
// Both the Windows and the Linux run read these same files.
#include <cstdio>
#include <string>
#include <vector>

#include "../test_support.h"

namespace {

using ravelo::q38::Record;
using ravelo::q38::Writer;

std::string dir;

bool SaveBytes(const std::string& name, const std::vector<uint8_t>& bytes) {
  return ravelo::test::WriteFile(dir + "/" + name, bytes);
}

bool Save(const std::string& name, const Writer& w) { return SaveBytes(name, w.Bytes()); }

Record R(int y, int mo, int d, int h, int mi, int s, int mode, int channel, int value) {
  return ravelo::test::RecordAt(y, mo, d, h, mi, s, channel, mode, static_cast<uint16_t>(value));
}

void Memos(Writer& w, const char* tag) {
  w.SetMemo(1, tag);
  w.SetMemo(2, "\xC3\xBD\xC4");  // half-width katakana "tesuto"
  w.SetMemo(3, "");
  w.SetMemo(4, "0123456789ABCDEF");  // all 16 bytes used
  w.SetMemo(5, "\x93\x8C\x8B\x9E");  // "Tokyo" in code page 932
  w.SetMemo(6, "memo 6");
}

// 2024-01-31 20:00 to 2024-02-01 04:00 hourly: voltage, thermistor,
// humidity; from 23:00 a wind direction column joins; mode-127 records
// between records of one row.
Writer Log0001() {
  Writer w;
  Memos(w, "SITE-A");
  for (int i = 0; i <= 8; ++i) {
    int day = i < 4 ? 31 : 1, month = i < 4 ? 1 : 2, hour = (20 + i) % 24;
    w.Add(R(2024, month, day, hour, 0, 0, 0, 0, 1000 * i - 3000));
    w.Add(R(2024, month, day, hour, 0, 0, 127, 9, 0));
    w.Add(R(2024, month, day, hour, 0, 0, 4, 1, 215 + i));
    w.Add(R(2024, month, day, hour, 0, 0, 8, 2, 655 - 3 * i));
    if (i >= 3) w.Add(R(2024, month, day, hour, 0, 0, 21, 3, 1 + (i * 5) % 17));
  }
  return w;
}

// 2024-02-01 02:00 to 06:00 hourly, overlapping Log0001 at 02:00..04:00.
Writer Log0002() {
  Writer w;
  Memos(w, "SITE-B");
  for (int h = 2; h <= 6; ++h) {
    w.Add(R(2024, 2, 1, h, 0, 0, 0, 0, 7 * h));
    w.Add(R(2024, 2, 1, h, 0, 0, 4, 1, -50 * h));
    w.Add(R(2024, 2, 1, h, 0, 0, 8, 2, 500));
    w.Add(R(2024, 2, 1, h, 0, 0, 21, 3, 17));
  }
  return w;
}

// The 5th of January, February and March 2024: one day INI file (Day05)
// for three day files; three month INI files.
Writer Log0003() {
  Writer w;
  Memos(w, "SITE-C");
  for (int m = 1; m <= 3; ++m) {
    for (int h = 9; h <= 11; ++h) {
      w.Add(R(2024, m, 5, h, 30, 15, 20, 0, 10 * h + m));
      w.Add(R(2024, m, 5, h, 30, 15, 22, 1, 20 * h + m));
      w.Add(R(2024, m, 5, h, 30, 15, 24, 2, 60 * h - 4000));
    }
  }
  return w;
}

// Many records across a month boundary, every formatting rule, a record
// area that starts at 2048 and a trailing partial record.
Writer Big() {
  Writer w(2048);
  Memos(w, "BIG");
  const int modes[] = {0,  4,  5,  6,  8,  12, 13, 14, 16, 20, 21, 22, 23, 24, 25, 26,
                       27, 28, 29, 30, 32, 33, 34, 35, 36, 37, 38, 40, 44, 52, 56, 60,
                       64, 65, 66, 67, 68, 72, 73, 74};
  const int kModes = static_cast<int>(sizeof modes / sizeof modes[0]);
  int year = 2024, month = 4, day = 30, hour = 12, minute = 0;
  for (int row = 0; row < 1300; ++row) {
    // Eight channels per row; the mode of each channel shifts every 100 rows,
    // so the header changes now and then.
    for (int c = 0; c < 8; ++c) {
      int mode = modes[(c * 5 + row / 100) % kModes];
      int value = (row * 37 + c * 1013) % 65536;
      if (mode == 21 || mode == 23 || mode == 26 || mode == 29) value = 1 + (row + c) % 17;
      if (mode == 24 || mode == 27) value = (row * 97) % 20000 - 10000;
      w.Add(R(year, month, day, hour, minute, 0, mode, c * 31, value));
    }
    if (++minute == 60) {
      minute = 0;
      if (++hour == 24) {
        hour = 0;
        if (++day == 31) {
          day = 1;
          month = 5;
        }
      }
    }
  }
  return w;
}

// Records at midnight: with day control type 1 they belong to the day before.
Writer Midnight() {
  Writer w;
  Memos(w, "MIDNIGHT");
  w.Add(R(2024, 1, 1, 0, 0, 0, 0, 0, 1));
  w.Add(R(2024, 2, 29, 23, 0, 0, 0, 0, 2));
  w.Add(R(2024, 3, 1, 0, 0, 0, 0, 0, 3));
  w.Add(R(2024, 3, 1, 0, 0, 1, 0, 0, 4));
  w.Add(R(2024, 3, 1, 1, 0, 0, 0, 0, 5));
  return w;
}

// A good first day, then a record of an undefined mode on the second day.
Writer BadMode() {
  Writer w;
  Memos(w, "BADMODE");
  w.Add(R(2024, 6, 1, 10, 0, 0, 0, 0, 11));
  w.Add(R(2024, 6, 1, 11, 0, 0, 0, 0, 12));
  w.Add(R(2024, 6, 2, 10, 0, 0, 0, 0, 13));
  w.Add(R(2024, 6, 2, 11, 0, 0, 1, 0, 14));
  w.Add(R(2024, 6, 2, 12, 0, 0, 0, 0, 15));
  return w;
}

// A wind direction of 0 on the second row.
Writer BadDirection() {
  Writer w;
  Memos(w, "BADDIR");
  w.Add(R(2024, 7, 1, 10, 0, 0, 21, 0, 16));
  w.Add(R(2024, 7, 1, 11, 0, 0, 21, 0, 0));
  return w;
}

// An existing day file for LOG_0001's first day, as another program might
// have left it: an equal timestamp, one in between, an empty line and a line
// later than every row.
std::vector<uint8_t> ExistingCsv() {
  const char* volt = ",\x93\x64\x88\xB3";  // ",voltage" in code page 932
  std::string t = "ZELKA-Q38\r\nOLD\r\n\r\n\r\n\r\n\r\n\r\n";
  t += std::string("date,time") + volt + "\r\n";
  t += ",,mV\r\n";
  t += "2024/01/31,19:00:00,+0001.0\r\n";
  t += "2024/01/31,21:00:00,+0002.0\r\n";
  t += "2024/01/31,21:30:00,+0003.0\r\n";
  t += "\r\n";
  t += "2024/01/31,23:59:59,+0004.0\r\n";
  return std::vector<uint8_t>(t.begin(), t.end());
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
    return 2;
  }
  dir = argv[1];
  Writer empty;
  Memos(empty, "EMPTY");
  std::vector<uint8_t> log1 = Log0001().Bytes();
  std::vector<uint8_t> big = Big().Bytes();
  big.push_back(0x55);  // 3 bytes of a record that never ends
  big.push_back(0x66);
  big.push_back(0x77);
  std::vector<uint8_t> half(log1.begin(), log1.begin() + 581);
  std::vector<uint8_t> nine(log1.begin(), log1.begin() + 9);
  bool ok = SaveBytes("LOG_0001.Q38", log1) && Save("LOG_0002.Q38", Log0002()) &&
            Save("LOG_0003.Q38", Log0003()) && SaveBytes("BIG_0001.Q38", big) &&
            Save("MID_0001.Q38", Midnight()) && Save("BADMODE_0001.Q38", BadMode()) &&
            Save("BADDIR_0001.Q38", BadDirection()) && Save("EMPTY_0001.Q38", empty) &&
            SaveBytes("lower_0001_x.q38", log1) && SaveBytes("LOG_0001.Q3", log1) &&
            SaveBytes("HALF_0001.Q38", half) && SaveBytes("NINE_0001.Q38", nine) &&
            SaveBytes("existing.CSV", ExistingCsv()) &&
            // For the code page 932 run: a name whose first character ends
            // in the byte of "\" there (0x95 0x5C), stored as UTF-8 here.
            SaveBytes("\xE8\xA1\xA8_0001.Q38", log1);
  if (!ok) {
    std::fprintf(stderr, "cannot write the inputs into %s\n", argv[1]);
    return 1;
  }
  return 0;
}

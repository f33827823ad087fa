// Field texts: every raw value of every defined mode against the printf
// format of the mode, the field table of known cases, boundary values, times
// of occurrence, and independence from the process locale.
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "api/types.h"
#include "convert/field_format.h"
#include "convert/measurement_kinds.h"

namespace ravelo {
namespace {

// Each defined mode as printf makes its field: format, how the raw word is
// read, and the scale (0 for a plain integer).
enum class Ref { kScaled, kInteger, kCompass, kTime };
struct ModeFormat {
  int mode;
  Ref ref;
  bool signedRaw;
  const char* format;
  double scale;
};

const ModeFormat kModeFormats[] = {
    {0, Ref::kScaled, true, ",%+07.1f", 0.1},     {4, Ref::kScaled, true, ",%+07.1f", 0.1},
    {5, Ref::kScaled, true, ",%+07.2f", 0.01},    {6, Ref::kScaled, true, ",%+07.2f", 0.01},
    {8, Ref::kScaled, true, ",%+07.1f", 0.1},     {12, Ref::kScaled, false, ",%06.2f", 0.01},
    {13, Ref::kScaled, false, ",%06.3f", 0.001},  {14, Ref::kScaled, false, ",%06.4f", 0.0001},
    {16, Ref::kScaled, true, ",%+07.3f", 0.001},  {20, Ref::kScaled, false, ",%5.1f", 0.1},
    {21, Ref::kCompass, false, ",%s", 0},         {22, Ref::kScaled, false, ",%5.1f", 0.1},
    {23, Ref::kCompass, false, ",%s", 0},         {24, Ref::kTime, true, ",%02d:%02d:%02d", 0},
    {25, Ref::kScaled, false, ",%5.1f", 0.1},     {26, Ref::kCompass, false, ",%s", 0},
    {27, Ref::kTime, true, ",%02d:%02d:%02d", 0}, {28, Ref::kScaled, false, ",%5.1f", 0.1},
    {29, Ref::kCompass, false, ",%s", 0},         {30, Ref::kScaled, false, ",%5.1f", 0.1},
    {32, Ref::kScaled, false, ",+%06.4f", 0.0001}, {33, Ref::kScaled, false, ",-%06.4f", 0.0001},
    {34, Ref::kScaled, false, ",+%06.3f", 0.001}, {35, Ref::kScaled, false, ",-%06.3f", 0.001},
    {36, Ref::kScaled, false, ",+%06.2f", 0.01},  {37, Ref::kScaled, false, ",-%06.2f", 0.01},
    {38, Ref::kScaled, true, ",%06.1f", 0.1},     {40, Ref::kScaled, true, ",%+06.2f", 0.01},
    {44, Ref::kInteger, true, ",%+06d", 0},       {52, Ref::kScaled, true, ",%+07.1f", 0.1},
    {56, Ref::kScaled, true, ",%+07.2f", 0.01},   {60, Ref::kInteger, false, ",%05d", 0},
    {64, Ref::kScaled, true, ",%+07.1f", 0.1},    {65, Ref::kScaled, true, ",%+07.1f", 0.1},
    {66, Ref::kScaled, true, ",%+07.1f", 0.1},    {67, Ref::kScaled, true, ",%+07.1f", 0.1},
    {68, Ref::kScaled, true, ",%+07.1f", 0.1},    {72, Ref::kInteger, false, ",%3d", 0},
    {73, Ref::kInteger, false, ",%3d", 0},        {74, Ref::kInteger, false, ",%3d", 0},
};

LoggerTimestamp At(int hour, int minute, int second) {
  LoggerTimestamp t{2005, 3, 5, hour, minute, second, 0};
  t.orderingKey = OrderingKey(t.year, t.month, t.day, t.hour, t.minute, t.second);
  return t;
}

std::string Field(int mode, int raw, const LoggerTimestamp& time = At(12, 0, 0)) {
  char out[kMaxFieldLength + 8];
  std::memset(out, '#', sizeof out);
  uint32_t length = FormatField(mode, static_cast<uint16_t>(raw), time, out);
  EXPECT_LE(length, kMaxFieldLength);
  // Bytes past the field may be used as scratch, but nothing past the
  // kMaxFieldLength bytes that the caller provides.
  for (size_t i = kMaxFieldLength; i < sizeof out; ++i) EXPECT_EQ(out[i], '#');
  return std::string(out, length);
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
std::string Printf(const ModeFormat& f, uint16_t word, const LoggerTimestamp& time) {
  char buffer[64];
  const int raw = f.signedRaw ? static_cast<int16_t>(word) : word;
  switch (f.ref) {
    case Ref::kScaled:
      std::snprintf(buffer, sizeof buffer, f.format, raw * f.scale);
      break;
    case Ref::kInteger:
      std::snprintf(buffer, sizeof buffer, f.format, raw);
      break;
    case Ref::kCompass:
      std::snprintf(buffer, sizeof buffer, f.format,
                    compassPoints[(word >= 1 && word <= 17) ? word : 17]);
      break;
    case Ref::kTime: {
      const long h = time.hour == 0 ? 24 : time.hour;
      const long t = h * 3600 + time.minute * 60L + time.second + raw;
      std::snprintf(buffer, sizeof buffer, f.format, static_cast<int>((t / 3600) % 24),
                    static_cast<int>((t % 3600) / 60), static_cast<int>(t % 60));
      break;
    }
  }
  return buffer;
}
#pragma GCC diagnostic pop

class FieldFormatTest : public ::testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_ALL, "C"); }
};

TEST_F(FieldFormatTest, EveryRawValueOfEveryModeMatchesPrintf) {
  const LoggerTimestamp noon = At(12, 0, 0);
  for (const ModeFormat& f : kModeFormats) {
    if (f.ref == Ref::kTime) continue;  // below, over row times
    int mismatches = 0;
    for (uint32_t word = 0; word <= 0xFFFF; ++word) {
      char out[kMaxFieldLength];
      const uint32_t length = FormatField(f.mode, static_cast<uint16_t>(word), noon, out);
      const std::string expected = Printf(f, static_cast<uint16_t>(word), noon);
      if (std::string(out, length) != expected && ++mismatches <= 5)
        ADD_FAILURE() << "mode " << f.mode << " raw " << word << ": got \""
                      << std::string(out, length) << "\", printf \"" << expected << "\"";
    }
    EXPECT_EQ(mismatches, 0) << "mode " << f.mode;
  }
}

TEST_F(FieldFormatTest, EveryTimeOfOccurrenceMatchesPrintfOverRowTimes) {
  const int hours[] = {0, 1, 10, 23, 24, 25, 31, 47, 99};  // 47 and 99: beyond any record
  const int minuteSeconds[][2] = {{0, 0}, {0, 1}, {30, 59}, {59, 59}, {63, 63}};
  for (int mode : {24, 27}) {
    const ModeFormat* f = nullptr;
    for (const ModeFormat& m : kModeFormats)
      if (m.mode == mode) f = &m;
    ASSERT_NE(f, nullptr);
    for (int hour : hours) {
      for (const auto& ms : minuteSeconds) {
        const LoggerTimestamp time = At(hour, ms[0], ms[1]);
        int mismatches = 0;
        for (uint32_t word = 0; word <= 0xFFFF; ++word) {
          char out[kMaxFieldLength];
          const uint32_t length = FormatField(mode, static_cast<uint16_t>(word), time, out);
          const std::string expected = Printf(*f, static_cast<uint16_t>(word), time);
          if (std::string(out, length) != expected && ++mismatches <= 3)
            ADD_FAILURE() << "mode " << mode << " at " << hour << ":" << ms[0] << ":" << ms[1]
                          << " raw " << word << ": got \"" << std::string(out, length)
                          << "\", printf \"" << expected << "\"";
        }
        EXPECT_EQ(mismatches, 0);
      }
    }
  }
}

TEST_F(FieldFormatTest, KnownFields) {
  struct Case {
    int mode;
    int raw;
    const char* field;
  };
  const Case cases[] = {
      {0, 1234, ",+0123.4"}, {0, -5, ",-0000.5"},  {0, 0, ",+0000.0"},   {0, -32768, ",-3276.8"},
      {5, 2345, ",+023.45"}, {16, -1500, ",-01.500"}, {12, 150, ",001.50"}, {12, 65535, ",655.35"},
      {13, 1500, ",01.500"}, {14, 15000, ",1.5000"}, {20, 23, ",  2.3"},  {20, 65535, ",6553.5"},
      {32, 1234, ",+0.1234"}, {33, 1234, ",-0.1234"}, {33, 0, ",-0.0000"}, {35, 0, ",-00.000"},
      {36, 1234, ",+012.34"}, {37, 65535, ",-655.35"}, {38, 125, ",0012.5"}, {38, -5, ",-000.5"},
      {40, 150, ",+01.50"},  {44, 123, ",+00123"},  {44, -32768, ",-32768"}, {60, 60, ",00060"},
      {72, 7, ",  7"},       {72, 45, ", 45"},      {21, 16, ",N"},        {21, 1, ",NNE"},
      {21, 17, ",CALM"},
  };
  for (const Case& c : cases) EXPECT_EQ(Field(c.mode, c.raw), c.field) << "mode " << c.mode;
}

TEST_F(FieldFormatTest, BoundaryValues) {
  // Signed modes read the word as -32768..32767, unsigned ones as 0..65535.
  EXPECT_EQ(Field(0, 32767), ",+3276.7");
  EXPECT_EQ(Field(0, 65535), ",-0000.1");  // the word 0xFFFF is -1
  EXPECT_EQ(Field(0, 1), ",+0000.1");
  EXPECT_EQ(Field(5, -32768), ",-327.68");
  EXPECT_EQ(Field(16, -1), ",-00.001");
  EXPECT_EQ(Field(16, 32767), ",+32.767");
  EXPECT_EQ(Field(12, 0), ",000.00");
  EXPECT_EQ(Field(13, 65535), ",65.535");
  EXPECT_EQ(Field(14, 1), ",0.0001");
  EXPECT_EQ(Field(14, 65535), ",6.5535");
  EXPECT_EQ(Field(20, 0), ",  0.0");
  EXPECT_EQ(Field(30, 1), ",  0.1");
  EXPECT_EQ(Field(32, 65535), ",+6.5535");
  EXPECT_EQ(Field(34, 65535), ",+65.535");
  EXPECT_EQ(Field(36, 0), ",+000.00");
  EXPECT_EQ(Field(38, -32768), ",-3276.8");
  EXPECT_EQ(Field(38, 32767), ",3276.7");
  EXPECT_EQ(Field(40, -32768), ",-327.68");
  EXPECT_EQ(Field(40, -1), ",-00.01");
  EXPECT_EQ(Field(44, 0), ",+00000");
  EXPECT_EQ(Field(44, -1), ",-00001");
  EXPECT_EQ(Field(44, 32767), ",+32767");
  EXPECT_EQ(Field(56, 32767), ",+327.67");
  EXPECT_EQ(Field(60, 0), ",00000");
  EXPECT_EQ(Field(60, 65535), ",65535");
  EXPECT_EQ(Field(72, 0), ",  0");
  EXPECT_EQ(Field(74, 65535), ",65535");
}

TEST_F(FieldFormatTest, CompassPointsAndOutOfRangeDirections) {
  const char* expected[] = {"",  "NNE", "NE", "ENE", "E",  "ESE", "SE", "SSE", "S",
                            "SSW", "SW", "WSW", "W",  "WNW", "NW", "NNW", "N",  "CALM"};
  for (int value = 1; value <= 17; ++value)
    for (int mode : {21, 23, 26, 29}) EXPECT_EQ(Field(mode, value), std::string(",") + expected[value]);
  // The record loop rejects these; should one arrive it reads as calm.
  EXPECT_EQ(Field(21, 0), ",CALM");
  EXPECT_EQ(Field(29, 18), ",CALM");
  EXPECT_EQ(Field(23, 65535), ",CALM");
}

TEST_F(FieldFormatTest, TimesOfOccurrenceAroundMidnight) {
  EXPECT_EQ(Field(24, -125, At(10, 0, 0)), ",09:57:55");
  EXPECT_EQ(Field(24, -30, At(0, 0, 0)), ",23:59:30");   // hour 0 counts as 24
  EXPECT_EQ(Field(27, -30, At(24, 0, 0)), ",23:59:30");  // shifted midnight: the same
  EXPECT_EQ(Field(24, 900, At(23, 50, 0)), ",00:05:00");  // wraps at 24
  EXPECT_EQ(Field(24, -3601, At(1, 0, 0)), ",00:00:-1");  // negative parts keep their signs
  EXPECT_EQ(Field(27, 0, At(0, 0, 0)), ",00:00:00");
  EXPECT_EQ(Field(27, 1, At(0, 0, 0)), ",00:00:01");
  EXPECT_EQ(Field(24, -1, At(0, 0, 1)), ",00:00:00");
  EXPECT_EQ(Field(24, 59, At(23, 59, 1)), ",00:00:00");
  // The most negative and the longest fields a record can give.
  EXPECT_EQ(Field(24, -32768, At(1, 0, 0)), ",-8:-6:-8");
  EXPECT_EQ(Field(24, -32399, At(1, 0, 0)), ",-7:-59:-59");
  EXPECT_EQ(Field(24, 32767, At(31, 63, 63)), ",17:10:10");
  // A row time outside the record format's ranges still fits the field.
  EXPECT_EQ(Field(24, -32768, At(-31, 0, 0)), ",-16:-6:-8");
  EXPECT_EQ(Field(24, -32399, At(-9, 0, 0)), ",-17:-59:-59");
  EXPECT_EQ(Field(24, 0, At(2147483647, 2147483647, 2147483647)), ",12:21:07");
  EXPECT_EQ(Field(24, 0, At(-2147483647 - 1, -2147483647 - 1, -2147483647 - 1)), ",-13:-22:-8");
}

TEST_F(FieldFormatTest, UndefinedModesGiveNoField) {
  for (int mode = -3; mode < kModeCount + 3; ++mode) {
    const bool defined = mode >= 0 && mode < kModeCount && measurementKindTable[mode].name[0];
    if (!defined) EXPECT_EQ(Field(mode, 1234), "") << mode;
    else EXPECT_FALSE(Field(mode, 1).empty()) << mode;
  }
}

TEST_F(FieldFormatTest, ScaledIntegerFollowsPrintfFlags) {
  char out[32];
  auto text = [&](int64_t v, uint32_t d, uint32_t w, bool plus, bool zero) {
    return std::string(out, FormatScaledInteger(out, v, d, w, plus, zero));
  };
  EXPECT_EQ(text(2005, 0, 4, false, false), "2005");
  EXPECT_EQ(text(999, 0, 4, false, false), " 999");
  EXPECT_EQ(text(3, 0, 2, false, true), "03");
  EXPECT_EQ(text(-3, 0, 2, false, true), "-3");
  EXPECT_EQ(text(-3, 0, 4, false, true), "-003");
  EXPECT_EQ(text(-3, 0, 4, false, false), "  -3");
  EXPECT_EQ(text(-2147483648LL, 0, 4, false, false), "-2147483648");
  EXPECT_EQ(text(5, 3, 0, true, false), "+0.005");
}

// Finds or makes a locale whose decimal point is a comma; empty if none.
std::string DecimalCommaLocale(const std::filesystem::path& tempDir) {
  for (const char* name : {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8"}) {
    if (std::setlocale(LC_NUMERIC, name)) return name;
  }
  std::filesystem::create_directories(tempDir);
  const std::string command = "localedef -i de_DE -f UTF-8 '" + (tempDir / "de_DE.UTF-8").string() +
                              "' >/dev/null 2>&1";
  if (std::system(command.c_str()) != 0) return "";
  setenv("LOCPATH", tempDir.c_str(), 1);
  if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8")) return "de_DE.UTF-8";
  return "";
}

TEST_F(FieldFormatTest, DecimalCommaLocaleStillGivesPoint) {
  const std::filesystem::path tempDir =
      std::filesystem::temp_directory_path() / ("ravelo_locale_" + std::to_string(getpid()));
  const std::string name = DecimalCommaLocale(tempDir);
  if (name.empty()) {
    std::filesystem::remove_all(tempDir);
    GTEST_SKIP() << "no decimal-comma locale available";
  }
  char probe[16];
  std::snprintf(probe, sizeof probe, "%.1f", 1.5);
  EXPECT_STREQ(probe, "1,5") << "the locale " << name << " should use a decimal comma";

  EXPECT_EQ(Field(0, 1234), ",+0123.4");
  EXPECT_EQ(Field(14, 15000), ",1.5000");
  EXPECT_EQ(Field(20, 23), ",  2.3");
  EXPECT_EQ(Field(33, 1234), ",-0.1234");

  std::setlocale(LC_NUMERIC, "C");
  unsetenv("LOCPATH");
  std::filesystem::remove_all(tempDir);
}

}  // namespace
}  // namespace ravelo

// The recording-mode table against the Unicode texts converted to code page
// 932 here with iconv, the compass points and the channel bit table.
#include <iconv.h>

#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "api/types.h"
#include "convert/measurement_kinds.h"

namespace ravelo {
namespace {

std::string ToCp932(const std::string& utf8) {
  iconv_t cd = iconv_open("CP932", "UTF-8");
  EXPECT_NE(cd, reinterpret_cast<iconv_t>(-1));
  if (cd == reinterpret_cast<iconv_t>(-1)) return "";
  std::string in = utf8;
  char out[64];
  char* inPtr = in.data();
  size_t inLeft = in.size();
  char* outPtr = out;
  size_t outLeft = sizeof out;
  const size_t done = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
  iconv_close(cd);
  EXPECT_NE(done, static_cast<size_t>(-1)) << utf8;
  return std::string(out, sizeof out - outLeft);
}

struct Kind {
  int mode;
  const char* name;
  const char* unit;
};

const Kind kKinds[] = {
    {0, ",電圧", ",mV"},
    {4, ",温度(ｻｰﾐｽﾀ)", ",ﾟC"},
    {5, ",温度(新jis)", ",ﾟC"},
    {6, ",温度(旧jis)", ",ﾟC"},
    {8, ",湿度", ",%"},
    {12, ",抵抗", ",kΩ"},
    {13, ",抵抗", ",kΩ"},
    {14, ",抵抗", ",kΩ"},
    {16, ",電流", ",mA"},
    {20, ",平均風速", ",m/s"},
    {21, ",平均風向", ","},
    {22, ",最大瞬間風速", ",m/s"},
    {23, ",最大瞬間風向", ","},
    {24, ",最大瞬間起時", ","},
    {25, ",最大平均風速", ",m/s"},
    {26, ",最大平均風向", ","},
    {27, ",最大平均起時", ","},
    {28, ",瞬間風速", ",m/s"},
    {29, ",瞬間風向", ","},
    {30, ",NEDO", ","},
    {32, ",水位", ",m"},
    {33, ",水位", ",m"},
    {34, ",水位", ",m"},
    {35, ",水位", ",m"},
    {36, ",水位", ",m"},
    {37, ",水位", ",m"},
    {38, ",雨量", ",mm"},
    {40, ",電圧積算", ",mV"},
    {44, ",歪み", ",μE"},
    {52, ",気圧", ",hPa"},
    {56, ",日射", ",KW/m2"},
    {60, ",日照", ",min"},
    {64, ",電圧１", ",mV"},
    {65, ",電圧２", ",mV"},
    {66, ",電圧３", ",mV"},
    {67, ",電圧４", ",mV"},
    {68, ",電圧５", ",mV"},
    {72, ",平均風向", ",ﾟ"},
    {73, ",最大瞬間風向", ",ﾟ"},
    {74, ",瞬間風向", ",ﾟ"},
};

TEST(MeasurementKinds, DefinedNamesAndUnitsAreTheCodePage932Texts) {
  ASSERT_EQ(std::size(kKinds), 40u);
  for (const Kind& k : kKinds) {
    const MeasurementKind& entry = measurementKindTable[k.mode];
    // Zero-terminated inside their fields.
    ASSERT_NE(std::memchr(entry.name, 0, sizeof entry.name), nullptr) << k.mode;
    ASSERT_NE(std::memchr(entry.unit, 0, sizeof entry.unit), nullptr) << k.mode;
    EXPECT_EQ(std::string(entry.name), ToCp932(k.name)) << "mode " << k.mode;
    EXPECT_EQ(std::string(entry.unit), ToCp932(k.unit)) << "mode " << k.mode;
  }
}

TEST(MeasurementKinds, ExactlyTheFortyModesAreDefined) {
  int defined = 0;
  for (int mode = 0; mode < kModeCount; ++mode) {
    bool listed = false;
    for (const Kind& k : kKinds) listed = listed || k.mode == mode;
    const MeasurementKind& entry = measurementKindTable[mode];
    EXPECT_EQ(entry.name[0] != '\0', listed) << mode;
    EXPECT_EQ(entry.unit[0] != '\0', listed) << mode;
    EXPECT_EQ(IsDefinedMode(mode), listed) << mode;
    defined += listed;
  }
  EXPECT_EQ(defined, 40);
  EXPECT_FALSE(IsDefinedMode(127));
  EXPECT_FALSE(IsDefinedMode(-1));
  EXPECT_FALSE(IsDefinedMode(128));
}

TEST(MeasurementKinds, SpotBytes) {
  // The degree sign is the half-width semi-voiced mark 0xDF; the longest name
  // takes 13 bytes and the longest unit 6.
  EXPECT_STREQ(measurementKindTable[4].unit, ",\xDF" "C");
  EXPECT_EQ(std::strlen(measurementKindTable[22].name), 13u);
  EXPECT_EQ(std::strlen(measurementKindTable[56].unit), 6u);
  EXPECT_STREQ(measurementKindTable[12].unit, ",k\x83\xB6");
  EXPECT_STREQ(measurementKindTable[44].unit, ",\x83\xCA" "E");
}

TEST(MeasurementKinds, CompassPoints) {
  const char* expected[] = {"",  "NNE", "NE", "ENE", "E",  "ESE", "SE", "SSE", "S",
                            "SSW", "SW", "WSW", "W",  "WNW", "NW", "NNW", "N",  "CALM"};
  for (int i = 0; i < kCompassPointCount; ++i) EXPECT_STREQ(compassPoints[i], expected[i]) << i;
  EXPECT_TRUE(IsWindDirectionMode(21) && IsWindDirectionMode(23) && IsWindDirectionMode(26) &&
              IsWindDirectionMode(29));
  EXPECT_FALSE(IsWindDirectionMode(72) || IsWindDirectionMode(22) || IsWindDirectionMode(0));
}

TEST(MeasurementKinds, ChannelBitTable) {
  for (int c = 0; c < kChannelCount; ++c) {
    EXPECT_EQ(channelBitTable[c].byteIndex, c / 8) << c;
    EXPECT_EQ(channelBitTable[c].mask, 0x80 >> (c % 8)) << c;
  }
  EXPECT_EQ(channelBitTable[0].mask, 0x80);
  EXPECT_EQ(channelBitTable[255].byteIndex, 31);
  EXPECT_EQ(channelBitTable[255].mask, 0x01);
}

}  // namespace
}  // namespace ravelo

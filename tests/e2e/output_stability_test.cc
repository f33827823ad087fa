// The produced files, byte for byte, for a recording that uses every defined
// mode with values over their whole range, column changes, a mode change, a
// month end in a leap year and midnight: new day files, a merge of a second
// recording into them, month files and direct output. Each scenario's files
// are summed up in one FNV-1a digest (names and bytes), fixed when the
// formatter still went through printf; any changed byte changes a digest.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e_util.h"

namespace e2e {
namespace {

constexpr int kDefinedModes[] = {0,  4,  5,  6,  8,  12, 13, 14, 16, 20, 21, 22, 23, 24,
                                 25, 26, 27, 28, 29, 30, 32, 33, 34, 35, 36, 37, 38, 40,
                                 44, 52, 56, 60, 64, 65, 66, 67, 68, 72, 73, 74};
constexpr int kModeCount = sizeof kDefinedModes / sizeof kDefinedModes[0];

class Random {
 public:
  explicit Random(uint32_t seed) : state_(seed) {}
  uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 17;
    state_ ^= state_ << 5;
    return state_;
  }

 private:
  uint32_t state_;
};

// Any word, the boundaries more often than chance would give them.
uint16_t ValueFor(int mode, Random& random) {
  if (mode == 21 || mode == 23 || mode == 26 || mode == 29) {
    return static_cast<uint16_t>(1 + random.Next() % 17);
  }
  static constexpr uint16_t kEdges[] = {0, 1, 9, 10, 99, 100, 999, 1000, 9999, 10000,
                                        32767, 32768, 65535, 65534, 0xFFF6, 0x8001};
  const uint32_t pick = random.Next();
  if (pick % 8 == 0) return kEdges[(pick >> 8) % (sizeof kEdges / sizeof kEdges[0])];
  return static_cast<uint16_t>(random.Next() >> 16);
}

// Rows every `step` seconds from Feb 28 2024 22:00 for `hours` hours: 40
// channels in every defined mode, channels 40..47 only in some stretches,
// channel 5 switching its mode half-way.
ravelo::q38::Writer Recording(uint32_t seed, int startSecond, int step, int hours) {
  ravelo::q38::Writer w;
  w.SetMemo(1, "STABILITY");
  Random random(seed);
  const int total = hours * 3600;
  int index = 0;
  for (int t = startSecond; t < total; t += step, ++index) {
    // 2024-02-28 22:00:00 plus t seconds; February 2024 has 29 days.
    int second = t % 60, minute = (t / 60) % 60, hour = (22 + t / 3600) % 24;
    int day = 28 + (22 + t / 3600) / 24, month = 2;
    if (day > 29) {
      day -= 29;
      month = 3;
    }
    ravelo::q38::Record r{
        .year = 2024, .month = month, .day = day, .hour = hour, .minute = minute, .second = second};
    const int channels = (index / 150) % 3 == 1 ? 48 : 40;
    for (int c = 0; c < channels; ++c) {
      int mode = kDefinedModes[c % kModeCount];
      if (c == 5 && t > total / 2) mode = 8;
      r.channel = c;
      r.mode = mode;
      r.value = ValueFor(mode, random);
      w.Add(r);
    }
  }
  return w;
}

uint64_t Fnv(uint64_t h, const std::string& bytes) {
  for (unsigned char c : bytes) {
    h ^= c;
    h *= 0x100000001B3u;
  }
  return h;
}

// Names and contents of every file under folder, in name order.
uint64_t Digest(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : fs::recursive_directory_iterator(folder)) {
    if (e.is_regular_file()) names.push_back(e.path().string());
  }
  std::sort(names.begin(), names.end());
  uint64_t h = 0xCBF29CE484222325u;
  for (const std::string& name : names) {
    h = Fnv(h, name.substr(folder.size()) + '\0');
    h = Fnv(h, ReadAll(name));
  }
  return h;
}

class OutputStability : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(work);
    RaveloInit(work.c_str(), 1, 0);
    ASSERT_EQ(RaveloINIFileDelete(), 0);
    ASSERT_TRUE(Recording(7, 0, 13, 50).Save(first));
    ASSERT_TRUE(Recording(11, 6, 29, 50).Save(second));
  }
  void TearDown() override { RaveloINIFileDelete(); }

  int Convert(const std::string& input, const std::string& dest, int kind, int direct = 0) {
    fs::create_directories(dest);
    return RaveloProc(input.c_str(), dest.c_str(), kind, 1, direct);
  }
  void ExpectDigest(const std::string& folder, uint64_t expected) {
    const uint64_t got = Digest(folder);
    char text[32];
    std::snprintf(text, sizeof text, "0x%016llX", static_cast<unsigned long long>(got));
    EXPECT_EQ(got, expected) << folder << " digest " << text;
  }

  TempDir dir;
  std::string work = dir / "work";
  std::string first = dir / "STAB_1.Q38";
  std::string second = dir / "STAB_2.Q38";
};

TEST_F(OutputStability, DayFilesNewAndMerged) {
  const std::string dest = dir / "day";
  ASSERT_EQ(Convert(first, dest, 0), 0);
  ExpectDigest(dest, 0x67D80ACD7CC8FB02u);
  ASSERT_EQ(Convert(second, dest, 0), 0);  // every file merged
  ExpectDigest(dest, 0x920C43B5ED21FFCEu);
}

TEST_F(OutputStability, MonthFilesAndDirectOutput) {
  const std::string months = dir / "month";
  ASSERT_EQ(Convert(first, months, 1), 0);
  ExpectDigest(months, 0x44F6EC785FD359B7u);
  const std::string direct = dir / "direct";
  ASSERT_EQ(Convert(second, direct, 0, 1), 0);
  ExpectDigest(direct, 0xCCD6575D502425E2u);
}

}  // namespace
}  // namespace e2e

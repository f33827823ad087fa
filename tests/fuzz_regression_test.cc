// Replays every saved input of the fuzz targets through the targets' own
// entry functions: the seed corpora (fuzz/corpus/<target>/) and the inputs
// that once broke the engine (fuzz/regressions/<target>/). An entry function
// aborts when the engine breaks a promise, so a test passes by returning.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

#include "targets.h"

namespace {

namespace fs = std::filesystem;

struct SavedInput {
  std::string target;  // proc, merge or profile
  fs::path path;
  std::string name;    // for the test's name: letters, digits and "_"
};

// Shown by GoogleTest for a failing test: the file to replay.
void PrintTo(const SavedInput& input, std::ostream* out) { *out << input.path.string(); }

std::vector<SavedInput> AllSavedInputs() {
  std::vector<SavedInput> inputs;
  const fs::path root = fs::path(RAVELO_SOURCE_DIR) / "fuzz";
  for (const char* kind : {"corpus", "regressions"}) {
    for (const char* target : {"proc", "merge", "profile"}) {
      const fs::path folder = root / kind / target;
      std::error_code ec;
      if (!fs::is_directory(folder, ec)) continue;
      std::vector<fs::path> files;
      for (const auto& entry : fs::directory_iterator(folder, ec)) {
        if (entry.is_regular_file()) files.push_back(entry.path());
      }
      std::sort(files.begin(), files.end());
      for (const fs::path& file : files) {
        std::string name = std::string(target) + "_" + kind + "_" + file.filename().string();
        for (char& c : name) {
          if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        }
        inputs.push_back({target, file, name});
      }
    }
  }
  return inputs;
}

class FuzzReplay : public testing::TestWithParam<SavedInput> {};

TEST_P(FuzzReplay, RunsThroughItsTarget) {
  const SavedInput& input = GetParam();
  std::ifstream in(input.path, std::ios::binary);
  ASSERT_TRUE(in) << input.path;
  const std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>()};
  const uint8_t* data = bytes.empty() ? nullptr : bytes.data();
  if (input.target == "proc") {
    EXPECT_EQ(ravelo::fuzz::FuzzProc(data, bytes.size()), 0);
  } else if (input.target == "merge") {
    EXPECT_EQ(ravelo::fuzz::FuzzMerge(data, bytes.size()), 0);
  } else {
    EXPECT_EQ(ravelo::fuzz::FuzzProfile(data, bytes.size()), 0);
  }
}

std::string NameOf(const testing::TestParamInfo<SavedInput>& saved) { return saved.param.name; }

INSTANTIATE_TEST_SUITE_P(fuzz, FuzzReplay, testing::ValuesIn(AllSavedInputs()), NameOf);

}  // namespace

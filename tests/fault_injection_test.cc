// Every platform call of a scenario fails in turn: the job must say so, and
// no row that was in a CSV file before may be lost.
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "failure_scenarios.h"

namespace ravelo::scenarios {
namespace {

namespace fault = platform::fault;

void NoSleep(uint32_t) {}

bool IsTemporary(const std::string& path) {
  return path.size() > 4 && path.compare(path.size() - 4, 4, ".TMP") == 0;
}

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

class FaultInjection : public ::testing::TestWithParam<size_t> {
 protected:
  void TearDown() override {
    fault::Reset();
    std::error_code ignored;
    fs::remove_all(tree.root(), ignored);
  }
  Tree tree{"/tmp/ravelo-faults-" + std::to_string(getpid())};
};

TEST_P(FaultInjection, EveryFailingCallIsReportedAndLosesNothing) {
  const Scenario& s = All()[GetParam()];
  SCOPED_TRACE(s.name);
  bool replacesFiles = false;
  for (const Job& j : s.jobs) replacesFiles |= j.method == 0;

  // The clean run: its outputs and the number of platform calls it makes.
  // Every state the files pass through: before, and after each job.
  tree.Prepare(s);
  std::vector<Files> states = {tree.Snapshot()};
  uint64_t calls = 0;
  std::vector<ResultCode> clean = tree.Run(
      s,
      [] {
        fault::Reset();
        fault::SetSleepHook(NoSleep);
      },
      [&](size_t) {
        calls = fault::CallCount();
        states.push_back(tree.Snapshot());
      });
  for (ResultCode r : clean) ASSERT_EQ(r, kOk);
  const Files expected = tree.Snapshot();
  ASSERT_GT(calls, 10u);

  std::printf("%s: %llu failing calls run\n", s.name, static_cast<unsigned long long>(calls));
  for (uint64_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("failing call " + std::to_string(k));
    tree.Prepare(s);
    std::vector<ResultCode> results = tree.Run(s, [k] {
      fault::Reset();
      fault::SetSleepHook(NoSleep);
      fault::FailNthCall(k);
    });
    fault::Reset();
    const Files after = tree.Snapshot();
    const ResultCode last = results.back();

    if (last == kOk) {
      // Reported as success: the output must be exactly the clean run's.
      ASSERT_EQ(after, expected) << "a failure reported as success";
      continue;
    }
    ASSERT_GE(last, 2);
    ASSERT_LE(last, 26);
    // Each CSV file that held rows is one of the states it passes through
    // in the clean run (a job's files are committed one by one); a file the
    // batch replaces by design may be cut where the job stopped.
    const Files& reached = states[results.size() - 1];
    const Files& next = states[results.size()];
    for (const auto& [path, bytes] : reached) {
      if (IsTemporary(path)) continue;
      auto now = after.find(path);
      if (now == after.end() && replacesFiles) continue;  // deleted to be written anew
      ASSERT_NE(now, after.end()) << path << " is gone";
      auto done = next.find(path);
      bool intact = now->second == bytes || (done != next.end() && now->second == done->second);
      if (!intact && replacesFiles && done != next.end()) {
        intact = StartsWith(done->second, now->second);
      }
      ASSERT_TRUE(intact) << path << " lost rows (result " << last << "):\n" << now->second;
    }
    for (const auto& [path, bytes] : after) {
      if (IsTemporary(path)) {
        ASSERT_EQ(last, kRenameFailed) << "stray " << path;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, FaultInjection, ::testing::Range<size_t>(0, 5));

}  // namespace
}  // namespace ravelo::scenarios

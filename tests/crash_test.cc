// A conversion killed at every platform call in turn: each CSV file is
// always its old or its new complete contents, and running the jobs again
// gives the expected files.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include <gtest/gtest.h>

#include "failure_scenarios.h"

namespace ravelo::scenarios {
namespace {

namespace fault = platform::fault;

void NoSleep(uint32_t) {}

class Crash : public ::testing::TestWithParam<size_t> {
 protected:
  void TearDown() override {
    fault::Reset();
    std::error_code ignored;
    fs::remove_all(tree.root(), ignored);
  }
  Tree tree{"/tmp/ravelo-crash-" + std::to_string(getpid())};
};

TEST_P(Crash, AKilledConversionLeavesWholeFilesAndRunsAgain) {
  const Scenario& s = All()[GetParam()];
  SCOPED_TRACE(s.name);

  tree.Prepare(s);
  std::vector<Files> states = {tree.Snapshot()};
  uint64_t calls = 0;
  tree.Run(
      s,
      [] {
        fault::Reset();
        fault::SetSleepHook(NoSleep);
      },
      [&](size_t) {
        calls = fault::CallCount();
        states.push_back(tree.Snapshot());
      });
  fault::Reset();
  const Files expected = states.back();

  std::printf("%s: killed at each of %llu calls\n", s.name, static_cast<unsigned long long>(calls));
  for (uint64_t k = 1; k <= calls; ++k) {
    SCOPED_TRACE("killed at call " + std::to_string(k));
    tree.Prepare(s);
    std::fflush(nullptr);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      tree.Run(s, [k] {
        fault::Reset();
        fault::SetSleepHook(NoSleep);
        fault::KillAtCall(k);
      });
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

    // Every file that held rows is whole: one of the states it passes through.
    const Files after = tree.Snapshot();
    for (const Files& state : states) {
      for (const auto& [path, bytes] : state) {
        if (path.size() > 4 && path.compare(path.size() - 4, 4, ".TMP") == 0) continue;
        if (states.front().count(path) == 0) continue;  // made by the run itself
        auto now = after.find(path);
        ASSERT_NE(now, after.end()) << path << " is missing";
        bool whole = false;
        for (const Files& candidate : states) {
          auto c = candidate.find(path);
          whole |= c != candidate.end() && c->second == now->second;
        }
        ASSERT_TRUE(whole) << path << " is not whole:\n" << now->second;
      }
    }

    // Running the jobs again finishes them.
    std::vector<ResultCode> again = tree.Run(s, [] {});
    for (ResultCode r : again) ASSERT_EQ(r, kOk);
    ASSERT_EQ(tree.Snapshot(), expected);
  }
}

// The scenarios that merge into existing files only.
INSTANTIATE_TEST_SUITE_P(MergeScenarios, Crash, ::testing::Values<size_t>(1, 4));

}  // namespace
}  // namespace ravelo::scenarios

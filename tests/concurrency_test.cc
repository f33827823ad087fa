// Two processes converting into the same destination at once: no file is
// ever corrupted or loses rows; a run ends with 0 or with a clear code, and
// running the failed one again gives the expected files.
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <utility>

#include <gtest/gtest.h>

#include "failure_scenarios.h"

namespace ravelo::scenarios {
namespace {

// 20 rounds per case; RAVELO_CONCURRENT_ROUNDS asks for more (the long runs).
int Rounds() {
  const char* text = std::getenv("RAVELO_CONCURRENT_ROUNDS");
  const int n = text != nullptr ? std::atoi(text) : 0;
  return n > 0 ? n : 20;
}

// Runs child(0) and child(1) in two processes that start together; returns
// their exit statuses (-1 for a process that did not exit).
template <typename Child>
std::pair<int, int> RunTogether(Child child) {
  int pipeFds[2];
  EXPECT_EQ(pipe(pipeFds), 0);
  std::fflush(nullptr);
  pid_t pids[2];
  for (int i = 0; i < 2; ++i) {
    pids[i] = fork();
    if (pids[i] == 0) {
      close(pipeFds[1]);
      char go;
      if (read(pipeFds[0], &go, 1) != 1) _exit(100);
      _exit(child(i));
    }
  }
  close(pipeFds[0]);
  EXPECT_EQ(write(pipeFds[1], "gg", 2), 2);
  close(pipeFds[1]);
  int results[2];
  for (int i = 0; i < 2; ++i) {
    int status = 0;
    waitpid(pids[i], &status, 0);
    results[i] = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return {results[0], results[1]};
}

class Concurrent : public ::testing::Test {
 protected:
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(root, ignored);
  }

  void WriteLogger(const std::string& name, const std::vector<Stamp>& rows, uint16_t value) {
    std::vector<q38::Record> records;
    for (const Stamp& st : rows) {
      records.push_back(
          test::RecordAt(st.year, st.month, st.day, st.hour, st.minute, 0, 0, 0, value));
    }
    test::SaveLogger(root + "/in/" + name, records);
  }

  void Prepare() {
    std::error_code ignored;
    fs::remove_all(root, ignored);
    for (const char* d : {"/in", "/workA", "/workB", "/dest/CSV/Day"}) {
      fs::create_directories(root + d);
    }
    std::ofstream(root + "/dest/CSV/Day/LOG_20240501.CSV", std::ios::binary)
        << Head() << "2024/05/01,08:00:00,+0000.1\r\n2024/05/01,23:00:00,+0000.2\r\n";
    std::ofstream(root + "/dest/CSV/Day/LOG_20240502.CSV", std::ios::binary)
        << Head() << "2024/05/02,12:00:00,+0000.3\r\n";
    // Many rows, so that the runs overlap in time.
    std::vector<Stamp> a, b, c;
    for (int m = 0; m < 60; ++m) {
      a.push_back({2024, 5, 1, 10, m});
      b.push_back({2024, 5, 1, 11, m});
    }
    for (int m = 0; m < 60; ++m) {
      a.push_back({2024, 5, 2, 10, m});
      b.push_back({2024, 5, 2, 11, m});
      c.push_back({2024, 5, 3, 10, m});
    }
    WriteLogger("LOG_A.Q38", a, 11);
    WriteLogger("LOG_B.Q38", b, 22);
    WriteLogger("LOG_C.Q38", c, 33);
  }

  ResultCode Convert(const char* logger, const char* work) {
    auto c = std::make_unique<Converter>();
    c->Init((root + work).c_str(), 1, 0);
    c->INIFileDelete();
    return c->Proc((root + "/in/" + logger).c_str(), (root + "/dest").c_str(), 0, 1, 0);
  }

  Files Output() {
    Files files;
    std::string dest = root + "/dest/";
    for (auto& e : fs::recursive_directory_iterator(dest)) {
      if (e.is_regular_file()) files[e.path().string().substr(dest.size())] = Slurp(e.path());
    }
    return files;
  }

  // Runs both conversions at once in two processes; returns their results.
  std::pair<int, int> AtOnce(const char* first, const char* second) {
    const char* loggers[2] = {first, second};
    const char* works[2] = {"/workA", "/workB"};
    return RunTogether([&](int i) { return static_cast<int>(Convert(loggers[i], works[i])); });
  }

  void Check(const char* first, const char* second) {
    // The expected files: the two runs one after the other.
    Prepare();
    ASSERT_EQ(Convert(first, "/workA"), kOk);
    ASSERT_EQ(Convert(second, "/workB"), kOk);
    const Files expected = Output();

    int failures = 0;
    const int rounds = Rounds();
    for (int round = 0; round < rounds; ++round) {
      SCOPED_TRACE("round " + std::to_string(round));
      Prepare();
      auto [a, b] = AtOnce(first, second);
      for (int r : {a, b}) {
        // Clear codes of a file another run holds: the CSV or temporary file
        // cannot be opened or created, or stays held.
        ASSERT_TRUE(r == kOk || r == kCsvOpenFailed || r == kTmpOpenFailed ||
                    r == kDeleteFailed)
            << "result " << r;
      }
      failures += (a != kOk) + (b != kOk);
      if (a != kOk) {
        ASSERT_EQ(Convert(first, "/workA"), kOk);
      }
      if (b != kOk) {
        ASSERT_EQ(Convert(second, "/workB"), kOk);
      }
      Files out = Output();
      ASSERT_EQ(out, expected);
    }
    std::printf("%s + %s: %d rounds, %d runs ended with a held file and were run again\n",
                first, second, rounds, failures);
  }

  std::string root = "/tmp/ravelo-concurrent-" + std::to_string(getpid());
};

// Two runs of one batch listing their files in the same INI file at once:
// each one's lookup and rewrite exclude the other's, so no entry is lost
// (a lost entry makes a later job replace a file the batch wrote).
TEST(ConcurrentListings, EveryEntryOfTwoProcessesStays) {
  const std::string work = "/tmp/ravelo-listings-" + std::to_string(getpid());
  fs::create_directories(work);
  constexpr int kEntries = 10;
  const int rounds = Rounds();
  LoggerTimestamp fifth = {};
  fifth.year = 2024;
  fifth.month = 5;
  fifth.day = 5;
  auto pathOf = [](int process, int entry) {
    return "D:\\out\\CSV\\Day\\P" + std::to_string(process) + "_" + std::to_string(entry) +
           ".CSV";
  };
  for (int round = 0; round < rounds; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    fs::remove(work + "/MakeCSVExecAttrDay05_01.ini");
    auto [a, b] = RunTogether([&](int i) {
      for (int e = 0; e < kEntries; ++e) {
        if (IniFiles().INIFileEntryAdd(work.c_str(), 1, 0, 0, pathOf(i, e).c_str(), fifth) != 1) {
          return 1;
        }
      }
      return 0;
    });
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 0);
    const std::string ini = work + "\\MakeCSVExecAttrDay05_01.ini";
    EXPECT_EQ(platform::ProfileGetInt("FILE_INFO", "FILE_COUNT", 0, ini.c_str()), 2 * kEntries);
    for (int i = 0; i < 2; ++i) {
      for (int e = 0; e < kEntries; ++e) {
        ASSERT_EQ(IniFiles().INIFileEntryFind(ini.c_str(), pathOf(i, e).c_str()), 0)
            << pathOf(i, e);
      }
    }
  }
  std::error_code ignored;
  fs::remove_all(work, ignored);
}

TEST_F(Concurrent, TwoRunsIntoTheSameDayFiles) { Check("LOG_A.Q38", "LOG_B.Q38"); }

TEST_F(Concurrent, TwoRunsIntoDifferentDayFiles) { Check("LOG_A.Q38", "LOG_C.Q38"); }

}  // namespace
}  // namespace ravelo::scenarios

// Conversion scenarios for the fault-injection and crash tests: files that
// exist before, the jobs of a batch, and a way to run them in a fresh tree
// and read back every file the run left.
#pragma once

#include <filesystem>
#include <functional>
#include <fstream>
#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "logger_file.h"
#include "api/converter.h"
#include "platform/fault.h"
#include "test_support.h"

namespace ravelo::scenarios {

namespace fs = std::filesystem;
using Files = std::map<std::string, std::string>;  // path below dest -> bytes

struct Stamp {
  int year, month, day, hour, minute;
};

struct Job {
  std::vector<Stamp> rows;  // one voltage record each
  int kind;                 // 0 day files, 1 month files
  int method;
};

struct Scenario {
  const char* name;
  Files before;
  std::vector<Job> jobs;
};

// Title, six empty memo lines, and the column pair of a voltage channel
// (",電圧" in code page 932).
inline std::string Head() {
  return "ZELKA-Q38\r\n\r\n\r\n\r\n\r\n\r\n\r\ndate,time,\x93\x64\x88\xB3\r\n,,mV\r\n";
}

inline const std::vector<Scenario>& All() {
  static const std::vector<Scenario> all = {
      {"new files",
       {},
       {{{{2024, 5, 1, 10, 0}, {2024, 5, 1, 10, 10}, {2024, 5, 2, 9, 0}}, 0, 1}}},
      {"merge across a day change",
       {{"CSV/Day/LOG_20240501.CSV",
         Head() + "2024/05/01,08:00:00,+0000.1\r\n2024/05/01,23:00:00,+0000.2\r\n"},
        {"CSV/Day/LOG_20240502.CSV", Head() + "2024/05/02,12:00:00,+0000.3\r\n"}},
       {{{{2024, 5, 1, 10, 0}, {2024, 5, 1, 11, 0}, {2024, 5, 2, 9, 0}, {2024, 5, 2, 13, 0}},
         0,
         1}}},
      {"batch under creation method 0",
       {{"CSV/Day/LOG_20240501.CSV", Head() + "2024/05/01,08:00:00,+0000.1\r\n"}},
       {{{{2024, 5, 1, 10, 0}}, 0, 0}, {{{2024, 5, 1, 11, 0}, {2024, 5, 2, 9, 0}}, 0, 0}}},
      {"month files",
       {{"CSV/Month/LOG_202401.CSV", Head() + "2024/01/15,12:00:00,+0000.1\r\n"}},
       {{{{2024, 1, 31, 23, 0}, {2024, 2, 1, 1, 0}}, 1, 1}}},
      {"merges of a batch under method 1",
       {{"CSV/Day/LOG_20240501.CSV",
         Head() + "2024/05/01,08:00:00,+0000.1\r\n2024/05/01,23:00:00,+0000.2\r\n"},
        {"CSV/Day/LOG_20240502.CSV", Head() + "2024/05/02,12:00:00,+0000.3\r\n"}},
       {{{{2024, 5, 1, 9, 0}, {2024, 5, 2, 9, 0}}, 0, 1},
        {{{2024, 5, 1, 12, 0}, {2024, 5, 2, 15, 0}}, 0, 1}}},
  };
  return all;
}

inline std::string Slurp(const std::string& path) { return test::ReadFile(path); }

// One tree for a scenario's runs: the same paths every time, so that the
// INI files of every run hold the same texts.
class Tree {
 public:
  explicit Tree(const std::string& root) : root_(root) {}

  // Lays the tree anew: logger files, the files that exist before.
  void Prepare(const Scenario& s) const {
    std::error_code ignored;
    fs::remove_all(root_, ignored);
    fs::create_directories(root_ + "/in");
    fs::create_directories(root_ + "/work");
    fs::create_directories(root_ + "/dest/CSV/Day");
    fs::create_directories(root_ + "/dest/CSV/Month");
    for (size_t j = 0; j < s.jobs.size(); ++j) {
      std::vector<q38::Record> records;
      uint16_t value = static_cast<uint16_t>(100 + 10 * j);
      for (const Stamp& st : s.jobs[j].rows) {
        records.push_back(
            test::RecordAt(st.year, st.month, st.day, st.hour, st.minute, 0, 0, 0, value++));
      }
      test::SaveLogger(Logger(j), records);
    }
    for (const auto& [path, bytes] : s.before) {
      std::ofstream(root_ + "/dest/" + path, std::ios::binary) << bytes;
    }
  }

  std::string Logger(size_t job) const { return root_ + "/in/LOG_" + std::to_string(job) + ".Q38"; }

  // Runs the jobs on a fresh Converter (its construction and the batch's
  // start are not counted); stops at the first failure. Returns the results.
  // arm() runs right before the first job, to set faults up.
  // After each job that succeeded, seen() gets the job's number.
  template <typename Arm, typename Seen = void (*)(size_t)>
  std::vector<ResultCode> Run(const Scenario& s, Arm arm, Seen seen = [](size_t) {}) const {
    auto c = std::make_unique<Converter>();
    c->Init((root_ + "/work").c_str(), 1, 0);
    c->INIFileDelete();
    arm();
    std::vector<ResultCode> results;
    for (size_t j = 0; j < s.jobs.size(); ++j) {
      results.push_back(c->Proc(Logger(j).c_str(), (root_ + "/dest").c_str(), s.jobs[j].kind,
                                s.jobs[j].method, 0));
      if (results.back() != kOk) break;
      seen(j);
    }
    return results;
  }

  // Every file below dest.
  Files Snapshot() const {
    Files files;
    std::string dest = root_ + "/dest/";
    for (auto& e : fs::recursive_directory_iterator(dest)) {
      if (e.is_regular_file()) files[e.path().string().substr(dest.size())] = Slurp(e.path());
    }
    return files;
  }

  const std::string& root() const { return root_; }

 private:
  std::string root_;
};

}  // namespace ravelo::scenarios

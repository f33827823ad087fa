// ravelo convert: one conversion batch of logger files through the library's
// exports, as any host drives them.
#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "cli_common.h"
#include "convert_support.h"
#include "messages.h"
#include "ravelo.h"

namespace ravelo::cli {
namespace {

const char kConvertHelp[] =
    "Usage: ravelo convert [OPTIONS] FILE.Q38... --out DEST\n"
    "\n"
    "Converts each logger file in turn into CSV files below DEST: one file per\n"
    "day in DEST/CSV/Day, or one per month in DEST/CSV/Month. Rows are merged\n"
    "into CSV files that exist already, in time order: a row replaces an existing\n"
    "line of the same time, and every other line is kept. So each new download\n"
    "can be converted into the same folder. The CSV files are code page 932 text\n"
    "with CR LF line ends.\n"
    "\n"
    "File names: a CSV file is named after the logger file's name up to and\n"
    "including its first '_', then the date: A1_0520.Q38 writes A1_20240520.CSV,\n"
    "A1_20240521.CSV and so on. So STATION_A1.Q38 and STATION_B2.Q38, two loggers,\n"
    "would write into the same STATION_YYYYMMDD.CSV files: before converting,\n"
    "the logger's six memo texts are compared with the memo lines of each CSV\n"
    "file it will write into, and a difference is warned about (--strict: the\n"
    "logger file is refused). Give two loggers names that differ before the\n"
    "first '_', or separate folders.\n"
    "\n"
    "Options:\n"
    "  -o, --out DEST       the destination folder; made if it does not exist\n"
    "      --month          one CSV file per month instead of one per day\n"
    "      --day            one CSV file per day (the default)\n"
    "      --replace        replace a CSV file that exists already the first time\n"
    "                       this batch writes to it (its old lines are lost);\n"
    "                       later rows of the batch are merged into it\n"
    "      --merge          always merge into existing CSV files (the default)\n"
    "      --direct         write one CSV file per logger file straight into DEST,\n"
    "                       named after the logger file (LOG_1.Q38 -> LOG_1.CSV)\n"
    "      --midnight-as-24 write a record taken at 00:00:00 as 24:00:00 of the\n"
    "                       day before, so it closes that day (and its file)\n"
    "      --strict         refuse a logger file whose memo texts differ from\n"
    "                       those of a CSV file it would write into\n"
    "      --stop-on-error  stop at the first file that fails\n"
    "      --keep-going     convert the remaining files after a failure (default)\n"
    "      --no-wait        fail at once (exit 3) when another run is converting\n"
    "                       into DEST, instead of waiting for it\n"
    "  -q, --quiet          print failures only\n"
    "  -v, --verbose        also list each CSV file created or merged\n"
    "An option may be given once; --month/--day/--direct, --merge/--replace,\n"
    "--stop-on-error/--keep-going and --quiet/--verbose exclude each other.\n"
    "\n"
    "The batch: within one batch, --replace replaces a file only once, so the\n"
    "rows of several logger files can go into one CSV file. By default one run\n"
    "is one batch, kept in a private folder in $TMPDIR (or /tmp) that is removed\n"
    "at the end; the next run removes those of runs that were killed.\n"
    "      --work-dir DIR   keep the batch's INI files in DIR (which must exist)\n"
    "                       instead, so that the batch goes on over several runs\n"
    "                       (or is shared with another program using DIR and ID)\n"
    "      --id N           the id number in the INI file names (default 1)\n"
    "      --new-batch      with --work-dir: begin a new batch at the start\n"
    "      --end-batch      with --work-dir: end the batch when the run is done\n"
    "DEST and DIR are used as absolute paths without '.', '..' or symbolic\n"
    "links, however they are spelled, so the runs of one batch meet the same\n"
    "files. Paths with a backslash are refused: the library reads '\\' as a\n"
    "folder separator.\n"
    "\n"
    "One run at a time per DEST: a run holds a lock on DEST from start to end;\n"
    "another run into it waits (saying so once) and then converts, as if the\n"
    "two had run one after the other.\n"
    "\n"
    "What is printed, on standard error: warnings and failures, each naming the\n"
    "logger file ('FILE: code N: message', with hints such as a full disk or\n"
    "missing permissions), and at the end a summary: logger files converted and\n"
    "failed, rows read, CSV files created and merged. A logger file that gives\n"
    "no rows fails ('no records converted'). On a terminal the progress within\n"
    "the current file is shown. Messages are in Japanese where the language of\n"
    "LC_ALL, LC_MESSAGES or LANG (the first one set) is Japanese, else English.\n"
    "\n"
    "Exit codes:\n"
    "  0  every file was converted\n"
    "  1  one or more files failed, gave no rows or were refused (--strict);\n"
    "     the others were converted, unless --stop-on-error stopped the run\n"
    "  2  usage error (also: a path with a backslash)\n"
    "  3  the run could not start: DEST or the work folder cannot be made or\n"
    "     written into, another run holds DEST (--no-wait), or the batch cannot\n"
    "     be begun\n"
    "  130 interrupted (Ctrl-C): the file being converted is finished first;\n"
    "     a second Ctrl-C stops at once (143 for SIGTERM, 129 for SIGHUP)\n";

// Set by SIGINT, SIGTERM or SIGHUP: the file in hand is finished, the run
// ends after it and the batch is cleaned up. The handler restores the default
// action, so a second signal ends the program at once.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int signalNumber) { interrupted = signalNumber; }

void CatchInterrupts() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_handler = OnInterrupt;
  action.sa_flags = SA_RESETHAND;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
}


struct Options {
  std::vector<std::string> files;
  std::string out;
  int32_t csvFileKind = 0;   // 0 day files, 1 month files
  int32_t makeMethod = 1;    // 1 always merge, 0 replace once per batch
  int32_t directOutput = 0;
  int32_t dayCntlType = 0;   // 1: 00:00:00 is 24:00:00 of the day before
  std::string workDir;       // empty: a private folder for this run
  int32_t id = 1;
  bool newBatch = false;
  bool endBatch = false;
  bool keepGoing = true;
  bool strict = false;
  bool noWait = false;
  int verbosity = 1;  // 0 failures only, 1 normal, 2 every CSV file
};

bool IsDirectory(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// mkdir -p.
bool MakeFolders(const std::string& path) {
  if (path.empty() || IsDirectory(path)) return true;
  size_t cut = path.find_last_of('/');
  if (cut != std::string::npos && cut > 0 && !MakeFolders(path.substr(0, cut))) return false;
  if (mkdir(path.c_str(), 0777) == 0) return true;
  if (errno != EEXIST) return false;
  if (IsDirectory(path)) return true;
  errno = ENOTDIR;  // a file in the way
  return false;
}

std::string TempBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
}

// The absolute path without ".", ".." or symbolic links; empty on failure.
std::string Canonical(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : std::string();
}

// A folder name that exists nowhere: when the process ends, the library
// deletes the INI files of its work folder as it is unloaded, and a batch kept
// in --work-dir must outlive the run.
std::string VanishedFolder() {
  std::string name = TempBase() + "/ravelo-gone-XXXXXX";
  if (mkdtemp(name.data()) == nullptr) return "/nonexistent/ravelo";
  rmdir(name.c_str());
  return name;
}

// The library takes '\' for a folder separator on every system, so on POSIX
// a\b_1.Q38 would name the file b_1.Q38 in folder a.
int RefuseBackslash(const std::string& path) {
  if (path.find('\\') == std::string::npos) return kExitOk;
  return UsageError("convert", "'" + path +
                                   "': a path with a backslash cannot be used here: the library "
                                   "reads '\\' as a folder separator");
}

int ParseOptions(int argc, char** argv, Options* o, bool* help) {
  bool optionsEnded = false;
  std::set<std::string> seen;  // each option once
  // Options that exclude each other, by the group they set.
  std::string kindBy, methodBy, stopBy, talkBy;
  auto once = [&](const std::string& name) { return seen.insert(name).second; };
  auto exclusive = [&](std::string* group, const char* name) -> int {
    if (!group->empty()) {
      return UsageError("convert", *group + " and " + name + " exclude each other");
    }
    *group = name;
    return kExitOk;
  };
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string value;
    bool missing = false;
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      o->files.push_back(arg);
      continue;
    }
    if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
      continue;
    }
    if (IsHelpOption(arg)) {
      *help = true;
      return kExitOk;
    }
    // The option's name, as given before any "=VALUE"; -o counts as --out,
    // -q as --quiet, -v as --verbose.
    std::string name = arg;
    if (size_t eq = name.find('='); eq != std::string::npos) name.resize(eq);
    if (name == "-o") name = "--out";
    if (name == "-q") name = "--quiet";
    if (name == "-v") name = "--verbose";
    int r = kExitOk;
    if (TakeValue(argc, argv, &i, "--out", &value, &missing) ||
        TakeValue(argc, argv, &i, "-o", &value, &missing)) {
      if (missing || value.empty()) return UsageError("convert", "--out needs a folder");
      o->out = value;
    } else if (std::strcmp(arg, "--month") == 0) {
      o->csvFileKind = 1;
      r = exclusive(&kindBy, "--month");
    } else if (std::strcmp(arg, "--day") == 0) {
      o->csvFileKind = 0;
      r = exclusive(&kindBy, "--day");
    } else if (std::strcmp(arg, "--direct") == 0) {
      o->directOutput = 1;
      r = exclusive(&kindBy, "--direct");
    } else if (std::strcmp(arg, "--replace") == 0) {
      o->makeMethod = 0;
      r = exclusive(&methodBy, "--replace");
    } else if (std::strcmp(arg, "--merge") == 0) {
      o->makeMethod = 1;
      r = exclusive(&methodBy, "--merge");
    } else if (std::strcmp(arg, "--midnight-as-24") == 0) {
      o->dayCntlType = 1;
    } else if (std::strcmp(arg, "--strict") == 0) {
      o->strict = true;
    } else if (std::strcmp(arg, "--no-wait") == 0) {
      o->noWait = true;
    } else if (std::strcmp(arg, "--stop-on-error") == 0) {
      o->keepGoing = false;
      r = exclusive(&stopBy, "--stop-on-error");
    } else if (std::strcmp(arg, "--keep-going") == 0) {
      o->keepGoing = true;
      r = exclusive(&stopBy, "--keep-going");
    } else if (std::strcmp(arg, "-q") == 0 || std::strcmp(arg, "--quiet") == 0) {
      o->verbosity = 0;
      r = exclusive(&talkBy, "--quiet");
    } else if (std::strcmp(arg, "-v") == 0 || std::strcmp(arg, "--verbose") == 0) {
      o->verbosity = 2;
      r = exclusive(&talkBy, "--verbose");
    } else if (TakeValue(argc, argv, &i, "--work-dir", &value, &missing)) {
      if (missing || value.empty()) return UsageError("convert", "--work-dir needs a folder");
      o->workDir = value;
    } else if (TakeValue(argc, argv, &i, "--id", &value, &missing)) {
      int64_t id = 0;
      if (missing || !ParseInt(value.c_str(), INT32_MIN, INT32_MAX, &id)) {
        return UsageError("convert", "--id needs a whole number");
      }
      o->id = static_cast<int32_t>(id);
    } else if (std::strcmp(arg, "--new-batch") == 0) {
      o->newBatch = true;
    } else if (std::strcmp(arg, "--end-batch") == 0) {
      o->endBatch = true;
    } else {
      return UsageError("convert", std::string("unknown option '") + arg + "'");
    }
    if (!once(name)) return UsageError("convert", name + " is given more than once");
    if (r != kExitOk) return r;
  }
  if (o->files.empty()) return UsageError("convert", "no logger file given");
  if (o->out.empty()) return UsageError("convert", "the destination --out DEST is missing");
  if (o->workDir.empty() && (o->newBatch || o->endBatch)) {
    return UsageError("convert", "--new-batch and --end-batch need --work-dir");
  }
  for (const std::string& file : o->files) {
    if (int r = RefuseBackslash(file); r != kExitOk) return r;
  }
  if (int r = RefuseBackslash(o->out); r != kExitOk) return r;
  if (int r = RefuseBackslash(o->workDir); r != kExitOk) return r;
  return kExitOk;
}

// Progress on a terminal: one line, rewritten, with how far the library has
// read the logger file in hand (the position of its open file, a few times a
// second), where the system shows it.
class Progress {
 public:
  explicit Progress(bool on) : on_(on && isatty(STDERR_FILENO) == 1) {}
  ~Progress() { Stop(); }

  void Start(size_t index, size_t count, const std::string& file, uint64_t size) {
    if (!on_) return;
    std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", index + 1, count, file.c_str());
    std::string target = Canonical(file);
    if (target.empty() || size == 0) return;
    stop_ = false;
    thread_ = std::thread([this, index, count, file, size, target] {
      std::unique_lock<std::mutex> hold(mutex_);
      while (!wake_.wait_for(hold, std::chrono::milliseconds(250), [this] { return stop_; })) {
        // The library opens the logger file at once and closes it when its
        // records end; while the last CSV file is finished it is closed.
        const int fd = FindOpenFile(target);
        uint64_t position = size;
        if (fd >= 0) {
          position = PositionOf(fd);
          if (position > size) position = size;
        }
        std::fprintf(stderr, "\r\033[K[%zu/%zu] %s  %.1f / %.1f MB (%d%%)%s", index + 1, count,
                     file.c_str(), static_cast<double>(position) / 1e6,
                     static_cast<double>(size) / 1e6, static_cast<int>(position * 100 / size),
                     fd >= 0 ? "" : ", finishing");
      }
    });
  }
  void Stop() {
    if (thread_.joinable()) {
      {
        std::lock_guard<std::mutex> hold(mutex_);
        stop_ = true;
      }
      wake_.notify_all();
      thread_.join();
    }
  }
  void Clear() {
    Stop();
    if (on_) std::fputs("\r\033[K", stderr);
  }

 private:
  // The descriptor under which the process holds target open, or -1.
  static int FindOpenFile(const std::string& target) {
    int found = -1;
    DIR* dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    while (struct dirent* entry = readdir(dir)) {
      if (entry->d_name[0] == '.') continue;
      char link[PATH_MAX];
      std::string path = std::string("/proc/self/fd/") + entry->d_name;
      ssize_t n = readlink(path.c_str(), link, sizeof link - 1);
      if (n <= 0) continue;
      link[n] = '\0';
      if (target == link) found = std::atoi(entry->d_name);
    }
    closedir(dir);
    return found;
  }
  static uint64_t PositionOf(int fd) {
    std::string path = "/proc/self/fdinfo/" + std::to_string(fd);
    std::FILE* f = std::fopen(path.c_str(), "r");
    if (f == nullptr) return 0;
    unsigned long long position = 0;
    char line[128];
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::sscanf(line, "pos: %llu", &position) == 1) break;
    }
    std::fclose(f);
    return position;
  }

  bool on_;
  bool stop_ = false;
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
};

void Print(const std::string& line) { std::fprintf(stderr, "%s\n", line.c_str()); }

}  // namespace

int RunConvert(int argc, char** argv) {
  Options o;
  bool help = false;
  int parsed = ParseOptions(argc, argv, &o, &help);
  if (help) {
    std::fputs(kConvertHelp, stdout);
    return kExitOk;
  }
  if (parsed != kExitOk) return parsed;

  // The destination, made once and named by its canonical path for the
  // whole run: the INI files list the CSV files by the path they were given.
  if (!MakeFolders(o.out)) {
    Print(Say("ravelo convert: cannot make the destination folder {1}: {2}", ja::kJaCannotMakeDest,
              {o.out, std::strerror(errno)}));
    return kExitSetup;
  }
  const std::string dest = Canonical(o.out);
  if (dest.empty()) {
    Print(Say("ravelo convert: cannot make the destination folder {1}: {2}", ja::kJaCannotMakeDest,
              {o.out, std::strerror(errno)}));
    return kExitSetup;
  }
  const std::string outputFolder =
      o.directOutput != 0 ? dest : dest + (o.csvFileKind == 0 ? "/CSV/Day" : "/CSV/Month");
  for (const std::string& folder : {dest, dest + "/CSV", outputFolder}) {
    struct stat st;
    if (folder != dest && lstat(folder.c_str(), &st) != 0 && errno == ENOENT) continue;
    if (int e = FolderUsable(folder); e != 0) {
      Print(Say("ravelo convert: cannot write into the destination folder {1}: {2}",
                ja::kJaCannotUseDest, {folder, std::strerror(e)}));
      return kExitSetup;
    }
    if (o.directOutput != 0) break;
  }

  // The batch's work folder.
  const bool privateBatch = o.workDir.empty();
  std::string work;
  if (privateBatch) {
    const std::string temp = TempBase();
    if (temp.find('\\') != std::string::npos) {
      Print(Say("ravelo convert: cannot make a work folder in {1}: {2}", ja::kJaCannotMakeWork,
                {temp, "a path with a backslash cannot be used"}));
      return kExitSetup;
    }
    RemoveDeadBatchFolders(temp);
    std::string pattern = PrivateBatchPattern(temp);
    if (mkdtemp(pattern.data()) == nullptr) {
      Print(Say("ravelo convert: cannot make a work folder in {1}: {2}", ja::kJaCannotMakeWork,
                {temp, std::strerror(errno)}));
      return kExitSetup;
    }
    work = Canonical(pattern);
    if (work.empty()) work = pattern;
  } else {
    work = IsDirectory(o.workDir) ? Canonical(o.workDir) : std::string();
    if (work.empty()) {
      Print(Say("ravelo convert: the work folder {1} does not exist", ja::kJaNoWorkDir, {o.workDir}));
      return kExitSetup;
    }
  }

  RaveloInit(work.c_str(), o.id, o.dayCntlType);
  auto endRun = [&](int exitCode) {
    if (privateBatch) {
      RaveloINIFileDelete();
      if (rmdir(work.c_str()) != 0) {
        Print(Say("ravelo convert: warning: cannot remove the work folder {1}: {2}",
                  ja::kJaCannotRemoveWork, {work, std::strerror(errno)}));
      }
    } else {
      if (o.endBatch) {
        int32_t r = RaveloINIFileDelete();
        if (r != 0) {
          Print(Say("ravelo convert: cannot end the batch in {1}: {2}", ja::kJaCannotEnd,
                    {work, ResultText(r)}));
          if (exitCode == kExitOk) exitCode = kExitSetup;
        }
      }
      RaveloInit(VanishedFolder().c_str(), o.id, o.dayCntlType);
    }
    return exitCode;
  };

  // One run at a time into one destination: the lock is on the folder itself
  // and goes with the process, however it ends.
  CatchInterrupts();
  FolderLock lock;
  int locked = lock.Lock(dest, !o.noWait, [&] {
    if (o.verbosity > 0) {
      // On a terminal, the other run's progress line may stand unfinished.
      if (isatty(STDERR_FILENO) == 1) std::fputs("\r\033[K", stderr);
      Print(Say("ravelo convert: waiting for another run into {1} to finish...", ja::kJaWaiting,
                {dest}));
    }
  });
  while (locked == EINTR && interrupted == 0) locked = lock.Lock(dest, true, [] {});
  if (interrupted != 0) {
    Print(Say("ravelo convert: interrupted; {1} file(s) not converted", ja::kJaInterrupted,
              {std::to_string(o.files.size())}));
    return endRun(128 + interrupted);
  }
  if (locked == EWOULDBLOCK) {
    Print(Say("ravelo convert: another run is converting into {1} (--no-wait)", ja::kJaBusy, {dest}));
    return endRun(kExitSetup);
  }
  if (locked != 0) {
    Print(Say("ravelo convert: cannot write into the destination folder {1}: {2}",
              ja::kJaCannotUseDest, {dest, std::strerror(locked)}));
    return endRun(kExitSetup);
  }

  if (privateBatch || o.newBatch) {
    int32_t r = RaveloINIFileDelete();
    if (r != 0) {
      Print(Say("ravelo convert: cannot begin a batch in {1}: {2}", ja::kJaCannotBegin,
                {work, ResultText(r)}));
      return endRun(kExitSetup);
    }
  }

  // The CSV paths as the library lists them in the batch.
  const std::string listedFolder =
      o.directOutput != 0 ? dest : dest + (o.csvFileKind == 0 ? "\\CSV\\Day" : "\\CSV\\Month");

  Progress progress(o.verbosity > 0);
  const FolderSnapshot atStart = SnapshotCsvFiles(outputFolder);
  std::set<std::string> created, merged;
  size_t failed = 0, converted = 0, done = 0;
  uint64_t rows = 0;
  for (size_t i = 0; i < o.files.size() && interrupted == 0; ++i) {
    const std::string& file = o.files[i];
    ++done;
    auto fail = [&](const std::string& text) {
      ++failed;
      progress.Clear();
      Print(text);
    };
    struct stat st;
    if (stat(file.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
      fail(Say("{1}: not a regular file", ja::kJaNotRegular, {file}));
      if (!o.keepGoing) break;
      continue;
    }

    // What the command line can see before the library converts the file.
    const LoggerScan scan = ScanLogger(file, NameStem(file, o.directOutput != 0), o.csvFileKind,
                                       o.directOutput != 0, o.dayCntlType == 1);
    // Said after the conversion, unless the file gave no rows at all.
    std::string areaWarning;
    if (scan.headerRead && scan.missingBytes > 0) {
      areaWarning = Say("{1}: warning: the record area is incomplete: the file ends {2} bytes "
                        "short of it; the records it holds are converted",
                        ja::kJaTruncated, {file, std::to_string(scan.missingBytes)});
    } else if (scan.headerRead && scan.tailBytes > 0) {
      areaWarning = Say("{1}: warning: the record area is not a multiple of 8 bytes; its last {2} "
                        "bytes are ignored",
                        ja::kJaNotMultiple, {file, std::to_string(scan.tailBytes)});
    }
    bool refused = false;
    if (scan.headerRead) {
      const std::set<std::string> listed =
          o.makeMethod == 0 ? BatchListing(work, o.id) : std::set<std::string>();
      std::vector<std::string> differing;
      for (const std::string& name : scan.csvNames) {
        // Under --replace a file the batch has not written yet is replaced, not merged.
        if (o.makeMethod == 0 && listed.count(listedFolder + "\\" + name) == 0) continue;
        std::vector<std::string> memos;
        const std::string csv = outputFolder + "/" + name;
        if (!ReadCsvMemos(csv, &memos)) continue;
        bool same = memos.size() == 6;
        for (size_t m = 0; same && m < 6; ++m) same = memos[m] == scan.memos[m];
        if (!same) differing.push_back(csv);
      }
      // One line per logger file: the first CSV file, and how many more (-v: each).
      std::string where = differing.empty() ? std::string() : differing.front();
      if (differing.size() > 1 && o.verbosity < 2) {
        where += Say(" (and {1} more CSV file(s))", ja::kJaMoreFiles,
                     {std::to_string(differing.size() - 1)});
      }
      if (!differing.empty() && o.strict) {
        fail(Say("{1}: not converted (--strict): its memo texts differ from those in {2}",
                 ja::kJaMemoRefused, {file, where}));
        refused = true;
      } else if (!differing.empty() && o.verbosity > 0) {
        for (size_t d = 0; d < (o.verbosity > 1 ? differing.size() : 1); ++d) {
          Print(Say("{1}: warning: its memo texts differ from those in {2}: a file of another "
                    "logger?",
                    ja::kJaMemoDiffers, {file, d == 0 ? where : differing[d]}));
        }
      }
    }
    if (refused) {
      if (!o.keepGoing) break;
      continue;
    }

    const FolderSnapshot before = SnapshotCsvFiles(outputFolder);
    progress.Start(i, o.files.size(), file, scan.size);
    int32_t r = RaveloProc(file.c_str(), dest.c_str(), o.csvFileKind, o.makeMethod, o.directOutput);
    progress.Stop();
    const FolderSnapshot after = SnapshotCsvFiles(outputFolder);
    std::vector<std::string> lines;  // -v: the files this logger file wrote
    for (const auto& [name, state] : after) {
      auto was = before.find(name);
      if (was != before.end() && was->second == state) continue;
      const bool isNew = atStart.count(name) == 0;
      if (isNew) {
        created.insert(name);
      } else {
        merged.insert(name);
      }
      lines.push_back(Say(isNew && was == before.end() ? "  created {1}" : "  merged {1}",
                          isNew && was == before.end() ? ja::kJaCreated : ja::kJaMerged,
                          {outputFolder + "/" + name}));
    }
    if (o.verbosity > 1) {
      progress.Clear();
      for (const std::string& line : lines) Print(line);
    }
    const bool noRows = r == 0 && (lines.empty() || scan.rows == 0);
    if (!noRows && !areaWarning.empty() && o.verbosity > 0) {
      progress.Clear();
      Print(areaWarning);
    }
    if (noRows) {
      fail(Say("{1}: no records converted: is this a logger file?", ja::kJaNoRecords, {file}));
    } else if (r != 0) {
      fail(file + ": " + ResultText(r));
      for (const std::string& hint : HintsFor(r, file, dest, outputFolder, scan.csvNames)) {
        Print(Say("  hint: {1}", ja::kJaHint, {hint}));
      }
    } else {
      ++converted;
      rows += scan.rows;
      continue;
    }
    if (!o.keepGoing) break;
  }
  progress.Clear();
  if (done < o.files.size()) {
    const std::string left = std::to_string(o.files.size() - done);
    Print(interrupted != 0
              ? Say("ravelo convert: interrupted; {1} file(s) not converted", ja::kJaInterrupted, {left})
              : Say("ravelo convert: stopped at the first failure; {1} file(s) not converted",
                    ja::kJaStopped, {left}));
  }
  if (o.verbosity > 0) {
    const std::string n1 = std::to_string(converted), n2 = std::to_string(failed),
                      n3 = std::to_string(rows), n4 = std::to_string(created.size()),
                      n5 = std::to_string(merged.size());
    Print(o.makeMethod == 0
              ? Say("ravelo convert: {1} logger file(s) converted, {2} failed; {3} rows read; "
                    "{4} CSV file(s) created, {5} replaced or merged",
                    ja::kJaSummaryReplace, {n1, n2, n3, n4, n5})
              : Say("ravelo convert: {1} logger file(s) converted, {2} failed; {3} rows read; "
                    "{4} CSV file(s) created, {5} merged",
                    ja::kJaSummary, {n1, n2, n3, n4, n5}));
  }
  if (interrupted != 0) return endRun(128 + interrupted);
  return endRun(failed > 0 ? kExitFailed : kExitOk);
}

}  // namespace ravelo::cli

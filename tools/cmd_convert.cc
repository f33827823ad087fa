// ravelo convert: one conversion batch of logger files through the library's
// exports, as any host drives them.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli_common.h"
#include "ravelo.h"

namespace ravelo::cli {
namespace {

const char kConvertHelp[] =
    "Usage: ravelo convert [OPTIONS] FILE.Q38... --out DEST\n"
    "\n"
    "Converts each logger file in turn into CSV files below DEST: one file per\n"
    "day in DEST/CSV/Day (named after the logger file's name up to its first\n"
    "'_', then the date, such as A1_20240520.CSV), or one per month in\n"
    "DEST/CSV/Month. Rows are merged into CSV files that exist already, in time\n"
    "order: a row replaces an existing line of the same time, and every other\n"
    "line is kept. So each new download can be converted into the same folder.\n"
    "The CSV files are code page 932 text with CR LF line ends.\n"
    "\n"
    "Options:\n"
    "  -o, --out DEST       the destination folder; made if it does not exist\n"
    "      --month          one CSV file per month instead of one per day\n"
    "      --replace        replace a CSV file that exists already the first time\n"
    "                       this batch writes to it (its old lines are lost);\n"
    "                       later rows of the batch are merged into it\n"
    "      --merge          always merge into existing CSV files (the default)\n"
    "      --direct         write one CSV file per logger file straight into DEST,\n"
    "                       named after the logger file (LOG_1.Q38 -> LOG_1.CSV)\n"
    "      --midnight-as-24 write a record taken at 00:00:00 as 24:00:00 of the\n"
    "                       day before, so it closes that day (and its file)\n"
    "      --stop-on-error  stop at the first file that fails\n"
    "      --keep-going     convert the remaining files after a failure (default)\n"
    "\n"
    "The batch: within one batch, --replace replaces a file only once, so the\n"
    "rows of several logger files can go into one CSV file. By default one run\n"
    "is one batch, kept in a private temporary folder that is removed at the end.\n"
    "      --work-dir DIR   keep the batch's INI files in DIR (which must exist)\n"
    "                       instead, so that the batch goes on over several runs\n"
    "                       (or is shared with another program using DIR and ID)\n"
    "      --id N           the id number in the INI file names (default 1)\n"
    "      --new-batch      with --work-dir: begin a new batch at the start\n"
    "      --end-batch      with --work-dir: end the batch when the run is done\n"
    "\n"
    "Each failure is shown on standard error as 'FILE: code N: message'. Progress\n"
    "is shown on standard error when it is a terminal.\n"
    "\n"
    "Exit codes:\n"
    "  0  every file was converted\n"
    "  1  one or more files failed (the others were converted, unless\n"
    "     --stop-on-error stopped the run)\n"
    "  2  usage error\n"
    "  3  the run could not start: DEST or the work folder cannot be made or\n"
    "     used, or the batch cannot be begun\n"
    "  130 interrupted (Ctrl-C): the file being converted is finished first;\n"
    "     a second Ctrl-C stops at once\n";

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
  return mkdir(path.c_str(), 0777) == 0 || (errno == EEXIST && IsDirectory(path));
}

std::string TempBase() {
  const char* tmp = std::getenv("TMPDIR");
  return tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
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

int ParseOptions(int argc, char** argv, Options* o, bool* help) {
  bool optionsEnded = false;
  for (int i = 1; i < argc; ++i) {
    const char* arg = argv[i];
    std::string value;
    bool missing = false;
    if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
      o->files.push_back(arg);
    } else if (std::strcmp(arg, "--") == 0) {
      optionsEnded = true;
    } else if (IsHelpOption(arg)) {
      *help = true;
      return kExitOk;
    } else if (TakeValue(argc, argv, &i, "--out", &value, &missing) ||
               TakeValue(argc, argv, &i, "-o", &value, &missing)) {
      if (missing || value.empty()) return UsageError("convert", "--out needs a folder");
      o->out = value;
    } else if (std::strcmp(arg, "--month") == 0) {
      o->csvFileKind = 1;
    } else if (std::strcmp(arg, "--day") == 0) {
      o->csvFileKind = 0;
    } else if (std::strcmp(arg, "--replace") == 0) {
      o->makeMethod = 0;
    } else if (std::strcmp(arg, "--merge") == 0) {
      o->makeMethod = 1;
    } else if (std::strcmp(arg, "--direct") == 0) {
      o->directOutput = 1;
    } else if (std::strcmp(arg, "--midnight-as-24") == 0) {
      o->dayCntlType = 1;
    } else if (std::strcmp(arg, "--stop-on-error") == 0) {
      o->keepGoing = false;
    } else if (std::strcmp(arg, "--keep-going") == 0) {
      o->keepGoing = true;
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
  }
  if (o->files.empty()) return UsageError("convert", "no logger file given");
  if (o->out.empty()) return UsageError("convert", "the destination --out DEST is missing");
  if (o->workDir.empty() && (o->newBatch || o->endBatch)) {
    return UsageError("convert", "--new-batch and --end-batch need --work-dir");
  }
  return kExitOk;
}

// Progress on a terminal: one line, rewritten.
class Progress {
 public:
  Progress() : on_(isatty(STDERR_FILENO) == 1) {}
  void Show(size_t index, size_t count, const std::string& file) {
    if (on_) std::fprintf(stderr, "\r\033[K[%zu/%zu] %s", index + 1, count, file.c_str());
  }
  void Clear() {
    if (on_) std::fputs("\r\033[K", stderr);
  }
  bool on() const { return on_; }

 private:
  bool on_;
};

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

  if (!MakeFolders(o.out)) {
    std::fprintf(stderr, "ravelo convert: cannot make the destination folder %s: %s\n",
                 o.out.c_str(), std::strerror(errno));
    return kExitSetup;
  }

  // The batch's work folder.
  const bool privateBatch = o.workDir.empty();
  std::string work = o.workDir;
  if (privateBatch) {
    work = TempBase() + "/ravelo-XXXXXX";
    if (mkdtemp(work.data()) == nullptr) {
      std::fprintf(stderr, "ravelo convert: cannot make a work folder in %s: %s\n",
                   TempBase().c_str(), std::strerror(errno));
      return kExitSetup;
    }
  } else if (!IsDirectory(work)) {
    std::fprintf(stderr, "ravelo convert: the work folder %s does not exist\n", work.c_str());
    return kExitSetup;
  }

  RaveloInit(work.c_str(), o.id, o.dayCntlType);
  auto endRun = [&](int exitCode) {
    if (privateBatch) {
      RaveloINIFileDelete();
      if (rmdir(work.c_str()) != 0) {
        std::fprintf(stderr, "ravelo convert: warning: cannot remove the work folder %s: %s\n",
                     work.c_str(), std::strerror(errno));
      }
    } else {
      if (o.endBatch) {
        int32_t r = RaveloINIFileDelete();
        if (r != 0) {
          std::fprintf(stderr, "ravelo convert: cannot end the batch in %s: %s\n", work.c_str(),
                       ResultText(r).c_str());
          if (exitCode == kExitOk) exitCode = kExitSetup;
        }
      }
      RaveloInit(VanishedFolder().c_str(), o.id, o.dayCntlType);
    }
    return exitCode;
  };

  if (privateBatch || o.newBatch) {
    int32_t r = RaveloINIFileDelete();
    if (r != 0) {
      std::fprintf(stderr, "ravelo convert: cannot begin a batch in %s: %s\n", work.c_str(),
                   ResultText(r).c_str());
      return endRun(kExitSetup);
    }
  }

  CatchInterrupts();
  Progress progress;
  size_t failed = 0, converted = 0, done = 0;
  for (size_t i = 0; i < o.files.size() && interrupted == 0; ++i) {
    const std::string& file = o.files[i];
    progress.Show(i, o.files.size(), file);
    int32_t r = RaveloProc(file.c_str(), o.out.c_str(), o.csvFileKind, o.makeMethod, o.directOutput);
    ++done;
    if (r == 0) {
      ++converted;
      continue;
    }
    ++failed;
    progress.Clear();
    std::fprintf(stderr, "%s: %s\n", file.c_str(), ResultText(r).c_str());
    if (!o.keepGoing) break;
  }
  progress.Clear();
  if (done < o.files.size()) {
    std::fprintf(stderr, "ravelo convert: %s; %zu file(s) not converted\n",
                 interrupted != 0 ? "interrupted" : "stopped at the first failure",
                 o.files.size() - done);
  }
  if (progress.on()) {
    std::fprintf(stderr, "%zu of %zu file(s) converted\n", converted, o.files.size());
  }
  if (interrupted != 0) return endRun(128 + interrupted);
  return endRun(failed > 0 ? kExitFailed : kExitOk);
}

}  // namespace ravelo::cli

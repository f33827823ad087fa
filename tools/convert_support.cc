#include "convert_support.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/logger_file.h"
#include "logger_layout.h"
#include "messages.h"

namespace ravelo::cli {
namespace {

bool EndsWith(const std::string& s, const char* tail) {
  size_t n = std::strlen(tail);
  return s.size() >= n && s.compare(s.size() - n, n, tail) == 0;
}

}  // namespace

std::string NameStem(const std::string& loggerPath, bool direct) {
  size_t slash = loggerPath.find_last_of('/');
  std::string base = slash == std::string::npos ? loggerPath : loggerPath.substr(slash + 1);
  size_t dot = base.find_last_of('.');
  if (dot != std::string::npos) base.resize(dot);
  if (!direct) {
    size_t cut = base.find('_');
    if (cut != std::string::npos) base.resize(cut + 1);
  }
  return base;
}

LoggerScan ScanLogger(const std::string& path, const std::string& nameStem, int kind, bool direct,
                      bool midnightAs24) {
  LoggerScan scan;
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) return scan;
  FdCloser closer{fd};
  scan.opened = true;
  struct stat st;
  if (fstat(fd, &st) == 0) {
    scan.size = static_cast<uint64_t>(st.st_size);
    if (!S_ISREG(st.st_mode)) return scan;  // a folder, say: nothing to read
  }
  uint8_t head[q38::kMemoOffset + 6 * q38::kMemoSize];
  if (ReadAt(fd, 0, head, sizeof head) < static_cast<long long>(sizeof head)) return scan;
  const uint32_t dataEnd = q38::GetU32(&head[2]);
  const uint32_t dataStart = q38::GetU32(&head[6]);
  scan.headerRead = true;
  q38::MemoTexts(&head[q38::kMemoOffset], scan.memos);
  if (dataStart >= 0x80000000u) return scan;  // the library cannot reach the records
  const q38::RecordArea area = q38::RecordAreaOf(dataEnd, dataStart, scan.size);
  scan.missingBytes = area.MissingBytes();
  scan.tailBytes = area.TailBytes();

  std::set<int> keys;
  int lastKey = -1;
  bool haveLast = false;
  q38::Record last;
  WalkRecords(fd, dataStart, area.present, 65536, [&](q38::Record r) {
    if (r.mode == 127) return;
    if (midnightAs24 && r.hour == 0 && r.minute == 0 && r.second == 0) {
      r.hour = 24;
      if (--r.day < 1) {
        if (--r.month < 1) {
          r.month = 12;
          --r.year;
        }
        r.day = q38::DaysInMonth(r.year, r.month);
      }
    }
    if (!haveLast || r.year != last.year || r.month != last.month || r.day != last.day ||
        r.hour != last.hour || r.minute != last.minute || r.second != last.second) {
      ++scan.rows;
    }
    last = r;
    haveLast = true;
    int key = direct ? 0 : (kind == 0 ? r.year * 10000 + r.month * 100 + r.day
                                      : r.year * 100 + r.month);
    if (key != lastKey) {
      keys.insert(key);
      lastKey = key;
    }
  });
  for (int key : keys) {
    char date[16] = "";
    if (!direct) {
      if (kind == 0) {
        std::snprintf(date, sizeof date, "%04d%02d%02d", key / 10000, key / 100 % 100, key % 100);
      } else {
        std::snprintf(date, sizeof date, "%04d%02d", key / 100, key % 100);
      }
    }
    scan.csvNames.insert(nameStem + date + ".CSV");
  }
  return scan;
}

bool ReadCsvMemos(const std::string& path, std::vector<std::string>* memos) {
  memos->clear();
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (f == nullptr) return false;
  char text[4096];
  size_t n = std::fread(text, 1, sizeof text, f);
  std::fclose(f);
  std::string line;
  int lineNumber = 1;
  for (size_t i = 0; i < n && lineNumber <= 7; ++i) {
    if (text[i] != '\n') {
      line += text[i];
      continue;
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (lineNumber >= 2) memos->push_back(line);
    line.clear();
    ++lineNumber;
  }
  return true;
}

FolderSnapshot SnapshotCsvFiles(const std::string& folder) {
  FolderSnapshot files;
  DIR* dir = opendir(folder.c_str());
  if (dir == nullptr) return files;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (!EndsWith(name, ".CSV")) continue;
    struct stat st;
    if (fstatat(dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(st.st_mode)) {
      continue;
    }
    files[name] = FileState{st.st_ino, st.st_size,
                            static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
                            static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
  }
  closedir(dir);
  return files;
}

std::set<std::string> BatchListing(const std::string& workFolder, int32_t id) {
  std::set<std::string> listed;
  for (int kind = 0; kind < 2; ++kind) {
    for (int n = 1; n <= (kind == 0 ? 31 : 12); ++n) {
      char name[64];
      std::snprintf(name, sizeof name, "/MakeCSVExecAttr%s%02d_%02d.ini", kind == 0 ? "Day" : "Month",
                    n, static_cast<int>(id));
      std::FILE* f = std::fopen((workFolder + name).c_str(), "rb");
      if (f == nullptr) continue;
      char line[1024];
      while (std::fgets(line, sizeof line, f) != nullptr) {
        std::string text = line;
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
        if (text.compare(0, 9, "FILE_PATH") != 0) continue;
        size_t eq = text.find('=');
        if (eq != std::string::npos) listed.insert(text.substr(eq + 1));
      }
      std::fclose(f);
    }
  }
  return listed;
}

FolderLock::~FolderLock() {
  if (fd_ >= 0) close(fd_);  // closing releases the lock
}

int FolderLock::Open(const std::string& folder) {
  fd_ = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return fd_ >= 0 ? 0 : errno;
}

int FolderLock::TryLock() { return flock(fd_, LOCK_EX | LOCK_NB) == 0 ? 0 : errno; }

int FolderLock::WaitLock() { return flock(fd_, LOCK_EX) == 0 ? 0 : errno; }

std::string PrivateBatchPattern(const std::string& tempFolder) {
  return tempFolder + "/ravelo-" + std::to_string(getpid()) + "-XXXXXX";
}

void RemoveDeadBatchFolders(const std::string& tempFolder) {
  DIR* dir = opendir(tempFolder.c_str());
  if (dir == nullptr) return;
  while (struct dirent* entry = readdir(dir)) {
    const char* name = entry->d_name;
    if (std::strncmp(name, "ravelo-", 7) != 0) continue;
    char* end = nullptr;
    long pid = std::strtol(name + 7, &end, 10);
    // ravelo-PID-XXXXXX, as PrivateBatchPattern makes them.
    if (end == name + 7 || *end != '-' || std::strlen(end + 1) != 6 || pid <= 0) continue;
    if (pid == getpid() || kill(static_cast<pid_t>(pid), 0) == 0 || errno != ESRCH) continue;
    struct stat st;
    if (fstatat(dirfd(dir), name, &st, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISDIR(st.st_mode) ||
        st.st_uid != getuid()) {
      continue;
    }
    int fd = openat(dirfd(dir), name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) continue;
    if (DIR* batch = fdopendir(fd)) {
      while (struct dirent* file = readdir(batch)) {
        std::string fileName = file->d_name;
        if (fileName.compare(0, 15, "MakeCSVExecAttr") == 0 && EndsWith(fileName, ".ini")) {
          unlinkat(dirfd(batch), file->d_name, 0);
        }
      }
      closedir(batch);
    } else {
      close(fd);
    }
    unlinkat(dirfd(dir), name, AT_REMOVEDIR);  // fails, harmlessly, if anything else is left
  }
  closedir(dir);
}

int FolderUsable(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return errno;
  if (!S_ISDIR(st.st_mode)) return ENOTDIR;
  return access(path.c_str(), W_OK | X_OK) == 0 ? 0 : errno;
}

std::vector<std::string> HintsFor(int32_t code, const std::string& loggerFile,
                                  const std::string& dest, const std::string& outputFolder,
                                  const std::set<std::string>& csvNames) {
  std::vector<std::string> hints;
  if (code == 3 || code == 9) {
    // The reason the system gives for the logger file, where it is not plain.
    struct stat st;
    int e = 0;
    if (stat(loggerFile.c_str(), &st) != 0) {
      e = errno == ENOENT ? 0 : errno;
    } else if (S_ISDIR(st.st_mode)) {
      e = EISDIR;
    } else if (int fd = open(loggerFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd < 0) {
      e = errno;
    } else {
      close(fd);
    }
    if (e != 0) {
      hints.push_back(Say("cannot read {1}: {2}", ja::kJaHintUnreadable, {loggerFile, std::strerror(e)}));
    }
    return hints;
  }
  auto space = [&](const std::string& folder) {
    struct statvfs fs;
    if (statvfs(folder.c_str(), &fs) != 0) return;
    const unsigned long long freeBytes =
        static_cast<unsigned long long>(fs.f_bavail) * static_cast<unsigned long long>(fs.f_frsize);
    if (freeBytes < 1024 * 1024) {
      hints.push_back(Say("only {2} bytes are free on the device of {1} (No space left on device)",
                          ja::kJaHintLowSpace, {folder, std::to_string(freeBytes)}));
    }
    if (fs.f_files != 0 && fs.f_favail == 0) {
      hints.push_back(Say("the file system of {1} has no free inodes (No space left on device)",
                          ja::kJaHintNoInodes, {folder}));
    }
  };
  if (code == 10 || code == 11) {
    const std::string folder = code == 10 ? dest + "/CSV" : outputFolder;
    const std::string parent = folder.substr(0, folder.find_last_of('/'));
    struct stat st;
    if (stat(folder.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
      hints.push_back(Say("{1} is a file, not a folder (Not a directory)", ja::kJaHintNotDir, {folder}));
    } else if (int e = FolderUsable(parent); e != 0) {
      hints.push_back(Say("cannot write into {1}: {2}", ja::kJaHintNoWrite, {parent, std::strerror(e)}));
    }
    space(parent);
    return hints;
  }
  if (code < 21 || code > 26) return hints;
  if (int e = FolderUsable(outputFolder); e != 0) {
    hints.push_back(Say("cannot write into {1}: {2}", ja::kJaHintNoWrite, {outputFolder, std::strerror(e)}));
  }
  space(outputFolder);
  if (code <= 23) {
    struct rlimit limit;
    if (getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
      hints.push_back(Say("the file size limit of this process (ulimit -f) is {1} bytes (File too large)",
                          ja::kJaHintFileLimit, {std::to_string(limit.rlim_cur)}));
    }
  }
  for (const std::string& name : csvNames) {
    const std::string path = outputFolder + "/" + name;
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
      if (errno != ENOENT) {
        hints.push_back(Say("cannot read {1}: {2}", ja::kJaHintUnreadable, {path, std::strerror(errno)}));
      }
      continue;
    }
    struct flock lock = {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    if (fcntl(fd, F_OFD_GETLK, &lock) == 0 && lock.l_type != F_UNLCK) {
      hints.push_back(Say("{1} is held by another program", ja::kJaHintHeld, {path}));
    }
    close(fd);
    if (code == 25) {
      const std::string kept = path.substr(0, path.size() - 4) + ".TMP";
      if (access(kept.c_str(), F_OK) == 0) {
        hints.push_back(Say("the merged rows are kept in {1}: give it the CSV file's name",
                            ja::kJaHintTmpKept, {kept}));
      }
    }
  }
  if (code == 26) {
    hints.push_back(Say("a CSV file in {1} holds a line the converter cannot read "
                        "(edited by another program?)",
                        ja::kJaHintLine, {outputFolder}));
  }
  return hints;
}

}  // namespace ravelo::cli

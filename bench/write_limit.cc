// The physical limit of a conversion's output: writes the very bytes of the
// files a conversion produced into the same number of new files, in the same
// folder layout, in 8192-byte write() calls, as fast as the system takes them.
//
//   write_limit SOURCE DEST
//
// Every regular file below SOURCE is read into memory first (not timed). Then
// the clock runs while DEST and its folders are created with mkdir, and each
// file is created with open(O_CREAT|O_TRUNC), written in 8192-byte blocks and
// closed: the steps the converter cannot avoid. Prints one line:
//   seconds files folders bytes
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlock = 8192;

struct File {
  std::string relative;
  std::vector<char> bytes;
};

bool ReadWhole(const std::string& path, std::vector<char>* bytes) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return false;
  }
  bytes->resize(static_cast<size_t>(st.st_size));
  size_t got = 0;
  while (got < bytes->size()) {
    ssize_t n = read(fd, bytes->data() + got, bytes->size() - got);
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  close(fd);
  return got == bytes->size();
}

// Collects folders (parents first) and files below root, in name order.
bool Walk(const std::string& root, const std::string& relative, std::vector<std::string>* folders,
          std::vector<File>* files) {
  std::string here = relative.empty() ? root : root + "/" + relative;
  DIR* dir = opendir(here.c_str());
  if (!dir) return false;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
      names.push_back(entry->d_name);
  }
  closedir(dir);
  std::sort(names.begin(), names.end());
  for (const std::string& name : names) {
    std::string rel = relative.empty() ? name : relative + "/" + name;
    struct stat st;
    if (lstat((root + "/" + rel).c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) {
      folders->push_back(rel);
      if (!Walk(root, rel, folders, files)) return false;
    } else if (S_ISREG(st.st_mode)) {
      File f;
      f.relative = rel;
      if (!ReadWhole(root + "/" + rel, &f.bytes)) return false;
      files->push_back(std::move(f));
    }
  }
  return true;
}

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: write_limit SOURCE DEST\n");
    return 2;
  }
  const std::string source = argv[1];
  const std::string dest = argv[2];
  std::vector<std::string> folders;
  std::vector<File> files;
  if (!Walk(source, "", &folders, &files)) {
    std::fprintf(stderr, "write_limit: cannot read %s\n", source.c_str());
    return 1;
  }
  size_t total = 0;
  for (const File& f : files) total += f.bytes.size();

  const double start = Now();
  bool ok = mkdir(dest.c_str(), 0777) == 0;
  for (const std::string& folder : folders) ok = ok && mkdir((dest + "/" + folder).c_str(), 0777) == 0;
  for (const File& f : files) {
    if (!ok) break;
    int fd = open((dest + "/" + f.relative).c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0) {
      ok = false;
      break;
    }
    for (size_t at = 0; at < f.bytes.size() && ok; at += kBlock) {
      size_t n = std::min(kBlock, f.bytes.size() - at);
      ok = write(fd, f.bytes.data() + at, n) == static_cast<ssize_t>(n);
    }
    ok = close(fd) == 0 && ok;
  }
  const double seconds = Now() - start;
  if (!ok) {
    std::fprintf(stderr, "write_limit: writing below %s failed: %s\n", dest.c_str(), std::strerror(errno));
    return 1;
  }
  std::printf("%.6f %zu %zu %zu\n", seconds, files.size(), folders.size(), total);
  return 0;
}

// What the file steps that every conversion keeps cost on this machine, on
// their own, without any conversion work: the floor under the day-file
// workloads.
//
//   kept_steps FOLDER [FILES]
//
// In a fresh folder below FOLDER (removed again at the end), FILES times
// (default 365):
//   listing  the INI rewrite of a new file: a ~500-byte text written to a
//            temporary file, flushed, and renamed over the listing (31
//            listings in turn, as day numbers); the folder is flushed once
//            at the end, as a job does;
//   commit   the commit of a merged file: a 133 000-byte temporary file
//            written in 8192-byte blocks, flushed, renamed over the CSV file,
//            and the folder flushed.
// Prints one line per step: name, seconds in all, microseconds per file.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace {

constexpr size_t kBlock = 8192;
constexpr size_t kListingSize = 520;
constexpr size_t kMergedFileSize = 133000;
constexpr int kListings = 31;

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

bool WriteFile(const std::string& path, const std::vector<char>& bytes, bool flush) {
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
  if (fd < 0) return false;
  bool ok = true;
  for (size_t at = 0; ok && at < bytes.size(); at += kBlock) {
    const size_t n = bytes.size() - at < kBlock ? bytes.size() - at : kBlock;
    ok = write(fd, bytes.data() + at, n) == static_cast<ssize_t>(n);
  }
  if (ok && flush) ok = fsync(fd) == 0;
  return close(fd) == 0 && ok;
}

bool FlushFolder(const std::string& folder) {
  int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return false;
  const bool ok = fsync(fd) == 0;
  close(fd);
  return ok;
}

void Report(const char* name, double seconds, int files) {
  std::printf("%-8s %.3f s  %.0f us per file\n", name, seconds, seconds / files * 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2 || argc > 3) {
    std::fprintf(stderr, "usage: kept_steps FOLDER [FILES]\n");
    return 2;
  }
  const int files = argc == 3 ? std::atoi(argv[2]) : 365;
  if (files < 1) return 2;
  std::string root = std::string(argv[1]) + "/kept_steps.XXXXXX";
  if (mkdtemp(root.data()) == nullptr) {
    std::perror(argv[1]);
    return 1;
  }
  const std::string listings = root + "/ini", csv = root + "/csv";
  bool ok = mkdir(listings.c_str(), 0777) == 0 && mkdir(csv.c_str(), 0777) == 0;

  // The files that get replaced, on the disk before the clock runs.
  const std::vector<char> listing(kListingSize, 'L'), merged(kMergedFileSize, 'M');
  for (int i = 0; ok && i < kListings; ++i) {
    ok = WriteFile(listings + "/" + std::to_string(i) + ".ini", listing, false);
  }
  for (int i = 0; ok && i < files; ++i) {
    ok = WriteFile(csv + "/" + std::to_string(i) + ".CSV", merged, false);
  }
  sync();

  double start = Now();
  for (int i = 0; ok && i < files; ++i) {
    const std::string target = listings + "/" + std::to_string(i % kListings) + ".ini";
    ok = WriteFile(target + ".tmp", listing, true) && rename((target + ".tmp").c_str(), target.c_str()) == 0;
  }
  ok = ok && FlushFolder(listings);
  if (ok) Report("listing", Now() - start, files);

  start = Now();
  for (int i = 0; ok && i < files; ++i) {
    const std::string target = csv + "/" + std::to_string(i) + ".CSV";
    ok = WriteFile(target + ".TMP", merged, true) && rename((target + ".TMP").c_str(), target.c_str()) == 0 &&
         FlushFolder(csv);
  }
  if (ok) Report("commit", Now() - start, files);

  for (int i = 0; i < kListings; ++i) unlink((listings + "/" + std::to_string(i) + ".ini").c_str());
  for (int i = 0; i < files; ++i) unlink((csv + "/" + std::to_string(i) + ".CSV").c_str());
  rmdir(listings.c_str());
  rmdir(csv.c_str());
  rmdir(root.c_str());
  if (!ok) {
    std::perror("kept_steps");
    return 1;
  }
  return 0;
}

// Runs a program and reports its wall time and peak resident memory, so that
// the benchmark needs nothing installed.
//
//   measure REPORT PROGRAM [ARGS...]
//
// When the program ends, writes "seconds peak_kib" into the file REPORT and
// exits with the program's status (128 + signal when it was killed). The peak
// is the child's maximum resident set size as the kernel counts it.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <ctime>

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: measure REPORT PROGRAM [ARGS...]\n");
    return 2;
  }
  timespec start, end;
  clock_gettime(CLOCK_MONOTONIC, &start);
  pid_t child = fork();
  if (child < 0) {
    std::perror("fork");
    return 1;
  }
  if (child == 0) {
    execvp(argv[2], argv + 2);
    std::perror(argv[2]);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (wait4(child, &status, 0, &usage) != child) {
    std::perror("wait4");
    return 1;
  }
  clock_gettime(CLOCK_MONOTONIC, &end);
  double seconds = static_cast<double>(end.tv_sec - start.tv_sec) +
                   static_cast<double>(end.tv_nsec - start.tv_nsec) * 1e-9;
  std::FILE* report = std::fopen(argv[1], "w");
  if (!report) {
    std::perror(argv[1]);
    return 1;
  }
  std::fprintf(report, "%.6f %ld\n", seconds, usage.ru_maxrss);
  std::fclose(report);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  if (WIFSIGNALED(status)) return 128 + WTERMSIG(status);
  return 1;
}

// A minimal host of the Ravelo library for the benchmark: loads the shared
// library the way an application does, begins a batch and converts one logger
// file. Keeps the benchmark independent of the command line.
//
//   convert_host [--lib PATH] [--month] [--replace] [--work DIR] [--id N]
//                INPUT DEST
//   convert_host [--lib PATH] --idle      loads the library and does nothing
//
// Exit status 0 on success; otherwise the result code goes to stderr and the
// status is 1.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#ifndef RAVELO_LIBRARY_PATH
#define RAVELO_LIBRARY_PATH "libravelo.so"
#endif

namespace {

using InitFn = void (*)(const char*, int32_t, int32_t);
using IniDeleteFn = int32_t (*)();
using ProcFn = int32_t (*)(const char*, const char*, int32_t, int32_t, int32_t);

int Usage() {
  std::fprintf(stderr,
               "usage: convert_host [--lib PATH] [--month] [--replace] [--work DIR] [--id N] "
               "INPUT DEST\n       convert_host [--lib PATH] --idle\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const char* library = RAVELO_LIBRARY_PATH;
  const char* work = "/tmp";
  int32_t id = 1;
  int32_t kind = 0;
  int32_t method = 1;
  bool idle = false;
  const char* positional[2] = {nullptr, nullptr};
  int positionalCount = 0;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    if (std::strcmp(a, "--lib") == 0 && i + 1 < argc) library = argv[++i];
    else if (std::strcmp(a, "--work") == 0 && i + 1 < argc) work = argv[++i];
    else if (std::strcmp(a, "--id") == 0 && i + 1 < argc) id = std::atoi(argv[++i]);
    else if (std::strcmp(a, "--month") == 0) kind = 1;
    else if (std::strcmp(a, "--replace") == 0) method = 0;
    else if (std::strcmp(a, "--idle") == 0) idle = true;
    else if (a[0] != '-' && positionalCount < 2) positional[positionalCount++] = a;
    else return Usage();
  }
  if (!idle && positionalCount != 2) return Usage();

  void* handle = dlopen(library, RTLD_NOW | RTLD_LOCAL);
  if (!handle) {
    std::fprintf(stderr, "convert_host: %s\n", dlerror());
    return 1;
  }
  auto init = reinterpret_cast<InitFn>(dlsym(handle, "RaveloInit"));
  auto iniDelete = reinterpret_cast<IniDeleteFn>(dlsym(handle, "RaveloINIFileDelete"));
  auto proc = reinterpret_cast<ProcFn>(dlsym(handle, "RaveloProc"));
  if (!init || !iniDelete || !proc) {
    std::fprintf(stderr, "convert_host: %s lacks the Ravelo exports\n", library);
    return 1;
  }
  if (idle) return 0;

  init(work, id, 0);
  int32_t result = iniDelete();
  if (result == 0) result = proc(positional[0], positional[1], kind, method, 0);
  if (result != 0) {
    std::fprintf(stderr, "convert_host: result %d\n", static_cast<int>(result));
    return 1;
  }
  dlclose(handle);
  return 0;
}

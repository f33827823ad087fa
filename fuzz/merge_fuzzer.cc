// libFuzzer driver of FuzzMerge (see targets.h).
#include <cstddef>
#include <cstdint>

#include "targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return ravelo::fuzz::FuzzMerge(data, size);
}

// Message texts of the result codes (code page 932) and the lookup behind
// RaveloErrMsgGet.
#pragma once

#include <cstdint>

#include "api/types.h"

namespace ravelo {

inline constexpr int kMessageSlotSize = 80;

// One zero-padded 80-byte slot per result code 0..26.
extern const char kMessageTable[kResultCodeCount][kMessageSlotSize];

// Copies the text of code with its terminating zero into buffer and returns
// 1; for a code outside 0..26 returns 0 and leaves buffer untouched.
int32_t ErrMsgGet(int32_t code, char* buffer);

}  // namespace ravelo

// The checks of one logger record in the record loop.
#pragma once

#include "api/types.h"

namespace ravelo {

// A record of mode 127: skipped, it neither starts nor joins a row.
inline constexpr ResultCode kSkipRecord = -1;

// kOk when the record may join a row, kSkipRecord, or the result of the first
// check that fails, in this order: channel outside 0..255 (17), mode outside
// 0..127 (18), mode 127 (skip), a wind direction mode with a value outside
// 1..17 (20), a mode without a name (19).
ResultCode CheckLoggerRecord(const LoggerRecord& record);

}  // namespace ravelo

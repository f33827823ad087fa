// The checks of one logger record in the record loop.
#pragma once

#include <cstdint>

#include "api/types.h"

namespace ravelo {

// A record of mode 127: skipped, it neither starts nor joins a row.
inline constexpr ResultCode kSkipRecord = -1;

// kOk when the record may join a row, kSkipRecord, or the result of the first
// check that fails, in this order: channel outside 0..255 (17), mode outside
// 0..127 (18), mode 127 (skip), a wind direction mode with a value outside
// 1..17 (20), a mode without a name (19).
ResultCode CheckLoggerRecord(const LoggerRecord& record);

// What the record checks make of each mode 0..127, for records taken
// straight from the block.
enum class ModeClass : uint8_t { kAccepted, kSkipped, kWindDirection, kRefused };
struct ModeClassTable {
  ModeClass classes[kModeCount];
};
extern const ModeClassTable modeClassTable;
inline ModeClass ModeClassOf(int mode) { return modeClassTable.classes[mode]; }

}  // namespace ravelo

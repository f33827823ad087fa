// The recording modes: column names and units, the compass points of the
// wind direction modes, and the bit of each channel in a row's channel mask.
#pragma once

#include <cstdint>

#include "api/types.h"

namespace ravelo {

// Indexed by recording mode 0..127. Names and units are code page 932 texts
// beginning with ","; an empty name marks a mode that is not defined.
extern const MeasurementKind measurementKindTable[kModeCount];

// Indexed by the raw value 1..17 of a wind direction mode (21, 23, 26, 29);
// entry 0 is empty and unused.
inline constexpr int kCompassPointCount = 18;
extern const char compassPoints[kCompassPointCount][8];

// Channel c lives in byte c / 8 of RowBuffer::channelMask, under the mask
// 0x80 >> (c % 8): channel 0 is the top bit of byte 0.
struct ChannelBit {
  uint8_t byteIndex;
  uint8_t mask;
};
extern const ChannelBit channelBitTable[kChannelCount];

// True when mode is 0..127 and has a name.
inline bool IsDefinedMode(int32_t mode) {
  return mode >= 0 && mode < kModeCount && measurementKindTable[mode].name[0] != '\0';
}

// True for the modes whose value selects a compass point.
inline bool IsWindDirectionMode(int32_t mode) {
  return mode == 21 || mode == 23 || mode == 26 || mode == 29;
}

}  // namespace ravelo

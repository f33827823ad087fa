// The recording modes: column names and units, the compass points of the
// wind direction modes, and the bit of each channel in a row's channel mask.
#pragma once

#include <bit>
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

inline void SetChannelBit(RowBuffer* row, int channel) {
  const ChannelBit& bit = channelBitTable[channel];
  row->channelMask[bit.byteIndex] |= bit.mask;
}

// Calls visit(channel) for each channel present in row, in ascending order,
// until row.recordCount channels have been met or visit returns false.
// Returns false when visit did. The mask is read 64 channels at a time, the
// first channel in the top bit.
template <typename Visit>
inline bool WalkChannels(const RowBuffer& row, Visit visit) {
  int32_t count = 0;
  for (int word = 0; word < kChannelCount / 64; ++word) {
    const uint8_t* b = row.channelMask + word * 8;
    uint64_t bits = (uint64_t{b[0]} << 56) | (uint64_t{b[1]} << 48) | (uint64_t{b[2]} << 40) |
                    (uint64_t{b[3]} << 32) | (uint64_t{b[4]} << 24) | (uint64_t{b[5]} << 16) |
                    (uint64_t{b[6]} << 8) | uint64_t{b[7]};
    while (bits != 0) {
      if (count >= row.recordCount) return true;
      const int lead = std::countl_zero(bits);
      if (!visit(word * 64 + lead)) return false;
      ++count;
      bits &= ~(uint64_t{1} << (63 - lead));
    }
    if (count >= row.recordCount) return true;
  }
  return true;
}

// True when mode is 0..127 and has a name.
inline bool IsDefinedMode(int32_t mode) {
  return mode >= 0 && mode < kModeCount && measurementKindTable[mode].name[0] != '\0';
}

// True for the modes whose value selects a compass point.
inline bool IsWindDirectionMode(int32_t mode) {
  return mode == 21 || mode == 23 || mode == 26 || mode == 29;
}

}  // namespace ravelo

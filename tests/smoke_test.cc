#include <gtest/gtest.h>

#include "api/types.h"

namespace ravelo {
namespace {

TEST(OrderingKey, WrapsModulo32Bits) {
  EXPECT_EQ(static_cast<uint32_t>(OrderingKey(2005, 3, 5, 12, 34, 0)), 186921240u);
  EXPECT_EQ(static_cast<uint32_t>(OrderingKey(1999, 12, 31, 24, 0, 0)), 4294444696u);
}

}  // namespace
}  // namespace ravelo

#include <gtest/gtest.h>

#include <cstdint>

#include "app/main_loop.h"

namespace {

constexpr Uint64 budgetNs = 16666666;  // 1/60 s, truncated

TEST(FramePacing, WaitsOutTheRestOfTheBudget) {
  EXPECT_NEAR(static_cast<double>(FrameDelayNs(0)), budgetNs, 1.0);
  EXPECT_NEAR(static_cast<double>(FrameDelayNs(10'000'000)), budgetNs - 10'000'000, 1.0);
  EXPECT_NEAR(static_cast<double>(FrameDelayNs(16'000'000)), 666'666, 1.0);
}

TEST(FramePacing, AFrameAsLongAsTheBudgetOrLongerDoesNotWait) {
  for (Uint64 elapsed :
       {Uint64{16'666'667}, Uint64{16'700'000}, Uint64{400'000'000}, Uint64{1} << 63, UINT64_MAX}) {
    EXPECT_EQ(FrameDelayNs(elapsed), 0u) << elapsed;
  }
}

TEST(FramePacing, AFrameAndItsDelayNeverExceedTheBudget) {
  for (Uint64 elapsed = 0; elapsed < budgetNs; elapsed += 999'983) {
    EXPECT_LE(FrameDelayNs(elapsed) + elapsed, budgetNs + 1) << elapsed;
  }
}

}  // namespace

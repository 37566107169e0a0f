#include <gtest/gtest.h>

#include "app/main_loop.h"

// The rest of the 1/60 s budget, or nothing for a frame that took the whole budget or longer.
TEST(FramePacing, WaitsOutTheRestOfTheBudgetAndNeverWraps) {
  const std::pair<Uint64, Uint64> cases[] = {
      {0, 16'666'666},  {10'000'000, 6'666'666}, {16'000'000, 666'666}, {16'666'667, 0},
      {400'000'000, 0}, {Uint64{1} << 63, 0},    {UINT64_MAX, 0}};
  for (const auto [elapsed, delay] : cases) {
    EXPECT_NEAR(static_cast<double>(FrameDelayNs(elapsed)), static_cast<double>(delay), 1.0)
        << elapsed;
  }
}

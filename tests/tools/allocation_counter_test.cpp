// The heap allocation counter behind the benchmark's per-frame allocation figures.

#include "tools/allocation_counter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>

namespace {

// Kept where the optimiser cannot see that nothing reads it, so no allocation is elided.
void* volatile sink = nullptr;

TEST(AllocationCounter, CountsEveryOperatorNewAndEveryCAllocation) {
  if (!AllocationsCounted()) GTEST_SKIP() << "this build does not count allocations";

  AllocationCounts before = CurrentAllocationCounts();
  sink = new int(1);
  delete static_cast<int*>(sink);
  sink = new int[4];
  delete[] static_cast<int*>(sink);
  sink = new (std::nothrow) double(2.0);
  delete static_cast<double*>(sink);
  sink = ::operator new(64, std::align_val_t{64});
  ::operator delete(sink, std::align_val_t{64});
  AllocationCounts after = CurrentAllocationCounts();
  EXPECT_EQ(after.newCalls - before.newCalls, 4u);
  EXPECT_EQ(after.mallocCalls - before.mallocCalls, 0u);

  before = CurrentAllocationCounts();
  sink = std::malloc(16);
  sink = std::realloc(sink, 4096);
  std::free(sink);
  sink = std::calloc(4, 8);
  std::free(sink);
  void* aligned = nullptr;
  ASSERT_EQ(posix_memalign(&aligned, 64, 100), 0);
  std::free(aligned);
  sink = std::aligned_alloc(64, 128);
  std::free(sink);
  after = CurrentAllocationCounts();
  EXPECT_EQ(after.mallocCalls - before.mallocCalls, 5u);
  EXPECT_EQ(after.newCalls - before.newCalls, 0u);
}

}  // namespace

// The tools' own helpers: the size options and the heap allocation counter.
#include "tools/tool_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <new>
#include <vector>

#include "tools/allocation_counter.h"

namespace {

TEST(ToolOptions, SizesAreTwoPositiveNumbersAroundAnX) {
  PixelSize size;
  ASSERT_TRUE(ParseSize("1920x1080", size));
  EXPECT_EQ(size.width, 1920);
  EXPECT_EQ(size.height, 1080);
  for (const char* bad :
       {"", "1920", "1920x", "x1080", "0x10", "10x-1", "10x10x", "10*10", "10x10 ", "ax10"}) {
    EXPECT_FALSE(ParseSize(bad, size)) << '"' << bad << '"';
  }

  std::vector<PixelSize> sizes;
  ASSERT_TRUE(ParseSizeList("64x36,1000x256", sizes));
  ASSERT_EQ(sizes.size(), 2u);
  EXPECT_EQ(sizes[1].width, 1000);
  EXPECT_EQ(sizes[1].height, 256);
  for (const char* bad : {"", ",", "64x36,", ",64x36", "64x36,,10x4", "64x36;10x4"}) {
    EXPECT_FALSE(ParseSizeList(bad, sizes)) << '"' << bad << '"';
  }
}

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

TEST(AllocationCounter, FreeingCountsNothing) {
  if (!AllocationsCounted()) GTEST_SKIP() << "this build does not count allocations";
  sink = std::malloc(32);
  void* object = new int(3);
  const AllocationCounts before = CurrentAllocationCounts();
  std::free(sink);
  delete static_cast<int*>(object);
  const AllocationCounts after = CurrentAllocationCounts();
  EXPECT_EQ(after.newCalls, before.newCalls);
  EXPECT_EQ(after.mallocCalls, before.mallocCalls);
}

}  // namespace

// Counts the heap allocations of the whole process, every thread together: calls to the global
// operator new and to the C allocation functions (malloc, calloc, realloc and the aligned ones).
// Sanitizer builds bring their own allocator, so there nothing is counted.
#pragma once

struct AllocationCounts {
  unsigned long long newCalls = 0;
  unsigned long long mallocCalls = 0;
};

// False when this build does not count (the counts then stay 0).
bool AllocationsCounted();

AllocationCounts CurrentAllocationCounts();

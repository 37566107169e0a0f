#include "tools/allocation_counter.h"

#ifdef VELMORA_COUNT_ALLOCATIONS

#include <atomic>
#include <cerrno>
#include <cstddef>
#include <new>

// glibc's allocator under its own names, so that the counting versions below can forward to it.
extern "C" {
void* __libc_malloc(std::size_t size);
void* __libc_calloc(std::size_t count, std::size_t size);
void* __libc_realloc(void* pointer, std::size_t size);
void* __libc_memalign(std::size_t alignment, std::size_t size);
void* __libc_valloc(std::size_t size);
void* __libc_pvalloc(std::size_t size);
}

namespace {

std::atomic<unsigned long long> newCalls{0};
std::atomic<unsigned long long> mallocCalls{0};

void* CountedNew(std::size_t size) {
  newCalls.fetch_add(1, std::memory_order_relaxed);
  return __libc_malloc(size ? size : 1);
}

void* CountedAlignedNew(std::size_t size, std::align_val_t alignment) {
  newCalls.fetch_add(1, std::memory_order_relaxed);
  return __libc_memalign(static_cast<std::size_t>(alignment), size ? size : 1);
}

void CountMalloc() {
  mallocCalls.fetch_add(1, std::memory_order_relaxed);
}

}  // namespace

bool AllocationsCounted() {
  return true;
}

AllocationCounts CurrentAllocationCounts() {
  return {newCalls.load(std::memory_order_relaxed), mallocCalls.load(std::memory_order_relaxed)};
}

// The C allocation functions of this executable take the place of glibc's for every library in
// the process, the GL driver included; free stays glibc's, which releases either kind.
extern "C" {

void* malloc(std::size_t size) {
  CountMalloc();
  return __libc_malloc(size);
}

void* calloc(std::size_t count, std::size_t size) {
  CountMalloc();
  return __libc_calloc(count, size);
}

void* realloc(void* pointer, std::size_t size) {
  CountMalloc();
  return __libc_realloc(pointer, size);
}

void* memalign(std::size_t alignment, std::size_t size) {
  CountMalloc();
  return __libc_memalign(alignment, size);
}

void* aligned_alloc(std::size_t alignment, std::size_t size) {
  CountMalloc();
  return __libc_memalign(alignment, size);
}

int posix_memalign(void** result, std::size_t alignment, std::size_t size) {
  CountMalloc();
  const bool powerOfTwo = alignment != 0 && (alignment & (alignment - 1)) == 0;
  if (!powerOfTwo || alignment % sizeof(void*) != 0) return EINVAL;
  void* pointer = __libc_memalign(alignment, size);
  if (!pointer) return ENOMEM;
  *result = pointer;
  return 0;
}

void* valloc(std::size_t size) {
  CountMalloc();
  return __libc_valloc(size);
}

void* pvalloc(std::size_t size) {
  CountMalloc();
  return __libc_pvalloc(size);
}

}  // extern "C"

void* operator new(std::size_t size) {
  if (void* pointer = CountedNew(size)) return pointer;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size) {
  if (void* pointer = CountedNew(size)) return pointer;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
  return CountedNew(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
  return CountedNew(size);
}

void* operator new(std::size_t size, std::align_val_t alignment) {
  if (void* pointer = CountedAlignedNew(size, alignment)) return pointer;
  throw std::bad_alloc();
}

void* operator new[](std::size_t size, std::align_val_t alignment) {
  if (void* pointer = CountedAlignedNew(size, alignment)) return pointer;
  throw std::bad_alloc();
}

void* operator new(std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return CountedAlignedNew(size, alignment);
}

void* operator new[](std::size_t size, std::align_val_t alignment, const std::nothrow_t&) noexcept {
  return CountedAlignedNew(size, alignment);
}

#else

bool AllocationsCounted() {
  return false;
}

AllocationCounts CurrentAllocationCounts() {
  return {};
}

#endif

#include "stream/allocation.h"

#include <atomic>
#include <cstdlib>

namespace kalvora {

namespace {
// -1: no fault planned. Otherwise the number of allocations still allowed.
std::atomic<long> allowedAllocations{-1};
}  // namespace

bool AllocationAllowed() {
  long left = allowedAllocations.load(std::memory_order_relaxed);
  if (left < 0) return true;
  if (left == 0) return false;
  allowedAllocations.store(left - 1, std::memory_order_relaxed);
  return true;
}

void* TryAllocate(std::size_t size) {
  if (!AllocationAllowed()) return nullptr;
  return std::malloc(size == 0 ? 1 : size);
}

void* TryReallocate(void* memory, std::size_t size) {
  if (!AllocationAllowed()) return nullptr;
  return std::realloc(memory, size == 0 ? 1 : size);
}

void ReleaseMemory(void* memory) {
  std::free(memory);
}

void FailAllocationsAfter(long count) {
  allowedAllocations.store(count < 0 ? -1 : count, std::memory_order_relaxed);
}

}  // namespace kalvora

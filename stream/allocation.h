// Memory for the core: every allocation that can fail goes through here, so
// that running out of memory is a result (null) and never an abort, and so
// that tests can make a chosen allocation fail.
#pragma once

#include <cstddef>
#include <new>

namespace kalvora {

// Allocates size bytes (at least one); null when memory runs out.
void* TryAllocate(std::size_t size);

// Resizes what TryAllocate gave, keeping its content up to the smaller size;
// null when memory runs out, and the old memory is then still held.
void* TryReallocate(void* memory, std::size_t size);

// Frees what TryAllocate gave; null is allowed.
void ReleaseMemory(void* memory);

// True when the next allocation may go ahead; false when a test made it fail.
bool AllocationAllowed();

// Constructs a T with new (std::nothrow); null when memory runs out.
template <class T>
T* TryNew() {
  if (!AllocationAllowed()) return nullptr;
  return new (std::nothrow) T();
}

// Test hook: the allocation after `count` more successful ones fails, and so
// does every one after it, until the hook is cleared with -1.
void FailAllocationsAfter(long count);

}  // namespace kalvora

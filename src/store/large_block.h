#pragma once

#include <cstddef>

namespace velmora::store {

// Memory for a table that may grow to hundreds of MiB (a million contacts):
// such a block is asked for in huge pages where the system offers them, so
// that filling it takes a few hundred page faults instead of tens of
// thousands. Smaller blocks come from the ordinary heap.
void* allocateLargeBlock(std::size_t bytes);
void freeLargeBlock(void* block, std::size_t bytes) noexcept;

template <class T> struct LargeBlockAllocator {
    using value_type = T; // NOLINT(readability-identifier-naming): the allocator interface's name
    LargeBlockAllocator() = default;
    template <class U> LargeBlockAllocator(const LargeBlockAllocator<U>&) noexcept {}
    T* allocate(std::size_t n) { return static_cast<T*>(allocateLargeBlock(n * sizeof(T))); }
    void deallocate(T* block, std::size_t n) noexcept { freeLargeBlock(block, n * sizeof(T)); }
    template <class U> bool operator==(const LargeBlockAllocator<U>&) const noexcept {
        return true;
    }
};

} // namespace velmora::store

#include "store/large_block.h"

#include <cstdlib>
#include <new>
#include <sys/mman.h>

namespace velmora::store {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Below this a block gains little from huge pages and would waste up to
// half of one.
constexpr std::size_t kLargeBlock = 4 * kHugePage;

std::size_t roundedToHugePages(std::size_t bytes) {
    return (bytes + kHugePage - 1) / kHugePage * kHugePage;
}

} // namespace

void* allocateLargeBlock(std::size_t bytes) {
    if (bytes < kLargeBlock) {
        return ::operator new(bytes);
    }
    void* block = std::aligned_alloc(kHugePage, roundedToHugePages(bytes));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
#ifdef MADV_HUGEPAGE
    // Only advice: without huge pages the block works as any other.
    ::madvise(block, roundedToHugePages(bytes), MADV_HUGEPAGE);
#endif
    return block;
}

void freeLargeBlock(void* block, std::size_t bytes) noexcept {
    if (bytes < kLargeBlock) {
        ::operator delete(block);
    } else {
        std::free(block);
    }
}

} // namespace velmora::store

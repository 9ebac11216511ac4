#include "store/text_arena.h"

#include "store/large_block.h"

#include <algorithm>

namespace velmora::store {

namespace {

// Blocks grow with the arena, from a size that suits a small session to one
// that a million records fill a few dozen of.
constexpr std::size_t kFirstBlockBytes = std::size_t{64} << 10;
constexpr std::size_t kLargestBlockBytes = std::size_t{8} << 20;
// A text this long gets a block of its own, so that the unused end of a
// block is all an arena ever wastes.
constexpr std::size_t kOwnBlockBytes = std::size_t{64} << 10;

} // namespace

void TextArena::release() noexcept {
    for (const Block& block : blocks_) {
        freeLargeBlock(block.bytes, block.size);
    }
    blocks_.clear();
    cursor_ = nullptr;
    left_ = 0;
    reserved_ = 0;
}

char* TextArena::allocateSlow(std::size_t n) {
    const bool own = n >= kOwnBlockBytes;
    const std::size_t size =
        own ? n : std::min(kLargestBlockBytes, std::max(kFirstBlockBytes, reserved_));
    blocks_.reserve(blocks_.size() + 1);
    char* bytes = static_cast<char*>(allocateLargeBlock(size));
    blocks_.push_back({bytes, size});
    reserved_ += size;
    if (own) {
        return bytes;
    }
    cursor_ = bytes + n;
    left_ = size - n;
    return bytes;
}

} // namespace velmora::store

#include "store/text_arena.h"

namespace {

constexpr std::size_t kBlockBytes = 1 << 20;
// A text this long gets a block of its own, so that the unused end of the
// current block (at most this much) is all an arena ever wastes.
constexpr std::size_t kOwnBlockBytes = kBlockBytes / 16;

} // namespace

char* TextArena::allocateSlow(std::size_t n) {
    if (n >= kOwnBlockBytes) {
        blocks_.push_back(std::make_unique_for_overwrite<char[]>(n));
        reserved_ += n;
        return blocks_.back().get();
    }
    blocks_.push_back(std::make_unique_for_overwrite<char[]>(kBlockBytes));
    reserved_ += kBlockBytes;
    cursor_ = blocks_.back().get() + n;
    left_ = kBlockBytes - n;
    return blocks_.back().get();
}

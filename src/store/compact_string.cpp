#include "store/compact_string.h"

#include "store/text_arena.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora::store {

namespace {

// The length is kept in 32 bits.
void checkLength(std::size_t n) {
    if (n > UINT32_MAX) {
        throw std::length_error("CompactString: text longer than 4 GiB");
    }
}

} // namespace

void CompactString::copyRaw(const CompactString& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
}

void CompactString::assignFrom(std::string_view text) {
    char* storage = allocate(text.size());
    if (!text.empty()) {
        std::memcpy(storage, text.data(), text.size());
    }
}

char* CompactString::allocate(std::size_t n) {
    if (n <= kInlineCapacity) {
        bytes_[15] = static_cast<unsigned char>(n);
        return reinterpret_cast<char*>(bytes_);
    }
    checkLength(n);
    auto* block = static_cast<char*>(std::malloc(n));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    pointAt(block, n, kHeapTag);
    return block;
}

void CompactString::pointAt(char* text, std::size_t n, unsigned char tag) noexcept {
    const auto length = static_cast<std::uint32_t>(n);
    std::memcpy(bytes_, &text, sizeof text);
    std::memcpy(bytes_ + 8, &length, sizeof length);
    bytes_[15] = tag;
}

char* CompactString::overwrite(std::size_t n) {
    release();
    return allocate(n);
}

char* CompactString::overwrite(std::size_t n, TextArena& arena) {
    if (n <= kInlineCapacity) {
        return overwrite(n);
    }
    checkLength(n);
    release();
    char* text = arena.allocate(n);
    pointAt(text, n, kArenaTag);
    return text;
}

void CompactString::release() noexcept {
    if (ownsBlock()) {
        std::free(outOfLinePointer());
    }
    clearInline();
}

} // namespace velmora::store

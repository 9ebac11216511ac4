#include "store/compact_string.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

namespace velmora::store {

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
    if (n > UINT32_MAX) {
        throw std::length_error("CompactString: text longer than 4 GiB");
    }
    auto* block = static_cast<char*>(std::malloc(n));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    const auto length = static_cast<std::uint32_t>(n);
    std::memcpy(bytes_, &block, sizeof block);
    std::memcpy(bytes_ + 8, &length, sizeof length);
    bytes_[15] = kHeapTag;
    return block;
}

char* CompactString::overwrite(std::size_t n) {
    if (isHeap()) {
        std::free(heapPointer());
        clearInline();
    }
    return allocate(n);
}

void CompactString::release() noexcept {
    if (isHeap()) {
        std::free(heapPointer());
        clearInline();
    }
}

} // namespace velmora::store

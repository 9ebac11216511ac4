#include "store/compact_string.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

void CompactString::copyRaw(const CompactString& other) noexcept {
    std::memcpy(bytes_, other.bytes_, sizeof bytes_);
}

void CompactString::assignFrom(std::string_view text) {
    if (text.size() <= kInlineCapacity) {
        if (!text.empty()) {
            std::memcpy(bytes_, text.data(), text.size());
        }
        bytes_[15] = static_cast<unsigned char>(text.size());
        return;
    }
    if (text.size() > UINT32_MAX) {
        throw std::length_error("CompactString: text longer than 4 GiB");
    }
    auto* block = static_cast<char*>(std::malloc(text.size()));
    if (block == nullptr) {
        throw std::bad_alloc();
    }
    std::memcpy(block, text.data(), text.size());
    const auto length = static_cast<std::uint32_t>(text.size());
    std::memcpy(bytes_, &block, sizeof block);
    std::memcpy(bytes_ + 8, &length, sizeof length);
    bytes_[15] = kHeapTag;
}

void CompactString::release() noexcept {
    if (isHeap()) {
        std::free(heapPointer());
        clearInline();
    }
}

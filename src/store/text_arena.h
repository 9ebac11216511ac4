#pragma once

#include <cstddef>
#include <vector>

namespace velmora::store {

// Storage for the long texts of the records a session file brings. A million
// contacts hold about two million texts too long to keep inline; taking each
// from a large block instead of its own heap block saves a malloc, a free and
// the allocator's per-block overhead. Nothing is given back one text at a
// time: a text that is replaced stays until the arena goes, so an arena lives
// exactly as long as the tables whose strings point into it.
class TextArena {
public:
    TextArena() = default;
    TextArena(const TextArena&) = delete;
    TextArena& operator=(const TextArena&) = delete;
    TextArena(TextArena&&) = delete;
    TextArena& operator=(TextArena&&) = delete;
    ~TextArena() { release(); }

    // `n` bytes (n > 0) that stay valid for the arena's life.
    char* allocate(std::size_t n) {
        if (n > left_) {
            return allocateSlow(n);
        }
        char* text = cursor_;
        cursor_ += n;
        left_ -= n;
        return text;
    }
    // Bytes taken from the system, used or not.
    std::size_t bytesReserved() const { return reserved_; }

private:
    char* allocateSlow(std::size_t n);

    struct Block {
        char* bytes;
        std::size_t size;
    };
    void release() noexcept;

    std::vector<Block> blocks_;
    char* cursor_ = nullptr;
    std::size_t left_ = 0;
    std::size_t reserved_ = 0;
};

} // namespace velmora::store

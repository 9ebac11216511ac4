#pragma once

#include <compare>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace velmora::store {

// A 16-byte string for record fields. A session holds a million contacts of
// nine text fields each; std::string's 32 bytes per field would double the
// table's footprint. Texts of up to 15 bytes live inline, longer ones in one
// heap block. Read it as a std::string_view; assign any string to it.
class CompactString {
public:
    CompactString() noexcept { clearInline(); }
    CompactString(std::string_view text) { assignFrom(text); }
    CompactString(const char* text) : CompactString(std::string_view(text)) {}
    CompactString(const std::string& text) : CompactString(std::string_view(text)) {}
    CompactString(const CompactString& other) { assignFrom(other.view()); }
    CompactString(CompactString&& other) noexcept {
        copyRaw(other);
        other.clearInline();
    }
    ~CompactString() {
        if (isHeap()) {
            release();
        }
    }

    CompactString& operator=(const CompactString& other) {
        if (this != &other) {
            assign(other.view());
        }
        return *this;
    }
    CompactString& operator=(CompactString&& other) noexcept {
        if (this != &other) {
            release();
            copyRaw(other);
            other.clearInline();
        }
        return *this;
    }
    CompactString& operator=(std::string_view text) {
        assign(text);
        return *this;
    }
    CompactString& operator=(const char* text) { return *this = std::string_view(text); }
    CompactString& operator=(const std::string& text) { return *this = std::string_view(text); }

    void assign(std::string_view text) {
        // The source may point into this string's own storage.
        CompactString fresh(text);
        *this = std::move(fresh);
    }

    // Makes the string `n` bytes long and returns its storage for the caller
    // to fill: the reader's way to decode a field straight into place. The
    // old contents are gone.
    char* overwrite(std::size_t n);

    std::string_view view() const noexcept { return {data(), size()}; }
    operator std::string_view() const noexcept { return view(); }
    std::string str() const { return std::string(view()); }
    const char* data() const noexcept {
        return isHeap() ? heapPointer() : reinterpret_cast<const char*>(bytes_);
    }
    std::size_t size() const noexcept {
        if (!isHeap()) {
            return bytes_[15];
        }
        std::uint32_t length = 0;
        std::memcpy(&length, bytes_ + 8, sizeof length);
        return length;
    }
    bool empty() const noexcept { return size() == 0; }

    friend bool operator==(const CompactString& a, const CompactString& b) noexcept {
        return a.view() == b.view();
    }
    friend bool operator==(const CompactString& a, std::string_view b) noexcept {
        return a.view() == b;
    }
    friend bool operator==(const CompactString& a, const char* b) noexcept {
        return a.view() == std::string_view(b);
    }
    friend auto operator<=>(const CompactString& a, const CompactString& b) noexcept {
        return a.view() <=> b.view();
    }

private:
    // Layout: inline, bytes 0..14 hold the text and byte 15 its length;
    // on the heap, bytes 0..7 hold the pointer, 8..11 the length, and byte 15
    // the tag 0xFF. Accessed through memcpy so no union punning is needed.
    static constexpr unsigned char kHeapTag = 0xFF;
    static constexpr std::size_t kInlineCapacity = 15;
    alignas(8) unsigned char bytes_[16];

    bool isHeap() const noexcept { return bytes_[15] == kHeapTag; }
    char* heapPointer() const noexcept {
        char* pointer = nullptr;
        std::memcpy(&pointer, bytes_, sizeof pointer);
        return pointer;
    }
    void clearInline() noexcept { bytes_[15] = 0; }
    void copyRaw(const CompactString& other) noexcept;
    void assignFrom(std::string_view text);
    // Sets the length of a string holding no heap block; returns its storage.
    char* allocate(std::size_t n);
    void release() noexcept;
};

static_assert(sizeof(CompactString) == 16);

inline std::string operator+(std::string left, const CompactString& right) {
    left.append(right.view());
    return left;
}

} // namespace velmora::store

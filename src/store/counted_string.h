#pragma once

#include "store/compact_string.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::store {

class TextArena;

// ROT13 of ASCII letters; every other byte stays. Its own inverse.
std::string rot13Text(std::string_view text);
void rot13InPlace(std::string& text);

// Reads the int32 and counted-string encodings front to back, from a file or
// from bytes in memory. It never trusts a count: nothing is allocated beyond
// the bytes left in the input, and reading past the end yields 0 and empty
// strings while `truncated()` records that the input ended early.
class CountedReader {
public:
    // Reads a whole in-memory buffer (which must outlive the reader).
    explicit CountedReader(std::string_view bytes);
    // Reads an open file of `size` bytes through a buffer.
    CountedReader(std::FILE* file, std::uint64_t size);

    std::int32_t readInt32() {
        // Nearly every call finds its four bytes in the buffer.
        if (static_cast<std::size_t>(limit_ - cursor_) >= 4) {
            const auto* b = reinterpret_cast<const unsigned char*>(cursor_);
            cursor_ += 4;
            consumed_ += 4;
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) |
                                             (static_cast<std::uint32_t>(b[1]) << 8) |
                                             (static_cast<std::uint32_t>(b[2]) << 16) |
                                             (static_cast<std::uint32_t>(b[3]) << 24));
        }
        return readInt32Slow();
    }
    // A negative count reads as empty and consumes only the count. With a
    // maximum of 0 or more, a longer text is cut to it and the rest stays
    // unread. Returns the raw bytes as stored.
    std::string readCountedString(std::int32_t maximum = -1);
    // A counted string as text: optionally un-scrambled, then taken as
    // UTF-8 or converted from Windows-1252.
    std::string readText(bool scrambled = false);
    void readText(CompactString& into, bool scrambled = false);
    // The same with a long text's storage taken from `arena` (see
    // CompactString::overwrite).
    void readText(CompactString& into, TextArena& arena, bool scrambled = false);
    // A table count as stored; a negative count is 0.
    std::int32_t readCount();
    // How many of `count` records of at least `minRecordBytes` each the rest
    // of the input can hold: the most a reader may reserve room for.
    std::size_t recordsThatFit(std::int32_t count, std::uint32_t minRecordBytes) const;

    std::uint64_t remaining() const { return size_ - consumed_; }
    bool truncated() const { return truncated_; }
    bool atEnd() const { return consumed_ >= size_; }
    // The input could not be read (an I/O error, not a short file).
    bool failed() const { return failed_; }

private:
    std::int32_t readInt32Slow();
    // Makes up to `n` bytes available at `cursor_`; returns how many.
    std::size_t fill(std::size_t n);
    std::size_t readBytes(char* out, std::size_t n);
    std::string_view readRaw(std::size_t n);
    template <class Storage>
    void readTextInto(CompactString& into, bool scrambled, Storage&& storage);

    std::FILE* file_ = nullptr;
    std::vector<char> buffer_;
    const char* cursor_ = nullptr;
    const char* limit_ = nullptr;
    std::uint64_t size_ = 0;
    std::uint64_t consumed_ = 0;
    bool truncated_ = false;
    bool failed_ = false;
};

// Writes the same encodings into a growing buffer that is handed to a file
// in large blocks, or kept whole for the caller.
class CountedWriter {
public:
    CountedWriter() = default;
    // Blocks of about 1 MiB go to `file` as they fill.
    explicit CountedWriter(std::FILE* file);

    void writeInt32(std::int32_t value);
    // Writes the byte count, then the bytes.
    void writeCountedString(std::string_view text);
    void writeScrambled(std::string_view text);

    // Hands what is buffered to the file; false when the file refused it.
    bool flush();
    bool failed() const { return failed_; }
    // The bytes written so far, when there is no file.
    const std::string& bytes() const { return buffer_; }

private:
    void flushIfLarge();

    std::FILE* file_ = nullptr;
    std::string buffer_;
    bool failed_ = false;
};

} // namespace velmora::store

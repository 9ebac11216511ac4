#include "store/counted_string.h"

#include "store/text_encoding.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>

namespace {

constexpr std::size_t kBlockSize = 1 << 20;

constexpr std::array<unsigned char, 256> makeRot13Table() {
    std::array<unsigned char, 256> table{};
    for (int c = 0; c < 256; ++c) {
        int r = c;
        if (c >= 'A' && c <= 'Z') {
            r = 'A' + (c - 'A' + 13) % 26;
        } else if (c >= 'a' && c <= 'z') {
            r = 'a' + (c - 'a' + 13) % 26;
        }
        table[static_cast<std::size_t>(c)] = static_cast<unsigned char>(r);
    }
    return table;
}

constexpr auto kRot13 = makeRot13Table();

// ROT13 of `n` bytes from `in` to `out`, written without a table so the
// compiler can do many bytes per step. Returns the OR of the input bytes:
// its high bit says whether any byte was not ASCII.
unsigned char rot13Copy(char* out, const char* in, std::size_t n) {
    unsigned char seen = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        seen |= c;
        // Letters of either case fold onto 'a'..'z'; everything else lands
        // at 26 or beyond and stays.
        const auto k = static_cast<unsigned char>((c | 0x20) - 'a');
        const unsigned char shift =
            k < 13 ? 13 : (k < 26 ? static_cast<unsigned char>(256 - 13) : 0);
        out[i] = static_cast<char>(static_cast<unsigned char>(c + shift));
    }
    return seen;
}

unsigned char plainCopy(char* out, const char* in, std::size_t n) {
    unsigned char seen = 0;
    for (std::size_t i = 0; i < n; ++i) {
        const auto c = static_cast<unsigned char>(in[i]);
        seen |= c;
        out[i] = static_cast<char>(c);
    }
    return seen;
}

} // namespace

void rot13InPlace(std::string& text) {
    for (char& c : text) {
        c = static_cast<char>(kRot13[static_cast<unsigned char>(c)]);
    }
}

std::string rot13Text(std::string_view text) {
    std::string result(text);
    rot13InPlace(result);
    return result;
}

// --- CountedReader

CountedReader::CountedReader(std::string_view bytes)
    : cursor_(bytes.data()), limit_(bytes.data() + bytes.size()), size_(bytes.size()) {}

CountedReader::CountedReader(std::FILE* file, std::uint64_t size)
    : file_(file), buffer_(kBlockSize), cursor_(buffer_.data()), limit_(buffer_.data()),
      size_(size) {}

std::size_t CountedReader::fill(std::size_t n) {
    auto available = static_cast<std::size_t>(limit_ - cursor_);
    if (available >= n || file_ == nullptr || failed_) {
        return std::min(available, n);
    }
    // Move what is left to the front, then top the buffer up from the file.
    if (buffer_.size() < n) {
        std::vector<char> bigger(n);
        std::memcpy(bigger.data(), cursor_, available);
        buffer_.swap(bigger);
    } else {
        std::memmove(buffer_.data(), cursor_, available);
    }
    cursor_ = buffer_.data();
    limit_ = cursor_ + available;
    while (available < n) {
        const std::size_t got =
            std::fread(buffer_.data() + available, 1, buffer_.size() - available, file_);
        if (got == 0) {
            if (std::ferror(file_)) {
                failed_ = true;
            }
            break;
        }
        available += got;
        limit_ = cursor_ + available;
    }
    return std::min(available, n);
}

std::size_t CountedReader::readBytes(char* out, std::size_t n) {
    const std::size_t got = fill(n);
    std::memcpy(out, cursor_, got);
    cursor_ += got;
    consumed_ += got;
    if (got < n) {
        truncated_ = true;
    }
    return got;
}

std::string_view CountedReader::readRaw(std::size_t n) {
    if (static_cast<std::size_t>(limit_ - cursor_) >= n && n <= remaining()) {
        std::string_view view(cursor_, n);
        cursor_ += n;
        consumed_ += n;
        return view;
    }
    // Never allocate more than the input still holds.
    const auto bounded = static_cast<std::size_t>(std::min<std::uint64_t>(n, remaining()));
    const std::size_t got = fill(bounded);
    std::string_view view(cursor_, got);
    cursor_ += got;
    consumed_ += got;
    if (got < n) {
        truncated_ = true;
    }
    return view;
}

std::int32_t CountedReader::readInt32Slow() {
    unsigned char bytes[4] = {0, 0, 0, 0};
    if (readBytes(reinterpret_cast<char*>(bytes), 4) < 4) {
        return 0;
    }
    const std::uint32_t value =
        static_cast<std::uint32_t>(bytes[0]) | (static_cast<std::uint32_t>(bytes[1]) << 8) |
        (static_cast<std::uint32_t>(bytes[2]) << 16) | (static_cast<std::uint32_t>(bytes[3]) << 24);
    return static_cast<std::int32_t>(value);
}

std::string CountedReader::readCountedString(std::int32_t maximum) {
    std::int32_t n = readInt32();
    if (n <= 0) {
        return {};
    }
    if (maximum >= 0 && n > maximum) {
        n = maximum;
    }
    return std::string(readRaw(static_cast<std::size_t>(n)));
}

std::string CountedReader::readText(bool scrambled) {
    std::string bytes = readCountedString();
    if (scrambled) {
        rot13InPlace(bytes);
    }
    if (isValidUtf8(bytes)) {
        return bytes;
    }
    return windows1252ToUtf8(bytes);
}

void CountedReader::readText(CompactString& into, bool scrambled) {
    const std::int32_t n = readInt32();
    if (n <= 0) {
        into = std::string_view();
        return;
    }
    // Decoded straight into the field's own storage in one pass; only a
    // field with bytes beyond ASCII is looked at again.
    const std::string_view raw = readRaw(static_cast<std::size_t>(n));
    char* out = into.overwrite(raw.size());
    const unsigned char seen =
        scrambled ? rot13Copy(out, raw.data(), raw.size()) : plainCopy(out, raw.data(), raw.size());
    if ((seen & 0x80) != 0) {
        const std::string_view text(out, raw.size());
        if (!isValidUtf8(text)) {
            into = windows1252ToUtf8(text);
        }
    }
}

std::int32_t CountedReader::readCount() {
    const std::int32_t n = readInt32();
    return n < 0 ? 0 : n;
}

std::size_t CountedReader::recordsThatFit(std::int32_t count, std::uint32_t minRecordBytes) const {
    const std::uint64_t fit = remaining() / std::max<std::uint32_t>(minRecordBytes, 1);
    return static_cast<std::size_t>(std::min<std::uint64_t>(fit, count < 0 ? 0 : count));
}

// --- CountedWriter

CountedWriter::CountedWriter(std::FILE* file) : file_(file) {
    buffer_.reserve(kBlockSize + 4096);
}

void CountedWriter::writeInt32(std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    const char bytes[4] = {static_cast<char>(u & 0xFF), static_cast<char>((u >> 8) & 0xFF),
                           static_cast<char>((u >> 16) & 0xFF),
                           static_cast<char>((u >> 24) & 0xFF)};
    buffer_.append(bytes, 4);
    flushIfLarge();
}

void CountedWriter::writeCountedString(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        // The format cannot hold it; refuse rather than write a wrong count.
        failed_ = true;
        return;
    }
    writeInt32(static_cast<std::int32_t>(text.size()));
    buffer_.append(text);
    flushIfLarge();
}

void CountedWriter::writeScrambled(std::string_view text) {
    if (text.size() > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        failed_ = true;
        return;
    }
    writeInt32(static_cast<std::int32_t>(text.size()));
    const std::size_t start = buffer_.size();
    buffer_.append(text);
    for (std::size_t i = start; i < buffer_.size(); ++i) {
        buffer_[i] = static_cast<char>(kRot13[static_cast<unsigned char>(buffer_[i])]);
    }
    flushIfLarge();
}

void CountedWriter::flushIfLarge() {
    if (file_ != nullptr && buffer_.size() >= kBlockSize) {
        flush();
    }
}

bool CountedWriter::flush() {
    if (file_ == nullptr || buffer_.empty()) {
        return !failed_;
    }
    if (std::fwrite(buffer_.data(), 1, buffer_.size(), file_) != buffer_.size()) {
        failed_ = true;
    }
    buffer_.clear();
    return !failed_;
}

#include "store/counted_string.h"

#include "store/text_encoding.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

namespace velmora::store {

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

constexpr std::uint64_t kOnes = 0x0101010101010101ull;

// ROT13 of eight bytes at once: letters of either case fold onto 'a'..'z',
// those up to 'm' move 13 on, the rest 13 back; no byte carries into the next.
std::uint64_t rot13Word(std::uint64_t x) {
    const std::uint64_t folded = (x & (0x7F * kOnes)) | (0x20 * kOnes);
    const std::uint64_t atLeastA = folded + (0x80 - 'a') * kOnes;
    const std::uint64_t beyondZ = folded + (0x80 - 'z' - 1) * kOnes;
    const std::uint64_t atLeastN = folded + (0x80 - 'n') * kOnes;
    const std::uint64_t letters = atLeastA & ~beyondZ & ~x & (0x80 * kOnes);
    const std::uint64_t forward = (letters & ~atLeastN) >> 7;
    const std::uint64_t back = (letters & atLeastN) >> 7;
    return x + forward * 13 - back * 13;
}

// Copies `n` bytes from `in` (which may be read up to `readLimit`) to `out`,
// un-scrambling them if asked, a word at a time. Returns the OR of the input
// bytes: its high bits say whether any byte was not ASCII.
std::uint64_t decodeCopy(char* out, const char* in, std::size_t n, const char* readLimit,
                         bool scrambled) {
    std::uint64_t seen = 0;
    std::size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        std::uint64_t word;
        std::memcpy(&word, in + i, 8);
        seen |= word;
        word = scrambled ? rot13Word(word) : word;
        std::memcpy(out + i, &word, 8);
    }
    if (i < n) {
        const std::size_t tail = n - i;
        std::uint64_t word = 0;
        // Reading a whole word past the field is fine inside the buffer.
        std::memcpy(&word, in + i, static_cast<std::size_t>(readLimit - (in + i)) >= 8 ? 8 : tail);
        if constexpr (std::endian::native == std::endian::little) {
            word &= (1ull << (8 * tail)) - 1; // tail is 1..7
        } else {
            word &= ~0ull << (8 * (8 - tail));
        }
        seen |= word;
        word = scrambled ? rot13Word(word) : word;
        std::memcpy(out + i, &word, tail);
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
        into.overwrite(0);
        return;
    }
    // Decoded straight into the field's own storage in one pass; only a
    // field with bytes beyond ASCII is looked at again.
    const std::string_view raw = readRaw(static_cast<std::size_t>(n));
    char* out = into.overwrite(raw.size());
    const std::uint64_t seen = decodeCopy(out, raw.data(), raw.size(), limit_, scrambled);
    if ((seen & (0x80 * kOnes)) != 0) {
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

} // namespace velmora::store

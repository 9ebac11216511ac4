#pragma once

#include <cstddef>
#include <functional>

namespace velmora::delivery {

// Fills the bytes with random values: the Message-IDs and the boundaries.
// Injected, so that tests can fix what a message holds.
using RandomBytes = std::function<void(unsigned char* bytes, std::size_t count)>;
// The system's random source.
void systemRandomBytes(unsigned char* bytes, std::size_t count);

} // namespace velmora::delivery

// Any bytes must read without a crash, a leak or an allocation beyond the
// input, and whatever was read must write and read back the same.
#include "store/session_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    velmora::store::SessionReadResult read = velmora::store::readSessionBytes(bytes);
    if (read.status == velmora::store::SessionReadStatus::HeaderMismatch) {
        return 0;
    }
    const std::string written = encodeSession(read.session);
    velmora::store::SessionReadResult again = velmora::store::readSessionBytes(written);
    if (again.status != velmora::store::SessionReadStatus::Loaded ||
        encodeSession(again.session) != written) {
        std::abort();
    }
    return 0;
}

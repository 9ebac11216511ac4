// Any bytes must read without a crash or an allocation beyond the input; a
// draft that loads must write and read back the same fields.
#include "delivery/message/draft_file.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const velmora::delivery::DraftReadResult read = velmora::delivery::readDraftBytes(bytes);
    if (read.status == velmora::delivery::DraftReadStatus::HeaderMismatch) {
        return 0;
    }
    const std::string written = encodeDraft(read.draft);
    const velmora::delivery::DraftReadResult again = velmora::delivery::readDraftBytes(written);
    if (again.status != velmora::delivery::DraftReadStatus::Loaded || again.draft != read.draft) {
        std::abort();
    }
    if (read.status == velmora::delivery::DraftReadStatus::Loaded &&
        encodeDraft(again.draft) != written) {
        std::abort();
    }
    return 0;
}

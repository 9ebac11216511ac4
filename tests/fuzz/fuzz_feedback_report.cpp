// Any bytes returned to the sender must classify without a crash, and every
// recipient a report names must be an address.
#include "delivery/feedback/feedback_report.h"
#include "delivery/feedback/mail_sources.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const velmora::delivery::FeedbackReport report = velmora::delivery::classifyMessage(bytes);
    for (const velmora::delivery::FeedbackRecipient& recipient : report.recipients) {
        if (recipient.address.find('@') == std::string::npos) {
            std::abort();
        }
        (void)recipient.reason();
    }
    std::size_t total = 0;
    velmora::delivery::forEachMboxMessage(
        bytes, [&total](std::size_t, std::string_view message) { total += message.size(); });
    if (total > bytes.size()) {
        std::abort();
    }
    return 0;
}

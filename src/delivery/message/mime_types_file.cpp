#include "delivery/message/mime_types_file.h"

#include "store/file_reading.h"
#include "store/text.h"

#include <sstream>

namespace velmora::delivery {

MimeTypesFile::MimeTypesFile(const std::string& path) {
    // The system's list is some 60 KiB; a device or FIFO given instead is
    // refused rather than read forever.
    constexpr std::uint64_t kMaxListBytes = 64ull * 1024 * 1024;
    std::string bytes;
    std::string error;
    if (!store::readRegularFile(path, kMaxListBytes, bytes, error)) {
        return;
    }
    loaded_ = true;
    std::istringstream in(bytes);
    std::string line;
    while (std::getline(in, line)) {
        const std::size_t hash = line.find('#');
        if (hash != std::string::npos) {
            line.erase(hash);
        }
        std::istringstream words(line);
        std::string type;
        if (!(words >> type)) {
            continue;
        }
        std::string extension;
        while (words >> extension) {
            // The first line naming an extension wins, as in other readers of this file.
            types_.emplace(store::toLowerAscii(extension), type);
        }
    }
}

std::string MimeTypesFile::contentTypeForExtension(std::string_view extension) const {
    if (!extension.empty()) {
        const auto found = types_.find(store::toLowerAscii(extension));
        if (found != types_.end()) {
            return found->second;
        }
    }
    return std::string(platform::kUnknownContentType);
}

} // namespace velmora::delivery

#include "delivery/mime_types_file.h"

#include <fstream>
#include <sstream>

namespace {

std::string lowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

} // namespace

MimeTypesFile::MimeTypesFile(const std::string& path) {
    std::ifstream in(path);
    if (!in) {
        return;
    }
    loaded_ = true;
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
            types_.emplace(lowerAscii(extension), type);
        }
    }
}

std::string MimeTypesFile::contentTypeForExtension(std::string_view extension) const {
    if (!extension.empty()) {
        const auto found = types_.find(lowerAscii(extension));
        if (found != types_.end()) {
            return found->second;
        }
    }
    return std::string(kUnknownContentType);
}

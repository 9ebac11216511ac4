#include "store/file_names.h"

namespace velmora::store {

std::string_view lastPathPart(std::string_view path) {
    const std::size_t cut = path.find_last_of("/\\");
    return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

std::string fileNamePart(std::string_view path) {
    std::string_view name = lastPathPart(path);
    if (!name.empty() && name.front() == '"') {
        name.remove_prefix(1);
    }
    return std::string(name.substr(0, name.find('"')));
}

std::string directoryOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) {
        return ".";
    }
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string nameOf(const std::string& path) {
    const auto slash = path.find_last_of('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string hashedName(std::string_view name) {
    std::uint64_t hash = 14695981039346656037ull;
    for (const unsigned char c : name) {
        hash = (hash ^ c) * 1099511628211ull;
    }
    static constexpr const char* kDigits = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i) {
        text[static_cast<std::size_t>(i)] = kDigits[hash & 0xF];
        hash >>= 4;
    }
    return text;
}

} // namespace velmora::store

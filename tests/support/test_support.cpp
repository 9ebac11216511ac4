#include "support/test_support.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <stdexcept>

namespace testing_support {

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "velmora-test-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) {
        throw std::runtime_error("cannot create a temporary folder");
    }
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        ADD_FAILURE() << "cannot read " << path;
        return {};
    }
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void writeFileBytes(const std::string& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) {
        ADD_FAILURE() << "cannot write " << path;
    }
}

std::string dataPath(std::string_view name) {
    const char* root = std::getenv("VELMORA_TEST_DATA");
    return std::string(root != nullptr ? root : "tests/data") + "/" + std::string(name);
}

Bytes& Bytes::i32(std::int32_t value) {
    const auto u = static_cast<std::uint32_t>(value);
    for (int shift = 0; shift < 32; shift += 8) {
        bytes_.push_back(static_cast<char>((u >> shift) & 0xFF));
    }
    return *this;
}

Bytes& Bytes::str(std::string_view text) {
    i32(static_cast<std::int32_t>(text.size()));
    bytes_.append(text);
    return *this;
}

Bytes& Bytes::raw(std::string_view bytes) {
    bytes_.append(bytes);
    return *this;
}

PromptAnswer FakePrompter::message(const std::string& title, const std::string& text,
                                   PromptButtons buttons) {
    shown.push_back({title, text, buttons});
    if (buttons == PromptButtons::Ok) {
        return PromptAnswer::Ok;
    }
    if (answers.empty()) {
        ADD_FAILURE() << "unexpected question: " << text;
        return PromptAnswer::Cancel;
    }
    const PromptAnswer answer = answers.front();
    answers.erase(answers.begin());
    return answer;
}

std::optional<std::string> FakePrompter::openFileName(const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& initialPath) {
    fileRequests.push_back({title, filter, initialPath});
    if (files.empty()) {
        return std::nullopt;
    }
    auto file = files.front();
    files.erase(files.begin());
    return file;
}

std::optional<std::string> FakePrompter::saveFileName(const std::string& title,
                                                      const std::string& filter,
                                                      const std::string& initialPath) {
    return openFileName(title, filter, initialPath);
}

std::function<void(unsigned char*, std::size_t)> countingRandomBytes() {
    auto next = std::make_shared<unsigned char>(0);
    return [next](unsigned char* bytes, std::size_t count) {
        for (std::size_t i = 0; i < count; ++i) {
            bytes[i] = (*next)++;
        }
    };
}

} // namespace testing_support

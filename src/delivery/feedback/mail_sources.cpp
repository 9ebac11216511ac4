#include "delivery/feedback/mail_sources.h"

#include "store/file_reading.h"

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace velmora::delivery {

namespace {

namespace fs = std::filesystem;

// Larger files are not mail a server returned.
constexpr std::uintmax_t kLargestFile = std::uintmax_t{1} << 31;

bool readWholeFile(const fs::path& path, std::string& bytes, std::string& error) {
    std::error_code code;
    const std::uintmax_t size = fs::file_size(path, code);
    if (code) {
        error = code.message();
        return false;
    }
    if (size > kLargestFile) {
        error = "too large";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = store::systemErrorText(errno);
        return false;
    }
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return true;
}

std::vector<fs::path> sortedFiles(const fs::path& folder) {
    std::vector<fs::path> files;
    std::error_code code;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder, code)) {
        const std::string name = entry.path().filename().string();
        if (!name.empty() && name.front() != '.' && entry.is_regular_file(code)) {
            files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

} // namespace

bool looksLikeMbox(std::string_view bytes) {
    return bytes.starts_with("From ");
}

void forEachMboxMessage(
    std::string_view mbox,
    const std::function<void(std::size_t index, std::string_view bytes)>& visit) {
    std::size_t index = 0;
    std::size_t pos = 0;
    std::string message;
    bool open = false;
    const auto finish = [&] {
        if (open) {
            // The blank line before the next "From " belongs to the format.
            if (message.ends_with("\n\n")) {
                message.pop_back();
            }
            visit(++index, message);
        }
        message.clear();
    };
    while (pos < mbox.size()) {
        std::size_t end = mbox.find('\n', pos);
        end = end == std::string_view::npos ? mbox.size() : end + 1;
        const std::string_view line = mbox.substr(pos, end - pos);
        pos = end;
        if (line.starts_with("From ")) {
            finish();
            open = true;
            continue;
        }
        if (!open) {
            continue;
        }
        std::size_t quotes = 0;
        while (quotes < line.size() && line[quotes] == '>') {
            ++quotes;
        }
        if (quotes > 0 && line.substr(quotes).starts_with("From ")) {
            message.append(line.substr(1));
        } else {
            message.append(line);
        }
    }
    finish();
}

MailSourceResult forEachMessage(const std::vector<std::string>& paths, const MailVisitor& visit) {
    MailSourceResult result;
    const auto failed = [&result](const std::string& path, const std::string& reason) {
        if (result.ok) {
            result.ok = false;
            result.error = "Cannot read \"" + path + "\" - " + reason;
        }
    };
    const auto visitFile = [&](const fs::path& file, const std::string& label) {
        std::string bytes;
        std::string error;
        if (!readWholeFile(file, bytes, error)) {
            failed(file.string(), error);
            return;
        }
        if (looksLikeMbox(bytes)) {
            forEachMboxMessage(bytes, [&](std::size_t index, std::string_view message) {
                visit(label + ":" + std::to_string(index), message);
            });
        } else {
            visit(label, bytes);
        }
    };
    for (const std::string& path : paths) {
        std::error_code code;
        const fs::file_status status = fs::status(path, code);
        if (code) {
            failed(path, code.message());
            continue;
        }
        if (fs::is_regular_file(status)) {
            visitFile(path, path);
            continue;
        }
        if (!fs::is_directory(status)) {
            failed(path, "not a file or folder");
            continue;
        }
        const fs::path folder(path);
        if (fs::is_directory(folder / "cur", code) || fs::is_directory(folder / "new", code)) {
            for (const char* sub : {"cur", "new"}) {
                for (const fs::path& file : sortedFiles(folder / sub)) {
                    visitFile(file, file.string());
                }
            }
        } else {
            for (const fs::path& file : sortedFiles(folder)) {
                visitFile(file, file.string());
            }
        }
    }
    return result;
}

} // namespace velmora::delivery

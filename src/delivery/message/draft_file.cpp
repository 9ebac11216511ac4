#include "delivery/message/draft_file.h"

#include "store/atomic_file.h"
#include "store/counted_string.h"
#include "store/file_reading.h"
#include "store/text.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <sys/stat.h>

namespace velmora::delivery {

DraftReadResult readDraftBytes(std::string_view bytes) {
    DraftReadResult result;
    // The magic with exactly its own count: a longer first string that only
    // starts with it would have the following fields read from the wrong place.
    store::CountedWriter magic;
    magic.writeCountedString(kDraftMagic);
    if (bytes.substr(0, magic.bytes().size()) != magic.bytes()) {
        result.status = DraftReadStatus::HeaderMismatch;
        return result;
    }
    store::CountedReader in(bytes.substr(magic.bytes().size()));
    MessageDraft& draft = result.draft;
    draft.fromText = in.readText();
    draft.subject = in.readText();
    draft.attachment1 = in.readText();
    draft.attachment2 = in.readText();
    draft.body = in.readText();
    result.status =
        in.truncated() || !in.atEnd() ? DraftReadStatus::Damaged : DraftReadStatus::Loaded;
    return result;
}

DraftReadResult readDraftFile(const std::string& path) {
    DraftReadResult result;
    std::string bytes;
    // A draft's five texts fit well inside this; a bigger "draft" is not one.
    constexpr std::uint64_t kMaxDraftBytes = 1024ull * 1024 * 1024;
    if (!store::readRegularFile(path, kMaxDraftBytes, bytes, result.reason)) {
        return result;
    }
    return readDraftBytes(bytes);
}

std::string encodeDraft(const MessageDraft& draft) {
    store::CountedWriter out;
    out.writeCountedString(kDraftMagic);
    out.writeCountedString(draft.fromText);
    out.writeCountedString(draft.subject);
    out.writeCountedString(draft.attachment1);
    out.writeCountedString(draft.attachment2);
    out.writeCountedString(draft.body);
    return out.bytes();
}

bool writeDraftFile(const MessageDraft& draft, const std::string& path, std::string& error) {
    return store::writeFileAtomically(path, encodeDraft(draft), error);
}

std::string withDraftExtension(const std::string& path) {
    const std::string tail =
        store::toLowerAscii(path.size() >= 4 ? std::string_view(path).substr(path.size() - 4) : "");
    return tail == kDraftExtension ? path : path + kDraftExtension;
}

std::string cannotOpenDraftText(const std::string& path, const std::string& reason) {
    return "Cannot open email draft \"" + path + "\" - " + reason;
}

std::string notADraftText(const std::string& path) {
    return "\"" + path + "\" is not an email draft file.";
}

std::string damagedDraftText(const std::string& path) {
    return "Email draft \"" + path + "\" is damaged: only part of it could be read.";
}

std::string cannotSaveDraftText(const std::string& path, const std::string& reason) {
    return "Cannot save email draft \"" + path + "\" - " + reason;
}

std::string draftSavedText(const std::string& path) {
    return "Email draft successfully saved to \"" + path + "\"";
}

float attachmentSizeKb(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) {
        return 0.0f;
    }
    return static_cast<float>(static_cast<double>(info.st_size) / 1024.0);
}

} // namespace velmora::delivery

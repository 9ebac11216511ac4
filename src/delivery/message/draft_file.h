#pragma once

#include "delivery/message/message_draft.h"

#include <string>
#include <string_view>

namespace velmora::delivery {

inline constexpr std::string_view kDraftMagic = "EMLX101";
inline constexpr const char* kDraftExtension = ".eml";
inline constexpr const char* kDraftFilter = "Email Draft (*.eml)|*.eml|All files (*.*)|*.*";
inline constexpr const char* kSaveDraftTitle = "Save email draft to file...";
inline constexpr const char* kOpenDraftTitle = "Open Email Draft...";

enum class DraftReadStatus {
    Loaded,         // six counted strings and nothing more
    CannotOpen,     // the file could not be opened or read
    HeaderMismatch, // not an email draft
    Damaged,        // a draft that ends early or has bytes after its body; what was read is kept
};

struct DraftReadResult {
    DraftReadStatus status = DraftReadStatus::CannotOpen;
    std::string reason; // the system's words when the file could not be read
    // fromText, subject, attachment1, attachment2 and body as stored; the
    // other fields keep their defaults.
    MessageDraft draft;
};

// Reads a draft file; the caller's draft is untouched, whatever the file holds.
DraftReadResult readDraftFile(const std::string& path);
DraftReadResult readDraftBytes(std::string_view bytes);

// The six counted strings of a draft: magic, From, Subject, the two
// attachment paths and the body.
std::string encodeDraft(const MessageDraft& draft);
// Saves atomically; on failure `error` holds the reason and an existing
// file at `path` is left whole.
bool writeDraftFile(const MessageDraft& draft, const std::string& path, std::string& error);

// The path with ".eml" appended unless it already ends so (in any case).
std::string withDraftExtension(const std::string& path);
// The texts of the draft file's messages, shared by the GUI and the CLI.
std::string cannotOpenDraftText(const std::string& path, const std::string& reason);
std::string notADraftText(const std::string& path);
std::string damagedDraftText(const std::string& path);
std::string cannotSaveDraftText(const std::string& path, const std::string& reason);
// "Email draft successfully saved to \"path\""
std::string draftSavedText(const std::string& path);
// A file's size in bytes divided by 1024, for the attachment label; 0 when
// the file cannot be read.
float attachmentSizeKb(const std::string& path);

} // namespace velmora::delivery

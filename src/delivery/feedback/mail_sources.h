#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

// Where returned mail is read from on disk: single message files, Maildir
// folders (cur/ and new/), plain folders of message files, and mbox files.
namespace velmora::delivery {

// One message and where it came from ("box.mbox:3" for the third of an mbox).
using MailVisitor = std::function<void(const std::string& source, std::string_view bytes)>;

struct MailSourceResult {
    bool ok = true;
    std::string error; // the first path that could not be read, with the system's reason
};

// Visits every message under `paths`, in order (folders sorted by name).
// Goes on past a path it cannot read and reports the first one.
MailSourceResult forEachMessage(const std::vector<std::string>& paths, const MailVisitor& visit);

// Splits an mbox into its messages, undoing the ">From " quoting.
void forEachMboxMessage(
    std::string_view mbox,
    const std::function<void(std::size_t index, std::string_view bytes)>& visit);
// Whether a file's bytes are an mbox rather than one message.
bool looksLikeMbox(std::string_view bytes);

} // namespace velmora::delivery

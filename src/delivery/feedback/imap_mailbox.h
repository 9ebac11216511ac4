#pragma once

#include "delivery/feedback/imap_text.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

// The feedback mailbox over IMAP, through libcurl: the few commands a fetch
// needs (search, read without marking, move or mark), each one a libcurl
// transfer over the one connection the handle keeps open.
namespace velmora::delivery {

enum class MailSecurity { Tls, StartTls, None };
// "tls", "starttls", "none"; anything else is TLS.
MailSecurity mailSecurityNamed(const std::string& name);
// 993 for TLS from the start, 143 otherwise.
int defaultImapPort(MailSecurity security);

struct ImapAccount {
    std::string server;
    int port = 0; // 0: the usual port of `security`
    MailSecurity security = MailSecurity::Tls;
    std::string login;
    std::string password;
    std::string bearer; // an OAuth2 access token: signs in with it instead of the password
    std::string caFile; // the trust store, as for the token endpoints
    std::string caPath;
    long timeoutSeconds = 30;
    // Asked now and then during a transfer; true stops it.
    std::function<bool()> cancelled;
};

enum class MailboxProblem {
    None,
    Unreachable,  // no connection (name, refused, timed out)
    Tls,          // the TLS handshake or the certificate failed
    LoginRefused, // the server refused the login
    NoFolder,     // the folder cannot be opened
    Refused,      // the server answered NO or BAD to a command
    Unreadable,   // a message did not arrive whole; the connection was renewed
    Lost,         // the connection broke off
    Cancelled,
};

struct MailboxResult {
    MailboxProblem problem = MailboxProblem::None;
    std::string reason; // in the user's words, server texts made printable
    bool ok() const { return problem == MailboxProblem::None; }
};

class ImapMailbox {
public:
    explicit ImapMailbox(ImapAccount account);
    ~ImapMailbox();
    ImapMailbox(const ImapMailbox&) = delete;
    ImapMailbox& operator=(const ImapMailbox&) = delete;

    // Connects, signs in and opens `folder` (folder names are in UTF-8).
    MailboxResult open(const std::string& folder);
    // UID SEARCH with `criteria` ("UNSEEN UNDELETED") in the open folder.
    MailboxResult search(const std::string& criteria, std::vector<std::uint64_t>& uids);
    // The whole message, read with BODY.PEEK so that it stays unread.
    MailboxResult fetch(std::uint64_t uid, std::string& bytes);
    // UID MOVE where the server has it, else COPY, \Deleted and EXPUNGE of
    // those messages only. A missing target folder is created once.
    MailboxResult moveTo(const std::vector<std::uint64_t>& uids, const std::string& folder);
    MailboxResult markSeen(const std::vector<std::uint64_t>& uids);

    const std::set<std::string>& capabilities() const { return capabilities_; }

private:
    MailboxResult command(const std::string& request, bool inFolder);
    MailboxResult problemOf(int code, const std::string& request, bool inFolder) const;
    void renewConnection();
    std::string baseUrl() const;

    ImapAccount account_;
    std::unique_ptr<void, void (*)(void*)> curl_;
    std::string folder_;
    std::string lines_; // every line the server sent during the last command
    std::string errorText_;
    std::set<std::string> capabilities_;
    bool signedIn_ = false;
};

} // namespace velmora::delivery

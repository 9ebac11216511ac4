#include "store/session_file.h"

#include "store/atomic_file.h"
#include "store/counted_string.h"
#include "store/extension_settings.h"
#include "store/file_reading.h"

#include <cerrno>
#include <cstring>
#include <sys/stat.h>

namespace velmora::store {

namespace {

bool isRelayPassword(std::string_view key) {
    const auto relay = relayKeyName(key);
    return relay && relay->field == "password";
}

// The fewest bytes a record can take: its int32s and string counts.
constexpr std::uint32_t kMinContactBytes = 14 * 4;

void readContactRecord(CountedReader& in, Contact& c, TextArena& text) {
    c.id = in.readInt32();
    in.readText(c.email, text, true);
    in.readText(c.name, text, true);
    in.readText(c.address, text, true);
    in.readText(c.telephone, text, true);
    in.readText(c.company, text, true);
    in.readText(c.lastContacted, text);
    in.readText(c.dateAdded, text);
    c.timesContacted = in.readInt32();
    in.readText(c.notes, text, true);
    c.groupIndex = in.readInt32();
    c.status = in.readInt32();
    c.previousStatus = in.readInt32();
    c.tag = in.readInt32();
}

void writeContactRecord(CountedWriter& out, const Contact& c) {
    out.writeInt32(c.id);
    out.writeScrambled(c.email);
    out.writeScrambled(c.name);
    out.writeScrambled(c.address);
    out.writeScrambled(c.telephone);
    out.writeScrambled(c.company);
    out.writeCountedString(c.lastContacted);
    out.writeCountedString(c.dateAdded);
    out.writeInt32(c.timesContacted);
    out.writeScrambled(c.notes);
    out.writeInt32(c.groupIndex);
    out.writeInt32(c.status);
    out.writeInt32(c.previousStatus);
    out.writeInt32(c.tag);
}

// The optional block after the Mailtray records. Bytes that do not start
// with its magic are ignored, as readers before the block did.
void readExtensionBlock(CountedReader& in, Session& session) {
    if (in.readCountedString(static_cast<std::int32_t>(kExtensionMagic.size()) + 1) !=
        kExtensionMagic) {
        return;
    }
    const std::int32_t count = in.readCount();
    SessionSettings settings = session.settings();
    for (std::int32_t i = 0; i < count; ++i) {
        if (in.atEnd()) {
            in.readInt32(); // marks the reader truncated: pairs were promised
            break;
        }
        std::string key = in.readText();
        std::string value = in.readText(isRelayPassword(key));
        if (in.truncated()) {
            break;
        }
        settings.extensions.set(key, std::move(value));
    }
    session.setSettings(std::move(settings));
}

// Reads everything after the magic. Records are read while the input lasts:
// a record cut off by the end is kept with what it holds.
void readSessionBody(CountedReader& in, Session& session) {
    SessionSettings s;
    s.editorFormat = in.readInt32();
    s.deliveryMethod = in.readInt32();
    s.clientPath = in.readText();
    s.clientParameters = in.readText();
    s.smtpServer = in.readText();
    s.smtpPort = in.readInt32();
    s.timeoutSeconds = in.readInt32();
    s.requiresAuth = in.readInt32();
    s.userName = in.readText(true);
    s.password = in.readText(true);
    s.fromAddress = in.readText(true);
    s.replyTo = in.readText(true);
    s.signature = in.readText();
    s.includeSignature = in.readInt32();
    session.setSettings(std::move(s));

    const std::int32_t groupCount = in.readCount();
    const std::int32_t contactCount = in.readCount();
    const std::int32_t mailtrayCount = in.readCount();

    for (std::int32_t i = 0; i < groupCount && !in.atEnd(); ++i) {
        CampaignGroup group;
        group.id = in.readInt32();
        group.name = in.readText();
        group.description = in.readText();
        session.appendGroup(std::move(group));
    }
    session.reserveContacts(in.recordsThatFit(contactCount, kMinContactBytes));
    const auto readRecord = [&](Contact& c, TextArena& text) { readContactRecord(in, c, text); };
    // True for each of `total` records, and false as soon as the input ends.
    const auto upTo = [&in](std::int32_t total) {
        return [&in, total, read = std::int32_t{0}]() mutable {
            if (read == total || in.atEnd()) {
                return false;
            }
            ++read;
            return true;
        };
    };
    session.appendContactRecords(upTo(contactCount), readRecord);
    session.appendMailtrayRecords(upTo(mailtrayCount), readRecord);
    if (!in.atEnd() && session.mailtrayCount() == mailtrayCount) {
        readExtensionBlock(in, session);
    }
    if (in.atEnd() && (session.groupCount() < groupCount || session.contactCount() < contactCount ||
                       session.mailtrayCount() < mailtrayCount)) {
        in.readInt32(); // marks the reader truncated: records were promised
    }
}

SessionReadResult readFrom(CountedReader& in) {
    SessionReadResult result;
    if (in.readCountedString(static_cast<std::int32_t>(kSessionMagic.size()) + 1) !=
        kSessionMagic) {
        result.status =
            in.failed() ? SessionReadStatus::CannotOpen : SessionReadStatus::HeaderMismatch;
        return result;
    }
    readSessionBody(in, result.session);
    if (in.failed()) {
        result.status = SessionReadStatus::CannotOpen;
    } else {
        result.status = in.truncated() ? SessionReadStatus::Damaged : SessionReadStatus::Loaded;
    }
    result.session.markSaved();
    return result;
}

} // namespace

SessionReadResult readSessionBytes(std::string_view bytes) {
    CountedReader in(bytes);
    return readFrom(in);
}

SessionReadResult readSessionFile(const std::string& path) {
    ReadableFile file;
    if (!file.open(path, PipePolicy::ReadAnonymous)) {
        SessionReadResult result;
        result.reason = file.error();
        return result;
    }
    SessionReadResult result;
    if (file.isPipe()) {
        // A pipe tells no size: read it whole, then parse the bytes.
        std::string bytes;
        if (!file.readAll(bytes, kMaxPipedSessionBytes)) {
            result.reason = file.error();
            return result;
        }
        result = readSessionBytes(bytes);
    } else {
        std::FILE* stream = file.stream();
        if (stream == nullptr) {
            result.reason = systemErrorText(errno);
            return result;
        }
        CountedReader in(stream, static_cast<std::uint64_t>(file.stamp().size));
        result = readFrom(in);
        if (in.failed()) {
            result.reason = systemErrorText(EIO);
        }
    }
    result.stamp = file.stamp();
    if (result.status == SessionReadStatus::Loaded) {
        result.session.sessionFileName = path;
    }
    return result;
}

namespace {

void writeSession(CountedWriter& out, const Session& session) {
    const SessionSettings& s = session.settings();
    out.writeCountedString(kSessionMagic);
    out.writeInt32(s.editorFormat);
    out.writeInt32(s.deliveryMethod);
    out.writeCountedString(s.clientPath);
    out.writeCountedString(s.clientParameters);
    out.writeCountedString(s.smtpServer);
    out.writeInt32(s.smtpPort);
    out.writeInt32(s.timeoutSeconds);
    out.writeInt32(s.requiresAuth);
    out.writeScrambled(s.userName);
    // A password kept in the desktop keyring never reaches the file.
    out.writeScrambled(fileHoldsPassword(s) ? s.password : std::string());
    out.writeScrambled(s.fromAddress);
    out.writeScrambled(s.replyTo);
    out.writeCountedString(s.signature);
    out.writeInt32(s.includeSignature);
    out.writeInt32(session.groupCount());
    out.writeInt32(session.contactCount());
    out.writeInt32(session.mailtrayCount());
    for (std::int32_t slot = 1; slot <= session.groupCount(); ++slot) {
        const CampaignGroup& g = session.group(slot);
        out.writeInt32(g.id);
        out.writeCountedString(g.name);
        out.writeCountedString(g.description);
    }
    for (const Contact& c : session.contacts()) {
        writeContactRecord(out, c);
    }
    for (const Contact& c : session.mailtray()) {
        writeContactRecord(out, c);
    }
    // Left out while every setting holds its default, so such files stay
    // byte for byte what older builds write.
    const auto& entries = s.extensions.entries();
    if (!entries.empty()) {
        out.writeCountedString(kExtensionMagic);
        out.writeInt32(static_cast<std::int32_t>(entries.size()));
        for (const auto& [key, value] : entries) {
            out.writeCountedString(key);
            if (const auto relay = relayKeyName(key); relay && isRelayPassword(key)) {
                // Scrambled like the main password, and left out when the keyring has it.
                const bool inKeyring =
                    s.extensions.boolean(relayKey(relay->relay, "passwordInKeyring"));
                out.writeScrambled(inKeyring ? std::string_view() : std::string_view(value));
            } else {
                out.writeCountedString(value);
            }
        }
    }
}

} // namespace

std::string encodeSession(const Session& session) {
    CountedWriter out;
    writeSession(out, session);
    return out.bytes();
}

bool fileHoldsPassword(const SessionSettings& settings) {
    return !settings.password.empty() && !settings.extensions.boolean("passwordInKeyring");
}

bool writeSessionFile(const Session& session, const std::string& path, std::string& error,
                      FileStamp* written, bool* madePrivate) {
    AtomicFile file(path);
    if (fileHoldsPassword(session.settings())) {
        file.keepPrivate();
    }
    if (!file.open()) {
        error = file.error();
        return false;
    }
    CountedWriter out(file.stream());
    writeSession(out, session);
    if (!out.flush()) {
        error = systemErrorText(errno);
        return false;
    }
    if (!file.commit()) {
        error = file.error();
        return false;
    }
    if (written != nullptr) {
        *written = fileStampOf(file.target()).value_or(FileStamp{});
    }
    if (madePrivate != nullptr) {
        *madePrivate = file.madePrivate();
    }
    return true;
}

} // namespace velmora::store

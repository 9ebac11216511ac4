#include "contacts/contact_adding.h"

#include "store/file_reading.h"
#include "store/text.h"
#include "store/untrusted_text.h"

namespace velmora::contacts {

std::int32_t readStatusChoice(bool prospects, bool customers, bool doNotContact) {
    std::int32_t status = code(store::ContactStatus::Subscribers);
    if (prospects) {
        status = code(store::ContactStatus::Prospects);
    }
    if (customers) {
        status = code(store::ContactStatus::Customers);
    }
    if (doNotContact) {
        status = code(store::ContactStatus::DoNotContact);
    }
    return status;
}

std::int32_t addSingleContact(store::Session& session, const ContactForm& form,
                              std::string_view today) {
    const std::string_view email = store::trimSpaces(form.email);
    if (email.empty() || store::hasControlCharacter(email) || session.emailExists(email)) {
        return 0;
    }
    store::NewContact fields;
    fields.email = email;
    fields.name = store::trimSpaces(form.name);
    fields.address = store::trimSpaces(form.address);
    fields.telephone = store::trimSpaces(form.telephone);
    fields.company = store::trimSpaces(form.company);
    fields.notes = store::trimSpaces(form.notes);
    fields.groupIndex = form.groupIndex;
    fields.status = form.status;
    return session.createContact(fields, today);
}

AddListResult addEmailList(store::Session& session, std::string_view text, std::int32_t groupIndex,
                           std::int32_t status, std::string_view today) {
    // Blanks go (inner ones too) and commas become line feeds; then each
    // pair of line feeds becomes one in a single left-to-right pass, so a
    // run of three leaves two.
    std::string separated;
    separated.reserve(text.size());
    for (const char c : text) {
        if (c != ' ') {
            separated.push_back(c == ',' ? '\n' : c);
        }
    }
    std::string cleaned;
    cleaned.reserve(separated.size());
    for (std::size_t i = 0; i < separated.size(); ++i) {
        cleaned.push_back(separated[i]);
        if (separated[i] == '\n' && i + 1 < separated.size() && separated[i + 1] == '\n') {
            ++i;
        }
    }

    AddListResult result;
    store::NewContact fields;
    fields.groupIndex = groupIndex;
    fields.status = status;
    std::size_t start = 0;
    while (start <= cleaned.size()) {
        std::size_t end = cleaned.find('\n', start);
        if (end == std::string::npos) {
            end = cleaned.size();
        }
        const std::string_view address =
            store::trimSpaces(std::string_view(cleaned).substr(start, end - start));
        if (!address.empty()) {
            if (store::hasControlCharacter(address)) {
                result.refused.emplace_back(address);
            } else if (session.emailExists(address)) {
                ++result.skipped;
            } else {
                fields.email = address;
                session.createContact(fields, today);
                ++result.added;
            }
        }
        start = end + 1;
    }
    return result;
}

std::string addListResultText(const AddListResult& result) {
    std::string text = "Added " + std::to_string(result.added) + ", skipped " +
                       std::to_string(result.skipped) + ".\n";
    for (const std::string& address : result.refused) {
        text += store::controlCharacterAddressText(address) + " It was not added.\n";
    }
    return text;
}

std::string importedAddressText(std::string_view bytes) {
    std::string text;
    text.reserve(bytes.size() + 1);
    std::size_t i = 0;
    while (i < bytes.size()) {
        std::size_t end = i;
        while (end < bytes.size() && bytes[end] != '\r' && bytes[end] != '\n') {
            ++end;
        }
        text.append(store::trimSpaces(bytes.substr(i, end - i)));
        text.push_back('\n');
        if (end < bytes.size() && bytes[end] == '\r' && end + 1 < bytes.size() &&
            bytes[end + 1] == '\n') {
            ++end;
        }
        i = end + 1;
    }
    return text;
}

std::string importFailedText(const std::string& path) {
    return "Cannot read \"" + path + "\".";
}

std::string importFailedText(const std::string& path, const std::string& reason) {
    return "Cannot read \"" + path + "\" - " + reason;
}

bool readAddressListFile(const std::string& path, std::string& bytes, std::string& error) {
    if (!store::readRegularFile(path, kMaxAddressListBytes, bytes, error)) {
        return false;
    }
    std::size_t lineStart = 0;
    for (std::size_t i = 0; i <= bytes.size(); ++i) {
        if (i == bytes.size() || bytes[i] == '\n' || bytes[i] == '\r') {
            if (i - lineStart > kMaxAddressListLine) {
                bytes.clear();
                bytes.shrink_to_fit();
                error = "has a line longer than 1 MiB";
                return false;
            }
            lineStart = i + 1;
        }
    }
    return true;
}

std::string pastedAddressText(std::string_view clipboardText) {
    return std::string(store::trimSpaces(clipboardText));
}

} // namespace velmora::contacts

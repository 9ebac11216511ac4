#include "cli/session_json.h"

namespace velmora::cli {

using nlohmann::json;

namespace {

// A contact's fields in key order (nlohmann's sorted order), for the
// document and the streamed form alike.
template <class Visit>
void visitContactFields(std::int32_t slot, const store::Contact& c, Visit&& visit) {
    visit("address", c.address.view());
    visit("company", c.company.view());
    visit("dateAdded", c.dateAdded.view());
    visit("email", c.email.view());
    visit("groupIndex", c.groupIndex);
    visit("id", c.id);
    visit("lastContacted", c.lastContacted.view());
    visit("name", c.name.view());
    visit("notes", c.notes.view());
    visit("previousStatus", c.previousStatus);
    visit("slot", slot);
    visit("status", c.status);
    visit("tag", c.tag);
    visit("telephone", c.telephone.view());
    visit("timesContacted", c.timesContacted);
}

} // namespace

json contactToJson(std::int32_t slot, const store::Contact& c) {
    json document = json::object();
    visitContactFields(slot, c,
                       [&document](const char* key, const auto& value) { document[key] = value; });
    return document;
}

json settingsToJson(const store::SessionSettings& s, bool withPassword) {
    const std::string password = (withPassword || s.password.empty()) ? s.password : "********";
    return json{{"editorFormat", s.editorFormat},
                {"deliveryMethod", s.deliveryMethod},
                {"clientPath", s.clientPath},
                {"clientParameters", s.clientParameters},
                {"smtpServer", s.smtpServer},
                {"smtpPort", s.smtpPort},
                {"timeoutSeconds", s.timeoutSeconds},
                {"requiresAuth", s.requiresAuth},
                {"userName", s.userName},
                {"password", password},
                {"fromAddress", s.fromAddress},
                {"replyTo", s.replyTo},
                {"signature", s.signature},
                {"includeSignature", s.includeSignature}};
}

json sessionToJson(const store::Session& session, bool withPassword) {
    json groups = json::array();
    for (std::int32_t slot = 1; slot <= session.groupCount(); ++slot) {
        const store::CampaignGroup& g = session.group(slot);
        groups.push_back(
            {{"slot", slot}, {"id", g.id}, {"name", g.name}, {"description", g.description}});
    }
    json contacts = json::array();
    for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
        contacts.push_back(contactToJson(slot, session.contact(slot)));
    }
    json mailtray = json::array();
    for (std::int32_t slot = 1; slot <= session.mailtrayCount(); ++slot) {
        mailtray.push_back(contactToJson(slot, session.mailtrayEntry(slot)));
    }
    return json{{"settings", settingsToJson(session.settings(), withPassword)},
                {"groups", std::move(groups)},
                {"contacts", std::move(contacts)},
                {"mailtray", std::move(mailtray)}};
}

void writeContactJson(JsonStreamWriter& out, std::int32_t slot, const store::Contact& c) {
    out.beginObject();
    visitContactFields(slot, c, [&out](const char* key, const auto& value) {
        out.key(key);
        out.value(value);
    });
    out.endObject();
}

void writeSessionJson(JsonStreamWriter& out, const store::Session& session, bool withPassword) {
    out.beginObject();
    out.key("contacts");
    out.beginArray();
    for (std::int32_t slot = 1; slot <= session.contactCount(); ++slot) {
        writeContactJson(out, slot, session.contact(slot));
    }
    out.endArray();
    out.key("groups");
    out.beginArray();
    for (std::int32_t slot = 1; slot <= session.groupCount(); ++slot) {
        const store::CampaignGroup& g = session.group(slot);
        out.beginObject();
        out.key("description");
        out.value(g.description);
        out.key("id");
        out.value(g.id);
        out.key("name");
        out.value(g.name);
        out.key("slot");
        out.value(slot);
        out.endObject();
    }
    out.endArray();
    out.key("mailtray");
    out.beginArray();
    for (std::int32_t slot = 1; slot <= session.mailtrayCount(); ++slot) {
        writeContactJson(out, slot, session.mailtrayEntry(slot));
    }
    out.endArray();
    out.key("settings");
    out.value(settingsToJson(session.settings(), withPassword));
    out.endObject();
}

} // namespace velmora::cli

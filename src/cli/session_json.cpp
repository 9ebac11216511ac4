#include "cli/session_json.h"

namespace velmora::cli {

using nlohmann::json;

json contactToJson(std::int32_t slot, const store::Contact& c) {
    return json{{"slot", slot},
                {"id", c.id},
                {"email", c.email.view()},
                {"name", c.name.view()},
                {"address", c.address.view()},
                {"telephone", c.telephone.view()},
                {"company", c.company.view()},
                {"lastContacted", c.lastContacted.view()},
                {"dateAdded", c.dateAdded.view()},
                {"timesContacted", c.timesContacted},
                {"notes", c.notes.view()},
                {"groupIndex", c.groupIndex},
                {"status", c.status},
                {"previousStatus", c.previousStatus},
                {"tag", c.tag}};
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
    // In nlohmann's (sorted) key order.
    out.beginObject();
    out.key("address");
    out.value(c.address.view());
    out.key("company");
    out.value(c.company.view());
    out.key("dateAdded");
    out.value(c.dateAdded.view());
    out.key("email");
    out.value(c.email.view());
    out.key("groupIndex");
    out.value(c.groupIndex);
    out.key("id");
    out.value(c.id);
    out.key("lastContacted");
    out.value(c.lastContacted.view());
    out.key("name");
    out.value(c.name.view());
    out.key("notes");
    out.value(c.notes.view());
    out.key("previousStatus");
    out.value(c.previousStatus);
    out.key("slot");
    out.value(slot);
    out.key("status");
    out.value(c.status);
    out.key("tag");
    out.value(c.tag);
    out.key("telephone");
    out.value(c.telephone.view());
    out.key("timesContacted");
    out.value(c.timesContacted);
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

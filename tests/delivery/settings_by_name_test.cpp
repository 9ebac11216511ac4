#include "delivery/settings_by_name.h"
#include "store/extension_settings.h"

#include <gtest/gtest.h>

namespace velmora::delivery {

namespace {

// A value each kind of setting takes, unlike its default.
std::string acceptedValue(std::string_view name) {
    if (const store::ExtensionKey* key = store::findExtensionKey(name)) {
        switch (key->kind) {
        case store::ExtensionKind::Choice:
            return std::string(key->choices.back() == key->defaultValue ? key->choices.front()
                                                                        : key->choices.back());
        case store::ExtensionKind::Integer:
            return std::to_string(key->maximum);
        case store::ExtensionKind::Boolean:
            return key->defaultValue == "1" ? "0" : "1";
        case store::ExtensionKind::Text:
            for (std::string value :
                 {std::string("host.example"), std::string("https://example.org/u"),
                  std::string(64, 'a'), std::string("bounces@example.org")}) {
                if (!store::validateExtensionValue(*key, value)) {
                    return value;
                }
            }
            return {};
        }
    }
    if (name == "editorFormat") {
        return "plain";
    }
    if (name == "deliveryMethod") {
        return "custom-client";
    }
    if (name == "smtpPort" || name == "timeoutSeconds") {
        return "587";
    }
    if (name == "requiresAuth" || name == "includeSignature") {
        return "1";
    }
    return "some text";
}

} // namespace

// Every listed name can be set, and setting it changes the settings (and
// only through that name: setting it twice is the same as once).
TEST(SettingsByName, EveryListedNameTakesAValueOfItsKind) {
    const std::vector<std::string> names = settingNames();
    ASSERT_FALSE(names.empty());
    for (const std::string& name : names) {
        SCOPED_TRACE(name);
        store::SessionSettings settings;
        const std::optional<SettingRefusal> refusal =
            setSettingByName(settings, name, acceptedValue(name));
        ASSERT_FALSE(refusal) << refusal->message;
        EXPECT_NE(settings, store::SessionSettings{});
        store::SessionSettings again = settings;
        ASSERT_FALSE(setSettingByName(again, name, acceptedValue(name)));
        EXPECT_EQ(again, settings);
    }
}

// Each field lands in its own place in the record, under its record name.
TEST(SettingsByName, FixedFieldsLandInTheirFields) {
    store::SessionSettings s;
    const std::pair<const char*, const char*> assignments[] = {
        {"editorFormat", "plain"},
        {"deliveryMethod", "custom-client"},
        {"clientPath", "/usr/bin/client"},
        {"clientParameters", "-to %mailtray%"},
        {"smtpServer", "mail.example.net"},
        {"smtpPort", "587"},
        {"timeoutSeconds", "30"},
        {"requiresAuth", "1"},
        {"userName", "ann.lee"},
        {"password", "s3cret"},
        {"fromAddress", "ann@example.org"},
        {"replyTo", "sales@example.org"},
        {"signature", "Ann\nSales"},
        {"includeSignature", "1"},
    };
    for (const auto& [name, value] : assignments) {
        ASSERT_FALSE(setSettingByName(s, name, value)) << name;
    }
    EXPECT_EQ(s.editorFormat, 0);
    EXPECT_EQ(s.deliveryMethod, 3);
    EXPECT_EQ(s.clientPath, "/usr/bin/client");
    EXPECT_EQ(s.clientParameters, "-to %mailtray%");
    EXPECT_EQ(s.smtpServer, "mail.example.net");
    EXPECT_EQ(s.smtpPort, 587);
    EXPECT_EQ(s.timeoutSeconds, 30);
    EXPECT_EQ(s.requiresAuth, 1);
    EXPECT_EQ(s.userName, "ann.lee");
    EXPECT_EQ(s.password, "s3cret");
    EXPECT_EQ(s.fromAddress, "ann@example.org");
    EXPECT_EQ(s.replyTo, "sales@example.org");
    EXPECT_EQ(s.signature, "Ann\nSales");
    EXPECT_EQ(s.includeSignature, 1);
    EXPECT_TRUE(s.extensions.empty());
}

// A refused value names what is allowed and changes nothing.
TEST(SettingsByName, RefusalsNameWhatIsAllowedAndChangeNothing) {
    struct Case {
        const char* name;
        std::string value;
        const char* message; // part of the refusal
    };
    const Case cases[] = {
        {"smtpAuthMechanism", "cram-md5", "allowed: auto|plain|login|xoauth2|oauthbearer."},
        {"deliveryMethod", "outlook", "allowed: none|smtp|default-client|custom-client."},
        {"deliveryMethod", "4", "allowed: none|smtp"},
        {"editorFormat", "rtf", "allowed: plain|html."},
        {"requiresAuth", "yes", "allowed: 0|1."},
        {"smtpPort", "70000", "allowed: a whole number from 0 to 65535."},
        {"smtpPort", "25x", "a whole number"},
        {"timeoutSeconds", "-1", "a whole number from 0 to 86400"},
        {"tlsPinSha256", "abc", "64 hexadecimal digits"},
        {"heloName", "my host", "a host name (letters, digits"},
        {"heloName", "[10.0.0.1", "an address literal such as [192.0.2.1]"},
        {"heloName", "[evil]", "a host name"},
        {"bounceAddress", "bounces", "an address such as bounces@example.org"},
        {"bounceAddress", "<b@example.org>", "an address such as"},
        {"bounceAddress", "b @example.org", "an address such as"},
        {"bounceAddress", "b@x@example.org", "an address such as"},
        {"smtpServer", "a\nb", "a single line of text"},
        {"signature", std::string("a\0b", 3), "text without NUL characters"},
        {"smtpHost", "x", "Unknown setting \"smtpHost\"; the settings are: editorFormat,"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.name) + "=" + c.value);
        store::SessionSettings settings;
        settings.smtpServer = "kept.example";
        const store::SessionSettings before = settings;
        const std::optional<SettingRefusal> refusal = setSettingByName(settings, c.name, c.value);
        ASSERT_TRUE(refusal);
        EXPECT_NE(refusal->message.find(c.message), std::string::npos) << refusal->message;
        EXPECT_EQ(settings, before);
    }
}

} // namespace velmora::delivery

#include "delivery/delivery_settings.h"

#include <gtest/gtest.h>

namespace velmora::delivery {

TEST(DeliverySettings, IntegerTextsReadTheLeadingNumber) {
    EXPECT_EQ(parseIntegerText(" 25abc"), 25);
    EXPECT_EQ(parseIntegerText("\t-7"), -7);
    EXPECT_EQ(parseIntegerText("+587"), 587);
    EXPECT_EQ(parseIntegerText("abc"), 0);
    EXPECT_EQ(parseIntegerText(""), 0);
    EXPECT_EQ(parseIntegerText("99999999999"), 2147483647);
    EXPECT_EQ(parseIntegerText("-99999999999"), -2147483647 - 1);
}

TEST(DeliverySettings, ControlsFollowTheMethodAndTheLoginBox) {
    EXPECT_EQ(deliveryControlStates(1, false), (DeliveryControlStates{false, true, false}));
    EXPECT_EQ(deliveryControlStates(1, true), (DeliveryControlStates{false, true, true}));
    EXPECT_EQ(deliveryControlStates(3, true), (DeliveryControlStates{true, false, false}));
    EXPECT_EQ(deliveryControlStates(0, true), (DeliveryControlStates{false, false, false}));
    EXPECT_EQ(deliveryControlStates(2, false), (DeliveryControlStates{false, false, false}));
}

TEST(DeliverySettings, ApplyCopiesEveryControlAsItStands) {
    store::SessionSettings original;
    original.smtpPort = 587;
    original.password = "pw";
    DeliverySettingsForm form = deliverySettingsForm(original);
    EXPECT_EQ(form.portText, "587");
    EXPECT_EQ(applyDeliverySettings(form), original); // unchanged round trip

    form.html = false;
    form.methodPosition = 3;
    form.smtpServer = "   ";
    form.portText = " 25 and more";
    form.timeoutText = "x";
    form.requiresAuth = true;
    form.signature = " Regards \n";
    const store::SessionSettings applied = applyDeliverySettings(form);
    EXPECT_EQ(applied.editorFormat, 0);
    EXPECT_EQ(applied.deliveryMethod, 3);
    EXPECT_EQ(applied.smtpServer, "   ");
    EXPECT_EQ(applied.smtpPort, 25);
    EXPECT_EQ(applied.timeoutSeconds, 0);
    EXPECT_EQ(applied.requiresAuth, 1);
    EXPECT_EQ(applied.signature, " Regards \n");
}

TEST(DeliverySettings, ApplyKeepsTheExtensionSettingsAndSetsSecurityAndLoginMethod) {
    store::SessionSettings original;
    original.extensions.set("smtpSecurity", "tls");
    original.extensions.set("tlsPinSha256", std::string(64, 'a'));
    original.extensions.set("futureKey", "kept");
    DeliverySettingsForm form = deliverySettingsForm(original);
    EXPECT_EQ(form.securityPosition, 2);
    EXPECT_EQ(form.loginMethodPosition, 0);
    EXPECT_EQ(applyDeliverySettings(form), original); // the dialog's Apply loses nothing

    form.securityPosition = 3;
    form.loginMethodPosition = 2;
    const store::SessionSettings applied = applyDeliverySettings(form);
    EXPECT_EQ(applied.extensions.value("smtpSecurity"), "none");
    EXPECT_EQ(applied.extensions.value("smtpAuthMechanism"), "login");
    EXPECT_EQ(applied.extensions.value("futureKey"), "kept");
    EXPECT_EQ(applied.extensions.value("tlsPinSha256"), std::string(64, 'a'));
}

TEST(DeliverySettings, SecuritySuggestsItsPortOnlyOverAnotherSuggestion) {
    const struct {
        std::int32_t security;
        const char* before;
        const char* after;
    } cases[] = {
        {2, "25", "465"}, {2, "587", "465"}, {0, "465", "587"},   {1, " 25 ", "587"},
        {3, "587", "25"}, {2, "", "465"},    {2, "2525", "2525"}, {3, "465x", "465x"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(portTextForSecurity(c.security, c.before), c.after) << c.before;
    }
}

} // namespace velmora::delivery

// The desktop keyring adapter against what this machine offers. CTest runs
// it three ways: without a session bus, on a private bus without a Secret
// Service, and on the environment's bus (where a real keyring may answer).
#include "platform/qt_keychain_password_store.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <string>

namespace velmora::delivery {

namespace {

std::string expectation() {
    const char* value = std::getenv("VELMORA_KEYRING_EXPECT");
    return value == nullptr ? "" : value;
}

} // namespace

TEST(QtKeychainPasswordStore, SaysWhyNoKeyringCanBeUsed) {
    const std::string expected = expectation();
    if (expected.empty()) {
        GTEST_SKIP() << "runs only with VELMORA_KEYRING_EXPECT set by CTest";
    }
    platform::QtKeychainPasswordStore store(QStringLiteral("velmora-mailtray-test"));
    const auto reason = store.unavailableReason();
    ASSERT_TRUE(reason.has_value());
    EXPECT_NE(reason->find(expected), std::string::npos) << *reason;
}

TEST(QtKeychainPasswordStore, KeepsReadsAndRemovesAPasswordInARealKeyring) {
    if (!expectation().empty()) {
        GTEST_SKIP() << "no keyring on purpose in this run";
    }
    platform::QtKeychainPasswordStore store(QStringLiteral("velmora-mailtray-test"));
    if (const auto reason = store.unavailableReason()) {
        GTEST_SKIP() << "No Secret Service to test against (" << *reason
                     << "); start GNOME Keyring on the session bus to run this test.";
    }
    const std::string account = "smtp://test@127.0.0.1:2525";
    const auto written = store.write(account, "pässwörd 1");
    if (written) {
        GTEST_SKIP() << "The Secret Service refused to store (" << *written
                     << "); a locked keyring cannot be tested unattended.";
    }
    const auto read = store.read(account);
    ASSERT_TRUE(read.password.has_value()) << read.error;
    EXPECT_EQ(*read.password, "pässwörd 1");
    EXPECT_FALSE(store.remove(account));
    EXPECT_FALSE(store.read(account).password.has_value());
}

} // namespace velmora::delivery

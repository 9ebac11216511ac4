// The desktop keyring adapter against a real D-Bus. CTest runs each test on
// the bus it needs: none at all, a private bus without a Secret Service, and
// private buses with a keyring daemon with and without a login keyring
// (with_private_keyring.sh). Run by hand, they use the environment's bus.
#include "delivery/keyring_password.h"
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

const QString kTestService = QStringLiteral("velmora-mailtray-test");

store::SessionSettings loginFor(const std::string& password) {
    store::SessionSettings settings;
    settings.smtpServer = "127.0.0.1";
    settings.smtpPort = 2525;
    settings.userName = "test";
    settings.password = password;
    return settings;
}

} // namespace

TEST(QtKeychainPasswordStore, SaysWhyNoKeyringCanBeUsed) {
    const std::string expected = expectation();
    if (expected.empty()) {
        GTEST_SKIP() << "runs only with VELMORA_KEYRING_EXPECT set by CTest";
    }
    platform::QtKeychainPasswordStore store(kTestService);
    const auto reason = store.unavailableReason();
    ASSERT_TRUE(reason.has_value());
    EXPECT_NE(reason->find(expected), std::string::npos) << *reason;
}

TEST(QtKeychainPasswordStore, KeepsReadsAndRemovesAPasswordInARealKeyring) {
    platform::QtKeychainPasswordStore store(kTestService);
    ASSERT_FALSE(store.unavailableReason()) << *store.unavailableReason();
    const std::string account = "smtp://test@127.0.0.1:2525";
    const auto written = store.write(account, "pässwörd 1");
    ASSERT_FALSE(written) << *written;
    const auto read = store.read(account);
    ASSERT_TRUE(read.password.has_value()) << read.error;
    EXPECT_EQ(*read.password, "pässwörd 1");
    EXPECT_FALSE(store.remove(account));
    EXPECT_FALSE(store.read(account).password.has_value());
}

TEST(QtKeychainPasswordStore, SaysInWordsThatTheLoginKeyringIsMissing) {
    platform::QtKeychainPasswordStore store(kTestService);
    ASSERT_FALSE(store.unavailableReason()) << *store.unavailableReason();
    const store::SessionSettings before = loginFor("s3cret");
    store::SessionSettings settings = before;
    EXPECT_EQ(applyKeyringChoice(settings, true, before, store), kNoLoginKeyringText);
    EXPECT_FALSE(keepsPasswordInKeyring(settings));
    EXPECT_EQ(settings.password, "s3cret");
}

} // namespace velmora::delivery

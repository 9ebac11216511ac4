#include "platform/qt_keychain_password_store.h"

#include "platform/qt_text.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QEventLoop>
#include <qt6keychain/keychain.h>

using namespace Qt::StringLiterals;

namespace velmora::platform {

namespace {

const QString kSecretService = u"org.freedesktop.secrets"_s;

void ensureApplication() {
    if (QCoreApplication::instance() == nullptr) {
        static int argc = 1;
        static char name[] = "mailtray";
        static char* argv[] = {name, nullptr};
        // Lives until the process ends, as an application object does.
        static QCoreApplication* const application = new QCoreApplication(argc, argv);
        (void)application;
    }
}

// Runs a job to its end; its error text, or nothing.
std::optional<std::string> runJob(QKeychain::Job& job) {
    job.setAutoDelete(false);
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    if (job.error() == QKeychain::NoError) {
        return std::nullopt;
    }
    return job.errorString().toStdString();
}

} // namespace

std::optional<std::string> secretServiceUnavailableReason() {
    ensureApplication();
    QDBusConnection bus = QDBusConnection::sessionBus();
    if (!bus.isConnected()) {
        return std::string("No desktop keyring can be reached: there is no D-Bus session bus.");
    }
    QDBusConnectionInterface* names = bus.interface();
    if (names == nullptr) {
        return std::string("No desktop keyring can be reached on the D-Bus session bus.");
    }
    if (names->isServiceRegistered(kSecretService).value()) {
        return std::nullopt;
    }
    const QStringList startable = names->activatableServiceNames().value();
    if (startable.contains(kSecretService)) {
        return std::nullopt;
    }
    return std::string("No desktop keyring is running: no Secret Service (such as GNOME Keyring) "
                       "is available on the D-Bus session bus.");
}

QtKeychainPasswordStore::QtKeychainPasswordStore(QString service) : service_(std::move(service)) {}

std::optional<std::string> QtKeychainPasswordStore::unavailableReason() {
    return secretServiceUnavailableReason();
}

store::PasswordStore::ReadResult QtKeychainPasswordStore::read(const std::string& account) {
    ensureApplication();
    QKeychain::ReadPasswordJob job(service_);
    job.setInsecureFallback(false);
    job.setKey(toQString(account));
    if (auto error = runJob(job)) {
        if (job.error() == QKeychain::EntryNotFound) {
            return {std::nullopt, "the keyring holds no password for " + account + "."};
        }
        return {std::nullopt, *error};
    }
    return {job.textData().toStdString(), {}};
}

std::optional<std::string> QtKeychainPasswordStore::write(const std::string& account,
                                                          const std::string& password) {
    ensureApplication();
    QKeychain::WritePasswordJob job(service_);
    job.setInsecureFallback(false);
    job.setKey(toQString(account));
    job.setTextData(toQString(password));
    return runJob(job);
}

std::optional<std::string> QtKeychainPasswordStore::remove(const std::string& account) {
    ensureApplication();
    QKeychain::DeletePasswordJob job(service_);
    job.setInsecureFallback(false);
    job.setKey(toQString(account));
    if (auto error = runJob(job); error && job.error() != QKeychain::EntryNotFound) {
        return error;
    }
    return std::nullopt;
}

} // namespace velmora::platform

#include "cli/cli_context.h"

#ifdef VELMORA_HAS_KEYRING
#include "platform/qt_keychain_password_store.h"
#endif

#include <iostream>

int main(int argc, char** argv) {
    velmora::store::SystemClock clock;
#ifdef VELMORA_HAS_KEYRING
    velmora::platform::QtKeychainPasswordStore keyring;
    return velmora::cli::runMailtray(argc, argv, std::cout, std::cerr, clock, &keyring);
#else
    return velmora::cli::runMailtray(argc, argv, std::cout, std::cerr, clock);
#endif
}

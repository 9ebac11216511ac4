#include "cli/cli_context.h"

#ifdef VELMORA_HAS_KEYRING
#include "platform/qt_keychain_password_store.h"
#endif

#include <iostream>

int main(int argc, char** argv) {
    SystemClock clock;
#ifdef VELMORA_HAS_KEYRING
    QtKeychainPasswordStore keyring;
    return runMailtray(argc, argv, std::cout, std::cerr, clock, &keyring);
#else
    return runMailtray(argc, argv, std::cout, std::cerr, clock);
#endif
}

// Compiled into every test binary: gives each test the environment it needs
// whether it runs under ctest, by hand or from a debugger. Values already set
// by the caller win.
#include <cstdlib>
#include <unistd.h>

namespace {

struct TestEnvironment {
    TestEnvironment() {
        ::setenv("VELMORA_TEST_DATA", VELMORA_TEST_DATA_DIR, 0);
        ::setenv("VELMORA_PYTHON3", VELMORA_PYTHON3_PATH, 0);
        ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
        if (::geteuid() == 0) {
            // The web engine refuses to run as root with its sandbox on.
            ::setenv("QTWEBENGINE_DISABLE_SANDBOX", "1", 0);
        }
    }
};

const TestEnvironment environment;

} // namespace

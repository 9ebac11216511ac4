// Per-recipient return addresses: what a token names, and a list run whose
// bounces find their contact by the address they came back to.
#include "../python_helpers.h"
#include "cli/cli_test_support.h"
#include "delivery/message/draft_file.h"
#include "delivery/return_path.h"
#include "store/session_file.h"
#include "store/text.h"
#include "support/test_support.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <regex>

namespace velmora::delivery {
namespace {

using testing_support::readFileBytes;
using testing_support::runCli;
using testing_support::TempDir;
using testing_support::writeFileBytes;

std::string upper(std::string text) {
    for (char& c : text) {
        c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
    }
    return text;
}

TEST(ReturnPath, ATokenNamesItsRecipientInItsRunAndCannotBeMadeWithoutTheKey) {
    const ReturnPath path{"bounces@example.org", std::string(64, 'a'), "run-1"};
    const std::string sent = envelopeSender(path, "ann@example.org", "Bea@Example.net");
    const std::string token = returnTokenIn(sent);
    ASSERT_EQ(token.size(), kReturnTokenLength) << sent;
    EXPECT_EQ(sent, "bounces+" + token + "@example.org");
    std::string changed = sent;
    changed[8] = changed[8] == 'a' ? 'b' : 'a';
    struct Case {
        const char* name;
        std::string returnedTo;
        bool names; // the token is the one the run's journal holds for bea
    };
    const Case cases[] = {
        {"as sent", sent, true},
        {"lower-cased by a relay", store::toLowerAscii(sent), true},
        {"upper-cased by a relay", upper(sent), true},
        {"the address as typed elsewhere",
         envelopeSender(path, "ann@example.org", " bea@example.NET"), true},
        {"another recipient's", envelopeSender(path, "ann@example.org", "cy@example.net"), false},
        {"another run's",
         envelopeSender({path.bounceAddress, path.key, "run-2"}, "", "bea@example.net"), false},
        {"made with another key",
         envelopeSender({path.bounceAddress, std::string(64, 'b'), "run-1"}, "", "bea@example.net"),
         false},
        {"one character changed", changed, false},
        {"no token", "bounces@example.org", false},
        {"too short", "bounces+abc@example.org", false},
    };
    const std::string journalToken = returnToken(path.key, path.runId, "bea@example.net");
    for (const Case& c : cases) {
        EXPECT_EQ(returnTokenIn(c.returnedTo) == journalToken, c.names) << c.name;
    }
    // Without an address, a key or a run, the plain sender.
    for (const ReturnPath& off :
         {ReturnPath{"", path.key, "run-1"}, ReturnPath{path.bounceAddress, "", "run-1"},
          ReturnPath{path.bounceAddress, path.key, ""}}) {
        EXPECT_EQ(envelopeSender(off, "ann@example.org", "bea@example.net"), "ann@example.org");
    }
}

} // namespace
} // namespace velmora::delivery
